// The DirectDraw object: the display mode, surface creation, and the way to Direct3D.
#include <cstring>

#include "base_internal.h"
#include "display_internal.h"

// Interface and device class ids of the display stand-ins (our own values).
const IID IID_IDirectDraw7 = {0x6b1f3d01, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x69, 0x73, 0x70, 0x6c, 0x61, 0x01}};
const IID IID_IDirectDrawSurface7 = {
    0x6b1f3d02, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x69, 0x73, 0x70, 0x6c, 0x61, 0x02}};
const IID IID_IDirect3D7 = {0x6b1f3d03, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x69, 0x73, 0x70, 0x6c, 0x61, 0x03}};
const IID IID_IDirect3DDevice7 = {
    0x6b1f3d04, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x69, 0x73, 0x70, 0x6c, 0x61, 0x04}};
const GUID IID_IDirect3DHALDevice = {
    0x6b1f3d10, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x48, 0x41, 0x4c, 0x00, 0x00, 0x10}};
const GUID IID_IDirect3DTnLHalDevice = {
    0x6b1f3d11, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x54, 0x6e, 0x4c, 0x00, 0x00, 0x11}};
const GUID IID_IDirect3DRGBDevice = {
    0x6b1f3d12, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x52, 0x47, 0x42, 0x00, 0x00, 0x12}};
const GUID IID_IDirect3DRefDevice = {
    0x6b1f3d13, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x52, 0x65, 0x66, 0x00, 0x00, 0x13}};
const GUID IID_IDirect3DMMXDevice = {
    0x6b1f3d14, 0x5a11, 0x4c3e, {0x9d, 0x44, 0x4d, 0x4d, 0x58, 0x00, 0x00, 0x14}};

namespace platform::display {

namespace {

constexpr int kMaxSide = 16384;
constexpr std::size_t kMaxSurfaceBytes = std::size_t{1} << 28;

class DirectDraw final : public IDirectDraw7, public DisplayObject {
 public:
  explicit DirectDraw(int id) : DisplayObject(Kind::DirectDraw, id) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    CallScope scope(sim::DisplayCall::QueryInterface, this);
    scope.rec.guid = iid;
    if (object == nullptr) return scope.Done(E_POINTER);
    *object = nullptr;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (iid == IID_IDirect3D7) {
      *object = NewDirect3D(this);
      return scope.Done(S_OK);
    }
    if (iid != IID_IDirectDraw7 && iid != IID_IUnknown) return scope.Done(E_NOINTERFACE);
    ++refs;
    *object = static_cast<IDirectDraw7*>(this);
    return scope.Done(S_OK);
  }
  ULONG AddRef() override { return AddRefObject(this); }
  ULONG Release() override { return ReleaseObject(this, true); }

  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) override {
    CallScope scope(sim::DisplayCall::CreateSurface, this);
    if (desc != nullptr) scope.rec.desc = *desc;
    // Every refusal hands out null, whatever the caller's pointer held.
    if (surface != nullptr) *surface = nullptr;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (outer != nullptr) return scope.Done(CLASS_E_NOAGGREGATION);
    return CreateSurfaceFor(scope, desc, surface);
  }

  HRESULT SetCooperativeLevel(HWND, DWORD flags) override {
    CallScope scope(sim::DisplayCall::SetCooperativeLevel, this);
    scope.rec.type = flags;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    return scope.Done(DD_OK);
  }

  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD, DWORD) override {
    CallScope scope(sim::DisplayCall::SetDisplayMode, this);
    scope.rec.type = bitsPerPixel;
    scope.rec.hasRect = true;
    scope.rec.rect = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
      return scope.Done(DDERR_INVALIDPARAMS);
    pixel::Layout layout = bitsPerPixel == 16   ? pixel::Layout::R5G6B5
                           : bitsPerPixel == 32 ? pixel::Layout::X8R8G8B8
                                                : pixel::Layout::Unsupported;
    if (layout == pixel::Layout::Unsupported) return scope.Done(DDERR_INVALIDPARAMS);
    World& w = TheWorld();
    w.modeWidth = static_cast<int>(width);
    w.modeHeight = static_cast<int>(height);
    w.modeLayout = layout;
    return scope.Done(DD_OK);
  }

  HRESULT RestoreDisplayMode() override {
    CallScope scope(sim::DisplayCall::SetDisplayMode, this);
    scope.rec.note = "restore";
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    World& w = TheWorld();
    w.modeWidth = w.config.desktopWidth;
    w.modeHeight = w.config.desktopHeight;
    w.modeLayout = pixel::Classify(w.config.desktopFormat);
    return scope.Done(DD_OK);
  }

  HRESULT GetDisplayMode(DDSURFACEDESC2* desc) override {
    auto lock = LockWorld();
    if (zombie) return ZombieCall(this, "GetDisplayMode");
    if (desc == nullptr) return DDERR_INVALIDPARAMS;
    World& w = TheWorld();
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
    desc->dwFlags = DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = static_cast<DWORD>(w.modeWidth);
    desc->dwHeight = static_cast<DWORD>(w.modeHeight);
    desc->lPitch = w.modeWidth * pixel::BytesPerPixel(w.modeLayout);
    desc->ddpfPixelFormat = pixel::FormatOf(w.modeLayout);
    return DD_OK;
  }

  std::string Label() const override { return "directdraw#" + std::to_string(id); }
  const void* Interface() const override { return static_cast<const IDirectDraw7*>(this); }
};

}  // namespace

HRESULT CreateSurfaceFor(CallScope& scope, DDSURFACEDESC2* desc, IDirectDrawSurface7** out) {
  if (out == nullptr || desc == nullptr) {
    if (out != nullptr) *out = nullptr;
    return scope.Done(DDERR_INVALIDPARAMS);
  }
  *out = nullptr;
  World& w = TheWorld();
  DWORD caps = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps : DDSCAPS_OFFSCREENPLAIN;
  DWORD caps2 = (desc->dwFlags & DDSD_CAPS) ? desc->ddsCaps.dwCaps2 : 0;
  if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return scope.Done(DDERR_INVALIDCAPS);
  bool primary = (caps & DDSCAPS_PRIMARYSURFACE) != 0;
  bool isZ = (caps & DDSCAPS_ZBUFFER) != 0;
  bool flip = (caps & DDSCAPS_FLIP) != 0;
  int width = 0, height = 0;
  pixel::Layout layout = pixel::Layout::Unsupported;
  std::string label;
  if (primary) {
    if (isZ || (caps & DDSCAPS_TEXTURE)) return scope.Done(DDERR_INVALIDCAPS);
    if (flip && (!(caps & DDSCAPS_COMPLEX) || !(desc->dwFlags & DDSD_BACKBUFFERCOUNT) ||
                 desc->dwBackBufferCount != 1))
      return scope.Done(DDERR_INVALIDPARAMS);
    width = w.modeWidth;
    height = w.modeHeight;
    layout = w.modeLayout;
    label = "primary";
  } else {
    if (flip) return scope.Done(DDERR_INVALIDCAPS);
    if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
      return scope.Done(DDERR_INVALIDPARAMS);
    if (desc->dwWidth == 0 || desc->dwHeight == 0 || desc->dwWidth > kMaxSide || desc->dwHeight > kMaxSide)
      return scope.Done(DDERR_INVALIDPARAMS);
    width = static_cast<int>(desc->dwWidth);
    height = static_cast<int>(desc->dwHeight);
    if (desc->dwFlags & DDSD_PIXELFORMAT) {
      layout = pixel::Classify(desc->ddpfPixelFormat);
    } else if (!isZ) {
      layout = w.modeLayout;
    }
    if (isZ != (layout == pixel::Layout::D16) || layout == pixel::Layout::Unsupported)
      return scope.Done(DDERR_INVALIDPIXELFORMAT);
    if (isZ) {
      label = "z";
    } else if (caps & DDSCAPS_TEXTURE) {
      label = (caps & DDSCAPS_SYSTEMMEMORY) ? "work" : "texture";
    } else {
      label = "plain";
    }
  }
  std::size_t pitch = static_cast<std::size_t>(width) * pixel::BytesPerPixel(layout) +
                      static_cast<std::size_t>(w.config.pitchPaddingBytes);
  if (layout == pixel::Layout::Unsupported || width <= 0 || height <= 0)
    return scope.Done(DDERR_INVALIDPIXELFORMAT);
  if (pitch * static_cast<std::size_t>(height) * (flip ? 2 : 1) > kMaxSurfaceBytes)
    return scope.Done(DDERR_OUTOFMEMORY);
  // Nothing is in video memory, but what is not system memory (or managed) can be lost.
  if (!(caps & DDSCAPS_SYSTEMMEMORY) && !(caps2 & DDSCAPS2_TEXTUREMANAGE)) caps |= DDSCAPS_VIDEOMEMORY;
  if (flip) caps |= DDSCAPS_FRONTBUFFER;
  Surface* s = Adopt(std::make_unique<Surface>(NewSurfaceId(), label, width, height, layout, caps, caps2));
  s->primary = primary;
  if (flip) {
    DWORD backCaps =
        DDSCAPS_BACKBUFFER | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_VIDEOMEMORY | (caps & DDSCAPS_3DDEVICE);
    s->back = Adopt(std::make_unique<Surface>(NewSurfaceId(), "back", width, height, layout, backCaps, 0));
  }
  scope.rec.surface = s->id;
  if (s->back != nullptr) scope.rec.surface2 = s->back->id;
  *out = s;
  return scope.Done(DD_OK);
}

}  // namespace platform::display

HRESULT DirectDrawCreateEx(GUID* driver, void** object, REFIID iid, IUnknown* outer) {
  platform::detail::EnsureBuiltins();
  using namespace platform::display;
  if (object == nullptr) return DDERR_INVALIDPARAMS;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (iid != IID_IDirectDraw7) return DDERR_INVALIDPARAMS;
  if (driver != nullptr) return DDERR_INVALIDPARAMS;
  if (platform::ShouldFail("DirectDrawCreateEx")) return DDERR_GENERIC;
  ChooseVideoOutput();
  auto lock = LockWorld();
  *object = static_cast<IDirectDraw7*>(Adopt(std::make_unique<DirectDraw>(NewObjectId())));
  return DD_OK;
}
