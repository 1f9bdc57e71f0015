// Test controls of the display stand-ins: DirectDraw surfaces, the Direct3D device, GDI
// (included by platform/sim.h). sim::Reset() drops every display object, the trace and
// the fault rules, and configures the default display with the trace on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/d3d.h"

namespace sim {

// Pixel formats by name, for configurations and tests.
enum class PixelFormatName {
  R5G6B5,
  X1R5G5B5,
  A1R5G5B5,
  A4R4G4B4,
  X4R4G4B4,
  X8R8G8B8,
  A8R8G8B8,
  // Offered only to be skipped: enumerable, not creatable.
  R8G8B8,
  P8,
  A8R3G3B2,
  L8,
  A8L8,
  V8U8,
  DXT1,
  A8,
  // Z formats; only D16 is creatable.
  D16,
  D15S1,
  D24S8,
  D32,
  D24X8,
};
DDPIXELFORMAT MakePixelFormat(PixelFormatName name);

// One EnumDevices delivery.
struct Display3DDevice {
  GUID guid{};
  std::string description;
  std::string name;
  DWORD renderBitDepth = DDBD_16 | DDBD_32;
  DWORD minTextureWidth = 1;
  DWORD minTextureHeight = 1;
  DWORD maxTextureWidth = 2048;
  DWORD maxTextureHeight = 2048;
  DWORD textureCaps = D3DPTEXTURECAPS_POW2;  // D3DPTEXTURECAPS_POW2, _SQUAREONLY
  WORD maxTextureBlendStages = 8;
  WORD maxSimultaneousTextures = 8;
};

struct DisplayConfig {
  std::vector<Display3DDevice> devices;       // EnumDevices order
  std::vector<DDPIXELFORMAT> textureFormats;  // EnumTextureFormats order
  std::vector<DDPIXELFORMAT> zFormats;        // EnumZBufferFormats order
  DDPIXELFORMAT desktopFormat{};              // the display mode's format until SetDisplayMode
  int desktopWidth = 640;
  int desktopHeight = 480;
  int pitchPaddingBytes = 0;  // added to every surface's pitch, to expose pitch faults
  bool strictScene = false;   // Lock/Blt/BltFast/GetDC of the render target or its Z in a scene: a violation
  bool trace = true;          // record every call (tools and benchmarks turn it off)
};
// One hardware device (IID_IDirect3DHALDevice, 16 and 32 bits, textures 1..2048, POW2,
// 8 stages), the textures R5G6B5, X1R5G5B5, A1R5G5B5, A4R4G4B4, X8R8G8B8, A8R8G8B8,
// Z formats D16, and a 640 x 480 X8R8G8B8 desktop.
DisplayConfig DefaultDisplayConfig();
// Drops every display object, the trace and the display fault rules, then takes the
// configuration. Objects the library still holds become zombies. Until the first
// configuration (or sim::Reset) the display runs the default one with the trace off.
void ConfigureDisplay(const DisplayConfig& config);
const DisplayConfig& CurrentDisplayConfig();

enum class DisplayCall {
  QueryInterface,
  CreateSurface,
  SetCooperativeLevel,
  SetDisplayMode,
  Lock,
  Unlock,
  Blt,
  BltFast,
  GetDC,
  ReleaseDC,
  BitBlt,
  Restore,
  IsLost,
  SetColorKey,
  AddAttachedSurface,
  Flip,
  EnumDevices,
  EnumZBufferFormats,
  EnumTextureFormats,
  EnumCallback,  // one delivery of any enumeration (object: what enumerated)
  CreateDevice,
  BeginScene,
  EndScene,
  SetRenderTarget,
  SetViewport,
  SetRenderState,
  SetTextureStageState,
  SetTexture,
  SetTransform,
  DrawPrimitive,
  DrawIndexedPrimitive,
  Load,
  Release,
  GetSystemMetrics,
  Sleep,
  Violation,
};
const char* DisplayCallName(DisplayCall call);

// One trace entry, with the arguments decoded.
struct DisplayCallRecord {
  std::uint64_t sequence = 0;
  DisplayCall call{};
  int object = -1;    // surface, device or other object id; -1 none
  int stage = -1;     // texture stage
  DWORD type = 0;     // render/stage state, transform type, lock/blt/flip flags, metrics index
  DWORD value = 0;    // state value, fill colour or depth; CreateDevice: the new device's id;
                      // Release: the count left; EnumCallback: the callback's answer
  int surface = -1;   // texture, render target, source or destination surface id
  int surface2 = -1;  // the second surface of a copy
  bool hasRect = false;
  RECT rect{};
  bool hasRect2 = false;
  RECT rect2{};
  POINT point{};
  GUID guid{};            // CreateDevice, QueryInterface, EnumZBufferFormats class ids
  DDSURFACEDESC2 desc{};  // CreateSurface's description
  D3DVIEWPORT7 viewport{};
  D3DMATRIX matrix{};
  DWORD primitiveType = 0;
  DWORD fvf = 0;
  DWORD count = 0;                     // vertices; EnumCallback: the delivery's index
  std::vector<std::uint8_t> vertices;  // copy of a draw's vertex data
  std::vector<WORD> indices;
  HRESULT result = S_OK;
  std::string note;  // a violation's text
};
const std::vector<DisplayCallRecord>& DisplayTrace();
// The trace's position now, for "sent since".
std::size_t DisplayTraceMark();
// The calls of that kind since the mark that match (null: every one).
std::vector<DisplayCallRecord> DisplayCallsSince(
    std::size_t mark, DisplayCall call, const std::function<bool(const DisplayCallRecord&)>& match = {});
void ClearDisplayTrace();

// A fault rule: of the calls of `call` that match (null: any), let `skip` pass, then
// fail `times` of them (negative: for ever) with `result`. BitBlt failures set
// GetLastError to `lastError`. For the enumerations, afterCallbacks delivers every
// entry first and then fails. The match sees the call's decoded arguments.
struct DisplayFault {
  DisplayCall call{};
  std::function<bool(const DisplayCallRecord&)> match;
  int skip = 0;
  int times = 1;
  HRESULT result = E_FAIL;
  DWORD lastError = 0;
  bool afterCallbacks = false;
};
void AddDisplayFault(const DisplayFault& fault);
void ClearDisplayFaults();

// Surfaces by id: ids are given in creation order from 1 and never reused until
// ConfigureDisplay. Other objects (devices) are numbered apart, also from 1.
int SurfaceId(IDirectDrawSurface7* surface);  // -1 for null or unknown
std::string SurfaceLabel(int id);             // "primary", "back", "texture#3", "work#4", "z#5", "plain#6"
std::vector<int> LiveSurfaceIds();
// Loss: video-memory surfaces only (system-memory surfaces are never lost).
void LoseSurface(int id);
void LoseAllSurfaces();

struct SurfaceView {
  int width = 0;
  int height = 0;
  int pitch = 0;
  DDPIXELFORMAT format{};
  DWORD caps = 0;
  DWORD caps2 = 0;
  bool lost = false;
  bool locked = false;  // by Lock or a device context
  bool released = false;
  int referenceCount = 0;
  std::uint8_t* bits = nullptr;  // direct pixel (or Z) access; null once released
  int zId = -1;                  // the attached Z surface
  bool hasColorKey = false;
  DWORD colorKey = 0;
};
SurfaceView ViewSurface(int id);  // an empty view for an unknown id
// A pixel as 8-bit ARGB by the rasteriser's expansion (formats without alpha read 255);
// on a Z surface the raw 16-bit depth.
std::uint32_t ReadSurfacePixel(int id, int x, int y);
void WriteSurfacePixel(int id, int x, int y, std::uint32_t argb);

// The device's state as the stand-in holds it. id -1: the most recently created device.
struct DeviceView {
  int id = -1;
  bool released = true;
  DWORD renderState[kD3DRenderStateCount] = {};
  DWORD stageState[kD3DMaxStages][kD3DStageStateCount] = {};
  int texture[kD3DMaxStages] = {-1, -1, -1, -1, -1, -1, -1, -1};
  int target = -1;
  D3DVIEWPORT7 viewport{};
  bool inScene = false;
  D3DMATRIX transform[8] = {};
};
DeviceView ViewDevice(int id = -1);
int DeviceId(IDirect3DDevice7* device);

// Use after release, locks of the render target in a scene, bad indices, drawing
// outside a scene ...: each also appears in the trace as a Violation record.
std::vector<std::string> DisplayViolations();

// The video output of presented frames (Flip on the primary), chosen when the first
// DirectDraw object is made: GAMELIB_VIDEO "offline" (kept in memory only; the tests'
// default), "png:DIR" (each frame written as DIR/frame_NNNNNN.png), "sdl" (a window;
// the default when a display opens), else "offline". SetVideoOutput overrides it.
void SetVideoOutput(const std::string& spec);
std::string VideoOutputName();  // "offline", "png" or "sdl"
int PresentedFrameCount();
// The last presented frame as 0xAARRGGBB pixels (alpha 255), row by row.
bool LastPresentedFrame(std::vector<std::uint32_t>* pixels, int* width, int* height);

}  // namespace sim
