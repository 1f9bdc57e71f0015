// The AVX2 kernels for upright rectangles drawn one texel per pixel: straight chunks on
// 16-bit images (by mode, W and T), whole rows of chunks on 32-bit ones (by mode, A, W and
// T); direct-colour texels without a blend image.
#include <array>

#include "softrender/triangle_kernels_avx2.h"

namespace gamelib::raster {

#if defined(__x86_64__)

namespace {

template <int Mode, bool A, bool W, bool T>
constexpr StraightRectangleFn Rows32() {
  return &avx2::DrawRectangleRowsAvx2<Fetch<kMemImgKind32, 4, A, false>, Mode, false, W, T>;
}

// By mode, then alpha, white and trans as bits 2, 1 and 0.
template <int Mode>
constexpr std::array<StraightRectangleFn, 12> RectangleKernels() {
  return {&avx2::DrawStraightRectangleAvx2<Mode, false, false>,
          &avx2::DrawStraightRectangleAvx2<Mode, false, true>,
          &avx2::DrawStraightRectangleAvx2<Mode, true, false>,
          &avx2::DrawStraightRectangleAvx2<Mode, true, true>,
          Rows32<Mode, false, false, false>(),
          Rows32<Mode, false, false, true>(),
          Rows32<Mode, false, true, false>(),
          Rows32<Mode, false, true, true>(),
          Rows32<Mode, true, false, false>(),
          Rows32<Mode, true, false, true>(),
          Rows32<Mode, true, true, false>(),
          Rows32<Mode, true, true, true>()};
}

template <std::size_t... M>
constexpr auto RectangleTable(std::index_sequence<M...>) {
  return std::array{RectangleKernels<kKernelModes[M]>()...};
}

}  // namespace

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey& key) {
  if (key.source != KernelSource::Direct || key.blend) return nullptr;
  // 16-bit texels only on 16-bit images: the straight chunks' texels.
  if (key.kind == kMemImgKind16 && key.alpha) return nullptr;
  static constexpr auto table = RectangleTable(std::make_index_sequence<kKernelModeCount>{});
  const int switches = (key.white ? 2 : 0) + (key.trans ? 1 : 0);
  const int column = key.kind == kMemImgKind16 ? switches : 4 + (key.alpha ? 4 : 0) + switches;
  return table[KernelModeIndex(key.mode)][column];
}

#else

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey&) { return nullptr; }

#endif

}  // namespace gamelib::raster
