// Sound files in library memory: whole files and streams read in, and RIFF WAVE file
// images built from a format and PCM.
#pragma once

#include <cstdint>

#include "gamelib/core.h"

namespace gamelib {

// The whole file in a new block of library memory (the caller frees it). 0 or -1.
int LoadFileToMemory(const char* fileName, void** data, int* bytes);
// The same for an open stream, read from its start; the stream stays open.
int ReadWholeStream(const StreamAccessRecord* stream, void** data, int* bytes);

// A RIFF WAVE file image in a new block of library memory (the caller frees it).
int BuildWaveFileImage(void** image, std::uint32_t* imageBytes, const void* format, std::uint32_t formatBytes,
                       const void* data, std::uint32_t dataBytes);

}  // namespace gamelib
