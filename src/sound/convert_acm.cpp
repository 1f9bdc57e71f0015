// The compression-manager kind (compressed WAVE and MP3). Until its decoders are
// wired in, both trials refuse every stream, so set-up goes on to the next trial
// exactly as it does for a format the compression manager cannot convert.
#include "sound/sound_convert.h"

namespace gamelib {

int SetupWaveAcmConvert(SoundConvertRecord*) { return -1; }
int SetupMp3AcmConvert(SoundConvertRecord*) { return -1; }
int ConvertAcmBlock(SoundConvertRecord*) { return -1; }
int SetAcmConvertPosition(SoundConvertRecord*, int) { return 0; }
int TerminateAcmConvert(SoundConvertRecord*) { return 0; }
int GetAcmConvertDestSize(SoundConvertRecord*) { return 0; }

}  // namespace gamelib
