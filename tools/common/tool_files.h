// The files the tools write: RIFF WAVE images of 16-bit PCM and RGB PNG pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// A whole WAVE file of interleaved 16-bit samples; empty when the data passes 4 GB.
std::vector<std::uint8_t> WaveImage(int channels, int rate, const std::vector<std::int16_t>& samples);
// The same written to a file (the samples are not copied). False on any failure.
bool WriteWave(const std::string& path, int channels, int rate, const std::vector<std::int16_t>& samples);

// 0xXXRRGGBB pixels, rows `width` apart, as an 8-bit RGB PNG. `fast` trades size for speed:
// no filtering and the fastest compression.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, bool fast = false);

}  // namespace tools
