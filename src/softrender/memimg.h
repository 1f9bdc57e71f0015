// Memory images (MEMIMG and its shared record) and the blend tables of the software
// renderer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gamelib/softrender.h"

namespace gamelib {

// BrightnessTable[c][v] = trunc(v * c / 255).
extern std::int32_t BrightnessTable[256][256];
// SignedScaleTable[a][255 + d] = trunc(d * a / 255) toward zero, d = -255..255.
extern std::int32_t SignedScaleTable[256][511];
// Weight 0..255 of each blend-image byte; 255 everywhere until a builder writes it. The
// storage behind it has slack after entry 255, so that vector code may read whole words.
extern std::uint8_t (&BlendBorderTable)[256];

// Builds the three tables; later calls do nothing.
void InitializeBlendTables();

// Rebuilds BlendBorderTable for a border parameter and range (each clamped to 0..255).
// Where the formula's offset is not positive the table keeps what it held. Always 0.
int BuildBlendGraphBorderTable(int borderParameter, int borderRange);

// Size of one palette table in bytes: 512 for kind 0, 1024 for kind 1.
int GetMemImgPaletteBytes(int kind);

// Row y of an image.
inline std::uint8_t* MemImgRow(const MEMIMG* image, int y) {
  return image->pixels + static_cast<std::ptrdiff_t>(y) * image->shared->pitch;
}

}  // namespace gamelib
