// Lights and the transforms of the 3-D draw state.
#include "d3d/lights_transforms.h"

#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/graphics_math.h"
#include "graphics/lights.h"

namespace gamelib {
namespace {

using Matrix = float[4][4];

void CopyIn(Matrix& to, const D3DMATRIX& from) { std::memcpy(to, &from, sizeof(Matrix)); }
static_assert(sizeof(D3DMATRIX) == sizeof(Matrix));

// Draws the batch, then sends one transform state to the device of `device`.
int SendTransform(int device, D3DTRANSFORMSTATETYPE type, const D3DMATRIX* matrix) {
  if (!Direct3DAvailable()) return -1;
  D3DDeviceRecord* r = GetDeviceRecord(device);
  if (r == nullptr) return -1;
  FlushVertexBuffer(device);
  if (r->device == nullptr || matrix == nullptr) return -1;
  D3DMATRIX copy = *matrix;
  r->device->SetTransform(type, &copy);
  return 0;
}

}  // namespace

int AddLight() {
  HandleTable* table = GetLightTable();
  const int slot = FindFreeHandleSlot(table);
  // A full table refuses before anything is allocated.
  if (slot < 0) return -1;
  auto* record = static_cast<LightRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(LightRecord)));
  if (record == nullptr) ExitWithError("ライト用のメモリの確保に失敗しました");
  D3DLIGHT7& light = record->light;
  light.dcvDiffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.dcvSpecular = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
  light.dcvAmbient = D3DCOLORVALUE{0.33f, 0.33f, 0.33f, 0.33f};
  record->deviceLightIndex = -1;
  const int handle = AddHandleRecord(table, slot, record);
  if (handle < 0) {
    FreeMemory(record);
    return -1;
  }
  record->handle = handle;
  if (record->enabled != 1) record->enabled = 1;
  return handle;
}

int CreateDirectionalLight(float x, float y, float z) {
  const int handle = AddLight();
  LightRecord* record = GetLightRecord(handle);
  if (record == nullptr) return -1;
  record->light.dltType = D3DLIGHT_DIRECTIONAL;
  const Vector3 v{x, y, z};
  // A zero vector divides by zero: the components become non-finite, as IEEE says.
  const float inverse = 1.0f / SqrtFloat(DotProduct3(v, v));
  record->light.dvDirection = D3DVECTOR{x * inverse, y * inverse, z * inverse};
  return handle;
}

int DeleteAllLights() {
  HandleTable* table = GetLightTable();
  // Deleting lowers the high-water index, so it is read again every time.
  for (int slot = 0; slot < table->highWater; ++slot) {
    auto* record = static_cast<LightRecord*>(table->records[slot]);
    if (record != nullptr) DeleteLight(record->handle);
  }
  return 0;
}

void UpdateCombinedMatrices() {
  DrawState& s = GetDrawState();
  Matrix temp;
  MultiplyMatrix(temp, s.viewMatrix, s.projectionMatrix);
  MultiplyMatrix(s.combinedMatrix, s.worldMatrix, temp);
  MultiplyMatrix(s.combinedMatrix, s.combinedMatrix, s.viewportMatrix);
  Matrix& t = s.viewRotationTransposeMatrix;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) t[r][c] = r < 3 && c < 3 ? s.viewMatrix[c][r] : 0.0f;
  }
}

int NotifyTransformChanged() { return 0; }

int SetWorldMatrix(const D3DMATRIX* matrix, int index) {
  if (matrix == nullptr) return -1;
  CopyIn(GetDrawState().worldMatrix, *matrix);
  UpdateCombinedMatrices();
  if (GetDrawState().use3DDrawingAvailable) SetCurrentDeviceWorldTransform(matrix, index);
  NotifyTransformChanged();
  return 0;
}

int SetViewMatrix(const D3DMATRIX* matrix) {
  if (matrix == nullptr) return -1;
  CopyIn(GetDrawState().viewMatrix, *matrix);
  UpdateCombinedMatrices();
  if (GetDrawState().use3DDrawingAvailable) SetCurrentDeviceViewTransform(matrix);
  NotifyTransformChanged();
  return 0;
}

int SetProjectionMatrix(const D3DMATRIX* matrix) {
  if (matrix == nullptr) return -1;
  CopyIn(GetDrawState().projectionMatrix, *matrix);
  UpdateCombinedMatrices();
  if (GetDrawState().use3DDrawingAvailable) SetCurrentDeviceProjectionTransform(matrix);
  NotifyTransformChanged();
  return 0;
}

int SetWorldTransformOnDevice(int device, const D3DMATRIX* matrix, int index) {
  static constexpr D3DTRANSFORMSTATETYPE kWorld[4] = {D3DTRANSFORMSTATE_WORLD, D3DTRANSFORMSTATE_WORLD1,
                                                      D3DTRANSFORMSTATE_WORLD2, D3DTRANSFORMSTATE_WORLD3};
  if (!Direct3DAvailable() || GetDeviceRecord(device) == nullptr) return -1;
  if (index < 0 || index > 3) {
    FlushVertexBuffer(device);
    return 0;
  }
  return SendTransform(device, kWorld[index], matrix);
}

int SetCurrentDeviceWorldTransform(const D3DMATRIX* matrix, int index) {
  return SetWorldTransformOnDevice(GetDirect3DState().currentDevice, matrix, index);
}

int SetCurrentDeviceViewTransform(const D3DMATRIX* matrix) {
  return SendTransform(GetDirect3DState().currentDevice, D3DTRANSFORMSTATE_VIEW, matrix);
}

int SetCurrentDeviceProjectionTransform(const D3DMATRIX* matrix) {
  return SendTransform(GetDirect3DState().currentDevice, D3DTRANSFORMSTATE_PROJECTION, matrix);
}

}  // namespace gamelib
