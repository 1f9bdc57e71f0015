// The AVX2 kernels for straight rectangles onto 16-bit images, by mode, W and T.
#include <array>

#include "softrender/triangle_kernels_avx2.h"

namespace gamelib::raster {

#if defined(__x86_64__)

namespace {

template <int Mode>
constexpr std::array<StraightRectangleFn, 4> RectangleKernels() {
  return {&avx2::DrawStraightRectangleAvx2<Mode, false, false>,
          &avx2::DrawStraightRectangleAvx2<Mode, false, true>,
          &avx2::DrawStraightRectangleAvx2<Mode, true, false>,
          &avx2::DrawStraightRectangleAvx2<Mode, true, true>};
}

template <std::size_t... M>
constexpr auto RectangleTable(std::index_sequence<M...>) {
  return std::array{RectangleKernels<kKernelModes[M]>()...};
}

}  // namespace

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey& key) {
  // The texels of straight chunks: 16-bit direct colour, without alpha or blend image.
  if (key.kind != kMemImgKind16 || key.source != KernelSource::Direct || key.alpha || key.blend)
    return nullptr;
  static constexpr auto table = RectangleTable(std::make_index_sequence<kKernelModeCount>{});
  return table[KernelModeIndex(key.mode)][(key.white ? 2 : 0) + (key.trans ? 1 : 0)];
}

#else

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey&) { return nullptr; }

#endif

}  // namespace gamelib::raster
