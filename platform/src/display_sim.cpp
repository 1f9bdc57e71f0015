// The display world the DirectDraw, Direct3D and GDI stand-ins share: configuration,
// object lifetimes (zombies), the call trace, fault rules, violations and the test
// controls that read surfaces and devices.
#include <algorithm>
#include <cstring>

#include "display_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"

namespace platform::display {

World& TheWorld() {
  // Never destroyed: the library may still release objects while the program exits.
  static auto* world = [] {
    auto* w = new World;
    w->config = sim::DefaultDisplayConfig();
    // A program that never touches the controls keeps no trace (it would only grow).
    w->config.trace = false;
    w->modeWidth = w->config.desktopWidth;
    w->modeHeight = w->config.desktopHeight;
    w->modeLayout = pixel::Classify(w->config.desktopFormat);
    return w;
  }();
  return *world;
}

std::unique_lock<std::recursive_mutex> LockWorld() { return std::unique_lock(TheWorld().mutex); }

int NewSurfaceId() { return TheWorld().nextSurfaceId++; }
int NewObjectId() { return TheWorld().nextObjectId++; }

DisplayObject* FindObject(const void* iface) {
  if (iface == nullptr) return nullptr;
  World& w = TheWorld();
  auto it = w.byInterface.find(iface);
  return it == w.byInterface.end() ? nullptr : it->second;
}

Surface* FindSurface(IDirectDrawSurface7* surface) {
  DisplayObject* object = FindObject(surface);
  if (object == nullptr || object->kind != Kind::Surface) return nullptr;
  return static_cast<Surface*>(object);
}

bool Tracing() { return TheWorld().config.trace; }

void Trace(sim::DisplayCallRecord record) {
  World& w = TheWorld();
  record.sequence = w.sequence++;
  w.trace.push_back(std::move(record));
}

void RecordViolation(const std::string& text) {
  World& w = TheWorld();
  w.violations.push_back(text);
  if (!Tracing()) return;
  sim::DisplayCallRecord rec;
  rec.call = sim::DisplayCall::Violation;
  rec.note = text;
  Trace(std::move(rec));
}

void SetRect(sim::DisplayCallRecord& rec, const RECT* rect) {
  rec.hasRect = rect != nullptr;
  if (rect != nullptr) rec.rect = *rect;
}

bool RectInside(const RECT& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= width &&
         r.bottom <= height;
}

CallScope::CallScope(sim::DisplayCall call, DisplayObject* object)
    : lock_(TheWorld().mutex), object_(object) {
  rec.call = call;
  if (object != nullptr) rec.object = object->id;
}

HRESULT CallScope::Enter() {
  if (object_ != nullptr && object_->zombie) {
    RecordViolation(std::string(sim::DisplayCallName(rec.call)) + " on released " + object_->Label());
    return DDERR_INVALIDOBJECT;
  }
  if (ShouldFail(sim::DisplayCallName(rec.call))) {
    injected = DDERR_GENERIC;
    lastError = ERROR_INVALID_PARAMETER;
  }
  // Every matching rule counts the call, so rules on one call stay independent.
  for (FaultState& f : TheWorld().faults) {
    if (f.fault.call != rec.call) continue;
    if (f.fault.match && !f.fault.match(rec)) continue;
    if (f.skipLeft > 0) {
      --f.skipLeft;
      continue;
    }
    if (f.timesLeft == 0) continue;
    if (f.timesLeft > 0) --f.timesLeft;
    if (injected == S_OK) {
      injected = f.fault.result;
      lastError = f.fault.lastError;
      deliverThenFail = f.fault.afterCallbacks;
    }
  }
  if (deliverThenFail) return S_OK;
  return injected;
}

HRESULT CallScope::CheckSurface(IDirectDrawSurface7* surface, Surface** out, bool allowNull) {
  *out = nullptr;
  if (surface == nullptr) return allowNull ? S_OK : DDERR_INVALIDPARAMS;
  Surface* s = FindSurface(surface);
  if (s == nullptr) return DDERR_INVALIDOBJECT;
  if (s->zombie) {
    RecordViolation(std::string(sim::DisplayCallName(rec.call)) + " with released " + s->Label());
    return DDERR_INVALIDOBJECT;
  }
  *out = s;
  return S_OK;
}

void CallScope::TraceNow() {
  if (!Tracing() || traced_) return;
  traced_ = true;
  tracedAs_ = TheWorld().sequence;
  Trace(rec);
}

HRESULT CallScope::Done(HRESULT hr) {
  if (traced_) {
    // The record went in before the deliveries; find it again (the trace may have been cleared).
    for (auto it = TheWorld().trace.rbegin(); it != TheWorld().trace.rend(); ++it) {
      if (it->sequence == tracedAs_) {
        it->result = hr;
        break;
      }
    }
    return hr;
  }
  if (Tracing()) {
    rec.result = hr;
    Trace(std::move(rec));
  }
  return hr;
}

HRESULT QueryOwnInterface(DisplayObject* object, IUnknown* iface, const IID& own, REFIID iid, void** out) {
  CallScope scope(sim::DisplayCall::QueryInterface, object);
  scope.rec.guid = iid;
  if (out == nullptr) return scope.Done(E_POINTER);
  *out = nullptr;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (iid != own && iid != IID_IUnknown) return scope.Done(E_NOINTERFACE);
  ++object->refs;
  *out = iface;
  return scope.Done(S_OK);
}

HRESULT ZombieCall(DisplayObject* object, const char* call) {
  RecordViolation(std::string(call) + " on released " + object->Label());
  return DDERR_INVALIDOBJECT;
}

ULONG AddRefObject(DisplayObject* object) {
  auto lock = LockWorld();
  if (object->zombie) {
    RecordViolation("AddRef on released " + object->Label());
    return 0;
  }
  return ++object->refs;
}

ULONG ReleaseObject(DisplayObject* object, bool traced) {
  auto lock = LockWorld();
  if (object->zombie) {
    RecordViolation("Release of released " + object->Label());
    return 0;
  }
  ULONG left = --object->refs;
  if (traced && Tracing()) {
    sim::DisplayCallRecord rec;
    rec.call = sim::DisplayCall::Release;
    rec.object = object->id;
    if (object->kind == Kind::Surface) rec.surface = object->id;
    rec.value = left;
    Trace(std::move(rec));
  }
  if (left == 0) {
    object->zombie = true;
    object->DropReferences();
  }
  return left;
}

void TraceDelivery(DisplayObject* enumerator, int index, HRESULT answer, const DDPIXELFORMAT* format,
                   const GUID* guid) {
  if (!Tracing()) return;
  sim::DisplayCallRecord rec;
  rec.call = sim::DisplayCall::EnumCallback;
  rec.object = enumerator->id;
  rec.count = static_cast<DWORD>(index);
  rec.value = static_cast<DWORD>(answer);
  if (format != nullptr) rec.desc.ddpfPixelFormat = *format;
  if (guid != nullptr) rec.guid = *guid;
  Trace(std::move(rec));
}

namespace {

Surface* SurfaceById(int id) {
  for (auto& object : TheWorld().objects) {
    if (object->kind == Kind::Surface && object->id == id) return static_cast<Surface*>(object.get());
  }
  return nullptr;
}

int LiveDisplayObjects() {
  auto lock = LockWorld();
  int live = 0;
  for (auto& object : TheWorld().objects) live += object->zombie ? 0 : 1;
  return live;
}

void ResetDisplay() {
  sim::ConfigureDisplay(sim::DefaultDisplayConfig());
  ResetVideoOutput();
}

void NoteSleep(DWORD milliseconds) {
  auto lock = LockWorld();
  if (!Tracing()) return;
  sim::DisplayCallRecord rec;
  rec.call = sim::DisplayCall::Sleep;
  rec.value = milliseconds;
  Trace(std::move(rec));
}

}  // namespace

}  // namespace platform::display

namespace platform {

void RegisterDisplay() {
  OnReset(&display::ResetDisplay);
  AddLiveObjectCounter(&display::LiveDisplayObjects);
  OnSleep(&display::NoteSleep);
}

}  // namespace platform

namespace sim {

using platform::display::DisplayObject;
using platform::display::Kind;
using platform::display::LockWorld;
using platform::display::Surface;
using platform::display::TheWorld;
namespace pixel = platform::pixel;

DDPIXELFORMAT MakePixelFormat(PixelFormatName name) {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof f;
  auto set = [&f](DWORD flags, DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    f.dwFlags = flags;
    f.dwRGBBitCount = bits;
    f.dwRBitMask = r;
    f.dwGBitMask = g;
    f.dwBBitMask = b;
    f.dwRGBAlphaBitMask = a;
  };
  switch (name) {
    case PixelFormatName::R5G6B5:
      return pixel::FormatOf(pixel::Layout::R5G6B5);
    case PixelFormatName::X1R5G5B5:
      return pixel::FormatOf(pixel::Layout::X1R5G5B5);
    case PixelFormatName::A1R5G5B5:
      return pixel::FormatOf(pixel::Layout::A1R5G5B5);
    case PixelFormatName::A4R4G4B4:
      return pixel::FormatOf(pixel::Layout::A4R4G4B4);
    case PixelFormatName::X4R4G4B4:
      return pixel::FormatOf(pixel::Layout::X4R4G4B4);
    case PixelFormatName::X8R8G8B8:
      return pixel::FormatOf(pixel::Layout::X8R8G8B8);
    case PixelFormatName::A8R8G8B8:
      return pixel::FormatOf(pixel::Layout::A8R8G8B8);
    case PixelFormatName::D16:
      return pixel::FormatOf(pixel::Layout::D16);
    case PixelFormatName::R8G8B8:
      set(DDPF_RGB, 24, 0xFF0000, 0xFF00, 0xFF, 0);
      break;
    case PixelFormatName::P8:
      set(DDPF_RGB | DDPF_PALETTEINDEXED8, 8, 0, 0, 0, 0);
      break;
    case PixelFormatName::A8R3G3B2:
      set(DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0xE0, 0x1C, 0x03, 0xFF00);
      break;
    case PixelFormatName::L8:
      set(DDPF_LUMINANCE, 8, 0xFF, 0, 0, 0);
      break;
    case PixelFormatName::A8L8:
      set(DDPF_LUMINANCE | DDPF_ALPHAPIXELS, 16, 0xFF, 0, 0, 0xFF00);
      break;
    case PixelFormatName::V8U8:
      set(DDPF_BUMPDUDV, 16, 0xFF, 0xFF00, 0, 0);
      break;
    case PixelFormatName::DXT1:
      f.dwFlags = DDPF_FOURCC;
      f.dwFourCC = 0x31545844;  // 'D' 'X' 'T' '1'
      break;
    case PixelFormatName::A8:
      set(DDPF_ALPHA, 8, 0, 0, 0, 0xFF);
      break;
    case PixelFormatName::D15S1:
      set(DDPF_ZBUFFER | DDPF_STENCILBUFFER, 16, 1, 0xFFFE, 0x1, 0);
      break;
    case PixelFormatName::D24S8:
      set(DDPF_ZBUFFER | DDPF_STENCILBUFFER, 32, 8, 0xFFFFFF00u, 0xFF, 0);
      break;
    case PixelFormatName::D32:
      set(DDPF_ZBUFFER, 32, 0, 0xFFFFFFFFu, 0, 0);
      break;
    case PixelFormatName::D24X8:
      set(DDPF_ZBUFFER, 32, 0, 0xFFFFFF00u, 0, 0);
      break;
  }
  return f;
}

DisplayConfig DefaultDisplayConfig() {
  DisplayConfig config;
  Display3DDevice hal;
  hal.guid = IID_IDirect3DHALDevice;
  hal.description = "Hardware rasterisation";
  hal.name = "Direct3D HAL";
  config.devices.push_back(hal);
  for (PixelFormatName name :
       {PixelFormatName::R5G6B5, PixelFormatName::X1R5G5B5, PixelFormatName::A1R5G5B5,
        PixelFormatName::A4R4G4B4, PixelFormatName::X8R8G8B8, PixelFormatName::A8R8G8B8})
    config.textureFormats.push_back(MakePixelFormat(name));
  config.zFormats.push_back(MakePixelFormat(PixelFormatName::D16));
  config.desktopFormat = MakePixelFormat(PixelFormatName::X8R8G8B8);
  return config;
}

void ConfigureDisplay(const DisplayConfig& config) {
  auto lock = LockWorld();
  auto& w = TheWorld();
  // The previous configuration's zombies go now; what the library still holds of this
  // one becomes a zombie that is kept until the next configuration.
  for (auto& object : w.stale) w.byInterface.erase(object->Interface());
  w.stale.clear();
  std::vector<std::unique_ptr<DisplayObject>> objects = std::move(w.objects);
  w.objects.clear();
  for (auto& object : objects) {
    if (object->zombie) {
      w.byInterface.erase(object->Interface());
      continue;
    }
    object->Forget();
    object->zombie = true;
    object->stale = true;
    w.stale.push_back(std::move(object));
  }
  objects.clear();
  w.config = config;
  w.config.pitchPaddingBytes = std::clamp(config.pitchPaddingBytes, 0, 4096);
  w.nextSurfaceId = 1;
  w.nextObjectId = 1;
  w.lastDeviceId = -1;
  w.trace.clear();
  w.sequence = 0;
  w.faults.clear();
  w.violations.clear();
  w.modeWidth = config.desktopWidth;
  w.modeHeight = config.desktopHeight;
  w.modeLayout = pixel::Classify(config.desktopFormat);
  w.dcs.clear();
}

const DisplayConfig& CurrentDisplayConfig() { return TheWorld().config; }

const char* DisplayCallName(DisplayCall call) {
  switch (call) {
    case DisplayCall::QueryInterface:
      return "QueryInterface";
    case DisplayCall::CreateSurface:
      return "CreateSurface";
    case DisplayCall::SetCooperativeLevel:
      return "SetCooperativeLevel";
    case DisplayCall::SetDisplayMode:
      return "SetDisplayMode";
    case DisplayCall::Lock:
      return "Lock";
    case DisplayCall::Unlock:
      return "Unlock";
    case DisplayCall::Blt:
      return "Blt";
    case DisplayCall::BltFast:
      return "BltFast";
    case DisplayCall::GetDC:
      return "GetDC";
    case DisplayCall::ReleaseDC:
      return "ReleaseDC";
    case DisplayCall::BitBlt:
      return "BitBlt";
    case DisplayCall::Restore:
      return "Restore";
    case DisplayCall::IsLost:
      return "IsLost";
    case DisplayCall::SetColorKey:
      return "SetColorKey";
    case DisplayCall::AddAttachedSurface:
      return "AddAttachedSurface";
    case DisplayCall::Flip:
      return "Flip";
    case DisplayCall::EnumDevices:
      return "EnumDevices";
    case DisplayCall::EnumZBufferFormats:
      return "EnumZBufferFormats";
    case DisplayCall::EnumTextureFormats:
      return "EnumTextureFormats";
    case DisplayCall::EnumCallback:
      return "EnumCallback";
    case DisplayCall::CreateDevice:
      return "CreateDevice";
    case DisplayCall::BeginScene:
      return "BeginScene";
    case DisplayCall::EndScene:
      return "EndScene";
    case DisplayCall::SetRenderTarget:
      return "SetRenderTarget";
    case DisplayCall::SetViewport:
      return "SetViewport";
    case DisplayCall::SetRenderState:
      return "SetRenderState";
    case DisplayCall::SetTextureStageState:
      return "SetTextureStageState";
    case DisplayCall::SetTexture:
      return "SetTexture";
    case DisplayCall::SetTransform:
      return "SetTransform";
    case DisplayCall::DrawPrimitive:
      return "DrawPrimitive";
    case DisplayCall::DrawIndexedPrimitive:
      return "DrawIndexedPrimitive";
    case DisplayCall::Load:
      return "Load";
    case DisplayCall::Release:
      return "Release";
    case DisplayCall::GetSystemMetrics:
      return "GetSystemMetrics";
    case DisplayCall::Sleep:
      return "Sleep";
    case DisplayCall::Violation:
      return "Violation";
  }
  return "?";
}

const std::vector<DisplayCallRecord>& DisplayTrace() { return TheWorld().trace; }

std::size_t DisplayTraceMark() {
  auto lock = LockWorld();
  return TheWorld().trace.size();
}

std::vector<DisplayCallRecord> DisplayCallsSince(std::size_t mark, DisplayCall call,
                                                 const std::function<bool(const DisplayCallRecord&)>& match) {
  auto lock = LockWorld();
  const auto& trace = TheWorld().trace;
  std::vector<DisplayCallRecord> found;
  for (std::size_t i = mark; i < trace.size(); ++i) {
    if (trace[i].call == call && (!match || match(trace[i]))) found.push_back(trace[i]);
  }
  return found;
}

void ClearDisplayTrace() {
  auto lock = LockWorld();
  TheWorld().trace.clear();
}

void AddDisplayFault(const DisplayFault& fault) {
  auto lock = LockWorld();
  platform::display::FaultState state;
  state.fault = fault;
  state.skipLeft = std::max(0, fault.skip);
  state.timesLeft = fault.times;
  TheWorld().faults.push_back(std::move(state));
}

void ClearDisplayFaults() {
  auto lock = LockWorld();
  TheWorld().faults.clear();
}

int SurfaceId(IDirectDrawSurface7* surface) {
  auto lock = LockWorld();
  Surface* s = platform::display::FindSurface(surface);
  return s == nullptr || s->stale ? -1 : s->id;
}

std::string SurfaceLabel(int id) {
  auto lock = LockWorld();
  Surface* s = platform::display::SurfaceById(id);
  return s == nullptr ? std::string() : s->Label();
}

std::vector<int> LiveSurfaceIds() {
  auto lock = LockWorld();
  std::vector<int> ids;
  for (auto& object : TheWorld().objects) {
    if (object->kind == Kind::Surface && !object->zombie) ids.push_back(object->id);
  }
  return ids;
}

void LoseSurface(int id) {
  auto lock = LockWorld();
  Surface* s = platform::display::SurfaceById(id);
  if (s != nullptr && s->Losable()) s->lost = true;
}

void LoseAllSurfaces() {
  auto lock = LockWorld();
  for (auto& object : TheWorld().objects) {
    if (object->kind != Kind::Surface) continue;
    auto* s = static_cast<Surface*>(object.get());
    if (s->Losable()) s->lost = true;
  }
}

SurfaceView ViewSurface(int id) {
  auto lock = LockWorld();
  SurfaceView view;
  Surface* s = platform::display::SurfaceById(id);
  if (s == nullptr) return view;
  view.width = s->width;
  view.height = s->height;
  view.pitch = s->pitch;
  view.format = pixel::FormatOf(s->layout);
  view.caps = s->caps;
  view.caps2 = s->caps2;
  view.lost = s->lost;
  view.locked = s->Busy();
  view.released = s->zombie;
  view.referenceCount = static_cast<int>(s->zombie ? 0 : s->refs);
  view.bits = s->bits.empty() ? nullptr : s->bits.data();
  view.zId = s->z != nullptr ? s->z->id : -1;
  view.hasColorKey = s->hasColorKey;
  view.colorKey = s->colorKey;
  return view;
}

std::uint32_t ReadSurfacePixel(int id, int x, int y) {
  auto lock = LockWorld();
  Surface* s = platform::display::SurfaceById(id);
  if (s == nullptr || s->zombie || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0;
  if (s->layout == pixel::Layout::D16) return pixel::ReadRaw(s->layout, s->At(x, y));
  return pixel::ReadARGB(s->layout, s->At(x, y));
}

void WriteSurfacePixel(int id, int x, int y, std::uint32_t argb) {
  auto lock = LockWorld();
  Surface* s = platform::display::SurfaceById(id);
  if (s == nullptr || s->zombie || x < 0 || y < 0 || x >= s->width || y >= s->height) return;
  if (s->layout == pixel::Layout::D16) {
    pixel::WriteRaw(s->layout, s->At(x, y), argb & 0xFFFF);
    return;
  }
  pixel::WriteARGB(s->layout, s->At(x, y), argb);
}

DeviceView ViewDevice(int id) {
  auto lock = LockWorld();
  DeviceView view;
  auto& w = TheWorld();
  if (id < 0) id = w.lastDeviceId;
  for (auto& object : w.objects) {
    if (object->kind == Kind::Device && object->id == id) {
      platform::display::FillDeviceView(object.get(), &view);
      break;
    }
  }
  return view;
}

int DeviceId(IDirect3DDevice7* device) {
  auto lock = LockWorld();
  DisplayObject* object = platform::display::FindObject(device);
  return object == nullptr || object->kind != Kind::Device || object->stale ? -1 : object->id;
}

std::vector<std::string> DisplayViolations() {
  auto lock = LockWorld();
  return TheWorld().violations;
}

}  // namespace sim
