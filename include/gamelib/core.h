// The library core: start-up and shutdown, the log, the memory manager, streams,
// lists, the message pump and the small helpers every subsystem uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace gamelib {

// ---- Start-up and shutdown (0 or -1) -------------------------------------------------
int InitializeLibrary();
int TerminateLibrary();
int SetNoSoundFlag(int flag);
int GetNoSoundFlag();
int SetOutApplicationLogValidFlag(int flag);

// ---- Log --------------------------------------------------------------------------
// Both writers always return -1, so a caller may `return OutputLog(...)` on failure.
int OutputLog(const char* text);
int OutputLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
int IncreaseLogIndent();
int DecreaseLogIndent();
// Fatal exit: logs the message, shuts the library down and ends the process with -1.
[[noreturn]] void ExitWithError(const char* message);

// ---- Memory manager ---------------------------------------------------------------
void* AllocMemory(std::size_t size, const char* sourceName, int sourceLine);
void* AllocMemoryZeroed(std::size_t size, const char* sourceName, int sourceLine);
void FreeMemory(void* block);

// ---- Byte and string helpers --------------------------------------------------------
void FillMemoryBytes(void* destination, int byte, std::size_t count);
void CopyMemoryBytes(void* destination, const void* source, std::size_t count);
int CompareMemoryBytes(const void* a, const void* b, std::size_t count);  // 0 equal, 1 different
int CompareString(const char* a, const char* b);                          // 0 equal, 1 different

int AbsInt(int value);
float SqrtFloat(float value);
int FloatToInt(float value);    // truncated toward zero
int DoubleToInt(double value);  // truncated toward zero

// ---- Window and message pump --------------------------------------------------------
HWND GetMainWindowHandle();
int ChangeWindowMode(int windowed);  // 1 windowed (the default), 0 full screen; 0
int GetWindowModeFlag();             // 1 windowed, 0 full screen
int GetWindowClosedFlag();           // non-zero once the main window is destroyed
int PumpWindowMessages();            // 0, or -1 once the window is closed

// ---- Background colour ---------------------------------------------------------------
int SetBackgroundColor(int red, int green, int blue);
int GetBackgroundColor(int* red, int* green, int* blue);

// ---- Streams -----------------------------------------------------------------------
using StreamHandle = std::uintptr_t;  // 0 = none

// Origins of the seek functions.
constexpr int kStreamSeekSet = 0;
constexpr int kStreamSeekCur = 1;
constexpr int kStreamSeekEnd = 2;

struct StreamFunctionTable {
  std::int64_t (*Tell)(StreamHandle handle);
  int (*Seek)(StreamHandle handle, std::int64_t offset, int origin);
  std::size_t (*Read)(void* buffer, std::size_t size, std::size_t count, StreamHandle handle);  // bytes read
  int (*Eof)(StreamHandle handle);        // 1 at the end, else 0
  int (*IdleCheck)(StreamHandle handle);  // 1 when no asynchronous work is pending
  int (*Close)(StreamHandle handle);
};

// The only way loaders and converters read data: a function table and its handle.
struct StreamAccessRecord {
  StreamFunctionTable functions;
  StreamHandle handle;
};

struct FileInfo {
  char name[260];
  int directory;  // 1 for a directory
  std::uint64_t size;
};

// The replaceable table through which every library file access runs.
struct FileFunctionTable {
  StreamHandle (*Open)(const char* name, int cache, int unused, int async);
  int (*Close)(StreamHandle handle);
  std::int64_t (*Tell)(StreamHandle handle);
  int (*Seek)(StreamHandle handle, std::int64_t offset, int origin);
  std::size_t (*Read)(void* buffer, std::size_t size, std::size_t count, StreamHandle handle);
  int (*Eof)(StreamHandle handle);
  int (*IdleCheck)(StreamHandle handle);
  int (*SetDir)(const char* path);
  int (*GetDir)(char* buffer);                                      // at least 260 bytes
  std::intptr_t (*FindFirst)(const char* pattern, FileInfo* info);  // -1 when nothing matches
  int (*FindNext)(std::intptr_t find, FileInfo* info);              // -1 at the end
  int (*FindClose)(std::intptr_t find);
};

// Replaces the table (null restores the defaults); the table is copied.
int SetFileFunctionTable(const FileFunctionTable* table);
const FileFunctionTable* GetFileFunctionTable();

StreamHandle StreamOpen(const char* name, int cache, int unused, int async);
int StreamClose(StreamHandle handle);
int StreamSeek(StreamHandle handle, std::int64_t offset, int origin);
std::int64_t StreamTell(StreamHandle handle);
std::size_t StreamRead(void* buffer, std::size_t size, std::size_t count, StreamHandle handle);
int StreamEof(StreamHandle handle);

const StreamFunctionTable* GetFileStreamFunctions();
const StreamFunctionTable* GetMemoryStreamFunctions();

// A stream over bytes the caller keeps alive; the bytes are not copied.
StreamHandle OpenMemoryStream(const void* data, std::size_t size);
int CloseMemoryStream(StreamHandle handle);

// ---- Intrusive doubly linked list --------------------------------------------------
struct LinkedListNode {
  LinkedListNode* prev;
  LinkedListNode* next;
  int value;   // first data word (the sound layer: a handle)
  void* data;  // second data word (the sound layer: its record)
};

struct LinkedList {
  LinkedListNode head;
  LinkedListNode tail;
};

void InitLinkedList(LinkedListNode* head, LinkedListNode* tail);
void AddLinkedListNode(LinkedList* list, LinkedListNode* node, int value, void* data);
void RemoveLinkedListNode(LinkedListNode* node);

}  // namespace gamelib

// Allocations name their source file and line, which the leak list shows.
#define GAMELIB_ALLOC(size) ::gamelib::AllocMemory((size), __FILE__, __LINE__)
#define GAMELIB_ALLOC_ZEROED(size) ::gamelib::AllocMemoryZeroed((size), __FILE__, __LINE__)
