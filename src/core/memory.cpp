// The library allocator: every block has a 64-byte header and sits on one doubly
// linked list, so leaks can be listed at shutdown and foreign or damaged pointers are
// recognised before anything is freed.
#include "core/memory.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "gamelib/core.h"
#include "platform/win32.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define GAMELIB_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define GAMELIB_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define GAMELIB_POISON(p, n) ((void)(p), (void)(n))
#define GAMELIB_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace gamelib {
namespace {

constexpr std::uint32_t kBlockMagic = 0x4B4C4247u;  // "GBLK"
constexpr std::size_t kSourceChars = 24;

void* HeapBlock(std::size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }
void FreeHeapBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }

struct BlockHeader {
  std::uint32_t magic;
  std::int32_t line;
  std::uint64_t size;
  BlockHeader* prev;
  BlockHeader* next;
  char source[kSourceChars];  // tail of the source file name, zero-terminated
  std::uint32_t reserved;     // bytes past `size` that the block really has (a reused block)
  std::uint32_t check;        // last word before the block: an underrun hits it first
};
static_assert(sizeof(BlockHeader) == kMemoryHeaderBytes, "the header is 64 bytes");

struct MemoryState {
  std::mutex lock;
  BlockHeader* first = nullptr;
  BlockHeader* last = nullptr;
  std::size_t blocks = 0;
  std::size_t bytes = 0;
  // Membership index of the list: lets FreeMemory reject a foreign pointer without
  // reading memory in front of it.
  std::unordered_set<std::uintptr_t>* live = nullptr;
  // Freed large blocks kept for reuse, oldest first: header and capacity (payload bytes).
  struct Kept {
    BlockHeader* header;
    std::size_t capacity;
  };
  Kept kept[kMemoryCacheMaxBlocks] = {};
  std::size_t keptBlocks = 0;
  std::size_t keptBytes = 0;
  void ReleaseKeptLocked() {
    for (std::size_t i = 0; i < keptBlocks; ++i) {
      GAMELIB_UNPOISON(kept[i].header, kMemoryHeaderBytes + kept[i].capacity);
      FreeHeapBlock(kept[i].header);
    }
    keptBlocks = keptBytes = 0;
  }
  void DropOldestLocked() {
    GAMELIB_UNPOISON(kept[0].header, kMemoryHeaderBytes + kept[0].capacity);
    FreeHeapBlock(kept[0].header);
    keptBytes -= kept[0].capacity;
    --keptBlocks;
    for (std::size_t i = 0; i < keptBlocks; ++i) kept[i] = kept[i + 1];
  }
  // The kept block that fits `size` best, wasting at most a quarter of it; null if none.
  BlockHeader* TakeKeptLocked(std::size_t size, std::size_t* capacity) {
    std::size_t best = keptBlocks;
    for (std::size_t i = 0; i < keptBlocks; ++i) {
      const std::size_t c = kept[i].capacity;
      if (c >= size && c - size <= size / 4 && (best == keptBlocks || c < kept[best].capacity)) best = i;
    }
    if (best == keptBlocks) return nullptr;
    BlockHeader* h = kept[best].header;
    *capacity = kept[best].capacity;
    keptBytes -= *capacity;
    --keptBlocks;
    for (std::size_t i = best; i < keptBlocks; ++i) kept[i] = kept[i + 1];
    GAMELIB_UNPOISON(h, kMemoryHeaderBytes + *capacity);
    return h;
  }
  // Keeps a freed block when it is large and the bounds allow; false: free it.
  bool KeepLocked(BlockHeader* h, std::size_t capacity) {
    if (capacity < kMemoryCacheMinBytes || capacity > kMemoryCacheMaxBytes) return false;
    while (keptBlocks == kMemoryCacheMaxBlocks || keptBytes + capacity > kMemoryCacheMaxBytes)
      DropOldestLocked();
    kept[keptBlocks++] = Kept{h, capacity};
    keptBytes += capacity;
    // A use after free of a kept block is still caught.
    GAMELIB_POISON(h, kMemoryHeaderBytes + capacity);
    return true;
  }
};

MemoryState& State() {
  static MemoryState state;
  return state;
}

std::uint32_t HeaderCheck(const BlockHeader* h) {
  std::uint32_t sum = h->magic ^ 0x9E3779B9u;
  auto mix = [&sum](std::uint32_t v) { sum = (sum ^ v) * 16777619u; };
  mix(static_cast<std::uint32_t>(h->line));
  mix(static_cast<std::uint32_t>(h->size));
  mix(static_cast<std::uint32_t>(h->size >> 32));
  for (char c : h->source) mix(static_cast<unsigned char>(c));
  mix(h->reserved);
  return sum;
}

bool HeaderIntact(const BlockHeader* h) { return h->magic == kBlockMagic && h->check == HeaderCheck(h); }

void CopySourceName(char* out, const char* source) {
  std::memset(out, 0, kSourceChars);
  if (source == nullptr) return;
  const char* base = source;
  for (const char* p = source; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  std::size_t length = std::strlen(base);
  if (length > kSourceChars - 1) base += length - (kSourceChars - 1);  // keep the end
  std::strncpy(out, base, kSourceChars - 1);
}

// Integer arithmetic: the pointer may be anything a caller passed in.
std::uintptr_t HeaderAddress(const void* block) {
  return reinterpret_cast<std::uintptr_t>(block) - kMemoryHeaderBytes;
}

bool IsListed(MemoryState& s, std::uintptr_t address) {
  return s.live != nullptr && s.live->count(address) != 0;
}
bool IsListed(MemoryState& s, const BlockHeader* h) {
  return IsListed(s, reinterpret_cast<std::uintptr_t>(h));
}

// Caller holds the lock. Stops at a damaged header, whose links cannot be trusted.
void WriteBlockListLocked(MemoryState& s) {
  OutputLogFormat("確保されているメモリ領域：%zu 個　%zu バイト", s.blocks, s.bytes);
  IncreaseLogIndent();
  for (const BlockHeader* h = s.first; h != nullptr; h = h->next) {
    if (!IsListed(s, h) || !HeaderIntact(h)) {
      OutputLogFormat("メモリ領域のヘッダが破損しているため一覧を中断します");
      break;
    }
    OutputLogFormat("%s(%d) : %llu バイト", h->source[0] != '\0' ? h->source : "(不明)", h->line,
                    static_cast<unsigned long long>(h->size));
  }
  DecreaseLogIndent();
}

void* Fail(MemoryState& s, std::size_t size, const char* source, int line, const char* why) {
  char name[kSourceChars];
  CopySourceName(name, source);
  OutputLogFormat("メモリの確保に失敗しました（%s）　サイズ：%zu バイト　%s(%d)", why, size,
                  name[0] != '\0' ? name : "(不明)", line);
  WriteBlockListLocked(s);
  return nullptr;
}

}  // namespace

void* AllocMemory(std::size_t size, const char* sourceName, int sourceLine) {
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (size == 0) return Fail(s, size, sourceName, sourceLine, "サイズが０");
  if (size > kMaxMemoryBlockBytes) return Fail(s, size, sourceName, sourceLine, "サイズが大きすぎます");

  if (s.live == nullptr) {
    s.live = new (std::nothrow) std::unordered_set<std::uintptr_t>();
    if (s.live == nullptr) return Fail(s, size, sourceName, sourceLine, "メモリ不足");
  }
  // A kept block is reused without asking the heap, so only fresh blocks can fail.
  std::size_t capacity = size;
  BlockHeader* h = size >= kMemoryCacheMinBytes ? s.TakeKeptLocked(size, &capacity) : nullptr;
  if (h == nullptr) {
    capacity = size;
    h = static_cast<BlockHeader*>(HeapBlock(kMemoryHeaderBytes + size));
  }
  if (h == nullptr) return Fail(s, size, sourceName, sourceLine, "メモリ不足");
  try {
    s.live->insert(reinterpret_cast<std::uintptr_t>(h));
  } catch (...) {
    FreeHeapBlock(h);
    return Fail(s, size, sourceName, sourceLine, "メモリ不足");
  }

  h->magic = kBlockMagic;
  h->line = sourceLine;
  h->size = size;
  CopySourceName(h->source, sourceName);
  h->reserved = static_cast<std::uint32_t>(capacity - size);
  h->check = HeaderCheck(h);
  h->next = nullptr;
  h->prev = s.last;
  if (s.last != nullptr)
    s.last->next = h;
  else
    s.first = h;
  s.last = h;
  ++s.blocks;
  s.bytes += size;
  return reinterpret_cast<unsigned char*>(h) + kMemoryHeaderBytes;
}

void* AllocMemoryZeroed(std::size_t size, const char* sourceName, int sourceLine) {
  void* block = AllocMemory(size, sourceName, sourceLine);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

void FreeMemory(void* block) {
  if (block == nullptr) return;
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  std::uintptr_t address = HeaderAddress(block);
  if (!IsListed(s, address)) {
    OutputLogFormat("メモリの解放に失敗しました：確保されていない領域です");
    return;
  }
  auto* h = reinterpret_cast<BlockHeader*>(address);
  if (!HeaderIntact(h)) {
    // Its links may be damaged too: leave it where it is rather than corrupt the list.
    OutputLogFormat("メモリの解放に失敗しました：メモリ領域のヘッダが破損しています");
    return;
  }
  if (h->prev != nullptr)
    h->prev->next = h->next;
  else
    s.first = h->next;
  if (h->next != nullptr)
    h->next->prev = h->prev;
  else
    s.last = h->prev;
  s.live->erase(address);
  --s.blocks;
  s.bytes -= h->size;
  h->magic = 0;
  if (!s.KeepLocked(h, static_cast<std::size_t>(h->size) + h->reserved)) FreeHeapBlock(h);
}

MemoryCacheUsage GetMemoryCacheUsage() {
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return MemoryCacheUsage{s.keptBlocks, s.keptBytes};
}

void ReleaseMemoryCache() {
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.ReleaseKeptLocked();
}

MemoryUsage GetMemoryUsage() {
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return MemoryUsage{s.blocks, s.bytes};
}

std::size_t LiveMemoryBlockSize(const void* block) {
  if (block == nullptr) return 0;
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  std::uintptr_t address = HeaderAddress(block);
  if (!IsListed(s, address)) return 0;
  const auto* h = reinterpret_cast<const BlockHeader*>(address);
  return HeaderIntact(h) ? static_cast<std::size_t>(h->size) : 0;
}

bool IsLiveMemoryBlock(const void* block) { return LiveMemoryBlockSize(block) != 0; }

void WriteMemoryBlockList() {
  MemoryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  WriteBlockListLocked(s);
}

}  // namespace gamelib
