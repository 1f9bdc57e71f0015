// Software renderer: memory images and the software drawing of free quadrilaterals.
#pragma once

#include <cstdint>

namespace gamelib {

// Pixel kinds of a memory image.
constexpr int kMemImgKind16 =
    0;  // 5-6-5 in 16 bits; with alpha: 32 bits, low 16 the colour, bits 16-23 alpha
constexpr int kMemImgKind32 = 1;  // X8R8G8B8; with alpha: bits 24-31 alpha

// Largest side of an image that the triangle rasteriser samples from.
constexpr int kMemImgMaxSourceSide = 8192;

// What images that share pixels share: the whole block and its format.
struct MemImgSharedRecord {
  int pitch;               // bytes per row
  std::uint32_t colorKey;  // compared with a whole texel, or with the index of a palette image
  int kind;                // kMemImgKind16 or kMemImgKind32
  int paletteFlag;         // 1: one byte per pixel, an index into palette
  int alphaFlag;           // 1: the pixels carry alpha (never with a palette)
  // Palette images: 256 entries in the image's own pixel format (16-bit words for kind 0,
  // 32-bit words for kind 1), the first half of one 2048-byte block; the second half
  // (paletteBackup) receives a copy of the table whenever it is rebuilt. Null otherwise.
  void* palette;
  void* paletteBackup;
  std::uint8_t* block;  // the pixel allocation, owned by the record
  int width;            // of the whole block
  int height;
  int referenceCount;  // images using this record
};

// A memory image: a window of a shared pixel block.
struct MEMIMG {
  int width;
  int height;
  std::uint8_t* pixels;  // top-left pixel of this image
  MemImgSharedRecord* shared;
};

// One palette entry of a source image.
struct PaletteEntry {
  std::uint8_t blue;
  std::uint8_t green;
  std::uint8_t red;
  std::uint8_t reserved;
};

// Pixels handed to TransferMemImgRect: laid out exactly like the destination's pixels
// (1, 2 or 4 bytes each), plus a 256-entry palette when the destination has one.
struct MemImgTransferSource {
  const void* pixels;
  int pitch;  // bytes per row
  int width;
  int height;
  const PaletteEntry* palette;  // required for a palette destination, else ignored
};

// One corner of a triangle: destination pixel (x, y) and source pixel (u, v).
struct TriVertex {
  int x;
  int y;
  int u;
  int v;
};

// Bytes per pixel of an image of that format: 1 with a palette, 4 with alpha or kind 1, else 2.
int GetMemImgPixelBytes(int kind, int paletteFlag, int alphaFlag);

// Makes a zero-filled image of its own. A palette image has no alpha. 0, or -1 (bad
// kind or size, allocation failure; the image is then left empty).
int CreateMemImg(MEMIMG* image, int width, int height, int kind, int paletteFlag, int alphaFlag,
                 std::uint32_t colorKey);

// Makes an image that shares a rectangle of base's pixels and format. 0 or -1.
int DeriveMemImg(MEMIMG* image, const MEMIMG* base, int x, int y, int width, int height);

// First byte of row y of the image; null for an empty image or a row outside it.
std::uint8_t* GetMemImgRow(const MEMIMG* image, int y);

// Releases the image (its block once no derived image uses it) and empties it. Safe on
// an empty image.
void DeleteMemImg(MEMIMG* image);

// Copies a rectangle of source pixels to (destX, destY), clipped to both; for a palette
// destination also rebuilds the palette table from source->palette. 0 or -1.
int TransferMemImgRect(MEMIMG* dest, int destX, int destY, const MemImgTransferSource* source, int srcX,
                       int srcY, int width, int height);

// Blend image of the software renderer (null: none): sampled one byte per column at the
// texel position and weighted through the border table built from (borderParameter,
// borderRange), both clamped to 0..255. Always 0.
int SetBlendMemImg(const MEMIMG* image, int borderParameter, int borderRange);
const MEMIMG* GetBlendMemImg();

// Draws one triangle onto dest: textured from src, or in the flat colour when src is
// null (a 5-6-5 value for a 16-bit destination, 0xXXRRGGBB for a 32-bit one). Reads the
// draw state (blend mode and parameter, brightness, draw area) once. trans skips
// colour-key texels or applies the alpha tests; blend is the blend image (weighted
// through the border table as it stands) or null. A call that cannot draw draws nothing.
void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, int trans,
                        const MEMIMG* blend, std::uint32_t colour);

// The same with the current blend image (SetBlendMemImg). 0, or -1 for a null
// destination or vertex list.
int DrawTriangleGraphSoft(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, std::uint32_t colour,
                          int trans);

// Draws src onto the quadrilateral of corners 1 (top-left of src), 2 (top-right),
// 3 (bottom-left), 4 (bottom-right) as the triangles 1-2-3 and 2-3-4. 0, or -1 for a null
// destination or source.
int DrawQuadGraphSoft(MEMIMG* dest, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                      const MEMIMG* src, int trans);

// Which pixel kernels the triangle rasteriser runs. Both give identical pixels.
enum class TriangleKernelSet {
  Portable = 0,
  Avx2 = 1,
};
// Chooses a kernel set; -1 (and no change) when this processor cannot run it.
int SetTriangleKernelSet(TriangleKernelSet set);
TriangleKernelSet GetTriangleKernelSet();
// The best set this processor runs, in use until another is chosen.
TriangleKernelSet GetBestTriangleKernelSet();

}  // namespace gamelib
