// The stand-ins' shared controls: live-object counters, reset hooks, debugger output.
#include <string>
#include <vector>

#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

using Sim = PlatformTest;

int extraLive = 0;
int ExtraLive() { return extraLive; }
std::vector<int> resetOrder;

TEST_F(Sim, CountersAreAddedAndResetHooksRunInOrderOncePerReset) {
  platform::AddLiveObjectCounter(&ExtraLive);
  platform::AddLiveObjectCounter(&ExtraLive);  // kept once
  extraLive = 3;
  EXPECT_EQ(sim::LiveObjects(), 3);
  extraLive = 0;
  static void (*const first)() = [] { resetOrder.push_back(1); };
  platform::OnReset(first);
  platform::OnReset([] { resetOrder.push_back(2); });
  platform::OnReset(first);
  resetOrder.clear();
  sim::Reset();
  sim::Reset();
  EXPECT_EQ(resetOrder, (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(Sim, DebugOutputIsCapturedUntilTakenAndKeepsTheNewestSixteenMegabytes) {
  OutputDebugStringA("one\r\n");
  OutputDebugStringA(nullptr);
  OutputDebugStringA("二");
  EXPECT_EQ(sim::TakeDebugOutput(), "one\r\n二");
  EXPECT_EQ(sim::TakeDebugOutput(), "");
  OutputDebugStringA("gone");
  sim::Reset();
  EXPECT_EQ(sim::TakeDebugOutput(), "");
  const std::size_t chunk = 1 << 20;
  for (int i = 0; i < 40; ++i)
    OutputDebugStringA(std::string(chunk, static_cast<char>('A' + i % 26)).c_str());
  std::string taken = sim::TakeDebugOutput();
  ASSERT_EQ(taken.size(), 16 * chunk);
  EXPECT_EQ(taken.front(), 'A' + 24 % 26);  // chunks 24..39 survive
  EXPECT_EQ(taken.back(), 'A' + 39 % 26);
}

}  // namespace
