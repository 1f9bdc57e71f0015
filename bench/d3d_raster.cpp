// Fill rate of the 3-D device's rasteriser (portable and AVX2 paths) in the cases the
// back end draws most, on a 640 x 480 X8R8G8B8 target, beside SDL2's software renderer
// (SDL_RenderCopy, SDL_RenderCopyEx over an SDL_Surface) and pixman compositing the
// same textures: 64 x 64 and 256 x 256 sprites at 1:1 (SRCALPHA/INVSRCALPHA, ONE/ONE,
// opaque copy) and sprites turned 30 degrees with linear filtering. Then the states the
// library sets most: an opaque sprite (colour the texel, alpha the unused diffuse), flat
// boxes (copied and SRCALPHA/INVSRCALPHA) and the two-texture wipe (stage 0 alpha the
// wipe texture less the factor, stage 1 colour the picture and alpha four times that
// by the diffuse); the peers draw the nearest they have (a fill, a masked OVER).
//
// Names read sprite/mode/implementation; pix/s counts sprite area (what every
// implementation covers). "gate" fails when the two paths disagree on any row.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "d3d_raster.h"
#include "d3d_raster_internal.h"

namespace {

namespace raster = platform::raster;
using platform::pixel::Layout;

constexpr int kWidth = 640, kHeight = 480;

enum class Mode { Alpha, Add, Copy, Opaque, Fill, FillAlpha, Wipe };
const char* ModeName(Mode m) {
  const char* names[] = {"alpha", "add", "copy", "opaque", "fill", "fillalpha", "wipe"};
  return names[static_cast<int>(m)];
}
bool Flat(Mode m) { return m == Mode::Fill || m == Mode::FillAlpha; }
bool Blends(Mode m) { return m != Mode::Copy && m != Mode::Opaque && m != Mode::Fill; }
DWORD DiffuseOf(Mode m) {
  return m == Mode::Fill        ? 0xFF336699u
         : m == Mode::FillAlpha ? 0x80336699u
         : m == Mode::Wipe      ? 0x40FFFFFFu
                                : 0xFFFFFFFFu;
}

struct Row {
  int side;
  Mode mode;
  double degrees;  // 0: 1:1 and point sampling; else linear
  int count;       // sprites per iteration
};

const Row kRows[] = {
    {64, Mode::Alpha, 0, 64},   {256, Mode::Alpha, 0, 4},  {64, Mode::Add, 0, 64},
    {256, Mode::Add, 0, 4},     {64, Mode::Copy, 0, 64},   {256, Mode::Copy, 0, 4},
    {64, Mode::Alpha, 30, 64},  {256, Mode::Alpha, 30, 4}, {256, Mode::Opaque, 0, 4},
    {256, Mode::Opaque, 30, 4}, {256, Mode::Fill, 0, 4},   {256, Mode::FillAlpha, 0, 4},
    {256, Mode::Wipe, 0, 4},
};

std::string RowName(const Row& r) {
  return "sprite" + std::to_string(r.side) + (r.degrees != 0 ? "rot30linear/" : "/") + ModeName(r.mode);
}

std::uint32_t NextRandom(std::uint32_t& s) {
  s ^= s << 13, s ^= s >> 17, s ^= s << 5;
  return s;
}

struct Vertex {
  float x, y, z, rhw;
  DWORD diffuse;
  float u, v;
};

// Everything one row needs, built once.
struct World {
  const Row* row = nullptr;
  std::vector<std::uint32_t> target, start, texels, picture;  // picture: the wipe's second texture
  std::vector<std::pair<int, int>> positions;                 // sprite centres
  std::vector<Vertex> vertices;
  DWORD rs[kD3DRenderStateCount] = {};
  DWORD ss[kD3DMaxStages][kD3DStageStateCount] = {};
  raster::Surface texture, second;
  raster::State state;

  SDL_Surface* sdlTarget = nullptr;
  SDL_Renderer* sdlRenderer = nullptr;
  SDL_Texture* sdlTexture = nullptr;

  pixman_image_t* pxTarget = nullptr;
  pixman_image_t* pxSource = nullptr;
  pixman_image_t* pxMask = nullptr;  // the wipe's
};

World& GetWorld(int index) {
  static std::map<int, std::unique_ptr<World>> worlds;
  auto& slot = worlds[index];
  if (slot) return *slot;
  slot = std::make_unique<World>();
  World& w = *slot;
  const Row& r = kRows[index];
  w.row = &r;
  std::uint32_t seed = 1234 + index;
  w.texels.resize(std::size_t(r.side) * r.side);
  for (auto& t : w.texels) t = NextRandom(seed);  // alpha all over 0..255
  w.picture.resize(w.texels.size());
  for (auto& t : w.picture) t = NextRandom(seed);
  w.start.resize(std::size_t(kWidth) * kHeight);
  for (auto& p : w.start) p = NextRandom(seed) & 0xFFFFFF;
  w.target = w.start;
  const int margin = r.degrees != 0 ? int(r.side * 0.7) + 2 : r.side / 2 + 1;
  for (int k = 0; k < r.count; ++k)
    w.positions.push_back({margin + int(NextRandom(seed) % (kWidth - 2 * margin)),
                           margin + int(NextRandom(seed) % (kHeight - 2 * margin))});

  // The rasteriser: one list of two triangles per sprite, as the back end batches them.
  const double a = r.degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
  for (auto [cx, cy] : w.positions) {
    Vertex q[4];
    for (int k = 0; k < 4; ++k) {
      const double px = (k % 2 ? 0.5 : -0.5) * r.side, py = (k / 2 ? 0.5 : -0.5) * r.side;
      q[k] = {float(cx - 0.5 + px * c - py * s),
              float(cy - 0.5 + px * s + py * c),
              0,
              1,
              DiffuseOf(r.mode),
              float(k % 2),
              float(k / 2)};
    }
    for (int k : {0, 1, 2, 1, 3, 2}) w.vertices.push_back(q[k]);
  }
  w.texture.bits = reinterpret_cast<std::uint8_t*>(w.texels.data());
  w.texture.width = w.texture.height = r.side;
  w.texture.pitch = r.side * 4;
  w.texture.layout = r.mode == Mode::Opaque ? Layout::X8R8G8B8 : Layout::A8R8G8B8;
  w.second = w.texture;
  w.second.bits = reinterpret_cast<std::uint8_t*>(w.picture.data());
  w.second.layout = Layout::X8R8G8B8;
  const bool sourceAlpha = r.mode == Mode::Alpha || r.mode == Mode::FillAlpha || r.mode == Mode::Wipe;
  w.rs[D3DRENDERSTATE_CULLMODE] = D3DCULL_NONE;
  w.rs[D3DRENDERSTATE_ALPHABLENDENABLE] = Blends(r.mode);
  w.rs[D3DRENDERSTATE_SRCBLEND] = sourceAlpha ? D3DBLEND_SRCALPHA : D3DBLEND_ONE;
  w.rs[D3DRENDERSTATE_DESTBLEND] = sourceAlpha ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE;
  w.rs[D3DRENDERSTATE_TEXTUREFACTOR] = r.mode == Mode::Wipe ? 0x40000000u : 0xFFFFFFFFu;
  for (auto& stage : w.ss) stage[D3DTSS_COLOROP] = stage[D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
  w.ss[0][D3DTSS_COLOROP] = w.ss[0][D3DTSS_ALPHAOP] = D3DTOP_MODULATE;
  w.ss[0][D3DTSS_COLORARG1] = w.ss[0][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
  w.ss[0][D3DTSS_COLORARG2] = w.ss[0][D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
  w.ss[0][D3DTSS_ADDRESSU] = w.ss[0][D3DTSS_ADDRESSV] = D3DTADDRESS_CLAMP;
  w.ss[0][D3DTSS_MAGFILTER] = r.degrees != 0 ? D3DTFG_LINEAR : D3DTFG_POINT;
  w.state.texture[0] = &w.texture;
  if (r.mode == Mode::Opaque) {
    w.ss[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1, w.ss[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG2;
  } else if (Flat(r.mode)) {
    w.ss[0][D3DTSS_COLOROP] = w.ss[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG2;
    w.state.texture[0] = nullptr;
  } else if (r.mode == Mode::Wipe) {
    w.ss[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG2, w.ss[0][D3DTSS_ALPHAOP] = D3DTOP_SUBTRACT;
    w.ss[0][D3DTSS_ALPHAARG2] = D3DTA_TFACTOR;
    w.ss[1][D3DTSS_COLOROP] = D3DTOP_SELECTARG1, w.ss[1][D3DTSS_ALPHAOP] = D3DTOP_MODULATE4X;
    w.ss[1][D3DTSS_COLORARG1] = D3DTA_TEXTURE, w.ss[1][D3DTSS_COLORARG2] = D3DTA_CURRENT;
    w.ss[1][D3DTSS_ALPHAARG1] = D3DTA_CURRENT, w.ss[1][D3DTSS_ALPHAARG2] = D3DTA_DIFFUSE;
    w.ss[1][D3DTSS_ADDRESSU] = w.ss[1][D3DTSS_ADDRESSV] = D3DTADDRESS_CLAMP;
    w.ss[1][D3DTSS_MAGFILTER] = D3DTFG_POINT;
    w.state.texture[1] = &w.second;
  }
  w.state.renderState = w.rs;
  w.state.stageState = w.ss;
  w.state.target.bits = reinterpret_cast<std::uint8_t*>(w.target.data());
  w.state.target.width = kWidth, w.state.target.height = kHeight, w.state.target.pitch = kWidth * 4;
  w.state.target.layout = Layout::X8R8G8B8;
  w.state.viewport = {0, 0, kWidth, kHeight, 0, 1};

  // SDL2's software renderer over a surface in the target's format.
  w.sdlTarget = SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_XRGB8888);
  w.sdlRenderer = w.sdlTarget ? SDL_CreateSoftwareRenderer(w.sdlTarget) : nullptr;
  if (w.sdlRenderer) {
    SDL_Surface* texels = SDL_CreateRGBSurfaceWithFormatFrom(w.texels.data(), r.side, r.side, 32, r.side * 4,
                                                             SDL_PIXELFORMAT_ARGB8888);
    w.sdlTexture = SDL_CreateTextureFromSurface(w.sdlRenderer, texels);
    SDL_FreeSurface(texels);
    SDL_SetTextureScaleMode(w.sdlTexture, r.degrees != 0 ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    const SDL_BlendMode blend = r.mode == Mode::Add ? SDL_BLENDMODE_ADD
                                : Blends(r.mode)    ? SDL_BLENDMODE_BLEND
                                                    : SDL_BLENDMODE_NONE;
    SDL_SetTextureBlendMode(w.sdlTexture, blend);
    SDL_SetRenderDrawBlendMode(w.sdlRenderer, blend);
  }

  // pixman: the target over SDL's copy of it is not needed; its own pixels.
  static std::vector<std::vector<std::uint32_t>> pxPixels;
  pxPixels.push_back(w.start);
  w.pxTarget = pixman_image_create_bits(PIXMAN_x8r8g8b8, kWidth, kHeight, pxPixels.back().data(), kWidth * 4);
  w.pxSource =
      pixman_image_create_bits(r.mode == Mode::Wipe ? PIXMAN_x8r8g8b8 : PIXMAN_a8r8g8b8, r.side, r.side,
                               r.mode == Mode::Wipe ? w.picture.data() : w.texels.data(), r.side * 4);
  if (r.mode == Mode::Wipe)
    w.pxMask = pixman_image_create_bits(PIXMAN_a8r8g8b8, r.side, r.side, w.texels.data(), r.side * 4);
  pixman_image_set_filter(w.pxSource, r.degrees != 0 ? PIXMAN_FILTER_BILINEAR : PIXMAN_FILTER_NEAREST,
                          nullptr, 0);
  return w;
}

void SetRate(benchmark::State& state, const Row& r) {
  state.counters["pix/s"] = benchmark::Counter(double(r.side) * r.side * r.count * double(state.iterations()),
                                               benchmark::Counter::kIsRate);
}

void Draw(World& w) {
  raster::DrawTriangles(w.state, D3DPT_TRIANGLELIST, 0x144, w.vertices.data(), DWORD(w.vertices.size()),
                        nullptr, 0, nullptr);
}

void BM_Ours(benchmark::State& state, int index, raster::RasterPath path) {
  World& w = GetWorld(index);
  if (!raster::SetRasterPath(path)) {
    state.SkipWithError("path not available on this processor");
    return;
  }
  w.target = w.start;
  for (auto _ : state) {
    Draw(w);
    benchmark::ClobberMemory();
  }
  SetRate(state, *w.row);
  raster::SetRasterPath(raster::BestRasterPath());
}

void BM_Sdl(benchmark::State& state, int index) {
  World& w = GetWorld(index);
  if (!w.sdlTexture) {
    state.SkipWithError(SDL_GetError());
    return;
  }
  const Row& r = *w.row;
  for (auto _ : state) {
    for (auto [cx, cy] : w.positions) {
      const SDL_Rect dst{cx - r.side / 2, cy - r.side / 2, r.side, r.side};
      if (Flat(r.mode)) {
        const DWORD c = DiffuseOf(r.mode);
        SDL_SetRenderDrawColor(w.sdlRenderer, Uint8(c >> 16), Uint8(c >> 8), Uint8(c), Uint8(c >> 24));
        SDL_RenderFillRect(w.sdlRenderer, &dst);
      } else if (r.degrees != 0)
        SDL_RenderCopyEx(w.sdlRenderer, w.sdlTexture, nullptr, &dst, r.degrees, nullptr, SDL_FLIP_NONE);
      else
        SDL_RenderCopy(w.sdlRenderer, w.sdlTexture, nullptr, &dst);
    }
    SDL_RenderFlush(w.sdlRenderer);
    benchmark::ClobberMemory();
  }
  SetRate(state, r);
}

void BM_Pixman(benchmark::State& state, int index) {
  World& w = GetWorld(index);
  const Row& r = *w.row;
  const pixman_op_t op = r.mode == Mode::Add ? PIXMAN_OP_ADD
                         : Blends(r.mode)    ? PIXMAN_OP_OVER
                                             : PIXMAN_OP_SRC;
  const DWORD diffuse = DiffuseOf(r.mode);
  const pixman_color_t colour{std::uint16_t((diffuse >> 16 & 0xFF) * 257),
                              std::uint16_t((diffuse >> 8 & 0xFF) * 257),
                              std::uint16_t((diffuse & 0xFF) * 257), std::uint16_t((diffuse >> 24) * 257)};
  const double a = r.degrees * 3.14159265358979 / 180;
  const int box = r.degrees != 0 ? int(std::ceil(r.side * (std::cos(a) + std::sin(a)))) : r.side;
  for (auto _ : state) {
    for (auto [cx, cy] : w.positions) {
      if (Flat(r.mode)) {
        const pixman_rectangle16_t box16{std::int16_t(cx - r.side / 2), std::int16_t(cy - r.side / 2),
                                         std::uint16_t(r.side), std::uint16_t(r.side)};
        pixman_image_fill_rectangles(op, w.pxTarget, &colour, 1, &box16);
      } else if (r.degrees != 0) {
        // Destination to source: about the sprite's centre, turned back.
        pixman_transform_t t;
        pixman_transform_init_identity(&t);
        pixman_transform_translate(&t, nullptr, pixman_double_to_fixed(-box / 2.0),
                                   pixman_double_to_fixed(-box / 2.0));
        pixman_transform_rotate(&t, nullptr, pixman_double_to_fixed(std::cos(a)),
                                pixman_double_to_fixed(-std::sin(a)));
        pixman_transform_translate(&t, nullptr, pixman_double_to_fixed(r.side / 2.0),
                                   pixman_double_to_fixed(r.side / 2.0));
        pixman_image_set_transform(w.pxSource, &t);
        pixman_image_composite32(op, w.pxSource, nullptr, w.pxTarget, 0, 0, 0, 0, cx - box / 2, cy - box / 2,
                                 box, box);
      } else {
        pixman_image_composite32(op, w.pxSource, w.pxMask, w.pxTarget, 0, 0, 0, 0, cx - r.side / 2,
                                 cy - r.side / 2, r.side, r.side);
      }
    }
    benchmark::ClobberMemory();
  }
  SetRate(state, r);
}

// The AVX2 path must give the portable path's pixels on every row.
void BM_Gate(benchmark::State& state) {
  std::string bad;
  const bool avx2 = raster::SetRasterPath(raster::RasterPath::Avx2);
  for (auto _ : state) {
    if (!avx2) break;
    for (int i = 0; i < int(std::size(kRows)); ++i) {
      World& w = GetWorld(i);
      std::vector<std::uint32_t> images[2];
      for (int k = 0; k < 2; ++k) {
        raster::SetRasterPath(k ? raster::RasterPath::Avx2 : raster::RasterPath::Portable);
        w.target = w.start;
        Draw(w);
        images[k] = w.target;
      }
      if (images[0] != images[1]) bad += " " + RowName(kRows[i]);
    }
  }
  raster::SetRasterPath(raster::BestRasterPath());
  if (!avx2)
    state.SkipWithError("no AVX2 path on this processor");
  else if (!bad.empty())
    state.SkipWithError(("AVX2 differs from portable:" + bad).c_str());
}

int Register() {
  benchmark::RegisterBenchmark("gate/avx2_equals_portable", BM_Gate)->Iterations(1);
  for (int i = 0; i < int(std::size(kRows)); ++i) {
    const std::string name = RowName(kRows[i]);
    benchmark::RegisterBenchmark((name + "/ours_portable").c_str(), BM_Ours, i, raster::RasterPath::Portable)
        ->MinTime(0.2);
    benchmark::RegisterBenchmark((name + "/ours_avx2").c_str(), BM_Ours, i, raster::RasterPath::Avx2)
        ->MinTime(0.2);
    benchmark::RegisterBenchmark((name + "/sdl2").c_str(), BM_Sdl, i)->MinTime(0.2);
    benchmark::RegisterBenchmark((name + "/pixman").c_str(), BM_Pixman, i)->MinTime(0.2);
  }
  return 0;
}
const int registered = Register();

}  // namespace
