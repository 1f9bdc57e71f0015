#include "softrender/memimg.h"

#include <algorithm>
#include <cstring>

#include "gamelib/core.h"

namespace gamelib {

namespace {

// Largest side of any memory image: keeps pitch * height far from overflow.
constexpr int kMaxImageSide = 32768;
// Slack after the last row, so wide loads of the last texels never leave the block.
constexpr std::size_t kBlockPadding = 64;
constexpr std::size_t kPaletteBlockBytes = 2048;
constexpr std::size_t kPaletteBufferBytes = 1024;

void Clear(MEMIMG* image) {
  image->width = 0;
  image->height = 0;
  image->pixels = nullptr;
  image->shared = nullptr;
}

}  // namespace

int GetMemImgPixelBytes(int kind, int paletteFlag, int alphaFlag) {
  if (paletteFlag != 0) return 1;
  if (kind == kMemImgKind32 || alphaFlag != 0) return 4;
  return 2;
}

int GetMemImgPaletteBytes(int kind) { return kind == kMemImgKind32 ? 1024 : 512; }

int CreateMemImg(MEMIMG* image, int width, int height, int kind, int paletteFlag, int alphaFlag,
                 std::uint32_t colorKey) {
  if (image == nullptr) return -1;
  Clear(image);
  if (kind != kMemImgKind16 && kind != kMemImgKind32) return -1;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return -1;
  paletteFlag = paletteFlag != 0 ? 1 : 0;
  alphaFlag = alphaFlag != 0 ? 1 : 0;
  if (paletteFlag != 0 && alphaFlag != 0) return -1;

  const int bytes = GetMemImgPixelBytes(kind, paletteFlag, alphaFlag);
  const int pitch = (width * bytes + 3) & ~3;
  const std::size_t blockBytes = static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height);

  auto* record = static_cast<MemImgSharedRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(MemImgSharedRecord)));
  if (record == nullptr) return -1;
  auto* block = static_cast<std::uint8_t*>(GAMELIB_ALLOC_ZEROED(blockBytes + kBlockPadding));
  if (block == nullptr) {
    FreeMemory(record);
    return -1;
  }
  if (paletteFlag != 0) {
    // One block, two halves: the table the kernels read, and its backup copy.
    auto* palette = static_cast<std::uint8_t*>(GAMELIB_ALLOC_ZEROED(kPaletteBlockBytes));
    if (palette == nullptr) {
      FreeMemory(block);
      FreeMemory(record);
      return -1;
    }
    record->palette = palette;
    record->paletteBackup = palette + kPaletteBufferBytes;
  }
  record->pitch = pitch;
  record->colorKey = colorKey;
  record->kind = kind;
  record->paletteFlag = paletteFlag;
  record->alphaFlag = alphaFlag;
  record->block = block;
  record->width = width;
  record->height = height;
  record->referenceCount = 1;

  image->width = width;
  image->height = height;
  image->pixels = block;
  image->shared = record;
  return 0;
}

int DeriveMemImg(MEMIMG* image, const MEMIMG* base, int x, int y, int width, int height) {
  if (image == nullptr) return -1;
  if (base == nullptr || base->shared == nullptr || base->pixels == nullptr) {
    Clear(image);
    return -1;
  }
  if (x < 0 || y < 0 || width < 1 || height < 1 || width > base->width - x || height > base->height - y) {
    Clear(image);
    return -1;
  }
  MemImgSharedRecord* record = base->shared;
  const int bytes = GetMemImgPixelBytes(record->kind, record->paletteFlag, record->alphaFlag);
  std::uint8_t* pixels = MemImgRow(base, y) + static_cast<std::ptrdiff_t>(x) * bytes;
  record->referenceCount += 1;
  // The image may be base itself: fill it only after reading base.
  image->width = width;
  image->height = height;
  image->pixels = pixels;
  image->shared = record;
  return 0;
}

std::uint8_t* GetMemImgRow(const MEMIMG* image, int y) {
  if (image == nullptr || image->shared == nullptr || image->pixels == nullptr || y < 0 ||
      y >= image->height) {
    return nullptr;
  }
  return MemImgRow(image, y);
}

void DeleteMemImg(MEMIMG* image) {
  if (image == nullptr) return;
  MemImgSharedRecord* record = image->shared;
  Clear(image);
  if (record == nullptr) return;
  record->referenceCount -= 1;
  if (record->referenceCount > 0) return;
  if (record->palette != nullptr) FreeMemory(record->palette);
  FreeMemory(record->block);
  FreeMemory(record);
}

int TransferMemImgRect(MEMIMG* dest, int destX, int destY, const MemImgTransferSource* source, int srcX,
                       int srcY, int width, int height) {
  if (dest == nullptr || dest->shared == nullptr || dest->pixels == nullptr || source == nullptr) {
    return -1;
  }
  MemImgSharedRecord* record = dest->shared;
  const int bytes = GetMemImgPixelBytes(record->kind, record->paletteFlag, record->alphaFlag);
  if (source->width < 0 || source->height < 0) return -1;
  if ((source->width > 0 && source->height > 0) &&
      (source->pixels == nullptr ||
       static_cast<std::int64_t>(source->pitch) < static_cast<std::int64_t>(source->width) * bytes)) {
    return -1;
  }
  if (record->paletteFlag != 0 && source->palette == nullptr) return -1;

  // Clip against both images in 64 bits, so hostile offsets cannot wrap.
  std::int64_t sx = srcX, sy = srcY, dx = destX, dy = destY, w = width, h = height;
  if (sx < 0) {
    dx -= sx;
    w += sx;
    sx = 0;
  }
  if (sy < 0) {
    dy -= sy;
    h += sy;
    sy = 0;
  }
  if (dx < 0) {
    sx -= dx;
    w += dx;
    dx = 0;
  }
  if (dy < 0) {
    sy -= dy;
    h += dy;
    dy = 0;
  }
  w = std::min({w, source->width - sx, dest->width - dx});
  h = std::min({h, source->height - sy, dest->height - dy});
  if (w > 0 && h > 0) {
    const auto* from = static_cast<const std::uint8_t*>(source->pixels);
    for (std::int64_t row = 0; row < h; ++row) {
      const std::uint8_t* in = from + (sy + row) * source->pitch + sx * bytes;
      std::uint8_t* out = MemImgRow(dest, static_cast<int>(dy + row)) + dx * bytes;
      std::memmove(out, in, static_cast<std::size_t>(w * bytes));
    }
  }

  if (record->paletteFlag != 0) {
    if (record->kind == kMemImgKind16) {
      auto* table = static_cast<std::uint16_t*>(record->palette);
      for (int i = 0; i < 256; ++i) {
        const PaletteEntry& e = source->palette[i];
        table[i] = static_cast<std::uint16_t>((e.red & 0xF8) << 8 | (e.green & 0xFC) << 3 | e.blue >> 3);
      }
    } else {
      auto* table = static_cast<std::uint32_t*>(record->palette);
      for (int i = 0; i < 256; ++i) {
        const PaletteEntry& e = source->palette[i];
        table[i] =
            static_cast<std::uint32_t>(e.red) << 16 | static_cast<std::uint32_t>(e.green) << 8 | e.blue;
      }
    }
    std::memcpy(record->paletteBackup, record->palette,
                static_cast<std::size_t>(GetMemImgPaletteBytes(record->kind)));
  }
  return 0;
}

}  // namespace gamelib
