// The rasteriser's conventions on small worked cases: coverage, sampling, the stage
// cascade, the tests, blending and every pixel layout.
#include <cmath>
#include <limits>

#include "d3d_raster_fixture.h"

namespace {

using namespace rastertest;

// Each draw adds 1 to every channel of the pixels it covers.
struct Counter {
  Image target{Layout::A8R8G8B8, 24, 20};
  Device device{target};
  Counter() { device.Blend(D3DBLEND_ONE, D3DBLEND_ONE); }
  int At(int x, int y) { return int(target.Argb(x, y) & 0xFF); }
  int Total() {
    int n = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 24; ++x) n += At(x, y);
    return n;
  }
};

TEST(Raster, TrianglesSharingEdgesCoverEachCentreOnce) {
  // A fan of eight triangles around an off-grid centre, rims on centres and between them.
  for (float cx : {11.0f, 11.5f, 11.3f}) {
    Counter c;
    const float rim[8][2] = {{3, 2},   {12, 1},     {21, 2.5f}, {22, 10},
                             {20, 18}, {11.5f, 19}, {2, 17},    {1.5f, 9}};
    std::vector<TexVertex> v;
    for (int k = 0; k < 8; ++k) {
      const float* a = rim[k];
      const float* b = rim[(k + 1) % 8];
      v.push_back({cx, 9.75f, 0, 1, 0x01010101, 0, 0});
      v.push_back({a[0], a[1], 0, 1, 0x01010101, 0, 0});
      v.push_back({b[0], b[1], 0, 1, 0x01010101, 0, 0});
    }
    c.device.Draw(D3DPT_TRIANGLELIST, v);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 24; ++x) ASSERT_LE(c.At(x, y), 1) << x << "," << y;
    EXPECT_GT(c.Total(), 250);
  }
  // A rectangle on integer corners covers [L, R) x [T, B) exactly (top-left rule).
  Counter c;
  c.device.Draw(D3DPT_TRIANGLELIST, Quad(10, 10, 20, 15, 0x01010101));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 24; ++x)
      EXPECT_EQ(c.At(x, y), x >= 10 && x < 20 && y >= 10 && y < 15) << x << "," << y;
}

TEST(Raster, ZeroAreaAndDegenerateStripJoinsCoverNothing) {
  Counter c;
  const TexVertex a{2, 2, 0, 1, 0x01010101, 0, 0}, b{12, 7, 0, 1, 0x01010101, 0, 0},
      m{7, 4.5f, 0, 1, 0x01010101, 0, 0};
  EXPECT_EQ(c.device.Draw(D3DPT_TRIANGLELIST, std::vector<TexVertex>{a, b, m, a, a, b}).trianglesDrawn, 0);
  EXPECT_EQ(c.Total(), 0);
  // Two strips of quads joined by repeated indices: every centre once, joins draw nothing.
  std::vector<TexVertex> grid;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col)
      grid.push_back({4.0f + 5 * col, 3.0f + 5 * row, 0, 1, 0x01010101, 0, 0});
  const std::vector<WORD> strips = {0, 3, 1, 4, 2, 5, 5, 3, 3, 6, 4, 7, 5, 8};
  const DrawReport r = c.device.Draw(D3DPT_TRIANGLESTRIP, grid, &strips);
  EXPECT_EQ(r.trianglesDrawn, 8);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 24; ++x) EXPECT_EQ(c.At(x, y), x >= 4 && x < 14 && y >= 3 && y < 13) << x << "," << y;
}

class EveryLayout : public ::testing::TestWithParam<Layout> {};

// A texture drawn 1:1 with the -0.5 shift lands texel for texel, point or linear, at any
// size; a 16-bit texture onto its own layout keeps the raw bits.
TEST_P(EveryLayout, OneToOneQuadReproducesTheTexture) {
  for (bool linear : {false, true}) {
    Image tex(GetParam(), 37, 23), target(GetParam(), 50, 30);
    std::uint32_t seed = 99;
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) tex.SetRaw(x, y, NextRandom(seed));
    Device d(target);
    d.Texture(tex, linear);
    d.Draw(D3DPT_TRIANGLELIST, Quad(5 - 0.5f, 4 - 0.5f, 42 - 0.5f, 27 - 0.5f));
    const std::uint32_t mask = platform::pixel::ARGBToRaw(GetParam(), 0xFFFFFFFF);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 50; ++x) {
        const bool inside = x >= 5 && x < 42 && y >= 4 && y < 27;
        ASSERT_EQ(target.Raw(x, y), inside ? tex.Raw(x - 5, y - 4) & mask : 0)
            << linear << " " << x << "," << y;
      }
  }
}

// Reading expands by bit replication and writing truncates: a full-range colour
// written to a layout and read back is the layout's own expansion of it.
TEST_P(EveryLayout, ColoursRoundTripThroughTheLayout) {
  Image target(GetParam(), 4, 4);
  Device d(target);
  for (DWORD colour : {0x00000000u, 0xFFFFFFFFu, 0x80C04010u, 0x7F3F1F0Fu}) {
    d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, colour));
    const std::uint32_t raw = platform::pixel::ARGBToRaw(GetParam(), colour);
    EXPECT_EQ(target.Raw(1, 1), raw);
    EXPECT_EQ(platform::pixel::ARGBToRaw(GetParam(), target.Argb(1, 1)), raw);
  }
}

INSTANTIATE_TEST_SUITE_P(Raster, EveryLayout,
                         ::testing::Values(Layout::R5G6B5, Layout::X1R5G5B5, Layout::A1R5G5B5,
                                           Layout::A4R4G4B4, Layout::X4R4G4B4, Layout::X8R8G8B8,
                                           Layout::A8R8G8B8));

// TFACTOR 0x80C04010 goes through stage 0 as the current colour; stage 1 combines it
// (CURRENT) with the diffuse 0x4060FF20.
TEST(Raster, StageOperationsOnWorkedValues) {
  struct Row {
    DWORD op;
    std::uint32_t expected;
  } rows[] = {
      {D3DTOP_SELECTARG1, 0x80C04010},        {D3DTOP_SELECTARG2, 0x4060FF20},
      {D3DTOP_MODULATE, 0x20484002},          {D3DTOP_MODULATE2X, 0x40918004},
      {D3DTOP_MODULATE4X, 0x81FFFF08},        {D3DTOP_ADD, 0xC0FFFF30},
      {D3DTOP_SUBTRACT, 0x40600000},          {D3DTOP_BLENDDIFFUSEALPHA, 0x5078CF1C},
      {D3DTOP_BLENDCURRENTALPHA, 0x60909F18},
  };
  for (const Row& row : rows) {
    Image target(Layout::A8R8G8B8, 4, 4);
    Device d(target);
    d.rs[D3DRENDERSTATE_TEXTUREFACTOR] = 0x80C04010;
    d.Stage(0, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0);
    d.Stage(1, row.op, D3DTA_CURRENT, D3DTA_DIFFUSE, row.op, D3DTA_CURRENT, D3DTA_DIFFUSE);
    d.Stage(2, D3DTOP_DISABLE, 0, 0, D3DTOP_DISABLE, 0, 0);
    d.Stage(3, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0);  // stale: ignored
    d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0x4060FF20));
    EXPECT_EQ(target.Argb(2, 2), row.expected) << "op " << row.op;
  }
  // Complement, specular, an empty texture stage, and stage 0 disabled.
  struct Case {
    DWORD cop, c1, aop, a1;
    std::uint32_t expected;
  } cases[] = {
      {D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, D3DTOP_SELECTARG1, D3DTA_SPECULAR, 0x129F00DF},
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, 0x0060FF20},
      {D3DTOP_DISABLE, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_TFACTOR, 0x4060FF20},
  };
  for (const Case& k : cases) {
    Image target(Layout::A8R8G8B8, 4, 4);
    Device d(target);
    d.Stage(0, k.cop, k.c1, D3DTA_DIFFUSE, k.aop, k.a1, D3DTA_DIFFUSE);
    BlendVertex a{0, 0, 0, 1, 0x4060FF20, 0x12345678, 0, 0, 0, 0}, b = a, c = a;
    b.x = 4, c.y = 4;
    d.Draw(D3DPT_TRIANGLELIST, std::vector<BlendVertex>{a, b, c});
    EXPECT_EQ(target.Argb(1, 1), k.expected) << "op " << k.cop;
  }
}

// Source 0x80C04010 over destination 0x4060FF20: each factor as the source factor (with
// destination ONE) and as the destination factor (with source ZERO).
TEST(Raster, BlendFactorsOnWorkedValues) {
  struct Row {
    DWORD factor;
    std::uint32_t asSource, asDest;
  } rows[] = {
      {D3DBLEND_ZERO, 0x4060FF20, 0x00000000},      {D3DBLEND_ONE, 0xC0FFFF30, 0x4060FF20},
      {D3DBLEND_SRCCOLOR, 0x80F1FF21, 0x20484002},  {D3DBLEND_INVSRCCOLOR, 0x808FFF2F, 0x2018BF1E},
      {D3DBLEND_SRCALPHA, 0x80C0FF28, 0x20308010},  {D3DBLEND_INVSRCALPHA, 0x80C0FF28, 0x20307F10},
      {D3DBLEND_DESTALPHA, 0x6090FF24, 0x10184008}, {D3DBLEND_INVDESTALPHA, 0xA0F0FF2C, 0x3048BF18},
      {D3DBLEND_DESTCOLOR, 0x60A8FF22, 0x1024FF04}, {D3DBLEND_INVDESTCOLOR, 0xA0D8FF2E, 0x303C001C},
  };
  for (const Row& row : rows)
    for (bool source : {true, false}) {
      Image target(Layout::A8R8G8B8, 4, 4);
      target.Fill(0x4060FF20);
      Device d(target);
      d.Blend(source ? row.factor : D3DBLEND_ZERO, source ? D3DBLEND_ONE : row.factor);
      d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0x80C04010));
      EXPECT_EQ(target.Argb(2, 2), source ? row.asSource : row.asDest) << row.factor << " " << source;
    }
  // A destination without alpha reads 255.
  Image target(Layout::X8R8G8B8, 4, 4);
  Device d(target);
  d.Blend(D3DBLEND_DESTALPHA, D3DBLEND_ZERO);
  d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0x80C04010));
  EXPECT_EQ(target.Raw(2, 2), 0xC04010u);
}

// Alpha 0x80 against references; and z = 0.5 (32768) against a stored 32768 or 100.
TEST(Raster, AlphaAndZCompareFunctions) {
  struct Row {
    DWORD func;
    bool alpha7F, alpha80, alpha81, zEqual, zAbove;
  } rows[] = {
      {D3DCMP_NEVER, false, false, false, false, false},
      {D3DCMP_LESS, false, false, true, false, false},
      {D3DCMP_EQUAL, false, true, false, true, false},
      {D3DCMP_LESSEQUAL, false, true, true, true, false},
      {D3DCMP_GREATER, true, false, false, false, true},
      {D3DCMP_NOTEQUAL, true, false, true, false, true},
      {D3DCMP_GREATEREQUAL, true, true, false, true, true},
      {D3DCMP_ALWAYS, true, true, true, true, true},
  };
  for (const Row& row : rows) {
    const bool alphaExpect[3] = {row.alpha7F, row.alpha80, row.alpha81};
    for (int k = 0; k < 3; ++k) {
      Image target(Layout::A8R8G8B8, 4, 4);
      Device d(target);
      d.rs[D3DRENDERSTATE_ALPHATESTENABLE] = 1;
      d.rs[D3DRENDERSTATE_ALPHAFUNC] = row.func;
      d.rs[D3DRENDERSTATE_ALPHAREF] = 0xFFFFFF7F + k;  // only the low byte counts
      d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0x80FFFFFF));
      EXPECT_EQ(target.Argb(1, 1) != 0, alphaExpect[k]) << row.func << " ref " << k;
    }
    for (std::uint16_t stored : {std::uint16_t(32768), std::uint16_t(100)}) {
      Image target(Layout::R5G6B5, 4, 4), z(Layout::D16, 4, 4);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) z.SetRaw(x, y, stored);
      Device d(target);
      d.state.z = &z.surface;
      d.rs[D3DRENDERSTATE_ZENABLE] = 1, d.rs[D3DRENDERSTATE_ZWRITEENABLE] = 1,
      d.rs[D3DRENDERSTATE_ZFUNC] = row.func;
      d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0xFFFFFFFF, 0.5f));
      const bool pass = stored == 32768 ? row.zEqual : row.zAbove;
      EXPECT_EQ(target.Raw(1, 1) != 0, pass) << row.func << " stored " << stored;
      EXPECT_EQ(z.Raw(1, 1), pass ? 32768u : stored);
    }
  }
  // Without ZENABLE = 1 (or without a Z surface) nothing is tested or written.
  Image target(Layout::R5G6B5, 4, 4), z(Layout::D16, 4, 4);
  Device d(target);
  d.state.z = &z.surface;
  d.rs[D3DRENDERSTATE_ZENABLE] = 2, d.rs[D3DRENDERSTATE_ZWRITEENABLE] = 1,
  d.rs[D3DRENDERSTATE_ZFUNC] = D3DCMP_NEVER;
  d.Draw(D3DPT_TRIANGLELIST, Quad(0, 0, 4, 4, 0xFFFFFFFF, 0.5f));
  EXPECT_EQ(target.Raw(1, 1), 0xFFFFu);
  EXPECT_EQ(z.Raw(1, 1), 0u);
}

TEST(Raster, ColourKeyDiscardsColourAndZ) {
  Image tex(Layout::X1R5G5B5, 2, 1), target(Layout::X8R8G8B8, 2, 1), z(Layout::D16, 2, 1);
  tex.SetRaw(0, 0, 0x801F);  // the key in its low 15 bits, with the unused bit set: not equal
  tex.SetRaw(1, 0, 0x001F);
  tex.surface.hasColorKey = true, tex.surface.colorKey = 0xFFFF001F;  // masked to 16 bits
  for (DWORD enable : {0, 1}) {
    Device d(target);
    d.Texture(tex);
    d.state.z = &z.surface;
    d.rs[D3DRENDERSTATE_COLORKEYENABLE] = enable;
    d.rs[D3DRENDERSTATE_ZENABLE] = 1, d.rs[D3DRENDERSTATE_ZWRITEENABLE] = 1,
    d.rs[D3DRENDERSTATE_ZFUNC] = D3DCMP_ALWAYS;
    target.Fill(0), z.SetRaw(0, 0, 7), z.SetRaw(1, 0, 7);
    d.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 1.5f, 0.5f, 0xFFFFFFFF, 1.0f));
    EXPECT_EQ(target.Raw(0, 0), 0x0000FFu);
    EXPECT_EQ(target.Raw(1, 0), enable ? 0u : 0x0000FFu);
    EXPECT_EQ(z.Raw(1, 0), enable ? 7u : 65535u);
  }
}

// A 4-texel row point-sampled at texels -2 .. 5 under each address mode.
TEST(Raster, AddressModesAndCoordinatePairs) {
  Image tex(Layout::A8R8G8B8, 4, 1), target(Layout::A8R8G8B8, 8, 1);
  for (int x = 0; x < 4; ++x) tex.SetRaw(x, 0, 0xFF000010u * (x + 1));
  struct Row {
    DWORD mode;
    int expected[8];  // texel + 1, 0 for the border
  } rows[] = {
      {D3DTADDRESS_CLAMP, {1, 1, 1, 2, 3, 4, 4, 4}},
      {D3DTADDRESS_WRAP, {3, 4, 1, 2, 3, 4, 1, 2}},
      {D3DTADDRESS_MIRROR, {2, 1, 1, 2, 3, 4, 4, 3}},
      {D3DTADDRESS_BORDER, {0, 0, 1, 2, 3, 4, 0, 0}},
  };
  for (const Row& row : rows) {
    Device d(target);
    d.Texture(tex);
    d.ss[0][D3DTSS_ADDRESSU] = row.mode, d.ss[0][D3DTSS_BORDERCOLOR] = 0x11223344;
    std::vector<TexVertex> v = Quad(-0.5f, -0.5f, 7.5f, 0.5f);
    for (TexVertex& p : v) p.u = p.u * 2 - 0.5f;  // s = x - 1.5 at centre x
    d.Draw(D3DPT_TRIANGLELIST, v);
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(target.Raw(x, 0), row.expected[x] ? 0xFF000010u * row.expected[x] : 0x11223344u)
          << row.mode << " " << x;
  }
  // TEXCOORDINDEX picks the pair; a pair the format lacks reads (0, 0).
  for (DWORD index : {0, 1, 2}) {
    Device d(target);
    d.Texture(tex);
    d.ss[0][D3DTSS_TEXCOORDINDEX] = index;
    BlendVertex a{-1, -1, 0, 1, 0, 0, 0.9f, 0, 0.3f, 0}, b = a, c = a;
    b.x = 20, c.y = 20;
    d.Draw(D3DPT_TRIANGLELIST, std::vector<BlendVertex>{a, b, c});
    EXPECT_EQ(target.Raw(0, 0), 0xFF000010u * (index == 0 ? 4 : index == 1 ? 2 : 1)) << index;
  }
}

TEST(Raster, ViewportFlatShadingAndCullingWithStripParity) {
  Counter c;
  c.device.state.viewport = {3, 4, 5, 6, 0, 1};
  c.device.Draw(D3DPT_TRIANGLELIST, Quad(-100, -100, 100, 100, 0x01010101));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 24; ++x) EXPECT_EQ(c.At(x, y), x >= 3 && x < 8 && y >= 4 && y < 10);

  // A strip of four: triangle 0 is clockwise on screen, triangle 1 (odd) reversed, so
  // both have the same facing; the colour is that of vertex 0 and vertex 1.
  const std::vector<TexVertex> strip = {{0, 0, 0, 1, 0xFF0000FF, 0, 0},
                                        {8, 0, 0, 1, 0xFF00FF00, 0, 0},
                                        {0, 8, 0, 1, 0xFFFF0000, 0, 0},
                                        {8, 8, 0, 1, 0xFFFFFFFF, 0, 0}};
  for (DWORD cull : {D3DCULL_NONE, D3DCULL_CW, D3DCULL_CCW}) {
    Image target(Layout::A8R8G8B8, 8, 8);
    Device d(target);
    d.rs[D3DRENDERSTATE_CULLMODE] = cull;
    d.Draw(D3DPT_TRIANGLESTRIP, strip);
    EXPECT_EQ(target.Argb(1, 1), cull == D3DCULL_CW ? 0u : 0xFF0000FFu) << cull;
    EXPECT_EQ(target.Argb(6, 6), cull == D3DCULL_CW ? 0u : 0xFF00FF00u) << cull;
    std::vector<TexVertex> list = {strip[0], strip[2], strip[1]};  // counter-clockwise
    target.Fill(0);
    d.Draw(D3DPT_TRIANGLELIST, list);
    EXPECT_EQ(target.Argb(1, 1), cull == D3DCULL_CCW ? 0u : 0xFF0000FFu) << cull;
  }
}

TEST(Raster, BadVerticesAndIndicesAreSkippedAndCounted) {
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       4194304.0f, -5e9f};
  for (float b : bad)
    for (int coordinate = 0; coordinate < 3; ++coordinate) {
      Counter c;
      std::vector<TexVertex> v = Quad(0, 0, 10, 10, 0x01010101);
      (&v[4].x)[coordinate] = b;  // the second triangle only
      const DrawReport r = c.device.Draw(D3DPT_TRIANGLELIST, v);
      const bool skipped = coordinate < 2 || !std::isfinite(b);  // a huge z only clamps
      EXPECT_EQ(r.trianglesSkipped, skipped ? 1 : 0);
      EXPECT_EQ(c.Total(), skipped ? 55 : 100);  // the first triangle: centres with x + y < 10
    }
  Counter c;
  const std::vector<TexVertex> v = Quad(0, 0, 10, 10, 0x01010101);
  const std::vector<WORD> indices = {0, 1, 2, 3, 6, 5, 600, 1, 2, 3, 4};  // 2 trailing ignored
  const DrawReport r = c.device.Draw(D3DPT_TRIANGLELIST, v, &indices);
  EXPECT_EQ(r.badIndices, 2);
  EXPECT_EQ(r.trianglesDrawn, 1);
  EXPECT_EQ(c.Total(), 55);
  const std::vector<WORD> two = {0, 1};
  EXPECT_EQ(c.device.Draw(D3DPT_TRIANGLESTRIP, v, &two).trianglesDrawn, 0);
  EXPECT_EQ(platform::raster::DrawTriangles(c.device.state, 6, 0x144, v.data(), 6, nullptr, 0, nullptr),
            D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(platform::raster::DrawTriangles(c.device.state, D3DPT_TRIANGLELIST, 0x104, v.data(), 6, nullptr,
                                            0, nullptr),
            D3DERR_INVALIDVERTEXFORMAT);
}

}  // namespace
