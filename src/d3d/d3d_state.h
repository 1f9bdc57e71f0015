// The global block of the 3-D back end and its start-up, shutdown, release and
// re-acquire. Every operation of the back end tests the Direct3D object first.
#pragma once

#include <cstdint>

#include "gamelib/graphics.h"
#include "platform/d3d.h"

namespace gamelib {

// One kept texture format: the device's pixel format and its layout (bit depth 0 while
// the slot is empty).
struct TextureFormatRecord {
  DDPIXELFORMAT pixelFormat;
  ColorData colorData;
};

// Slots of the texture formats.
constexpr int kTextureFormatPlain16 = 0;
constexpr int kTextureFormatPlain32 = 1;
constexpr int kTextureFormatAlpha16 = 2;
constexpr int kTextureFormatAlpha32 = 3;
constexpr int kTextureFormatAlphaTest16 = 4;
constexpr int kTextureFormatAlphaTest32 = 5;
constexpr int kTextureFormatTarget16 = 6;
constexpr int kTextureFormatTarget32 = 7;
constexpr int kTextureFormatTargetAlpha = 8;
constexpr int kTextureFormatCount = 9;

// Texture sizes used when the device reports 0, and the ceiling kept below 16-bit
// overflow of piece sizes.
constexpr std::uint32_t kDefaultMinTextureSize = 32;
constexpr std::uint32_t kDefaultMaxTextureSize = 256;
constexpr std::uint32_t kMaxTextureSizeCeiling = 32768;

struct Direct3DState {
  IDirect3D7* direct3D;  // null while the back end is not available
  int currentDevice;     // index of the D3DDeviceRecord drawn with
  D3DDEVICEDESC7 deviceDesc;
  std::uint32_t minTextureSize;  // powers of two
  std::uint32_t maxTextureSize;
  DDPIXELFORMAT zBufferFormat;  // all zero when none was found
  TextureFormatRecord textureFormats[kTextureFormatCount];
  int frontTarget;     // 1 while the render target is the front surface
  int memImageTarget;  // 1 while the draw target is a memory image
  int readBackMethod[2];
  D3DCOLOR drawDiffuseColor;
  float blendTextureWidth;
  float blendTextureHeight;
  float blendTextureWidthInverse;
  float blendTextureHeightInverse;
  int initialized;
};

Direct3DState& GetDirect3DState();
inline bool Direct3DAvailable() { return GetDirect3DState().direct3D != nullptr; }

// 0, or -1 when the object already exists or any step fails (then nothing is left).
int InitializeDirect3D();
// -1 without the object (unless a released start-up is still to be ended), else 0.
int TerminateDirect3D();
int ReleaseDirect3DObject();
int AcquireDirect3DAndDevice();
// Index of the new device record, or -1.
int CreateDirect3DDevice(IDirectDrawSurface7* surface);
int ReleaseDirect3DDevice(int device);
int DeleteAllDirect3DDevices();
HRESULT EnumDirect3DDeviceCallback(char* description, char* name, D3DDEVICEDESC7* desc, void* context);

}  // namespace gamelib
