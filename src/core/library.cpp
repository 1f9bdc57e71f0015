// Start-up and shutdown of the library, its switches and the fatal exit.
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
#include "sound/music.h"
#include "sound/sound_system.h"

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

// Undoes whatever start-up got done, in reverse order. Also the failed start's cleanup.
void ShutDown() {
  g_library.stopping = true;
  // ---- Sound layer: music ends before anything else is shut down ----
  EndCurrentMusic();
  // (graphics and input shut down here when they exist)
  // ---- Sound layer: the sound system goes after graphics and input ----
  TerminateSoundSystem();
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

}  // namespace

std::recursive_mutex& LibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}

bool LibraryStarted() { return g_library.started; }

int InitializeLibrary() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  if (g_library.started || g_library.stopping) {
    OutputLogFormat("ライブラリは既に初期化されています");
    return -1;
  }
  SetFileFunctionTable(nullptr);

  g_library.directorySaved = GetCurrentDirectoryA(MAX_PATH, g_library.startDirectory) != 0;
  StartLog(g_library.directorySaved ? g_library.startDirectory : nullptr);
  g_library.started = true;  // from here on a failure runs the full shutdown

  OutputLogFormat("ライブラリの初期化を開始します");
  WriteSystemReport();

  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) {
    OutputLogFormat("COM の初期化に失敗しました");
    ShutDown();
    return -1;
  }
  g_library.comInitialized = true;

  if (CreateMainWindow() != 0) {
    ShutDown();
    return -1;
  }

  // (input starts here when it exists; its failure aborts the start)
  if (!g_library.noSound) {
    // ---- Sound layer: started here, its result is not looked at ----
    InitializeSoundSystem();
  }
  // (graphics starts here when it exists; its failure aborts the start)

  OutputLogFormat("ライブラリの初期化が完了しました");
  return 0;
}

int TerminateLibrary() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  if (!g_library.started || g_library.stopping) return -1;
  OutputLogFormat("ライブラリの終了処理を開始します");
  ShutDown();
  return 0;
}

void ExitWithError(const char* message) {
  OutputLog(message != nullptr ? message : "");
  OutputLog("\n");
  TerminateLibrary();  // -1 and harmless when not started or already stopping
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
