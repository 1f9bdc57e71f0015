// The AVX2 kernel set, put together from its parts.
#include "softrender/triangle_kernels_avx2.h"

#include <algorithm>

namespace gamelib::raster {

#if defined(__x86_64__)

namespace avx2 {

template <std::uint32_t M>
alignas(32) const std::uint32_t LaneConstant<M>::lanes[8] = {M, M, M, M, M, M, M, M};

#define GAMELIB_DEFINE_LANE_CONSTANT(m) template struct LaneConstant<m>;
GAMELIB_LANE_CONSTANTS(GAMELIB_DEFINE_LANE_CONSTANT)
#undef GAMELIB_DEFINE_LANE_CONSTANT

}  // namespace avx2

namespace {

template <int... Part>
KernelTable JoinParts(std::integer_sequence<int, Part...>) {
  KernelTable table{};
  ((std::copy_n(avx2::KernelPart<Part>(), avx2::kPartSize, table.begin() + Part * avx2::kPartSize)), ...);
  return table;
}

}  // namespace

const KernelTable* GetAvx2KernelTable() {
  static const KernelTable table = JoinParts(std::make_integer_sequence<int, avx2::kParts>{});
  return &table;
}

#else

const KernelTable* GetAvx2KernelTable() { return nullptr; }

#endif

}  // namespace gamelib::raster
