// Graph management: graphs made from images or empty, derived graphs sharing pixels,
// deletion, restoring and filling, and the draw screen.
#include "graphics/graphs.h"

#include <cstdint>

#include "gamelib/core.h"
#include "graphics/color_data.h"
#include "graphics/draw_state.h"
#include "graphics/graph_image_convert.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"

namespace gamelib {
namespace {

bool ValidImage(const GraphImage* image) {
  if (image == nullptr || image->graphData == nullptr) return false;
  if (image->width < 1 || image->height < 1 || image->width > 0xFFFF || image->height > 0xFFFF) return false;
  if (!ValidateColorData(&image->colorData)) return false;
  const std::int64_t rowBytes = static_cast<std::int64_t>(image->width) * image->colorData.pixelByte;
  return image->pitch >= rowBytes;
}

bool ValidAlphaImage(const GraphImage* alpha, const GraphImage* image) {
  return alpha == nullptr ||
         (ValidImage(alpha) && alpha->width >= image->width && alpha->height >= image->height);
}

void DeletePieces(GraphRecord* graph) {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (graph->useTexture) {
    if (hooks.deleteGraphSurfaces3D != nullptr) hooks.deleteGraphSurfaces3D(graph);
  } else {
    for (int i = 0; i < graph->pieceCount; ++i) {
      Surface2D* piece = GetSurface2D(graph->pieces[i]);
      if (piece == nullptr) continue;
      if (DecSurfaceRefCount(piece->surface) == 0) DeleteSurface(piece->surface);
      DeleteSurface2D(graph->pieces[i]);
    }
  }
  graph->pieceCount = 0;
}

int Make2DPiece(GraphRecord* graph) {
  const int surface = AddSurface(kSurfaceKindPlain, graph->width, graph->height, GetDrawState().transColor,
                                 graph->createBytes);
  if (surface < 0) return -1;
  const int piece = AddSurface2D(surface, 0, 0, graph->width, graph->height, graph->handle);
  if (piece < 0) {
    DeleteSurface(surface);
    return -1;
  }
  graph->pieces[0] = piece;
  graph->pieceCount = 1;
  return 0;
}

// Writes the image into the one surface of a 2-D graph.
int BltImageTo2D(const GraphImage* image, const GraphImage* alphaImage, GraphRecord* graph) {
  Surface2D* piece = GetSurface2D(graph->pieces[0]);
  if (piece == nullptr) return -1;
  RECT source{0, 0, piece->width, piece->height};
  if (source.right > image->width) source.right = image->width;
  if (source.bottom > image->height) source.bottom = image->height;
  RECT target{piece->x, piece->y, piece->x + source.right, piece->y + source.bottom};
  int pitch = 0;
  void* pixels = nullptr;
  const ColorData* format = nullptr;
  const int locked = LockSurface(piece->surface, &pitch, &pixels, 1, &target, &format);
  if (locked == -1) return -1;
  if (locked == -2) {
    UnlockSurface(piece->surface, &target);
    return -1;
  }
  const int result = ConvertGraphImageBlt(
      pixels, pitch, format, image->graphData, image->pitch, &image->colorData,
      alphaImage ? alphaImage->graphData : nullptr, alphaImage ? alphaImage->pitch : 0,
      alphaImage ? &alphaImage->colorData : nullptr, 0, 0, &source, kConvertOpaqueAlpha, 0);
  UnlockSurface(piece->surface, &target);
  return result;
}

}  // namespace

int InitializeGraphManagement() {
  DeleteAllGraphs();
  InitializeGraphRecordTables();
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  GetDrawState().use3DDrawingAvailable =
      hooks.resetSurface3DDataTable != nullptr && hooks.resetSurface3DDataTable() != -1 ? 1 : 0;
  return 0;
}

void DeleteAllGraphs() {
  HandleTable* table = GetGraphTable();
  for (int slot = table->highWater - 1; slot >= 0; --slot) {
    auto* graph = static_cast<GraphRecord*>(table->records[slot]);
    if (graph != nullptr) DeleteGraph(graph->handle);
  }
}

int RestoreAllGraphs() {
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  HandleTable* table = GetGraphTable();
  int result = 0;
  for (int slot = 0; slot < table->highWater; ++slot) {
    auto* graph = static_cast<GraphRecord*>(table->records[slot]);
    if (graph == nullptr) continue;
    if (graph->useTexture) {
      if (hooks.restoreGraphSurfaces3D != nullptr) result |= hooks.restoreGraphSurfaces3D(graph);
    } else if (Surface2D* piece = GetSurface2D(graph->pieces[0])) {
      result |= RestoreLostSurface(piece->surface);
    }
  }
  return result;
}

GraphRecord* MakeGraphRecord(int width, int height, SurfaceCreateBytes createBytes) {
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return nullptr;
  if (GetDirectDrawObject() == nullptr) return nullptr;
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  GraphRecord* graph = AddGraphRecord();
  if (graph == nullptr) return nullptr;
  graph->width = width;
  graph->height = height;
  createBytes.useTexture = UseTexturesForNewGraphs() && hooks.createGraphSurfaces3D != nullptr ? 1 : 0;
  if (createBytes.bitDepth == 0) createBytes.bitDepth = GetScreenColorBitDepth() == 32 ? 32 : 16;
  graph->useTexture = createBytes.useTexture;
  graph->createBytes = createBytes;
  const int made = graph->useTexture ? hooks.createGraphSurfaces3D(graph) : Make2DPiece(graph);
  if (made != 0) {
    FreeGraphRecord(graph);
    return nullptr;
  }
  return graph;
}

int BltGraphImageToGraph(const GraphImage* image, const GraphImage* alphaImage, GraphRecord* graph) {
  if (graph == nullptr || !ValidImage(image) || !ValidAlphaImage(alphaImage, image)) return -1;
  if (graph->useTexture) {
    const Graphics3DHooks& hooks = GetGraphics3DHooks();
    if (hooks.bltGraphImageToGraph3DAt == nullptr) return -1;
    return hooks.bltGraphImageToGraph3DAt(image, alphaImage, 0, 0, graph);
  }
  return BltImageTo2D(image, alphaImage, graph);
}

IDirectDrawSurface7* GetGraphTargetSurface(int handle) {
  GraphRecord* graph = GetGraphRecord(handle);
  if (graph == nullptr || !graph->createBytes.drawValid || graph->pieceCount < 1) return nullptr;
  int surface = -1;
  if (graph->useTexture) {
    const Graphics3DHooks& hooks = GetGraphics3DHooks();
    if (hooks.getPieceSurfaceHandle != nullptr) surface = hooks.getPieceSurfaceHandle(graph->pieces[0]);
  } else if (Surface2D* piece = GetSurface2D(graph->pieces[0])) {
    surface = piece->surface;
  }
  SurfaceRecord* record = GetSurfaceRecord(surface);
  return record != nullptr ? record->surface : nullptr;
}

int CreateGraphFromGraphImage(const GraphImage* image, const GraphImage* alphaImage) {
  if (!ValidImage(image) || !ValidAlphaImage(alphaImage, image)) return -1;
  SurfaceCreateBytes bytes{};
  bytes.alphaChannel = image->colorData.alphaWidth > 0 || alphaImage != nullptr ? 1 : 0;
  GraphRecord* graph = MakeGraphRecord(image->width, image->height, bytes);
  if (graph == nullptr) return -1;
  const int handle = graph->handle;
  if (BltGraphImageToGraph(image, alphaImage, graph) != 0) {
    DeleteGraph(handle);
    return -1;
  }
  return handle;
}

int ReCreateGraphFromGraphImage(const GraphImage* image, const GraphImage* alphaImage, int handle) {
  GraphRecord* graph = GetGraphRecord(handle);
  if (graph == nullptr || !ValidImage(image)) return -1;
  if (image->width < graph->width || image->height < graph->height) return -1;
  return BltGraphImageToGraph(image, alphaImage, graph);
}

int MakeGraph(int width, int height) {
  GraphRecord* graph = MakeGraphRecord(width, height, SurfaceCreateBytes{});
  return graph != nullptr ? graph->handle : -1;
}

int MakeScreen(int width, int height, int useAlphaChannel) {
  SurfaceCreateBytes bytes{};
  bytes.drawValid = 1;
  bytes.alphaChannel = useAlphaChannel ? 1 : 0;
  GraphRecord* graph = MakeGraphRecord(width, height, bytes);
  return graph != nullptr ? graph->handle : -1;
}

int DeriveGraph(int x, int y, int width, int height, int sourceGraph) {
  GraphRecord* parent = GetGraphRecord(sourceGraph);
  if (parent == nullptr || x < 0 || y < 0 || width < 1 || height < 1) return -1;
  // The rectangle must lie inside the parent, or its pieces would show foreign texels.
  if (static_cast<std::int64_t>(x) + width > parent->width ||
      static_cast<std::int64_t>(y) + height > parent->height) {
    return -1;
  }
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (parent->useTexture && hooks.createDerivedGraphSurface3D == nullptr) return -1;
  GraphRecord* graph = AddGraphRecord();
  if (graph == nullptr) return -1;
  graph->width = width;
  graph->height = height;
  graph->useTexture = parent->useTexture;
  graph->createBytes = parent->createBytes;
  graph->parent = sourceGraph;
  graph->deriveX = x;
  graph->deriveY = y;
  int made = -1;
  if (graph->useTexture) {
    made = hooks.createDerivedGraphSurface3D(graph, x, y, width, height, parent);
  } else if (Surface2D* piece = GetSurface2D(parent->pieces[0])) {
    const int handle = AddSurface2D(piece->surface, piece->x + x, piece->y + y, width, height, graph->handle);
    if (handle >= 0) {
      IncSurfaceRefCount(piece->surface);
      graph->pieces[0] = handle;
      graph->pieceCount = 1;
      made = 0;
    }
  }
  if (made != 0) {
    FreeGraphRecord(graph);
    return -1;
  }
  return graph->handle;
}

int DeleteGraph(int handle) {
  GraphRecord* graph = GetGraphRecord(handle);
  if (graph == nullptr) return -1;
  DrawState& state = GetDrawState();
  if (state.drawScreen == handle) SetDrawScreen(kDrawScreenBack);
  if (state.blendGraph == handle) SetBlendGraph(-1, -1, -1);
  CloseDeviceScene();
  DeletePieces(graph);
  FreeGraphRecord(graph);
  return 0;
}

int GetGraphSize(int handle, int* width, int* height) {
  int w = 0, h = 0;
  if (handle == kDrawScreenFront || handle == kDrawScreenBack) {
    GetScreenSize(&w, &h);
  } else {
    GraphRecord* graph = GetGraphRecord(handle);
    if (graph == nullptr) return -1;
    w = graph->width;
    h = graph->height;
  }
  if (width != nullptr) *width = w;
  if (height != nullptr) *height = h;
  return 0;
}

int FillGraph(int handle, int red, int green, int blue, int alpha) {
  GraphRecord* graph = GetGraphRecord(handle);
  if (graph == nullptr) return -1;
  if (graph->useTexture) {
    const Graphics3DHooks& hooks = GetGraphics3DHooks();
    return hooks.fillGraphSurfaces3D != nullptr ? hooks.fillGraphSurfaces3D(graph, red, green, blue, alpha)
                                                : -1;
  }
  Surface2D* piece = GetSurface2D(graph->pieces[0]);
  if (piece == nullptr) return -1;
  const RECT area{piece->x, piece->y, piece->x + piece->width, piece->y + piece->height};
  return ClearSurfaceRect(piece->surface, &area, red, green, blue, alpha);
}

int SetDrawScreen(int screen) {
  int width = 0, height = 0;
  if (screen == kDrawScreenFront || screen == kDrawScreenBack) {
    GetScreenSize(&width, &height);
  } else {
    GraphRecord* graph = GetGraphRecord(screen);
    if (graph == nullptr || !graph->createBytes.drawValid) return -1;
    // Several textures cannot be one render target.
    if (graph->useTexture && graph->pieceCount != 1) return -1;
    width = graph->width;
    height = graph->height;
  }
  CloseDeviceScene();
  DrawState& state = GetDrawState();
  state.drawScreen = screen;
  state.drawOriginX = 0;
  state.drawOriginY = 0;
  SetDrawScreenSize(width, height);
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  if (hooks.setDeviceDrawScreen != nullptr) hooks.setDeviceDrawScreen(screen);
  SetDrawArea(0, 0, width, height);
  return 0;
}

int GetDrawScreen() { return GetDrawState().drawScreen; }

}  // namespace gamelib
