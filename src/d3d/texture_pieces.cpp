// The texture pieces of graphs: their handle table, the power-of-two split of a graph's
// sides, the pieces of new and derived graphs, and delete, restore and fill over a
// graph's pieces.
#include "d3d/texture_pieces.h"

#include <algorithm>

#include "d3d/d3d_state.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

FixedHandleTable<kMaxSurface3DData> g_pieces;
bool g_piecesReady = false;

HandleTable* Table() {
  if (!g_piecesReady) {
    InitHandleTable(&g_pieces, kHandleTypeSurface3d);
    g_piecesReady = true;
  }
  return &g_pieces.table;
}

Surface3DDataRecord* RecordAt(int slot) { return static_cast<Surface3DDataRecord*>(Table()->records[slot]); }

void BuildVertices(Surface3DDataRecord& r, const SurfaceRecord& surface) {
  const float invWidth = 1.0f / static_cast<float>(surface.width);
  const float invHeight = 1.0f / static_cast<float>(surface.height);
  const float left = static_cast<float>(r.x), top = static_cast<float>(r.y);
  const float right = static_cast<float>(r.x + r.width), bottom = static_cast<float>(r.y + r.height);
  const float u0 = static_cast<float>(r.textureX) * invWidth;
  const float v0 = static_cast<float>(r.textureY) * invHeight;
  const float u1 = static_cast<float>(r.textureX + r.width) * invWidth;
  const float v1 = static_cast<float>(r.textureY + r.height) * invHeight;
  r.vertices[0] = D3DVertex1{left, top, 0.0f, 1.0f, 0xFFFFFFFF, u0, v0};
  r.vertices[1] = D3DVertex1{right, top, 0.0f, 1.0f, 0xFFFFFFFF, u1, v0};
  r.vertices[2] = D3DVertex1{left, bottom, 0.0f, 1.0f, 0xFFFFFFFF, u0, v1};
  r.vertices[3] = D3DVertex1{right, bottom, 0.0f, 1.0f, 0xFFFFFFFF, u1, v1};
}

// Vertices on or above the line from the graph's bottom-left to its top-right corner.
void SetUpperLeftFlags(Surface3DDataRecord& r, double graphHeight, double ratio) {
  for (int i = 0; i < 4; ++i) {
    const double vx = r.vertices[i].x, vy = r.vertices[i].y;
    r.upperLeft[i] = vy <= graphHeight - vx * ratio ? 1 : 0;
  }
}

void DeleteListed(GraphRecord* graph, int count) {
  for (int i = 0; i < count && i < kMaxGraphPieces; ++i) {
    DeleteSurface3DData(graph->pieces[i]);
    graph->pieces[i] = 0;
  }
  graph->pieceCount = 0;
}

struct PlannedPiece {
  int x, y, textureWidth, textureHeight;
};

int TooManyPieces() {
  return OutputLogFormat("エラー：画像の分割数が最大数の %d を超えました", kMaxGraphPieces);
}

}  // namespace

int AddSurface3DData(int textureWidth, int textureHeight, int x, int y, int width, int height, int sourceX,
                     int sourceY, int graph, const Surface3DDataRecord* parent, int textureX, int textureY,
                     const SurfaceCreateBytes* createBytes) {
  if (!Direct3DAvailable()) return OutputLog("３Ｄグラフィックエンジンが初期化されていません\n");
  HandleTable* table = Table();
  if (table->count >= kMaxSurface3DData) return OutputLog("３Ｄグラフィックの数が許容量を越えました。\n");
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || (parent == nullptr && createBytes == nullptr)) return -1;
  const int slot = FindFreeHandleSlot(table);
  if (slot < 0) return -1;
  auto* r = static_cast<Surface3DDataRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(Surface3DDataRecord)));
  if (r == nullptr) return OutputLog("メモリの確保に失敗しました in AddSurface3DData \n");
  int surface = -1;
  if (parent != nullptr) {
    if (IncSurfaceRefCount(parent->surface) != -1) surface = parent->surface;
  } else {
    surface =
        AddSurface(kSurfaceKindTexture, textureWidth, textureHeight, GetDrawState().transColor, *createBytes);
  }
  SurfaceRecord* surfaceRecord = GetSurfaceRecord(surface);
  if (surfaceRecord == nullptr) {
    FreeMemory(r);
    return -1;
  }
  if (parent != nullptr) {
    textureX += parent->textureX;
    textureY += parent->textureY;
    sourceX += parent->sourceX;
    sourceY += parent->sourceY;
  }
  r->x = static_cast<std::uint16_t>(x);
  r->y = static_cast<std::uint16_t>(y);
  r->width = static_cast<std::uint16_t>(width);
  r->height = static_cast<std::uint16_t>(height);
  r->sourceX = static_cast<std::uint16_t>(sourceX);
  r->sourceY = static_cast<std::uint16_t>(sourceY);
  r->textureX = static_cast<std::uint16_t>(textureX);
  r->textureY = static_cast<std::uint16_t>(textureY);
  r->graph = graph;
  r->surface = surface;
  BuildVertices(*r, *surfaceRecord);
  return AddHandleRecord(table, slot, r);
}

Surface3DDataRecord* GetSurface3DData(int handle) {
  return static_cast<Surface3DDataRecord*>(GetHandleRecord(Table(), handle));
}

int GetSurface3DDataCount() { return Table()->count; }

int GetPieceSurfaceHandle(int handle) {
  Surface3DDataRecord* r = GetSurface3DData(handle);
  return r != nullptr ? r->surface : -1;
}

int DeleteSurface3DData(int handle) {
  Surface3DDataRecord* r = GetSurface3DData(handle);
  if (r == nullptr) return -1;
  if (DecSurfaceRefCount(r->surface) == 0) DeleteSurface(r->surface);
  if (r->deleteFlag != nullptr) *r->deleteFlag = 1;
  ReleaseHandleSlot(Table(), HandleSlot(handle));
  FreeMemory(r);
  return 0;
}

void DeleteEverySurface3DData() {
  HandleTable* table = Table();
  const int end = table->highWater;
  for (int slot = 0; slot < end; ++slot) {
    if (Surface3DDataRecord* r = RecordAt(slot)) {
      DeleteSurface3DData(MakeHandleValue(kHandleTypeSurface3d, static_cast<int>(r->check), slot));
    }
  }
}

int DeleteAllSurface3DData() {
  if (!Direct3DAvailable()) return -1;
  DeleteEverySurface3DData();
  return 0;
}

int ResetSurface3DDataTable() {
  if (!Direct3DAvailable()) return -1;
  return DeleteAllSurface3DData();
}

int UnlockSurface3DData(int handle, RECT* rect) {
  Surface3DDataRecord* r = GetSurface3DData(handle);
  if (r == nullptr) return -1;
  return UnlockSurface(r->surface, rect);
}

int GetTextureSplitSizes(int length, int* sizes, int wholeTexture) {
  const Direct3DState& state = GetDirect3DState();
  const int minimum = std::max(1, static_cast<int>(state.minTextureSize));
  const int maximum = std::max(minimum, static_cast<int>(state.maxTextureSize));
  const int start = minimum > 32 ? minimum : 32;
  if (length <= start) {
    int size = start;
    while (size > minimum && size / 2 >= length) size /= 2;
    sizes[0] = size;
    return 1;
  }
  int screenWidth = 0;
  GetScreenSize(&screenWidth, nullptr);
  int ceiling = maximum;
  if (wholeTexture != 1 && screenWidth <= maximum) {
    ceiling = 8;
    while (ceiling < screenWidth) ceiling *= 2;
  }
  int p = ceiling;
  while (p > start && p > length) p /= 2;
  if ((wholeTexture == 1 && 2 * p <= ceiling) ||
      (wholeTexture != 1 && length < screenWidth && 2 * p <= ceiling)) {
    sizes[0] = p >= length ? p : 2 * p;
    return 1;
  }
  int rest = length;
  int i = 0;
  for (;;) {
    // A long side under a low ceiling would need more entries than there are.
    if (i >= kMaxGraphPieces) return kMaxGraphPieces + 1;
    sizes[i] = p;
    rest -= p;
    if (rest <= 0) break;
    if (rest > (3 * p) / 4 && p < ceiling) {
      sizes[i] = 2 * p;
      break;
    }
    while (rest < p && p > start) p /= 2;
    ++i;
  }
  if (i > 0 && sizes[i - 1] == sizes[i] && 2 * sizes[i] <= ceiling) {
    sizes[i - 1] *= 2;
    --i;
  }
  return i + 1;
}

int CreateGraphSurfaces3D(GraphRecord* graph) {
  if (!Direct3DAvailable() || graph == nullptr) return -1;
  const int width = graph->width, height = graph->height;
  // A side of 0 would divide by zero in the flags and make no texture.
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return -1;
  const int whole = graph->createBytes.drawValid;
  int columns[kMaxGraphPieces], rows[kMaxGraphPieces];
  const int columnCount = GetTextureSplitSizes(width, columns, whole);
  const int rowCount = GetTextureSplitSizes(height, rows, whole);
  if (columnCount > kMaxGraphPieces || rowCount > kMaxGraphPieces ||
      columnCount * rowCount > kMaxGraphPieces) {
    return TooManyPieces();
  }
  PlannedPiece plan[kMaxGraphPieces];
  int count = 0;
  for (int r = 0, y = 0; r < rowCount; y += rows[r++]) {
    for (int c = 0, x = 0; c < columnCount; x += columns[c++])
      plan[count++] = PlannedPiece{x, y, columns[c], rows[r]};
  }
  if (GetDirect3DState().deviceDesc.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_SQUAREONLY) {
    const int planned = count;
    for (int i = 0; i < planned; ++i) {
      PlannedPiece& piece = plan[i];
      if (piece.textureWidth == piece.textureHeight) continue;
      const bool wide = piece.textureWidth > piece.textureHeight;
      const int shorter = wide ? piece.textureHeight : piece.textureWidth;
      const int squares = (wide ? piece.textureWidth : piece.textureHeight) / shorter;
      const PlannedPiece first{piece.x, piece.y, shorter, shorter};
      piece = first;
      for (int k = 1; k < squares; ++k) {
        const PlannedPiece next{first.x + (wide ? k * shorter : 0), first.y + (wide ? 0 : k * shorter),
                                shorter, shorter};
        // Squares wholly past the graph would show nothing.
        if (next.x >= width || next.y >= height) continue;
        if (count >= kMaxGraphPieces) return TooManyPieces();
        plan[count++] = next;
      }
    }
  }
  graph->pieceCount = 0;
  const double ratio = static_cast<double>(height) / width;
  for (int i = 0; i < count; ++i) {
    const PlannedPiece& p = plan[i];
    const int shownWidth = std::min(p.textureWidth, width - p.x);
    const int shownHeight = std::min(p.textureHeight, height - p.y);
    const int handle = AddSurface3DData(p.textureWidth, p.textureHeight, p.x, p.y, shownWidth, shownHeight,
                                        p.x, p.y, graph->handle, nullptr, 0, 0, &graph->createBytes);
    if (handle == -1) {
      // Nothing half-made stays behind.
      DeleteListed(graph, i);
      return -1;
    }
    graph->pieces[i] = handle;
    SetUpperLeftFlags(*GetSurface3DData(handle), height, ratio);
  }
  graph->pieceCount = count;
  return 0;
}

int CreateDerivedGraphSurface3D(GraphRecord* graph, int x, int y, int width, int height,
                                GraphRecord* parent) {
  if (!Direct3DAvailable() || graph == nullptr || parent == nullptr) return -1;
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || static_cast<std::int64_t>(x) + width > parent->width ||
      static_cast<std::int64_t>(y) + height > parent->height) {
    return -1;
  }
  const int device = GetDirect3DState().currentDevice;
  FlushVertexBuffer(device);
  EndSceneDevice(device);
  const double graphHeight = graph->height;
  const double ratio = graphHeight / graph->width;
  graph->pieceCount = 0;
  if (parent->pieceCount == 1) {
    Surface3DDataRecord* q = GetSurface3DData(parent->pieces[0]);
    if (q == nullptr) return -1;
    const int handle = AddSurface3DData(0, 0, 0, 0, width, height, x, y, graph->handle, q, x, y, nullptr);
    if (handle == -1) return -1;
    graph->pieces[0] = handle;
    graph->pieceCount = 1;
    SetUpperLeftFlags(*GetSurface3DData(handle), graphHeight, ratio);
    return 0;
  }
  for (int i = 0; i < parent->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* q = GetSurface3DData(parent->pieces[i]);
    if (q == nullptr) {
      DeleteListed(graph, graph->pieceCount);
      return -1;
    }
    const int left = std::max(x, static_cast<int>(q->x)), top = std::max(y, static_cast<int>(q->y));
    const int right = std::min(x + width, q->x + q->width), bottom = std::min(y + height, q->y + q->height);
    if (right <= left || bottom <= top) continue;
    const int handle = AddSurface3DData(0, 0, left - x, top - y, right - left, bottom - top, left, top,
                                        graph->handle, q, left - q->x, top - q->y, nullptr);
    if (handle == -1) {
      DeleteListed(graph, graph->pieceCount);
      return -1;
    }
    graph->pieces[graph->pieceCount++] = handle;
    SetUpperLeftFlags(*GetSurface3DData(handle), graphHeight, ratio);
  }
  return 0;
}

int DeleteGraphSurfaces3D(GraphRecord* graph) {
  if (!Direct3DAvailable() || graph == nullptr) return -1;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) DeleteSurface3DData(graph->pieces[i]);
  return 0;
}

int RestoreGraphSurfaces3D(GraphRecord* graph) {
  if (!Direct3DAvailable() || graph == nullptr) return -1;
  int result = 0;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
    if (piece == nullptr) return -1;
    result |= RestoreLostSurface(piece->surface);
  }
  return result;
}

int RestoreAllSurface3DData() {
  if (!Direct3DAvailable()) return -1;
  HandleTable* table = Table();
  for (int slot = 0; slot < table->highWater; ++slot) {
    if (Surface3DDataRecord* r = RecordAt(slot)) RestoreLostSurface(r->surface);
  }
  return 0;
}

int FillGraphSurfaces3D(GraphRecord* graph, int red, int green, int blue, int alpha) {
  if (!Direct3DAvailable() || graph == nullptr) return -1;
  if (GetDirect3DState().memImageTarget) return 0;
  const int device = GetDirect3DState().currentDevice;
  FlushVertexBuffer(device);
  EndSceneDevice(device);
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
    if (piece == nullptr) return -1;
    // Only the piece's own rectangle: a shared texture also holds other graphs' pixels.
    const RECT area{piece->textureX, piece->textureY, piece->textureX + piece->width,
                    piece->textureY + piece->height};
    if (ClearSurfaceRect(piece->surface, &area, red, green, blue, alpha) != 0) return -1;
  }
  return 0;
}

void ReleaseAllSurface3DDataObjects() {
  HandleTable* table = Table();
  for (int slot = 0; slot < table->highWater; ++slot) {
    if (Surface3DDataRecord* r = RecordAt(slot)) ReleaseSurfaceObjects(r->surface);
  }
}

void RecreateAllSurface3DDataObjects() {
  HandleTable* table = Table();
  for (int slot = 0; slot < table->highWater; ++slot) {
    if (Surface3DDataRecord* r = RecordAt(slot)) {
      CreateSurfaceObject(r->surface);
      SetSurfaceColorKey(r->surface);
    }
  }
}

}  // namespace gamelib
