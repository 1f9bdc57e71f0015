// GetDrawScreenGraph: texture graphs through the 3-D back end's read-back, graphs in
// plain surfaces by a surface-to-surface copy.
#include <algorithm>
#include <cstdint>

#include "d3d/screen_readback.h"
#include "gamelib/graphics.h"
#include "graphics/graph_records.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

int CopyToPlainGraph(int x1, int y1, int x2, int y2, const GraphRecord* graph) {
  const Surface2D* piece = GetSurface2D(graph->pieces[0]);
  const SurfaceRecord* surface = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
  IDirectDrawSurface7* screen = GetDrawTargetSurface();
  if (surface == nullptr || surface->surface == nullptr || screen == nullptr) return -1;
  if (x1 < 0 || y1 < 0 || x1 >= x2 || y1 >= y2) return -1;
  if (std::int64_t{x2} - x1 > graph->width || std::int64_t{y2} - y1 > graph->height) return -1;
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  if (FAILED(screen->GetSurfaceDesc(&desc))) return -1;
  const RECT source{x1, y1, std::min<LONG>(x2, static_cast<LONG>(desc.dwWidth)),
                    std::min<LONG>(y2, static_cast<LONG>(desc.dwHeight))};
  if (source.left >= source.right || source.top >= source.bottom) return -1;
  return BltSurfaceToSurface(surface->surface, screen, piece->x, piece->y, &source, -1);
}

}  // namespace

int GetDrawScreenGraph(int x1, int y1, int x2, int y2, int graph, int useClientFlag) {
  GraphRecord* record = GetGraphRecord(graph);
  if (record == nullptr) return -1;
  if (record->useTexture) return GetDrawScreenGraphD3D(x1, y1, x2, y2, record, useClientFlag);
  return CopyToPlainGraph(x1, y1, x2, y2, record);
}

}  // namespace gamelib
