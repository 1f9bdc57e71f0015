// The memory manager: accounting, the leak list, refusals, damage and fault injection.
#include <cstdint>
#include <cstring>
#include <vector>

#include "core_fixture.h"

namespace {

using gamelib::AllocMemory;
using gamelib::FreeMemory;
using gamelib::GetMemoryUsage;

class MemoryTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    before_ = LogFile().size();
  }
  std::string NewLog() {
    std::string log = LogFile();
    std::string fresh = log.substr(before_);
    before_ = log.size();
    return fresh;
  }
  std::size_t CountInLog(const std::string& what) {
    std::string log = NewLog();
    std::size_t count = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++count;
    return count;
  }
  std::size_t before_ = 0;
};

TEST_F(MemoryTest, CountsBlocksAndBytesWhateverTheOrderOfFrees) {
  void* b = gamelib::AllocMemoryZeroed(4096, "b.cpp", 2);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
  EXPECT_EQ(std::memcmp(b, std::vector<unsigned char>(4096, 0).data(), 4096), 0);
  std::vector<void*> blocks;
  std::size_t bytes = 4096;
  for (int i = 0; i < 2000; ++i) {
    bytes += 1 + i % 37;
    blocks.push_back(AllocMemory(1 + i % 37, "many.cpp", i));
    std::memset(blocks.back(), 0xAB, 1 + i % 37);  // the whole block is usable
  }
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks + 2001);
  EXPECT_EQ(GetMemoryUsage().bytes, baseline_.bytes + bytes);
  for (std::size_t i = 0; i < blocks.size(); i += 2) FreeMemory(blocks[i]);
  for (std::size_t i = blocks.size() - 1; i < blocks.size(); i -= 2) FreeMemory(blocks[i]);
  FreeMemory(b);
  FreeMemory(nullptr);
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks);
  EXPECT_EQ(GetMemoryUsage().bytes, baseline_.bytes);
}

TEST_F(MemoryTest, LeakListAtShutdownNamesSourceLineAndSize) {
  void* kept = AllocMemory(321, "/long/path/to/sound/stream_sound.cpp", 77);
  void* named = AllocMemory(5, "a_source_file_name_longer_than_the_header_keeps.cpp", 9);
  gamelib::TerminateLibrary();
  std::string log = NewLog();
  EXPECT_NE(log.find("解放されていないメモリ領域があります\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\tstream_sound.cpp(77) : 321 バイト\r\n"), std::string::npos) << log;
  // Long names keep their end, which tells the file apart.
  EXPECT_NE(log.find("\tan_the_header_keeps.cpp(9) : 5 バイト\r\n"), std::string::npos) << log;
  // The dump comes after everything else of the shutdown but the last line.
  EXPECT_LT(log.find("解放されていない"), log.find("ライブラリの終了処理が完了しました"));
  FreeMemory(kept);
  FreeMemory(named);
  ASSERT_EQ(gamelib::InitializeLibrary(), 0);  // a fresh log
  before_ = 0;
  gamelib::TerminateLibrary();
  EXPECT_EQ(CountInLog("解放されていない"), 0u);
}

TEST_F(MemoryTest, ZeroAndAbsurdSizesAreRefusedWithALogLine) {
  EXPECT_EQ(AllocMemory(0, "zero.cpp", 1), nullptr);
  EXPECT_EQ(gamelib::AllocMemoryZeroed(0, "zero.cpp", 2), nullptr);
  EXPECT_EQ(AllocMemory(SIZE_MAX, "huge.cpp", 3), nullptr);  // overflows with the header
  EXPECT_EQ(AllocMemory(SIZE_MAX - gamelib::kMemoryHeaderBytes + 1, "huge.cpp", 4), nullptr);  // wraps to 0
  EXPECT_EQ(AllocMemory(gamelib::kMaxMemoryBlockBytes + 1, "huge.cpp", 5), nullptr);
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks);
  std::string log = NewLog();
  for (const char* where : {"zero.cpp(1)", "zero.cpp(2)", "huge.cpp(5)"}) {
    EXPECT_NE(log.find(where), std::string::npos) << where << "\n" << log;
  }
}

TEST_F(MemoryTest, FaultInjectionFailsTheNthCallAndListsLiveBlocks) {
  void* first = AllocMemory(10, "first.cpp", 11);
  sim::FailCall("HeapAlloc", 2);
  void* a = AllocMemory(20, "second.cpp", 12);
  EXPECT_EQ(AllocMemory(30, "third.cpp", 13), nullptr);
  void* c = AllocMemory(40, "fourth.cpp", 14);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(c, nullptr);
  std::string log = NewLog();
  std::size_t failure = log.find("メモリの確保に失敗しました");
  ASSERT_NE(failure, std::string::npos) << log;
  EXPECT_NE(log.find("third.cpp(13)", failure), std::string::npos);
  // The list of live blocks follows the failure line.
  EXPECT_NE(log.find("\tfirst.cpp(11) : 10 バイト\r\n", failure), std::string::npos) << log;
  EXPECT_NE(log.find("\tsecond.cpp(12) : 20 バイト\r\n", failure), std::string::npos);
  FreeMemory(first);
  FreeMemory(a);
  FreeMemory(c);
}

TEST_F(MemoryTest, DamagedHeaderIsDetectedTheBlockKeptAndTheLeakListStopsThere) {
  void* a = AllocMemory(1, "a.cpp", 1);
  auto* block = static_cast<unsigned char*>(AllocMemory(16, "victim.cpp", 2));
  ASSERT_NE(block, nullptr);
  block[-1] ^= 0x5A;  // an underrun of the block
  FreeMemory(block);
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks + 2);
  EXPECT_EQ(CountInLog("ヘッダが破損"), 1u);
  EXPECT_FALSE(gamelib::IsLiveMemoryBlock(block));
  block[-4] ^= 1;
  block[-1] ^= 0x5A;
  gamelib::WriteMemoryBlockList();
  std::string log = NewLog();
  EXPECT_NE(log.find("a.cpp(1)"), std::string::npos);
  EXPECT_EQ(log.find("victim.cpp(2)"), std::string::npos);
  EXPECT_NE(log.find("破損"), std::string::npos);
  block[-4] ^= 1;
  EXPECT_TRUE(gamelib::IsLiveMemoryBlock(block));
  FreeMemory(block);
  FreeMemory(a);
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks);
}

TEST_F(MemoryTest, ForeignAndFreedPointersAreRefused) {
  int onStack = 0;
  std::vector<char> heap(256);
  auto* block = static_cast<char*>(AllocMemory(64, "x.cpp", 1));
  FreeMemory(&onStack);
  FreeMemory(heap.data() + 64);
  FreeMemory(reinterpret_cast<void*>(std::uintptr_t{1}));  // near zero: no wrap-around read
  FreeMemory(block + 8);                                   // inside a live block
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks + 1);
  FreeMemory(block);
  FreeMemory(block);  // twice
  EXPECT_EQ(GetMemoryUsage().blocks, baseline_.blocks);
  EXPECT_EQ(CountInLog("確保されていない領域"), 5u);
}

}  // namespace
