#include "softrender/triangle_kernels.h"

namespace gamelib::raster {

const KernelTables* GetAvx2KernelTables() { return nullptr; }

}  // namespace gamelib::raster
