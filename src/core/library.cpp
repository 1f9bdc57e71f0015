// The core's share of start-up and shutdown, the library's switches and the fatal exit.
// The whole sequences, with the subsystems' steps between these, are the top layer's.
#include "core/library.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/log.h"
#include "core/memory.h"
#include "core/pump.h"
#include "core/window.h"
#include "gamelib/core.h"
#include "platform/com.h"

namespace gamelib {
namespace {

struct LibraryState {
  bool started = false;
  bool stopping = false;
  bool comInitialized = false;
  bool directorySaved = false;
  char startDirectory[MAX_PATH] = {};
  int noSound = 0;
  int background[3] = {0, 0, 0};  // kept across window creation
  ShutdownHandler shutdown = nullptr;
};

LibraryState g_library;

void WriteSystemReport() {
  OutputLogFormat("システムの情報");
  IncreaseLogIndent();
  OutputLogFormat("ライブラリのバージョン　%s", kLibraryVersion);
  utsname os{};
  if (uname(&os) == 0) OutputLogFormat("ＯＳ　%s %s %s", os.sysname, os.release, os.machine);
  char model[256] = "不明";
  if (std::FILE* cpuinfo = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (std::fgets(line, sizeof(line), cpuinfo) != nullptr) {
      if (std::strncmp(line, "model name", 10) != 0) continue;
      const char* colon = std::strchr(line, ':');
      if (colon == nullptr) break;
      std::snprintf(model, sizeof(model), "%s", colon + (colon[1] == ' ' ? 2 : 1));
      model[std::strcspn(model, "\r\n")] = '\0';
      break;
    }
    std::fclose(cpuinfo);
  }
  OutputLogFormat("ＣＰＵ　%s　（論理プロセッサ %u 個）", model, std::thread::hardware_concurrency());
  LARGE_INTEGER frequency{};
  if (QueryPerformanceFrequency(&frequency)) {
    OutputLogFormat("高精度カウンタの周波数　%lld Hz", static_cast<long long>(frequency.QuadPart));
  }
  DecreaseLogIndent();
}

}  // namespace

std::recursive_mutex& LibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}

bool LibraryStarted() { return g_library.started; }

void SetShutdownHandler(ShutdownHandler handler) { g_library.shutdown = handler; }

int BeginLibraryStart() {
  if (g_library.started) {
    OutputLogFormat("ライブラリは既に初期化されています");
    return -1;
  }
  SetFileFunctionTable(nullptr);

  g_library.directorySaved = GetCurrentDirectoryA(MAX_PATH, g_library.startDirectory) != 0;
  StartLog(g_library.directorySaved ? g_library.startDirectory : nullptr);
  g_library.started = true;

  OutputLogFormat("ライブラリの初期化を開始します");
  WriteSystemReport();
  return 0;
}

int StartCoreServices() {
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) {
    OutputLogFormat("COM の初期化に失敗しました");
    return -1;
  }
  g_library.comInitialized = true;
  return CreateMainWindow();
}

int BeginLibraryStop() {
  if (!g_library.started || g_library.stopping) return -1;
  g_library.stopping = true;
  return 0;
}

void FinishLibraryStop() {
  DestroyMainWindow();
  if (g_library.comInitialized) {
    CoUninitialize();
    g_library.comInitialized = false;
  }
  DrainWindowMessages();
  if (g_library.directorySaved) {
    SetCurrentDirectoryA(g_library.startDirectory);
    g_library.directorySaved = false;
  }
  MemoryUsage left = GetMemoryUsage();
  if (left.blocks != 0) {
    OutputLogFormat("解放されていないメモリ領域があります");
    WriteMemoryBlockList();
  }
  ReleaseMemoryCache();
  OutputLogFormat("ライブラリの終了処理が完了しました");
  StopLog();
  g_library.started = false;
  g_library.stopping = false;
}

void ExitWithError(const char* message) {
  OutputLog(message != nullptr ? message : "");
  OutputLog("\n");
  // The library's whole shutdown; harmless when it is not running.
  if (g_library.shutdown != nullptr) g_library.shutdown();
  std::exit(-1);
}

int SetNoSoundFlag(int flag) {
  g_library.noSound = flag != 0 ? 1 : 0;
  return 0;
}

int GetNoSoundFlag() { return g_library.noSound; }

int SetBackgroundColor(int red, int green, int blue) {
  g_library.background[0] = red;
  g_library.background[1] = green;
  g_library.background[2] = blue;
  return 0;
}

int GetBackgroundColor(int* red, int* green, int* blue) {
  if (red != nullptr) *red = g_library.background[0];
  if (green != nullptr) *green = g_library.background[1];
  if (blue != nullptr) *blue = g_library.background[2];
  return 0;
}

}  // namespace gamelib
