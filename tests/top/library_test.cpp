// Start-up and shutdown of the whole library, and the fatal exit.
#include <initializer_list>

#include "../core/core_fixture.h"

namespace {

using namespace gamelib;

// Each marker found after the one before it.
void ExpectInOrder(const std::string& log, std::initializer_list<const char*> markers) {
  std::size_t at = 0;
  for (const char* marker : markers) {
    at = log.find(marker, at);
    ASSERT_NE(at, std::string::npos) << marker << "\n" << log;
  }
}

TEST_F(CoreTest, StartAndStopRunTheirStepsInOrderWithOrWithoutSoundAndEndInTheStartDirectory) {
  EXPECT_EQ(PumpWindowMessages(), -1);
  ASSERT_EQ(SetBackgroundColor(10, 20, 30), 0);
  std::filesystem::create_directory("elsewhere");
  for (int noSound : {0, 1, 0}) {
    sim::AdvanceTime(1000);  // each log counts from its own start
    ASSERT_EQ(SetNoSoundFlag(noSound), 0);
    ASSERT_EQ(InitializeLibrary(), 0);
    EXPECT_EQ(InitializeLibrary(), -1);
    EXPECT_EQ(PumpWindowMessages(), 0);
    std::filesystem::current_path("elsewhere");  // the log stays where it was opened
    ASSERT_EQ(TerminateLibrary(), 0);
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(directory_));
    EXPECT_EQ(TerminateLibrary(), -1);
    EXPECT_EQ(GetMainWindowHandle(), nullptr);
    EXPECT_EQ(GetMemoryUsage().blocks, baseline_);
    EXPECT_EQ(sim::LiveObjects(), 0);
    const std::string log = Log();
    EXPECT_EQ(log.rfind("0:ライブラリの初期化を開始します\r\n", 0), 0u);
    EXPECT_EQ(log.find("DirectSound") == std::string::npos, noSound == 1) << log;
    EXPECT_EQ(log.find("0:ライブラリの初期化を開始します", 1), std::string::npos) << log;  // a fresh log
    ExpectInOrder(
        log,
        {"\tライブラリのバージョン　2.25b\r\n", noSound ? "" : "DirectSound の初期化は正常に終了しました",
         "0:ライブラリの初期化が完了しました\r\n", "0:ライブラリは既に初期化されています\r\n",
         "0:ライブラリの終了処理を開始します\r\n", noSound ? "" : "DirectSound の終了処理は正常に",
         "0:ライブラリの終了処理が完了しました\r\n"});
  }
  int r = 0, b = 0;
  EXPECT_EQ(GetBackgroundColor(&r, nullptr, &b), 0);
  EXPECT_EQ(r * 100 + b, 1030);  // kept across start and stop
}

TEST_F(CoreTest, AFailedStartUndoesItselfWithoutTheLaterSteps) {
  for (auto [operation, message] : {std::pair{"RegisterClassA", "0:ウインドウクラスの登録に失敗しました\r\n"},
                                    {"CreateWindowExA", "0:ウインドウの作成に失敗しました\r\n"}}) {
    sim::FailCall(operation, 1);
    EXPECT_EQ(InitializeLibrary(), -1) << operation;
    EXPECT_EQ(sim::LiveObjects(), 0);
    EXPECT_EQ(TerminateLibrary(), -1);
    ExpectInOrder(Log(), {message, "0:ライブラリの終了処理が完了しました\r\n"});
    EXPECT_EQ(Log().find("DirectSound"), std::string::npos);
    EXPECT_EQ(Log().find("終了処理を開始"), std::string::npos);
  }
}

TEST_F(CoreTest, FatalExitLogsTheMessageShutsDownAndExitsWithMinusOne) {
  EXPECT_EXIT(ExitWithError("早すぎる終了"), ::testing::ExitedWithCode(255), "");  // before start
  EXPECT_EXIT(
      {
        if (InitializeLibrary() != 0) std::_Exit(3);
        ExitWithError("致命的なエラーです");
      },
      ::testing::ExitedWithCode(255), "");
  ExpectInOrder(Log(), {"\r\n0:致命的なエラーです\r\n", "0:ライブラリの終了処理を開始します\r\n",
                        "DirectSound の終了処理", "0:ライブラリの終了処理が完了しました\r\n"});
}

}  // namespace
