// Graph management: making, deriving, deleting, restoring and filling graphs, on
// texture pieces (through the 3-D hooks) or on Surface2D pieces.
#pragma once

#include "graphics/graph_records.h"

namespace gamelib {

// Empties the graph tables and the 3-D piece table; sets the 3-D-drawing-available flag
// when the piece table could be reset. 0.
int InitializeGraphManagement();
// Deletes every graph (graphics shutdown, screen-mode change).
void DeleteAllGraphs();
// Restores the surfaces of every graph; -1 when any lost its pixels.
int RestoreAllGraphs();

// A graph of the given size and creation bytes with its pieces (pixels zeroed).
// The use-texture byte is decided here. Record or null.
GraphRecord* MakeGraphRecord(int width, int height, SurfaceCreateBytes createBytes);
// Writes the image's top-left part into the graph's pieces. 0 or -1.
int BltGraphImageToGraph(const GraphImage* image, const GraphImage* alphaImage, GraphRecord* graph);
// The surface a graph is drawn into, when it can be a draw target.
IDirectDrawSurface7* GetGraphTargetSurface(int graph);

}  // namespace gamelib
