// Glyphs per second of one 40-character line of mixed Japanese and Latin text from a
// warm cache, drawn by the library's software road (into a memory image) and device
// road (texture cache pages through the 3-D device stand-in onto a 32-bit back buffer)
// and, side by side, rendered and blitted by SDL2_ttf with the same font file at the
// same size.
#include <SDL.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_library.h"
#include "gamelib/gamelib.h"
#include "platform/sim.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
constexpr const char* kLine = "Score 12345: 敵を倒せ! Level 7 ステージ開始 Ready?";  // 40 characters
constexpr int kLineCharacters = 40;
constexpr int kSize = 20;
constexpr int kWidth = 640;
constexpr int kHeight = 32;

void LibrarySoftware(benchmark::State& state, int kind) {
  const int font = gamelib::CreateFontToHandle(kFontFile, kSize, -1, kind);
  gamelib::MEMIMG target{};
  if (font < 0 || gamelib::CreateMemImg(&target, kWidth, kHeight, gamelib::kMemImgKind32, 0, 0, 0) != 0) {
    state.SkipWithError("no font or target");
    return;
  }
  // The first line warms the cache.
  gamelib::DrawStringWithFontCache(1, 0, 4, 0, 1.0, 1.0, kLine, 0xFFFFFF, &target, nullptr, 1, font, 0, -1, 0,
                                   nullptr);
  for (auto _ : state) {
    gamelib::DrawStringWithFontCache(1, 0, 4, 0, 1.0, 1.0, kLine, 0xFFFFFF, &target, nullptr, 1, font, 0, -1,
                                     0, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kLineCharacters);
  gamelib::DeleteMemImg(&target);
  gamelib::DeleteFontToHandle(font);
}

// The library with its screen and 3-D device, started once.
struct Library : BenchLibrary {
  Library() : BenchLibrary(kWidth, 480) {}
};

// The device draws each batch when it fills (every few lines), so the rasterising is
// counted in the average.
void LibraryDevice(benchmark::State& state, int kind) {
  static Library library;
  const int font = gamelib::CreateFontToHandle(kFontFile, kSize, -1, kind);
  const int white = gamelib::GetColor(255, 255, 255);
  gamelib::DrawStringToHandle(0, 4, kLine, white, font);
  for (auto _ : state) gamelib::DrawStringToHandle(0, 4, kLine, white, font);
  state.SetItemsProcessed(state.iterations() * kLineCharacters);
  gamelib::DeleteFontToHandle(font);
}

void SdlTtf(benchmark::State& state, bool blended) {
  if (TTF_WasInit() == 0 && TTF_Init() != 0) {
    state.SkipWithError("TTF_Init failed");
    return;
  }
  TTF_Font* font = TTF_OpenFont(kFontFile, kSize);
  SDL_Surface* target = SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_XRGB8888);
  if (font == nullptr || target == nullptr) {
    state.SkipWithError("no font or target");
    return;
  }
  const SDL_Color white{255, 255, 255, 255};
  auto render = [&] {
    SDL_Surface* line =
        blended ? TTF_RenderUTF8_Blended(font, kLine, white) : TTF_RenderUTF8_Solid(font, kLine, white);
    SDL_Rect at{0, 4, 0, 0};
    SDL_BlitSurface(line, nullptr, target, &at);
    SDL_FreeSurface(line);
  };
  render();  // warms SDL2_ttf's own glyph cache
  for (auto _ : state) {
    render();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kLineCharacters);
  SDL_FreeSurface(target);
  TTF_CloseFont(font);
}

BENCHMARK_CAPTURE(LibrarySoftware, plain, gamelib::kFontKindPlain)->Name("Plain/library_software");
BENCHMARK_CAPTURE(LibraryDevice, plain, gamelib::kFontKindPlain)->Name("Plain/library_device");
BENCHMARK_CAPTURE(SdlTtf, solid, false)->Name("Plain/sdl2_ttf_solid");
BENCHMARK_CAPTURE(LibrarySoftware, antialiased, gamelib::kFontKindAntialiased)
    ->Name("Antialiased/library_software");
BENCHMARK_CAPTURE(LibraryDevice, antialiased, gamelib::kFontKindAntialiased)
    ->Name("Antialiased/library_device");
BENCHMARK_CAPTURE(SdlTtf, blended, true)->Name("Antialiased/sdl2_ttf_blended");
BENCHMARK_CAPTURE(LibrarySoftware, edged, gamelib::kFontKindAntialiasedEdge)
    ->Name("AntialiasedEdge/library_software");

}  // namespace
