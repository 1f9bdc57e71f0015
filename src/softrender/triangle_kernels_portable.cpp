// The portable kernel set: every kernel from the scalar templates.
#include <type_traits>
#include <utility>

#include "softrender/triangle_kernels.h"

namespace gamelib::raster {

namespace {

template <int Kind, bool Alpha>
using DirectFetch =
    std::conditional_t<Kind == MemImgKind16, std::conditional_t<Alpha, FetchDirect16A, FetchDirect16>,
                       std::conditional_t<Alpha, FetchDirect32A, FetchDirect32>>;
template <int Kind>
using PaletteFetch = std::conditional_t<Kind == MemImgKind16, FetchPalette16, FetchPalette32>;

template <int Kind, std::size_t... I>
constexpr void FillFlat(KernelFn (&out)[ModeCount], std::index_sequence<I...>) {
  ((out[I] = &DrawFlatPortable<Kind, ModeOfIndex(I)>), ...);
}

template <int Kind, std::size_t... I>
constexpr void FillDirect(KernelFn (&out)[ModeCount * 16], std::index_sequence<I...>) {
  ((out[I] = &DrawTexturedPortable<DirectFetch<Kind, ((I >> 1) & 1) != 0>, ModeOfIndex(I >> 4),
                                   ((I >> 3) & 1) != 0, ((I >> 2) & 1) != 0, (I & 1) != 0>),
   ...);
}

template <int Kind, std::size_t... I>
constexpr void FillPalette(KernelFn (&out)[ModeCount * 8], std::index_sequence<I...>) {
  ((out[I] = &DrawTexturedPortable<PaletteFetch<Kind>, ModeOfIndex(I >> 3), ((I >> 2) & 1) != 0,
                                   ((I >> 1) & 1) != 0, (I & 1) != 0>),
   ...);
}

constexpr KernelTables MakePortableTables() {
  KernelTables t{};
  FillFlat<MemImgKind16>(t.flat[0], std::make_index_sequence<ModeCount>{});
  FillFlat<MemImgKind32>(t.flat[1], std::make_index_sequence<ModeCount>{});
  FillDirect<MemImgKind16>(t.direct[0], std::make_index_sequence<ModeCount * 16>{});
  FillDirect<MemImgKind32>(t.direct[1], std::make_index_sequence<ModeCount * 16>{});
  FillPalette<MemImgKind16>(t.palette[0], std::make_index_sequence<ModeCount * 8>{});
  FillPalette<MemImgKind32>(t.palette[1], std::make_index_sequence<ModeCount * 8>{});
  return t;
}

constexpr KernelTables portableTables = MakePortableTables();

}  // namespace

const KernelTables& GetPortableKernelTables() { return portableTables; }

}  // namespace gamelib::raster
