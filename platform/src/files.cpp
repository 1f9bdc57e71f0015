// Files and directory search over POSIX. Handles are tokens into a table, so a stale
// or foreign handle is refused instead of reaching a random descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/win32.h"

namespace {

struct FoundEntry {
  std::string name;
  bool directory;
  std::uint64_t size;
};

struct OpenFile {
  int fd;
  bool canRead;
  bool canWrite;
};

struct Search {
  std::vector<FoundEntry> entries;
  std::size_t next = 0;
};

struct Handles {
  std::uintptr_t nextToken = 0x10000;
  std::map<HANDLE, OpenFile> files;
  std::map<HANDLE, Search> searches;
};

std::mutex fileMutex;
// Never destroyed: stand-ins may still close files while the program exits.
Handles& State() {
  static auto* state = new Handles;
  return *state;
}

HANDLE NewToken() {
  State().nextToken += 16;
  return reinterpret_cast<HANDLE>(State().nextToken);
}

// Paths written for the home platform may use backslashes.
std::string HostPath(const char* path) {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

bool FindFile(HANDLE handle, OpenFile* out) {
  std::lock_guard lock(fileMutex);
  auto it = State().files.find(handle);
  if (it == State().files.end()) return false;
  *out = it->second;
  return true;
}

void Fill(const FoundEntry& entry, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(entry.size);
  std::memcpy(data->cFileName, entry.name.c_str(), entry.name.size() + 1);
}

}  // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
  if (platform::ShouldFail("CreateFileA")) return INVALID_HANDLE_VALUE;
  if (name == nullptr || *name == '\0') return INVALID_HANDLE_VALUE;
  bool canRead = (access & GENERIC_READ) != 0;
  bool canWrite = (access & GENERIC_WRITE) != 0;
  int mode = canWrite ? (canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      mode |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      mode |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      mode |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!canWrite) return INVALID_HANDLE_VALUE;
      mode |= O_TRUNC;
      break;
    default:
      return INVALID_HANDLE_VALUE;
  }
  std::string path = HostPath(name);
  int fd;
  do {
    // Non-blocking, so that opening a pipe with no writer cannot hang the caller.
    fd = open(path.c_str(), mode | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  // Pipes and sockets would block a read for ever: only files and devices are opened.
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(fileMutex);
  HANDLE handle = NewToken();
  State().files[handle] = OpenFile{fd, canRead, canWrite};
  return handle;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* bytesRead, void* overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (platform::ShouldFail("ReadFile")) return FALSE;
  OpenFile f{};
  if (!FindFile(file, &f) || !f.canRead || (buffer == nullptr && bytes > 0)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    ssize_t n = read(f.fd, static_cast<char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FALSE;
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* bytesWritten, void* overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  if (platform::ShouldFail("WriteFile")) return FALSE;
  OpenFile f{};
  if (!FindFile(file, &f) || !f.canWrite || (buffer == nullptr && bytes > 0)) return FALSE;
  DWORD done = 0;
  while (done < bytes) {
    ssize_t n = write(f.fd, static_cast<const char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (bytesWritten != nullptr) *bytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  if (platform::ShouldFail("SetFilePointer")) return INVALID_SET_FILE_POINTER;
  OpenFile f{};
  if (!FindFile(file, &f)) return INVALID_SET_FILE_POINTER;
  // Without the high word the distance is a signed 32-bit value; with it, the two
  // words form one signed 64-bit distance.
  std::int64_t move =
      distanceHigh == nullptr
          ? static_cast<std::int64_t>(distance)
          : static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                static_cast<std::uint32_t>(distance));
  std::int64_t base;
  if (method == FILE_BEGIN) {
    base = 0;
  } else if (method == FILE_CURRENT) {
    base = lseek(f.fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st {};
    base = fstat(f.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
  } else {
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t target;
  if (base < 0 || __builtin_add_overflow(base, move, &target) || target < 0) return INVALID_SET_FILE_POINTER;
  // A position the caller could not read back from one word is refused.
  if (distanceHigh == nullptr && target >= static_cast<std::int64_t>(INVALID_SET_FILE_POINTER)) {
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(f.fd, static_cast<off_t>(target), SEEK_SET) < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  if (platform::ShouldFail("GetFileSize")) return INVALID_FILE_SIZE;
  OpenFile f{};
  struct stat st {};
  if (!FindFile(file, &f) || fstat(f.fd, &st) != 0) return INVALID_FILE_SIZE;
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE handle) {
  if (platform::ShouldFail("CloseHandle")) return FALSE;
  int fd;
  {
    std::lock_guard lock(fileMutex);
    auto& files = State().files;
    auto it = files.find(handle);
    if (it == files.end()) return FALSE;
    fd = it->second.fd;
    files.erase(it);
  }
  close(fd);
  return TRUE;
}

BOOL DeleteFileA(const char* name) {
  if (platform::ShouldFail("DeleteFileA")) return FALSE;
  if (name == nullptr || *name == '\0') return FALSE;
  return unlink(HostPath(name).c_str()) == 0 ? TRUE : FALSE;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  if (platform::ShouldFail("GetCurrentDirectoryA")) return 0;
  std::vector<char> path(PATH_MAX + 1);
  if (getcwd(path.data(), path.size()) == nullptr) return 0;
  auto length = static_cast<DWORD>(std::strlen(path.data()));
  // Too small a buffer: the size needed, counting the terminator, as on the home platform.
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, path.data(), length + 1);
  return length;
}

BOOL SetCurrentDirectoryA(const char* path) {
  if (platform::ShouldFail("SetCurrentDirectoryA")) return FALSE;
  if (path == nullptr || *path == '\0') return FALSE;
  return chdir(HostPath(path).c_str()) == 0 ? TRUE : FALSE;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (platform::ShouldFail("FindFirstFileA")) return INVALID_HANDLE_VALUE;
  if (pattern == nullptr || *pattern == '\0' || data == nullptr) return INVALID_HANDLE_VALUE;
  std::string full = HostPath(pattern);
  std::string directory = ".";
  std::string wildcard = full;
  if (auto slash = full.rfind('/'); slash != std::string::npos) {
    directory = slash == 0 ? "/" : full.substr(0, slash);
    wildcard = full.substr(slash + 1);
  }
  if (wildcard.empty()) return INVALID_HANDLE_VALUE;
  // "*.*" means every name on the home platform, with or without a dot.
  if (wildcard == "*.*") wildcard = "*";
  // Only '*' and '?' are wildcards there: a '[' is an ordinary character.
  std::string glob;
  for (char c : wildcard) glob += c == '[' ? std::string("[[]") : std::string(1, c);

  Search search;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return INVALID_HANDLE_VALUE;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || name.size() >= MAX_PATH) continue;
    if (fnmatch(glob.c_str(), name.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) != 0) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), name.c_str(), &st, 0) != 0) continue;
    search.entries.push_back(
        {name, S_ISDIR(st.st_mode), S_ISDIR(st.st_mode) ? 0u : static_cast<std::uint64_t>(st.st_size)});
  }
  closedir(dir);
  if (search.entries.empty()) return INVALID_HANDLE_VALUE;
  // Directory order is arbitrary; sorted results keep runs reproducible.
  std::sort(search.entries.begin(), search.entries.end(),
            [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
  Fill(search.entries[0], data);
  search.next = 1;
  std::lock_guard lock(fileMutex);
  HANDLE handle = NewToken();
  State().searches[handle] = std::move(search);
  return handle;
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  if (platform::ShouldFail("FindNextFileA")) return FALSE;
  if (data == nullptr) return FALSE;
  std::lock_guard lock(fileMutex);
  auto it = State().searches.find(find);
  if (it == State().searches.end() || it->second.next >= it->second.entries.size()) return FALSE;
  Fill(it->second.entries[it->second.next++], data);
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (platform::ShouldFail("FindClose")) return FALSE;
  std::lock_guard lock(fileMutex);
  return State().searches.erase(find) != 0 ? TRUE : FALSE;
}

namespace platform::detail {

int LiveFileHandles() {
  std::lock_guard lock(fileMutex);
  return static_cast<int>(State().files.size());
}

int LiveFindHandles() {
  std::lock_guard lock(fileMutex);
  return static_cast<int>(State().searches.size());
}

}  // namespace platform::detail
