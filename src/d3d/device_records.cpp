// The four device records and the operations on whole records: creation defaults,
// re-sending every state, re-creating a lost device, and the draw screen, viewport,
// filter and blend graph as the graphics core sets them.
#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/draw_settings.h"
#include "d3d/texture_pieces.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

D3DDeviceRecord g_devices[kDeviceRecordCount];

constexpr DWORD kMipFilter[6] = {D3DTFP_NONE,   D3DTFP_POINT,  D3DTFP_LINEAR,
                                 D3DTFP_LINEAR, D3DTFP_LINEAR, D3DTFP_LINEAR};

D3DDeviceRecord* Usable(int device) { return Direct3DAvailable() ? GetDeviceRecord(device) : nullptr; }

}  // namespace

DWORD MipFilterValue(int index) { return kMipFilter[index < 0 || index > 5 ? 1 : index]; }

D3DDeviceRecord* DeviceRecordSlot(int device) {
  return device >= 0 && device < kDeviceRecordCount ? &g_devices[device] : nullptr;
}

D3DDeviceRecord* GetDeviceRecord(int device) {
  D3DDeviceRecord* r = DeviceRecordSlot(device);
  return r != nullptr && r->inUse != 0 ? r : nullptr;
}

D3DDeviceRecord* CurrentDeviceRecord() { return GetDeviceRecord(GetDirect3DState().currentDevice); }

void ResetDeviceRecord(D3DDeviceRecord& r, IDirectDrawSurface7* ownSurface) {
  std::memset(static_cast<void*>(&r), 0, sizeof(r));
  r.ownSurface = ownSurface;
  r.borderParameter = -1;
  r.drawSettingsDirty = 1;
  // White, so that fading toward the factor fades toward white before the first
  // textured draw has set it.
  r.drawRenderStates[kDrawStateTextureFactor] = 0xFFFFFFFF;
  // The device's own argument defaults are not ours to assume (its second arguments
  // start as CURRENT): unknown copies make the first programme that needs one send it.
  constexpr std::int16_t kUnknown = -2;
  for (StageCopy& s : r.stages) {
    s = StageCopy{nullptr, kUnknown, kUnknown, D3DTOP_DISABLE, kUnknown, kUnknown, D3DTOP_DISABLE};
  }
  for (auto& kind : r.filterIndex) {
    for (int& index : kind) index = 1;
  }
  r.zEnable = 1;
  r.zFunction = D3DCMP_LESSEQUAL;
  r.shadeMode = D3DSHADE_FLAT;
  r.addressMode = D3DTADDRESS_CLAMP;
  r.bufferStart[0] = reinterpret_cast<std::uint8_t*>(r.vertices0);
  r.bufferStart[1] = reinterpret_cast<std::uint8_t*>(r.vertices1);
  r.bufferStart[2] = reinterpret_cast<std::uint8_t*>(r.vertices2);
  r.vertexType = 1;
  r.writePointer = r.bufferStart[1];
  for (D3DVertex0& v : r.vertices0) v.rhw = 1.0f;
  for (D3DVertex1& v : r.vertices1) v.rhw = 1.0f;
  for (D3DVertex2& v : r.vertices2) {
    v.rhw = 1.0f;
    v.specular = 0xFFFFFFFF;
  }
}

int ApplyFixedDeviceStates(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  FlushVertexBuffer(device);
  IDirect3DDevice7* d = r->device;
  if (d == nullptr) return 0;
  static constexpr DWORD kCoordinateSet[4] = {0, 1, 1, 0};
  for (DWORD stage = 0; stage < 4; ++stage) {
    d->SetTextureStageState(stage, D3DTSS_ADDRESS, static_cast<DWORD>(r->addressMode));
    d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, kCoordinateSet[stage]);
  }
  d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, static_cast<DWORD>(r->perspective));
  d->SetRenderState(D3DRENDERSTATE_SHADEMODE, static_cast<DWORD>(r->shadeMode));
  d->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, static_cast<DWORD>(r->colorKey));
  d->SetRenderState(D3DRENDERSTATE_LIGHTING, static_cast<DWORD>(r->lighting));
  d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  d->SetRenderState(D3DRENDERSTATE_DITHERENABLE, 0);
  return 0;
}

int ReapplyDeviceStates(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  r->forceApply = 1;
  const D3DVIEWPORT7 viewport = r->viewport;
  SetDeviceViewport(&viewport, device);  // refused harmlessly while there is no render target
  SetDeviceColorKeyEnable(device, r->colorKey);
  SetDeviceColorKeyEnable(device, 0);
  ApplyFixedDeviceStates(device);
  SetDeviceTextureFilter(device, r->filterMode);
  ApplyDrawSettings(device);
  r->forceApply = 1;  // ApplyDrawSettings may have cleared it around its filter call
  SetDeviceZEnable(device, r->zEnable);
  SetDeviceZWriteEnable(device, r->zWrite);
  SetDeviceZFunc(device, r->zFunction);
  SetDeviceZBias(device, r->zBias);
  SetDeviceCullMode(device, r->cull);
  SetDeviceTexturePerspective(device, r->perspective);
  SetDeviceShadeMode(device, r->shadeMode);
  r->forceApply = 0;
  return 0;
}

int RestoreDirect3DDevice(int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (r->device != nullptr) return 0;
  Direct3DState& state = GetDirect3DState();
  OutputLog("３Ｄデバイスを作成します... ");
  IDirect3DDevice7* created = nullptr;
  if (FAILED(state.direct3D->CreateDevice(state.deviceDesc.deviceGUID, r->ownSurface, &created)) ||
      created == nullptr) {
    return OutputLog("３Ｄデバイスの作成に失敗しました\n");
  }
  r->device = created;
  created->SetRenderState(D3DRENDERSTATE_DITHERENABLE, 0);
  OutputLog("３Ｄデバイスの作成に成功しました\n");
  r->forceApply = 1;
  if (r->renderTarget != r->ownSurface) SetDeviceRenderTarget(r->renderTarget, device);
  r->texture = nullptr;
  r->vertexCount = 0;
  r->writePointer = r->bufferStart[r->vertexType];
  SetDeviceBlendMode(device, r->blendMode, r->alphaChannel, r->alphaTest);
  SetDeviceCullMode(device, r->cull);
  // The new device has none of the old filters: make every stage's copy differ.
  for (auto& kind : r->filterIndex) {
    for (int& index : kind) index = -1;
  }
  SetDeviceTextureFilter(device, r->filterMode);
  SetDeviceColorKeyEnable(device, r->colorKey);
  const DrawState& draw = GetDrawState();
  const RECT area{draw.drawAreaLeft, draw.drawAreaTop, draw.drawAreaRight, draw.drawAreaBottom};
  SetViewportRect(&area);
  ReapplyDeviceStates(device);
  ApplyDrawSettings(device);
  // Every texture exists again (their pixels come back with the graphs' reload).
  RecreateAllSurface3DDataObjects();
  // The blend graph's texture and a graph drawn into are new objects now.
  if (draw.blendGraph != -1) SetBlendGraphD3D(GetGraphRecord(draw.blendGraph), -1, -1);
  if (draw.drawScreen != kDrawScreenFront && draw.drawScreen != kDrawScreenBack)
    SetDeviceDrawScreen(draw.drawScreen);
  r->forceApply = 0;
  return 0;
}

int CopyDeviceDrawSettings(int from, int to) {
  D3DDeviceRecord* source = Usable(from);
  if (source == nullptr || Usable(to) == nullptr) return -1;
  SetDeviceBlendMode(to, source->blendMode, source->alphaChannel, source->alphaTest);
  SetDeviceTextureFilter(to, source->filterMode);
  SetDeviceTexture(to, source->texture);
  ApplyDrawSettings(to);
  return 0;
}

int SetTextureFilterMode(int mode) {
  if (!Direct3DAvailable()) return -1;
  SetDeviceTextureFilter(GetDirect3DState().currentDevice, mode);
  return 0;
}

int SetBlendGraphD3D(GraphRecord* graph, int borderParameter, int borderRange) {
  Direct3DState& state = GetDirect3DState();
  const int device = state.currentDevice;
  if (graph == nullptr) {
    D3DDeviceRecord* r = Usable(device);
    if (r == nullptr) return 0;
    if (!r->forceApply && r->blendGraph == nullptr) return 0;
    FlushVertexBuffer(device);
    r->blendGraph = nullptr;
    if (borderParameter != -1) r->borderParameter = borderParameter;
    if (borderRange != -1) r->borderRange = borderRange;
    r->drawSettingsDirty = 1;
    return 0;
  }
  if (!Direct3DAvailable() || !graph->useTexture || graph->pieceCount < 1) return -1;
  Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[0]);
  if (piece == nullptr) return -1;
  SurfaceRecord* surface = GetSurfaceRecord(piece->surface);
  if (surface == nullptr) return -1;
  SetDeviceBlendGraph(device, surface->surface, borderParameter, borderRange);
  state.blendTextureWidth = static_cast<float>(surface->width);
  state.blendTextureHeight = static_cast<float>(surface->height);
  state.blendTextureWidthInverse = 1.0f / state.blendTextureWidth;
  state.blendTextureHeightInverse = 1.0f / state.blendTextureHeight;
  return 0;
}

int SetViewportRect(const RECT* rect) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable() || rect == nullptr) return -1;
  if (state.memImageTarget) return 0;
  // An empty or inverted rectangle is no viewport.
  if (rect->right <= rect->left || rect->bottom <= rect->top) return -1;
  const DrawState& draw = GetDrawState();
  const LONG x = rect->left + draw.drawOriginX;
  const LONG y = rect->top + draw.drawOriginY;
  if (x < 0 || y < 0) return -1;
  D3DVIEWPORT7 viewport{static_cast<DWORD>(x),
                        static_cast<DWORD>(y),
                        static_cast<DWORD>(rect->right - rect->left),
                        static_cast<DWORD>(rect->bottom - rect->top),
                        0.0f,
                        1.0f};
  return SetDeviceViewport(&viewport, state.currentDevice);
}

int SetDeviceDrawScreen(int screen) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return 0;
  const int device = state.currentDevice;
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  FlushVertexBuffer(device);
  EndSceneDevice(device);
  // The own surface goes back as target and the texture is dropped.
  if (r->renderTarget != nullptr) SetDeviceRenderTarget(nullptr, device);
  if (r->texture != nullptr || r->forceApply) {
    FlushVertexBuffer(device);
    r->textureChanged = 1;
    if (r->texture != nullptr) r->drawSettingsDirty = 1;
    r->texture = nullptr;
  }
  bool targetSet = false;
  int result = 0;
  if (screen == kDrawScreenFront) {
    SetDeviceRenderTarget(GetFrontSurface(), device);
    state.frontTarget = 1;
    targetSet = true;
  } else if (screen == kDrawScreenBack) {
    SetDeviceRenderTarget(GetBackSurface(), device);
    state.frontTarget = 0;
    targetSet = true;
  } else {
    GraphRecord* graph = GetGraphRecord(screen);
    if (graph == nullptr) return -1;
    if (graph->pieceCount > 1) {
      // A graph of several textures cannot be one render target.
      result = -1;
    } else if (graph->useTexture) {
      Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[0]);
      SurfaceRecord* surface = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
      if (surface == nullptr || !surface->create.drawValid || surface->surface == nullptr) return -1;
      SetDeviceRenderTarget(surface->surface, device);
      state.frontTarget = 0;
      targetSet = true;
    } else {
      Surface2D* piece = GetSurface2D(graph->pieces[0]);
      SurfaceRecord* surface = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
      if (surface == nullptr) return -1;
      if (surface->memImageFlag) {
        state.memImageTarget = 1;
        return -1;
      }
      SetDeviceRenderTarget(surface->surface, device);
      state.frontTarget = 0;
      targetSet = true;
    }
  }
  if (targetSet) state.memImageTarget = 0;
  if (state.currentDevice != device) CopyDeviceDrawSettings(device, state.currentDevice);
  return result;
}

}  // namespace gamelib
