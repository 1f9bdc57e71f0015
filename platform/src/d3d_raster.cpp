// The device's rasteriser (placeholder until the real one lands: draws nothing).
#include "d3d_raster.h"

namespace platform::raster {

int VertexStride(DWORD fvf) {
  switch (fvf) {
    case 0x44: return 20;
    case 0x144: return 28;
    case 0x2C4: return 40;
    default: return 0;
  }
}

HRESULT DrawTriangles(const State&, D3DPRIMITIVETYPE type, DWORD fvf, const void*, DWORD, const WORD*, DWORD,
                      DrawReport*) {
  if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP) return D3DERR_INVALIDPRIMITIVETYPE;
  if (VertexStride(fvf) == 0) return D3DERR_INVALIDVERTEXFORMAT;
  return D3D_OK;
}

}  // namespace platform::raster
