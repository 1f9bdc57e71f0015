// The intrusive list and the byte, string and number helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "gamelib/core.h"

namespace {

using gamelib::AddLinkedListNode;
using gamelib::LinkedList;
using gamelib::LinkedListNode;
using gamelib::RemoveLinkedListNode;

std::vector<int> Values(const LinkedList& list) {
  std::vector<int> values;
  for (const LinkedListNode* n = list.head.next; n != &list.tail; n = n->next) {
    EXPECT_EQ(n->next->prev, n);
    values.push_back(n->value);
  }
  return values;
}

TEST(LinkedList, AddsBeforeTheTailRemovesAnywhereAndToleratesZeroFill) {
  LinkedList list{};                 // as in a zero-filled global block: usable without InitLinkedList
  RemoveLinkedListNode(&list.head);  // a sentinel is not a member
  LinkedListNode a{}, b{}, c{};
  int record = 0;
  AddLinkedListNode(&list, &a, 1, &record);
  AddLinkedListNode(&list, &b, 2, nullptr);
  AddLinkedListNode(&list, &c, 3, nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(a.data, &record);
  RemoveLinkedListNode(&b);
  RemoveLinkedListNode(&b);  // already out
  RemoveLinkedListNode(&list.tail);
  RemoveLinkedListNode(nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{1, 3}));
  RemoveLinkedListNode(&a);
  RemoveLinkedListNode(&c);
  AddLinkedListNode(&list, &b, 4, nullptr);
  EXPECT_EQ(Values(list), (std::vector<int>{4}));
  gamelib::InitLinkedList(&list.head, &list.tail);
  EXPECT_EQ(Values(list), (std::vector<int>{}));
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
  EXPECT_EQ(gamelib::CompareMemoryBytes(nullptr, "a", 1), 1);
  EXPECT_EQ(gamelib::CompareString("音楽", "音楽"), 0);
  EXPECT_EQ(gamelib::CompareString("ab", "abc"), 1);
  EXPECT_EQ(gamelib::CompareString("b", "a"), 1);  // different, not ordered
  EXPECT_EQ(gamelib::CompareString(nullptr, "a"), 1);
  EXPECT_EQ(gamelib::CompareString(nullptr, nullptr), 0);
}

TEST(Helpers, NumbersTruncateTowardZeroAndClampAtTheEdges) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double in;
    int out;
  } cases[] = {{-7.99, -7},
               {-0.5, 0},
               {2147483647.9, INT_MAX},
               {2147483648.0, INT_MAX},
               {-2147483648.9, INT_MIN},
               {-2147483649.0, INT_MIN},
               {-inf, INT_MIN},
               {std::nan(""), 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(gamelib::DoubleToInt(c.in), c.out) << c.in;
    if (std::isnan(c.in) || std::fabs(c.in) < 1e9) {
      EXPECT_EQ(gamelib::FloatToInt(static_cast<float>(c.in)), c.out) << c.in;
    }
  }
  EXPECT_EQ(gamelib::FloatToInt(3e9f), INT_MAX);
  EXPECT_EQ(gamelib::FloatToInt(-2147483648.0f), INT_MIN);
  EXPECT_EQ(gamelib::AbsInt(INT_MIN), INT_MAX);
  EXPECT_EQ(gamelib::AbsInt(-5), 5);
}

}  // namespace
