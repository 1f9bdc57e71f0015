// Freed large blocks kept for reuse: bounded, reused only for requests of about their
// size, invisible to the accounting and to the checks on freed pointers, and given
// back at shutdown.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "core_fixture.h"

namespace {

using gamelib::AllocMemory;
using gamelib::FreeMemory;
using gamelib::kMemoryCacheMinBytes;

class MemoryCache : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    gamelib::ReleaseMemoryCache();
  }
  void TearDown() override {
    gamelib::ReleaseMemoryCache();
    CoreTest::TearDown();
  }
};

TEST_F(MemoryCache, AFreedLargeBlockServesTheNextRequestOfAboutItsSize) {
  const std::size_t size = 5 * kMemoryCacheMinBytes;
  const auto usage = gamelib::GetMemoryUsage();
  void* a = AllocMemory(size, "a.cpp", 1);
  ASSERT_NE(a, nullptr);
  std::memset(a, 0x5A, size);
  FreeMemory(a);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, 1u);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().bytes, size);
  EXPECT_FALSE(gamelib::IsLiveMemoryBlock(a));
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, usage.blocks);

  // Much smaller (more than a quarter wasted) or larger: not this block.
  void* small = AllocMemory(size / 2, "s.cpp", 2);
  void* large = AllocMemory(size + 1, "l.cpp", 3);
  EXPECT_NE(small, a);
  EXPECT_NE(large, a);
  // A little smaller: the kept block, sized as asked, all of it writable.
  void* b = AllocMemory(size - 100, "b.cpp", 4);
  EXPECT_EQ(b, a);
  EXPECT_EQ(gamelib::LiveMemoryBlockSize(b), size - 100);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, 0u);
  std::memset(b, 0x11, size - 100);
  FreeMemory(small);
  FreeMemory(large);
  // Freed again it is kept with its whole capacity, and serves the full size.
  FreeMemory(b);
  void* c = AllocMemory(size, "c.cpp", 5);
  EXPECT_EQ(c, a);
  std::memset(c, 0x22, size);
  FreeMemory(c);
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, usage.blocks);
  EXPECT_EQ(gamelib::GetMemoryUsage().bytes, usage.bytes);
}

TEST_F(MemoryCache, KeptBlocksStayBoundedAndFreedPointersStayRefused) {
  std::vector<void*> blocks;
  for (int i = 0; i < 20; ++i) blocks.push_back(AllocMemory(kMemoryCacheMinBytes * (1 + i % 3), "x.cpp", i));
  void* tiny = AllocMemory(64, "t.cpp", 1);
  for (void* b : blocks) FreeMemory(b);
  FreeMemory(tiny);
  auto kept = gamelib::GetMemoryCacheUsage();
  EXPECT_EQ(kept.blocks, gamelib::kMemoryCacheMaxBlocks);
  EXPECT_LE(kept.bytes, gamelib::kMemoryCacheMaxBytes);
  // One block too large to keep at all.
  void* huge = AllocMemory(gamelib::kMemoryCacheMaxBytes + 1, "h.cpp", 1);
  ASSERT_NE(huge, nullptr);
  FreeMemory(huge);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().bytes, kept.bytes);

  // A second free of a kept block is refused and logged, and keeps it only once.
  const std::string before = LogFile();
  FreeMemory(blocks.back());
  EXPECT_NE(LogFile().substr(before.size()).find("確保されていない領域です"), std::string::npos);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, kept.blocks);

  gamelib::ReleaseMemoryCache();
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, 0u);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().bytes, 0u);
}

TEST_F(MemoryCache, InjectedFailuresStillFailAndShutdownGivesTheBlocksBack) {
  void* a = AllocMemory(2 * kMemoryCacheMinBytes, "a.cpp", 1);
  FreeMemory(a);
  ASSERT_EQ(gamelib::GetMemoryCacheUsage().blocks, 1u);
  sim::FailCall("HeapAlloc", 1);
  void* b = AllocMemory(2 * kMemoryCacheMinBytes, "a.cpp", 2);  // a kept block needs no heap
  EXPECT_EQ(b, a);
  EXPECT_EQ(AllocMemory(64, "fresh.cpp", 3), nullptr);
  FreeMemory(b);
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, 1u);
  gamelib::TerminateLibrary();
  EXPECT_EQ(gamelib::GetMemoryCacheUsage().blocks, 0u);
}

}  // namespace
