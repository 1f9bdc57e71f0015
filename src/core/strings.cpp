// Byte-block and string helpers. Null pointers with a count are tolerated, never
// dereferenced.
#include <cstring>

#include "gamelib/core.h"

namespace gamelib {

void FillMemoryBytes(void* destination, int byte, std::size_t count) {
  if (destination == nullptr || count == 0) return;
  std::memset(destination, byte & 0xFF, count);
}

void CopyMemoryBytes(void* destination, const void* source, std::size_t count) {
  if (destination == nullptr || source == nullptr || count == 0) return;
  std::memmove(destination, source, count);  // overlapping ranges are allowed
}

int CompareMemoryBytes(const void* a, const void* b, std::size_t count) {
  if (count == 0 || a == b) return 0;
  if (a == nullptr || b == nullptr) return 1;
  return std::memcmp(a, b, count) == 0 ? 0 : 1;
}

int CompareString(const char* a, const char* b) {
  if (a == b) return 0;
  if (a == nullptr || b == nullptr) return 1;
  return std::strcmp(a, b) == 0 ? 0 : 1;
}

}  // namespace gamelib
