// A-law (0x06) and mu-law (0x07): one byte a sample, expanded through a table.
#include <algorithm>
#include <array>

#include "acm_internal.h"

namespace platform::acm {
namespace {

std::int16_t ALawToLinear(BYTE code) {
  code ^= 0x55;
  int magnitude = (code & 0x0F) << 4;
  const int segment = (code & 0x70) >> 4;
  if (segment == 0) {
    magnitude += 8;
  } else {
    magnitude = (magnitude + 0x108) << (segment - 1);
  }
  return static_cast<std::int16_t>((code & 0x80) ? magnitude : -magnitude);
}

std::int16_t MuLawToLinear(BYTE code) {
  code = static_cast<BYTE>(~code);
  const int magnitude = (((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4);
  return static_cast<std::int16_t>((code & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

class G711Decoder final : public Decoder {
 public:
  G711Decoder(bool alaw, int channels) : channels_(channels) {
    for (int i = 0; i < 256; ++i)
      table_[i] = alaw ? ALawToLinear(static_cast<BYTE>(i)) : MuLawToLinear(static_cast<BYTE>(i));
  }

  ConvertResult Convert(const BYTE* src, DWORD srcBytes, BYTE* dst, DWORD dstBytes) override {
    ConvertResult r;
    const std::uint64_t frames = std::min<std::uint64_t>(srcBytes / channels_, dstBytes / (2u * channels_));
    const DWORD samples = static_cast<DWORD>(frames * channels_);
    for (DWORD i = 0; i < samples; ++i) {
      const auto v = static_cast<std::uint16_t>(table_[src[i]]);
      dst[2 * i] = static_cast<BYTE>(v);
      dst[2 * i + 1] = static_cast<BYTE>(v >> 8);
    }
    r.srcUsed = samples;
    r.dstUsed = samples * 2;
    r.units = frames;
    return r;
  }
  std::uint64_t MaxOutputBytes(std::uint64_t srcBytes) const override {
    return srcBytes / static_cast<std::uint64_t>(channels_) * channels_ * 2;
  }
  std::uint64_t MaxInputBytes(std::uint64_t dstBytes) const override { return (dstBytes + 1) / 2; }

 private:
  int channels_;
  std::array<std::int16_t, 256> table_{};
};

}  // namespace

bool AcceptsG711(const SourceFormat& format) {
  return format.wfx.wBitsPerSample == 8 && format.wfx.nBlockAlign == format.wfx.nChannels;
}

std::unique_ptr<Decoder> CreateG711Decoder(const SourceFormat& format) {
  if (!AcceptsG711(format)) return nullptr;
  return std::make_unique<G711Decoder>(format.wfx.wFormatTag == WAVE_FORMAT_ALAW, format.wfx.nChannels);
}

}  // namespace platform::acm
