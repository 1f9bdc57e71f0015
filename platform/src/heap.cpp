// The process heap: the C heap underneath, with fault injection like every other call.
// Heap blocks are not counted as live objects: the library's allocator keeps its own
// list of them and reports leaks itself.
#include <cstdlib>

#include "platform/hooks.h"
#include "platform/win32.h"

namespace {
// Any non-null value will do: there is one heap and nothing looks inside the handle.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x48454150u));
}  // namespace

HANDLE GetProcessHeap() { return kProcessHeap; }

void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (platform::ShouldFail("HeapAlloc")) return nullptr;
  if (heap != kProcessHeap) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

BOOL HeapFree(HANDLE heap, DWORD flags, void* block) {
  if (heap != kProcessHeap) return FALSE;
  std::free(block);
  return TRUE;
}
