// The device's rasteriser: draws pre-transformed triangles into a render target's
// memory with the states the device holds, synchronously. Its conventions (integer
// pixel centres, the top-left rule on 24.8 snapped edge functions, flat shading from
// the first vertex, sampling, the stage cascade, alpha test, 16-bit Z, blending) are
// written at the top of d3d_raster.cpp; it is the ground truth of every pixel test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pixel_format.h"
#include "platform/d3d.h"

namespace platform::raster {

// A surface as the rasteriser sees it: pixels or 16-bit Z values in memory.
struct Surface {
  std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;  // bytes per row
  pixel::Layout layout = pixel::Layout::Unsupported;
  bool hasColorKey = false;
  DWORD colorKey = 0;  // dwColorSpaceLowValue, compared with the raw texel
};

// Everything a draw reads. Render states are indexed by their D3DRENDERSTATE_ value,
// stage states by stage and D3DTSS_ value. ADDRESS is already folded into ADDRESSU
// and ADDRESSV by the device.
struct State {
  const DWORD* renderState = nullptr;                        // kD3DRenderStateCount entries
  const DWORD (*stageState)[kD3DStageStateCount] = nullptr;  // kD3DMaxStages rows
  const Surface* texture[kD3DMaxStages] = {};                // null: unbound
  Surface target;
  const Surface* z = nullptr;  // the Z surface attached to the target, or null
  D3DVIEWPORT7 viewport{};
};

// What a draw noticed that the caller records as violations.
struct DrawReport {
  int trianglesDrawn = 0;
  int trianglesSkipped = 0;  // non-finite or huge coordinates
  int badIndices = 0;        // indices at or past vertexCount
};

// Draws a list or strip (indices null) or an indexed one. D3DERR_INVALIDPRIMITIVETYPE
// or D3DERR_INVALIDVERTEXFORMAT for anything but the two types and three formats;
// otherwise D3D_OK, having drawn what could be drawn.
HRESULT DrawTriangles(const State& state, D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices,
                      DWORD vertexCount, const WORD* indices, DWORD indexCount, DrawReport* report);

// The stage operations the rasteriser carries out (D3DTOP_DISABLE among them).
bool IsStageOperation(DWORD op);

// Bytes per vertex of a format the device draws, 0 for any other.
int VertexStride(DWORD fvf);

}  // namespace platform::raster
