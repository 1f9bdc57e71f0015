// Turning a device record's draw settings (blend mode, texture, blend graph, alpha
// flags, vertex-colour switches) into render states, the stage programme, the bound
// textures and the vertex type of the coming primitives.
#pragma once

namespace gamelib {

// Works the settings out and sends what differs from the copies (everything while
// ForceApply is set); clears DrawSettingsDirty and TextureChanged. 0, or -1 for a
// record not in use.
int ApplyDrawSettings(int device);

}  // namespace gamelib
