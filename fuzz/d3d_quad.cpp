// Free quadrilaterals and grids on arbitrary input: the bytes pick a graph's size (one
// texture or many, or a plain surface for the software road), a blend mode and blend
// graph, corners (ordinary, huge, non-finite, crossing) and then a raw vertex grid for
// the strips. A crash, an access outside a surface, a device call the stand-in reports
// as a violation, or a leaked graph or block is a finding.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "core/log.h"
#include "core/memory.h"
#include "fuzz_input.h"
#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/draw_settings.h"
#include "d3d/quad_drawing.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"
#include "platform/sim.h"
#include "top/top.h"

namespace {

using fuzz::Check;

struct Input : fuzz::ByteReader {
  // A coordinate: mostly on or near the screen, sometimes huge, non-finite or raw bits.
  float Coordinate() {
    const std::uint8_t kind = Byte();
    if (kind < 160) return static_cast<float>(static_cast<int>(Dword() % 1400) - 380) + (kind & 3) * 0.25f;
    switch (kind % 6) {
      case 0:
        return std::numeric_limits<float>::infinity();
      case 1:
        return std::numeric_limits<float>::quiet_NaN();
      case 2:
        return 1e30f;
      case 3:
        return -3.0e9f;
      case 4:
        return static_cast<float>(static_cast<std::int32_t>(Dword()));
      default: {
        const std::uint32_t bits = Dword();
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        return f;
      }
    }
  }
};

// The screen with its device, started once; two device configurations make graphs of
// one texture and of many.
void StartOnce() {
  static bool started = false;
  if (started) return;
  started = true;
  sim::Reset();
  gamelib::SetOutApplicationLogValidFlag(1);
  gamelib::StartLog(nullptr);
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.trace = false;
  config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = 128;
  sim::ConfigureDisplay(config);
  gamelib::SetGraphMode(640, 480, 32);
  gamelib::SetGraphics3DHooks(gamelib::Direct3DHooks());
  Check(gamelib::InitializeGraphicsSystem() == 0);
}

int MakeGraph(Input& in, bool texture) {
  const int width = 1 + in.Byte() % 200 + (in.Byte() & 1) * 180;
  const int height = 1 + in.Byte() % 150;
  gamelib::SetUse3DFlag(texture ? 1 : 0);
  const int graph = gamelib::MakeGraph(width, height);
  gamelib::SetUse3DFlag(1);
  if (graph >= 0) gamelib::FillGraph(graph, in.Byte(), in.Byte(), in.Byte(), in.Byte());
  return graph;
}

void DrawQuads(Input& in, int graph) {
  const int draws = 1 + in.Byte() % 4;
  for (int k = 0; k < draws; ++k) {
    float c[8];
    for (float& v : c) v = in.Coordinate();
    gamelib::DrawQuadGraph(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], graph, in.Byte() & 1);
  }
}

void DrawStrips(Input& in) {
  const int columns = in.Byte() % 40, rows = in.Byte() % 40;
  std::vector<gamelib::D3DVertex1> grid(static_cast<std::size_t>(columns) * rows);
  for (gamelib::D3DVertex1& vertex : grid) {
    // Texture coordinates stay within a few wraps: the positions are what is under test.
    const float u = static_cast<float>(static_cast<int>(in.Byte()) - 128) / 32.0f;
    const float v = static_cast<float>(static_cast<int>(in.Byte()) - 128) / 32.0f;
    vertex = gamelib::D3DVertex1{in.Coordinate(), in.Coordinate(), 0.5f, 1.0f, in.Dword(), u, v};
  }
  const int device = gamelib::GetDirect3DState().currentDevice;
  gamelib::BeginSceneDevice(device);
  gamelib::DrawGridStrips(device, columns, grid.data(), rows);
  gamelib::EndCurrentScene();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartOnce();
  const std::size_t blocks = gamelib::GetMemoryUsage().blocks;
  const std::size_t surfaces = sim::LiveSurfaceIds().size();
  Input in{data, size};
  const std::uint8_t setup = in.Byte();
  gamelib::ResetDrawState();
  gamelib::SetDrawBlendMode(in.Byte() % 14, in.Byte());
  gamelib::SetDrawMode(setup & 1);
  gamelib::SetDrawArea(in.Byte() * 3 - 100, in.Byte() * 2 - 50, 640 - in.Byte(), 480 - in.Byte());
  const int graph = MakeGraph(in, (setup & 2) == 0);
  const int blend = (setup & 4) != 0 ? MakeGraph(in, true) : -1;
  if (blend >= 0) gamelib::SetBlendGraph(blend, in.Byte(), in.Byte());
  if (graph >= 0) DrawQuads(in, graph);
  gamelib::SetBlendGraph(-1, 0, 0);
  DrawStrips(in);
  gamelib::EndCurrentScene();
  Check(sim::DisplayViolations().empty());
  // The device holds the textures it has bound; let go of them before counting.
  const int device = gamelib::GetDirect3DState().currentDevice;
  gamelib::SetDeviceTexture(device, nullptr);
  gamelib::ApplyDrawSettings(device);
  gamelib::DeleteGraph(graph);
  gamelib::DeleteGraph(blend);
  Check(gamelib::GetMemoryUsage().blocks == blocks);
  Check(sim::LiveSurfaceIds().size() == surfaces);
  return 0;
}
