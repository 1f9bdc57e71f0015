// File and memory streams behave alike at every edge; the file-function table is what
// StreamOpen and friends go through.
#include <set>

#include "core_fixture.h"

namespace {

using namespace gamelib;

class StreamTest : public CoreTest, public ::testing::WithParamInterface<bool /* memory */> {
 protected:
  StreamHandle Open(const std::string& bytes) {
    if (GetParam()) return OpenMemoryStream(bytes.data(), bytes.size());
    std::ofstream(std::to_string(bytes.size()), std::ios::binary) << bytes;
    return StreamOpen(std::to_string(bytes.size()).c_str(), 0, 1, 0);
  }
  const StreamFunctionTable& f = *(GetParam() ? GetMemoryStreamFunctions() : GetFileStreamFunctions());
  std::string data = std::string(50, 'a') + std::string(50, 'b');
  char buffer[128] = {};
};

TEST_P(StreamTest, ReadsAndSeeksStopAtTheEnd) {
  StreamHandle h = Open(data);
  EXPECT_EQ(f.IdleCheck(h), 1);
  EXPECT_EQ(f.Read(buffer, 4, 15, h), 60u);  // size x count bytes
  EXPECT_EQ(f.Eof(h), 0);
  EXPECT_EQ(f.Read(buffer + 60, 1, 60, h), 40u);
  EXPECT_EQ(std::string(buffer, 100), data);
  EXPECT_EQ(f.Read(buffer, 1, 10, h), 0u);
  // Seeks in a row: offset, origin, result, then the position (past the end stops at the end).
  const std::int64_t offset[] = {-10, 0, 50, 10, -60, 1000, 5, 40, -1, -41, -101, INT64_MAX, INT64_MIN, 0};
  const int origin[] = {2, 2, 0, 1, 1, 0, 2, 0, 0, 1, 2, 2, 1, 3 /* no such origin */};
  const int result[] = {0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -1, -1};
  const std::int64_t position[] = {90, 100, 50, 60, 0, 100, 100, 40, 40, 40, 40, 40, 40, 40};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(f.Seek(h, offset[i], origin[i]), result[i]) << i;
    EXPECT_EQ(f.Tell(h), position[i]) << i;
    EXPECT_EQ(f.Eof(h), position[i] == 100 ? 1 : 0) << i;
  }
  EXPECT_EQ(f.Read(buffer, 1, 0, h), 0u);
  EXPECT_EQ(f.Read(buffer, SIZE_MAX, 2, h), 60u);  // an overflowing size x count reads what is left
  EXPECT_EQ(std::string(buffer, 60), data.substr(40));
  EXPECT_EQ(f.Close(h), 0);
  StreamHandle empty = Open("");
  EXPECT_EQ(f.Eof(empty), 1);
  EXPECT_EQ(f.Close(empty), 0);
}

TEST_P(StreamTest, BadStaleAndOtherKindsOfHandlesAreRefused) {
  StreamHandle h = Open(data);
  ASSERT_EQ(f.Close(h), 0);
  int local = 0;
  void* other = AllocMemory(3, "other.cpp", 1);  // live, but not a stream
  std::ofstream("f.bin") << data;
  StreamHandle otherKind = GetParam() ? StreamOpen("f.bin", 0, 1, 0) : OpenMemoryStream(data.data(), 8);
  for (StreamHandle bad : {StreamHandle{0}, h, reinterpret_cast<StreamHandle>(&local),
                           reinterpret_cast<StreamHandle>(other), otherKind}) {
    EXPECT_EQ(f.Tell(bad), -1);
    EXPECT_EQ(f.Seek(bad, 0, kStreamSeekSet), -1);
    EXPECT_EQ(f.Read(buffer, 1, 16, bad), 0u);
    EXPECT_NE(f.Eof(bad), 0);  // a read loop waiting for the end stops
    EXPECT_EQ(f.IdleCheck(bad), -1);
    EXPECT_EQ(f.Close(bad), -1);
  }
  EXPECT_EQ(GetParam() ? StreamClose(otherKind) : CloseMemoryStream(otherKind), 0);
  FreeMemory(other);
  // Refused opens leave nothing behind: the file of a failed allocation is closed again.
  sim::FailCall("HeapAlloc", 1);
  EXPECT_EQ(Open(data), 0u);
  EXPECT_EQ(OpenMemoryStream(nullptr, 4), 0u);
  for (const char* name : {"missing.bin", static_cast<const char*>(nullptr), ""}) {
    EXPECT_EQ(StreamOpen(name, 0, 1, 0), 0u) << (name ? name : "null");
  }
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, StreamTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Memory" : "File"; });

int g_archiveOpens = 0;

TEST_F(CoreTest, TheReplaceableTableServesStreamsAndKeepsTheDefaultsForItsNullEntries) {
  // Files served from memory, as an archive reader would.
  FileFunctionTable table{};
  table.Open = [](const char*, int, int, int) {
    ++g_archiveOpens;
    return OpenMemoryStream("archive", 7);
  };
  table.Close = GetMemoryStreamFunctions()->Close;
  table.Read = GetMemoryStreamFunctions()->Read;
  ASSERT_EQ(SetFileFunctionTable(&table), 0);
  StreamHandle h = StreamOpen("packed", 0, 1, 0);
  char buffer[MAX_PATH];
  EXPECT_EQ(StreamRead(buffer, 1, 8, h), 7u);
  EXPECT_EQ(StreamTell(h), -1);  // the default Tell knows no memory stream
  const FileFunctionTable& t = *GetFileFunctionTable();
  EXPECT_EQ(t.IdleCheck(h) + t.Eof(h) + t.Seek(h, 0, 0), -3);
  EXPECT_EQ(StreamClose(h), 0);
  // The default searches and directory changes.
  std::filesystem::create_directory("sub");
  std::ofstream("sub/a.wav") << "12345";
  std::ofstream("sub/b.wav") << "1";
  FileInfo info{};
  std::set<std::string> found;
  for (const char* pattern : {"sub/*.wav", "s*", "sub/*.mp3"}) {
    std::intptr_t find = t.FindFirst(pattern, &info);
    for (int more = find == -1 ? -1 : 0; more == 0; more = t.FindNext(find, &info)) {
      found.insert(std::string(info.name) + ":" + (info.directory ? "dir" : std::to_string(info.size)));
    }
    EXPECT_EQ(t.FindClose(find), find == -1 ? -1 : 0) << pattern;
  }
  EXPECT_EQ(found, (std::set<std::string>{"a.wav:5", "b.wav:1", "sub:dir"}));
  EXPECT_STREQ(info.name, "sub");  // a search that finds nothing leaves it alone
  EXPECT_EQ(t.FindNext(-1, &info) + t.SetDir(nullptr) + t.SetDir("no/such/dir"), -3);
  EXPECT_EQ(t.GetDir(buffer) + t.SetDir("sub"), 0);
  EXPECT_EQ(std::filesystem::current_path().filename(), "sub");
  EXPECT_EQ(t.SetDir(buffer), 0);
  // Start-up and a null table put the defaults back.
  ASSERT_EQ(InitializeLibrary(), 0);
  EXPECT_EQ(StreamOpen("packed", 0, 1, 0), 0u);
  SetFileFunctionTable(&table);
  SetFileFunctionTable(nullptr);
  EXPECT_EQ(StreamOpen("packed", 0, 1, 0), 0u);
  EXPECT_EQ(g_archiveOpens, 1);
}

}  // namespace
