// Random triangles and quads drawn by the library's kernels (every kernel set the
// processor runs) and by the plain reference model; the images must be identical.
// GAMELIB_DIFF_TRIANGLES=n draws n triangles instead of the default (the CRC of
// the run is then printed but not checked); GAMELIB_DIFF_AXIS_DRAWS=n the same for the
// upright quads and triangles; GAMELIB_DIFF_SEED changes the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "graphics/draw_state.h"
#include "reference_raster.h"
#include "softrender/memimg.h"
#include "softrender/triangle.h"

namespace gamelib {
namespace {

using reference::RefImage;
using reference::RefState;
using reference::RefStats;
using reference::RefVertex;

constexpr long kDefaultTriangles = 100000;
// CRC-32 of every image after every draw of the default run with the default seed.
constexpr std::uint32_t kDefaultRunCrc = 0xFC1BC4A5;
constexpr long kDefaultAxisDraws = 30000;
// The same for the default run of upright quads and triangles.
constexpr std::uint32_t kAxisRunCrc = 0x7F9422C6;

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Next() >> 32); }
  // Uniform in lo..hi inclusive.
  int Range(int lo, int hi) {
    const std::uint64_t span = std::uint64_t(std::int64_t(hi) - lo) + 1;
    return static_cast<int>(std::int64_t(lo) + std::int64_t(Next() % span));
  }
  bool Chance(int percent) { return Range(0, 99) < percent; }
  template <class T, std::size_t N>
  T Pick(const T (&items)[N]) {
    return items[Next() % N];
  }

 private:
  std::uint64_t state_;
};

class Crc32 {
 public:
  Crc32() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table_[i] = c;
    }
  }
  void Add(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) crc_ = table_[(crc_ ^ p[i]) & 255] ^ (crc_ >> 8);
  }
  std::uint32_t Value() const { return ~crc_; }

 private:
  std::uint32_t table_[256];
  std::uint32_t crc_ = 0xFFFFFFFFu;
};

long EnvLong(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == 0) return fallback;
  return std::strtol(text, nullptr, 10);
}

RefImage ToRef(const MEMIMG& m) {
  RefImage r;
  r.pixels = m.pixels;
  r.width = m.width;
  r.height = m.height;
  if (m.shared != nullptr) {
    r.pitch = m.shared->pitch;
    r.kind = m.shared->kind;
    r.palette = m.shared->paletteFlag != 0;
    r.alpha = m.shared->alphaFlag != 0;
    r.colorKey = m.shared->colorKey;
    r.paletteTable = m.shared->palette;
  }
  return r;
}

RefState CurrentRefState() {
  const DrawState& s = GetDrawState();
  RefState r;
  r.areaLeft = s.drawAreaLeft;
  r.areaTop = s.drawAreaTop;
  r.areaRight = s.drawAreaRight;
  r.areaBottom = s.drawAreaBottom;
  r.blendMode = s.blendMode;
  r.blendParam = s.blendParameter;
  r.brightRed = BrightnessRed(s.brightness);
  r.brightGreen = BrightnessGreen(s.brightness);
  r.brightBlue = BrightnessBlue(s.brightness);
  r.borderTable = BlendBorderTable;
  return r;
}

// Source classes for coverage.
enum SourceClass { kFlat = 0, kDirect = 1, kPalette = 2 };

int ModeIndex(int mode) {
  switch (mode) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
      return mode;
    case 10:
      return 5;
    case 11:
      return 6;
    default:
      return -1;
  }
}
constexpr int kModes[7] = {0, 1, 2, 3, 4, 10, 11};
constexpr int kKernelCount = 350;

int KernelIndex(int destKind, SourceClass cls, int modeIndex, bool b, bool w, bool a, bool t) {
  if (cls == kFlat) return destKind * 7 + modeIndex;
  if (cls == kDirect) return 14 + destKind * 112 + modeIndex * 16 + b * 8 + w * 4 + a * 2 + t;
  return 238 + destKind * 56 + modeIndex * 8 + b * 4 + w * 2 + t;
}

std::string KernelName(int index) {
  std::ostringstream out;
  auto switches = [&](int bits, bool hasA) {
    out << (bits & 8 ? " B" : "") << (bits & 4 ? " W" : "") << (hasA && (bits & 2) ? " A" : "")
        << (bits & 1 ? " T" : "");
  };
  if (index < 14) {
    out << (index / 7 ? "32-bit" : "16-bit") << " flat mode " << kModes[index % 7];
  } else if (index < 238) {
    const int i = index - 14;
    out << (i / 112 ? "32-bit" : "16-bit") << " direct mode " << kModes[(i % 112) / 16];
    switches(i % 16, true);
  } else {
    const int i = index - 238;
    const int bits = i % 8;
    out << (i / 56 ? "32-bit" : "16-bit") << " palette mode " << kModes[(i % 56) / 8];
    switches(((bits & 4) << 1) | ((bits & 2) << 1) | (bits & 1), false);
  }
  return out.str();
}

// Kernels with trans whose texels can be skipped: by the colour key, or by a zero
// alpha in the modes that skip it (16-bit: 0, 1, 2, 3, 10; 32-bit: 0, 1, 2, 3).
bool CanSkip(int index) {
  if (index < 14) return false;
  if (index < 238) {
    const int i = index - 14, bits = i % 16, mode = kModes[(i % 112) / 16];
    if (!(bits & 1)) return false;
    if (!(bits & 2)) return true;
    return mode <= 3 || (i / 112 == 0 && mode == 10);
  }
  return (index - 238) % 2 == 1;
}

// An image placed as a window inside a larger block, so that a write outside the
// window lands in bytes that both sides compare.
struct Framed {
  MEMIMG base{};
  MEMIMG image{};
  bool made = false;

  bool Make(Rng& rng, int width, int height, int kind, int palette, int alpha, std::uint32_t key) {
    const int mx = rng.Range(0, 3), my = rng.Range(0, 2);
    if (CreateMemImg(&base, width + mx + rng.Range(0, 3), height + my + rng.Range(0, 2), kind, palette, alpha,
                     key) != 0)
      return false;
    if (DeriveMemImg(&image, &base, mx, my, width, height) != 0) {
      DeleteMemImg(&base);
      return false;
    }
    made = true;
    return true;
  }
  std::size_t Bytes() const { return std::size_t(base.height) * base.shared->pitch; }
  ~Framed() {
    if (made) {
      DeleteMemImg(&image);
      DeleteMemImg(&base);
    }
  }
};

void FillRandom(Rng& rng, std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = std::uint8_t(rng.Next());
}

// Source texels: random colours, with alpha bytes and repeated values weighted toward
// the cases the kernels treat specially.
void FillSource(Rng& rng, MEMIMG& img) {
  const MemImgSharedRecord& sh = *img.shared;
  const int bpp = GetMemImgPixelBytes(sh.kind, sh.paletteFlag, sh.alphaFlag);
  const int smallSet = rng.Chance(40) ? rng.Range(1, 4) : 0;  // few distinct texels: keys match often
  std::uint32_t pool[4];
  for (auto& v : pool) v = rng.U32();
  for (int y = 0; y < img.height; ++y) {
    std::uint8_t* row = MemImgRow(&img, y);
    for (int x = 0; x < img.width; ++x) {
      std::uint32_t v = smallSet ? pool[rng.Range(0, smallSet - 1)] : rng.U32();
      if (sh.alphaFlag) {
        const int pick = rng.Range(0, 9);
        const std::uint32_t a = pick < 3 ? 0 : pick < 6 ? 255 : (v >> 24) & 255;
        if (sh.kind == 0)
          v = (v & 0xFF00FFFFu) | (a << 16);
        else
          v = (v & 0x00FFFFFFu) | (a << 24);
      }
      std::memcpy(row + std::size_t(x) * bpp, &v, bpp);
    }
  }
  if (sh.paletteFlag) {
    if (sh.kind == 0) {
      auto* pal = static_cast<std::uint16_t*>(sh.palette);
      for (int i = 0; i < 256; ++i) pal[i] = std::uint16_t(rng.U32());
      if (rng.Chance(20)) pal[rng.Range(0, 255)] = 0xFFFF, pal[rng.Range(0, 255)] = 0;
    } else {
      auto* pal = static_cast<std::uint32_t*>(sh.palette);
      for (int i = 0; i < 256; ++i) pal[i] = rng.U32();
    }
  }
}

std::uint32_t PickKey(Rng& rng, const MEMIMG& src) {
  const MemImgSharedRecord& sh = *src.shared;
  const int roll = rng.Range(0, 9);
  if (roll < 7) {  // a value the image holds
    const int bpp = GetMemImgPixelBytes(sh.kind, sh.paletteFlag, sh.alphaFlag);
    std::uint32_t v = 0;
    std::memcpy(
        &v, MemImgRow(&src, rng.Range(0, src.height - 1)) + std::size_t(rng.Range(0, src.width - 1)) * bpp,
        bpp);
    if (sh.kind == 0 && !sh.paletteFlag) v &= 0xFFFF;
    if (rng.Chance(10)) v |= 0x10000u << rng.Range(0, 15);  // same low bits, wider key
    return v;
  }
  if (roll < 9) return rng.U32() & (sh.paletteFlag ? 0xFF : sh.kind == 0 ? 0xFFFF : 0xFFFFFFFFu);
  return rng.U32() | 0x100;
}

int PickParam(Rng& rng) {
  static const int fixed[] = {0, 1, 2, 127, 128, 129, 200, 254, 255};
  return rng.Chance(50) ? rng.Pick(fixed) : rng.Range(0, 255);
}

int PickMode(Rng& rng) {
  if (rng.Chance(4)) {
    static const int none[] = {5, 6, 7, 8, 9, 12, -1, 1000, INT_MIN};
    return rng.Pick(none);
  }
  return kModes[rng.Range(0, 6)];
}

void PickBrightness(Rng& rng) {
  DrawState& s = GetDrawState();
  const int roll = rng.Range(0, 9);
  if (roll < 4) {
    s.brightness = 0xFFFFFF;
  } else if (roll < 5) {
    static const std::uint32_t near[] = {0xFFFFFE, 0xFEFFFF, 0xFFFEFF, 0x000000, 0x808080, 0x80FFFF};
    s.brightness = rng.Pick(near);
  } else {
    s.brightness = rng.U32() & 0xFFFFFF;
  }
  if (rng.Chance(5)) s.brightness |= 0xFF000000u;  // the unused top byte must not matter
}

void PickArea(Rng& rng, int width, int height) {
  DrawState& s = GetDrawState();
  const int roll = rng.Range(0, 9);
  if (roll < 6) {
    s.drawAreaLeft = 0, s.drawAreaTop = 0, s.drawAreaRight = width, s.drawAreaBottom = height;
  } else if (roll < 9) {
    s.drawAreaLeft = rng.Range(0, width - 1);
    s.drawAreaTop = rng.Range(0, height - 1);
    s.drawAreaRight = rng.Range(s.drawAreaLeft, width);
    s.drawAreaBottom = rng.Range(s.drawAreaTop, height);
  } else {  // not inside the destination: the rasteriser must still stay in it
    s.drawAreaLeft = rng.Range(-20, width);
    s.drawAreaTop = rng.Range(-20, height);
    s.drawAreaRight = rng.Range(s.drawAreaLeft - 5, width + 20);
    s.drawAreaBottom = rng.Range(s.drawAreaTop - 5, height + 20);
  }
}

void PickBorderTable(Rng& rng) {
  const int roll = rng.Range(0, 9);
  if (roll < 3) return;  // as it stands
  if (roll < 6) {
    BuildBlendGraphBorderTable(rng.Range(0, 255), rng.Range(0, 255));
  } else if (roll < 9) {
    for (auto& e : BlendBorderTable)
      e = std::uint8_t(rng.Chance(15) ? (rng.Chance(50) ? 0 : 255) : rng.U32());
  } else {
    std::memset(BlendBorderTable, 255, sizeof BlendBorderTable);
  }
}

int HostileCoord(Rng& rng) {
  static const int values[] = {-8193, 8192, INT_MIN, INT_MAX, -100000, 100000, 1 << 20, -(1 << 14)};
  return rng.Pick(values);
}

void PickVertices(Rng& rng, TriVertex v[3], int dw, int dh, int sw, int sh, bool textured) {
  const int roll = rng.Range(0, 99);
  for (int i = 0; i < 3; ++i) {
    if (roll < 55) {  // around the destination, texture around the source
      v[i].x = rng.Range(-6, dw + 6);
      v[i].y = rng.Range(-6, dh + 6);
      v[i].u = rng.Range(-3, sw + 3);
      v[i].v = rng.Range(-3, sh + 3);
    } else if (roll < 70) {  // tiny triangles
      const int cx = rng.Range(-2, dw + 1), cy = rng.Range(-2, dh + 1);
      v[i].x = cx + rng.Range(-2, 2);
      v[i].y = cy + rng.Range(-2, 2);
      v[i].u = rng.Range(0, sw);
      v[i].v = rng.Range(0, sh);
    } else if (roll < 80) {  // texture much larger or smaller than the triangle
      v[i].x = rng.Range(-4, dw + 4);
      v[i].y = rng.Range(-4, dh + 4);
      v[i].u = rng.Range(-200, 200);
      v[i].v = rng.Range(-200, 200);
    } else if (roll < 85) {  // wild texture spans: gradients beyond 32 bits
      v[i].x = rng.Range(-2, dw + 2);
      v[i].y = rng.Range(-2, dh + 2);
      v[i].u = rng.Range(-8192, 8191);
      v[i].v = rng.Range(-8192, 8191);
    } else if (roll < 93) {  // far corners inside the accepted range: long edges, many rows
      const bool far = rng.Chance(40);
      v[i].x = far ? rng.Range(-8192, 8191) : rng.Range(-300, 300);
      v[i].y = far ? rng.Range(-8192, 8191) : rng.Range(-300, 300);
      v[i].u = rng.Range(-8192, 8191);
      v[i].v = rng.Range(-8192, 8191);
      if (rng.Chance(30)) v[i].x = rng.Chance(50) ? -8192 : 8191;
      if (rng.Chance(30)) v[i].y = rng.Chance(50) ? -8192 : 8191;
    } else if (roll < 97) {  // degenerate
      v[i].x = rng.Range(0, dw);
      v[i].y = rng.Range(0, dh);
      v[i].u = rng.Range(0, sw);
      v[i].v = rng.Range(0, sh);
    } else {  // hostile
      v[i].x = rng.Range(-6, dw + 6);
      v[i].y = rng.Range(-6, dh + 6);
      v[i].u = rng.Range(0, sw);
      v[i].v = rng.Range(0, sh);
    }
  }
  if (roll >= 93 && roll < 97) {  // make the three collinear or coincident
    const int k = rng.Range(0, 2);
    if (rng.Chance(50)) {
      v[(k + 1) % 3].x = v[k].x, v[(k + 1) % 3].y = v[k].y;
    } else {
      const int dx = rng.Range(-3, 3), dy = rng.Range(-3, 3);
      v[(k + 1) % 3].x = v[k].x + dx, v[(k + 1) % 3].y = v[k].y + dy;
      v[(k + 2) % 3].x = v[k].x - 2 * dx, v[(k + 2) % 3].y = v[k].y - 2 * dy;
    }
  }
  if (roll >= 97) {
    int* fields[4] = {&v[rng.Range(0, 2)].x, &v[rng.Range(0, 2)].y, &v[rng.Range(0, 2)].u,
                      &v[rng.Range(0, 2)].v};
    *fields[rng.Range(0, textured ? 3 : 1)] = HostileCoord(rng);
  }
}

std::string DescribeImage(const MEMIMG& m) {
  std::ostringstream out;
  out << m.width << "x" << m.height << " pitch " << m.shared->pitch << " kind " << m.shared->kind
      << " palette " << m.shared->paletteFlag << " alpha " << m.shared->alphaFlag << " key 0x" << std::hex
      << m.shared->colorKey << std::dec;
  return out.str();
}

// Pixel value at byte offset o of a block of the given pixel size.
std::uint32_t PixelAt(const std::uint8_t* p, std::size_t o, int bpp) {
  std::uint32_t v = 0;
  std::memcpy(&v, p + o, bpp);
  return v;
}

class Differential {
 public:
  Differential() {
    InitializeBlendTables();
    ResetDrawState();
    sets_.push_back(TriangleKernelSet::Portable);
    if (SetTriangleKernelSet(TriangleKernelSet::Avx2) == 0) sets_.push_back(TriangleKernelSet::Avx2);
    SetTriangleKernelSet(best_);
    coverage_.assign(kKernelCount, 0);
    skipCoverage_.assign(kKernelCount, 0);
  }
  ~Differential() {
    SetTriangleKernelSet(best_);
    SetBlendMemImg(nullptr, 0, 0);
    ResetDrawState();
  }

  enum class Call { Triangle, TriangleGraph, Quad };

  // Draws with every kernel set and with the reference, compares, and leaves the
  // agreed image in the destination.
  void Draw(Framed& dest, const MEMIMG* src, const MEMIMG* blend, const TriVertex* v, int trans,
            std::uint32_t colour, Call call) {
    const std::size_t bytes = dest.Bytes();
    std::uint8_t* block = dest.base.pixels;
    before_.assign(block, block + bytes);
    expect_ = before_;

    // The reference, on its own copy.
    RefImage refDest = ToRef(dest.image);
    refDest.pixels = expect_.data() + (dest.image.pixels - block);
    RefImage refSrc, refBlend;
    if (src) refSrc = ToRef(*src);
    const MEMIMG* usedBlend = call == Call::Triangle ? blend : GetBlendMemImg();
    if (usedBlend) refBlend = ToRef(*usedBlend);
    const RefState state = CurrentRefState();
    RefStats stats;
    if (call == Call::Quad) {
      const int w = src->width, h = src->height;
      const RefVertex q[4] = {
          {v[0].x, v[0].y, 0, 0}, {v[1].x, v[1].y, w, 0}, {v[2].x, v[2].y, 0, h}, {v[3].x, v[3].y, w, h}};
      reference::ReferenceDrawTriangle(refDest, &refSrc, &q[0], trans, usedBlend ? &refBlend : nullptr, 0,
                                       state, &stats);
      reference::ReferenceDrawTriangle(refDest, &refSrc, &q[1], trans, usedBlend ? &refBlend : nullptr, 0,
                                       state, &stats);
    } else {
      const RefVertex t[3] = {{v[0].x, v[0].y, v[0].u, v[0].v},
                              {v[1].x, v[1].y, v[1].u, v[1].v},
                              {v[2].x, v[2].y, v[2].u, v[2].v}};
      reference::ReferenceDrawTriangle(refDest, src ? &refSrc : nullptr, t, trans,
                                       usedBlend ? &refBlend : nullptr, colour, state, &stats);
    }
    Count(dest.image, src, usedBlend, trans, stats);

    for (TriangleKernelSet set : sets_) {
      std::memcpy(block, before_.data(), bytes);
      SetTriangleKernelSet(set);
      switch (call) {
        case Call::Triangle:
          DrawMemImgTriangle(&dest.image, src, v, trans, blend, colour);
          break;
        case Call::TriangleGraph:
          DrawTriangleGraphSoft(&dest.image, src, v, colour, trans);
          break;
        case Call::Quad:
          DrawQuadGraphSoft(&dest.image, v[0].x, v[0].y, v[1].x, v[1].y, v[2].x, v[2].y, v[3].x, v[3].y, src,
                            trans);
          break;
      }
      if (std::memcmp(block, expect_.data(), bytes) != 0)
        Report(dest, src, usedBlend, v, trans, colour, call, set);
    }
    std::memcpy(block, expect_.data(), bytes);
    crc_.Add(expect_.data(), bytes);
    ++draws_;
    if (call == Call::Quad) quadPixels_ += stats.pixels;
    pixels_ += stats.pixels;
  }

  bool LastUnchanged() const { return before_ == expect_; }

  void Report(const Framed& dest, const MEMIMG* src, const MEMIMG* blend, const TriVertex* v, int trans,
              std::uint32_t colour, Call call, TriangleKernelSet set) {
    ++failures_;
    if (failures_ > 10) return;
    const DrawState& s = GetDrawState();
    const int bpp = dest.image.shared->kind == 0 ? 2 : 4;
    const std::uint8_t* got = dest.base.pixels;
    std::ostringstream out;
    out << "mismatch #" << failures_ << " at draw " << draws_ << " ("
        << (set == TriangleKernelSet::Avx2 ? "avx2" : "portable") << " kernels, "
        << (call == Call::Quad            ? "DrawQuadGraphSoft"
            : call == Call::TriangleGraph ? "DrawTriangleGraphSoft"
                                          : "DrawMemImgTriangle")
        << ")\n  dest " << DescribeImage(dest.image) << "\n";
    if (src) out << "  src " << DescribeImage(*src) << "\n";
    if (blend) out << "  blend " << DescribeImage(*blend) << "\n";
    out << "  mode " << s.blendMode << " param " << s.blendParameter << " brightness 0x" << std::hex
        << s.brightness << std::dec << " area " << s.drawAreaLeft << "," << s.drawAreaTop << " - "
        << s.drawAreaRight << "," << s.drawAreaBottom << " trans " << trans << " colour 0x" << std::hex
        << colour << std::dec << "\n  vertices";
    for (int i = 0; i < (call == Call::Quad ? 4 : 3); ++i)
      out << " {" << v[i].x << "," << v[i].y << "," << v[i].u << "," << v[i].v << "}";
    out << "\n";
    int shown = 0;
    const std::ptrdiff_t origin = dest.image.pixels - dest.base.pixels;
    const int pitch = dest.base.shared->pitch;
    for (std::size_t o = 0; o + bpp <= expect_.size() && shown < 4; o += bpp) {
      const std::uint32_t g = PixelAt(got, o, bpp), e = PixelAt(expect_.data(), o, bpp);
      if (g == e) continue;
      const std::ptrdiff_t rel = std::ptrdiff_t(o) - origin;
      const std::ptrdiff_t py = rel >= 0 ? rel / pitch : -((-rel + pitch - 1) / pitch);
      const std::ptrdiff_t px = (rel - py * pitch) / bpp;
      out << "  pixel (" << px << "," << py << "): before 0x" << std::hex << PixelAt(before_.data(), o, bpp)
          << " kernel 0x" << g << " reference 0x" << e << std::dec;
      out << "\n";
      ++shown;
    }
    ADD_FAILURE() << out.str();
  }

  void Count(const MEMIMG& dest, const MEMIMG* src, const MEMIMG* blend, int trans, const RefStats& stats) {
    if (stats.pixels + stats.skipped == 0) return;
    const DrawState& s = GetDrawState();
    const int p = std::clamp(s.blendParameter, 0, 255);
    const int mode = (s.blendMode == 1 && p == 255) ? 0 : s.blendMode;
    const int mi = ModeIndex(mode);
    if (mi < 0) return;
    const SourceClass cls = src == nullptr ? kFlat : src->shared->paletteFlag ? kPalette : kDirect;
    const int k = KernelIndex(dest.shared->kind, cls, mi, blend != nullptr, IsBrightnessWhite(s.brightness),
                              cls == kDirect && src->shared->alphaFlag, trans != 0);
    if (stats.pixels > 0) ++coverage_[k];
    if (stats.skipped > 0) ++skipCoverage_[k];
  }

  std::vector<TriangleKernelSet> sets_;
  TriangleKernelSet best_ = GetBestTriangleKernelSet();
  std::vector<long> coverage_;
  std::vector<long> skipCoverage_;  // kernels that met a colour-key or zero-alpha texel
  std::vector<std::uint8_t> before_, expect_;
  Crc32 crc_;
  long draws_ = 0, pixels_ = 0, quadPixels_ = 0, failures_ = 0;
};

TEST(RasterDifferential, RandomTrianglesMatchTheReference) {
  const long envCount = EnvLong("GAMELIB_DIFF_TRIANGLES", 0);
  const long triangles = envCount > 0 ? envCount : kDefaultTriangles;
  const std::uint64_t seed = std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607));
  Rng rng(seed);
  Differential diff;
  DrawState& state = GetDrawState();

  long drawn = 0;
  while (drawn < triangles && diff.failures_ <= 10) {
    // One scene: a destination, perhaps a source and a blend image, several draws.
    const int destKind = rng.Range(0, 1);
    const bool wide = rng.Chance(3);  // long spans, for kernels that work in chunks
    const int dw = wide ? rng.Range(100, 400) : rng.Chance(85) ? rng.Range(1, 24) : rng.Range(25, 80);
    const int dh = wide ? rng.Range(1, 24) : rng.Chance(85) ? rng.Range(1, 24) : rng.Range(25, 64);
    Framed dest;
    ASSERT_TRUE(dest.Make(rng, dw, dh, destKind, 0, 0, 0));
    FillRandom(rng, dest.base.pixels, dest.Bytes());

    const int srcRoll = rng.Range(0, 99);
    const SourceClass cls = srcRoll < 15 ? kFlat : srcRoll < 65 ? kDirect : kPalette;
    Framed src, blend;
    const int srcKind = rng.Chance(2) ? 1 - destKind : destKind;  // a mismatch draws nothing
    const int sw = wide ? rng.Range(1, 400) : rng.Chance(80) ? rng.Range(1, 20) : rng.Range(21, 64);
    const int sh = rng.Chance(80) ? rng.Range(1, 20) : rng.Range(21, 64);
    if (cls != kFlat) {
      const int alpha = cls == kDirect && rng.Chance(50);
      ASSERT_TRUE(src.Make(rng, sw, sh, srcKind, cls == kPalette, alpha, 0));
      FillSource(rng, src.image);
    }
    // A palette image never has alpha; one that claims it must still draw as a palette.
    const bool fakeAlpha = cls == kPalette && rng.Chance(10);
    if (fakeAlpha) src.base.shared->alphaFlag = 1;
    const bool withBlend = rng.Chance(45);
    if (withBlend) {
      const int bw = rng.Chance(85) ? sw + rng.Range(0, 3) : rng.Range(1, sw);
      const int bh = rng.Chance(85) ? sh + rng.Range(0, 3) : rng.Range(1, sh);
      ASSERT_TRUE(blend.Make(rng, bw, bh, rng.Range(0, 1), rng.Chance(30), 0, 0));
      FillRandom(rng, blend.base.pixels, blend.Bytes());
    }

    const int draws = rng.Range(4, 12);
    for (int i = 0; i < draws && drawn < triangles; ++i, ++drawn) {
      state.blendMode = PickMode(rng);
      state.blendParameter = PickParam(rng);
      if (rng.Chance(2)) state.blendParameter = rng.Chance(50) ? -7 : 300;
      PickBrightness(rng);
      PickArea(rng, dw, dh);
      PickBorderTable(rng);
      if (cls != kFlat && rng.Chance(60)) src.image.shared->colorKey = PickKey(rng, src.image);
      const int trans = rng.Chance(50) ? (rng.Chance(80) ? 1 : int(rng.U32() | 1)) : 0;
      const std::uint32_t colour =
          rng.Chance(70) ? rng.U32() & (destKind == 0 ? 0xFFFF : 0xFFFFFFFF) : rng.U32();

      const int callRoll = rng.Range(0, 99);
      const MEMIMG* srcImg = cls == kFlat ? nullptr : &src.image;
      const MEMIMG* blendImg = withBlend ? &blend.image : nullptr;
      if (callRoll < 80 || (callRoll >= 88 && srcImg == nullptr)) {
        TriVertex v[3];
        PickVertices(rng, v, dw, dh, sw, sh, srcImg != nullptr);
        diff.Draw(dest, srcImg, blendImg, v, trans, colour, Differential::Call::Triangle);
      } else if (callRoll < 88) {
        SetBlendMemImg(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        TriVertex v[3];
        PickVertices(rng, v, dw, dh, sw, sh, srcImg != nullptr);
        diff.Draw(dest, srcImg, blendImg, v, trans, colour, Differential::Call::TriangleGraph);
        SetBlendMemImg(nullptr, 0, 0);
      } else {
        SetBlendMemImg(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        if (rng.Chance(50)) PickBorderTable(rng);
        TriVertex v[4];
        const int spread = rng.Chance(80) ? 8 : 40;
        for (auto& c : v) c = {rng.Range(-spread, dw + spread), rng.Range(-spread, dh + spread), 0, 0};
        if (rng.Chance(30)) {  // an upright rectangle at the graph's own size
          const int x = rng.Range(-3, dw), y = rng.Range(-3, dh);
          v[0] = {x, y, 0, 0}, v[1] = {x + sw, y, 0, 0}, v[2] = {x, y + sh, 0, 0},
          v[3] = {x + sw, y + sh, 0, 0};
        }
        if (rng.Chance(2)) v[rng.Range(0, 3)].x = HostileCoord(rng);
        diff.Draw(dest, srcImg, blendImg, v, trans, 0, Differential::Call::Quad);
        SetBlendMemImg(nullptr, 0, 0);
      }
    }
    if (fakeAlpha) src.base.shared->alphaFlag = 0;
  }

  long hit = 0, skipHit = 0, skipWanted = 0;
  std::string missing;
  for (int k = 0; k < kKernelCount; ++k) {
    if (diff.coverage_[k] > 0)
      ++hit;
    else
      missing += "\n  " + KernelName(k);
    if (CanSkip(k)) {
      ++skipWanted;
      if (diff.skipCoverage_[k] > 0)
        ++skipHit;
      else
        missing += "\n  " + KernelName(k) + " (never skipped a texel)";
    }
  }
  std::printf(
      "differential: %ld draws, %ld pixels (%ld by quads), %zu kernel set(s), %ld/%d kernels drew, "
      "%ld/%ld trans kernels skipped texels, crc 0x%08X\n",
      diff.draws_, diff.pixels_, diff.quadPixels_, diff.sets_.size(), hit, kKernelCount, skipHit, skipWanted,
      diff.crc_.Value());
  EXPECT_EQ(diff.failures_, 0);
  if (envCount <= 0 && triangles == kDefaultTriangles) {
    EXPECT_TRUE(missing.empty()) << "kernels not exercised:" << missing;
    if (EnvLong("GAMELIB_DIFF_SEED", 0) == 0 && kDefaultRunCrc != 0) {
      EXPECT_EQ(diff.crc_.Value(), kDefaultRunCrc) << "the images of the default run changed";
    }
  }
}

// Upright quads and right triangles: texels stay on one source row along a span, which
// the vector kernels may load a row at a time. Unrotated, mirrored, 1:1, magnified up
// to 4x, and spans that overhang the source by a pixel or two at either end.
TEST(RasterDifferential, AxisAlignedDrawsMatchTheReference) {
  const long envCount = EnvLong("GAMELIB_DIFF_AXIS_DRAWS", 0);
  const long total = envCount > 0 ? envCount : kDefaultAxisDraws;
  const std::uint64_t seed = std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)) ^ 0xA515A11Full;
  Rng rng(seed);
  Differential diff;
  DrawState& state = GetDrawState();

  long drawn = 0, rowPixels = 0, overhangDraws = 0;
  while (drawn < total && diff.failures_ <= 10) {
    const int destKind = rng.Range(0, 1);
    const bool wide = rng.Chance(10);
    const int dw = wide ? rng.Range(80, 300) : rng.Range(1, 64);
    const int dh = rng.Range(1, wide ? 16 : 40);
    Framed dest;
    ASSERT_TRUE(dest.Make(rng, dw, dh, destKind, 0, 0, 0));
    FillRandom(rng, dest.base.pixels, dest.Bytes());

    const SourceClass cls = rng.Chance(55) ? kDirect : kPalette;
    const int srcKind = rng.Chance(2) ? 1 - destKind : destKind;
    // Eight texels or more make a row load possible; narrower ones must still draw right.
    const int sw = rng.Chance(85) ? (wide ? rng.Range(8, 120) : rng.Range(8, 40)) : rng.Range(1, 7);
    const int sh = rng.Range(1, 20);
    Framed src, blend;
    const int alpha = cls == kDirect && rng.Chance(50);
    ASSERT_TRUE(src.Make(rng, sw, sh, srcKind, cls == kPalette, alpha, 0));
    FillSource(rng, src.image);
    const bool withBlend = rng.Chance(45);
    if (withBlend) {
      const int bw = rng.Chance(85) ? sw + rng.Range(0, 3) : rng.Range(1, sw);
      const int bh = rng.Chance(85) ? sh + rng.Range(0, 3) : rng.Range(1, sh);
      ASSERT_TRUE(blend.Make(rng, bw, bh, rng.Range(0, 1), rng.Chance(30), 0, 0));
      FillRandom(rng, blend.base.pixels, blend.Bytes());
    }
    const MEMIMG* blendImg = withBlend ? &blend.image : nullptr;

    const int draws = rng.Range(4, 12);
    for (int i = 0; i < draws && drawn < total; ++i, ++drawn) {
      state.blendMode = PickMode(rng);
      state.blendParameter = PickParam(rng);
      PickBrightness(rng);
      PickArea(rng, dw, dh);
      PickBorderTable(rng);
      if (rng.Chance(60)) src.image.shared->colorKey = PickKey(rng, src.image);
      const int trans = rng.Chance(50) ? (rng.Chance(80) ? 1 : int(rng.U32() | 1)) : 0;
      const bool mirrorX = rng.Chance(25), mirrorY = rng.Chance(25);

      // Texel range along each axis, and the pixel size it is stretched over.
      auto axis = [&](int side, int& t0, int& t1, int& pixels, bool overhang) {
        t0 = 0, t1 = side;
        if (overhang) {
          t0 = -rng.Range(0, 2), t1 = side + rng.Range(0, 2);
          if (t0 == 0 && t1 == side) (rng.Chance(50) ? t0 : t1) += rng.Chance(50) ? -1 : 1;
        } else if (rng.Chance(20)) {  // part of the source
          t0 = rng.Range(0, side - 1), t1 = rng.Range(t0 + 1, side);
        }
        const int span = t1 - t0;
        const int roll = rng.Range(0, 9);
        pixels = roll < 3   ? span                                     // exactly 1:1
                 : roll < 5 ? span + rng.Range(1, 2)                   // just above 1:1
                 : roll < 7 ? span * rng.Range(2, 4)                   // whole multiples
                            : rng.Range(span, 4 * std::max(span, 1));  // anything up to 4x
        pixels = std::max(pixels, 1);
      };
      const int callRoll = rng.Range(0, 99);
      const long pixelsBefore = diff.pixels_;
      bool rowCandidate = !mirrorX && srcKind == destKind && sw >= 8;
      if (callRoll < 40) {  // the whole graph on an upright rectangle
        int u0, u1, v0, v1, w, h;
        axis(sw, u0, u1, w, false);
        axis(sh, v0, v1, h, false);
        w = std::max(w, sw), h = std::max(h, sh);
        const int x = rng.Range(-w + 1, dw + 1), y = rng.Range(-h + 1, dh + 1);
        int xl = x, xr = x + w, yt = y, yb = y + h;
        if (mirrorX) std::swap(xl, xr);
        if (mirrorY) std::swap(yt, yb);
        TriVertex v[4] = {{xl, yt, 0, 0}, {xr, yt, 0, 0}, {xl, yb, 0, 0}, {xr, yb, 0, 0}};
        SetBlendMemImg(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        if (rng.Chance(50)) PickBorderTable(rng);
        diff.Draw(dest, &src.image, blendImg, v, trans, 0, Differential::Call::Quad);
        SetBlendMemImg(nullptr, 0, 0);
      } else {  // right triangles on an upright rectangle, one or both halves
        const bool overhang = rng.Chance(50);
        overhangDraws += overhang;
        int u0, u1, v0, v1, w, h;
        axis(sw, u0, u1, w, overhang);
        axis(sh, v0, v1, h, overhang && rng.Chance(50));
        const int x = rng.Range(-w + 1, dw + 1), y = rng.Range(-h + 1, dh + 1);
        int xl = x, xr = x + w, yt = y, yb = y + h;
        if (mirrorX) std::swap(u0, u1);
        if (mirrorY) std::swap(v0, v1);
        const TriVertex corner[4] = {{xl, yt, u0, v0}, {xr, yt, u1, v0}, {xl, yb, u0, v1}, {xr, yb, u1, v1}};
        const int drop = rng.Range(0, 3);
        const bool both = rng.Chance(30);
        for (int half = 0; half < (both ? 2 : 1); ++half) {
          TriVertex v[3];
          int n = 0;
          // Both halves: the two triangles of one diagonal.
          const int skip = both ? (half == 0 ? drop : 3 - drop) : drop;
          for (int c = 0; c < 4; ++c)
            if (c != skip) v[n++] = corner[c];
          if (rng.Chance(50)) std::swap(v[0], v[rng.Range(1, 2)]);
          diff.Draw(dest, &src.image, blendImg, v, trans, 0, Differential::Call::Triangle);
        }
      }
      if (rowCandidate) rowPixels += diff.pixels_ - pixelsBefore;
    }
  }

  long hit = 0;
  std::string missing;
  for (int k = 14; k < kKernelCount; ++k) {
    if (diff.coverage_[k] > 0)
      ++hit;
    else
      missing += "\n  " + KernelName(k);
  }
  std::printf(
      "differential (axis-aligned): %ld draws (%ld overhanging), %ld pixels (%ld by quads, %ld on "
      "unmirrored rows of 8+ texels), %ld/%d textured kernels drew, crc 0x%08X\n",
      diff.draws_, overhangDraws, diff.pixels_, diff.quadPixels_, rowPixels, hit, kKernelCount - 14,
      diff.crc_.Value());
  EXPECT_EQ(diff.failures_, 0);
  if (envCount <= 0) {
    EXPECT_TRUE(missing.empty()) << "kernels not exercised:" << missing;
    if (EnvLong("GAMELIB_DIFF_SEED", 0) == 0 && kAxisRunCrc != 0) {
      EXPECT_EQ(diff.crc_.Value(), kAxisRunCrc) << "the images of the default axis-aligned run changed";
    }
  }
}

TEST(RasterDifferential, HostileInputsDrawNothingAndStayInside) {
  Rng rng(77);
  Differential diff;
  DrawState& st = GetDrawState();
  const auto T = Differential::Call::Triangle;
  for (int kind = 0; kind <= 1; ++kind) {
    SCOPED_TRACE(kind ? "32-bit" : "16-bit");
    Framed dest, src, pal, other, blend, wide;
    ASSERT_TRUE(dest.Make(rng, 16, 12, kind, 0, 0, 0));
    ASSERT_TRUE(src.Make(rng, 8, 8, kind, 0, 0, 0));
    ASSERT_TRUE(pal.Make(rng, 8, 8, kind, 1, 0, 0));
    ASSERT_TRUE(other.Make(rng, 8, 8, 1 - kind, 0, 0, 0));
    ASSERT_TRUE(blend.Make(rng, 8, 8, 1, 1, 0, 0));
    ASSERT_TRUE(wide.Make(rng, MemImgMaxSourceSide + 1, 1, kind, 0, 0, 0));
    for (Framed* f : {&dest, &src, &pal, &other, &blend, &wide}) FillRandom(rng, f->base.pixels, f->Bytes());
    FillSource(rng, pal.image);
    st.blendMode = BlendAlpha, st.blendParameter = 200, st.brightness = 0xFFFFFF;
    st.drawAreaLeft = 0, st.drawAreaTop = 0, st.drawAreaRight = 16, st.drawAreaBottom = 12;
    const TriVertex good[3] = {{-2, -1, 0, 0}, {17, 3, 8, 0}, {4, 14, 0, 8}};

    diff.Draw(dest, &src.image, &blend.image, good, 0, 0, T);
    EXPECT_FALSE(diff.LastUnchanged()) << "the plain triangle must draw";

    auto nothing = [&](const MEMIMG* s, const MEMIMG* b, const TriVertex* v, const char* what) {
      diff.Draw(dest, s, b, v, 1, 0x123456, T);
      EXPECT_TRUE(diff.LastUnchanged()) << what;
    };
    dest.base.shared->paletteFlag = 1;
    nothing(&src.image, nullptr, good, "destination with a palette");
    nothing(nullptr, nullptr, good, "destination with a palette, flat");
    dest.base.shared->paletteFlag = 0;
    dest.base.shared->alphaFlag = 1;
    nothing(&src.image, nullptr, good, "destination with alpha");
    dest.base.shared->alphaFlag = 0;
    nothing(&other.image, nullptr, good, "source of the other kind");
    dest.base.shared->kind = src.base.shared->kind = 2;
    nothing(&src.image, nullptr, good, "kind 2");
    nothing(nullptr, nullptr, good, "kind 2, flat");
    dest.base.shared->kind = src.base.shared->kind = kind;
    nothing(&wide.image, nullptr, good, "source wider than 8192");

    void* saved = pal.base.shared->palette;
    pal.base.shared->palette = nullptr;
    nothing(&pal.image, nullptr, good, "palette source without a palette");
    pal.base.shared->palette = saved;
    diff.Draw(dest, &pal.image, nullptr, good, 0, 0, T);
    EXPECT_FALSE(diff.LastUnchanged()) << "the palette source must draw again";

    MEMIMG noPixels = blend.image;
    noPixels.pixels = nullptr;
    nothing(&src.image, &noPixels, good, "blend image without pixels");
    diff.Draw(dest, nullptr, &noPixels, good, 0, 0x4321, T);
    EXPECT_FALSE(diff.LastUnchanged()) << "a flat colour ignores the blend image";

    // Pitches too small for the width.
    for (int which = 0; which < 3; ++which) {
      Framed& f = which == 0 ? dest : which == 1 ? src : blend;
      MemImgSharedRecord fake = *f.image.shared;
      fake.pitch = which == 2 ? f.image.width - 1 : f.image.width * GetMemImgPixelBytes(kind, 0, 0) - 1;
      MemImgSharedRecord* real = f.image.shared;
      f.image.shared = &fake;
      nothing(&src.image, &blend.image, good, "pitch below the width");
      f.image.shared = real;
    }

    // Coordinates outside the accepted range, in every field of every vertex.
    static const int bad[] = {-8193, 8192, INT_MIN, INT_MAX, -(1 << 24), 1 << 24};
    for (int k = 0; k < 3; ++k)
      for (int field = 0; field < 4; ++field)
        for (int value : bad) {
          TriVertex v[3] = {good[0], good[1], good[2]};
          int* slot[4] = {&v[k].x, &v[k].y, &v[k].u, &v[k].v};
          *slot[field] = value;
          nothing(&src.image, nullptr, v, "coordinate out of range");
          if (field < 2) nothing(nullptr, nullptr, v, "coordinate out of range, flat");
        }
    // A flat triangle ignores u and v, hostile or not.
    TriVertex flatUv[3] = {good[0], good[1], good[2]};
    flatUv[0].u = INT_MIN, flatUv[1].v = INT_MAX;
    diff.Draw(dest, nullptr, nullptr, flatUv, 0, 0x5555, T);
    EXPECT_FALSE(diff.LastUnchanged());

    // Degenerate triangles.
    const TriVertex point[3] = {{5, 5, 0, 0}, {5, 5, 8, 0}, {5, 5, 0, 8}};
    const TriVertex row[3] = {{0, 5, 0, 0}, {9, 5, 8, 0}, {15, 5, 0, 8}};
    const TriVertex column[3] = {{5, 0, 0, 0}, {5, 9, 8, 0}, {5, 11, 0, 8}};
    const TriVertex slope[3] = {{0, 0, 0, 0}, {3, 2, 8, 0}, {9, 6, 0, 8}};
    for (const TriVertex* v : {point, row, column, slope}) {
      nothing(&src.image, nullptr, v, "degenerate");
      nothing(nullptr, nullptr, v, "degenerate, flat");
    }

    // The largest accepted triangles, with draw areas beyond the destination.
    const TriVertex huge[4][3] = {
        {{-8192, -8192, -8192, -8192}, {8191, -8192, 8191, -8192}, {-8192, 8191, -8192, 8191}},
        {{8191, 8191, 3, 3}, {8191, -8192, 0, 0}, {-8192, 8191, 7, 7}},
        {{-8192, 3, 0, 0}, {8191, 4, 7, 0}, {0, 5, 0, 7}},
        {{3, -8192, 0, 0}, {4, 8191, 7, 0}, {5, 0, 0, 7}}};
    for (const auto& v : huge) {
      st.drawAreaLeft = -100, st.drawAreaTop = -100, st.drawAreaRight = 1000, st.drawAreaBottom = 1000;
      diff.Draw(dest, &src.image, nullptr, v, 0, 0, T);
      diff.Draw(dest, nullptr, nullptr, v, 0, 0x00FF00FF, T);
      st.drawAreaLeft = 12, st.drawAreaTop = 9, st.drawAreaRight = 4, st.drawAreaBottom = 2;  // inverted
      nothing(&src.image, nullptr, v, "inverted draw area");
      st.drawAreaLeft = 16, st.drawAreaTop = 0, st.drawAreaRight = 40, st.drawAreaBottom = 12;  // right of it
      nothing(nullptr, nullptr, v, "draw area outside the destination");
    }
    st.drawAreaLeft = 0, st.drawAreaTop = 0, st.drawAreaRight = 16, st.drawAreaBottom = 12;

    // Null arguments.
    std::vector<std::uint8_t> before(dest.base.pixels, dest.base.pixels + dest.Bytes());
    DrawMemImgTriangle(&dest.image, &src.image, nullptr, 0, nullptr, 0);
    DrawMemImgTriangle(nullptr, &src.image, good, 0, nullptr, 0);
    MEMIMG noDest = dest.image;
    noDest.pixels = nullptr;
    DrawMemImgTriangle(&noDest, nullptr, good, 0, nullptr, 0);
    noDest = dest.image;
    noDest.shared = nullptr;
    DrawMemImgTriangle(&noDest, nullptr, good, 0, nullptr, 0);
    EXPECT_EQ(DrawQuadGraphSoft(&dest.image, 0, 0, 5, 0, 0, 5, 5, 5, nullptr, 0), -1);
    EXPECT_EQ(DrawQuadGraphSoft(nullptr, 0, 0, 5, 0, 0, 5, 5, 5, &src.image, 0), -1);
    EXPECT_EQ(std::memcmp(before.data(), dest.base.pixels, before.size()), 0);
  }
  EXPECT_EQ(diff.failures_, 0);
}

TEST(RasterDifferential, BorderTableBuilderFollowsTheFormula) {
  InitializeBlendTables();
  std::uint8_t expect[256], marker[256];
  for (int param = 0; param < 256; ++param)
    for (int range = 0; range < 256; ++range) {
      for (int i = 0; i < 256; ++i) marker[i] = std::uint8_t(i * 7 + param);
      std::memcpy(BlendBorderTable, marker, 256);
      BuildBlendGraphBorderTable(param, range);
      if (!reference::RefBorderTable(param, range, expect)) std::memcpy(expect, marker, 256);
      ASSERT_EQ(std::memcmp(BlendBorderTable, expect, 256), 0) << "parameter " << param << " range " << range;
    }
  BuildBlendGraphBorderTable(-40, 9999);  // clamped to (0, 255)
  reference::RefBorderTable(0, 255, expect);
  EXPECT_EQ(std::memcmp(BlendBorderTable, expect, 256), 0);
  std::memset(BlendBorderTable, 255, 256);
}

}  // namespace
}  // namespace gamelib
