// The state setters of a device record: each compares with its copy and talks to the
// device only when the value changes (or while ForceApply is set), drawing the pending
// batch first when the batch depends on the state.
#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

constexpr DWORD kMagFilter[6] = {D3DTFG_POINT,       D3DTFG_POINT,     D3DTFG_LINEAR,
                                 D3DTFG_ANISOTROPIC, D3DTFG_FLATCUBIC, D3DTFG_GAUSSIANCUBIC};
constexpr DWORD kMinFilter[6] = {D3DTFN_POINT,       D3DTFN_POINT,       D3DTFN_LINEAR,
                                 D3DTFN_ANISOTROPIC, D3DTFN_ANISOTROPIC, D3DTFN_ANISOTROPIC};

D3DDeviceRecord* Usable(int device) { return Direct3DAvailable() ? GetDeviceRecord(device) : nullptr; }

// A record without a device (its re-creation failed) keeps its copies but sends nothing.
HRESULT Send(D3DDeviceRecord& r, D3DRENDERSTATETYPE type, DWORD value) {
  return r.device != nullptr ? r.device->SetRenderState(type, value) : D3DERR_INVALIDCALL;
}

bool Same(const D3DDeviceRecord& r, int copy, int value) { return copy == value && !r.forceApply; }

// Flush, send, then keep the copy.
int FlushedSet(int device, int D3DDeviceRecord::*copy, D3DRENDERSTATETYPE type, DWORD sent, int value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (Same(*r, r->*copy, value)) return 0;
  FlushVertexBuffer(device);
  Send(*r, type, sent);
  r->*copy = value;
  return 0;
}

}  // namespace

DWORD MagFilterValue(int index) { return kMagFilter[index < 0 || index > 5 ? 1 : index]; }
DWORD MinFilterValue(int index) { return kMinFilter[index < 0 || index > 5 ? 1 : index]; }

int SetDeviceTexturePerspective(int device, int value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (Same(*r, r->perspective, value)) return 0;
  r->perspective = value;
  return FAILED(Send(*r, D3DRENDERSTATE_TEXTUREPERSPECTIVE, static_cast<DWORD>(value))) ? -1 : 0;
}

int SetDeviceColorKeyEnable(int device, int value) {
  return FlushedSet(device, &D3DDeviceRecord::colorKey, D3DRENDERSTATE_COLORKEYENABLE,
                    static_cast<DWORD>(value), value);
}

int SetDeviceZEnable(int device, int value) {
  // Anything but 1 is "off": 2 would ask for W-buffering.
  return FlushedSet(device, &D3DDeviceRecord::zEnable, D3DRENDERSTATE_ZENABLE, value == 1 ? 1u : 0u, value);
}

int SetDeviceZWriteEnable(int device, int value) {
  return FlushedSet(device, &D3DDeviceRecord::zWrite, D3DRENDERSTATE_ZWRITEENABLE, static_cast<DWORD>(value),
                    value);
}

int SetDeviceZFunc(int device, int value) {
  return FlushedSet(device, &D3DDeviceRecord::zFunction, D3DRENDERSTATE_ZFUNC, static_cast<DWORD>(value),
                    value);
}

int SetDeviceZBias(int device, int value) {
  return FlushedSet(device, &D3DDeviceRecord::zBias, D3DRENDERSTATE_ZBIAS, static_cast<DWORD>(value), value);
}

int SetDeviceCullMode(int device, int value) {
  return FlushedSet(device, &D3DDeviceRecord::cull, D3DRENDERSTATE_CULLMODE,
                    value != 0 ? D3DCULL_CCW : D3DCULL_NONE, value);
}

int SetDeviceShadeMode(int device, int value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (Same(*r, r->shadeMode, value)) return 0;
  r->shadeMode = value;
  FlushVertexBuffer(device);
  return FAILED(Send(*r, D3DRENDERSTATE_SHADEMODE, static_cast<DWORD>(value))) ? -1 : 0;
}

int SetDeviceFogEnable(int device, int value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (Same(*r, r->fog, value)) return 0;
  FlushVertexBuffer(device);
  r->fog = value;
  return FAILED(Send(*r, D3DRENDERSTATE_FOGENABLE, static_cast<DWORD>(value))) ? -1 : 0;
}

int SetDeviceRenderTarget(IDirectDrawSurface7* surface, int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (surface == r->renderTarget && !r->forceApply) return 0;
  // Null puts the own surface back; nothing to do when no target was ever set.
  if (surface == nullptr && r->renderTarget == nullptr) return 0;
  FlushVertexBuffer(device);
  if (r->device != nullptr) r->device->SetRenderTarget(surface != nullptr ? surface : r->ownSurface, 0);
  r->renderTarget = surface;
  return 0;
}

int SetDeviceViewport(const D3DVIEWPORT7* viewport, int device) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr || viewport == nullptr || r->renderTarget == nullptr || r->device == nullptr) return -1;
  const D3DVIEWPORT7& c = r->viewport;
  if (!r->forceApply && c.dwX == viewport->dwX && c.dwY == viewport->dwY && c.dwWidth == viewport->dwWidth &&
      c.dwHeight == viewport->dwHeight) {
    return 0;
  }
  FlushVertexBuffer(device);
  EndSceneDevice(device);
  D3DVIEWPORT7 sent = *viewport;
  const HRESULT hr = r->device->SetViewport(&sent);
  if (FAILED(hr))
    return OutputLogFormat("ビューポートのセットに失敗しました ErrorCode %x", static_cast<unsigned>(hr));
  r->viewport = *viewport;
  return 0;
}

int SetDeviceTextureFilter(int device, int mode) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (mode == r->filterMode && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  if (mode != 0 && mode != 1) return -1;
  const int index = mode == 0 ? 1 : 2;
  const int stages = r->stageCount < 0 ? 0 : r->stageCount > kStageCount ? kStageCount : r->stageCount;
  for (int stage = 0; stage < stages; ++stage) {
    if (r->filterIndex[0][stage] != index) {
      if (r->device != nullptr) r->device->SetTextureStageState(stage, D3DTSS_MAGFILTER, kMagFilter[index]);
      r->filterIndex[0][stage] = index;
    }
    if (r->filterIndex[1][stage] != index) {
      if (r->device != nullptr) r->device->SetTextureStageState(stage, D3DTSS_MINFILTER, kMinFilter[index]);
      r->filterIndex[1][stage] = index;
    }
  }
  r->filterMode = mode;
  return 0;
}

int SetDeviceDrawRenderState(int device, DrawRenderState which, std::uint32_t value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr || which < 0 || which >= kDrawRenderStateCount) return -1;
  if (r->drawRenderStates[which] == value && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  Send(*r, kDrawRenderStateType[which], value);
  r->drawRenderStates[which] = value;
  return 0;
}

int SetDeviceStageState(int device, int stage, D3DTEXTURESTAGESTATETYPE type, int value) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr || stage < 0 || stage >= kStageCount) return -1;
  if (value == -1) return 0;  // "unchanged" in a programme
  StageCopy& s = r->stages[stage];
  std::int16_t* copy = nullptr;
  switch (type) {
    case D3DTSS_ALPHAARG1:
      copy = &s.alphaArg1;
      break;
    case D3DTSS_ALPHAARG2:
      copy = &s.alphaArg2;
      break;
    case D3DTSS_ALPHAOP:
      copy = &s.alphaOp;
      break;
    case D3DTSS_COLORARG1:
      copy = &s.colorArg1;
      break;
    case D3DTSS_COLORARG2:
      copy = &s.colorArg2;
      break;
    case D3DTSS_COLOROP:
      copy = &s.colorOp;
      break;
    default:
      return -1;
  }
  if (*copy == value && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  if (r->device != nullptr) r->device->SetTextureStageState(stage, type, static_cast<DWORD>(value));
  *copy = static_cast<std::int16_t>(value);
  return 0;
}

int SetDeviceStageTexture(int device, int stage, IDirectDrawSurface7* texture) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr || stage < 0 || stage >= kStageCount) return -1;
  if (r->stages[stage].texture == texture && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  if (r->device != nullptr) r->device->SetTexture(stage, texture);
  r->stages[stage].texture = texture;
  return 0;
}

int SetDeviceBlendMode(int device, int blendMode, int alphaChannel, int alphaTest) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (!r->forceApply && r->blendMode == blendMode && r->alphaChannel == alphaChannel &&
      r->alphaTest == alphaTest) {
    return 0;
  }
  FlushVertexBuffer(device);
  r->blendMode = blendMode;
  r->alphaChannel = alphaChannel;
  r->alphaTest = alphaTest;
  r->drawSettingsDirty = 1;
  return 0;
}

int SetDeviceTexture(int device, IDirectDrawSurface7* texture) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (r->texture == texture && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  // Textured and untextured drawing use other programmes; another texture does not.
  if ((r->texture == nullptr) != (texture == nullptr)) r->drawSettingsDirty = 1;
  r->textureChanged = 1;
  r->texture = texture;
  return 0;
}

int SetDeviceBlendGraph(int device, IDirectDrawSurface7* texture, int borderParameter, int borderRange) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  const int parameter = borderParameter == -1 ? r->borderParameter : borderParameter;
  const int range = borderRange == -1 ? r->borderRange : borderRange;
  const bool same = (texture == nullptr && r->blendGraph == nullptr) ||
                    (texture == r->blendGraph && parameter == r->borderParameter && range == r->borderRange);
  if (same && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  r->blendGraph = texture;
  r->borderParameter = parameter;
  r->borderRange = range;
  r->drawSettingsDirty = 1;
  return 0;
}

int SetDeviceUseDiffuseAlpha(int device, int flag) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (r->useDiffuseAlpha == flag && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  r->useDiffuseAlpha = flag;
  r->drawSettingsDirty = 1;
  return 0;
}

int SetDeviceUseDiffuseColor(int device, int flag) {
  D3DDeviceRecord* r = Usable(device);
  if (r == nullptr) return -1;
  if (r->useDiffuseColor == flag && !r->forceApply) return 0;
  FlushVertexBuffer(device);
  r->useDiffuseColor = flag;
  r->drawSettingsDirty = 1;
  return 0;
}

}  // namespace gamelib
