// Sound: sound handles, their volume and play position.
#pragma once

namespace gamelib {

// A sound handle names one loaded sound; every operation returns -1 for a handle that
// is not (or no longer) valid, and while the sound system is not started.

// Deletes the sound and frees its buffers and data. The second argument is not read.
int DeleteSoundHandle(int handle, int unused = 0);
// 1 while one of its buffers plays, else 0.
int CheckSoundHandlePlaying(int handle);
// Length in samples (frames of PCM).
int GetSoundTotalSampleCount(int handle);
// What later loads make: 0 memory sounds, 1 to 3 stream sounds. 0, or -1 outside 0..3.
int SetCreateSoundDataType(int type);

// Kinds of sound (GetSoundKind).
constexpr int kSoundKindMemory = 0;  // the whole PCM in sound buffers (also a handle with nothing in it yet)
constexpr int kSoundKindStream = 1;  // converted a piece at a time into a ring as it plays

// kSoundKindMemory or kSoundKindStream.
int GetSoundKind(int handle);
// The PCM format the sound plays in: channels, bits per sample and samples per second
// (all 0 for a handle with nothing in it yet). A null pointer is skipped. 0 or -1.
int GetSoundFormat(int handle, int* channels, int* bitsPerSample, int* samplesPerSec);

// Volume 0 (silent) to 255 (full), on every buffer of the sound.
int SetSoundHandleVolume(int volume, int handle);
// Where the next play starts, in bytes of PCM or in milliseconds. -1 when every
// buffer of the sound is playing, or the position lies past its end.
int SetSoundPlayPosition(int byteOffset, int handle);
int SetSoundPlayPositionMs(int milliseconds, int handle);
// The play position in bytes of PCM.
int GetSoundPlayPosition(int handle);

// After its end the sound goes on from this sample, endlessly (a memory sound becomes
// a stream sound under the same handle). -1 for a point not inside the sound, or a
// sound made of several files.
int SetSoundLoopPoint(int position, int handle);

// ---- Music handles -----------------------------------------------------------------
// MIDI music, played through the one MIDI device. Every operation returns -1 for a
// handle that is not a valid music handle, and while the sound system is not started.

// 1 while the music plays, else 0.
int GetMusicPlayState(int musicHandle);
// Stops the music (and a looping one for good). 0 or -1.
int StopMusicHandle(int musicHandle);
// Stops the music when it plays and deletes it. 0 or -1.
int DeleteMusicHandle(int musicHandle);

}  // namespace gamelib
