// Font handles: creation, look-up and deletion of font records, and the hooks the top
// layer lends.
#include <cstring>

#include "core/handle_table.h"
#include "font/font_draw.h"
#include "font/font_face.h"
#include "font/font_record.h"
#include "font/glyph_cache.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

struct FontState {
  FixedHandleTable<kMaxFontHandles> table;
  FontRoadHooks hooks;
  int defaultFont;  // the font of DrawString, -1 until first used
  FontState() : hooks{}, defaultFont(-1) { InitHandleTable(&table, kHandleTypeFont); }
};
FontState g_font;

void FreeFont(FontRecord* font) {
  FreeGlyphCache(font);
  CloseFontFace(font->face);
  FreeMemory(font);
}

}  // namespace

FontRecord* GetFontRecord(int font) {
  return static_cast<FontRecord*>(GetHandleRecord(&g_font.table.table, font));
}

void SetFontRoadHooks(const FontRoadHooks* hooks) {
  if (hooks == nullptr) {
    g_font.hooks = FontRoadHooks{};
  } else {
    g_font.hooks = *hooks;
  }
}
const FontRoadHooks& GetFontRoadHooks() { return g_font.hooks; }

int CreateFontToHandle(const char* name, int size, int thickness, int kind) {
  if (size == -1) size = kFontDefaultSize;
  if (size < 1 || size > kFontMaxSize) {
    OutputLogFormat("フォントのサイズ %d は使えません", size);
    return -1;
  }
  if (kind < kFontKindPlain || kind > kFontKindAntialiasedEdge) {
    OutputLogFormat("フォントのタイプ %d は使えません", kind);
    return -1;
  }
  if (thickness < 0) thickness = kFontNormalThickness;
  if (thickness > kFontMaxThickness) thickness = kFontMaxThickness;

  HandleTable& table = g_font.table.table;
  const int slot = FindFreeHandleSlot(&table);
  if (slot < 0) {
    OutputLog("フォントハンドルの数が上限に達しました\n");
    return -1;
  }
  auto* font = static_cast<FontRecord*>(AllocMemoryZeroed(sizeof(FontRecord), __FILE__, __LINE__));
  if (font == nullptr) {
    OutputLog("フォントデータを確保するメモリが足りません\n");
    return -1;
  }
  font->size = size;
  font->thickness = thickness;
  font->kind = kind;
  font->face = OpenFontFace(name, size);
  if (font->face == nullptr) {
    FreeMemory(font);
    ReleaseFontLibraries();
    return -1;
  }
  GetFontFaceMetrics(font->face, &font->ascender, &font->lineHeight);
  font->textureCacheFlag =
      g_font.hooks.textureCacheRule != nullptr ? (g_font.hooks.textureCacheRule() ? 1 : 0) : 0;
  InitGlyphCache(font);
  font->handle = AddHandleRecord(&table, slot, font);
  if (font->handle < 0) {
    FreeFont(font);
    return -1;
  }
  return font->handle;
}

int DeleteFontToHandle(int handle) {
  FontRecord* font = GetFontRecord(handle);
  if (font == nullptr) return -1;
  ReleaseHandleSlot(&g_font.table.table, HandleSlot(handle));
  FreeFont(font);
  if (handle == g_font.defaultFont) g_font.defaultFont = -1;
  if (g_font.table.table.count == 0) {
    ReleaseFontScratch();
    ReleaseFontLibraries();
  }
  return 0;
}

int InitFontToHandle() {
  HandleTable& table = g_font.table.table;
  for (int slot = 0; slot < table.highWater; ++slot) {
    auto* font = static_cast<FontRecord*>(ReleaseHandleSlot(&table, slot));
    if (font != nullptr) FreeFont(font);
  }
  g_font.defaultFont = -1;
  ReleaseFontScratch();
  ReleaseFontLibraries();
  return 0;
}

int GetDefaultFontHandle() {
  if (GetFontRecord(g_font.defaultFont) == nullptr)
    g_font.defaultFont = CreateFontToHandle(nullptr, kFontDefaultSize, -1, kFontKindPlain);
  return g_font.defaultFont;
}

}  // namespace gamelib
