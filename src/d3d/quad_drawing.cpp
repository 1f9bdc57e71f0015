// Free quadrilaterals and grids of texture graphs.
#include "d3d/quad_drawing.h"

#include <cmath>
#include <cstdint>

#include "d3d/d3d_state.h"
#include "d3d/draw_settings.h"
#include "d3d/graph_drawing.h"
#include "d3d/texture_pieces.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

constexpr int kGridSide = 8;

// Refilled by every grid draw, so grid drawing is not re-entrant.
D3DVertex1 g_grid[kGridSide * kGridSide];

struct Point {
  float x, y;
};

int ZFlag() { return GetDrawState().zEnable != 0 ? kDrawFlagZ : 0; }

// A draw straight to the device honours what a flush honours: a closed window and a
// blend graph that hides everything draw nothing.
bool MayDraw(const D3DDeviceRecord& r) {
  return r.device != nullptr && GetWindowClosedFlag() == 0 && r.drawNothing == 0;
}

SurfaceRecord* PieceSurface(const Surface3DDataRecord* piece) {
  SurfaceRecord* s = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
  return s != nullptr && s->surface != nullptr ? s : nullptr;
}

// The device draws with the piece's texture and settings worked out for it.
void BindPiece(int device, D3DDeviceRecord& r, const SurfaceRecord& surface) {
  if (r.texture != surface.surface) {
    SetDeviceTexture(device, surface.surface);
    ApplyDrawSettings(device);
  }
}

// Position along a line, exactly at both ends, so that pieces sharing an edge compute
// the same points on it.
Point Along(Point a, Point b, int step, int steps) {
  if (step == 0) return a;
  if (step == steps) return b;
  const float t = static_cast<float>(step) / static_cast<float>(steps);
  return Point{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

void DrawParallelogram(int device, D3DDeviceRecord& r, const Surface3DDataRecord& piece,
                       const Point (&c)[4]) {
  if (r.drawSettingsDirty || r.textureChanged) ApplyDrawSettings(device);
  // Six type-1 vertices only fit a type-1 batch.
  if (r.vertexType != 1) return;
  MakeBatchRoom(r, 6);
  const float z = GetDrawState().drawDepth;
  const float us[2] = {piece.vertices[0].u, piece.vertices[1].u};
  const float vs[2] = {piece.vertices[0].v, piece.vertices[2].v};
  static constexpr int kSlotCorner[6] = {0, 1, 2, 3, 2, 1};
  auto* v = reinterpret_cast<D3DVertex1*>(r.writePointer);
  for (int i = 0; i < 6; ++i) {
    const int corner = kSlotCorner[i];
    v[i].x = c[corner].x;
    v[i].y = c[corner].y;
    v[i].z = z;
    v[i].u = us[corner & 1];
    v[i].v = vs[corner >> 1];
  }
  v[0].diffuse = v[3].diffuse = GetDirect3DState().drawDiffuseColor;
  const Point &tl = c[0], &tr = c[1], &bl = c[2], &br = c[3];
  const float c1 = (bl.y - tl.y) * (tr.x - tl.x) - (bl.x - tl.x) * (tr.y - tl.y);
  const float c2 = (bl.x - br.x) * (tr.y - br.y) - (tr.x - br.x) * (bl.y - br.y);
  if (c1 <= 0.0f && c2 <= 0.0f) {
    // Mirrored: both triangles keep their first vertex and turn the usual way.
    std::swap(v[1], v[2]);
    std::swap(v[4], v[5]);
  }
  AdvanceBatch(r, 6);
}

void DrawGrid(int device, const Surface3DDataRecord& piece, const Point (&c)[4]) {
  const float z = GetDrawState().drawDepth;
  const D3DCOLOR colour = GetDirect3DState().drawDiffuseColor;
  const float u0 = piece.vertices[0].u, u1 = piece.vertices[3].u;
  const float v0 = piece.vertices[0].v, v1 = piece.vertices[3].v;
  constexpr int kSteps = kGridSide - 1;
  for (int row = 0; row < kGridSide; ++row) {
    const Point start = Along(c[0], c[2], row, kSteps);
    const Point end = Along(c[1], c[3], row, kSteps);
    const float v = Along(Point{v0, 0}, Point{v1, 0}, row, kSteps).x;
    for (int column = 0; column < kGridSide; ++column) {
      const Point p = Along(start, end, column, kSteps);
      D3DVertex1& out = g_grid[row * kGridSide + column];
      out = D3DVertex1{p.x, p.y, z, 1.0f, colour, Along(Point{u0, 0}, Point{u1, 0}, column, kSteps).x, v};
    }
  }
  DrawGridStrips(device, kGridSide, g_grid, kGridSide);
}

void DrawIndexed(D3DDeviceRecord& r, const D3DVertex1* vertices, int count, WORD* indices, int n) {
  if (!MayDraw(r)) return;
  r.device->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, kVertexTypeFvf[1], const_cast<D3DVertex1*>(vertices),
                                 static_cast<DWORD>(count), indices, static_cast<DWORD>(n), 0);
}

// Opposite edges that differ by less than a pixel.
bool IsParallelogram(const Point (&c)[4]) {
  const Point &tl = c[0], &tr = c[1], &bl = c[2], &br = c[3];
  return std::fabs((tr.x - tl.x) - (br.x - bl.x)) < 1.0f && std::fabs((tr.y - tl.y) - (br.y - bl.y)) < 1.0f &&
         std::fabs((bl.x - tl.x) - (br.x - tr.x)) < 1.0f && std::fabs((bl.y - tl.y) - (br.y - tr.y)) < 1.0f;
}

void DrawPieceOnto(int pieceHandle, const Point (&c)[4], bool parallelogram) {
  const int device = GetDirect3DState().currentDevice;
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(device) : nullptr;
  const Surface3DDataRecord* piece = GetSurface3DData(pieceHandle);
  const SurfaceRecord* surface = PieceSurface(piece);
  if (r == nullptr || surface == nullptr) return;
  BindPiece(device, *r, *surface);
  if (parallelogram) {
    DrawParallelogram(device, *r, *piece, c);
  } else {
    DrawGrid(device, *piece, c);
  }
}

// The affine map of a graph point by one half of the quadrilateral.
struct AffineMap {
  float x0, y0;  // image of (ox, oy)
  float ox, oy;
  float ax, ay;  // per graph pixel along x
  float bx, by;  // per graph pixel along y
  Point Map(float px, float py) const {
    return Point{x0 + (px - ox) * ax + (py - oy) * bx, y0 + (px - ox) * ay + (py - oy) * by};
  }
};

float Difference(int a, int b) { return static_cast<float>(std::int64_t{a} - b); }

// The current device's record for drawing a graph, or the value the draw returns
// without drawing: -1 without a device or a graph with no size, 0 into a memory image.
D3DDeviceRecord* QuadDevice(const GraphRecord* graph, int* refusal) {
  Direct3DState& state = GetDirect3DState();
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(state.currentDevice) : nullptr;
  *refusal = -1;
  if (r == nullptr || graph == nullptr) return nullptr;
  if (state.memImageTarget) {
    *refusal = 0;
    return nullptr;
  }
  // A graph without size has no texture step.
  if (graph->width <= 0 || graph->height <= 0) return nullptr;
  return r;
}

}  // namespace

int DrawQuadGraphD3D(float tlX, float tlY, float trX, float trY, float blX, float blY, float brX, float brY,
                     GraphRecord* graph, int transparent) {
  int refusal = 0;
  D3DDeviceRecord* r = QuadDevice(graph, &refusal);
  if (r == nullptr) return refusal;
  Direct3DState& state = GetDirect3DState();
  const int device = state.currentDevice;
  const DrawState& draw = GetDrawState();
  if (draw.blendGraph != -1) {
    return DrawQuadGraphBlendD3D(FloatToInt(tlX), FloatToInt(tlY), FloatToInt(trX), FloatToInt(trY),
                                 FloatToInt(blX), FloatToInt(blY), FloatToInt(brX), FloatToInt(brY), graph,
                                 transparent);
  }
  if (!DrawableBlendMode(draw.blendMode)) return 0;
  if (!r->inScene) BeginSceneDevice(device);
  Surface3DDataRecord* first = graph->pieceCount > 0 ? GetSurface3DData(graph->pieces[0]) : nullptr;
  if (first == nullptr) return -1;
  SetDrawStatesD3D(first, (transparent ? kDrawFlagTransparent : 0) | ZFlag());
  const float ox = static_cast<float>(draw.drawOriginX), oy = static_cast<float>(draw.drawOriginY);
  const Point tl{tlX + ox, tlY + oy}, tr{trX + ox, trY + oy}, bl{blX + ox, blY + oy}, br{brX + ox, brY + oy};
  if (graph->pieceCount == 1) {
    DrawGraphGrid(graph->pieces[0], tl.x, tl.y, tr.x, tr.y, bl.x, bl.y, br.x, br.y);
  } else {
    const double invW = 1.0 / graph->width, invH = 1.0 / graph->height;
    const double leftX = static_cast<double>(bl.x) - tl.x, leftY = static_cast<double>(bl.y) - tl.y;
    const double rightX = static_cast<double>(br.x) - tr.x, rightY = static_cast<double>(br.y) - tr.y;
    // One way for every piece: a grid edge next to a parallelogram's straight edge
    // would not meet it exactly; grids meet grids and parallelograms meet parallelograms.
    const Point whole[4] = {tl, tr, bl, br};
    const bool parallelogram = IsParallelogram(whole);
    for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
      const Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
      if (piece == nullptr) return -1;
      Point corner[4];
      for (int k = 0; k < 4; ++k) {
        const double t = piece->vertices[k].y * invH, s = piece->vertices[k].x * invW;
        const double lx = tl.x + t * leftX, ly = tl.y + t * leftY;
        const double rx = tr.x + t * rightX, ry = tr.y + t * rightY;
        corner[k] = Point{static_cast<float>(lx + s * (rx - lx)), static_cast<float>(ly + s * (ry - ly))};
      }
      DrawPieceOnto(graph->pieces[i], corner, parallelogram);
    }
  }
  if (state.frontTarget) EndSceneDevice(device);
  return 0;
}

void DrawGraphGrid(int pieceHandle, float tlX, float tlY, float trX, float trY, float blX, float blY,
                   float brX, float brY) {
  const Point c[4] = {{tlX, tlY}, {trX, trY}, {blX, blY}, {brX, brY}};
  DrawPieceOnto(pieceHandle, c, IsParallelogram(c));
}

int DrawGridStrips(int device, int columns, const D3DVertex1* vertices, int rows) {
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(device) : nullptr;
  if (r == nullptr || vertices == nullptr || columns < 2 || rows < 2) return -1;
  // One row pair must fit the list, and every vertex must have a 16-bit index.
  if (2 * columns + 2 > kGridStripIndices || std::int64_t{columns} * rows > 65536) return -1;
  FlushVertexBuffer(device);
  WORD indices[kGridStripIndices];
  int n = 0;
  const int count = columns * rows;
  for (int row = 0; row + 1 < rows; ++row) {
    const int upper = row * columns, lower = upper + columns;
    if (n + 2 * columns + 2 > kGridStripIndices) {
      DrawIndexed(*r, vertices, count, indices, n);
      n = 0;
    } else if (n > 0) {
      indices[n++] = static_cast<WORD>(lower);  // degenerate join to the next strip
    }
    for (int c = 0; c < columns; ++c) {
      indices[n++] = static_cast<WORD>(lower + c);
      indices[n++] = static_cast<WORD>(upper + c);
    }
    if (row + 2 < rows) {
      indices[n] = indices[n - 1];
      ++n;
    }
  }
  if (n > 0) DrawIndexed(*r, vertices, count, indices, n);
  return 0;
}

int DrawQuadGraphBlendD3D(int tlX, int tlY, int trX, int trY, int blX, int blY, int brX, int brY,
                          GraphRecord* graph, int transparent) {
  if (tlX == blX && trX == brX && tlY == trY && blY == brY) {
    return DrawStretchGraphD3D(tlX, tlY, brX, brY, static_cast<float>(tlX), static_cast<float>(tlY),
                               static_cast<float>(brX), static_cast<float>(brY), graph, transparent, 1);
  }
  int refusal = 0;
  D3DDeviceRecord* r = QuadDevice(graph, &refusal);
  if (r == nullptr) return refusal;
  Direct3DState& state = GetDirect3DState();
  const int device = state.currentDevice;
  const DrawState& draw = GetDrawState();
  if (!DrawableBlendMode(draw.blendMode)) return 0;
  FlushVertexBuffer(device);
  // In 64 bits: corners may lie anywhere an int reaches.
  const std::int64_t ox = draw.drawOriginX, oy = draw.drawOriginY;
  const float tlx = static_cast<float>(tlX + ox), tly = static_cast<float>(tlY + oy);
  const float brx = static_cast<float>(brX + ox), bry = static_cast<float>(brY + oy);
  if (!r->inScene) BeginSceneDevice(device);
  Surface3DDataRecord* first = graph->pieceCount > 0 ? GetSurface3DData(graph->pieces[0]) : nullptr;
  if (first == nullptr) return -1;
  SetDrawStatesD3D(first, (transparent ? kDrawFlagTransparent : 0) | kDrawFlagExactAlpha | ZFlag());

  const float w = static_cast<float>(graph->width), h = static_cast<float>(graph->height);
  const float invW = 1.0f / w, invH = 1.0f / h;
  const AffineMap upperLeft{tlx - 0.5f,
                            tly - 0.5f,
                            0.0f,
                            0.0f,
                            Difference(trX, tlX) * invW,
                            Difference(trY, tlY) * invW,
                            Difference(blX, tlX) * invH,
                            Difference(blY, tlY) * invH};
  const AffineMap lowerRight{brx - 0.5f,
                             bry - 0.5f,
                             w,
                             h,
                             Difference(brX, blX) * invW,
                             Difference(brY, blY) * invW,
                             Difference(brX, trX) * invH,
                             Difference(brY, trY) * invH};
  const float z = draw.drawDepth;
  const D3DCOLOR colour = state.drawDiffuseColor;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    const Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
    const SurfaceRecord* surface = PieceSurface(piece);
    if (surface == nullptr) return -1;
    BindPiece(device, *r, *surface);
    Point p[4];
    for (int k = 0; k < 4; ++k) {
      const D3DVertex1& pv = piece->vertices[k];
      p[k] = (piece->upperLeft[k] ? upperLeft : lowerRight).Map(pv.x, pv.y);
    }
    const float ca = (p[2].y - p[0].y) * (p[1].x - p[0].x) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    const float cb = (p[1].y - p[3].y) * (p[2].x - p[3].x) - (p[2].y - p[3].y) * (p[1].x - p[3].x);
    int order[4] = {0, 1, 2, 3};
    if (ca < 0.0f || (ca == 0.0f && cb <= 0.0f)) std::swap(order[1], order[2]);
    if (r->vertexType == 2) {
      D3DVertex2 v[4];
      for (int k = 0; k < 4; ++k) {
        const D3DVertex1& pv = piece->vertices[order[k]];
        v[k] = D3DVertex2{p[order[k]].x,
                          p[order[k]].y,
                          z,
                          1.0f,
                          colour,
                          0xFFFFFFFF,
                          pv.x * state.blendTextureWidthInverse,
                          pv.y * state.blendTextureHeightInverse,
                          pv.u,
                          pv.v};
      }
      if (MayDraw(*r)) r->device->DrawPrimitive(D3DPT_TRIANGLESTRIP, kVertexTypeFvf[2], v, 4, 0);
    } else if (r->vertexType == 1) {
      D3DVertex1 v[4];
      for (int k = 0; k < 4; ++k) {
        v[k] = piece->vertices[order[k]];
        v[k].x = p[order[k]].x;
        v[k].y = p[order[k]].y;
        v[k].z = z;
        v[k].diffuse = colour;
      }
      if (MayDraw(*r)) r->device->DrawPrimitive(D3DPT_TRIANGLESTRIP, kVertexTypeFvf[1], v, 4, 0);
    }
  }
  if (state.frontTarget) EndSceneDevice(device);
  return 0;
}

}  // namespace gamelib
