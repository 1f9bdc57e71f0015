// The DirectDraw screen: object, primary with its back buffer, work surface, the mode
// change, restore after a loss, and the flip.
#include "graphics/screen.h"

#include "gamelib/core.h"
#include "graphics/color_data.h"
#include "graphics/draw_state.h"
#include "graphics/graph_records.h"
#include "graphics/graphics_hooks.h"
#include "graphics/graphs.h"
#include "graphics/lights.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;
constexpr int kDefaultDepth = 16;

struct ScreenState {
  IDirectDraw7* directDraw = nullptr;
  IDirectDrawSurface7* primary = nullptr;
  IDirectDrawSurface7* back = nullptr;
  IDirectDrawSurface7* work = nullptr;
  DDPIXELFORMAT pixelFormat{};
  ColorData colorData{};
  bool made = false;  // the surfaces above exist
  int modeWidth = kDefaultWidth;
  int modeHeight = kDefaultHeight;
  int modeDepth = kDefaultDepth;
  int use3D = 1;
  int notUse3D = 0;
  bool refuse3D = false;  // the 3-D start-up failed: this run goes without it
  bool running = false;
  int depthOverride = 0;
};

ScreenState g_screen;

void Release(IDirectDrawSurface7*& surface) {
  if (surface != nullptr) surface->Release();
  surface = nullptr;
}

void ReleaseScreenSurfaces() {
  Release(g_screen.work);
  Release(g_screen.back);
  Release(g_screen.primary);
  g_screen.made = false;
}

// The layout GetColor uses before any screen exists.
const ColorData& FallbackColorData() {
  static ColorData c = [] {
    ColorData d{};
    CreateColorDataFromMasks(&d, 16, 0xF800, 0x07E0, 0x001F, 0);
    return d;
  }();
  return c;
}

int MakeScreenSurfaces() {
  IDirectDraw7* dd = g_screen.directDraw;
  const int windowed = GetWindowModeFlag();
  dd->SetCooperativeLevel(GetMainWindowHandle(),
                          windowed ? DDSCL_NORMAL : DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
  if (dd->SetDisplayMode(g_screen.modeWidth, g_screen.modeHeight, g_screen.modeDepth, 0, 0) != DD_OK)
    return -1;
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  if (dd->CreateSurface(&desc, &g_screen.primary, nullptr) != DD_OK) {
    g_screen.primary = nullptr;
    return -1;
  }
  DDSCAPS2 backCaps{};
  backCaps.dwCaps = DDSCAPS_BACKBUFFER;
  if (g_screen.primary->GetAttachedSurface(&backCaps, &g_screen.back) != DD_OK) {
    g_screen.back = nullptr;
    return -1;
  }
  g_screen.pixelFormat = DDPIXELFORMAT{};
  g_screen.pixelFormat.dwSize = sizeof(DDPIXELFORMAT);
  if (g_screen.primary->GetPixelFormat(&g_screen.pixelFormat) != DD_OK ||
      CreateColorDataFromPixelFormat(&g_screen.pixelFormat, &g_screen.colorData) != 0) {
    return -1;
  }
  DDSURFACEDESC2 work{};
  work.dwSize = sizeof(work);
  work.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  work.dwWidth = g_screen.modeWidth;
  work.dwHeight = g_screen.modeHeight;
  work.ddpfPixelFormat = g_screen.pixelFormat;
  work.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
  if (dd->CreateSurface(&work, &g_screen.work, nullptr) != DD_OK) {
    g_screen.work = nullptr;
    return -1;
  }
  g_screen.made = true;
  return 0;
}

int ClearPage(IDirectDrawSurface7* surface) {
  if (surface == nullptr) return -1;
  int r = 0, g = 0, b = 0;
  GetBackgroundColor(&r, &g, &b);
  DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  fx.dwFillColor = GetColorForFormat(&g_screen.colorData, r, g, b, 0);
  return surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx) == DD_OK ? 0 : -1;
}

}  // namespace

IDirectDraw7* GetDirectDrawObject() { return g_screen.directDraw; }
IDirectDrawSurface7* GetFrontSurface() { return g_screen.primary; }
IDirectDrawSurface7* GetBackSurface() { return g_screen.back; }
IDirectDrawSurface7* GetWorkSurface() { return g_screen.work; }

IDirectDrawSurface7* GetDrawTargetSurface() {
  const int screen = GetDrawState().drawScreen;
  if (screen == kDrawScreenFront) return g_screen.primary;
  if (screen == kDrawScreenBack) return g_screen.back;
  return GetGraphTargetSurface(screen);
}

int IsDrawTargetPrimary() {
  return GetWindowModeFlag() == 1 && g_screen.primary != nullptr && GetDrawTargetSurface() == g_screen.primary
             ? 1
             : 0;
}

int GetScreenColorBitDepth() {
  if (g_screen.depthOverride != 0) return g_screen.depthOverride;
  return g_screen.made ? g_screen.colorData.colorBitDepth : kDefaultDepth;
}
void OverrideScreenColorBitDepth(int depth) { g_screen.depthOverride = depth; }

const ColorData* GetScreenColorData() { return g_screen.made ? &g_screen.colorData : &FallbackColorData(); }
const DDPIXELFORMAT* GetScreenPixelFormat() { return &g_screen.pixelFormat; }

void GetScreenSize(int* width, int* height) {
  if (width != nullptr) *width = g_screen.modeWidth;
  if (height != nullptr) *height = g_screen.modeHeight;
}

int GetActiveDrawScreen() { return GetDrawState().drawScreen; }

bool UseTexturesForNewGraphs() {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  return g_screen.use3D && !g_screen.notUse3D && hooks.getDeviceValid != nullptr &&
         hooks.getDeviceValid() != nullptr && GetDrawState().use3DDrawingAvailable;
}

int ChangeScreenModeCore() {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  CloseDeviceScene();
  // The 3-D side goes before the surfaces it was made on.
  if (hooks.terminateDirect3D != nullptr) hooks.terminateDirect3D();
  ReleaseScreenSurfaces();
  if (g_screen.directDraw == nullptr) return -1;
  if (MakeScreenSurfaces() != 0) {
    ReleaseScreenSurfaces();
    return -1;
  }
  DrawState& state = GetDrawState();
  if (state.drawScreen == kDrawScreenFront || state.drawScreen == kDrawScreenBack) {
    SetDrawScreenSize(g_screen.modeWidth, g_screen.modeHeight);
  }
  if (!g_screen.notUse3D && !g_screen.refuse3D && hooks.initializeDirect3D != nullptr) {
    if (hooks.initializeDirect3D() < 0) return -1;
  }
  return 0;
}

int TerminateDirectDraw() {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  CloseDeviceScene();
  if (hooks.terminateDirect3D != nullptr) hooks.terminateDirect3D();
  ReleaseScreenSurfaces();
  if (g_screen.directDraw != nullptr) {
    g_screen.directDraw->RestoreDisplayMode();
    g_screen.directDraw->Release();
    g_screen.directDraw = nullptr;
  }
  return 0;
}

int InitializeGraphicsSystem() {
  if (g_screen.running) return -1;
  void* object = nullptr;
  if (DirectDrawCreateEx(nullptr, &object, IID_IDirectDraw7, nullptr) != DD_OK || object == nullptr)
    return -1;
  g_screen.directDraw = static_cast<IDirectDraw7*>(object);
  InitializeSurfaceTable();
  g_screen.refuse3D = false;
  if (ChangeScreenModeCore() != 0) {
    // Without the 3-D device the screen may still work: try again without it.
    g_screen.refuse3D = true;
    if (ChangeScreenModeCore() != 0) {
      TerminateDirectDraw();
      return -1;
    }
  }
  g_screen.running = true;
  GetDrawState().drawScreen = kDrawScreenBack;
  InitializeGraphManagement();
  ResetDrawState();
  SetDrawScreen(kDrawScreenBack);
  ClearPage(g_screen.back);
  ClearPage(g_screen.primary);
  return 0;
}

int TerminateGraphicsSystem() {
  if (!g_screen.running && g_screen.directDraw == nullptr) return -1;
  DeleteAllGraphs();
  TerminateDirectDraw();
  DeleteAllSurfaces();
  DeleteAllLightRecords();
  GetDrawState().defaultLightHandle = -1;
  GetDrawState().use3DDrawingAvailable = 0;
  GetDrawState().drawScreen = kDrawScreenBack;
  g_screen.running = false;
  return 0;
}

bool GraphicsSystemRunning() { return g_screen.running; }

int RestoreGraphSystem() {
  if (!g_screen.running) return -1;
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  CloseDeviceScene();
  if (hooks.releaseDirect3DObject != nullptr) hooks.releaseDirect3DObject();
  for (IDirectDrawSurface7* s : {g_screen.primary, g_screen.back, g_screen.work}) {
    if (s != nullptr && s->IsLost() == DDERR_SURFACELOST) s->Restore();
  }
  int result = 0;
  if (hooks.acquireDirect3DAndDevice != nullptr && hooks.acquireDirect3DAndDevice() < 0) result = -1;
  RestoreAllGraphs();
  if (GetDrawState().graphRestoreCallback != nullptr) GetDrawState().graphRestoreCallback();
  return result;
}

int SetGraphMode(int width, int height, int colorBitDepth) {
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return -1;
  if (colorBitDepth != 16 && colorBitDepth != 32) return -1;
  g_screen.modeWidth = width;
  g_screen.modeHeight = height;
  g_screen.modeDepth = colorBitDepth;
  if (!g_screen.running) return 0;
  // The graphs of the old mode go with it.
  DeleteAllGraphs();
  int result = ChangeScreenModeCore();
  if (result != 0 && !g_screen.refuse3D) {
    g_screen.refuse3D = true;
    result = ChangeScreenModeCore();
  }
  InitializeGraphManagement();
  SetDrawScreen(kDrawScreenBack);
  return result;
}

int GetScreenState(int* width, int* height, int* colorBitDepth) {
  GetScreenSize(width, height);
  if (colorBitDepth != nullptr) *colorBitDepth = GetScreenColorBitDepth();
  return 0;
}

int SetUse3DFlag(int flag) {
  g_screen.use3D = flag != 0;
  return 0;
}
int GetUse3DFlag() { return g_screen.use3D; }
int SetNotUse3DFlag(int flag) {
  g_screen.notUse3D = flag != 0;
  return 0;
}
int GetNotUse3DFlag() { return g_screen.notUse3D; }

int IsUse3DDrawing() {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  return hooks.getDeviceValid != nullptr && hooks.getDeviceValid() != nullptr ? 1 : 0;
}

int GetColor(int red, int green, int blue) {
  return static_cast<int>(GetColorForFormat(GetScreenColorData(), red, green, blue, 0));
}

int GetColorRGB(int color, int* red, int* green, int* blue) {
  const std::uint32_t argb = DecodePixel(*GetScreenColorData(), static_cast<std::uint32_t>(color));
  if (red != nullptr) *red = static_cast<int>((argb >> 16) & 0xFF);
  if (green != nullptr) *green = static_cast<int>((argb >> 8) & 0xFF);
  if (blue != nullptr) *blue = static_cast<int>(argb & 0xFF);
  return 0;
}

int ScreenFlip() {
  if (g_screen.primary == nullptr) return -1;
  CloseDeviceScene();
  const HRESULT hr = g_screen.primary->Flip(nullptr, DDFLIP_WAIT);
  if (hr == DDERR_SURFACELOST) {
    RestoreGraphSystem();
    return -1;
  }
  return hr == DD_OK ? 0 : -1;
}

}  // namespace gamelib
