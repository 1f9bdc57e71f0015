// Untextured boxes and outlines as batched triangles, and the clearing of a draw target
// that lives in a texture.
#include <algorithm>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/draw_settings.h"
#include "d3d/graph_drawing.h"
#include "d3d/texture_formats.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/graphics_math.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

// The caller's colour (screen format) scaled by the draw colour, with its alpha.
D3DCOLOR BoxColour(int colour) {
  int red = 0, green = 0, blue = 0;
  GetColorRGB(colour, &red, &green, &blue);
  const D3DCOLOR diffuse = GetDirect3DState().drawDiffuseColor;
  const auto scale = [](D3DCOLOR channel, int c) {
    return (channel & 0xFF) * static_cast<std::uint32_t>(c) / 255;
  };
  return (diffuse & 0xFF000000u) | scale(diffuse >> 16, red) << 16 | scale(diffuse >> 8, green) << 8 |
         scale(diffuse, blue);
}

// One band [left, right) x [top, bottom) as six vertices in the quad order.
void WriteBand(D3DDeviceRecord& r, float left, float top, float right, float bottom, float z, D3DCOLOR colour,
               bool everyVertex) {
  auto* v = reinterpret_cast<D3DVertex0*>(r.writePointer);
  const float corners[6][2] = {{left, top},     {right, top},   {left, bottom},
                               {right, bottom}, {left, bottom}, {right, top}};
  for (int i = 0; i < 6; ++i) {
    v[i].x = corners[i][0];
    v[i].y = corners[i][1];
    v[i].z = z;
    if (everyVertex || i == 0 || i == 3) v[i].diffuse = colour;
  }
  AdvanceBatch(r, 6);
}

// States of an untextured draw; false when nothing can be batched.
bool PrepareUntextured(int device, D3DDeviceRecord& r) {
  SetDeviceTexture(device, nullptr);
  SetDrawStatesD3D(nullptr, kDrawFlagUseColour | (GetDrawState().zEnable != 0 ? kDrawFlagZ : 0));
  if (r.drawSettingsDirty || r.textureChanged) ApplyDrawSettings(device);
  return r.vertexType == 0;
}

}  // namespace

int DrawFillBoxD3D(int x1, int y1, int x2, int y2, int colour) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return -1;
  if (state.memImageTarget) {
    const D3DDrawingHooks& hooks = GetD3DDrawingHooks();
    return hooks.drawFillBoxSoft != nullptr ? hooks.drawFillBoxSoft(x1, y1, x2, y2, colour) : -1;
  }
  const int device = state.currentDevice;
  D3DDeviceRecord* r = GetDeviceRecord(device);
  if (r == nullptr || r->device == nullptr) return -1;
  FlushVertexBuffer(device);
  const DrawState& draw = GetDrawState();
  if (!DrawableBlendMode(draw.blendMode)) return 0;
  RECT box{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  const RECT area{draw.drawAreaLeft, draw.drawAreaTop, draw.drawAreaRight, draw.drawAreaBottom};
  ClipRect(&box, &area);
  if (box.left == box.right || box.top == box.bottom) return 0;
  BeginSceneDevice(device);
  if (!PrepareUntextured(device, *r)) return 0;
  const D3DCOLOR colourValue = BoxColour(colour);
  MakeBatchRoom(*r, 6);
  const float ox = static_cast<float>(draw.drawOriginX), oy = static_cast<float>(draw.drawOriginY);
  WriteBand(*r, static_cast<float>(box.left) + ox, static_cast<float>(box.top) + oy,
            static_cast<float>(box.right) + ox, static_cast<float>(box.bottom) + oy, draw.drawDepth,
            colourValue, false);
  if (state.frontTarget) EndSceneDevice(device);
  return 0;
}

int DrawBoxOutlineD3D(int x1, int y1, int x2, int y2, int colour) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return -1;
  if (state.memImageTarget) {
    const D3DDrawingHooks& hooks = GetD3DDrawingHooks();
    return hooks.drawBoxOutlineSoft != nullptr ? hooks.drawBoxOutlineSoft(x1, y1, x2, y2, colour) : -1;
  }
  const int device = state.currentDevice;
  D3DDeviceRecord* r = GetDeviceRecord(device);
  if (r == nullptr || r->device == nullptr) return -1;
  const DrawState& draw = GetDrawState();
  if (!DrawableBlendMode(draw.blendMode)) return 0;
  if (!r->inScene) BeginSceneDevice(device);
  if (!PrepareUntextured(device, *r)) return 0;
  const D3DCOLOR colourValue = BoxColour(colour);
  // Each axis ordered on its own, as for a filled box.
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  if (left == right || top == bottom) return 0;
  const float ox = static_cast<float>(draw.drawOriginX), oy = static_cast<float>(draw.drawOriginY);
  const float L = static_cast<float>(left) + ox, R = static_cast<float>(right) + ox;
  const float T = static_cast<float>(top) + oy, B = static_cast<float>(bottom) + oy;
  const float z = draw.drawDepth;
  if (right - left == 1 || bottom - top == 1) {
    // The bands would overlap: one band covers each pixel once.
    MakeBatchRoomUpTo(*r, 6);
    WriteBand(*r, L, T, R, B, z, colourValue, true);
  } else {
    MakeBatchRoomUpTo(*r, 24);
    WriteBand(*r, L, T, R, T + 1, z, colourValue, true);
    WriteBand(*r, R - 1, T + 1, R, B, z, colourValue, true);
    WriteBand(*r, L, T + 1, L + 1, B, z, colourValue, true);
    WriteBand(*r, L + 1, B - 1, R - 1, B, z, colourValue, true);
  }
  if (state.frontTarget) EndSceneDevice(device);
  return 0;
}

int ClearDrawScreenD3D() {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return -1;
  const int device = state.currentDevice;
  FlushVertexBuffer(device);
  EndSceneDevice(device);
  const int screen = GetActiveDrawScreen();
  if (screen == kDrawScreenFront || screen == kDrawScreenBack || screen == -3) return 0;
  GraphRecord* graph = GetGraphRecord(screen);
  if (graph == nullptr) return -1;
  if (!graph->useTexture) return 0;
  Surface3DDataRecord* piece = graph->pieceCount > 0 ? GetSurface3DData(graph->pieces[0]) : nullptr;
  SurfaceRecord* surface = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
  const TextureFormatRecord* format =
      surface != nullptr ? GetTextureFormatEntry(surface->textureFormatIndex) : nullptr;
  if (surface == nullptr || surface->surface == nullptr || format == nullptr) return -1;
  RECT rect{0, 0, surface->width, surface->height};
  if (surface->zSurface != nullptr) {
    DDBLTFX fx{};
    fx.dwSize = sizeof(fx);
    fx.dwFillDepth = 0xFFFF;
    surface->zSurface->Blt(&rect, nullptr, nullptr, DDBLT_DEPTHFILL | DDBLT_WAIT, &fx);
  }
  int red = 0, green = 0, blue = 0;
  GetBackgroundColor(&red, &green, &blue);
  DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  fx.dwFillColor = GetColorForFormat(&format->colorData, red, green, blue, 0);
  surface->surface->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  return 0;
}

}  // namespace gamelib
