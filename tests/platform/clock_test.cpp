// The virtual clock: moves only when asked, wraps like the 32-bit counter, runs hooks.
#include <cstdint>
#include <vector>

#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

struct Advance {
  std::uint64_t from, to, clockSeen;
  bool operator==(const Advance&) const = default;
};
std::vector<Advance> advances;
std::vector<int> hookOrder;
int resetsSeen = 0;
bool clockOffDuringReset = false;

void RecordAdvance(std::uint64_t from, std::uint64_t to) {
  // Reads the clock from inside the hook: the base must not hold its lock here.
  advances.push_back({from, to, sim::VirtualTimeMicros()});
  hookOrder.push_back(1);
}
void SecondHook(std::uint64_t, std::uint64_t) { hookOrder.push_back(2); }
void CountReset() {
  ++resetsSeen;
  clockOffDuringReset = !sim::VirtualClockInUse() && sim::VirtualTimeMicros() == 0;
}

class Clock : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::OnVirtualTimeAdvance(&RecordAdvance);
    platform::OnVirtualTimeAdvance(&SecondHook);
    platform::OnVirtualTimeAdvance(&RecordAdvance);  // kept once
    advances.clear();
    hookOrder.clear();
  }
};

TEST_F(Clock, VirtualClockMovesOnlyWhenAskedAndWrapsLikeA32BitCounter) {
  sim::UseVirtualClock(true);
  EXPECT_EQ(timeGetTime(), 0u);
  LARGE_INTEGER frequency{}, counter{};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency.QuadPart, 1000000);
  sim::AdvanceTimeMicros(1500);
  EXPECT_EQ(timeGetTime(), 1u);  // whole milliseconds, rounded down
  ASSERT_TRUE(QueryPerformanceCounter(&counter));
  EXPECT_EQ(counter.QuadPart, 1500);
  sim::AdvanceTime(10);
  Sleep(5);  // advances instead of sleeping
  Sleep(0);  // a zero advance calls no hook
  sim::AdvanceTimeMicros(0);
  EXPECT_EQ(sim::VirtualTimeMicros(), 16500u);
  EXPECT_EQ(advances, (std::vector<Advance>{{0, 1500, 1500}, {1500, 11500, 11500}, {11500, 16500, 16500}}));
  EXPECT_EQ(hookOrder, (std::vector<int>{1, 2, 1, 2, 1, 2}));
  sim::AdvanceTimeMicros((std::uint64_t{1} << 32) * 1000 - 16500 + 7000);
  EXPECT_EQ(timeGetTime(), 7u);
}

TEST_F(Clock, RealClockSleepsForReal) {
  ASSERT_FALSE(sim::VirtualClockInUse());
  LARGE_INTEGER before{}, after{};
  QueryPerformanceCounter(&before);
  Sleep(3);
  QueryPerformanceCounter(&after);
  EXPECT_GE(after.QuadPart - before.QuadPart, 3000);
  EXPECT_EQ(sim::VirtualTimeMicros(), 0u);
  EXPECT_TRUE(advances.empty());
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST_F(Clock, ResetStopsAndZeroesTheClockThenRunsHooks) {
  platform::OnReset(&CountReset);
  platform::OnReset(&CountReset);
  sim::UseVirtualClock(true);
  sim::AdvanceTime(100);
  resetsSeen = 0;
  sim::Reset();
  EXPECT_EQ(resetsSeen, 1);
  EXPECT_TRUE(clockOffDuringReset);
  EXPECT_FALSE(sim::VirtualClockInUse());
  EXPECT_EQ(sim::VirtualTimeMicros(), 0u);
}

}  // namespace
