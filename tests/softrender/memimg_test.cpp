// Memory images, the palette transfer, the blend image and the border-table builder.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "raster_test_util.h"

namespace gamelib::rastertest {
namespace {

TEST(MemImg, CreatesEachKindZeroFilled) {
  struct Case {
    int kind, palette, alpha, bytes;
  };
  for (const Case c :
       {Case{MemImgKind16, 0, 0, 2}, Case{MemImgKind16, 0, 1, 4}, Case{MemImgKind32, 0, 0, 4},
        Case{MemImgKind32, 0, 1, 4}, Case{MemImgKind16, 1, 0, 1}, Case{MemImgKind32, 1, 0, 1}}) {
    MEMIMG img{};
    ASSERT_EQ(0, CreateMemImg(&img, 5, 3, c.kind, c.palette, c.alpha, 0x1234));
    EXPECT_EQ(c.bytes, GetMemImgPixelBytes(c.kind, c.palette, c.alpha));
    EXPECT_EQ(5, img.width);
    EXPECT_EQ(3, img.height);
    EXPECT_GE(img.shared->pitch, 5 * c.bytes);
    EXPECT_EQ(0, img.shared->pitch % 4);
    EXPECT_EQ(0x1234u, img.shared->colorKey);
    EXPECT_EQ(c.kind, img.shared->kind);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5 * c.bytes; ++x) ASSERT_EQ(0, MemImgRow(&img, y)[x]);
    }
    if (c.palette) {
      // One 2048-byte block: the table, then the backup half.
      ASSERT_NE(nullptr, img.shared->palette);
      EXPECT_EQ(static_cast<std::uint8_t*>(img.shared->palette) + 1024, img.shared->paletteBackup);
    } else {
      EXPECT_EQ(nullptr, img.shared->palette);
    }
    DeleteMemImg(&img);
    EXPECT_EQ(nullptr, img.shared);
    DeleteMemImg(&img);  // harmless on an empty image
  }
}

TEST(MemImg, RefusesBadFormatsAndSizes) {
  MEMIMG img{};
  EXPECT_EQ(-1, CreateMemImg(&img, 4, 4, 2, 0, 0, 0));
  EXPECT_EQ(-1, CreateMemImg(&img, 4, 4, MemImgKind32, 1, 1, 0));  // a palette has no alpha
  EXPECT_EQ(-1, CreateMemImg(&img, 0, 4, MemImgKind32, 0, 0, 0));
  EXPECT_EQ(-1, CreateMemImg(&img, 4, -1, MemImgKind32, 0, 0, 0));
  EXPECT_EQ(-1, CreateMemImg(&img, 100000, 100000, MemImgKind32, 0, 0, 0));
  EXPECT_EQ(nullptr, img.shared);
  EXPECT_EQ(-1, CreateMemImg(nullptr, 4, 4, MemImgKind32, 0, 0, 0));
}

TEST(MemImg, DerivedImagesShareTheBlockUntilTheLastIsDeleted) {
  MEMIMG base{};
  ASSERT_EQ(0, CreateMemImg(&base, 8, 8, MemImgKind16, 0, 0, 0));
  MEMIMG part{};
  ASSERT_EQ(0, DeriveMemImg(&part, &base, 2, 3, 4, 5));
  EXPECT_EQ(base.shared, part.shared);
  EXPECT_EQ(MemImgRow(&base, 3) + 4, part.pixels);
  EXPECT_EQ(2, base.shared->referenceCount);
  MEMIMG bad{};
  EXPECT_EQ(-1, DeriveMemImg(&bad, &base, 6, 0, 3, 1));
  EXPECT_EQ(-1, DeriveMemImg(&bad, &base, -1, 0, 1, 1));
  EXPECT_EQ(-1, DeriveMemImg(&bad, &base, 0, 0, 0, 1));
  DeleteMemImg(&base);
  ASSERT_NE(nullptr, part.shared);
  part.pixels[0] = 7;  // still valid memory
  EXPECT_EQ(1, part.shared->referenceCount);
  DeleteMemImg(&part);
}

TEST(MemImg, TransferClipsToBothImagesAndRebuildsThePalette) {
  Image dest(4, 3, MemImgKind32, 1);
  std::uint8_t pixels[5 * 2];
  for (int i = 0; i < 10; ++i) pixels[i] = static_cast<std::uint8_t>(10 + i);
  PaletteEntry palette[256];
  for (int i = 0; i < 256; ++i) {
    palette[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 0x81, 0xEE};
  }
  const MemImgTransferSource source{pixels, 5, 5, 2, palette};
  // Starts left of the destination and reaches past both right edges.
  ASSERT_EQ(0, TransferMemImgRect(&dest.m, -1, 1, &source, 0, 0, 9, 9));
  EXPECT_EQ(0u, dest.Get(0, 0));
  EXPECT_EQ(11u, dest.Get(0, 1));
  EXPECT_EQ(14u, dest.Get(3, 1));
  EXPECT_EQ(16u, dest.Get(0, 2));
  const auto* table = static_cast<const std::uint32_t*>(dest.m.shared->palette);
  EXPECT_EQ(0x0081FF00u, table[0]);  // top byte 0
  EXPECT_EQ(0x0081F50Au, table[10]);
  EXPECT_EQ(0, std::memcmp(dest.m.shared->palette, dest.m.shared->paletteBackup, 1024));

  Image dest16(2, 2, MemImgKind16, 1);
  ASSERT_EQ(0, TransferMemImgRect(&dest16.m, 0, 0, &source, 0, 0, 2, 2));
  const auto* table16 = static_cast<const std::uint16_t*>(dest16.m.shared->palette);
  EXPECT_EQ((0x81 & 0xF8) << 8 | (0xF5 & 0xFC) << 3 | 10 >> 3, table16[10]);
  EXPECT_EQ(0, std::memcmp(dest16.m.shared->palette, dest16.m.shared->paletteBackup, 512));

  // A palette destination needs a palette; pitches must hold the rows.
  const MemImgTransferSource noPalette{pixels, 5, 5, 2, nullptr};
  EXPECT_EQ(-1, TransferMemImgRect(&dest.m, 0, 0, &noPalette, 0, 0, 2, 2));
  const MemImgTransferSource narrow{pixels, 4, 5, 2, palette};
  EXPECT_EQ(-1, TransferMemImgRect(&dest.m, 0, 0, &narrow, 0, 0, 2, 2));
  EXPECT_EQ(-1, TransferMemImgRect(&dest.m, 0, 0, nullptr, 0, 0, 2, 2));
  // Offsets that would wrap clip to nothing.
  EXPECT_EQ(0, TransferMemImgRect(&dest.m, INT32_MAX, 0, &source, INT32_MIN, 0, INT32_MAX, 1));
}

class BorderTable : public RasterTest {};

TEST_F(BorderTable, BuilderFormulaAndTheCasesThatLeaveTheTable) {
  BuildBlendGraphBorderTable(64, 127);  // q = 64: entry i = min(255, 2i + 64)
  for (int i = 0; i < 256; ++i) ASSERT_EQ(std::min(255, 2 * i + 64), BlendBorderTable[i]) << i;
  std::uint8_t before[256];
  std::memcpy(before, BlendBorderTable, 256);
  BuildBlendGraphBorderTable(128, 255);  // q = 0
  EXPECT_EQ(0, std::memcmp(before, BlendBorderTable, 256));
  BuildBlendGraphBorderTable(1, 0);  // q < 0
  EXPECT_EQ(0, std::memcmp(before, BlendBorderTable, 256));
  BuildBlendGraphBorderTable(0, 255);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(255, BlendBorderTable[i]);
  // Out-of-range arguments are clamped rather than dividing by zero.
  BuildBlendGraphBorderTable(-5, -1);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(255, BlendBorderTable[i]);
}

TEST_F(BorderTable, BlendImageReachesTheQuadThroughTheDrawState) {
  Image dest(4, 4, MemImgKind32);
  Image src(4, 4, MemImgKind32);
  Image blend(4, 4, MemImgKind32);
  src.Fill(0x00FFFFFF);
  blend.Fill(0);
  // Column x reads byte x of a row, whatever the blend image's format: pixel (1, 1) of this
  // 32-bit image is bytes 4 to 7 of row 1, outside the quad's columns.
  blend.Set(1, 1, 0xFFFFFFFF);
  ResetStateFor(dest);
  ASSERT_EQ(0, SetBlendMemImg(&blend.m, 64, 127));
  EXPECT_EQ(&blend.m, GetBlendMemImg());
  EXPECT_EQ(64, GetDrawState().blendBorderParameter);
  EXPECT_EQ(127, GetDrawState().blendBorderRange);
  ASSERT_EQ(0, DrawQuadGraphSoft(&dest.m, 0, 0, 4, 0, 0, 4, 4, 4, &src.m, 0));
  // Byte 0 weighs 64 under this table.
  EXPECT_EQ(0x003F3F3Fu, dest.Get(0, 0));  // (255 * 64) >> 8 = 63
  EXPECT_EQ(0x003F3F3Fu, dest.Get(1, 1));  // (3, 1) is on the shared diagonal: drawn twice
  ResetDrawState();
  EXPECT_EQ(nullptr, GetBlendMemImg());
}

}  // namespace
}  // namespace gamelib::rastertest
