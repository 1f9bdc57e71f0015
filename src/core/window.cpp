// The main window and its procedure. The window is never shown: it is the target of
// the platform's notifications and its destruction is the library's quit signal.
#include "core/window.h"

#include "gamelib/core.h"

namespace gamelib {
namespace {

constexpr const char* kClassName = "GameLibMainWindow";
constexpr const char* kTitle = "GameLib";

struct WindowState {
  HWND window = nullptr;
  bool classRegistered = false;
  bool timerPeriodSet = false;
  int windowed = 1;
  bool closed = false;
  bool active = true;
};

WindowState g_window;
WindowMessageHandler g_handler = nullptr;

}  // namespace

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATEAPP:
      g_window.active = wParam != 0;
      break;  // the subsystems hear of it too
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      g_window.closed = true;
      return 0;
  }
  if (g_handler != nullptr && g_handler(message, wParam, lParam)) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

void SetWindowMessageHandler(WindowMessageHandler handler) { g_handler = handler; }

int CreateMainWindow() {
  if (g_window.window != nullptr || FindWindowA(kClassName, nullptr) != nullptr) {
    OutputLogFormat("ウインドウが既に存在します（二重起動）");
    return -1;
  }
  g_window.closed = false;
  g_window.active = true;

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  if (RegisterClassA(&windowClass) == 0) {
    OutputLogFormat("ウインドウクラスの登録に失敗しました");
    return -1;
  }
  g_window.classRegistered = true;

  DWORD style = g_window.windowed ? WS_OVERLAPPEDWINDOW : WS_POPUP;
  g_window.window = CreateWindowExA(0, kClassName, kTitle, style, 0, 0, 640, 480, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
  if (g_window.window == nullptr) {
    OutputLogFormat("ウインドウの作成に失敗しました");
    DestroyMainWindow();
    return -1;
  }
  timeBeginPeriod(1);
  g_window.timerPeriodSet = true;
  return 0;
}

void DestroyMainWindow() {
  if (g_window.window != nullptr) {
    if (IsWindow(g_window.window)) DestroyWindow(g_window.window);
    g_window.window = nullptr;
  }
  if (g_window.classRegistered) {
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
    g_window.classRegistered = false;
  }
  if (g_window.timerPeriodSet) {
    timeEndPeriod(1);
    g_window.timerPeriodSet = false;
  }
}

bool MainWindowExists() { return g_window.window != nullptr; }
bool MainWindowActive() { return g_window.active; }
void SetQuitFlag() { g_window.closed = true; }

HWND GetMainWindowHandle() { return g_window.window; }
int GetWindowModeFlag() { return g_window.windowed; }
int GetWindowClosedFlag() { return g_window.closed ? 1 : 0; }

int ChangeWindowMode(int windowed) {
  g_window.windowed = windowed != 0 ? 1 : 0;
  return 0;
}

}  // namespace gamelib
