// Glyphs are rendered by FreeType once per font and direction, their coverage packed
// into pages shelf by shelf; an edged font keeps the edge beside each glyph.
#include "font/glyph_cache.h"

#include <cstring>

#include "font/font_face.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

constexpr int kCellGap = 1;  // keeps neighbouring cells apart under filtering

// Hash key: the code point with the direction above its 21 bits.
std::uint32_t GlyphKey(char32_t codePoint, int vertical) {
  return static_cast<std::uint32_t>(codePoint) | (vertical ? 1u << 21 : 0u);
}
std::uint32_t HashKey(std::uint32_t key) { return (key * 2654435761u) >> 7; }

int NextPowerOfTwo(int value) {
  int side = 1;
  while (side < value) side <<= 1;
  return side;
}

int PageSideFor(const FontRecord& font) {
  const int cell = font.size + 2 * font.size / 8 + 4;  // a glyph with room for strokes and edge
  int side = NextPowerOfTwo(cell * 16);
  if (side < kMinGlyphPageSide) side = kMinGlyphPageSide;
  if (side > kMaxGlyphPageSide) side = kMaxGlyphPageSide;
  return side;
}

bool GrowGlyphs(GlyphCache& cache) {
  const int capacity = cache.glyphCapacity == 0 ? 64 : cache.glyphCapacity * 2;
  auto* glyphs = static_cast<CachedGlyph*>(
      AllocMemory(sizeof(CachedGlyph) * static_cast<std::size_t>(capacity), __FILE__, __LINE__));
  if (glyphs == nullptr) return false;
  if (cache.glyphCount > 0) std::memcpy(glyphs, cache.glyphs, sizeof(CachedGlyph) * cache.glyphCount);
  FreeMemory(cache.glyphs);
  cache.glyphs = glyphs;
  cache.glyphCapacity = capacity;
  return true;
}

void InsertHash(int* slots, int capacity, std::uint32_t key, int index) {
  std::uint32_t at = HashKey(key) & static_cast<std::uint32_t>(capacity - 1);
  while (slots[at] >= 0) at = (at + 1) & static_cast<std::uint32_t>(capacity - 1);
  slots[at] = index;
}

bool GrowHash(GlyphCache& cache) {
  const int capacity = cache.hashCapacity == 0 ? 256 : cache.hashCapacity * 2;
  auto* slots =
      static_cast<int*>(AllocMemory(sizeof(int) * static_cast<std::size_t>(capacity), __FILE__, __LINE__));
  if (slots == nullptr) return false;
  std::memset(slots, 0xFF, sizeof(int) * static_cast<std::size_t>(capacity));
  for (int i = 0; i < cache.glyphCount; ++i) {
    const std::uint32_t key = cache.glyphs[i].key;
    if (key >= 128) InsertHash(slots, capacity, key, i);
  }
  FreeMemory(cache.hashSlots);
  cache.hashSlots = slots;
  cache.hashCapacity = capacity;
  return true;
}

int FindCached(const GlyphCache& cache, std::uint32_t key) {
  if (cache.hashCapacity == 0) return -1;
  const std::uint32_t mask = static_cast<std::uint32_t>(cache.hashCapacity - 1);
  for (std::uint32_t at = HashKey(key) & mask;; at = (at + 1) & mask) {
    const int index = cache.hashSlots[at];
    if (index < 0) return -1;
    if (cache.glyphs[index].key == key) return index;
  }
}

void ReleasePage(FontRecord* font, GlyphCachePage& page) {
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (page.graph >= 0 && hooks.releasePageGraph != nullptr)
    hooks.releasePageGraph(font, &page - font->cache.pages);
  page.graph = -1;
  DeleteMemImg(&page.image);
}

// A fresh page of at least `side` pixels a side at the end of the list; its index or -1.
int AddPage(FontRecord* font, int side) {
  GlyphCache& cache = font->cache;
  if (cache.pageCount == cache.pageCapacity) {
    const int capacity = cache.pageCapacity == 0 ? 4 : cache.pageCapacity * 2;
    auto* pages = static_cast<GlyphCachePage*>(
        AllocMemoryZeroed(sizeof(GlyphCachePage) * static_cast<std::size_t>(capacity), __FILE__, __LINE__));
    if (pages == nullptr) return -1;
    if (cache.pageCount > 0) std::memcpy(pages, cache.pages, sizeof(GlyphCachePage) * cache.pageCount);
    FreeMemory(cache.pages);
    cache.pages = pages;
    cache.pageCapacity = capacity;
  }
  GlyphCachePage& page = cache.pages[cache.pageCount];
  std::memset(&page, 0, sizeof(page));
  page.graph = -1;
  if (CreateMemImg(&page.image, side, side, kMemImgKind32, 1, 0, 0) != 0) return -1;
  const int index = cache.pageCount++;
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (font->textureCacheFlag && hooks.createPageGraph != nullptr) hooks.createPageGraph(font, index);
  return index;
}

// Room for a w x h block: the page and the top-left, or false.
bool Allocate(FontRecord* font, int w, int h, int* pageOut, int* xOut, int* yOut) {
  GlyphCache& cache = font->cache;
  const int needW = w + kCellGap;
  const int needH = h + kCellGap;
  if (needW > kMaxGlyphCellSide || needH > kMaxGlyphCellSide) return false;
  if (cache.pageCount > 0) {
    GlyphCachePage& page = cache.pages[cache.pageCount - 1];
    const int side = page.image.width;
    int x = page.cursorX;
    int y = page.shelfTop;
    if (x + needW > side) {  // next shelf
      x = 0;
      y = page.shelfTop + page.shelfHeight;
    }
    if (x + needW <= side && y + needH <= side) {
      if (y != page.shelfTop) {
        page.shelfTop = y;
        page.shelfHeight = 0;
      }
      page.cursorX = x + needW;
      if (needH > page.shelfHeight) page.shelfHeight = needH;
      *pageOut = cache.pageCount - 1;
      *xOut = x;
      *yOut = y;
      return true;
    }
  }
  // A glyph larger than the usual page gets a page of its own size.
  int side = cache.pageSide;
  if (needW > side || needH > side) side = NextPowerOfTwo(needW > needH ? needW : needH);
  const int index = AddPage(font, side);
  if (index < 0) return false;
  GlyphCachePage& page = cache.pages[index];
  page.cursorX = needW;
  page.shelfHeight = needH;
  *pageOut = index;
  *xOut = 0;
  *yOut = 0;
  return true;
}

void MarkDirty(GlyphCachePage& page, int x, int y, int w, int h) {
  if (page.dirtyRight <= page.dirtyLeft) {
    page.dirtyLeft = x;
    page.dirtyTop = y;
    page.dirtyRight = x + w;
    page.dirtyBottom = y + h;
    return;
  }
  if (x < page.dirtyLeft) page.dirtyLeft = x;
  if (y < page.dirtyTop) page.dirtyTop = y;
  if (x + w > page.dirtyRight) page.dirtyRight = x + w;
  if (y + h > page.dirtyBottom) page.dirtyBottom = y + h;
}

// Copies the rendered coverage into the page at (x, y), bits expanded to 0 or 255.
void StoreCoverage(GlyphCachePage& page, const RenderedGlyph& r, int x, int y) {
  for (int row = 0; row < r.height; ++row) {
    const std::uint8_t* src = r.topRow + static_cast<long>(row) * r.pitch;
    std::uint8_t* dst = GetMemImgRow(&page.image, y + row) + x;
    if (r.monochrome) {
      for (int col = 0; col < r.width; ++col) dst[col] = (src[col >> 3] & (0x80 >> (col & 7))) ? 255 : 0;
    } else {
      std::memcpy(dst, src, static_cast<std::size_t>(r.width));
    }
  }
}

// The edge: every pixel among the 8 neighbours of a covered pixel that is not covered
// itself (the glyph dilated by one pixel, less the glyph). The glyph is at (gx, gy), its
// edge cell, one pixel larger all round, at (ex, ey).
void StoreEdge(GlyphCachePage& page, int gx, int gy, int w, int h, int ex, int ey) {
  for (int row = 0; row < h + 2; ++row) {
    std::uint8_t* dst = GetMemImgRow(&page.image, ey + row) + ex;
    for (int col = 0; col < w + 2; ++col) {
      // Glyph pixel (col - 1, row - 1) is this edge-cell pixel; neighbours are checked in glyph space.
      const int cx = col - 1;
      const int cy = row - 1;
      auto covered = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < w && py < h && GetMemImgRow(&page.image, gy + py)[gx + px] != 0;
      };
      std::uint8_t value = 0;
      if (!covered(cx, cy)) {
        for (int dy = -1; dy <= 1 && value == 0; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (covered(cx + dx, cy + dy)) {
              value = 255;
              break;
            }
      }
      dst[col] = value;
    }
  }
}

int AddGlyph(FontRecord* font, char32_t codePoint, int vertical) {
  GlyphCache& cache = font->cache;
  RenderedGlyph r;
  if (RenderFontGlyph(*font, codePoint, vertical, &r) != 0) return -1;
  if (cache.glyphCount == cache.glyphCapacity && !GrowGlyphs(cache)) return -1;
  const std::uint32_t key = GlyphKey(codePoint, vertical);
  const bool hashed = key >= 128;  // horizontal ASCII has its own table
  if (hashed && (cache.glyphCount + 1) * 2 > cache.hashCapacity && !GrowHash(cache)) return -1;

  CachedGlyph g{};
  g.key = key;
  g.page = -1;
  g.graphs[0] = g.graphs[1] = -1;
  g.width = r.width;
  g.height = r.height;
  g.offsetX = r.offsetX;
  g.offsetY = r.offsetY;
  g.advance = r.advance;
  const bool edged = (font->kind & kFontKindEdge) != 0;
  if (edged) {
    // The glyph moves one pixel right and down so that its edge starts at the pen.
    ++g.offsetX;
    ++g.offsetY;
  }
  if (r.width > 0 && r.height > 0) {
    // Edged: the edge cell first, the glyph after it on the same shelf.
    const int blockW = edged ? (r.width + 2) + kCellGap + r.width : r.width;
    const int blockH = edged ? r.height + 2 : r.height;
    int page, x, y;
    if (!Allocate(font, blockW, blockH, &page, &x, &y)) return -1;
    GlyphCachePage& p = cache.pages[page];
    g.page = page;
    g.cellX = edged ? x + r.width + 2 + kCellGap : x;
    g.cellY = y;
    StoreCoverage(p, r, g.cellX, g.cellY);
    if (edged) {
      g.edgeX = x;
      g.edgeY = y;
      StoreEdge(p, g.cellX, g.cellY, r.width, r.height, g.edgeX, g.edgeY);
    }
    MarkDirty(p, x, y, blockW, blockH);
  }
  const int index = cache.glyphCount++;
  cache.glyphs[index] = g;
  if (hashed) {
    InsertHash(cache.hashSlots, cache.hashCapacity, key, index);
  } else {
    cache.asciiIndex[key] = index;
  }
  return index;
}

}  // namespace

int InitGlyphCache(FontRecord* font) {
  GlyphCache& cache = font->cache;
  std::memset(&cache, 0, sizeof(cache));
  for (int& index : cache.asciiIndex) index = -1;
  cache.pageSide = PageSideFor(*font);
  return 0;
}

void FreeGlyphCache(FontRecord* font) {
  GlyphCache& cache = font->cache;
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (hooks.releaseGlyphGraphs != nullptr)
    for (int i = 0; i < cache.glyphCount; ++i) hooks.releaseGlyphGraphs(&cache.glyphs[i]);
  for (int i = 0; i < cache.pageCount; ++i) ReleasePage(font, cache.pages[i]);
  FreeMemory(cache.pages);
  FreeMemory(cache.glyphs);
  FreeMemory(cache.hashSlots);
  const int side = cache.pageSide;
  std::memset(&cache, 0, sizeof(cache));
  for (int& index : cache.asciiIndex) index = -1;
  cache.pageSide = side;
}

void TrimGlyphCache(FontRecord* font) {
  long bytes = 0;
  for (int i = 0; i < font->cache.pageCount; ++i)
    bytes += static_cast<long>(font->cache.pages[i].image.width) * font->cache.pages[i].image.height;
  if (bytes > kMaxGlyphCacheBytes) FreeGlyphCache(font);
}

int FindGlyph(FontRecord* font, char32_t codePoint, int vertical) {
  GlyphCache& cache = font->cache;
  const std::uint32_t key = GlyphKey(codePoint, vertical);
  const int found = (key < 128) ? cache.asciiIndex[key] : FindCached(cache, key);
  if (found >= 0) return found;
  return AddGlyph(font, codePoint, vertical);
}

int UploadGlyphPage(FontRecord* font, int page) {
  GlyphCachePage& p = font->cache.pages[page];
  if (p.dirtyRight <= p.dirtyLeft) return 0;
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (hooks.uploadPageGraph == nullptr || p.graph < 0) return -1;
  if (hooks.uploadPageGraph(font, page) != 0) return -1;
  p.dirtyLeft = p.dirtyTop = p.dirtyRight = p.dirtyBottom = 0;
  return 0;
}

}  // namespace gamelib
