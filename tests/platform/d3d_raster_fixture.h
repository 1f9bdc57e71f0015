// Surfaces, states and vertices for drawing straight through the rasteriser.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "d3d_raster.h"
#include "d3d_raster_internal.h"

namespace rastertest {

using platform::pixel::Layout;
using platform::raster::DrawReport;
using platform::raster::Surface;

struct Image {
  std::vector<std::uint8_t> memory;
  Surface surface;
  Image(Layout layout, int width, int height, int pad = 4) {
    surface.width = width, surface.height = height, surface.layout = layout;
    surface.pitch = width * platform::pixel::BytesPerPixel(layout) + pad;
    memory.assign(std::size_t(surface.pitch) * height, 0);
    surface.bits = memory.data();
  }
  std::uint8_t* At(int x, int y) {
    return surface.bits + y * surface.pitch + x * platform::pixel::BytesPerPixel(surface.layout);
  }
  std::uint32_t Raw(int x, int y) { return platform::pixel::ReadRaw(surface.layout, At(x, y)); }
  std::uint32_t Argb(int x, int y) { return platform::pixel::ReadARGB(surface.layout, At(x, y)); }
  void SetRaw(int x, int y, std::uint32_t v) { platform::pixel::WriteRaw(surface.layout, At(x, y), v); }
  void Fill(std::uint32_t argb) {
    for (int y = 0; y < surface.height; ++y)
      for (int x = 0; x < surface.width; ++x) platform::pixel::WriteARGB(surface.layout, At(x, y), argb);
  }
};

// 0x144 and 0x2C4 vertices.
struct TexVertex {
  float x, y, z, rhw;
  DWORD diffuse;
  float u, v;
};
struct BlendVertex {
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float u0, v0, u1, v1;
};
static_assert(sizeof(TexVertex) == 28 && sizeof(BlendVertex) == 40);

// Device-like defaults: stage 0 selects the diffuse colour, blending off, no culling.
struct Device {
  DWORD rs[kD3DRenderStateCount] = {};
  DWORD ss[kD3DMaxStages][kD3DStageStateCount] = {};
  platform::raster::State state;
  explicit Device(Image& target) {
    rs[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRENDERSTATE_CULLMODE] = D3DCULL_NONE;
    for (DWORD k = 0; k < kD3DMaxStages; ++k) {
      ss[k][D3DTSS_COLOROP] = ss[k][D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
      ss[k][D3DTSS_COLORARG1] = ss[k][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
      ss[k][D3DTSS_COLORARG2] = ss[k][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
      ss[k][D3DTSS_ADDRESSU] = ss[k][D3DTSS_ADDRESSV] = D3DTADDRESS_CLAMP;
      ss[k][D3DTSS_MAGFILTER] = D3DTFG_POINT;
      ss[k][D3DTSS_TEXCOORDINDEX] = k;
    }
    Stage(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_DIFFUSE,
          D3DTA_CURRENT);
    state.renderState = rs;
    state.stageState = ss;
    state.target = target.surface;
    state.viewport = {0, 0, DWORD(target.surface.width), DWORD(target.surface.height), 0, 1};
  }
  void Stage(int k, DWORD cop, DWORD c1, DWORD c2, DWORD aop, DWORD a1, DWORD a2) {
    ss[k][D3DTSS_COLOROP] = cop, ss[k][D3DTSS_COLORARG1] = c1, ss[k][D3DTSS_COLORARG2] = c2;
    ss[k][D3DTSS_ALPHAOP] = aop, ss[k][D3DTSS_ALPHAARG1] = a1, ss[k][D3DTSS_ALPHAARG2] = a2;
  }
  // Stage 0 shows the texel as it is.
  void Texture(const Image& image, bool linear = false) {
    state.texture[0] = &image.surface;
    Stage(0, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE,
          D3DTA_CURRENT);
    ss[0][D3DTSS_MAGFILTER] = linear ? D3DTFG_LINEAR : D3DTFG_POINT;
  }
  void Blend(DWORD src, DWORD dst) {
    rs[D3DRENDERSTATE_ALPHABLENDENABLE] = 1, rs[D3DRENDERSTATE_SRCBLEND] = src,
    rs[D3DRENDERSTATE_DESTBLEND] = dst;
  }
  template <typename T>
  DrawReport Draw(DWORD type, const std::vector<T>& v, const std::vector<WORD>* indices = nullptr) {
    const DWORD fvf = sizeof(T) == 28 ? 0x144 : sizeof(T) == 40 ? 0x2C4 : 0x44;
    DrawReport report;
    EXPECT_EQ(platform::raster::DrawTriangles(state, type, fvf, v.data(), DWORD(v.size()),
                                              indices ? indices->data() : nullptr,
                                              indices ? DWORD(indices->size()) : 0, &report),
              D3D_OK);
    return report;
  }
};

// Two triangles (a list) covering [x0, x1) x [y0, y1) with u, v over [0, 1].
inline std::vector<TexVertex> Quad(float x0, float y0, float x1, float y1, DWORD diffuse = 0xFFFFFFFF,
                                   float z = 0) {
  const TexVertex a{x0, y0, z, 1, diffuse, 0, 0}, b{x1, y0, z, 1, diffuse, 1, 0},
      c{x0, y1, z, 1, diffuse, 0, 1}, d{x1, y1, z, 1, diffuse, 1, 1};
  return {a, b, c, b, d, c};
}

inline std::uint32_t NextRandom(std::uint32_t& s) {
  s ^= s << 13, s ^= s >> 17, s ^= s << 5;
  return s;
}

}  // namespace rastertest
