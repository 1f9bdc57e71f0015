// Surface records and the operations on their DirectDraw surfaces.
#include "graphics/surfaces.h"

#include <cstring>

#include "gamelib/core.h"
#include "graphics/color_data.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"

namespace gamelib {
namespace {

FixedHandleTable<kMaxSurfaces> g_surfaces;
bool g_surfacesReady = false;

HandleTable* Table() {
  if (!g_surfacesReady) {
    InitHandleTable(&g_surfaces, kHandleTypeSurface);
    g_surfacesReady = true;
  }
  return &g_surfaces.table;
}

void ReleaseObject(IDirectDrawSurface7*& surface) {
  if (surface != nullptr) surface->Release();
  surface = nullptr;
}

// The layout of the surface: the slot's for a texture, the screen's otherwise.
bool ChooseFormat(SurfaceRecord& r) {
  if (r.kind == kSurfaceKindTexture) {
    const Graphics3DHooks& hooks = GetGraphics3DHooks();
    if (hooks.selectTextureFormatIndex == nullptr || hooks.getTextureFormat == nullptr) return false;
    r.textureFormatIndex = hooks.selectTextureFormatIndex(&r.create.useTexture);
    if (r.textureFormatIndex < 0) return false;
    if (hooks.getTextureFormat(r.textureFormatIndex, &r.pixelFormat, &r.colorData) != 0) return false;
  } else {
    r.textureFormatIndex = -1;
    r.pixelFormat = *GetScreenPixelFormat();
    if (CreateColorDataFromPixelFormat(&r.pixelFormat, &r.colorData) != 0) return false;
  }
  // An empty slot would make a surface of no format.
  return r.colorData.colorBitDepth != 0;
}

int MakeObjects(SurfaceRecord& r) {
  if (r.memImageFlag) {
    r.memImagePitch = r.width * r.colorData.pixelByte;
    r.memImagePixels = GAMELIB_ALLOC_ZEROED(static_cast<std::size_t>(r.memImagePitch) * r.height);
    return r.memImagePixels != nullptr ? 0 : -1;
  }
  IDirectDraw7* directDraw = GetDirectDrawObject();
  if (directDraw == nullptr) return -1;
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  desc.dwWidth = r.width;
  desc.dwHeight = r.height;
  desc.ddpfPixelFormat = r.pixelFormat;
  const DWORD memory = r.create.systemMemory ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY;
  if (r.kind == kSurfaceKindTexture) {
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | memory | (r.create.drawValid ? DDSCAPS_3DDEVICE : 0);
    if (r.create.textureManage) desc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
  } else {
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | memory | (r.create.drawValid ? DDSCAPS_3DDEVICE : 0);
  }
  if (directDraw->CreateSurface(&desc, &r.surface, nullptr) != DD_OK) {
    r.surface = nullptr;
    return -1;
  }
  // A texture that is drawn into gets a Z buffer when the device has a Z format.
  const Graphics3DHooks& hooks = GetGraphics3DHooks();
  const DDPIXELFORMAT* zFormat = hooks.getZBufferPixelFormat ? hooks.getZBufferPixelFormat() : nullptr;
  if (r.kind == kSurfaceKindTexture && r.create.drawValid && zFormat != nullptr &&
      zFormat->dwZBufferBitDepth != 0) {
    DDSURFACEDESC2 z{};
    z.dwSize = sizeof(z);
    z.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    z.dwWidth = r.width;
    z.dwHeight = r.height;
    z.ddpfPixelFormat = *zFormat;
    z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | memory;
    if (directDraw->CreateSurface(&z, &r.zSurface, nullptr) != DD_OK ||
        r.surface->AddAttachedSurface(r.zSurface) != DD_OK) {
      if (r.zSurface != nullptr) r.zSurface->Release();
      r.zSurface = nullptr;
      ReleaseObject(r.surface);
      return -1;
    }
  }
  return 0;
}

void FreeObjects(SurfaceRecord& r) {
  if (r.lockCount > 0 && r.surface != nullptr) r.surface->Unlock(nullptr);
  r.lockCount = 0;
  r.lockPointer = nullptr;
  r.lockPitch = 0;
  ReleaseObject(r.zSurface);
  ReleaseObject(r.surface);
  if (r.memImagePixels != nullptr) FreeMemory(r.memImagePixels);
  r.memImagePixels = nullptr;
}

}  // namespace

void InitializeSurfaceTable() {
  DeleteAllSurfaces();
  Table();
}

void DeleteAllSurfaces() {
  HandleTable* table = Table();
  for (int slot = table->highWater - 1; slot >= 0; --slot) {
    auto* r = static_cast<SurfaceRecord*>(ReleaseHandleSlot(table, slot));
    if (r == nullptr) continue;
    FreeObjects(*r);
    FreeMemory(r);
  }
}

int GetSurfaceCount() { return Table()->count; }

int AddSurface(int kind, int width, int height, std::uint32_t transColor,
               const SurfaceCreateBytes& createBytes) {
  HandleTable* table = Table();
  const int slot = FindFreeHandleSlot(table);
  if (slot < 0) return OutputLog("サーフェスのデータ数が許容量を越えました。\n");
  // Sizes are kept in 16 bits.
  if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return -1;
  if (kind != kSurfaceKindPlain && kind != kSurfaceKindTexture) return -1;
  auto* r = static_cast<SurfaceRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(SurfaceRecord)));
  if (r == nullptr) return -1;
  r->kind = kind;
  r->create = createBytes;
  r->memImageFlag = kind == kSurfaceKindPlain && createBytes.memImage ? 1 : 0;
  r->width = static_cast<std::uint16_t>(width);
  r->height = static_cast<std::uint16_t>(height);
  r->transColor = transColor & 0xFFFFFF;
  r->refCount = 1;
  if (!ChooseFormat(*r) || MakeObjects(*r) != 0) {
    FreeObjects(*r);
    FreeMemory(r);
    return -1;
  }
  return AddHandleRecord(table, slot, r);
}

SurfaceRecord* GetSurfaceRecord(int handle) {
  return static_cast<SurfaceRecord*>(GetHandleRecord(Table(), handle));
}

int IncSurfaceRefCount(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  return r == nullptr ? -1 : ++r->refCount;
}

int DecSurfaceRefCount(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  if (r->refCount > 0) --r->refCount;
  return r->refCount;
}

int DeleteSurface(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  FreeObjects(*r);
  ReleaseHandleSlot(Table(), HandleSlot(handle));
  FreeMemory(r);
  return 0;
}

int ReleaseSurfaceObjects(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  FreeObjects(*r);
  return 0;
}

int CreateSurfaceObject(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  if (r->surface != nullptr || r->memImagePixels != nullptr) return 0;
  if (MakeObjects(*r) != 0) {
    FreeObjects(*r);
    return -1;
  }
  return 0;
}

int SetSurfaceColorKey(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  if (r->surface == nullptr) return r->memImageFlag ? 0 : -1;
  DDCOLORKEY key{};
  key.dwColorSpaceLowValue = EncodePixel(r->colorData, r->transColor & 0xFFFFFF);
  key.dwColorSpaceHighValue = key.dwColorSpaceLowValue;
  return r->surface->SetColorKey(DDCKEY_SRCBLT, &key) == DD_OK ? 0 : -1;
}

int RestoreLostSurface(int handle) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr || r->surface == nullptr) return 0;
  int result = 0;
  for (IDirectDrawSurface7* s : {r->surface, r->zSurface}) {
    if (s != nullptr && s->IsLost() == DDERR_SURFACELOST) {
      s->Restore();
      result = -1;
    }
  }
  return result;
}

int LockSurface(int handle, int* pitch, void** pixels, int writeOnly, const RECT* rect,
                const ColorData** colorData) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  if (colorData != nullptr) *colorData = &r->colorData;
  if (r->lockCount > 0) {
    ++r->lockCount;
    if (pitch != nullptr) *pitch = r->lockPitch;
    if (pixels != nullptr) *pixels = r->lockPointer;
    return -2;
  }
  if (r->memImageFlag) {
    if (r->memImagePixels == nullptr) return -1;
    auto* p = static_cast<std::uint8_t*>(r->memImagePixels);
    if (rect != nullptr) {
      if (rect->left < 0 || rect->top < 0 || rect->right > r->width || rect->bottom > r->height ||
          rect->left >= rect->right || rect->top >= rect->bottom) {
        return OutputLog("グラフィックのロックに失敗しました\n");
      }
      p += static_cast<std::ptrdiff_t>(rect->top) * r->memImagePitch + rect->left * r->colorData.pixelByte;
    }
    r->lockPointer = p;
    r->lockPitch = r->memImagePitch;
  } else {
    if (r->surface == nullptr) return OutputLog("グラフィックのロックに失敗しました\n");
    CloseDeviceScene();
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    RECT area = rect != nullptr ? *rect : RECT{};
    const DWORD flags = writeOnly ? DDLOCK_WAIT | DDLOCK_WRITEONLY : DDLOCK_WAIT;
    if (r->surface->Lock(rect != nullptr ? &area : nullptr, &desc, flags, nullptr) != DD_OK ||
        desc.lpSurface == nullptr) {
      return OutputLog("グラフィックのロックに失敗しました\n");
    }
    r->lockPointer = desc.lpSurface;
    r->lockPitch = static_cast<int>(desc.lPitch);
  }
  r->lockCount = 1;
  if (pitch != nullptr) *pitch = r->lockPitch;
  if (pixels != nullptr) *pixels = r->lockPointer;
  return 0;
}

int UnlockSurface(int handle, RECT* rect) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr || r->lockCount <= 0) return -1;
  if (--r->lockCount == 0) {
    if (!r->memImageFlag && r->surface != nullptr) r->surface->Unlock(rect);
    r->lockPointer = nullptr;
    r->lockPitch = 0;
  }
  return 0;
}

int ClearSurface(int handle, int red, int green, int blue, int alpha) {
  return ClearSurfaceRect(handle, nullptr, red, green, blue, alpha);
}

int ClearSurfaceRect(int handle, const RECT* rect, int red, int green, int blue, int alpha) {
  SurfaceRecord* r = GetSurfaceRecord(handle);
  if (r == nullptr) return -1;
  const std::uint32_t color = GetColorForFormat(&r->colorData, red, green, blue, alpha);
  RECT area = rect != nullptr ? *rect : RECT{0, 0, r->width, r->height};
  if (area.left < 0 || area.top < 0 || area.right > r->width || area.bottom > r->height) return -1;
  if (area.left >= area.right || area.top >= area.bottom) return 0;
  if (r->memImageFlag) {
    if (r->memImagePixels == nullptr) return -1;
    for (LONG y = area.top; y < area.bottom; ++y) {
      auto* p =
          static_cast<std::uint8_t*>(r->memImagePixels) + static_cast<std::ptrdiff_t>(y) * r->memImagePitch;
      for (LONG x = area.left; x < area.right; ++x)
        WritePixelBytes(p + x * r->colorData.pixelByte, r->colorData.pixelByte, color);
    }
    return 0;
  }
  if (r->surface == nullptr) return -1;
  CloseDeviceScene();
  DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  fx.dwFillColor = color;
  return r->surface->Blt(rect != nullptr ? &area : nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT,
                         &fx) == DD_OK
             ? 0
             : -1;
}

int BltSurfaceToSurface(IDirectDrawSurface7* dest, IDirectDrawSurface7* source, int x, int y,
                        const RECT* sourceRect, int unused) {
  if (dest == nullptr || source == nullptr || x < 0 || y < 0) return -1;
  CloseDeviceScene();
  DDPIXELFORMAT destFormat{}, sourceFormat{};
  destFormat.dwSize = sourceFormat.dwSize = sizeof(DDPIXELFORMAT);
  dest->GetPixelFormat(&destFormat);
  source->GetPixelFormat(&sourceFormat);
  RECT area{};
  if (sourceRect != nullptr) {
    area = *sourceRect;
  } else {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    if (source->GetSurfaceDesc(&desc) != DD_OK) return -1;
    area = RECT{0, 0, static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
  }
  if (std::memcmp(&destFormat, &sourceFormat, sizeof(DDPIXELFORMAT)) == 0) {
    return dest->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y), source, &area, DDBLTFAST_NOCOLORKEY) ==
                   DD_OK
               ? 0
               : -1;
  }
  // Different layouts: GDI converts.
  HDC destDc = nullptr, sourceDc = nullptr;
  if (dest->GetDC(&destDc) != DD_OK) return -1;
  if (source->GetDC(&sourceDc) != DD_OK) {
    dest->ReleaseDC(destDc);
    return -1;
  }
  const BOOL done = BitBlt(destDc, x, y, area.right - area.left, area.bottom - area.top, sourceDc, area.left,
                           area.top, SRCCOPY);
  source->ReleaseDC(sourceDc);
  dest->ReleaseDC(destDc);
  return done ? 0 : -1;
}

}  // namespace gamelib
