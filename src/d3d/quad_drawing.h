// Graphs drawn onto four free corner points: a parallelogram piece as two batched
// triangles, any other piece as an 8 x 8 vertex grid of indexed strips; with a blend
// graph, each piece mapped affinely by the half of the quadrilateral it lies in.
#pragma once

#include "d3d/device_record.h"
#include "graphics/graph_records.h"

namespace gamelib {

// Corners top left, top right, bottom left, bottom right (final positions before the
// draw origin). -1 without Direct3D or with an invalid piece, or a graph without size;
// with a blend graph the result of DrawQuadGraphBlendD3D; else 0.
int DrawQuadGraphD3D(float tlX, float tlY, float trX, float trY, float blX, float blY, float brX, float brY,
                     GraphRecord* graph, int transparent);
// The same in integers while a blend graph is set.
int DrawQuadGraphBlendD3D(int tlX, int tlY, int trX, int trY, int blX, int blY, int brX, int brY,
                          GraphRecord* graph, int transparent);
// One piece onto four screen points (no origin, no half-pixel shift added).
void DrawGraphGrid(int piece, float tlX, float tlY, float trX, float trY, float blX, float blY, float brX,
                   float brY);
// A grid of columns x rows type-1 vertices, row by row, as indexed triangle strips of
// at most kGridStripIndices indices a call. 0, or -1 without Direct3D, a record not in
// use, fewer than 2 columns or rows, or a grid whose row pair or vertex count the 16-bit
// index list cannot hold.
constexpr int kGridStripIndices = 1000;
int DrawGridStrips(int device, int columns, const D3DVertex1* vertices, int rows);

}  // namespace gamelib
