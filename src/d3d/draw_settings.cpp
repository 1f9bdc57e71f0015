// Draw settings to device state: for now only what textured and untextured drawing need
// at the least (vertex type, the texture of stage 0 and a one-stage programme); the
// blend-mode tables build on these setters.
#include "d3d/draw_settings.h"

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"

namespace gamelib {

int ApplyDrawSettings(int device) {
  D3DDeviceRecord* r = Direct3DAvailable() ? GetDeviceRecord(device) : nullptr;
  if (r == nullptr) return -1;
  const int type = r->texture == nullptr ? 0 : r->blendGraph != nullptr ? 2 : 1;
  if (r->vertexType != type || r->forceApply) SelectVertexType(*r, type);
  r->drawNothing = type == 2 && r->borderParameter == 255 ? 1 : 0;
  const int argument = r->texture != nullptr ? D3DTA_TEXTURE : D3DTA_DIFFUSE;
  const int operation = r->texture != nullptr ? D3DTOP_SELECTARG1 : D3DTOP_SELECTARG2;
  SetDeviceStageTexture(device, 0, r->texture);
  SetDeviceStageState(device, 0, D3DTSS_ALPHAOP, operation);
  SetDeviceStageState(device, 0, operation == D3DTOP_SELECTARG1 ? D3DTSS_ALPHAARG1 : D3DTSS_ALPHAARG2,
                      argument);
  SetDeviceStageState(device, 0, D3DTSS_COLOROP, operation);
  SetDeviceStageState(device, 0, operation == D3DTOP_SELECTARG1 ? D3DTSS_COLORARG1 : D3DTSS_COLORARG2,
                      argument);
  SetDeviceStageTexture(device, 1, nullptr);
  SetDeviceStageState(device, 1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
  SetDeviceStageState(device, 1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  r->stageCount = 1;
  r->drawSettingsDirty = 0;
  r->textureChanged = 0;
  return 0;
}

}  // namespace gamelib
