// Streams opened by name: every call goes through the current file-function table, so
// a replaced table serves loaders and converters alike.
#include "core/streams.h"

namespace gamelib {

StreamHandle StreamOpen(const char* name, int cache, int unused, int async) {
  if (name == nullptr) return 0;
  return GetFileFunctionTable()->Open(name, cache, unused, async);
}

int StreamClose(StreamHandle handle) {
  if (handle == 0) return -1;
  return GetFileFunctionTable()->Close(handle);
}

int StreamSeek(StreamHandle handle, std::int64_t offset, int origin) {
  if (handle == 0) return -1;
  return GetFileFunctionTable()->Seek(handle, offset, origin);
}

std::int64_t StreamTell(StreamHandle handle) {
  if (handle == 0) return -1;
  return GetFileFunctionTable()->Tell(handle);
}

std::size_t StreamRead(void* buffer, std::size_t size, std::size_t count, StreamHandle handle) {
  if (handle == 0 || buffer == nullptr) return 0;
  return GetFileFunctionTable()->Read(buffer, size, count, handle);
}

// Non-zero for a bad handle too, so a read loop that waits for the end stops.
int StreamEof(StreamHandle handle) {
  if (handle == 0) return -1;
  return GetFileFunctionTable()->Eof(handle);
}

namespace {
int StreamIdleCheck(StreamHandle handle) {
  if (handle == 0) return -1;
  return GetFileFunctionTable()->IdleCheck(handle);
}

constexpr StreamFunctionTable kFileStreamFunctions = {
    StreamTell, StreamSeek, StreamRead, StreamEof, StreamIdleCheck, StreamClose,
};
}  // namespace

const StreamFunctionTable* GetFileStreamFunctions() { return &kFileStreamFunctions; }

}  // namespace gamelib
