// Start-up of the 3-D side: the device choice over every kind of enumeration, the
// capability report to the byte, start-up failing at each call without leaving anything,
// release and re-acquire, shutdown from the released state, and a thousand restarts.
#include <initializer_list>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/texture_pieces.h"
#include "display_fixture.h"
#include "graphics/graphs.h"

namespace gamelib {
namespace {

sim::Display3DDevice Device(const GUID& guid, DWORD depths = DDBD_16 | DDBD_32, DWORD maxTexture = 2048) {
  sim::Display3DDevice d;
  d.guid = guid;
  d.name = "device";
  d.description = "test device";
  d.renderBitDepth = depths;
  d.maxTextureWidth = d.maxTextureHeight = maxTexture;
  return d;
}

class StartupTest : public DisplayTest {
 protected:
  // The screen without the 3-D side, so that a test runs InitializeDirect3D itself.
  void StartScreenOnly(const sim::DisplayConfig& config) {
    SetNotUse3DFlag(1);
    Start(config);
    SetNotUse3DFlag(0);
    NewLog();
  }
};

struct ChoiceRow {
  const char* what;
  std::vector<sim::Display3DDevice> devices;
  int screenDepth;         // 16 or 32, or another depth reported by the screen
  int chosenMaxTexture;    // 0: start-up fails
  std::size_t deliveries;  // EnumCallback calls
  const char* log;
};

TEST_F(StartupTest, TheDeviceIsTheTnLHalOrTheLastHalThatRendersTheScreenDepth) {
  const ChoiceRow rows[] = {
      {"HAL only", {Device(IID_IDirect3DHALDevice)}, 16, 2048, 1, "ＨＡＬデバイスを発見しました\r\n"},
      {"HAL then T&L",
       {Device(IID_IDirect3DHALDevice, DDBD_16, 512), Device(IID_IDirect3DTnLHalDevice)},
       16,
       2048,
       2,
       "ハードウエアＴ＆Ｌデバイスを発見しました\r\n"},
      {"T&L stops the enumeration",
       {Device(IID_IDirect3DTnLHalDevice, DDBD_32, 1024), Device(IID_IDirect3DHALDevice)},
       32,
       1024,
       1,
       "ハードウエアＴ＆Ｌデバイスを発見しました\r\n"},
      {"the last HAL wins",
       {Device(IID_IDirect3DHALDevice, DDBD_16, 512), Device(IID_IDirect3DHALDevice, DDBD_16, 256)},
       16,
       256,
       2,
       "テクスチャ最大幅:256 "},
      {"software devices are never chosen",
       {Device(IID_IDirect3DRGBDevice), Device(IID_IDirect3DRefDevice), Device(IID_IDirect3DMMXDevice)},
       16,
       0,
       3,
       "現在の画面モードで使用できる描画デバイスが見つかりませんでした\r\n"},
      {"no device for the depth",
       {Device(IID_IDirect3DHALDevice, DDBD_16)},
       32,
       0,
       1,
       "現在の画面モードで使用できる描画デバイスが見つかりませんでした\r\n"},
      {"an 8-bit screen",
       {Device(IID_IDirect3DHALDevice, DDBD_8 | DDBD_16 | DDBD_32)},
       8,
       0,
       1,
       "現在の画面モードで使用できる描画デバイスが見つかりませんでした\r\n"},
      {"no devices", {}, 16, 0, 0, "現在の画面モードで使用できる描画デバイスが見つかりませんでした\r\n"},
  };
  for (const ChoiceRow& row : rows) {
    SCOPED_TRACE(row.what);
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.devices = row.devices;
    SetGraphMode(640, 480, row.screenDepth == 32 ? 32 : 16);
    StartScreenOnly(config);
    if (row.screenDepth != 16 && row.screenDepth != 32) OverrideScreenColorBitDepth(row.screenDepth);
    const std::size_t mark = sim::DisplayTraceMark();
    const int objects = sim::LiveObjects();
    const int result = InitializeDirect3D();
    OverrideScreenColorBitDepth(0);
    const std::string log = NewLog();
    EXPECT_NE(log.find(row.log), std::string::npos) << log;
    if (row.chosenMaxTexture == 0) {
      EXPECT_EQ(result, -1);
      EXPECT_FALSE(Direct3DAvailable());
      EXPECT_EQ(CountCalls(mark, sim::DisplayCall::CreateDevice), 0u);
      EXPECT_EQ(sim::LiveObjects(), objects);
    } else {
      ASSERT_EQ(result, 0);
      EXPECT_EQ(GetDirect3DState().maxTextureSize, static_cast<std::uint32_t>(row.chosenMaxTexture));
      const auto created = sim::DisplayCallsSince(mark, sim::DisplayCall::CreateDevice);
      ASSERT_EQ(created.size(), 1u);
      EXPECT_EQ(created[0].guid, GetDirect3DState().deviceDesc.deviceGUID);
    }
    // Deliveries of the device enumeration: a T&L HAL ends it.
    const auto zEnumeration = sim::DisplayCallsSince(mark, sim::DisplayCall::EnumZBufferFormats);
    const std::uint64_t end = zEnumeration.empty() ? UINT64_MAX : zEnumeration.front().sequence;
    EXPECT_EQ(CountCalls(mark, sim::DisplayCall::EnumCallback,
                         [end](const sim::DisplayCallRecord& r) { return r.sequence < end; }),
              row.deliveries);
    TerminateGraphicsSystem();
  }
}

// The capability report, every byte: indent, tabs, masks, the empty lines after the mask
// lines, and the warning only below four blend stages.
TEST_F(StartupTest, TheCapabilityReportIsWrittenExactly) {
  for (WORD stages : {4, 3}) {
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.devices[0].minTextureWidth = config.devices[0].minTextureHeight = 0;
    config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = 0;
    config.devices[0].textureCaps = D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY;
    config.devices[0].maxTextureBlendStages = stages;
    config.devices[0].maxSimultaneousTextures = 2;
    config.textureFormats = {sim::MakePixelFormat(sim::PixelFormatName::R5G6B5),
                             sim::MakePixelFormat(sim::PixelFormatName::A4R4G4B4),
                             sim::MakePixelFormat(sim::PixelFormatName::A8R8G8B8)};
    StartScreenOnly(config);
    ASSERT_EQ(InitializeDirect3D(), 0);
    const std::string log = NewLog();
    std::string expected =
        "0:\tテクスチャ最大幅:256 最小幅:32 \r\n"
        "0:\t描画制限: D_D3DPTEXTURECAPS_POW2 = 1  D_D3DPTEXTURECAPS_SQUAREONLY = 1 \r\n"
        "0:\t最大テクスチャステージ数 = " +
        std::to_string(stages) + "   最大テクスチャブレンド数 = 2 \r\n";
    if (stages < 4)
      expected +=
          "0:\t使用可能テクスチャステージが 4 以下なので DrawBlendGraph "
          "は正常に機能しない可能性があります\r\n";
    expected +=
        "0:\tテクスチャピクセルフォーマット\r\n"
        "0:\t\t通常グラフィック用\r\n"
        "0:\t\t\t BIT:16  RED:5  GREEN:6  BLUE:5 \r\n"
        "0:\t\t\t RED:00f800 GREEN:0007e0 BLUE:00001f \r\n"
        "0:\t\r\n"
        "0:\t\t\t BIT:16  RED:5  GREEN:6  BLUE:5 \r\n"
        "0:\t\t\t RED:00f800 GREEN:0007e0 BLUE:00001f \r\n"
        "0:\t\r\n"
        "0:\t\tアルファチャンネル付きグラフィック用\r\n"
        "0:\t\t\t BIT:16  ALPHA:4  RED:4  GREEN:4  BLUE:4 \r\n"
        "0:\t\t\t ALPHA:0000f000 RED:00000f00 GREEN:000000f0 BLUE:0000000f \r\n"
        "0:\t\r\n"
        "0:\t\t\t BIT:32  ALPHA:8  RED:8  GREEN:8  BLUE:8 \r\n"
        "0:\t\t\t ALPHA:ff000000 RED:00ff0000 GREEN:0000ff00 BLUE:000000ff \r\n"
        "0:\t\r\n"
        "0:Direct3D 関連の初期化は正常に終了しました\r\n";
    const std::size_t at = log.find("0:\tテクスチャ最大幅");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.substr(at), expected);
    EXPECT_EQ(log.rfind("0:Direct3D 関連の初期化を行います\r\n0:Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\r\n"
                        "0:Ｄｉｒｅｃｔ３Ｄオブジェクトを取得しました\r\n0:ＨＡＬデバイスを発見しました\r\n"
                        "0:３Ｄデバイスを作成します... ３Ｄデバイスの作成に成功しました\r\n",
                        0),
              0u)
        << log;
    TerminateGraphicsSystem();
  }
}

struct FailRow {
  const char* what;
  sim::DisplayFault fault;
  const char* log;  // "" when the step fails silently
};

// Every call of the start-up made to fail: -1, the message, the Direct3D object released,
// no device left, no stand-in object more than before; and a start-up afterwards works.
TEST_F(StartupTest, AStartUpFailingAtAnyCallLeavesNothingBehind) {
  auto stageZeroAddress = [](const sim::DisplayCallRecord& r) {
    return r.stage == 0 && r.type == D3DTSS_ADDRESS;
  };
  const FailRow rows[] = {
      {"QueryInterface", Fault(sim::DisplayCall::QueryInterface),
       "Direct3Dオブジェクトの作成に失敗しました\r\n"},
      {"EnumDevices", Fault(sim::DisplayCall::EnumDevices),
       "現在の画面モードで使用できる描画デバイスが見つかりませんでした"},
      {"EnumDevices after finding", Fault(sim::DisplayCall::EnumDevices, {}, 0, 1, E_FAIL, true),
       "現在の画面モードで使用できる描画デバイスが見つかりませんでした"},
      {"CreateDevice", Fault(sim::DisplayCall::CreateDevice),
       "３Ｄデバイスを作成します... ３Ｄデバイスの作成に失敗しました\r\n"},
      {"stage 0 address", Fault(sim::DisplayCall::SetTextureStageState, stageZeroAddress, 0, -1), ""},
      {"EnumTextureFormats", Fault(sim::DisplayCall::EnumTextureFormats),
       "使用可能なテクスチャフォーマットが見つかりませんでした"},
      {"EnumTextureFormats after finding",
       Fault(sim::DisplayCall::EnumTextureFormats, {}, 0, 1, E_FAIL, true),
       "使用可能なテクスチャフォーマットが見つかりませんでした"},
  };
  for (const FailRow& row : rows) {
    SCOPED_TRACE(row.what);
    StartScreenOnly(sim::DefaultDisplayConfig());
    const int objects = sim::LiveObjects();
    const std::size_t blocks = GetMemoryUsage().blocks;
    sim::AddDisplayFault(row.fault);
    const std::size_t mark = sim::DisplayTraceMark();
    EXPECT_EQ(InitializeDirect3D(), -1);
    const std::string log = NewLog();
    EXPECT_NE(log.find(row.log), std::string::npos) << log;
    EXPECT_EQ(log.find("Direct3D 関連の初期化は正常に終了しました"), std::string::npos);
    EXPECT_FALSE(Direct3DAvailable());
    EXPECT_EQ(GetDeviceValid(), nullptr);
    EXPECT_EQ(sim::LiveObjects(), objects);
    EXPECT_EQ(GetMemoryUsage().blocks, blocks);
    if (row.fault.call != sim::DisplayCall::QueryInterface) {
      EXPECT_GE(CountCalls(mark, sim::DisplayCall::Release), 1u);
    }
    for (int i = 0; i < kDeviceRecordCount; ++i) EXPECT_EQ(GetDeviceRecord(i), nullptr);
    sim::ClearDisplayFaults();
    EXPECT_EQ(InitializeDirect3D(), 0);
    EXPECT_EQ(GetDirect3DState().currentDevice, 0);
    TerminateGraphicsSystem();
  }
}

// Without a DirectDraw object there is nothing to ask for Direct3D: before the screen
// exists, and when DirectDraw went while the object was released around a loss.
TEST_F(StartupTest, WithoutDirectDrawStartUpAndAcquireFailAndLeaveNothing) {
  int objects = sim::LiveObjects();
  std::size_t blocks = GetMemoryUsage().blocks;
  EXPECT_EQ(InitializeDirect3D(), -1);
  EXPECT_EQ(NewLog(),
            "0:Direct3D 関連の初期化を行います\r\n0:Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\r\n"
            "0:Direct3Dオブジェクトの作成に失敗しました\r\n");
  EXPECT_FALSE(Direct3DAvailable());
  EXPECT_EQ(GetDirect3DState().initialized, 0);
  EXPECT_EQ(TerminateDirect3D(), -1);
  EXPECT_EQ(sim::LiveObjects(), objects);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);

  Start();
  ASSERT_EQ(ReleaseDirect3DObject(), 0);
  // DirectDraw goes without ending the 3-D side, which stays waiting for its object.
  Graphics3DHooks keepDirect3D = Direct3DHooks();
  keepDirect3D.terminateDirect3D = nullptr;
  SetGraphics3DHooks(keepDirect3D);
  TerminateDirectDraw();
  SetGraphics3DHooks(Direct3DHooks());
  ASSERT_EQ(GetDirectDrawObject(), nullptr);
  NewLog();
  objects = sim::LiveObjects();
  blocks = GetMemoryUsage().blocks;
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(AcquireDirect3DAndDevice(), -1);
  EXPECT_EQ(NewLog(),
            "0:Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\r\n0:Direct3Dオブジェクトの作成に失敗しました\r\n");
  EXPECT_FALSE(Direct3DAvailable());
  EXPECT_EQ(GetDeviceValid(), nullptr);
  EXPECT_EQ(sim::DisplayTrace().size(), mark);
  EXPECT_EQ(sim::LiveObjects(), objects);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);
  // The waiting start-up is still ended whole.
  EXPECT_EQ(TerminateDirect3D(), 0);
  EXPECT_EQ(GetDirect3DState().initialized, 0);
  for (int i = 0; i < kDeviceRecordCount; ++i) EXPECT_EQ(GetDeviceRecord(i), nullptr);
}

TEST_F(StartupTest, ASecondStartUpChangesNothingAndTheMissingZFormatIsNoFailure) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.zFormats = {sim::MakePixelFormat(sim::PixelFormatName::D15S1),
                     sim::MakePixelFormat(sim::PixelFormatName::D24S8)};
  Start(config);
  EXPECT_TRUE(Direct3DAvailable());
  const std::string log = NewLog();
  EXPECT_NE(log.find("使用可能なＺバッファが見つかりませんでした\r\n"), std::string::npos);
  EXPECT_EQ(GetDirect3DState().zBufferFormat.dwFlags, 0u);
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(InitializeDirect3D(), -1);
  EXPECT_EQ(sim::DisplayTrace().size(), mark);
  EXPECT_EQ(NewLog(), "");
}

TEST_F(StartupTest, ReleaseAndAcquireAroundALostDeviceBringBackEveryPieceAndState) {
  // Before any start-up neither does anything.
  const std::size_t before = sim::DisplayTraceMark();
  EXPECT_EQ(AcquireDirect3DAndDevice(), 0);
  EXPECT_EQ(ReleaseDirect3DObject(), -1);
  EXPECT_EQ(sim::DisplayTrace().size(), before);

  Start();
  const int graph = MakeScreen(700, 300, 0);
  const int derived = DeriveGraph(10, 10, 600, 200, graph);
  ASSERT_GE(derived, 0);
  SetDrawMode(1);
  SetDrawScreen(graph);
  NewLog();
  EXPECT_EQ(ReleaseDirect3DObject(), 0);
  EXPECT_EQ(ReleaseDirect3DObject(), 0);
  EXPECT_EQ(NewLog(),
            "0:Ｄｉｒｅｃｔ３Ｄデバイスを削除しました\r\n0:Ｄｉｒｅｃｔ３Ｄオブジェクトを解放します\r\n"
            "0:Ｄｉｒｅｃｔ３Ｄオブジェクトを解放しました\r\n0:Ｄｉｒｅｃｔ３Ｄオブジェクトを解放します\r\n"
            "0:Ｄｉｒｅｃｔ３Ｄオブジェクトは既に解放されています\r\n");
  GraphRecord* record = GetGraphRecord(graph);
  for (int i = 0; i < record->pieceCount; ++i) {
    EXPECT_EQ(GetSurfaceRecord(GetPieceSurfaceHandle(record->pieces[i]))->surface, nullptr);
  }
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(AcquireDirect3DAndDevice(), 0);
  const std::string acquired = NewLog();
  EXPECT_EQ(acquired.rfind("0:Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\r\n0:"
                           "Ｄｉｒｅｃｔ３Ｄオブジェクトは正常に取得されました\r\n"
                           "0:３Ｄデバイスを作成します... ３Ｄデバイスの作成に成功しました\r\n",
                           0),
            0u)
      << acquired;
  EXPECT_EQ(CountCalls(mark, sim::DisplayCall::CreateDevice), 1u);
  for (GraphRecord* g : {record, GetGraphRecord(derived)}) {
    for (int i = 0; i < g->pieceCount; ++i) {
      SurfaceRecord* surface = GetSurfaceRecord(GetPieceSurfaceHandle(g->pieces[i]));
      ASSERT_NE(surface->surface, nullptr);
      const sim::SurfaceView view = sim::ViewSurface(sim::SurfaceId(surface->surface));
      EXPECT_FALSE(view.released);
      EXPECT_TRUE(view.hasColorKey);
    }
  }
  // The cached states went to the new device: the filter, the render target (the graph).
  const sim::DeviceView device = sim::ViewDevice();
  EXPECT_EQ(device.stageState[0][D3DTSS_MAGFILTER], D3DTFG_LINEAR);
  EXPECT_EQ(device.target, sim::SurfaceId(GetGraphTargetSurface(graph)));
  EXPECT_EQ(AcquireDirect3DAndDevice(), 0);
  EXPECT_NE(NewLog().find("Ｄｉｒｅｃｔ３Ｄオブジェクトは既に取得されていますn"), std::string::npos);
}

TEST_F(StartupTest, AFailedDeviceRestoreIsReportedAndLeavesNoHalfDevice) {
  Start();
  ASSERT_EQ(ReleaseDirect3DObject(), 0);
  sim::AddDisplayFault(Fault(sim::DisplayCall::CreateDevice));
  EXPECT_EQ(AcquireDirect3DAndDevice(), -1);
  EXPECT_EQ(GetDeviceValid(), nullptr);
  EXPECT_EQ(BeginSceneDevice(GetDirect3DState().currentDevice), -1);
  EXPECT_EQ(SetDeviceZFunc(GetDirect3DState().currentDevice, 5), 0);  // kept for the next restore
}

// Quitting while the object is released still ends everything, and start-up works again.
TEST_F(StartupTest, ShutdownFromTheReleasedStateDeletesEveryPiece) {
  Start();
  ASSERT_GE(MakeScreen(100, 100, 1), 0);
  ASSERT_GT(GetSurface3DDataCount(), 0);
  ASSERT_EQ(ReleaseDirect3DObject(), 0);
  NewLog();
  EXPECT_EQ(TerminateDirect3D(), 0);
  EXPECT_EQ(NewLog(),
            "0:Direct3D 関連の終了処理を行います\r\n0:３Ｄデバイスの削除は正常に終了しました\r\n"
            "0:Direct3D 関連の終了処理は正常に終了しました\r\n");
  EXPECT_EQ(GetSurface3DDataCount(), 0);
  EXPECT_EQ(GetDirect3DState().initialized, 0);
  EXPECT_EQ(TerminateDirect3D(), -1);
  EXPECT_EQ(InitializeDirect3D(), 0);
}

TEST_F(StartupTest, AThousandStartsAndStopsLeakNothing) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.trace = false;
  StartScreenOnly(config);
  SetOutApplicationLogValidFlag(0);
  const int objects = sim::LiveObjects();
  const std::size_t blocks = GetMemoryUsage().blocks;
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(InitializeDirect3D(), 0) << i;
    InitializeGraphManagement();
    ASSERT_GE(MakeScreen(64 + i % 7, 32, i & 1), 0);
    if (i % 3 == 0) ReleaseDirect3DObject();
    ASSERT_EQ(TerminateDirect3D(), 0) << i;
    DeleteAllGraphs();
  }
  EXPECT_EQ(sim::LiveObjects(), objects);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);
  EXPECT_EQ(GetSurface3DDataCount(), 0);
}

}  // namespace
}  // namespace gamelib
