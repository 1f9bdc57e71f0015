// Stream sounds: up to three files converted a piece at a time into a six-second ring
// that every pass of the message pump refills; loop counts, loop points, the play
// position across files and loops, and rings shared by several stream sounds.
// AddStreamSoundFile, AddStreamSoundMemory and PrepareStreamSound are public entries
// (gamelib/sound_load.h).
#pragma once

#include <cstdint>

#include "gamelib/sound_load.h"
#include "sound/sound_files.h"
#include "sound/sound_records.h"

namespace gamelib {

// Data kinds of a stream sound's file (the create type for file loads).
constexpr int kStreamDataWholePcm = 0;    // converted whole, kept as a WAVE image
constexpr int kStreamDataUnsettled = 1;   // kept like kind 0
constexpr int kStreamDataFileImage = 2;   // the file image kept, decoded as the ring needs it
constexpr int kStreamDataFromStream = 3;  // read from the caller's stream while playing

constexpr int kStreamUnfilledWriteCursor = -800;
constexpr std::uint8_t kStreamLoopEndless = 255;

// All return 0 or -1 unless said otherwise; an invalid handle gives -1.

// Adds one file read from `stream` to the stream sound `handle`. `callerMayClose` is set
// to 1 when the data was copied (the caller may close its stream), 0 when the sound now
// reads (and owns) the stream. `link` names a stream sound whose ring to share, or -1.
int AddSreamSound(const StreamAccessRecord* stream, std::uint8_t loopCount, int handle, int dataKind,
                  int* callerMayClose, int link);

// The ring the sound plays on (its own, or the one it shares) in `ring`; 0 when the
// sound may use it now, -1 when another sound owns it and `take` is 0 (with `take` 1
// that sound is stopped and loses the ring).
int ClaimStreamSoundBuffer(int handle, SoundHandleRecord* record, SoundBufferWrapper** ring,
                           std::uint8_t take);
// 1 while the sound's ring plays for it, else 0.
int CheckStreamSoundPlaying(int handle);
int StopStreamSound(int handle);
// Play types as PlaySoundHandle's; fromTop 1 starts from the first file. Play type 0
// returns when the sound has ended.
int PlayStreamSound(int handle, int playType, int fromTop);
// Deletes the stream sound, unless others still play on its ring: it then goes with
// the last of them. 0.
int DeleteStreamSound(int handle, SoundHandleRecord* record);
// The one file of the sound loops endlessly to `sample` (which the caller has checked).
// -1 for a sound of several files (logged) or of none.
int SetStreamSoundLoopPoint(SoundHandleRecord* record, int sample);

// One refill of the ring; -1 when the play cursor lies outside the written zone (or the
// ring cannot be read or locked), and nothing is written then.
int RefillStreamSound(int handle);
// Refills every stream sound; called by the message pump on each pass.
int ProcessAllStreamSounds();

// Converts up to `bytes` into the locked range; returns the bytes written.
int WriteConvertedToBuffer(StreamFillCursor* cursor, SoundConvertRecord* converter, int bytes);
// The current file has no more data: loop, go on to the next file, wrap to the first
// (play type 3), or end the data (-1).
int AdvanceStreamSoundFile(SoundHandleRecord* record, StreamFillCursor* cursor, int playCursor);

// Brings the play position up to date with the ring's play cursor (-1: read it).
int UpdateStreamSoundPosition(int handle, int playCursor);
// The play position in bytes of PCM.
int GetStreamSoundPosition(int handle);
// Where the next start plays from; -1 past the end.
int SetStreamSoundPositionBytes(int position, int handle);
int SetStreamSoundPositionMs(int milliseconds, int handle);

}  // namespace gamelib
