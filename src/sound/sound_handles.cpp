// Sound handles: the table, and the making and freeing of its records.
#include "sound/sound_handles.h"

#include <cstring>

#include "gamelib/core.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

struct SoundTable {
  FixedHandleTable<kMaxSoundHandles> fixed;
  SoundTable() { InitHandleTable(&fixed, kHandleTypeSound); }
};

HandleTable& Table() {
  static SoundTable table;
  return table.fixed.table;
}

}  // namespace

const HandleTable& GetSoundTable() { return Table(); }

SoundHandleRecord* GetSoundHandleRecord(int handle) {
  if (!SoundSystemStarted()) return nullptr;
  return static_cast<SoundHandleRecord*>(GetHandleRecord(&Table(), handle));
}

int GetSoundHandleAt(int slot) {
  HandleTable& table = Table();
  if (slot < 0 || slot >= table.capacity) return -1;
  const auto* record = static_cast<const SoundHandleRecord*>(table.records[slot]);
  if (record == nullptr) return -1;
  return MakeHandleValue(kHandleTypeSound, record->checkNumber, slot);
}

int AddSoundData(int handle) {
  // Records only exist while the sound system runs, so its shutdown frees them all.
  if (!SoundSystemStarted()) return -1;
  HandleTable& table = Table();
  int slot;
  if (handle != -1) {
    // Only the handle of a slot that was just emptied may be given back.
    if (handle < 0 || (handle & kHandleTypeMask) != kHandleTypeSound) return -1;
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

void FreeSoundHandleRecord(int handle, SoundHandleRecord* record) {
  ReleaseHandleSlot(&Table(), HandleSlot(handle));
  FreeMemory(record);
}

}  // namespace gamelib
