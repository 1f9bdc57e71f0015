// The byte, string and number helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "gamelib/core.h"

namespace {

using namespace gamelib;

TEST(Helpers, BytesStringsAndNumbers) {
  char buffer[8] = "abcdefg";
  CopyMemoryBytes(buffer + 1, buffer, 5);  // overlapping
  FillMemoryBytes(buffer, 0x178, 2);       // only the low byte counts
  FillMemoryBytes(nullptr, 0, 10);
  CopyMemoryBytes(nullptr, buffer, 10);
  CopyMemoryBytes(buffer + 4, nullptr, 10);
  EXPECT_STREQ(buffer, "xxbcdeg");
  // Pairs and a byte count; each compare gives 0 (equal) or 1 (different, not ordered).
  const char* a[] = {"abc", "abc", "b", nullptr, nullptr, "音楽", "ab", "a", nullptr};
  const char* b[] = {"abd", "abd", "a", "a", "a", "音楽", "abc", nullptr, nullptr};
  const int count[] = {2, 3, 1, 1, 0, 6, 3, 1, 1}, bytes[] = {0, 1, 1, 1, 0, 0, 1, 1, 0};
  const int strings[] = {1, 1, 1, 1, 1, 0, 1, 1, 0};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(CompareMemoryBytes(a[i], b[i], count[i]), bytes[i]) << i;
    EXPECT_EQ(CompareString(a[i], b[i]), strings[i]) << i;
  }
  // Numbers truncate toward zero and clamp at the edges.
  const double in[] = {-7.99, -0.5, 7.99, 2147483647.9, 2147483648.0, -2147483648.9, -2147483649.0, NAN};
  const int out[] = {-7, 0, 7, INT_MAX, INT_MAX, INT_MIN, INT_MIN, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(DoubleToInt(in[i]), out[i]) << in[i];
  const float floats[] = {-7.99f, 3e9f, -2147483648.0f, -INFINITY, NAN};
  const int truncated[] = {-7, INT_MAX, INT_MIN, INT_MIN, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(FloatToInt(floats[i]), truncated[i]) << floats[i];
  EXPECT_EQ(AbsInt(INT_MIN), INT_MAX);
  EXPECT_EQ(AbsInt(-5), 5);
}

}  // namespace
