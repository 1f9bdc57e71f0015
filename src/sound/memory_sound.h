// Memory sounds: whole files read into library memory, converted to PCM and copied
// into a sound's buffers.
#pragma once

#include "gamelib/core.h"
#include "gamelib/sound_load.h"

namespace gamelib {

// The whole file in a new block of library memory (the caller frees it). 0 or -1.
int LoadFileToMemory(const char* fileName, void** data, int* bytes);
// The same for an open stream, read from its start; the stream stays open.
int ReadWholeStream(const StreamAccessRecord* stream, void** data, int* bytes);
// A memory sound made from a file image (which the caller keeps), or -1.
int CreateMemorySound(const void* image, int imageBytes, int bufferCount);

}  // namespace gamelib
