// Copying a rectangle of the draw screen into a graph kept in textures. Five ways, since
// which one works depends on the driver, the screen mode and the texture format; the
// first that works is remembered per kind of texture and tried first next time.
#pragma once

#include "graphics/graph_records.h"

namespace gamelib {

// Copies (x1, y1)-(x2, y2) of the draw screen (right and bottom exclusive) into the
// graph's top-left corner. clientFlag 0 while the windowed front buffer is drawn:
// desktop coordinates. 0, or -1 when every method failed; 0 at once while the draw
// target is a memory image.
int GetDrawScreenGraphD3D(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);

// The methods, in the order they are tried.
int G_D3D_GetDrawScreenGraphFunction5(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);
int G_D3D_GetDrawScreenGraphFunction1(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);
int G_D3D_GetDrawScreenGraphFunction3(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);
int G_D3D_GetDrawScreenGraphFunction2(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);
int G_D3D_GetDrawScreenGraphFunction4(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag);

}  // namespace gamelib
