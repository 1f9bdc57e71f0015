// The AVX2 kernels for upright rectangles drawn one texel per pixel, in a table by kernel
// key like the triangle kernels'.
#include "softrender/triangle_kernels_avx2.h"

namespace gamelib::raster {

#if defined(__x86_64__)

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey& key) {
  static constexpr auto table = MakeKernelTable<avx2::Avx2RectangleKernels>();
  return table[KernelIndex(key)];
}

#else

StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey&) { return nullptr; }

#endif

}  // namespace gamelib::raster
