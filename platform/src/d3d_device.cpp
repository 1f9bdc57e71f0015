// The Direct3D device: render and stage states, scene brackets, render target,
// viewport, bound textures, texture loads, and draws handed to the rasteriser.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "display_internal.h"

namespace platform::display {

namespace {

constexpr DWORD kMaxVertices = 0xFFFF;
constexpr DWORD kMaxIndices = 0xFFFF;

bool InRange(DWORD value, DWORD low, DWORD high) { return value >= low && value <= high; }

// Whether SetRenderState takes this value for this state (unknown states: never).
bool RenderStateAccepts(DWORD type, DWORD value) {
  switch (type) {
    case D3DRENDERSTATE_TEXTUREPERSPECTIVE:
    case D3DRENDERSTATE_ZWRITEENABLE:
    case D3DRENDERSTATE_ALPHATESTENABLE:
    case D3DRENDERSTATE_DITHERENABLE:
    case D3DRENDERSTATE_ALPHABLENDENABLE:
    case D3DRENDERSTATE_FOGENABLE:
    case D3DRENDERSTATE_SPECULARENABLE:
    case D3DRENDERSTATE_COLORKEYENABLE:
    case D3DRENDERSTATE_LIGHTING:
    case D3DRENDERSTATE_COLORKEYBLENDENABLE:
    case D3DRENDERSTATE_ALPHAREF:
    case D3DRENDERSTATE_TEXTUREFACTOR:
      return true;
    case D3DRENDERSTATE_ZENABLE:
      return value <= D3DZB_TRUE;  // no W-buffering
    case D3DRENDERSTATE_SHADEMODE:
      return InRange(value, D3DSHADE_FLAT, D3DSHADE_GOURAUD);
    case D3DRENDERSTATE_SRCBLEND:
    case D3DRENDERSTATE_DESTBLEND:
      return InRange(value, D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR);
    case D3DRENDERSTATE_CULLMODE:
      return InRange(value, D3DCULL_NONE, D3DCULL_CCW);
    case D3DRENDERSTATE_ZFUNC:
    case D3DRENDERSTATE_ALPHAFUNC:
      return InRange(value, D3DCMP_NEVER, D3DCMP_ALWAYS);
    case D3DRENDERSTATE_ZBIAS:
      return value <= 16;
    case D3DRENDERSTATE_DIFFUSEMATERIALSOURCE:
    case D3DRENDERSTATE_SPECULARMATERIALSOURCE:
      return value <= D3DMCS_COLOR2;
    default:
      return false;
  }
}

bool StageStateAccepts(DWORD type, DWORD value) {
  switch (type) {
    case D3DTSS_COLOROP:
    case D3DTSS_ALPHAOP:
      return raster::IsStageOperation(value);
    case D3DTSS_COLORARG1:
    case D3DTSS_COLORARG2:
    case D3DTSS_ALPHAARG1:
    case D3DTSS_ALPHAARG2:
      return (value & ~(D3DTA_SELECTMASK | D3DTA_COMPLEMENT)) == 0 &&
             (value & D3DTA_SELECTMASK) <= D3DTA_SPECULAR;
    case D3DTSS_TEXCOORDINDEX:
      return value < kD3DMaxStages;
    case D3DTSS_ADDRESS:
    case D3DTSS_ADDRESSU:
    case D3DTSS_ADDRESSV:
      return InRange(value, D3DTADDRESS_WRAP, D3DTADDRESS_BORDER);
    case D3DTSS_BORDERCOLOR:
      return true;
    case D3DTSS_MAGFILTER:
      return InRange(value, D3DTFG_POINT, D3DTFG_ANISOTROPIC);
    case D3DTSS_MINFILTER:
      return InRange(value, D3DTFN_POINT, D3DTFN_ANISOTROPIC);
    case D3DTSS_MIPFILTER:
      return InRange(value, D3DTFP_NONE, D3DTFP_LINEAR);
    default:
      return false;
  }
}

}  // namespace

class Device final : public IDirect3DDevice7, public DisplayObject {
 public:
  Device(int id, const GUID& clsid, Surface* target)
      : DisplayObject(Kind::Device, id), clsid(clsid), target(target) {
    ++target->refs;
    SetDefaults();
    viewport =
        D3DVIEWPORT7{0, 0, static_cast<DWORD>(target->width), static_cast<DWORD>(target->height), 0.0f, 1.0f};
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryOwnInterface(this, static_cast<IDirect3DDevice7*>(this), IID_IDirect3DDevice7, iid, object);
  }
  ULONG AddRef() override { return AddRefObject(this); }
  ULONG Release() override { return ReleaseObject(this, true); }

  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override {
    return EnumTextureFormatsFor(this, callback, context);
  }

  HRESULT BeginScene() override {
    CallScope scope(sim::DisplayCall::BeginScene, this);
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (inScene) return scope.Done(D3DERR_SCENE_IN_SCENE);
    inScene = true;
    return scope.Done(D3D_OK);
  }

  HRESULT EndScene() override {
    CallScope scope(sim::DisplayCall::EndScene, this);
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (!inScene) return scope.Done(D3DERR_SCENE_NOT_IN_SCENE);
    inScene = false;
    return scope.Done(D3D_OK);
  }

  HRESULT SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) override {
    CallScope scope(sim::DisplayCall::SetRenderTarget, this);
    scope.rec.type = flags;
    if (Surface* known = FindSurface(surface)) scope.rec.surface = known->id;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    Surface* s = nullptr;
    if (HRESULT hr = scope.CheckSurface(surface, &s); FAILED(hr)) return scope.Done(hr);
    if (s->layout == pixel::Layout::D16) return scope.Done(DDERR_INVALIDPARAMS);
    // The viewport stays as it is: drawing clips to it and to the new target.
    ++s->refs;
    Surface* old = target;
    target = s;
    if (old != nullptr) ReleaseObject(old, false);
    return scope.Done(D3D_OK);
  }

  HRESULT GetRenderTarget(IDirectDrawSurface7** surface) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetRenderTarget");
    if (surface == nullptr) return DDERR_INVALIDPARAMS;
    *surface = target;
    if (target != nullptr) ++target->refs;
    return D3D_OK;
  }

  HRESULT SetViewport(D3DVIEWPORT7* vp) override {
    CallScope scope(sim::DisplayCall::SetViewport, this);
    if (vp != nullptr) scope.rec.viewport = *vp;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (vp == nullptr || vp->dwWidth == 0 || vp->dwHeight == 0) return scope.Done(DDERR_INVALIDPARAMS);
    if (std::uint64_t{vp->dwX} + vp->dwWidth > static_cast<std::uint64_t>(target->width) ||
        std::uint64_t{vp->dwY} + vp->dwHeight > static_cast<std::uint64_t>(target->height))
      return scope.Done(DDERR_INVALIDPARAMS);
    if (!std::isfinite(vp->dvMinZ) || !std::isfinite(vp->dvMaxZ) || vp->dvMinZ > vp->dvMaxZ)
      return scope.Done(DDERR_INVALIDPARAMS);
    viewport = *vp;
    return scope.Done(D3D_OK);
  }

  HRESULT GetViewport(D3DVIEWPORT7* vp) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetViewport");
    if (vp == nullptr) return DDERR_INVALIDPARAMS;
    *vp = viewport;
    return D3D_OK;
  }

  HRESULT SetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) override {
    CallScope scope(sim::DisplayCall::SetTransform, this);
    scope.rec.type = type;
    if (matrix != nullptr) scope.rec.matrix = *matrix;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (matrix == nullptr || !InRange(type, D3DTRANSFORMSTATE_WORLD, D3DTRANSFORMSTATE_WORLD3))
      return scope.Done(DDERR_INVALIDPARAMS);
    transforms[type] = *matrix;
    return scope.Done(D3D_OK);
  }

  HRESULT GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetTransform");
    if (matrix == nullptr || !InRange(type, D3DTRANSFORMSTATE_WORLD, D3DTRANSFORMSTATE_WORLD3))
      return DDERR_INVALIDPARAMS;
    *matrix = transforms[type];
    return D3D_OK;
  }

  HRESULT SetRenderState(D3DRENDERSTATETYPE type, DWORD value) override {
    CallScope scope(sim::DisplayCall::SetRenderState, this);
    scope.rec.type = type;
    scope.rec.value = value;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (!RenderStateAccepts(type, value)) return scope.Done(DDERR_INVALIDPARAMS);
    renderState[type] = value;
    return scope.Done(D3D_OK);
  }

  HRESULT GetRenderState(D3DRENDERSTATETYPE type, DWORD* value) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetRenderState");
    if (value == nullptr || type >= kD3DRenderStateCount) return DDERR_INVALIDPARAMS;
    *value = renderState[type];
    return D3D_OK;
  }

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
    CallScope scope(sim::DisplayCall::SetTextureStageState, this);
    scope.rec.stage = static_cast<int>(stage < kD3DMaxStages ? stage : kD3DMaxStages);
    scope.rec.type = type;
    scope.rec.value = value;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (stage >= kD3DMaxStages || !StageStateAccepts(type, value)) return scope.Done(DDERR_INVALIDPARAMS);
    stageState[stage][type] = value;
    // ADDRESS is the shorthand for both directions.
    if (type == D3DTSS_ADDRESS) {
      stageState[stage][D3DTSS_ADDRESSU] = value;
      stageState[stage][D3DTSS_ADDRESSV] = value;
    }
    return scope.Done(D3D_OK);
  }

  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetTextureStageState");
    if (value == nullptr || stage >= kD3DMaxStages || type >= kD3DStageStateCount) return DDERR_INVALIDPARAMS;
    *value = stageState[stage][type];
    return D3D_OK;
  }

  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override {
    CallScope scope(sim::DisplayCall::SetTexture, this);
    scope.rec.stage = static_cast<int>(stage < kD3DMaxStages ? stage : kD3DMaxStages);
    if (Surface* known = FindSurface(texture)) scope.rec.surface = known->id;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (stage >= kD3DMaxStages) return scope.Done(DDERR_INVALIDPARAMS);
    Surface* s = nullptr;
    if (HRESULT hr = scope.CheckSurface(texture, &s, true); FAILED(hr)) return scope.Done(hr);
    if (s != nullptr && s->layout == pixel::Layout::D16) return scope.Done(DDERR_INVALIDPARAMS);
    if (s != nullptr) ++s->refs;
    Surface* old = textures[stage];
    textures[stage] = s;
    if (old != nullptr) ReleaseObject(old, false);
    return scope.Done(D3D_OK);
  }

  HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetTexture");
    if (texture == nullptr || stage >= kD3DMaxStages) return DDERR_INVALIDPARAMS;
    *texture = textures[stage];
    if (textures[stage] != nullptr) ++textures[stage]->refs;
    return D3D_OK;
  }

  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                        DWORD flags) override {
    CallScope scope(sim::DisplayCall::DrawPrimitive, this);
    return Draw(scope, type, fvf, vertices, vertexCount, nullptr, 0, flags);
  }

  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                               WORD* indices, DWORD indexCount, DWORD flags) override {
    CallScope scope(sim::DisplayCall::DrawIndexedPrimitive, this);
    if (indices == nullptr && indexCount > 0) {
      scope.rec.primitiveType = type;
      scope.rec.fvf = fvf;
      if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
      return scope.Done(DDERR_INVALIDPARAMS);
    }
    static WORD none = 0;
    return Draw(scope, type, fvf, vertices, vertexCount, indices != nullptr ? indices : &none, indexCount,
                flags);
  }

  HRESULT Load(IDirectDrawSurface7* dest, POINT* destPoint, IDirectDrawSurface7* source, RECT* sourceRect,
               DWORD flags) override {
    CallScope scope(sim::DisplayCall::Load, this);
    scope.rec.type = flags;
    if (Surface* known = FindSurface(dest)) scope.rec.surface = known->id;
    if (Surface* known = FindSurface(source)) scope.rec.surface2 = known->id;
    if (destPoint != nullptr) scope.rec.point = *destPoint;
    SetRect(scope.rec, sourceRect);
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    Surface* dst = nullptr;
    Surface* src = nullptr;
    if (HRESULT hr = scope.CheckSurface(dest, &dst); FAILED(hr)) return scope.Done(hr);
    if (HRESULT hr = scope.CheckSurface(source, &src); FAILED(hr)) return scope.Done(hr);
    if (dst->lost || src->lost) return scope.Done(DDERR_SURFACELOST);
    if (dst->Busy() || src->Busy()) return scope.Done(DDERR_SURFACEBUSY);
    if (dst->layout != src->layout) return scope.Done(DDERR_INVALIDPIXELFORMAT);
    RECT from = sourceRect != nullptr ? *sourceRect : RECT{0, 0, src->width, src->height};
    if (!RectInside(from, src->width, src->height)) return scope.Done(DDERR_INVALIDRECT);
    POINT at = destPoint != nullptr ? *destPoint : POINT{0, 0};
    if (at.x < 0 || at.y < 0 || std::int64_t{at.x} + (from.right - from.left) > dst->width ||
        std::int64_t{at.y} + (from.bottom - from.top) > dst->height)
      return scope.Done(DDERR_INVALIDRECT);
    CopyBlock(dst, at.x, at.y, src, from, 0);
    return scope.Done(D3D_OK);
  }

  std::string Label() const override { return "device#" + std::to_string(id); }
  const void* Interface() const override { return static_cast<const IDirect3DDevice7*>(this); }

  void DropReferences() override {
    std::vector<Surface*> held;
    if (target != nullptr) held.push_back(target);
    for (Surface*& t : textures) {
      if (t != nullptr) held.push_back(t);
      t = nullptr;
    }
    target = nullptr;
    inScene = false;
    for (Surface* s : held) ReleaseObject(s, false);
  }
  void Forget() override {
    target = nullptr;
    for (Surface*& t : textures) t = nullptr;
  }

  const GUID clsid;
  Surface* target;
  Surface* textures[kD3DMaxStages] = {};
  DWORD renderState[kD3DRenderStateCount] = {};
  DWORD stageState[kD3DMaxStages][kD3DStageStateCount] = {};
  D3DVIEWPORT7 viewport{};
  D3DMATRIX transforms[8] = {};
  bool inScene = false;

 private:
  // The states a device starts with; the library never sends some of them before drawing.
  void SetDefaults() {
    DWORD* rs = renderState;
    rs[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = 1;
    rs[D3DRENDERSTATE_ZENABLE] = target->z != nullptr ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRENDERSTATE_ZWRITEENABLE] = 1;
    rs[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRENDERSTATE_CULLMODE] = D3DCULL_NONE;
    rs[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRENDERSTATE_ALPHAREF] = 0;
    rs[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFFu;
    rs[D3DRENDERSTATE_LIGHTING] = 1;
    rs[D3DRENDERSTATE_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRENDERSTATE_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    for (DWORD stage = 0; stage < kD3DMaxStages; ++stage) {
      DWORD* ss = stageState[stage];
      ss[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      ss[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
      ss[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
      ss[D3DTSS_COLORARG2] = D3DTA_CURRENT;
      ss[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
      ss[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
      ss[D3DTSS_TEXCOORDINDEX] = stage;
      ss[D3DTSS_ADDRESS] = D3DTADDRESS_WRAP;
      ss[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
      ss[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
      ss[D3DTSS_MAGFILTER] = D3DTFG_POINT;
      ss[D3DTSS_MINFILTER] = D3DTFN_POINT;
      ss[D3DTSS_MIPFILTER] = D3DTFP_NONE;
    }
  }

  HRESULT Draw(CallScope& scope, D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
               const WORD* indices, DWORD indexCount, DWORD flags) {
    scope.rec.primitiveType = type;
    scope.rec.fvf = fvf;
    scope.rec.count = vertexCount;
    scope.rec.type = flags;
    if (target != nullptr) scope.rec.surface = target->id;
    int stride = raster::VertexStride(fvf);
    bool sane =
        vertexCount <= kMaxVertices && indexCount <= kMaxIndices && (vertices != nullptr || vertexCount == 0);
    if (Tracing() && sane && stride > 0 && vertices != nullptr) {
      auto* bytes = static_cast<const std::uint8_t*>(vertices);
      scope.rec.vertices.assign(bytes, bytes + static_cast<std::size_t>(stride) * vertexCount);
    }
    if (Tracing() && sane && indices != nullptr) scope.rec.indices.assign(indices, indices + indexCount);
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (!sane) return scope.Done(DDERR_INVALIDPARAMS);
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP)
      return scope.Done(D3DERR_INVALIDPRIMITIVETYPE);
    if (stride == 0) return scope.Done(D3DERR_INVALIDVERTEXFORMAT);
    const char* name = sim::DisplayCallName(scope.rec.call);
    if (target->lost) return scope.Done(DDERR_SURFACELOST);
    if (target->Busy() || (target->z != nullptr && target->z->Busy())) return scope.Done(DDERR_SURFACEBUSY);
    if (!inScene) RecordViolation(std::string(name) + " outside a scene on " + Label());

    raster::State state;
    state.renderState = renderState;
    state.stageState = stageState;
    raster::Surface bound[kD3DMaxStages];
    for (DWORD stage = 0; stage < kD3DMaxStages; ++stage) {
      if (textures[stage] == nullptr) continue;
      bound[stage] = textures[stage]->RasterView();
      state.texture[stage] = &bound[stage];
    }
    state.target = target->RasterView();
    raster::Surface z;
    if (target->z != nullptr) {
      z = target->z->RasterView();
      state.z = &z;
    }
    // The viewport as it meets this target (it may have been set for a larger one).
    auto clip = [](DWORD start, DWORD size, int limit, DWORD* outStart, DWORD* outSize) {
      std::uint64_t first = std::min<std::uint64_t>(start, static_cast<std::uint64_t>(limit));
      std::uint64_t last =
          std::min<std::uint64_t>(std::uint64_t{start} + size, static_cast<std::uint64_t>(limit));
      *outStart = static_cast<DWORD>(first);
      *outSize = static_cast<DWORD>(last - first);
    };
    state.viewport = viewport;
    clip(viewport.dwX, viewport.dwWidth, target->width, &state.viewport.dwX, &state.viewport.dwWidth);
    clip(viewport.dwY, viewport.dwHeight, target->height, &state.viewport.dwY, &state.viewport.dwHeight);

    raster::DrawReport report;
    HRESULT hr = raster::DrawTriangles(
        state, type, fvf, vertices, vertexCount,
        scope.rec.call == sim::DisplayCall::DrawIndexedPrimitive ? indices : nullptr, indexCount, &report);
    // Counted here too, so the rule holds whatever the rasteriser reports.
    int bad = report.badIndices;
    if (scope.rec.call == sim::DisplayCall::DrawIndexedPrimitive) {
      int counted = 0;
      for (DWORD i = 0; i < indexCount; ++i) counted += indices[i] >= vertexCount ? 1 : 0;
      bad = std::max(bad, counted);
    }
    if (bad > 0)
      RecordViolation(std::string(name) + ": " + std::to_string(bad) + " indices past the " +
                      std::to_string(vertexCount) + " vertices");
    return scope.Done(hr);
  }
};

IDirect3DDevice7* NewDevice(const GUID& clsid, Surface* target) {
  Device* device = Adopt(std::make_unique<Device>(NewObjectId(), clsid, target));
  TheWorld().lastDeviceId = device->id;
  return device;
}

std::vector<Device*> LiveDevices() {
  std::vector<Device*> devices;
  for (auto& object : TheWorld().objects) {
    if (object->kind == Kind::Device && !object->zombie)
      devices.push_back(static_cast<Device*>(object.get()));
  }
  return devices;
}

void FillDeviceView(DisplayObject* object, sim::DeviceView* view) {
  auto* device = static_cast<Device*>(object);
  view->id = device->id;
  view->released = device->zombie;
  std::memcpy(view->renderState, device->renderState, sizeof view->renderState);
  std::memcpy(view->stageState, device->stageState, sizeof view->stageState);
  for (DWORD stage = 0; stage < kD3DMaxStages; ++stage)
    view->texture[stage] = device->textures[stage] != nullptr ? device->textures[stage]->id : -1;
  view->target = device->target != nullptr ? device->target->id : -1;
  view->viewport = device->viewport;
  view->inScene = device->inScene;
  std::memcpy(view->transform, device->transforms, sizeof view->transform);
}

void NoteTargetTouch(Surface* surface, const char* call) {
  if (!TheWorld().config.strictScene) return;
  for (Device* device : LiveDevices()) {
    if (!device->inScene || device->target == nullptr) continue;
    if (device->target == surface || device->target->z == surface) {
      RecordViolation(std::string(call) + " of " + surface->Label() + ", the render target of " +
                      device->Label() + ", in a scene");
      return;
    }
  }
}

}  // namespace platform::display
