// Which pixels a draw covers: graphs at the edge of the draw area and beyond, mirrors and
// turns, filled boxes, outlines counted with an additive colour, clipping, clears,
// graphs cut into many textures drawn back whole, and boxes on a target in memory.
#include "drawing_fixture.h"
#include "graphics/graphs.h"

namespace gamelib {
namespace {

constexpr std::uint32_t kSentinel = 0x123456;

class CoverageTest : public DrawingTest {
 protected:
  void SetUp() override {
    DrawingTest::SetUp();
    StartAt(32);
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) sim::WriteSurfacePixel(back_, x, y, kSentinel);
    }
  }
  // Every pixel of the region: the texel `at(x, y)` returns, or the sentinel for -1.
  void ExpectRegion(int left, int top, int right, int bottom,
                    const std::function<std::int64_t(int, int)>& at) {
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const std::int64_t want = at(x, y);
        ASSERT_EQ(Pixel(x, y), want < 0 ? kSentinel : static_cast<std::uint32_t>(want)) << x << "," << y;
      }
    }
  }
};

TEST_F(CoverageTest, AGraphOnePixelPastTheAreaCoversExactlyTheOverlap) {
  const int graph = MakePatternGraph(16, 8, 4);
  SetDrawArea(100, 100, 200, 180);
  for (int x : {184, 185, 95, 300}) {
    SCOPED_TRACE(x);
    for (int y = 90; y < 190; ++y) {
      for (int i = 80; i < 220; ++i) sim::WriteSurfacePixel(back_, i, y, kSentinel);
    }
    const int y = x == 95 ? 176 : 100;
    ASSERT_EQ(DrawGraph(x, y, graph, 0), 0);
    Settle();
    ExpectRegion(80, 90, 220, 190, [&](int px, int py) -> std::int64_t {
      const bool inArea = px >= 100 && px < 200 && py >= 100 && py < 180;
      const bool inGraph = px >= x && px < x + 16 && py >= y && py < y + 8;
      return inArea && inGraph ? static_cast<std::int64_t>(Texel(graph, px - x, py - y) & 0xFFFFFF) : -1;
    });
  }
}

TEST_F(CoverageTest, AMirrorCoversTheSamePixelsReversedAndTwoMirrorsTurnTheGraph) {
  const int graph = MakePatternGraph(16, 8, 6);
  ASSERT_EQ(DrawMirrorGraph(10, 10, graph, 0), 0);
  ASSERT_EQ(DrawStretchGraph(50 + 16, 10 + 8, 50, 10, graph, 0), 0);
  // Clipped by the area on the stretch road, too.
  SetDrawArea(0, 0, 95, 240);
  ASSERT_EQ(DrawMirrorGraph(90, 30, graph, 0), 0);
  SetDrawArea(0, 0, 320, 240);
  Settle();
  ExpectRegion(0, 0, 120, 50, [&](int x, int y) -> std::int64_t {
    if (x >= 10 && x < 26 && y >= 10 && y < 18) return Texel(graph, 15 - (x - 10), y - 10) & 0xFFFFFF;
    if (x >= 50 && x < 66 && y >= 10 && y < 18) return Texel(graph, 15 - (x - 50), 7 - (y - 10)) & 0xFFFFFF;
    if (x >= 90 && x < 95 && y >= 30 && y < 38) return Texel(graph, 15 - (x - 90), y - 30) & 0xFFFFFF;
    return -1;
  });
  EXPECT_EQ(DrawStretchGraph(5, 5, 5, 20, graph, 0), -1);
}

TEST_F(CoverageTest, BoxesFillTheirPixelsOnceWhateverTheCornerOrder) {
  const int white = GetColor(255, 255, 255);
  ASSERT_EQ(DrawFillBox(20, 15, 10, 10, white), 0);
  // An additive outline: a pixel covered twice would read 32.
  SetDrawBlendMode(BlendAdd, 255);
  const int grey = GetColor(16, 16, 16);
  ASSERT_EQ(DrawBox(40, 10, 50, 15, grey, 0), 0);
  ASSERT_EQ(DrawBox(70, 15, 60, 10, grey, 0), 0);
  ASSERT_EQ(DrawBox(90, 10, 80, 15, grey, 0), 0);    // one reversed axis
  ASSERT_EQ(DrawBox(100, 10, 101, 15, grey, 0), 0);  // one pixel wide
  ASSERT_EQ(DrawBox(110, 10, 110, 15, grey, 0), 0);  // empty
  SetDrawBlendMode(BlendNone, 0);
  Settle();
  const auto add = [](std::uint32_t n) {
    return std::min(0x12u + n, 0xFFu) << 16 | std::min(0x34u + n, 0xFFu) << 8 | (0x56u + n);
  };
  ExpectRegion(0, 0, 120, 25, [&](int x, int y) -> std::int64_t {
    if (x >= 10 && x < 20 && y >= 10 && y < 15) return 0xFFFFFF;
    for (int left : {40, 60, 80}) {
      const bool border = (y == 10 || y == 14 || x == left || x == left + 9) && x >= left && x < left + 10 &&
                          y >= 10 && y < 15;
      if (border) return add(16);
    }
    if (x == 100 && y >= 10 && y < 15) return add(16);
    return -1;
  });
}

TEST_F(CoverageTest, BoxesAreClippedByTheDrawArea) {
  SetDrawArea(12, 11, 18, 14);
  const int white = GetColor(255, 255, 255);
  ASSERT_EQ(DrawFillBox(10, 10, 20, 15, white), 0);
  ASSERT_EQ(DrawFillBox(30, 30, 40, 40, white), 0);  // wholly outside
  SetDrawArea(0, 0, 320, 240);
  SetDrawArea(40, 40, 46, 43);
  ASSERT_EQ(DrawBox(38, 38, 50, 50, white, 0), 0);
  SetDrawArea(0, 0, 320, 240);
  Settle();
  ExpectRegion(0, 0, 60, 60, [&](int x, int y) -> std::int64_t {
    if (x >= 12 && x < 18 && y >= 11 && y < 14) return 0xFFFFFF;
    return -1;  // the outline's border lies outside its area
  });
}

TEST_F(CoverageTest, TheBoxColourIsTheColourTimesTheBrightness) {
  SetDrawBrightness(128, 128, 128);
  ASSERT_EQ(DrawFillBox(0, 0, 4, 4, GetColor(200, 100, 0)), 0);
  Settle();
  EXPECT_EQ(Pixel(1, 1), static_cast<std::uint32_t>((128 * 200 / 255) << 16 | (128 * 100 / 255) << 8));
}

TEST_F(CoverageTest, AClearFillsATextureTargetWithTheBackgroundColour) {
  const int screen = MakeScreen(64, 32, 0);
  ASSERT_GE(screen, 0);
  SetBackgroundColor(10, 20, 30);
  ASSERT_EQ(SetDrawScreen(screen), 0);
  ASSERT_EQ(DrawFillBox(0, 0, 64, 32, GetColor(255, 0, 0)), 0);
  ASSERT_EQ(ClearDrawScreen(), 0);
  int x0 = 0, y0 = 0;
  const int texture = TextureOf(screen, &x0, &y0);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(sim::ReadSurfacePixel(texture, x0 + x, y0 + y) & 0xFFFFFF, 0x0A141Eu);
  }
  SetDrawScreen(kDrawScreenBack);
  ASSERT_EQ(ClearDrawScreen(), 0);
  EXPECT_EQ(Pixel(300, 200), 0x0A141Eu);
  SetBackgroundColor(0, 0, 0);
}

// A draw target in memory cannot be the device's: boxes there are drawn by the software
// boxes, and the device draws nothing, on the screen or anywhere else.
TEST_F(CoverageTest, BoxesOnAMemoryImageTargetAreDrawnInSoftware) {
  // Graphs made while textures are off live in plain surfaces; this one in memory.
  SetUse3DFlag(0);
  SurfaceCreateBytes bytes{};
  bytes.drawValid = 1;
  bytes.memImage = 1;
  GraphRecord* graph = MakeGraphRecord(24, 12, bytes);
  SetUse3DFlag(1);
  ASSERT_NE(graph, nullptr);
  const SurfaceRecord* surface = GetSurfaceRecord(GetSurface2D(graph->pieces[0])->surface);
  ASSERT_NE(surface->memImagePixels, nullptr);
  ASSERT_EQ(SetDrawScreen(graph->handle), 0);
  const std::size_t mark = sim::DisplayTraceMark();
  const int white = GetColor(255, 255, 255);
  EXPECT_EQ(DrawFillBoxD3D(10, 7, 2, 3, white), 0);
  EXPECT_EQ(DrawBoxOutlineD3D(12, 2, 20, 9, white), 0);
  SetDrawScreen(kDrawScreenBack);
  Settle();
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::DrawPrimitive), 0u);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::DrawIndexedPrimitive), 0u);
  const auto* pixels = static_cast<const std::uint8_t*>(surface->memImagePixels);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 24; ++x) {
      const bool filled = x >= 2 && x < 10 && y >= 3 && y < 7;
      const bool border = x >= 12 && x < 20 && y >= 2 && y < 9 && (x == 12 || x == 19 || y == 2 || y == 8);
      ASSERT_EQ(RawAt(pixels + y * surface->memImagePitch, x, surface->colorData.pixelByte) & 0xFFFFFF,
                filled || border ? 0xFFFFFFu : 0u)
          << x << "," << y;
    }
  }
  ExpectRegion(0, 0, 40, 20, [](int, int) -> std::int64_t { return -1; });
}

class ManyPiecesTest : public DrawingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ManyPiecesTest, AGraphOfManyTexturesIsDrawnBackWhole) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  // Small textures: the graph is cut into many pieces, square ones on a SQUAREONLY device.
  config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = 256;
  if (GetParam()) config.devices[0].textureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
  StartAt(32, config, 1024, 768);
  images_.push_back(MakeTestImage(sim::MakePixelFormat(sim::PixelFormatName::X8R8G8B8), 1000, 700, 77));
  const int graph = CreateGraphFromGraphImage(&images_.back().image, nullptr);
  ASSERT_GE(graph, 0);
  EXPECT_GT(GetGraphRecord(graph)->pieceCount, 2);
  ASSERT_EQ(DrawGraph(0, 0, graph, 0), 0);
  Settle();
  const TestImage& image = images_.back();
  for (int y = 0; y < 700; ++y) {
    const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.image.pitch;
    for (int x = 0; x < 1000; ++x) {
      ASSERT_EQ(Pixel(x, y), RawAt(row, x, 4) & 0xFFFFFF) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, ManyPiecesTest, ::testing::Bool());

TEST_F(DrawingTest, TextWithoutAFontSystemIsRefused) {
  StartAt(32);
  EXPECT_EQ(DrawStringD3D(0, 0, "abc", 0, 0, 0, 0), -1);
  EXPECT_EQ(DrawStringD3D(0, 0, nullptr, 0, 0, 0, 0), -1);
}

}  // namespace
}  // namespace gamelib
