// File and memory streams behave alike at every edge; the file-function table is what
// StreamOpen and friends go through.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core_fixture.h"

namespace {

using gamelib::STREAM_SEEK_CUR;
using gamelib::STREAM_SEEK_END;
using gamelib::STREAM_SEEK_SET;
using gamelib::StreamHandle;

std::vector<unsigned char> Pattern(std::size_t size) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  return bytes;
}

void WriteFile(const char* name, const std::vector<unsigned char>& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

enum class Kind { File, Memory };

class StreamTest : public CoreTest, public ::testing::WithParamInterface<Kind> {
 protected:
  // Opens a stream of the parameter's kind over `bytes`; `f` is its function table.
  StreamHandle Open(const std::vector<unsigned char>& bytes) {
    if (GetParam() == Kind::Memory) return gamelib::OpenMemoryStream(bytes.data(), bytes.size());
    std::string name = "data" + std::to_string(files_++) + ".bin";
    WriteFile(name.c_str(), bytes);
    return gamelib::StreamOpen(name.c_str(), 0, 1, 0);
  }
  void SetUp() override {
    CoreTest::SetUp();
    f = *(GetParam() == Kind::Memory ? gamelib::GetMemoryStreamFunctions()
                                     : gamelib::GetFileStreamFunctions());
  }
  gamelib::StreamFunctionTable f{};
  int files_ = 0;
  const std::vector<unsigned char> data = Pattern(100);
  unsigned char buffer[128] = {};
};

TEST_P(StreamTest, ReadsToTheEndAndNoFurther) {
  StreamHandle h = Open(data);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(f.IdleCheck(h), 1);
  EXPECT_EQ(f.Read(buffer, 4, 15, h), 60u);  // size x count bytes
  EXPECT_EQ(std::memcmp(buffer, data.data(), 60), 0);
  EXPECT_EQ(f.Eof(h), 0);
  EXPECT_EQ(f.Read(buffer, 1, 60, h), 40u);
  EXPECT_EQ(std::memcmp(buffer, data.data() + 60, 40), 0);
  EXPECT_EQ(f.Eof(h), 1);
  EXPECT_EQ(f.Tell(h), 100);
  EXPECT_EQ(f.Read(buffer, 1, 10, h), 0u);
  EXPECT_EQ(f.Read(buffer, 0, 10, h), 0u);
  EXPECT_EQ(f.Close(h), 0);

  StreamHandle empty = Open({});
  ASSERT_NE(empty, 0u);
  EXPECT_EQ(f.Eof(empty), 1);
  EXPECT_EQ(f.Read(buffer, 1, 4, empty), 0u);
  EXPECT_EQ(f.Close(empty), 0);
}

TEST_P(StreamTest, EndOfStreamFollowsThePositionAfterSeeks) {
  StreamHandle h = Open(data);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(f.Seek(h, 0, STREAM_SEEK_END), 0);
  EXPECT_EQ(f.Eof(h), 1);  // at once, before any read
  EXPECT_EQ(f.Seek(h, -10, STREAM_SEEK_END), 0);
  EXPECT_EQ(f.Eof(h), 0);
  EXPECT_EQ(f.Read(buffer, 1, 20, h), 10u);
  EXPECT_EQ(std::memcmp(buffer, data.data() + 90, 10), 0);
  EXPECT_EQ(f.Seek(h, 50, STREAM_SEEK_SET), 0);
  EXPECT_EQ(f.Seek(h, 10, STREAM_SEEK_CUR), 0);
  EXPECT_EQ(f.Read(buffer, 1, 1, h), 1u);
  EXPECT_EQ(buffer[0], data[60]);
  EXPECT_EQ(f.Seek(h, -61, STREAM_SEEK_CUR), 0);
  EXPECT_EQ(f.Tell(h), 0);
  EXPECT_EQ(f.Eof(h), 0);
  EXPECT_EQ(f.Close(h), 0);
}

TEST_P(StreamTest, SeeksPastTheEndStopAtTheEndAndSeeksBeforeTheStartAreRefused) {
  StreamHandle h = Open(data);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(f.Seek(h, 1000, STREAM_SEEK_SET), 0);
  EXPECT_EQ(f.Tell(h), 100);
  EXPECT_EQ(f.Eof(h), 1);
  EXPECT_EQ(f.Seek(h, 5, STREAM_SEEK_END), 0);
  EXPECT_EQ(f.Tell(h), 100);
  EXPECT_EQ(f.Seek(h, 40, STREAM_SEEK_SET), 0);
  const std::int64_t max = std::numeric_limits<std::int64_t>::max(),
                     min = std::numeric_limits<std::int64_t>::min();
  const struct {
    std::int64_t offset;
    int origin;
  } refused[] = {{-1, STREAM_SEEK_SET},   {-41, STREAM_SEEK_CUR},
                 {-101, STREAM_SEEK_END}, {max, STREAM_SEEK_END} /* overflow */,
                 {min, STREAM_SEEK_CUR},  {0, 3} /* no such origin */};
  for (const auto& r : refused) EXPECT_EQ(f.Seek(h, r.offset, r.origin), -1) << r.offset << " " << r.origin;
  EXPECT_EQ(f.Tell(h), 40);  // nothing moved
  // A size x count product that overflows reads what is left.
  EXPECT_EQ(f.Seek(h, 90, STREAM_SEEK_SET), 0);
  EXPECT_EQ(f.Read(buffer, SIZE_MAX, 2, h), 10u);
  EXPECT_EQ(f.Close(h), 0);
}

TEST_P(StreamTest, BadStaleAndOtherKindsOfHandlesAreRefused) {
  StreamHandle h = Open(data);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(f.Close(h), 0);
  int local = 0;
  void* other = gamelib::AllocMemory(3, "other.cpp", 1);  // live, but not a stream
  std::vector<unsigned char> bytes = Pattern(8);
  WriteFile("f.bin", bytes);
  const bool memory = GetParam() == Kind::Memory;
  StreamHandle otherKind =
      memory ? gamelib::StreamOpen("f.bin", 0, 1, 0) : gamelib::OpenMemoryStream(bytes.data(), 8);
  for (StreamHandle bad : {StreamHandle{0}, h, reinterpret_cast<StreamHandle>(&local),
                           reinterpret_cast<StreamHandle>(other), otherKind}) {
    EXPECT_EQ(f.Tell(bad), -1);
    EXPECT_EQ(f.Seek(bad, 0, STREAM_SEEK_SET), -1);
    EXPECT_EQ(f.Read(buffer, 1, 16, bad), 0u);
    EXPECT_NE(f.Eof(bad), 0);  // a read loop waiting for the end stops
    EXPECT_EQ(f.IdleCheck(bad), -1);
    EXPECT_EQ(f.Close(bad), -1);
  }
  EXPECT_EQ(memory ? gamelib::StreamClose(otherKind) : gamelib::CloseMemoryStream(otherKind), 0);
  gamelib::FreeMemory(other);
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, StreamTest, ::testing::Values(Kind::File, Kind::Memory),
                         [](const auto& info) { return info.param == Kind::File ? "File" : "Memory"; });

TEST_F(CoreTest, OpenFailuresLeaveNothingBehindAndMemoryStreamsReadInPlace) {
  EXPECT_EQ(gamelib::StreamOpen("missing.bin", 0, 1, 0), 0u);
  EXPECT_EQ(gamelib::StreamOpen(nullptr, 0, 1, 0), 0u);
  EXPECT_EQ(gamelib::StreamOpen("", 0, 1, 0), 0u);
  std::vector<unsigned char> data = Pattern(8);
  WriteFile("f.bin", data);
  sim::FailCall("HeapAlloc", 1);
  EXPECT_EQ(gamelib::StreamOpen("f.bin", 0, 1, 0), 0u);  // the file it opened is closed again
  EXPECT_EQ(sim::LiveObjects(), 0);
  sim::FailCall("HeapAlloc", 1);
  EXPECT_EQ(gamelib::OpenMemoryStream(data.data(), 8), 0u);
  EXPECT_EQ(gamelib::OpenMemoryStream(nullptr, 4), 0u);
  StreamHandle empty = gamelib::OpenMemoryStream(nullptr, 0);
  EXPECT_NE(empty, 0u);
  EXPECT_EQ(gamelib::CloseMemoryStream(empty), 0);

  StreamHandle h = gamelib::OpenMemoryStream(data.data(), data.size());
  data[2] = 0xEE;  // not copied: later changes are seen
  unsigned char buffer[8];
  EXPECT_EQ(gamelib::GetMemoryStreamFunctions()->Read(buffer, 1, 8, h), 8u);
  EXPECT_EQ(buffer[2], 0xEE);
  EXPECT_EQ(gamelib::CloseMemoryStream(h), 0);
  EXPECT_EQ(gamelib::CloseMemoryStream(h), -1);
  EXPECT_EQ(data[2], 0xEE);  // and closing leaves them alone
}

// A replacement table: files served from memory, as an archive reader would.
std::vector<unsigned char> g_archiveBytes;
int g_archiveOpens = 0;

TEST_F(CoreTest, StreamsGoThroughTheReplaceableTable) {
  g_archiveBytes = Pattern(32);
  g_archiveOpens = 0;
  const gamelib::StreamFunctionTable& m = *gamelib::GetMemoryStreamFunctions();
  gamelib::FileFunctionTable table{};
  table.Open = [](const char* name, int, int, int) -> StreamHandle {
    ++g_archiveOpens;
    if (std::strcmp(name, "packed/one") != 0) return 0;
    return gamelib::OpenMemoryStream(g_archiveBytes.data(), g_archiveBytes.size());
  };
  table.Close = m.Close;
  table.Tell = m.Tell;
  table.Seek = m.Seek;
  table.Read = m.Read;
  table.Eof = m.Eof;
  // The rest stays null: the defaults fill in.
  ASSERT_EQ(gamelib::SetFileFunctionTable(&table), 0);
  EXPECT_NE(gamelib::GetFileFunctionTable()->IdleCheck, nullptr);
  EXPECT_NE(gamelib::GetFileFunctionTable()->FindFirst, nullptr);

  StreamHandle h = gamelib::StreamOpen("packed/one", 0, 1, 0);
  ASSERT_NE(h, 0u);
  const gamelib::StreamFunctionTable& f = *gamelib::GetFileStreamFunctions();
  unsigned char buffer[40];
  EXPECT_EQ(f.Seek(h, 30, STREAM_SEEK_SET), 0);
  EXPECT_EQ(f.Read(buffer, 1, 40, h), 2u);
  EXPECT_EQ(f.Eof(h), 1);
  EXPECT_EQ(f.Close(h), 0);
  EXPECT_EQ(gamelib::StreamOpen("packed/two", 0, 1, 0), 0u);
  EXPECT_EQ(g_archiveOpens, 2);

  // Start-up and a null table put the defaults back.
  ASSERT_EQ(gamelib::InitializeLibrary(), 0);
  EXPECT_EQ(gamelib::StreamOpen("packed/one", 0, 1, 0), 0u);
  gamelib::SetFileFunctionTable(&table);
  gamelib::SetFileFunctionTable(nullptr);
  EXPECT_EQ(gamelib::StreamOpen("packed/one", 0, 1, 0), 0u);
  EXPECT_EQ(g_archiveOpens, 2);
}

TEST_F(CoreTest, DefaultTableFindsFilesAndChangesDirectory) {
  std::filesystem::create_directory("sub");
  std::ofstream("sub/a.wav") << "12345";
  std::ofstream("sub/b.wav") << "1";
  std::ofstream("sub/c.ogg") << "1";
  const gamelib::FileFunctionTable& t = *gamelib::GetFileFunctionTable();
  gamelib::FileInfo info{};
  std::intptr_t find = t.FindFirst("sub/*.wav", &info);
  ASSERT_NE(find, -1);
  std::set<std::string> names;
  do {
    names.insert(info.name);
    if (std::string(info.name) == "a.wav") {
      EXPECT_EQ(info.size, 5u);
    }
  } while (t.FindNext(find, &info) == 0);
  EXPECT_EQ(names, (std::set<std::string>{"a.wav", "b.wav"}));
  EXPECT_EQ(t.FindClose(find), 0);
  EXPECT_EQ(t.FindFirst("sub/*.mp3", &info), -1);

  char before[260];
  ASSERT_EQ(t.GetDir(before), 0);
  ASSERT_EQ(t.SetDir("sub"), 0);
  StreamHandle h = gamelib::StreamOpen("a.wav", 0, 1, 0);
  EXPECT_NE(h, 0u);
  gamelib::StreamClose(h);
  EXPECT_EQ(t.SetDir(before), 0);
  EXPECT_EQ(t.SetDir("no/such/dir"), -1);
}

}  // namespace
