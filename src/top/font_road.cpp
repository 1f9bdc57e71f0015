// Fonts on the 3-D road: the texture-cache rule, cache pages as texture graphs, glyph
// cells drawn through the device, and the software draw target.
#include "d3d/d3d_state.h"
#include "d3d/graph_drawing.h"
#include "d3d/texture_formats.h"
#include "d3d/texture_pieces.h"
#include "font/font_record.h"
#include "gamelib/font.h"
#include "graphics/draw_state.h"
#include "graphics/graph_records.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"
#include "softrender/soft_target.h"
#include "top/top.h"

namespace gamelib {
namespace {

struct FontRoadState {
  int deviceEpoch;  // advances whenever the device lets its surfaces go
  SoftDrawTarget target;
  bool targetLocked;
  // A cache page seen as an image: white with the coverage as alpha (both read the page's
  // bytes through a palette).
  ColorData white;
  ColorData coverage;
};
FontRoadState g_road;

bool IsFormat(const ColorData* c, int alpha, int colour) {
  return c != nullptr && c->colorBitDepth == 16 && c->alphaWidth == alpha && c->redWidth == colour &&
         c->greenWidth == colour && c->blueWidth == colour;
}

// New fonts cache in textures when new graphs do and the device gives 16-bit formats
// with 4 alpha bits for alpha-channel images and 1 for alpha-test images.
int TextureCacheRule() {
  if (!UseTexturesForNewGraphs()) return 0;
  return IsFormat(GetImageTextureFormat(1, 0, 0, 0), 4, 4) &&
         IsFormat(GetImageTextureFormat(0, 1, 0, 0), 1, 5);
}

void PageViews(const GlyphCachePage& page, GraphImage* colour, GraphImage* alpha) {
  if (g_road.white.colorBitDepth == 0) {
    for (ColorData* c : {&g_road.white, &g_road.coverage}) {
      c->colorBitDepth = 8;
      c->pixelByte = 1;
    }
    for (int i = 0; i < 256; ++i) {
      g_road.white.palette[i] = 0xFFFFFF;
      g_road.coverage.palette[i] = static_cast<std::uint32_t>(i);  // the blue channel is the alpha
    }
  }
  for (GraphImage* image : {colour, alpha}) {
    image->width = page.image.width;
    image->height = page.image.height;
    image->pitch = page.image.shared->pitch;
    image->graphData = page.image.pixels;
  }
  colour->colorData = g_road.white;
  alpha->colorData = g_road.coverage;
}

int CreatePageGraph(FontRecord* font, int index) {
  GlyphCachePage& page = font->cache.pages[index];
  GraphImage colour{}, alpha{};
  PageViews(page, &colour, &alpha);
  page.graph = CreateGraphFromGraphImage(&colour, &alpha);
  if (page.graph < 0) return -1;
  page.graphEpoch = g_road.deviceEpoch;
  page.dirtyLeft = page.dirtyTop = page.dirtyRight = page.dirtyBottom = 0;
  return 0;
}

int UploadPageGraph(FontRecord* font, int index) {
  GlyphCachePage& page = font->cache.pages[index];
  GraphRecord* graph = GetGraphRecord(page.graph);
  if (graph == nullptr) return -1;
  GraphImage colour{}, alpha{};
  PageViews(page, &colour, &alpha);
  const RECT dirty{page.dirtyLeft, page.dirtyTop, page.dirtyRight, page.dirtyBottom};
  return BltGraphImageToGraph3D(&colour, &alpha, &dirty, dirty.left, dirty.top, graph) == 0 ? 0 : -1;
}

void ReleasePageGraph(FontRecord* font, int index) { DeleteGraph(font->cache.pages[index].graph); }

int PageGraphLost(FontRecord* font, int index) {
  const GlyphCachePage& page = font->cache.pages[index];
  const GraphRecord* graph = GetGraphRecord(page.graph);
  if (graph == nullptr || page.graphEpoch != g_road.deviceEpoch) return 1;
  int lost = 0;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i)
    if (RestoreLostSurface(GetPieceSurfaceHandle(graph->pieces[i])) != 0) lost = 1;
  return lost;
}

void ReleaseGlyphGraphs(CachedGlyph* glyph) {
  for (int& graph : glyph->graphs) {
    if (graph >= 0) DeleteGraph(graph);
    graph = -1;
  }
}

// The graph of a glyph's cell (edge 1: its edge cell), derived from its page's graph
// when it has none or its page got a new graph; null when it cannot be made.
GraphRecord* CellGraph(FontRecord* font, CachedGlyph* glyph, int edge) {
  const GlyphCachePage& page = font->cache.pages[glyph->page];
  int& cellGraph = glyph->graphs[edge ? 1 : 0];
  GraphRecord* cell = GetGraphRecord(cellGraph);
  if (cell != nullptr && cell->parent == page.graph) return cell;
  if (cell != nullptr) DeleteGraph(cellGraph);
  cellGraph = edge ? DeriveGraph(glyph->edgeX, glyph->edgeY, glyph->width + 2, glyph->height + 2, page.graph)
                   : DeriveGraph(glyph->cellX, glyph->cellY, glyph->width, glyph->height, page.graph);
  return GetGraphRecord(cellGraph);
}

// Cells through the device: graphs derived from the pages over the cells, in the colour
// as brightness, inside the clip. The brightness and a narrower draw area are set once
// for the batch and put back after it.
int DrawGlyphCells(FontRecord* font, const GlyphCellDraw* cells, int count, int edge, int colour,
                   const RECT* clip) {
  DrawState& state = GetDrawState();
  const std::uint32_t brightness = state.brightness;
  int red = 0, green = 0, blue = 0;
  GetColorRGB(colour, &red, &green, &blue);
  SetDrawBrightness(red, green, blue);
  UpdateDrawDiffuseColor();  // the vertex colour carries the text colour
  const RECT area{state.drawAreaLeft, state.drawAreaTop, state.drawAreaRight, state.drawAreaBottom};
  const bool narrowed = clip != nullptr && (clip->left > area.left || clip->top > area.top ||
                                            clip->right < area.right || clip->bottom < area.bottom);
  if (narrowed)
    SetDrawArea(std::max(area.left, clip->left), std::max(area.top, clip->top),
                std::min(area.right, clip->right), std::min(area.bottom, clip->bottom));
  int result = 0;
  GraphRunD3D run;
  BeginGraphRunD3D(&run, 1, 0);
  for (int i = 0; i < count; ++i) {
    const GlyphCellDraw& c = cells[i];
    GraphRecord* graph = CellGraph(font, c.glyph, edge);
    if (graph == nullptr || DrawGraphInRunD3D(&run, c.x, c.y, c.width, c.height, graph) != 0) result = -1;
  }
  if (narrowed) SetDrawArea(area.left, area.top, area.right, area.bottom);
  SetDrawBrightness(BrightnessRed(brightness), BrightnessGreen(brightness), BrightnessBlue(brightness));
  UpdateDrawDiffuseColor();
  return result;
}

int DeviceDrawsText() {
  return Direct3DAvailable() && !GetDirect3DState().memImageTarget && GetDeviceValid() != nullptr ? 1 : 0;
}

MEMIMG* LockSoftwareTarget() {
  if (g_road.targetLocked) return nullptr;
  if (BeginSoftDraw(&g_road.target) != 0) return nullptr;
  g_road.targetLocked = true;
  return &g_road.target.image;
}

void UnlockSoftwareTarget() {
  if (!g_road.targetLocked) return;
  EndSoftDraw(&g_road.target);
  g_road.targetLocked = false;
}

int FontTextureCacheFlag(int font) {
  const FontRecord* record = GetFontRecord(font);
  return record == nullptr ? -1 : record->textureCacheFlag;
}

int DrawThroughFontCache(int x, int y, const char* text, int colour, const RECT* clip, int transparent,
                         int font, int edgeColour, int length, int vertical) {
  return DrawStringWithFontCache(1, x, y, 0, 1.0, 1.0, text, colour, nullptr, clip, transparent, font,
                                 edgeColour, length, vertical, nullptr);
}

}  // namespace

int ReleaseDirect3DObjectAndFontCaches() {
  ++g_road.deviceEpoch;
  return ReleaseDirect3DObject();
}

void InstallFontRoad() {
  FontRoadHooks hooks{};
  hooks.textureCacheRule = TextureCacheRule;
  hooks.lockSoftwareTarget = LockSoftwareTarget;
  hooks.unlockSoftwareTarget = UnlockSoftwareTarget;
  hooks.deviceDrawsText = DeviceDrawsText;
  hooks.createPageGraph = CreatePageGraph;
  hooks.uploadPageGraph = UploadPageGraph;
  hooks.releasePageGraph = ReleasePageGraph;
  hooks.pageGraphLost = PageGraphLost;
  hooks.drawGlyphCells = DrawGlyphCells;
  hooks.releaseGlyphGraphs = ReleaseGlyphGraphs;
  hooks.drawStringD3D = DrawStringD3D;
  hooks.beginBlendMode3Emulation = BeginBlendMode3Emulation;
  hooks.endBlendMode3Emulation = EndBlendMode3Emulation;
  SetFontRoadHooks(&hooks);
  D3DDrawingHooks& d3d = GetD3DDrawingHooks();
  d3d.drawStringSoft = DrawStringSoft;
  d3d.getFontTextureCacheFlag = FontTextureCacheFlag;
  d3d.restoreFontCacheImage = RestoreFontCacheImage;
  d3d.drawStringWithFontCache = DrawThroughFontCache;
  if (d3d.drawFillBoxSoft == nullptr) d3d.drawFillBoxSoft = DrawFillBoxSoft;
  if (d3d.drawBoxOutlineSoft == nullptr) d3d.drawBoxOutlineSoft = DrawBoxOutlineSoft;
}

}  // namespace gamelib
