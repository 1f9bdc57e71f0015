// Random triangles and quads drawn by every kernel set the processor runs and by the
// reference model; the images must be identical, and the run's images are pinned by a
// CRC. GAMELIB_DIFF_TRIANGLES=n or GAMELIB_DIFF_AXIS_DRAWS=n draw n instead (the CRC is
// then printed, not checked); GAMELIB_DIFF_SEED changes the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "reference_raster.h"
#include "softrender/kernel_key.h"
#include "softrender/memimg.h"

namespace gamelib {
namespace {

using raster::KernelKey;
using raster::KernelSource;
using reference::RefState;
using reference::RefStats;

constexpr long kDefaultTriangles = 100000;
constexpr std::uint32_t kDefaultRunCrc = 0xFC1BC4A5;  // CRC-32 of every image after every draw
constexpr long kDefaultAxisDraws = 30000;
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
  int Range(int lo, int hi) {  // lo..hi inclusive
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

std::uint32_t Crc32(std::uint32_t crc, const std::vector<std::uint8_t>& bytes) {
  static const std::vector<std::uint32_t> table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t i = 0; i < 256; ++i) {
      t[i] = i;
      for (int k = 0; k < 8; ++k) t[i] = (t[i] & 1) ? 0xEDB88320u ^ (t[i] >> 1) : t[i] >> 1;
    }
    return t;
  }();
  crc = ~crc;
  for (std::uint8_t b : bytes) crc = table[(crc ^ b) & 255] ^ (crc >> 8);
  return ~crc;
}

long EnvLong(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text == nullptr || *text == 0 ? fallback : std::strtol(text, nullptr, 10);
}

// The border table as the builder must leave it, kept beside the library's.
std::uint8_t expectedBorder[256];
void BuildBorder(int param, int range) {
  BuildBlendGraphBorderTable(param, range);
  const int q = 256 - (65536 / (range + 1) + 256) * param / 256;
  for (int i = 0; q > 0 && i < 256; ++i)
    expectedBorder[i] = std::uint8_t(std::min(255, i * 256 / (range + 1) + q));
}
void SetBlend(const MEMIMG* image, int param, int range) {
  SetBlendMemImg(image, param, range);
  if (image != nullptr) BuildBorder(param, range);
}

// An image placed as a window inside a larger block, so that a write outside the
// window lands in bytes that both sides compare.
struct Framed {
  MEMIMG base{}, image{};
  bool made = false;
  bool Make(Rng& rng, int width, int height, int kind, int palette, int alpha, std::uint32_t key) {
    const int mx = rng.Range(0, 3), my = rng.Range(0, 2);
    if (CreateMemImg(&base, width + mx + rng.Range(0, 3), height + my + rng.Range(0, 2), kind, palette, alpha,
                     key) != 0)
      return false;
    made = DeriveMemImg(&image, &base, mx, my, width, height) == 0;
    return made;
  }
  std::size_t Bytes() const { return std::size_t(base.height) * base.shared->pitch; }
  ~Framed() {
    DeleteMemImg(&image);
    DeleteMemImg(&base);
  }
};

void FillRandom(Rng& rng, Framed& f) {
  for (std::size_t i = 0; i < f.Bytes(); ++i) f.base.pixels[i] = std::uint8_t(rng.Next());
}

// Source texels: random colours, alpha bytes and repeated values weighted toward the
// cases the kernels treat specially.
void FillSource(Rng& rng, MEMIMG& img) {
  const MemImgSharedRecord& sh = *img.shared;
  const int bpp = GetMemImgPixelBytes(sh.kind, sh.paletteFlag, sh.alphaFlag);
  const int smallSet = rng.Chance(40) ? rng.Range(1, 4) : 0;  // few distinct texels: keys match often
  std::uint32_t pool[4];
  for (auto& v : pool) v = rng.U32();
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      std::uint32_t v = smallSet ? pool[rng.Range(0, smallSet - 1)] : rng.U32();
      if (sh.alphaFlag) {
        const int pick = rng.Range(0, 9);
        const std::uint32_t a = pick < 3 ? 0 : pick < 6 ? 255 : (v >> 24) & 255;
        v = sh.kind == 0 ? (v & 0xFF00FFFFu) | (a << 16) : (v & 0x00FFFFFFu) | (a << 24);
      }
      std::memcpy(GetMemImgRow(&img, y) + std::size_t(x) * bpp, &v, bpp);
    }
  }
  if (sh.paletteFlag && sh.kind == 0) {
    auto* pal = static_cast<std::uint16_t*>(sh.palette);
    for (int i = 0; i < 256; ++i) pal[i] = std::uint16_t(rng.U32());
    if (rng.Chance(20)) pal[rng.Range(0, 255)] = 0xFFFF, pal[rng.Range(0, 255)] = 0;
  } else if (sh.paletteFlag) {
    for (int i = 0; i < 256; ++i) static_cast<std::uint32_t*>(sh.palette)[i] = rng.U32();
  }
}

std::uint32_t PickKey(Rng& rng, const MEMIMG& src) {
  const MemImgSharedRecord& sh = *src.shared;
  const int roll = rng.Range(0, 9);
  if (roll < 7) {  // a value the image holds
    const int bpp = GetMemImgPixelBytes(sh.kind, sh.paletteFlag, sh.alphaFlag);
    std::uint32_t v = 0;
    std::memcpy(
        &v, GetMemImgRow(&src, rng.Range(0, src.height - 1)) + std::size_t(rng.Range(0, src.width - 1)) * bpp,
        bpp);
    if (sh.kind == 0 && !sh.paletteFlag) v &= 0xFFFF;
    if (rng.Chance(10)) v |= 0x10000u << rng.Range(0, 15);  // same low bits, wider key
    return v;
  }
  if (roll < 9) return rng.U32() & (sh.paletteFlag ? 0xFF : sh.kind == 0 ? 0xFFFF : 0xFFFFFFFFu);
  return rng.U32() | 0x100;
}

// Blend mode and parameter, including modes without kernels and parameters to clamp.
void PickBlend(Rng& rng, bool wildParameter) {
  static const int none[] = {5, 6, 7, 8, 9, 12, -1, 1000, INT_MIN};
  static const int modes[] = {0, 1, 2, 3, 4, 10, 11};
  static const int fixed[] = {0, 1, 2, 127, 128, 129, 200, 254, 255};
  const int mode = rng.Chance(4) ? rng.Pick(none) : modes[rng.Range(0, 6)];
  int param = rng.Chance(50) ? rng.Pick(fixed) : rng.Range(0, 255);
  if (wildParameter && rng.Chance(2)) param = rng.Chance(50) ? -7 : 300;
  SetDrawBlendMode(mode, param);
}

void PickBrightness(Rng& rng) {
  static const std::uint32_t near[] = {0xFFFFFE, 0xFEFFFF, 0xFFFEFF, 0x000000, 0x808080, 0x80FFFF};
  const int roll = rng.Range(0, 9);
  const std::uint32_t b = roll < 4 ? 0xFFFFFF : roll < 5 ? rng.Pick(near) : rng.U32() & 0xFFFFFF;
  SetDrawBrightness(int(b >> 16), int(b >> 8) & 255, int(b & 255));
  rng.Chance(5);  // once the unused top byte
}

// Whole destination, a part of it, or one reaching past it (the draw screen is larger).
void PickArea(Rng& rng, int width, int height) {
  SetDrawScreenSize(width + 20, height + 20);
  const int roll = rng.Range(0, 9);
  if (roll < 6) {
    SetDrawArea(0, 0, width, height);
  } else if (roll < 9) {
    const int left = rng.Range(0, width - 1), top = rng.Range(0, height - 1);
    const int right = rng.Range(left, width), bottom = rng.Range(top, height);
    SetDrawArea(left, top, right, bottom);
  } else {
    const int left = rng.Range(-20, width), top = rng.Range(-20, height);
    const int right = rng.Range(left - 5, width + 20), bottom = rng.Range(top - 5, height + 20);
    SetDrawArea(left, top, right, bottom);
  }
}

void PickBorderTable(Rng& rng) {
  const int roll = rng.Range(0, 9);
  if (roll < 3) return;  // as it stands
  if (roll < 6) {
    BuildBorder(rng.Range(0, 255), rng.Range(0, 255));
  } else {  // written directly: weights the builder cannot make
    for (int i = 0; i < 256; ++i) {
      expectedBorder[i] =
          roll == 9 ? 255 : std::uint8_t(rng.Chance(15) ? (rng.Chance(50) ? 0 : 255) : rng.U32());
      BlendBorderTable[i] = expectedBorder[i];
    }
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
      v[i] = {rng.Range(-6, dw + 6), rng.Range(-6, dh + 6), rng.Range(-3, sw + 3), rng.Range(-3, sh + 3)};
    } else if (roll < 70) {  // tiny triangles
      const int cx = rng.Range(-2, dw + 1), cy = rng.Range(-2, dh + 1);
      v[i] = {cx + rng.Range(-2, 2), cy + rng.Range(-2, 2), rng.Range(0, sw), rng.Range(0, sh)};
    } else if (roll < 80) {  // texture much larger or smaller than the triangle
      v[i] = {rng.Range(-4, dw + 4), rng.Range(-4, dh + 4), rng.Range(-200, 200), rng.Range(-200, 200)};
    } else if (roll < 85) {  // wild texture spans: gradients beyond 32 bits
      v[i] = {rng.Range(-2, dw + 2), rng.Range(-2, dh + 2), rng.Range(-8192, 8191), rng.Range(-8192, 8191)};
    } else if (roll < 93) {  // far corners inside the accepted range: long edges, many rows
      const bool far = rng.Chance(40);
      v[i].x = far ? rng.Range(-8192, 8191) : rng.Range(-300, 300);
      v[i].y = far ? rng.Range(-8192, 8191) : rng.Range(-300, 300);
      v[i].u = rng.Range(-8192, 8191);
      v[i].v = rng.Range(-8192, 8191);
      if (rng.Chance(30)) v[i].x = rng.Chance(50) ? -8192 : 8191;
      if (rng.Chance(30)) v[i].y = rng.Chance(50) ? -8192 : 8191;
    } else {  // degenerate (then made collinear) or hostile
      v[i] = {rng.Range(roll < 97 ? 0 : -6, dw + (roll < 97 ? 0 : 6)),
              rng.Range(roll < 97 ? 0 : -6, dh + (roll < 97 ? 0 : 6)), rng.Range(0, sw), rng.Range(0, sh)};
    }
  }
  if (roll >= 93 && roll < 97) {  // collinear or coincident
    const int k = rng.Range(0, 2);
    TriVertex &a = v[(k + 1) % 3], &b = v[(k + 2) % 3];
    if (rng.Chance(50)) {
      a.x = v[k].x, a.y = v[k].y;
    } else {
      const int dx = rng.Range(-3, 3), dy = rng.Range(-3, 3);
      a.x = v[k].x + dx, a.y = v[k].y + dy, b.x = v[k].x - 2 * dx, b.y = v[k].y - 2 * dy;
    }
  } else if (roll >= 97) {
    int* fields[4] = {&v[rng.Range(0, 2)].x, &v[rng.Range(0, 2)].y, &v[rng.Range(0, 2)].u,
                      &v[rng.Range(0, 2)].v};
    const int value = HostileCoord(rng);
    *fields[rng.Range(0, textured ? 3 : 1)] = value;
  }
}

RefState StateNow() {
  RefState s;
  GetDrawBlendMode(&s.mode, &s.param);
  GetDrawBrightness(&s.bright[2], &s.bright[1], &s.bright[0]);
  GetDrawArea(&s.left, &s.top, &s.right, &s.bottom);
  s.border = expectedBorder;
  return s;
}

struct KeyOf {
  template <KernelKey K>
  static constexpr KernelKey Make() {
    return K;
  }
};

class Differential {
 public:
  enum class Call { Triangle, TriangleGraph, Quad };

  Differential() {
    InitializeBlendTables();
    ResetDrawState();
    std::memset(expectedBorder, 255, 256);
    std::memset(BlendBorderTable, 255, 256);
    if (SetTriangleKernelSet(TriangleKernelSet::Avx2) == 0) sets.push_back(TriangleKernelSet::Avx2);
#if defined(__x86_64__)
    EXPECT_EQ(sets.size() == 2, __builtin_cpu_supports("avx2") != 0) << "the AVX2 set must run where it can";
#endif
  }
  ~Differential() {
    SetTriangleKernelSet(GetBestTriangleKernelSet());
    SetBlendMemImg(nullptr, 0, 0);
    ResetDrawState();
  }

  // Draws with the reference and with every kernel set, compares, and leaves the
  // agreed image in the destination.
  void Draw(Framed& dest, const MEMIMG* src, const MEMIMG* blend, const TriVertex* v, int trans,
            std::uint32_t colour, Call call) {
    std::uint8_t* block = dest.base.pixels;
    before.assign(block, block + dest.Bytes());
    expect = before;
    MEMIMG copy = dest.image;
    copy.pixels = expect.data() + (dest.image.pixels - block);
    const MEMIMG* usedBlend = call == Call::Triangle ? blend : GetBlendMemImg();
    const RefState state = StateNow();
    RefStats stats;
    if (call == Call::Quad) {
      const int w = src->width, h = src->height;
      const TriVertex q[4] = {
          {v[0].x, v[0].y, 0, 0}, {v[1].x, v[1].y, w, 0}, {v[2].x, v[2].y, 0, h}, {v[3].x, v[3].y, w, h}};
      reference::ReferenceTriangle(copy, src, &q[0], trans, usedBlend, 0, state, &stats);
      reference::ReferenceTriangle(copy, src, &q[1], trans, usedBlend, 0, state, &stats);
    } else {
      reference::ReferenceTriangle(copy, src, v, trans, usedBlend, colour, state, &stats);
    }
    const int mode = raster::KernelMode(state.mode, state.param, src != nullptr && src->shared->paletteFlag);
    if (stats.pixels + stats.skipped > 0 && mode >= 0) {
      const KernelKey key{dest.image.shared->kind,
                          src == nullptr             ? KernelSource::Flat
                          : src->shared->paletteFlag ? KernelSource::Palette
                                                     : KernelSource::Direct,
                          mode,
                          usedBlend != nullptr,
                          state.bright[0] == 255 && state.bright[1] == 255 && state.bright[2] == 255,
                          src != nullptr && src->shared->alphaFlag,
                          trans != 0};
      coverage[raster::KernelIndex(key)] += stats.pixels > 0;
      skips[raster::KernelIndex(key)] += stats.skipped > 0;
    }
    for (TriangleKernelSet set : sets) {
      std::memcpy(block, before.data(), before.size());
      SetTriangleKernelSet(set);
      if (call == Call::Triangle) DrawMemImgTriangle(&dest.image, src, v, trans, blend, colour);
      if (call == Call::TriangleGraph) DrawTriangleGraphSoft(&dest.image, src, v, colour, trans);
      if (call == Call::Quad)
        DrawQuadGraphSoft(&dest.image, v[0].x, v[0].y, v[1].x, v[1].y, v[2].x, v[2].y, v[3].x, v[3].y, src,
                          trans);
      if (std::memcmp(block, expect.data(), expect.size()) != 0 && ++failures <= 10) {
        std::size_t o = 0;
        while (block[o] == expect[o]) ++o;
        ADD_FAILURE() << "draw " << draws << (set == TriangleKernelSet::Avx2 ? " avx2" : " portable")
                      << " call " << int(call) << " mode " << state.mode << " param " << state.param
                      << " trans " << trans << " colour " << colour << " vertices " << v[0].x << "," << v[0].y
                      << " " << v[1].x << "," << v[1].y << " " << v[2].x << "," << v[2].y << ": byte " << o
                      << " is " << int(block[o]) << ", the reference's " << int(expect[o]);
      }
    }
    std::memcpy(block, expect.data(), expect.size());
    crc = Crc32(crc, expect);
    ++draws;
  }

  bool LastUnchanged() const { return before == expect; }

  // Kernels that never drew, and trans kernels that never skipped a texel.
  std::string Missing(bool textured) const {
    std::string missing;
    for (const KernelKey& k : raster::MakeKernelTable<KeyOf>()) {
      if (textured && k.source == KernelSource::Flat) continue;
      const int i = raster::KernelIndex(k);
      if (coverage[i] == 0) missing += "\n  " + raster::KernelName(k);
      const bool canSkip = k.trans && (k.source == KernelSource::Palette || !k.alpha || k.mode <= BlendSub ||
                                       (k.kind == MemImgKind16 && k.mode == BlendInverted));
      if (!textured && k.source != KernelSource::Flat && canSkip && skips[i] == 0)
        missing += "\n  " + raster::KernelName(k) + " (never skipped a texel)";
    }
    return missing;
  }

  std::vector<TriangleKernelSet> sets{TriangleKernelSet::Portable};
  std::vector<long> coverage = std::vector<long>(raster::KernelCount), skips = coverage;
  std::vector<std::uint8_t> before, expect;
  std::uint32_t crc = 0;
  long draws = 0, failures = 0;
};

void CheckRun(const Differential& diff, bool defaultRun, std::uint32_t pinned, bool textured) {
  std::printf("%ld draws, %zu kernel set(s), crc 0x%08X\n", diff.draws, diff.sets.size(), diff.crc);
  EXPECT_EQ(diff.failures, 0);
  if (defaultRun && EnvLong("GAMELIB_DIFF_SEED", 0) == 0) {
    EXPECT_EQ(diff.Missing(textured), "");
    EXPECT_EQ(diff.crc, pinned) << "the images of the default run changed";
  }
}

TEST(RasterDifferential, RandomTrianglesMatchTheReference) {
  const long triangles = EnvLong("GAMELIB_DIFF_TRIANGLES", kDefaultTriangles);
  Rng rng(std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)));
  Differential diff;
  for (long drawn = 0; drawn < triangles && diff.failures <= 10;) {
    // One scene: a destination, perhaps a source and a blend image, several draws.
    const int destKind = rng.Range(0, 1);
    const bool wide = rng.Chance(3);  // long spans, for kernels that work in chunks
    const int dw = wide ? rng.Range(100, 400) : rng.Chance(85) ? rng.Range(1, 24) : rng.Range(25, 80);
    const int dh = wide ? rng.Range(1, 24) : rng.Chance(85) ? rng.Range(1, 24) : rng.Range(25, 64);
    Framed dest, src, blend;
    ASSERT_TRUE(dest.Make(rng, dw, dh, destKind, 0, 0, 0));
    FillRandom(rng, dest);
    const int srcRoll = rng.Range(0, 99);
    const KernelSource cls = srcRoll < 15   ? KernelSource::Flat
                             : srcRoll < 65 ? KernelSource::Direct
                                            : KernelSource::Palette;
    const int srcKind = rng.Chance(2) ? 1 - destKind : destKind;  // a mismatch draws nothing
    const int sw = wide ? rng.Range(1, 400) : rng.Chance(80) ? rng.Range(1, 20) : rng.Range(21, 64);
    const int sh = rng.Chance(80) ? rng.Range(1, 20) : rng.Range(21, 64);
    if (cls != KernelSource::Flat) {
      const int alpha = cls == KernelSource::Direct && rng.Chance(50);
      ASSERT_TRUE(src.Make(rng, sw, sh, srcKind, cls == KernelSource::Palette, alpha, 0));
      FillSource(rng, src.image);
    }
    // A palette image never has alpha; one that claims it must still draw as a palette.
    if (cls == KernelSource::Palette && rng.Chance(10)) src.base.shared->alphaFlag = 1;
    const bool withBlend = rng.Chance(45);
    if (withBlend) {
      const int bw = rng.Chance(85) ? sw + rng.Range(0, 3) : rng.Range(1, sw);
      const int bh = rng.Chance(85) ? sh + rng.Range(0, 3) : rng.Range(1, sh);
      ASSERT_TRUE(blend.Make(rng, bw, bh, rng.Range(0, 1), rng.Chance(30), 0, 0));
      FillRandom(rng, blend);
    }
    const MEMIMG* srcImg = cls == KernelSource::Flat ? nullptr : &src.image;
    const MEMIMG* blendImg = withBlend ? &blend.image : nullptr;
    for (int i = 0, draws = rng.Range(4, 12); i < draws && drawn < triangles; ++i, ++drawn) {
      PickBlend(rng, true);
      PickBrightness(rng);
      PickArea(rng, dw, dh);
      PickBorderTable(rng);
      if (srcImg && rng.Chance(60)) src.image.shared->colorKey = PickKey(rng, src.image);
      const int trans = rng.Chance(50) ? (rng.Chance(80) ? 1 : int(rng.U32() | 1)) : 0;
      const std::uint32_t colour =
          rng.Chance(70) ? rng.U32() & (destKind == 0 ? 0xFFFF : 0xFFFFFFFF) : rng.U32();
      const int callRoll = rng.Range(0, 99);
      TriVertex v[4];
      if (callRoll < 80 || (callRoll >= 88 && srcImg == nullptr)) {
        PickVertices(rng, v, dw, dh, sw, sh, srcImg != nullptr);
        diff.Draw(dest, srcImg, blendImg, v, trans, colour, Differential::Call::Triangle);
      } else if (callRoll < 88) {
        SetBlend(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        PickVertices(rng, v, dw, dh, sw, sh, srcImg != nullptr);
        diff.Draw(dest, srcImg, blendImg, v, trans, colour, Differential::Call::TriangleGraph);
      } else {
        SetBlend(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        if (rng.Chance(50)) PickBorderTable(rng);
        const int spread = rng.Chance(80) ? 8 : 40;
        for (auto& c : v) c = {rng.Range(-spread, dw + spread), rng.Range(-spread, dh + spread), 0, 0};
        if (rng.Chance(30)) {  // an upright rectangle at the graph's own size
          const int x = rng.Range(-3, dw), y = rng.Range(-3, dh);
          v[0] = {x, y, 0, 0}, v[1] = {x + sw, y, 0, 0}, v[2] = {x, y + sh, 0, 0},
          v[3] = {x + sw, y + sh, 0, 0};
        }
        if (rng.Chance(2)) v[rng.Range(0, 3)].x = HostileCoord(rng);
        diff.Draw(dest, srcImg, blendImg, v, trans, 0, Differential::Call::Quad);
      }
      SetBlendMemImg(nullptr, 0, 0);
    }
    if (cls == KernelSource::Palette) src.base.shared->alphaFlag = 0;
  }
  CheckRun(diff, triangles == kDefaultTriangles, kDefaultRunCrc, false);
}

// Upright quads and right triangles: texels stay on one source row along a span, which
// the vector kernels may load a row at a time. Unrotated, mirrored, 1:1, magnified up
// to 4x, and spans that overhang the source by a pixel or two at either end.
TEST(RasterDifferential, AxisAlignedDrawsMatchTheReference) {
  const long total = EnvLong("GAMELIB_DIFF_AXIS_DRAWS", kDefaultAxisDraws);
  Rng rng(std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)) ^ 0xA515A11Full);
  Differential diff;
  for (long drawn = 0; drawn < total && diff.failures <= 10;) {
    const int destKind = rng.Range(0, 1);
    const bool wide = rng.Chance(10);
    const int dw = wide ? rng.Range(80, 300) : rng.Range(1, 64);
    const int dh = rng.Range(1, wide ? 16 : 40);
    Framed dest, src, blend;
    ASSERT_TRUE(dest.Make(rng, dw, dh, destKind, 0, 0, 0));
    FillRandom(rng, dest);
    const bool palette = !rng.Chance(55);
    const int srcKind = rng.Chance(2) ? 1 - destKind : destKind;
    // Eight texels or more make a row load possible; narrower ones must still draw right.
    const int sw = rng.Chance(85) ? (wide ? rng.Range(8, 120) : rng.Range(8, 40)) : rng.Range(1, 7);
    const int sh = rng.Range(1, 20);
    const int alpha = !palette && rng.Chance(50);
    ASSERT_TRUE(src.Make(rng, sw, sh, srcKind, palette, alpha, 0));
    FillSource(rng, src.image);
    const bool withBlend = rng.Chance(45);
    if (withBlend) {
      const int bw = rng.Chance(85) ? sw + rng.Range(0, 3) : rng.Range(1, sw);
      const int bh = rng.Chance(85) ? sh + rng.Range(0, 3) : rng.Range(1, sh);
      ASSERT_TRUE(blend.Make(rng, bw, bh, rng.Range(0, 1), rng.Chance(30), 0, 0));
      FillRandom(rng, blend);
    }
    const MEMIMG* blendImg = withBlend ? &blend.image : nullptr;
    for (int i = 0, draws = rng.Range(4, 12); i < draws && drawn < total; ++i, ++drawn) {
      PickBlend(rng, false);
      PickBrightness(rng);
      PickArea(rng, dw, dh);
      PickBorderTable(rng);
      if (rng.Chance(60)) src.image.shared->colorKey = PickKey(rng, src.image);
      const int trans = rng.Chance(50) ? (rng.Chance(80) ? 1 : int(rng.U32() | 1)) : 0;
      const bool mirrorX = rng.Chance(25), mirrorY = rng.Chance(25);
      // Texel range along an axis, and the pixel size it is stretched over.
      auto axis = [&](int side, int& t0, int& t1, int& pixels, bool overhang) {
        t0 = 0, t1 = side;
        if (overhang) {
          t0 = -rng.Range(0, 2), t1 = side + rng.Range(0, 2);
          if (t0 == 0 && t1 == side) (rng.Chance(50) ? t0 : t1) += rng.Chance(50) ? -1 : 1;
        } else if (rng.Chance(20)) {  // part of the source
          t0 = rng.Range(0, side - 1), t1 = rng.Range(t0 + 1, side);
        }
        const int span = t1 - t0, roll = rng.Range(0, 9);
        pixels = roll < 3   ? span                                     // exactly 1:1
                 : roll < 5 ? span + rng.Range(1, 2)                   // just above 1:1
                 : roll < 7 ? span * rng.Range(2, 4)                   // whole multiples
                            : rng.Range(span, 4 * std::max(span, 1));  // anything up to 4x
        pixels = std::max(pixels, 1);
      };
      int u0, u1, v0, v1, w, h;
      if (rng.Range(0, 99) < 40) {  // the whole graph on an upright rectangle
        axis(sw, u0, u1, w, false);
        axis(sh, v0, v1, h, false);
        w = std::max(w, sw), h = std::max(h, sh);
        const int x = rng.Range(-w + 1, dw + 1), y = rng.Range(-h + 1, dh + 1);
        const int xl = mirrorX ? x + w : x, xr = mirrorX ? x : x + w, yt = mirrorY ? y + h : y,
                  yb = mirrorY ? y : y + h;
        const TriVertex v[4] = {{xl, yt, 0, 0}, {xr, yt, 0, 0}, {xl, yb, 0, 0}, {xr, yb, 0, 0}};
        SetBlend(blendImg, rng.Range(0, 255), rng.Range(0, 255));
        if (rng.Chance(50)) PickBorderTable(rng);
        diff.Draw(dest, &src.image, blendImg, v, trans, 0, Differential::Call::Quad);
        SetBlendMemImg(nullptr, 0, 0);
      } else {  // right triangles on an upright rectangle, one or both halves
        const bool overhang = rng.Chance(50);
        axis(sw, u0, u1, w, overhang);
        axis(sh, v0, v1, h, overhang && rng.Chance(50));
        const int x = rng.Range(-w + 1, dw + 1), y = rng.Range(-h + 1, dh + 1);
        if (mirrorX) std::swap(u0, u1);
        if (mirrorY) std::swap(v0, v1);
        const TriVertex corner[4] = {
            {x, y, u0, v0}, {x + w, y, u1, v0}, {x, y + h, u0, v1}, {x + w, y + h, u1, v1}};
        const int drop = rng.Range(0, 3);
        const bool both = rng.Chance(30);  // the two triangles of one diagonal
        for (int half = 0; half < (both ? 2 : 1); ++half) {
          TriVertex v[3];
          for (int c = 0, n = 0; c < 4; ++c)
            if (c != (half == 0 ? drop : 3 - drop)) v[n++] = corner[c];
          if (rng.Chance(50)) std::swap(v[0], v[rng.Range(1, 2)]);
          diff.Draw(dest, &src.image, blendImg, v, trans, 0, Differential::Call::Triangle);
        }
      }
    }
  }
  CheckRun(diff, total == kDefaultAxisDraws, kAxisRunCrc, true);
}

// Calls that must draw nothing, on every kernel set and in the reference alike.
TEST(RasterDifferential, UnusableCallsDrawNothing) {
  Rng rng(77);
  Differential diff;
  const auto T = Differential::Call::Triangle;
  for (int kind = 0; kind <= 1; ++kind) {
    Framed dest, src, pal, other, blend, wide;
    ASSERT_TRUE(dest.Make(rng, 16, 12, kind, 0, 0, 0) && src.Make(rng, 8, 8, kind, 0, 0, 0) &&
                pal.Make(rng, 8, 8, kind, 1, 0, 0) && other.Make(rng, 8, 8, 1 - kind, 0, 0, 0) &&
                blend.Make(rng, 8, 8, 1, 1, 0, 0) &&
                wide.Make(rng, MemImgMaxSourceSide + 1, 1, kind, 0, 0, 0));
    for (Framed* f : {&dest, &src, &pal, &other, &blend, &wide}) FillRandom(rng, *f);
    FillSource(rng, pal.image);
    SetDrawScreenSize(16, 12);
    SetDrawBlendMode(BlendAlpha, 200);
    const TriVertex good[3] = {{-2, -1, 0, 0}, {17, 3, 8, 0}, {4, 14, 0, 8}};
    auto nothing = [&](const MEMIMG* s, const MEMIMG* b, const TriVertex* v, const char* what) {
      diff.Draw(dest, s, b, v, 1, 0x123456, T);
      EXPECT_TRUE(diff.LastUnchanged()) << what << ", kind " << kind;
    };
    auto something = [&](const MEMIMG* s, const MEMIMG* b, const TriVertex* v, const char* what) {
      FillRandom(rng, dest);
      diff.Draw(dest, s, b, v, 0, 0x4321, T);
      EXPECT_FALSE(diff.LastUnchanged()) << what << ", kind " << kind;
    };
    something(&src.image, &blend.image, good, "a plain triangle");
    MemImgSharedRecord& d = *dest.base.shared;
    for (int* flag : {&d.paletteFlag, &d.alphaFlag}) {
      *flag = 1;
      nothing(&src.image, nullptr, good, "destination with a palette or alpha");
      nothing(nullptr, nullptr, good, "flat onto a destination with a palette or alpha");
      *flag = 0;
    }
    nothing(&other.image, nullptr, good, "source of the other kind");
    d.kind = src.base.shared->kind = 2;
    nothing(&src.image, nullptr, good, "kind 2");
    nothing(nullptr, nullptr, good, "flat, kind 2");
    d.kind = src.base.shared->kind = kind;
    nothing(&wide.image, nullptr, good, "source wider than 8192");
    void* table = pal.base.shared->palette;
    pal.base.shared->palette = nullptr;
    nothing(&pal.image, nullptr, good, "palette source without a palette");
    pal.base.shared->palette = table;
    MEMIMG noPixels = blend.image;
    noPixels.pixels = nullptr;
    nothing(&src.image, &noPixels, good, "blend image without pixels");
    something(nullptr, &noPixels, good, "a flat colour ignores the blend image");
    for (Framed* f : {&dest, &src, &blend}) {  // pitches too small for the width
      const int pitch = f->base.shared->pitch;
      f->base.shared->pitch = f == &blend ? 7 : 8 * (kind ? 4 : 2) - 1;
      nothing(&src.image, &blend.image, good, "pitch below the width");
      f->base.shared->pitch = pitch;
    }
    // Coordinates outside -8192..8191, in every field of every vertex; a flat triangle
    // ignores u and v.
    int TriVertex::*const fields[4] = {&TriVertex::x, &TriVertex::y, &TriVertex::u, &TriVertex::v};
    for (int k = 0; k < 12; ++k) {
      for (int value : {-8193, 8192, INT_MIN, INT_MAX}) {
        TriVertex v[3] = {good[0], good[1], good[2]};
        v[k / 4].*fields[k % 4] = value;
        nothing(&src.image, nullptr, v, "coordinate out of range");
        if (k % 4 < 2) nothing(nullptr, nullptr, v, "flat coordinate out of range");
        if (k % 4 >= 2) something(nullptr, nullptr, v, "flat with u or v out of range");
      }
    }
    const TriVertex degenerate[3][3] = {{{5, 5, 0, 0}, {5, 5, 8, 0}, {5, 5, 0, 8}},
                                        {{0, 5, 0, 0}, {9, 5, 8, 0}, {15, 5, 0, 8}},
                                        {{0, 0, 0, 0}, {3, 2, 8, 0}, {9, 6, 0, 8}}};
    for (const auto& v : degenerate) nothing(&src.image, nullptr, v, "degenerate");
    SetDrawArea(12, 9, 4, 2);  // inverted
    nothing(nullptr, nullptr, good, "inverted draw area");
    SetDrawScreenSize(40, 12);
    SetDrawArea(16, 0, 40, 12);
    nothing(&src.image, nullptr, good, "draw area outside the destination");
    for (int mode : {5, 9, 12, -1}) {
      SetDrawBlendMode(mode, 100);
      nothing(&pal.image, nullptr, good, "mode without kernels");
    }
    SetDrawBlendMode(BlendAlpha, 200);
    std::vector<std::uint8_t> before(dest.base.pixels, dest.base.pixels + dest.Bytes());
    DrawMemImgTriangle(&dest.image, &src.image, nullptr, 0, nullptr, 0);
    DrawMemImgTriangle(nullptr, &src.image, good, 0, nullptr, 0);
    EXPECT_EQ(DrawTriangleGraphSoft(nullptr, nullptr, good, 0, 0), -1);
    EXPECT_EQ(DrawQuadGraphSoft(&dest.image, 0, 0, 5, 0, 0, 5, 5, 5, nullptr, 0), -1);
    EXPECT_EQ(DrawQuadGraphSoft(nullptr, 0, 0, 5, 0, 0, 5, 5, 5, &src.image, 0), -1);
    EXPECT_EQ(std::memcmp(before.data(), dest.base.pixels, before.size()), 0);
  }
  EXPECT_EQ(diff.failures, 0);
}

}  // namespace
}  // namespace gamelib
