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
