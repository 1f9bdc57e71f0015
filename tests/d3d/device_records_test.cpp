// The state cache and the batch, counted on the stand-in's trace: nothing sent twice,
// everything sent again when forced, and the batch reaching the device when full, on a
// state change and at the end of a scene.
#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/draw_settings.h"
#include "d3d/texture_pieces.h"
#include "graphics/graphs.h"
#include "display_fixture.h"
#include "graphics/graphs.h"

namespace gamelib {
namespace {

class DeviceRecordTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    Start();
    device_ = GetDirect3DState().currentDevice;
    record_ = GetDeviceRecord(device_);
    ASSERT_NE(record_, nullptr);
  }
  // Puts `quads` untextured quads into the batch, as the drawing code does.
  void Batch(int quads) {
    BeginSceneDevice(device_);
    if (record_->drawSettingsDirty || record_->textureChanged) ApplyDrawSettings(device_);
    for (int q = 0; q < quads; ++q) {
      MakeBatchRoom(*record_, 6);
      auto* v = reinterpret_cast<D3DVertex0*>(record_->writePointer);
      const float x = static_cast<float>(q % 600);
      const float corners[6][2] = {{x, 0}, {x + 1, 0}, {x, 1}, {x + 1, 0}, {x + 1, 1}, {x, 1}};
      for (int i = 0; i < 6; ++i) {
        v[i].x = corners[i][0];
        v[i].y = corners[i][1];
        v[i].diffuse = 0xFFFFFFFF;
      }
      AdvanceBatch(*record_, 6);
    }
  }
  std::vector<sim::DisplayCallRecord> Draws(std::size_t mark) {
    return sim::DisplayCallsSince(mark, sim::DisplayCall::DrawPrimitive);
  }
  int device_ = -1;
  D3DDeviceRecord* record_ = nullptr;
};

struct SetterRow {
  const char* what;
  int (*set)(int device, int value);
  DWORD state;
  int value;
  DWORD sent;
};

TEST_F(DeviceRecordTest, AChangedValueIsSentOnceAndAForcedOneEveryTime) {
  const SetterRow rows[] = {
      {"Z function", SetDeviceZFunc, D3DRENDERSTATE_ZFUNC, D3DCMP_GREATER, D3DCMP_GREATER},
      {"Z enable 2 sends off", SetDeviceZEnable, D3DRENDERSTATE_ZENABLE, 2, 0},
      {"Z write", SetDeviceZWriteEnable, D3DRENDERSTATE_ZWRITEENABLE, 1, 1},
      {"Z bias", SetDeviceZBias, D3DRENDERSTATE_ZBIAS, 3, 3},
      {"cull", SetDeviceCullMode, D3DRENDERSTATE_CULLMODE, 1, D3DCULL_CCW},
      {"shade", SetDeviceShadeMode, D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD, D3DSHADE_GOURAUD},
      {"fog", SetDeviceFogEnable, D3DRENDERSTATE_FOGENABLE, 1, 1},
      {"perspective", SetDeviceTexturePerspective, D3DRENDERSTATE_TEXTUREPERSPECTIVE, 1, 1},
      {"colour key", SetDeviceColorKeyEnable, D3DRENDERSTATE_COLORKEYENABLE, 1, 1},
  };
  for (const SetterRow& row : rows) {
    SCOPED_TRACE(row.what);
    std::size_t mark = sim::DisplayTraceMark();
    EXPECT_EQ(row.set(device_, row.value), 0);
    EXPECT_EQ(row.set(device_, row.value), 0);
    const auto sent =
        sim::DisplayCallsSince(mark, sim::DisplayCall::SetRenderState,
                               [&](const sim::DisplayCallRecord& r) { return r.type == row.state; });
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value, row.sent);
    EXPECT_EQ(sim::ViewDevice().renderState[row.state], row.sent);
    mark = sim::DisplayTraceMark();
    record_->forceApply = 1;
    row.set(device_, row.value);
    row.set(device_, row.value);
    record_->forceApply = 0;
    EXPECT_EQ(CountRenderState(mark, row.state), 2u);
  }
  // The copy of Z enable is the 2 that was asked for: 0 is a change again.
  const std::size_t mark = sim::DisplayTraceMark();
  SetDeviceZEnable(device_, 0);
  EXPECT_EQ(CountRenderState(mark, D3DRENDERSTATE_ZENABLE), 1u);
}

// A copy that differs from the device's value would keep the cache from ever sending that
// value. Each starts as the device's, or as 0 where 0 is no value of the state (compare
// function, blend factors), so that the first request sends it. The texture factor starts
// white on both sides: fades go toward white until a textured draw sets it.
TEST_F(DeviceRecordTest, TheDrawStateCopiesStartAsTheDeviceStarts) {
  const auto device = sim::ViewDevice();
  for (int i = 0; i < kDrawRenderStateCount; ++i) {
    SCOPED_TRACE(i);
    const DWORD type = kDrawRenderStateType[i];
    const bool noZero = type == D3DRENDERSTATE_ALPHAFUNC || type == D3DRENDERSTATE_SRCBLEND ||
                        type == D3DRENDERSTATE_DESTBLEND;
    if (!(noZero && record_->drawRenderStates[i] == 0)) {
      EXPECT_EQ(record_->drawRenderStates[i], device.renderState[type]);
    }
  }
  EXPECT_EQ(record_->drawRenderStates[kDrawStateTextureFactor], 0xFFFFFFFFu);
}

TEST_F(DeviceRecordTest, TheBatchReachesTheDeviceWhenFullOnAStateChangeAndAtTheSceneEnd) {
  SetDeviceTexture(device_, nullptr);
  std::size_t mark = sim::DisplayTraceMark();
  // 537 quads fill 3222 of 3225 vertices; the 538th makes room by drawing them.
  Batch(537);
  EXPECT_TRUE(Draws(mark).empty());
  Batch(1);
  auto draws = Draws(mark);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].count, 3222u);
  EXPECT_EQ(draws[0].fvf, 0x44u);
  EXPECT_EQ(draws[0].primitiveType, D3DPT_TRIANGLELIST);

  // A state the batch depends on draws it before the state goes out.
  mark = sim::DisplayTraceMark();
  SetDeviceZFunc(device_, D3DCMP_ALWAYS);
  draws = Draws(mark);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].count, 6u);
  const auto state = sim::DisplayCallsSince(mark, sim::DisplayCall::SetRenderState);
  ASSERT_FALSE(state.empty());
  EXPECT_LT(draws[0].sequence, state[0].sequence);

  // The scene end draws, then ends; the graphics core's entry does the same.
  Batch(2);
  mark = sim::DisplayTraceMark();
  CloseDeviceScene();
  draws = Draws(mark);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].count, 12u);
  const auto ends = sim::DisplayCallsSince(mark, sim::DisplayCall::EndScene);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_LT(draws[0].sequence, ends[0].sequence);
  EXPECT_FALSE(sim::ViewDevice().inScene);

  // Under draw-nothing the batch is thrown away, and a bad filter mode still flushes.
  Batch(3);
  record_->drawNothing = 1;
  mark = sim::DisplayTraceMark();
  FlushVertexBuffer(device_);
  EXPECT_TRUE(Draws(mark).empty());
  EXPECT_EQ(record_->vertexCount, 0);
  record_->drawNothing = 0;
  Batch(1);
  mark = sim::DisplayTraceMark();
  EXPECT_EQ(SetDeviceTextureFilter(device_, 2), -1);
  EXPECT_EQ(Draws(mark).size(), 1u);
  EndCurrentScene();
}

// The graphics core's flips, locks and fills close the scene, the batch drawn first.
TEST_F(DeviceRecordTest, TheGraphicsCoreClosesTheSceneBeforeItTouchesASurface) {
  const int graph = MakeGraph(16, 16);
  const std::function<int()> touches[] = {ScreenFlip, [graph] { return FillGraph(graph, 1, 2, 3, 4); },
                                          [] { return SetDrawScreen(kDrawScreenBack); }};
  for (const auto& touch : touches) {
    Batch(1);
    const std::size_t mark = sim::DisplayTraceMark();
    ASSERT_EQ(touch(), 0);
    const auto draws = Draws(mark);
    const auto ends = sim::DisplayCallsSince(mark, sim::DisplayCall::EndScene);
    ASSERT_EQ(draws.size(), 1u);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_LT(draws[0].sequence, ends[0].sequence);
    EXPECT_FALSE(sim::ViewDevice().inScene);
  }
  EXPECT_TRUE(sim::DisplayViolations().empty());
}

TEST_F(DeviceRecordTest, TexturesAndDrawSettingsMarkWhatMustBeWorkedOutAgain) {
  const int graph = MakeGraph(64, 64);
  const int other = MakeGraph(32, 32);
  auto textureOf = [](int g) {
    return GetSurfaceRecord(GetPieceSurfaceHandle(GetGraphRecord(g)->pieces[0]))->surface;
  };
  ApplyDrawSettings(device_);
  SetDeviceTexture(device_, textureOf(graph));
  EXPECT_EQ(record_->drawSettingsDirty, 1);
  ApplyDrawSettings(device_);
  SetDeviceTexture(device_, textureOf(other));
  EXPECT_EQ(record_->textureChanged, 1);
  EXPECT_EQ(record_->drawSettingsDirty, 0);
  SetDeviceTexture(device_, nullptr);
  EXPECT_EQ(record_->drawSettingsDirty, 1);
  // Indices past the four records are refused, not read.
  for (int bad : {4, 65535, -1, 0x10000}) {
    EXPECT_EQ(SetDeviceZFunc(bad, 5), -1);
    EXPECT_EQ(FlushVertexBuffer(bad), -1);
    EXPECT_EQ(GetDeviceRecord(bad), nullptr);
  }
}

TEST_F(DeviceRecordTest, TheBlendGraphIsRecordedWithItsTextureScale) {
  const int graph = MakeGraph(100, 50);
  ApplyDrawSettings(device_);
  ASSERT_EQ(SetBlendGraph(graph, 128, 64), 0);
  EXPECT_NE(record_->blendGraph, nullptr);
  EXPECT_EQ((std::vector<int>{record_->borderParameter, record_->borderRange, record_->drawSettingsDirty}),
            (std::vector<int>{128, 64, 1}));
  const Direct3DState& state = GetDirect3DState();
  EXPECT_EQ((std::vector<float>{state.blendTextureWidth, state.blendTextureHeight,
                                state.blendTextureWidthInverse, state.blendTextureHeightInverse}),
            (std::vector<float>{128, 64, 1.0f / 128, 1.0f / 64}));
  ApplyDrawSettings(device_);
  ASSERT_EQ(SetBlendGraph(-1, -1, 32), 0);
  EXPECT_EQ(record_->blendGraph, nullptr);
  EXPECT_EQ((std::vector<int>{record_->borderParameter, record_->borderRange}), (std::vector<int>{128, 32}));
  EXPECT_EQ(SetBlendGraph(0x08007777, 0, 0), -1);
}

TEST_F(DeviceRecordTest, ViewportsAreSentOnlyWhenTheRectangleChanges) {
  const RECT area{10, 20, 110, 220};
  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(SetViewportRect(&area), 0);
  ASSERT_EQ(CountCalls(mark, sim::DisplayCall::SetViewport), 1u);
  const D3DVIEWPORT7 vp = sim::ViewDevice().viewport;
  EXPECT_EQ((std::vector<DWORD>{vp.dwX, vp.dwY, vp.dwWidth, vp.dwHeight}),
            (std::vector<DWORD>{10, 20, 100, 200}));
  mark = sim::DisplayTraceMark();
  D3DVIEWPORT7 depthOnly = record_->viewport;
  depthOnly.dvMinZ = 0.5f;
  depthOnly.dvMaxZ = 0.75f;
  EXPECT_EQ(SetDeviceViewport(&depthOnly, device_), 0);
  for (RECT empty : {RECT{5, 5, 5, 50}, RECT{5, 5, 50, 5}, RECT{50, 5, 10, 60}})
    EXPECT_EQ(SetViewportRect(&empty), -1);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::SetViewport), 0u);
  // A viewport the device refuses is logged with its code and tried again next time.
  sim::AddDisplayFault(Fault(sim::DisplayCall::SetViewport, {}, 0, 1, static_cast<HRESULT>(0x88760096u)));
  NewLog();
  const RECT other{0, 0, 50, 50};
  EXPECT_EQ(SetViewportRect(&other), -1);
  EXPECT_EQ(NewLog(), "0:ビューポートのセットに失敗しました ErrorCode 88760096\r\n");
  EXPECT_EQ(SetViewportRect(&other), 0);
  GetDirect3DState().memImageTarget = 1;
  mark = sim::DisplayTraceMark();
  EXPECT_EQ(SetViewportRect(&area), 0);
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::SetViewport), 0u);
  GetDirect3DState().memImageTarget = 0;
}

TEST_F(DeviceRecordTest, TheDrawScreenSetsTheTargetAndTheFrontFlag) {
  std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(SetDrawScreen(kDrawScreenBack), 0);
  EXPECT_EQ(GetDirect3DState().frontTarget, 0);
  EXPECT_EQ(sim::ViewDevice().target, sim::SurfaceId(GetBackSurface()));
  mark = sim::DisplayTraceMark();
  EXPECT_EQ(SetDrawScreen(kDrawScreenFront), 0);
  EXPECT_EQ(GetDirect3DState().frontTarget, 1);
  // The own surface goes back first, then the front: the same surface twice.
  const auto targets = sim::DisplayCallsSince(mark, sim::DisplayCall::SetRenderTarget);
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0].surface, sim::SurfaceId(GetFrontSurface()));
  EXPECT_EQ(targets[1].surface, sim::SurfaceId(GetFrontSurface()));
  const int target = MakeScreen(256, 256, 0);
  EXPECT_EQ(SetDrawScreen(target), 0);
  EXPECT_EQ(sim::ViewDevice().target, sim::SurfaceId(GetGraphTargetSurface(target)));
  EXPECT_NE(sim::ViewSurface(sim::ViewDevice().target).zId, -1);
  // A draw target of several textures is refused, not drawn on the front buffer.
  const int wide = MakeScreen(3000, 100, 0);
  ASSERT_EQ(GetGraphRecord(wide)->pieceCount, 2);
  EXPECT_EQ(SetDeviceDrawScreen(wide), -1);
  EXPECT_EQ(SetDrawScreen(wide), -1);
  EXPECT_EQ(GetDrawScreen(), target);
  EXPECT_EQ(SetDeviceDrawScreen(0x08001234), -1);
}

}  // namespace
}  // namespace gamelib
