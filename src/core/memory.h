// Internal view of the memory manager: what the rest of the core and the tests ask of it.
#pragma once

#include <cstddef>

namespace gamelib {

// Every block carries this many bytes of header in front of it.
constexpr std::size_t kMemoryHeaderBytes = 64;
// Larger requests are refused outright: no legitimate block of the library comes near it.
constexpr std::size_t kMaxMemoryBlockBytes = std::size_t{1} << 30;

struct MemoryUsage {
  std::size_t blocks;  // live blocks
  std::size_t bytes;   // bytes asked for by their callers (headers not counted)
};
MemoryUsage GetMemoryUsage();

// True when `block` is a pointer AllocMemory handed out and nobody has freed yet;
// safe to ask about any pointer.
bool IsLiveMemoryBlock(const void* block);
// Size of a live block as asked for, 0 for anything else (same safety as above).
std::size_t LiveMemoryBlockSize(const void* block);

// Writes every live block (source, line, size) to the log.
void WriteMemoryBlockList();

// Freed large blocks are kept (a few, a bounded total) and handed out again for
// requests of about their size: a game loads and frees sounds again and again, and a
// fresh block from the system costs a page fault per page on first touch.
constexpr std::size_t kMemoryCacheMinBytes = std::size_t{128} << 10;
constexpr std::size_t kMemoryCacheMaxBlocks = 8;
constexpr std::size_t kMemoryCacheMaxBytes = std::size_t{64} << 20;
struct MemoryCacheUsage {
  std::size_t blocks;
  std::size_t bytes;  // capacities of the kept blocks
};
MemoryCacheUsage GetMemoryCacheUsage();
// Gives every kept block back to the system (library shutdown).
void ReleaseMemoryCache();

}  // namespace gamelib
