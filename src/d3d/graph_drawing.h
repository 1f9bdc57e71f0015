// Textured drawing of graphs through the device: the vertex colour, the state set-up
// every drawing routine runs first, graphs at a point or stretched, and text from a
// texture glyph cache.
#pragma once

#include "d3d/texture_pieces.h"
#include "graphics/graph_records.h"

namespace gamelib {

// Flags of SetDrawStatesD3D.
constexpr int kDrawFlagTransparent = 1;
constexpr int kDrawFlagExactAlpha = 2;  // keep the texture's alpha test under bilinear filtering
constexpr int kDrawFlagZ = 4;           // apply the draw state's Z fields
constexpr int kDrawFlagUseColour = 0x20;

// What the drawing routines call on floors of their own level, filled by the top
// layer; a null entry refuses (the routine returns -1).
struct D3DDrawingHooks {
  int (*drawFillBoxSoft)(int x1, int y1, int x2, int y2, int colour);
  int (*drawBoxOutlineSoft)(int x1, int y1, int x2, int y2, int colour);
  int (*drawStringSoft)(int x, int y, const char* text, int colour, int font, int edgeColour, int vertical);
  // -1 for an invalid font handle, else 1 when its glyph cache is a texture graph, 0 if not.
  int (*getFontTextureCacheFlag)(int font);
  int (*restoreFontCacheImage)(int font);
  // Draws `length` bytes of text through the font's glyph cache into the current target,
  // clipped to `clip`.
  int (*drawStringWithFontCache)(int x, int y, const char* text, int colour, const RECT* clip,
                                 int transparent, int font, int edgeColour, int length, int vertical);
};
D3DDrawingHooks& GetD3DDrawingHooks();

// Draw diffuse colour from the blend mode, parameter and brightness. 0.
int UpdateDrawDiffuseColor();
void SetDrawStatesD3D(Surface3DDataRecord* piece, int flags);
int DrawGraphD3D(int x, int y, float fx, float fy, GraphRecord* graph, int transparent, int exactAlpha);
int DrawStretchGraphD3D(int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                        GraphRecord* graph, int transparent, int exactAlpha);
int DrawStringD3D(int x, int y, const char* text, int colour, int font, int edgeColour, int vertical);

// Graphs drawn one after another, each as DrawGraphD3D (at its own size) or
// DrawStretchGraphD3D (at another) would draw it, with what a call checks done once and
// the draw states set again only when a graph's texture differs from the last one's.
// Between its begin and its last draw nothing but the run may change the draw state or
// the device's states; drawing the batch or ending the scene may happen.
struct GraphRunD3D {
  int device;
  D3DDeviceRecord* record;  // null when the run draws nothing
  int refusal;              // what each draw returns then
  int graphFlags, stretchFlags;
  IDirectDrawSurface7* texture;  // the states were last set for this texture and flags
  int statesFlags;
};
// 0, or what every draw of the run returns without drawing: -1 without a device, 0 on
// a memory-image target or in a blend mode the device does not draw.
int BeginGraphRunD3D(GraphRunD3D* run, int transparent, int exactAlpha);
// Draws the graph onto (x, y, width, height): 0, or -1 for a graph it cannot draw.
int DrawGraphInRunD3D(GraphRunD3D* run, int x, int y, int width, int height, GraphRecord* graph);

// Boxes, outlines and clearing a texture draw target.
int DrawFillBoxD3D(int x1, int y1, int x2, int y2, int colour);
int DrawBoxOutlineD3D(int x1, int y1, int x2, int y2, int colour);
int ClearDrawScreenD3D();

// The device's draw blend mode is one it can draw (0..11).
inline bool DrawableBlendMode(int mode) { return mode >= 0 && mode <= 11; }

}  // namespace gamelib

namespace gamelib {

// Blend mode 3 of a textured draw, built from complements and an additive draw: the
// rectangle (left, top, right, bottom) is complemented with a white box, the caller
// draws in mode 5, and the end complements it back and restores mode 3.
int BeginBlendMode3Emulation(const RECT* rect);
int EndBlendMode3Emulation(const RECT* rect);

}  // namespace gamelib
