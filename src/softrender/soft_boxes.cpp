// Filled boxes and outlines on the software draw target, with the flat-colour kernels of
// the triangle rasteriser applied span by span, so that a box blends exactly as a
// flat triangle does and covers x1..x2 - 1 by y1..y2 - 1.
#include <algorithm>

#include "gamelib/graphics.h"
#include "graphics/draw_state.h"
#include "softrender/kernel_key.h"
#include "softrender/memimg.h"
#include "softrender/soft_target.h"
#include "softrender/triangle_kernels.h"

namespace gamelib {
namespace {

struct Span {
  int x, y, count;
};

using SpanFill = void (*)(const MEMIMG&, const Span*, int, const raster::PixelTables&, std::uint32_t);

template <int Kind, int Mode>
void FillSpans(const MEMIMG& dest, const Span* spans, int spanCount, const raster::PixelTables& t,
               std::uint32_t c) {
  constexpr int bytes = Kind == kMemImgKind16 ? 2 : 4;
  const std::uint32_t addend = raster::FlatAddend<Kind, Mode>(t, c);
  for (int s = 0; s < spanCount; ++s) {
    std::uint8_t* dp = MemImgRow(&dest, spans[s].y) + static_cast<std::ptrdiff_t>(spans[s].x) * bytes;
    raster::FlatSpan<Kind, Mode>(dp, spans[s].count, t, c, addend);
  }
}

template <int Kind>
SpanFill FillFor(int mode) {
  switch (mode) {
    case BlendNone:
      return FillSpans<Kind, BlendNone>;
    case BlendAlpha:
      return FillSpans<Kind, BlendAlpha>;
    case BlendAdd:
      return FillSpans<Kind, BlendAdd>;
    case BlendSub:
      return FillSpans<Kind, BlendSub>;
    case BlendMul:
      return FillSpans<Kind, BlendMul>;
    case BlendInverted:
      return FillSpans<Kind, BlendInverted>;
    case BlendMulFade:
      return FillSpans<Kind, BlendMulFade>;
    default:
      return nullptr;
  }
}

// Spans clipped to the draw area and the image, filled under the draw state.
int FillClipped(MEMIMG* dest, Span* spans, int spanCount, std::uint32_t colour) {
  if (dest == nullptr || dest->shared == nullptr || dest->pixels == nullptr) return -1;
  const MemImgSharedRecord& record = *dest->shared;
  if (record.paletteFlag || record.alphaFlag) return -1;
  const int kind = record.kind;
  if (kind != kMemImgKind16 && kind != kMemImgKind32) return -1;
  const DrawState& state = GetDrawState();
  const int parameter = std::clamp(state.blendParameter, 0, 255);
  const int mode = raster::KernelMode(state.blendMode, parameter, false);
  if (mode < 0) return 0;
  const int left = std::max(state.drawAreaLeft, 0), right = std::min(state.drawAreaRight, dest->width);
  const int top = std::max(state.drawAreaTop, 0), bottom = std::min(state.drawAreaBottom, dest->height);
  int kept = 0;
  for (int s = 0; s < spanCount; ++s) {
    Span span = spans[s];
    if (span.y < top || span.y >= bottom) continue;
    const int x0 = std::max(span.x, left);
    const int x1 = std::min(static_cast<long long>(span.x) + span.count, static_cast<long long>(right));
    if (x1 <= x0) continue;
    spans[kept++] = Span{x0, span.y, x1 - x0};
  }
  if (kept == 0) return 0;
  InitializeBlendTables();
  const std::uint32_t b = state.brightness;
  const raster::PixelTables t{{BrightnessTable[BrightnessBlue(b)], BrightnessTable[BrightnessGreen(b)],
                               BrightnessTable[BrightnessRed(b)]},
                              BrightnessTable[parameter],
                              SignedScaleTable[parameter] + 255,
                              static_cast<std::uint32_t>(parameter)};
  std::uint32_t c;
  if (kind == kMemImgKind16) {
    const std::uint32_t v = colour & 0xFFFF;
    c = static_cast<std::uint32_t>(t.bright[2][v >> 11]) << 11 |
        static_cast<std::uint32_t>(t.bright[1][(v >> 5) & 0x3F]) << 5 |
        static_cast<std::uint32_t>(t.bright[0][v & 0x1F]);
  } else {
    c = static_cast<std::uint32_t>(t.bright[0][colour & 0xFF]) |
        static_cast<std::uint32_t>(t.bright[1][(colour >> 8) & 0xFF]) << 8 |
        static_cast<std::uint32_t>(t.bright[2][(colour >> 16) & 0xFF]) << 16 | (colour & 0xFF000000u);
  }
  const SpanFill fill = kind == kMemImgKind16 ? FillFor<kMemImgKind16>(mode) : FillFor<kMemImgKind32>(mode);
  if (fill != nullptr) fill(*dest, spans, kept, t, c);
  return 0;
}

// A screen-format colour in the target's kind.
std::uint32_t ColourForKind(int colour, int kind) {
  int r = 0, g = 0, b = 0;
  GetColorRGB(colour, &r, &g, &b);
  if (kind == kMemImgKind16) return static_cast<std::uint32_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
  return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
}

template <class Draw>
int OnTarget(int colour, Draw&& draw) {
  SoftDrawTarget target;
  if (BeginSoftDraw(&target) != 0) return -1;
  const int result = draw(&target.image, ColourForKind(colour, target.shared.kind));
  EndSoftDraw(&target);
  return result;
}

}  // namespace

int FillMemImgBox(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t colour) {
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  if (dest == nullptr) return -1;
  if (left == right || top == bottom) return 0;
  // Rows outside the image are dropped before any span is made.
  const int firstRow = std::max(top, 0), lastRow = std::min(bottom, dest->height);
  for (int y = firstRow; y < lastRow; y += 256) {
    Span spans[256];
    const int n = std::min(256, lastRow - y);
    for (int i = 0; i < n; ++i) spans[i] = Span{left, y + i, right - left};
    if (FillClipped(dest, spans, n, colour) != 0) return -1;
  }
  return 0;
}

int OutlineMemImgBox(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t colour) {
  if (dest == nullptr) return -1;
  const int left = std::min(x1, x2), right = std::max(x1, x2);
  const int top = std::min(y1, y2), bottom = std::max(y1, y2);
  if (left == right || top == bottom) return 0;
  // Thin boxes are filled: every pixel of them is on the border, and drawn once.
  if (right - left <= 2 || bottom - top <= 2) return FillMemImgBox(dest, left, top, right, bottom, colour);
  if (FillMemImgBox(dest, left, top, right, top + 1, colour) != 0) return -1;
  if (FillMemImgBox(dest, left, bottom - 1, right, bottom, colour) != 0) return -1;
  if (FillMemImgBox(dest, left, top + 1, left + 1, bottom - 1, colour) != 0) return -1;
  return FillMemImgBox(dest, right - 1, top + 1, right, bottom - 1, colour);
}

int DrawFillBoxSoft(int x1, int y1, int x2, int y2, int colour) {
  return OnTarget(colour,
                  [&](MEMIMG* image, std::uint32_t c) { return FillMemImgBox(image, x1, y1, x2, y2, c); });
}

int DrawBoxOutlineSoft(int x1, int y1, int x2, int y2, int colour) {
  return OnTarget(colour,
                  [&](MEMIMG* image, std::uint32_t c) { return OutlineMemImgBox(image, x1, y1, x2, y2, c); });
}

}  // namespace gamelib
