// The texture format slots and Z slot chosen from the device's enumerations, the slot of
// a surface, and uploads of images into texture pieces.
#include "d3d/texture_formats.h"

#include <algorithm>
#include <cstring>

#include "d3d/device_record.h"
#include "d3d/texture_pieces.h"
#include "gamelib/core.h"
#include "graphics/color_data.h"
#include "graphics/graph_image_convert.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

void Store(int slot, const DDPIXELFORMAT& format, const ColorData& colorData) {
  TextureFormatRecord& record = GetDirect3DState().textureFormats[slot];
  record.pixelFormat = format;
  record.colorData = colorData;
}

bool Empty(int slot) { return GetDirect3DState().textureFormats[slot].colorData.colorBitDepth == 0; }

bool ValidImage(const GraphImage* image) {
  return image != nullptr && image->graphData != nullptr && image->width > 0 && image->height > 0 &&
         ValidateColorData(&image->colorData) &&
         image->pitch >= static_cast<std::int64_t>(image->width) * image->colorData.pixelByte;
}

}  // namespace

HRESULT EnumTextureFormatsCallback(DDPIXELFORMAT* format, void* found) {
  if (format == nullptr) return D3DENUMRET_OK;
  if ((format->dwFlags & (DDPF_LUMINANCE | DDPF_BUMPLUMINANCE | DDPF_BUMPDUDV)) != 0 ||
      format->dwFourCC != 0 || (format->dwFlags & DDPF_ALPHA) != 0) {
    return D3DENUMRET_OK;
  }
  ColorData c{};
  if (CreateColorDataFromPixelFormat(format, &c) != 0) return D3DENUMRET_OK;
  if (c.alphaWidth == 0) {
    const int slot = c.colorBitDepth == 16   ? kTextureFormatPlain16
                     : c.colorBitDepth == 32 ? kTextureFormatPlain32
                                             : -1;
    if (slot < 0) return D3DENUMRET_OK;
    // The first of a depth stays unless a later one is exactly the screen's.
    if (Empty(slot) || CompareColorData(&c, GetScreenColorData())) {
      Store(slot, *format, c);
      if (slot == kTextureFormatPlain16 && found != nullptr) *static_cast<int*>(found) = 1;
    }
    return D3DENUMRET_OK;
  }
  switch (c.alphaMask) {
    case 0xF000:
      Store(kTextureFormatAlpha16, *format, c);
      break;
    case 0xFF000000:
      Store(kTextureFormatAlpha32, *format, c);
      Store(kTextureFormatAlphaTest32, *format, c);
      break;
    case 0x8000:
      Store(kTextureFormatAlphaTest16, *format, c);
      break;
    default:
      break;
  }
  return D3DENUMRET_OK;
}

HRESULT EnumZBufferFormatsCallback(DDPIXELFORMAT* format, void* found) {
  if (format == nullptr) return D3DENUMRET_CANCEL;
  if (format->dwFlags != DDPF_ZBUFFER || format->dwFourCC != 0 || format->dwZBufferBitDepth != 16) {
    return D3DENUMRET_OK;
  }
  GetDirect3DState().zBufferFormat = *format;
  if (found != nullptr) *static_cast<int*>(found) = 1;
  return D3DENUMRET_CANCEL;
}

void CompleteTextureFormats() {
  TextureFormatRecord* slots = GetDirect3DState().textureFormats;
  static constexpr int kFill[][2] = {{1, 0}, {3, 2}, {4, 2}, {5, 3}, {6, 0}, {7, 1}, {8, 3}};
  for (const auto& [to, from] : kFill) {
    if (Empty(to)) slots[to] = slots[from];
  }
}

const TextureFormatRecord* GetTextureFormatEntry(int slot) {
  if (slot < 0 || slot >= kTextureFormatCount) return nullptr;
  return &GetDirect3DState().textureFormats[slot];
}

const ColorData* GetTextureFormatPixelFormat(int slot) {
  const TextureFormatRecord* record = GetTextureFormatEntry(slot);
  return record != nullptr ? &record->colorData : nullptr;
}

const DDPIXELFORMAT* GetZBufferPixelFormat() { return &GetDirect3DState().zBufferFormat; }

int SelectTextureFormatIndex(const SurfaceCreateBytes& b) {
  const int wide = b.bitDepth != 16 ? 1 : 0;
  if (b.drawValid)
    return b.alphaChannel == 1 || b.alphaTest == 1 ? kTextureFormatTargetAlpha
                                                   : kTextureFormatTarget16 + wide;
  if (b.alphaChannel) return kTextureFormatAlpha16 + wide;
  if (b.alphaTest) return kTextureFormatAlphaTest16 + wide;
  return kTextureFormatPlain16 + wide;
}

const ColorData* SelectTextureFormat(const SurfaceCreateBytes& createBytes) {
  return GetTextureFormatPixelFormat(SelectTextureFormatIndex(createBytes));
}

const ColorData* GetImageTextureFormat(int alphaChannel, int alphaTest, int use32Bit, int renderTarget) {
  SurfaceCreateBytes b{};
  b.alphaChannel = alphaChannel ? 1 : 0;
  b.alphaTest = alphaTest ? 1 : 0;
  b.drawValid = renderTarget ? 1 : 0;
  b.bitDepth = use32Bit ? 32 : 16;
  return SelectTextureFormat(b);
}

int BltGraphImageToTexture(const RECT* sourceRect, int textureX, int textureY, int piece,
                           const GraphImage* image, const GraphImage* alphaImage) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return -1;
  FlushVertexBuffer(state.currentDevice);
  Surface3DDataRecord* record = GetSurface3DData(piece);
  if (record == nullptr || sourceRect == nullptr || !ValidImage(image)) return -1;
  if (alphaImage != nullptr && !ValidImage(alphaImage)) return -1;
  SurfaceRecord* surface = GetSurfaceRecord(record->surface);
  const TextureFormatRecord* format =
      surface != nullptr ? GetTextureFormatEntry(surface->textureFormatIndex) : nullptr;
  if (format == nullptr || format->colorData.colorBitDepth == 0) return -1;

  // Clip the source to the image (and alpha image) and the destination to the texture,
  // moving both rectangles together.
  std::int64_t left = sourceRect->left, top = sourceRect->top, right = sourceRect->right,
               bottom = sourceRect->bottom;
  std::int64_t destX = textureX, destY = textureY;
  std::int64_t imageWidth = image->width, imageHeight = image->height;
  if (alphaImage != nullptr) {
    imageWidth = std::min<std::int64_t>(imageWidth, alphaImage->width);
    imageHeight = std::min<std::int64_t>(imageHeight, alphaImage->height);
  }
  if (left < 0) destX -= left, left = 0;
  if (top < 0) destY -= top, top = 0;
  if (destX < 0) left -= destX, destX = 0;
  if (destY < 0) top -= destY, destY = 0;
  right = std::min({right, imageWidth, left + (surface->width - destX)});
  bottom = std::min({bottom, imageHeight, top + (surface->height - destY)});
  if (right <= left || bottom <= top) return 0;
  const RECT source{static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
                    static_cast<LONG>(bottom)};
  RECT dest{static_cast<LONG>(destX), static_cast<LONG>(destY), static_cast<LONG>(destX + (right - left)),
            static_cast<LONG>(destY + (bottom - top))};

  const ColorData& target = format->colorData;
  int flags = 0;
  if (target.alphaWidth > 0 && alphaImage == nullptr && image->colorData.alphaWidth == 0) {
    flags |= kConvertOpaqueAlpha;
    if (surface->create.alphaTest) flags |= kConvertTransAlpha;
  }
  const void* alphaPixels = alphaImage != nullptr ? alphaImage->graphData : nullptr;
  const int alphaPitch = alphaImage != nullptr ? alphaImage->pitch : 0;
  const ColorData* alphaFormat = alphaImage != nullptr ? &alphaImage->colorData : nullptr;

  int pitch = 0;
  void* pixels = nullptr;
  const int locked = LockSurface(record->surface, &pitch, &pixels, 1, &dest, nullptr);
  if (locked == -2) {
    // Someone else's lock may be of another rectangle: writing through it is not safe.
    UnlockSurface3DData(piece, &dest);
    return -1;
  }
  if (locked == 0) {
    ConvertGraphImageBlt(pixels, pitch, &target, image->graphData, image->pitch, &image->colorData,
                         alphaPixels, alphaPitch, alphaFormat, 0, 0, &source, flags, surface->transColor);
    UnlockSurface3DData(piece, &dest);
  } else {
    D3DDeviceRecord* device = CurrentDeviceRecord();
    IDirectDraw7* directDraw = GetDirectDrawObject();
    if (device == nullptr || device->device == nullptr || directDraw == nullptr) return -1;
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
    desc.dwWidth = surface->width;
    desc.dwHeight = surface->height;
    desc.ddpfPixelFormat = format->pixelFormat;
    IDirectDrawSurface7* work = nullptr;
    if (FAILED(directDraw->CreateSurface(&desc, &work, nullptr)) || work == nullptr) {
      ExitWithError("テンポラリテクスチャサーフェスの作成に失敗しました");
    }
    DDSURFACEDESC2 lock{};
    lock.dwSize = sizeof(lock);
    if (FAILED(work->Lock(nullptr, &lock, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr)) ||
        lock.lpSurface == nullptr) {
      work->Release();
      return -1;
    }
    ConvertGraphImageBlt(lock.lpSurface, static_cast<int>(lock.lPitch), &target, image->graphData,
                         image->pitch, &image->colorData, alphaPixels, alphaPitch, alphaFormat, dest.left,
                         dest.top, &source, flags, surface->transColor);
    work->Unlock(nullptr);
    if (surface->surface != nullptr) surface->surface->Restore();
    POINT at{dest.left, dest.top};
    if (surface->surface == nullptr || FAILED(device->device->Load(surface->surface, &at, work, &dest, 0))) {
      work->Release();
      ExitWithError("作業用テクスチャサーフェスから描画用テクスチャサーフェスへの画像転送に失敗しました");
    }
    work->Release();
  }
  SetSurfaceColorKey(record->surface);
  return 0;
}

int BltGraphImageToGraph3DAt(const GraphImage* image, const GraphImage* alphaImage, int sourceX, int sourceY,
                             GraphRecord* graph) {
  if (!Direct3DAvailable() || graph == nullptr) return -1;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
    if (piece == nullptr) return -1;
    const RECT source{sourceX + piece->x, sourceY + piece->y, sourceX + piece->x + piece->width,
                      sourceY + piece->y + piece->height};
    if (BltGraphImageToTexture(&source, piece->textureX, piece->textureY, graph->pieces[i], image,
                               alphaImage) == -1) {
      return -1;
    }
  }
  return 0;
}

int BltGraphImageToGraph3D(const GraphImage* image, const GraphImage* alphaImage, const RECT* sourceRect,
                           int destX, int destY, GraphRecord* graph) {
  if (!Direct3DAvailable() || graph == nullptr || sourceRect == nullptr) return -1;
  const int width = sourceRect->right - sourceRect->left;
  const int height = sourceRect->bottom - sourceRect->top;
  for (int i = 0; i < graph->pieceCount && i < kMaxGraphPieces; ++i) {
    Surface3DDataRecord* piece = GetSurface3DData(graph->pieces[i]);
    if (piece == nullptr) return -1;
    const int px = piece->x, py = piece->y;
    if (!(px < destX + width && destX < px + piece->width && py < destY + height &&
          destY < py + piece->height)) {
      continue;
    }
    RECT source = *sourceRect;
    int offsetX = 0, offsetY = 0;
    if (destX < px) {
      source.left += px - destX;
    } else {
      offsetX = destX - px;
    }
    if (destY < py) {
      source.top += py - destY;
    } else {
      offsetY = destY - py;
    }
    source.right = std::min<LONG>(source.right, source.left + (piece->width - offsetX));
    source.bottom = std::min<LONG>(source.bottom, source.top + (piece->height - offsetY));
    if (source.right <= source.left || source.bottom <= source.top) continue;
    if (BltGraphImageToTexture(&source, piece->textureX + offsetX, piece->textureY + offsetY,
                               graph->pieces[i], image, alphaImage) == -1) {
      return -1;
    }
  }
  return 0;
}

}  // namespace gamelib
