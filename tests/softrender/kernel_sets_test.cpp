// The vector kernel set against the portable one on large rotated quads, where the vector
// loops run over whole runs of eight: every mode, switch and source kind, both destinations.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "raster_test_util.h"

namespace gamelib::rastertest {
namespace {

std::vector<std::uint8_t> Bytes(const Image& img) {
  const std::uint8_t* first = img.m.pixels;
  return {first, first + static_cast<std::size_t>(img.m.shared->pitch) * img.m.height};
}

class KernelSets : public RasterTest {
 protected:
  void TearDown() override {
    SetTriangleKernelSet(GetBestTriangleKernelSet());
    RasterTest::TearDown();
  }
};

TEST_F(KernelSets, VectorKernelsMatchThePortableOnes) {
  if (SetTriangleKernelSet(TriangleKernelSet::Avx2) != 0) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(5);
  for (int i = 0; i < 256; ++i)
    BlendBorderTable[i] = static_cast<std::uint8_t>(rng() % 5 == 0 ? (i & 1) * 255 : rng());
  const int modes[7] = {BlendNone, BlendAlpha, BlendAdd, BlendSub, BlendMul, BlendInverted, BlendMulFade};
  int compared = 0;
  for (int kind : {MemImgKind16, MemImgKind32}) {
    // Sources: direct, direct with alpha, palette, and none (flat colour).
    for (int source = 0; source < 4; ++source) {
      const int palette = source == 2 ? 1 : 0;
      const int alpha = source == 1 ? 1 : 0;
      Image src(61, 47, kind, palette, alpha, 0);
      Image blend(61, 47, MemImgKind16);
      for (int y = 0; y < 47; ++y) {
        for (int x = 0; x < 61; ++x) {
          std::uint32_t texel = rng();
          if (alpha && rng() % 4 == 0) texel = (texel & 0x00FFFFFF) | (rng() % 2 ? 0xFF000000u : 0);
          if (alpha && kind == MemImgKind16 && rng() % 4 == 0)
            texel = (texel & 0xFF00FFFF) | (rng() % 2 ? 0xFF0000u : 0);
          if (palette) texel &= 0xFF;
          if (!palette && !alpha && kind == MemImgKind16) texel &= 0xFFFF;
          if (rng() % 6 == 0) texel = palette ? 7 : (kind == MemImgKind16 && !alpha ? 0x1234 : 0x00123456);
          src.Set(x, y, texel);
          blend.Set(x, y, rng());
        }
      }
      src.m.shared->colorKey = palette ? 7 : (kind == MemImgKind16 ? 0x1234 : 0x00123456);
      if (palette) {
        for (int i = 0; i < 256; ++i) src.SetPalette(i, rng());
      }
      for (int mode : modes) {
        for (int variant = 0; variant < 8; ++variant) {
          const bool withBlend = (variant & 1) != 0;
          const bool dim = (variant & 2) != 0;
          const int trans = (variant >> 2) & 1;
          for (int p : {0, 1, 128, 200, 255}) {
            std::vector<std::uint8_t> results[2];
            const auto colour = static_cast<std::uint32_t>(rng());
            for (int set = 0; set < 2; ++set) {
              Image dest(97, 89, kind);
              std::mt19937 fill(9);
              for (int y = 0; y < 89; ++y) {
                for (int x = 0; x < 97; ++x) dest.Set(x, y, fill());
              }
              ResetStateFor(dest);
              SetDrawArea(2, 1, 95, 88);
              SetDrawBlendMode(mode, p);
              if (dim) SetDrawBrightness(200, 77, 254);
              ASSERT_EQ(
                  0, SetTriangleKernelSet(set == 0 ? TriangleKernelSet::Portable : TriangleKernelSet::Avx2));
              // A quad turned by about 25 degrees, larger than the source so that some
              // spans leave it, and one flat triangle over the whole area.
              const TriVertex q[4] = {{20, -4, 0, 0}, {92, 30, 61, 0}, {-6, 52, 0, 47}, {66, 86, 61, 47}};
              if (source == 3) {
                DrawMemImgTriangle(&dest.m, nullptr, &q[0], 0, nullptr, colour);
                DrawMemImgTriangle(&dest.m, nullptr, &q[1], 0, nullptr, 0x00C0FFEE);
              } else {
                const TriVertex big[3] = {{-30, -30, -10, -8}, {130, 10, 80, 50}, {10, 120, 20, 70}};
                DrawMemImgTriangle(&dest.m, &src.m, &q[0], trans, withBlend ? &blend.m : nullptr, 0);
                DrawMemImgTriangle(&dest.m, &src.m, &q[1], trans, withBlend ? &blend.m : nullptr, 0);
                DrawMemImgTriangle(&dest.m, &src.m, big, trans, withBlend ? &blend.m : nullptr, 0);
              }
              results[set] = Bytes(dest);
            }
            ASSERT_EQ(results[0], results[1]) << "kind " << kind << " source " << source << " mode " << mode
                                              << " variant " << variant << " p " << p;
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_EQ(2 * 4 * 7 * 8 * 5, compared);
}

}  // namespace
}  // namespace gamelib::rastertest
