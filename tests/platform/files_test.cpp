// Files: reads and writes at their edges, dispositions, 64-bit seeks, searches, refusals.
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
  void Make(const std::string& name, const std::string& contents) { std::ofstream(Path(name)) << contents; }
  HANDLE Open(const std::string& name, DWORD access, DWORD disposition) {
    return CreateFileA(name.c_str(), access, 0, nullptr, disposition, 0, nullptr);
  }
  // Every name a search finds, in order; the search stays at its end.
  std::vector<std::string> FindAll(const std::string& pattern, std::vector<DWORD>* attributes = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(Path(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName);
      if (attributes != nullptr) attributes->push_back(data.dwFileAttributes);
    } while (FindNextFileA(find, &data));
    EXPECT_FALSE(FindNextFileA(find, &data));
    EXPECT_FALSE(CloseHandle(find));  // a search is not a file
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    return names;
  }
  std::string dir_;
};

TEST_F(Files, WriteThenReadBackToTheEndWithAccessChecked) {
  HANDLE out = Open(Path("data.bin"), GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0, read = 7;
  EXPECT_TRUE(WriteFile(out, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(written, 6u);
  char buffer[16] = {};
  EXPECT_FALSE(ReadFile(out, buffer, 1, &read, nullptr));  // opened for writing only
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(CloseHandle(out));

  HANDLE in = Open(Path("data.bin"), GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(in, &high), 6u);
  EXPECT_EQ(high, 0u);
  EXPECT_TRUE(ReadFile(in, buffer, 4, &read, nullptr));
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // short read at the end
  EXPECT_EQ(std::string(buffer, read), "ef");
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(WriteFile(in, "x", 1, &written, nullptr));
  EXPECT_TRUE(CloseHandle(in));
  EXPECT_FALSE(CloseHandle(in));  // already closed

  HANDLE bogus = reinterpret_cast<HANDLE>(0x1234);
  read = 5;
  EXPECT_FALSE(ReadFile(bogus, buffer, 4, &read, nullptr));
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &read, nullptr));
  EXPECT_EQ(SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetFileSize(bogus, nullptr), INVALID_FILE_SIZE);
}

TEST_F(Files, Dispositions) {
  const std::string name = Path("d.txt");
  auto size = [&] {
    struct stat st {};
    return stat(name.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1L;
  };
  auto writeAndClose = [](HANDLE h, const char* text) {
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), nullptr, nullptr);
    CloseHandle(h);
  };
  EXPECT_EQ(Open(name, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(name, GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  writeAndClose(Open(name, GENERIC_WRITE, CREATE_NEW), "12345");
  EXPECT_EQ(Open(name, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);  // exists already
  writeAndClose(Open(name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS), "");
  EXPECT_EQ(size(), 5);
  EXPECT_EQ(Open(name, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);  // needs write access
  writeAndClose(Open(name, GENERIC_WRITE, TRUNCATE_EXISTING), "");
  EXPECT_EQ(size(), 0);
  writeAndClose(Open(name, GENERIC_WRITE, CREATE_ALWAYS), "ab");
  EXPECT_EQ(size(), 2);
  for (const std::string& bad : {name, dir_, std::string()}) {
    EXPECT_EQ(Open(bad, GENERIC_READ, bad == name ? 99 : OPEN_EXISTING), INVALID_HANDLE_VALUE) << bad;
  }
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(Files, SeekUsesTheHighWordFor64BitOffsets) {
  HANDLE h = Open(Path("big.bin"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // 5 GiB: high word 1, low word 1 GiB. The file stays sparse.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x40000000, &high, FILE_BEGIN), 0x40000000u);
  EXPECT_EQ(high, 1);
  EXPECT_TRUE(WriteFile(h, "z", 1, nullptr, nullptr));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x40000001u);
  EXPECT_EQ(sizeHigh, 1u);
  // Back by 5 GiB from the end: a negative 64-bit distance in both words.
  high = -2;
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(0xC0000000u), &high, FILE_END), 1u);
  EXPECT_EQ(high, 0);
  // Without the high word the distance is signed 32-bit, and a result past 4 GiB fails.
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), 0u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);  // before the start
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_CURRENT), 3u);  // failures left the position alone
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, DeleteDirectoriesAndBackslashes) {
  Make("gone.txt", "x");
  EXPECT_TRUE(DeleteFileA(Path("gone.txt").c_str()));
  EXPECT_FALSE(DeleteFileA(Path("gone.txt").c_str()));
  EXPECT_FALSE(DeleteFileA(nullptr));
  char saved[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(saved), length);
  char tiny[2];
  EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);  // size needed
  std::filesystem::create_directory(Path("sub"));
  Make("sub/inner.txt", "hi");
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  HANDLE h = Open("sub\\inner.txt", GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(FindAll("sub\\*.txt"), std::vector<std::string>{"inner.txt"});
  EXPECT_FALSE(SetCurrentDirectoryA("no-such-directory"));
  EXPECT_TRUE(SetCurrentDirectoryA(saved));
}

TEST_F(Files, FindPatterns) {
  for (const char* name : {"b.WAV", "a.wav", "c.ogg", "x1.txt", "x22.txt", "[1].txt"}) Make(name, "");
  Make("b.WAV", "1234");
  std::filesystem::create_directory(Path("sub"));
  using Names = std::vector<std::string>;
  EXPECT_EQ(FindAll("*.wav"), (Names{"a.wav", "b.WAV"}));
  EXPECT_EQ(FindAll("x?.txt"), (Names{"x1.txt"}));
  std::vector<DWORD> attributes;
  EXPECT_EQ(FindAll("*.*", &attributes),
            (Names{"[1].txt", "a.wav", "b.WAV", "c.ogg", "sub", "x1.txt", "x22.txt"}));
  EXPECT_EQ(attributes[4], FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(attributes[1], FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(FindAll("[1]*"), (Names{"[1].txt"}));  // '[' is no wildcard
  EXPECT_EQ(FindAll("[x]1.txt"), Names{});
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Path("b.wav").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 4u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  FindClose(find);
  for (const std::string& bad : {Path("*.mp3"), Path("missing/*"), dir_ + "/", std::string()}) {
    EXPECT_EQ(FindFirstFileA(bad.c_str(), &data), INVALID_HANDLE_VALUE) << bad;
  }
  EXPECT_EQ(FindFirstFileA(Path("*").c_str(), nullptr), INVALID_HANDLE_VALUE);
}

}  // namespace
