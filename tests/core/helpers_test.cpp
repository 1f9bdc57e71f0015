// The intrusive list and the byte, string and number helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "gamelib/core.h"

namespace {

using gamelib::LinkedList;
using gamelib::LinkedListNode;

std::vector<int> Values(const LinkedList& list) {
  std::vector<int> values;
  for (const LinkedListNode* n = list.head.next; n != &list.tail; n = n->next) {
    EXPECT_EQ(n->next->prev, n);
    values.push_back(n->value);
  }
  return values;
}

TEST(LinkedList, AddsBeforeTheTailAndRemovesAnywhere) {
  LinkedList list;
  gamelib::InitLinkedList(&list.head, &list.tail);
  EXPECT_EQ(list.head.next, &list.tail);
  EXPECT_EQ(list.tail.prev, &list.head);
  LinkedListNode a{}, b{}, c{};
  int record = 0;
  gamelib::AddLinkedListNode(&list, &a, 1, &record);
  gamelib::AddLinkedListNode(&list, &b, 2, nullptr);
  gamelib::AddLinkedListNode(&list, &c, 3, nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(a.data, &record);

  gamelib::RemoveLinkedListNode(&b);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 3}));
  EXPECT_EQ(b.prev, nullptr);
  gamelib::RemoveLinkedListNode(&b);  // already out
  gamelib::RemoveLinkedListNode(&a);
  gamelib::RemoveLinkedListNode(&c);
  EXPECT_EQ(list.head.next, &list.tail);
  gamelib::AddLinkedListNode(&list, &b, 4, nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{4}));
}

TEST(LinkedList, ZeroFilledNodesAndListsAreSafe) {
  LinkedListNode never{};
  gamelib::RemoveLinkedListNode(&never);
  gamelib::RemoveLinkedListNode(nullptr);
  LinkedList list{};  // as in a zero-filled global block
  gamelib::RemoveLinkedListNode(&list.head);  // a sentinel is not a member
  LinkedListNode a{};
  gamelib::AddLinkedListNode(&list, &a, 9, nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{9}));
  gamelib::RemoveLinkedListNode(&list.tail);
  EXPECT_EQ(Values(list), (std::vector<int>{9}));
}

TEST(Helpers, BytesAndStrings) {
  char buffer[8] = "abcdefg";
  gamelib::CopyMemoryBytes(buffer + 1, buffer, 5);  // overlapping
  EXPECT_STREQ(buffer, "aabcdeg");
  gamelib::FillMemoryBytes(buffer, 0x178, 3);  // only the low byte counts
  EXPECT_EQ(std::memcmp(buffer, "xxxcdeg", 7), 0);
  gamelib::FillMemoryBytes(nullptr, 0, 10);
  gamelib::CopyMemoryBytes(nullptr, buffer, 10);
  EXPECT_EQ(gamelib::CompareMemoryBytes("abc", "abd", 2), 0);
  EXPECT_EQ(gamelib::CompareMemoryBytes("abc", "abd", 3), 1);
  EXPECT_EQ(gamelib::CompareMemoryBytes("abc", "zzz", 0), 0);
  EXPECT_EQ(gamelib::CompareMemoryBytes(nullptr, "a", 1), 1);
  EXPECT_EQ(gamelib::CompareString("音楽", "音楽"), 0);
  EXPECT_EQ(gamelib::CompareString("ab", "abc"), 1);
  EXPECT_EQ(gamelib::CompareString("b", "a"), 1);  // different, not ordered
  EXPECT_EQ(gamelib::CompareString(nullptr, "a"), 1);
  EXPECT_EQ(gamelib::CompareString(nullptr, nullptr), 0);
}

TEST(Helpers, NumbersTruncateTowardZeroAndClamp) {
  EXPECT_EQ(gamelib::AbsInt(-5), 5);
  EXPECT_EQ(gamelib::AbsInt(INT_MIN), INT_MAX);
  EXPECT_FLOAT_EQ(gamelib::SqrtFloat(2.25f), 1.5f);
  EXPECT_EQ(gamelib::FloatToInt(2.9f), 2);
  EXPECT_EQ(gamelib::FloatToInt(-2.9f), -2);
  EXPECT_EQ(gamelib::FloatToInt(-0.5f), 0);
  EXPECT_EQ(gamelib::FloatToInt(std::nanf("")), 0);
  EXPECT_EQ(gamelib::FloatToInt(3e9f), INT_MAX);
  EXPECT_EQ(gamelib::FloatToInt(-3e9f), INT_MIN);
  EXPECT_EQ(gamelib::FloatToInt(-2147483648.0f), INT_MIN);
  EXPECT_EQ(gamelib::FloatToInt(std::numeric_limits<float>::infinity()), INT_MAX);
  EXPECT_EQ(gamelib::DoubleToInt(2147483647.9), INT_MAX);
  EXPECT_EQ(gamelib::DoubleToInt(2147483648.0), INT_MAX);
  EXPECT_EQ(gamelib::DoubleToInt(-2147483648.9), INT_MIN);
  EXPECT_EQ(gamelib::DoubleToInt(-1e300), INT_MIN);
  EXPECT_EQ(gamelib::DoubleToInt(-7.99), -7);
  EXPECT_EQ(gamelib::DoubleToInt(-std::numeric_limits<double>::infinity()), INT_MIN);
  EXPECT_EQ(gamelib::DoubleToInt(std::nan("")), 0);
}

}  // namespace
