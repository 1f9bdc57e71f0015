// Scenes and the vertex batch of a device record.
#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

// Draws what the batch holds, unless draw-nothing or a closed window says to throw it
// away; the batch is empty afterwards either way.
void DrawBatch(D3DDeviceRecord& r) {
  if (r.vertexCount > 0 && GetWindowClosedFlag() == 0 && r.drawNothing == 0 && r.device != nullptr) {
    r.device->DrawPrimitive(r.primitiveType, kVertexTypeFvf[r.vertexType], r.bufferStart[r.vertexType],
                            static_cast<DWORD>(r.vertexCount), 0);
  }
  r.vertexCount = 0;
  r.writePointer = r.bufferStart[r.vertexType];
}

D3DDeviceRecord* Usable(int device) { return Direct3DAvailable() ? GetDeviceRecord(device) : nullptr; }

}  // namespace

int BeginSceneDevice(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr || r->device == nullptr) return -1;
  if (!r->inScene) {
    r->device->BeginScene();
    r->inScene = 1;
    r->lastPiece = nullptr;
    r->lastFlags = 0;
  }
  return 0;
}

int EndSceneDevice(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (r->inScene) {
    DrawBatch(*r);
    if (r->device != nullptr) r->device->EndScene();
    r->inScene = 0;
  }
  return 0;
}

int FlushVertexBuffer(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  DrawBatch(*r);
  return 0;
}

void EndCurrentScene() {
  if (Direct3DAvailable()) EndSceneDevice(GetDirect3DState().currentDevice);
}

void FlushCurrentDeviceVertices() {
  if (Direct3DAvailable()) FlushVertexBuffer(GetDirect3DState().currentDevice);
}

void SelectVertexType(D3DDeviceRecord& record, int type) {
  if (type < 0 || type > 2) return;
  DrawBatch(record);
  record.vertexType = type;
  record.writePointer = record.bufferStart[type];
  record.vertexCount = 0;
}

void MakeBatchRoom(D3DDeviceRecord& record, int count) {
  if (record.vertexCount > 0 && (record.primitiveType != D3DPT_TRIANGLELIST ||
                                 record.vertexCount + count >= kVertexTypeCapacity[record.vertexType])) {
    DrawBatch(record);
  }
  record.primitiveType = D3DPT_TRIANGLELIST;
}

void MakeBatchRoomUpTo(D3DDeviceRecord& record, int count) {
  if (record.vertexCount > 0 && (record.primitiveType != D3DPT_TRIANGLELIST ||
                                 record.vertexCount + count > kVertexTypeCapacity[record.vertexType])) {
    DrawBatch(record);
  }
  record.primitiveType = D3DPT_TRIANGLELIST;
}

void AdvanceBatch(D3DDeviceRecord& record, int count) {
  record.writePointer += static_cast<std::ptrdiff_t>(count) * kVertexTypeSize[record.vertexType];
  record.vertexCount += count;
}

void* GetDeviceValid() {
  D3DDeviceRecord* r = Direct3DAvailable() ? CurrentDeviceRecord() : nullptr;
  return r != nullptr ? r->device : nullptr;
}

}  // namespace gamelib
