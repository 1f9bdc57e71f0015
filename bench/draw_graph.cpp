// Sprites per second through DrawGraph: 64 x 64 alpha-channel sprites at random places on
// a 640 x 480 32-bit screen, alpha-blended, additive, and alternating the two per sprite,
// each frame ended by the flip; beside SDL2's software renderer drawing the same scene
// with SDL_RenderCopy. sprites/s counts sprites drawn.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bench_library.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "platform/sim.h"

namespace {

using namespace gamelib;

constexpr int kSpritesPerFrame = 1000;
constexpr int kSide = 64;

struct Place {
  int x, y;
};

std::vector<Place> Places() {
  std::vector<Place> out;
  std::uint32_t s = 2463534242u;
  for (int i = 0; i < kSpritesPerFrame; ++i) {
    s ^= s << 13, s ^= s >> 17, s ^= s << 5;
    out.push_back({static_cast<int>(s % (640 + kSide)) - kSide / 2,
                   static_cast<int>((s >> 12) % (480 + kSide)) - kSide / 2});
  }
  return out;
}

// A round sprite: colour gradient, alpha falling off toward the rim.
std::vector<std::uint32_t> SpritePixels() {
  std::vector<std::uint32_t> p(kSide * kSide);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const int dx = x - 32, dy = y - 32, d2 = dx * dx + dy * dy;
      const std::uint32_t a = d2 >= 1024 ? 0 : static_cast<std::uint32_t>(255 - d2 * 255 / 1024);
      p[y * kSide + x] =
          a << 24 | static_cast<std::uint32_t>(x * 4) << 16 | static_cast<std::uint32_t>(y * 4) << 8 | 0x80;
    }
  }
  return p;
}

struct Library : BenchLibrary {
  Library() : BenchLibrary(640, 480) {
    pixels = SpritePixels();
    GraphImage image{};
    CreateFullColorData(&image.colorData, 1);
    image.width = image.height = kSide;
    image.pitch = kSide * 4;
    image.graphData = pixels.data();
    sprite = CreateGraphFromGraphImage(&image, nullptr);
    if (sprite < 0) std::abort();
  }
  std::vector<std::uint32_t> pixels;
  int sprite = -1;
};

Library& Lib() {
  static Library library;
  return library;
}

// mode: 1 alpha, 2 additive, 0 alternating.
void LibraryFrames(benchmark::State& state, int mode) {
  Library& lib = Lib();
  const std::vector<Place> places = Places();
  for (auto _ : state) {
    for (int i = 0; i < kSpritesPerFrame; ++i) {
      const int m = mode != 0 ? mode : 1 + (i & 1);
      SetDrawBlendMode(m, 200);
      DrawGraph(places[i].x, places[i].y, lib.sprite, 1);
    }
    ScreenFlip();
  }
  SetDrawBlendMode(0, 0);
  state.counters["sprites/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSpritesPerFrame,
                                                   benchmark::Counter::kIsRate);
}

void SdlFrames(benchmark::State& state, int mode) {
  SDL_Surface* screen = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 32, SDL_PIXELFORMAT_XRGB8888);
  SDL_Renderer* renderer = SDL_CreateSoftwareRenderer(screen);
  std::vector<std::uint32_t> pixels = SpritePixels();
  SDL_Surface* sprite = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), kSide, kSide, 32, kSide * 4,
                                                           SDL_PIXELFORMAT_ARGB8888);
  SDL_Texture* texture = SDL_CreateTextureFromSurface(renderer, sprite);
  SDL_SetTextureAlphaMod(texture, 200);
  const std::vector<Place> places = Places();
  for (auto _ : state) {
    for (int i = 0; i < kSpritesPerFrame; ++i) {
      const int m = mode != 0 ? mode : 1 + (i & 1);
      SDL_SetTextureBlendMode(texture, m == 1 ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_ADD);
      const SDL_Rect dest{places[i].x, places[i].y, kSide, kSide};
      SDL_RenderCopy(renderer, texture, nullptr, &dest);
    }
    SDL_RenderPresent(renderer);
  }
  state.counters["sprites/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kSpritesPerFrame,
                                                   benchmark::Counter::kIsRate);
  SDL_DestroyTexture(texture);
  SDL_FreeSurface(sprite);
  SDL_DestroyRenderer(renderer);
  SDL_FreeSurface(screen);
}

BENCHMARK_CAPTURE(LibraryFrames, alpha / library, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SdlFrames, alpha / sdl2, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibraryFrames, add / library, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SdlFrames, add / sdl2, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibraryFrames, alternating / library, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SdlFrames, alternating / sdl2, 0)->Unit(benchmark::kMillisecond);

}  // namespace
