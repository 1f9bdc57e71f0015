// Pixels worked out by hand from the formulas, each drawn by every kernel set the
// processor runs and by the reference model; calls that must draw nothing; and memory
// images themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "platform/sim.h"
#include "reference_raster.h"
#include "softrender/memimg.h"

namespace gamelib {
namespace {

struct Image {
  Image(int w, int h, int kind, int palette = 0, int alpha = 0, std::uint32_t key = 0) {
    EXPECT_EQ(CreateMemImg(&m, w, h, kind, palette, alpha, key), 0);
  }
  ~Image() { DeleteMemImg(&m); }
  int Bytes() const {
    return GetMemImgPixelBytes(m.shared->kind, m.shared->paletteFlag, m.shared->alphaFlag);
  }
  std::uint32_t Get(int x, int y) const {
    std::uint32_t v = 0;
    std::memcpy(&v, GetMemImgRow(&m, y) + x * Bytes(), Bytes());
    return v;
  }
  void Set(int x, int y, std::uint32_t v) { std::memcpy(GetMemImgRow(&m, y) + x * Bytes(), &v, Bytes()); }
  MEMIMG m{};
};

// Draws with every kernel set and with the reference; each result goes to check.
template <class Reset, class Check>
void DrawEverywhere(MEMIMG& dest, const MEMIMG* src, const std::vector<TriVertex>& v, int trans,
                    const MEMIMG* blend, std::uint32_t colour, Reset reset, Check check) {
  for (TriangleKernelSet set : reference::KernelSetsToTest()) {
    SetTriangleKernelSet(set);
    reset();
    for (std::size_t i = 0; i + 3 <= v.size(); ++i)
      DrawMemImgTriangle(&dest, src, &v[i], trans, blend, colour);
    check(set == TriangleKernelSet::Avx2 ? "avx2" : "portable");
  }
  SetTriangleKernelSet(GetBestTriangleKernelSet());
  reset();
  reference::RefStats stats;
  for (std::size_t i = 0; i + 3 <= v.size(); ++i) {
    reference::ReferenceTriangle(dest, src, &v[i], trans, blend, colour,
                                 reference::DrawStateNow(BlendBorderTable), &stats);
  }
  check("reference");
}

enum Src { Flat, Direct, Alpha, Palette };
// What a row breaks before drawing: such calls draw nothing.
enum Spoil {
  Fine,
  DestPalette,
  DestAlpha,
  Kind2,
  DestPitch,
  SrcPitch,
  BlendPitch,
  NoPalette,
  NoBlendPixels,
  Wide
};
struct Worked {
  int kind;
  Src src;
  int mode, param;
  std::uint32_t bright;  // 0xRRGGBB
  int weight;            // blend weight, -1 for no blend image
  int trans;
  std::uint32_t key, dest, texel, expect;  // texel: the flat colour, or palette entry 5
  Spoil spoil = Fine;
};

constexpr std::uint32_t W = 0xFFFFFF;
const Worked kWorked[] = {
    // Flat colour. 16-bit fades by p/255 toward zero, 32-bit by p/256.
    {0, Flat, BlendAdd, 255, W, -1, 0, 0, 0x001F, 0x0001, 0x003F},  // blue saturates, carries into green
    {0, Flat, BlendSub, 255, W, -1, 0, 0, 0x0020, 0, 0x0800},       // subtracting 0 moves the guard bits
    {1, Flat, BlendSub, 255, W, -1, 0, 0, 0x7F102030, 0xAB405060, 0},
    {1, Flat, BlendNone, 0, W, -1, 0, 0, 0x7F102030, 0xAB405060, 0xAB405060},  // byte 3 from the colour
    {1, Flat, BlendMul, 100, W, -1, 0, 0, 0x7F102030, 0xAB405060, 0x7F040A12},
    {1, Flat, BlendAdd, 255, W, -1, 0, 0, 0x00FF0000, 0x00020000, 0x01FF0000},  // byte 3: red's carry
    {1, Flat, BlendNone, 0, 0x80FFFF, -1, 0, 0, 0, 0x00FF0000, 0x00800000},
    {0, Flat, BlendAlpha, 128, W, -1, 0, 0, 0x0000, 0xFFFF, 0x7BEF},
    {1, Flat, BlendAlpha, 128, W, -1, 0, 0, 0, 0x00FFFFFF, 0x007F7F7F},
    {0, Flat, BlendInverted, 255, W, -1, 0, 0, 0x1234, 0x0000, 0xFFFF},
    {1, Flat, BlendMulFade, 255, W, -1, 0, 0, 0x00FFFFFF, 0x00FFFFFF, 0x00FEFEFE},
    {0, Flat, BlendMul, 0, W, -1, 0, 0, 0xFFFF, 0xFFFF, 0xF7DE},
    {0, Flat, BlendNone, 0, W, -1, 0, 0, 0x4321, 0xABCD1234, 0x1234},  // upper bits of a 5-6-5 colour
    {0, Flat, BlendAlpha, 0, W, -1, 0, 0, 0x1234, 0x5678, 0x1234},     // parameter 0 draws nothing
    {0, Flat, 7, 128, W, -1, 0, 0, 0x1234, 0x5678, 0x1234},            // nor does a mode without kernels
    // Textured onto 16-bit.
    {0, Direct, BlendNone, 0, W, -1, 1, 0xBEEF, 0x1111, 0xBEEF, 0x1111},
    {0, Direct, BlendNone, 0, W, -1, 1, 0x1BEEF, 0x1111, 0xBEEF, 0xBEEF},  // a wider key never matches
    {0, Alpha, BlendNone, 0, W, -1, 1, 0, 0x1111, 0x0007E0, 0x1111},       // a = 0 skipped
    {0, Alpha, BlendNone, 0, W, -1, 1, 0, 0, 0xFF07E0, 0x07E0},            // a = 255 copied
    {0, Alpha, BlendNone, 0, W, -1, 0, 0, 0, 0xFF07E0, 0x07C0},            // without trans: 255/256
    {0, Alpha, BlendMul, 0, W, -1, 1, 0, 0xFFFF, 0x00FFFF, 0x0000},        // mode 4 weighs a = 0
    {0, Alpha, BlendSub, 255, W, -1, 0, 0, 0x0000, 0x00FFFF, 0x0800},
    {0, Direct, BlendAlpha, 128, W, 255, 0, 0, 0, 0x07E0, 0x03E0},
    {0, Direct, BlendInverted, 255, W, -1, 0, 0, 0x5555, 0xFFFF, 0x0000},
    {0, Direct, BlendNone, 0, W, 128, 0, 0, 0x0001, 0x0000, 0x0000},     // rounds toward minus infinity
    {0, Alpha, BlendAdd, 255, 0xFFFFAA, -1, 0, 0, 0, 0x800003, 0x0000},  // alpha before brightness
    {0, Direct, BlendAdd, 255, 0xFFFFAA, 128, 0, 0, 0, 0x0003, 0x0001},  // weight after brightness
    // Textured onto 32-bit.
    {1, Direct, BlendNone, 0, W, -1, 1, 0xC0FFEE42, 0x11111111, 0xC0FFEE42, 0x11111111},
    {1, Direct, BlendNone, 0, W, -1, 1, 0xC0FFEE42, 0x11111111, 0xC1FFEE42, 0xC1FFEE42},
    {1, Alpha, BlendNone, 0, W, -1, 0, 0, 0, 0xFFFFFFFF, 0x00FEFEFE},
    {1, Alpha, BlendNone, 0, W, -1, 1, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
    {1, Alpha, BlendNone, 0, W, -1, 1, 0x80090909, 0, 0x80090909, 0x00040404},  // no key with alpha
    {1, Alpha, BlendMul, 0, W, -1, 1, 0, 0x12345678, 0x00C8C8C8, 0x12000000},
    {1, Alpha, BlendMul, 0, W, -1, 0, 0, 0x00646464, 0x80C8C8C8, 0x00272727},
    {1, Direct, BlendAdd, 255, W, -1, 0, 0, 0x00646464, 0x006464C8, 0x00C8C9FF},
    {1, Direct, BlendAdd, 255, W, 128, 0, 0, 0, 0x00C8C8C8, 0x00636363},
    {1, Direct, BlendSub, 255, W, -1, 0, 0, 0x090A0A0A, 0x00050505, 0x00070705},
    {1, Direct, BlendNone, 0, 0xFFFFFE, -1, 0, 0, 0x77000000, 0x42FFFFFE, 0x77FFFFFD},
    {1, Alpha, BlendAlpha, 200, W, 128, 0, 0, 0x00646464, 0x40C8C8C8, 0x006D6D6D},
    {1, Direct, BlendInverted, 0, W, -1, 0, 0, 0x89ABCDEF, 0x12345678, 0x89ABCDEF},
    // Palette sources: the key is the index (5); entries are inverted before brightness.
    {0, Palette, BlendNone, 0, W, -1, 1, 5, 0x1111, 0xBEEF, 0x1111},
    {0, Palette, BlendNone, 0, W, -1, 1, 0x105, 0x1111, 0xBEEF, 0xBEEF},
    {1, Palette, BlendNone, 0, W, -1, 0, 0, 0x77000000, 0xAB123456, 0xAB123456},
    {1, Palette, BlendNone, 0, 0xFFFFFE, -1, 0, 0, 0x77000000, 0xAB123456, 0x77123455},
    {1, Palette, BlendAlpha, 255, W, 128, 0, 0, 0, 0x00FFFFFF, 0x007F7F7F},
    {0, Palette, BlendSub, 0, W, -1, 0, 0, 0x1234, 0xFFFF, 0x1A14},  // draws at parameter 0
    {0, Palette, BlendInverted, 255, W, -1, 0, 0, 0x5555, 0x1234, 0xEDCB},
    {1, Palette, BlendInverted, 255, 0x00FFFF, -1, 0, 0, 0, 0x00FF0000, 0x0000FEFE},
    {1, Palette, BlendMul, 0, W, 0, 0, 0, 0x11223344, 0x00FFFFFF, 0x11000000},
    // Calls that cannot draw.
    {1, Direct, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, DestPalette},
    {0, Flat, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, DestAlpha},
    {1, Direct, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, Kind2},
    {1, Flat, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, Kind2},
    {0, Flat, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, DestPitch},
    {0, Direct, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, SrcPitch},
    {1, Direct, BlendNone, 0, W, 128, 0, 0, 0x11, 0x22, 0x11, BlendPitch},
    {1, Palette, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, NoPalette},
    {0, Direct, BlendNone, 0, W, 128, 0, 0, 0x11, 0x22, 0x11, NoBlendPixels},
    {0, Flat, BlendNone, 0, W, 128, 0, 0, 0x11, 0x22, 0x22, NoBlendPixels},  // flat colour ignores it
    {1, Direct, BlendNone, 0, W, -1, 0, 0, 0x11, 0x22, 0x11, Wide},          // source wider than 8192
};

class WorkedPixels : public testing::TestWithParam<Worked> {};

// One pixel: the triangle's first pixel samples texel (0, 0) of a 1 x 1 source.
TEST_P(WorkedPixels, EveryKernelSetAndTheReference) {
  const Worked& c = GetParam();
  Image dest(1, 1, c.kind), blend(1, 1, kMemImgKind32),
      src(1, 1, c.kind, c.src == Palette, c.src == Alpha, c.key);
  src.Set(0, 0, c.src == Palette ? 5 : c.texel);
  void* palette = src.m.shared->palette;
  if (palette)
    std::memcpy(static_cast<std::uint8_t*>(palette) + 5 * (c.kind ? 4 : 2), &c.texel, c.kind ? 4 : 2);
  InitializeBlendTables();
  BlendBorderTable[3] = static_cast<std::uint8_t>(c.weight);
  blend.Set(0, 0, 3);
  ResetDrawState();
  SetDrawScreenSize(1, 1);
  SetDrawBlendMode(c.mode, c.param);
  SetDrawBrightness(int(c.bright >> 16), int(c.bright >> 8) & 255, int(c.bright & 255));
  const MemImgSharedRecord destRecord = *dest.m.shared, srcRecord = *src.m.shared,
                           blendRecord = *blend.m.shared;
  const MEMIMG srcImage = src.m, blendImage = blend.m;
  if (c.spoil == DestPalette) dest.m.shared->paletteFlag = 1;
  if (c.spoil == DestAlpha) dest.m.shared->alphaFlag = 1;
  if (c.spoil == Kind2) dest.m.shared->kind = src.m.shared->kind = 2;
  if (c.spoil == DestPitch) dest.m.shared->pitch = 1;
  if (c.spoil == SrcPitch) src.m.shared->pitch = 1;
  if (c.spoil == BlendPitch) blend.m.shared->pitch = 0;
  if (c.spoil == NoPalette) src.m.shared->palette = nullptr;
  if (c.spoil == NoBlendPixels) blend.m.pixels = nullptr;
  if (c.spoil == Wide) src.m.width = kMemImgMaxSourceSide + 1;
  DrawEverywhere(
      dest.m, c.src == Flat ? nullptr : &src.m, {{0, 0, 0, 0}, {2, 0, 2, 0}, {0, 2, 0, 2}}, c.trans,
      c.weight < 0 ? nullptr : &blend.m, c.texel,
      [&] { std::memcpy(dest.m.pixels, &c.dest, c.kind ? 4 : 2); },
      [&](const char* who) {
        std::uint32_t got = 0;
        std::memcpy(&got, dest.m.pixels, c.kind ? 4 : 2);
        EXPECT_EQ(got, c.expect) << who;
      });
  *dest.m.shared = destRecord, *src.m.shared = srcRecord, *blend.m.shared = blendRecord;
  src.m = srcImage, blend.m = blendImage;
  BlendBorderTable[3] = 255;
  ResetDrawState();
}
INSTANTIATE_TEST_SUITE_P(Table, WorkedPixels, testing::ValuesIn(kWorked));

// Which pixels a draw covers, and how often: each pixel shows how many times 1 was added
// to it ('.' none), or for a copy which texel it took (texel (x, y) of a source srcWidth
// texels wide holds 1 + x + y * srcWidth).
struct Shape {
  const char* what;
  int srcWidth;              // 0: flat colour
  std::vector<TriVertex> v;  // one triangle, or four corners: the triangles 1-2-3 and 2-3-4
  std::vector<std::string> rows;
};

const Shape kShapes[] = {
    {"rows truncated toward zero above the top",
     0,
     {{0, -3, 0, 0}, {4, -3, 0, 0}, {0, 1, 0, 0}},
     {"111...", "11....", "......"}},
    {"a right second segment starts one unit right",
     0,
     {{0, 0, 0, 0}, {10, 2, 0, 0}, {11, 6, 0, 0}, {20, 5, 0, 0}},
     {"1.....................", "..1111................", "....1111112...........", ".....111112111........",
      ".......11111111111....", ".........112111111111."}},
    {"quad at the source's size: each pixel its own texel",
     3,
     {{1, 1, 0, 0}, {4, 1, 3, 0}, {1, 3, 0, 2}, {4, 3, 3, 2}},
     {".....", ".123.", ".456.", "....."}},
};

class CoveredPixels : public testing::TestWithParam<Shape> {};

TEST_P(CoveredPixels, EveryKernelSetAndTheReference) {
  const Shape& c = GetParam();
  const int width = int(c.rows[0].size()), height = int(c.rows.size());
  Image dest(width, height, kMemImgKind32), src(std::max(c.srcWidth, 1), 2, kMemImgKind32);
  for (int i = 0; i < 2 * c.srcWidth; ++i) src.Set(i % c.srcWidth, i / c.srcWidth, std::uint32_t(i + 1));
  ResetDrawState();
  SetDrawScreenSize(width, height);
  SetDrawBlendMode(c.srcWidth > 0 ? BlendNone : BlendAdd, 255);
  DrawEverywhere(
      dest.m, c.srcWidth > 0 ? &src.m : nullptr, c.v, 0, nullptr, 1,
      [&] {
        for (int y = 0; y < height; ++y) std::memset(GetMemImgRow(&dest.m, y), 0, width * 4);
      },
      [&](const char* who) {
        std::vector<std::string> rows(height, std::string(width, '.'));
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x)
            if (dest.Get(x, y) != 0) rows[y][x] = char('0' + dest.Get(x, y));
        EXPECT_EQ(rows, c.rows) << c.what << ", " << who;
      });
  ResetDrawState();
}
INSTANTIATE_TEST_SUITE_P(Table, CoveredPixels, testing::ValuesIn(kShapes));

TEST(SoftDraw, NullArgumentsAreRefused) {
  Image dest(4, 4, kMemImgKind32), src(4, 4, kMemImgKind32);
  const TriVertex v[3] = {{0, 0, 0, 0}, {4, 0, 4, 0}, {0, 4, 0, 4}};
  DrawMemImgTriangle(nullptr, &src.m, v, 0, nullptr, 0);
  DrawMemImgTriangle(&dest.m, &src.m, nullptr, 0, nullptr, 0);
  EXPECT_EQ(DrawTriangleGraphSoft(nullptr, nullptr, v, 0, 0), -1);
  EXPECT_EQ(DrawTriangleGraphSoft(&dest.m, nullptr, nullptr, 0, 0), -1);
  EXPECT_EQ(DrawQuadGraphSoft(&dest.m, 0, 0, 4, 0, 0, 4, 4, 4, nullptr, 0), -1);
  EXPECT_EQ(DrawQuadGraphSoft(nullptr, 0, 0, 4, 0, 0, 4, 4, 4, &src.m, 0), -1);
  EXPECT_EQ(dest.Get(0, 0), 0u);
}

TEST(MemImg, CreateDeriveAndDelete) {
  struct Case {
    int w, h, kind, palette, alpha, bytes;  // bytes 0: refused
  };
  for (const Case c : {Case{5, 3, 0, 0, 0, 2}, Case{5, 3, 0, 0, 1, 4}, Case{5, 3, 1, 0, 0, 4},
                       Case{5, 3, 1, 1, 0, 1}, Case{5, 3, 2, 0, 0, 0}, Case{5, 3, 1, 1, 1, 0},
                       Case{0, 3, 1, 0, 0, 0}, Case{5, -1, 1, 0, 0, 0}, Case{100000, 100000, 1, 0, 0, 0}}) {
    std::uint8_t stale = 0;
    MEMIMG img{9, 9, &stale, nullptr}, part{}, bad{};
    ASSERT_EQ(CreateMemImg(&img, c.w, c.h, c.kind, c.palette, c.alpha, 0x1234), c.bytes ? 0 : -1)
        << c.w << c.kind;
    if (c.bytes == 0) {  // left empty
      EXPECT_TRUE(img.width == 0 && img.height == 0 && img.pixels == nullptr) << c.w << c.kind;
      continue;
    }
    EXPECT_EQ(GetMemImgPixelBytes(c.kind, c.palette, c.alpha), c.bytes);
    EXPECT_EQ(img.shared->colorKey, 0x1234u);
    EXPECT_EQ(c.palette != 0, img.shared->palette != nullptr);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5 * c.bytes; ++x) ASSERT_EQ(GetMemImgRow(&img, y)[x], 0);
    EXPECT_EQ(GetMemImgRow(&img, 3), nullptr);
    ASSERT_EQ(DeriveMemImg(&part, &img, 2, 1, 3, 2), 0);
    EXPECT_EQ(GetMemImgRow(&part, 1), GetMemImgRow(&img, 2) + 2 * c.bytes);
    EXPECT_EQ(DeriveMemImg(&bad, &img, 3, 0, 3, 1), -1);
    EXPECT_EQ(DeriveMemImg(&bad, &img, -1, 0, 1, 1), -1);
    DeleteMemImg(&img);
    GetMemImgRow(&part, 1)[0] = 7;  // the block lives while a derived image uses it
    DeleteMemImg(&part);
    DeleteMemImg(&part);
  }
  EXPECT_EQ(CreateMemImg(nullptr, 4, 4, 1, 0, 0, 0), -1);
  for (int nth = 1; nth <= 3; ++nth) {  // no record, no pixels, no palette
    MEMIMG img{};
    sim::FailCall("HeapAlloc", nth);
    EXPECT_EQ(CreateMemImg(&img, 4, 4, kMemImgKind32, 1, 0, 0), -1) << nth;
    EXPECT_EQ(img.shared, nullptr);
    sim::ClearFailures();
  }
}

// Source pixels 10 to 19 (shown 'a' to 'j'), five by two, onto a four by three palette
// image, clipped against both; the palette table and its backup are rebuilt each time.
TEST(MemImg, TransferClipsToBothImagesAndRebuildsThePalette) {
  const std::uint8_t pixels[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  PaletteEntry palette[256];
  for (int i = 0; i < 256; ++i) palette[i] = {std::uint8_t(i), std::uint8_t(255 - i), 0x81, 0xEE};
  const MemImgTransferSource source{pixels, 5, 5, 2, palette}, empty{nullptr, 0, 0, 2, palette};
  const struct {
    int destX, destY, srcX, srcY, width, height;
    const MemImgTransferSource* source;
    const char* expect;  // rows of the destination
  } cases[] = {
      {-1, 1, 0, 0, 9, 9, &source, "....|bcde|ghij"},
      {1, 0, -1, -1, 3, 3, &source, "....|..ab|..fg"},
      {0, 0, 3, 1, 5, 5, &source, "ij..|....|...."},
      {0, 0, 0, 0, 4, 3, &empty, "....|....|...."},
      {INT32_MAX, 0, INT32_MIN, 0, INT32_MAX, 1, &source, "....|....|...."},
  };
  for (const auto& c : cases) {
    Image dest(4, 3, kMemImgKind32, 1), dest16(4, 3, kMemImgKind16, 1);
    ASSERT_EQ(TransferMemImgRect(&dest.m, c.destX, c.destY, c.source, c.srcX, c.srcY, c.width, c.height), 0);
    ASSERT_EQ(TransferMemImgRect(&dest16.m, c.destX, c.destY, c.source, c.srcX, c.srcY, c.width, c.height),
              0);
    std::string got;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) got += dest.Get(x, y) ? char('a' + dest.Get(x, y) - 10) : '.';
      got += y < 2 ? "|" : "";
    }
    EXPECT_EQ(got, c.expect) << c.destX << " " << c.srcX;
    EXPECT_EQ(static_cast<const std::uint32_t*>(dest.m.shared->palette)[10], 0x0081F50Au);  // top byte 0
    EXPECT_EQ(static_cast<const std::uint16_t*>(dest16.m.shared->palette)[10], 0x8000 | 0xF4 << 3 | 1);
    EXPECT_EQ(std::memcmp(dest.m.shared->palette, dest.m.shared->paletteBackup, 1024), 0);
    EXPECT_EQ(std::memcmp(dest16.m.shared->palette, dest16.m.shared->paletteBackup, 512), 0);
  }
  Image dest(4, 3, kMemImgKind32, 1);
  const MemImgTransferSource noPalette{pixels, 5, 5, 2, nullptr}, narrow{pixels, 4, 5, 2, palette},
      noPixels{nullptr, 5, 5, 2, palette}, negative{pixels, 5, -1, 2, palette};
  for (const MemImgTransferSource* bad : {&noPalette, &narrow, &noPixels, &negative})
    EXPECT_EQ(TransferMemImgRect(&dest.m, 0, 0, bad, 0, 0, 2, 2), -1);
  EXPECT_EQ(TransferMemImgRect(&dest.m, 0, 0, nullptr, 0, 0, 2, 2), -1);
}

}  // namespace
}  // namespace gamelib
