// The graph and Surface2D tables.
#include "graphics/graph_records.h"

#include "gamelib/core.h"

namespace gamelib {
namespace {

FixedHandleTable<kMaxGraphs> g_graphs;
FixedHandleTable<kMaxSurface2D> g_surface2d;
bool g_ready = false;

void Ready() {
  if (g_ready) return;
  InitHandleTable(&g_graphs, kHandleTypeGraph);
  InitHandleTable(&g_surface2d, kHandleTypeSurface2d);
  g_ready = true;
}

}  // namespace

void InitializeGraphRecordTables() {
  Ready();
  for (HandleTable* table : {&g_graphs.table, &g_surface2d.table}) {
    for (int slot = table->highWater - 1; slot >= 0; --slot) FreeMemory(ReleaseHandleSlot(table, slot));
  }
}

HandleTable* GetGraphTable() {
  Ready();
  return &g_graphs.table;
}

GraphRecord* GetGraphRecord(int handle) {
  Ready();
  return static_cast<GraphRecord*>(GetHandleRecord(&g_graphs.table, handle));
}

Surface2D* GetSurface2D(int handle) {
  Ready();
  return static_cast<Surface2D*>(GetHandleRecord(&g_surface2d.table, handle));
}

GraphRecord* AddGraphRecord() {
  Ready();
  const int slot = FindFreeHandleSlot(&g_graphs.table);
  if (slot < 0) return nullptr;
  auto* graph = static_cast<GraphRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(GraphRecord)));
  if (graph == nullptr) return nullptr;
  graph->parent = -1;
  graph->handle = AddHandleRecord(&g_graphs.table, slot, graph);
  return graph;
}

void FreeGraphRecord(GraphRecord* graph) {
  if (graph == nullptr || GetGraphRecord(graph->handle) != graph) return;
  ReleaseHandleSlot(&g_graphs.table, HandleSlot(graph->handle));
  FreeMemory(graph);
}

int AddSurface2D(int surface, int x, int y, int width, int height, int graph) {
  Ready();
  const int slot = FindFreeHandleSlot(&g_surface2d.table);
  if (slot < 0) return -1;
  auto* piece = static_cast<Surface2D*>(GAMELIB_ALLOC_ZEROED(sizeof(Surface2D)));
  if (piece == nullptr) return -1;
  *piece = Surface2D{0, surface, x, y, width, height, graph};
  return AddHandleRecord(&g_surface2d.table, slot, piece);
}

int DeleteSurface2D(int handle) {
  if (GetSurface2D(handle) == nullptr) return -1;
  FreeMemory(ReleaseHandleSlot(&g_surface2d.table, HandleSlot(handle)));
  return 0;
}

}  // namespace gamelib
