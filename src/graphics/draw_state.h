// The draw state: one block that the drawing entries, the software renderer and the
// 3-D back end all read. Writers go through the setters of draw_state.cpp.
#pragma once

#include <cstdint>

#include "gamelib/graphics.h"

namespace gamelib {

struct MEMIMG;

struct DrawState {
  int drawScreen;  // kDrawScreenFront, kDrawScreenBack or a graph handle
  int drawScreenWidth;
  int drawScreenHeight;

  // Draw area, right and bottom exclusive, inside the draw screen; also as floats.
  int drawAreaLeft;
  int drawAreaTop;
  int drawAreaRight;
  int drawAreaBottom;
  float drawAreaLeftF;
  float drawAreaTopF;
  float drawAreaRightF;
  float drawAreaBottomF;

  // Left and top of the front-screen rectangle while drawing to the windowed front buffer.
  int drawOriginX;
  int drawOriginY;

  int blendMode;
  int blendParameter;  // 0..255

  // Blend graph (-1 none) with its border parameter and range, and the memory image
  // that the software renderer samples for it (null: none).
  int blendGraph;
  int blendBorderParameter;
  int blendBorderRange;
  const MEMIMG* blendMemImg;

  // Bytes blue, green, red: the low 24 bits read 0xRRGGBB; 0xFFFFFF is white.
  std::uint32_t brightness;

  int drawMode;  // 0 point, 1 bilinear

  int zEnable;
  int zWriteEnable;
  int zCompareFunction;
  int zBias;
  int cullMode;
  float drawDepth;

  int textureAddressMode;    // 0 is taken as clamp
  std::uint32_t transColor;  // transparent colour for new surfaces

  float worldMatrix[4][4];
  float viewMatrix[4][4];
  float projectionMatrix[4][4];
  float viewportMatrix[4][4];
  float combinedMatrix[4][4];
  float viewRotationTransposeMatrix[4][4];

  int defaultLightHandle;
  int use3DDrawingAvailable;

  // Kept across ResetDrawState.
  int (*graphRestoreCallback)();
};

// The one draw state of the library. Readers take what they need at the start of a
// call; tests may poke fields directly.
DrawState& GetDrawState();

// Brightness bytes out of the packed word.
inline int BrightnessRed(std::uint32_t packed) { return static_cast<int>((packed >> 16) & 0xFF); }
inline int BrightnessGreen(std::uint32_t packed) { return static_cast<int>((packed >> 8) & 0xFF); }
inline int BrightnessBlue(std::uint32_t packed) { return static_cast<int>(packed & 0xFF); }
inline bool IsBrightnessWhite(std::uint32_t packed) { return (packed & 0xFFFFFF) == 0xFFFFFF; }

}  // namespace gamelib
