// Surface records: every DirectDraw surface (texture, plain surface) or memory image
// that holds pixels of a graph, behind a surface handle with a reference count, so
// that derived graphs and texture pieces can share one.
#pragma once

#include <cstdint>

#include "core/handle_table.h"
#include "gamelib/graphics.h"
#include "platform/ddraw.h"

namespace gamelib {

constexpr int kMaxSurfaces = 65536;

// The nine creation bytes a graph hands to its surfaces.
struct SurfaceCreateBytes {
  std::uint8_t useTexture;
  std::uint8_t alphaChannel;
  std::uint8_t drawValid;  // can be a draw target (render target)
  std::uint8_t memImage;
  std::uint8_t alphaTest;
  std::uint8_t bitDepth;  // 16 or 32
  std::uint8_t systemMemory;
  std::uint8_t textureManage;
  std::uint8_t reserved;
};
static_assert(sizeof(SurfaceCreateBytes) == 9);

// What AddSurface makes.
constexpr int kSurfaceKindPlain = 0;    // off-screen surface in the screen's format
constexpr int kSurfaceKindTexture = 1;  // texture in the format slot of the creation bytes

struct SurfaceRecord {
  int check;  // first word: the handle's check number
  int kind;
  SurfaceCreateBytes create;
  int memImageFlag;
  int textureFormatIndex;  // -1 for anything but a texture
  IDirectDrawSurface7* surface;
  IDirectDrawSurface7* zSurface;
  std::uint32_t transColor;  // 0xRRGGBB
  std::uint16_t width;       // of the surface (the texture's size for a texture)
  std::uint16_t height;
  int refCount;
  int lockCount;
  void* lockPointer;
  int lockPitch;
  DDPIXELFORMAT pixelFormat;
  ColorData colorData;
  void* memImagePixels;  // memory images only
  int memImagePitch;
};

// Empties the table (surfaces still held are deleted).
void InitializeSurfaceTable();
void DeleteAllSurfaces();
int GetSurfaceCount();

// A new record with its object, reference count 1. Handle, or -1: table full (logged),
// a size outside 1..65535, no texture format, or the object could not be made.
int AddSurface(int kind, int width, int height, std::uint32_t transColor,
               const SurfaceCreateBytes& createBytes);
SurfaceRecord* GetSurfaceRecord(int handle);
// The count after the change, or -1 for an invalid handle. Whoever brings it to 0
// calls DeleteSurface.
int IncSurfaceRefCount(int handle);
int DecSurfaceRefCount(int handle);
int DeleteSurface(int handle);

// Releases the objects, keeping the record; makes them again. Both may be repeated.
int ReleaseSurfaceObjects(int handle);
int CreateSurfaceObject(int handle);
// Source colour key from the transparent colour, in the surface's format.
int SetSurfaceColorKey(int handle);
// -1 when the surface was lost and has been restored (its pixels are gone), else 0.
int RestoreLostSurface(int handle);

// 0 after a new lock; -2 when already locked (the stored pointer and pitch come back and
// the count rises); -1 when the lock fails (logged). `rect` null: the whole surface.
int LockSurface(int handle, int* pitch, void** pixels, int writeOnly, const RECT* rect,
                const ColorData** colorData);
// Ends one lock; the surface is unlocked when the count reaches 0. 0, or -1 when not locked.
int UnlockSurface(int handle, RECT* rect);

// Fills the rectangle (null: the whole surface) with the colour. 0 or -1.
int ClearSurface(int handle, int red, int green, int blue, int alpha);
int ClearSurfaceRect(int handle, const RECT* rect, int red, int green, int blue, int alpha);

// Copies sourceRect (null: the whole source) of one surface to (x, y) of another: a raw
// copy when the formats are equal, else through GDI. 0 or -1.
int BltSurfaceToSurface(IDirectDrawSurface7* dest, IDirectDrawSurface7* source, int x, int y,
                        const RECT* sourceRect, int unused);

}  // namespace gamelib
