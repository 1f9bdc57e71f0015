// A second, deliberately plain rasteriser for one triangle: per pixel, per
// channel, with ordinary branches and 64-bit arithmetic. It shares no code with
// the library's kernels, so the differential test can hold the two against
// each other. Inputs are plain descriptions, not library records.
#pragma once

#include <cstdint>

namespace gamelib::reference {

struct RefImage {
  std::uint8_t* pixels = nullptr;  // first byte of row 0
  int width = 0;
  int height = 0;
  int pitch = 0;         // bytes per row
  int kind = 0;          // 0: 5-6-5 (or 32-bit with alpha), 1: 32-bit
  bool palette = false;  // one index byte per pixel
  bool alpha = false;    // alpha channel present
  std::uint32_t colorKey = 0;
  const void* paletteTable = nullptr;  // 256 entries in the image's own format
};

struct RefState {
  int areaLeft = 0, areaTop = 0, areaRight = 0, areaBottom = 0;  // right, bottom exclusive
  int blendMode = 0;
  int blendParam = 0;
  int brightRed = 255, brightGreen = 255, brightBlue = 255;
  const std::uint8_t* borderTable = nullptr;  // 256 weights, read when a blend image is given
};

struct RefVertex {
  int x, y, u, v;
};

// What one call did, for coverage counts.
struct RefStats {
  long pixels = 0;   // pixels that reached the blend formula (inside the source, not skipped)
  long skipped = 0;  // inside the source but skipped by the colour key or the alpha test
};

// Draws the triangle onto dest; src null means the flat colour.
void ReferenceDrawTriangle(const RefImage& dest, const RefImage* src, const RefVertex vertices[3], int trans,
                           const RefImage* blend, std::uint32_t colour, const RefState& state,
                           RefStats* stats = nullptr);

// The guard-bit word operations described channel by channel (not by the word
// formulas), exposed so a test can hold them against the word formulas.
std::uint32_t RefPackedAdd16(std::uint32_t d, std::uint32_t s);
std::uint32_t RefPackedSub16(std::uint32_t d, std::uint32_t s);
std::uint32_t RefPackedAdd32(std::uint32_t d, std::uint32_t s);
std::uint32_t RefPackedSub32(std::uint32_t d, std::uint32_t s);

// The border-weight table as the builder would leave it when it writes
// (returns false when it would leave the table untouched).
bool RefBorderTable(int param, int range, std::uint8_t out[256]);

}  // namespace gamelib::reference
