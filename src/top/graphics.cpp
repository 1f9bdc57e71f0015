// The graphics system as the library's start-up and shutdown run it: the 3-D back end
// is handed to the graphics core as its hook table first.
#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/graph_drawing.h"
#include "d3d/lights_transforms.h"
#include "d3d/texture_formats.h"
#include "d3d/texture_pieces.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"
#include "softrender/soft_target.h"
#include "top/top.h"

namespace gamelib {
namespace {

int SelectSlot(const unsigned char* createBytes) {
  SurfaceCreateBytes bytes{};
  static_assert(sizeof(bytes) == 9);
  std::memcpy(&bytes, createBytes, sizeof(bytes));
  return SelectTextureFormatIndex(bytes);
}

int TextureFormatOf(int slot, DDPIXELFORMAT* format, ColorData* colorData) {
  const TextureFormatRecord* record = GetTextureFormatEntry(slot);
  if (record == nullptr || record->colorData.colorBitDepth == 0) return -1;
  *format = record->pixelFormat;
  *colorData = record->colorData;
  return 0;
}

// Start-up clears the draw colour; it is worked out again from the draw state at once.
int StartDirect3D() {
  const int result = InitializeDirect3D();
  if (result == 0) UpdateDrawDiffuseColor();
  return result;
}

}  // namespace

Graphics3DHooks Direct3DHooks() {
  D3DDrawingHooks& drawing = GetD3DDrawingHooks();
  drawing.drawFillBoxSoft = DrawFillBoxSoft;
  drawing.drawBoxOutlineSoft = DrawBoxOutlineSoft;
  Graphics3DHooks hooks{};
  hooks.initializeDirect3D = StartDirect3D;
  hooks.terminateDirect3D = TerminateDirect3D;
  hooks.releaseDirect3DObject = ReleaseDirect3DObjectAndFontCaches;
  hooks.acquireDirect3DAndDevice = AcquireDirect3DAndDevice;
  hooks.flushCurrentDeviceVertices = FlushCurrentDeviceVertices;
  hooks.endCurrentScene = EndCurrentScene;
  hooks.selectTextureFormatIndex = SelectSlot;
  hooks.getTextureFormat = TextureFormatOf;
  hooks.getZBufferPixelFormat = GetZBufferPixelFormat;
  hooks.resetSurface3DDataTable = ResetSurface3DDataTable;
  hooks.getPieceSurfaceHandle = GetPieceSurfaceHandle;
  hooks.createGraphSurfaces3D = CreateGraphSurfaces3D;
  hooks.createDerivedGraphSurface3D = CreateDerivedGraphSurface3D;
  hooks.deleteGraphSurfaces3D = DeleteGraphSurfaces3D;
  hooks.restoreGraphSurfaces3D = RestoreGraphSurfaces3D;
  hooks.restoreAllSurface3DData = RestoreAllSurface3DData;
  hooks.fillGraphSurfaces3D = FillGraphSurfaces3D;
  hooks.bltGraphImageToGraph3DAt = BltGraphImageToGraph3DAt;
  hooks.setViewportRect = SetViewportRect;
  hooks.setDeviceDrawScreen = SetDeviceDrawScreen;
  hooks.setTextureFilterMode = SetTextureFilterMode;
  hooks.setBlendGraphD3D = SetBlendGraphD3D;
  hooks.getDeviceValid = GetDeviceValid;
  hooks.updateDrawDiffuseColor = UpdateDrawDiffuseColor;
  hooks.createDirectionalLight = CreateDirectionalLight;
  return hooks;
}

int InitializeGraphics() {
  SetGraphics3DHooks(Direct3DHooks());
  InstallFontRoad();
  return InitializeGraphicsSystem();
}

int TerminateGraphics() { return TerminateGraphicsSystem(); }

}  // namespace gamelib
