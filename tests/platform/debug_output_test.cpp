#include <string>

#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

using DebugOutput = PlatformTest;

TEST_F(DebugOutput, CapturedUntilTaken) {
  OutputDebugStringA("one\r\n");
  OutputDebugStringA(nullptr);
  OutputDebugStringA("");
  OutputDebugStringA("二");
  EXPECT_EQ(sim::TakeDebugOutput(), "one\r\n二");
  EXPECT_EQ(sim::TakeDebugOutput(), "");
  OutputDebugStringA("gone");
  sim::Reset();
  EXPECT_EQ(sim::TakeDebugOutput(), "");
}

TEST_F(DebugOutput, KeepsOnlyTheNewestSixteenMegabytes) {
  const std::size_t chunk = 1 << 20;
  for (int i = 0; i < 40; ++i) {
    OutputDebugStringA(std::string(chunk, static_cast<char>('A' + i % 26)).c_str());
  }
  std::string taken = sim::TakeDebugOutput();
  ASSERT_EQ(taken.size(), 16 * chunk);
  EXPECT_EQ(taken.front(), 'A' + 24 % 26);  // chunks 24..39 survive
  EXPECT_EQ(taken.back(), 'A' + 39 % 26);
  EXPECT_EQ(sim::TakeDebugOutput(), "");
}

}  // namespace
