// Every blend mode through DrawGraph, pixel by pixel on 16- and 32-bit screens, against
// the device's stage and blend arithmetic worked out here from the texels; the blend
// graph's border at its edge parameters; the programmes on the trace and the cache.
#include "drawing_fixture.h"

namespace gamelib {
namespace {

struct BlendCase {
  int mode;
  int parameter;
  int red, green, blue;  // brightness
};

// One channel (0 blue, 1 green, 2 red) of a textured draw of an opaque texel t onto d,
// with the target's storage applied between the passes of the mode-3 emulation.
std::uint32_t ExpectedChannel(const BlendCase& k, int c, std::uint32_t t, std::uint32_t d,
                              const std::function<std::uint32_t(int, std::uint32_t)>& store) {
  const std::uint32_t bright[3] = {static_cast<std::uint32_t>(k.blue), static_cast<std::uint32_t>(k.green),
                                   static_cast<std::uint32_t>(k.red)};
  const bool useColour = k.red < 255 || k.green < 255 || k.blue < 255;
  const std::uint32_t a = k.mode == 0 ? 255 : static_cast<std::uint32_t>(k.parameter);
  std::uint32_t s = k.mode == 10 ? 255 - t : t;
  if (useColour) s = Div255(s * bright[c]);
  if (k.mode == 11) s = Div255(s * a + 255 * (255 - a));  // fade toward the white factor
  switch (k.mode) {
    case 0:
    case 6:
      return s;
    case 1:
    case 10:
      return Div255(s * a + d * (255 - a));
    case 2:
    case 5:
      return std::min(255u, Div255(s * a + d * 255));
    case 3: {
      // Complement, add, complement.
      const std::uint32_t inverted = store(c, 255 - d);
      const std::uint32_t added = store(c, std::min(255u, Div255(s * a + inverted * 255)));
      return 255 - added;
    }
    case 4:
    case 11:
      return Div255(d * s);
    case 8:
      return d;
    case 9:
      return Div255(s * (255 - d));
  }
  return 0;
}

class BlendModeTest : public DrawingTest, public ::testing::WithParamInterface<int> {};

TEST_P(BlendModeTest, EveryModeDrawsTheBlendOfTexelAndScreen) {
  StartAt(GetParam());
  const int graph = MakePatternGraph(16, 8, 3);
  ASSERT_GE(graph, 0);
  const BlendCase cases[] = {
      {0, 0, 255, 255, 255},    {0, 77, 128, 200, 30},    {1, 0, 255, 255, 255},    {1, 128, 255, 255, 255},
      {1, 200, 90, 160, 255},   {1, 255, 255, 255, 255},  {2, 64, 255, 255, 255},   {2, 255, 200, 100, 50},
      {3, 128, 255, 255, 255},  {3, 255, 180, 255, 90},   {4, 0, 255, 255, 255},    {4, 99, 60, 120, 240},
      {5, 180, 255, 255, 255},  {6, 40, 255, 255, 255},   {8, 200, 255, 255, 255},  {9, 255, 255, 255, 255},
      {9, 10, 128, 128, 128},   {10, 255, 255, 255, 255}, {10, 100, 200, 220, 240}, {11, 0, 255, 255, 255},
      {11, 128, 255, 255, 255}, {11, 230, 70, 140, 210},
  };
  const DDPIXELFORMAT target = sim::ViewSurface(back_).format;
  const auto store = [&target](int c, std::uint32_t v) {
    return Channel(MaskedToArgb(target, ArgbToMasked(target, v << (8 * c))), c);
  };
  for (const BlendCase& k : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << k.mode << " parameter " << k.parameter << " brightness "
                                    << k.red << "," << k.green << "," << k.blue);
    Paint(100, 100, 116, 108, static_cast<std::uint32_t>(k.mode * 31 + k.parameter + 1));
    std::uint32_t before[8][16];
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 16; ++x) before[y][x] = Pixel(100 + x, 100 + y);
    }
    SetDrawBlendMode(k.mode, k.parameter);
    SetDrawBrightness(k.red, k.green, k.blue);
    ASSERT_EQ(DrawGraph(100, 100, graph, 0), 0);
    Settle();
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 16; ++x) {
        const std::uint32_t t = Texel(graph, x, y);
        std::uint32_t want = 0;
        for (int c = 0; c < 3; ++c) {
          want |= ExpectedChannel(k, c, Channel(t, c), Channel(before[y][x], c), store) << (8 * c);
        }
        ASSERT_EQ(Pixel(100 + x, 100 + y), Quantize(want)) << "pixel " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, BlendModeTest, ::testing::Values(16, 32));

// Untextured fading works from the start: before any textured draw has sent a texture
// factor, mode 11 fades the box colour toward white, not black.
TEST_F(DrawingTest, UntexturedFadingBeforeAnyTexturedDrawFadesTowardWhite) {
  StartAt(32);
  Paint(10, 10, 18, 14, 7);
  std::uint32_t before[4][8];
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) before[y][x] = Pixel(10 + x, 10 + y);
  }
  const std::size_t mark = sim::DisplayTraceMark();
  const BlendCase k{11, 100, 255, 255, 255};
  const std::uint32_t colour = 0x4080C0;
  SetDrawBlendMode(k.mode, k.parameter);
  ASSERT_EQ(DrawFillBox(10, 10, 18, 14, GetColor(0x40, 0x80, 0xC0)), 0);
  Settle();
  SetDrawBlendMode(0, 0);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::DrawPrimitive), 1u);
  EXPECT_EQ(sim::ViewDevice().renderState[D3DRENDERSTATE_TEXTUREFACTOR], 0xFFFFFFFFu);
  const auto same = [](int, std::uint32_t v) { return v; };
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 8; ++x) {
      std::uint32_t want = 0;
      for (int c = 0; c < 3; ++c) {
        want |= ExpectedChannel(k, c, Channel(colour, c), Channel(before[y][x], c), same) << (8 * c);
      }
      ASSERT_EQ(Pixel(10 + x, 10 + y), Quantize(want)) << "pixel " << x << "," << y;
    }
  }
}

class BlendGraphTest : public DrawingTest, public ::testing::WithParamInterface<int> {
 protected:
  // Starts at the test's depth with a 16 x 16 pattern graph and a blend graph for it.
  void StartWithImageAndBlend() {
    StartAt(GetParam());
    image = MakePatternGraph(16, 16, 5);
    blend = MakePatternGraph(16, 16, 9, true);
    ASSERT_GE(image, 0);
    ASSERT_GE(blend, 0);
  }
  int image = -1;
  int blend = -1;
};

// Stage 0 shifts the blend graph's alpha by the factor; soft borders stretch it by 4
// (range up to 64) and blend by it, hard borders test it against the parameter.
TEST_P(BlendGraphTest, TheBorderShowsTheImageWhereTheBlendGraphPassesIt) {
  ASSERT_NO_FATAL_FAILURE(StartWithImageAndBlend());
  for (int range : {0, 64}) {
    for (int p : {0, 128, 255}) {
      SCOPED_TRACE(testing::Message() << "range " << range << " parameter " << p);
      Paint(200, 200, 216, 216, static_cast<std::uint32_t>(range + p + 7));
      std::uint32_t before[16][16];
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) before[y][x] = Pixel(200 + x, 200 + y);
      }
      ASSERT_EQ(SetBlendGraph(blend, p, range), 0);
      ASSERT_EQ(DrawGraph(200, 200, image, 0), 0);
      Settle();
      // Soft border: t and the factor alpha of the stretch by 4.
      const int t = 1280 - (p * 1280) / 255;
      const bool subtract = t < 1024;
      const std::uint32_t factor = subtract ? 255 - (t * 255) / 1024 : ((t - 1024) * 64) / 256;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
          const std::uint32_t ba = Channel(Texel(blend, x, y), 3);
          const std::uint32_t tex = Texel(image, x, y) & 0xFFFFFF;
          std::uint32_t want = before[y][x];
          if (p == 255) {
            want = before[y][x];  // the batch is thrown away
          } else if (range <= 1) {
            if (ba >= static_cast<std::uint32_t>(p)) want = tex;
          } else {
            const std::uint32_t shifted =
                subtract ? (ba > factor ? ba - factor : 0) : std::min(255u, ba + factor);
            const std::uint32_t a = std::min(255u, Div255(4 * shifted * 255));
            want = 0;
            for (int c = 0; c < 3; ++c) {
              want |= Div255(Channel(tex, c) * a + Channel(before[y][x], c) * (255 - a)) << (8 * c);
            }
          }
          ASSERT_EQ(Pixel(200 + x, 200 + y), Quantize(want)) << "pixel " << x << "," << y << " alpha " << ba;
        }
      }
    }
  }
  SetBlendGraph(-1, -1, -1);
}

INSTANTIATE_TEST_SUITE_P(Depths, BlendGraphTest, ::testing::Values(16, 32));

// The blend factors and stage-0 colour operation each textured mode puts on the device.
TEST_F(DrawingTest, EachModeSendsItsFactorsAndARunInOneModeSendsNothingTwice) {
  StartAt(32);
  const int graph = MakePatternGraph(16, 16, 1);
  struct Row {
    int mode;
    DWORD src, dest, blending, colourArg;
  };
  const Row rows[] = {
      {1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1, D3DTA_TEXTURE},
      {2, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 1, D3DTA_TEXTURE},
      {4, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1, D3DTA_TEXTURE},
      {9, D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO, 1, D3DTA_TEXTURE},
      {10, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1, D3DTA_TEXTURE | D3DTA_COMPLEMENT},
      {11, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1, D3DTA_TEXTURE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    SetDrawBlendMode(row.mode, 100);
    const std::size_t mark = sim::DisplayTraceMark();
    ASSERT_EQ(DrawGraph(10, 10, graph, 0), 0);
    const auto sent = [&](DWORD state) {
      auto calls =
          sim::DisplayCallsSince(mark, sim::DisplayCall::SetRenderState,
                                 [state](const sim::DisplayCallRecord& r) { return r.type == state; });
      return calls.empty() ? 0xDEADu : calls.back().value;
    };
    const sim::DeviceView device = sim::ViewDevice();
    EXPECT_EQ(device.renderState[D3DRENDERSTATE_SRCBLEND], row.src);
    EXPECT_EQ(device.renderState[D3DRENDERSTATE_DESTBLEND], row.dest);
    EXPECT_EQ(device.renderState[D3DRENDERSTATE_ALPHABLENDENABLE], row.blending);
    EXPECT_EQ(device.stageState[0][D3DTSS_COLORARG1], row.colourArg);
    EXPECT_NE(sent(D3DRENDERSTATE_SRCBLEND) | sent(D3DRENDERSTATE_DESTBLEND), 0xDEADu);
    if (row.mode == 11) {
      EXPECT_EQ(device.stageState[1][D3DTSS_COLOROP], static_cast<DWORD>(D3DTOP_BLENDCURRENTALPHA));
      EXPECT_EQ(device.stageState[2][D3DTSS_COLOROP], static_cast<DWORD>(D3DTOP_DISABLE));
    }
    // A run of draws in the same mode: no state reaches the device again, one batch.
    const std::size_t run = sim::DisplayTraceMark();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(DrawGraph(i * 3, 40, graph, 0), 0);
    Settle();
    EXPECT_EQ(CountCalls(run, sim::DisplayCall::SetRenderState), 0u);
    EXPECT_EQ(CountCalls(run, sim::DisplayCall::SetTextureStageState), 0u);
    EXPECT_EQ(CountCalls(run, sim::DisplayCall::SetTexture), 0u);
    EXPECT_EQ(CountCalls(run, sim::DisplayCall::DrawPrimitive), 1u);
  }
  // Mode 7 switches blending on and leaves the factors of the mode before.
  const std::size_t mark = sim::DisplayTraceMark();
  SetDrawBlendMode(7, 100);
  ASSERT_EQ(DrawGraph(10, 10, graph, 0), 0);
  EXPECT_EQ(CountRenderState(mark, D3DRENDERSTATE_SRCBLEND), 0u);
  EXPECT_EQ(CountRenderState(mark, D3DRENDERSTATE_DESTBLEND), 0u);
  EXPECT_EQ(sim::ViewDevice().renderState[D3DRENDERSTATE_ALPHABLENDENABLE], 1u);
}

TEST_F(DrawingTest, AnotherGraphInTheSameSettingsSendsOnlyItsTexture) {
  StartAt(32);
  const int a = MakePatternGraph(16, 16, 1), b = MakePatternGraph(16, 16, 2);
  SetDrawBlendMode(1, 128);
  ASSERT_EQ(DrawGraph(0, 0, a, 0), 0);
  const std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(DrawGraph(20, 0, b, 0), 0);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::SetTexture), 1u);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::SetRenderState), 0u);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::SetTextureStageState), 0u);
}

struct BorderRow {
  int range, parameter;
  DWORD stage1Op, stage0Op, factor, alphaTest;
};

TEST_F(DrawingTest, TheBorderRangeChoosesTheStretchAndTheParameterTheShift) {
  StartAt(32);
  const int image = MakePatternGraph(16, 16, 5), blend = MakePatternGraph(16, 16, 6, true);
  const BorderRow rows[] = {
      {64, 100, D3DTOP_MODULATE4X, D3DTOP_SUBTRACT, 0, 0},
      {65, 100, D3DTOP_MODULATE2X, D3DTOP_SUBTRACT, 0, 0},
      {200, 0, D3DTOP_MODULATE, D3DTOP_ADD, 0xFFFFFFFF, 0},
      {200, 255, D3DTOP_MODULATE, D3DTOP_SUBTRACT, 0xFFFFFFFF, 0},
      {1, 50, D3DTOP_MODULATE, D3DTOP_ADD, 0x00FFFFFF, 1},
  };
  for (const BorderRow& row : rows) {
    SCOPED_TRACE(testing::Message() << "range " << row.range << " parameter " << row.parameter);
    SetBlendGraph(blend, row.parameter, row.range);
    DrawGraph(0, 0, image, 0);
    const sim::DeviceView d = sim::ViewDevice();
    EXPECT_EQ(d.stageState[0][D3DTSS_ALPHAOP], row.stage0Op);
    if (row.range > 1) {
      EXPECT_EQ(d.stageState[1][D3DTSS_ALPHAOP], row.stage1Op);
    }
    if (row.factor != 0) {
      EXPECT_EQ(d.renderState[D3DRENDERSTATE_TEXTUREFACTOR], row.factor);
    }
    EXPECT_EQ(d.renderState[D3DRENDERSTATE_ALPHATESTENABLE], row.alphaTest);
    EXPECT_EQ(d.renderState[D3DRENDERSTATE_ALPHABLENDENABLE], 1 - row.alphaTest);
  }
  SetBlendGraph(-1, -1, -1);
}

TEST_F(DrawingTest, ModeZeroTexturesTestOrBlendTheirAlpha) {
  StartAt(32);
  const int opaque = MakePatternGraph(16, 16, 1), alpha = MakePatternGraph(16, 16, 2, true);
  SetDrawBlendMode(0, 0);
  ASSERT_EQ(DrawGraph(0, 0, opaque, 1), 0);
  sim::DeviceView d = sim::ViewDevice();
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_ALPHABLENDENABLE], 0u);
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_COLORKEYENABLE], 1u);
  ASSERT_EQ(DrawGraph(0, 0, alpha, 1), 0);
  d = sim::ViewDevice();
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_SRCBLEND], static_cast<DWORD>(D3DBLEND_SRCALPHA));
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_DESTBLEND], static_cast<DWORD>(D3DBLEND_INVSRCALPHA));
  EXPECT_EQ(d.renderState[D3DRENDERSTATE_COLORKEYENABLE], 0u);
}

TEST_F(DrawingTest, ModesOutsideTheTableDrawNothing) {
  StartAt(32);
  const int graph = MakePatternGraph(16, 16, 1);
  Paint(0, 0, 32, 32, 0);
  for (int mode : {-1, 12, 1000}) {
    SetDrawBlendMode(mode, 255);
    EXPECT_EQ(DrawGraph(0, 0, graph, 0), 0);
    EXPECT_EQ(DrawFillBox(0, 0, 16, 16, GetColor(255, 255, 255)), 0);
  }
  Settle();
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) ASSERT_EQ(Pixel(x, y), 0u);
  }
}

// A stretched graph cut by the draw area on each side keeps the blend graph on its own
// texels: the blend texel under a pixel is the image texel under it, wherever the cut.
struct StretchClipRow {
  const char* name;
  int x1, y1, x2, y2;            // the stretched 16 x 16 graph
  int left, top, right, bottom;  // the draw area
};

TEST_P(BlendGraphTest, AStretchedGraphCutByTheDrawAreaKeepsTheBlendGraphOnItsTexels) {
  ASSERT_NO_FATAL_FAILURE(StartWithImageAndBlend());
  const StretchClipRow rows[] = {
      {"left", 100, 100, 132, 148, 111, 0, 640, 480},         {"top", 100, 100, 148, 132, 0, 113, 640, 480},
      {"right", 100, 100, 132, 148, 0, 0, 121, 480},          {"bottom", 100, 100, 148, 132, 0, 0, 640, 119},
      {"every side", 100, 100, 148, 148, 107, 105, 139, 137},
  };
  const int p = 128;
  for (const StretchClipRow& row : rows) {
    SCOPED_TRACE(row.name);
    Paint(90, 90, 160, 160, 31);
    std::uint32_t before[70][70];
    for (int y = 0; y < 70; ++y) {
      for (int x = 0; x < 70; ++x) before[y][x] = Pixel(90 + x, 90 + y);
    }
    ASSERT_EQ(SetDrawArea(row.left, row.top, row.right, row.bottom), 0);
    ASSERT_EQ(SetBlendGraph(blend, p, 0), 0);
    ASSERT_EQ(DrawStretchGraph(row.x1, row.y1, row.x2, row.y2, image, 0), 0);
    Settle();
    SetBlendGraph(-1, -1, -1);
    SetDrawArea(0, 0, 640, 480);
    int shown = 0;
    for (int y = 0; y < 70; ++y) {
      for (int x = 0; x < 70; ++x) {
        const int sx = 90 + x, sy = 90 + y;
        std::uint32_t want = before[y][x];
        const bool inside = sx >= row.x1 && sx < row.x2 && sy >= row.y1 && sy < row.y2 && sx >= row.left &&
                            sx < row.right && sy >= row.top && sy < row.bottom;
        if (inside) {
          // Whole scales: each texel covers a block of pixels.
          const int tx = (sx - row.x1) * 16 / (row.x2 - row.x1), ty = (sy - row.y1) * 16 / (row.y2 - row.y1);
          if (Channel(Texel(blend, tx, ty), 3) >= static_cast<std::uint32_t>(p)) {
            want = Quantize(Texel(image, tx, ty) & 0xFFFFFF);
            ++shown;
          }
        }
        ASSERT_EQ(Pixel(sx, sy), want) << "pixel " << sx << "," << sy;
      }
    }
    EXPECT_GT(shown, 50);
  }
}

}  // namespace
}  // namespace gamelib
