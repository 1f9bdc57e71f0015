// Start-up and shutdown, the window and its procedure, the message pump, fatal exit.
#include <string>
#include <vector>

#include "core_fixture.h"

namespace {

using gamelib::GetMainWindowHandle;
using gamelib::GetWindowClosedFlag;
using gamelib::InitializeLibrary;
using gamelib::PumpWindowMessages;
using gamelib::TerminateLibrary;

TEST_F(CoreTest, StartsAndStopsRepeatedlyWithoutLeaksAndRefusesASecondStart) {
  EXPECT_EQ(PumpWindowMessages(), -1);  // not started
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(InitializeLibrary(), 0) << i;
    HWND window = GetMainWindowHandle();
    EXPECT_NE(window, nullptr);
    EXPECT_EQ(InitializeLibrary(), -1);
    EXPECT_EQ(GetMainWindowHandle(), window);
    EXPECT_EQ(PumpWindowMessages(), 0);
    ASSERT_EQ(TerminateLibrary(), 0);
    EXPECT_EQ(GetMainWindowHandle(), nullptr);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_.blocks);
    EXPECT_EQ(sim::LiveObjects(), 0);
  }
  EXPECT_EQ(TerminateLibrary(), -1);  // not started: harmless
}

TEST_F(CoreTest, FailedStartCleansUpAndALaterStartWorks) {
  for (const char* operation : {"CreateWindowExA", "RegisterClassA"}) {
    sim::FailCall(operation, 1);
    EXPECT_EQ(InitializeLibrary(), -1) << operation;
    EXPECT_EQ(GetMainWindowHandle(), nullptr);
    EXPECT_EQ(sim::LiveObjects(), 0);
    EXPECT_EQ(TerminateLibrary(), -1);
    EXPECT_NE(LogFile().find("ライブラリの終了処理が完了しました"), std::string::npos);
  }
  ASSERT_EQ(InitializeLibrary(), 0);
}

TEST_F(CoreTest, ShutdownRestoresTheStartupDirectoryAndTheLogStaysThere) {
  std::filesystem::create_directory("elsewhere");
  ASSERT_EQ(InitializeLibrary(), 0);
  std::filesystem::current_path("elsewhere");
  gamelib::OutputLog("moved\n");
  ASSERT_EQ(TerminateLibrary(), 0);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(directory_));
  EXPECT_NE(LogFile().find("moved"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(directory_ / "elsewhere" / "Log.txt"));
}

TEST_F(CoreTest, SwitchesAndBackgroundColourOutliveStartAndStop) {
  gamelib::SetBackgroundColor(10, 20, 30);
  gamelib::SetNoSoundFlag(1);
  ASSERT_EQ(InitializeLibrary(), 0);
  TerminateLibrary();
  ASSERT_EQ(InitializeLibrary(), 0);
  int r = 0, b = 0;
  gamelib::GetBackgroundColor(&r, nullptr, &b);
  EXPECT_EQ(r * 100 + b, 1030);
  EXPECT_EQ(gamelib::GetNoSoundFlag(), 1);
  EXPECT_EQ(gamelib::GetWindowModeFlag(), 1);
  gamelib::SetBackgroundColor(0, 0, 0);
}

TEST_F(CoreTest, ClosingTheWindowOrQuittingEndsThePump) {
  ASSERT_EQ(InitializeLibrary(), 0);
  HWND window = GetMainWindowHandle();
  EXPECT_EQ(SendMessageA(window, MM_MCINOTIFY, 1, 0), 0);  // handled, nothing to notify yet
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(PumpWindowMessages(), -1);
  EXPECT_NE(GetWindowClosedFlag(), 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(PumpWindowMessages(), -1);
  EXPECT_EQ(TerminateLibrary(), 0);
  ASSERT_EQ(InitializeLibrary(), 0);  // a new window, a cleared flag
  EXPECT_EQ(GetWindowClosedFlag(), 0);
  PostQuitMessage(0);
  EXPECT_EQ(PumpWindowMessages(), -1);
}

TEST_F(CoreTest, PumpDispatchesAtMostFiveMessagesPerPass) {
  ASSERT_EQ(InitializeLibrary(), 0);
  HWND window = GetMainWindowHandle();
  for (int i = 0; i < 12; ++i) PostMessageA(window, WM_USER + i, 0, 0);
  EXPECT_EQ(PumpWindowMessages(), 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 5u);
  EXPECT_EQ(PumpWindowMessages(), 0);
  EXPECT_EQ(PumpWindowMessages(), 0);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

// What the per-frame work did, through the pump's observer; at chosen steps it
// re-enters the pump, reactivates the application or closes the window.
std::vector<std::string> g_steps;
int g_activateAfter = 0;
int g_closeAfter = 0;
bool g_reenter = false;
int g_innerResult = 99;

void Record(const char* step) {
  g_steps.push_back(step);
  std::string s = step;
  const int n = static_cast<int>(g_steps.size());
  if (g_reenter && s == "music") g_innerResult = PumpWindowMessages();
  if (s == "stream" && n == g_closeAfter) PostMessageA(GetMainWindowHandle(), WM_CLOSE, 0, 0);
  if (s == "stream" && n == g_activateAfter) {
    sim::SetAppActive(true);
    if (g_reenter) g_innerResult = PumpWindowMessages();
  }
}

class PumpTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(InitializeLibrary(), 0);
    g_steps.clear();
    g_activateAfter = g_closeAfter = 0;
    g_reenter = false;
    g_innerResult = 99;
    gamelib::SetPumpWorkObserver(Record);
  }
};

TEST_F(PumpTest, FrameWorkRunsInOrderAndNotAgainFromAPumpItEnters) {
  g_reenter = true;
  EXPECT_EQ(PumpWindowMessages(), 0);
  EXPECT_EQ(g_innerResult, 0);
  EXPECT_EQ(g_steps, (std::vector<std::string>{"stream", "music", "input"}));
  g_reenter = false;
  EXPECT_EQ(PumpWindowMessages(), 0);  // the guard is released afterwards
  EXPECT_EQ(g_steps.size(), 6u);
}

TEST_F(PumpTest, InactiveWindowWaitsInOneMillisecondSleepsRefillingStreams) {
  sim::SetAppActive(false);
  g_activateAfter = 10;
  std::uint64_t start = sim::VirtualTimeMicros();
  EXPECT_EQ(PumpWindowMessages(), 0);
  EXPECT_EQ(sim::VirtualTimeMicros() - start, 10000u);  // one Sleep(1) per refill
  std::vector<std::string> expected(10, "stream");
  expected.insert(expected.end(), {"stream", "music", "input"});
  EXPECT_EQ(g_steps, expected);
}

TEST_F(PumpTest, RefillOfAnInactiveWaitIsGuardedToo) {
  sim::SetAppActive(false);
  g_activateAfter = 3;
  g_reenter = true;  // the refill runs a pump of its own after reactivating
  EXPECT_EQ(PumpWindowMessages(), 0);
  EXPECT_EQ(g_innerResult, 0);
  EXPECT_EQ(g_steps, (std::vector<std::string>{"stream", "stream", "stream", "stream", "music", "input"}));
}

TEST_F(PumpTest, WindowClosedWhileInactiveEndsTheWait) {
  sim::SetAppActive(false);
  g_closeAfter = 3;
  EXPECT_EQ(PumpWindowMessages(), -1);
  EXPECT_EQ(g_steps, (std::vector<std::string>{"stream", "stream", "stream"}));  // no frame work
  EXPECT_NE(GetWindowClosedFlag(), 0);
}

TEST(CoreExit, ExitWithErrorLogsShutsDownAndExitsWithMinusOne) {
  EXPECT_EXIT(gamelib::ExitWithError("早すぎる終了"), ::testing::ExitedWithCode(255), "");  // before start
  auto dir = std::filesystem::path(::testing::TempDir()) / "gamelib-core-exit";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  EXPECT_EXIT(
      {
        std::filesystem::current_path(dir);
        sim::Reset();
        sim::UseVirtualClock(true);
        gamelib::SetOutApplicationLogValidFlag(1);
        if (InitializeLibrary() != 0) std::_Exit(3);
        gamelib::ExitWithError("致命的なエラーです");
      },
      ::testing::ExitedWithCode(255), "");
  std::string log = CoreTest::ReadFile(dir / "Log.txt");
  std::size_t message = log.find("0:致命的なエラーです\r\n");
  ASSERT_NE(message, std::string::npos) << log;
  EXPECT_NE(log.find("ライブラリの終了処理が完了しました", message), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
