// The device's rasteriser. Every pixel test of the 3-D back end is judged against what
// it draws, so its rules are exact and fixed:
//
// Geometry
// - Pixel (i, j) is sampled at its integer centre (i, j).
// - x and y are snapped to 24.8 fixed point (round half up of x * 256, in int64) and
//   edge functions are evaluated exactly in integers. A centre strictly inside is
//   covered; one exactly on an edge only when that edge is a top edge (horizontal,
//   interior below, y down) or a left edge. Shared edges are covered once, zero-area
//   triangles never.
// - A triangle with a non-finite x, y or z, or with |x| or |y| >= 2^22, is skipped.
// - Only centres in the bounding box, the viewport and the target are visited; there is
//   no other clipping.
// - Lists take vertices (3k, 3k+1, 3k+2), strips (k, k+1, k+2), indexed draws the same
//   through the indices; trailing list vertices are ignored. A triangle with an index at
//   or past the vertex count is skipped and the index counted.
// - Winding is taken on screen (y down); odd strip triangles count as reversed.
//   CULL_CW drops clockwise triangles, CULL_CCW counter-clockwise ones, anything else
//   drops none.
//
// Attributes
// - Flat shading: diffuse and specular (all four bytes) come from the triangle's first
//   vertex (3k in a list, k in a strip). A format without specular reads 0.
// - Texture coordinates and z are planes over the snapped positions, computed in double:
//   gradients from the three vertices, the value at the first visited centre of the
//   bounding box; each is then rounded to 32.32 fixed point (clamped to +-2^30) and
//   stepped with wrapping 64-bit adds, so every pixel's value is exact and does not
//   depend on the order of the walk.
// - A stage samples the coordinate pair TEXCOORDINDEX names; a pair the format lacks,
//   and a non-finite u or v, read 0. s = u * width rounded to 1/65536 (halves up).
//   Point sampling takes texel floor(s). Linear sampling (any magnification filter but
//   POINT) takes floor(s - 0.5) and the next texel with the 8-bit weight of the
//   fraction, rounding after each direction: (a * (256 - w) + b * w + 128) >> 8,
//   first along u, then along v. The address mode applies to each texel: CLAMP to
//   [0, size - 1], WRAP the positive modulo, MIRROR reflects, BORDER reads BORDERCOLOR;
//   other values clamp.
// - Texels expand to 8-bit ARGB by bit replication; formats without alpha read 255.
//
// Per pixel, in this order
// 1. Colour key (COLORKEYENABLE = 1): for every texture bound to a stage the cascade
//    runs that has a source colour key, the raw texel at the point-sample position
//    (none outside a BORDER texture) equal to the key masked to the texel size discards
//    the pixel: no colour and no Z write.
// 2. The stage cascade, colour and alpha pipes side by side, channels 0..255, round =
//    halves up. It stops at the first COLOROP DISABLE (or unknown operation); if that is
//    stage 0 the result is the diffuse colour. SELECTARG1, SELECTARG2, MODULATE (a1 a2 /
//    255), MODULATE2X, MODULATE4X (2 or 4 times that, at most 255), ADD (at most 255),
//    SUBTRACT (at least 0), BLENDDIFFUSEALPHA and BLENDCURRENTALPHA ((a1 A + a2 (255 -
//    A)) / 255 with the diffuse alpha or the previous stage's alpha). ALPHAOP DISABLE or
//    unknown keeps the current alpha. Arguments: DIFFUSE, CURRENT (diffuse at stage 0),
//    TEXTURE (255 everywhere without a texture), TFACTOR, SPECULAR (others read
//    CURRENT); COMPLEMENT gives 255 - x.
// 3. Alpha test (ALPHATESTENABLE = 1): alpha ALPHAFUNC (ALPHAREF & 0xFF).
// 4. Z, only when ZENABLE = 1 and a D16 surface at least the target's size is attached:
//    zq = round(z * 65535) clamped to 0..65535, passing when zq ZFUNC stored.
// 5. Blend (ALPHABLENDENABLE = 1), every channel alpha included: min(255, round((s SF +
//    d DF) / 255)); a target without alpha reads 255. Unknown factors act as ONE for
//    the source and ZERO for the destination. Unknown compare functions always pass.
// 6. The colour is written truncated to the target's layout, alpha where it has one;
//    then Z if ZWRITEENABLE = 1.
// No dithering, fog or specular add.
//
// The SIMD path draws 32-bit targets without Z with kernels that give the same bits:
// flat colours, one textured stage, or the whole cascade in lanes.
#include "d3d_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "d3d_raster_internal.h"

namespace platform::raster {

using detail::Div255;
using detail::FastBlend;
using detail::FastKernels;
using detail::FastSpan;

namespace {

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

struct PathState {
  bool chosen = false;
  RasterPath path = RasterPath::Portable;
};
PathState g_path;

RasterPath CurrentPath() {
  if (!g_path.chosen) {
    g_path.path = BestRasterPath();
    g_path.chosen = true;
  }
  return g_path.path;
}

constexpr double kCoordLimit = 4194304.0;     // 2^22 pixels
constexpr double kPlaneLimit = 1073741824.0;  // 2^30

struct VertexLayout {
  int stride = 0;
  int specular = -1;  // byte offsets, -1: absent
  int texture = -1;
  int pairs = 0;
};

VertexLayout LayoutOf(DWORD fvf) {
  switch (fvf) {
    case 0x44:
      return {20, -1, -1, 0};
    case 0x144:
      return {28, -1, 20, 1};
    case 0x2C4:
      return {40, 20, 24, 2};
    default:
      return {};
  }
}

float ReadFloat(const std::uint8_t* p) {
  float f;
  std::memcpy(&f, p, sizeof f);
  return f;
}
std::uint32_t ReadDword(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct Vertex {
  std::int64_t x = 0, y = 0;  // 24.8
  float z = 0;
  std::uint32_t diffuse = 0, specular = 0;
  float uv[2][2] = {};
  bool usable = false;
};

// floor(v) for |v| < 2^63, without a library call on processors that lack a rounding instruction.
std::int64_t FloorToInt(double v) {
  const auto t = static_cast<std::int64_t>(v);  // exact: v's integer part
  return t - (static_cast<double>(t) > v ? 1 : 0);
}

std::int64_t Snap(float v) { return FloorToInt(static_cast<double>(v) * 256.0 + 0.5); }

// Filled in place: a vertex copied out of a temporary stalls on its partly written bytes.
void FetchVertex(const std::uint8_t* base, const VertexLayout& layout, Vertex& v) {
  const float x = ReadFloat(base), y = ReadFloat(base + 4);
  v.x = 0, v.y = 0;
  v.z = ReadFloat(base + 8);
  v.diffuse = ReadDword(base + 16);
  v.specular = layout.specular >= 0 ? ReadDword(base + layout.specular) : 0;
  for (int k = 0; k < layout.pairs; ++k)
    for (int c = 0; c < 2; ++c) {
      const float f = ReadFloat(base + layout.texture + 8 * k + 4 * c);
      v.uv[k][c] = std::isfinite(f) ? f : 0.0f;
    }
  v.usable = std::isfinite(x) && std::isfinite(y) && std::isfinite(v.z) && std::fabs(x) < kCoordLimit &&
             std::fabs(y) < kCoordLimit;
  if (v.usable) v.x = Snap(x), v.y = Snap(y);
}

bool UsableSurface(const Surface* s, bool colour) {
  if (s == nullptr || s->bits == nullptr || s->width <= 0 || s->height <= 0) return false;
  if (colour ? (s->layout == pixel::Layout::Unsupported || s->layout == pixel::Layout::D16)
             : s->layout != pixel::Layout::D16)
    return false;
  return static_cast<std::int64_t>(s->pitch) >=
         static_cast<std::int64_t>(s->width) * pixel::BytesPerPixel(s->layout);
}

// Bytes from a surface's first pixel to the end of its last.
std::int64_t Extent(const Surface& s) {
  return static_cast<std::int64_t>(s.height - 1) * s.pitch +
         static_cast<std::int64_t>(s.width) * pixel::BytesPerPixel(s.layout);
}

bool Overlap(const Surface& a, const Surface& b) {
  const auto as = reinterpret_cast<std::uintptr_t>(a.bits), bs = reinterpret_cast<std::uintptr_t>(b.bits);
  return as < bs + static_cast<std::uintptr_t>(Extent(b)) && bs < as + static_cast<std::uintptr_t>(Extent(a));
}

struct Stage {
  DWORD colorOp = 0, colorArg1 = 0, colorArg2 = 0;
  DWORD alphaOp = 0, alphaArg1 = 0, alphaArg2 = 0;
  const Surface* texture = nullptr;
  int pair = -1;  // coordinate pair, -1: reads (0, 0)
  DWORD addressU = 0, addressV = 0;
  std::uint32_t border = 0;
  bool linear = false;
  bool keyed = false;
  std::uint32_t key = 0;
  int bpp = 0;  // of the texture
};

// Where a channel group of the fast pipeline comes from: a constant per triangle (what
// the cascade gives), the texel or its complement, or that times a constant argument.
enum class PipeKind { Constant, Texel, TexelTimes };
struct Pipe {
  PipeKind kind = PipeKind::Constant;
  bool complement = false;
  DWORD constant = 0;  // the other argument of TexelTimes
};

constexpr int kColourPipe = 0, kAlphaPipe = 1;
constexpr std::uint32_t kPipeMask[2] = {0x00FFFFFFu, 0xFF000000u};

struct Context {
  Surface target;
  int targetBpp = 0;
  bool drawable = false;
  int clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0;  // right and bottom exclusive
  int stageCount = 0;
  Stage stage[kD3DMaxStages];
  bool alphaTest = false;
  DWORD alphaFunc = D3DCMP_ALWAYS;
  std::uint32_t alphaRef = 0;
  const Surface* z = nullptr;
  DWORD zFunc = D3DCMP_LESSEQUAL;
  bool zWrite = false;
  bool blend = false;
  DWORD srcBlend = D3DBLEND_ONE, destBlend = D3DBLEND_ZERO;
  std::uint32_t textureFactor = 0xFFFFFFFFu;
  DWORD cull = D3DCULL_NONE;
  // The fast pipeline, when the SIMD path has kernels for these states.
  const FastKernels* fast = nullptr;
  bool fastFlat = false;     // no texel read: one colour per triangle
  bool fastCascade = false;  // the whole cascade in lanes
  bool fastLinear = false;
  FastBlend fastBlend = FastBlend::Copy;
  std::uint32_t fastSrcFactor = 0, fastDestFactor = 0;
  Pipe fastPipe[2];  // colour, alpha: the channels of kPipeMask
};

bool KnownOp(DWORD op) { return op != D3DTOP_DISABLE && IsStageOperation(op); }

bool ReadsTexture(DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }
bool UsesArg1(DWORD op) { return op != D3DTOP_SELECTARG2; }
bool UsesArg2(DWORD op) { return op != D3DTOP_SELECTARG1; }
bool OpReadsTexture(DWORD op, DWORD arg1, DWORD arg2) {
  return (UsesArg1(op) && ReadsTexture(arg1)) || (UsesArg2(op) && ReadsTexture(arg2));
}

// Whether the texel can change a stage's result (or discard the pixel).
bool TexelMatters(const Stage& s) {
  if (s.texture == nullptr) return false;
  return s.keyed || OpReadsTexture(s.colorOp, s.colorArg1, s.colorArg2) ||
         (KnownOp(s.alphaOp) && OpReadsTexture(s.alphaOp, s.alphaArg1, s.alphaArg2));
}

// The fast pipeline's form of one stage-0 operation, false when it has none.
bool MakePipe(DWORD op, DWORD arg1, DWORD arg2, Pipe* p) {
  const bool t1 = UsesArg1(op) && ReadsTexture(arg1), t2 = UsesArg2(op) && ReadsTexture(arg2);
  *p = Pipe{};
  if (!t1 && !t2) return true;
  if (op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2) {
    p->kind = PipeKind::Texel;
    p->complement = ((t1 ? arg1 : arg2) & D3DTA_COMPLEMENT) != 0;
    return true;
  }
  if (op != D3DTOP_MODULATE || t1 == t2) return false;
  p->kind = PipeKind::TexelTimes;
  p->complement = ((t1 ? arg1 : arg2) & D3DTA_COMPLEMENT) != 0;
  p->constant = t1 ? arg2 : arg1;
  return true;
}

// Whether the source alpha can reach a pixel: the alpha test, a target that keeps it,
// or a blend factor made of it.
bool AlphaMatters(const Context& c) {
  const auto reads = [](DWORD f) { return f == D3DBLEND_SRCALPHA || f == D3DBLEND_INVSRCALPHA; };
  return c.alphaTest || pixel::HasAlpha(c.target.layout) ||
         (c.blend && (reads(c.srcBlend) || reads(c.destBlend)));
}

FastBlend ChooseBlend(const Context& c, std::uint32_t* srcFactor, std::uint32_t* destFactor) {
  const auto known = [](DWORD f) { return f >= D3DBLEND_ZERO && f <= D3DBLEND_INVDESTCOLOR; };
  const DWORD sf = known(c.srcBlend) ? c.srcBlend : D3DBLEND_ONE;
  const DWORD df = known(c.destBlend) ? c.destBlend : D3DBLEND_ZERO;
  *srcFactor = sf, *destFactor = df;
  if (!c.blend || (sf == D3DBLEND_ONE && df == D3DBLEND_ZERO)) return FastBlend::Copy;
  if (sf == D3DBLEND_SRCALPHA && df == D3DBLEND_INVSRCALPHA) return FastBlend::Alpha;
  if (sf == D3DBLEND_ONE && df == D3DBLEND_ONE) return FastBlend::Add;
  if (sf == D3DBLEND_SRCALPHA && df == D3DBLEND_ONE) return FastBlend::AddAlpha;
  return FastBlend::General;
}

// Whether the kernels can sample a stage's texture.
bool TextureFits(const Context& c, const Stage& s) {
  using pixel::Layout;
  if (s.texture == nullptr || s.addressU != D3DTADDRESS_CLAMP || s.addressV != D3DTADDRESS_CLAMP)
    return false;
  if (s.texture->layout != Layout::X8R8G8B8 && s.texture->layout != Layout::A8R8G8B8) return false;
  // The kernels address texels with 32-bit offsets, and read the texture while they write the target.
  return Extent(*s.texture) < (std::int64_t{1} << 31) && !Overlap(*s.texture, c.target);
}

// One textured stage whose channels the fast pipeline can form.
bool SingleStage(Context& c) {
  const Stage& s = c.stage[0];
  if (c.alphaTest || c.stageCount != 1 || !TextureFits(c, s)) return false;
  if (!MakePipe(s.colorOp, s.colorArg1, s.colorArg2, &c.fastPipe[kColourPipe])) return false;
  Pipe& alpha = c.fastPipe[kAlphaPipe];
  alpha = Pipe{PipeKind::Texel};  // an alpha nothing reads may as well be the texel's
  if (!AlphaMatters(c)) return true;
  if (!KnownOp(s.alphaOp)) return alpha = Pipe{}, true;  // the diffuse alpha
  return MakePipe(s.alphaOp, s.alphaArg1, s.alphaArg2, &alpha);
}

void ChooseFastKernel(Context& c) {
  if (CurrentPath() != RasterPath::Avx2) return;
  const FastKernels* kernels = detail::Avx2FastKernels();
  if (kernels == nullptr) return;
  using pixel::Layout;
  const bool target32 = c.target.layout == Layout::X8R8G8B8 || c.target.layout == Layout::A8R8G8B8;
  if (!target32 || c.z != nullptr) return;
  c.fastBlend = ChooseBlend(c, &c.fastSrcFactor, &c.fastDestFactor);
  if (std::none_of(c.stage, c.stage + c.stageCount, TexelMatters)) {
    c.fast = kernels;
    c.fastFlat = true;
    return;
  }
  if (SingleStage(c)) {
    c.fast = kernels;
    c.fastLinear = c.stage[0].linear;
    return;
  }
  for (int k = 0; k < c.stageCount; ++k)
    if (TexelMatters(c.stage[k]) && !TextureFits(c, c.stage[k])) return;
  c.fast = kernels;
  c.fastCascade = true;
}

Context MakeContext(const State& state) {
  Context c;
  const DWORD* rs = state.renderState;
  c.target = state.target;
  c.drawable = rs != nullptr && state.stageState != nullptr && UsableSurface(&c.target, true);
  if (!c.drawable) return c;
  c.targetBpp = pixel::BytesPerPixel(c.target.layout);
  const D3DVIEWPORT7& vp = state.viewport;
  const std::int64_t left = std::max<std::int64_t>(0, vp.dwX), top = std::max<std::int64_t>(0, vp.dwY);
  const std::int64_t right = std::min<std::int64_t>(c.target.width, std::int64_t{vp.dwX} + vp.dwWidth);
  const std::int64_t bottom = std::min<std::int64_t>(c.target.height, std::int64_t{vp.dwY} + vp.dwHeight);
  if (left >= right || top >= bottom) {
    c.drawable = false;
    return c;
  }
  c.clipLeft = static_cast<int>(left), c.clipTop = static_cast<int>(top);
  c.clipRight = static_cast<int>(right), c.clipBottom = static_cast<int>(bottom);

  const bool colorKey = rs[D3DRENDERSTATE_COLORKEYENABLE] != 0;
  for (DWORD k = 0; k < kD3DMaxStages; ++k) {
    const DWORD* ss = state.stageState[k];
    if (!KnownOp(ss[D3DTSS_COLOROP])) break;
    Stage& s = c.stage[c.stageCount++];
    s.colorOp = ss[D3DTSS_COLOROP], s.colorArg1 = ss[D3DTSS_COLORARG1], s.colorArg2 = ss[D3DTSS_COLORARG2];
    s.alphaOp = ss[D3DTSS_ALPHAOP], s.alphaArg1 = ss[D3DTSS_ALPHAARG1], s.alphaArg2 = ss[D3DTSS_ALPHAARG2];
    if (UsableSurface(state.texture[k], true)) {
      s.texture = state.texture[k];
      s.bpp = pixel::BytesPerPixel(s.texture->layout);
    }
    s.pair = ss[D3DTSS_TEXCOORDINDEX] < 2 ? static_cast<int>(ss[D3DTSS_TEXCOORDINDEX]) : -1;
    s.addressU = ss[D3DTSS_ADDRESSU], s.addressV = ss[D3DTSS_ADDRESSV];
    s.border = ss[D3DTSS_BORDERCOLOR];
    s.linear = ss[D3DTSS_MAGFILTER] != D3DTFG_POINT;
    if (s.texture != nullptr && colorKey && s.texture->hasColorKey) {
      s.keyed = true;
      s.key =
          pixel::BytesPerPixel(s.texture->layout) == 2 ? s.texture->colorKey & 0xFFFF : s.texture->colorKey;
    }
  }
  c.alphaTest = rs[D3DRENDERSTATE_ALPHATESTENABLE] != 0;
  c.alphaFunc = rs[D3DRENDERSTATE_ALPHAFUNC];
  c.alphaRef = rs[D3DRENDERSTATE_ALPHAREF] & 0xFF;
  if (rs[D3DRENDERSTATE_ZENABLE] == D3DZB_TRUE && UsableSurface(state.z, false) &&
      state.z->width >= c.target.width && state.z->height >= c.target.height)
    c.z = state.z;
  c.zFunc = rs[D3DRENDERSTATE_ZFUNC];
  c.zWrite = rs[D3DRENDERSTATE_ZWRITEENABLE] != 0;
  c.blend = rs[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  c.srcBlend = rs[D3DRENDERSTATE_SRCBLEND];
  c.destBlend = rs[D3DRENDERSTATE_DESTBLEND];
  c.textureFactor = rs[D3DRENDERSTATE_TEXTUREFACTOR];
  c.cull = rs[D3DRENDERSTATE_CULLMODE];
  ChooseFastKernel(c);
  return c;
}

// ---- Sampling -------------------------------------------------------------------

// A texel index after the address mode; -1 for a BORDER miss.
int Address(std::int32_t i, int size, DWORD mode) {
  if (i >= 0 && i < size) return i;
  switch (mode) {
    case D3DTADDRESS_WRAP: {
      const std::int32_t m = i % size;
      return m < 0 ? m + size : m;
    }
    case D3DTADDRESS_MIRROR: {
      const std::int64_t period = std::int64_t{size} * 2;
      std::int64_t m = i % period;
      if (m < 0) m += period;
      return static_cast<int>(m < size ? m : period - 1 - m);
    }
    case D3DTADDRESS_BORDER:
      return -1;
    default:
      return i < 0 ? 0 : size - 1;
  }
}

// Pixels by size, and the 32-bit layouts' conversions inline; the rules are pixel_format's.
std::uint32_t LoadRaw(int bpp, const std::uint8_t* p) {
  if (bpp == 4) return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return p[0] | (p[1] << 8);
}
void StoreRaw(int bpp, std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
  if (bpp == 4) p[2] = static_cast<std::uint8_t>(v >> 16), p[3] = static_cast<std::uint8_t>(v >> 24);
}
std::uint32_t ToArgb(pixel::Layout layout, std::uint32_t raw) {
  if (layout == pixel::Layout::A8R8G8B8) return raw;
  if (layout == pixel::Layout::X8R8G8B8) return raw | 0xFF000000u;
  return pixel::RawToARGB(layout, raw);
}
std::uint32_t FromArgb(pixel::Layout layout, std::uint32_t argb) {
  if (layout == pixel::Layout::A8R8G8B8) return argb;
  if (layout == pixel::Layout::X8R8G8B8) return argb & 0xFFFFFFu;
  return pixel::ARGBToRaw(layout, argb);
}

std::uint32_t TexelRaw(const Stage& s, int x, int y) {
  const Surface& t = *s.texture;
  return LoadRaw(s.bpp,
                 t.bits + static_cast<std::int64_t>(y) * t.pitch + static_cast<std::int64_t>(x) * s.bpp);
}

std::uint32_t Fetch(const Stage& s, int x, int y) {
  if (x < 0 || y < 0) return s.border;
  return ToArgb(s.texture->layout, TexelRaw(s, x, y));
}

bool KeyedOut(const Stage& s, std::uint64_t u, std::uint64_t v) {
  const Surface& t = *s.texture;
  const int x = Address(detail::PointTexel(u), t.width, s.addressU);
  const int y = Address(detail::PointTexel(v), t.height, s.addressV);
  return x >= 0 && y >= 0 && TexelRaw(s, x, y) == s.key;
}

std::uint32_t Sample(const Stage& s, std::uint64_t u, std::uint64_t v) {
  const Surface& t = *s.texture;
  if (!s.linear)
    return Fetch(s, Address(detail::PointTexel(u), t.width, s.addressU),
                 Address(detail::PointTexel(v), t.height, s.addressV));
  const std::int32_t x = detail::LinearTexel(u), y = detail::LinearTexel(v);
  const std::uint32_t wx = detail::LinearWeight(u), wy = detail::LinearWeight(v);
  // The next texel wraps at the end of the 32-bit range, as the SIMD lanes do.
  const auto next = [](std::int32_t i) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(i) + 1);
  };
  const int x0 = Address(x, t.width, s.addressU), x1 = Address(next(x), t.width, s.addressU);
  const int y0 = Address(y, t.height, s.addressV), y1 = Address(next(y), t.height, s.addressV);
  const std::uint32_t c00 = Fetch(s, x0, y0), c10 = Fetch(s, x1, y0), c01 = Fetch(s, x0, y1),
                      c11 = Fetch(s, x1, y1);
  std::uint32_t out = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    const std::uint32_t top = detail::Lerp8((c00 >> sh) & 0xFF, (c10 >> sh) & 0xFF, wx);
    const std::uint32_t bottom = detail::Lerp8((c01 >> sh) & 0xFF, (c11 >> sh) & 0xFF, wx);
    out |= detail::Lerp8(top, bottom, wy) << sh;
  }
  return out;
}

// ---- Stage cascade, tests, blend -------------------------------------------------

struct Inputs {
  std::uint32_t diffuse, specular, factor;
};

std::uint32_t Argument(DWORD arg, const Inputs& in, std::uint32_t current, std::uint32_t texel) {
  const std::uint32_t v = detail::SelectArgument(arg, in, current, texel);
  return (arg & D3DTA_COMPLEMENT) ? ~v : v;
}

std::uint32_t Channel(std::uint32_t c, int k) { return (c >> (8 * k)) & 0xFF; }

// A stage operation on channels [from, to) of two ARGB arguments.
std::uint32_t Operate(DWORD op, std::uint32_t a, std::uint32_t b, std::uint32_t diffuseAlpha,
                      std::uint32_t currentAlpha, int from, int to) {
  const auto each = [&](auto f) {
    std::uint32_t out = 0;
    for (int ch = from; ch < to; ++ch) out |= f(Channel(a, ch), Channel(b, ch)) << (8 * ch);
    return out;
  };
  using U = std::uint32_t;
  switch (op) {
    case D3DTOP_SELECTARG1:
      return each([](U x, U) { return x; });
    case D3DTOP_SELECTARG2:
      return each([](U, U y) { return y; });
    case D3DTOP_MODULATE:
      return each([](U x, U y) { return Div255(x * y); });
    case D3DTOP_MODULATE2X:
      return each([](U x, U y) { return std::min(255u, Div255(2 * x * y)); });
    case D3DTOP_MODULATE4X:
      return each([](U x, U y) { return std::min(255u, Div255(4 * x * y)); });
    case D3DTOP_ADD:
      return each([](U x, U y) { return std::min(255u, x + y); });
    case D3DTOP_SUBTRACT:
      return each([](U x, U y) { return x > y ? x - y : 0; });
    case D3DTOP_BLENDDIFFUSEALPHA:
      return each([=](U x, U y) { return Div255(x * diffuseAlpha + y * (255 - diffuseAlpha)); });
    default:  // BLENDCURRENTALPHA
      return each([=](U x, U y) { return Div255(x * currentAlpha + y * (255 - currentAlpha)); });
  }
}

std::uint32_t Cascade(const Context& c, const Inputs& in, const std::uint32_t* texel) {
  std::uint32_t current = in.diffuse;
  const std::uint32_t diffuseAlpha = in.diffuse >> 24;
  for (int k = 0; k < c.stageCount; ++k) {
    const Stage& s = c.stage[k];
    const std::uint32_t currentAlpha = current >> 24;
    const std::uint32_t colour =
        Operate(s.colorOp, Argument(s.colorArg1, in, current, texel[k]),
                Argument(s.colorArg2, in, current, texel[k]), diffuseAlpha, currentAlpha, 0, 3);
    std::uint32_t alpha = current & 0xFF000000u;
    if (KnownOp(s.alphaOp))
      alpha = Operate(s.alphaOp, Argument(s.alphaArg1, in, current, texel[k]),
                      Argument(s.alphaArg2, in, current, texel[k]), diffuseAlpha, currentAlpha, 3, 4);
    current = colour | alpha;
  }
  return current;
}

bool Compare(DWORD func, std::uint32_t value, std::uint32_t reference) {
  switch (func) {
    case D3DCMP_NEVER:
      return false;
    case D3DCMP_LESS:
      return value < reference;
    case D3DCMP_EQUAL:
      return value == reference;
    case D3DCMP_LESSEQUAL:
      return value <= reference;
    case D3DCMP_GREATER:
      return value > reference;
    case D3DCMP_NOTEQUAL:
      return value != reference;
    case D3DCMP_GREATEREQUAL:
      return value >= reference;
    default:
      return true;
  }
}

// A blend factor for all four channels at once (ARGB bytes).
std::uint32_t Factor(DWORD f, std::uint32_t src, std::uint32_t dst, bool source) {
  switch (f) {
    case D3DBLEND_ZERO:
      return 0;
    case D3DBLEND_ONE:
      return 0xFFFFFFFFu;
    case D3DBLEND_SRCCOLOR:
      return src;
    case D3DBLEND_INVSRCCOLOR:
      return ~src;
    case D3DBLEND_SRCALPHA:
      return (src >> 24) * 0x01010101u;
    case D3DBLEND_INVSRCALPHA:
      return (~src >> 24) * 0x01010101u;
    case D3DBLEND_DESTALPHA:
      return (dst >> 24) * 0x01010101u;
    case D3DBLEND_INVDESTALPHA:
      return (~dst >> 24) * 0x01010101u;
    case D3DBLEND_DESTCOLOR:
      return dst;
    case D3DBLEND_INVDESTCOLOR:
      return ~dst;
    default:
      return source ? 0xFFFFFFFFu : 0;
  }
}

std::uint32_t Blend(const Context& c, std::uint32_t src, std::uint32_t dst) {
  const std::uint32_t sf = Factor(c.srcBlend, src, dst, true), df = Factor(c.destBlend, src, dst, false);
  std::uint32_t out = 0;
  for (int ch = 0; ch < 4; ++ch) {
    const std::uint32_t n = Channel(src, ch) * Channel(sf, ch) + Channel(dst, ch) * Channel(df, ch);
    out |= std::min(255u, Div255(n)) << (8 * ch);
  }
  return out;
}

// ---- Triangles ------------------------------------------------------------------

// A value over the triangle in 32.32: at the first visited centre, and per step.
struct Plane {
  std::uint64_t origin = 0, dx = 0, dy = 0;
};

__attribute__((always_inline)) inline std::uint64_t ToFixed(double v) {
  if (std::isnan(v)) v = 0;
  v = std::clamp(v, -kPlaneLimit, kPlaneLimit);
  return static_cast<std::uint64_t>(FloorToInt(v * 4294967296.0 + 0.5));
}

struct Geometry {
  double x[3], y[3];  // snapped positions in pixels
  double area;        // twice the signed area, positive
  int originX, originY;
};

__attribute__((always_inline)) inline Plane MakePlane(const Geometry& g, double f0, double f1, double f2) {
  const double d1 = f1 - f0, d2 = f2 - f0;
  const double ex1 = g.x[1] - g.x[0], ey1 = g.y[1] - g.y[0], ex2 = g.x[2] - g.x[0], ey2 = g.y[2] - g.y[0];
  const double gx = (d1 * ey2 - d2 * ey1) / g.area;
  const double gy = (d2 * ex1 - d1 * ex2) / g.area;
  const double origin = f0 + gx * (g.originX - g.x[0]) + gy * (g.originY - g.y[0]);
  return {ToFixed(origin), ToFixed(gx), ToFixed(gy)};
}

// Two values over one triangle (a stage's u and v) side by side, each lane taking
// MakePlane's operations in MakePlane's order, so that the numbers are the same.
struct SlopePair {
  double gx[2], gy[2];
};

#if defined(__SSE2__)
// ToFixed in lanes: NaN reads 0, the clamp, the scale; the floor per lane.
__attribute__((always_inline)) inline void ToFixedPair(__m128d v, std::uint64_t& a, std::uint64_t& b) {
  v = _mm_andnot_pd(_mm_cmpunord_pd(v, v), v);
  v = _mm_min_pd(_mm_max_pd(v, _mm_set1_pd(-kPlaneLimit)), _mm_set1_pd(kPlaneLimit));
  v = _mm_add_pd(_mm_mul_pd(v, _mm_set1_pd(4294967296.0)), _mm_set1_pd(0.5));
  a = static_cast<std::uint64_t>(FloorToInt(_mm_cvtsd_f64(v)));
  b = static_cast<std::uint64_t>(FloorToInt(_mm_cvtsd_f64(_mm_unpackhi_pd(v, v))));
}
#endif

// The fixed values at the anchor, (offsetX, offsetY) from the first vertex.
__attribute__((always_inline)) inline void OriginPair(double fa, double fb, const SlopePair& s,
                                                      double offsetX, double offsetY, std::uint64_t& a,
                                                      std::uint64_t& b) {
#if defined(__SSE2__)
  const __m128d gx = _mm_loadu_pd(s.gx), gy = _mm_loadu_pd(s.gy);
  const __m128d origin = _mm_add_pd(_mm_add_pd(_mm_set_pd(fb, fa), _mm_mul_pd(gx, _mm_set1_pd(offsetX))),
                                    _mm_mul_pd(gy, _mm_set1_pd(offsetY)));
  ToFixedPair(origin, a, b);
#else
  a = ToFixed(fa + s.gx[0] * offsetX + s.gy[0] * offsetY);
  b = ToFixed(fb + s.gx[1] * offsetX + s.gy[1] * offsetY);
#endif
}

__attribute__((always_inline)) inline void MakePlanePair(const Geometry& g, const double (&fa)[3],
                                                         const double (&fb)[3], Plane& a, Plane& b,
                                                         SlopePair& s) {
  const double ex1 = g.x[1] - g.x[0], ey1 = g.y[1] - g.y[0], ex2 = g.x[2] - g.x[0], ey2 = g.y[2] - g.y[0];
#if defined(__SSE2__)
  const __m128d f0 = _mm_set_pd(fb[0], fa[0]);
  const __m128d d1 = _mm_sub_pd(_mm_set_pd(fb[1], fa[1]), f0);
  const __m128d d2 = _mm_sub_pd(_mm_set_pd(fb[2], fa[2]), f0);
  const __m128d area = _mm_set1_pd(g.area);
  const __m128d gx =
      _mm_div_pd(_mm_sub_pd(_mm_mul_pd(d1, _mm_set1_pd(ey2)), _mm_mul_pd(d2, _mm_set1_pd(ey1))), area);
  const __m128d gy =
      _mm_div_pd(_mm_sub_pd(_mm_mul_pd(d2, _mm_set1_pd(ex1)), _mm_mul_pd(d1, _mm_set1_pd(ex2))), area);
  _mm_storeu_pd(s.gx, gx);
  _mm_storeu_pd(s.gy, gy);
  ToFixedPair(gx, a.dx, b.dx);
  ToFixedPair(gy, a.dy, b.dy);
#else
  const double f[2][3] = {{fa[0], fa[1], fa[2]}, {fb[0], fb[1], fb[2]}};
  for (int n = 0; n < 2; ++n) {
    const double d1 = f[n][1] - f[n][0], d2 = f[n][2] - f[n][0];
    s.gx[n] = (d1 * ey2 - d2 * ey1) / g.area;
    s.gy[n] = (d2 * ex1 - d1 * ex2) / g.area;
  }
  a.dx = ToFixed(s.gx[0]), b.dx = ToFixed(s.gx[1]);
  a.dy = ToFixed(s.gy[0]), b.dy = ToFixed(s.gy[1]);
#endif
  OriginPair(fa[0], fb[0], s, g.originX - g.x[0], g.originY - g.y[0], a.origin, b.origin);
}

std::uint64_t At(const Plane& p, std::int64_t di, std::int64_t dj) {
  return p.origin + p.dx * static_cast<std::uint64_t>(di) + p.dy * static_cast<std::uint64_t>(dj);
}

// What a triangle's pixels are computed from, planes anchored at (originX, originY).
struct Triangle {
  Inputs in;
  Plane u[kD3DMaxStages], v[kD3DMaxStages];
  Plane z;
};

bool operator==(const Plane& a, const Plane& b) {
  return a.origin == b.origin && a.dx == b.dx && a.dy == b.dy;
}

// floor(a / 256) of 24.8 fixed point: the shift of a signed value rounds down.
std::int64_t Floor256(std::int64_t a) { return a >> 8; }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  std::int64_t q = a / b;
  if ((a % b) < 0) --q;
  return q;
}

// The exact bound of one edge along the rows: with N = bias - E at the row's first
// centre and a = |step along x|, the bound is first + ceil(N / a) (lower, step > 0) or
// first - ceil(N / a) (upper, step < 0). The quotient is carried from row to row.
struct EdgeWalk {
  std::int64_t e = 0, bias = 0, stepX = 0, stepY = 0;
  std::int64_t a = 0, q = 0, r = 0, qStep = 0, rStep = 0;

  void Start() {
    if (stepX == 0) return;
    a = stepX > 0 ? stepX : -stepX;
    const std::int64_t n = bias - e;
    q = n / a;
    const std::int64_t rem = n % a;
    r = 0;
    if (rem > 0) ++q, r = a - rem;
    if (rem < 0) r = -rem;
    qStep = FloorDiv(stepY, a);
    rStep = stepY - qStep * a;
  }
  void NextRow() {
    e += stepY;
    if (stepX == 0) return;
    q -= qStep;
    r += rStep;
    if (r >= a) --q, r -= a;
  }
};

void GeneralSpan(const Context& c, const Triangle& tri, int j, int lo, int hi, std::uint64_t* u,
                 std::uint64_t* v, std::uint64_t z) {
  const pixel::Layout layout = c.target.layout;
  const int bpp = c.targetBpp;
  std::uint8_t* p =
      c.target.bits + static_cast<std::int64_t>(j) * c.target.pitch + static_cast<std::int64_t>(lo) * bpp;
  std::uint8_t* zp =
      c.z ? c.z->bits + static_cast<std::int64_t>(j) * c.z->pitch + static_cast<std::int64_t>(lo) * 2
          : nullptr;
  std::uint32_t texel[kD3DMaxStages];
  for (int i = lo; i <= hi; ++i, p += bpp, zp = zp ? zp + 2 : nullptr, z += tri.z.dx) {
    bool discard = false;
    for (int k = 0; k < c.stageCount; ++k) {
      const Stage& s = c.stage[k];
      texel[k] = 0xFFFFFFFFu;
      if (s.texture != nullptr) {
        if (s.keyed && KeyedOut(s, u[k], v[k])) discard = true;
        texel[k] = Sample(s, u[k], v[k]);
      }
      u[k] += tri.u[k].dx, v[k] += tri.v[k].dx;
    }
    if (discard) continue;
    const std::uint32_t colour = Cascade(c, tri.in, texel);
    if (c.alphaTest && !Compare(c.alphaFunc, colour >> 24, c.alphaRef)) continue;
    std::uint32_t zq = 0;
    if (zp != nullptr) {
      const std::int64_t zi = static_cast<std::int64_t>(z + 0x80000000u) >> 32;
      zq = static_cast<std::uint32_t>(std::clamp<std::int64_t>(zi, 0, 65535));
      if (!Compare(c.zFunc, zq, static_cast<std::uint32_t>(zp[0] | (zp[1] << 8)))) continue;
    }
    const std::uint32_t out = c.blend ? Blend(c, colour, ToArgb(layout, LoadRaw(bpp, p))) : colour;
    StoreRaw(bpp, p, FromArgb(layout, out));
    if (zp != nullptr && c.zWrite)
      zp[0] = static_cast<std::uint8_t>(zq), zp[1] = static_cast<std::uint8_t>(zq >> 8);
  }
}

constexpr int kBlockRows = 64;  // rows whose spans are found before any is drawn

// A triangle that survived culling, with its edges and visited rectangle.
struct Prepared {
  const Vertex* vx[3];  // positive winding
  const Vertex* first;
  std::int64_t area;
  std::int64_t i0, i1, j0, j1;
  bool edgesStarted;  // the edges are set up when a walk needs them, not for a split rectangle
  EdgeWalk edge[3];
};

bool Prepare(const Context& c, const Vertex* const vin[3], bool reversed, Prepared& p) {
  p.vx[0] = vin[0], p.vx[1] = vin[1], p.vx[2] = vin[2];
  p.first = vin[0];
  const Vertex* const* vx = p.vx;
  p.area = (vx[1]->x - vx[0]->x) * (vx[2]->y - vx[0]->y) - (vx[2]->x - vx[0]->x) * (vx[1]->y - vx[0]->y);
  if (p.area == 0) return false;
  const bool clockwise = (p.area > 0) != reversed;
  if ((c.cull == D3DCULL_CW && clockwise) || (c.cull == D3DCULL_CCW && !clockwise)) return false;
  if (p.area < 0) std::swap(p.vx[1], p.vx[2]), p.area = -p.area;

  // Centres (256 i, 256 j) in the bounding box and the clip rectangle.
  const std::int64_t minX = std::min({vx[0]->x, vx[1]->x, vx[2]->x}),
                     maxX = std::max({vx[0]->x, vx[1]->x, vx[2]->x});
  const std::int64_t minY = std::min({vx[0]->y, vx[1]->y, vx[2]->y}),
                     maxY = std::max({vx[0]->y, vx[1]->y, vx[2]->y});
  p.i0 = std::max<std::int64_t>(-Floor256(-minX), c.clipLeft);
  p.i1 = std::min<std::int64_t>(Floor256(maxX), c.clipRight - 1);
  p.j0 = std::max<std::int64_t>(-Floor256(-minY), c.clipTop);
  p.j1 = std::min<std::int64_t>(Floor256(maxY), c.clipBottom - 1);
  p.edgesStarted = false;
  return true;  // drawn, though perhaps with no centre to visit
}

void StartEdges(Prepared& p) {
  if (p.edgesStarted) return;
  p.edgesStarted = true;
  const Vertex* const* vx = p.vx;
  for (int k = 0; k < 3; ++k) {
    const Vertex& a = *vx[k];
    const Vertex& b = *vx[(k + 1) % 3];
    const std::int64_t dx = b.x - a.x, dy = b.y - a.y;
    EdgeWalk& w = p.edge[k];
    w.e = dx * (256 * p.j0 - a.y) - dy * (256 * p.i0 - a.x);
    w.bias = (dy < 0 || (dy == 0 && dx > 0)) ? 0 : 1;  // left or top edges keep their centres
    w.stepX = -dy * 256;
    w.stepY = dx * 256;
    w.Start();
  }
}

bool Visits(const Prepared& p) { return p.i0 <= p.i1 && p.j0 <= p.j1; }

// Writes only what the states give a triangle: planes of stages without a texture, and z
// without a Z surface, keep what the draw call's record started with. The slopes of each
// textured stage's u and v go to `slopes` when given.
void MakeTriangle(const Context& c, const Prepared& p, int originX, int originY, Triangle& tri,
                  SlopePair* slopes = nullptr) {
  SlopePair unused;
  Geometry g;
  for (int k = 0; k < 3; ++k) g.x[k] = p.vx[k]->x / 256.0, g.y[k] = p.vx[k]->y / 256.0;
  g.area = static_cast<double>(p.area) / 65536.0;
  g.originX = originX, g.originY = originY;
  tri.in = {p.first->diffuse, p.first->specular, c.textureFactor};
  for (int k = 0; k < c.stageCount; ++k) {
    const Stage& s = c.stage[k];
    if (s.texture == nullptr) continue;
    double fu[3] = {0, 0, 0}, fv[3] = {0, 0, 0};
    if (s.pair >= 0)
      for (int n = 0; n < 3; ++n) {
        fu[n] = static_cast<double>(p.vx[n]->uv[s.pair][0]) * s.texture->width;
        fv[n] = static_cast<double>(p.vx[n]->uv[s.pair][1]) * s.texture->height;
      }
    MakePlanePair(g, fu, fv, tri.u[k], tri.v[k], slopes != nullptr ? slopes[k] : unused);
  }
  if (c.z != nullptr) tri.z = MakePlane(g, p.vx[0]->z * 65535.0, p.vx[1]->z * 65535.0, p.vx[2]->z * 65535.0);
}

// Whether b is the second half of a quad whose first half is a: a's vertices stand on
// the top left, top right and bottom left corners of a rectangle (or the mirror of that
// with both sizes negative), b's on the other corner, then a's third and second; and
// every textured stage's u follows x alone and v follows y alone (to the bit). Then b's
// slopes equal a's to the bit, or are both zero, and the two differ at most in their
// values at the anchor.
bool SecondHalfOfQuad(const Context& c, const Prepared& a, const Prepared& b) {
  const Vertex &a0 = *a.vx[0], &a1 = *a.vx[1], &a2 = *a.vx[2];
  const Vertex &b0 = *b.vx[0], &b1 = *b.vx[1], &b2 = *b.vx[2];
  if (a0.y != a1.y || a0.x != a2.x || b0.x != a1.x || b0.y != a2.y || b1.x != a2.x || b1.y != a2.y ||
      b2.x != a1.x || b2.y != a1.y)
    return false;
  const auto same = [](float x, float y) {
    std::uint32_t i, j;
    std::memcpy(&i, &x, sizeof i);
    std::memcpy(&j, &y, sizeof j);
    return i == j;
  };
  for (int k = 0; k < c.stageCount; ++k) {
    const Stage& s = c.stage[k];
    if (s.texture == nullptr || s.pair < 0) continue;
    const int n = s.pair;
    if (!same(a0.uv[n][0], a2.uv[n][0]) || !same(a0.uv[n][0], b1.uv[n][0]) ||
        !same(a1.uv[n][0], b0.uv[n][0]) || !same(a1.uv[n][0], b2.uv[n][0]) ||
        !same(a0.uv[n][1], a1.uv[n][1]) || !same(a0.uv[n][1], b2.uv[n][1]) ||
        !same(a2.uv[n][1], b0.uv[n][1]) || !same(a2.uv[n][1], b1.uv[n][1]))
      return false;
  }
  return true;
}

// For such a second half b: whether its every pixel value would be the same number as
// from a's triangle `tri` with the slopes `slopes`, anchored at (originX, originY). Only
// the values at the anchor need working out; a zero slope of either sign adds nothing to
// a fixed value.
bool SameSecondHalf(const Context& c, const Triangle& tri, const SlopePair* slopes, const Prepared& b,
                    int originX, int originY) {
  const Vertex& b0 = *b.vx[0];
  if (b0.diffuse != tri.in.diffuse || b0.specular != tri.in.specular) return false;
  const double offsetX = originX - b0.x / 256.0, offsetY = originY - b0.y / 256.0;
  for (int k = 0; k < c.stageCount; ++k) {
    const Stage& s = c.stage[k];
    if (s.texture == nullptr) continue;
    const double fu = s.pair >= 0 ? static_cast<double>(b0.uv[s.pair][0]) * s.texture->width : 0;
    const double fv = s.pair >= 0 ? static_cast<double>(b0.uv[s.pair][1]) * s.texture->height : 0;
    std::uint64_t u = 0, v = 0;
    OriginPair(fu, fv, slopes[k], offsetX, offsetY, u, v);
    if (u != tri.u[k].origin || v != tri.v[k].origin) return false;
  }
  return true;
}

// Two triangles whose every pixel value would be the same number from either.
bool SameTriangle(const Context& c, const Triangle& a, const Triangle& b) {
  if (a.in.diffuse != b.in.diffuse || a.in.specular != b.in.specular || !(a.z == b.z)) return false;
  for (int k = 0; k < c.stageCount; ++k)
    if (!(a.u[k] == b.u[k]) || !(a.v[k] == b.v[k])) return false;
  return true;
}

// What the spans of one draw call share: the kernel records, their state-derived
// fields set once, and the fields that follow the triangle's inputs, made again only
// when those inputs change.
struct SpanSetup {
  const Context& c;
  FastSpan fast;
  detail::FastKernel kernel = nullptr;
  detail::CascadeSpan cascade;
  detail::CascadeKernel cascadeKernel = nullptr;
  bool skip = false;  // a flat colour the alpha test rejects
  bool made = false;  // the input-derived fields hold for `diffuse` and `specular`
  std::uint32_t diffuse = 0, specular = 0;

  explicit SpanSetup(const Context& context) : c(context) {
    if (c.fast == nullptr) return;
    if (c.fastCascade) {
      MakeCascade();
      return;
    }
    fast.targetAlpha = c.target.layout == pixel::Layout::A8R8G8B8;
    fast.srcFactor = c.fastSrcFactor;
    fast.destFactor = c.fastDestFactor;
    if (c.fastFlat) {
      fast.keep = 0;
      return;
    }
    const Surface& tex = *c.stage[0].texture;
    fast.texture = tex.bits;
    fast.texturePitch = tex.pitch;
    fast.textureWidth = tex.width;
    fast.textureHeight = tex.height;
    fast.textureAlpha = tex.layout == pixel::Layout::A8R8G8B8;
    for (int k = 0; k < 2; ++k) {
      const Pipe& pipe = c.fastPipe[k];
      if (pipe.kind == PipeKind::Constant) fast.keep &= ~kPipeMask[k];
      if (pipe.kind != PipeKind::Constant && pipe.complement) fast.flip |= kPipeMask[k];
    }
    fast.keyed = c.stage[0].keyed;
    fast.key = c.stage[0].key;
  }

  void MakeCascade() {
    static_assert(detail::kCascadeStages == kD3DMaxStages);
    cascade.stageCount = c.stageCount;
    for (int k = 0; k < c.stageCount; ++k) {
      const Stage& s = c.stage[k];
      detail::CascadeStage& out = cascade.stage[k];
      out.colorOp = s.colorOp, out.colorArg1 = s.colorArg1, out.colorArg2 = s.colorArg2;
      if (KnownOp(s.alphaOp))
        out.alphaOp = s.alphaOp, out.alphaArg1 = s.alphaArg1, out.alphaArg2 = s.alphaArg2;
      if (!TexelMatters(s)) continue;  // then the texel may as well be 255
      out.texture = s.texture->bits;
      out.texturePitch = s.texture->pitch;
      out.textureWidth = s.texture->width;
      out.textureHeight = s.texture->height;
      out.textureAlpha = s.texture->layout == pixel::Layout::A8R8G8B8;
      out.linear = s.linear;
      out.keyed = s.keyed;
      out.key = s.key;
    }
    cascade.factor = c.textureFactor;
    cascade.targetAlpha = c.target.layout == pixel::Layout::A8R8G8B8;
    cascade.alphaTest = c.alphaTest;
    cascade.alphaFunc = c.alphaFunc;
    cascade.alphaRef = c.alphaRef;
    cascade.srcFactor = c.fastSrcFactor, cascade.destFactor = c.fastDestFactor;
    cascadeKernel = c.fast->cascade[static_cast<int>(c.fastBlend)];
  }

  // Sets the fields that follow the triangle.
  void Use(const Triangle& tri) {
    if (c.fast == nullptr) return;
    if (c.fastCascade) {
      for (int k = 0; k < c.stageCount; ++k)
        cascade.stage[k].dsdx = tri.u[k].dx, cascade.stage[k].dtdx = tri.v[k].dx;
      cascade.diffuse = tri.in.diffuse, cascade.specular = tri.in.specular;
      return;
    }
    fast.dsdx = tri.u[0].dx;
    fast.dtdx = tri.v[0].dx;
    if (made && tri.in.diffuse == diffuse && tri.in.specular == specular) return;
    made = true, diffuse = tri.in.diffuse, specular = tri.in.specular;
    // What the cascade gives where the texel does not matter.
    std::uint32_t ones[kD3DMaxStages];
    std::fill(ones, ones + kD3DMaxStages, 0xFFFFFFFFu);
    const std::uint32_t constant = Cascade(c, tri.in, ones);
    const int blend = static_cast<int>(c.fastBlend);
    if (c.fastFlat) {
      skip = c.alphaTest && !Compare(c.alphaFunc, constant >> 24, c.alphaRef);
      fast.set = constant;
      kernel = c.fast->flat[blend];
      return;
    }
    fast.multiplier = 0xFFFFFFFFu;
    for (int k = 0; k < 2; ++k)
      if (c.fastPipe[k].kind == PipeKind::TexelTimes)
        fast.multiplier &= Argument(c.fastPipe[k].constant, tri.in, tri.in.diffuse, 0) | ~kPipeMask[k];
    fast.set = constant & ~fast.keep;
    fast.modulate = fast.multiplier != 0xFFFFFFFFu;
    fast.shaped = fast.flip != 0 || fast.keep != 0xFFFFFFFFu || fast.set != 0;
    kernel = c.fast->span[c.fastLinear][blend][fast.shaped ? 2 : fast.modulate ? 1 : 0][fast.keyed];
  }
};

// Fills spans of rows with the plane values of one triangle (or pair).
struct SpanWriter {
  const Context& c;
  const Triangle& tri;
  int originX, originY;
  const SpanSetup& s;

  SpanWriter(SpanSetup& setup, const Triangle& t, int ox, int oy)
      : c(setup.c), tri(t), originX(ox), originY(oy), s(setup) {
    setup.Use(t);
  }

  // Rows [first, first + count) over [lo, hi] through the fast kernel, the texel
  // coordinates stepped from row to row (wrapping adds give the same numbers); false
  // when another path draws.
  bool WriteRectangle(std::int64_t first, int count, std::int64_t lo, std::int64_t hi) {
    if (s.skip) return true;
    if (s.kernel == nullptr) return false;
    detail::FastRow rows[kBlockRows * 2];
    const std::int64_t di = lo - originX, dj = first - originY;
    std::uint64_t u = At(tri.u[0], di, dj), v = At(tri.v[0], di, dj);
    auto* dst = reinterpret_cast<std::uint32_t*>(c.target.bits + first * c.target.pitch) + lo;
    const int length = static_cast<int>(hi - lo + 1), room = static_cast<int>(c.target.width - lo);
    for (int n = 0; n < count; ++n) {
      rows[n] = {dst, length, room, u, v};
      u += tri.u[0].dy, v += tri.v[0].dy;
      dst = reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(dst) + c.target.pitch);
    }
    s.kernel(s.fast, rows, count);
    return true;
  }

  // Spans of whole rows: (row, lo, hi), in drawing order.
  void Write(const std::int64_t (*spans)[3], int count) {
    if (s.skip) return;
    if (s.cascadeKernel != nullptr) {
      detail::CascadeRow rows[kBlockRows * 2];
      for (int n = 0; n < count; ++n) {
        const std::int64_t j = spans[n][0], lo = spans[n][1], hi = spans[n][2];
        const std::int64_t di = lo - originX, dj = j - originY;
        detail::CascadeRow& row = rows[n];
        row.dst = reinterpret_cast<std::uint32_t*>(c.target.bits + j * c.target.pitch) + lo;
        row.count = static_cast<int>(hi - lo + 1);
        row.room = static_cast<int>(c.target.width - lo);
        for (int k = 0; k < c.stageCount; ++k)
          if (s.cascade.stage[k].texture != nullptr)
            row.s[k] = At(tri.u[k], di, dj), row.t[k] = At(tri.v[k], di, dj);
      }
      s.cascadeKernel(s.cascade, rows, count);
      return;
    }
    if (s.kernel != nullptr) {
      detail::FastRow rows[kBlockRows * 2];
      for (int n = 0; n < count; ++n) {
        const std::int64_t j = spans[n][0], lo = spans[n][1], hi = spans[n][2];
        const std::int64_t di = lo - originX, dj = j - originY;
        rows[n] = {reinterpret_cast<std::uint32_t*>(c.target.bits + j * c.target.pitch) + lo,
                   static_cast<int>(hi - lo + 1), static_cast<int>(c.target.width - lo), At(tri.u[0], di, dj),
                   At(tri.v[0], di, dj)};
      }
      s.kernel(s.fast, rows, count);
      return;
    }
    for (int n = 0; n < count; ++n) {
      const std::int64_t j = spans[n][0], lo = spans[n][1], hi = spans[n][2];
      const std::int64_t di = lo - originX, dj = j - originY;
      std::uint64_t u[kD3DMaxStages], v[kD3DMaxStages];
      for (int k = 0; k < c.stageCount; ++k) u[k] = At(tri.u[k], di, dj), v[k] = At(tri.v[k], di, dj);
      GeneralSpan(c, tri, static_cast<int>(j), static_cast<int>(lo), static_cast<int>(hi), u, v,
                  At(tri.z, di, dj));
    }
  }
};

// The spans of rows [first, first + count) of a triangle whose edges stand at row
// max(first, j0): [lo, hi], empty when lo > hi. The edges move on to the next row.
void BlockSpans(Prepared& p, std::int64_t first, int count, std::int64_t* lo, std::int64_t* hi) {
  const std::int64_t a = std::max(first, p.j0), b = std::min(first + count - 1, p.j1);
  for (int r = 0; r < count; ++r) lo[r] = p.i0, hi[r] = p.i0 - 1;
  if (a > b) return;
  const int ra = static_cast<int>(a - first), rb = static_cast<int>(b - first);
  for (int r = ra; r <= rb; ++r) hi[r] = p.i1;
  for (EdgeWalk& w : p.edge) {
    if (w.stepX == 0) {
      for (int r = ra; r <= rb; ++r, w.e += w.stepY)
        if (w.e < w.bias) hi[r] = lo[r] - 1;
      continue;
    }
    for (int r = ra; r <= rb; ++r) {
      if (w.stepX > 0)
        lo[r] = std::max(lo[r], p.i0 + w.q);
      else
        hi[r] = std::min(hi[r], p.i0 - w.q);
      w.NextRow();
    }
  }
}

// Draws one triangle, or two in order that share every pixel value (planes anchored at
// the union's corner): row by row, one span where their spans meet.
// Whether two triangles split an axis-aligned rectangle along a diagonal. Then, by the
// top-left rule, they cover exactly the centres with x0 <= 256 i < x1, y0 <= 256 j < y1.
void BoundsOf(const Prepared& a, std::int64_t* x0, std::int64_t* x1, std::int64_t* y0, std::int64_t* y1) {
  *x0 = std::min({a.vx[0]->x, a.vx[1]->x, a.vx[2]->x}), *x1 = std::max({a.vx[0]->x, a.vx[1]->x, a.vx[2]->x});
  *y0 = std::min({a.vx[0]->y, a.vx[1]->y, a.vx[2]->y}), *y1 = std::max({a.vx[0]->y, a.vx[1]->y, a.vx[2]->y});
}

bool SplitRectangle(const Prepared& a, const Prepared& b, std::int64_t* x0, std::int64_t* x1,
                    std::int64_t* y0, std::int64_t* y1) {
  BoundsOf(a, x0, x1, y0, y1);
  // Each triangle holds three corners; the ones they miss must be opposite.
  int missing[2];
  for (int t = 0; t < 2; ++t) {
    const Prepared& p = t ? b : a;
    int seen = 0;
    for (const Vertex* v : p.vx) {
      const bool right = v->x == *x1, bottom = v->y == *y1;
      if ((!right && v->x != *x0) || (!bottom && v->y != *y0)) return false;
      seen |= 1 << (right + 2 * bottom);
    }
    const int miss = ~seen & 0xF;  // exactly one corner
    if (miss == 0 || (miss & (miss - 1)) != 0) return false;
    missing[t] = __builtin_ctz(miss);
  }
  return (missing[0] ^ missing[1]) == 3;
}

// `split`: the pair is known to split a rectangle.
void Raster(SpanSetup& setup, Prepared* p[2], int count, const Triangle& tri, int originX, int originY,
            bool split = false) {
  const Context& c = setup.c;
  SpanWriter writer(setup, tri, originX, originY);
  std::int64_t x0, x1, y0, y1;
  if (split) BoundsOf(*p[0], &x0, &x1, &y0, &y1);
  if (count == 2 && (split || SplitRectangle(*p[0], *p[1], &x0, &x1, &y0, &y1))) {
    const std::int64_t left = std::max<std::int64_t>(-Floor256(-x0), c.clipLeft);
    const std::int64_t right = std::min<std::int64_t>(-Floor256(-x1) - 1, c.clipRight - 1);
    const std::int64_t top = std::max<std::int64_t>(-Floor256(-y0), c.clipTop);
    const std::int64_t bottom = std::min<std::int64_t>(-Floor256(-y1) - 1, c.clipBottom - 1);
    if (left > right) return;
    std::int64_t spans[kBlockRows * 2][3];
    for (std::int64_t first = top; first <= bottom; first += kBlockRows * 2) {
      const int rows = static_cast<int>(std::min<std::int64_t>(kBlockRows * 2, bottom - first + 1));
      if (writer.WriteRectangle(first, rows, left, right)) continue;
      for (int r = 0; r < rows; ++r) spans[r][0] = first + r, spans[r][1] = left, spans[r][2] = right;
      writer.Write(spans, rows);
    }
    return;
  }
  std::int64_t top = p[0]->j0, bottom = p[0]->j1;
  if (count == 2) top = std::min(top, p[1]->j0), bottom = std::max(bottom, p[1]->j1);
  for (int k = 0; k < count; ++k) StartEdges(*p[k]);
  std::int64_t lo[2][kBlockRows], hi[2][kBlockRows], spans[kBlockRows * 2][3];
  for (std::int64_t first = top; first <= bottom; first += kBlockRows) {
    const int rows = static_cast<int>(std::min<std::int64_t>(kBlockRows, bottom - first + 1));
    for (int k = 0; k < count; ++k) BlockSpans(*p[k], first, rows, lo[k], hi[k]);
    int n = 0;
    for (int r = 0; r < rows; ++r) {
      const std::int64_t j = first + r;
      const bool has0 = lo[0][r] <= hi[0][r], has1 = count == 2 && lo[1][r] <= hi[1][r];
      if (has0 && has1 && (hi[0][r] + 1 == lo[1][r] || hi[1][r] + 1 == lo[0][r])) {
        spans[n][0] = j, spans[n][1] = std::min(lo[0][r], lo[1][r]),
        spans[n][2] = std::max(hi[0][r], hi[1][r]);
        ++n;
        continue;
      }
      if (has0) spans[n][0] = j, spans[n][1] = lo[0][r], spans[n][2] = hi[0][r], ++n;
      if (has1) spans[n][0] = j, spans[n][1] = lo[1][r], spans[n][2] = hi[1][r], ++n;
    }
    writer.Write(spans, n);
  }
}

void RasterOne(SpanSetup& setup, Prepared& p, Triangle& tri) {
  if (!Visits(p)) return;
  Prepared* one[2] = {&p, nullptr};
  MakeTriangle(setup.c, p, static_cast<int>(p.i0), static_cast<int>(p.j0), tri);
  Raster(setup, one, 1, tri, static_cast<int>(p.i0), static_cast<int>(p.j0));
}

// Whether a stage reads the memory the draw writes: then triangles go strictly one after another.
bool ReadsTarget(const Context& c) {
  for (int k = 0; k < c.stageCount; ++k)
    if (c.stage[k].texture != nullptr && Overlap(*c.stage[k].texture, c.target)) return true;
  return false;
}

}  // namespace

bool SetRasterPath(RasterPath path) {
  if (path == RasterPath::Avx2 && BestRasterPath() != RasterPath::Avx2) return false;
  g_path.path = path;
  g_path.chosen = true;
  return true;
}

RasterPath GetRasterPath() { return CurrentPath(); }

RasterPath BestRasterPath() {
  static const RasterPath best =
      detail::Avx2FastKernels() != nullptr && CpuHasAvx2() ? RasterPath::Avx2 : RasterPath::Portable;
  return best;
}

int VertexStride(DWORD fvf) { return LayoutOf(fvf).stride; }

bool IsStageOperation(DWORD op) {
  switch (op) {
    case D3DTOP_DISABLE:
    case D3DTOP_SELECTARG1:
    case D3DTOP_SELECTARG2:
    case D3DTOP_MODULATE:
    case D3DTOP_MODULATE2X:
    case D3DTOP_MODULATE4X:
    case D3DTOP_ADD:
    case D3DTOP_SUBTRACT:
    case D3DTOP_BLENDDIFFUSEALPHA:
    case D3DTOP_BLENDCURRENTALPHA:
      return true;
    default:
      return false;
  }
}

HRESULT DrawTriangles(const State& state, D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices,
                      DWORD vertexCount, const WORD* indices, DWORD indexCount, DrawReport* report) {
  if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP) return D3DERR_INVALIDPRIMITIVETYPE;
  const VertexLayout layout = LayoutOf(fvf);
  if (layout.stride == 0) return D3DERR_INVALIDVERTEXFORMAT;
  DrawReport local;
  DrawReport& out = report ? *report : local;
  if (vertices == nullptr && vertexCount > 0) return D3DERR_INVALIDCALL;
  const Context c = MakeContext(state);
  const auto* base = static_cast<const std::uint8_t*>(vertices);
  const DWORD count = indices ? indexCount : vertexCount;
  if (count < 3) return D3D_OK;
  const DWORD triangles = type == D3DPT_TRIANGLELIST ? count / 3 : count - 2;
  const DWORD used = type == D3DPT_TRIANGLELIST ? triangles * 3 : count;
  if (indices != nullptr)
    for (DWORD k = 0; k < used; ++k) out.badIndices += indices[k] >= vertexCount;

  // Consecutive triangles that would give every pixel the same values are drawn together.
  const bool pairs = c.drawable && !ReadsTarget(c);
  Vertex cache[2][3];
  Prepared prepared[2];
  Triangle tri[2];  // planes set up once per call, then only what each triangle gives
  SpanSetup setup(c);
  int pending = -1;  // the slot of a prepared triangle not drawn yet
  for (DWORD t = 0; t < triangles; ++t) {
    const int slot = pending == 0 ? 1 : 0;
    const DWORD firstSlot = type == D3DPT_TRIANGLELIST ? 3 * t : t;
    bool bad = false;
    for (int k = 0; k < 3; ++k) {
      const DWORD index = indices ? indices[firstSlot + k] : firstSlot + k;
      if (index >= vertexCount) {
        bad = true;
        break;
      }
      FetchVertex(base + static_cast<std::size_t>(index) * layout.stride, layout, cache[slot][k]);
    }
    if (bad) continue;
    if (!cache[slot][0].usable || !cache[slot][1].usable || !cache[slot][2].usable) {
      ++out.trianglesSkipped;
      continue;
    }
    if (!c.drawable) continue;
    const Vertex* vx[3] = {&cache[slot][0], &cache[slot][1], &cache[slot][2]};
    Prepared& p = prepared[slot];
    if (!Prepare(c, vx, type == D3DPT_TRIANGLESTRIP && (t & 1) != 0, p)) continue;
    ++out.trianglesDrawn;
    if (!Visits(p)) continue;
    if (pending < 0) {
      if (pairs) {
        pending = slot;
        continue;
      }
      RasterOne(setup, p, tri[0]);
      continue;
    }
    Prepared& q = prepared[pending];
    const int originX = static_cast<int>(std::min(q.i0, p.i0)),
              originY = static_cast<int>(std::min(q.j0, p.j0));
    SlopePair slopes[kD3DMaxStages];
    MakeTriangle(c, q, originX, originY, tri[0], slopes);
    // The second half of a quad needs only its values at the anchor.
    bool same = false, split = false;
    if (c.z == nullptr && SecondHalfOfQuad(c, q, p)) {
      same = split = SameSecondHalf(c, tri[0], slopes, p, originX, originY);
    } else {
      MakeTriangle(c, p, originX, originY, tri[1]);
      same = SameTriangle(c, tri[0], tri[1]);
    }
    if (same) {
      Prepared* two[2] = {&q, &p};
      Raster(setup, two, 2, tri[0], originX, originY, split);
      pending = -1;
    } else {
      RasterOne(setup, q, tri[0]);
      pending = slot;
    }
  }
  if (pending >= 0) RasterOne(setup, prepared[pending], tri[0]);
  return D3D_OK;
}

}  // namespace platform::raster
