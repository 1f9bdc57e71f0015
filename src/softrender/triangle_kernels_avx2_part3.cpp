// Slice 3 of the AVX2 kernel table (one translation unit each, compiled side by side).
#include "softrender/triangle_kernels_avx2.h"

#if defined(__x86_64__)
namespace gamelib::raster::avx2 {

template <>
const KernelFn* KernelPart<3>() {
  static constexpr auto part = MakeKernelRange<Avx2Kernels, 3 * kPartSize, kPartSize>();
  return part.data();
}

}  // namespace gamelib::raster::avx2
#endif
