// The state that selects a pixel kernel of the triangle rasteriser, the kernel's place
// in a kernel table, its printable name, and the template that fills a table with one
// instantiation per key. Every kernel set is built from it, and so is everything that
// asks which kernel a call ran.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"

namespace gamelib::raster {

enum class KernelSource { Flat, Direct, Palette };

// Usable as a template argument: kernels are instantiated per key.
struct KernelKey {
  int kind;             // destination: kMemImgKind16 or kMemImgKind32
  KernelSource source;  // flat colour, direct-colour or palette texels
  int mode;             // blend mode whose kernels run (see KernelMode)
  bool blend;           // blend image (textured only)
  bool white;           // brightness white (textured only)
  bool alpha;           // source alpha (direct colour only)
  bool trans;           // colour key or alpha tests (textured only)
};

// The blend modes that have kernels, in table order.
constexpr int kKernelModes[] = {BlendNone, BlendAlpha,    BlendAdd,    BlendSub,
                                BlendMul,  BlendInverted, BlendMulFade};
constexpr int kKernelModeCount = 7;

// Flat kernels by kind and mode; direct-colour ones by kind, mode and the switches B,
// W, A, T; palette ones by kind, mode and B, W, T.
constexpr int kFlatKernelCount = 2 * kKernelModeCount;
constexpr int kDirectKernelCount = 2 * kKernelModeCount * 16;
constexpr int kPaletteKernelCount = 2 * kKernelModeCount * 8;
constexpr int kKernelCount = kFlatKernelCount + kDirectKernelCount + kPaletteKernelCount;

// The mode whose kernels draw a call in this blend mode and parameter (0..255), or -1
// when it draws nothing. An opaque alpha blend is a copy; a palette source subtracts
// even at parameter 0.
constexpr int KernelMode(int mode, int parameter, bool paletteSource) {
  switch (mode) {
    case BlendNone:
    case BlendMul:
    case BlendInverted:
    case BlendMulFade:
      return mode;
    case BlendAlpha:
      if (parameter == 255) return BlendNone;
      return parameter == 0 ? -1 : mode;
    case BlendAdd:
      return parameter == 0 ? -1 : mode;
    case BlendSub:
      return parameter == 0 && !paletteSource ? -1 : mode;
    default:
      return -1;  // 5 to 9, above 11, and negative modes
  }
}

constexpr int KernelModeIndex(int mode) {
  return mode == BlendInverted ? 5 : mode == BlendMulFade ? 6 : mode;
}

// Switches a kernel of that source does not have are ignored.
constexpr int KernelIndex(const KernelKey& k) {
  const int m = KernelModeIndex(k.mode);
  const int b = k.blend ? 1 : 0;
  const int w = k.white ? 1 : 0;
  const int a = k.alpha ? 1 : 0;
  const int t = k.trans ? 1 : 0;
  switch (k.source) {
    case KernelSource::Flat:
      return k.kind * kKernelModeCount + m;
    case KernelSource::Direct:
      return kFlatKernelCount + (k.kind * kKernelModeCount + m) * 16 + b * 8 + w * 4 + a * 2 + t;
    default:
      return kFlatKernelCount + kDirectKernelCount + (k.kind * kKernelModeCount + m) * 8 + b * 4 + w * 2 + t;
  }
}

// The key of table entry i, with the switches its source lacks false.
constexpr KernelKey KernelKeyAt(int i) {
  KernelKey k{kMemImgKind16, KernelSource::Flat, BlendNone, false, false, false, false};
  int variants = 1;  // switch combinations per mode
  if (i >= kFlatKernelCount + kDirectKernelCount) {
    k.source = KernelSource::Palette;
    i -= kFlatKernelCount + kDirectKernelCount;
    variants = 8;
  } else if (i >= kFlatKernelCount) {
    k.source = KernelSource::Direct;
    i -= kFlatKernelCount;
    variants = 16;
  }
  const int group = i / variants;
  int bits = i % variants;
  if (k.source == KernelSource::Palette) bits = (bits & 6) << 1 | (bits & 1);  // no A
  k.kind = group / kKernelModeCount;
  k.mode = kKernelModes[group % kKernelModeCount];
  k.blend = (bits & 8) != 0;
  k.white = (bits & 4) != 0;
  k.alpha = (bits & 2) != 0;
  k.trans = (bits & 1) != 0;
  return k;
}

// Every key is its own entry's.
constexpr bool KeysRoundTrip() {
  for (int i = 0; i < kKernelCount; ++i) {
    if (KernelIndex(KernelKeyAt(i)) != i) return false;
  }
  return true;
}
static_assert(kKernelCount == 350 && KeysRoundTrip());

// For example "32-bit direct mode 2 B W T": the switches the key has set.
inline std::string KernelName(const KernelKey& k) {
  static const char* const sources[] = {"flat", "direct", "palette"};
  return std::string(k.kind == kMemImgKind16 ? "16-bit " : "32-bit ") + sources[static_cast<int>(k.source)] +
         " mode " + std::to_string(k.mode) + (k.blend ? " B" : "") + (k.white ? " W" : "") +
         (k.alpha ? " A" : "") + (k.trans ? " T" : "");
}

// A table of kKernelCount entries, entry i being Maker::Make<KernelKeyAt(i)>().
template <class Maker, std::size_t... I>
constexpr auto MakeKernelTable(std::index_sequence<I...>) {
  return std::array{Maker::template Make<KernelKeyAt(static_cast<int>(I))>()...};
}
template <class Maker>
constexpr auto MakeKernelTable() {
  return MakeKernelTable<Maker>(std::make_index_sequence<kKernelCount>{});
}

// Entries first..first+count-1 of such a table, for sets built in several parts.
template <class Maker, int First, std::size_t... I>
constexpr auto MakeKernelRange(std::index_sequence<I...>) {
  return std::array{Maker::template Make<KernelKeyAt(First + static_cast<int>(I))>()...};
}
template <class Maker, int First, int Count>
constexpr auto MakeKernelRange() {
  return MakeKernelRange<Maker, First>(std::make_index_sequence<Count>{});
}

}  // namespace gamelib::raster
