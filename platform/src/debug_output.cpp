// Debugger output: kept in memory for the tests (the newest part only, so a long run
// stays bounded) and echoed to standard error on request.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base_internal.h"
#include "platform/sim.h"
#include "platform/win32.h"

namespace {

constexpr std::size_t kCaptureLimit = 16u << 20;

std::mutex outputMutex;
// Never destroyed: output may still arrive while the program exits.
std::string& Captured() {
  static auto* captured = new std::string;
  return *captured;
}

}  // namespace

void OutputDebugStringA(const char* text) {
  if (text == nullptr) return;
  std::size_t length = std::strlen(text);
  {
    std::lock_guard lock(outputMutex);
    std::string& captured = Captured();
    captured.append(text, length);
    // Trimming only at twice the limit keeps appends amortised constant.
    if (captured.size() > 2 * kCaptureLimit) captured.erase(0, captured.size() - kCaptureLimit);
  }
  if (std::getenv("GAMELIB_DEBUG_OUTPUT") != nullptr) {
    std::fwrite(text, 1, length, stderr);
    std::fflush(stderr);
  }
}

namespace platform::detail {
void ResetDebugOutput() {
  std::lock_guard lock(outputMutex);
  std::string().swap(Captured());
}
}  // namespace platform::detail

namespace sim {

std::string TakeDebugOutput() {
  std::lock_guard lock(outputMutex);
  std::string& captured = Captured();
  std::string taken;
  if (captured.size() > kCaptureLimit) {
    taken.assign(captured, captured.size() - kCaptureLimit, kCaptureLimit);
  } else {
    taken.swap(captured);
  }
  std::string().swap(captured);
  return taken;
}

}  // namespace sim
