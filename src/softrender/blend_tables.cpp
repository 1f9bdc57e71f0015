#include <algorithm>
#include <iterator>

#include "graphics/draw_state.h"
#include "softrender/memimg.h"

namespace gamelib {

alignas(64) std::int32_t BrightnessTable[256][256];
alignas(64) std::int32_t SignedScaleTable[256][511];
namespace {
struct PaddedBorderTable {
  std::uint8_t table[256];
  std::uint8_t slack[4];
};
alignas(64) PaddedBorderTable borderStorage;
}  // namespace
std::uint8_t (&BlendBorderTable)[256] = borderStorage.table;

namespace {
bool tablesBuilt = false;
}

void InitializeBlendTables() {
  if (tablesBuilt) return;
  for (int c = 0; c < 256; ++c) {
    for (int v = 0; v < 256; ++v) BrightnessTable[c][v] = v * c / 255;
  }
  // C++ division truncates toward zero, as the table wants for negative d.
  for (int a = 0; a < 256; ++a) {
    for (int d = -255; d <= 255; ++d) SignedScaleTable[a][255 + d] = d * a / 255;
  }
  // A builder may never write the border table (see below): start from full weight.
  std::fill(std::begin(BlendBorderTable), std::end(BlendBorderTable), std::uint8_t{255});
  tablesBuilt = true;
}

int BuildBlendGraphBorderTable(int borderParameter, int borderRange) {
  InitializeBlendTables();
  const int p = std::clamp(borderParameter, 0, 255);
  const int r = std::clamp(borderRange, 0, 255);
  const int q = 256 - ((65536 / (r + 1) + 256) * p / 256);
  // Not positive: the table keeps its previous contents.
  if (q <= 0) return 0;
  for (int i = 0; i < 256; ++i) {
    BlendBorderTable[i] = static_cast<std::uint8_t>(std::min(255, i * 256 / (r + 1) + q));
  }
  return 0;
}

int SetBlendMemImg(const MEMIMG* image, int borderParameter, int borderRange) {
  DrawState& state = GetDrawState();
  state.blendGraph = -1;
  state.blendMemImg = image;
  state.blendBorderParameter = std::clamp(borderParameter, 0, 255);
  state.blendBorderRange = std::clamp(borderRange, 0, 255);
  if (image != nullptr) BuildBlendGraphBorderTable(borderParameter, borderRange);
  return 0;
}

const MEMIMG* GetBlendMemImg() { return GetDrawState().blendMemImg; }

}  // namespace gamelib
