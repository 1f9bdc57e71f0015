// The message pump: messages per pass, the end of the window, and the subsystems' work
// of each pass and of an inactive window's wait.
#include "../core/core_fixture.h"

namespace {

using namespace gamelib;

// The work's steps by first letter ("stream", "music", "input"). At chosen steps the
// observer re-enters the pump, reactivates the application or closes the window.
std::string g_steps;
int g_activateAfter = 0, g_closeAfter = 0;
bool g_reenter = false;

void Record(const char* step) {
  g_steps += step[0];
  const int n = static_cast<int>(g_steps.size());
  EXPECT_EQ(n == g_closeAfter ? SendMessageA(GetMainWindowHandle(), WM_CLOSE, 0, 0) : 0, 0);
  if (n == g_activateAfter) sim::SetAppActive(true);
  EXPECT_EQ(g_reenter && (step[0] == 'm' || n == g_activateAfter) ? PumpWindowMessages() : 0, 0);
}

TEST_F(CoreTest, PumpWorkRunsOncePerPassAndEachMillisecondOfAnInactiveWaitButNeverNested) {
  ASSERT_EQ(InitializeLibrary(), 0);
  SetPumpWorkObserver(Record);
  for (int i = 0; i < 16; ++i) PostMessageA(GetMainWindowHandle(), WM_USER + i, 0, 0);
  struct {
    bool inactive;
    int activateAfter, closeAfter;
    bool reenter, restart, quit;  // the observer runs a pump of its own; a new start; WM_QUIT first
    int result, waitedMs, next;   // next: the first message left (five are dispatched per pass)
    const char* steps;
  } rows[] = {
      {false, 0, 0, false, false, false, 0, 0, 5, "smi"},
      {false, 0, 0, true, false, false, 0, 0, 15, "smi"},  // the inner pump dispatches, but does no work
      {true, 10, 0, false, false, false, 0, 10, -1, "sssssssssssmi"},  // the guard was released
      {true, 3, 0, true, false, false, 0, 3, -1, "ssssmi"},
      {true, 0, 3, false, false, false, -1, 3, -1, "sss"},  // closed while waiting: no frame work
      {false, 0, 0, false, false, false, -1, 0, -1, ""},
      {false, 0, 2, false, true, false, -1, 0, -1, "smi"},  // closed by the frame's work
      {false, 0, 0, false, true, true, -1, 0, -1, ""},
  };
  for (const auto& r : rows) {
    ASSERT_TRUE(!r.restart || (TerminateLibrary() == 0 && InitializeLibrary() == 0));
    if (r.quit) PostQuitMessage(0);
    g_steps.clear();
    g_activateAfter = r.activateAfter;
    g_closeAfter = r.closeAfter;
    g_reenter = r.reenter;
    if (r.inactive) sim::SetAppActive(false);
    const std::uint64_t start = sim::VirtualTimeMicros();
    EXPECT_EQ(PumpWindowMessages(), r.result) << r.steps;
    EXPECT_EQ(sim::VirtualTimeMicros() - start, r.waitedMs * 1000u) << r.steps;
    MSG msg;
    const bool left = PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 15, PM_NOREMOVE);
    EXPECT_EQ(left ? static_cast<int>(msg.message - WM_USER) : -1, r.next) << r.steps;
    EXPECT_EQ(g_steps, r.steps);
  }
}

}  // namespace
