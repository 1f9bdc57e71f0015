// Texture pieces: a graph that lives in textures is a list of Surface3DData records,
// each showing one rectangle of the graph from a rectangle of a texture surface (owned,
// or shared with the piece it was derived from), with the four vertices of its quad.
#pragma once

#include <cstdint>

#include "d3d/device_record.h"
#include "graphics/graph_records.h"

namespace gamelib {

constexpr int kMaxSurface3DData = 65536;

struct Surface3DDataRecord {
  std::uint32_t check;
  int* deleteFlag;                   // set to 1 when the record is deleted
  std::uint16_t x, y;                // place inside the graph
  std::uint16_t textureX, textureY;  // place of the rectangle inside the texture
  std::uint16_t sourceX, sourceY;
  std::uint16_t width, height;
  // Top left, top right, bottom left, bottom right, in graph pixels; u and v address the
  // rectangle inside the texture.
  D3DVertex1 vertices[4];
  std::uint8_t upperLeft[4];  // per vertex: on or above the graph's anti-diagonal
  int graph;
  int surface;  // surface handle of the texture
};

// Handle or -1. With `parent` the texture is the parent's (shared by reference) and
// textureX/Y and sourceX/Y are taken relative to it; texture size and creation bytes
// are then not used.
int AddSurface3DData(int textureWidth, int textureHeight, int x, int y, int width, int height, int sourceX,
                     int sourceY, int graph, const Surface3DDataRecord* parent, int textureX, int textureY,
                     const SurfaceCreateBytes* createBytes);
Surface3DDataRecord* GetSurface3DData(int handle);
int DeleteSurface3DData(int handle);
int DeleteAllSurface3DData();
int ResetSurface3DDataTable();
int UnlockSurface3DData(int handle, RECT* rect);
// Live records (for leak checks).
int GetSurface3DDataCount();
// The texture surface handle of a piece, or -1.
int GetPieceSurfaceHandle(int handle);

// Sizes of the textures a length is cut into (at most 64 written); the count, or 65
// when 64 are not enough.
int GetTextureSplitSizes(int length, int* sizes, int wholeTexture);

int CreateGraphSurfaces3D(GraphRecord* graph);
int CreateDerivedGraphSurface3D(GraphRecord* graph, int x, int y, int width, int height, GraphRecord* parent);
int DeleteGraphSurfaces3D(GraphRecord* graph);
int RestoreGraphSurfaces3D(GraphRecord* graph);
int RestoreAllSurface3DData();
int FillGraphSurfaces3D(GraphRecord* graph, int red, int green, int blue, int alpha);

// Around a lost device: the texture objects of every piece go, and come back (with
// their colour keys). The records stay.
void ReleaseAllSurface3DDataObjects();
void RecreateAllSurface3DDataObjects();
// Deletes every record whether or not the Direct3D object exists (shutdown).
void DeleteEverySurface3DData();

}  // namespace gamelib
