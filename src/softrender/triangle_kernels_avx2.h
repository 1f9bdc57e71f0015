// The AVX2 kernel set: the same row walk, with eight pixels of each span's in-source run
// at a time. Every formula is the portable one in 32-bit lanes, the table divisions by 255
// replaced by their exact integer equivalents, so the pixels come out bit for bit the same.
// Only the kernel functions carry the avx2 target; the tables and the shared header code
// are compiled for any processor. The set is instantiated in parts (one file each), which
// triangle_kernels_avx2.cpp puts together; the kernels of straight rectangles have a file
// of their own.
#pragma once

#include "softrender/triangle_kernels.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace gamelib::raster::avx2 {

#define GAMELIB_AVX2 __attribute__((target("avx2")))
#define GAMELIB_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#define GAMELIB_AVX2_INLINE_LAMBDA __attribute__((target("avx2"), always_inline))

using V = __m256i;

GAMELIB_AVX2_INLINE V Set1(std::uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
GAMELIB_AVX2_INLINE V And(V a, V b) { return _mm256_and_si256(a, b); }
GAMELIB_AVX2_INLINE V Or(V a, V b) { return _mm256_or_si256(a, b); }
GAMELIB_AVX2_INLINE V Add(V a, V b) { return _mm256_add_epi32(a, b); }
GAMELIB_AVX2_INLINE V Sub(V a, V b) { return _mm256_sub_epi32(a, b); }
GAMELIB_AVX2_INLINE V Mul(V a, V b) { return _mm256_mullo_epi32(a, b); }
template <int K>
GAMELIB_AVX2_INLINE V Srl(V a) {
  return _mm256_srli_epi32(a, K);
}
template <int K>
GAMELIB_AVX2_INLINE V Sll(V a) {
  return _mm256_slli_epi32(a, K);
}
// Constant lanes, read from memory. Built from an immediate, as GCC otherwise does, each
// takes two shuffle-port instructions, and where the kernels are short of vector
// registers that happens for every eight pixels. Defined in triangle_kernels_avx2.cpp,
// one per value below (a value missing there fails the link): out of sight, they cannot
// be folded back into immediates, yet being const they are loaded once where registers
// allow, and read from memory where not.
template <std::uint32_t M>
struct LaneConstant {
  alignas(32) static const std::uint32_t lanes[8];
};
// clang-format off
#define GAMELIB_LANE_CONSTANTS(X) \
  X(0x1) X(0x2) X(0x1F) X(0x3F) X(0xFF) X(0x100) X(0x820) X(0xF7DF) X(0xF800) X(0xF81F) X(0x1F001F) X(0xFF00) X(0xFFFF) X(0x10000) \
  X(0x10001) X(0x10100) X(0x10820) X(0xFEFEFF) X(0xFF00FF) X(0x1000000) X(0x1000100) \
  X(0x1010100) X(0x1010101) X(0x80000000) X(0xFEFEFEFF) X(0xFF000000) X(0xFFFFFFFF) \
  X(0x3F003F) X(0xF000F) X(0x8200820) X(0xF7DFF7DF) X(0xF800F800)
// clang-format on
#define GAMELIB_DECLARE_LANE_CONSTANT(m) extern template struct LaneConstant<m>;
GAMELIB_LANE_CONSTANTS(GAMELIB_DECLARE_LANE_CONSTANT)
#undef GAMELIB_DECLARE_LANE_CONSTANT

template <std::uint32_t M>
GAMELIB_AVX2_INLINE V K() {
  return _mm256_load_si256(reinterpret_cast<const V*>(LaneConstant<M>::lanes));
}
template <std::uint32_t M>
GAMELIB_AVX2_INLINE V AndMask(V a) {
  return And(a, K<M>());
}
GAMELIB_AVX2_INLINE V Equal(V a, V b) { return _mm256_cmpeq_epi32(a, b); }
GAMELIB_AVX2_INLINE V Select(V ifZero, V ifOnes, V mask) { return _mm256_blendv_epi8(ifZero, ifOnes, mask); }

// floor(n / 255) for n = v * k with v, k in 0..255: what a BrightnessTable row gives.
GAMELIB_AVX2_INLINE V Div255(V n) { return Srl<8>(Add(Add(n, K<1>()), Srl<8>(n))); }
GAMELIB_AVX2_INLINE V Bright(V v, V k) { return Div255(Mul(v, k)); }
// trunc(t * p / 255) toward zero for t in -255..255: what a SignedScaleTable row gives.
GAMELIB_AVX2_INLINE V SignedScale(V t, V p) {
  return _mm256_sign_epi32(Div255(Mul(_mm256_abs_epi32(t), p)), t);
}

// SignedScale in each 16-bit half: |t| * p + 1 + (|t| * p >> 8) stays below 2^16.
GAMELIB_AVX2_INLINE V SignedScale16(V t, V p16) {
  // floor(n / 255) as in Bright16: n = |t| * p stays below 2^16.
  const V n = _mm256_mullo_epi16(_mm256_abs_epi16(t), p16);
  const V q = _mm256_mulhi_epu16(_mm256_add_epi16(n, K<0x00010001>()), K<0x01010101>());
  return _mm256_sign_epi16(q, t);
}

// Bits above 15 of the results are left for StoreDest to drop.
GAMELIB_AVX2_INLINE V PackedAdd16V(V d, V s) {
  const V sum = Add(AndMask<0xF7DF>(d), AndMask<0xF7DF>(s));
  const V k = AndMask<0x10820>(sum);
  return Or(Or(Sub(k, Srl<5>(k)), AndMask<0x0820>(Or(d, s))), sum);
}
GAMELIB_AVX2_INLINE V PackedSub16V(V d, V s) {
  const V t = Sub(Or(d, K<0x10820>()), AndMask<0xF7DF>(s));
  const V k = AndMask<0x10820>(t);
  return And(Sub(k, Srl<5>(k)), t);
}
GAMELIB_AVX2_INLINE V PackedAdd32V(V d, V s) {
  const V sum = Add(AndMask<0x00FEFEFF>(d), AndMask<0x00FEFEFF>(s));
  const V k = AndMask<0x01010100>(sum);
  return Or(Or(Sub(k, Srl<8>(k)), AndMask<0x00010100>(Or(d, s))), sum);
}
GAMELIB_AVX2_INLINE V PackedSub32V(V d, V s) {
  const V t = Sub(Or(d, K<0x01010100>()), AndMask<0xFEFEFEFF>(s));
  const V k = AndMask<0x01010100>(t);
  return And(Sub(k, Srl<8>(k)), t);
}

// Per-call values in lanes.
struct VTables {
  V bright[3];  // brightness per field or channel: 0 blue, 1 green, 2 red
  V p;
  // The same factors in the two 16-bit halves of each lane: blue | red << 16, green | green
  // << 16, and the parameter twice.
  V brightBlueRed16;
  V brightGreen16;
  V p16;
};

GAMELIB_AVX2_INLINE VTables MakeVTables(const PixelTables& t) {
  // Entry 255 of BrightnessTable row k is k itself.
  const auto blue = static_cast<std::uint32_t>(t.bright[0][255]);
  const auto green = static_cast<std::uint32_t>(t.bright[1][255]);
  const auto red = static_cast<std::uint32_t>(t.bright[2][255]);
  return VTables{{Set1(blue), Set1(green), Set1(red)},
                 Set1(t.p),
                 Set1(blue | red << 16),
                 Set1(green | green << 16),
                 Set1(t.p | t.p << 16)};
}

// floor(h * k / 255) in each 16-bit half of a lane (h, k in 0..255), as ((n + 1) * 257)
// >> 16 with n = h * k: n + 1 still fits 16 bits, and the high half of one multiply does
// the rest (equal for every h and k).
GAMELIB_AVX2_INLINE V Bright16(V halves, V k16) {
  const V n = _mm256_mullo_epi16(halves, k16);
  return _mm256_mulhi_epu16(_mm256_add_epi16(n, K<0x00010001>()), K<0x01010101>());
}

// Bytes 0, 1 and 2 of x each through a brightness factor (blue, green, red), byte 3 zero.
GAMELIB_AVX2_INLINE V BrightBytes(V x, V blueRed16, V green16) {
  const V rb = Bright16(AndMask<0x00FF00FF>(x), blueRed16);
  const V g = Bright16(AndMask<0x000000FF>(Srl<8>(x)), green16);
  return Or(rb, Sll<8>(g));
}

// ---- 16-bit destinations ---------------------------------------------------------------

template <int Mode, bool B, bool W, bool UseAlpha, int Field>
GAMELIB_AVX2_INLINE void Field16V(V d, V c, V a, V w, const VTables& t, V& result, V& addend) {
  constexpr int shift = kFieldShift16[Field];
  constexpr int n = kFieldWidth16[Field];
  constexpr std::uint32_t mask = kFieldMask16[Field];
  const V dF = AndMask<mask>(Srl<shift>(d));
  const V cF = AndMask<mask>(Srl<shift>(c));
  const V cb = W ? cF : Bright(cF, t.bright[Field]);
  V out = _mm256_setzero_si256();
  if constexpr (Mode == BlendNone) {
    if constexpr (!B && !UseAlpha) {
      out = cb;
    } else if constexpr (B && UseAlpha) {
      out = Srl<16>(Add(Sll<16>(dF), Mul(Sub(cb, dF), Mul(w, a))));
    } else {
      out = Srl<8>(Add(Sll<8>(dF), Mul(Sub(cb, dF), B ? w : a)));
    }
  } else if constexpr (Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade) {
    V target;
    if constexpr (Mode == BlendAlpha) {
      target = cb;
    } else if constexpr (Mode == BlendInverted) {
      const V inverted = Sub(K<mask>(), cF);
      target = W ? inverted : Bright(inverted, t.bright[Field]);
    } else {
      target = Srl<n>(Mul(cb, dF));
    }
    if constexpr (!B && !UseAlpha) {
      out = Add(dF, SignedScale(Sub(target, dF), t.p));
    } else if constexpr (B && UseAlpha) {
      out = Srl<24>(Add(Sll<24>(dF), Mul(Sub(target, dF), Mul(Mul(w, a), t.p))));
    } else {
      out = Srl<16>(Add(Sll<16>(dF), Mul(Sub(target, dF), Mul(B ? w : a, t.p))));
    }
  } else if constexpr (Mode == BlendAdd || Mode == BlendSub) {
    V s;
    if constexpr (!B && !UseAlpha) {
      s = cb;
    } else if constexpr (B && UseAlpha) {
      s = Srl<16>(Mul(cb, Mul(w, a)));
    } else if constexpr (B) {
      s = Srl<8>(Mul(cb, w));
    } else {
      const V weighted = Srl<8>(Mul(cF, a));  // alpha before brightness
      s = W ? weighted : Bright(weighted, t.bright[Field]);
    }
    addend = Or(addend, Sll<shift>(Bright(s, t.p)));
    return;
  } else if constexpr (Mode == BlendMul) {
    if constexpr (!B && !UseAlpha) {
      out = Srl<n>(Mul(dF, cb));
    } else if constexpr (B && UseAlpha) {
      out = Srl<n + 16>(Mul(Mul(dF, cb), Mul(w, a)));
    } else {
      out = Srl<n + 8>(Mul(Mul(dF, cb), B ? w : a));
    }
  }
  result = Or(result, Sll<shift>(out));
}

template <int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_AVX2_INLINE V Combine16V(V d, V c, V a, V w, const VTables& t) {
  if constexpr (Mode == BlendNone && !B && !UseAlpha && W) {
    return AndMask<0xFFFF>(c);
  }
  if constexpr (!B && !UseAlpha && (Mode == BlendAlpha || Mode == BlendAdd || Mode == BlendSub)) {
    // No weight: every product stays below 2^16, so the fields go two to a lane in 16-bit
    // halves (blue | red << 16, then green) and take half the operations. (Multiplying
    // comes out slower this way.)
    // Shifted left by 5, red lands in the upper half (pixels have no bits above 15).
    const V dBR = AndMask<0x001F001F>(Or(d, Sll<5>(d)));
    const V dG = AndMask<0x3F>(Srl<5>(d));
    V cBR = AndMask<0x001F001F>(Or(c, Sll<5>(c)));
    V cG = AndMask<0x3F>(Srl<5>(c));
    if constexpr (!W) {
      cBR = Bright16(cBR, t.brightBlueRed16);
      cG = Bright16(cG, t.brightGreen16);
    }
    V outBR;
    V outG;
    if constexpr (Mode == BlendAlpha) {
      outBR = _mm256_add_epi16(dBR, SignedScale16(_mm256_sub_epi16(cBR, dBR), t.p16));
      outG = _mm256_add_epi16(dG, SignedScale16(_mm256_sub_epi16(cG, dG), t.p16));
    } else {
      outBR = Bright16(cBR, t.p16);
      outG = Bright16(cG, t.p16);
    }
    // Every field is at most 6 bits: red shifted down by 5 leaves its upper copy to the mask.
    const V fields = Or(AndMask<0xF81F>(Or(outBR, Srl<5>(outBR))), Sll<5>(outG));
    if constexpr (Mode == BlendAdd) return PackedAdd16V(d, fields);
    if constexpr (Mode == BlendSub) return PackedSub16V(d, fields);
    return fields;
  }
  V result = _mm256_setzero_si256();
  V addend = _mm256_setzero_si256();
  Field16V<Mode, B, W, UseAlpha, 0>(d, c, a, w, t, result, addend);
  Field16V<Mode, B, W, UseAlpha, 1>(d, c, a, w, t, result, addend);
  Field16V<Mode, B, W, UseAlpha, 2>(d, c, a, w, t, result, addend);
  if constexpr (Mode == BlendAdd) return PackedAdd16V(d, addend);
  if constexpr (Mode == BlendSub) return PackedSub16V(d, addend);
  return result;
}

// ---- 32-bit destinations ---------------------------------------------------------------

template <int Mode, bool W, int Channel>
GAMELIB_AVX2_INLINE V SourceChannel32(V c, V dc, const VTables& t) {
  constexpr int shift = Channel * 8;
  const V s = AndMask<0xFF>(Srl<shift>(c));
  if constexpr (Mode == BlendInverted) {
    const V inverted = Sub(K<255>(), s);
    return W ? inverted : Bright(inverted, t.bright[Channel]);
  } else if constexpr (Mode == BlendMulFade) {
    return Srl<8>(Mul(W ? s : Bright(s, t.bright[Channel]), dc));
  } else {
    return W ? s : Bright(s, t.bright[Channel]);
  }
}

template <int Mode, bool B, bool UseAlpha, bool W, int Channel>
GAMELIB_AVX2_INLINE void Channel32V(V d, V c, V weight, const VTables& t, V& result, V& addend) {
  constexpr int shift = Channel * 8;
  constexpr bool interpolating =
      Mode == BlendNone || Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  constexpr bool withParameter = Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  constexpr int weights = (B ? 1 : 0) + (UseAlpha ? 1 : 0);
  const V dc = AndMask<0xFF>(Srl<shift>(d));
  const V x = SourceChannel32<Mode, W, Channel>(c, dc, t);
  V out;
  if constexpr (interpolating) {
    constexpr int factors = weights + (withParameter ? 1 : 0);
    if constexpr (factors == 0) {
      out = x;
    } else {
      constexpr int n = 8 * factors;
      const V f = withParameter ? Mul(weight, t.p) : weight;
      out = Srl<n>(Add(Mul(x, f), Mul(dc, Sub(K<(std::uint32_t{1} << n)>(), f))));
    }
  } else if constexpr (Mode == BlendAdd || Mode == BlendSub) {
    V contribution;
    if constexpr (weights == 0) {
      contribution = Bright(x, t.p);
    } else {
      contribution = Srl<8 * (weights + 1)>(Mul(x, Mul(weight, t.p)));
    }
    addend = Or(addend, Sll<shift>(contribution));
    return;
  } else {
    out = Srl<8 * (weights + 1)>(Mul(Mul(x, weight), dc));
  }
  result = Or(result, Sll<shift>(out));
}

template <int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_AVX2_INLINE V Combine32V(V d, V c, V a, V w, const VTables& t) {
  if constexpr (Mode == BlendNone && !B && !UseAlpha && W) {
    return c;
  }
  constexpr bool interpolating =
      Mode == BlendNone || Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  constexpr bool withParameter = Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  constexpr int weights = (B ? 1 : 0) + (UseAlpha ? 1 : 0);
  V weight = Set1(1);
  if constexpr (B && UseAlpha) {
    weight = Mul(w, a);
  } else if constexpr (B) {
    weight = w;
  } else if constexpr (UseAlpha) {
    weight = a;
  }
  if constexpr (interpolating && weights + (withParameter ? 1 : 0) == 1 && Mode != BlendMulFade) {
    // One factor below 256: blue with red, and green, in 16-bit halves of each lane.
    const V f = withParameter ? t.p : weight;
    const V f16 = Or(f, Sll<16>(f));
    const V g16 = Sub(K<0x01000100>(), f16);
    V x;
    const V src = Mode == BlendInverted ? _mm256_xor_si256(c, K<0xFFFFFFFF>()) : c;
    if constexpr (W) {
      x = src;
    } else {
      x = BrightBytes(src, t.brightBlueRed16, t.brightGreen16);
    }
    const V rb = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(AndMask<0x00FF00FF>(x), f16),
                                                    _mm256_mullo_epi16(AndMask<0x00FF00FF>(d), g16)),
                                   8);
    const V gg = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(AndMask<0x00FF00FF>(Srl<8>(x)), f16),
                                                    _mm256_mullo_epi16(AndMask<0x00FF00FF>(Srl<8>(d)), g16)),
                                   8);
    return Or(Or(AndMask<0xFF000000u>(d), rb), AndMask<0x0000FF00u>(Sll<8>(gg)));
  }
  if constexpr ((Mode == BlendAdd || Mode == BlendSub) && weights == 0) {
    const V x = W ? c : BrightBytes(c, t.brightBlueRed16, t.brightGreen16);
    const V contribution = BrightBytes(x, t.p16, t.p16);
    return Mode == BlendAdd ? PackedAdd32V(d, contribution) : PackedSub32V(d, contribution);
  }
  V result = interpolating || Mode == BlendMul ? AndMask<0xFF000000u>(d) : _mm256_setzero_si256();
  V addend = _mm256_setzero_si256();
  Channel32V<Mode, B, UseAlpha, W, 0>(d, c, weight, t, result, addend);
  Channel32V<Mode, B, UseAlpha, W, 1>(d, c, weight, t, result, addend);
  Channel32V<Mode, B, UseAlpha, W, 2>(d, c, weight, t, result, addend);
  if constexpr (Mode == BlendAdd) return PackedAdd32V(d, addend);
  if constexpr (Mode == BlendSub) return PackedSub32V(d, addend);
  return result;
}

template <int Kind, int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_AVX2_INLINE V CombineV(V d, V c, V a, V w, const VTables& t) {
  if constexpr (Kind == kMemImgKind16) {
    return Combine16V<Mode, B, W, UseAlpha>(d, c, a, w, t);
  } else {
    return Combine32V<Mode, B, W, UseAlpha>(d, c, a, w, t);
  }
}

template <int Kind>
GAMELIB_AVX2_INLINE V LoadDest(const std::uint8_t* p) {
  if constexpr (Kind == kMemImgKind16) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  } else {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
  }
}

// The low halves of each 128-bit lane's four 32-bit lanes, into its first eight bytes.
alignas(32) inline constexpr std::int8_t kLowHalvesShuffle[32] = {0,  1,  4,  5,  8,  9,  12, 13, -1, -1, -1,
                                                                  -1, -1, -1, -1, -1, 0,  1,  4,  5,  8,  9,
                                                                  12, 13, -1, -1, -1, -1, -1, -1, -1, -1};

// Wide: 16-bit pixels keep the low half of each lane, dropping what lies above it (the
// packed add and subtract leave it there); else the lanes are below 2^16 already.
template <int Kind, bool Wide = false>
GAMELIB_AVX2_INLINE void StoreDest(std::uint8_t* p, V value) {
  if constexpr (Kind == kMemImgKind16 && Wide) {
    const V halves =
        _mm256_shuffle_epi8(value, _mm256_load_si256(reinterpret_cast<const V*>(kLowHalvesShuffle)));
    const V packed = _mm256_permute4x64_epi64(halves, 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  } else if constexpr (Kind == kMemImgKind16) {
    const V packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(value, value), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
  } else {
    _mm256_storeu_si256(reinterpret_cast<V*>(p), value);
  }
}

// Eight loads by one byte offset each, made one lane at a time: this processor family
// runs a hardware gather slower than eight plain loads. load(offset) returns the lane.
template <class Load>
GAMELIB_AVX2_INLINE V LoadLanes(V offsets, Load load) {
  const __m128i low = _mm256_castsi256_si128(offsets);
  const __m128i high = _mm256_extracti128_si256(offsets, 1);
  const auto o0 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(low));
  const auto o2 = static_cast<std::uint64_t>(_mm_extract_epi64(low, 1));
  const auto o4 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(high));
  const auto o6 = static_cast<std::uint64_t>(_mm_extract_epi64(high, 1));
  const auto lane = [&](std::uint64_t pair, int upper) {
    return static_cast<int>(load(static_cast<std::uint32_t>(upper ? pair >> 32 : pair)));
  };
  __m128i a = _mm_cvtsi32_si128(lane(o0, 0));
  __m128i b = _mm_cvtsi32_si128(lane(o4, 0));
  a = _mm_insert_epi32(a, lane(o0, 1), 1);
  b = _mm_insert_epi32(b, lane(o4, 1), 1);
  a = _mm_insert_epi32(a, lane(o2, 0), 2);
  b = _mm_insert_epi32(b, lane(o6, 0), 2);
  a = _mm_insert_epi32(a, lane(o2, 1), 3);
  b = _mm_insert_epi32(b, lane(o6, 1), 3);
  return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

GAMELIB_AVX2_INLINE V LaneIndex() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }

// Lanes below count (0..8) set: a window into a table, which takes no shuffle-port
// instruction as a broadcast of count would.
alignas(64) inline constexpr std::int32_t kFirstLanesWindow[16] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                                                   0,  0,  0,  0,  0,  0,  0,  0};
GAMELIB_AVX2_INLINE V FirstLanes(int count) {
  return _mm256_loadu_si256(reinterpret_cast<const V*>(kFirstLanesWindow + 8 - count));
}

// Lanes whose unsigned value is below limit set (limit <= 2^31).
GAMELIB_AVX2_INLINE V BelowUnsigned(V a, std::uint32_t limit) {
  return _mm256_cmpgt_epi32(Set1(limit ^ 0x80000000u), _mm256_xor_si256(a, K<0x80000000u>()));
}

// The first count (1..7) pixels of a 32-bit span, never touching the pixels after them
// (16-bit spans end pixel by pixel: there is no masked 16-bit load or store).
GAMELIB_AVX2_INLINE V LoadDestPart(const std::uint8_t* p, V lanes) {
  return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), lanes);
}
GAMELIB_AVX2_INLINE void StoreDestPart(std::uint8_t* p, V value, V lanes) {
  _mm256_maskstore_epi32(reinterpret_cast<int*>(p), lanes, value);
}

// Per-triangle values of a textured vector kernel.
struct SpanConstants {
  TexturedLocals l;
  VTables t;
  std::uint32_t texWidth;
  std::uint32_t texHeight;
  int texColumns;
  int texRows;
  V srcPitch;
  V blendPitch;
  V key;
};

GAMELIB_AVX2_INLINE SpanConstants MakeSpanConstants(const KernelContext& k) {
  const TexturedLocals l = MakeTexturedLocals(k);
  return SpanConstants{l,
                       MakeVTables(l.tables),
                       k.texWidth,
                       k.texHeight,
                       static_cast<int>(k.texWidth >> kFixed18Shift),
                       static_cast<int>(k.texHeight >> kFixed18Shift),
                       Set1(static_cast<std::uint32_t>(l.srcPitch)),
                       Set1(static_cast<std::uint32_t>(l.blendPitch)),
                       Set1(l.colorKey)};
}

// How a chunk of fewer than eight pixels ends a span: with masked loads and stores (32-bit
// destinations only), or by loading and storing all eight with the pixels past the span
// written back as they were (where the draw area holds all eight).
enum class Tail { None, Masked, Blended };

// Eight texels of a source row from p, one per lane.
template <class F>
GAMELIB_AVX2_INLINE V LoadTexelRow(const std::uint8_t* p) {
  if constexpr (F::bytes == 4) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
  } else if constexpr (F::bytes == 2) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  } else {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
  }
}

// Where the drawn lanes of a turned chunk find their texels: in eight columns from column,
// on rows row .. row + 2 (rows past the source's last are never picked).
struct TexelWindow {
  int column = 0;
  int row = 0;
};

// Eight pixels (or the first count of them, with a Tail) from texture coordinates uu, vv.
// Checked: lanes outside the source are left unchanged (else all are inside). Rows: the
// texels lie on one source row and advance at most one texel per pixel, so the eight come
// from one load of the row at srcRow/blendRow and a permute; u is lane 0's coordinate.
// Checked with Rows: the caller has found that row inside the source. Windowed: the texels
// lie in the window win, and come from three row loads and permutes.
template <class F, int Mode, bool B, bool W, bool T, bool Checked, bool Rows, Tail L, bool Windowed = false>
GAMELIB_AVX2_INLINE void TexturedChunk(const SpanConstants& c, std::uint8_t* dp, V uu, V vv, std::uint32_t u,
                                       const std::uint8_t* srcRow, const std::uint8_t* blendRow, int count,
                                       TexelWindow win = {}) {
  const V zero = _mm256_setzero_si256();
  const V tu = Srl<kFixed18Shift>(uu);
  const V tv = Srl<kFixed18Shift>(vv);
  constexpr bool Partial = L != Tail::None;
  if constexpr (F::kind == kMemImgKind16 && Mode == BlendNone && !B && W && !T && !F::alpha && !F::palette &&
                !Checked && !Rows && !Partial && F::bytes == 2) {
    // A plain 16-bit copy of eight scattered texels: each goes straight from its load to
    // its pixel, with no vector to assemble and pack (on 32-bit pixels this gains nothing).
    const V offsets = Add(Mul(tv, c.srcPitch), Sll<1>(tu));
    const __m128i low = _mm256_castsi256_si128(offsets);
    const __m128i high = _mm256_extracti128_si256(offsets, 1);
    const std::uint64_t pairs[4] = {static_cast<std::uint64_t>(_mm_cvtsi128_si64(low)),
                                    static_cast<std::uint64_t>(_mm_extract_epi64(low, 1)),
                                    static_cast<std::uint64_t>(_mm_cvtsi128_si64(high)),
                                    static_cast<std::uint64_t>(_mm_extract_epi64(high, 1))};
    const std::uint8_t* src = c.l.src;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      std::memcpy(dp + 4 * i, src + static_cast<std::uint32_t>(pairs[i]), 2);
      std::memcpy(dp + 4 * i + 2, src + (pairs[i] >> 32), 2);
    }
    return;
  }
  V lanes = zero;
  static_assert(L != Tail::Masked || F::kind == kMemImgKind32, "no masked 16-bit load or store");
  if constexpr (Partial) lanes = FirstLanes(count);
  V inside = zero;
  if constexpr (Checked) {
    inside = Rows ? BelowUnsigned(uu, c.texWidth)
                  : And(BelowUnsigned(uu, c.texWidth), BelowUnsigned(vv, c.texHeight));
    // No pixel to draw: nothing to do. A blended tail goes on regardless (every read stays
    // in its image, and it writes back what it read): on short spans the test costs more
    // than it saves.
    if constexpr (L != Tail::Blended) {
      const V live = Partial ? And(inside, lanes) : inside;
      if (_mm256_testz_si256(live, live)) return;
    }
  }
  // Lanes that may be read from the source; the others read its first texel.
  V readable = inside;
  if constexpr (!Checked && Partial) readable = lanes;
  constexpr bool masked = Checked || Partial;

  V raw;
  V perm = zero;
  int base = 0;
  if constexpr (Rows) {
    // A window of eight texels inside the row that holds every drawn lane's texel; lanes
    // left of the source (in checked chunks only) count from column 0.
    const int first = Checked ? std::max(static_cast<std::int32_t>(u) >> kFixed18Shift, 0)
                              : static_cast<int>(u >> kFixed18Shift);
    base = std::min(first, c.texColumns - 8);
    perm = Sub(tu, Set1(static_cast<std::uint32_t>(base)));
    raw = _mm256_permutevar8x32_epi32(LoadTexelRow<F>(srcRow + static_cast<std::ptrdiff_t>(base) * F::bytes),
                                      perm);
  } else if constexpr (Windowed) {
    // Lanes past a tail's count pick anything: the permutes read only the window.
    const std::ptrdiff_t pitch = c.l.srcPitch;
    const std::uint8_t* p0 = c.l.src + static_cast<std::ptrdiff_t>(win.row) * pitch +
                             static_cast<std::ptrdiff_t>(win.column) * F::bytes;
    const std::uint8_t* p1 = win.row + 1 < c.texRows ? p0 + pitch : p0;
    const std::uint8_t* p2 = win.row + 2 < c.texRows ? p1 + pitch : p1;
    perm = Sub(tu, Set1(static_cast<std::uint32_t>(win.column)));
    const V rowOf = Sub(tv, Set1(static_cast<std::uint32_t>(win.row)));
    raw = _mm256_permutevar8x32_epi32(LoadTexelRow<F>(p0), perm);
    raw = Select(raw, _mm256_permutevar8x32_epi32(LoadTexelRow<F>(p1), perm), Equal(rowOf, K<1>()));
    raw = Select(raw, _mm256_permutevar8x32_epi32(LoadTexelRow<F>(p2), perm), Equal(rowOf, K<2>()));
  } else {
    V offsets = Add(Mul(tv, c.srcPitch), F::bytes == 1 ? tu : (F::bytes == 2 ? Sll<1>(tu) : Sll<2>(tu)));
    if constexpr (masked) offsets = And(offsets, readable);
    const std::uint8_t* src = c.l.src;
    raw = LoadLanes(offsets, [src](std::uint32_t o) {
      if constexpr (F::bytes == 4) {
        return Load32(src + o);
      } else if constexpr (F::bytes == 2) {
        return Load16(src + o);
      } else {
        return static_cast<std::uint32_t>(src[o]);
      }
    });
  }

  V colour;
  V a = zero;
  V skip = zero;  // lanes left as they are
  if constexpr (F::palette) {
    const V index = AndMask<0xFF>(raw);
    if constexpr (T) skip = Equal(index, c.key);
    const void* palette = c.l.palette;
    colour = LoadLanes(index, [palette](std::uint32_t i) -> std::uint32_t {
      if constexpr (F::kind == kMemImgKind16) {
        return static_cast<const std::uint16_t*>(palette)[i];
      } else {
        return static_cast<const std::uint32_t*>(palette)[i];
      }
    });
  } else if constexpr (F::alpha) {
    if constexpr (F::kind == kMemImgKind16) {
      a = AndMask<0xFF>(Srl<16>(raw));
      colour = AndMask<0xFFFF>(raw);
    } else {
      a = Srl<24>(raw);
      colour = raw;
    }
    if constexpr (T && SkipsZeroAlpha(Mode)) skip = Equal(a, zero);
  } else {
    colour = F::bytes == 2 ? AndMask<0xFFFF>(raw) : raw;
    if constexpr (T) skip = Equal(colour, c.key);
  }
  V w = zero;
  if constexpr (B) {
    V b;
    if constexpr (Rows) {
      b = _mm256_permutevar8x32_epi32(
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(blendRow + base))), perm);
    } else {
      V offsets = Add(Mul(tv, c.blendPitch), tu);
      if constexpr (masked) offsets = And(offsets, readable);
      const std::uint8_t* blend = c.l.blend;
      b = LoadLanes(offsets, [blend](std::uint32_t o) { return static_cast<std::uint32_t>(blend[o]); });
    }
    // The border table has slack past its last entry for a gather's four-byte reads. Along
    // wide spans one gather beats eight loads; in the checked chunks of narrow triangles
    // the loads come out faster.
    const std::uint8_t* border = c.l.border;
    if constexpr (Checked) {
      w = LoadLanes(b, [border](std::uint32_t i) { return static_cast<std::uint32_t>(border[i]); });
    } else {
      w = AndMask<0xFF>(_mm256_i32gather_epi32(reinterpret_cast<const int*>(border), b, 1));
    }
  }
  const V d = L == Tail::Masked ? LoadDestPart(dp, lanes) : LoadDest<F::kind>(dp);
  V out;
  if constexpr (F::alpha && T) {
    const V opaque = Equal(a, K<255>());
    out = Select(CombineV<F::kind, Mode, B, W, true>(d, colour, a, w, c.t),
                 CombineV<F::kind, Mode, B, W, false>(d, colour, a, w, c.t), opaque);
  } else {
    out = CombineV<F::kind, Mode, B, W, F::alpha>(d, colour, a, w, c.t);
  }
  // The lanes that take the new pixel, as one mask: one blend instead of one per test.
  if constexpr (Checked || L == Tail::Blended) {
    V take = inside;
    if constexpr (L == Tail::Blended) take = Checked ? And(inside, lanes) : lanes;
    if constexpr (T) take = _mm256_andnot_si256(skip, take);
    out = Select(d, out, take);
  } else if constexpr (T) {
    out = Select(out, d, skip);
  }
  if constexpr (L == Tail::Masked) {
    StoreDestPart(dp, out, lanes);
  } else {
    StoreDest<F::kind, Mode == BlendAdd || Mode == BlendSub>(dp, out);
  }
}

// A plain copy ends its spans pixel by pixel: cheaper than the masking, except on short
// spans, where the masked chunk saves the per-pixel loop.
template <class F, int Mode, bool B, bool W>
constexpr bool kPlainCopy = Mode == BlendNone && !B && !F::alpha && W;

// count pixels from dp, eight at a time. The last chunk is blended where the draw area
// (ending at areaEnd) holds eight pixels, else masked, or pixel by pixel where ScalarTail
// (always on 16-bit destinations).
template <class F, int Mode, bool B, bool W, bool T, bool Checked, bool Rows, bool ScalarTail,
          bool Short = false, bool Windowed = false>
GAMELIB_AVX2_INLINE void TexturedRun(const SpanConstants& c, std::uint8_t* dp, const std::uint8_t* areaEnd,
                                     std::uint32_t u, std::uint32_t v, std::uint32_t du, std::uint32_t dv,
                                     V laneDu, V laneDv, V du8, V dv8, int count) {
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  V uu = Add(Set1(u), laneDu);
  V vv = Add(Set1(v), laneDv);
  const std::uint8_t* srcRow = nullptr;
  const std::uint8_t* blendRow = nullptr;
  if constexpr (Rows) {
    // One texel row for the whole span. A checked span below the source draws nothing.
    if constexpr (Checked) {
      if (v >= c.texHeight) return;
    }
    const auto tv = static_cast<std::ptrdiff_t>(v >> kFixed18Shift);
    srcRow = c.l.src + tv * c.l.srcPitch;
    if constexpr (B) blendRow = c.l.blend + tv * c.l.blendPitch;
  }
  if constexpr (Short) {
    if (count <= 8 && areaEnd - dp >= 8 * destBytes) {
      // The usual span of a small sprite: one chunk, no loop to keep registers for.
      TexturedChunk<F, Mode, B, W, T, Checked, Rows, Tail::Blended>(c, dp, uu, vv, u, srcRow, blendRow,
                                                                    count);
      return;
    }
  }
  // Windowed: a chunk's texels lie in eight columns and three rows from lane 0's, on the
  // side the span travels to.
  const auto window = [&] {
    TexelWindow win;
    if constexpr (Windowed) {
      const int backColumns = static_cast<std::int32_t>(du) < 0 ? 7 : 0;
      const int backRows = static_cast<std::int32_t>(dv) < 0 ? 2 : 0;
      win.column = std::clamp(static_cast<int>(u >> kFixed18Shift) - backColumns, 0, c.texColumns - 8);
      win.row = std::max(static_cast<int>(v >> kFixed18Shift) - backRows, 0);
    }
    return win;
  };
  for (; count >= 8; count -= 8) {
    TexturedChunk<F, Mode, B, W, T, Checked, Rows, Tail::None, Windowed>(c, dp, uu, vv, u, srcRow, blendRow,
                                                                         8, window());
    uu = Add(uu, du8);
    vv = Add(vv, dv8);
    u += du * 8;
    v += dv * 8;
    dp += 8 * destBytes;
  }
  if (count == 0) return;
  if (areaEnd - dp >= 8 * destBytes) {
    TexturedChunk<F, Mode, B, W, T, Checked, Rows, Tail::Blended, Windowed>(c, dp, uu, vv, u, srcRow,
                                                                            blendRow, count, window());
  } else if constexpr (ScalarTail || F::kind == kMemImgKind16) {
    for (; count > 0; --count) {
      if (!Checked || (u < c.texWidth && v < c.texHeight)) TexturedPixel<F, Mode, B, W, T>(c.l, dp, u, v);
      u += du;
      v += dv;
      dp += destBytes;
    }
  } else {
    TexturedChunk<F, Mode, B, W, T, Checked, Rows, Tail::Masked, Windowed>(c, dp, uu, vv, u, srcRow, blendRow,
                                                                           count, window());
  }
}

// ---- Straight rows onto 16-bit images ---------------------------------------------------
// Unscaled, unturned sprites: along a row the texel moves by exactly one per pixel, so
// pixel i of a span takes texel s + i of one source row, and a chunk's texels come from
// one load, with no per-lane bounds test: the pixels inside the source are one run per
// span, found once. With 16-bit texels and pixels, sixteen go in one vector, one field per
// vector in 16-bit lanes, with no widening or narrowing (every value stays below 2^16): a
// span of a small sprite is one chunk. (On 32-bit pixels, and on spans of nine pixels or
// fewer, the chunks above, with their per-lane tests, come out faster.)

// 16-bit texels (no alpha, no palette) without a blend image, onto 16-bit pixels.
template <class F, bool B>
constexpr bool kStraight16 = (F::kind == kMemImgKind16) && F::bytes == 2 && !F::alpha && !F::palette && !B;

struct StraightConstants {
  V bright[3];           // brightness per field, in every 16-bit lane
  V key;                 // the colour key in every lane
  V keyed;               // all ones when a texel can equal the key, else zero
  std::size_t lastLoad;  // the last offset from the source at which sixteen texels lie in it
};

// The packed add and subtract of 5-6-5 pixels in 16-bit lanes: as PackedAdd16V and
// PackedSub16V, with red's carry or borrow (bit 16 there) found from the red fields.
GAMELIB_AVX2_INLINE V PackedAdd16x16(V d, V s) {
  const V sum = _mm256_add_epi16(AndMask<0xF7DFF7DF>(d), AndMask<0xF7DFF7DF>(s));
  const V k = AndMask<0x08200820>(sum);
  const V redCarry = _mm256_cmpgt_epi16(_mm256_add_epi16(_mm256_srli_epi16(d, 12), _mm256_srli_epi16(s, 12)),
                                        K<0x000F000F>());
  return Or(Or(_mm256_sub_epi16(k, _mm256_srli_epi16(k, 5)), AndMask<0xF800F800>(redCarry)),
            Or(AndMask<0x08200820>(Or(d, s)), sum));
}
GAMELIB_AVX2_INLINE V PackedSub16x16(V d, V s) {
  const V t = _mm256_sub_epi16(Or(d, K<0x08200820>()), AndMask<0xF7DFF7DF>(s));
  const V k = AndMask<0x08200820>(t);
  const V redBorrow = _mm256_cmpgt_epi16(_mm256_srli_epi16(s, 12), _mm256_srli_epi16(d, 12));
  return And(
      Or(_mm256_sub_epi16(k, _mm256_srli_epi16(k, 5)), _mm256_andnot_si256(redBorrow, K<0xF800F800>())), t);
}

template <int Mode, bool W, int Field>
GAMELIB_AVX2_INLINE V Field16x16(V dF, V cF, const VTables& t, const StraightConstants& s) {
  constexpr int n = kFieldWidth16[Field];
  constexpr std::uint32_t mask = kFieldMask16[Field] * 0x10001u;
  const V cb = W ? cF : Bright16(cF, s.bright[Field]);
  if constexpr (Mode == BlendNone) {
    return cb;
  } else if constexpr (Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade) {
    V target = cb;
    if constexpr (Mode == BlendInverted) {
      const V inverted = _mm256_sub_epi16(K<mask>(), cF);
      target = W ? inverted : Bright16(inverted, s.bright[Field]);
    } else if constexpr (Mode == BlendMulFade) {
      target = _mm256_srli_epi16(_mm256_mullo_epi16(cb, dF), n);
    }
    return _mm256_add_epi16(dF, SignedScale16(_mm256_sub_epi16(target, dF), t.p16));
  } else if constexpr (Mode == BlendAdd || Mode == BlendSub) {
    return Bright16(cb, t.p16);  // the addend's field
  } else {
    return _mm256_srli_epi16(_mm256_mullo_epi16(dF, cb), n);
  }
}

template <int Mode, bool W>
GAMELIB_AVX2_INLINE V Combine16x16(V d, V c, const VTables& t, const StraightConstants& s) {
  if constexpr (Mode == BlendNone && W) return c;
  const V dB = AndMask<0x001F001F>(d);
  const V dG = AndMask<0x003F003F>(_mm256_srli_epi16(d, 5));
  const V dR = _mm256_srli_epi16(d, 11);
  const V cB = AndMask<0x001F001F>(c);
  const V cG = AndMask<0x003F003F>(_mm256_srli_epi16(c, 5));
  const V cR = _mm256_srli_epi16(c, 11);
  const V fields =
      Or(Or(Field16x16<Mode, W, 0>(dB, cB, t, s), _mm256_slli_epi16(Field16x16<Mode, W, 1>(dG, cG, t, s), 5)),
         _mm256_slli_epi16(Field16x16<Mode, W, 2>(dR, cR, t, s), 11));
  if constexpr (Mode == BlendAdd) return PackedAdd16x16(d, fields);
  if constexpr (Mode == BlendSub) return PackedSub16x16(d, fields);
  return fields;
}

// Lanes [lo, hi) of sixteen 16-bit lanes set (lo and hi in 0..16), from two windows.
alignas(64) inline constexpr std::int16_t kLaneRange16[48] = {
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0,  0,  0,  0,  0,  0,  0,  0,
    0,  0,  0,  0,  0,  0,  0,  0,  -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
GAMELIB_AVX2_INLINE V LaneRange16(int lo, int hi) {
  return And(_mm256_loadu_si256(reinterpret_cast<const V*>(kLaneRange16 + 16 - hi)),
             _mm256_loadu_si256(reinterpret_cast<const V*>(kLaneRange16 + 32 - lo)));
}

// Sixteen texels from offset o of the source; lanes whose texels lie outside it may take
// anything. A plain load where all sixteen lie inside it, else the sixteen at the nearest
// offset inside, moved along by the difference (under sixteen texels where any lane's
// texel lies inside, as the caller has made sure).
GAMELIB_AVX2_INLINE V LoadStraightTexels(const std::uint8_t* src, std::ptrdiff_t o, std::size_t lastLoad) {
  if (static_cast<std::size_t>(o) <= lastLoad) return _mm256_loadu_si256(reinterpret_cast<const V*>(src + o));
  const std::ptrdiff_t base = o < 0 ? 0 : static_cast<std::ptrdiff_t>(lastLoad);
  const V data = _mm256_loadu_si256(reinterpret_cast<const V*>(src + base));
  const auto k = static_cast<int>((o - base) / 2);  // texels; o - base is even
  // By pairs of texels, then by one where k is odd.
  const V index = Add(LaneIndex(), Set1(static_cast<std::uint32_t>(k >> 1)));
  const V a = _mm256_permutevar8x32_epi32(data, index);
  if ((k & 1) == 0) return a;
  return Or(Srl<16>(a), Sll<16>(_mm256_permutevar8x32_epi32(data, Add(index, K<1>()))));
}

// Pixels [lo, hi) of the sixteen at dp from the texels at offset o; the others are written
// back as they were. With Twice, the pixel in lane twice (if any) is blended a second time.
template <int Mode, bool W, bool T, bool Twice>
GAMELIB_AVX2_INLINE void StraightChunk(const SpanConstants& c, const StraightConstants& s, std::uint8_t* dp,
                                       std::ptrdiff_t o, int lo, int hi, int twice) {
  const V texels = LoadStraightTexels(c.l.src, o, s.lastLoad);
  const V d = _mm256_loadu_si256(reinterpret_cast<const V*>(dp));
  V take = LaneRange16(lo, hi);
  if constexpr (T) take = _mm256_andnot_si256(And(_mm256_cmpeq_epi16(texels, s.key), s.keyed), take);
  V result = Combine16x16<Mode, W>(d, texels, c.t, s);
  // A copy does not read the pixel it replaces: once is twice.
  if constexpr (Twice && !(Mode == BlendNone)) {
    if (static_cast<unsigned>(twice) < 16)
      result = Select(result, Combine16x16<Mode, W>(result, texels, c.t, s), LaneRange16(twice, twice + 1));
  }
  _mm256_storeu_si256(reinterpret_cast<V*>(dp), Select(d, result, take));
}

// The rows a walker yields, sixteen pixels at a time. A chunk that would reach past the
// draw area's right edge is moved left to end there (the area is sixteen pixels wide or
// more), its lanes with it. The walker yields each row's y, first pixel x, pixel count n,
// and, where Walker::kTwice, the pixel blended twice (any value outside the span for none).
template <int Mode, bool W, bool T, class Walker>
GAMELIB_AVX2_INLINE void WalkStraight(Walker& walker, const SpanConstants& c, const StraightConstants& s,
                                      std::uint8_t* pixels, std::ptrdiff_t pitch, int areaRight,
                                      std::uint32_t uOrigin, std::uint32_t vOrigin, const TriGradients& g) {
  constexpr int kColumnWrap = 1 << (32 - kFixed18Shift);
  constexpr bool twice = Walker::kTwice;
  const int lastStart = areaRight - 16;  // the last pixel a chunk may start at
  int y = 0;
  int x = 0;
  int n = 0;
  int again = 0;
  while (walker.Next(y, x, n, again)) {
    const std::uint32_t v = CoordAt(vOrigin, 0, g.dvdy, x, y);
    if (v >= c.texHeight) continue;
    const std::uint32_t u = CoordAt(uOrigin, kFixed18One, g.dudy, x, y);
    std::uint8_t* const row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    const std::ptrdiff_t srcRow = static_cast<std::ptrdiff_t>(v >> kFixed18Shift) * c.l.srcPitch;
    // Pixel i takes column (first + i) mod 2^14, as the coordinates wrap: first is the
    // column of pixel 0, taken below zero where later pixels wrap into the source.
    const int column = static_cast<int>(u >> kFixed18Shift);
    const int first = column < c.texColumns ? column : column - kColumnWrap;
    // Pixels [begin, end) of the span take texels inside the source.
    const int begin = std::max(0, -first);
    const int end = std::min(n, c.texColumns - first);
    // Pixels [done, end) from pixel x + done on, sixteen at most.
    const auto chunk = [&](int done) GAMELIB_AVX2_INLINE_LAMBDA {
      const int shift = std::max(0, x + done - lastStart);
      const int at = first + done - shift;  // the column of the chunk's lane 0
      const int start = x + done - shift;   // the chunk's first pixel
      StraightChunk<Mode, W, T, twice>(c, s, row + static_cast<std::ptrdiff_t>(start) * 2,
                                       srcRow + static_cast<std::ptrdiff_t>(at) * 2, shift,
                                       std::min(16, shift + end - done), again - start);
    };
    if (end - begin <= 16) {
      // The usual span of a small sprite: straight through, no loop to keep registers for.
      if (begin < end) chunk(begin);
    } else {
      for (int done = begin; done < end; done += 16) chunk(done);
    }
  }
}

// A triangle's rows, none blended twice.
struct TriangleRows {
  static constexpr bool kTwice = false;
  RowWalker& walker;
  GAMELIB_INLINE bool Next(int& y, int& x, int& n, int&) { return walker.Next(y, x, n); }
};

// The constants of straight chunks, or false where the source or draw area is too small
// for a chunk, or its pitch an odd number of bytes.
GAMELIB_AVX2_INLINE bool MakeStraightConstants(const KernelContext& k, const SpanConstants& c,
                                               StraightConstants& s) {
  const std::ptrdiff_t pitch = c.l.srcPitch;
  const std::uint32_t rows = c.texHeight >> kFixed18Shift;
  if (pitch <= 0 || pitch % 2 != 0 || rows == 0 || c.texColumns >= (1 << (32 - kFixed18Shift)) ||
      k.areaRight - k.areaLeft < 16)
    return false;
  const std::ptrdiff_t srcBytes = static_cast<std::ptrdiff_t>(rows - 1) * pitch + c.texColumns * 2;
  if (srcBytes < 32) return false;
  const PixelTables& t = c.l.tables;
  // Entry 255 of BrightnessTable row k is k itself.
  const auto blue = static_cast<std::uint32_t>(t.bright[0][255]);
  const auto green = static_cast<std::uint32_t>(t.bright[1][255]);
  const auto red = static_cast<std::uint32_t>(t.bright[2][255]);
  s = StraightConstants{{Set1(blue * 0x10001u), Set1(green * 0x10001u), Set1(red * 0x10001u)},
                        Set1((c.l.colorKey & 0xFFFF) * 0x10001u),
                        c.l.colorKey <= 0xFFFF ? K<0xFFFFFFFF>() : _mm256_setzero_si256(),
                        static_cast<std::size_t>(srcBytes - 32)};
  return true;
}

// Draws a straight triangle and returns true, or returns false where straight chunks
// cannot draw it.
template <int Mode, bool W, bool T>
GAMELIB_AVX2_INLINE bool DrawStraight(const TriangleSetup& setup, const KernelContext& k,
                                      const SpanConstants& c) {
  StraightConstants s;
  if (!MakeStraightConstants(k, c, s)) return false;
  const TriGradients& g = setup.gradients;
  const std::uint32_t uOrigin = CoordAt(g.u0, g.dudx, g.dudy, -g.x0, -g.y0);
  const std::uint32_t vOrigin = CoordAt(g.v0, g.dvdx, g.dvdy, -g.x0, -g.y0);
  RowWalker walker(setup, k);
  TriangleRows rows{walker};
  WalkStraight<Mode, W, T>(rows, c, s, k.destPixels, k.destPitch, k.areaRight, uOrigin, vOrigin, g);
  return true;
}

// The rows of an upright rectangle at or right of and below pixel (0, 0), as its two
// halves (corners 0-1-2 and 1-2-3) draw them: each row from the left corners' column to the
// right corners', both included, within the draw area, where the edge the halves share
// crosses the row at the one pixel both draw. The edge steps as the halves' walks step it.
struct RectangleRows {
  static constexpr bool kTwice = true;
  int y;       // the next row
  int bottom;  // the row after the last
  int left;    // the pixels [left, right) of every row
  int right;
  std::int64_t edge;  // the shared edge at row y (Fixed18), and its step per row
  std::int64_t step;
  GAMELIB_INLINE bool Next(int& rowY, int& x, int& n, int& twice) {
    if (y >= bottom) return false;
    rowY = y;
    x = left;
    n = right - left;
    twice = static_cast<int>(edge >> kFixed18Shift);
    ++y;
    edge += step;
    return true;
  }
};

// The texture steps of such a rectangle: one texel per pixel along both axes.
constexpr TriGradients kOneToOne{0, 0, 0, 0, kFixed18One, 0, 0, kFixed18One};

// The rows of an upright rectangle whose texels map one to one onto its pixels, at or
// right of and below pixel (0, 0) (corners as DrawMemImgQuad takes them), with the texture
// coordinates pixel (0, 0) would have; false when no row reaches into the draw area.
GAMELIB_INLINE bool MakeRectangleRows(const TriVertex* corners, const KernelContext& k, RectangleRows& rows,
                                      std::uint32_t& uOrigin, std::uint32_t& vOrigin) {
  const int x0 = corners[0].x;
  const int y0 = corners[0].y;
  const int x1 = corners[1].x;
  const int y1 = corners[2].y;
  rows.y = std::max(y0, k.areaTop);
  rows.bottom = std::min(y1, k.areaBottom);
  rows.left = std::max(x0, k.areaLeft);
  rows.right = std::min(x1 + 1, k.areaRight);
  if (rows.left >= rows.right || rows.y >= rows.bottom) return false;
  // As the halves' set-up makes it: truncated toward zero.
  rows.step = static_cast<std::int64_t>(x0 - x1) * kFixed18One / (y1 - y0);
  rows.edge = static_cast<std::int64_t>(x1) * kFixed18One + kFixed18Half + (rows.y - y0) * rows.step;
  uOrigin = static_cast<std::uint32_t>(corners[0].u - x0) << kFixed18Shift;
  vOrigin = static_cast<std::uint32_t>(corners[0].v - y0) << kFixed18Shift;
  return true;
}

// Draws such a rectangle onto a 16-bit image as its two halves would, and returns true; or
// returns false where straight chunks cannot draw it.
template <int Mode, bool W, bool T>
GAMELIB_AVX2 bool DrawStraightRectangleAvx2(const TriVertex* corners, const KernelContext& k) {
  const SpanConstants c = MakeSpanConstants(k);
  StraightConstants s;
  if (!MakeStraightConstants(k, c, s)) return false;
  RectangleRows rows;
  std::uint32_t uOrigin = 0;
  std::uint32_t vOrigin = 0;
  if (!MakeRectangleRows(corners, k, rows, uOrigin, vOrigin)) return true;
  WalkStraight<Mode, W, T>(rows, c, s, k.destPixels, k.destPitch, k.areaRight, uOrigin, vOrigin, kOneToOne);
  return true;
}

// Triangles narrower than this: every span goes through chunks that test each pixel
// against the source, with no per-span search for the pixels inside.
constexpr int kSmallTriangleWidth = 32;

// The rows of such a triangle, or of a rectangle (whose rows carry a pixel to blend
// twice), as the walker yields them. Instantiated per source layout (Rows), so that each
// loop holds only its own values; u and v are those pixel (0, 0) would have.
template <class F, int Mode, bool B, bool W, bool T, bool Rows, bool Short, class Walker>
GAMELIB_AVX2_INLINE void WalkNarrow(Walker& walker, const SpanConstants& c, std::uint8_t* pixels,
                                    std::ptrdiff_t pitch, std::ptrdiff_t areaRight, std::uint32_t uOrigin,
                                    std::uint32_t vOrigin, const TriGradients& g, V laneDu, V laneDv, V du8,
                                    V dv8) {
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  const auto du = static_cast<std::uint32_t>(g.dudx);
  const auto dv = static_cast<std::uint32_t>(g.dvdx);
  int y = 0;
  int x = 0;
  int n = 0;
  int again = 0;
  while (walker.Next(y, x, n, again)) {
    const std::uint32_t u = CoordAt(uOrigin, g.dudx, g.dudy, x, y);
    // On one source row per span (Rows), v does not change along it.
    const std::uint32_t v = CoordAt(vOrigin, Rows ? 0 : g.dvdx, g.dvdy, x, y);
    std::uint8_t* const row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    TexturedRun<F, Mode, B, W, T, true, Rows, false, Short>(
        c, row + static_cast<std::ptrdiff_t>(x) * destBytes, row + areaRight, u, v, du, dv, laneDu, laneDv,
        du8, dv8, n);
    if constexpr (Walker::kTwice) {
      const std::uint32_t uAgain = CoordAt(uOrigin, g.dudx, g.dudy, again, y);
      const std::uint32_t vAgain = CoordAt(vOrigin, g.dvdx, g.dvdy, again, y);
      if (again >= x && again < x + n && uAgain < c.texWidth && vAgain < c.texHeight)
        TexturedPixel<F, Mode, B, W, T>(c.l, row + static_cast<std::ptrdiff_t>(again) * destBytes, uAgain,
                                        vAgain);
    }
  }
}

// Draws an upright rectangle whose texels map one to one onto its pixels (see
// MakeRectangleRows) onto a 32-bit image as its two halves would: each row through the
// chunks of a span on one source row, then the pixel both halves draw blended once more.
// False where the source is too narrow for those chunks.
template <class F, int Mode, bool B, bool W, bool T>
GAMELIB_AVX2 bool DrawRectangleRowsAvx2(const TriVertex* corners, const KernelContext& k) {
  const SpanConstants c = MakeSpanConstants(k);
  if (c.texColumns < 8) return false;
  RectangleRows rows;
  std::uint32_t uOrigin = 0;
  std::uint32_t vOrigin = 0;
  if (!MakeRectangleRows(corners, k, rows, uOrigin, vOrigin)) return true;
  const V zero = _mm256_setzero_si256();
  WalkNarrow<F, Mode, B, W, T, true, false>(
      rows, c, k.destPixels, k.destPitch, static_cast<std::ptrdiff_t>(k.areaRight) * 4, uOrigin, vOrigin,
      kOneToOne, Mul(LaneIndex(), Set1(kFixed18One)), zero, Set1(8 * kFixed18One), zero);
  return true;
}

template <class F, int Mode, bool B, bool W, bool T>
GAMELIB_AVX2 void DrawTexturedAvx2(const TriangleSetup& setup, const KernelContext& k) {
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  constexpr bool plainCopy = kPlainCopy<F, Mode, B, W>;
  const TriGradients g = setup.gradients;
  const SpanConstants c = MakeSpanConstants(k);
  const std::uint32_t texWidth = k.texWidth;
  const std::uint32_t texHeight = k.texHeight;
  std::uint8_t* const pixels = k.destPixels;
  const std::ptrdiff_t pitch = k.destPitch;
  const std::ptrdiff_t areaRight = static_cast<std::ptrdiff_t>(k.areaRight) * destBytes;
  const auto du = static_cast<std::uint32_t>(g.dudx);
  const auto dv = static_cast<std::uint32_t>(g.dvdx);
  const V laneDu = Mul(LaneIndex(), Set1(du));
  const V laneDv = Mul(LaneIndex(), Set1(dv));
  const V du8 = Set1(du * 8);
  const V dv8 = Set1(dv * 8);
  // Along a row the texels stay on one source row and move by at most one texel per
  // pixel (unrotated sprites, magnified quads): eight of them come from one load.
  const bool rows = g.dvdx == 0 && g.dudx >= 0 && g.dudx <= kFixed18One && c.texColumns >= 8;
  // Turned and not shrunk much: along eight pixels the texels move by seven columns and
  // two rows at most, so they come from a window of three rows (see TexelWindow). Eight
  // loads of 32-bit texels come out faster, with no widening to do.
  constexpr bool windowTexels = F::bytes < 4;
  const bool windowed = windowTexels && !rows && c.texColumns >= 8 &&
                        std::abs(static_cast<std::int64_t>(g.dudx)) <= kFixed18One &&
                        7 * std::abs(static_cast<std::int64_t>(g.dvdx)) <= 2 * std::int64_t{kFixed18One};
  if constexpr (kStraight16<F, B>) {
    if (rows && g.dudx == kFixed18One && setup.maxX - setup.minX > 8 && DrawStraight<Mode, W, T>(setup, k, c))
      return;
  }
  RowWalker walker(setup, k);
  int y = 0;
  int x = 0;
  int n = 0;
  if (setup.maxX - setup.minX < kSmallTriangleWidth) {
    TriangleRows narrow{walker};
    // Coordinates in wrapping arithmetic, as CoordAt gives them from the origin pixel.
    const std::uint32_t uOrigin = CoordAt(g.u0, g.dudx, g.dudy, -g.x0, -g.y0);
    const std::uint32_t vOrigin = CoordAt(g.v0, g.dvdx, g.dvdy, -g.x0, -g.y0);
    if (rows && setup.maxX - setup.minX <= 8) {
      // Spans of nine pixels at most (sprites of eight): mostly one chunk each.
      WalkNarrow<F, Mode, B, W, T, true, true>(narrow, c, pixels, pitch, areaRight, uOrigin, vOrigin, g,
                                               laneDu, laneDv, du8, dv8);
    } else if (rows) {
      WalkNarrow<F, Mode, B, W, T, true, false>(narrow, c, pixels, pitch, areaRight, uOrigin, vOrigin, g,
                                                laneDu, laneDv, du8, dv8);
    } else {
      WalkNarrow<F, Mode, B, W, T, false, false>(narrow, c, pixels, pitch, areaRight, uOrigin, vOrigin, g,
                                                 laneDu, laneDv, du8, dv8);
    }
    return;
  }

  while (walker.Next(y, x, n)) {
    std::uint32_t u = CoordAt(g.u0, g.dudx, g.dudy, x - g.x0, y - g.y0);
    std::uint32_t v = CoordAt(g.v0, g.dvdx, g.dvdy, x - g.x0, y - g.y0);
    std::uint8_t* const row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
    std::uint8_t* dp = row + static_cast<std::ptrdiff_t>(x) * destBytes;
    const std::uint8_t* areaEnd = row + areaRight;
    int lo = 0;
    int hi = n;
    if (!(SpanInside(u, g.dudx, texWidth, n) && SpanInside(v, g.dvdx, texHeight, n))) {
      // Most such spans just overhang the source by a pixel at an end (the right and
      // bottom edges of a sprite): drop up to two pixels outside at each end, and see
      // whether the rest is inside.
      const auto outside = [&](int i) {
        return !(u + static_cast<std::uint32_t>(i) * du < texWidth &&
                 v + static_cast<std::uint32_t>(i) * dv < texHeight);
      };
      int first = 0;
      int end = n;
      for (int k = 0; k < 2 && end > first && outside(end - 1); ++k) --end;
      for (int k = 0; k < 2 && end > first && outside(first); ++k) ++first;
      if (end == first) continue;  // every pixel was tested outside
      const std::uint32_t firstU = u + static_cast<std::uint32_t>(first) * du;
      const std::uint32_t firstV = v + static_cast<std::uint32_t>(first) * dv;
      if (SpanInside(firstU, g.dudx, texWidth, end - first) &&
          SpanInside(firstV, g.dvdx, texHeight, end - first)) {
        lo = first;
        hi = end;
      } else if (n < kRunSearchMinimum || !NarrowToBounds(u, g.dudx, texWidth, n, lo, hi) ||
                 !NarrowToBounds(v, g.dvdx, texHeight, n, lo, hi)) {
        // Pixel by pixel: lanes outside the source are left as they are.
        TexturedRun<F, Mode, B, W, T, true, false, plainCopy>(c, dp, areaEnd, u, v, du, dv, laneDu, laneDv,
                                                              du8, dv8, n);
        continue;
      }
    }
    u += static_cast<std::uint32_t>(lo) * du;
    v += static_cast<std::uint32_t>(lo) * dv;
    dp += static_cast<std::ptrdiff_t>(lo) * destBytes;
    if (rows) {
      TexturedRun<F, Mode, B, W, T, false, true, plainCopy>(c, dp, areaEnd, u, v, du, dv, laneDu, laneDv, du8,
                                                            dv8, hi - lo);
    } else if (windowed) {
      if constexpr (windowTexels)
        TexturedRun<F, Mode, B, W, T, false, false, plainCopy, false, true>(
            c, dp, areaEnd, u, v, du, dv, laneDu, laneDv, du8, dv8, hi - lo);
    } else {
      TexturedRun<F, Mode, B, W, T, false, false, plainCopy>(c, dp, areaEnd, u, v, du, dv, laneDu, laneDv,
                                                             du8, dv8, hi - lo);
    }
  }
}

template <int Kind, int Mode>
GAMELIB_AVX2 __attribute__((noinline)) void FlatSpanAvx2(std::uint8_t* dp, int n, std::uint32_t colour,
                                                         std::uint32_t addend, PixelTables pt) {
  constexpr int destBytes = Kind == kMemImgKind16 ? 2 : 4;
  const VTables t = MakeVTables(pt);
  const V c = Set1(colour);
  const V s = Set1(addend);
  for (; n >= 8; n -= 8, dp += 8 * destBytes) {
    const V d = LoadDest<Kind>(dp);
    V out;
    if constexpr (Mode == BlendAdd) {
      out = Kind == kMemImgKind16 ? PackedAdd16V(d, s) : PackedAdd32V(d, s);
    } else if constexpr (Mode == BlendSub) {
      out = Kind == kMemImgKind16 ? PackedSub16V(d, s) : PackedSub32V(d, s);
    } else {
      out = CombineV<Kind, Mode, false, true, false>(d, c, c, c, t);
    }
    StoreDest<Kind, Mode == BlendAdd || Mode == BlendSub>(dp, out);
  }
  for (; n > 0; --n, dp += destBytes) {
    if constexpr (Kind == kMemImgKind16) {
      const std::uint32_t d = Load16(dp);
      Store16(dp, Mode == BlendAdd   ? PackedAdd16(d, addend)
                  : Mode == BlendSub ? PackedSub16(d, addend)
                                     : Combine16<Mode, false, true, false>(d, colour, 0, 0, pt));
    } else {
      const std::uint32_t d = Load32(dp);
      Store32(dp, Mode == BlendAdd   ? PackedAdd32(d, addend)
                  : Mode == BlendSub ? PackedSub32(d, addend)
                                     : Combine32<Mode, false, true, false>(d, colour, 0, 0, pt));
    }
  }
}

template <int Kind, int Mode>
void DrawFlatAvx2(const TriangleSetup& setup, const KernelContext& k) {
  constexpr int destBytes = Kind == kMemImgKind16 ? 2 : 4;
  const PixelTables t = MakePixelTables(k);
  const std::uint32_t c = k.colour;
  const std::uint32_t addend = FlatAddend<Kind, Mode>(t, c);
  std::uint8_t* const pixels = k.destPixels;
  const std::ptrdiff_t pitch = k.destPitch;
  WalkRows(setup, k, [&](int y, int x, int n) {
    std::uint8_t* dp =
        pixels + static_cast<std::ptrdiff_t>(y) * pitch + static_cast<std::ptrdiff_t>(x) * destBytes;
    FlatSpanAvx2<Kind, Mode>(dp, n, c, addend, t);
  });
}

struct Avx2Kernels {
  template <KernelKey K>
  static constexpr KernelFn Make() {
    if constexpr (K.source == KernelSource::Flat) {
      return &DrawFlatAvx2<K.kind, K.mode>;
    } else {
      return &DrawTexturedAvx2<FetchOf<K>, K.mode, K.blend, K.white, K.trans>;
    }
  }
};

// Rectangle kernels by key (see GetAvx2StraightRectangleKernel): straight chunks for the
// straight 16-bit keys, whole rows for 32-bit direct-colour ones without a blend image.
struct Avx2RectangleKernels {
  template <KernelKey K>
  static constexpr StraightRectangleFn Make() {
    using F = FetchOf<K>;
    if constexpr (K.source == KernelSource::Flat) {
      return nullptr;
    } else if constexpr (kStraight16<F, K.blend>) {
      return &DrawStraightRectangleAvx2<K.mode, K.white, K.trans>;
    } else if constexpr (K.kind == kMemImgKind32 && K.source == KernelSource::Direct && !K.blend) {
      return &DrawRectangleRowsAvx2<F, K.mode, false, K.white, K.trans>;
    } else {
      return nullptr;
    }
  }
};

// The set in slices compiled apart: slice p holds entries [p * kPartSize, (p + 1) * kPartSize).
constexpr int kParts = 5;
constexpr int kPartSize = kKernelCount / kParts;
static_assert(kParts * kPartSize == kKernelCount);
template <int Part>
const KernelFn* KernelPart();
template <>
const KernelFn* KernelPart<0>();
template <>
const KernelFn* KernelPart<1>();
template <>
const KernelFn* KernelPart<2>();
template <>
const KernelFn* KernelPart<3>();
template <>
const KernelFn* KernelPart<4>();

}  // namespace gamelib::raster::avx2

#endif
