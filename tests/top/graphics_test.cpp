// The graphics system inside the library's start-up and shutdown, and the main window's
// activation giving up and restoring the 3-D device of a full-screen program.
#include "../core/core_fixture.h"
#include "gamelib/graphics.h"

namespace {

using namespace gamelib;

TEST_F(CoreTest, AFullScreenWindowGivesUpItsDeviceWhenDeactivatedAndGetsItBack) {
  ChangeWindowMode(0);
  ASSERT_EQ(InitializeLibrary(), 0);
  const std::string started = NewLog();
  EXPECT_LT(started.find("Direct3D 関連の初期化は正常に終了しました"),
            started.find("ライブラリの初期化が完了しました"));
  EXPECT_EQ(IsUse3DDrawing(), 1);
  ASSERT_GE(MakeGraph(64, 64), 0);
  SendMessageA(GetMainWindowHandle(), WM_ACTIVATEAPP, FALSE, 0);
  EXPECT_NE(NewLog().find("0:Ｄｉｒｅｃｔ３Ｄオブジェクトを解放しました\r\n"), std::string::npos);
  EXPECT_EQ(IsUse3DDrawing(), 0);
  SendMessageA(GetMainWindowHandle(), WM_ACTIVATEAPP, TRUE, 0);
  EXPECT_NE(NewLog().find("0:Ｄｉｒｅｃｔ３Ｄオブジェクトは正常に取得されました\r\n"), std::string::npos);
  EXPECT_EQ(IsUse3DDrawing(), 1);
  EXPECT_EQ(ScreenFlip(), 0);
  ASSERT_EQ(TerminateLibrary(), 0);
  EXPECT_NE(NewLog().find("Direct3D 関連の終了処理は正常に終了しました"), std::string::npos);

  // A window keeps its device.
  ChangeWindowMode(1);
  ASSERT_EQ(InitializeLibrary(), 0);
  NewLog();
  SendMessageA(GetMainWindowHandle(), WM_ACTIVATEAPP, FALSE, 0);
  EXPECT_EQ(NewLog().find("解放"), std::string::npos);
  EXPECT_EQ(IsUse3DDrawing(), 1);
  SendMessageA(GetMainWindowHandle(), WM_ACTIVATEAPP, TRUE, 0);
}

TEST_F(CoreTest, AStartWhoseScreenCannotBeMadeFailsAndUndoesItself) {
  sim::DisplayFault fault;
  fault.call = sim::DisplayCall::CreateSurface;
  fault.times = -1;
  sim::AddDisplayFault(fault);
  EXPECT_EQ(InitializeLibrary(), -1);
  EXPECT_EQ(sim::LiveObjects(), 0);
  sim::ClearDisplayFaults();
  // Without a device the library still starts, drawing without 3-D.
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.devices.clear();
  sim::ConfigureDisplay(config);
  ASSERT_EQ(InitializeLibrary(), 0);
  EXPECT_EQ(IsUse3DDrawing(), 0);
  EXPECT_GE(MakeGraph(8, 8), 0);
}

}  // namespace
