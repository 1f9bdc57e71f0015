// The portable kernel set: every kernel from the scalar templates.
#include "softrender/triangle_kernels.h"

namespace gamelib::raster {

namespace {

struct PortableKernels {
  template <KernelKey K>
  static constexpr KernelFn Make() {
    if constexpr (K.source == KernelSource::Flat) {
      return &DrawFlatPortable<K.kind, K.mode>;
    } else {
      return &DrawTexturedPortable<FetchOf<K>, K.mode, K.blend, K.white, K.trans>;
    }
  }
};

constexpr KernelTable portableTable = MakeKernelTable<PortableKernels>();

}  // namespace

const KernelTable& GetPortableKernelTable() { return portableTable; }

}  // namespace gamelib::raster
