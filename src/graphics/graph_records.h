// Graph records and Surface2D pieces, each behind its own handle table.
#pragma once

#include <cstdint>

#include "core/handle_table.h"
#include "graphics/surfaces.h"

namespace gamelib {

constexpr int kMaxGraphs = 65536;
constexpr int kMaxSurface2D = 65536;
constexpr int kMaxGraphPieces = 64;

struct GraphRecord {
  int check;  // first word: the handle's check number
  int handle;
  std::uint8_t useTexture;         // 1: the pieces are texture pieces, else Surface2D pieces
  SurfaceCreateBytes createBytes;  // handed to the pieces' surfaces
  int width;
  int height;
  int pieceCount;
  int pieces[kMaxGraphPieces];  // zero-filled at creation: 0 is never a valid handle
  int parent;                   // graph it was derived from, -1 for none
  int deriveX;
  int deriveY;
};

// One rectangle of a graph kept in a plain surface (or memory image).
struct Surface2D {
  int check;
  int surface;  // surface handle (shared by derived graphs)
  int x;        // place of the rectangle inside the surface
  int y;
  int width;
  int height;
  int graph;
};

void InitializeGraphRecordTables();
HandleTable* GetGraphTable();
// Null for an invalid handle.
GraphRecord* GetGraphRecord(int handle);
Surface2D* GetSurface2D(int handle);
// A zero-filled record in a free slot, its handle stored; null when full or out of memory.
GraphRecord* AddGraphRecord();
// Frees the record (its pieces must be gone).
void FreeGraphRecord(GraphRecord* graph);
// Handle or -1.
int AddSurface2D(int surface, int x, int y, int width, int height, int graph);
int DeleteSurface2D(int handle);

}  // namespace gamelib
