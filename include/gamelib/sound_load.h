// Loading sound files and playing them: memory sounds (the whole PCM in sound
// buffers, with duplicates so that one effect can sound several times at once) and
// stream sounds (up to three files played one after the other from a ring that the
// message pump refills).
#pragma once

#include <cstdint>

namespace gamelib {

// Play types of PlaySoundHandle. Any other value plays once and returns at once.
constexpr int kSoundPlayWait = 0;        // play once; return when it has stopped (or the window closed)
constexpr int kSoundPlayBackground = 1;  // play once and return at once
constexpr int kSoundPlayLoop = 3;        // play looped and return at once

// Loads a RIFF WAVE file (PCM, or compressed data the compression manager decodes),
// an MP3 or an Ogg Vorbis file into a new sound handle, or -1. With create type 0 it
// becomes a memory sound with `bufferCount` buffers (at most 10); with 1 to 3 a stream
// sound, which plays on the ring of the stream sound `shareStream` when that one has
// the same format (-1 for a ring of its own).
int LoadSoundFile(const char* fileName, int bufferCount = 1, int shareStream = -1);
// The same for a file image in memory, which the caller keeps.
int LoadSoundFromMemory(const void* image, int imageBytes, int bufferCount = 1, int shareStream = -1);

// ---- Stream sounds of several files --------------------------------------------------
// A new, empty sound handle that files are added to, or -1.
int MakeStreamSoundHandle();
// Adds a file to the stream sound `handle`; it plays after the files added before, and
// `loopCount` more times after its first play (255: endlessly). `dataKind` says how it is
// kept, as the create type: 0 (or 1) converted whole, 2 the file image in memory, 3 read
// from the file as it plays. Every file of a sound has the format of the first; the
// first file takes the ring of the stream sound `shareStream` when that has the same
// format (-1 for a ring of its own). 0 or -1 (also while the sound plays, or with three
// files in it already).
int AddStreamSoundFile(const char* fileName, std::uint8_t loopCount, int handle, int dataKind,
                       int shareStream);
// The same for a file image in memory, which is copied (data kind 3 is taken as 2).
int AddStreamSoundMemory(const void* image, int imageBytes, std::uint8_t loopCount, int handle, int dataKind,
                         int shareStream);
// Fills the ring of a stream sound that is not playing, so that its play starts at
// once. 0 (also for a sound that is not a stream sound), or -1 for an invalid handle.
int PrepareStreamSound(int handle);

// Plays the sound (see the play types). With fromTop 1 it starts at its beginning;
// with 0 a one-buffer sound resumes where it stopped, and a sound that is playing
// goes on unchanged. 0 or -1.
int PlaySoundHandle(int handle, int playType, int fromTop = 1);
// Stops every buffer of the sound that plays. 0 or -1.
int StopSoundHandle(int handle);

}  // namespace gamelib
