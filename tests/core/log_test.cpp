// The log's exact bytes: line prefix, indent, CR LF, no added line break, truncation.
#include <string>

#include "core/log.h"
#include "core_fixture.h"

namespace {

using gamelib::OutputLog;
using gamelib::OutputLogFormat;

class LogTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    before_ = LogFile().size();
    sim::TakeDebugOutput();
  }
  // What was written since the last call, checked to be the same on the debugger output.
  std::string Written() {
    std::string file = LogFile().substr(before_);
    EXPECT_EQ(sim::TakeDebugOutput(), file);
    before_ += file.size();
    return file;
  }
  std::size_t before_ = 0;
};

TEST_F(LogTest, LinesStartWithTimeColonAndIndentAndEndInCrLf) {
  sim::AdvanceTime(1234);
  EXPECT_EQ(OutputLog("abc"), -1);
  sim::AdvanceTime(5);  // the prefix was taken when the line began
  EXPECT_EQ(OutputLog("def\n"), -1);
  gamelib::IncreaseLogIndent();
  gamelib::IncreaseLogIndent();
  OutputLog("x\ny\n");
  gamelib::DecreaseLogIndent();
  OutputLog("z\n");
  gamelib::DecreaseLogIndent();
  gamelib::DecreaseLogIndent();  // not below zero
  OutputLog("w\n");
  EXPECT_EQ(Written(), "1234:abcdef\r\n1239:\t\tx\r\n1239:\t\ty\r\n1239:\tz\r\n1239:w\r\n");
}

TEST_F(LogTest, OnlyLoneLineFeedsBecomeCrLfAndNothingIsAddedOrWrittenWhileOff) {
  OutputLog("a\r\nb\n\nc\r");
  OutputLog("\nd\re\n");
  OutputLog("");
  gamelib::SetOutApplicationLogValidFlag(0);
  EXPECT_EQ(OutputLog("hidden\n"), -1);
  EXPECT_EQ(OutputLogFormat("%s", "hidden"), -1);
  gamelib::SetOutApplicationLogValidFlag(1);
  OutputLog("one");
  OutputLog(" two");
  EXPECT_EQ(Written(), "0:a\r\n0:b\r\n0:\r\n0:c\r\n0:d\re\r\n0:one two");
}

TEST_F(LogTest, FormatAppendsLineBreakAndTruncatesSafelyAtTwoKilobytes) {
  sim::AdvanceTime(70);
  EXPECT_EQ(OutputLogFormat("%d|%x|%5s|%.2f|%s", -3, 255u, "ab", 1.5, "日本語"), -1);
  EXPECT_EQ(Written(), "70:-3|ff|   ab|1.50|日本語\r\n");

  const std::size_t room = gamelib::kLogFormatBufferBytes - 2;  // text bytes that fit
  std::string exact(room, 'a');
  OutputLogFormat("%s", exact.c_str());
  EXPECT_EQ(Written(), "70:" + exact + "\r\n");
  OutputLogFormat("%s", std::string(3000, 'b').c_str());
  EXPECT_EQ(Written(), "70:" + std::string(room, 'b') + "\r\n");
  // A three-byte character that would be cut in half is dropped whole.
  OutputLogFormat("%s", (std::string(room - 1, 'c') + "あ").c_str());
  EXPECT_EQ(Written(), "70:" + std::string(room - 1, 'c') + "\r\n");
}

TEST_F(LogTest, StartAndStopAreLogged) {
  gamelib::TerminateLibrary();
  std::string log = LogFile();
  EXPECT_EQ(log.rfind("0:ライブラリの初期化を開始します\r\n", 0), 0u);
  EXPECT_NE(log.find("\tライブラリのバージョン　2.25b\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("0:ライブラリの終了処理が完了しました\r\n"), std::string::npos);
}

TEST_F(CoreTest, LogFileOnlyWhenSwitchedOnAndDebuggerOutputBeforeStart) {
  gamelib::SetOutApplicationLogValidFlag(0);
  ASSERT_EQ(gamelib::InitializeLibrary(), 0);
  OutputLog("x\n");
  gamelib::TerminateLibrary();
  EXPECT_FALSE(std::filesystem::exists(directory_ / "Log.txt"));
  EXPECT_EQ(sim::TakeDebugOutput(), "");
  gamelib::SetOutApplicationLogValidFlag(1);
  OutputLog("early\n");  // before start-up only the debugger gets the text
  EXPECT_NE(sim::TakeDebugOutput().find("early\r\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(directory_ / "Log.txt"));
}

TEST_F(CoreTest, NewStartWritesAFreshLogWithTimeAndIndentFromStart) {
  ASSERT_EQ(gamelib::InitializeLibrary(), 0);
  OutputLog("first run\n");
  gamelib::IncreaseLogIndent();
  gamelib::TerminateLibrary();
  sim::AdvanceTime(5000);
  ASSERT_EQ(gamelib::InitializeLibrary(), 0);
  sim::AdvanceTime(3);
  OutputLog("second run\n");
  std::string log = LogFile();
  EXPECT_EQ(log.find("first run"), std::string::npos);
  EXPECT_NE(log.find("\r\n3:second run\r\n"), std::string::npos) << log;
}

}  // namespace
