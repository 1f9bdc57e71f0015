// Loading sound files and playing them: memory sounds (the whole PCM in sound
// buffers, with duplicates so that one effect can sound several times at once).
#pragma once

namespace gamelib {

// Play types of PlaySoundHandle. Any other value plays once and returns at once.
constexpr int SOUND_PLAY_WAIT = 0;        // play once; return when it has stopped (or the window closed)
constexpr int SOUND_PLAY_BACKGROUND = 1;  // play once and return at once
constexpr int SOUND_PLAY_LOOP = 3;        // play looped and return at once

// Loads a RIFF WAVE (PCM) or Ogg Vorbis file into a new sound handle, or -1. With
// create type 0 it becomes a memory sound with `bufferCount` buffers (at most 10);
// `shareStream` is for stream sounds (-1 for none).
int LoadSoundFile(const char* fileName, int bufferCount = 1, int shareStream = -1);

// Plays the sound (see the play types). With fromTop 1 it starts at its beginning;
// with 0 a one-buffer sound resumes where it stopped, and a sound that is playing
// goes on unchanged. 0 or -1.
int PlaySoundHandle(int handle, int playType, int fromTop = 1);
// Stops every buffer of the sound that plays. 0 or -1.
int StopSoundHandle(int handle);

}  // namespace gamelib
