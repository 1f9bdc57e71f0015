#include "tool_files.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace tools {
namespace {

constexpr std::size_t kHeaderBytes = 44;

// The RIFF, fmt and data headers of a PCM file with `dataBytes` of samples.
bool WaveHeader(int channels, int rate, std::uint64_t dataBytes, std::uint8_t* out) {
  if (dataBytes > 0xFFFFFFFFull - (kHeaderBytes - 8)) return false;
  std::uint8_t* p = out;
  const auto put = [&p](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) *p++ = static_cast<std::uint8_t>(v >> (8 * i));
  };
  const auto tag = [&p](const char* t) {
    std::memcpy(p, t, 4);
    p += 4;
  };
  tag("RIFF");
  put(static_cast<std::uint32_t>(kHeaderBytes - 8 + dataBytes), 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);  // PCM
  put(static_cast<std::uint32_t>(channels), 2);
  put(static_cast<std::uint32_t>(rate), 4);
  put(static_cast<std::uint32_t>(rate * channels * 2), 4);  // bytes per second
  put(static_cast<std::uint32_t>(channels * 2), 2);         // block
  put(16, 2);                                               // bits
  tag("data");
  put(static_cast<std::uint32_t>(dataBytes), 4);
  return true;
}

}  // namespace

std::vector<std::uint8_t> WaveImage(int channels, int rate, const std::vector<std::int16_t>& samples) {
  const std::uint64_t dataBytes = samples.size() * sizeof(std::int16_t);
  std::vector<std::uint8_t> image(kHeaderBytes + dataBytes);
  if (!WaveHeader(channels, rate, dataBytes, image.data())) return {};
  if (dataBytes != 0) std::memcpy(image.data() + kHeaderBytes, samples.data(), dataBytes);
  return image;
}

bool WriteWave(const std::string& path, int channels, int rate, const std::vector<std::int16_t>& samples) {
  const std::uint64_t dataBytes = samples.size() * sizeof(std::int16_t);
  std::uint8_t header[kHeaderBytes];
  if (!WaveHeader(channels, rate, dataBytes, header)) return false;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(header, 1, kHeaderBytes, out) == kHeaderBytes;
  if (ok && dataBytes != 0) ok = std::fwrite(samples.data(), 1, dataBytes, out) == dataBytes;
  return std::fclose(out) == 0 && ok;
}

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, bool fast) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  if (fast) {
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_NONE);
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* p = pixels + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      row[static_cast<std::size_t>(x) * 3] = static_cast<png_byte>(p[x] >> 16);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<png_byte>(p[x] >> 8);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<png_byte>(p[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

}  // namespace tools
