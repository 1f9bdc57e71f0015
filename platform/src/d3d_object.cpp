// The Direct3D object: the configured devices, Z formats and device creation.
#include <cstring>
#include <string>
#include <vector>

#include "display_internal.h"

namespace platform::display {

namespace {

D3DDEVICEDESC7 DescribeDevice(const sim::Display3DDevice& spec) {
  D3DDEVICEDESC7 desc{};
  desc.dpcLineCaps.dwSize = sizeof(D3DPRIMCAPS);
  desc.dpcTriCaps.dwSize = sizeof(D3DPRIMCAPS);
  desc.dpcTriCaps.dwTextureCaps = spec.textureCaps;
  desc.dwDeviceRenderBitDepth = spec.renderBitDepth;
  desc.dwDeviceZBufferBitDepth = DDBD_16;
  desc.dwMinTextureWidth = spec.minTextureWidth;
  desc.dwMinTextureHeight = spec.minTextureHeight;
  desc.dwMaxTextureWidth = spec.maxTextureWidth;
  desc.dwMaxTextureHeight = spec.maxTextureHeight;
  desc.wMaxTextureBlendStages = spec.maxTextureBlendStages;
  desc.wMaxSimultaneousTextures = spec.maxSimultaneousTextures;
  desc.deviceGUID = spec.guid;
  return desc;
}

// Delivers formats in order until the callback cancels; true when it ran.
void DeliverFormats(DisplayObject* enumerator, const std::vector<DDPIXELFORMAT>& formats,
                    LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
  for (std::size_t i = 0; i < formats.size(); ++i) {
    DDPIXELFORMAT format = formats[i];
    HRESULT answer = callback(&format, context);
    TraceDelivery(enumerator, static_cast<int>(i), answer, &formats[i], nullptr);
    if (answer == D3DENUMRET_CANCEL) break;
  }
}

class Direct3D final : public IDirect3D7, public DisplayObject {
 public:
  Direct3D(int id, DisplayObject* directDraw) : DisplayObject(Kind::Direct3D, id), directDraw_(directDraw) {
    ++directDraw_->refs;
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryOwnInterface(this, static_cast<IDirect3D7*>(this), IID_IDirect3D7, iid, object);
  }
  ULONG AddRef() override { return AddRefObject(this); }
  ULONG Release() override { return ReleaseObject(this, true); }

  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override {
    CallScope scope(sim::DisplayCall::EnumDevices, this);
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (callback == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
    scope.TraceNow();
    // A copy: the callback may reconfigure the display.
    std::vector<sim::Display3DDevice> devices = TheWorld().config.devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
      D3DDEVICEDESC7 desc = DescribeDevice(devices[i]);
      std::string description = devices[i].description, name = devices[i].name;
      HRESULT answer = callback(description.data(), name.data(), &desc, context);
      TraceDelivery(this, static_cast<int>(i), answer, nullptr, &devices[i].guid);
      if (answer == D3DENUMRET_CANCEL) break;
    }
    return scope.Done(scope.deliverThenFail ? scope.injected : D3D_OK);
  }

  HRESULT CreateDevice(REFCLSID clsid, IDirectDrawSurface7* surface, IDirect3DDevice7** device) override {
    CallScope scope(sim::DisplayCall::CreateDevice, this);
    scope.rec.guid = clsid;
    if (Surface* known = FindSurface(surface)) scope.rec.surface = known->id;
    if (device != nullptr) *device = nullptr;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (device == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
    Surface* target = nullptr;
    if (HRESULT hr = scope.CheckSurface(surface, &target); FAILED(hr)) return scope.Done(hr);
    bool configured = false;
    for (const auto& spec : TheWorld().config.devices) configured = configured || spec.guid == clsid;
    if (!configured) return scope.Done(D3DERR_INVALID_DEVICE);
    if (target->layout == pixel::Layout::D16) return scope.Done(DDERR_INVALIDCAPS);
    *device = NewDevice(clsid, target);
    scope.rec.value = static_cast<DWORD>(TheWorld().lastDeviceId);
    return scope.Done(D3D_OK);
  }

  HRESULT EnumZBufferFormats(REFCLSID clsid, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override {
    CallScope scope(sim::DisplayCall::EnumZBufferFormats, this);
    scope.rec.guid = clsid;
    if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
    if (callback == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
    scope.TraceNow();
    DeliverFormats(this, std::vector<DDPIXELFORMAT>(TheWorld().config.zFormats), callback, context);
    return scope.Done(scope.deliverThenFail ? scope.injected : D3D_OK);
  }

  std::string Label() const override { return "direct3d#" + std::to_string(id); }
  const void* Interface() const override { return static_cast<const IDirect3D7*>(this); }
  void DropReferences() override {
    DisplayObject* held = directDraw_;
    directDraw_ = nullptr;
    if (held != nullptr) ReleaseObject(held, false);
  }
  void Forget() override { directDraw_ = nullptr; }

 private:
  DisplayObject* directDraw_;
};

}  // namespace

IDirect3D7* NewDirect3D(DisplayObject* directDraw) {
  return Adopt(std::make_unique<Direct3D>(NewObjectId(), directDraw));
}

HRESULT EnumTextureFormatsFor(DisplayObject* device, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
  CallScope scope(sim::DisplayCall::EnumTextureFormats, device);
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (callback == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
  scope.TraceNow();
  DeliverFormats(device, std::vector<DDPIXELFORMAT>(TheWorld().config.textureFormats), callback, context);
  return scope.Done(scope.deliverThenFail ? scope.injected : D3D_OK);
}

}  // namespace platform::display
