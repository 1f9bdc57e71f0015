// The reference model against worked pixel values and spans, so that when it and
// the kernels disagree the reference is not the first suspect.
#include "reference_raster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace gamelib::reference {
namespace {

enum class Src { Flat, Direct, Alpha, Palette };

struct OnePixel {
  int kind = 1;
  std::uint32_t dest = 0;
  Src src = Src::Direct;
  std::uint32_t texel = 0;  // texel, or the palette entry for palette sources
  int mode = 0;
  int param = 255;
  int bright[3] = {255, 255, 255};  // red, green, blue
  int weight = -1;                  // blend weight, -1: no blend image
  int trans = 0;
  std::uint32_t key = 0;
  std::uint32_t colour = 0;
};

// Draws a triangle whose first pixel samples texel (0, 0) onto a 1x1 destination.
std::uint32_t Px(const OnePixel& c) {
  std::uint8_t destPx[4] = {};
  std::memcpy(destPx, &c.dest, c.kind == 0 ? 2 : 4);
  RefImage dest;
  dest.pixels = destPx;
  dest.width = dest.height = 1;
  dest.pitch = 4;
  dest.kind = c.kind;

  std::uint8_t srcPx[4] = {};
  std::uint32_t palette[256] = {};
  std::uint16_t palette16[256] = {};
  RefImage src;
  src.pixels = srcPx;
  src.width = src.height = 1;
  src.pitch = 4;
  src.kind = c.kind;
  src.colorKey = c.key;
  if (c.src == Src::Palette) {
    src.palette = true;
    srcPx[0] = 7;
    palette[7] = c.texel;
    palette16[7] = std::uint16_t(c.texel);
    src.paletteTable = c.kind == 0 ? static_cast<const void*>(palette16) : palette;
  } else {
    src.alpha = c.src == Src::Alpha;
    std::memcpy(srcPx, &c.texel, 4);
  }
  std::uint8_t blendPx[4] = {3};
  std::uint8_t table[256];
  std::memset(table, c.weight < 0 ? 255 : c.weight, sizeof table);
  RefImage blend;
  blend.pixels = blendPx;
  blend.width = blend.height = 1;
  blend.pitch = 4;

  RefState st;
  st.areaRight = st.areaBottom = 1;
  st.blendMode = c.mode;
  st.blendParam = c.param;
  st.brightRed = c.bright[0];
  st.brightGreen = c.bright[1];
  st.brightBlue = c.bright[2];
  st.borderTable = table;
  const RefVertex v[3] = {{0, 0, 0, 0}, {4, 0, 4, 0}, {0, 4, 0, 4}};
  ReferenceDrawTriangle(dest, c.src == Src::Flat ? nullptr : &src, v, c.trans,
                        c.weight < 0 ? nullptr : &blend, c.colour, st);
  std::uint32_t out = 0;
  std::memcpy(&out, destPx, c.kind == 0 ? 2 : 4);
  return out;
}

OnePixel Flat(int kind, std::uint32_t dest, std::uint32_t colour, int mode, int param = 255) {
  OnePixel c;
  c.kind = kind, c.dest = dest, c.src = Src::Flat, c.colour = colour, c.mode = mode, c.param = param;
  return c;
}
OnePixel Tex(int kind, Src src, std::uint32_t dest, std::uint32_t texel, int mode, int param = 255) {
  OnePixel c;
  c.kind = kind, c.dest = dest, c.src = src, c.texel = texel, c.mode = mode, c.param = param;
  return c;
}
std::uint32_t Bgr(int b, int g, int r, int top = 0) {
  return std::uint32_t(b | g << 8 | r << 16 | top << 24);
}

TEST(ReferenceRaster, GuardBitOperationsMatchTheWordFormulas) {
  auto add16 = [](std::uint32_t d, std::uint32_t s) {
    std::uint32_t sum = (d & 0xF7DF) + (s & 0xF7DF), k = sum & 0x10820;
    return ((k - (k >> 5)) | ((d | s) & 0x0820) | sum) & 0xFFFF;
  };
  auto sub16 = [](std::uint32_t d, std::uint32_t s) {
    std::uint32_t t = (d | 0x10820) - (s & 0xF7DF), k = t & 0x10820;
    return ((k - (k >> 5)) & t) & 0xFFFF;
  };
  auto add32 = [](std::uint32_t d, std::uint32_t s) {
    std::uint32_t sum = (d & 0x00FEFEFF) + (s & 0x00FEFEFF), k = sum & 0x01010100;
    return (k - (k >> 8)) | ((d | s) & 0x00010100) | sum;
  };
  auto sub32 = [](std::uint32_t d, std::uint32_t s) {
    std::uint32_t t = (d | 0x01010100) - (s & 0xFEFEFEFF), k = t & 0x01010100;
    return (k - (k >> 8)) & t;
  };
  for (std::uint32_t d = 0; d < 0x10000; d += 13)
    for (std::uint32_t s = 0; s < 0x10000; s += 97) {
      ASSERT_EQ(RefPackedAdd16(d, s), add16(d, s)) << d << " " << s;
      ASSERT_EQ(RefPackedSub16(d, s), sub16(d, s)) << d << " " << s;
    }
  std::uint64_t x = 88172645463325252ull;
  for (int i = 0; i < 300000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    const std::uint32_t d = std::uint32_t(x), s = std::uint32_t(x >> 32) & 0x00FFFFFF;
    ASSERT_EQ(RefPackedAdd32(d, s), add32(d, s));
    ASSERT_EQ(RefPackedSub32(d, s), sub32(d, s));
  }
}

TEST(ReferenceRaster, FlatColourValues) {
  EXPECT_EQ(Px(Flat(0, 0x001F, 0x0001, 2)), 0x003Fu);
  EXPECT_EQ(Px(Flat(0, 0x07C0, 0x0040, 2)), 0x0FC0u);
  EXPECT_EQ(Px(Flat(0, 0xFFFF, 0x1234, 2)), 0xFFFFu);
  EXPECT_EQ(Px(Flat(0, 0x0000, 0, 3)), 0x0800u);
  EXPECT_EQ(Px(Flat(0, 0x0020, 0, 3)), 0x0800u);
  EXPECT_EQ(Px(Flat(1, 0x00000000, 0, 3)), 0x00010100u);
  EXPECT_EQ(Px(Flat(1, 0xAB000000, 0x12345678, 0)), 0x12345678u);  // byte 3 from the colour
  EXPECT_EQ(Px(Flat(1, 0xAB000000, 0x00345678, 4)) >> 24, 0xABu);  // kept
  OnePixel red = Flat(1, 0, 0x00FF0000, 0);
  red.bright[0] = 128;
  EXPECT_EQ(Px(red), 0x00800000u);
  red.kind = 0, red.colour = 0xF800;
  EXPECT_EQ(Px(red), 0x7800u);
  EXPECT_EQ(Px(Flat(0, 0x1234, 0xFFFF5678, 0)), 0x5678u);  // upper bits of a 16-bit colour ignored
  EXPECT_EQ(Px(Flat(1, 0x11223344, 0x998877, 1, 255)), Px(Flat(1, 0x11223344, 0x998877, 0)));
  EXPECT_EQ(Px(Flat(0, 0x1234, 0x5678, 1, 0)), 0x1234u);  // parameter 0: nothing
  EXPECT_EQ(Px(Flat(0, 0x1234, 0x5678, 3, 0)), 0x1234u);
  EXPECT_EQ(Px(Flat(0, 0x1234, 0x5678, 7)), 0x1234u);
}

TEST(ReferenceRaster, Direct32Values) {
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(100, 100, 100), Bgr(200, 100, 100), 2)), Bgr(255, 201, 200));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(1, 1, 1), Bgr(1, 1, 1), 2)), Bgr(2, 1, 1));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(10, 10, 10), Bgr(250, 250, 250), 2)), Bgr(255, 255, 255, 1));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(10, 10, 10, 9), Bgr(5, 5, 5), 3)), Bgr(5, 7, 7));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(6, 6, 6), Bgr(0, 0, 0), 3)), Bgr(6, 7, 7));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(0, 0, 0), Bgr(0, 0, 0), 3)), Bgr(0, 1, 1));
  // Source alpha 255 without trans weighs 255/256; with trans the texel is copied whole.
  EXPECT_EQ(Px(Tex(1, Src::Alpha, 0, Bgr(255, 255, 255, 255), 0)), Bgr(254, 254, 254));
  OnePixel t = Tex(1, Src::Alpha, 0, Bgr(255, 255, 255, 255), 0);
  t.trans = 1;
  EXPECT_EQ(Px(t), 0xFFFFFFFFu);
  // Colour key over all four bytes.
  OnePixel key = Tex(1, Src::Direct, 0x01020304, 0xAA112233, 0);
  key.trans = 1, key.key = 0xAA112233;
  EXPECT_EQ(Px(key), 0x01020304u);
  key.key = 0xBB112233;
  EXPECT_EQ(Px(key), 0xAA112233u);
  // w = 128, a = 64, p = 200: 200 over 100 becomes 109.
  OnePixel m1 = Tex(1, Src::Alpha, Bgr(100, 100, 100), Bgr(200, 200, 200, 64), 1, 200);
  m1.weight = 128;
  EXPECT_EQ(Px(m1), Bgr(109, 109, 109));
  OnePixel m2 = Tex(1, Src::Direct, 0, Bgr(200, 200, 200), 2, 255);
  m2.weight = 128;
  EXPECT_EQ(Px(m2), Bgr(99, 99, 99));
  EXPECT_EQ(Px(Tex(1, Src::Alpha, Bgr(100, 100, 100), Bgr(200, 200, 200, 128), 4)), Bgr(39, 39, 39));
  OnePixel zero = Tex(1, Src::Alpha, Bgr(100, 100, 100, 5), Bgr(200, 200, 200, 0), 4);
  zero.trans = 1;
  EXPECT_EQ(Px(zero), Bgr(0, 0, 0, 5));
  EXPECT_EQ(Px(Tex(1, Src::Direct, 0, 0, 10)), Bgr(254, 254, 254));
  EXPECT_EQ(Px(Tex(1, Src::Direct, Bgr(255, 255, 255), Bgr(255, 255, 255), 11)), Bgr(254, 254, 254));
  EXPECT_EQ(Px(Tex(1, Src::Direct, 0x12345678, 0x9ABCDEF0, 11, 0)), 0x12345678u);
  OnePixel dark = Tex(1, Src::Direct, 0x77000000, 0x12345678, 0);
  dark.bright[0] = dark.bright[1] = dark.bright[2] = 0;
  EXPECT_EQ(Px(dark), 0x77000000u);
}

TEST(ReferenceRaster, Direct16Values) {
  EXPECT_EQ(Px(Tex(0, Src::Direct, 0x0000, 0xFFFF, 1, 128)), 0x7BEFu);
  OnePixel b = Tex(0, Src::Direct, 0x0000, 63 << 5, 1, 128);
  b.weight = 255;
  EXPECT_EQ(Px(b), 31u << 5);
  OnePixel a = Tex(0, Src::Alpha, 0x0000, (63 << 5) | (255 << 16), 0);
  EXPECT_EQ(Px(a), 62u << 5);
  a.trans = 1;
  EXPECT_EQ(Px(a), 63u << 5);
  EXPECT_EQ(Px(Tex(0, Src::Alpha, 0x1234, 0xFFFF, 2)), 0x1234u);  // a = 0, add leaves d
  EXPECT_EQ(Px(Tex(0, Src::Alpha, 0x0000, 0xFFFF, 3)), 0x0800u);  // a = 0, subtract of 0
  OnePixel mul = Tex(0, Src::Alpha, 0xFFFF, 0xFFFF, 4);
  mul.trans = 1;
  EXPECT_EQ(Px(mul), 0x0000u);
  mul.mode = 11;
  EXPECT_EQ(Px(mul), 0xFFFFu);
  EXPECT_EQ(Px(Tex(0, Src::Direct, 0x1234, 0xFFFF, 10)), 0x0000u);
  EXPECT_EQ(Px(Tex(0, Src::Direct, 0x1234, 0x0000, 10)), 0xFFFFu);
  OnePixel neg = Tex(0, Src::Direct, 0x0001, 0x0000, 0);
  neg.weight = 128;
  EXPECT_EQ(Px(neg), 0x0000u);
  OnePixel key = Tex(0, Src::Direct, 0x1111, 0x2222, 0);
  key.trans = 1, key.key = 0x2222;
  EXPECT_EQ(Px(key), 0x1111u);
  key.key = 0x12222;  // a key wider than the texel never matches
  EXPECT_EQ(Px(key), 0x2222u);
  EXPECT_EQ(Px(Tex(0, Src::Direct, 0x1234, 0x5678, 3, 0)), 0x1234u);  // direct: parameter 0 refused
}

TEST(ReferenceRaster, PaletteValues) {
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0x0000, 0xFFFF, 1, 128)), 0x7BEFu);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0xFFFF, 0x0000, 1, 128)), 0x8410u);
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0, 0xFFFFFF, 1, 128)), Bgr(127, 127, 127));
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0xFFFFFF, 0, 1, 128)), Bgr(127, 127, 127));
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0x0020, 0x0020, 2)), 0x0020u);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0xF000, 0x1000, 2)), 0xF800u);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0xFFFF, 0xFFFF, 3)), 0x0800u);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0x0000, 0x0000, 3)), 0x0800u);
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0x00FF0000, 0x00020000, 2)), 0x01FF0000u);
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0xFFFFFFFF, 0x00FFFFFF, 3)), 0x00010100u);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0x1234, 0xFFFF, 3, 0)), 0x1A14u);  // palette draws at 0
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0xAB123456, 0xFFFFFF, 3, 0)), 0x00133556u);
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0xFFFF, 0xFFFF, 4)), 0xF7DEu);
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0xFFFFFF, 0xFFFFFF, 4)), Bgr(254, 254, 254));
  EXPECT_EQ(Px(Tex(0, Src::Palette, 0x1234, 0x5A5A, 10)), 0xA5A5u);
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0x00000000, 0x00000000, 10)), Bgr(254, 254, 254));
  EXPECT_EQ(Px(Tex(1, Src::Palette, 0x11000000, 0xAB445566, 0)), 0xAB445566u);
  OnePixel w0 = Tex(1, Src::Palette, 0x11223344, 0xFFFFFF, 4);
  w0.weight = 0;
  EXPECT_EQ(Px(w0), 0x11000000u);
  w0.mode = 0;
  EXPECT_EQ(Px(w0), 0x11223344u);
  OnePixel key = Tex(0, Src::Palette, 0x1111, 0x2222, 0);  // the index is 7
  key.trans = 1, key.key = 7;
  EXPECT_EQ(Px(key), 0x1111u);
  key.key = 7 + 256;
  EXPECT_EQ(Px(key), 0x2222u);
}

// Pixels a flat triangle sets on a cleared 32-bit image, as rows of '#' and '.'.
std::vector<std::string> Cover(int w, int h, std::initializer_list<RefVertex> tri, int areaL = 0) {
  std::vector<std::uint32_t> px(std::size_t(w) * h, 0);
  RefImage dest;
  dest.pixels = reinterpret_cast<std::uint8_t*>(px.data());
  dest.width = w, dest.height = h, dest.pitch = w * 4, dest.kind = 1;
  RefState st;
  st.areaLeft = areaL, st.areaRight = w, st.areaBottom = h;
  std::vector<RefVertex> v(tri);
  ReferenceDrawTriangle(dest, nullptr, v.data(), 0, nullptr, 0xFFFFFF, st);
  std::vector<std::string> rows;
  for (int y = 0; y < h; ++y) {
    std::string r;
    for (int x = 0; x < w; ++x) r += px[std::size_t(y) * w + x] ? '#' : '.';
    rows.push_back(r);
  }
  return rows;
}

TEST(ReferenceRaster, Spans) {
  EXPECT_EQ(Cover(7, 3, {{0, 0, 0, 0}, {4, 0, 0, 0}, {0, 1, 0, 0}}),
            (std::vector<std::string>{"#####..", ".......", "......."}));
  EXPECT_EQ(Cover(6, 5, {{0, 0, 0, 0}, {4, 0, 0, 0}, {0, 4, 0, 0}}),
            (std::vector<std::string>{"#####.", "####..", "###...", "##....", "......"}));
  // Clockwise and counter-clockwise cover the same pixels; the apex row has one pixel.
  EXPECT_EQ(Cover(9, 6, {{4, 0, 0, 0}, {0, 5, 0, 0}, {8, 5, 0, 0}}),
            Cover(9, 6, {{8, 5, 0, 0}, {0, 5, 0, 0}, {4, 0, 0, 0}}));
  EXPECT_EQ(Cover(9, 6, {{4, 0, 0, 0}, {0, 5, 0, 0}, {8, 5, 0, 0}})[0], "....#....");
  EXPECT_EQ(Cover(9, 6, {{0, 0, 0, 0}, {4, 2, 0, 0}, {8, 4, 0, 0}}),
            std::vector<std::string>(6, "........."));
  EXPECT_EQ(Cover(7, 3, {{0, 0, 0, 0}, {4, 0, 0, 0}, {0, 1, 0, 0}}, 2)[0], "..###..");
}

TEST(ReferenceRaster, QuadHalvesAndTextureBounds) {
  // The quad (0,0) (10,2) (11,6) (20,5): its shared pixel (11,4) is drawn by one half only.
  std::vector<std::uint32_t> px(24 * 8, 0);
  RefImage dest;
  dest.pixels = reinterpret_cast<std::uint8_t*>(px.data());
  dest.width = 24, dest.height = 8, dest.pitch = 96, dest.kind = 1;
  RefState st;
  st.areaRight = 24, st.areaBottom = 8;
  st.blendMode = 2;
  st.blendParam = 255;
  const RefVertex q[4] = {{0, 0, 0, 0}, {10, 2, 0, 0}, {11, 6, 0, 0}, {20, 5, 0, 0}};
  ReferenceDrawTriangle(dest, nullptr, &q[0], 0, nullptr, 0x000001, st);
  ReferenceDrawTriangle(dest, nullptr, &q[1], 0, nullptr, 0x000001, st);
  EXPECT_EQ(px[4 * 24 + 11], 0x000001u);
  int twice = 0;
  for (auto p : px) twice += p == 0x000002u;
  EXPECT_GT(twice, 0);  // other pixels of the shared edge are drawn by both

  // A quad at the source's own size changes exactly w columns and h rows.
  const int w = 5, h = 3;
  std::vector<std::uint32_t> texels(w * h, 0x00FFFFFF);
  RefImage src;
  src.pixels = reinterpret_cast<std::uint8_t*>(texels.data());
  src.width = w, src.height = h, src.pitch = w * 4, src.kind = 1;
  std::fill(px.begin(), px.end(), 0);
  st.blendMode = 0;
  const RefVertex g[4] = {{2, 1, 0, 0}, {2 + w, 1, w, 0}, {2, 1 + h, 0, h}, {2 + w, 1 + h, w, h}};
  ReferenceDrawTriangle(dest, &src, &g[0], 0, nullptr, 0, st);
  ReferenceDrawTriangle(dest, &src, &g[1], 0, nullptr, 0, st);
  int changed = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 24; ++x)
      if (px[y * 24 + x]) {
        ++changed;
        EXPECT_TRUE(x >= 2 && x < 2 + w && y >= 1 && y < 1 + h) << x << "," << y;
      }
  EXPECT_EQ(changed, w * h);
}

TEST(ReferenceRaster, BorderTableBuilder) {
  std::uint8_t t[256];
  ASSERT_TRUE(RefBorderTable(0, 0, t));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], 255);
  EXPECT_FALSE(RefBorderTable(128, 255, t));  // q = 0: the table would stay as it was
  EXPECT_FALSE(RefBorderTable(1, 0, t));
  ASSERT_TRUE(RefBorderTable(64, 255, t));  // q = 128
  EXPECT_EQ(t[0], 128);
  EXPECT_EQ(t[127], 255);
}

}  // namespace
}  // namespace gamelib::reference
