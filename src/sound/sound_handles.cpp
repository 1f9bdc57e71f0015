// Sound handles: the table, making and deleting records, the playing test and the
// length query.
#include "sound/sound_handles.h"

#include <cstring>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "sound/sound_buffers.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

struct SoundTable {
  FixedHandleTable<kMaxSoundHandles> fixed;
  SoundTable() { InitHandleTable(&fixed, HANDLE_TYPE_SOUND); }
};

HandleTable& Table() {
  static SoundTable table;
  return table.fixed.table;
}

SoundHandleRecord* RecordAt(int slot) {
  HandleTable& table = Table();
  if (slot < 0 || slot >= table.capacity) return nullptr;
  return static_cast<SoundHandleRecord*>(table.records[slot]);
}

// Buffers in use, never more than the record can hold.
int UsedBuffers(const SoundHandleRecord& record) {
  if (record.bufferCount <= 0) return 0;
  return record.bufferCount < kSoundBuffersPerHandle ? record.bufferCount : kSoundBuffersPerHandle;
}

void CloseStreamRecord(StreamAccessRecord& stream) {
  if (stream.handle != 0 && stream.functions.Close != nullptr) stream.functions.Close(stream.handle);
  stream.handle = 0;
}

// Frees what a stream sound's files own.
void ReleaseStreamFiles(SoundHandleRecord& record) {
  int files = record.fileCount < 0 ? 0 : record.fileCount;
  if (files > kStreamFilesPerHandle) files = kStreamFilesPerHandle;
  for (int i = 0; i < files; ++i) {
    SoundFileEntry& file = record.files[i];
    TerminateSoundConvert(&file.converter);
    if (file.fileData != nullptr) {
      FreeMemory(file.fileData);
      file.fileData = nullptr;
    }
    // Kind 3 reads the caller's stream, which the sound took over.
    if (record.fileOwnsStream[i] == 1 && file.dataKind == 3) CloseStreamRecord(file.converter.sourceStream);
    CloseStreamRecord(file.stream);
  }
}

}  // namespace

const HandleTable& GetSoundTable() { return Table(); }

SoundHandleRecord* GetSoundHandleRecord(int handle) {
  if (!SoundSystemStarted()) return nullptr;
  return static_cast<SoundHandleRecord*>(GetHandleRecord(&Table(), handle));
}

int AddSoundData(int handle) {
  // Records only exist while the sound system runs, so its shutdown frees them all.
  if (!SoundSystemStarted()) return -1;
  HandleTable& table = Table();
  int slot;
  if (handle != -1) {
    // Only the handle of a slot that was just emptied may be given back.
    if (handle < 0 || (handle & HANDLE_TYPE_MASK) != HANDLE_TYPE_SOUND) return -1;
    slot = HandleSlot(handle);
    if (slot >= table.capacity || table.records[slot] != nullptr) return -1;
  } else {
    if (table.count >= kMaxSoundHandles) return OutputLog("サウンドの数が許容量を越えました\n");
    slot = FindFreeHandleSlot(&table);
    if (slot < 0) return OutputLog("サウンドの数が許容量を越えました\n");
  }
  void* block = GAMELIB_ALLOC(sizeof(SoundHandleRecord));
  if (block == nullptr) return OutputLog("メモリ領域の確保に失敗しました in AddSoundData");
  std::memset(block, 0, sizeof(SoundHandleRecord));
  int result =
      handle != -1 ? RestoreHandleRecord(&table, handle, block) : AddHandleRecord(&table, slot, block);
  if (result == -1) FreeMemory(block);
  return result;
}

int DeleteSoundHandle(int handle, int) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;

  if (record->soundKind == SOUND_KIND_STREAM) {
    // Stopped only where it owns the ring: a sharer may be playing on it.
    StopStreamSound(handle);

    if (SoundHandleRecord* ring = GetSoundHandleRecord(record->linkedHandle)) {
      --ring->shareCount;
      // The ring's owner was deleted while this one shared it: it goes now.
      if (record->linkedHandle != handle && ring->deletePending == 1)
        DeleteSoundHandle(record->linkedHandle, 0);
    }
    // Others still play on this ring: the record stays until the last of them goes.
    if (record->shareCount != 0) {
      record->deletePending = 1;
      return 0;
    }
    RemoveLinkedListNode(&record->streamListNode);
    ReleaseStreamFiles(*record);
    if (record->buffers[0].valid) ReleaseSoundBufferWrapper(&record->buffers[0]);
  } else {
    int used = UsedBuffers(*record);
    for (int i = 0; i < used; ++i) {
      if (record->buffers[i].valid) StopSoundBufferWrapper(&record->buffers[i]);
    }
    if (record->data != nullptr) {
      FreeMemory(record->data);
      record->data = nullptr;
    }
  }
  // Whatever is still held goes, also past bufferCount.
  for (SoundBufferWrapper& wrapper : record->buffers) {
    if (wrapper.valid) ReleaseSoundBufferWrapper(&wrapper);
  }
  ReleaseHandleSlot(&Table(), HandleSlot(handle));
  FreeMemory(record);
  return 0;
}

int DeleteAllSoundHandles() {
  if (!SoundSystemStarted()) return -1;
  // Each slot is looked at afresh: deleting one sound may delete another with it.
  for (int slot = 0; slot < kMaxSoundHandles; ++slot) {
    SoundHandleRecord* record = RecordAt(slot);
    if (record == nullptr) continue;
    DeleteSoundHandle(MakeHandleValue(HANDLE_TYPE_SOUND, record->checkNumber, slot), 0);
  }
  return 0;
}

int CheckSoundHandlePlaying(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind == SOUND_KIND_STREAM) return CheckStreamSoundPlaying(handle);
  int used = UsedBuffers(*record);
  for (int i = 0; i < used; ++i) {
    DWORD status = 0;
    if (GetSoundBufferWrapperStatus(&record->buffers[i], &status) != 0) continue;
    if ((status & DSBSTATUS_PLAYING) != 0) return 1;
  }
  return 0;
}

int GetSoundTotalSampleCount(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind == SOUND_KIND_STREAM) return record->totalSamples;
  // An empty record (no format yet) has no samples.
  if (record->format.nBlockAlign == 0) return 0;
  return static_cast<int>(record->dataBytes / record->format.nBlockAlign);
}

int SetCreateSoundDataType(int type) {
  if (!SoundSystemStarted()) return -1;
  if (type < SOUND_CREATE_MEMORY || type > SOUND_CREATE_TYPE_MAX) return -1;
  GetSoundSystemState().createType = type;
  return 0;
}

}  // namespace gamelib
