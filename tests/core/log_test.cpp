// The log's exact bytes: line prefix, indent, CR LF, no added line break, truncation,
// and where it goes while switched on or off.
#include "core/log.h"
#include "core_fixture.h"

namespace {

using namespace gamelib;

TEST_F(CoreTest, LinesStartWithTimeAndIndentOnlyLoneLineFeedsBecomeCrLfAndLongTextIsCut) {
  ASSERT_EQ(InitializeLibrary(), 0);
  NewLog();
  sim::TakeDebugOutput();
  // What was written since the last call, the same in the file and the debugger output.
  auto written = [this] {
    std::string file = NewLog();
    EXPECT_EQ(sim::TakeDebugOutput(), file);
    return file;
  };
  sim::AdvanceTime(1234);
  EXPECT_EQ(OutputLog("abc"), -1);
  sim::AdvanceTime(5);  // the prefix was taken when the line began
  OutputLog("def\n");
  IncreaseLogIndent();
  IncreaseLogIndent();
  OutputLog("x\ny\r\n");
  DecreaseLogIndent();
  OutputLog("z\n\nc\r");
  DecreaseLogIndent();
  DecreaseLogIndent();  // not below zero
  OutputLog("\nd\re\n");
  EXPECT_EQ(written(),
            "1234:abcdef\r\n1239:\t\tx\r\n1239:\t\ty\r\n1239:\tz\r\n1239:\t\r\n1239:\tc\r\n1239:d\re\r\n");
  // Formatted text gets a line break and is cut safely at two kilobytes.
  EXPECT_EQ(OutputLogFormat("%d|%x|%5s|%.2f|%s", -3, 255u, "ab", 1.5, "日本語"), -1);
  EXPECT_EQ(written(), "1239:-3|ff|   ab|1.50|日本語\r\n");
  const std::size_t room = kLogFormatBufferBytes - 2;  // text bytes that fit
  // Text, then what is kept: a character that would be cut in half is dropped whole.
  const std::string rows[][2] = {{std::string(room, 'a'), std::string(room, 'a')},
                                 {std::string(3000, 'b'), std::string(room, 'b')},
                                 {std::string(room - 1, 'c') + "あ", std::string(room - 1, 'c')},
                                 {std::string(room - 3, 'd') + "あzz", std::string(room - 3, 'd') + "あ"}};
  for (const auto& r : rows) {
    OutputLogFormat("%s", r[0].c_str());
    EXPECT_EQ(written(), "1239:" + r[1] + "\r\n") << r[0].size();
  }
}

TEST_F(CoreTest, NothingIsWrittenWhileOffAndOnlyTheDebuggerHearsBeforeStart) {
  OutputLog("early\n");
  EXPECT_NE(sim::TakeDebugOutput().find("early\r\n"), std::string::npos);
  SetOutApplicationLogValidFlag(0);
  ASSERT_EQ(InitializeLibrary(), 0);
  OutputLog("hidden\n");
  TerminateLibrary();
  EXPECT_EQ(sim::TakeDebugOutput(), "");
  EXPECT_FALSE(std::filesystem::exists(directory_ / "Log.txt"));
}

}  // namespace
