// The default file-function table, over the platform's file calls. A stream handle is
// a record from AllocMemory; it is checked against the live blocks before use, so a
// stale or foreign handle is refused instead of followed.
#include <cstring>

#include "core/memory.h"
#include "core/streams.h"

namespace gamelib {
namespace {

constexpr std::uint32_t kFileStreamMagic = 0x4D525346u;  // "FSRM"

struct FileStream {
  std::uint32_t magic;
  HANDLE file;
  std::uint64_t size;
  std::uint64_t position;
};

FileStream* ToFileStream(StreamHandle handle) {
  auto* block = reinterpret_cast<void*>(handle);
  if (handle == 0 || LiveMemoryBlockSize(block) != sizeof(FileStream)) return nullptr;
  auto* stream = static_cast<FileStream*>(block);
  return stream->magic == kFileStreamMagic ? stream : nullptr;
}

bool MoveFilePointer(HANDLE file, std::uint64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  DWORD low = SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
  std::uint64_t now = (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  return now == position;
}

StreamHandle DefaultOpen(const char* name, int cache, int unused, int async) {
  // Cache and asynchronous reads are not needed by anything here: every file reads
  // synchronously.
  if (name == nullptr || name[0] == '\0') return 0;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
  DWORD high = 0;
  DWORD low = GetFileSize(file, &high);
  auto* stream = static_cast<FileStream*>(AllocMemory(sizeof(FileStream), __FILE__, __LINE__));
  if (stream == nullptr) {
    CloseHandle(file);
    return 0;
  }
  stream->magic = kFileStreamMagic;
  stream->file = file;
  stream->size = (static_cast<std::uint64_t>(high) << 32) | low;
  stream->position = 0;
  return reinterpret_cast<StreamHandle>(stream);
}

int DefaultClose(StreamHandle handle) {
  FileStream* stream = ToFileStream(handle);
  if (stream == nullptr) return -1;
  CloseHandle(stream->file);
  stream->magic = 0;
  FreeMemory(stream);
  return 0;
}

std::int64_t DefaultTell(StreamHandle handle) {
  FileStream* stream = ToFileStream(handle);
  return stream == nullptr ? -1 : static_cast<std::int64_t>(stream->position);
}

int DefaultSeek(StreamHandle handle, std::int64_t offset, int origin) {
  FileStream* stream = ToFileStream(handle);
  if (stream == nullptr) return -1;
  std::int64_t target = ResolveSeek(stream->position, stream->size, offset, origin);
  if (target < 0) return -1;
  if (!MoveFilePointer(stream->file, static_cast<std::uint64_t>(target))) return -1;
  stream->position = static_cast<std::uint64_t>(target);
  return 0;
}

std::size_t DefaultRead(void* buffer, std::size_t size, std::size_t count, StreamHandle handle) {
  FileStream* stream = ToFileStream(handle);
  if (stream == nullptr || buffer == nullptr || size == 0 || count == 0) return 0;
  std::size_t want = size > SIZE_MAX / count ? SIZE_MAX : size * count;
  std::uint64_t left = stream->position < stream->size ? stream->size - stream->position : 0;
  if (want > left) want = static_cast<std::size_t>(left);
  std::size_t done = 0;
  while (done < want) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    DWORD ask = static_cast<DWORD>(want - done < kChunk ? want - done : kChunk);
    DWORD got = 0;
    if (!ReadFile(stream->file, static_cast<unsigned char*>(buffer) + done, ask, &got, nullptr) || got == 0)
      break;
    done += got;
  }
  stream->position += done;
  return done;
}

int DefaultEof(StreamHandle handle) {
  FileStream* stream = ToFileStream(handle);
  if (stream == nullptr) return -1;
  return stream->position >= stream->size ? 1 : 0;
}

int DefaultIdleCheck(StreamHandle handle) { return ToFileStream(handle) == nullptr ? -1 : 1; }

int DefaultSetDir(const char* path) {
  if (path == nullptr) return -1;
  return SetCurrentDirectoryA(path) ? 0 : -1;
}

int DefaultGetDir(char* buffer) {
  if (buffer == nullptr) return -1;
  DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
  return n == 0 || n >= MAX_PATH ? -1 : 0;
}

void FillFileInfo(const WIN32_FIND_DATAA& data, FileInfo* info) {
  if (info == nullptr) return;
  std::size_t length = strnlen(data.cFileName, sizeof(data.cFileName));
  if (length >= sizeof(info->name)) length = sizeof(info->name) - 1;
  std::memcpy(info->name, data.cFileName, length);
  info->name[length] = '\0';
  info->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
  info->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::intptr_t DefaultFindFirst(const char* pattern, FileInfo* info) {
  if (pattern == nullptr) return -1;
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE || find == nullptr) return -1;
  FillFileInfo(data, info);
  return reinterpret_cast<std::intptr_t>(find);
}

int DefaultFindNext(std::intptr_t find, FileInfo* info) {
  if (find == -1 || find == 0) return -1;
  WIN32_FIND_DATAA data{};
  if (!FindNextFileA(reinterpret_cast<HANDLE>(find), &data)) return -1;
  FillFileInfo(data, info);
  return 0;
}

int DefaultFindClose(std::intptr_t find) {
  if (find == -1 || find == 0) return -1;
  return FindClose(reinterpret_cast<HANDLE>(find)) ? 0 : -1;
}

constexpr FileFunctionTable kDefaults = {
    DefaultOpen,      DefaultClose,  DefaultTell,   DefaultSeek,      DefaultRead,     DefaultEof,
    DefaultIdleCheck, DefaultSetDir, DefaultGetDir, DefaultFindFirst, DefaultFindNext, DefaultFindClose,
};

FileFunctionTable g_table = kDefaults;

}  // namespace

const FileFunctionTable& DefaultFileFunctions() { return kDefaults; }

std::int64_t ResolveSeek(std::uint64_t position, std::uint64_t size, std::int64_t offset, int origin) {
  std::int64_t base;
  switch (origin) {
    case kStreamSeekSet:
      base = 0;
      break;
    case kStreamSeekCur:
      base = static_cast<std::int64_t>(position);
      break;
    case kStreamSeekEnd:
      base = static_cast<std::int64_t>(size);
      break;
    default:
      return -1;
  }
  std::int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
  if (static_cast<std::uint64_t>(target) > size) target = static_cast<std::int64_t>(size);
  return target;
}

int SetFileFunctionTable(const FileFunctionTable* table) {
  if (table == nullptr) {
    g_table = kDefaults;
    return 0;
  }
  // A missing entry keeps the default rather than leaving a null to be called.
  FileFunctionTable t = *table;
  if (t.Open == nullptr) t.Open = kDefaults.Open;
  if (t.Close == nullptr) t.Close = kDefaults.Close;
  if (t.Tell == nullptr) t.Tell = kDefaults.Tell;
  if (t.Seek == nullptr) t.Seek = kDefaults.Seek;
  if (t.Read == nullptr) t.Read = kDefaults.Read;
  if (t.Eof == nullptr) t.Eof = kDefaults.Eof;
  if (t.IdleCheck == nullptr) t.IdleCheck = kDefaults.IdleCheck;
  if (t.SetDir == nullptr) t.SetDir = kDefaults.SetDir;
  if (t.GetDir == nullptr) t.GetDir = kDefaults.GetDir;
  if (t.FindFirst == nullptr) t.FindFirst = kDefaults.FindFirst;
  if (t.FindNext == nullptr) t.FindNext = kDefaults.FindNext;
  if (t.FindClose == nullptr) t.FindClose = kDefaults.FindClose;
  g_table = t;
  return 0;
}

const FileFunctionTable* GetFileFunctionTable() { return &g_table; }

}  // namespace gamelib
