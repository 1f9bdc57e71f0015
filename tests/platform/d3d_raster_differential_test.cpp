// The rasteriser against an independent per-pixel reference of its coverage rule, a
// pinned scene, and its SIMD path against its portable path.
#include <cmath>
#include <set>
#include <string>

#include "d3d_raster_fixture.h"

namespace {

using namespace rastertest;
using platform::raster::RasterPath;
using platform::raster::SetRasterPath;
using I128 = __int128;

struct Point {
  I128 x, y;
};

I128 Side(Point p, Point q, Point r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); }

// Whether the edge p-q is a top edge (horizontal, third vertex below) or a left edge
// (third vertex to the right of the line at its height).
bool TopOrLeft(Point p, Point q, Point r) {
  if (p.y == q.y) return r.y > p.y;
  const I128 lhs = (r.x - p.x) * (q.y - p.y), rhs = (q.x - p.x) * (r.y - p.y);
  return q.y > p.y ? lhs > rhs : lhs < rhs;
}

// The centre (x, y) is covered by the triangle of snapped (24.8) corners t.
bool ReferenceCovers(const Point t[3], int x, int y) {
  const Point c{I128(x) * 256, I128(y) * 256};
  for (int k = 0; k < 3; ++k) {
    const Point p = t[k], q = t[(k + 1) % 3], r = t[(k + 2) % 3];
    const I128 inside = Side(p, q, r), here = Side(p, q, c);
    if (inside == 0) return false;
    if (here == 0 ? !TopOrLeft(p, q, r) : (here > 0) != (inside > 0)) return false;
  }
  return true;
}

float RandomCoordinate(std::uint32_t& seed) {
  const int kind = NextRandom(seed) % 5;
  const int whole = int(NextRandom(seed) % 90) - 15;
  switch (kind) {
    case 0:
      return float(whole);
    case 1:
      return whole - 0.5f;
    case 2:
      return whole + (NextRandom(seed) % 256) / 256.0f;
    case 3:
      return whole + (NextRandom(seed) % 100000) / 100000.0f;  // between the 24.8 steps
    default:
      return (NextRandom(seed) % 2 ? 1 : -1) * float(NextRandom(seed) % 5000000);  // far, some too far
  }
}

TEST(RasterDifferential, CoverageMatchesTheReferenceOnRandomTriangles) {
  Image target(Layout::A8R8G8B8, 64, 48);
  std::uint32_t seed = 2024;
  long covered = 0;
  for (int n = 0; n < 3000; ++n) {
    Device d(target);
    const DWORD vx = NextRandom(seed) % 20, vy = NextRandom(seed) % 20;
    d.state.viewport = {vx, vy, 1 + NextRandom(seed) % (64 - vx), 1 + NextRandom(seed) % (48 - vy), 0, 1};
    std::vector<TexVertex> v(3);
    Point snapped[3];
    bool far = false;
    for (int k = 0; k < 3; ++k) {
      v[k] = {RandomCoordinate(seed), RandomCoordinate(seed), 0, 1, 0xFFFFFFFF, 0, 0};
      if (n % 7 == 1 && k == 2) v[2].x = v[0].x, v[2].y = v[1].y;  // axis-aligned edges
      if (n % 7 == 2 && k == 2) v[2] = v[1];                       // degenerate
      snapped[k] = {I128(std::floor(double(v[k].x) * 256 + 0.5)),
                    I128(std::floor(double(v[k].y) * 256 + 0.5))};
      far = far || std::fabs(v[k].x) >= 4194304 || std::fabs(v[k].y) >= 4194304;
    }
    target.Fill(0);
    d.Draw(D3DPT_TRIANGLELIST, v);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const bool inViewport = x >= int(vx) && x < int(vx + d.state.viewport.dwWidth) && y >= int(vy) &&
                                y < int(vy + d.state.viewport.dwHeight);
        const bool expected = !far && inViewport && ReferenceCovers(snapped, x, y);
        covered += expected;
        ASSERT_EQ(target.Raw(x, y) != 0, expected) << "triangle " << n << " at " << x << "," << y;
      }
  }
  EXPECT_GT(covered, 100000);
}

std::uint32_t Crc32(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// A rotated, scaled, textured quad (u, v over [u0, u1]) around (cx, cy).
std::uint64_t Digest(const Image& image) {
  std::uint64_t digest = 0;
  for (std::size_t k = 0; k + 8 <= image.memory.size(); k += 8) {
    std::uint64_t word;
    std::memcpy(&word, &image.memory[k], 8);
    digest = (digest ^ word) * 0x100000001B3ull;
  }
  return digest;
}

std::vector<TexVertex> Sprite(float cx, float cy, float w, float h, float degrees, DWORD diffuse,
                              float u0 = 0, float u1 = 1, float z = 0) {
  const double a = degrees * 3.14159265358979 / 180, c = std::cos(a), s = std::sin(a);
  TexVertex corner[4];
  const float du[4] = {u0, u1, u0, u1}, dv[4] = {u0, u0, u1, u1};
  for (int k = 0; k < 4; ++k) {
    const double px = (k % 2 ? 0.5 : -0.5) * w, py = (k / 2 ? 0.5 : -0.5) * h;
    corner[k] = {float(cx + px * c - py * s), float(cy + px * s + py * c), z, 1, diffuse, du[k], dv[k]};
  }
  return {corner[0], corner[1], corner[2], corner[1], corner[3], corner[2]};
}

void FillTexture(Image& image, std::uint32_t seed) {
  for (int y = 0; y < image.surface.height; ++y)
    for (int x = 0; x < image.surface.width; ++x) image.SetRaw(x, y, NextRandom(seed));
}

// Random sprites in the states the fast pipeline takes (and some it declines) onto a
// 32-bit target: a digest of the target after each draw.
std::vector<std::uint64_t> RandomDraws(std::uint32_t seed, Layout targetLayout) {
  std::vector<std::uint64_t> after;
  Image target(targetLayout, 173, 131), a8(Layout::A8R8G8B8, 29, 17), x8(Layout::X8R8G8B8, 64, 64),
      r565(Layout::R5G6B5, 16, 16);
  FillTexture(target, seed), FillTexture(a8, seed + 1), FillTexture(x8, seed + 2),
      FillTexture(r565, seed + 3);
  for (int k = 0; k < 300; ++k) a8.SetRaw(NextRandom(seed) % 29, NextRandom(seed) % 17, 0x00FF00FF);
  a8.surface.hasColorKey = x8.surface.hasColorKey = true;
  a8.surface.colorKey = 0x00FF00FF, x8.surface.colorKey = x8.Raw(5, 5);
  const DWORD blends[][2] = {{D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                             {D3DBLEND_ONE, D3DBLEND_ONE},
                             {D3DBLEND_ONE, D3DBLEND_ZERO},
                             {D3DBLEND_SRCALPHA, D3DBLEND_ONE}};
  const DWORD ops[][3] = {{D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT},
                          {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE},
                          {D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TEXTURE},
                          {D3DTOP_SELECTARG2, D3DTA_DIFFUSE, D3DTA_TEXTURE},
                          {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE}};
  for (int n = 0; n < 400; ++n) {
    Device d(target);
    const Image* textures[] = {&a8, &x8, &r565};
    const Image& tex = *textures[NextRandom(seed) % 3];
    d.Texture(tex, NextRandom(seed) % 2);
    const DWORD* cop = ops[NextRandom(seed) % 5];
    const DWORD* aop = ops[NextRandom(seed) % 5];
    d.Stage(0, cop[0], cop[1], cop[2], aop[0], aop[1], aop[2]);
    d.rs[D3DRENDERSTATE_COLORKEYENABLE] = NextRandom(seed) % 2;
    if (NextRandom(seed) % 4) {
      const DWORD* b = blends[NextRandom(seed) % 4];
      d.Blend(b[0], b[1]);
    }
    if (NextRandom(seed) % 8 == 0) d.ss[0][D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
    const float scale = NextRandom(seed) % 3 == 0 ? 1.0f : 0.3f + (NextRandom(seed) % 300) / 100.0f;
    const float w = tex.surface.width * scale, h = tex.surface.height * scale;
    const float angle = NextRandom(seed) % 3 == 0 ? 0.0f : float(NextRandom(seed) % 360);
    const float cx = float(NextRandom(seed) % 200) - 10 +
                     (angle == 0 && scale == 1 ? 0.5f * (tex.surface.width % 2) : 0.3f);
    const float cy = float(NextRandom(seed) % 150) - 10 +
                     (angle == 0 && scale == 1 ? 0.5f * (tex.surface.height % 2) : 0.7f);
    const float u0 = NextRandom(seed) % 4 == 0 ? -0.25f : 0.0f;
    std::vector<TexVertex> v =
        Sprite(cx, cy, w, h, angle, NextRandom(seed) | (NextRandom(seed) % 2 ? 0xFFFFFFFF : 0), u0, 1 - u0);
    const float shift = NextRandom(seed) % 2 ? 0.0f : NextRandom(seed) % 2 ? 0.5f : -0.5f;
    for (TexVertex& p : v) p.v += shift;  // rows past the edges clamp
    d.Draw(D3DPT_TRIANGLELIST, v);
    after.push_back(Digest(target));
  }
  return after;
}

// Random stage cascades (zero to eight stages of any operation and argument, textures
// bound or not, read or not), alpha tests and blend factors, flat and textured, onto a
// 32-bit target: a digest after each draw. Most go through the SIMD kernels; clamped
// 32-bit textures are the common case, the rest are declined.
std::vector<std::uint64_t> RandomCascades(std::uint32_t seed, Layout targetLayout) {
  std::vector<std::uint64_t> after;
  Image target(targetLayout, 97, 83), a8(Layout::A8R8G8B8, 23, 19), x8(Layout::X8R8G8B8, 40, 33),
      big(Layout::A8R8G8B8, 64, 64), r565(Layout::R5G6B5, 16, 16);
  FillTexture(target, seed), FillTexture(a8, seed + 1), FillTexture(x8, seed + 2), FillTexture(big, seed + 3),
      FillTexture(r565, seed + 4);
  for (int k = 0; k < 100; ++k) a8.SetRaw(NextRandom(seed) % 23, NextRandom(seed) % 19, 0x00FF00FF);
  a8.surface.hasColorKey = x8.surface.hasColorKey = true;
  a8.surface.colorKey = 0x00FF00FF, x8.surface.colorKey = x8.Raw(7, 3);
  const Image* textures[] = {&a8, &x8, &big, &r565};
  const DWORD ops[] = {D3DTOP_SELECTARG1,
                       D3DTOP_SELECTARG2,
                       D3DTOP_MODULATE,
                       D3DTOP_MODULATE2X,
                       D3DTOP_MODULATE4X,
                       D3DTOP_ADD,
                       D3DTOP_SUBTRACT,
                       D3DTOP_BLENDDIFFUSEALPHA,
                       D3DTOP_BLENDCURRENTALPHA,
                       D3DTOP_DISABLE,
                       9 /* unknown */};
  const auto op = [&seed, &ops](bool colour) {
    const int n = int(NextRandom(seed) % 24);  // the common operations more often
    if (n < 11) return ops[n];
    if (n < 16) return D3DTOP_MODULATE;
    return colour || n < 20 ? D3DTOP_SELECTARG1 : D3DTOP_SELECTARG2;
  };
  const auto arg = [&seed] {
    const DWORD selector = NextRandom(seed) % 3 ? D3DTA_TEXTURE : NextRandom(seed) % 6;  // 5: unknown
    return selector | (NextRandom(seed) % 5 == 0 ? D3DTA_COMPLEMENT : 0);
  };
  for (int n = 0; n < 500; ++n) {
    Device d(target);
    const int stages = NextRandom(seed) % 16 == 0 ? 8 : int(NextRandom(seed) % 4);
    for (int k = 0; k < 8; ++k)
      d.Stage(k, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_DISABLE, 0, 0);
    for (int k = 0; k < stages; ++k) {
      const DWORD colourOp = op(true);
      d.Stage(k, colourOp == D3DTOP_DISABLE && k == 0 ? D3DTOP_MODULATE : colourOp, arg(), arg(), op(false),
              arg(), arg());
      if (NextRandom(seed) % 4) d.state.texture[k] = &textures[NextRandom(seed) % 4]->surface;
      d.ss[k][D3DTSS_MAGFILTER] = NextRandom(seed) % 3 ? D3DTFG_POINT : D3DTFG_LINEAR;
      d.ss[k][D3DTSS_TEXCOORDINDEX] = NextRandom(seed) % 2;
      if (NextRandom(seed) % 10 == 0) d.ss[k][D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    }
    d.rs[D3DRENDERSTATE_COLORKEYENABLE] = NextRandom(seed) % 3 == 0;
    d.rs[D3DRENDERSTATE_TEXTUREFACTOR] = NextRandom(seed);
    if (NextRandom(seed) % 3 == 0) {
      d.rs[D3DRENDERSTATE_ALPHATESTENABLE] = 1;
      d.rs[D3DRENDERSTATE_ALPHAFUNC] = NextRandom(seed) % 10;  // 0 and 9: unknown
      d.rs[D3DRENDERSTATE_ALPHAREF] = NextRandom(seed);
    }
    if (NextRandom(seed) % 4) d.Blend(NextRandom(seed) % 14, NextRandom(seed) % 14);  // 0, 11-13: unknown
    const float w = float(5 + NextRandom(seed) % 90), h = float(5 + NextRandom(seed) % 70);
    const float angle = NextRandom(seed) % 3 == 0 ? 0.0f : float(NextRandom(seed) % 360);
    const std::vector<TexVertex> quad = Sprite(float(NextRandom(seed) % 100), float(NextRandom(seed) % 90), w,
                                               h, angle, NextRandom(seed), -0.25f, 1.25f);
    const DWORD specular = NextRandom(seed);
    std::vector<BlendVertex> v;
    for (const TexVertex& p : quad)
      v.push_back({p.x, p.y, p.z, p.rhw, p.diffuse, specular, p.u, p.v, p.v, 1 - p.u});
    d.Draw(D3DPT_TRIANGLELIST, v);
    after.push_back(Digest(target));
  }
  return after;
}

TEST(RasterDifferential, SimdPathGivesThePortablePixels) {
  if (!SetRasterPath(RasterPath::Avx2)) GTEST_SKIP() << "no SIMD path on this processor";
  for (Layout layout : {Layout::X8R8G8B8, Layout::A8R8G8B8})
    for (std::uint32_t seed : {1u, 77u, 4096u}) {
      SetRasterPath(RasterPath::Avx2);
      const auto simd = RandomDraws(seed, layout);
      SetRasterPath(RasterPath::Portable);
      const auto portable = RandomDraws(seed, layout);
      EXPECT_TRUE(simd == portable) << "seed " << seed;
    }
  SetRasterPath(platform::raster::BestRasterPath());
}

TEST(RasterDifferential, SimdCascadesGiveThePortablePixels) {
  if (!SetRasterPath(RasterPath::Avx2)) GTEST_SKIP() << "no SIMD path on this processor";
  for (Layout layout : {Layout::X8R8G8B8, Layout::A8R8G8B8})
    for (std::uint32_t seed : {3u, 515u, 90001u}) {
      SetRasterPath(RasterPath::Avx2);
      const auto simd = RandomCascades(seed, layout);
      SetRasterPath(RasterPath::Portable);
      const auto portable = RandomCascades(seed, layout);
      ASSERT_EQ(simd.size(), portable.size());
      for (std::size_t k = 0; k < simd.size(); ++k)
        ASSERT_EQ(simd[k], portable[k]) << "seed " << seed << ", draw " << k;
      // The draws change the target, and not all alike.
      EXPECT_GT(std::set<std::uint64_t>(simd.begin(), simd.end()).size(), simd.size() / 2);
    }
  SetRasterPath(platform::raster::BestRasterPath());
}

// Consecutive triangles with the same pixel values are drawn together; that must be
// invisible: a quad in one list gives what its two triangles give drawn one by one.
TEST(RasterDifferential, QuadsInOneDrawEqualTheirTrianglesApart) {
  std::uint32_t seed = 31;
  for (Layout layout : {Layout::X8R8G8B8, Layout::R5G6B5})
    for (int n = 0; n < 200; ++n) {
      Image tex(Layout::A8R8G8B8, 16 + n % 17, 16), together(layout, 96, 80), apart(layout, 96, 80),
          zTogether(Layout::D16, 96, 80), zApart(Layout::D16, 96, 80);
      FillTexture(tex, seed + n);
      const bool linear = n % 2, blend = n % 3 == 0;
      const std::vector<TexVertex> v =
          Sprite(float(NextRandom(seed) % 90), float(NextRandom(seed) % 70), float(5 + NextRandom(seed) % 60),
                 float(5 + NextRandom(seed) % 60), n % 4 ? float(NextRandom(seed) % 360) : 0.0f, 0xFFFFFFFF,
                 0, 1, (NextRandom(seed) % 100) / 100.0f);
      for (int way = 0; way < 2; ++way) {
        Image& target = way ? apart : together;
        Device d(target);
        d.Texture(tex, linear);
        if (blend) d.Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
        if (n % 5 == 0) {
          d.state.z = &(way ? zApart : zTogether).surface;
          d.rs[D3DRENDERSTATE_ZENABLE] = 1, d.rs[D3DRENDERSTATE_ZWRITEENABLE] = 1;
        }
        if (way == 0) {
          d.Draw(D3DPT_TRIANGLELIST, v);
        } else {
          d.Draw(D3DPT_TRIANGLELIST, std::vector<TexVertex>(v.begin(), v.begin() + 3));
          d.Draw(D3DPT_TRIANGLELIST, std::vector<TexVertex>(v.begin() + 3, v.end()));
        }
      }
      ASSERT_TRUE(together.memory == apart.memory && zTogether.memory == zApart.memory) << n;
    }
}

// The library writes a quad as top left, top right, bottom left, then bottom right,
// bottom left, top right. Such quads with corners on and off the 24.8 grid, in both
// orientations (and some with one flipped), with coordinates on and off the texels or
// zeros of either sign, through one or two textured stages, and some with one value
// nudged: one list gives what each triangle gives in a call of its own. Every quad has
// its own colour, so no triangle pairs with another quad's.
TEST(RasterDifferential, LibraryOrderQuadsInOneListEqualTheirTrianglesApart) {
  const bool simd = SetRasterPath(RasterPath::Avx2);
  for (RasterPath path : {RasterPath::Portable, RasterPath::Avx2}) {
    if (path == RasterPath::Avx2 && !simd) continue;
    SetRasterPath(path);
    std::uint32_t seed = 5150;
    const auto coordinate = [&seed] {
      const float whole = float(int(NextRandom(seed) % 90) - 10);
      switch (NextRandom(seed) % 4) {
        case 0:
          return whole;
        case 1:
          return whole - 0.5f;
        case 2:
          return whole + (NextRandom(seed) % 256) / 256.0f;
        default:
          return whole + (NextRandom(seed) % 100000) / 100000.0f;
      }
    };
    for (int n = 0; n < 120; ++n) {
      Image tex0(Layout::A8R8G8B8, 8 + n % 13, 16), tex1(Layout::X8R8G8B8, 16, 4 + n % 7),
          together(Layout::A8R8G8B8, 80, 60), apart(Layout::A8R8G8B8, 80, 60);
      FillTexture(tex0, seed + n), FillTexture(tex1, seed + 7 * n);
      const auto texCoord = [&seed](int size) {
        switch (NextRandom(seed) % 4) {
          case 0:
            return float(int(NextRandom(seed) % (size + 4)) - 2) / float(size);  // on a texel edge
          case 1:
            return (NextRandom(seed) % 2 ? 0.0f : -0.0f);
          default:
            return float(int(NextRandom(seed) % 2000) - 500) / 1000.0f;
        }
      };
      std::vector<BlendVertex> v;
      for (int q = 0; q < 12; ++q) {
        const float x0 = coordinate(), y0 = coordinate();
        const float w =
            (NextRandom(seed) % 2 ? 1 : -1) * (1 + float(NextRandom(seed) % 30) + coordinate() / 90);
        const float h = (NextRandom(seed) % 5 == 0 ? -1 : 1) * (w > 0 ? 1 : -1) *
                        (1 + float(NextRandom(seed) % 20) + coordinate() / 90);
        const float u[2] = {texCoord(tex0.surface.width), texCoord(tex0.surface.width)};
        const float t[2] = {texCoord(tex0.surface.height), texCoord(tex0.surface.height)};
        const float s1[2] = {texCoord(16), texCoord(16)}, t1[2] = {texCoord(4), texCoord(4)};
        const DWORD colour = 0x80000000u | (NextRandom(seed) & 0x7FFFFF00u) | DWORD(q),
                    specular = NextRandom(seed);
        BlendVertex corner[4];
        for (int k = 0; k < 4; ++k) {
          const int col = k & 1, row = k >> 1;
          corner[k] = {x0 + col * w, y0 + row * h, 0, 1, colour, specular, u[col], t[row], s1[col], t1[row]};
        }
        BlendVertex quad[6] = {corner[0], corner[1], corner[2], corner[3], corner[2], corner[1]};
        if (NextRandom(seed) % 4 == 0) {  // one value of one vertex moved: no longer an exact quad
          BlendVertex& p = quad[NextRandom(seed) % 6];
          float* values[6] = {&p.x, &p.y, &p.u0, &p.v0, &p.u1, &p.v1};
          const int which = int(NextRandom(seed) % 8);
          if (which < 6) *values[which] += 0.3f;
          if (which == 6) p.diffuse ^= 0x00604020u;
          if (which == 7) p.specular ^= 0x60000000u;
        }
        v.insert(v.end(), quad, quad + 6);
      }
      for (int way = 0; way < 2; ++way) {
        Device d(way ? apart : together);
        d.state.texture[0] = &tex0.surface;
        d.Stage(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE,
                D3DTA_DIFFUSE);
        d.ss[0][D3DTSS_MAGFILTER] = n % 3 ? D3DTFG_LINEAR : D3DTFG_POINT;
        if (n % 2) {
          d.state.texture[1] = &tex1.surface;
          d.Stage(1, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_SPECULAR,
                  D3DTA_CURRENT);
          d.ss[1][D3DTSS_MAGFILTER] = n % 5 ? D3DTFG_POINT : D3DTFG_LINEAR;
        }
        d.Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
        if (way == 0) {
          d.Draw(D3DPT_TRIANGLELIST, v);
        } else {
          for (std::size_t k = 0; k < v.size(); k += 3)
            d.Draw(D3DPT_TRIANGLELIST, std::vector<BlendVertex>(v.begin() + k, v.begin() + k + 3));
        }
      }
      ASSERT_TRUE(together.memory == apart.memory) << "draw " << n;
    }
  }
  SetRasterPath(platform::raster::BestRasterPath());
}

// Runs of glyph-sized quads in one call, as text is drawn: cells of a texture whose
// alpha is mostly 0 or 255, the colour changing every few quads, some quads off the
// pixel grid or turned, and the states changed between calls on one device. A digest
// after each call, and the target once more with every triangle drawn in a call of its own.
struct RunResult {
  std::vector<std::uint64_t> after;
  std::vector<std::uint8_t> apart;
};

RunResult RandomRuns(std::uint32_t seed, Layout layout) {
  RunResult result;
  Image target(layout, 150, 60), apart(layout, 150, 60), cells(Layout::A8R8G8B8, 64, 32),
      opaque(Layout::X8R8G8B8, 32, 32);
  FillTexture(target, seed), FillTexture(cells, seed + 1), FillTexture(opaque, seed + 2);
  apart.memory = target.memory;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t pick = NextRandom(seed) % 8, raw = cells.Raw(x, y) & 0xFFFFFF;
      cells.SetRaw(x, y, pick < 4 ? raw : pick < 7 ? raw | 0xFF000000u : cells.Raw(x, y));
    }
  cells.surface.hasColorKey = true, cells.surface.colorKey = cells.Raw(1, 1);
  const DWORD blends[][2] = {{D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                             {D3DBLEND_ONE, D3DBLEND_ZERO},
                             {D3DBLEND_SRCALPHA, D3DBLEND_ONE},
                             {D3DBLEND_DESTCOLOR, D3DBLEND_INVSRCALPHA}};
  Device d(target), each(apart);
  for (int call = 0; call < 60; ++call) {
    for (Device* dev : {&d, &each}) {
      std::uint32_t states = seed + call;  // the same states for both devices
      const Image& tex = NextRandom(states) % 4 ? cells : opaque;
      dev->Texture(tex, NextRandom(states) % 3 == 0);
      if (NextRandom(states) % 2)
        dev->Stage(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE,
                   D3DTA_DIFFUSE);
      const DWORD* b = blends[NextRandom(states) % 4];
      dev->Blend(b[0], b[1]);
      dev->rs[D3DRENDERSTATE_ALPHABLENDENABLE] = NextRandom(states) % 5 != 0;
      dev->rs[D3DRENDERSTATE_COLORKEYENABLE] = NextRandom(states) % 4 == 0;
      dev->rs[D3DRENDERSTATE_ALPHATESTENABLE] = NextRandom(states) % 6 == 0;
      dev->rs[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_GREATER;
    }
    std::vector<TexVertex> v;
    DWORD colour = 0xFFFFFFFF;
    const int quads = 1 + int(NextRandom(seed) % 40);
    for (int q = 0; q < quads; ++q) {
      if (NextRandom(seed) % 4 == 0) colour = NextRandom(seed) | (NextRandom(seed) % 2 ? 0xFF000000u : 0);
      const int w = 2 + int(NextRandom(seed) % 14), h = 2 + int(NextRandom(seed) % 18);
      const int cx = int(NextRandom(seed) % (64 - w)), cy = int(NextRandom(seed) % (32 - h));
      const float off = NextRandom(seed) % 5 == 0 ? 0.3f : 0.0f;  // off the grid: no exact rectangle
      const float angle = NextRandom(seed) % 8 == 0 ? float(NextRandom(seed) % 360) : 0.0f;
      const float x = float(NextRandom(seed) % 150) - 5 + off, y = float(NextRandom(seed) % 60) - 5 - off;
      std::vector<TexVertex> quad = Sprite(x + w / 2.0f, y + h / 2.0f, float(w), float(h), angle, colour);
      for (TexVertex& p : quad) {
        p.u = (cx + p.u * w) / 64.0f, p.v = (cy + p.v * h) / 32.0f;  // one cell of the page
        p.x -= 0.5f, p.y -= 0.5f;
      }
      v.insert(v.end(), quad.begin(), quad.end());
    }
    d.Draw(D3DPT_TRIANGLELIST, v);
    for (std::size_t k = 0; k < v.size(); k += 3)
      each.Draw(D3DPT_TRIANGLELIST, std::vector<TexVertex>(v.begin() + k, v.begin() + k + 3));
    result.after.push_back(Digest(target));
  }
  result.apart = apart.memory;
  EXPECT_TRUE(target.memory == apart.memory) << "seed " << seed;
  return result;
}

TEST(RasterDifferential, RunsOfSmallQuadsGiveThePortablePixels) {
  const bool simd = SetRasterPath(RasterPath::Avx2);
  for (Layout layout : {Layout::X8R8G8B8, Layout::A8R8G8B8})
    for (std::uint32_t seed : {8u, 1999u}) {
      SetRasterPath(RasterPath::Portable);
      const RunResult portable = RandomRuns(seed, layout);
      EXPECT_GT(std::set<std::uint64_t>(portable.after.begin(), portable.after.end()).size(), 40u);
      if (!simd) continue;
      SetRasterPath(RasterPath::Avx2);
      const RunResult fast = RandomRuns(seed, layout);
      ASSERT_EQ(fast.after.size(), portable.after.size());
      for (std::size_t k = 0; k < fast.after.size(); ++k)
        ASSERT_EQ(fast.after[k], portable.after[k]) << "seed " << seed << ", call " << k;
    }
  SetRasterPath(platform::raster::BestRasterPath());
}

// A scene of every feature, pinned: any change to a rule shows here first.
TEST(RasterDifferential, PinnedSceneIsUnchanged) {
  for (RasterPath path : {RasterPath::Portable, RasterPath::Avx2}) {
    if (!SetRasterPath(path)) continue;
    Image target(Layout::X8R8G8B8, 160, 120), z(Layout::D16, 160, 120), tex(Layout::A8R8G8B8, 32, 32),
        tex16(Layout::A4R4G4B4, 16, 8), small(Layout::R5G6B5, 96, 64);
    FillTexture(target, 5), FillTexture(tex, 6), FillTexture(tex16, 7);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 160; ++x) z.SetRaw(x, y, 0xFFFF);
    tex16.surface.hasColorKey = true, tex16.surface.colorKey = tex16.Raw(3, 3);
    Device d(target);
    d.state.z = &z.surface;
    d.rs[D3DRENDERSTATE_ZENABLE] = 1, d.rs[D3DRENDERSTATE_ZWRITEENABLE] = 1;
    d.Texture(tex, true);
    d.Stage(0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
    d.Blend(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA);
    d.Draw(D3DPT_TRIANGLELIST, Sprite(60, 50, 70, 50, 30, 0xC0FFE080, 0, 1, 0.25f));
    d.ss[0][D3DTSS_ADDRESSU] = D3DTADDRESS_MIRROR, d.ss[0][D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    d.Blend(D3DBLEND_ONE, D3DBLEND_ONE);
    d.Draw(D3DPT_TRIANGLELIST, Sprite(100, 70, 90, 60, -20, 0x80808080, -0.5f, 1.5f, 0.5f));
    d.Texture(tex16);
    d.rs[D3DRENDERSTATE_COLORKEYENABLE] = 1, d.rs[D3DRENDERSTATE_ZFUNC] = D3DCMP_GREATER;
    d.rs[D3DRENDERSTATE_TEXTUREFACTOR] = 0x80402010;
    d.Stage(1, D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT, D3DTA_TFACTOR, D3DTOP_MODULATE2X, D3DTA_CURRENT,
            D3DTA_TFACTOR);
    d.Blend(D3DBLEND_INVDESTCOLOR, D3DBLEND_SRCCOLOR);
    d.Draw(D3DPT_TRIANGLELIST, Sprite(80, 60, 100, 80, 10, 0xFFFFFFFF, 0, 1, 0.375f));
    Device s(small);
    s.Draw(D3DPT_TRIANGLESTRIP, Sprite(40, 30, 50, 40, 45, 0x80FF8040));
    std::vector<std::uint8_t> all = target.memory;
    all.insert(all.end(), z.memory.begin(), z.memory.end());
    all.insert(all.end(), small.memory.begin(), small.memory.end());
    EXPECT_EQ(Crc32(all), 3215835262u) << (path == RasterPath::Avx2 ? "avx2" : "portable");
  }
  SetRasterPath(platform::raster::BestRasterPath());
}

}  // namespace
