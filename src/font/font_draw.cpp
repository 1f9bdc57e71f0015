// Strings laid out glyph by glyph from the cache and drawn as coverage: into a memory
// image under the draw state's blend mode, or through the device hook from the cache's
// texture pages.
#include "font/font_draw.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "font/font_record.h"
#include "font/glyph_cache.h"
#include "font/utf8.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"

namespace gamelib {
namespace {

constexpr double kMaxFontScale = 64.0;
// Pen travel past this many pixels ends the layout: nothing further could be seen.
constexpr std::int64_t kMaxTextExtent = std::int64_t{1} << 24;

struct Placement {
  int glyph;
  int penX;  // unscaled, from the text's origin
  int penY;
};

struct ScratchState {
  Placement* placements;
  int capacity;
};
ScratchState g_scratch;

bool ReserveScratch(int count) {
  if (count <= g_scratch.capacity) return true;
  int capacity = g_scratch.capacity == 0 ? 64 : g_scratch.capacity;
  while (capacity < count) capacity *= 2;
  auto* placements = static_cast<Placement*>(
      AllocMemory(sizeof(Placement) * static_cast<std::size_t>(capacity), __FILE__, __LINE__));
  if (placements == nullptr) return false;
  if (g_scratch.capacity > 0)
    std::memcpy(placements, g_scratch.placements, sizeof(Placement) * g_scratch.capacity);
  FreeMemory(g_scratch.placements);
  g_scratch.placements = placements;
  g_scratch.capacity = capacity;
  return true;
}

// ---- Coverage onto memory images -----------------------------------------------------

enum PixelFormat { kFormat565, kFormat565Alpha, kFormatXrgb, kFormatArgb };
// What a covered pixel does: move towards the colour (modes 0, 1 and, with the colour
// inverted, 10), add it (2), subtract it (3), or move towards the product (4, 11).
enum InkOp { kInkLerp, kInkAdd, kInkSub, kInkMul };

struct Ink {
  int op;
  int red, green, blue;      // in the target's field widths, brightness applied
  std::uint32_t solid;       // the whole pixel a full lerp writes
  std::uint8_t weight[256];  // coverage to weight 0..255
};

struct Target {
  MEMIMG* image;
  int format;
  int left, top, right, bottom;  // clip, inside the image
};

inline std::uint8_t* TargetRow(const Target& t, std::int64_t row) {
  return t.image->pixels + row * t.image->shared->pitch;
}

inline int Lerp(int d, int c, int w) { return d + (c - d) * w / 255; }

template <int Op>
inline int BlendField(int d, int c, int max, int w) {
  if constexpr (Op == kInkLerp) {
    return Lerp(d, c, w);
  } else if constexpr (Op == kInkAdd) {
    const int v = d + c * w / 255;
    return v > max ? max : v;
  } else if constexpr (Op == kInkSub) {
    const int v = d - c * w / 255;
    return v < 0 ? 0 : v;
  } else {
    return Lerp(d, c * d / max, w);
  }
}

template <int Format, int Op>
inline void InkPixel(std::uint8_t* p, int w, const Ink& ink) {
  if constexpr (Format == kFormat565) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    if (Op == kInkLerp && w == 255) {
      v = static_cast<std::uint16_t>(ink.solid);
    } else {
      const int r = BlendField<Op>(v >> 11, ink.red, 31, w);
      const int g = BlendField<Op>((v >> 5) & 63, ink.green, 63, w);
      const int b = BlendField<Op>(v & 31, ink.blue, 31, w);
      v = static_cast<std::uint16_t>(r << 11 | g << 5 | b);
    }
    std::memcpy(p, &v, 2);
  } else {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if (Op == kInkLerp && w == 255) {
      v = Format == kFormatXrgb ? (v & 0xFF000000u) | ink.solid : ink.solid;
    } else if constexpr (Format == kFormat565Alpha) {
      const int r = BlendField<Op>((v >> 11) & 31, ink.red, 31, w);
      const int g = BlendField<Op>((v >> 5) & 63, ink.green, 63, w);
      const int b = BlendField<Op>(v & 31, ink.blue, 31, w);
      int a = (v >> 16) & 255;
      if (Op == kInkLerp) a = Lerp(a, 255, w);
      v = (v & 0xFF000000u) | static_cast<std::uint32_t>(a << 16 | r << 11 | g << 5 | b);
    } else {
      const int r = BlendField<Op>((v >> 16) & 255, ink.red, 255, w);
      const int g = BlendField<Op>((v >> 8) & 255, ink.green, 255, w);
      const int b = BlendField<Op>(v & 255, ink.blue, 255, w);
      std::uint32_t a = v >> 24;
      if (Format == kFormatArgb && Op == kInkLerp)
        a = static_cast<std::uint32_t>(Lerp(static_cast<int>(a), 255, w));
      v = a << 24 | static_cast<std::uint32_t>(r << 16 | g << 8 | b);
    }
    std::memcpy(p, &v, 4);
  }
}

constexpr int BytesOf(int format) { return format == kFormat565 ? 2 : 4; }

// A cell of coverage onto the rectangle (x, y, dw, dh) of the target, clipped, sampled
// nearest when the sizes differ.
template <int Format, int Op>
void InkCell(const Target& t, const Ink& ink, const GlyphCachePage& page, int cellX, int cellY, int w, int h,
             std::int64_t x, std::int64_t y, std::int64_t dw, std::int64_t dh) {
  const std::int64_t left = x > t.left ? x : t.left;
  const std::int64_t top = y > t.top ? y : t.top;
  const std::int64_t right = x + dw < t.right ? x + dw : t.right;
  const std::int64_t bottom = y + dh < t.bottom ? y + dh : t.bottom;
  if (left >= right || top >= bottom) return;
  constexpr int bytes = BytesOf(Format);
  const bool unscaled = dw == w && dh == h;
  for (std::int64_t row = top; row < bottom; ++row) {
    const std::int64_t sy = unscaled ? row - y : ((row - y) * 2 + 1) * h / (dh * 2);
    const std::uint8_t* src = GlyphPageRow(page, cellY + static_cast<int>(sy)) + cellX;
    std::uint8_t* dst = TargetRow(t, row);
    if (unscaled) {
      const std::uint8_t* s = src + (left - x);
      std::uint8_t* d = dst + left * bytes;
      for (std::int64_t n = right - left; n > 0; --n, ++s, d += bytes) {
        if (*s == 0) continue;
        const int wgt = ink.weight[*s];
        if (wgt != 0) InkPixel<Format, Op>(d, wgt, ink);
      }
    } else {
      for (std::int64_t col = left; col < right; ++col) {
        const std::int64_t sx = ((col - x) * 2 + 1) * w / (dw * 2);
        const int wgt = ink.weight[src[sx]];
        if (wgt != 0) InkPixel<Format, Op>(dst + col * bytes, wgt, ink);
      }
    }
  }
}

template <int Format>
void ClearRect(const Target& t, std::int64_t x, std::int64_t y, std::int64_t dw, std::int64_t dh) {
  const std::int64_t left = x > t.left ? x : t.left;
  const std::int64_t top = y > t.top ? y : t.top;
  const std::int64_t right = x + dw < t.right ? x + dw : t.right;
  const std::int64_t bottom = y + dh < t.bottom ? y + dh : t.bottom;
  if (left >= right || top >= bottom) return;
  for (std::int64_t row = top; row < bottom; ++row)
    std::memset(TargetRow(t, row) + left * BytesOf(Format), 0,
                static_cast<std::size_t>((right - left) * BytesOf(Format)));
}

using CellInker = void (*)(const Target&, const Ink&, const GlyphCachePage&, int, int, int, int, std::int64_t,
                           std::int64_t, std::int64_t, std::int64_t);
using RectClearer = void (*)(const Target&, std::int64_t, std::int64_t, std::int64_t, std::int64_t);

template <int Format>
CellInker InkerFor(int op) {
  switch (op) {
    case kInkAdd:
      return InkCell<Format, kInkAdd>;
    case kInkSub:
      return InkCell<Format, kInkSub>;
    case kInkMul:
      return InkCell<Format, kInkMul>;
    default:
      return InkCell<Format, kInkLerp>;
  }
}

CellInker InkerFor(int format, int op) {
  switch (format) {
    case kFormat565:
      return InkerFor<kFormat565>(op);
    case kFormat565Alpha:
      return InkerFor<kFormat565Alpha>(op);
    case kFormatXrgb:
      return InkerFor<kFormatXrgb>(op);
    default:
      return InkerFor<kFormatArgb>(op);
  }
}

RectClearer ClearerFor(int format) {
  switch (format) {
    case kFormat565:
      return ClearRect<kFormat565>;
    case kFormat565Alpha:
      return ClearRect<kFormat565Alpha>;
    case kFormatXrgb:
      return ClearRect<kFormatXrgb>;
    default:
      return ClearRect<kFormatArgb>;
  }
}

// The ink of a colour (a pixel value of the target) under the draw state; false for a
// blend mode that software does not draw.
bool PrepareInk(int format, int colour, const DrawState& state, Ink* ink) {
  const int mode = state.blendMode;
  const int parameter =
      state.blendParameter < 0 ? 0 : (state.blendParameter > 255 ? 255 : state.blendParameter);
  switch (mode) {
    case BlendNone:
    case BlendAlpha:
    case BlendInverted:
      ink->op = kInkLerp;
      break;
    case BlendAdd:
      ink->op = kInkAdd;
      break;
    case BlendSub:
      ink->op = kInkSub;
      break;
    case BlendMul:
    case BlendMulFade:
      ink->op = kInkMul;
      break;
    default:
      return false;
  }
  const bool wide = format == kFormatXrgb || format == kFormatArgb;
  const int rMax = wide ? 255 : 31, gMax = wide ? 255 : 63, bMax = wide ? 255 : 31;
  const auto c = static_cast<std::uint32_t>(colour);
  int r = wide ? (c >> 16) & 255 : (c >> 11) & 31;
  int g = wide ? (c >> 8) & 255 : (c >> 5) & 63;
  int b = wide ? c & 255 : c & 31;
  r = r * BrightnessRed(state.brightness) / 255;
  g = g * BrightnessGreen(state.brightness) / 255;
  b = b * BrightnessBlue(state.brightness) / 255;
  if (mode == BlendInverted) {
    r = rMax - r;
    g = gMax - g;
    b = bMax - b;
  }
  ink->red = r;
  ink->green = g;
  ink->blue = b;
  switch (format) {
    case kFormat565:
      ink->solid = static_cast<std::uint32_t>(r << 11 | g << 5 | b);
      break;
    case kFormat565Alpha:
      ink->solid = 0xFF0000u | static_cast<std::uint32_t>(r << 11 | g << 5 | b);
      break;
    case kFormatXrgb:
      ink->solid = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
      break;
    default:
      ink->solid = 0xFF000000u | static_cast<std::uint32_t>(r << 16 | g << 8 | b);
      break;
  }
  // Coverage is the weight in modes 0 and 4, scaled by the parameter in the others.
  const bool scaled = mode != BlendNone && mode != BlendMul;
  for (int k = 0; k < 256; ++k) ink->weight[k] = static_cast<std::uint8_t>(scaled ? k * parameter / 255 : k);
  return true;
}

int FormatOf(const MEMIMG* image) {
  const MemImgSharedRecord* s = image->shared;
  if (s->paletteFlag) return -1;
  if (s->kind == kMemImgKind16) return s->alphaFlag ? kFormat565Alpha : kFormat565;
  return s->alphaFlag ? kFormatArgb : kFormatXrgb;
}

std::int64_t Scaled(std::int64_t value, double scale) {
  return scale == 1.0 ? value
                      : static_cast<std::int64_t>(std::floor(static_cast<double>(value) * scale + 0.5));
}

// The cells of a glyph: the edge (pass 0) or the glyph itself (pass 1).
struct CellRect {
  int cellX, cellY, width, height, offsetX, offsetY;
};
CellRect CellOf(const CachedGlyph& g, bool edge) {
  if (edge) return {g.edgeX, g.edgeY, g.width + 2, g.height + 2, g.offsetX - 1, g.offsetY - 1};
  return {g.cellX, g.cellY, g.width, g.height, g.offsetX, g.offsetY};
}

// Draws the laid-out placements onto a memory image; false when it holds no colours.
bool DrawSoftware(FontRecord* font, MEMIMG* target, int x, int y, double scaleX, double scaleY, int colour,
                  const RECT* clip, int trans, int edgeColour, int count) {
  const bool edged = (font->kind & kFontKindEdge) != 0;
  Target t{target, FormatOf(target), 0, 0, target->width, target->height};
  if (t.format < 0) return false;
  if (clip != nullptr) {
    if (clip->left > t.left) t.left = clip->left;
    if (clip->top > t.top) t.top = clip->top;
    if (clip->right < t.right) t.right = clip->right;
    if (clip->bottom < t.bottom) t.bottom = clip->bottom;
  }
  if (t.left >= t.right || t.top >= t.bottom) return true;
  Ink inks[2];
  const DrawState& state = GetDrawState();
  if (!PrepareInk(t.format, colour, state, &inks[1])) return true;
  if (edged) PrepareInk(t.format, edgeColour, state, &inks[0]);
  const CellInker inker = InkerFor(t.format, inks[1].op);
  // Passes: the cells cleared (trans 0), every edge, then every glyph, so that no edge
  // covers a neighbour's glyph.
  for (int pass = trans ? (edged ? 0 : 1) : -1; pass < 2; ++pass) {
    if (pass == 0 && !edged) continue;
    for (int i = 0; i < count; ++i) {
      const Placement& p = g_scratch.placements[i];
      const CachedGlyph& g = font->cache.glyphs[p.glyph];
      if (g.page < 0) continue;
      const CellRect cell = CellOf(g, pass == 0 || (pass < 0 && edged));
      const std::int64_t dx = x + Scaled(p.penX + cell.offsetX, scaleX);
      const std::int64_t dy = y + Scaled(p.penY + cell.offsetY, scaleY);
      const std::int64_t dw = x + Scaled(p.penX + cell.offsetX + cell.width, scaleX) - dx;
      const std::int64_t dh = y + Scaled(p.penY + cell.offsetY + cell.height, scaleY) - dy;
      if (pass < 0) {
        ClearerFor(t.format)(t, dx, dy, dw, dh);
      } else {
        inker(t, inks[pass], font->cache.pages[g.page], cell.cellX, cell.cellY, cell.width, cell.height, dx,
              dy, dw, dh);
      }
    }
  }
  return true;
}

}  // namespace

void ReleaseFontScratch() {
  FreeMemory(g_scratch.placements);
  g_scratch = ScratchState{};
}

int DrawStringWithFontCache(int mode, int x, int y, int option, double scaleX, double scaleY,
                            const char* string, int colour, MEMIMG* image, const RECT* clip, int trans,
                            int fontHandle, int edgeColour, int length, int vertical, FontStringSize* size) {
  FontRecord* font = GetFontRecord(fontHandle);
  if (font == nullptr || string == nullptr || (mode != 0 && mode != 1)) return -1;
  if (!(scaleX > 0.0 && scaleX <= kMaxFontScale && scaleY > 0.0 && scaleY <= kMaxFontScale)) return -1;
  if (image != nullptr && (image->pixels == nullptr || image->shared == nullptr)) return -1;
  vertical = vertical ? 1 : 0;
  const bool edged = (font->kind & kFontKindEdge) != 0;
  TrimGlyphCache(font);

  // Lay the string out: one placement per drawn character.
  const auto* text = reinterpret_cast<const unsigned char*>(string);
  const std::size_t bytes =
      length < 0 ? std::strlen(string) : strnlen(string, static_cast<std::size_t>(length));
  int count = 0;
  std::int64_t pen = 0;
  // The box from the origin that drawing covers, unscaled: the line (or column) and
  // every cell's pixels.
  std::int64_t boxRight = vertical ? font->size : 0;
  std::int64_t boxBottom = vertical ? 0 : font->lineHeight;
  for (std::size_t at = 0; at < bytes && pen < kMaxTextExtent;) {
    const char32_t c = DecodeUtf8(text, bytes, &at);
    if (c < 0x20 || c == 0x7F) continue;  // control characters take no room
    const int index = FindGlyph(font, c, vertical);
    if (index < 0 || !ReserveScratch(count + 1)) continue;
    const CachedGlyph& g = font->cache.glyphs[index];
    const int penX = vertical ? 0 : static_cast<int>(pen);
    const int penY = vertical ? static_cast<int>(pen) : 0;
    g_scratch.placements[count++] = {index, penX, penY};
    if (g.page >= 0) {
      const CellRect ink = CellOf(g, edged);
      if (penX + ink.offsetX + ink.width > boxRight) boxRight = penX + ink.offsetX + ink.width;
      if (penY + ink.offsetY + ink.height > boxBottom) boxBottom = penY + ink.offsetY + ink.height;
    }
    pen += g.advance;
  }
  if (vertical) {
    if (pen > boxBottom) boxBottom = pen;
  } else if (pen > boxRight) {
    boxRight = pen;
  }
  const std::int64_t width = Scaled(boxRight, scaleX);
  const std::int64_t height = Scaled(boxBottom, scaleY);
  if (size != nullptr) {
    size->width = static_cast<int>(width);
    size->height = static_cast<int>(height);
  }
  const int result = static_cast<int>(vertical ? height : width);
  if (mode == 0) return result;

  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (image == nullptr && font->textureCacheFlag && hooks.drawGlyphCells != nullptr &&
      hooks.deviceDrawsText != nullptr && hooks.deviceDrawsText()) {
    // The device road: cells of the texture pages, every edge before any glyph, handed
    // over a batch at a time so that the colour and clip are set once per batch.
    constexpr int kBatch = 64;
    GlyphCellDraw cells[kBatch];
    for (int pass = edged ? 0 : 1; pass < 2; ++pass) {
      int pending = 0;
      for (int i = 0; i < count; ++i) {
        const Placement& p = g_scratch.placements[i];
        CachedGlyph& g = font->cache.glyphs[p.glyph];
        if (g.page < 0 || UploadGlyphPage(font, g.page) != 0) continue;
        const CellRect cell = CellOf(g, pass == 0);
        const std::int64_t dx = x + Scaled(p.penX + cell.offsetX, scaleX);
        const std::int64_t dy = y + Scaled(p.penY + cell.offsetY, scaleY);
        const std::int64_t dw = x + Scaled(p.penX + cell.offsetX + cell.width, scaleX) - dx;
        const std::int64_t dh = y + Scaled(p.penY + cell.offsetY + cell.height, scaleY) - dy;
        if (dx < -kMaxTextExtent || dx > kMaxTextExtent || dy < -kMaxTextExtent || dy > kMaxTextExtent)
          continue;
        cells[pending++] = {&g, static_cast<int>(dx), static_cast<int>(dy), static_cast<int>(dw),
                            static_cast<int>(dh)};
        if (pending == kBatch) {
          hooks.drawGlyphCells(font, cells, pending, pass == 0, pass == 0 ? edgeColour : colour, clip);
          pending = 0;
        }
      }
      if (pending > 0)
        hooks.drawGlyphCells(font, cells, pending, pass == 0, pass == 0 ? edgeColour : colour, clip);
    }
    return result;
  }
  MEMIMG* target = image;
  const bool locked = target == nullptr && hooks.lockSoftwareTarget != nullptr;
  if (locked) target = hooks.lockSoftwareTarget();
  if (target == nullptr) return -1;
  const int drawn =
      DrawSoftware(font, target, x, y, scaleX, scaleY, colour, clip, trans, edgeColour, count) ? result : -1;
  if (locked && hooks.unlockSoftwareTarget != nullptr) hooks.unlockSoftwareTarget();
  return drawn;
}

}  // namespace gamelib
