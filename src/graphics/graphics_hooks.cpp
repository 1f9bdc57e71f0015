// The 3-D hook table of the graphics core.
#include "graphics/graphics_hooks.h"

namespace gamelib {
namespace {
Graphics3DHooks g_hooks{};
}  // namespace

Graphics3DHooks& GetGraphics3DHooks() { return g_hooks; }
void SetGraphics3DHooks(const Graphics3DHooks& hooks) { g_hooks = hooks; }

void CloseDeviceScene() {
  if (g_hooks.flushCurrentDeviceVertices != nullptr) g_hooks.flushCurrentDeviceVertices();
  if (g_hooks.endCurrentScene != nullptr) g_hooks.endCurrentScene();
}

}  // namespace gamelib
