// Uploading a 1024 x 1024 32-bit image into a graph that lives in a texture: straight
// into the texture's lock, with and without a conversion, and through the system-memory
// work texture and Load; beside a plain memcpy of the same 4 MB. bytes/s counts the
// image's bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_library.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "platform/sim.h"

namespace {

using namespace gamelib;

constexpr int kSide = 1024;
constexpr std::int64_t kBytes = std::int64_t{kSide} * kSide * 4;

// The library with its screen and 3-D device, started once for every benchmark.
struct Library : BenchLibrary {
  Library() : BenchLibrary(kSide, 768) {}
};

struct Image {
  std::vector<std::uint32_t> pixels;
  GraphImage image{};
  explicit Image(bool alpha) : pixels(static_cast<std::size_t>(kSide) * kSide) {
    std::uint32_t x = 12345;
    for (std::uint32_t& p : pixels) p = x = x * 1664525u + 1013904223u;
    CreateFullColorData(&image.colorData, alpha ? 1 : 0);
    image.width = image.height = kSide;
    image.pitch = kSide * 4;
    image.graphData = pixels.data();
  }
};

void Upload(benchmark::State& state, bool sourceAlpha, bool workTexture) {
  static Library library;
  Image image(sourceAlpha);
  Image shape(true);  // the graph: a 32-bit texture with alpha
  const int graph = CreateGraphFromGraphImage(&shape.image, nullptr);
  if (graph < 0) std::abort();
  if (workTexture) {
    sim::DisplayFault fault;
    fault.call = sim::DisplayCall::Lock;
    fault.match = [](const sim::DisplayCallRecord& r) {
      return (sim::ViewSurface(r.object).caps & DDSCAPS_SYSTEMMEMORY) == 0;
    };
    fault.times = -1;
    sim::AddDisplayFault(fault);
  }
  for (auto _ : state) {
    if (ReCreateGraphFromGraphImage(&image.image, nullptr, graph) != 0) std::abort();
  }
  sim::ClearDisplayFaults();
  DeleteGraph(graph);
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint32_t> from(static_cast<std::size_t>(kSide) * kSide, 7), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), static_cast<std::size_t>(kBytes));
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Memcpy)->Name("upload/memcpy");

void BM_Direct(benchmark::State& state) { Upload(state, true, false); }
BENCHMARK(BM_Direct)->Name("upload/direct_same_layout");
void BM_DirectConvert(benchmark::State& state) { Upload(state, false, false); }
BENCHMARK(BM_DirectConvert)->Name("upload/direct_opaque_alpha");
void BM_Work(benchmark::State& state) { Upload(state, true, true); }
BENCHMARK(BM_Work)->Name("upload/work_texture_same_layout");

}  // namespace
