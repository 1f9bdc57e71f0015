// The string drawing entries: the software road onto memory-image targets, the 3-D road
// through the hooks, and the default font of DrawString.
#include "font/font_draw.h"
#include "font/font_record.h"
#include "font/glyph_cache.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"

namespace gamelib {

int RestoreFontCacheImage(int handle) {
  FontRecord* font = GetFontRecord(handle);
  if (font == nullptr) return -1;
  if (!font->textureCacheFlag) return 0;
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (hooks.createPageGraph == nullptr) return -1;
  int result = 0;
  for (int i = 0; i < font->cache.pageCount; ++i) {
    GlyphCachePage& page = font->cache.pages[i];
    if (page.graph >= 0 && (hooks.pageGraphLost == nullptr || !hooks.pageGraphLost(font, i))) continue;
    if (page.graph >= 0 && hooks.releasePageGraph != nullptr) hooks.releasePageGraph(font, i);
    page.graph = -1;
    // The memory page still holds every glyph: the new graph gets all of it.
    if (hooks.createPageGraph(font, i) != 0) result = -1;
  }
  return result;
}

namespace {

// The device road takes a texture-cached font while it can draw into the target; the
// memory pages serve every other target, so that such a font draws anywhere.
bool DeviceTakesText(const FontRecord* font) {
  const FontRoadHooks& hooks = GetFontRoadHooks();
  return font->textureCacheFlag && hooks.drawStringD3D != nullptr && hooks.deviceDrawsText != nullptr &&
         hooks.deviceDrawsText();
}

}  // namespace

int DrawStringSoft(int x, int y, const char* string, int colour, int handle, int edgeColour, int vertical) {
  const FontRecord* font = GetFontRecord(handle);
  if (font == nullptr || string == nullptr) return -1;
  if (DeviceTakesText(font))
    return GetFontRoadHooks().drawStringD3D(x, y, string, colour, handle, edgeColour, vertical);
  const DrawState& state = GetDrawState();
  const RECT area{state.drawAreaLeft, state.drawAreaTop, state.drawAreaRight, state.drawAreaBottom};
  const int drawn = DrawStringWithFontCache(1, x, y, 0, 1.0, 1.0, string, colour, nullptr, &area, 1, handle,
                                            edgeColour, -1, vertical, nullptr);
  return drawn < 0 ? -1 : 0;
}

int DrawStringToHandle(int x, int y, const char* string, int colour, int handle, int edgeColour,
                       int vertical) {
  const FontRecord* font = GetFontRecord(handle);
  if (font == nullptr) {
    OutputLog("フォントハンドル値が異常です\n");
    return -1;
  }
  if (string == nullptr) {
    OutputLog("描画する文字列がありません\n");
    return -1;
  }
  const FontRoadHooks& hooks = GetFontRoadHooks();
  if (!DeviceTakesText(font)) return DrawStringSoft(x, y, string, colour, handle, edgeColour, vertical);
  // The device has no subtractive blend: mode 3 is emulated over the text's rectangle.
  if (GetDrawState().blendMode != BlendSub || hooks.beginBlendMode3Emulation == nullptr ||
      hooks.endBlendMode3Emulation == nullptr)
    return hooks.drawStringD3D(x, y, string, colour, handle, edgeColour, vertical);
  FontStringSize size{};
  if (DrawStringWithFontCache(0, x, y, 0, 1.0, 1.0, string, colour, nullptr, nullptr, 1, handle, edgeColour,
                              -1, vertical, &size) < 0)
    return -1;
  const RECT rect{x, y, x + size.width, y + size.height};
  hooks.beginBlendMode3Emulation(&rect);
  const int result = hooks.drawStringD3D(x, y, string, colour, handle, edgeColour, vertical);
  hooks.endBlendMode3Emulation(&rect);
  return result;
}

int DrawString(int x, int y, const char* string, int colour, int edgeColour) {
  if (string == nullptr) {
    OutputLog("描画する文字列がありません\n");
    return -1;
  }
  const int font = GetDefaultFontHandle();
  if (font < 0) return -1;
  return DrawStringToHandle(x, y, string, colour, font, edgeColour, 0);
}

}  // namespace gamelib
