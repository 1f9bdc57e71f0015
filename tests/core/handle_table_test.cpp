// The shared handle table: slot choice, check numbers, the high-water index, refusals.
#include <gtest/gtest.h>

#include <cstdint>

#include "core/handle_table.h"

namespace {

using namespace gamelib;

struct Record {
  std::int32_t check;  // the first word, as in every library record
  int payload;
};

class HandleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(InitHandleTable(&table_, HANDLE_TYPE_SOUND), 0); }
  int Add(Record* r) { return AddHandleRecord(&table_.table, FindFreeHandleSlot(&table_.table), r); }
  HandleTable& t() { return table_.table; }
  FixedHandleTable<8> table_;
};

TEST_F(HandleTableTest, HandlesCarryTypeCheckAndSlotAndBadOnesAreRefused) {
  Record a{}, b{};
  int ha = Add(&a);
  int hb = Add(&b);
  EXPECT_EQ(ha, 0x10000000);
  EXPECT_EQ(hb, 0x10010001);
  EXPECT_EQ(b.check, 1);
  EXPECT_EQ(GetHandleRecord(&t(), hb), &b);
  for (int bad : {-1, hb | static_cast<int>(0x80000000u), (hb & ~HANDLE_TYPE_MASK) | HANDLE_TYPE_MUSIC,
                  ha | 8 /* past the capacity */, ha | 0xFFFF, hb + 1 /* free slot */, ha | (5 << 16)}) {
    EXPECT_EQ(GetHandleRecord(&t(), bad), nullptr) << std::hex << bad;
  }
  EXPECT_EQ(GetHandleRecord(nullptr, ha), nullptr);
}

TEST_F(HandleTableTest, StaleHandleIsRefusedAfterTheSlotIsReused) {
  Record a{}, b{};
  int old = Add(&a);
  EXPECT_EQ(ReleaseHandleSlot(&t(), HandleSlot(old)), &a);
  int fresh = Add(&b);
  EXPECT_EQ(HandleSlot(fresh), HandleSlot(old));
  EXPECT_EQ(GetHandleRecord(&t(), old), nullptr);
  EXPECT_EQ(GetHandleRecord(&t(), fresh), &b);
  EXPECT_EQ(ReleaseHandleSlot(&t(), HandleSlot(old) + 1), nullptr);  // free slot
  EXPECT_EQ(ReleaseHandleSlot(&t(), 99), nullptr);
}

TEST_F(HandleTableTest, CheckNumberWrapsAfter2047) {
  Record r{};
  for (int i = 0; i < 2047; ++i) {
    int h = Add(&r);
    ASSERT_EQ(HandleCheck(h), i);
    ReleaseHandleSlot(&t(), HandleSlot(h));
  }
  int last = Add(&r);
  EXPECT_EQ(last, 0x17FF0000);
  ReleaseHandleSlot(&t(), HandleSlot(last));
  int wrapped = Add(&r);
  EXPECT_EQ(wrapped, 0x10000000);
  r.check = 0x800;  // only the low 11 bits of the record's word take part
  EXPECT_EQ(GetHandleRecord(&t(), wrapped), &r);
}

TEST_F(HandleTableTest, HighWaterIndexAndSlotChoice) {
  Record r[9] = {};
  for (int i = 0; i < 3; ++i) Add(&r[i]);
  ReleaseHandleSlot(&t(), 1);
  EXPECT_EQ(t().highWater, 3);
  EXPECT_EQ(FindFreeHandleSlot(&t()), 3);  // new records go to the high-water index first
  ReleaseHandleSlot(&t(), 2);
  EXPECT_EQ(t().highWater, 1);  // past the trailing free slots
  EXPECT_EQ(FindFreeHandleSlot(&t()), 1);
  ReleaseHandleSlot(&t(), 0);
  EXPECT_EQ(t().highWater, 0);
  EXPECT_EQ(t().count, 0);

  for (int i = 0; i < 8; ++i) ASSERT_EQ(HandleSlot(Add(&r[i])), i);
  EXPECT_EQ(FindFreeHandleSlot(&t()), -1);
  EXPECT_EQ(AddHandleRecord(&t(), -1, &r[8]), -1);
  EXPECT_EQ(AddHandleRecord(&t(), 3, &r[8]), -1);  // taken
  ReleaseHandleSlot(&t(), 5);
  ReleaseHandleSlot(&t(), 2);
  EXPECT_EQ(t().highWater, 8);
  EXPECT_EQ(FindFreeHandleSlot(&t()), 2);  // full up to the high water: the lowest free slot
  EXPECT_EQ(AddHandleRecord(&t(), 2, nullptr), -1);
}

TEST_F(HandleTableTest, RestoreKeepsTheHandleValue) {
  Record a{}, b{}, c{};
  Add(&a);
  int h = Add(&b);
  ReleaseHandleSlot(&t(), HandleSlot(h));
  Record again{};
  EXPECT_EQ(RestoreHandleRecord(&t(), h, &again), h);
  EXPECT_EQ(again.check, HandleCheck(h));
  EXPECT_EQ(GetHandleRecord(&t(), h), &again);
  EXPECT_EQ(t().highWater, 2);
  for (int bad : {h /* occupied */, (h & ~HANDLE_TYPE_MASK) | HANDLE_TYPE_LIGHT, h | 0x40, -1}) {
    EXPECT_EQ(RestoreHandleRecord(&t(), bad, &c), -1) << std::hex << bad;
  }
  EXPECT_NE(HandleSlot(Add(&c)), HandleSlot(h));  // a new record never lands on the restored slot
}

TEST(HandleTableSetup, RefusesBadArgumentsAndUsesAllSixteenSlotBits) {
  void* slots[4];
  HandleTable t;
  EXPECT_EQ(InitHandleTable(&t, HANDLE_TYPE_LIGHT, slots, 0), -1);
  EXPECT_EQ(InitHandleTable(&t, HANDLE_TYPE_LIGHT, slots, HANDLE_MAX_SLOTS + 1), -1);
  EXPECT_EQ(InitHandleTable(&t, 0x12345, slots, 4), -1);
  EXPECT_EQ(InitHandleTable(&t, HANDLE_TYPE_SURFACE3D, nullptr, 4), -1);
  static FixedHandleTable<HANDLE_MAX_SLOTS> big;
  ASSERT_EQ(InitHandleTable(&big, HANDLE_TYPE_SURFACE3D), 0);
  Record r{};
  EXPECT_EQ(AddHandleRecord(&big.table, 0xFFFF, &r), 0x3000FFFF);
  EXPECT_EQ(big.table.highWater, HANDLE_MAX_SLOTS);
  EXPECT_EQ(GetHandleRecord(&big.table, 0x3000FFFF), &r);
  EXPECT_EQ(FindFreeHandleSlot(&big.table), 0);
}

}  // namespace
