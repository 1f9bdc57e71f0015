// The device's rasteriser on arbitrary draws: the input picks the target, Z and texture
// layouts and sizes, render and stage states (sensible values or raw ones), the
// viewport, the primitive type and format, then gives the vertex and index bytes. Each
// draw runs on the portable path and, where there is one, the SIMD path: a crash, an
// access outside the surfaces, a broken report or two paths that disagree is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "d3d_raster.h"
#include "d3d_raster_internal.h"
#include "fuzz_input.h"

namespace {

using platform::pixel::Layout;
namespace raster = platform::raster;

using fuzz::Check;

struct Input : fuzz::ByteReader {
  // Mostly a value from the list, sometimes the next raw dword.
  DWORD Pick(std::initializer_list<DWORD> values) {
    const std::uint8_t b = Byte();
    if (b >= 0xF0) return Dword();
    return values.begin()[b % values.size()];
  }
};

constexpr Layout kColourLayouts[] = {Layout::R5G6B5,   Layout::X1R5G5B5, Layout::A1R5G5B5, Layout::A4R4G4B4,
                                     Layout::X4R4G4B4, Layout::X8R8G8B8, Layout::A8R8G8B8};

struct Image {
  std::vector<std::uint8_t> memory;
  raster::Surface surface;
  Image(Layout layout, int width, int height, std::uint8_t fill) {
    surface.layout = layout, surface.width = width, surface.height = height;
    surface.pitch = width * platform::pixel::BytesPerPixel(layout) + (fill & 3);
    memory.resize(std::size_t(surface.pitch) * height);
    for (std::size_t k = 0; k < memory.size(); ++k) memory[k] = std::uint8_t(fill + k * 37);
    surface.bits = memory.data();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const Layout targetLayout = kColourLayouts[in.Byte() % 7];
  const int width = 1 + in.Byte() % 80, height = 1 + in.Byte() % 60;
  const std::uint8_t fill = in.Byte();

  DWORD rs[kD3DRenderStateCount] = {};
  DWORD ss[kD3DMaxStages][kD3DStageStateCount] = {};
  rs[D3DRENDERSTATE_ZENABLE] = in.Pick({0, 1, 2});
  rs[D3DRENDERSTATE_ZWRITEENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_ZFUNC] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8});
  rs[D3DRENDERSTATE_ALPHATESTENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_ALPHAFUNC] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8});
  rs[D3DRENDERSTATE_ALPHAREF] = in.Dword();
  rs[D3DRENDERSTATE_ALPHABLENDENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_SRCBLEND] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  rs[D3DRENDERSTATE_DESTBLEND] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  rs[D3DRENDERSTATE_CULLMODE] = in.Pick({1, 2, 3});
  rs[D3DRENDERSTATE_COLORKEYENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_TEXTUREFACTOR] = in.Dword();

  std::vector<Image> textures;
  textures.reserve(kD3DMaxStages);  // bound[] points into it
  const raster::Surface* bound[kD3DMaxStages] = {};
  const int stages = 1 + in.Byte() % 3;
  for (int k = 0; k < stages; ++k) {
    ss[k][D3DTSS_COLOROP] = in.Pick({1, 2, 3, 4, 5, 6, 7, 10, 12, 16});
    ss[k][D3DTSS_ALPHAOP] = in.Pick({1, 2, 3, 4, 5, 6, 7, 10, 12, 16});
    for (DWORD arg : {D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2})
      ss[k][arg] = in.Pick({0, 1, 2, 3, 4, 0x10, 0x12, 0x11});
    ss[k][D3DTSS_TEXCOORDINDEX] = in.Pick({0, 1, 2});
    ss[k][D3DTSS_ADDRESSU] = in.Pick({1, 2, 3, 4});
    ss[k][D3DTSS_ADDRESSV] = in.Pick({1, 2, 3, 4});
    ss[k][D3DTSS_BORDERCOLOR] = in.Dword();
    ss[k][D3DTSS_MAGFILTER] = in.Pick({1, 2, 3});
    if (in.Byte() & 1) {
      textures.emplace_back(kColourLayouts[in.Byte() % 7], 1 + in.Byte() % 33, 1 + in.Byte() % 33, in.Byte());
      Image& t = textures.back();
      t.surface.hasColorKey = in.Byte() & 1;
      t.surface.colorKey =
          in.Byte() & 1 ? in.Dword() : platform::pixel::ReadRaw(t.surface.layout, t.surface.bits);
      bound[k] = &t.surface;
    }
  }
  D3DVIEWPORT7 viewport{};
  if (in.Byte() & 1) {
    viewport = {in.Dword(), in.Dword(), in.Dword(), in.Dword(), 0, 1};
  } else {
    viewport.dwX = in.Byte() % width, viewport.dwY = in.Byte() % height;
    viewport.dwWidth = 1 + in.Byte() % width, viewport.dwHeight = 1 + in.Byte() % height;
  }
  const bool withZ = in.Byte() & 1;
  const int zWidth = width - (in.Byte() % 4 == 0), zHeight = height;

  const D3DPRIMITIVETYPE type = in.Pick({D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP});
  const DWORD fvf = in.Pick({0x44, 0x144, 0x2C4});
  const int stride = raster::VertexStride(fvf);
  const DWORD vertexCount = in.Byte() % 24;
  std::vector<std::uint8_t> vertices(std::size_t(vertexCount) * (stride ? stride : 4));
  const bool smallCoordinates = in.Byte() & 1;
  for (std::size_t k = 0; k < vertices.size(); ++k) vertices[k] = in.Byte();
  if (smallCoordinates && stride)
    for (DWORD v = 0; v < vertexCount; ++v)
      for (int c = 0; c < 2; ++c) {
        // Positions on quarter pixels around the target, so that edges meet centres.
        const float f = (std::int8_t(vertices[v * stride + c * 4]) + 16) * 0.25f;
        std::memcpy(&vertices[v * stride + c * 4], &f, 4);
      }
  std::vector<WORD> indices;
  const bool indexed = in.Byte() & 1;
  if (indexed) {
    indices.resize(in.Byte() % 40);
    for (WORD& i : indices) i = WORD(in.Byte() % 28);
  }

  std::vector<std::uint8_t> results[2];
  for (int pass = 0; pass < 2; ++pass) {
    if (!raster::SetRasterPath(pass ? raster::RasterPath::Avx2 : raster::RasterPath::Portable)) break;
    Image target(targetLayout, width, height, fill), z(Layout::D16, zWidth > 0 ? zWidth : 1, zHeight, fill);
    raster::State state;
    state.renderState = rs;
    state.stageState = ss;
    for (int k = 0; k < stages; ++k) state.texture[k] = bound[k];
    state.target = target.surface;
    state.z = withZ ? &z.surface : nullptr;
    state.viewport = viewport;
    raster::DrawReport report;
    const HRESULT hr =
        raster::DrawTriangles(state, type, fvf, vertices.data(), vertexCount,
                              indexed ? indices.data() : nullptr, DWORD(indices.size()), &report);
    Check(hr == D3D_OK || hr == D3DERR_INVALIDPRIMITIVETYPE || hr == D3DERR_INVALIDVERTEXFORMAT);
    Check(report.trianglesDrawn >= 0 && report.trianglesSkipped >= 0 && report.badIndices >= 0);
    Check(report.badIndices <= int(indices.size()));
    results[pass] = target.memory;
    results[pass].insert(results[pass].end(), z.memory.begin(), z.memory.end());
  }
  if (!results[1].empty()) Check(results[0] == results[1]);
  raster::SetRasterPath(raster::BestRasterPath());
  return 0;
}
