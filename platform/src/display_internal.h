// Shared between the parts of the display stand-ins (DirectDraw, Direct3D, GDI, the
// video output); not seen by the library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "d3d_raster.h"
#include "pixel_format.h"
#include "platform/d3d.h"
#include "platform/hooks.h"
#include "platform/sim_display.h"

namespace platform::display {

enum class Kind { DirectDraw, Direct3D, Device, Surface };

// What every display object shares: its id, its reference count and the zombie state.
// The world owns the memory; a count of 0 only makes the object a zombie.
class DisplayObject {
 public:
  DisplayObject(Kind kind, int id) : kind(kind), id(id) {}
  virtual ~DisplayObject() = default;
  DisplayObject(const DisplayObject&) = delete;
  DisplayObject& operator=(const DisplayObject&) = delete;

  virtual std::string Label() const = 0;
  // The interface pointer the library holds (the world's lookup key).
  virtual const void* Interface() const = 0;
  // At a count of 0: release what the object holds.
  virtual void DropReferences() {}
  // When the configuration drops the object: forget what it holds without releasing it.
  virtual void Forget() {}

  const Kind kind;
  const int id;
  ULONG refs = 1;
  bool zombie = false;
  bool stale = false;  // from an earlier configuration
};

class Surface;
class Device;

struct FaultState {
  sim::DisplayFault fault;
  int skipLeft = 0;
  int timesLeft = 0;  // negative: for ever
};

// The one display world: configuration, objects, trace, fault rules, violations.
struct World {
  std::recursive_mutex mutex;
  sim::DisplayConfig config;
  std::vector<std::unique_ptr<DisplayObject>> objects;  // this configuration's, in creation order
  std::vector<std::unique_ptr<DisplayObject>> stale;    // the previous configuration's, all zombies
  std::unordered_map<const void*, DisplayObject*> byInterface;
  int nextSurfaceId = 1;
  int nextObjectId = 1;
  int lastDeviceId = -1;
  std::vector<sim::DisplayCallRecord> trace;
  std::uint64_t sequence = 0;
  std::vector<FaultState> faults;
  std::vector<std::string> violations;
  // The display mode.
  int modeWidth = 0;
  int modeHeight = 0;
  pixel::Layout modeLayout = pixel::Layout::Unsupported;
  // Device contexts handed out: a handle value never dereferenced.
  std::unordered_map<const void*, Surface*> dcs;
  std::uintptr_t nextDc = 0;
};

World& TheWorld();
std::unique_lock<std::recursive_mutex> LockWorld();

// Registers an object made by a stand-in (the world owns it from now on).
template <class T>
T* Adopt(std::unique_ptr<T> object) {
  World& w = TheWorld();
  T* raw = object.get();
  w.byInterface[raw->Interface()] = raw;
  w.objects.push_back(std::move(object));
  return raw;
}
int NewSurfaceId();
int NewObjectId();

// A known object behind an interface pointer (zombies included), or null.
DisplayObject* FindObject(const void* iface);
Surface* FindSurface(IDirectDrawSurface7* surface);

void RecordViolation(const std::string& text);
void Trace(sim::DisplayCallRecord record);
bool Tracing();

// One call of a stand-in method: holds the world, checks the object and the fault
// rules, and records the call with its result.
class CallScope {
 public:
  CallScope(sim::DisplayCall call, DisplayObject* object);
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

  // Before the call does anything: a released object (DDERR_INVALIDOBJECT and a
  // violation), an injected failure (generic by name, then the display fault rules).
  // S_OK lets the call go on. For enumerations deliverThenFail asks to deliver first.
  HRESULT Enter();
  // A surface argument: DDERR_INVALIDOBJECT (with a violation for a released one)
  // unless it is a live surface.
  HRESULT CheckSurface(IDirectDrawSurface7* surface, Surface** out, bool allowNull = false);
  // Records the call now, before what it delivers (enumerations); Done sets its result.
  void TraceNow();
  // Records the call and returns hr.
  HRESULT Done(HRESULT hr);

  sim::DisplayCallRecord rec;
  bool deliverThenFail = false;
  HRESULT injected = S_OK;
  DWORD lastError = 0;

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  DisplayObject* object_;
  std::uint64_t tracedAs_ = 0;
  bool traced_ = false;
};

// A call the trace does not list, on a released object: DDERR_INVALIDOBJECT and a violation.
HRESULT ZombieCall(DisplayObject* object, const char* call);

// QueryInterface of an object with one interface (own) besides IUnknown.
HRESULT QueryOwnInterface(DisplayObject* object, IUnknown* iface, const IID& own, REFIID iid, void** out);

// Reference counting shared by every display object.
ULONG AddRefObject(DisplayObject* object);
// traced: the library's own Release (internal drops are not traced).
ULONG ReleaseObject(DisplayObject* object, bool traced);

void SetRect(sim::DisplayCallRecord& rec, const RECT* rect);
// 0 <= left < right <= width and likewise for y.
bool RectInside(const RECT& r, int width, int height);

class Surface final : public IDirectDrawSurface7, public DisplayObject {
 public:
  Surface(int id, std::string labelBase, int width, int height, pixel::Layout layout, DWORD caps,
          DWORD caps2);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override { return AddRefObject(this); }
  ULONG Release() override { return ReleaseObject(this, true); }
  HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override;
  HRESULT Unlock(RECT* rect) override;
  HRESULT Blt(RECT* dest, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) override;
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT IsLost() override;
  HRESULT Restore() override;
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT AddAttachedSurface(IDirectDrawSurface7* surface) override;
  HRESULT DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* surface) override;
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) override;
  HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) override;
  HRESULT GetPixelFormat(DDPIXELFORMAT* format) override;
  HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) override;

  std::string Label() const override;
  const void* Interface() const override { return static_cast<const IDirectDrawSurface7*>(this); }
  void DropReferences() override;
  void Forget() override;

  bool Busy() const { return locked || dc != nullptr; }
  bool Losable() const { return (caps & DDSCAPS_SYSTEMMEMORY) == 0; }
  int BytesPerPixel() const { return pixel::BytesPerPixel(layout); }
  std::uint8_t* Row(int y) { return bits.data() + static_cast<std::size_t>(y) * pitch; }
  std::uint8_t* At(int x, int y) { return Row(y) + static_cast<std::size_t>(x) * BytesPerPixel(); }
  raster::Surface RasterView();
  void FillDesc(DDSURFACEDESC2* desc) const;
  // Lost: no longer, and the contents poisoned.
  void RestoreContents();

  const std::string labelBase;
  const int width;
  const int height;
  const int pitch;
  const pixel::Layout layout;
  const DWORD caps;
  const DWORD caps2;
  std::vector<std::uint8_t> bits;
  bool lost = false;
  bool locked = false;
  bool lockedWithRect = false;
  RECT lockRect{};
  HDC dc = nullptr;
  bool hasColorKey = false;
  DWORD colorKey = 0;
  Surface* z = nullptr;     // attached Z (held)
  Surface* back = nullptr;  // attached back buffer of a flipping primary (held)
  bool primary = false;
};

// Copies `from` of src to (dx, dy) of dst, raw (the layouts are equal); source and
// destination may be one surface. DDBLTFAST_SRCCOLORKEY in keyFlags skips keyed pixels.
void CopyBlock(Surface* dst, int dx, int dy, Surface* src, const RECT& from, DWORD keyFlags);

// Records a touch of a render target or its Z during a scene in strict mode.
void NoteTargetTouch(Surface* surface, const char* call);

// The DirectDraw object's display mode and desktop, and surfaces' creation.
HRESULT CreateSurfaceFor(CallScope& scope, DDSURFACEDESC2* desc, IDirectDrawSurface7** out);
// The Direct3D object, made by QueryInterface on the DirectDraw object.
IDirect3D7* NewDirect3D(DisplayObject* directDraw);
// A device over a surface.
IDirect3DDevice7* NewDevice(const GUID& clsid, Surface* target);
HRESULT EnumTextureFormatsFor(DisplayObject* device, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context);
std::vector<Device*> LiveDevices();
void FillDeviceView(DisplayObject* object, sim::DeviceView* view);

// Video output of presented frames.
void PresentFrame(Surface& primary);
void ChooseVideoOutput();
void ResetVideoOutput();

// Runs hooks after each enumeration delivery.
void TraceDelivery(DisplayObject* enumerator, int index, HRESULT answer, const DDPIXELFORMAT* format,
                   const GUID* guid);

}  // namespace platform::display
