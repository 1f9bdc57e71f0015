// Random triangles and quads drawn by every kernel set the processor runs and by the
// reference model; the images must be identical, and the run's images are pinned by a
// CRC. GAMELIB_DIFF_TRIANGLES=n or GAMELIB_DIFF_AXIS_DRAWS=n draw n instead (the CRC is
// then printed, not checked); GAMELIB_DIFF_SEED changes the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
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
#include "softrender/triangle.h"

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
constexpr long kDefaultSmallBatches = 6000;
constexpr std::uint32_t kSmallRunCrc = 0x6447942A;

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
  bool Make(Rng& rng, int width, int height, int kind, int palette, int alpha, std::uint32_t key) {
    const int mx = rng.Range(0, 3), my = rng.Range(0, 2);
    if (CreateMemImg(&base, width + mx + rng.Range(0, 3), height + my + rng.Range(0, 2), kind, palette, alpha,
                     key) != 0)
      return false;
    return DeriveMemImg(&image, &base, mx, my, width, height) == 0;
  }
  // No frame, and the pixels moved out of the image's own block (which has slack after
  // its last row) into a buffer that ends at the last pixel, as memory from elsewhere may.
  bool MakeExact(int width, int height, int kind, int palette = 0, int alpha = 0) {
    if (CreateMemImg(&base, width, height, kind, palette, alpha, 0) != 0 ||
        DeriveMemImg(&image, &base, 0, 0, width, height) != 0)
      return false;
    exact.assign(Bytes(), 0);
    base.pixels = image.pixels = exact.data();
    return true;
  }
  std::vector<std::uint8_t> exact;
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

void PickBorderTable(Rng& rng) {
  const int roll = rng.Range(0, 9);
  if (roll >= 3 && roll < 6) BuildBorder(rng.Range(0, 255), rng.Range(0, 255));
  for (int i = 0; roll >= 6 && i < 256; ++i) {  // weights the builder cannot make
    expectedBorder[i] =
        roll == 9 ? 255 : std::uint8_t(rng.Chance(15) ? (rng.Chance(50) ? 0 : 255) : rng.U32());
    BlendBorderTable[i] = expectedBorder[i];
  }
}

// The draw state of one draw: blend mode and parameter (also modes without kernels and
// parameters to clamp), brightness, draw area (also one reaching past the destination,
// inside a larger draw screen), border table, colour key. Returns trans.
int PickDrawState(Rng& rng, int width, int height, bool wildParameter, MEMIMG* src) {
  static const int none[] = {5, 6, 7, 8, 9, 12, -1, 1000, INT_MIN},
                   fixed[] = {0, 1, 2, 127, 128, 129, 200, 254, 255};
  static const std::uint32_t near[] = {0xFFFFFE, 0xFEFFFF, 0xFFFEFF, 0x000000, 0x808080, 0x80FFFF};
  const int mode = rng.Chance(4) ? rng.Pick(none) : raster::kKernelModes[rng.Range(0, 6)];
  int param = rng.Chance(50) ? rng.Pick(fixed) : rng.Range(0, 255);
  if (wildParameter && rng.Chance(2)) param = rng.Chance(50) ? -7 : 300;
  SetDrawBlendMode(mode, param);
  int roll = rng.Range(0, 9);
  const std::uint32_t b = roll < 4 ? 0xFFFFFF : roll < 5 ? rng.Pick(near) : rng.U32() & 0xFFFFFF;
  SetDrawBrightness(int(b >> 16), int(b >> 8) & 255, int(b & 255));
  rng.Chance(5);  // once an unused top byte of the brightness
  SetDrawScreenSize(width + 20, height + 20);
  roll = rng.Range(0, 9);
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
  PickBorderTable(rng);
  if (src != nullptr && rng.Chance(60)) src->shared->colorKey = PickKey(rng, *src);
  return rng.Chance(50) ? (rng.Chance(80) ? 1 : int(rng.U32() | 1)) : 0;
}

// Often a blend image, mostly at least the source's size, in either pixel format.
const MEMIMG* MakeBlendImage(Rng& rng, Framed& blend, int sw, int sh) {
  if (!rng.Chance(45)) return nullptr;
  const int bw = rng.Chance(85) ? sw + rng.Range(0, 3) : rng.Range(1, sw);
  const int bh = rng.Chance(85) ? sh + rng.Range(0, 3) : rng.Range(1, sh);
  EXPECT_TRUE(blend.Make(rng, bw, bh, rng.Range(0, 1), rng.Chance(30), 0, 0));
  FillRandom(rng, blend);
  return &blend.image;
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

struct KeyOf {  // a table of the kernel keys themselves
  template <KernelKey K>
  static constexpr KernelKey Make() {
    return K;
  }
};

class Differential {
 public:
  // Quad maps the whole source onto corners v[0..3]; Corners draws v[0..3] as given.
  enum class Call { Triangle, TriangleGraph, Quad, Corners };

  Differential() {
    InitializeBlendTables();
    ResetDrawState();
    std::memset(expectedBorder, 255, 256);
    std::memset(BlendBorderTable, 255, 256);
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
    const MEMIMG* usedBlend = call == Call::Triangle || call == Call::Corners ? blend : GetBlendMemImg();
    const RefState state = reference::DrawStateNow(expectedBorder);
    RefStats stats;
    if (call == Call::Quad) {
      const int w = src->width, h = src->height;
      const TriVertex q[4] = {
          {v[0].x, v[0].y, 0, 0}, {v[1].x, v[1].y, w, 0}, {v[2].x, v[2].y, 0, h}, {v[3].x, v[3].y, w, h}};
      reference::ReferenceTriangle(copy, src, &q[0], trans, usedBlend, 0, state, &stats);
      reference::ReferenceTriangle(copy, src, &q[1], trans, usedBlend, 0, state, &stats);
    } else if (call == Call::Corners) {
      reference::ReferenceTriangle(copy, src, &v[0], trans, usedBlend, 0, state, &stats);
      reference::ReferenceTriangle(copy, src, &v[1], trans, usedBlend, 0, state, &stats);
    } else {
      reference::ReferenceTriangle(copy, src, v, trans, usedBlend, colour, state, &stats);
    }
    const bool palette = src && src->shared->paletteFlag;
    const bool white = state.bright[0] == 255 && state.bright[1] == 255 && state.bright[2] == 255;
    const KernelKey key{dest.image.shared->kind,
                        !src      ? KernelSource::Flat
                        : palette ? KernelSource::Palette
                                  : KernelSource::Direct,
                        raster::KernelMode(state.mode, state.param, palette),
                        usedBlend != nullptr,
                        white,
                        src && src->shared->alphaFlag,
                        trans != 0};
    if (key.mode >= 0) {
      drew[raster::KernelIndex(key)] += stats.pixels > 0;
      skipped[raster::KernelIndex(key)] += stats.skipped > 0;
    }
    for (TriangleKernelSet set : reference::KernelSetsToTest()) {
      std::memcpy(block, before.data(), before.size());
      SetTriangleKernelSet(set);
      if (call == Call::Triangle) DrawMemImgTriangle(&dest.image, src, v, trans, blend, colour);
      if (call == Call::TriangleGraph) DrawTriangleGraphSoft(&dest.image, src, v, colour, trans);
      if (call == Call::Corners) DrawMemImgQuad(&dest.image, src, v, trans, blend);
      if (call == Call::Quad)
        DrawQuadGraphSoft(&dest.image, v[0].x, v[0].y, v[1].x, v[1].y, v[2].x, v[2].y, v[3].x, v[3].y, src,
                          trans);
      if (std::memcmp(block, expect.data(), expect.size()) != 0 && ++failures <= 10) {
        std::size_t o = 0;
        while (block[o] == expect[o]) ++o;
        ADD_FAILURE() << "draw " << draws << (set == TriangleKernelSet::Avx2 ? " avx2 " : " portable ")
                      << (key.mode >= 0 ? raster::KernelName(key) : "no kernel") << " call " << int(call)
                      << " mode " << state.mode << " param " << state.param << " trans " << trans
                      << " vertex 0: " << v[0].x << "," << v[0].y << "," << v[0].u << "," << v[0].v
                      << ": byte " << o << " is " << int(block[o]) << ", the reference's " << int(expect[o]);
      }
    }
    std::memcpy(block, expect.data(), expect.size());
    crc = Crc32(crc, expect);
    ++draws;
  }

  // The pinned CRC, every kernel drawn, and every trans kernel that can skip a texel
  // having skipped one.
  void CheckRun(bool defaultRun, std::uint32_t pinned, bool textured) const {
    std::printf("%ld draws, crc 0x%08X\n", draws, crc);
    EXPECT_EQ(failures, 0);
    if (!defaultRun || EnvLong("GAMELIB_DIFF_SEED", 0) != 0) return;
    EXPECT_EQ(crc, pinned) << "the images of the default run changed";
    std::string missing;
    for (const KernelKey& k : raster::MakeKernelTable<KeyOf>()) {
      if (textured && k.source == KernelSource::Flat) continue;
      const int i = raster::KernelIndex(k);
      if (drew[i] == 0) missing += "\n  " + raster::KernelName(k);
      const bool skips = k.trans && (k.source == KernelSource::Palette || !k.alpha || k.mode <= BlendSub ||
                                     (k.kind == kMemImgKind16 && k.mode == BlendInverted));
      if (!textured && k.source != KernelSource::Flat && skips && skipped[i] == 0)
        missing += "\n  " + raster::KernelName(k) + " (never skipped a texel)";
    }
    EXPECT_EQ(missing, "");
  }

  std::vector<long> drew = std::vector<long>(raster::kKernelCount), skipped = drew;
  std::vector<std::uint8_t> before, expect;
  std::uint32_t crc = 0;
  long draws = 0, failures = 0;
};

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
    const MEMIMG* srcImg = cls == KernelSource::Flat ? nullptr : &src.image;
    const MEMIMG* blendImg = MakeBlendImage(rng, blend, sw, sh);
    for (int i = 0, draws = rng.Range(4, 12); i < draws && drawn < triangles; ++i, ++drawn) {
      const int trans = PickDrawState(rng, dw, dh, true, srcImg ? &src.image : nullptr);
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
  diff.CheckRun(triangles == kDefaultTriangles, kDefaultRunCrc, false);
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
    const MEMIMG* blendImg = MakeBlendImage(rng, blend, sw, sh);
    for (int i = 0, draws = rng.Range(4, 12); i < draws && drawn < total; ++i, ++drawn) {
      const int trans = PickDrawState(rng, dw, dh, false, &src.image);
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
  diff.CheckRun(total == kDefaultAxisDraws, kAxisRunCrc, true);
}

// Unscaled, unturned sprites placed to reach the ends of destination and source buffers
// that end at their last pixel and texel: the eight- and sixteen-pixel chunks of such rows
// must neither load nor store past either end (AddressSanitizer watches), where the draw
// area's right edge or the source's last row cuts them short.
TEST(RasterDifferential, StraightSpritesAtTheEndsOfTheirImagesMatchTheReference) {
  Rng rng(std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)) ^ 0x57A1647ull);
  Differential diff;
  for (int round = 0; round < 600 && diff.failures <= 10; ++round) {
    const int kind = rng.Range(0, 1);  // rows of 16-bit pixels are padded at an odd width
    const int dw = (2 - kind) * rng.Range(8, 30), dh = rng.Range(2, 24);
    const int sw = (2 - kind) * rng.Range(rng.Chance(90) ? 4 : 1, 20), sh = rng.Range(1, 24);
    Framed dest, src;
    ASSERT_TRUE(dest.MakeExact(dw, dh, kind));
    ASSERT_TRUE(src.MakeExact(sw, sh, kind));
    FillRandom(rng, dest);
    FillSource(rng, src.image);
    const int trans = PickDrawState(rng, dw, dh, false, &src.image);
    // Texels from (u0, v0) one per pixel, mostly the source's bottom right corner, over a
    // w x h rectangle ending at the destination's bottom right, starting at its top left,
    // or anywhere.
    // Both halves in one call (drawn as a whole rectangle on 16-bit images), or apart.
    const bool whole = rng.Chance(50);
    const int w = rng.Range(whole ? 1 : 9, std::max(9, sw + 3)), h = rng.Range(1, sh + 2);
    const int u0 = rng.Chance(60) ? sw - w : rng.Range(-3, sw - 1);
    const int v0 = rng.Chance(60) ? sh - h : rng.Range(-2, sh - 1);
    const int place = rng.Range(0, 2);
    if (place < 2 || rng.Chance(50)) SetDrawArea(0, 0, dw, dh);
    const int x = place == 0 ? dw - w : place == 1 ? 0 : rng.Range(-w, dw);
    const int y = place == 0 ? dh - h : place == 1 ? 0 : rng.Range(-h, dh);
    const TriVertex corner[4] = {
        {x, y, u0, v0}, {x + w, y, u0 + w, v0}, {x, y + h, u0, v0 + h}, {x + w, y + h, u0 + w, v0 + h}};
    if (whole) {
      diff.Draw(dest, &src.image, nullptr, corner, trans, 0, Differential::Call::Corners);
      continue;
    }
    for (int half = 0; half < 2; ++half) {
      const TriVertex v[3] = {corner[half], corner[1 + half], corner[2 + half]};
      diff.Draw(dest, &src.image, nullptr, v, trans, 0, Differential::Call::Triangle);
    }
  }
  EXPECT_EQ(diff.failures, 0);
}

// Whole graphs on turned quads, from about 1:1 up to 4x and in every direction, mostly on
// sources that end at their last texel: along a span the vector kernels may take a chunk's
// texels from a few rows of the source at a time, which must stay inside it at its edges.
TEST(RasterDifferential, TurnedQuadsMatchTheReference) {
  Rng rng(std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)) ^ 0x7E42ED0ull);
  Differential diff;
  for (int round = 0; round < 300 && diff.failures <= 10; ++round) {
    const int kind = rng.Range(0, 1);
    const int dw = rng.Range(40, 160), dh = rng.Range(30, 100);
    const int sw = rng.Chance(90) ? rng.Range(8, 40) : rng.Range(1, 7), sh = rng.Range(1, 40);
    const int roll = rng.Range(0, 9);
    const int palette = roll < 3, alpha = roll >= 7;
    Framed dest, src, blend;
    ASSERT_TRUE(dest.Make(rng, dw, dh, kind, 0, 0, 0));
    FillRandom(rng, dest);
    ASSERT_TRUE(rng.Chance(75) ? src.MakeExact(sw, sh, kind, palette, alpha)
                               : src.Make(rng, sw, sh, kind, palette, alpha, 0));
    FillSource(rng, src.image);
    const int trans = PickDrawState(rng, dw, dh, false, &src.image);
    const MEMIMG* blendImg = MakeBlendImage(rng, blend, sw, sh);
    SetBlend(blendImg, rng.Range(0, 255), rng.Range(0, 255));
    const double angle = rng.Range(0, 359) * 3.14159265358979 / 180;
    const double scale = rng.Range(90, 400) / 100.0;
    const double cx = rng.Range(0, dw), cy = rng.Range(0, dh);
    const double ax = std::cos(angle) * scale, ay = std::sin(angle) * scale;
    const bool mirror = rng.Chance(25);
    TriVertex v[4];
    for (int i = 0; i < 4; ++i) {
      const double x = ((i & 1) != mirror ? 0.5 : -0.5) * sw, y = (i & 2 ? 0.5 : -0.5) * sh;
      v[i] = {int(std::lround(cx + x * ax - y * ay)), int(std::lround(cy + x * ay + y * ax)), 0, 0};
    }
    diff.Draw(dest, &src.image, blendImg, v, trans, 0, Differential::Call::Quad);
    SetBlendMemImg(nullptr, 0, 0);
  }
  EXPECT_EQ(diff.failures, 0);
}

// Runs of small triangles and quads drawn one after another under one draw state, the
// way sprites are drawn: each kernel set draws the whole run, so that a call can reuse the
// previous call's preparation; some steps change the blend mode, brightness, draw area or
// colour key, or swap the source, in between. Most primitives lie wholly inside the draw
// area (no clipping), some cross it.
TEST(RasterDifferential, RunsOfSmallDrawsMatchTheReference) {
  const long batches = EnvLong("GAMELIB_DIFF_SMALL_BATCHES", kDefaultSmallBatches);
  Rng rng(std::uint64_t(EnvLong("GAMELIB_DIFF_SEED", 20240607)) ^ 0x5A11DA7Aull);
  InitializeBlendTables();
  ResetDrawState();
  std::memset(expectedBorder, 255, 256);
  std::memset(BlendBorderTable, 255, 256);
  struct Step {
    int kind;  // 0 triangle, 1 quad, 2 flat triangle
    TriVertex v[4];
    std::uint32_t colour;
    int change;  // 0 none, 1 blend mode, 2 brightness, 3 draw area, 4 colour key, 5 other source
    int a, b, c, d;
  };
  struct Snapshot {
    int mode, param, red, green, blue, left, top, right, bottom;
    std::uint32_t key;
  };
  std::uint32_t crc = 0;
  long draws = 0, failures = 0;
  std::vector<long> drew(raster::kKernelCount);
  std::vector<std::uint8_t> before, expect;
  for (long batch = 0; batch < batches && failures <= 10; ++batch) {
    const int destKind = rng.Range(0, 1);
    const int dw = rng.Range(16, 96), dh = rng.Range(12, 64);
    Framed dest, src, other, blend;
    ASSERT_TRUE(dest.Make(rng, dw, dh, destKind, 0, 0, 0));
    FillRandom(rng, dest);
    const bool palette = rng.Chance(30);
    const int alpha = !palette && rng.Chance(40);
    const int sw = rng.Chance(60) ? rng.Pick({8, 16}) : rng.Range(1, 40);
    const int sh = rng.Chance(60) ? sw : rng.Range(1, 40);
    ASSERT_TRUE(src.Make(rng, sw, sh, destKind, palette, alpha, 0));
    FillSource(rng, src.image);
    ASSERT_TRUE(other.Make(rng, sw, sh, destKind, palette, alpha, 0));
    FillSource(rng, other.image);
    const MEMIMG* blendImg = MakeBlendImage(rng, blend, sw, sh);
    SetBlend(blendImg, rng.Range(0, 255), rng.Range(0, 255));
    const int trans = PickDrawState(rng, dw, dh, false, &src.image);
    // Mostly the whole destination: the area rarely clips a sprite.
    if (rng.Chance(70)) SetDrawArea(0, 0, dw, dh);
    Snapshot start;
    GetDrawBlendMode(&start.mode, &start.param);
    GetDrawBrightness(&start.red, &start.green, &start.blue);
    GetDrawArea(&start.left, &start.top, &start.right, &start.bottom);
    start.key = src.image.shared->colorKey;

    std::vector<Step> steps(rng.Range(2, 16));
    for (Step& st : steps) {
      st = Step{};
      st.kind = rng.Chance(10) ? 2 : rng.Chance(50) ? 1 : 0;
      const int side = rng.Chance(70) ? rng.Pick({sw, 8, 16}) : rng.Range(1, 40);
      const bool inside = rng.Chance(80);
      const int x = inside ? rng.Range(0, std::max(0, dw - side - 1)) : rng.Range(-side, dw);
      const int y = inside ? rng.Range(0, std::max(0, dh - side - 1)) : rng.Range(-side, dh);
      const int roll = rng.Range(0, 9);
      if (st.kind == 1 || roll < 5) {  // an upright sprite, or one of its halves
        const TriVertex corner[4] = {
            {x, y, 0, 0}, {x + side, y, sw, 0}, {x, y + side, 0, sh}, {x + side, y + side, sw, sh}};
        std::copy(corner, corner + 4, st.v);
        if (st.kind != 1 && rng.Chance(50)) std::copy(corner + 1, corner + 4, st.v);
      } else {  // a small turned or skewed one
        for (int i = 0; i < 4; ++i)
          st.v[i] = {x + rng.Range(0, side), y + rng.Range(0, side), rng.Range(-2, sw + 2),
                     rng.Range(-2, sh + 2)};
      }
      st.colour = rng.U32();
      st.change = rng.Chance(75) ? 0 : rng.Range(1, 5);
      st.a = rng.Range(0, 255), st.b = rng.Range(0, 255), st.c = rng.Range(0, 255);
      if (st.change == 1) st.a = raster::kKernelModes[rng.Range(0, 6)];
      if (st.change == 3) {
        st.a = rng.Range(0, dw - 1), st.b = rng.Range(0, dh - 1);
        st.c = rng.Range(st.a + 1, dw), st.d = rng.Range(st.b + 1, dh);
      }
      if (st.change == 4) st.a = int(PickKey(rng, src.image));
    }

    // Replays the run on dest (or a copy of it): restores the starting state, then applies
    // each step's change and draws it, with the library or the reference.
    auto replay = [&](const MEMIMG& target, bool reference, RefStats* stats) {
      SetDrawBlendMode(start.mode, start.param);
      SetDrawBrightness(start.red, start.green, start.blue);
      SetDrawArea(start.left, start.top, start.right, start.bottom);
      src.image.shared->colorKey = start.key;
      const MEMIMG* source = &src.image;
      for (const Step& st : steps) {
        if (st.change == 1) SetDrawBlendMode(st.a, st.b);
        if (st.change == 2) SetDrawBrightness(st.a, st.b, st.c);
        if (st.change == 3) SetDrawArea(st.a, st.b, st.c, st.d);
        if (st.change == 4) src.image.shared->colorKey = std::uint32_t(st.a);
        if (st.change == 5) source = source == &src.image ? &other.image : &src.image;
        const MEMIMG* drawn = st.kind == 2 ? nullptr : source;
        if (reference) {
          const RefState state = reference::DrawStateNow(expectedBorder);
          const bool white = state.bright[0] == 255 && state.bright[1] == 255 && state.bright[2] == 255;
          const KernelKey key{destKind,
                              !drawn    ? KernelSource::Flat
                              : palette ? KernelSource::Palette
                                        : KernelSource::Direct,
                              raster::KernelMode(state.mode, state.param, drawn && palette),
                              drawn && blendImg != nullptr,
                              white,
                              drawn && alpha,
                              trans != 0};
          RefStats one;
          if (st.kind == 1) {
            const int w = drawn->width, h = drawn->height;
            const TriVertex q[4] = {{st.v[0].x, st.v[0].y, 0, 0},
                                    {st.v[1].x, st.v[1].y, w, 0},
                                    {st.v[2].x, st.v[2].y, 0, h},
                                    {st.v[3].x, st.v[3].y, w, h}};
            reference::ReferenceTriangle(target, drawn, &q[0], trans, blendImg, 0, state, &one);
            reference::ReferenceTriangle(target, drawn, &q[1], trans, blendImg, 0, state, &one);
          } else {
            reference::ReferenceTriangle(target, drawn, st.v, trans, drawn ? blendImg : nullptr, st.colour,
                                         state, &one);
          }
          if (key.mode >= 0) drew[raster::KernelIndex(key)] += one.pixels > 0;
          stats->pixels += one.pixels;
        } else if (st.kind == 1) {
          DrawQuadGraphSoft(&dest.image, st.v[0].x, st.v[0].y, st.v[1].x, st.v[1].y, st.v[2].x, st.v[2].y,
                            st.v[3].x, st.v[3].y, drawn, trans);
        } else {
          DrawTriangleGraphSoft(&dest.image, drawn, st.v, st.colour, trans);
        }
      }
    };
    std::uint8_t* block = dest.base.pixels;
    before.assign(block, block + dest.Bytes());
    expect = before;
    MEMIMG copy = dest.image;
    copy.pixels = expect.data() + (dest.image.pixels - block);
    RefStats stats;
    replay(copy, true, &stats);
    for (TriangleKernelSet set : reference::KernelSetsToTest()) {
      std::memcpy(block, before.data(), before.size());
      SetTriangleKernelSet(set);
      replay(dest.image, false, nullptr);
      if (std::memcmp(block, expect.data(), expect.size()) != 0 && ++failures <= 10) {
        std::size_t o = 0;
        while (block[o] == expect[o]) ++o;
        ADD_FAILURE() << "run " << batch << (set == TriangleKernelSet::Avx2 ? " avx2" : " portable") << " of "
                      << steps.size() << " draws, " << dw << "x" << dh << " kind " << destKind << " trans "
                      << trans << ": byte " << o << " is " << int(block[o]) << ", the reference's "
                      << int(expect[o]);
      }
    }
    crc = Crc32(crc, expect);
    draws += long(steps.size());
    SetBlendMemImg(nullptr, 0, 0);
  }
  SetTriangleKernelSet(GetBestTriangleKernelSet());
  ResetDrawState();
  std::printf("%ld draws, crc 0x%08X\n", draws, crc);
  EXPECT_EQ(failures, 0);
  if (batches != kDefaultSmallBatches || EnvLong("GAMELIB_DIFF_SEED", 0) != 0) return;
  EXPECT_EQ(crc, kSmallRunCrc) << "the images of the default run changed";
  // Every textured kernel drew in such runs, on both destination kinds.
  std::string missing;
  for (const KernelKey& k : raster::MakeKernelTable<KeyOf>()) {
    if (k.source != KernelSource::Flat && drew[raster::KernelIndex(k)] == 0)
      missing += "\n  " + raster::KernelName(k);
  }
  EXPECT_EQ(missing, "");
}

}  // namespace
}  // namespace gamelib
