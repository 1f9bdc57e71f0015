// The drawing entries: a rectangle of a graph lands exactly where asked, mirrored too,
// and without a 3-D device the same entries draw in software into the screen pages.
#include "../d3d/display_fixture.h"
#include "d3d/graph_drawing.h"

namespace gamelib {
namespace {

class DrawingEntryTest : public DisplayTest {
 protected:
  void Begin(bool use3D) {
    SetGraphMode(320, 240, 32);
    SetNotUse3DFlag(use3D ? 0 : 1);
    Start();
    back_ = sim::SurfaceId(GetBackSurface());
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) sim::WriteSurfacePixel(back_, x, y, 0x010203);
    }
    image_ = MakeTestImage(sim::MakePixelFormat(sim::PixelFormatName::X8R8G8B8), 16, 8, 11);
    graph_ = CreateGraphFromGraphImage(&image_.image, nullptr);
    ASSERT_GE(graph_, 0);
  }
  void TearDown() override {
    SetNotUse3DFlag(0);
    DisplayTest::TearDown();
  }
  std::uint32_t Pixel(int x, int y) {
    EndCurrentScene();
    return sim::ReadSurfacePixel(back_, x, y) & 0xFFFFFF;
  }
  std::uint32_t Source(int x, int y) {
    return RawAt(image_.pixels.data() + static_cast<std::size_t>(y) * image_.image.pitch, x, 4) & 0xFFFFFF;
  }
  TestImage image_;
  int graph_ = -1;
  int back_ = -1;
};

TEST_F(DrawingEntryTest, ARectangleOfAGraphLandsAtItsPlaceAndMirrorsInPlace) {
  Begin(true);
  ASSERT_EQ(DrawRectGraph(100, 50, 3, 2, 5, 4, graph_, 0, 0), 0);
  ASSERT_EQ(DrawRectGraph(200, 50, 3, 2, 5, 4, graph_, 0, 1), 0);
  EXPECT_EQ(DrawRectGraph(0, 0, 12, 0, 5, 4, graph_, 0, 0), -1);  // past the graph's right edge
  int left = 0, top = 0, right = 0, bottom = 0;
  GetDrawArea(&left, &top, &right, &bottom);
  EXPECT_EQ(right, 320);  // the area is given back
  for (int y = 48; y < 56; ++y) {
    for (int x = 98; x < 107; ++x) {
      const bool in = x >= 100 && x < 105 && y >= 50 && y < 54;
      ASSERT_EQ(Pixel(x, y), in ? Source(3 + x - 100, 2 + y - 50) : 0x010203u) << x << "," << y;
      ASSERT_EQ(Pixel(x + 100, y), in ? Source(3 + 4 - (x - 100), 2 + y - 50) : 0x010203u)
          << x + 100 << "," << y;
    }
  }
}

TEST_F(DrawingEntryTest, ARectangleStretchedDoublesEachSourcePixel) {
  Begin(true);
  ASSERT_EQ(DrawRectStretchGraph(10, 10, 20, 18, 4, 4, 5, 4, graph_, 0, 0), 0);
  for (int y = 8; y < 20; ++y) {
    for (int x = 8; x < 22; ++x) {
      const bool in = x >= 10 && x < 20 && y >= 10 && y < 18;
      ASSERT_EQ(Pixel(x, y), in ? Source(4 + (x - 10) / 2, 4 + (y - 10) / 2) : 0x010203u) << x << "," << y;
    }
  }
}

TEST_F(DrawingEntryTest, WithoutADeviceBoxesAndClearsAreDrawnInSoftware) {
  Begin(false);
  ASSERT_EQ(IsUse3DDrawing(), 0);
  ASSERT_EQ(DrawFillBox(30, 20, 10, 10, GetColor(255, 0, 0)), 0);
  ASSERT_EQ(DrawBox(40, 10, 44, 14, GetColor(0, 255, 0), 0), 0);
  for (int y = 8; y < 22; ++y) {
    for (int x = 8; x < 46; ++x) {
      std::uint32_t want = 0x010203;
      if (x >= 10 && x < 30 && y >= 10 && y < 20) want = 0xFF0000;
      if (x >= 40 && x < 44 && y >= 10 && y < 14 && (x == 40 || x == 43 || y == 10 || y == 13))
        want = 0x00FF00;
      ASSERT_EQ(Pixel(x, y), want) << x << "," << y;
    }
  }
  SetBackgroundColor(9, 8, 7);
  ASSERT_EQ(ClearDrawScreen(), 0);
  EXPECT_EQ(Pixel(15, 15), 0x090807u);
  SetBackgroundColor(0, 0, 0);
}

}  // namespace
}  // namespace gamelib
