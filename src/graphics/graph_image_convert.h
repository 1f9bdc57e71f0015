// Converting copies of pixel rectangles between layouts (image to texture, surface to
// image ...).
#pragma once

#include <cstdint>

#include "gamelib/graphics.h"
#include "platform/win32.h"

namespace gamelib {

// Destination alpha 255 where neither the source nor an alpha image gives one.
constexpr int kConvertOpaqueAlpha = 0x1;
// Source pixels whose colour equals the transparent colour get alpha 0.
constexpr int kConvertTransAlpha = 0x2;

// Copies `sourceRect` of the source to (destX, destY) of the destination, converting
// each pixel through 8-bit ARGB. An alpha image (its blue channel) replaces the source
// alpha. The caller keeps both rectangles inside their pixels. 0, or -1 for a layout
// without depth or with one this code does not move (source 8, 16 or 32 bits,
// destination 16 or 32), or a bad argument.
int ConvertGraphImageBlt(void* dest, int destPitch, const ColorData* destFormat, const void* source,
                         int sourcePitch, const ColorData* sourceFormat, const void* alpha, int alphaPitch,
                         const ColorData* alphaFormat, int destX, int destY, const RECT* sourceRect,
                         int flags, std::uint32_t transColor);

}  // namespace gamelib
