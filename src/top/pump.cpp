// The subsystems' work of each pump pass: the only place the library calls into the
// sound layer and input every frame.
#include "core/pump.h"
#include "sound/music.h"
#include "sound/stream_sound.h"
#include "top/top.h"

namespace gamelib {

void RefillStreams() {
  ReportPumpWork("stream");
  ProcessAllStreamSounds();
}

void RunFrameWork() {
  RefillStreams();
  ReportPumpWork("music");
  UpdateMusicPlayState();
  // Input work (joypad vibration, text entry) comes with the input subsystem.
  ReportPumpWork("input");
}

}  // namespace gamelib
