// The font record, its glyph cache and the hooks through which the top layer lets
// fonts reach the 3-D road.
#pragma once

#include <cstdint>

#include "gamelib/font.h"
#include "gamelib/softrender.h"

struct FT_FaceRec_;

namespace gamelib {

// One glyph as it sits in the cache. Offsets are from the pen: for horizontal text the
// pen is the top of the line at the character's left, for vertical text the left of the
// column at the character's top.
struct CachedGlyph {
  std::uint32_t key;  // the code point, bit 21 set for the vertical form
  int page;           // -1 when the glyph has no pixels
  int cellX;
  int cellY;
  int width;
  int height;
  int offsetX;
  int offsetY;
  int advance;  // pixels along the line
  // Edged kinds: the edge cell, width + 2 by height + 2, one pixel up and left of the glyph.
  int edgeX;
  int edgeY;
  int graphs[2];  // graphs of the glyph's and the edge's cell on the device road, -1 none
};

// A square of coverage bytes (0 none, 255 full) into which glyphs are packed shelf by
// shelf. The memory image is always there; a texture-cached font also keeps a texture
// graph with the same pixels, made and refreshed through the cache hooks.
struct GlyphCachePage {
  MEMIMG image;  // one byte per pixel (palette kind): the coverage
  int shelfTop;
  int shelfHeight;
  int cursorX;
  // Rectangle written since the last upload; empty when right <= left.
  int dirtyLeft;
  int dirtyTop;
  int dirtyRight;
  int dirtyBottom;
  int graph;       // texture graph holding the page, -1 none
  int graphEpoch;  // the device's life in which the graph got its pixels
};

struct GlyphCache {
  CachedGlyph* glyphs;
  int glyphCount;
  int glyphCapacity;
  int asciiIndex[128];  // glyph index of each ASCII character, -1 not cached
  int* hashSlots;       // open addressing on the code point: glyph index, -1 empty
  int hashCapacity;     // power of two
  GlyphCachePage* pages;
  int pageCount;
  int pageCapacity;
  int pageSide;
};

struct FontRecord {
  int checkWord;  // the handle table's check number
  int handle;
  int textureCacheFlag;  // 1: the cache pages live in texture graphs too
  int size;              // pixels per em
  int thickness;
  int kind;        // kFontKind*
  int ascender;    // pixels from the top of the line to the baseline
  int lineHeight;  // pixels
  FT_FaceRec_* face;
  GlyphCache cache;
};

// A glyph's cell and the rectangle it is drawn onto on the device road.
struct GlyphCellDraw {
  CachedGlyph* glyph;
  int x, y, width, height;
};

// The record of a valid font handle, else null.
FontRecord* GetFontRecord(int font);

// What the 3-D road lends the font system. Every member may be null.
struct FontRoadHooks {
  // Decides the texture-cache flag of a new font (1 or 0).
  int (*textureCacheRule)();
  // The current draw target as a memory image, locked until the unlock; null when it
  // is not one the software road can draw into.
  MEMIMG* (*lockSoftwareTarget)();
  void (*unlockSoftwareTarget)();
  // 1 while the device can draw text into the current draw target.
  int (*deviceDrawsText)();
  // Makes the texture graph of a cache page with all its pixels, refreshes its dirty
  // rectangle, releases it (0 or -1).
  int (*createPageGraph)(FontRecord* font, int page);
  int (*uploadPageGraph)(FontRecord* font, int page);
  void (*releasePageGraph)(FontRecord* font, int page);
  // 1 when the page's graph lost its pixels (with the device) and must be made again.
  int (*pageGraphLost)(FontRecord* font, int page);
  // Draws the glyphs' cells (edge 1: their edge cells) in order, each stretched onto its
  // rectangle, in the colour, inside the clip, on the device (0, or -1 when one failed);
  // and frees what that kept.
  int (*drawGlyphCells)(FontRecord* font, const GlyphCellDraw* cells, int count, int edge, int colour,
                        const RECT* clip);
  void (*releaseGlyphGraphs)(CachedGlyph* glyph);
  // The 3-D road's string drawing, and the emulation of blend mode 3 around it.
  int (*drawStringD3D)(int x, int y, const char* string, int colour, int font, int edgeColour, int vertical);
  int (*beginBlendMode3Emulation)(const RECT* rect);
  int (*endBlendMode3Emulation)(const RECT* rect);
};
void SetFontRoadHooks(const FontRoadHooks* hooks);  // null: none
const FontRoadHooks& GetFontRoadHooks();

}  // namespace gamelib
