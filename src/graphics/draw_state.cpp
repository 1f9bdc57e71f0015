#include "graphics/draw_state.h"

#include <algorithm>

#include "graphics/graph_records.h"
#include "graphics/graphics_hooks.h"
#include "graphics/lights.h"

namespace gamelib {

namespace {

constexpr int kDefaultScreenWidth = 640;
constexpr int kDefaultScreenHeight = 480;

DrawState MakeInitialState();

DrawState state = MakeInitialState();

int ClampByte(int value) { return std::clamp(value, 0, 255); }

void StoreDrawArea(DrawState& s, int left, int top, int right, int bottom) {
  left = std::clamp(left, 0, s.drawScreenWidth);
  right = std::clamp(right, 0, s.drawScreenWidth);
  top = std::clamp(top, 0, s.drawScreenHeight);
  bottom = std::clamp(bottom, 0, s.drawScreenHeight);
  // An inverted rectangle is empty, not swapped.
  if (right < left) right = left;
  if (bottom < top) bottom = top;
  s.drawAreaLeft = left;
  s.drawAreaTop = top;
  s.drawAreaRight = right;
  s.drawAreaBottom = bottom;
  s.drawAreaLeftF = static_cast<float>(left);
  s.drawAreaTopF = static_cast<float>(top);
  s.drawAreaRightF = static_cast<float>(right);
  s.drawAreaBottomF = static_cast<float>(bottom);
}

void SetIdentity(float (&m)[4][4]) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) m[r][c] = r == c ? 1.0f : 0.0f;
  }
}

// Clears everything but the draw screen and the kept fields, then sets the defaults.
void ApplyReset(DrawState& s) {
  const int screen = s.drawScreen;
  const int width = s.drawScreenWidth;
  const int height = s.drawScreenHeight;
  const int originX = s.drawOriginX;
  const int originY = s.drawOriginY;
  const int available = s.use3DDrawingAvailable;
  const int addressMode = s.textureAddressMode;
  const std::uint32_t transColor = s.transColor;
  auto* const callback = s.graphRestoreCallback;

  s = DrawState{};
  s.drawScreen = screen;
  s.drawScreenWidth = width;
  s.drawScreenHeight = height;
  s.drawOriginX = originX;
  s.drawOriginY = originY;
  s.use3DDrawingAvailable = available;
  s.textureAddressMode = addressMode;
  s.transColor = transColor;
  s.graphRestoreCallback = callback;

  StoreDrawArea(s, 0, 0, width, height);
  s.blendGraph = -1;
  s.blendMemImg = nullptr;
  s.drawMode = 0;
  s.blendMode = BlendNone;
  s.blendParameter = 0;
  s.brightness = 0xFFFFFF;
  s.zEnable = 0;
  s.zWriteEnable = 0;
  s.zCompareFunction = 4;  // less or equal
  s.drawDepth = 0.2f;
  s.defaultLightHandle = -1;
  SetIdentity(s.worldMatrix);
  SetIdentity(s.viewMatrix);
  SetIdentity(s.projectionMatrix);
  SetIdentity(s.viewportMatrix);
  SetIdentity(s.combinedMatrix);
  SetIdentity(s.viewRotationTransposeMatrix);
}

DrawState MakeInitialState() {
  DrawState s{};
  s.drawScreen = kDrawScreenBack;
  s.drawScreenWidth = kDefaultScreenWidth;
  s.drawScreenHeight = kDefaultScreenHeight;
  s.textureAddressMode = 3;  // clamp
  ApplyReset(s);
  return s;
}

}  // namespace

DrawState& GetDrawState() { return state; }

int SetDrawBlendMode(int mode, int parameter) {
  if (mode != state.blendMode || parameter != state.blendParameter) {
    state.blendMode = mode;
    state.blendParameter = ClampByte(parameter);
    const Graphics3DHooks& hooks = GetGraphics3DHooks();
    if (hooks.updateDrawDiffuseColor != nullptr) hooks.updateDrawDiffuseColor();
  }
  return 0;
}

int GetDrawBlendMode(int* mode, int* parameter) {
  if (mode != nullptr) *mode = state.blendMode;
  if (parameter != nullptr) *parameter = state.blendParameter;
  return 0;
}

int SetDrawBrightness(int red, int green, int blue) {
  const std::uint32_t packed = static_cast<std::uint32_t>(ClampByte(red)) << 16 |
                               static_cast<std::uint32_t>(ClampByte(green)) << 8 |
                               static_cast<std::uint32_t>(ClampByte(blue));
  if ((state.brightness & 0xFFFFFF) == packed) return 0;
  state.brightness = (state.brightness & 0xFF000000u) | packed;
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (state.use3DDrawingAvailable && hooks.updateDrawDiffuseColor != nullptr) hooks.updateDrawDiffuseColor();
  return 0;
}

int GetDrawBrightness(int* red, int* green, int* blue) {
  if (red != nullptr) *red = BrightnessRed(state.brightness);
  if (green != nullptr) *green = BrightnessGreen(state.brightness);
  if (blue != nullptr) *blue = BrightnessBlue(state.brightness);
  return 0;
}

int SetDrawScreenSize(int width, int height) {
  if (width < 1 || height < 1) return -1;
  state.drawScreenWidth = width;
  state.drawScreenHeight = height;
  StoreDrawArea(state, 0, 0, width, height);
  return 0;
}

int GetDrawScreenSize(int* width, int* height) {
  if (width != nullptr) *width = state.drawScreenWidth;
  if (height != nullptr) *height = state.drawScreenHeight;
  return 0;
}

int SetDrawArea(int left, int top, int right, int bottom) {
  StoreDrawArea(state, left, top, right, bottom);
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (hooks.setViewportRect != nullptr) {
    const RECT area{state.drawAreaLeft, state.drawAreaTop, state.drawAreaRight, state.drawAreaBottom};
    hooks.setViewportRect(&area);
  }
  return 0;
}

int SetDrawMode(int mode) {
  if (mode != 0 && mode != 1) return -1;
  state.drawMode = mode;
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (hooks.setTextureFilterMode != nullptr) hooks.setTextureFilterMode(mode);
  return 0;
}

int GetDrawMode() { return state.drawMode; }

int SetBlendGraph(int graph, int borderParameter, int borderRange) {
  GraphRecord* record = nullptr;
  if (graph != -1) {
    record = GetGraphRecord(graph);
    if (record == nullptr) return -1;
  }
  state.blendGraph = record != nullptr ? graph : -1;
  if (borderParameter != -1) state.blendBorderParameter = ClampByte(borderParameter);
  if (borderRange != -1) state.blendBorderRange = ClampByte(borderRange);
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (hooks.setBlendGraphD3D != nullptr) {
    return hooks.setBlendGraphD3D(record, borderParameter == -1 ? -1 : ClampByte(borderParameter),
                                  borderRange == -1 ? -1 : ClampByte(borderRange));
  }
  return 0;
}

int SetTransColor(int red, int green, int blue) {
  state.transColor = static_cast<std::uint32_t>(ClampByte(red)) << 16 |
                     static_cast<std::uint32_t>(ClampByte(green)) << 8 |
                     static_cast<std::uint32_t>(ClampByte(blue));
  return 0;
}

int GetDrawArea(int* left, int* top, int* right, int* bottom) {
  if (left != nullptr) *left = state.drawAreaLeft;
  if (top != nullptr) *top = state.drawAreaTop;
  if (right != nullptr) *right = state.drawAreaRight;
  if (bottom != nullptr) *bottom = state.drawAreaBottom;
  return 0;
}

int ResetDrawState() {
  // A reset makes a new default light, so the one it replaces goes first rather than
  // filling the light table reset by reset.
  if (state.defaultLightHandle >= 0) DeleteLight(state.defaultLightHandle);
  ApplyReset(state);
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (hooks.createDirectionalLight != nullptr)
    state.defaultLightHandle = hooks.createDirectionalLight(1.0f, -1.0f, 1.0f);
  // The device's vertex colour follows the reset mode and brightness.
  if (hooks.updateDrawDiffuseColor != nullptr) hooks.updateDrawDiffuseColor();
  return 0;
}

}  // namespace gamelib
