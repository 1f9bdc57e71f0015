// Streams over bytes in memory that the caller keeps alive. Same end-of-stream and
// seek rules as file streams: at the end once the position reaches the size, seeks
// past the end stop at the end, seeks before the start are refused.
#include <cstring>

#include "core/memory.h"
#include "core/streams.h"

namespace gamelib {
namespace {

constexpr std::uint32_t kMemoryStreamMagic = 0x4D52534Du;  // "MSRM"

struct MemoryStream {
  std::uint32_t magic;
  const unsigned char* data;
  std::size_t size;
  std::size_t position;
  int endFlag;
};

MemoryStream* ToMemoryStream(StreamHandle handle) {
  auto* block = reinterpret_cast<void*>(handle);
  if (handle == 0 || LiveMemoryBlockSize(block) != sizeof(MemoryStream)) return nullptr;
  auto* stream = static_cast<MemoryStream*>(block);
  return stream->magic == kMemoryStreamMagic ? stream : nullptr;
}

std::int64_t MemoryTell(StreamHandle handle) {
  MemoryStream* s = ToMemoryStream(handle);
  return s == nullptr ? -1 : static_cast<std::int64_t>(s->position);
}

int MemorySeek(StreamHandle handle, std::int64_t offset, int origin) {
  MemoryStream* s = ToMemoryStream(handle);
  if (s == nullptr) return -1;
  std::int64_t target = ResolveSeek(s->position, s->size, offset, origin);
  if (target < 0) return -1;
  s->position = static_cast<std::size_t>(target);
  s->endFlag = s->position >= s->size ? 1 : 0;
  return 0;
}

std::size_t MemoryRead(void* buffer, std::size_t size, std::size_t count, StreamHandle handle) {
  MemoryStream* s = ToMemoryStream(handle);
  if (s == nullptr || buffer == nullptr || size == 0 || count == 0) return 0;
  std::size_t want = size > SIZE_MAX / count ? SIZE_MAX : size * count;
  std::size_t left = s->position < s->size ? s->size - s->position : 0;
  if (want > left) want = left;
  if (want > 0) std::memcpy(buffer, s->data + s->position, want);
  s->position += want;
  s->endFlag = s->position >= s->size ? 1 : 0;
  return want;
}

int MemoryEof(StreamHandle handle) {
  MemoryStream* s = ToMemoryStream(handle);
  if (s == nullptr) return -1;
  return s->position >= s->size ? 1 : 0;
}

int MemoryIdleCheck(StreamHandle handle) { return ToMemoryStream(handle) == nullptr ? -1 : 1; }

constexpr StreamFunctionTable kMemoryStreamFunctions = {
    MemoryTell, MemorySeek, MemoryRead, MemoryEof, MemoryIdleCheck, CloseMemoryStream,
};

}  // namespace

StreamHandle OpenMemoryStream(const void* data, std::size_t size) {
  if (data == nullptr && size != 0) return 0;
  auto* s = static_cast<MemoryStream*>(AllocMemory(sizeof(MemoryStream), __FILE__, __LINE__));
  if (s == nullptr) return 0;
  s->magic = kMemoryStreamMagic;
  s->data = static_cast<const unsigned char*>(data);
  s->size = size;
  s->position = 0;
  s->endFlag = 0;
  return reinterpret_cast<StreamHandle>(s);
}

int CloseMemoryStream(StreamHandle handle) {
  MemoryStream* s = ToMemoryStream(handle);
  if (s == nullptr) return -1;
  s->magic = 0;
  FreeMemory(s);
  return 0;
}

const StreamFunctionTable* GetMemoryStreamFunctions() { return &kMemoryStreamFunctions; }

}  // namespace gamelib
