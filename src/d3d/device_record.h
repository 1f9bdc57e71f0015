// Device records: the device, a copy of every state sent to it, the vertex batch, and
// the setters that talk to the device only when a value changes. The drawing code:
//   - runs BeginSceneDevice, the draw-state recorders (SetDeviceTexture, SetDeviceBlendMode,
//     SetDeviceUseDiffuseColor/Alpha, SetDeviceColorKeyEnable ...), ApplyDrawSettings when
//     DrawSettingsDirty or TextureChanged is set,
//   - makes room with MakeBatchRoom, writes vertices at writePointer and calls
//     AdvanceBatch,
//   - ends the scene after the call while the front surface is the target.
// Everything else (the graphics core's blits, locks, flips) closes the scene through
// FlushCurrentDeviceVertices and EndCurrentScene.
#pragma once

#include <cstdint>

#include "platform/d3d.h"
#include "graphics/graph_records.h"

namespace gamelib {

constexpr int kDeviceRecordCount = 4;
constexpr int kStageCount = 8;

// Pre-transformed vertices of the three batch types.
struct D3DVertex0 {  // 0x44
  float x, y, z, rhw;
  D3DCOLOR diffuse;
};
struct D3DVertex1 {  // 0x144
  float x, y, z, rhw;
  D3DCOLOR diffuse;
  float u, v;
};
struct D3DVertex2 {  // 0x2C4: set 0 addresses the blend graph, set 1 the image
  float x, y, z, rhw;
  D3DCOLOR diffuse, specular;
  float u1, v1, u2, v2;
};
static_assert(sizeof(D3DVertex0) == 20 && sizeof(D3DVertex1) == 28 && sizeof(D3DVertex2) == 40);

constexpr int kVertexType0Capacity = 3225;
constexpr int kVertexType1Capacity = 2340;
constexpr int kVertexType2Capacity = 1638;
constexpr DWORD kVertexTypeFvf[3] = {0x44, 0x144, 0x2C4};
constexpr int kVertexTypeSize[3] = {20, 28, 40};
constexpr int kVertexTypeCapacity[3] = {kVertexType0Capacity, kVertexType1Capacity, kVertexType2Capacity};

// The draw-setting render states, in the order of their copies.
enum DrawRenderState {
  kDrawStateAlphaTestEnable,
  kDrawStateAlphaRef,
  kDrawStateAlphaFunc,
  kDrawStateAlphaBlendEnable,
  kDrawStateDiffuseMaterialSource,
  kDrawStateSpecularMaterialSource,
  kDrawStateSpecularEnable,
  kDrawStateTextureFactor,
  kDrawStateSrcBlend,
  kDrawStateDestBlend,
  kDrawRenderStateCount
};
constexpr D3DRENDERSTATETYPE kDrawRenderStateType[kDrawRenderStateCount] = {
    D3DRENDERSTATE_ALPHATESTENABLE,
    D3DRENDERSTATE_ALPHAREF,
    D3DRENDERSTATE_ALPHAFUNC,
    D3DRENDERSTATE_ALPHABLENDENABLE,
    D3DRENDERSTATE_DIFFUSEMATERIALSOURCE,
    D3DRENDERSTATE_SPECULARMATERIALSOURCE,
    D3DRENDERSTATE_SPECULARENABLE,
    D3DRENDERSTATE_TEXTUREFACTOR,
    D3DRENDERSTATE_SRCBLEND,
    D3DRENDERSTATE_DESTBLEND};

// Copies of one texture stage; -1 in a programme means "leave unchanged".
struct StageCopy {
  IDirectDrawSurface7* texture;
  std::int16_t alphaArg1, alphaArg2, alphaOp, colorArg1, colorArg2, colorOp;
};

struct Surface3DDataRecord;

struct D3DDeviceRecord {
  std::uint32_t inUse;
  IDirect3DDevice7* device;  // null after ReleaseDirect3DDevice
  IDirectDrawSurface7* ownSurface;
  IDirectDrawSurface7* renderTarget;  // null until first set
  IDirectDrawSurface7* texture;
  IDirectDrawSurface7* blendGraph;
  Surface3DDataRecord* lastPiece;
  int lastFlags;
  int useDiffuseColor;
  int useDiffuseAlpha;
  int blendMode;
  int borderParameter;
  int borderRange;
  int alphaChannel;
  int alphaTest;
  int drawSettingsDirty;
  int textureChanged;
  int drawNothing;
  int forceApply;
  std::uint32_t drawRenderStates[kDrawRenderStateCount];
  int stageCount;
  StageCopy stages[kStageCount];
  int inScene;
  int filterMode;
  int filterIndex[3][kStageCount];  // magnification, minification, mip
  int zEnable;
  int zWrite;
  int zFunction;
  int zBias;
  int shadeMode;
  int cull;
  int addressMode;
  int fog;
  int perspective;
  int lighting;
  int colorKey;
  std::uint8_t* writePointer;
  int vertexCount;
  int vertexType;
  D3DPRIMITIVETYPE primitiveType;
  D3DVIEWPORT7 viewport;
  std::uint8_t* bufferStart[3];
  D3DVertex0 vertices0[kVertexType0Capacity];
  D3DVertex1 vertices1[kVertexType1Capacity];
  D3DVertex2 vertices2[kVertexType2Capacity];
};

// The record of a valid index (0..3) that is in use, else null.
D3DDeviceRecord* GetDeviceRecord(int device);
// The record whatever its state, for start-up (null outside 0..3).
D3DDeviceRecord* DeviceRecordSlot(int device);
// The current device's record when it is in use, else null.
D3DDeviceRecord* CurrentDeviceRecord();

// Creation defaults of the copies and the batch buffers (z 0, rhw 1, specular white).
void ResetDeviceRecord(D3DDeviceRecord& record, IDirectDrawSurface7* ownSurface);

// ---- Setters: send only a changed value (or any while ForceApply is set) ------------
int SetDeviceTexturePerspective(int device, int value);
int SetDeviceColorKeyEnable(int device, int value);
int SetDeviceZEnable(int device, int value);
int SetDeviceZWriteEnable(int device, int value);
int SetDeviceZFunc(int device, int value);
int SetDeviceZBias(int device, int value);
int SetDeviceCullMode(int device, int value);
int SetDeviceShadeMode(int device, int value);
int SetDeviceFogEnable(int device, int value);
int SetDeviceRenderTarget(IDirectDrawSurface7* surface, int device);
int SetDeviceViewport(const D3DVIEWPORT7* viewport, int device);
int SetDeviceTextureFilter(int device, int mode);
// For ApplyDrawSettings: a draw-setting render state, one of the six stage operations
// and arguments (-1: leave it), and a stage's texture, each through its copy.
int SetDeviceDrawRenderState(int device, DrawRenderState which, std::uint32_t value);
int SetDeviceStageState(int device, int stage, D3DTEXTURESTAGESTATETYPE type, int value);
int SetDeviceStageTexture(int device, int stage, IDirectDrawSurface7* texture);
// The device values of the filter tables (indices 0..5).
DWORD MagFilterValue(int index);
DWORD MinFilterValue(int index);
DWORD MipFilterValue(int index);

// ---- Draw-setting recorders: flush, store, mark the settings dirty ----------------------
int SetDeviceBlendMode(int device, int blendMode, int alphaChannel, int alphaTest);
int SetDeviceTexture(int device, IDirectDrawSurface7* texture);
int SetDeviceBlendGraph(int device, IDirectDrawSurface7* texture, int borderParameter, int borderRange);
int SetDeviceUseDiffuseAlpha(int device, int flag);
int SetDeviceUseDiffuseColor(int device, int flag);

// ---- Scenes and the batch -----------------------------------------------------------
int BeginSceneDevice(int device);
int EndSceneDevice(int device);
int FlushVertexBuffer(int device);
void EndCurrentScene();
void FlushCurrentDeviceVertices();
// Points the batch at the buffer of `type` (0..2), empty.
void SelectVertexType(D3DDeviceRecord& record, int type);
// Before appending `count` vertices of a list: draws the batch when it is of another
// primitive type or would reach its capacity, then makes the batch a list. A batch
// drawn here honours draw-nothing and a closed window, as a flush does.
void MakeBatchRoom(D3DDeviceRecord& record, int count);
// The same where the batch may be filled to its capacity (count + n > capacity draws).
void MakeBatchRoomUpTo(D3DDeviceRecord& record, int count);
// After writing `count` vertices at the write pointer.
void AdvanceBatch(D3DDeviceRecord& record, int count);
void* GetDeviceValid();

// ---- Whole-record operations --------------------------------------------------------
int ApplyFixedDeviceStates(int device);
int ReapplyDeviceStates(int device);
int RestoreDirect3DDevice(int device);
int CopyDeviceDrawSettings(int from, int to);

// ---- Called by the graphics core -----------------------------------------------------
int SetTextureFilterMode(int mode);
int SetBlendGraphD3D(GraphRecord* graph, int borderParameter, int borderRange);
int SetViewportRect(const RECT* rect);
int SetDeviceDrawScreen(int screen);

}  // namespace gamelib
