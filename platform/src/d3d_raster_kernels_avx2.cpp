// The rasteriser's AVX2 spans: eight pixels of the fast pipeline at a time, every
// formula the portable one in 16-bit lanes (the sums never pass 65535), so the pixels
// come out bit for bit the same. Only these functions carry the avx2 target.
#include "d3d_raster_internal.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <utility>

namespace platform::raster::detail {

namespace {

#define RASTER_AVX2 __attribute__((target("avx2")))
#define RASTER_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

using V = __m256i;

// The high (or low) 32 bits of two vectors of four 64-bit lanes (pixels 0-3 and 4-7),
// as eight 32-bit lanes in pixel order.
RASTER_AVX2_INLINE V High32(V a, V b) {
  const __m256 r = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(r), _MM_SHUFFLE(3, 1, 2, 0));
}
RASTER_AVX2_INLINE V Low32(V a, V b) {
  const __m256 r = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0));
  return _mm256_permute4x64_epi64(_mm256_castps_si256(r), _MM_SHUFFLE(3, 1, 2, 0));
}

RASTER_AVX2_INLINE V Clamp(V x, V maxValue) {
  return _mm256_max_epi32(_mm256_min_epi32(x, maxValue), _mm256_setzero_si256());
}

// (n + 127) / 255 for n in 0..65025, in 16-bit lanes.
RASTER_AVX2_INLINE V Div255x16(V n) {
  const V t = _mm256_add_epi16(n, _mm256_set1_epi16(128));
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// (a (256 - w) + b w + 128) >> 8 in 16-bit lanes.
RASTER_AVX2_INLINE V Lerp16(V a, V b, V w) {
  const V n = _mm256_add_epi16(_mm256_mullo_epi16(a, _mm256_sub_epi16(_mm256_set1_epi16(256), w)),
                               _mm256_mullo_epi16(b, w));
  return _mm256_srli_epi16(_mm256_add_epi16(n, _mm256_set1_epi16(128)), 8);
}

// The 64-bit plane values of eight pixels.
struct Lanes {
  V lo, hi;  // pixels 0-3, 4-7
  V step;    // eight steps
  Lanes() = default;
  RASTER_AVX2_INLINE Lanes(std::uint64_t start, std::uint64_t d) {
    lo = _mm256_set_epi64x(static_cast<long long>(start + 3 * d), static_cast<long long>(start + 2 * d),
                           static_cast<long long>(start + d), static_cast<long long>(start));
    const V four = _mm256_set1_epi64x(static_cast<long long>(4 * d));
    hi = _mm256_add_epi64(lo, four);
    step = _mm256_add_epi64(four, four);
  }
  RASTER_AVX2_INLINE void Next() {
    lo = _mm256_add_epi64(lo, step);
    hi = _mm256_add_epi64(hi, step);
  }
  // PointTexel of each lane.
  RASTER_AVX2_INLINE V Point() const {
    const V r = _mm256_set1_epi64x(0x8000);
    return High32(_mm256_add_epi64(lo, r), _mm256_add_epi64(hi, r));
  }
  // LinearTexel and LinearWeight of each lane.
  RASTER_AVX2_INLINE void Linear(V* texel, V* weight) const {
    const V r = _mm256_set1_epi64x(static_cast<long long>(0x8000ull - 0x80000000ull));
    const V a = _mm256_add_epi64(lo, r), b = _mm256_add_epi64(hi, r);
    *texel = High32(a, b);
    *weight = _mm256_srli_epi32(Low32(a, b), 24);
  }
};

struct Texture {
  const std::uint8_t* bits;
  V pitch, maxX, maxY;
  Texture() = default;
  template <typename Span>
  RASTER_AVX2_INLINE explicit Texture(const Span& f)
      : bits(f.texture),
        pitch(_mm256_set1_epi32(static_cast<int>(f.texturePitch))),
        maxX(_mm256_set1_epi32(f.textureWidth - 1)),
        maxY(_mm256_set1_epi32(f.textureHeight - 1)) {}
  RASTER_AVX2_INLINE V Gather(V x, V y) const {
    const V offset =
        _mm256_add_epi32(_mm256_mullo_epi32(Clamp(y, maxY), pitch), _mm256_slli_epi32(Clamp(x, maxX), 2));
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(bits), offset, 1);
  }
};

// Weights of eight pixels, each repeated over the four 16-bit channels of its pixel in
// the layout unpacklo/unpackhi_epi8 give (pixels 0, 1, 4, 5 and 2, 3, 6, 7).
RASTER_AVX2_INLINE void SpreadWeights(V w, V* lo, V* hi) {
  const V w2 = _mm256_or_si256(w, _mm256_slli_epi32(w, 16));
  *lo = _mm256_unpacklo_epi32(w2, w2);
  *hi = _mm256_unpackhi_epi32(w2, w2);
}

RASTER_AVX2_INLINE V Bilinear(V c00, V c10, V c01, V c11, V wx, V wy) {
  const V zero = _mm256_setzero_si256();
  V wxl, wxh, wyl, wyh;
  SpreadWeights(wx, &wxl, &wxh);
  SpreadWeights(wy, &wyl, &wyh);
  const V topL = Lerp16(_mm256_unpacklo_epi8(c00, zero), _mm256_unpacklo_epi8(c10, zero), wxl);
  const V topH = Lerp16(_mm256_unpackhi_epi8(c00, zero), _mm256_unpackhi_epi8(c10, zero), wxh);
  const V botL = Lerp16(_mm256_unpacklo_epi8(c01, zero), _mm256_unpacklo_epi8(c11, zero), wxl);
  const V botH = Lerp16(_mm256_unpackhi_epi8(c01, zero), _mm256_unpackhi_epi8(c11, zero), wxh);
  return _mm256_packus_epi16(Lerp16(topL, botL, wyl), Lerp16(topH, botH, wyh));
}

RASTER_AVX2_INLINE V Modulate(V c, V multiplier16) {
  const V zero = _mm256_setzero_si256();
  const V lo = Div255x16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(c, zero), multiplier16));
  const V hi = Div255x16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(c, zero), multiplier16));
  return _mm256_packus_epi16(lo, hi);
}

// The alpha of each pixel over its four 16-bit channels.
RASTER_AVX2_INLINE V SpreadAlpha(V c16) {
  return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(c16, 0xFF), 0xFF);
}

// A blend factor of four pixels in 16-bit channels, as the general path's Factor.
RASTER_AVX2_INLINE V Factor16(std::uint32_t f, V s, V d) {
  const V full = _mm256_set1_epi16(255);
  switch (f) {
    case D3DBLEND_ZERO:
      return _mm256_setzero_si256();
    case D3DBLEND_SRCCOLOR:
      return s;
    case D3DBLEND_INVSRCCOLOR:
      return _mm256_sub_epi16(full, s);
    case D3DBLEND_SRCALPHA:
      return SpreadAlpha(s);
    case D3DBLEND_INVSRCALPHA:
      return _mm256_sub_epi16(full, SpreadAlpha(s));
    case D3DBLEND_DESTALPHA:
      return SpreadAlpha(d);
    case D3DBLEND_INVDESTALPHA:
      return _mm256_sub_epi16(full, SpreadAlpha(d));
    case D3DBLEND_DESTCOLOR:
      return d;
    case D3DBLEND_INVDESTCOLOR:
      return _mm256_sub_epi16(full, d);
    default:  // D3DBLEND_ONE
      return full;
  }
}

// min(255, round((s sf + d df) / 255)): each product fits 16 bits; a saturated sum, and
// any sum from 65025 up, gives 255 as the general path does.
RASTER_AVX2_INLINE V General16(V s, V d, std::uint32_t sf, std::uint32_t df) {
  const V n =
      _mm256_adds_epu16(_mm256_mullo_epi16(s, Factor16(sf, s, d)), _mm256_mullo_epi16(d, Factor16(df, s, d)));
  return Div255x16(_mm256_min_epu16(n, _mm256_set1_epi16(static_cast<short>(65025))));
}

template <FastBlend B>
RASTER_AVX2_INLINE V BlendPixels(V s, V d, std::uint32_t sf, std::uint32_t df) {
  if constexpr (B == FastBlend::Copy) {
    return s;
  } else if constexpr (B == FastBlend::Add) {
    return _mm256_adds_epu8(s, d);
  } else if constexpr (B == FastBlend::AddAlpha) {
    // round((s a + d 255) / 255) = d + round(s a / 255): the sum saturates like ONE/ONE.
    const V zero = _mm256_setzero_si256();
    const V sl = _mm256_unpacklo_epi8(s, zero), sh = _mm256_unpackhi_epi8(s, zero);
    const V al = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sl, 0xFF), 0xFF);
    const V ah = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sh, 0xFF), 0xFF);
    const V scaled =
        _mm256_packus_epi16(Div255x16(_mm256_mullo_epi16(sl, al)), Div255x16(_mm256_mullo_epi16(sh, ah)));
    return _mm256_adds_epu8(scaled, d);
  } else if constexpr (B == FastBlend::General) {
    const V zero = _mm256_setzero_si256();
    return _mm256_packus_epi16(
        General16(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero), sf, df),
        General16(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero), sf, df));
  } else {
    // Alphas of only 0 and 255 (hard-edged sprites and text) pick d or s exactly:
    // round(d 255 / 255) = d, round(s 255 / 255) = s.
    const V alpha = _mm256_and_si256(s, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    const V opaque = _mm256_cmpeq_epi32(alpha, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    const V clear = _mm256_cmpeq_epi32(alpha, _mm256_setzero_si256());
    if (_mm256_movemask_epi8(_mm256_or_si256(opaque, clear)) == -1) return _mm256_blendv_epi8(d, s, opaque);
    const V zero = _mm256_setzero_si256();
    const V sl = _mm256_unpacklo_epi8(s, zero), sh = _mm256_unpackhi_epi8(s, zero);
    const V dl = _mm256_unpacklo_epi8(d, zero), dh = _mm256_unpackhi_epi8(d, zero);
    const V al = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sl, 0xFF), 0xFF);
    const V ah = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(sh, 0xFF), 0xFF);
    const V full = _mm256_set1_epi16(255);
    const V lo = Div255x16(
        _mm256_add_epi16(_mm256_mullo_epi16(sl, al), _mm256_mullo_epi16(dl, _mm256_sub_epi16(full, al))));
    const V hi = Div255x16(
        _mm256_add_epi16(_mm256_mullo_epi16(sh, ah), _mm256_mullo_epi16(dh, _mm256_sub_epi16(full, ah))));
    return _mm256_packus_epi16(lo, hi);
  }
}

// What every kernel does once the raw texels (and, for linear sampling, the filtered
// colour) of eight pixels are known: key, modulate, blend, write. Shape 0 takes the
// texel as it is, 1 modulates it, 2 also complements and replaces channels.
struct Finish {
  V textureAlpha, targetAlpha, targetMask, multiplier16, key, flip, keep, set;
  std::uint32_t srcFactor, destFactor;
  RASTER_AVX2_INLINE Finish(const FastSpan& f)
      : textureAlpha(_mm256_set1_epi32(f.textureAlpha ? 0 : static_cast<int>(0xFF000000u))),
        targetAlpha(_mm256_set1_epi32(f.targetAlpha ? 0 : static_cast<int>(0xFF000000u))),
        targetMask(_mm256_set1_epi32(f.targetAlpha ? -1 : 0x00FFFFFF)),
        key(_mm256_set1_epi32(static_cast<int>(f.key))),
        flip(_mm256_set1_epi32(static_cast<int>(f.flip))),
        keep(_mm256_set1_epi32(static_cast<int>(f.keep))),
        set(_mm256_set1_epi32(static_cast<int>(f.set))),
        srcFactor(f.srcFactor),
        destFactor(f.destFactor) {
    const std::uint64_t m = f.multiplier;
    multiplier16 = _mm256_set1_epi64x(static_cast<long long>((m & 0xFF) | ((m >> 8) & 0xFF) << 16 |
                                                             ((m >> 16) & 0xFF) << 32 | (m >> 24) << 48));
  }

  // colour: the sampled ARGB before the texture's alpha rule; keyRaw: the raw texels the
  // key is compared with. Returns the pixels to store over dst.
  template <FastBlend B, int Shape, bool keyed>
  RASTER_AVX2_INLINE V Run(V colour, V keyRaw, V dst) const {
    V s = _mm256_or_si256(colour, textureAlpha);
    if constexpr (Shape == 2) s = _mm256_xor_si256(s, flip);
    if constexpr (Shape >= 1) s = Modulate(s, multiplier16);
    if constexpr (Shape == 2) s = _mm256_or_si256(_mm256_and_si256(s, keep), set);
    V out = _mm256_and_si256(BlendPixels<B>(s, _mm256_or_si256(dst, targetAlpha), srcFactor, destFactor),
                             targetMask);
    if constexpr (keyed) out = _mm256_blendv_epi8(out, dst, _mm256_cmpeq_epi32(keyRaw, key));
    return out;
  }
};

// The lanes below n.
RASTER_AVX2_INLINE V LaneMask(int n) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The target pixels of a group of n (at most 8) with room pixels left in the row. A
// short group with room for eight reads and writes all eight, the extra ones unchanged.
struct Group {
  int n, room;
  V mask;
  RASTER_AVX2_INLINE Group(int count, int space) : n(count), room(space) {
    if (n < 8) mask = LaneMask(n);
  }
  RASTER_AVX2_INLINE V Load(const std::uint32_t* dst) const {
    if (n >= 8 || room >= 8) return _mm256_loadu_si256(reinterpret_cast<const V*>(dst));
    return _mm256_maskload_epi32(reinterpret_cast<const int*>(dst), mask);
  }
  RASTER_AVX2_INLINE void Store(std::uint32_t* dst, V d, V out) const {
    if (n >= 8) return _mm256_storeu_si256(reinterpret_cast<V*>(dst), out);
    if (room >= 8) return _mm256_storeu_si256(reinterpret_cast<V*>(dst), _mm256_blendv_epi8(d, out, mask));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(dst), mask, out);
  }
};

template <FastBlend B, int M, bool K>
RASTER_AVX2_INLINE void PointRow(const FastSpan& f, const Finish& finish, const Texture& tex,
                                 const FastRow& row) {
  std::uint32_t* dst = row.dst;
  int n = row.count, room = row.room;
  // One texel per pixel along a row inside the texture: plain loads.
  const std::int64_t x0 = PointTexel(row.s), y0 = PointTexel(row.t);
  if (f.dsdx == (std::uint64_t{1} << 32) && f.dtdx == 0 && x0 >= 0 && x0 + n <= f.textureWidth) {
    const std::int64_t y = y0 < 0 ? 0 : y0 >= f.textureHeight ? f.textureHeight - 1 : y0;
    const auto* src = reinterpret_cast<const std::uint32_t*>(f.texture + y * f.texturePitch) + x0;
    for (; n > 0; n -= 8, room -= 8, src += 8, dst += 8) {
      const Group g(n, room);
      const V raw = n >= 8 ? _mm256_loadu_si256(reinterpret_cast<const V*>(src))
                           : _mm256_maskload_epi32(reinterpret_cast<const int*>(src), g.mask);
      const V d = g.Load(dst);
      g.Store(dst, d, finish.Run<B, M, K>(raw, raw, d));
    }
    return;
  }
  Lanes s(row.s, f.dsdx), t(row.t, f.dtdx);
  for (; n > 0; n -= 8, room -= 8, dst += 8, s.Next(), t.Next()) {
    const Group g(n, room);
    const V raw = tex.Gather(s.Point(), t.Point());
    const V d = g.Load(dst);
    g.Store(dst, d, finish.Run<B, M, K>(raw, raw, d));
  }
}

template <FastBlend B, int M, bool K>
RASTER_AVX2_INLINE void LinearRow(const FastSpan& f, const Finish& finish, const Texture& tex,
                                  const FastRow& row) {
  std::uint32_t* dst = row.dst;
  int n = row.count, room = row.room;
  Lanes s(row.s, f.dsdx), t(row.t, f.dtdx);
  const V one = _mm256_set1_epi32(1);
  for (; n > 0; n -= 8, room -= 8, dst += 8, s.Next(), t.Next()) {
    const Group g(n, room);
    V x, y, wx, wy;
    s.Linear(&x, &wx);
    t.Linear(&y, &wy);
    const V x1 = _mm256_add_epi32(x, one), y1 = _mm256_add_epi32(y, one);
    const V colour =
        Bilinear(tex.Gather(x, y), tex.Gather(x1, y), tex.Gather(x, y1), tex.Gather(x1, y1), wx, wy);
    const V keyRaw = K ? tex.Gather(s.Point(), t.Point()) : colour;
    const V d = g.Load(dst);
    g.Store(dst, d, finish.Run<B, M, K>(colour, keyRaw, d));
  }
}

template <bool Linear, FastBlend B, int M, bool K>
RASTER_AVX2 void Span(const FastSpan& f, const FastRow* rows, int count) {
  const Finish finish(f);
  const Texture tex(f);
  for (int r = 0; r < count; ++r) {
    if constexpr (Linear)
      LinearRow<B, M, K>(f, finish, tex, rows[r]);
    else
      PointRow<B, M, K>(f, finish, tex, rows[r]);
  }
}

// One colour over the spans: a plain fill when nothing is blended.
template <FastBlend B>
RASTER_AVX2 void Flat(const FastSpan& f, const FastRow* rows, int count) {
  const Finish finish(f);
  const V source = _mm256_set1_epi32(static_cast<int>(f.set));
  const V fill = _mm256_and_si256(source, finish.targetMask);
  for (int r = 0; r < count; ++r) {
    std::uint32_t* dst = rows[r].dst;
    int n = rows[r].count, room = rows[r].room;
    if constexpr (B == FastBlend::Copy)
      for (; n >= 8; n -= 8, room -= 8, dst += 8) _mm256_storeu_si256(reinterpret_cast<V*>(dst), fill);
    for (; n > 0; n -= 8, room -= 8, dst += 8) {
      const Group g(n, room);
      const V d = g.Load(dst);
      g.Store(dst, d, finish.Run<B, 2, false>(source, source, d));
    }
  }
}

// ---- The cascade in lanes ---------------------------------------------------------

RASTER_AVX2_INLINE V Low16(V a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
RASTER_AVX2_INLINE V High16(V a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }

// min(255, round(2^Shift x y / 255)) per channel: a product past the point where the
// result is 255 anyway is cut there first, so the scaled one still fits 16 bits.
template <int Shift>
RASTER_AVX2_INLINE V Product16(V a, V b) {
  V m = _mm256_mullo_epi16(a, b);
  if constexpr (Shift == 1) m = _mm256_slli_epi16(_mm256_min_epu16(m, _mm256_set1_epi16(32449)), 1);
  if constexpr (Shift == 2) m = _mm256_slli_epi16(_mm256_min_epu16(m, _mm256_set1_epi16(16225)), 2);
  return Div255x16(m);
}
template <int Shift>
RASTER_AVX2_INLINE V Product(V x, V y) {
  return _mm256_packus_epi16(Product16<Shift>(Low16(x), Low16(y)), Product16<Shift>(High16(x), High16(y)));
}

// round((x A + y (255 - A)) / 255) per channel, A in 16-bit channels.
RASTER_AVX2_INLINE V Mix16(V a, V b, V w) {
  const V rest = _mm256_sub_epi16(_mm256_set1_epi16(255), w);
  return Div255x16(_mm256_add_epi16(_mm256_mullo_epi16(a, w), _mm256_mullo_epi16(b, rest)));
}
RASTER_AVX2_INLINE V Mix(V x, V y, V aLow, V aHigh) {
  return _mm256_packus_epi16(Mix16(Low16(x), Low16(y), aLow), Mix16(High16(x), High16(y), aHigh));
}

// A stage operation on every channel of eight pixels, as the general path's Operate.
RASTER_AVX2_INLINE V Operate8(std::uint32_t op, V a, V b, V diffuseAlpha16, V current) {
  switch (op) {
    case D3DTOP_SELECTARG1:
      return a;
    case D3DTOP_SELECTARG2:
      return b;
    case D3DTOP_MODULATE:
      return Product<0>(a, b);
    case D3DTOP_MODULATE2X:
      return Product<1>(a, b);
    case D3DTOP_MODULATE4X:
      return Product<2>(a, b);
    case D3DTOP_ADD:
      return _mm256_adds_epu8(a, b);
    case D3DTOP_SUBTRACT:
      return _mm256_subs_epu8(a, b);
    case D3DTOP_BLENDDIFFUSEALPHA:
      return Mix(a, b, diffuseAlpha16, diffuseAlpha16);
    default:  // D3DTOP_BLENDCURRENTALPHA
      return Mix(a, b, SpreadAlpha(Low16(current)), SpreadAlpha(High16(current)));
  }
}

struct Inputs8 {
  V diffuse, specular, factor, diffuseAlpha16;
};

RASTER_AVX2_INLINE V Argument8(std::uint32_t arg, const Inputs8& in, V current, V texel) {
  const V v = SelectArgument(arg, in, current, texel);
  return (arg & D3DTA_COMPLEMENT) ? _mm256_xor_si256(v, _mm256_set1_epi32(-1)) : v;
}

// The lanes whose alpha (0..255 in 32-bit lanes) passes the test.
RASTER_AVX2_INLINE V Passes(std::uint32_t func, V a, V ref) {
  const V ones = _mm256_set1_epi32(-1);
  switch (func) {
    case D3DCMP_NEVER:
      return _mm256_setzero_si256();
    case D3DCMP_LESS:
      return _mm256_cmpgt_epi32(ref, a);
    case D3DCMP_EQUAL:
      return _mm256_cmpeq_epi32(a, ref);
    case D3DCMP_LESSEQUAL:
      return _mm256_xor_si256(_mm256_cmpgt_epi32(a, ref), ones);
    case D3DCMP_GREATER:
      return _mm256_cmpgt_epi32(a, ref);
    case D3DCMP_NOTEQUAL:
      return _mm256_xor_si256(_mm256_cmpeq_epi32(a, ref), ones);
    case D3DCMP_GREATEREQUAL:
      return _mm256_xor_si256(_mm256_cmpgt_epi32(ref, a), ones);
    default:
      return ones;
  }
}

template <FastBlend B>
RASTER_AVX2 void CascadeSpans(const CascadeSpan& f, const CascadeRow* rows, int count) {
  const int stages = f.stageCount;
  const V ones = _mm256_set1_epi32(-1), colourMask = _mm256_set1_epi32(0x00FFFFFF);
  const Inputs8 in{
      _mm256_set1_epi32(static_cast<int>(f.diffuse)), _mm256_set1_epi32(static_cast<int>(f.specular)),
      _mm256_set1_epi32(static_cast<int>(f.factor)), _mm256_set1_epi16(static_cast<short>(f.diffuse >> 24))};
  const V targetAlpha = _mm256_set1_epi32(f.targetAlpha ? 0 : static_cast<int>(0xFF000000u));
  const V targetMask = _mm256_set1_epi32(f.targetAlpha ? -1 : 0x00FFFFFF);
  const V ref = _mm256_set1_epi32(static_cast<int>(f.alphaRef));
  Texture tex[kCascadeStages];
  V fill[kCascadeStages], key[kCascadeStages];
  for (int k = 0; k < stages; ++k) {
    const CascadeStage& st = f.stage[k];
    if (st.texture == nullptr) continue;
    tex[k] = Texture(st);
    fill[k] = _mm256_set1_epi32(st.textureAlpha ? 0 : static_cast<int>(0xFF000000u));
    key[k] = _mm256_set1_epi32(static_cast<int>(st.key));
  }
  const V one = _mm256_set1_epi32(1);
  for (int r = 0; r < count; ++r) {
    std::uint32_t* dst = rows[r].dst;
    int n = rows[r].count, room = rows[r].room;
    Lanes s[kCascadeStages], t[kCascadeStages];
    for (int k = 0; k < stages; ++k)
      if (f.stage[k].texture != nullptr)
        s[k] = Lanes(rows[r].s[k], f.stage[k].dsdx), t[k] = Lanes(rows[r].t[k], f.stage[k].dtdx);
    for (; n > 0; n -= 8, room -= 8, dst += 8) {
      const Group g(n, room);
      V texel[kCascadeStages];
      V discard = _mm256_setzero_si256();
      for (int k = 0; k < stages; ++k) {
        const CascadeStage& st = f.stage[k];
        if (st.texture == nullptr) {
          texel[k] = ones;
          continue;
        }
        V colour;
        if (st.linear) {
          V x, y, wx, wy;
          s[k].Linear(&x, &wx);
          t[k].Linear(&y, &wy);
          const V x1 = _mm256_add_epi32(x, one), y1 = _mm256_add_epi32(y, one);
          colour = Bilinear(tex[k].Gather(x, y), tex[k].Gather(x1, y), tex[k].Gather(x, y1),
                            tex[k].Gather(x1, y1), wx, wy);
          if (st.keyed)
            discard = _mm256_or_si256(discard,
                                      _mm256_cmpeq_epi32(tex[k].Gather(s[k].Point(), t[k].Point()), key[k]));
        } else {
          colour = tex[k].Gather(s[k].Point(), t[k].Point());
          if (st.keyed) discard = _mm256_or_si256(discard, _mm256_cmpeq_epi32(colour, key[k]));
        }
        texel[k] = _mm256_or_si256(colour, fill[k]);
        s[k].Next(), t[k].Next();
      }
      V current = in.diffuse;
      for (int k = 0; k < stages; ++k) {
        const CascadeStage& st = f.stage[k];
        const V colour = Operate8(st.colorOp, Argument8(st.colorArg1, in, current, texel[k]),
                                  Argument8(st.colorArg2, in, current, texel[k]), in.diffuseAlpha16, current);
        const V alpha = st.alphaOp == 0 ? current
                                        : Operate8(st.alphaOp, Argument8(st.alphaArg1, in, current, texel[k]),
                                                   Argument8(st.alphaArg2, in, current, texel[k]),
                                                   in.diffuseAlpha16, current);
        current =
            _mm256_or_si256(_mm256_and_si256(colour, colourMask), _mm256_andnot_si256(colourMask, alpha));
      }
      if (f.alphaTest)
        discard = _mm256_or_si256(
            discard, _mm256_xor_si256(Passes(f.alphaFunc, _mm256_srli_epi32(current, 24), ref), ones));
      const V d = g.Load(dst);
      V out = _mm256_and_si256(
          BlendPixels<B>(current, _mm256_or_si256(d, targetAlpha), f.srcFactor, f.destFactor), targetMask);
      out = _mm256_blendv_epi8(out, d, discard);
      g.Store(dst, d, out);
    }
  }
}

// Every kernel of one blend, in the tables' places.
template <int Blend>
void PutBlend(FastKernels& k) {
  constexpr auto B = static_cast<FastBlend>(Blend);
  const FastKernel span[2][3][2] = {{{Span<false, B, 0, false>, Span<false, B, 0, true>},
                                     {Span<false, B, 1, false>, Span<false, B, 1, true>},
                                     {Span<false, B, 2, false>, Span<false, B, 2, true>}},
                                    {{Span<true, B, 0, false>, Span<true, B, 0, true>},
                                     {Span<true, B, 1, false>, Span<true, B, 1, true>},
                                     {Span<true, B, 2, false>, Span<true, B, 2, true>}}};
  for (int linear = 0; linear < 2; ++linear)
    for (int shape = 0; shape < 3; ++shape)
      for (int keyed = 0; keyed < 2; ++keyed)
        k.span[linear][Blend][shape][keyed] = span[linear][shape][keyed];
  k.flat[Blend] = Flat<B>;
  k.cascade[Blend] = CascadeSpans<B>;
}

template <int... Blend>
FastKernels MakeKernelsFor(std::integer_sequence<int, Blend...>) {
  FastKernels k;
  (PutBlend<Blend>(k), ...);
  return k;
}

FastKernels MakeKernels() {
  static_assert(static_cast<int>(FastBlend::General) == kFastBlends - 1);
  return MakeKernelsFor(std::make_integer_sequence<int, kFastBlends>{});
}

const FastKernels kAvx2Kernels = MakeKernels();

}  // namespace

const FastKernels* Avx2FastKernels() { return &kAvx2Kernels; }

}  // namespace platform::raster::detail

#else

namespace platform::raster::detail {
const FastKernels* Avx2FastKernels() { return nullptr; }
}  // namespace platform::raster::detail

#endif
