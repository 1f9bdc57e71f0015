// Graphics core: the draw state that every drawing entry reads.
#pragma once

namespace gamelib {

// Blend modes of the draw state (SetDrawBlendMode). Modes 5 to 9 belong to the
// 3-D back end; the software rasteriser draws nothing in them.
constexpr int BlendNone = 0;
constexpr int BlendAlpha = 1;
constexpr int BlendAdd = 2;
constexpr int BlendSub = 3;
constexpr int BlendMul = 4;
constexpr int BlendInverted = 10;
constexpr int BlendMulFade = 11;

// Draw-screen identifiers.
constexpr int kDrawScreenFront = -4;
constexpr int kDrawScreenBack = -2;

// Blend mode and parameter; the parameter is clamped to 0..255. Always 0.
int SetDrawBlendMode(int mode, int parameter);
int GetDrawBlendMode(int* mode, int* parameter);  // either pointer may be null

// Draw brightness per channel, each clamped to 0..255 (255, 255, 255 is "white"). Always 0.
int SetDrawBrightness(int red, int green, int blue);
int GetDrawBrightness(int* red, int* green, int* blue);

// Size of the current draw screen; the draw area is kept inside it. Setting it also
// resets the draw area to the whole screen. 0, or -1 for a size below 1.
int SetDrawScreenSize(int width, int height);
int GetDrawScreenSize(int* width, int* height);

// Draw area: left and top inclusive, right and bottom exclusive, clamped into the draw
// screen (an inverted rectangle becomes empty). Always 0.
int SetDrawArea(int left, int top, int right, int bottom);
int GetDrawArea(int* left, int* top, int* right, int* bottom);

// Back to the defaults: blend mode 0, brightness white, no blend graph, draw area the
// whole draw screen. Always 0.
int ResetDrawState();

}  // namespace gamelib
