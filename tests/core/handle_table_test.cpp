// The shared handle table: handle values, slot choice, check numbers, refusals.
#include <gtest/gtest.h>

#include "core/handle_table.h"

namespace {

using namespace gamelib;

TEST(HandleTable, HandlesCarryTypeCheckAndSlotAndStaleOrBadOnesAreRefused) {
  FixedHandleTable<8> fixed;
  HandleTable* t = &fixed.table;
  ASSERT_EQ(InitHandleTable(&fixed, kHandleTypeSound), 0);
  std::int32_t r[9] = {};  // records: the check number is their first word
  auto add = [&](int i) { return AddHandleRecord(t, FindFreeHandleSlot(t), &r[i]); };
  const int ha = add(0), hb = add(1);
  EXPECT_TRUE(ha == 0x10000000 && hb == 0x10010001 && r[1] == 1 && GetHandleRecord(t, hb) == &r[1]);
  for (int bad : {-1, hb | static_cast<int>(0x80000000u), (hb & ~kHandleTypeMask) | kHandleTypeMusic,
                  ha | 8 /* past the capacity */, ha | 0xFFFF, hb + 1 /* free slot */, ha | (5 << 16)}) {
    EXPECT_EQ(GetHandleRecord(t, bad), nullptr) << std::hex << bad;
  }
  EXPECT_EQ(GetHandleRecord(nullptr, ha), nullptr);
  EXPECT_EQ(ReleaseHandleSlot(t, 1), &r[1]);
  EXPECT_TRUE(ReleaseHandleSlot(t, 1) == nullptr && ReleaseHandleSlot(t, 99) == nullptr);
  EXPECT_EQ(add(2), 0x10020001);  // the slot again, under a new check number
  EXPECT_EQ(GetHandleRecord(t, hb), nullptr);
  // Restored under its old value into the slot just emptied.
  ReleaseHandleSlot(t, 1);
  EXPECT_TRUE(RestoreHandleRecord(t, hb, &r[3]) == hb && GetHandleRecord(t, hb) == &r[3]);
  for (int bad : {hb /* taken */, ((hb + 1) & ~kHandleTypeMask) | kHandleTypeLight, ha | 0x40, -1}) {
    EXPECT_EQ(RestoreHandleRecord(t, bad, &r[4]), -1) << std::hex << bad;
  }
  // New records go above the highest used slot until the top is reached.
  for (int i = 2; i < 8; ++i) EXPECT_EQ(HandleSlot(add(i)), i);
  EXPECT_EQ(FindFreeHandleSlot(t), -1);
  for (int slot : {-1, 8, 3 /* taken */}) EXPECT_EQ(AddHandleRecord(t, slot, &r[8]), -1) << slot;
  // Released slot, then the slot a new record takes: the lowest free one while the top
  // is reached, else above the highest used one.
  const int released[] = {5, 2, 7, 6, 4, 3}, next[] = {5, 2, 7, 5, 4, 2};
  for (int i = 0; i < 6; ++i) {
    ReleaseHandleSlot(t, released[i]);
    EXPECT_EQ(FindFreeHandleSlot(t), next[i]) << released[i];
  }
  EXPECT_EQ(AddHandleRecord(t, 2, nullptr), -1);
  void* slots[4];
  const int type[] = {kHandleTypeLight, 0x12345, 0, 0}, capacity[] = {0, 4, kHandleMaxSlots + 1, 4};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(InitHandleTable(t, type[i], i < 3 ? slots : nullptr, capacity[i]), -1) << i;
}

TEST(HandleTable, CheckNumberWrapsAfter2047AndAllSixteenSlotBitsAreUsed) {
  static FixedHandleTable<kHandleMaxSlots> big;
  ASSERT_EQ(InitHandleTable(&big, kHandleTypeSurface3d), 0);
  std::int32_t r = 0;
  for (int i = 0; i <= 2048; ++i) {
    ASSERT_EQ(AddHandleRecord(&big.table, 0xFFFF, &r), 0x3000FFFF | ((i & 0x7FF) << 16));
    if (i < 2048) ReleaseHandleSlot(&big.table, 0xFFFF);
  }
  r = 0x800;  // only the low 11 bits of the record's word take part
  EXPECT_EQ(GetHandleRecord(&big.table, 0x3000FFFF), &r);
}

}  // namespace
