// Shared pieces of the drawing tests: a started screen of either depth, graphs with
// known texels, the back buffer read as 8-bit channels, and the device's blend written
// out channel by channel: out = min(255, round((s * SF + d * DF) / 255)).
#pragma once

#include <algorithm>
#include <array>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/graph_drawing.h"
#include "d3d/texture_pieces.h"
#include "display_fixture.h"
#include "graphics/graph_records.h"
#include "graphics/surfaces.h"

namespace gamelib {

inline std::uint32_t Div255(std::uint32_t n) { return (n + 127) / 255; }
inline std::uint32_t Channel(std::uint32_t argb, int c) {
  return (argb >> (8 * c)) & 0xFF;
}  // 0 b, 1 g, 2 r, 3 a

class DrawingTest : public DisplayTest {
 protected:
  void StartAt(int depth, const sim::DisplayConfig& config = sim::DefaultDisplayConfig(), int width = 640,
               int height = 480) {
    SetGraphMode(width, height, depth);
    Start(config);
    back_ = sim::SurfaceId(GetBackSurface());
    ASSERT_GT(back_, 0);
    ASSERT_EQ(IsUse3DDrawing(), 1);
  }
  // Everything batched reaches the surfaces.
  static void Settle() { EndCurrentScene(); }

  // A graph from a patterned X8R8G8B8 image (alpha from `alpha` when given).
  int MakePatternGraph(int width, int height, std::uint32_t seed, bool withAlpha = false) {
    images_.push_back(
        MakeTestImage(sim::MakePixelFormat(sim::PixelFormatName::X8R8G8B8), width, height, seed));
    if (!withAlpha) return CreateGraphFromGraphImage(&images_.back().image, nullptr);
    images_.push_back(
        MakeTestImage(sim::MakePixelFormat(sim::PixelFormatName::X8R8G8B8), width, height, seed + 99));
    return CreateGraphFromGraphImage(&images_[images_.size() - 2].image, &images_.back().image);
  }
  // The texture of a graph's first piece, and the place of texel (0, 0) in it.
  static int TextureOf(int graph, int* x0 = nullptr, int* y0 = nullptr) {
    const GraphRecord* g = GetGraphRecord(graph);
    const Surface3DDataRecord* piece = GetSurface3DData(g->pieces[0]);
    if (x0 != nullptr) *x0 = piece->textureX;
    if (y0 != nullptr) *y0 = piece->textureY;
    return sim::SurfaceId(GetSurfaceRecord(piece->surface)->surface);
  }
  std::uint32_t Texel(int graph, int x, int y) {
    int x0 = 0, y0 = 0;
    const int id = TextureOf(graph, &x0, &y0);
    return sim::ReadSurfacePixel(id, x0 + x, y0 + y);
  }
  std::uint32_t Pixel(int x, int y) { return sim::ReadSurfacePixel(back_, x, y) & 0xFFFFFF; }
  // Fills a rectangle of the back buffer with a pattern, or one colour.
  void Paint(int left, int top, int right, int bottom, std::uint32_t seed) {
    std::uint32_t s = seed * 747796405u + 1;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        s = s * 1664525u + 1013904223u;
        sim::WriteSurfacePixel(back_, x, y, seed == 0 ? 0 : (s >> 8) | 0xFF000000u);
      }
    }
  }
  // What the back buffer stores of an 8-bit channel value.
  std::uint32_t Quantize(std::uint32_t argb) const {
    const DDPIXELFORMAT f = sim::ViewSurface(back_).format;
    return MaskedToArgb(f, ArgbToMasked(f, argb)) & 0xFFFFFF;
  }

  std::vector<TestImage> images_;
  int back_ = -1;
};

}  // namespace gamelib
