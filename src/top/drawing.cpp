// The drawing entries: graphs in textures and every target the device renders into take
// the 3-D road; graphs in plain surfaces or memory images, and targets the device
// cannot draw into, take the software road.
#include <algorithm>
#include <cmath>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/graph_drawing.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "graphics/draw_state.h"
#include "graphics/graph_records.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"
#include "softrender/soft_target.h"
#include "top/drawing_roads.h"

namespace gamelib {
namespace {

// The graph with its corners at (fx1, fy1) and (fx2, fy2): at its own size on the
// unstretched road, else stretched (and mirrored where a corner pair is reversed).
int DrawPlaced(GraphRecord* g, float fx1, float fy1, float fx2, float fy2, int transparent, bool stretched) {
  const int x1 = static_cast<int>(std::lround(fx1)), y1 = static_cast<int>(std::lround(fy1));
  const int x2 = static_cast<int>(std::lround(fx2)), y2 = static_cast<int>(std::lround(fy2));
  if (g->useTexture) {
    if (!Use3D()) return -1;
    const RECT covered{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    return WithBlendMode3(covered, [&] {
      return stretched ? DrawStretchGraphD3D(x1, y1, x2, y2, fx1, fy1, fx2, fy2, g, transparent, 1)
                       : DrawGraphD3D(x1, y1, fx1, fy1, g, transparent, 1);
    });
  }
  if (x1 == x2 || y1 == y2) return -1;
  const int corners[8] = {x1, y1, x2, y1, x1, y2, x2, y2};
  return DrawGraphQuadSoft(g, corners, transparent);
}

// Runs `draw` with the draw area narrowed to its intersection with the rectangle.
template <class Draw>
int WithinArea(int left, int top, int right, int bottom, Draw&& draw) {
  const DrawState& state = GetDrawState();
  const int saved[4] = {state.drawAreaLeft, state.drawAreaTop, state.drawAreaRight, state.drawAreaBottom};
  const int l = std::max(saved[0], std::min(left, right)), r = std::min(saved[2], std::max(left, right));
  const int t = std::max(saved[1], std::min(top, bottom)), b = std::min(saved[3], std::max(top, bottom));
  if (l >= r || t >= b) return 0;
  SetDrawArea(l, t, r, b);
  const int result = draw();
  SetDrawArea(saved[0], saved[1], saved[2], saved[3]);
  return result;
}

bool ValidSourceRect(const GraphRecord* g, int srcX, int srcY, int width, int height) {
  return srcX >= 0 && srcY >= 0 && width >= 1 && height >= 1 &&
         static_cast<long long>(srcX) + width <= g->width &&
         static_cast<long long>(srcY) + height <= g->height;
}

}  // namespace

int DrawGraph(int x, int y, int graph, int transFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr) return -1;
  return DrawPlaced(g, static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + g->width),
                    static_cast<float>(y + g->height), transFlag, false);
}

int DrawStretchGraph(int x1, int y1, int x2, int y2, int graph, int transFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr || x1 == x2 || y1 == y2) return -1;
  return DrawPlaced(g, static_cast<float>(x1), static_cast<float>(y1), static_cast<float>(x2),
                    static_cast<float>(y2), transFlag, true);
}

int DrawMirrorGraph(int x, int y, int graph, int transFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr) return -1;
  return DrawStretchGraph(x + g->width, y, x, y + g->height, graph, transFlag);
}

int DrawRectGraph(int destX, int destY, int srcX, int srcY, int width, int height, int graph, int transFlag,
                  int turnFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr || !ValidSourceRect(g, srcX, srcY, width, height)) return -1;
  return WithinArea(destX, destY, destX + width, destY + height, [&] {
    if (turnFlag) {
      // Mirrored, the rectangle's right column lands on destX.
      const int x = destX - (g->width - srcX - width);
      return DrawStretchGraph(x + g->width, destY - srcY, x, destY - srcY + g->height, graph, transFlag);
    }
    return DrawGraph(destX - srcX, destY - srcY, graph, transFlag);
  });
}

int DrawRectStretchGraph(int x1, int y1, int x2, int y2, int srcX, int srcY, int width, int height, int graph,
                         int transFlag, int turnFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr || x1 == x2 || y1 == y2 || !ValidSourceRect(g, srcX, srcY, width, height)) return -1;
  const float scaleX = static_cast<float>(x2 - x1) / static_cast<float>(width);
  const float scaleY = static_cast<float>(y2 - y1) / static_cast<float>(height);
  float fx1 = static_cast<float>(x1) - static_cast<float>(srcX) * scaleX;
  float fx2 = fx1 + static_cast<float>(g->width) * scaleX;
  if (turnFlag) {
    fx1 = static_cast<float>(x2) + static_cast<float>(srcX) * scaleX;
    fx2 = fx1 - static_cast<float>(g->width) * scaleX;
  }
  const float fy1 = static_cast<float>(y1) - static_cast<float>(srcY) * scaleY;
  const float fy2 = fy1 + static_cast<float>(g->height) * scaleY;
  return WithinArea(x1, y1, x2, y2, [&] { return DrawPlaced(g, fx1, fy1, fx2, fy2, transFlag, true); });
}

int DrawFillBox(int x1, int y1, int x2, int y2, int color) {
  return Use3D() ? DrawFillBoxD3D(x1, y1, x2, y2, color) : DrawFillBoxSoft(x1, y1, x2, y2, color);
}

int DrawBoxOutline(int x1, int y1, int x2, int y2, int color) {
  return Use3D() ? DrawBoxOutlineD3D(x1, y1, x2, y2, color) : DrawBoxOutlineSoft(x1, y1, x2, y2, color);
}

int DrawBox(int x1, int y1, int x2, int y2, int color, int fillFlag) {
  return fillFlag ? DrawFillBox(x1, y1, x2, y2, color) : DrawBoxOutline(x1, y1, x2, y2, color);
}

int ClearDrawScreen() {
  if (Use3D() && ClearDrawScreenD3D() != 0) return -1;
  CloseDeviceScene();
  int red = 0, green = 0, blue = 0;
  GetBackgroundColor(&red, &green, &blue);
  const int screen = GetDrawState().drawScreen;
  if (screen == kDrawScreenFront || screen == kDrawScreenBack) {
    IDirectDrawSurface7* surface = screen == kDrawScreenFront ? GetFrontSurface() : GetBackSurface();
    if (surface == nullptr) return -1;
    DDBLTFX fx{};
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = GetColorForFormat(GetScreenColorData(), red, green, blue, 0);
    return surface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx) == DD_OK ? 0 : -1;
  }
  GraphRecord* g = GetGraphRecord(screen);
  if (g == nullptr) return -1;
  if (g->useTexture) return 0;  // cleared by the device's half above
  Surface2D* piece = GetSurface2D(g->pieces[0]);
  if (piece == nullptr) return -1;
  const RECT area{piece->x, piece->y, piece->x + piece->width, piece->y + piece->height};
  return ClearSurfaceRect(piece->surface, &area, red, green, blue, 0);
}

}  // namespace gamelib
