// The controls every other test stands on: a fault injected at another call than the
// one asked for, or a clock that moves by itself, would quietly change what they check.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

using Controls = PlatformTest;

std::vector<bool> Calls(const char* op, int n) {
  std::vector<bool> failed;
  for (int i = 0; i < n; ++i) failed.push_back(platform::ShouldFail(op));
  return failed;
}

TEST_F(Controls, FaultsHitTheCallsAskedForAndTheClockMovesOnlyWhenAsked) {
  Calls("Op", 3);
  sim::FailCall("Op", 2, 2);  // counted from the request, not from the first call
  sim::FailCall("Op", 3, 2);
  sim::FailCall("op", 1);
  sim::FailCall(nullptr, 1);
  EXPECT_EQ(Calls("Op", 6), (std::vector<bool>{false, true, true, true, false, false}));
  EXPECT_EQ(sim::CallCount("Op"), 9);
  EXPECT_EQ(sim::CallCount(nullptr), 0);
  // Platform calls ask by their own names, and a failed call changes nothing.
  WNDCLASSA wc{0, &DefWindowProcA, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, "ControlsWindow"};
  sim::FailCall("RegisterClassA", 1);
  sim::FailCall("CreateFileA", 1);
  sim::FailCall("LoadLibraryA", 1);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(CreateWindowExA(0, "ControlsWindow", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(LoadLibraryA("DSOUND.DLL"), nullptr);
  EXPECT_EQ(sim::LiveObjects(), 0);
  sim::FailCall("Shared", 500, 10);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) failures += platform::ShouldFail("Shared") ? 1 : 0;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 10);

  // The real clock is the monotonic one, in microseconds; the virtual one reads 0 until moved.
  LARGE_INTEGER frequency{}, before{}, after{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  Sleep(3);
  QueryPerformanceCounter(&after);
  EXPECT_GE(after.QuadPart - before.QuadPart, 3000);
  const auto steady = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  EXPECT_LT(std::abs(steady.count() - after.QuadPart), 1000000);
  sim::UseVirtualClock(true);
  sim::AdvanceTimeMicros(1500);
  Sleep(5);  // advances instead of sleeping
  QueryPerformanceCounter(&after);
  EXPECT_EQ(after.QuadPart * 1000000 / frequency.QuadPart, 6500);
  sim::AdvanceTimeMicros((std::uint64_t{1} << 32) * 1000);
  EXPECT_EQ(timeGetTime(), 6u);  // wraps as the 32-bit counter does

  sim::Reset();
  EXPECT_FALSE(platform::ShouldFail("Op"));
  EXPECT_EQ(sim::CallCount("Op"), 1);
  EXPECT_EQ(sim::VirtualTimeMicros(), 0u);
  EXPECT_FALSE(sim::VirtualClockInUse());
}

}  // namespace
