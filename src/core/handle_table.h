// The handle table shared by every kind of library object (sounds, music, lights,
// texture pieces ...). A handle is bit 31 clear, bits 27-30 the type, bits 16-26 a
// check number that must equal the low 11 bits of the record's first 32-bit word, and
// bits 0-15 the slot. The check number changes with every new record, so a handle of
// a deleted record is refused even after its slot is reused.
#pragma once

#include <cstdint>

namespace gamelib {

// Type codes of handles.
constexpr int kHandleTypeGraph = 0x08000000;
constexpr int kHandleTypeSound = 0x10000000;
constexpr int kHandleTypeFont = 0x20000000;
constexpr int kHandleTypeSurface2d = 0x28000000;
constexpr int kHandleTypeSurface3d = 0x30000000;
constexpr int kHandleTypeSurface = 0x38000000;
constexpr int kHandleTypeKeyinput = 0x50000000;
constexpr int kHandleTypeMusic = 0x58000000;
constexpr int kHandleTypeLight = 0x60000000;
constexpr int kHandleTypeSoftimage = 0x70000000;

constexpr int kHandleTypeMask = 0x78000000;
constexpr int kHandleCheckMask = 0x07FF0000;
constexpr int kHandleSlotMask = 0x0000FFFF;
constexpr int kHandleCheckLimit = 2048;  // check numbers run 0..2047
constexpr int kHandleMaxSlots = 65536;

struct HandleTable {
  int capacity;    // slots, at most 65536
  void** records;  // `capacity` record pointers, null when the slot is free
  int count;       // occupied slots
  int highWater;   // one past the highest occupied slot, 0 when empty
  int nextCheck;   // 0..2047
  int typeCode;    // one of HANDLE_TYPE_*
};

// A table with its slot array inside it, for the usual global tables.
template <int Capacity>
struct FixedHandleTable {
  static_assert(Capacity > 0 && Capacity <= kHandleMaxSlots);
  HandleTable table;
  void* slots[Capacity];
};

// Empties the table over `slots` (all set to null). 0, or -1 for a bad argument.
int InitHandleTable(HandleTable* table, int typeCode, void** slots, int capacity);
template <int Capacity>
int InitHandleTable(FixedHandleTable<Capacity>* fixed, int typeCode) {
  return InitHandleTable(&fixed->table, typeCode, fixed->slots, Capacity);
}

constexpr int MakeHandleValue(int typeCode, int check, int slot) {
  return typeCode | ((check & 0x7FF) << 16) | (slot & kHandleSlotMask);
}
constexpr int HandleSlot(int handle) { return handle & kHandleSlotMask; }
constexpr int HandleCheck(int handle) { return (handle >> 16) & 0x7FF; }

// The slot a new record takes: the high-water index while it is below the capacity,
// then the lowest free slot. -1 when the table is full.
int FindFreeHandleSlot(const HandleTable* table);

// Puts `record` into the free `slot` under the next check number (which is stored in
// the record's first int32 and then advances, wrapping after 2047) and returns its
// handle; -1 when the slot is out of range or taken, or the record is null.
int AddHandleRecord(HandleTable* table, int slot, void* record);

// Puts `record` back under a handle whose slot the caller has just emptied, keeping
// the handle's check number. Returns the handle, or -1 when it is not of this table's
// type, its slot is out of range or taken, or the record is null.
int RestoreHandleRecord(HandleTable* table, int handle, void* record);

// The record of a valid handle, or null: negative, other type, slot out of range,
// free slot, or a check number that does not match the record.
void* GetHandleRecord(const HandleTable* table, int handle);

// Empties a slot and returns what it held (null for a free or out-of-range slot);
// the high-water index drops past trailing free slots. The record is not freed.
void* ReleaseHandleSlot(HandleTable* table, int slot);

}  // namespace gamelib
