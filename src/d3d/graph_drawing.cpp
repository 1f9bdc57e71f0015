// Graphs drawn as one textured quad per texture piece into the device's batch, with
// their own clipping against the draw area, and text through a texture glyph cache.
#include "d3d/graph_drawing.h"

#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/draw_settings.h"
#include "graphics/draw_state.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

D3DDrawingHooks g_hooks{};

// Position and scale of a draw: vertex = origin + scale * piece vertex.
struct Placement {
  float x, y;
  float scaleX, scaleY;
};

struct ClipBox {
  float left, top, right, bottom;
};

// The four corners of a piece's quad, in the slot order TL, TR, BL, BR.
struct Corner {
  float x, y;
  float u, v;    // piece texture
  float bu, bv;  // blend graph (type 2 only)
};

void PieceCorners(const Surface3DDataRecord& piece, const Placement& at, Corner (&c)[4]) {
  const Direct3DState& state = GetDirect3DState();
  const D3DVertex1* pv = piece.vertices;
  const float xs[2] = {pv[0].x, pv[1].x};
  const float ys[2] = {pv[0].y, pv[2].y};
  const float us[2] = {pv[0].u, pv[1].u};
  const float vs[2] = {pv[0].v, pv[2].v};
  for (int i = 0; i < 4; ++i) {
    const int col = i & 1, row = i >> 1;
    c[i].x = at.x + at.scaleX * xs[col];
    c[i].y = at.y + at.scaleY * ys[row];
    c[i].u = us[col];
    c[i].v = vs[row];
    c[i].bu = xs[col] * state.blendTextureWidthInverse;
    c[i].bv = ys[row] * state.blendTextureHeightInverse;
  }
}

// Moves each corner onto the clip box, moving its texture coordinates with it.
void ClipCorners(Corner (&c)[4], const ClipBox& clip, float textureWidth, float textureHeight, float scaleX,
                 float scaleY) {
  const Direct3DState& state = GetDirect3DState();
  const float stepU = 1.0f / (textureWidth * scaleX);
  const float stepV = 1.0f / (textureHeight * scaleY);
  for (Corner& k : c) {
    if (k.x < clip.left) {
      const float d = clip.left - k.x;
      k.u += d * stepU;
      k.bu += (d / scaleX) * state.blendTextureWidthInverse;
      k.x = clip.left;
    } else if (k.x > clip.right) {
      const float d = k.x - clip.right;
      k.u -= d * stepU;
      k.bu -= (d / scaleX) * state.blendTextureWidthInverse;
      k.x = clip.right;
    }
    if (k.y < clip.top) {
      const float d = clip.top - k.y;
      k.v += d * stepV;
      k.bv += (d / scaleY) * state.blendTextureHeightInverse;
      k.y = clip.top;
    } else if (k.y > clip.bottom) {
      const float d = k.y - clip.bottom;
      k.v -= d * stepV;
      k.bv -= (d / scaleY) * state.blendTextureHeightInverse;
      k.y = clip.bottom;
    }
  }
}

void Put(D3DVertex1& v, const Corner& c, float z) {
  v.x = c.x;
  v.y = c.y;
  v.z = z;
  v.u = c.u;
  v.v = c.v;
}
void Put(D3DVertex2& v, const Corner& c, float z) {
  v.x = c.x;
  v.y = c.y;
  v.z = z;
  v.u1 = c.bu;
  v.v1 = c.bv;
  v.u2 = c.u;
  v.v2 = c.v;
}

// Six vertices TL, TR, BL, BR, BL, TR; the colour only in the first vertex of each
// triangle, which is all flat shading reads.
template <class Vertex>
void WriteQuad(D3DDeviceRecord& r, const Corner (&c)[4], float z, D3DCOLOR colour) {
  auto* v = reinterpret_cast<Vertex*>(r.writePointer);
  static constexpr int kSlotCorner[6] = {0, 1, 2, 3, 2, 1};
  for (int i = 0; i < 6; ++i) Put(v[i], c[kSlotCorner[i]], z);
  v[0].diffuse = colour;
  v[3].diffuse = colour;
  AdvanceBatch(r, 6);
}

// The piece's texture, with its size; null when the piece or its surface is gone.
SurfaceRecord* PieceSurface(const Surface3DDataRecord* piece) {
  return piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
}

// Every piece of the graph as a quad; clipped against `clip` when given. -1 at the
// first invalid piece (earlier ones stay queued).
// The first piece comes looked up, with its surface.
int DrawPieces(int device, D3DDeviceRecord& r, GraphRecord* graph, Surface3DDataRecord* first,
               SurfaceRecord* firstSurface, const Placement& at, const ClipBox* clip) {
  const float z = GetDrawState().drawDepth;
  const D3DCOLOR colour = GetDirect3DState().drawDiffuseColor;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* piece = i == 0 ? first : GetSurface3DData(graph->pieces[i]);
    SurfaceRecord* surface = i == 0 ? firstSurface : PieceSurface(piece);
    if (surface == nullptr) return -1;
    if (r.texture != surface->surface) SetDeviceTexture(device, surface->surface);
    if (r.drawSettingsDirty || r.textureChanged) ApplyDrawSettings(device);
    // Settings that changed the vertex type mid-graph leave nothing drawable.
    if (r.vertexType != 1 && r.vertexType != 2) return 0;
    MakeBatchRoom(r, 6);
    Corner c[4];
    PieceCorners(*piece, at, c);
    if (clip != nullptr) {
      ClipCorners(c, *clip, static_cast<float>(surface->width), static_cast<float>(surface->height),
                  at.scaleX, at.scaleY);
    }
    if (r.vertexType == 1) {
      WriteQuad<D3DVertex1>(r, c, z, colour);
    } else {
      WriteQuad<D3DVertex2>(r, c, z, colour);
    }
  }
  return 0;
}

int ZFlag() { return GetDrawState().zEnable != 0 ? kDrawFlagZ : 0; }

// After a call that drew into the front surface, the scene ends so that it shows.
int Finish(int device) {
  if (GetDirect3DState().frontTarget) EndSceneDevice(device);
  return 0;
}

}  // namespace

D3DDrawingHooks& GetD3DDrawingHooks() { return g_hooks; }

int UpdateDrawDiffuseColor() {
  const DrawState& draw = GetDrawState();
  const std::uint32_t alpha =
      draw.blendMode == 0 ? 255u : static_cast<std::uint32_t>(draw.blendParameter & 0xFF);
  GetDirect3DState().drawDiffuseColor = alpha << 24 | (draw.brightness & 0xFFFFFF);
  return 0;
}

void SetDrawStatesD3D(Surface3DDataRecord* piece, int flags) {
  const int device = GetDirect3DState().currentDevice;
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(device) : nullptr;
  if (r == nullptr) return;
  const DrawState& draw = GetDrawState();
  if (r->lighting == 1) {
    if (r->device != nullptr) r->device->SetRenderState(D3DRENDERSTATE_LIGHTING, 0);
    r->lighting = 0;
  }

  SurfaceRecord* surface = PieceSurface(piece);
  IDirectDrawSurface7* texture = surface != nullptr ? surface->surface : nullptr;
  const bool transparent = (flags & kDrawFlagTransparent) != 0 && surface != nullptr;
  const bool textureAlpha = surface != nullptr && (surface->create.alphaChannel || surface->create.alphaTest);
  const int colourKey = transparent && !textureAlpha ? 1 : 0;
  int alphaChannel = 0, alphaTest = 0;
  if (transparent && textureAlpha) {
    if ((draw.blendMode == 0 || draw.blendMode == 8) &&
        ((flags & kDrawFlagExactAlpha) || draw.drawMode != 1)) {
      alphaChannel = surface->create.alphaChannel;
      alphaTest = surface->create.alphaTest;
    } else {
      // Filtering would fray a tested edge: the texture's alpha is blended instead.
      alphaChannel = 1;
    }
  }
  const int useColour = (flags & kDrawFlagUseColour) || !IsBrightnessWhite(draw.brightness) ? 1 : 0;
  const int useAlpha = draw.blendMode != 0 ? 1 : 0;

  if (r->perspective != 0) SetDeviceTexturePerspective(device, 0);
  if (r->useDiffuseColor != useColour) SetDeviceUseDiffuseColor(device, useColour);
  if (r->useDiffuseAlpha != useAlpha) SetDeviceUseDiffuseAlpha(device, useAlpha);
  if (r->texture != texture) SetDeviceTexture(device, texture);
  if (r->blendMode != draw.blendMode || r->alphaChannel != alphaChannel || r->alphaTest != alphaTest) {
    SetDeviceBlendMode(device, draw.blendMode, alphaChannel, alphaTest);
  }
  if (r->drawSettingsDirty || r->textureChanged) ApplyDrawSettings(device);
  SetDeviceColorKeyEnable(device, colourKey);

  if (r->shadeMode != D3DSHADE_FLAT) SetDeviceShadeMode(device, D3DSHADE_FLAT);
  if (r->filterMode != draw.drawMode) SetDeviceTextureFilter(device, draw.drawMode);
  if (r->cull != draw.cullMode) SetDeviceCullMode(device, draw.cullMode);

  // The alpha test that keeps transparent texels out of the Z buffer follows Z itself.
  const int zWas = r->zEnable != 0;
  if (flags & kDrawFlagZ) {
    if (r->zEnable != draw.zEnable) SetDeviceZEnable(device, draw.zEnable);
    if (r->zWrite != draw.zWriteEnable) SetDeviceZWriteEnable(device, draw.zWriteEnable);
    if (r->zFunction != draw.zCompareFunction) SetDeviceZFunc(device, draw.zCompareFunction);
    if (r->zBias != draw.zBias) SetDeviceZBias(device, draw.zBias);
  } else if (r->zEnable != 0 && r->device != nullptr) {
    FlushVertexBuffer(device);
    r->device->SetRenderState(D3DRENDERSTATE_ZENABLE, 0);
    r->zEnable = 0;
  }
  if ((r->zEnable != 0) != zWas && texture != nullptr) r->drawSettingsDirty = 1;
  if (r->fog != 0) SetDeviceFogEnable(device, 0);
  r->lastPiece = piece;
  r->lastFlags = flags;
}

namespace {

// The state set-up of a draw whose first piece is `first`. A run skips it while the
// device holds what the run last set, for the same texture and flags: the set-up would
// find every copy equal and send nothing.
void SetGraphStates(D3DDeviceRecord& r, Surface3DDataRecord* first, const SurfaceRecord* surface, int flags,
                    GraphRunD3D* run) {
  if (run == nullptr) return SetDrawStatesD3D(first, flags);
  IDirectDrawSurface7* texture = surface != nullptr ? surface->surface : nullptr;
  if (texture != nullptr && texture == run->texture && flags == run->statesFlags && r.texture == texture &&
      !r.drawSettingsDirty && !r.textureChanged) {
    r.lastPiece = first;
    r.lastFlags = flags;
    return;
  }
  SetDrawStatesD3D(first, flags);
  run->texture = texture;
  run->statesFlags = flags;
}

// DrawGraphD3D past the checks of the call.
int DrawGraphAt(int device, D3DDeviceRecord& r, int x, int y, float fx, float fy, GraphRecord* graph,
                int flags, GraphRunD3D* run) {
  const DrawState& draw = GetDrawState();
  const Placement at{fx - 0.5f + static_cast<float>(draw.drawOriginX),
                     fy - 0.5f + static_cast<float>(draw.drawOriginY), 1.0f, 1.0f};
  if (!r.inScene) BeginSceneDevice(device);
  Surface3DDataRecord* first = graph->pieceCount > 0 ? GetSurface3DData(graph->pieces[0]) : nullptr;
  if (first == nullptr) return -1;
  SurfaceRecord* surface = PieceSurface(first);
  SetGraphStates(r, first, surface, flags, run);
  int result = 0;
  if (r.vertexType == 1 || r.vertexType == 2) {
    const bool inside = x >= draw.drawAreaLeft && y >= draw.drawAreaTop &&
                        static_cast<long long>(x) + graph->width <= draw.drawAreaRight &&
                        static_cast<long long>(y) + graph->height <= draw.drawAreaBottom;
    if (inside) {
      result = DrawPieces(device, r, graph, first, surface, at, nullptr);
    } else {
      const ClipBox clip{draw.drawAreaLeftF + static_cast<float>(draw.drawOriginX),
                         draw.drawAreaTopF + static_cast<float>(draw.drawOriginY),
                         draw.drawAreaRightF + static_cast<float>(draw.drawOriginX),
                         draw.drawAreaBottomF + static_cast<float>(draw.drawOriginY)};
      result = DrawPieces(device, r, graph, first, surface, at, &clip);
    }
  }
  if (result != 0) return result;
  return Finish(device);
}

// DrawStretchGraphD3D past the checks of the call, the size checks included.
int DrawStretchGraphAt(int device, D3DDeviceRecord& r, int x1, int y1, int x2, int y2, float fx1, float fy1,
                       float fx2, float fy2, GraphRecord* graph, int flags, GraphRunD3D* run) {
  const DrawState& draw = GetDrawState();
  if (!r.inScene) BeginSceneDevice(device);
  Surface3DDataRecord* first = graph->pieceCount > 0 ? GetSurface3DData(graph->pieces[0]) : nullptr;
  if (first == nullptr) return -1;
  SurfaceRecord* surface = PieceSurface(first);
  SetGraphStates(r, first, surface, flags, run);
  const float scaleX = (fx2 - fx1) / static_cast<float>(graph->width);
  const float scaleY = (fy2 - fy1) / static_cast<float>(graph->height);
  const float originX = static_cast<float>(draw.drawOriginX);
  const float originY = static_cast<float>(draw.drawOriginY);
  const Placement at{fx1 - 0.5f + originX, fy1 - 0.5f + originY, scaleX, scaleY};
  const int minX = x1 < x2 ? x1 : x2, maxX = x1 < x2 ? x2 : x1;
  const int minY = y1 < y2 ? y1 : y2, maxY = y1 < y2 ? y2 : y1;
  int result = 0;
  if (r.vertexType == 1 || r.vertexType == 2) {
    if (minX >= draw.drawAreaLeft && minY >= draw.drawAreaTop && maxX <= draw.drawAreaRight &&
        maxY <= draw.drawAreaBottom) {
      result = DrawPieces(device, r, graph, first, surface, at, nullptr);
    } else {
      const ClipBox clip{draw.drawAreaLeftF - 0.5f + originX, draw.drawAreaTopF - 0.5f + originY,
                         draw.drawAreaRightF - 0.5f + originX, draw.drawAreaBottomF - 0.5f + originY};
      result = DrawPieces(device, r, graph, first, surface, at, &clip);
    }
  }
  if (result != 0) return result;
  return Finish(device);
}

int GraphFlags(int transparent, int exact) {
  return (transparent ? kDrawFlagTransparent : 0) | (exact ? kDrawFlagExactAlpha : 0) | ZFlag();
}

}  // namespace

int BeginGraphRunD3D(GraphRunD3D* run, int transparent, int exactAlpha) {
  const Direct3DState& state = GetDirect3DState();
  const DrawState& draw = GetDrawState();
  *run = GraphRunD3D{};
  run->device = state.currentDevice;
  run->record = Direct3DAvailable() ? GetDeviceRecord(run->device) : nullptr;
  if (run->record == nullptr) return run->refusal = -1;
  if (state.memImageTarget || !DrawableBlendMode(draw.blendMode)) {
    run->record = nullptr;
    return run->refusal = 0;
  }
  run->graphFlags = GraphFlags(transparent, exactAlpha);
  run->stretchFlags = GraphFlags(transparent, exactAlpha && draw.drawMode != 1);
  return 0;
}

int DrawGraphD3D(int x, int y, float fx, float fy, GraphRecord* graph, int transparent, int exactAlpha) {
  GraphRunD3D run;
  BeginGraphRunD3D(&run, transparent, exactAlpha);
  if (run.record == nullptr || graph == nullptr) return graph == nullptr ? -1 : run.refusal;
  return DrawGraphAt(run.device, *run.record, x, y, fx, fy, graph, run.graphFlags, nullptr);
}

int DrawStretchGraphD3D(int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                        GraphRecord* graph, int transparent, int exactAlpha) {
  GraphRunD3D run;
  BeginGraphRunD3D(&run, transparent, exactAlpha);
  if (run.refusal != 0 || graph == nullptr) return -1;
  if (GetDirect3DState().memImageTarget) return 0;
  if (x1 == x2 || y1 == y2) return -1;
  // A graph without size has no scale.
  if (graph->width <= 0 || graph->height <= 0) return -1;
  if (run.record == nullptr) return 0;  // a blend mode the device does not draw
  return DrawStretchGraphAt(run.device, *run.record, x1, y1, x2, y2, fx1, fy1, fx2, fy2, graph,
                            run.stretchFlags, nullptr);
}

int DrawGraphInRunD3D(GraphRunD3D* run, int x, int y, int width, int height, GraphRecord* graph) {
  if (graph == nullptr) return -1;
  if (run->record == nullptr) return run->refusal;
  D3DDeviceRecord& r = *run->record;
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  if (width == graph->width && height == graph->height)
    return DrawGraphAt(run->device, r, x, y, fx, fy, graph, run->graphFlags, run);
  if (width == 0 || height == 0 || graph->width <= 0 || graph->height <= 0) return -1;
  return DrawStretchGraphAt(run->device, r, x, y, x + width, y + height, fx, fy,
                            static_cast<float>(x + width), static_cast<float>(y + height), graph,
                            run->stretchFlags, run);
}

int DrawStringD3D(int x, int y, const char* text, int colour, int font, int edgeColour, int vertical) {
  const D3DDrawingHooks& hooks = g_hooks;
  if (text == nullptr || hooks.getFontTextureCacheFlag == nullptr) return -1;
  const int cached = hooks.getFontTextureCacheFlag(font);
  if (cached < 0) return -1;
  if (cached == 0) {
    return hooks.drawStringSoft != nullptr
               ? hooks.drawStringSoft(x, y, text, colour, font, edgeColour, vertical)
               : -1;
  }
  if (GetDirect3DState().memImageTarget) return -1;
  if (hooks.restoreFontCacheImage != nullptr) hooks.restoreFontCacheImage(font);
  if (hooks.drawStringWithFontCache != nullptr) {
    const DrawState& draw = GetDrawState();
    const RECT clip{draw.drawAreaLeft, draw.drawAreaTop, draw.drawAreaRight, draw.drawAreaBottom};
    hooks.drawStringWithFontCache(x, y, text, colour, &clip, 1, font, edgeColour,
                                  static_cast<int>(std::strlen(text)), vertical);
  }
  return 0;
}

}  // namespace gamelib
