// Free quadrilaterals and grids: the two triangles of a parallelogram at the given
// corners, grids and the pieces of many-texture graphs meeting without gap or double
// cover (counted with an additive colour), the strips' index lists, the blend-graph
// road, and the software road beside the device.
#include <cmath>
#include <cstring>

#include "d3d/quad_drawing.h"
#include "drawing_fixture.h"
#include "graphics/draw_state.h"
#include "graphics/graphs.h"

namespace gamelib {
namespace {

using sim::DisplayCall;
using Record = sim::DisplayCallRecord;

constexpr std::uint32_t kAdd = 0x101010;  // one additive coat; two read 0x202020

struct P {
  double x, y;
};

// Signed distance of point p from the edge a->b, positive inside a clockwise (y down)
// quadrilateral.
double Side(P a, P b, P p) {
  const double ex = b.x - a.x, ey = b.y - a.y;
  return (ex * (p.y - a.y) - ey * (p.x - a.x)) / std::hypot(ex, ey);
}

class QuadTest : public DrawingTest {
 protected:
  void StartSmall(int maxTexture = 2048) {
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = static_cast<DWORD>(maxTexture);
    StartAt(32, config);
  }
  void Clear(std::uint32_t colour = 0) {
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) sim::WriteSurfacePixel(back_, x, y, colour);
    }
  }
  // A graph of one colour drawn additively: every covered pixel reads kAdd once.
  int AdditiveGraph(int width, int height) {
    const int graph = MakeGraph(width, height);
    EXPECT_EQ(FillGraph(graph, 0x10, 0x10, 0x10, 255), 0);
    SetDrawBlendMode(BlendAdd, 255);
    return graph;
  }
  // Quadrilateral given clockwise (TL, TR, BR, BL): pixels whose centre lies inside by
  // more than `margin` read kAdd, outside by more than it read 0, and no pixel reads
  // anything else (a double cover).
  void ExpectCoveredOnce(const P (&q)[4], double margin) {
    int inside = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) {
        const P c{static_cast<double>(x), static_cast<double>(y)};
        double d = 1e9;
        for (int i = 0; i < 4; ++i) d = std::min(d, Side(q[i], q[(i + 1) % 4], c));
        const std::uint32_t pixel = Pixel(x, y);
        ASSERT_TRUE(pixel == 0 || pixel == kAdd) << x << "," << y << " " << std::hex << pixel;
        if (d > margin) {
          ASSERT_EQ(pixel, kAdd) << "gap at " << x << "," << y;
          ++inside;
        } else if (d < -margin) {
          ASSERT_EQ(pixel, 0u) << "outside at " << x << "," << y;
        }
      }
    }
    EXPECT_GT(inside, 100);
  }
  static std::vector<D3DVertex1> Vertices(const Record& r) {
    std::vector<D3DVertex1> v(r.vertices.size() / sizeof(D3DVertex1));
    std::memcpy(v.data(), r.vertices.data(), v.size() * sizeof(D3DVertex1));
    return v;
  }
  static std::vector<std::pair<float, float>> Positions(const Record& r) {
    std::vector<std::pair<float, float>> out;
    const std::size_t size = r.fvf == 0x2C4 ? sizeof(D3DVertex2) : sizeof(D3DVertex1);
    for (std::size_t at = 0; at + size <= r.vertices.size(); at += size) {
      float xy[2];
      std::memcpy(xy, r.vertices.data() + at, sizeof(xy));
      out.emplace_back(xy[0], xy[1]);
    }
    return out;
  }
};

TEST_F(QuadTest, AnAxisAlignedRectangleIsTwoTrianglesAtItsCornersWithTheDiagonalOnce) {
  StartSmall();
  const int pattern = MakePatternGraph(32, 16, 3);
  Clear();
  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawQuadGraph(10, 20, 42, 20, 42, 36, 10, 36, pattern, 0), 0);
  Settle();
  const auto draws = sim::DisplayCallsSince(mark, DisplayCall::DrawPrimitive);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].primitiveType, D3DPT_TRIANGLELIST);
  using XY = std::pair<float, float>;
  EXPECT_EQ(Positions(draws[0]),
            (std::vector<XY>{{10, 20}, {42, 20}, {10, 36}, {42, 36}, {10, 36}, {42, 20}}));
  for (int y = 19; y <= 36; ++y) {
    for (int x = 9; x <= 42; ++x) {
      const bool in = x >= 10 && x < 42 && y >= 20 && y < 36;
      ASSERT_EQ(Pixel(x, y), in ? Texel(pattern, x - 10, y - 20) & 0xFFFFFF : 0u) << x << "," << y;
    }
  }

  // Additively, every pixel once, the diagonal included.
  Clear();
  const int graph = AdditiveGraph(32, 16);
  ASSERT_EQ(DrawQuadGraph(10, 20, 42, 20, 42, 36, 10, 36, graph, 0), 0);
  Settle();
  ExpectCoveredOnce({{10, 20}, {42, 20}, {42, 36}, {10, 36}}, 0.4);
  EXPECT_EQ(Pixel(41, 35), kAdd);
  EXPECT_EQ(Pixel(42, 35), 0u);
}

// Pieces of one graph, each onto its own bilinear corners, meet along their shared
// edges: parallelograms (a turned rectangle), grids (a trapezoid) and a mixture.
TEST_F(QuadTest, ThePiecesOfManyTextureGraphsMeetWithoutGapOrOverlap) {
  StartSmall(64);
  const int graph = AdditiveGraph(300, 200);
  ASSERT_GT(GetGraphRecord(graph)->pieceCount, 9);
  struct Shape {
    const char* what;
    P q[4];
  };
  const double c = std::cos(0.3), s = std::sin(0.3);
  const Shape shapes[] = {
      {"turned",
       {{200, 60},
        {200 + 300 * c, 60 + 300 * s},
        {200 + 300 * c - 200 * s, 60 + 300 * s + 200 * c},
        {200 - 200 * s, 60 + 200 * c}}},
      {"trapezoid", {{150, 50}, {470, 50}, {600, 400}, {30, 400}}},
      {"general", {{100.25, 40.5}, {520.75, 90.125}, {560.5, 430.25}, {60.125, 380.75}}},
      {"integer corners", {{40, 30}, {610, 10}, {500, 470}, {90, 400}}},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    Clear();
    const P* q = shape.q;
    ASSERT_EQ(
        DrawQuadGraph(static_cast<float>(q[0].x), static_cast<float>(q[0].y), static_cast<float>(q[1].x),
                      static_cast<float>(q[1].y), static_cast<float>(q[2].x), static_cast<float>(q[2].y),
                      static_cast<float>(q[3].x), static_cast<float>(q[3].y), graph, 0),
        0);
    Settle();
    ExpectCoveredOnce(shape.q, 0.01);
  }
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

TEST_F(QuadTest, EdgesDifferingByLessThanOnePixelKeepTheParallelogram) {
  StartSmall();
  const int graph = MakePatternGraph(32, 32, 5);
  struct Row {
    float skew;
    bool grid;
  };
  for (const Row& row : {Row{0.0f, false}, Row{0.9f, false}, Row{1.0f, true}}) {
    SCOPED_TRACE(row.skew);
    const std::size_t mark = sim::DisplayTraceMark();
    ASSERT_EQ(DrawQuadGraph(100, 100, 132, 100, 132 + row.skew, 132, 100, 132, graph, 0), 0);
    Settle();
    const auto indexed = sim::DisplayCallsSince(mark, DisplayCall::DrawIndexedPrimitive);
    EXPECT_EQ(indexed.size(), row.grid ? 1u : 0u);
    EXPECT_EQ(CountCalls(mark, DisplayCall::DrawPrimitive), row.grid ? 0u : 1u);
    if (row.grid) {
      EXPECT_EQ(indexed[0].primitiveType, D3DPT_TRIANGLESTRIP);
      EXPECT_EQ(indexed[0].count, 64u);
      EXPECT_EQ(indexed[0].indices.size(), 124u);
      const auto v = Vertices(indexed[0]);
      // Rows and columns reach the corners exactly; texture coordinates span the piece.
      EXPECT_EQ(v[63].x, 132 + row.skew);
      EXPECT_EQ(v[63].y, 132.0f);
      EXPECT_EQ(v[7].x, 132.0f);
      EXPECT_EQ(v[56].y, 132.0f);
      EXPECT_EQ(v[63].u, 1.0f);
      EXPECT_EQ(v[63].v, 1.0f);
    }
  }
}

TEST_F(QuadTest, AMirroredQuadKeepsTheFirstVertexOfEachTriangle) {
  StartSmall();
  const int graph = MakePatternGraph(32, 16, 8);
  const std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawQuadGraph(42, 20, 10, 20, 10, 36, 42, 36, graph, 0), 0);
  Settle();
  const auto draws = sim::DisplayCallsSince(mark, DisplayCall::DrawPrimitive);
  ASSERT_EQ(draws.size(), 1u);
  using XY = std::pair<float, float>;
  // TL, BL, TR and BR, TR, BL: the colour-carrying vertices 0 and 3 stay put.
  EXPECT_EQ(Positions(draws[0]),
            (std::vector<XY>{{42, 20}, {42, 36}, {10, 20}, {10, 36}, {10, 20}, {42, 36}}));
  const auto v = Vertices(draws[0]);
  EXPECT_EQ(v[0].u, 0.0f);
  EXPECT_EQ(v[3].u, 1.0f);
}

TEST_F(QuadTest, GridStripsCoverTheirCellsOnceAcrossSeveralCalls) {
  StartSmall();
  const int graph = AdditiveGraph(8, 8);
  const int device = GetDirect3DState().currentDevice;
  // A lattice of 120 x 10 vertices over [20, 615) x [30, 399).
  std::vector<D3DVertex1> grid;
  for (int r = 0; r < 10; ++r) {
    for (int c = 0; c < 120; ++c) {
      grid.push_back(D3DVertex1{20.0f + 5.0f * c, 30.0f + 41.0f * r, 0.2f, 1.0f, 0xFF101010u, 0.5f, 0.5f});
    }
  }
  Clear();
  ASSERT_EQ(BeginSceneDevice(device), 0);
  SetDrawStatesD3D(GetSurface3DData(GetGraphRecord(graph)->pieces[0]), 0);
  const std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawGridStrips(device, 120, grid.data(), 10), 0);
  Settle();
  const auto calls = sim::DisplayCallsSince(mark, DisplayCall::DrawIndexedPrimitive);
  std::vector<std::size_t> counts;
  for (const Record& r : calls) counts.push_back(r.indices.size());
  EXPECT_EQ(counts, (std::vector<std::size_t>{967, 967, 240}));
  ExpectCoveredOnce({{20, 30}, {615, 30}, {615, 399}, {20, 399}}, 0.4);

  // Too few rows or columns, a row pair longer than the list, more vertices than 16-bit
  // indices reach: refused before anything is drawn.
  const std::size_t before = sim::DisplayTraceMark();
  std::vector<D3DVertex1> big(300 * 300);
  EXPECT_EQ(DrawGridStrips(device, 1, grid.data(), 10), -1);
  EXPECT_EQ(DrawGridStrips(device, 120, grid.data(), 1), -1);
  EXPECT_EQ(DrawGridStrips(device, 500, big.data(), 2), -1);
  EXPECT_EQ(DrawGridStrips(device, 300, big.data(), 300), -1);
  EXPECT_EQ(DrawGridStrips(device, 2, nullptr, 2), -1);
  EXPECT_EQ(DrawGridStrips(3, 120, grid.data(), 10), -1);
  EXPECT_EQ(CountCalls(before, DisplayCall::DrawIndexedPrimitive), 0u);
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

TEST_F(QuadTest, WithABlendGraphCornersAreTruncatedAndEachPieceIsOneStrip) {
  StartSmall();
  const int graph = MakePatternGraph(32, 16, 2);
  const int blend = MakePatternGraph(32, 16, 9);
  ASSERT_EQ(SetBlendGraph(blend, 0, 0), 0);
  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawQuadGraph(10.7f, 20.9f, 50.2f, 25.5f, 60.9f, 70.1f, 5.5f, 60.3f, graph, 0), 0);
  Settle();
  auto draws = sim::DisplayCallsSince(mark, DisplayCall::DrawPrimitive);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].primitiveType, D3DPT_TRIANGLESTRIP);
  EXPECT_EQ(draws[0].fvf, 0x2C4u);
  using XY = std::pair<float, float>;
  // TL, TR and BL lie on the diagonal (the upper-left map), BR on the lower-right one.
  EXPECT_EQ(Positions(draws[0]),
            (std::vector<XY>{{9.5f, 19.5f}, {49.5f, 24.5f}, {4.5f, 59.5f}, {59.5f, 69.5f}}));

  // An axis-aligned rectangle goes to the stretched drawing, with its half-pixel shift.
  mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawQuadGraph(10.9f, 20.2f, 42.5f, 20.0f, 42.0f, 36.9f, 10.0f, 36.0f, graph, 0), 0);
  Settle();
  draws = sim::DisplayCallsSince(mark, DisplayCall::DrawPrimitive);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].primitiveType, D3DPT_TRIANGLELIST);
  EXPECT_EQ(Positions(draws[0])[0], (XY{9.5f, 19.5f}));
  EXPECT_EQ(Positions(draws[0])[3], (XY{41.5f, 35.5f}));

  // A border that hides everything draws nothing.
  ASSERT_EQ(SetBlendGraph(blend, 255, 0), 0);
  mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawQuadGraph(10, 20, 50, 25, 60, 70, 5, 60, graph, 0), 0);
  Settle();
  EXPECT_EQ(CountCalls(mark, DisplayCall::DrawPrimitive), 0u);
  SetBlendGraph(-1, 0, 0);
}

// The software renderer samples at pixel centres + 0.5; the device at integer centres
// with the top-left rule. On rectangles with integer corners, 1:1 or twice the graph's
// size, both cover the same pixels with the same texels. On a slanted quadrilateral
// they differ only along its edges, where each rule takes some centres the other leaves.
TEST_F(QuadTest, TheSoftwareRoadAgreesWithTheDeviceWhereBothCover) {
  StartSmall();
  const int texture = MakePatternGraph(32, 16, 6);
  SetUse3DFlag(0);
  const int plain = MakePatternGraph(32, 16, 6);
  SetUse3DFlag(1);
  ASSERT_FALSE(GetGraphRecord(plain)->useTexture);
  constexpr std::uint32_t kMark = 0x654321;
  struct Shape {
    P q[4];
    bool rectangle;
  };
  const Shape shapes[] = {{{{10, 20}, {42, 20}, {42, 36}, {10, 36}}, true},
                          {{{100, 50}, {164, 50}, {164, 82}, {100, 82}}, true},
                          {{{30, 10}, {150, 30}, {120, 95}, {15, 70}}, false}};
  for (const Shape& s : shapes) {
    SCOPED_TRACE(s.q[0].x);
    std::vector<std::uint32_t> pixels[2];
    for (int road = 0; road < 2; ++road) {
      Clear(kMark);
      const P* q = s.q;
      ASSERT_EQ(DrawQuadGraph(
                    static_cast<float>(q[0].x), static_cast<float>(q[0].y), static_cast<float>(q[1].x),
                    static_cast<float>(q[1].y), static_cast<float>(q[2].x), static_cast<float>(q[2].y),
                    static_cast<float>(q[3].x), static_cast<float>(q[3].y), road == 0 ? plain : texture, 0),
                0);
      Settle();
      for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) pixels[road].push_back(Pixel(x, y));
      }
    }
    int both = 0, onlyOne = 0;
    for (int i = 0; i < 200 * 100; ++i) {
      const bool soft = pixels[0][i] != kMark, device = pixels[1][i] != kMark;
      const P c{static_cast<double>(i % 200), static_cast<double>(i / 200)};
      if (soft && device) {
        ++both;
        if (s.rectangle) {
          ASSERT_EQ(pixels[0][i], pixels[1][i]) << c.x << "," << c.y;
        }
      } else if (soft != device) {
        ++onlyOne;
        double d = 1e9;
        for (int k = 0; k < 4; ++k) d = std::min(d, std::fabs(Side(s.q[k], s.q[(k + 1) % 4], c)));
        ASSERT_LT(d, 1.0) << "only one road covers " << c.x << "," << c.y;
      }
    }
    if (s.rectangle) {
      EXPECT_EQ(both, static_cast<int>((s.q[1].x - s.q[0].x) * (s.q[2].y - s.q[1].y)));
      EXPECT_EQ(onlyOne, 0);
    } else {
      EXPECT_GT(both, 5000);
    }
  }
  EXPECT_EQ(DrawQuadGraph(0, 0, 1, 0, 1, NAN, 0, 1, plain, 0), -1);
  EXPECT_EQ(DrawQuadGraph(0, 0, INFINITY, 0, 1, 1, 0, 1, texture, 0), -1);
  EXPECT_EQ(DrawQuadGraph(0, 0, 1, 0, 1, 1, 0, 1, -1, 0), -1);
}

}  // namespace
}  // namespace gamelib
