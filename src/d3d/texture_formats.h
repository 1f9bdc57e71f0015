// Texture formats: which of the device's formats fill the nine slots and the Z slot,
// the choice of a slot for a surface, and the uploads of images into texture pieces.
#pragma once

#include "d3d/d3d_state.h"
#include "graphics/graph_records.h"

namespace gamelib {

// Enumeration callbacks (the context points to an int "found" flag).
HRESULT EnumTextureFormatsCallback(DDPIXELFORMAT* format, void* found);
HRESULT EnumZBufferFormatsCallback(DDPIXELFORMAT* format, void* found);
// Fills the empty slots from the others, in the one order that works.
void CompleteTextureFormats();

// Null outside 0..8.
const TextureFormatRecord* GetTextureFormatEntry(int slot);
const ColorData* GetTextureFormatPixelFormat(int slot);
const DDPIXELFORMAT* GetZBufferPixelFormat();

// The slot a surface with these creation bytes uses.
int SelectTextureFormatIndex(const SurfaceCreateBytes& createBytes);
const ColorData* SelectTextureFormat(const SurfaceCreateBytes& createBytes);
const ColorData* GetImageTextureFormat(int alphaChannel, int alphaTest, int use32Bit, int renderTarget);

// Writes sourceRect of the image into the piece's texture at (textureX, textureY), directly
// into a lock or through a work texture and Load. 0, or -1 (no Direct3D, invalid piece,
// bad image). The rectangle is clipped to the image and the texture first.
int BltGraphImageToTexture(const RECT* sourceRect, int textureX, int textureY, int piece,
                           const GraphImage* image, const GraphImage* alphaImage);
int BltGraphImageToGraph3DAt(const GraphImage* image, const GraphImage* alphaImage, int sourceX, int sourceY,
                             GraphRecord* graph);
int BltGraphImageToGraph3D(const GraphImage* image, const GraphImage* alphaImage, const RECT* sourceRect,
                           int destX, int destY, GraphRecord* graph);

}  // namespace gamelib
