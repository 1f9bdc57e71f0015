// Fault injection: which calls fail, counted by name from the moment of the request.
#include <atomic>
#include <thread>
#include <vector>

#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

using FaultInjection = PlatformTest;

std::vector<bool> Calls(const char* op, int n) {
  std::vector<bool> failed;
  for (int i = 0; i < n; ++i) failed.push_back(platform::ShouldFail(op));
  return failed;
}

TEST_F(FaultInjection, NthCallFromTheRequestFailsTimesInARowAndRequestsAddUp) {
  sim::FailCall("Op", 1);
  EXPECT_EQ(Calls("Op", 2), (std::vector<bool>{true, false}));
  sim::FailCall("Op", 3, 2);  // counted from here, not from the first call
  EXPECT_EQ(Calls("Op", 6), (std::vector<bool>{false, false, true, true, false, false}));
  EXPECT_EQ(sim::CallCount("Op"), 8);
  sim::FailCall("Op", 2, 2);
  sim::FailCall("Op", 3, 2);
  EXPECT_EQ(Calls("Op", 5), (std::vector<bool>{false, true, true, true, false}));
  for (auto [n, times] : {std::pair{0, 1}, {-1, 1}, {1, 0}}) sim::FailCall("Op", n, times);  // ignored
  sim::FailCall(nullptr, 1);
  EXPECT_EQ(Calls("Op", 2), (std::vector<bool>{false, false}));
  EXPECT_FALSE(platform::ShouldFail(nullptr));
}

TEST_F(FaultInjection, NamesAreIndependentClearKeepsCountsResetClearsBoth) {
  sim::FailCall("A", 1);
  EXPECT_FALSE(platform::ShouldFail("a"));
  EXPECT_TRUE(platform::ShouldFail("A"));
  EXPECT_EQ(sim::CallCount("never"), 0);
  sim::FailCall("Op", 2);
  Calls("Op", 1);
  sim::ClearFailures();
  EXPECT_FALSE(platform::ShouldFail("Op"));
  EXPECT_EQ(sim::CallCount("Op"), 2);
  sim::FailCall("Op", 1);
  sim::Reset();
  EXPECT_EQ(sim::CallCount("Op"), 0);
  EXPECT_FALSE(platform::ShouldFail("Op"));
}

TEST_F(FaultInjection, ExactlyTheRequestedCallsFailAcrossThreads) {
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
  EXPECT_EQ(sim::CallCount("Shared"), 4000);
}

TEST_F(FaultInjection, PlatformCallsAskByTheirOwnName) {
  sim::FailCall("CreateFileA", 1);
  EXPECT_EQ(CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  HANDLE file = CreateFileA("/dev/null", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  sim::FailCall("ReadFile", 1);
  char byte;
  DWORD read = 99;
  EXPECT_FALSE(ReadFile(file, &byte, 1, &read, nullptr));
  EXPECT_EQ(read, 0u);
  sim::FailCall("CloseHandle", 1);
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(sim::LiveObjects(), 1);  // a failed close leaves the handle open
  EXPECT_TRUE(CloseHandle(file));
}

}  // namespace
