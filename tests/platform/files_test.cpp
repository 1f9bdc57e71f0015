// Files and searches as the library relies on them, at the edges its own tests
// cannot reach: ends of files, 64-bit offsets, patterns, stale handles.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

class Files : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    char templ[] = "/tmp/gamelib-files-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    PlatformTest::TearDown();
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  HANDLE Open(const std::string& name, DWORD access, DWORD disposition) {
    return CreateFileA(name.c_str(), access, 0, nullptr, disposition, 0, nullptr);
  }
  // Every name a search finds, in order, with a '/' after directories.
  std::vector<std::string> FindAll(const std::string& pattern, DWORD* lastSize = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(Path(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName +
                      std::string(data.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "/" : ""));
      if (lastSize != nullptr) *lastSize = data.nFileSizeLow;
    } while (FindNextFileA(find, &data));
    EXPECT_FALSE(CloseHandle(find));  // a search is not a file
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    return names;
  }
  std::string dir_;
};

TEST_F(Files, ReadsAndWritesStopAtTheEndAndAtTheAccessGiven) {
  HANDLE out = Open(Path("data.bin"), GENERIC_WRITE, CREATE_ALWAYS);
  DWORD written = 0, read = 7;
  EXPECT_TRUE(WriteFile(out, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(written, 6u);
  char buffer[16] = {};
  EXPECT_FALSE(ReadFile(out, buffer, 1, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(CloseHandle(out));
  EXPECT_FALSE(CloseHandle(out));

  HANDLE in = Open(Path("data.bin"), GENERIC_READ, OPEN_EXISTING);
  EXPECT_TRUE(ReadFile(in, buffer, 4, &read, nullptr));
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // a short read at the end
  EXPECT_EQ(std::string(buffer, read), "ef");
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // at the end: nothing, no failure
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(WriteFile(in, "x", 1, &written, nullptr));
  EXPECT_TRUE(CloseHandle(in));
  EXPECT_FALSE(ReadFile(in, buffer, 4, &read, nullptr));  // stale
  EXPECT_EQ(GetFileSize(reinterpret_cast<HANDLE>(0x1234), nullptr), INVALID_FILE_SIZE);

  // What the library opens with: existing files only, or a new empty one.
  EXPECT_EQ(Open(Path("none"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  auto descriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = descriptors();
  EXPECT_TRUE(CloseHandle(Open(Path("data.bin"), GENERIC_WRITE, CREATE_ALWAYS)));
  EXPECT_EQ(descriptors(), before);  // a closed handle leaves no descriptor behind
  EXPECT_EQ(std::filesystem::file_size(Path("data.bin")), 0u);
  EXPECT_EQ(Open(dir_, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileA(Path("data.bin").c_str()));
  EXPECT_FALSE(DeleteFileA(Path("data.bin").c_str()));
}

TEST_F(Files, SeeksUseTheHighWordFor64BitOffsets) {
  HANDLE h = Open(Path("big.bin"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  // 5 GiB: high word 1, low word 1 GiB. The file stays sparse.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x40000000, &high, FILE_BEGIN), 0x40000000u);
  EXPECT_EQ(high, 1);
  EXPECT_TRUE(WriteFile(h, "z", 1, nullptr, nullptr));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x40000001u);
  EXPECT_EQ(sizeHigh, 1u);
  WIN32_FIND_DATAA data;
  EXPECT_TRUE(FindClose(FindFirstFileA(Path("big.bin").c_str(), &data)));
  EXPECT_EQ(data.nFileSizeHigh, 1u);  // as the search reports it too
  EXPECT_EQ(data.nFileSizeLow, 0x40000001u);
  high = -2;  // back by 5 GiB from the end: a negative 64-bit distance in both words
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xC0000000u), &high, FILE_END), 1u);
  EXPECT_EQ(high, 0);
  // Without the high word the distance is signed 32-bit, and a result past 4 GiB fails.
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 0u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_CURRENT), 3u);  // failures left the position alone
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, SearchesMatchStarAndQuestionMarkWithoutCaseInBackslashedPaths) {
  for (const char* name : {"b.WAV", "a.wav", "c.ogg", "x1.txt", "x22.txt", "[1].txt", "sub/inner.txt"}) {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::ofstream(Path(name)) << "1234";
  }
  using Names = std::vector<std::string>;
  DWORD size = 0;
  EXPECT_EQ(FindAll("*.wav", &size), (Names{"a.wav", "b.WAV"}));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(FindAll("x?.txt"), (Names{"x1.txt"}));
  EXPECT_EQ(FindAll("*.*"), (Names{"[1].txt", "a.wav", "b.WAV", "c.ogg", "sub/", "x1.txt", "x22.txt"}));
  EXPECT_EQ(FindAll("[1]*"), (Names{"[1].txt"}));  // '[' is no wildcard
  EXPECT_EQ(FindAll("sub\\*.TXT"), (Names{"inner.txt"}));
  WIN32_FIND_DATAA data;
  for (const std::string& bad : {Path("*.mp3"), Path("missing/*"), dir_ + "/", std::string()}) {
    EXPECT_EQ(FindFirstFileA(bad.c_str(), &data), INVALID_HANDLE_VALUE) << bad;
  }

  char saved[MAX_PATH], tiny[2];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  EXPECT_EQ(std::strlen(saved), length);
  EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);  // the size needed
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  HANDLE h = Open("sub\\inner.txt", GENERIC_READ, OPEN_EXISTING);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(SetCurrentDirectoryA("no-such-directory"));
  EXPECT_TRUE(SetCurrentDirectoryA(saved));
}

}  // namespace

namespace {

// A game handed a named pipe (or a socket) instead of a file must get an error, not a
// read that waits for ever for a writer.
TEST_F(Files, PipesAreRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(Open(Path("pipe"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(Path("pipe"), GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
}

}  // namespace
