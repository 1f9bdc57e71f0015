// The memory manager: accounting, refusals and the heap's failures, damage, the leak
// list, and the freed large blocks it keeps for reuse.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core_fixture.h"

namespace {

using namespace gamelib;

class MemoryTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(InitializeLibrary(), 0);
    ReleaseMemoryCache();
    before_ = GetMemoryUsage();
    NewLog();
  }
  MemoryUsage before_{};  // of the started library
};

TEST_F(MemoryTest, CountsBlocksAndBytesWhateverTheOrderOfFreesAndLogsRefusals) {
  void* zeroed = AllocMemoryZeroed(4096, "z.cpp", 1);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(zeroed) % 16, 0u);
  EXPECT_EQ(std::memcmp(zeroed, std::vector<char>(4096).data(), 4096), 0);
  std::vector<void*> blocks;
  for (int i = 0; i < 2000; ++i) blocks.push_back(AllocMemory(1 + i % 37, "many.cpp", i));
  EXPECT_EQ(GetMemoryUsage().blocks, before_.blocks + 2001);
  EXPECT_EQ(GetMemoryUsage().bytes, before_.bytes + 4096 + 37965);  // the sizes above summed
  for (std::size_t i = 0; i < blocks.size(); i += 2) FreeMemory(blocks[i]);
  for (std::size_t i = blocks.size() - 1; i < blocks.size(); i -= 2) FreeMemory(blocks[i]);
  EXPECT_EQ(GetMemoryUsage().bytes, before_.bytes + 4096);
  // Refusals and the heap's failure name the request and list the live blocks.
  sim::FailCall("HeapAlloc", 1);
  const std::size_t sizes[] = {30, 0, SIZE_MAX - 63, (std::size_t{1} << 30) + 1};
  const char* why[] = {"（メモリ不足）　サイズ：30 バイト", "（サイズが０）　サイズ：0 バイト",
                       "（サイズが大きすぎます）", "（サイズが大きすぎます）"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(AllocMemory(sizes[i], "refused.cpp", i), nullptr) << i;
    const std::string log = NewLog();
    EXPECT_NE(log.find(std::string("メモリの確保に失敗しました") + why[i]), std::string::npos) << log;
    EXPECT_NE(log.find("　refused.cpp(" + std::to_string(i) + ")\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tz.cpp(1) : 4096 バイト\r\n"), std::string::npos) << log;
  }
  FreeMemory(zeroed);
}

TEST_F(MemoryTest, DamagedHeadersAndForeignOrFreedPointersAreRefusedAndLeaksListedAtShutdown) {
  void* a = AllocMemory(1, "/path/source_file_name_24x.cpp", 1);
  auto* block = static_cast<unsigned char*>(AllocMemory(16, "victim.cpp", 2));
  // A damaged header: magic, line, size (both halves), source name, reserved bytes, check.
  for (int offset : {64, 60, 56, 52, 20, 8, 4}) {
    block[-offset] ^= 1;
    FreeMemory(block);  // refused: its links may be damaged too
    EXPECT_FALSE(IsLiveMemoryBlock(block)) << offset;
    if (offset == 4) WriteMemoryBlockList();  // stops at the damaged header
    block[-offset] ^= 1;
  }
  int onStack = 0;
  // Foreign pointers (near zero: no wrap-around read), one inside a live block, and
  // null, which is ignored without a word.
  void* const foreign[] = {&onStack, reinterpret_cast<void*>(std::uintptr_t{1}), block + 8, nullptr};
  for (void* p : foreign) FreeMemory(p);
  EXPECT_EQ(GetMemoryUsage().blocks, before_.blocks + 2);
  FreeMemory(block);
  FreeMemory(block);  // twice
  TerminateLibrary();
  FreeMemory(a);
  const std::string log = NewLog();
  const std::size_t list = log.find("確保されているメモリ領域");
  const std::size_t leaks = log.find("0:解放されていないメモリ領域があります\r\n");
  EXPECT_NE(log.find("ヘッダが破損しているため一覧を中断します", list), std::string::npos) << log;
  EXPECT_EQ(log.find("victim.cpp"), std::string::npos) << log;
  // Names longer than 23 bytes keep their end, which tells the file apart.
  for (std::size_t from : {list, leaks}) {
    EXPECT_NE(log.find(":\tource_file_name_24x.cpp(1) : 1 バイト\r\n", from), std::string::npos) << log;
  }
  EXPECT_NE(log.find("ライブラリの終了処理が完了しました", leaks), std::string::npos);
  auto count = [&log](const char* what) {
    int n = 0;
    for (std::size_t at = 0; (at = log.find(what, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count("確保されていない領域"), 4);
  EXPECT_EQ(count("ヘッダが破損しています"), 7);
}

TEST_F(MemoryTest, FreedLargeBlocksServeLaterRequestsOfAboutTheirSizeAndStayBounded) {
  const std::size_t least = std::size_t{128} << 10, size = 5 * least;  // kept from 128 KiB
  void* a = AllocMemory(size, "a.cpp", 1);
  FreeMemory(a);
  FreeMemory(a);  // a kept block is still a freed one
  EXPECT_EQ(GetMemoryCacheUsage().bytes, size);
  // More than a quarter wasted, or too small: not this block.
  void* small = AllocMemory(size / 2, "s.cpp", 2);
  void* large = AllocMemory(size + 1, "l.cpp", 3);
  // A little smaller: the kept block, sized as asked. The heap is not asked, so its
  // failure waits for the next fresh block.
  sim::FailCall("HeapAlloc", 1);
  void* b = AllocMemoryZeroed(size - 100, "b.cpp", 4);
  EXPECT_TRUE(b == a && small != a && large != a);
  EXPECT_EQ(static_cast<unsigned char*>(b)[size - 101], 0);
  EXPECT_EQ(LiveMemoryBlockSize(b), size - 100);
  EXPECT_EQ(AllocMemory(64, "fresh.cpp", 5), nullptr);
  FreeMemory(b);  // kept again with its whole capacity: serves the full size
  void* c = AllocMemory(size, "c.cpp", 6);
  EXPECT_EQ(c, a);
  std::memset(c, 0x22, size);
  for (void* p : {small, large, c}) FreeMemory(p);
  EXPECT_EQ(GetMemoryUsage().bytes, before_.bytes);
  // Bounded: the newest eight are kept (1, 2, 3, 1, 2, 3, 1, 2 times the least size);
  // one of the least size serves a request of just that size.
  std::vector<void*> blocks;
  for (int i = 0; i < 20; ++i) blocks.push_back(AllocMemory(least * (1 + i % 3), "x.cpp", i));
  blocks.push_back(AllocMemory(least - 1, "t.cpp", 1));
  blocks.push_back(AllocMemory((std::size_t{64} << 20) + 1, "h.cpp", 1));  // over the 64 MiB total
  for (void* p : blocks) FreeMemory(p);
  void* exact = AllocMemory(least, "exact.cpp", 1);  // a kept block of just the least size
  EXPECT_EQ(GetMemoryCacheUsage().blocks, 7u);
  EXPECT_EQ(GetMemoryCacheUsage().bytes, 14 * least);
  FreeMemory(exact);
  TerminateLibrary();
  EXPECT_EQ(GetMemoryCacheUsage().bytes, 0u);
}

}  // namespace
