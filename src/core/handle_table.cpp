#include "core/handle_table.h"

#include <cstring>

namespace gamelib {

int InitHandleTable(HandleTable* table, int typeCode, void** slots, int capacity) {
  if (table == nullptr || slots == nullptr || capacity <= 0 || capacity > kHandleMaxSlots) return -1;
  if ((typeCode & ~kHandleTypeMask) != 0) return -1;
  for (int i = 0; i < capacity; ++i) slots[i] = nullptr;
  table->capacity = capacity;
  table->records = slots;
  table->count = 0;
  table->highWater = 0;
  table->nextCheck = 0;
  table->typeCode = typeCode;
  return 0;
}

int FindFreeHandleSlot(const HandleTable* table) {
  if (table == nullptr || table->count >= table->capacity) return -1;
  if (table->highWater < table->capacity) return table->highWater;
  for (int i = 0; i < table->capacity; ++i) {
    if (table->records[i] == nullptr) return i;
  }
  return -1;
}

namespace {
int Occupy(HandleTable* table, int slot, int check, void* record) {
  std::int32_t word = check;
  std::memcpy(record, &word, sizeof(word));
  table->records[slot] = record;
  ++table->count;
  if (table->highWater <= slot) table->highWater = slot + 1;
  return MakeHandleValue(table->typeCode, check, slot);
}
}  // namespace

int AddHandleRecord(HandleTable* table, int slot, void* record) {
  if (table == nullptr || record == nullptr || slot < 0 || slot >= table->capacity) return -1;
  if (table->records[slot] != nullptr) return -1;
  int check = table->nextCheck;
  table->nextCheck = check + 1 >= kHandleCheckLimit ? 0 : check + 1;
  return Occupy(table, slot, check, record);
}

int RestoreHandleRecord(HandleTable* table, int handle, void* record) {
  if (table == nullptr || record == nullptr || handle < 0) return -1;
  if ((handle & kHandleTypeMask) != table->typeCode) return -1;
  int slot = HandleSlot(handle);
  if (slot >= table->capacity || table->records[slot] != nullptr) return -1;
  return Occupy(table, slot, HandleCheck(handle), record);
}

void* GetHandleRecord(const HandleTable* table, int handle) {
  if (table == nullptr || handle < 0) return nullptr;
  if ((handle & kHandleTypeMask) != table->typeCode) return nullptr;
  int slot = HandleSlot(handle);
  if (slot >= table->capacity) return nullptr;
  void* record = table->records[slot];
  if (record == nullptr) return nullptr;
  std::int32_t word;
  std::memcpy(&word, record, sizeof(word));
  return (word & 0x7FF) == HandleCheck(handle) ? record : nullptr;
}

void* ReleaseHandleSlot(HandleTable* table, int slot) {
  if (table == nullptr || slot < 0 || slot >= table->capacity) return nullptr;
  void* record = table->records[slot];
  if (record == nullptr) return nullptr;
  table->records[slot] = nullptr;
  --table->count;
  if (slot + 1 == table->highWater) {
    while (table->highWater > 0 && table->records[table->highWater - 1] == nullptr) --table->highWater;
  }
  return record;
}

}  // namespace gamelib
