// The library log: text as it comes, each line prefixed with the milliseconds since
// start-up, a colon and the indent tabs; lone line feeds become CR LF. Written to
// "Log.txt" and to the debugger output, and only while the log is switched on.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "gamelib/core.h"

namespace gamelib {
namespace {

struct LogState {
  std::mutex lock;
  bool enabled = false;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD baseTime = 0;
  bool baseSet = false;
  int indent = 0;
  bool atLineStart = true;
  bool lastWasCr = false;
};

LogState& State() {
  static LogState state;
  return state;
}

// Collects output and hands it on in pieces, so a long text needs no heap.
class LogSink {
 public:
  explicit LogSink(LogState& s) : s_(s) {}
  ~LogSink() { Flush(); }
  void Put(const char* bytes, std::size_t count) {
    while (count > 0) {
      std::size_t room = sizeof(buffer_) - 1 - used_;
      std::size_t n = count < room ? count : room;
      std::memcpy(buffer_ + used_, bytes, n);
      used_ += n;
      bytes += n;
      count -= n;
      if (used_ == sizeof(buffer_) - 1) Flush();
    }
  }
  void Put(char c) { Put(&c, 1); }

 private:
  void Flush() {
    if (used_ == 0) return;
    if (s_.file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(s_.file, buffer_, static_cast<DWORD>(used_), &written, nullptr);
    }
    buffer_[used_] = '\0';
    OutputDebugStringA(buffer_);
    used_ = 0;
  }
  LogState& s_;
  char buffer_[1024];
  std::size_t used_ = 0;
};

void PutLinePrefix(LogState& s, LogSink& sink) {
  if (!s.baseSet) {
    s.baseTime = timeGetTime();
    s.baseSet = true;
  }
  char prefix[16];
  int n = std::snprintf(prefix, sizeof(prefix), "%u:", static_cast<unsigned>(timeGetTime() - s.baseTime));
  sink.Put(prefix, static_cast<std::size_t>(n));
  for (int i = 0; i < s.indent; ++i) sink.Put('\t');
}

// Length of `text` cut back so that it does not end inside a UTF-8 sequence.
std::size_t WholeCharacters(const char* text, std::size_t length) {
  std::size_t start = length;
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return length;
  unsigned char lead = static_cast<unsigned char>(text[start - 1]);
  std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return length - (start - 1) < need ? start - 1 : length;
}

}  // namespace

bool LogEnabled() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.enabled;
}

int SetOutApplicationLogValidFlag(int flag) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.enabled = flag != 0;
  return 0;
}

void StartLog(const char* directory) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.baseTime = timeGetTime();
  s.baseSet = true;
  s.indent = 0;
  s.atLineStart = true;
  s.lastWasCr = false;
  if (s.file != INVALID_HANDLE_VALUE) {
    CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
  }
  if (!s.enabled || directory == nullptr) return;
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += "Log.txt";
  s.file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void StopLog() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.file != INVALID_HANDLE_VALUE) CloseHandle(s.file);
  s.file = INVALID_HANDLE_VALUE;
}

int OutputLog(const char* text) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.enabled || text == nullptr) return -1;
  LogSink sink(s);
  for (const char* p = text; *p != '\0'; ++p) {
    if (s.atLineStart) {
      PutLinePrefix(s, sink);
      s.atLineStart = false;
    }
    if (*p == '\n') {
      if (!s.lastWasCr) sink.Put('\r');
      sink.Put('\n');
      s.atLineStart = true;
    } else {
      sink.Put(*p);
    }
    s.lastWasCr = *p == '\r';
  }
  return -1;
}

int OutputLogFormat(const char* format, ...) {
  if (format == nullptr || !LogEnabled()) return -1;
  char buffer[kLogFormatBufferBytes];
  // One byte is kept back for the line break.
  constexpr std::size_t kTextRoom = sizeof(buffer) - 1;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, kTextRoom, format, args);
  va_end(args);
  std::size_t length = 0;
  if (n > 0) {
    length = static_cast<std::size_t>(n);
    if (length >= kTextRoom) length = WholeCharacters(buffer, kTextRoom - 1);
  }
  buffer[length] = '\n';
  buffer[length + 1] = '\0';
  return OutputLog(buffer);
}

int IncreaseLogIndent() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  ++s.indent;
  return 0;
}

int DecreaseLogIndent() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.indent > 0) --s.indent;
  return 0;
}

}  // namespace gamelib
