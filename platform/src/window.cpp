// Windows and the message queue: invisible windows whose procedures get their
// messages through DispatchMessageA and SendMessageA. Procedures always run with
// no lock held, since they call back into these functions.
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"
#include "platform/win32.h"

namespace {

struct WindowClass {
  WNDPROC procedure;
  ATOM atom;
};

struct Window {
  std::string className;  // folded
  std::string title;
  WNDPROC procedure;
  bool destroying = false;
};

struct Desktop {
  std::map<std::string, WindowClass> classes;  // by folded name
  std::map<std::uintptr_t, Window> windows;    // by handle value, in creation order
  std::deque<MSG> queue;
  std::uintptr_t nextWindow = 0x20000;
  ATOM nextAtom = 0xC000;
  bool appActive = true;
};

std::mutex windowMutex;
// Never destroyed: a stand-in's thread may still post while the program exits.
Desktop& State() {
  static auto* state = new Desktop;
  return *state;
}

std::uintptr_t Key(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

WNDPROC ProcedureOf(HWND window) {
  std::lock_guard lock(windowMutex);
  auto it = State().windows.find(Key(window));
  return it == State().windows.end() ? nullptr : it->second.procedure;
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
  if (window != nullptr && msg.hwnd != window) return false;
  if (filterMin == 0 && filterMax == 0) return true;
  return msg.message >= filterMin && msg.message <= filterMax;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State().queue.push_back(MSG{window, message, wParam, lParam, timeGetTime()});
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (platform::ShouldFail("RegisterClassA")) return 0;
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      *windowClass->lpszClassName == '\0' || windowClass->lpfnWndProc == nullptr) {
    return 0;
  }
  std::lock_guard lock(windowMutex);
  Desktop& desktop = State();
  auto [it, added] = desktop.classes.try_emplace(platform::detail::FoldCase(windowClass->lpszClassName),
                                                 WindowClass{windowClass->lpfnWndProc, desktop.nextAtom});
  if (!added) return 0;
  // Atoms wrap within the range the home platform gives to class names.
  desktop.nextAtom = desktop.nextAtom == 0xFFFF ? 0xC000 : desktop.nextAtom + 1;
  return it->second.atom;
}

BOOL UnregisterClassA(const char* className, HINSTANCE) {
  if (className == nullptr) return FALSE;
  std::lock_guard lock(windowMutex);
  std::string folded = platform::detail::FoldCase(className);
  for (const auto& [key, w] : State().windows) {
    if (w.className == folded) return FALSE;  // still in use
  }
  return State().classes.erase(folded) != 0 ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                     int width, int height, HWND parent, void* menu, HINSTANCE instance, void* param) {
  if (platform::ShouldFail("CreateWindowExA")) return nullptr;
  if (className == nullptr) return nullptr;
  HWND window;
  WNDPROC procedure;
  {
    std::lock_guard lock(windowMutex);
    auto cls = State().classes.find(platform::detail::FoldCase(className));
    if (cls == State().classes.end()) return nullptr;
    procedure = cls->second.procedure;
    Desktop& desktop = State();
    desktop.nextWindow += 16;
    window = reinterpret_cast<HWND>(desktop.nextWindow);
    desktop.windows[desktop.nextWindow] = Window{cls->first, title != nullptr ? title : "", procedure};
  }
  CREATESTRUCTA create{param, instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
                       title, className, exStyle};
  if (procedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  // The procedure may have destroyed the window itself.
  return IsWindow(window) ? window : nullptr;
}

BOOL DestroyWindow(HWND window) {
  WNDPROC procedure;
  {
    std::lock_guard lock(windowMutex);
    auto it = State().windows.find(Key(window));
    if (it == State().windows.end() || it->second.destroying) return FALSE;
    it->second.destroying = true;
    procedure = it->second.procedure;
  }
  procedure(window, WM_DESTROY, 0, 0);
  std::lock_guard lock(windowMutex);
  State().windows.erase(Key(window));
  // Messages still queued for the window have nowhere to go.
  std::erase_if(State().queue, [window](const MSG& msg) { return msg.hwnd == window; });
  return TRUE;
}

BOOL IsWindow(HWND window) {
  std::lock_guard lock(windowMutex);
  return State().windows.count(Key(window)) != 0 ? TRUE : FALSE;
}

HWND FindWindowA(const char* className, const char* title) {
  std::lock_guard lock(windowMutex);
  std::string folded = className != nullptr ? platform::detail::FoldCase(className) : std::string();
  for (const auto& [key, w] : State().windows) {
    if (className != nullptr && w.className != folded) continue;
    if (title != nullptr && w.title != title) continue;
    return reinterpret_cast<HWND>(key);
  }
  return nullptr;
}

HWND GetDesktopWindow() {
  static char desktop;
  return reinterpret_cast<HWND>(&desktop);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(windowMutex);
  // A null window posts to the thread's queue itself.
  if (window != nullptr && State().windows.count(Key(window)) == 0) return FALSE;
  Post(window, message, wParam, lParam);
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = ProcedureOf(window);
  return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard lock(windowMutex);
  Post(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
  if (msg == nullptr) return FALSE;
  std::lock_guard lock(windowMutex);
  for (auto it = State().queue.begin(); it != State().queue.end(); ++it) {
    if (!Matches(*it, window, filterMin, filterMax)) continue;
    *msg = *it;
    if ((remove & PM_REMOVE) != 0) State().queue.erase(it);
    return TRUE;
  }
  return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }  // no keyboard, so nothing to translate

LRESULT DispatchMessageA(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  WNDPROC procedure = ProcedureOf(msg->hwnd);
  return procedure != nullptr ? procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

namespace platform::detail {

// Leftover windows go silently: whatever owned their procedures is being reset too.
void ResetWindows() {
  std::lock_guard lock(windowMutex);
  Desktop& desktop = State();
  desktop.windows.clear();
  desktop.classes.clear();
  desktop.queue.clear();
  desktop.appActive = true;  // handles keep counting up, so stale ones stay dead
}

}  // namespace platform::detail

namespace sim {

void SetAppActive(bool active) {
  std::lock_guard lock(windowMutex);
  State().appActive = active;
  for (const auto& [key, w] : State().windows) {
    if (!w.destroying) Post(reinterpret_cast<HWND>(key), WM_ACTIVATEAPP, active ? 1 : 0, 0);
  }
}

bool AppActive() {
  std::lock_guard lock(windowMutex);
  return State().appActive;
}

}  // namespace sim
