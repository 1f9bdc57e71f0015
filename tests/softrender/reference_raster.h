// A plain model of the triangle rasteriser, pixel by pixel: whether the pixel is covered
// (and how often), which texel or colour it takes, and what the blend mode makes of it,
// each straight from the formulas. It shares no code with the library's kernels.
#pragma once

#include <cstdint>
#include <vector>

#include "gamelib/softrender.h"

namespace gamelib::reference {

struct RefState {
  int mode = 0;
  int param = 0;                                 // 0..255
  int bright[3] = {255, 255, 255};               // blue, green, red
  int left = 0, top = 0, right = 0, bottom = 0;  // draw area, right and bottom exclusive
  const std::uint8_t* border = nullptr;          // weight of each blend-image byte
};

struct RefStats {
  long pixels = 0;   // pixels that reached the blend formula
  long skipped = 0;  // inside the source but skipped by the colour key or the alpha test
};

// The draw state as the getters report it, with the border table the caller expects.
RefState DrawStateNow(const std::uint8_t* border);

// The portable kernel set, and the AVX2 one on a processor that has AVX2.
const std::vector<TriangleKernelSet>& KernelSetsToTest();

// What DrawMemImgTriangle does to dest (whose pixels may be a copy elsewhere).
void ReferenceTriangle(const MEMIMG& dest, const MEMIMG* src, const TriVertex v[3], int trans,
                       const MEMIMG* blend, std::uint32_t colour, const RefState& state, RefStats* stats);

}  // namespace gamelib::reference
