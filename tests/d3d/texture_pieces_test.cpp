// Texture pieces: the split of a graph's sides, square-only devices, derived graphs
// sharing textures by reference count, and the operations over a graph's pieces.
#include <algorithm>

#include "d3d/d3d_state.h"
#include "d3d/texture_pieces.h"
#include "display_fixture.h"
#include "graphics/graphs.h"

namespace gamelib {
namespace {

sim::DisplayConfig WithTextures(DWORD minSize, DWORD maxSize, DWORD caps = D3DPTEXTURECAPS_POW2) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.devices[0].minTextureWidth = config.devices[0].minTextureHeight = minSize;
  config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = maxSize;
  config.devices[0].textureCaps = caps;
  return config;
}

Surface3DDataRecord* Piece(int graph, int i) { return GetSurface3DData(GetGraphRecord(graph)->pieces[i]); }
SurfaceRecord* PieceSurface(int graph, int i) { return GetSurfaceRecord(Piece(graph, i)->surface); }
int TextureId(int graph, int i) { return sim::SurfaceId(PieceSurface(graph, i)->surface); }

using TexturePiecesTest = DisplayTest;

struct SplitRow {
  int length, whole, screenWidth;
  DWORD minSize, maxSize;
  std::vector<int> sizes;  // {65}: more than 64 needed
};

TEST_F(TexturePiecesTest, SidesAreCutIntoPowerOfTwoTextures) {
  const SplitRow rows[] = {
      {1, 0, 640, 1, 2048, {1}},
      {20, 0, 640, 1, 2048, {32}},
      {16, 0, 640, 1, 2048, {16}},
      {33, 0, 640, 1, 2048, {64}},
      {20, 0, 640, 64, 2048, {64}},
      {640, 0, 640, 1, 2048, {512, 128}},
      {640, 0, 640, 1, 1024, {512, 128}},
      {692, 0, 640, 1, 2048, {512, 128, 64}},
      {1000, 0, 640, 1, 2048, {1024}},
      {640, 1, 640, 1, 2048, {1024}},
      {3000, 1, 640, 1, 2048, {2048, 1024}},
      {700, 0, 800, 1, 1000, {512, 128, 64}},
      {60000, 0, 640, 1, 256, {65}},
      {40000, 1, 640, 1, 100000, {32768, 8192}},
  };
  for (const SplitRow& row : rows) {
    SCOPED_TRACE(testing::Message() << row.length << " whole " << row.whole << " max " << row.maxSize);
    SetGraphMode(row.screenWidth, 480, 16);
    Start(WithTextures(row.minSize, row.maxSize));
    int sizes[64] = {};
    const int count = GetTextureSplitSizes(row.length, sizes, row.whole);
    if (row.sizes == std::vector<int>{65}) {
      EXPECT_EQ(count, 65);
    } else {
      EXPECT_EQ(std::vector<int>(sizes, sizes + std::clamp(count, 0, 64)), row.sizes);
    }
    TerminateGraphicsSystem();
  }
}

TEST_F(TexturePiecesTest, AScreenWideGraphTakesTwoPiecesAndTooManyPiecesAreRefused) {
  Start(WithTextures(1, 2048));
  const int graph = MakeGraph(640, 480);
  GraphRecord* record = GetGraphRecord(graph);
  ASSERT_EQ(record->pieceCount, 2);
  EXPECT_EQ((std::vector<int>{Piece(graph, 1)->x, Piece(graph, 1)->width, Piece(graph, 1)->height}),
            (std::vector<int>{512, 128, 480}));
  EXPECT_EQ((std::vector<int>{PieceSurface(graph, 0)->width, PieceSurface(graph, 1)->width}),
            (std::vector<int>{512, 128}));
  TerminateGraphicsSystem();

  Start(WithTextures(1, 32));
  NewLog();
  const std::size_t surfaces = sim::LiveSurfaceIds().size();
  EXPECT_EQ(MakeGraph(640, 480), -1);
  EXPECT_EQ(NewLog(), "0:エラー：画像の分割数が最大数の 64 を超えました\r\n");
  EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces);
  EXPECT_EQ(GetSurface3DDataCount(), 0);
}

TEST_F(TexturePiecesTest, SquareOnlyDevicesGetSquaresWithinTheLimit) {
  Start(WithTextures(1, 2048, D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY));
  const std::size_t mark = sim::DisplayTraceMark();
  const int graph = MakeGraph(640, 480);
  ASSERT_GE(graph, 0);
  GraphRecord* record = GetGraphRecord(graph);
  ASSERT_EQ(record->pieceCount, 5);
  const int expected[5][4] = {
      {0, 0, 512, 480}, {512, 0, 128, 128}, {512, 128, 128, 128}, {512, 256, 128, 128}, {512, 384, 128, 96}};
  for (int i = 0; i < 5; ++i) {
    const Surface3DDataRecord* p = Piece(graph, i);
    EXPECT_EQ((std::vector<int>{p->x, p->y, p->width, p->height}),
              std::vector<int>(expected[i], expected[i] + 4));
    EXPECT_EQ(PieceSurface(graph, i)->width, PieceSurface(graph, i)->height);
  }
  for (const auto& c : sim::DisplayCallsSince(mark, sim::DisplayCall::CreateSurface)) {
    EXPECT_EQ(c.desc.dwWidth, c.desc.dwHeight);
  }
  // A thin tall graph would need hundreds of squares.
  NewLog();
  EXPECT_EQ(MakeGraph(1, 600), -1);
  EXPECT_EQ(NewLog(), "0:エラー：画像の分割数が最大数の 64 を超えました\r\n");
  EXPECT_EQ(GetSurface3DDataCount(), 5);
}

TEST_F(TexturePiecesTest, DerivedGraphsShareTexturesByReferenceCount) {
  Start();
  const int parent = MakeGraph(100, 100);
  ASSERT_EQ(GetGraphRecord(parent)->pieceCount, 1);
  const Surface3DDataRecord parentPiece = *Piece(parent, 0);
  EXPECT_EQ((std::vector<int>(parentPiece.upperLeft, parentPiece.upperLeft + 4)),
            (std::vector<int>{1, 1, 1, 0}));
  const std::size_t mark = sim::DisplayTraceMark();
  const int derived = DeriveGraph(10, 20, 30, 40, parent);
  ASSERT_GE(derived, 0);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::CreateSurface), 0u);
  const Surface3DDataRecord* piece = Piece(derived, 0);
  EXPECT_EQ(piece->surface, parentPiece.surface);
  EXPECT_EQ(PieceSurface(derived, 0)->refCount, 2);
  const float s = 1.0f / 128;
  EXPECT_EQ((std::vector<float>{piece->vertices[0].u, piece->vertices[0].v, piece->vertices[3].u,
                                piece->vertices[3].v}),
            (std::vector<float>{10 * s, 20 * s, 40 * s, 60 * s}));
  EXPECT_EQ((std::vector<float>{piece->vertices[3].x, piece->vertices[3].y}), (std::vector<float>{30, 40}));
  EXPECT_EQ(Piece(parent, 0)->vertices[3].u, 100 * s);  // the parent keeps its own

  // Deleting the parent keeps the texture the derived graph still shows.
  const int texture = TextureId(derived, 0);
  ASSERT_EQ(DeleteGraph(parent), 0);
  EXPECT_FALSE(sim::ViewSurface(texture).released);
  EXPECT_EQ(PieceSurface(derived, 0)->refCount, 1);
  ASSERT_EQ(DeleteGraph(derived), 0);
  EXPECT_TRUE(sim::ViewSurface(texture).released);

  // Over several pieces each overlap becomes a piece addressing its own texture.
  const int wide = MakeGraph(640, 100);
  const int across = DeriveGraph(500, 10, 40, 20, wide);
  ASSERT_EQ(GetGraphRecord(across)->pieceCount, 2);
  const Surface3DDataRecord* left = Piece(across, 0);
  const Surface3DDataRecord* right = Piece(across, 1);
  EXPECT_EQ((std::vector<int>{left->x, left->width, left->textureX, left->textureY, right->x, right->width,
                              right->textureX, right->textureY}),
            (std::vector<int>{0, 12, 500, 10, 12, 28, 0, 10}));
  EXPECT_EQ(left->surface, Piece(wide, 0)->surface);
  EXPECT_EQ(right->surface, Piece(wide, 1)->surface);
  // Rectangles outside the parent are refused.
  for (auto [x, y, w, h] : {std::array{-1, 0, 5, 5}, {600, 0, 41, 5}, {0, 0, 0, 5}, {0, 99, 5, 2}}) {
    EXPECT_EQ(DeriveGraph(x, y, w, h, wide), -1);
  }
}

TEST_F(TexturePiecesTest, AGraphHalfMadeWhenATextureFailsLeavesNothing) {
  Start();
  const std::size_t surfaces = sim::LiveSurfaceIds().size();
  sim::AddDisplayFault(Fault(sim::DisplayCall::CreateSurface, {}, 1, 1));
  EXPECT_EQ(MakeGraph(640, 480), -1);
  EXPECT_EQ(GetSurface3DDataCount(), 0);
  EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces);
  // Failing allocations of the piece record are reported and undone too.
  NewLog();
  sim::FailCall("HeapAlloc", 2);
  EXPECT_EQ(MakeGraph(64, 64), -1);
  EXPECT_EQ(GetSurface3DDataCount(), 0);
  EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces);
}

TEST_F(TexturePiecesTest, FillingADerivedGraphKeepsTheRestOfTheSharedTexture) {
  SetGraphMode(640, 480, 32);
  Start();
  const int parent = MakeGraph(100, 100);
  const int derived = DeriveGraph(10, 10, 20, 20, parent);
  ASSERT_EQ(FillGraph(parent, 255, 0, 0, 255), 0);
  ASSERT_EQ(FillGraph(derived, 0, 0, 255, 255), 0);
  const int texture = TextureId(parent, 0);
  EXPECT_EQ(sim::ReadSurfacePixel(texture, 5, 5) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(sim::ReadSurfacePixel(texture, 15, 15) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(sim::ReadSurfacePixel(texture, 30, 30) & 0xFFFFFF, 0xFF0000u);

  // A lost texture is restored and reported as having lost its pixels, once.
  sim::LoseSurface(texture);
  EXPECT_EQ(RestoreGraphSurfaces3D(GetGraphRecord(parent)), -1);
  EXPECT_EQ(RestoreGraphSurfaces3D(GetGraphRecord(parent)), 0);
}

TEST_F(TexturePiecesTest, WithoutDirect3DOnlyLookupDeleteAndUnlockRun) {
  SetNotUse3DFlag(1);
  Start();
  NewLog();
  SurfaceCreateBytes bytes{};
  bytes.bitDepth = 16;
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(AddSurface3DData(64, 64, 0, 0, 10, 10, 0, 0, -1, nullptr, 0, 0, &bytes), -1);
  EXPECT_EQ(NewLog(), "0:３Ｄグラフィックエンジンが初期化されていません\r\n");
  GraphRecord graph{};
  graph.width = graph.height = 10;
  EXPECT_EQ(CreateGraphSurfaces3D(&graph), -1);
  EXPECT_EQ(DeleteAllSurface3DData(), -1);
  EXPECT_EQ(ResetSurface3DDataTable(), -1);
  EXPECT_EQ(FillGraphSurfaces3D(&graph, 1, 2, 3, 4), -1);
  EXPECT_EQ(RestoreAllSurface3DData(), -1);
  EXPECT_EQ(GetSurface3DData(0x37FFFFFF), nullptr);
  EXPECT_EQ(DeleteSurface3DData(0x37FFFFFF), -1);
  EXPECT_EQ(UnlockSurface3DData(0x37FFFFFF, nullptr), -1);
  EXPECT_EQ(sim::DisplayTrace().size(), mark);
  // Graphs then live in plain surfaces.
  const int plain = MakeGraph(10, 10);
  ASSERT_GE(plain, 0);
  EXPECT_EQ(GetGraphRecord(plain)->useTexture, 0);
}

}  // namespace
}  // namespace gamelib
