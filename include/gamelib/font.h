// Fonts and text: font handles, their glyph caches and the string drawing entries.
// Strings are UTF-8; an ill-formed sequence draws as U+FFFD.
#pragma once

#include "platform/win32.h"

namespace gamelib {

struct MEMIMG;

// Kinds of font: bit 0 an edge, bit 1 anti-aliasing.
constexpr int kFontKindPlain = 0;
constexpr int kFontKindEdge = 1;
constexpr int kFontKindAntialiased = 2;
constexpr int kFontKindAntialiasedEdge = 3;

constexpr int kFontDefaultSize = 16;
// Thickness 0..9; up to the normal one the face is drawn as it is, each step above it
// thickens the strokes. -1 means normal.
constexpr int kFontNormalThickness = 6;
constexpr int kFontMaxThickness = 9;
constexpr int kFontMaxSize = 512;
constexpr int kMaxFontHandles = 256;

// Text measured or drawn: the box from (x, y) that drawing covers. A glyph that reaches
// left of or above the origin (a negative bearing) is drawn there all the same.
struct FontStringSize {
  int width;
  int height;
};

// Makes a font of the named face (fontconfig family or pattern, or a font file path;
// null or "" for the default Japanese Gothic face). A name not installed falls back to
// the default with a log line. size -1 is kFontDefaultSize. A handle, or -1.
int CreateFontToHandle(const char* name, int size, int thickness, int kind);
int DeleteFontToHandle(int font);  // 0, or -1 for an invalid handle
int InitFontToHandle();            // deletes every font; always 0

// Mode 1 draws through the glyph cache at (x, y) into `image`, or into the current draw
// target when it is null, inside `clip` (null: the whole target); mode 0 draws nothing.
// Both return the width drawing covers (the height for vertical text) and fill `size`.
// Colours are pixel values of the target (5-6-5 for 16-bit, 0xRRGGBB for 32-bit);
// drawing follows the draw state's blend mode, parameter and brightness. length -1
// takes the string up to its zero byte. trans 0 clears each glyph's cell first. option
// is unused. -1 for an invalid font, string or scale, or no target.
int DrawStringWithFontCache(int mode, int x, int y, int option, double scaleX, double scaleY,
                            const char* string, int colour, MEMIMG* image, const RECT* clip, int trans,
                            int font, int edgeColour, int length, int vertical, FontStringSize* size);

// The font's cache pages made again on the device when they were lost. 0 or -1.
int RestoreFontCacheImage(int font);

// Text on the current draw target inside the draw area. 0, or -1 (invalid font or
// string, no target).
int DrawStringSoft(int x, int y, const char* string, int colour, int font, int edgeColour, int vertical);
int DrawStringToHandle(int x, int y, const char* string, int colour, int font, int edgeColour = 0,
                       int vertical = 0);
// The same with the default font, made on first use.
int DrawString(int x, int y, const char* string, int colour, int edgeColour = 0);

}  // namespace gamelib
