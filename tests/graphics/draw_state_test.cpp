// The draw state through its public entries: what is clamped, what is refused, and what
// a new screen size and a reset do to the rest.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "gamelib/graphics.h"

namespace gamelib {
namespace {

std::vector<int> DrawArea() {
  std::vector<int> a(4);
  GetDrawArea(&a[0], &a[1], &a[2], &a[3]);
  return a;
}

class DrawStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDrawState();
    SetDrawScreenSize(320, 240);
  }
  void TearDown() override {
    ResetDrawState();
    SetDrawScreenSize(640, 480);
  }
};

// The area stays inside the screen; an inverted one is empty, not swapped.
TEST_F(DrawStateTest, TheAreaIsClampedIntoTheScreen) {
  const std::vector<int> rows[][2] = {{{10, 20, 30, 40}, {10, 20, 30, 40}},
                                      {{-10, 20, 400, 300}, {0, 20, 320, 240}},
                                      {{100, 100, 50, 60}, {100, 100, 100, 100}},
                                      {{500, -5, 600, -1}, {320, 0, 320, 0}},
                                      {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {0, 0, 320, 240}}};
  for (const auto& [in, out] : rows) {
    EXPECT_EQ(SetDrawArea(in[0], in[1], in[2], in[3]), 0);
    EXPECT_EQ(DrawArea(), out);
  }
}

// An empty screen is refused and changes nothing; a new size takes the whole screen as
// the area, and a reset keeps the size while it puts the rest back.
TEST_F(DrawStateTest, ScreenSizeAndResetDecideTheArea) {
  SetDrawArea(10, 10, 20, 20);
  for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-1, 5}}) EXPECT_EQ(SetDrawScreenSize(w, h), -1);
  EXPECT_EQ(DrawArea(), std::vector<int>({10, 10, 20, 20}));
  ASSERT_EQ(SetDrawScreenSize(100, 50), 0);
  EXPECT_EQ(DrawArea(), std::vector<int>({0, 0, 100, 50}));
  SetDrawArea(5, 6, 7, 8);
  SetDrawBlendMode(BlendAdd, 99);
  SetDrawBrightness(1, 2, 3);
  EXPECT_EQ(ResetDrawState(), 0);
  int w = 0, h = 0, mode = -1, parameter = -1, r = 0, g = 0, b = 0;
  GetDrawScreenSize(&w, &h);
  GetDrawBlendMode(&mode, &parameter);
  GetDrawBrightness(&r, &g, &b);
  EXPECT_EQ(std::vector<int>({w, h, mode, parameter, r, g, b}),
            std::vector<int>({100, 50, BlendNone, 0, 255, 255, 255}));
  EXPECT_EQ(DrawArea(), std::vector<int>({0, 0, 100, 50}));
}

// Blend parameter and brightness are clamped to a byte, each channel on its own; the
// mode is kept as given.
TEST_F(DrawStateTest, ParameterAndBrightnessAreClampedToAByte) {
  const std::vector<int> rows[][2] = {{{300, 18, -9}, {255, 18, 0}},
                                      {{-1, 256, 52}, {0, 255, 52}},
                                      {{INT_MIN, 7, INT_MAX}, {0, 7, 255}},
                                      {{128, 255, 0}, {128, 255, 0}}};
  for (const auto& [in, out] : rows) {
    EXPECT_EQ(SetDrawBlendMode(7, in[0]), 0);
    EXPECT_EQ(SetDrawBrightness(in[0], in[1], in[2]), 0);
    int mode = 0, parameter = 0;
    std::vector<int> rgb(3);
    GetDrawBlendMode(&mode, &parameter);
    GetDrawBrightness(&rgb[0], &rgb[1], &rgb[2]);
    EXPECT_EQ(std::vector<int>({mode, parameter}), std::vector<int>({7, out[0]}));
    EXPECT_EQ(rgb, out);
  }
  EXPECT_EQ(GetDrawBlendMode(nullptr, nullptr) + GetDrawBrightness(nullptr, nullptr, nullptr), 0);
}

}  // namespace
}  // namespace gamelib
