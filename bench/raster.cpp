// Textured triangles per second: the library's rasteriser (portable and, where the
// processor has it, AVX2 kernels) beside SDL2's software renderer and pixman's
// triangle compositing, on the same quads, destinations and sources.
//
// Names read scene/destination/mode/implementation; the pix/s counter counts the
// pixels a quad covers (the same count for every implementation of a scene), and
// sprite scenes also give tri/s. "gate" fails when the kernel sets disagree.
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

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"

namespace {

using namespace gamelib;

struct Quad {
  int x[4], y[4];  // corners 1 (source top-left), 2 (top-right), 3 (bottom-left), 4
};

struct SceneSpec {
  const char* name;
  int destW, destH;
  int srcSide;
  int quadSide;
  double angleDeg;
  int count;
};

const SceneSpec kScenes[] = {
    {"large512", 512, 512, 256, 512, 0.0, 1},
    {"large512rot30", 720, 720, 256, 512, 30.0, 1},
    {"small16", 320, 240, 16, 16, 0.0, 256},
    {"sprite8", 320, 240, 8, 8, 0.0, 512},
};

struct ModeSpec {
  const char* name;
  int mode;
  int param;
};
const ModeSpec kModesBench[] = {
    {"copy", BlendNone, 255},
    {"alpha128", BlendAlpha, 128},
    {"add200", BlendAdd, 200},
    {"mul", BlendMul, 255},
};

enum class Variant { Plain, Trans, Blend };
const char* VariantName(Variant v) {
  return v == Variant::Plain ? "" : v == Variant::Trans ? "+trans" : "+blendimg";
}

std::uint32_t NextRandom(std::uint32_t& s) {
  s ^= s << 13, s ^= s >> 17, s ^= s << 5;
  return s;
}

std::vector<Quad> MakeQuads(const SceneSpec& sc) {
  std::vector<Quad> out;
  std::uint32_t seed = 12345;
  const double a = sc.angleDeg * 3.14159265358979 / 180.0;
  const double c = std::cos(a), s = std::sin(a);
  for (int i = 0; i < sc.count; ++i) {
    double ox, oy;
    if (sc.count == 1) {
      // Centre the quad in the destination.
      const double w = sc.quadSide * (std::fabs(c) + std::fabs(s));
      ox = (sc.destW - w) / 2 + sc.quadSide * std::fabs(s);
      oy = (sc.destH - w) / 2;
      if (sc.angleDeg == 0.0) ox = oy = 0;
    } else {
      ox = NextRandom(seed) % (sc.destW - sc.quadSide);
      oy = NextRandom(seed) % (sc.destH - sc.quadSide);
    }
    const double ux[4] = {0, 1, 0, 1}, vy[4] = {0, 0, 1, 1};
    Quad q;
    for (int k = 0; k < 4; ++k) {
      const double px = ux[k] * sc.quadSide, py = vy[k] * sc.quadSide;
      q.x[k] = int(std::lround(ox + px * c - py * s));
      q.y[k] = int(std::lround(oy + px * s + py * c));
    }
    out.push_back(q);
  }
  return out;
}

// Everything one scene needs for one destination kind, built once.
struct World {
  const SceneSpec* spec = nullptr;
  int kind = 1;
  std::vector<Quad> quads;
  long pixels = 0;  // covered by one pass over the quads
  MEMIMG dest{}, src{}, keyed{}, blend{};
  std::vector<std::uint8_t> destStart;  // initial destination contents

  // SDL2: a software renderer over a surface in the destination's format.
  SDL_Surface* sdlDest = nullptr;
  SDL_Renderer* sdlRenderer = nullptr;
  SDL_Texture* sdlTexture = nullptr;
  std::vector<SDL_Vertex> sdlVertices;

  // pixman: destination over our own pixels, opaque and half-transparent sources.
  pixman_image_t* pxDest = nullptr;
  pixman_image_t* pxOpaque = nullptr;
  pixman_image_t* pxHalf = nullptr;
  std::vector<std::uint32_t> pxHalfPixels;
  std::vector<pixman_triangle_t> pxTriangles;
};

void FillTexels(MEMIMG& img, std::uint32_t seed, std::uint32_t avoid) {
  const int bpp = GetMemImgPixelBytes(img.shared->kind, img.shared->paletteFlag, img.shared->alphaFlag);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      std::uint32_t v = NextRandom(seed) | 0x00010101u;
      if (v == avoid || (bpp == 2 && (v & 0xFFFF) == avoid)) v ^= 0x20;
      std::memcpy(GetMemImgRow(&img, y) + std::size_t(x) * bpp, &v, bpp);
    }
}

long CountCovered(World& w) {
  // Copy mode onto a cleared destination from a source with no zero texel.
  const std::size_t bytes = std::size_t(w.dest.height) * w.dest.shared->pitch;
  std::memset(w.dest.pixels, 0, bytes);
  SetDrawBlendMode(BlendNone, 255);
  SetBlendMemImg(nullptr, 0, 0);
  for (const Quad& q : w.quads)
    DrawQuadGraphSoft(&w.dest, q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3], &w.src, 0);
  const int bpp = w.kind == 0 ? 2 : 4;
  long n = 0;
  for (int y = 0; y < w.dest.height; ++y)
    for (int x = 0; x < w.dest.width; ++x) {
      std::uint32_t v = 0;
      std::memcpy(&v, GetMemImgRow(&w.dest, y) + std::size_t(x) * bpp, bpp);
      n += v != 0;
    }
  std::memcpy(w.dest.pixels, w.destStart.data(), bytes);
  return n;
}

void BuildSdl(World& w) {
  const Uint32 fmt = w.kind == 0 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_XRGB8888;
  w.sdlDest = SDL_CreateRGBSurfaceWithFormat(0, w.spec->destW, w.spec->destH, w.kind == 0 ? 16 : 32, fmt);
  w.sdlRenderer = w.sdlDest ? SDL_CreateSoftwareRenderer(w.sdlDest) : nullptr;
  if (!w.sdlRenderer) return;
  const int side = w.spec->srcSide;
  // The same texels as the library's source, opaque.
  SDL_Surface* texels = SDL_CreateRGBSurfaceWithFormat(0, side, side, 32, SDL_PIXELFORMAT_ARGB8888);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      std::uint32_t v;
      if (w.kind == 1) {
        std::memcpy(&v, GetMemImgRow(&w.src, y) + x * 4, 4);
      } else {
        std::uint16_t p;
        std::memcpy(&p, GetMemImgRow(&w.src, y) + x * 2, 2);
        const std::uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
        v = (r << 19 | (r >> 2) << 16) | (g << 10 | (g >> 4) << 8) | (b << 3 | b >> 2);
      }
      reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(texels->pixels) + y * texels->pitch)[x] =
          v | 0xFF000000u;
    }
  w.sdlTexture = SDL_CreateTextureFromSurface(w.sdlRenderer, texels);
  SDL_FreeSurface(texels);
  SDL_SetTextureScaleMode(w.sdlTexture, SDL_ScaleModeNearest);
  const float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (const Quad& q : w.quads)
    for (int k : {0, 1, 2, 1, 2, 3}) {
      SDL_Vertex v;
      v.position = {float(q.x[k]), float(q.y[k])};
      v.color = {255, 255, 255, 255};
      v.tex_coord = {uv[k][0], uv[k][1]};
      w.sdlVertices.push_back(v);
    }
}

pixman_fixed_t Fx(double v) { return pixman_double_to_fixed(v); }

void BuildPixman(World& w) {
  const pixman_format_code_t fmt = w.kind == 0 ? PIXMAN_r5g6b5 : PIXMAN_x8r8g8b8;
  w.pxDest = pixman_image_create_bits(fmt, w.spec->destW, w.spec->destH,
                                      reinterpret_cast<std::uint32_t*>(w.dest.pixels), w.dest.shared->pitch);
  // The opaque source shares our source's pixels; the half-transparent one is premultiplied.
  w.pxOpaque = pixman_image_create_bits(fmt, w.src.width, w.src.height,
                                        reinterpret_cast<std::uint32_t*>(w.src.pixels), w.src.shared->pitch);
  const int side = w.spec->srcSide;
  w.pxHalfPixels.resize(std::size_t(side) * side);
  std::uint32_t seed = 7;
  for (auto& p : w.pxHalfPixels) p = (NextRandom(seed) & 0x007F7F7F) | 0x80000000u;
  w.pxHalf = pixman_image_create_bits(PIXMAN_a8r8g8b8, side, side, w.pxHalfPixels.data(), side * 4);
  // Destination space to source space, from the first quad's corners 1, 2, 3 (the
  // quads of a scene differ only by translation; each draw uses its own offset).
  const Quad& q = w.quads[0];
  const double ax = (q.x[1] - q.x[0]) / double(side), ay = (q.y[1] - q.y[0]) / double(side);
  const double bx = (q.x[2] - q.x[0]) / double(side), by = (q.y[2] - q.y[0]) / double(side);
  const double det = ax * by - bx * ay;
  const double i00 = by / det, i01 = -bx / det, i10 = -ay / det, i11 = ax / det;
  pixman_transform_t t;
  pixman_transform_init_identity(&t);
  t.matrix[0][0] = Fx(i00), t.matrix[0][1] = Fx(i01), t.matrix[0][2] = 0;
  t.matrix[1][0] = Fx(i10), t.matrix[1][1] = Fx(i11), t.matrix[1][2] = 0;
  for (pixman_image_t* img : {w.pxOpaque, w.pxHalf}) {
    pixman_image_set_transform(img, &t);
    pixman_image_set_filter(img, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_set_repeat(img, PIXMAN_REPEAT_NONE);
  }
  for (const Quad& qq : w.quads)
    for (int tri = 0; tri < 2; ++tri) {
      pixman_triangle_t t3;
      const int a = tri, b = tri + 1, c = tri + 2;
      t3.p1 = {Fx(qq.x[a]), Fx(qq.y[a])};
      t3.p2 = {Fx(qq.x[b]), Fx(qq.y[b])};
      t3.p3 = {Fx(qq.x[c]), Fx(qq.y[c])};
      w.pxTriangles.push_back(t3);
    }
}

World& GetWorld(int sceneIndex, int kind) {
  static std::map<std::pair<int, int>, std::unique_ptr<World>> worlds;
  auto& slot = worlds[{sceneIndex, kind}];
  if (slot) return *slot;
  slot = std::make_unique<World>();
  World& w = *slot;
  w.spec = &kScenes[sceneIndex];
  w.kind = kind;
  w.quads = MakeQuads(*w.spec);
  const int side = w.spec->srcSide;
  CreateMemImg(&w.dest, w.spec->destW, w.spec->destH, kind, 0, 0, 0);
  CreateMemImg(&w.src, side, side, kind, 0, 0, 0);
  const std::uint32_t key = kind == 0 ? 0x1234 : 0x00123456;
  CreateMemImg(&w.keyed, side, side, kind, 0, 0, key);
  CreateMemImg(&w.blend, side, side, kind, 1, 0, 0);
  FillTexels(w.src, 1, 0);
  FillTexels(w.keyed, 2, key);
  std::uint32_t seed = 3;
  for (int y = 0; y < side; ++y)  // a quarter of the keyed texels are the key
    for (int x = 0; x < side; ++x)
      if (NextRandom(seed) % 4 == 0)
        std::memcpy(GetMemImgRow(&w.keyed, y) + std::size_t(x) * (kind == 0 ? 2 : 4), &key,
                    kind == 0 ? 2 : 4);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) GetMemImgRow(&w.blend, y)[x] = std::uint8_t(NextRandom(seed));
  const std::size_t bytes = std::size_t(w.dest.height) * w.dest.shared->pitch;
  w.destStart.resize(bytes);
  for (auto& b : w.destStart) b = std::uint8_t(NextRandom(seed));
  std::memcpy(w.dest.pixels, w.destStart.data(), bytes);
  SetDrawScreenSize(w.spec->destW, w.spec->destH);
  w.pixels = CountCovered(w);
  BuildSdl(w);
  BuildPixman(w);
  return w;
}

void Prepare(World& w, const ModeSpec& m, Variant v) {
  ResetDrawState();
  SetDrawScreenSize(w.spec->destW, w.spec->destH);
  SetDrawBlendMode(m.mode, m.param);
  SetDrawBrightness(255, 255, 255);
  SetBlendMemImg(v == Variant::Blend ? &w.blend : nullptr, 64, 255);
  std::memcpy(w.dest.pixels, w.destStart.data(), w.destStart.size());
}

void SetRates(benchmark::State& state, const World& w) {
  state.counters["pix/s"] =
      benchmark::Counter(double(w.pixels) * double(state.iterations()), benchmark::Counter::kIsRate);
  if (w.spec->count > 1)
    state.counters["tri/s"] =
        benchmark::Counter(2.0 * w.spec->count * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Gamelib(benchmark::State& state, int scene, int kind, ModeSpec m, Variant v, TriangleKernelSet set) {
  World& w = GetWorld(scene, kind);
  if (SetTriangleKernelSet(set) != 0) {
    state.SkipWithError("kernel set not available on this processor");
    return;
  }
  Prepare(w, m, v);
  const MEMIMG* src = v == Variant::Trans ? &w.keyed : &w.src;
  const int trans = v == Variant::Trans;
  for (auto _ : state) {
    for (const Quad& q : w.quads)
      DrawQuadGraphSoft(&w.dest, q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3], src, trans);
    benchmark::ClobberMemory();
  }
  SetRates(state, w);
  SetTriangleKernelSet(GetBestTriangleKernelSet());
  SetBlendMemImg(nullptr, 0, 0);
}

void BM_Sdl(benchmark::State& state, int scene, int kind, ModeSpec m) {
  World& w = GetWorld(scene, kind);
  if (!w.sdlTexture) {
    state.SkipWithError(SDL_GetError());
    return;
  }
  SDL_BlendMode mode = SDL_BLENDMODE_NONE;
  Uint8 alpha = 255;
  switch (m.mode) {
    case BlendAlpha:
      mode = SDL_BLENDMODE_BLEND, alpha = Uint8(m.param);
      break;
    case BlendAdd:
      mode = SDL_BLENDMODE_ADD;
      break;
    case BlendMul:
      mode = SDL_BLENDMODE_MOD;
      break;
    default:
      break;
  }
  SDL_SetTextureBlendMode(w.sdlTexture, mode);
  SDL_SetTextureAlphaMod(w.sdlTexture, alpha);
  for (auto _ : state) {
    SDL_RenderGeometry(w.sdlRenderer, w.sdlTexture, w.sdlVertices.data(), int(w.sdlVertices.size()), nullptr,
                       0);
    SDL_RenderFlush(w.sdlRenderer);
    benchmark::ClobberMemory();
  }
  SetRates(state, w);
}

void BM_Pixman(benchmark::State& state, int scene, int kind, ModeSpec m) {
  World& w = GetWorld(scene, kind);
  pixman_op_t op = PIXMAN_OP_OVER;
  pixman_image_t* src = w.pxOpaque;
  switch (m.mode) {
    case BlendAlpha:
      src = w.pxHalf;
      break;
    case BlendAdd:
      op = PIXMAN_OP_ADD;
      break;
    case BlendMul:
      op = PIXMAN_OP_MULTIPLY;
      break;
    default:
      break;
  }
  const int per = 2;
  for (auto _ : state) {
    for (std::size_t i = 0; i < w.quads.size(); ++i) {
      // Source origin at the quad's corner 1.
      const Quad& q = w.quads[i];
      pixman_composite_triangles(op, src, w.pxDest, PIXMAN_a1, -q.x[0], -q.y[0], 0, 0, per,
                                 &w.pxTriangles[i * per]);
    }
    benchmark::ClobberMemory();
  }
  SetRates(state, w);
}

// The AVX2 kernels must give the portable kernels' pixels on every benchmarked case.
void BM_Gate(benchmark::State& state) {
  std::string bad;
  const bool avx2 = SetTriangleKernelSet(TriangleKernelSet::Avx2) == 0;
  for (auto _ : state) {
    if (!avx2) break;
    for (int s = 0; s < int(std::size(kScenes)); ++s)
      for (int kind = 0; kind <= 1; ++kind)
        for (const ModeSpec& m : kModesBench)
          for (Variant v : {Variant::Plain, Variant::Trans, Variant::Blend}) {
            World& w = GetWorld(s, kind);
            std::vector<std::uint8_t> images[2];
            for (int k = 0; k < 2; ++k) {
              SetTriangleKernelSet(k ? TriangleKernelSet::Avx2 : TriangleKernelSet::Portable);
              Prepare(w, m, v);
              for (const Quad& q : w.quads)
                DrawQuadGraphSoft(&w.dest, q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3],
                                  v == Variant::Trans ? &w.keyed : &w.src, v == Variant::Trans);
              images[k].assign(w.dest.pixels, w.dest.pixels + w.destStart.size());
            }
            if (images[0] != images[1])
              bad += std::string(" ") + w.spec->name + "/" + (kind ? "32" : "16") + "/" + m.name +
                     VariantName(v);
          }
  }
  SetTriangleKernelSet(GetBestTriangleKernelSet());
  SetBlendMemImg(nullptr, 0, 0);
  if (!avx2)
    state.SkipWithError("no AVX2 kernels on this processor");
  else if (!bad.empty())
    state.SkipWithError(("AVX2 differs from portable:" + bad).c_str());
}

// How many of the covered pixels each peer sets exactly as the library does in copy
// mode: a check that the peers sample the same texels at the same places.
void BM_PeerAgreement(benchmark::State& state, int scene, int kind) {
  World& w = GetWorld(scene, kind);
  std::vector<std::uint8_t> ours, sdl, px;
  const std::size_t bytes = w.destStart.size();
  for (auto _ : state) {
    Prepare(w, kModesBench[0], Variant::Plain);
    for (const Quad& q : w.quads)
      DrawQuadGraphSoft(&w.dest, q.x[0], q.y[0], q.x[1], q.y[1], q.x[2], q.y[2], q.x[3], q.y[3], &w.src, 0);
    ours.assign(w.dest.pixels, w.dest.pixels + bytes);
    std::memcpy(w.dest.pixels, w.destStart.data(), bytes);
    for (std::size_t i = 0; i < w.quads.size(); ++i)
      pixman_composite_triangles(PIXMAN_OP_OVER, w.pxOpaque, w.pxDest, PIXMAN_a1, -w.quads[i].x[0],
                                 -w.quads[i].y[0], 0, 0, 2, &w.pxTriangles[i * 2]);
    px.assign(w.dest.pixels, w.dest.pixels + bytes);
    std::memcpy(w.dest.pixels, w.destStart.data(), bytes);
    if (w.sdlTexture) {
      for (int y = 0; y < w.sdlDest->h; ++y)
        std::memcpy(static_cast<std::uint8_t*>(w.sdlDest->pixels) + y * w.sdlDest->pitch,
                    w.destStart.data() + std::size_t(y) * w.dest.shared->pitch,
                    std::size_t(w.sdlDest->w) * (kind ? 4 : 2));
      SDL_SetTextureBlendMode(w.sdlTexture, SDL_BLENDMODE_NONE);
      SDL_SetTextureAlphaMod(w.sdlTexture, 255);
      SDL_RenderGeometry(w.sdlRenderer, w.sdlTexture, w.sdlVertices.data(), int(w.sdlVertices.size()),
                         nullptr, 0);
      SDL_RenderFlush(w.sdlRenderer);
    }
  }
  const int bpp = kind ? 4 : 2, cmp = kind ? 3 : 2;  // the unused top byte is not compared
  long same[2] = {0, 0}, covered[2] = {0, 0};
  for (int y = 0; y < w.dest.height; ++y)
    for (int x = 0; x < w.dest.width; ++x) {
      const std::size_t o = std::size_t(y) * w.dest.shared->pitch + std::size_t(x) * bpp;
      if (std::memcmp(&ours[o], &w.destStart[o], cmp) == 0) continue;  // not covered by us
      const std::uint8_t* peer[2] = {&px[o], w.sdlTexture ? static_cast<std::uint8_t*>(w.sdlDest->pixels) +
                                                                y * w.sdlDest->pitch + x * bpp
                                                          : &w.destStart[o]};
      for (int k = 0; k < 2; ++k) {
        same[k] += std::memcmp(&ours[o], peer[k], cmp) == 0;
        covered[k] += std::memcmp(&w.destStart[o], peer[k], cmp) != 0;
      }
    }
  state.counters["pixman_covered"] = double(covered[0]) / double(w.pixels);
  state.counters["pixman_same"] = double(same[0]) / double(w.pixels);
  state.counters["sdl2_covered"] = double(covered[1]) / double(w.pixels);
  state.counters["sdl2_same"] = double(same[1]) / double(w.pixels);
}

int Register() {
  benchmark::RegisterBenchmark("gate/avx2_equals_portable", BM_Gate)->Iterations(1);
  for (int s = 0; s < int(std::size(kScenes)); ++s)
    for (int kind : {1, 0})
      benchmark::RegisterBenchmark(
          (std::string("gate/peers_same_pixels/") + kScenes[s].name + (kind ? "/xrgb32" : "/rgb565")).c_str(),
          BM_PeerAgreement, s, kind)
          ->Iterations(1);
  for (int s = 0; s < int(std::size(kScenes)); ++s)
    for (int kind : {1, 0}) {
      const std::string base = std::string(kScenes[s].name) + (kind ? "/xrgb32/" : "/rgb565/");
      for (const ModeSpec& m : kModesBench) {
        const std::string name = base + m.name;
        for (Variant v : {Variant::Plain, Variant::Trans, Variant::Blend}) {
          if (v != Variant::Plain && kScenes[s].angleDeg != 0.0) continue;
          benchmark::RegisterBenchmark((name + VariantName(v) + "/gamelib_portable").c_str(), BM_Gamelib, s,
                                       kind, m, v, TriangleKernelSet::Portable)
              ->MinTime(0.1);
          benchmark::RegisterBenchmark((name + VariantName(v) + "/gamelib_avx2").c_str(), BM_Gamelib, s, kind,
                                       m, v, TriangleKernelSet::Avx2)
              ->MinTime(0.1);
        }
        benchmark::RegisterBenchmark((name + "/sdl2").c_str(), BM_Sdl, s, kind, m)->MinTime(0.1);
        benchmark::RegisterBenchmark((name + "/pixman").c_str(), BM_Pixman, s, kind, m)->MinTime(0.1);
      }
    }
  return 0;
}
const int registered = Register();

}  // namespace
