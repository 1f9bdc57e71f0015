// What the graphics core asks of the 3-D back end, which lies on a higher floor: the
// top layer fills this table at start-up (tests may fill it too). A null entry means
// "no 3-D back end": the caller takes the 2-D road or reports -1.
#pragma once

#include "gamelib/graphics.h"
#include "platform/ddraw.h"
#include "platform/win32.h"

namespace gamelib {

struct GraphRecord;

struct Graphics3DHooks {
  // Start-up, shutdown, release around lost surfaces.
  int (*initializeDirect3D)();
  int (*terminateDirect3D)();
  int (*releaseDirect3DObject)();
  int (*acquireDirect3DAndDevice)();
  // Closes the batch and the scene before a surface is touched.
  void (*flushCurrentDeviceVertices)();
  void (*endCurrentScene)();
  // The texture format of a surface from its creation bytes: slot index (-1: none) and
  // its pixel format and layout.
  int (*selectTextureFormatIndex)(const unsigned char* createBytes);
  int (*getTextureFormat)(int slot, DDPIXELFORMAT* format, ColorData* colorData);
  const DDPIXELFORMAT* (*getZBufferPixelFormat)();
  // Texture pieces of graphs.
  int (*resetSurface3DDataTable)();
  int (*getPieceSurfaceHandle)(int piece);  // surface handle of a texture piece, or -1
  int (*createGraphSurfaces3D)(GraphRecord* graph);
  int (*createDerivedGraphSurface3D)(GraphRecord* graph, int x, int y, int width, int height,
                                     GraphRecord* parent);
  int (*deleteGraphSurfaces3D)(GraphRecord* graph);
  int (*restoreGraphSurfaces3D)(GraphRecord* graph);
  int (*restoreAllSurface3DData)();
  int (*fillGraphSurfaces3D)(GraphRecord* graph, int red, int green, int blue, int alpha);
  int (*bltGraphImageToGraph3DAt)(const GraphImage* image, const GraphImage* alphaImage, int sourceX,
                                  int sourceY, GraphRecord* graph);
  // Draw-state changes the device must hear of.
  int (*setViewportRect)(const RECT* rect);
  int (*setDeviceDrawScreen)(int screen);
  int (*setTextureFilterMode)(int mode);
  int (*setBlendGraphD3D)(GraphRecord* graph, int borderParameter, int borderRange);
  void* (*getDeviceValid)();
  int (*updateDrawDiffuseColor)();
  // The draw-state reset's default light: a directional light's handle, or -1.
  int (*createDirectionalLight)(float x, float y, float z);
};

// The table in force; all entries null until the top layer (or a test) fills it.
Graphics3DHooks& GetGraphics3DHooks();
void SetGraphics3DHooks(const Graphics3DHooks& hooks);

// FlushCurrentDeviceVertices then EndCurrentScene, when a back end is there.
void CloseDeviceScene();

}  // namespace gamelib
