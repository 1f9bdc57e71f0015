#include "softrender/triangle.h"

namespace gamelib {

int SetUpTriangle(TriangleSetup* setup, const TriVertex* vertices) { return -1; }

void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, int trans,
                        const MEMIMG* blend, std::uint32_t colour) {}

int SetTriangleKernelSet(TriangleKernelSet set) { return set == TriangleKernelSet::Portable ? 0 : -1; }
TriangleKernelSet GetTriangleKernelSet() { return TriangleKernelSet::Portable; }
TriangleKernelSet GetBestTriangleKernelSet() { return TriangleKernelSet::Portable; }

}  // namespace gamelib
