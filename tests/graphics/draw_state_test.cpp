// The draw state's setters: clamping, packing and what a reset keeps.
#include <gtest/gtest.h>

#include "gamelib/graphics.h"
#include "graphics/draw_state.h"

namespace gamelib {
namespace {

class DrawStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDrawScreenSize(640, 480);
    ResetDrawState();
  }
  void TearDown() override {
    SetDrawScreenSize(640, 480);
    ResetDrawState();
  }
};

TEST_F(DrawStateTest, ResetGivesTheDefaults) {
  SetDrawBlendMode(BlendAdd, 99);
  SetDrawBrightness(1, 2, 3);
  SetDrawArea(5, 6, 7, 8);
  ResetDrawState();
  const DrawState& s = GetDrawState();
  EXPECT_EQ(BlendNone, s.blendMode);
  EXPECT_EQ(0, s.blendParameter);
  EXPECT_EQ(0xFFFFFFu, s.brightness & 0xFFFFFF);
  EXPECT_EQ(-1, s.blendGraph);
  EXPECT_EQ(nullptr, s.blendMemImg);
  EXPECT_EQ(0, s.drawMode);
  EXPECT_EQ(4, s.zCompareFunction);
  EXPECT_FLOAT_EQ(0.2f, s.drawDepth);
  int l, t, r, b;
  GetDrawArea(&l, &t, &r, &b);
  EXPECT_EQ(0, l);
  EXPECT_EQ(0, t);
  EXPECT_EQ(640, r);
  EXPECT_EQ(480, b);
}

TEST_F(DrawStateTest, BlendModeParameterIsClampedAndModeKeptRaw) {
  SetDrawBlendMode(BlendAlpha, 300);
  int mode, parameter;
  GetDrawBlendMode(&mode, &parameter);
  EXPECT_EQ(BlendAlpha, mode);
  EXPECT_EQ(255, parameter);
  SetDrawBlendMode(7, -4);
  GetDrawBlendMode(&mode, &parameter);
  EXPECT_EQ(7, mode);
  EXPECT_EQ(0, parameter);
  EXPECT_EQ(0, GetDrawBlendMode(nullptr, nullptr));
}

TEST_F(DrawStateTest, BrightnessPacksBlueGreenRedInOneWord) {
  SetDrawBrightness(0x12, 300, -9);
  EXPECT_EQ(0x12FF00u, GetDrawState().brightness & 0xFFFFFF);
  int r, g, b;
  GetDrawBrightness(&r, &g, &b);
  EXPECT_EQ(0x12, r);
  EXPECT_EQ(255, g);
  EXPECT_EQ(0, b);
  EXPECT_FALSE(IsBrightnessWhite(GetDrawState().brightness));
  SetDrawBrightness(255, 255, 255);
  EXPECT_TRUE(IsBrightnessWhite(GetDrawState().brightness));
}

TEST_F(DrawStateTest, DrawAreaStaysInsideTheDrawScreen) {
  ASSERT_EQ(0, SetDrawScreenSize(320, 240));
  SetDrawArea(-10, 20, 400, 300);
  const DrawState& s = GetDrawState();
  EXPECT_EQ(0, s.drawAreaLeft);
  EXPECT_EQ(20, s.drawAreaTop);
  EXPECT_EQ(320, s.drawAreaRight);
  EXPECT_EQ(240, s.drawAreaBottom);
  EXPECT_FLOAT_EQ(320.0f, s.drawAreaRightF);
  // Inverted: empty, not swapped.
  SetDrawArea(100, 100, 50, 60);
  EXPECT_EQ(s.drawAreaLeft, s.drawAreaRight);
  EXPECT_EQ(s.drawAreaTop, s.drawAreaBottom);
  EXPECT_EQ(-1, SetDrawScreenSize(0, 10));
  // A new screen size resets the area to the whole screen; a reset keeps the screen.
  SetDrawScreenSize(100, 50);
  ResetDrawState();
  EXPECT_EQ(100, s.drawAreaRight);
  EXPECT_EQ(50, s.drawAreaBottom);
}

TEST_F(DrawStateTest, ResetKeepsTheRestoreCallback) {
  GetDrawState().graphRestoreCallback = +[]() { return 0; };
  ResetDrawState();
  EXPECT_NE(nullptr, GetDrawState().graphRestoreCallback);
  GetDrawState().graphRestoreCallback = nullptr;
}

}  // namespace
}  // namespace gamelib
