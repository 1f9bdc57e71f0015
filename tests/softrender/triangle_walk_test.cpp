// Set-up and traversal: which pixels a triangle covers, where it samples, what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "raster_test_util.h"

namespace gamelib::rastertest {
namespace {

constexpr std::uint32_t Ink = 0x00ABCDEF;

// Pixels of dest that differ from the background, as (x, y) rows of '#' and '.'.
std::vector<std::string> Picture(const Image& img, std::uint32_t background = 0) {
  std::vector<std::string> rows;
  for (int y = 0; y < img.m.height; ++y) {
    std::string row;
    for (int x = 0; x < img.m.width; ++x) row += img.Get(x, y) != background ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

struct Point {
  int x;
  int y;
};

void DrawFlat(Image& dest, std::array<Point, 3> p, std::uint32_t colour = Ink) {
  const TriVertex v[3] = {{p[0].x, p[0].y, 0, 0}, {p[1].x, p[1].y, 0, 0}, {p[2].x, p[2].y, 0, 0}};
  DrawMemImgTriangle(&dest.m, nullptr, v, 0, nullptr, colour);
}

// A 32-bit source whose texel (x, y) is 0x00YYXX01: every texel tells where it came from.
void FillCoordinates(Image& src) {
  for (int y = 0; y < src.m.height; ++y) {
    for (int x = 0; x < src.m.width; ++x) src.Set(x, y, static_cast<std::uint32_t>(y << 16 | x << 8 | 1));
  }
}

using TriangleWalk = RasterTest;

TEST_F(TriangleWalk, FlatTopOfOneRowDrawsBothEnds) {
  Image dest(8, 3, MemImgKind32);
  ResetStateFor(dest);
  DrawFlat(dest, {{{0, 0}, {4, 0}, {0, 1}}});
  EXPECT_EQ((std::vector<std::string>{"#####...", "........", "........"}), Picture(dest));
}

TEST_F(TriangleWalk, SingleTopVertexDrawsOnlyTheApexInItsRowAndNeverTheBottomRow) {
  Image dest(6, 6, MemImgKind32);
  ResetStateFor(dest);
  DrawFlat(dest, {{{2, 0}, {0, 4}, {4, 4}}});
  const auto rows = Picture(dest);
  EXPECT_EQ("..#...", rows[0]);
  EXPECT_EQ("......", rows[4]);  // the bottom vertices' row
  EXPECT_EQ(std::string(6, '.'), rows[5]);
}

TEST_F(TriangleWalk, TexturedRightTriangleSamplesEachPixelsOwnTexel) {
  Image dest(8, 8, MemImgKind32);
  Image src(8, 8, MemImgKind32);
  FillCoordinates(src);
  ResetStateFor(dest);
  const TriVertex v[3] = {{0, 0, 0, 0}, {4, 0, 4, 0}, {0, 4, 0, 4}};

  TriangleSetup setup;
  ASSERT_EQ(0, SetUpTriangle(&setup, v));
  EXPECT_EQ(262144, setup.gradients.dudx);
  EXPECT_EQ(262144, setup.gradients.dvdy);
  EXPECT_EQ(0, setup.gradients.dudy);
  EXPECT_EQ(0, setup.gradients.dvdx);

  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  const int widths[8] = {5, 4, 3, 2, 0, 0, 0, 0};
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const std::uint32_t expected = x < widths[y] ? src.Get(x, y) : 0;
      EXPECT_EQ(expected, dest.Get(x, y)) << x << "," << y;
    }
  }
}

TEST_F(TriangleWalk, TexelsPastTheSourceLeaveThePixel) {
  Image dest(8, 8, MemImgKind32);
  Image src(4, 8, MemImgKind32);  // u = 4 is outside
  FillCoordinates(src);
  ResetStateFor(dest);
  const TriVertex v[3] = {{0, 0, 0, 0}, {4, 0, 4, 0}, {0, 4, 0, 4}};
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  EXPECT_EQ(0u, dest.Get(4, 0));
  EXPECT_EQ(src.Get(3, 0), dest.Get(3, 0));

  // Negative coordinates fail the same unsigned test; the rest of the span draws.
  Image dest2(8, 8, MemImgKind32);
  const TriVertex shifted[3] = {{0, 0, -2, 0}, {6, 0, 4, 0}, {0, 6, -2, 6}};
  DrawMemImgTriangle(&dest2.m, &src.m, shifted, 0, nullptr, 0);
  EXPECT_EQ(0u, dest2.Get(0, 0));
  EXPECT_EQ(0u, dest2.Get(1, 0));
  EXPECT_EQ(src.Get(0, 0), dest2.Get(2, 0));
  EXPECT_EQ(src.Get(3, 0), dest2.Get(5, 0));
}

TEST_F(TriangleWalk, CollinearVerticesDrawNothing) {
  Image dest(8, 8, MemImgKind32);
  ResetStateFor(dest);
  DrawFlat(dest, {{{0, 0}, {3, 3}, {6, 6}}});
  DrawFlat(dest, {{{1, 2}, {5, 2}, {7, 2}}});
  DrawFlat(dest, {{{2, 2}, {2, 2}, {2, 2}}});
  EXPECT_EQ(0, dest.CountNot(0));
  TriangleSetup setup;
  const TriVertex v[3] = {{0, 0, 0, 0}, {3, 3, 0, 0}, {6, 6, 0, 0}};
  EXPECT_EQ(-1, SetUpTriangle(&setup, v));
}

TEST_F(TriangleWalk, VertexOrderDoesNotChangeCoverage) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(-6, 40);
  Image a(36, 36, MemImgKind32);
  Image b(36, 36, MemImgKind32);
  for (int trial = 0; trial < 300; ++trial) {
    std::array<Point, 3> v;
    for (auto& p : v) p = {coord(rng), coord(rng)};
    a.Fill(0);
    ResetStateFor(a);
    DrawFlat(a, v);
    std::array<int, 3> order = {0, 1, 2};
    while (std::next_permutation(order.begin(), order.end())) {
      b.Fill(0);
      DrawFlat(b, {v[order[0]], v[order[1]], v[order[2]]});
      ASSERT_EQ(Picture(a), Picture(b)) << "trial " << trial;
    }
  }
}

TEST_F(TriangleWalk, QuadAtTheGraphsOwnSizeChangesExactlyItsRectangle) {
  Image dest(40, 30, MemImgKind32);
  Image src(16, 8, MemImgKind32);
  FillCoordinates(src);
  const std::uint32_t background = 0xFF000000;
  dest.Fill(background);
  ResetStateFor(dest);
  ASSERT_EQ(0, DrawQuadGraphSoft(&dest.m, 10, 5, 26, 5, 10, 13, 26, 13, &src.m, 0));
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x < 26 && y >= 5 && y < 13;
      EXPECT_EQ(inside ? src.Get(x - 10, y - 5) : background, dest.Get(x, y)) << x << "," << y;
    }
  }
}

TEST_F(TriangleWalk, BothHalvesOfAQuadDrawTheSharedDiagonal) {
  Image dest(12, 12, MemImgKind32);
  Image src(8, 8, MemImgKind32);
  src.Fill(0x00000001);
  ResetStateFor(dest);
  SetDrawBlendMode(BlendAdd, 255);
  DrawQuadGraphSoft(&dest.m, 0, 0, 8, 0, 0, 8, 8, 8, &src.m, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      // Pixel (8 - y, y) lies on the diagonal 2-3; at y = 0 it is column 8, outside the source.
      const std::uint32_t expected = x == 8 - y ? 2 : 1;
      EXPECT_EQ(expected, dest.Get(x, y)) << x << "," << y;
    }
  }
}

TEST_F(TriangleWalk, NudgedSecondSegmentLeavesASharedEdgePixelToOneHalf) {
  // The right side's second segment starts one unit right of the middle vertex, so here the
  // first half ends a row at x = 10 and the second starts at x = 11: (11, 4) is drawn once.
  Image dest(24, 10, MemImgKind32);
  ResetStateFor(dest);
  SetDrawBlendMode(BlendAdd, 255);
  const TriVertex corners[4] = {{0, 0, 0, 0}, {10, 2, 0, 0}, {11, 6, 0, 0}, {20, 5, 0, 0}};
  DrawMemImgTriangle(&dest.m, nullptr, &corners[0], 0, nullptr, 1);
  DrawMemImgTriangle(&dest.m, nullptr, &corners[1], 0, nullptr, 1);
  EXPECT_EQ(1u, dest.Get(10, 4));
  EXPECT_EQ(1u, dest.Get(11, 4));
}

TEST_F(TriangleWalk, NegativeCoordinatesTruncateTowardZero) {
  // Shifted up by three rows, the triangle's rows land one row lower than a plain shift would.
  Image dest(8, 4, MemImgKind32);
  ResetStateFor(dest);
  DrawFlat(dest, {{{0, -3}, {4, -3}, {0, 1}}});
  EXPECT_EQ((std::vector<std::string>{"###.....", "##......", "........", "........"}), Picture(dest));
}

TEST_F(TriangleWalk, SpanClippedAtTheAreaKeepsItsTextureCoordinates) {
  Image dest(10, 10, MemImgKind32);
  Image src(10, 10, MemImgKind32);
  FillCoordinates(src);
  ResetStateFor(dest);
  SetDrawArea(3, 1, 6, 4);
  const TriVertex v[3] = {{0, 0, 0, 0}, {9, 0, 9, 0}, {0, 9, 0, 9}};
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool inside = x >= 3 && x < 6 && y >= 1 && y < 4;
      EXPECT_EQ(inside ? src.Get(x, y) : 0u, dest.Get(x, y)) << x << "," << y;
    }
  }
}

TEST_F(TriangleWalk, WritesNeverLeaveTheAreaOrTheDestination) {
  // The destination is a window of a larger canvas; everything around it must stay.
  Image canvas(64, 64, MemImgKind32);
  const std::uint32_t guard = 0x5A5A5A5A;
  canvas.Fill(guard);
  MEMIMG window{};
  ASSERT_EQ(0, DeriveMemImg(&window, &canvas.m, 16, 16, 32, 32));
  Image src(64, 64, MemImgKind32);
  FillCoordinates(src);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> any(TriCoordMin, TriCoordMax);
  std::uniform_int_distribution<int> near(-40, 70);
  const int modes[7] = {BlendNone, BlendAlpha, BlendAdd, BlendSub, BlendMul, BlendInverted, BlendMulFade};
  for (int trial = 0; trial < 400; ++trial) {
    ResetDrawState();
    SetDrawScreenSize(32, 32);
    SetDrawBlendMode(modes[trial % 7], 100);
    if (trial % 3 == 0) {
      // A stale area reaching far past the destination.
      DrawState& s = GetDrawState();
      s.drawAreaLeft = -50;
      s.drawAreaTop = -50;
      s.drawAreaRight = 500;
      s.drawAreaBottom = 500;
    } else {
      SetDrawArea(4, 6, 20, 25);
    }
    TriVertex v[3];
    for (auto& p : v) {
      if (trial % 2 == 0) {
        p = {any(rng), any(rng), any(rng), any(rng)};
      } else {
        p = {near(rng), near(rng), near(rng), near(rng)};
      }
    }
    DrawMemImgTriangle(&window, trial % 4 == 0 ? nullptr : &src.m, v, trial & 1, nullptr, 0xFFFFFF);
    for (int y = 0; y < 64; ++y) {
      for (int x = 0; x < 64; ++x) {
        const bool inWindow = x >= 16 && x < 48 && y >= 16 && y < 48;
        const bool inArea = trial % 3 == 0 || (x >= 20 && x < 36 && y >= 22 && y < 41);
        if (!inWindow || !inArea) {
          ASSERT_EQ(guard, canvas.Get(x, y)) << x << "," << y << " trial " << trial;
        }
      }
    }
    canvas.Fill(guard);
  }
  DeleteMemImg(&window);
}

TEST_F(TriangleWalk, HugeTrianglesAtTheEdgesOfTheRangeDrawSafely) {
  Image dest(32, 32, MemImgKind32);
  Image src(8192, 1, MemImgKind32);
  ResetStateFor(dest);
  // Spans of 16383 pixels and thin slivers with enormous texture gradients.
  const TriVertex wide[3] = {{-8192, -8192, -8192, 0}, {8191, -8192, 8191, 0}, {0, 8191, 0, 0}};
  DrawMemImgTriangle(&dest.m, &src.m, wide, 0, nullptr, 0);
  const TriVertex sliver[3] = {{-8192, 0, -8192, -8192}, {8191, 1, 8191, 8191}, {-8192, 1, 8191, -8192}};
  DrawMemImgTriangle(&dest.m, &src.m, sliver, 1, nullptr, 0);
  DrawMemImgTriangle(&dest.m, nullptr, wide, 0, nullptr, Ink);
  EXPECT_EQ(Ink, dest.Get(0, 0));
  EXPECT_EQ(Ink, dest.Get(31, 31));
}

TEST_F(TriangleWalk, CoordinatesOutsideTheRangeAreRefused) {
  Image dest(8, 8, MemImgKind32);
  Image src(8, 8, MemImgKind32);
  src.Fill(0x00FFFFFF);
  ResetStateFor(dest);
  const TriVertex good[3] = {{0, 0, 0, 0}, {6, 0, 6, 0}, {0, 6, 0, 6}};
  const TriVertex badX[3] = {{0, 0, 0, 0}, {8192, 0, 6, 0}, {0, 6, 0, 6}};
  const TriVertex badY[3] = {{0, -8193, 0, 0}, {6, 0, 6, 0}, {0, 6, 0, 6}};
  const TriVertex badU[3] = {{0, 0, 0, 0}, {6, 0, 8192, 0}, {0, 6, 0, 6}};
  const TriVertex badV[3] = {{0, 0, 0, 0}, {6, 0, 6, 0}, {0, 6, 0, -8193}};
  for (const TriVertex* v : {badX, badY, badU, badV}) {
    DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
    EXPECT_EQ(0, dest.CountNot(0));
  }
  // Without a source u and v play no part.
  DrawMemImgTriangle(&dest.m, nullptr, badU, 0, nullptr, Ink);
  EXPECT_EQ(Ink, dest.Get(0, 0));
  dest.Fill(0);
  DrawMemImgTriangle(&dest.m, &src.m, good, 0, nullptr, 0);
  EXPECT_EQ(0x00FFFFFFu, dest.Get(0, 0));
}

TEST_F(TriangleWalk, UnusableImagesAreRefused) {
  Image dest(8, 8, MemImgKind32);
  Image dest16(8, 8, MemImgKind16);
  Image src(8, 8, MemImgKind32);
  Image src16(8, 8, MemImgKind16);
  Image tooWide(8193, 1, MemImgKind32);
  Image paletteDest(8, 8, MemImgKind32, 1);
  Image alphaDest(8, 8, MemImgKind32, 0, 1);
  src.Fill(0x00FFFFFF);
  src16.Fill(0xFFFF);
  tooWide.Fill(0x00FFFFFF);
  ResetStateFor(dest);
  const TriVertex v[3] = {{0, 0, 0, 0}, {6, 0, 6, 0}, {0, 6, 0, 6}};

  DrawMemImgTriangle(&dest.m, &src16.m, v, 0, nullptr, 0);  // kinds differ
  DrawMemImgTriangle(&dest16.m, &src.m, v, 0, nullptr, 0);
  DrawMemImgTriangle(&dest.m, &tooWide.m, v, 0, nullptr, 0);  // side above 8192
  DrawMemImgTriangle(&paletteDest.m, &src.m, v, 0, nullptr, 0);
  DrawMemImgTriangle(&alphaDest.m, &src.m, v, 0, nullptr, 0);
  DrawMemImgTriangle(&dest.m, &src.m, nullptr, 0, nullptr, 0);
  DrawMemImgTriangle(nullptr, &src.m, v, 0, nullptr, 0);
  EXPECT_EQ(0, dest.CountNot(0));
  EXPECT_EQ(0, dest16.CountNot(0));
  EXPECT_EQ(0, paletteDest.CountNot(0));
  EXPECT_EQ(0, alphaDest.CountNot(0));

  // A pitch too small for the width, and a kind that is neither 0 nor 1.
  src.m.shared->pitch = 8;
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  src.m.shared->pitch = 32;
  dest.m.shared->kind = 2;
  src.m.shared->kind = 2;
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  dest.m.shared->kind = MemImgKind32;
  src.m.shared->kind = MemImgKind32;
  EXPECT_EQ(0, dest.CountNot(0));

  EXPECT_EQ(-1, DrawQuadGraphSoft(&dest.m, 0, 0, 4, 0, 0, 4, 4, 4, nullptr, 0));
  EXPECT_EQ(-1, DrawQuadGraphSoft(nullptr, 0, 0, 4, 0, 0, 4, 4, 4, &src.m, 0));
}

TEST_F(TriangleWalk, ModesWithoutKernelsAndZeroParametersDrawNothing) {
  Image dest(8, 8, MemImgKind32);
  Image src(8, 8, MemImgKind32);
  Image palette(8, 8, MemImgKind32, 1);
  src.Fill(0x00808080);
  ResetStateFor(dest);
  dest.Fill(0x00404040);
  const TriVertex v[3] = {{0, 0, 0, 0}, {6, 0, 6, 0}, {0, 6, 0, 6}};
  for (int mode : {5, 6, 7, 8, 9, 12, 100, -1}) {
    SetDrawBlendMode(mode, 128);
    DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
    DrawMemImgTriangle(&dest.m, nullptr, v, 0, nullptr, 0x00FFFFFF);
  }
  for (int mode : {BlendAlpha, BlendAdd, BlendSub}) {
    SetDrawBlendMode(mode, 0);
    DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
    DrawMemImgTriangle(&dest.m, nullptr, v, 0, nullptr, 0x00FFFFFF);
  }
  EXPECT_EQ(0, dest.CountNot(0x00404040));

  // A palette source subtracts even at parameter 0 (with nothing: only the guard bits move).
  SetDrawBlendMode(BlendSub, 0);
  DrawMemImgTriangle(&dest.m, &palette.m, v, 0, nullptr, 0);
  EXPECT_EQ(0x00414140u, dest.Get(0, 0));
}

TEST_F(TriangleWalk, BlendImageSmallerThanTheSourceBoundsTheSampling) {
  Image dest(8, 8, MemImgKind32);
  Image src(8, 8, MemImgKind32);
  Image blend(3, 2, MemImgKind16);  // 3 columns of bytes, 2 rows
  src.Fill(0x00FFFFFF);
  blend.Fill(0);
  ResetStateFor(dest);
  const TriVertex v[3] = {{0, 0, 0, 0}, {7, 0, 7, 0}, {0, 7, 0, 7}};
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, &blend.m, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const bool sampled = x < 3 && y < 2;
      EXPECT_EQ(sampled, dest.Get(x, y) != 0) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace gamelib::rastertest
