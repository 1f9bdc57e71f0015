#include <vector>

#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;
void* createParam = nullptr;
bool failCreate = false;
bool destroyOnCreate = false;

LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  seen.push_back({window, message, wParam});
  switch (message) {
    case WM_CREATE:
      createParam = reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams;
      if (destroyOnCreate) DestroyWindow(window);
      return failCreate ? -1 : 0;
    case WM_DESTROY:
      EXPECT_TRUE(IsWindow(window));  // still there while it hears of its end
      PostQuitMessage(3);
      return 0;
    case WM_USER + 1:
      return 77;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

class Windows : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    seen.clear();
    failCreate = false;
    destroyOnCreate = false;
    WNDCLASSA wc{};
    wc.lpfnWndProc = &Procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TestWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
  }
  HWND Create(const char* title = "Title", void* param = nullptr) {
    return CreateWindowExA(0, "TestWindow", title, WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                           GetModuleHandleA(nullptr), param);
  }
  // Dispatches everything queued; returns the messages taken, in order.
  std::vector<UINT> Pump() {
    std::vector<UINT> taken;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      taken.push_back(msg.message);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return taken;
  }
};

TEST_F(Windows, CreateSendsCreateAndTheProcedureCanStopIt) {
  int param = 0;
  HWND a = Create("A", &param);
  EXPECT_EQ(createParam, &param);
  HWND b = Create("B");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, a);
  EXPECT_EQ(seen, (std::vector<Seen>{{a, WM_CREATE, 0}, {b, WM_CREATE, 0}}));
  EXPECT_EQ(FindWindowA("testwindow", nullptr), a);
  EXPECT_EQ(FindWindowA(nullptr, "B"), b);
  EXPECT_EQ(FindWindowA("TestWindow", "C"), nullptr);
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  DestroyWindow(a);
  DestroyWindow(b);
  seen.clear();
  failCreate = true;
  EXPECT_EQ(Create(), nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].message, WM_DESTROY);
  failCreate = false;
  destroyOnCreate = true;
  EXPECT_EQ(Create(), nullptr);
  EXPECT_EQ(FindWindowA("TestWindow", nullptr), nullptr);
}

TEST_F(Windows, QueueKeepsOrderAndFilters) {
  HWND a = Create();
  HWND b = Create();
  seen.clear();
  EXPECT_TRUE(PostMessageA(a, WM_USER + 5, 1, 0));
  EXPECT_TRUE(PostMessageA(b, WM_USER + 6, 2, 0));
  EXPECT_TRUE(PostMessageA(a, MM_MCINOTIFY, 3, 0));

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_USER + 5u);
  ASSERT_TRUE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));  // by window
  EXPECT_EQ(msg.message, WM_USER + 6u);
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE));  // by range
  EXPECT_EQ(msg.hwnd, a);
  EXPECT_FALSE(PeekMessageA(&msg, b, 0, 0, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));

  EXPECT_EQ(Pump(), (std::vector<UINT>{WM_USER + 5}));
  EXPECT_EQ(seen, (std::vector<Seen>{{a, WM_USER + 5, 1}}));
  EXPECT_EQ(SendMessageA(a, WM_USER + 1, 0, 0), 77);
  EXPECT_EQ(SendMessageA(nullptr, WM_USER + 1, 0, 0), 0);
}

TEST_F(Windows, CloseDestroysThenQuitArrives) {
  HWND a = Create();
  PostMessageA(a, WM_CLOSE, 0, 0);
  PostMessageA(a, WM_USER + 9, 0, 0);  // never delivered: the window is gone by then
  seen.clear();
  EXPECT_EQ(Pump(), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
  EXPECT_EQ(seen, (std::vector<Seen>{{a, WM_CLOSE, 0}, {a, WM_DESTROY, 0}}));
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(PostMessageA(a, WM_USER, 0, 0));
  EXPECT_FALSE(DestroyWindow(a));
  EXPECT_EQ(SendMessageA(a, WM_USER + 1, 0, 0), 0);

  PostQuitMessage(5);
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(DispatchMessageA(&msg), 0);
}

TEST_F(Windows, ClassesAreUniqueWithoutCaseAndKeptWhileInUse) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &Procedure;
  wc.lpszClassName = "TESTWINDOW";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  wc.lpszClassName = nullptr;
  EXPECT_EQ(RegisterClassA(&wc), 0);
  HWND a = Create();
  EXPECT_FALSE(UnregisterClassA("TestWindow", nullptr));  // in use
  DestroyWindow(a);
  EXPECT_TRUE(UnregisterClassA("TestWindow", nullptr));
  EXPECT_FALSE(UnregisterClassA("TestWindow", nullptr));
  EXPECT_EQ(Create(), nullptr);
  sim::FailCall("RegisterClassA", 1);
  wc.lpszClassName = "Again";
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_NE(RegisterClassA(&wc), 0);
}

TEST_F(Windows, ActivationIsPostedToEveryWindowAndResetRemovesWindowsQuietly) {
  HWND a = Create();
  HWND b = Create();
  seen.clear();
  sim::SetAppActive(false);
  Pump();
  sim::SetAppActive(true);
  Pump();
  EXPECT_EQ(
      seen,
      (std::vector<Seen>{
          {a, WM_ACTIVATEAPP, 0}, {b, WM_ACTIVATEAPP, 0}, {a, WM_ACTIVATEAPP, 1}, {b, WM_ACTIVATEAPP, 1}}));
  PostMessageA(a, WM_USER, 0, 0);
  sim::SetAppActive(false);
  seen.clear();
  sim::Reset();
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(IsWindow(a));
  EXPECT_TRUE(sim::AppActive());
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(Create(), nullptr);  // classes are gone too
  SetUp();
  HWND c = Create();
  EXPECT_NE(c, a);  // a stale handle never names a new window
  EXPECT_FALSE(IsWindow(a));
  DestroyWindow(c);
}

}  // namespace
