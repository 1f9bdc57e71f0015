#include "sound/sound_state.h"

namespace gamelib {

namespace {
// The Ogg output width is 2 from the start, not only after a successful start-up, so
// a converter never sees a block size of 0.
SoundSystemState g_sound = {
    nullptr, nullptr, nullptr, kMusicModeMci, nullptr, nullptr, 0, kSoundCreateMemory, 2, {}, 0, 0, 0, {}, 0,
    0,       0,       0,       nullptr,       0};
}  // namespace

SoundSystemState& GetSoundSystemState() { return g_sound; }

}  // namespace gamelib
