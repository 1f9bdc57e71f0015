// Screen read-back into texture graphs: each of the five methods alone (the others made
// to fail) copies a 16- and a 32-bit screen bit for bit as the tests' own conversion
// says, the remembered method per kind of texture, clipping, and every failure's text.
#include <set>

#include "d3d/d3d_state.h"
#include "d3d/screen_readback.h"
#include "d3d/texture_pieces.h"
#include "display_fixture.h"
#include "graphics/draw_state.h"
#include "graphics/graphs.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

using sim::DisplayCall;
using Record = sim::DisplayCallRecord;

enum class Method { Convert5, BltFast1, GdiConvert3, GdiDirect2, GdiLoad4 };
constexpr Method kAllMethods[] = {Method::Convert5, Method::BltFast1, Method::GdiConvert3, Method::GdiDirect2,
                                  Method::GdiLoad4};

const char* Name(Method m) {
  static const char* names[] = {"method 5", "method 1", "method 3", "method 2", "method 4"};
  return names[static_cast<int>(m)];
}

sim::DisplayConfig SmallTextures() {
  // Textures of at most 64 texels: every graph of the tests is several pieces.
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = 64;
  return config;
}

class ReadBackTest : public DisplayTest {
 protected:
  void StartAt(int depth) {
    SetGraphMode(640, 480, depth);
    Start(SmallTextures());
    screen_ = sim::SurfaceId(GetBackSurface());
    work_ = sim::SurfaceId(GetWorkSurface());
  }

  // Random bytes over every pixel of the screen surface.
  void PaintScreen(std::uint32_t seed) {
    const sim::SurfaceView v = sim::ViewSurface(screen_);
    std::uint32_t x = seed * 2654435761u + 7;
    for (int row = 0; row < v.height; ++row) {
      for (int b = 0; b < v.width * Bytes(v.format); ++b) {
        x = x * 1664525u + 1013904223u;
        v.bits[row * v.pitch + b] = static_cast<std::uint8_t>(x >> 24);
      }
    }
  }

  static int Bytes(const DDPIXELFORMAT& f) { return static_cast<int>(f.dwRGBBitCount / 8); }

  std::uint32_t ScreenRaw(int x, int y) {
    const sim::SurfaceView v = sim::ViewSurface(screen_);
    return RawAt(v.bits + y * v.pitch, x, Bytes(v.format));
  }
  DDPIXELFORMAT ScreenFormat() { return sim::ViewSurface(screen_).format; }

  // The texture texel that holds graph pixel (x, y), with the texture's format.
  struct Texel {
    std::uint32_t raw;
    DDPIXELFORMAT format;
  };
  static Texel TexelOf(int graph, int x, int y) {
    const GraphRecord* g = GetGraphRecord(graph);
    for (int i = 0; i < g->pieceCount; ++i) {
      const Surface3DDataRecord* p = GetSurface3DData(g->pieces[i]);
      if (x < p->x || y < p->y || x >= p->x + p->width || y >= p->y + p->height) continue;
      const sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(GetSurfaceRecord(p->surface)->surface));
      const int tx = p->textureX + x - p->x, ty = p->textureY + y - p->y;
      return Texel{RawAt(v.bits + ty * v.pitch, tx, Bytes(v.format)), v.format};
    }
    ADD_FAILURE() << "no piece holds " << x << "," << y;
    return Texel{};
  }
  static std::set<int> TextureIds(int graph) {
    std::set<int> ids;
    const GraphRecord* g = GetGraphRecord(graph);
    for (int i = 0; i < g->pieceCount; ++i) {
      ids.insert(sim::SurfaceId(GetSurfaceRecord(GetSurface3DData(g->pieces[i])->surface)->surface));
    }
    return ids;
  }
  static int LastSurfaceId() {
    const std::vector<int> ids = sim::LiveSurfaceIds();
    return ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end());
  }

  // A fault rule that makes one method fail wherever it first touches its own road.
  sim::DisplayFault Breaking(Method m, const std::set<int>& textures, int times = -1) {
    const int work = work_, known = LastSurfaceId();
    switch (m) {
      case Method::Convert5:
        return Fault(
            DisplayCall::Lock, [work](const Record& r) { return r.object == work; }, 0, times);
      case Method::BltFast1:
        return Fault(
            DisplayCall::BltFast, [textures](const Record& r) { return textures.count(r.surface) > 0; }, 0,
            times);
      case Method::GdiConvert3:
        // Only method 3 locks the work textures, made during the call.
        return Fault(
            DisplayCall::Lock, [known](const Record& r) { return r.object > known; }, 0, times);
      case Method::GdiDirect2:
        return Fault(
            DisplayCall::BitBlt, [textures](const Record& r) { return textures.count(r.surface) > 0; }, 0,
            times);
      case Method::GdiLoad4:
        return Fault(DisplayCall::Load, {}, 0, times);
    }
    return {};
  }
  void BreakAllBut(Method keep, const std::set<int>& textures) {
    for (Method m : kAllMethods) {
      if (m != keep) sim::AddDisplayFault(Breaking(m, textures));
    }
  }

  // What a method leaves in a texel of format `to` for a screen pixel `raw`.
  std::uint32_t Expected(Method m, std::uint32_t raw, const DDPIXELFORMAT& to) {
    const DDPIXELFORMAT from = ScreenFormat();
    const std::uint32_t argb = MaskedToArgb(from, raw);
    switch (m) {
      case Method::BltFast1:
        return raw;  // a raw copy between equal layouts
      case Method::GdiDirect2:
      case Method::GdiLoad4:
        return ArgbToMasked(to, argb & 0xFFFFFF);  // GDI writes alpha 0
      default:
        return ArgbToMasked(to, argb);  // opaque alpha where the texture has alpha bits
    }
  }

  int screen_ = -1;
  int work_ = -1;
};

struct MethodCase {
  int depth;
  Method method;
};

class EachMethodTest : public ReadBackTest, public ::testing::WithParamInterface<MethodCase> {};

// A multi-piece graph and a graph derived from the middle of another: each piece gets
// exactly its part of the rectangle, and the parent's texels around the derived graph
// keep their fill.
TEST_P(EachMethodTest, CopiesTheRectangleIntoEveryPieceBitForBit) {
  const MethodCase c = GetParam();
  SCOPED_TRACE(Name(c.method));
  StartAt(c.depth);
  PaintScreen(c.depth * 7 + static_cast<int>(c.method));
  const int graph = MakeGraph(150, 90);
  const int parent = MakeGraph(128, 100);
  ASSERT_EQ(FillGraph(parent, 10, 20, 30, 255), 0);
  const int derived = DeriveGraph(24, 16, 70, 50, parent);
  ASSERT_GT(GetGraphRecord(graph)->pieceCount, 2);
  const Texel filled = TexelOf(parent, 0, 0);

  struct Target {
    int graph, x1, y1, width, height;
  };
  for (const Target& t : {Target{graph, 37, 21, 150, 90}, Target{derived, 500, 400, 70, 50}}) {
    std::set<int> textures = TextureIds(t.graph);
    sim::ClearDisplayFaults();
    BreakAllBut(c.method, textures);
    const std::size_t mark = sim::DisplayTraceMark();
    ASSERT_EQ(GetDrawScreenGraph(t.x1, t.y1, t.x1 + t.width, t.y1 + t.height, t.graph), 0);
    for (int y = 0; y < t.height; ++y) {
      for (int x = 0; x < t.width; ++x) {
        const Texel texel = TexelOf(t.graph, x, y);
        ASSERT_EQ(texel.raw, Expected(c.method, ScreenRaw(t.x1 + x, t.y1 + y), texel.format))
            << x << "," << y;
      }
    }
    // The colour key is set again after each piece is written.
    EXPECT_GE(CountCalls(mark, DisplayCall::SetColorKey), textures.size());
  }
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 128; ++x) {
      if (x >= 24 && x < 94 && y >= 16 && y < 66) continue;
      ASSERT_EQ(TexelOf(parent, x, y).raw, filled.raw) << x << "," << y;
    }
  }
  sim::ClearDisplayFaults();
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Methods, EachMethodTest,
    ::testing::Values(MethodCase{16, Method::Convert5}, MethodCase{16, Method::BltFast1},
                      MethodCase{16, Method::GdiConvert3}, MethodCase{16, Method::GdiDirect2},
                      MethodCase{16, Method::GdiLoad4}, MethodCase{32, Method::Convert5},
                      MethodCase{32, Method::BltFast1}, MethodCase{32, Method::GdiConvert3},
                      MethodCase{32, Method::GdiDirect2}, MethodCase{32, Method::GdiLoad4}),
    [](const auto& info) {
      return "Depth" + std::to_string(info.param.depth) + "Case" +
             std::to_string(static_cast<int>(info.param.method));
    });

// The first surface call of a read-back shows which method was tried first.
DisplayCall FirstMethodCall(std::size_t mark, int work, const std::set<int>& textures) {
  for (std::size_t i = mark; i < sim::DisplayTrace().size(); ++i) {
    const Record& r = sim::DisplayTrace()[i];
    if (r.call == DisplayCall::Lock && r.object == work) return DisplayCall::Lock;
    if (r.call == DisplayCall::BltFast && textures.count(r.surface) > 0) return DisplayCall::BltFast;
    if (r.call == DisplayCall::GetDC) return DisplayCall::GetDC;
  }
  return DisplayCall::Violation;
}

TEST_F(ReadBackTest, TheMethodThatWorkedIsTriedFirstAndForgottenWhenItFails) {
  StartAt(16);
  PaintScreen(3);
  const int graph = MakeGraph(100, 60);
  const std::set<int> textures = TextureIds(graph);

  // Method 5 first; once it works, nothing else is tried.
  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 100, 60, graph), 0);
  EXPECT_EQ(FirstMethodCall(mark, work_, textures), DisplayCall::Lock);
  EXPECT_EQ(CountCalls(mark, DisplayCall::GetDC), 0u);
  EXPECT_EQ(
      CountCalls(mark, DisplayCall::BltFast, [&](const Record& r) { return textures.count(r.surface); }), 0u);

  // Method 5 fails as the remembered one and again at the head of the table: method 1
  // takes over and is remembered even when 5 works again.
  sim::AddDisplayFault(Breaking(Method::Convert5, textures, 2));
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 100, 60, graph), 0);
  mark = sim::DisplayTraceMark();
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 100, 60, graph), 0);
  EXPECT_EQ(FirstMethodCall(mark, work_, textures), DisplayCall::BltFast);
  EXPECT_EQ(CountCalls(mark, DisplayCall::Lock, [&](const Record& r) { return r.object == work_; }), 0u);

  // Method 1 fails: the whole table runs again from method 5, which is remembered.
  sim::AddDisplayFault(Breaking(Method::BltFast1, textures, 1));
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 100, 60, graph), 0);
  mark = sim::DisplayTraceMark();
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 100, 60, graph), 0);
  EXPECT_EQ(FirstMethodCall(mark, work_, textures), DisplayCall::Lock);
  EXPECT_EQ(
      CountCalls(mark, DisplayCall::BltFast, [&](const Record& r) { return textures.count(r.surface); }), 0u);
}

TEST_F(ReadBackTest, GraphsWithAndWithoutAlphaKeepTheirOwnMethod) {
  StartAt(32);
  PaintScreen(5);
  const int plain = MakeGraph(64, 32);
  const int alpha = MakeScreen(64, 32, 1);
  const std::set<int> plainTextures = TextureIds(plain), alphaTextures = TextureIds(alpha);
  // Method 5 fails for the alpha graph only: it settles on method 3 (its format is not
  // the screen's, so method 1 cannot copy it).
  sim::AddDisplayFault(Fault(
      DisplayCall::Lock, [&](const Record& r) { return r.hasRect && alphaTextures.count(r.object) > 0; }, 0,
      -1));
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 64, 32, alpha), 0);
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 64, 32, plain), 0);
  sim::ClearDisplayFaults();
  EXPECT_EQ(GetDirect3DState().readBackMethod[0], 0);
  EXPECT_EQ(GetDirect3DState().readBackMethod[1], 2);
  const std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 64, 32, alpha), 0);
  EXPECT_EQ(FirstMethodCall(mark, work_, alphaTextures), DisplayCall::GetDC);
  const Texel texel = TexelOf(alpha, 5, 7);
  EXPECT_EQ(texel.raw, Expected(Method::GdiConvert3, ScreenRaw(5, 7), texel.format));
  EXPECT_EQ(texel.raw >> 24, 0xFFu);
}

TEST_F(ReadBackTest, RectanglesAreCheckedAndCutAtTheScreenAndTheSurface) {
  StartAt(16);
  PaintScreen(11);
  const int graph = MakeGraph(200, 100);
  const DDPIXELFORMAT format = ScreenFormat();

  // Refused before any surface is touched; the remembered method is forgotten.
  NewLog();
  struct Bad {
    int x1, y1, x2, y2;
  };
  for (const Bad& b : {Bad{640, 0, 700, 10}, Bad{0, 480, 10, 490}, Bad{5, 5, 5, 10}, Bad{0, 0, 201, 10},
                       Bad{0, 0, 10, 101}, Bad{-1, 0, 10, 10}, Bad{20, 0, 10, 10}}) {
    SCOPED_TRACE(testing::Message() << b.x1 << "," << b.y1 << "," << b.x2 << "," << b.y2);
    ASSERT_EQ(GetDrawScreenGraph(0, 0, 200, 100, graph), 0);
    ASSERT_EQ(GetDirect3DState().readBackMethod[0], 0);
    const std::size_t mark = sim::DisplayTraceMark();
    EXPECT_EQ(GetDrawScreenGraph(b.x1, b.y1, b.x2, b.y2, graph), -1);
    EXPECT_EQ(CountCalls(mark, DisplayCall::Lock) + CountCalls(mark, DisplayCall::BltFast) +
                  CountCalls(mark, DisplayCall::GetDC),
              0u);
    EXPECT_EQ(GetDirect3DState().readBackMethod[0], -1);
    EXPECT_EQ(NewLog(), "");
  }

  // Cut at the right and bottom of the screen: the pieces beyond are skipped, the
  // graph keeps its zeros there.
  for (Method m : kAllMethods) {
    SCOPED_TRACE(Name(m));
    ASSERT_EQ(FillGraph(graph, 0, 0, 0, 0), 0);
    sim::ClearDisplayFaults();
    BreakAllBut(m, TextureIds(graph));
    ASSERT_EQ(GetDrawScreenGraph(500, 430, 700, 530, graph), 0);
    for (int y = 0; y < 100; y += 3) {
      for (int x = 0; x < 200; x += 3) {
        const Texel texel = TexelOf(graph, x, y);
        const bool inside = 500 + x < 640 && 430 + y < 480;
        ASSERT_EQ(texel.raw, inside ? Expected(m, ScreenRaw(500 + x, 430 + y), texel.format) : 0u)
            << x << "," << y;
      }
    }
  }
  sim::ClearDisplayFaults();

  // A rectangle narrower than the graph leaves the rest of the graph alone.
  ASSERT_EQ(FillGraph(graph, 0, 0, 0, 0), 0);
  ASSERT_EQ(GetDrawScreenGraph(10, 10, 40, 20, graph), 0);
  EXPECT_EQ(TexelOf(graph, 29, 9).raw, ArgbToMasked(format, MaskedToArgb(format, ScreenRaw(39, 19))));
  EXPECT_EQ(TexelOf(graph, 30, 9).raw, 0u);
  EXPECT_EQ(TexelOf(graph, 29, 10).raw, 0u);

  // A draw origin that moves the area off the surface: only what lies on it is read.
  for (int origin : {-30, 600}) {
    SCOPED_TRACE(origin);
    ASSERT_EQ(FillGraph(graph, 0, 0, 0, 0), 0);
    GetDrawState().drawOriginX = origin;
    for (Method m : kAllMethods) {
      sim::ClearDisplayFaults();
      BreakAllBut(m, TextureIds(graph));
      ASSERT_EQ(GetDrawScreenGraph(0, 0, 200, 100, graph), 0) << Name(m);
      for (int x = 0; x < 200; ++x) {
        const int sx = x + origin;
        const Texel texel = TexelOf(graph, x, 50);
        ASSERT_EQ(texel.raw, sx >= 0 && sx < 640 ? Expected(m, ScreenRaw(sx, 50), texel.format) : 0u)
            << Name(m) << " " << x;
      }
    }
    GetDrawState().drawOriginX = 0;
  }
  sim::ClearDisplayFaults();
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

// A draw screen wider than the screen does not fit the work surface: method 5 steps
// aside and the next method reads it.
TEST_F(ReadBackTest, ADrawScreenWiderThanTheWorkSurfaceIsLeftToTheOtherMethods) {
  Start();  // textures up to 2048: the draw screen is one texture
  work_ = sim::SurfaceId(GetWorkSurface());
  const int target = MakeScreen(700, 100, 0);
  const int graph = MakeGraph(700, 100);
  ASSERT_EQ(SetDrawScreen(target), 0);
  screen_ = TextureIds(target).size() == 1 ? *TextureIds(target).begin() : -1;
  ASSERT_NE(screen_, -1);
  PaintScreen(4);
  const std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(GetDrawScreenGraph(0, 0, 700, 100, graph), 0);
  EXPECT_EQ(CountCalls(mark, DisplayCall::Lock, [this](const Record& r) { return r.object == work_; }), 0u);
  for (int x : {0, 639, 640, 699}) {
    EXPECT_EQ(TexelOf(graph, x, 99).raw, ScreenRaw(x, 99)) << x;
  }
  EXPECT_EQ(GetDirect3DState().readBackMethod[0], 1);
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

TEST_F(ReadBackTest, AMemoryImageTargetOrNoDeviceCopiesNothing) {
  StartAt(16);
  PaintScreen(1);
  const int graph = MakeGraph(32, 32);
  GetDirect3DState().memImageTarget = 1;
  EXPECT_EQ(GetDrawScreenGraph(0, 0, 32, 32, graph), 0);
  GetDirect3DState().memImageTarget = 0;
  EXPECT_EQ(TexelOf(graph, 3, 3).raw, 0u);
  EXPECT_EQ(GetDrawScreenGraphD3D(0, 0, 32, 32, nullptr, 1), -1);
  EXPECT_EQ(GetDrawScreenGraph(0, 0, 32, 32, -5), -1);
}

// Each failure writes its own line; with every method failing the call fails.
struct FailureRow {
  const char* what;
  std::function<std::vector<sim::DisplayFault>(ReadBackTest&, const std::set<int>&, int)> faults;
  std::vector<std::string> lines;
  int result;
};

TEST_F(ReadBackTest, EveryFailureWritesItsOwnLine) {
  StartAt(16);
  PaintScreen(2);
  const int graph = MakeGraph(48, 40);
  const std::set<int> textures = TextureIds(graph);
  const std::size_t surfaces = sim::LiveSurfaceIds().size();
  const int screen = screen_, work = work_;
  const auto onScreen = [screen](const Record& r) { return r.object == screen; };
  const auto onTexture = [textures](const Record& r) { return textures.count(r.object) > 0; };
  const std::string e = std::to_string(static_cast<int>(E_FAIL));
  using F = std::vector<sim::DisplayFault>;
  // Methods 5 and 1 out of the way: the copy to the work surface and the piece copies
  // both fail in their BltFast.
  const auto quiet = [](ReadBackTest&, const std::set<int>&, int) {
    return F{Fault(DisplayCall::BltFast, {}, 0, -1)};
  };
  const auto with = [quiet](F more) {
    return [quiet, more](ReadBackTest& t, const std::set<int>& s, int k) {
      F all = quiet(t, s, k);
      all.insert(all.end(), more.begin(), more.end());
      return all;
    };
  };
  sim::DisplayFault bitBlt = Fault(DisplayCall::BitBlt, {}, 0, -1);
  bitBlt.lastError = 0x57;
  const FailureRow rows[] = {
      {"work surface lock",
       [work](ReadBackTest&, const std::set<int>&, int) {
         return F{Fault(DisplayCall::Lock, [work](const Record& r) { return r.object == work; })};
       },
       {"Error  G_D3D_GetDrawScreenGraphFunction5 　作業用テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:" +
        e},
       0},
      {"piece lock",
       [onTexture](ReadBackTest&, const std::set<int>&, int) {
         return F{Fault(DisplayCall::Lock, onTexture)};
       },
       {"Error  G_D3D_GetDrawScreenGraphFunction5 　転送先テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:" +
        e},
       0},
      {"BltFast",
       [work](ReadBackTest&, const std::set<int>&, int) {
         return F{Fault(DisplayCall::Lock, [work](const Record& r) { return r.object == work; }),
                  Fault(DisplayCall::BltFast, [work](const Record& r) { return r.surface != work; })};
       },
       {"Error G_D3D_GetDrawScreenGraphFunction1  BltFast ReturnValue:" + e},
       0},
      {"screen DC",
       with({Fault(DisplayCall::GetDC, onScreen, 0, -1)}),
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　ＤＣ取得に失敗しました  GetDC  ReturnValue:" + e,
        "Error  G_D3D_GetDrawScreenGraphFunction2  ＤＣ取得に失敗しました  GetDC ReturnValue:" + e,
        "Error  G_D3D_GetDrawScreenGraphFunction4 　ＤＣ取得に失敗しました  GetDC  ReturnValue:" + e},
       -1},
      {"work texture creation",
       with({Fault(DisplayCall::CreateSurface, {}, 0, -1), Fault(DisplayCall::BitBlt, {}, 0, -1)}),
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスの作成に失敗しました  "
        "CreateSurface  "
        "ReturnValue:" +
            e,
        "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスの作成に失敗しました  "
        "CreateSurface  "
        "ReturnValue:" +
            e},
       -1},
      {"DCs of the textures",
       [quiet, screen](ReadBackTest& t, const std::set<int>& s, int k) {
         F all = quiet(t, s, k);
         all.push_back(Fault(
             DisplayCall::GetDC, [screen](const Record& r) { return r.object != screen; }, 0, -1));
         return all;
       },
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  "
        "GetDC  "
        "ReturnValue:" +
            e,
        "Error  G_D3D_GetDrawScreenGraphFunction2 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  "
        "GetDC "
        "ReturnValue:" +
            e,
        "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  "
        "GetDC  "
        "ReturnValue:" +
            e},
       -1},
      {"BitBlt",
       with({bitBlt}),
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスへのイメージ転送に失敗しました "
        " BitBlt  "
        "ErrorCode:57",
        "Error  G_D3D_GetDrawScreenGraphFunction2 　作業用テクスチャサーフェスへのイメージ転送に失敗しました "
        " BitBlt  "
        "ErrorCode:57",
        "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスへのイメージ転送に失敗しました "
        " BitBlt  "
        "ErrorCode:57"},
       -1},
      {"work texture lock",
       [quiet](ReadBackTest& t, const std::set<int>& s, int known) {
         F all = quiet(t, s, known);
         all.push_back(Fault(DisplayCall::Lock, [known](const Record& r) { return r.object > known; }));
         return all;
       },
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:" +
        e},
       0},
      {"piece lock of method 3",
       with({Fault(DisplayCall::Lock, onTexture)}),
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　転送先テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:" +
        e},
       0},
      {"DC release of the textures",
       [quiet, screen](ReadBackTest& t, const std::set<int>& s, int k) {
         F all = quiet(t, s, k);
         all.push_back(Fault(
             DisplayCall::ReleaseDC, [screen](const Record& r) { return r.object != screen; }, 0, -1));
         return all;
       },
       {"Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
        "ReleaseDC  "
        "ReturnValue:" +
            e,
        "Error  G_D3D_GetDrawScreenGraphFunction2 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
        "ReleaseDC "
        "ReturnValue:" +
            e,
        "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
        "ReleaseDC  "
        "ReturnValue:" +
            e},
       -1},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.what);
    GetDirect3DState().readBackMethod[0] = -1;
    sim::ClearDisplayFaults();
    for (const sim::DisplayFault& f : row.faults(*this, textures, LastSurfaceId())) sim::AddDisplayFault(f);
    NewLog();
    EXPECT_EQ(GetDrawScreenGraph(0, 0, 48, 40, graph), row.result);
    std::string log = NewLog();
    std::size_t at = 0;
    for (const std::string& line : row.lines) {
      const std::size_t found = log.find(line + "\r\n", at);
      ASSERT_NE(found, std::string::npos) << line << "\nin\n" << log;
      at = found + line.size();
    }
  }
  sim::ClearDisplayFaults();
  EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces) << "work textures left";
}

TEST_F(ReadBackTest, LoadRetriesABusyTextureNineTimesAndReportsTheTenth) {
  StartAt(16);
  PaintScreen(9);
  const int graph = MakeGraph(16, 16);  // one piece
  const std::set<int> textures = TextureIds(graph);
  const int texture = *textures.begin();
  for (int busy : {9, 10}) {
    SCOPED_TRACE(busy);
    GetDirect3DState().readBackMethod[0] = -1;
    sim::ClearDisplayFaults();
    for (Method m : {Method::Convert5, Method::BltFast1, Method::GdiConvert3, Method::GdiDirect2}) {
      sim::AddDisplayFault(Breaking(m, textures));
    }
    sim::AddDisplayFault(Fault(DisplayCall::Load, {}, 0, busy, DDERR_SURFACEBUSY));
    const std::size_t surfaces = sim::LiveSurfaceIds().size();
    NewLog();
    const std::size_t mark = sim::DisplayTraceMark();
    EXPECT_EQ(GetDrawScreenGraph(3, 4, 19, 20, graph), busy == 9 ? 0 : -1);
    EXPECT_EQ(CountCalls(mark, DisplayCall::Load), 10u);
    EXPECT_EQ(CountCalls(mark, DisplayCall::Sleep), 9u);
    EXPECT_EQ(
        CountCalls(mark, DisplayCall::Restore, [texture](const Record& r) { return r.object == texture; }),
        9u);
    EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces);
    const std::string log = NewLog();
    const std::string lines =
        "hr:" + std::to_string(static_cast<int>(DDERR_SURFACEBUSY)) +
        "  W:16  H:16  FullMode:0  Point x:0 y:0   Rect top:0 bottom:16 left:0 right:16\r\n";
    EXPECT_EQ(log.find(lines) != std::string::npos, busy == 10) << log;
    if (busy == 10) {
      EXPECT_NE(log.find("AlphaCh:0  AlphaTest:0  ColorBitDepth:16\r\n"), std::string::npos);
      EXPECT_NE(log.find("ScreenColor:16  SizeX:640  SizeY:480  DrawPointX:0  DrawPointY:0  WndRect.left:0  "
                         "WndRect.top:0  left:3  top:4\r\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(TexelOf(graph, 15, 15).raw, Expected(Method::GdiLoad4, ScreenRaw(18, 19), ScreenFormat()));
    }
  }
  sim::ClearDisplayFaults();
}

}  // namespace
}  // namespace gamelib
