#include <stdlib.h>
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
  void Make(const std::string& name, const std::string& contents) {
    std::ofstream(Path(name), std::ios::binary) << contents;
  }
  std::string dir_;
};

TEST_F(Files, WriteThenReadBackToTheEnd) {
  std::string name = Path("data.bin");
  HANDLE out = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(out, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(written, 6u);
  char byte;
  DWORD read = 7;
  EXPECT_FALSE(ReadFile(out, &byte, 1, &read, nullptr));  // opened for writing only
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(CloseHandle(out));

  HANDLE in = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::LiveObjects(), 1);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(in, &high), 6u);
  EXPECT_EQ(high, 0u);
  char buffer[16] = {};
  EXPECT_TRUE(ReadFile(in, buffer, 4, &read, nullptr));
  EXPECT_EQ(read, 4u);
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // short read at the end
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &read, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(WriteFile(in, "x", 1, &written, nullptr));
  EXPECT_TRUE(CloseHandle(in));
  EXPECT_FALSE(CloseHandle(in));  // already closed
}

TEST_F(Files, Dispositions) {
  std::string name = Path("d.txt");
  auto open = [&](DWORD access, DWORD disposition) {
    return CreateFileA(name.c_str(), access, 0, nullptr, disposition, 0, nullptr);
  };
  auto size = [&] {
    struct stat st {};
    return stat(name.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1L;
  };
  EXPECT_EQ(open(GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open(GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);

  HANDLE h = open(GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  WriteFile(h, "12345", 5, nullptr, nullptr);
  CloseHandle(h);
  EXPECT_EQ(open(GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);  // exists already

  h = open(GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  CloseHandle(h);
  EXPECT_EQ(size(), 5);
  EXPECT_EQ(open(GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);  // needs write access
  h = open(GENERIC_WRITE, TRUNCATE_EXISTING);
  CloseHandle(h);
  EXPECT_EQ(size(), 0);
  h = open(GENERIC_WRITE, CREATE_ALWAYS);
  WriteFile(h, "ab", 2, nullptr, nullptr);
  CloseHandle(h);
  EXPECT_EQ(size(), 2);

  EXPECT_EQ(open(GENERIC_READ, 99), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(dir_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(Files, SeekUsesTheHighWordFor64BitOffsets) {
  std::string name = Path("big.bin");
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
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
  EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_CURRENT), 3u);  // failures left the position alone
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, ForeignHandlesAreRefused) {
  HANDLE bogus = reinterpret_cast<HANDLE>(0x1234);
  char buffer[4];
  DWORD n = 5;
  EXPECT_FALSE(ReadFile(bogus, buffer, 4, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, buffer, 4, &n, nullptr));
  EXPECT_EQ(SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetFileSize(bogus, nullptr), INVALID_FILE_SIZE);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));

  Make("f.txt", "x");
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Path("*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CloseHandle(find));  // a search is not a file
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
}

TEST_F(Files, DeleteAndDirectories) {
  Make("gone.txt", "x");
  EXPECT_TRUE(DeleteFileA(Path("gone.txt").c_str()));
  EXPECT_FALSE(DeleteFileA(Path("gone.txt").c_str()));
  EXPECT_FALSE(DeleteFileA(""));
  EXPECT_FALSE(DeleteFileA(nullptr));

  char saved[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, MAX_PATH);
  EXPECT_EQ(std::strlen(saved), length);
  char tiny[2];
  EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), length + 1);  // size needed

  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  Make("here.txt", "abc");
  HANDLE h = CreateFileA("here.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_FALSE(SetCurrentDirectoryA("no-such-directory"));
  EXPECT_TRUE(SetCurrentDirectoryA(saved));
}

TEST_F(Files, BackslashesSeparateDirectories) {
  std::filesystem::create_directory(Path("sub"));
  Make("sub/inner.txt", "hi");
  std::string name = dir_ + "\\sub\\inner.txt";
  HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((dir_ + "\\sub\\*.txt").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "inner.txt");
  FindClose(find);
}

std::vector<std::string> FindAll(const std::string& pattern, std::vector<DWORD>* attributes = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
    if (attributes != nullptr) attributes->push_back(data.dwFileAttributes);
  } while (FindNextFileA(find, &data));
  EXPECT_FALSE(FindNextFileA(find, &data));  // stays at the end
  EXPECT_TRUE(FindClose(find));
  return names;
}

TEST_F(Files, FindPatterns) {
  Make("b.WAV", "1234");
  Make("a.wav", "1");
  Make("c.ogg", "");
  Make("x1.txt", "");
  Make("x22.txt", "");
  std::filesystem::create_directory(Path("sub"));

  EXPECT_EQ(FindAll(Path("*.wav")), (std::vector<std::string>{"a.wav", "b.WAV"}));
  EXPECT_EQ(FindAll(Path("x?.txt")), (std::vector<std::string>{"x1.txt"}));
  std::vector<DWORD> attributes;
  EXPECT_EQ(FindAll(Path("*.*"), &attributes),
            (std::vector<std::string>{"a.wav", "b.WAV", "c.ogg", "sub", "x1.txt", "x22.txt"}));
  EXPECT_EQ(attributes[3], FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(attributes[0], FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(FindAll(Path("c.ogg")), (std::vector<std::string>{"c.ogg"}));
  Make("[1].txt", "");
  EXPECT_EQ(FindAll(Path("[1]*")), (std::vector<std::string>{"[1].txt"}));  // '[' is no wildcard
  EXPECT_EQ(FindAll(Path("[x]1.txt")), (std::vector<std::string>{}));

  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Path("b.wav").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 4u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  FindClose(find);

  EXPECT_EQ(FindFirstFileA(Path("*.mp3").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileA(Path("missing/*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileA((dir_ + "/").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileA("", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileA(Path("*").c_str(), nullptr), INVALID_HANDLE_VALUE);
}

}  // namespace
