// The screen and graphs on plain surfaces: start-up with and without the 3-D device,
// the flip, the mode change, graphs from images in memory, derived graphs, fills, and
// the surface records under them.
#include <vector>

#include "../d3d/display_fixture.h"
#include "graphics/graphs.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

using ScreenTest = DisplayTest;

int PlainSurfaceId(int graph) {
  return sim::SurfaceId(GetSurfaceRecord(GetSurface2D(GetGraphRecord(graph)->pieces[0])->surface)->surface);
}

TEST_F(ScreenTest, TheFlipPresentsTheBackBufferAfterTheBatchIsDrawn) {
  SetGraphMode(320, 240, 32);
  SetBackgroundColor(10, 20, 30);
  Start();
  EXPECT_EQ(IsUse3DDrawing(), 1);
  int w = 0, h = 0, depth = 0;
  GetScreenState(&w, &h, &depth);
  EXPECT_EQ((std::vector<int>{w, h, depth}), (std::vector<int>{320, 240, 32}));
  const int frames = sim::PresentedFrameCount();
  ASSERT_EQ(ScreenFlip(), 0);
  EXPECT_EQ(sim::PresentedFrameCount(), frames + 1);
  std::vector<std::uint32_t> frame;
  ASSERT_TRUE(sim::LastPresentedFrame(&frame, &w, &h));
  ASSERT_EQ(frame.size(), 320u * 240u);
  EXPECT_EQ(frame[0], 0xFF0A141Eu);
  EXPECT_EQ(frame[320 * 240 - 1], 0xFF0A141Eu);
  SetBackgroundColor(0, 0, 0);
  // A lost primary is restored and the flip reports the lost frame.
  sim::LoseSurface(sim::SurfaceId(GetFrontSurface()));
  EXPECT_EQ(ScreenFlip(), -1);
  EXPECT_EQ(ScreenFlip(), 0);
}

TEST_F(ScreenTest, WithoutADeviceTheScreenStartsAndGraphsLiveInPlainSurfaces) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.devices.clear();
  Start(config);
  EXPECT_EQ(IsUse3DDrawing(), 0);
  EXPECT_NE(NewLog().find("現在の画面モードで使用できる描画デバイスが見つかりませんでした"),
            std::string::npos);
  // An 8-bit palette image lands converted into the screen's 5-6-5.
  TestImage image;
  image.image.colorData.colorBitDepth = 8;
  image.image.colorData.pixelByte = 1;
  for (int i = 0; i < 256; ++i) image.image.colorData.palette[i] = static_cast<std::uint32_t>(i * 0x010203);
  image.image.width = 20;
  image.image.height = 10;
  image.image.pitch = 24;
  image.pixels.resize(240);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<std::uint8_t>(i * 7);
  image.image.graphData = image.pixels.data();
  const int graph = CreateGraphFromGraphImage(&image.image, nullptr);
  ASSERT_GE(graph, 0);
  EXPECT_EQ(GetGraphRecord(graph)->useTexture, 0);
  const int id = PlainSurfaceId(graph);
  const sim::SurfaceView view = sim::ViewSurface(id);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      const std::uint32_t want =
          ArgbToMasked(view.format, 0xFF000000u | image.image.colorData.palette[image.pixels[y * 24 + x]]);
      ASSERT_EQ(RawAt(view.bits + y * view.pitch, x, 2), want) << x << "," << y;
    }
  }
  // A derived graph shows part of the same surface; filling it touches only that part.
  const int derived = DeriveGraph(5, 2, 10, 5, graph);
  ASSERT_GE(derived, 0);
  EXPECT_EQ(PlainSurfaceId(derived), id);
  ASSERT_EQ(FillGraph(derived, 255, 255, 255, 255), 0);
  EXPECT_EQ(sim::ReadSurfacePixel(id, 5, 2), 0xFFFFFFFFu);
  EXPECT_EQ(sim::ReadSurfacePixel(id, 14, 6), 0xFFFFFFFFu);
  EXPECT_NE(sim::ReadSurfacePixel(id, 15, 6), 0xFFFFFFFFu);
  ASSERT_EQ(DeleteGraph(graph), 0);
  EXPECT_FALSE(sim::ViewSurface(id).released);
  ASSERT_EQ(DeleteGraph(derived), 0);
  EXPECT_TRUE(sim::ViewSurface(id).released);
  EXPECT_EQ(DeleteGraph(derived), -1);
}

TEST_F(ScreenTest, BadImagesAndSizesAreRefused) {
  Start();
  TestImage image = MakeTestImage(sim::MakePixelFormat(sim::PixelFormatName::R5G6B5), 8, 8, 1);
  EXPECT_EQ(CreateGraphFromGraphImage(nullptr, nullptr), -1);
  GraphImage bad = image.image;
  bad.pitch = 8;  // shorter than a row
  EXPECT_EQ(CreateGraphFromGraphImage(&bad, nullptr), -1);
  bad = image.image;
  bad.colorData.greenLoc = 40;
  EXPECT_EQ(CreateGraphFromGraphImage(&bad, nullptr), -1);
  bad = image.image;
  bad.width = 0;
  EXPECT_EQ(CreateGraphFromGraphImage(&bad, nullptr), -1);
  bad = image.image;
  bad.graphData = nullptr;
  EXPECT_EQ(CreateGraphFromGraphImage(&bad, nullptr), -1);
  GraphImage smallAlpha = image.image;
  smallAlpha.width = 4;
  EXPECT_EQ(CreateGraphFromGraphImage(&image.image, &smallAlpha), -1);
  for (auto [w, h] : {std::pair{0, 5}, {5, -1}, {70000, 1}}) EXPECT_EQ(MakeGraph(w, h), -1);
  const int graph = MakeGraph(16, 16);
  EXPECT_EQ(ReCreateGraphFromGraphImage(&image.image, nullptr, graph), -1);  // smaller than the graph
  EXPECT_EQ(GetGraphRecord(graph)->useTexture, 1);
  for (int handle : {-1, 0, 0x08001234, graph + 0x10000}) {
    EXPECT_EQ(DeleteGraph(handle), -1);
    EXPECT_EQ(FillGraph(handle, 0, 0, 0, 0), -1);
    EXPECT_EQ(DeriveGraph(0, 0, 1, 1, handle), -1);
  }
  EXPECT_EQ(SetDrawScreen(graph), -1);  // not a draw target
  EXPECT_EQ(SetGraphMode(640, 480, 24), -1);
}

TEST_F(ScreenTest, AModeChangeRebuildsTheScreenAndTheDevice) {
  Start();
  ASSERT_GE(MakeGraph(32, 32), 0);
  ASSERT_EQ(SetGraphMode(800, 600, 32), 0);
  EXPECT_EQ(GetScreenColorBitDepth(), 32);
  EXPECT_EQ(sim::ViewSurface(sim::SurfaceId(GetBackSurface())).width, 800);
  EXPECT_EQ(IsUse3DDrawing(), 1);
  EXPECT_EQ(GetGraphTable()->count, 0);
  const int graph = MakeGraph(32, 32);
  ASSERT_GE(graph, 0);
  EXPECT_EQ(GetSurfaceRecord(GetGraphics3DHooks().getPieceSurfaceHandle(GetGraphRecord(graph)->pieces[0]))
                ->colorData.colorBitDepth,
            32);
}

TEST_F(ScreenTest, SurfaceRecordsCountReferencesAndLocks) {
  SetNotUse3DFlag(1);
  Start();
  SurfaceCreateBytes bytes{};
  const int surface = AddSurface(kSurfaceKindPlain, 16, 16, 0, bytes);
  ASSERT_GE(surface, 0);
  EXPECT_EQ(IncSurfaceRefCount(surface), 2);
  EXPECT_EQ(DecSurfaceRefCount(surface), 1);
  EXPECT_EQ(IncSurfaceRefCount(-1), -1);
  // Releasing and re-creating twice each leaves one live object.
  const std::size_t live = sim::LiveSurfaceIds().size();
  ReleaseSurfaceObjects(surface);
  ReleaseSurfaceObjects(surface);
  EXPECT_EQ(sim::LiveSurfaceIds().size(), live - 1);
  CreateSurfaceObject(surface);
  CreateSurfaceObject(surface);
  EXPECT_EQ(sim::LiveSurfaceIds().size(), live);
  int pitch = 0, pitch2 = 0;
  void *pixels = nullptr, *pixels2 = nullptr;
  ASSERT_EQ(LockSurface(surface, &pitch, &pixels, 1, nullptr, nullptr), 0);
  EXPECT_EQ(LockSurface(surface, &pitch2, &pixels2, 1, nullptr, nullptr), -2);
  EXPECT_EQ(pixels2, pixels);
  EXPECT_EQ(UnlockSurface(surface, nullptr), 0);
  EXPECT_TRUE(sim::ViewSurface(sim::SurfaceId(GetSurfaceRecord(surface)->surface)).locked);
  EXPECT_EQ(UnlockSurface(surface, nullptr), 0);
  EXPECT_EQ(UnlockSurface(surface, nullptr), -1);
  NewLog();
  sim::AddDisplayFault(Fault(sim::DisplayCall::Lock));
  EXPECT_EQ(LockSurface(surface, &pitch, &pixels, 0, nullptr, nullptr), -1);
  EXPECT_EQ(NewLog(), "0:グラフィックのロックに失敗しました\r\n");
  sim::LoseSurface(sim::SurfaceId(GetSurfaceRecord(surface)->surface));
  EXPECT_EQ(RestoreLostSurface(surface), -1);
  EXPECT_EQ(RestoreLostSurface(surface), 0);
  EXPECT_EQ(DeleteSurface(surface), 0);
  EXPECT_EQ(GetSurfaceRecord(surface), nullptr);
}

TEST_F(ScreenTest, TheSurfaceTableRefusesTheOneTooMany) {
  SetNotUse3DFlag(1);
  Start();
  SetOutApplicationLogValidFlag(0);
  SurfaceCreateBytes bytes{};
  bytes.memImage = 1;
  int last = -1;
  for (int i = GetSurfaceCount(); i < kMaxSurfaces; ++i) {
    last = AddSurface(kSurfaceKindPlain, 1, 1, 0, bytes);
    ASSERT_GE(last, 0) << i;
  }
  SetOutApplicationLogValidFlag(1);
  NewLog();
  EXPECT_EQ(AddSurface(kSurfaceKindPlain, 1, 1, 0, bytes), -1);
  EXPECT_EQ(NewLog(), "0:サーフェスのデータ数が許容量を越えました。\r\n");
  EXPECT_EQ(DeleteSurface(last), 0);
  EXPECT_GE(AddSurface(kSurfaceKindPlain, 1, 1, 0, bytes), 0);
}

}  // namespace
}  // namespace gamelib
