// The glyph cache of a font: glyphs rendered once, packed into coverage pages, found
// again by character.
#pragma once

#include <cstddef>

#include "font/font_record.h"

namespace gamelib {

// Pages holding more bytes than this and the cache starts again empty before the next
// string (a string's own glyphs are always all there while it is drawn).
constexpr long kMaxGlyphCacheBytes = 16L << 20;
// Sides of the pages of a font: enough for a few hundred glyphs, a power of two.
constexpr int kMinGlyphPageSide = 256;
constexpr int kMaxGlyphPageSide = 2048;
// A glyph that needs a larger page than this is not cached (and not drawn).
constexpr int kMaxGlyphCellSide = 8192;

// An empty cache for the font (its size and kind set). 0 or -1.
int InitGlyphCache(FontRecord* font);
// Frees the pages (and their graphs) and the tables.
void FreeGlyphCache(FontRecord* font);
// Empties the cache when it has grown past kMaxGlyphCacheBytes.
void TrimGlyphCache(FontRecord* font);

// The index in font->cache.glyphs of the character in that direction, rendered and
// packed on first use; -1 when it cannot be rendered or stored.
int FindGlyph(FontRecord* font, char32_t codePoint, int vertical);

// Bytes of row y of a page.
inline const std::uint8_t* GlyphPageRow(const GlyphCachePage& page, int y) {
  return page.image.pixels + static_cast<std::ptrdiff_t>(y) * page.image.shared->pitch;
}

// The page's rows written since its last upload go to its texture graph. 0 or -1.
int UploadGlyphPage(FontRecord* font, int page);

}  // namespace gamelib
