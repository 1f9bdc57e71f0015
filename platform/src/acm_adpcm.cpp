// IMA ADPCM (0x11) and Microsoft ADPCM (0x02) in WAVE blocks: 4 bits a sample, each
// block starting afresh from the predictor state in its header. Decoded whole blocks
// at a time; a block larger than the converter's pieces is refused at open.
#include <algorithm>
#include <climits>
#include <cstring>

#include "acm_internal.h"

namespace platform::acm {
namespace {

std::int16_t Le16(const BYTE* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

void Put16(BYTE* out, std::int16_t v) {
  out[0] = static_cast<BYTE>(v);
  out[1] = static_cast<BYTE>(static_cast<std::uint16_t>(v) >> 8);
}

// A whole-block codec: blocks of `blockAlign` source bytes, each `samplesPerBlock`
// sample frames.
class BlockDecoder : public Decoder {
 public:
  BlockDecoder(int channels, int blockAlign, int samplesPerBlock)
      : channels_(channels), blockAlign_(blockAlign), samplesPerBlock_(samplesPerBlock) {}

  ConvertResult Convert(const BYTE* src, DWORD srcBytes, BYTE* dst, DWORD dstBytes) override {
    ConvertResult r;
    const DWORD pcmBytes = PcmBytesPerBlock();
    while (srcBytes - r.srcUsed >= static_cast<DWORD>(blockAlign_) && dstBytes - r.dstUsed >= pcmBytes) {
      DecodeBlock(src + r.srcUsed, dst + r.dstUsed);
      r.srcUsed += static_cast<DWORD>(blockAlign_);
      r.dstUsed += pcmBytes;
      ++r.units;
    }
    return r;
  }
  std::uint64_t MaxOutputBytes(std::uint64_t srcBytes) const override {
    return srcBytes / static_cast<std::uint64_t>(blockAlign_) * PcmBytesPerBlock();
  }
  std::uint64_t MaxInputBytes(std::uint64_t dstBytes) const override {
    return (dstBytes + PcmBytesPerBlock() - 1) / PcmBytesPerBlock() * static_cast<std::uint64_t>(blockAlign_);
  }

 protected:
  // One block of blockAlign_ bytes into samplesPerBlock_ interleaved frames.
  virtual void DecodeBlock(const BYTE* block, BYTE* out) = 0;
  DWORD PcmBytesPerBlock() const { return static_cast<DWORD>(samplesPerBlock_ * channels_ * 2); }

  int channels_;
  int blockAlign_;
  int samplesPerBlock_;
};

// ---- IMA ADPCM --------------------------------------------------------------------
// Block: per channel a 4-byte header (first sample, step index, reserved), then
// groups of 4 bytes per channel in turn, 8 samples each, low nibble first.

constexpr int kImaSteps[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

int ImaSamplesPerBlock(int channels, int blockAlign) {
  return (blockAlign - 4 * channels) * 2 / channels + 1;
}

class ImaAdpcmDecoder final : public BlockDecoder {
 public:
  using BlockDecoder::BlockDecoder;

 private:
  void DecodeBlock(const BYTE* block, BYTE* out) override {
    const int frameBytes = channels_ * 2;
    for (int ch = 0; ch < channels_; ++ch) {
      const BYTE* header = block + 4 * ch;
      int value = Le16(header);
      int index = std::min<int>(header[2], 88);
      Put16(out + ch * 2, static_cast<std::int16_t>(value));
      for (int n = 1; n < samplesPerBlock_; ++n) {
        const int k = n - 1;
        const BYTE byte = block[4 * channels_ + (k / 8 * channels_ + ch) * 4 + (k % 8) / 2];
        const int code = (k & 1) ? byte >> 4 : byte & 0x0F;
        const int step = kImaSteps[index];
        int diff = step >> 3;
        if (code & 4) diff += step;
        if (code & 2) diff += step >> 1;
        if (code & 1) diff += step >> 2;
        value = Clamp16((code & 8) ? value - diff : value + diff);
        index = std::clamp(index + kImaIndexAdjust[code & 7], 0, 88);
        Put16(out + n * frameBytes + ch * 2, static_cast<std::int16_t>(value));
      }
    }
  }
};

// ---- Microsoft ADPCM --------------------------------------------------------------
// Block: per channel a predictor number, then per channel the step, the second sample
// and the first sample (16-bit each); then nibbles, high first, channels in turn.

constexpr int kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::int64_t kMsMaxStep = INT_MAX / 768;  // keeps a hostile block's step from overflowing

int MsMaxSamplesPerBlock(int channels, int blockAlign) {
  return (blockAlign - 7 * channels) * 2 / channels + 2;
}

class MsAdpcmDecoder final : public BlockDecoder {
 public:
  MsAdpcmDecoder(int channels, int blockAlign, int samplesPerBlock, std::vector<ADPCMCOEFSET> coefficients)
      : BlockDecoder(channels, blockAlign, samplesPerBlock), coefficients_(std::move(coefficients)) {}

 private:
  void DecodeBlock(const BYTE* block, BYTE* out) override {
    std::int64_t coef1[2], coef2[2], step[2], s1[2], s2[2];
    const BYTE* p = block;
    for (int ch = 0; ch < channels_; ++ch) {
      std::size_t predictor = *p++;
      if (predictor >= coefficients_.size()) predictor = 0;
      coef1[ch] = coefficients_[predictor].iCoef1;
      coef2[ch] = coefficients_[predictor].iCoef2;
    }
    for (int ch = 0; ch < channels_; ++ch, p += 2) step[ch] = Le16(p);
    for (int ch = 0; ch < channels_; ++ch, p += 2) s1[ch] = Le16(p);
    for (int ch = 0; ch < channels_; ++ch, p += 2) s2[ch] = Le16(p);
    const int frameBytes = channels_ * 2;
    for (int ch = 0; ch < channels_; ++ch) {
      Put16(out + ch * 2, static_cast<std::int16_t>(s2[ch]));
      if (samplesPerBlock_ > 1) Put16(out + frameBytes + ch * 2, static_cast<std::int16_t>(s1[ch]));
    }
    const int total = (samplesPerBlock_ - 2) * channels_;
    for (int i = 0; i < total; ++i) {
      const int ch = i % channels_;
      const BYTE byte = p[i / 2];
      const int code = (i & 1) ? byte & 0x0F : byte >> 4;
      const std::int64_t predicted = (s1[ch] * coef1[ch] + s2[ch] * coef2[ch]) >> 8;
      const std::int64_t sample = Clamp16(predicted + (code - ((code & 8) << 1)) * step[ch]);
      step[ch] = std::clamp<std::int64_t>((kMsAdapt[code] * step[ch]) >> 8, 16, kMsMaxStep);
      s2[ch] = s1[ch];
      s1[ch] = sample;
      Put16(out + (2 + i / channels_) * frameBytes + ch * 2, static_cast<std::int16_t>(sample));
    }
  }

  std::vector<ADPCMCOEFSET> coefficients_;
};

bool BlockShapeOk(const WAVEFORMATEX& f, int headerBytesPerChannel) {
  return f.wBitsPerSample == 4 && f.nBlockAlign >= headerBytesPerChannel * f.nChannels &&
         f.nBlockAlign <= ACM_MAX_ADPCM_BLOCK_BYTES;
}

// wSamplesPerBlock as stored: 0 when the format has no room for it.
int StoredSamplesPerBlock(const SourceFormat& format) {
  return format.extra.size() >= 2 ? static_cast<std::uint16_t>(Le16(format.extra.data())) : 0;
}

std::vector<ADPCMCOEFSET> MsCoefficients(const SourceFormat& format) {
  std::vector<ADPCMCOEFSET> out;
  if (format.extra.size() < 4) return out;
  const std::size_t count = static_cast<std::uint16_t>(Le16(format.extra.data() + 2));
  if (count == 0 || format.extra.size() < 4 + 4 * count) return out;
  for (std::size_t i = 0; i < count; ++i) {
    const BYTE* pair = format.extra.data() + 4 + 4 * i;
    out.push_back({Le16(pair), Le16(pair + 2)});
  }
  return out;
}

}  // namespace

bool AcceptsImaAdpcm(const SourceFormat& format) {
  const WAVEFORMATEX& f = format.wfx;
  if (!BlockShapeOk(f, 4)) return false;
  // Stereo data comes in 4-byte groups per channel.
  if ((f.nBlockAlign - 4 * f.nChannels) % (4 * f.nChannels) != 0 && f.nChannels != 1) return false;
  int stored = StoredSamplesPerBlock(format);
  return stored == 0 || stored == ImaSamplesPerBlock(f.nChannels, f.nBlockAlign);
}

std::unique_ptr<Decoder> CreateImaAdpcmDecoder(const SourceFormat& format) {
  if (!AcceptsImaAdpcm(format)) return nullptr;
  const WAVEFORMATEX& f = format.wfx;
  return std::make_unique<ImaAdpcmDecoder>(f.nChannels, f.nBlockAlign,
                                           ImaSamplesPerBlock(f.nChannels, f.nBlockAlign));
}

bool AcceptsMsAdpcm(const SourceFormat& format) {
  const WAVEFORMATEX& f = format.wfx;
  if (!BlockShapeOk(f, 7)) return false;
  int samples = StoredSamplesPerBlock(format);
  return samples >= 2 && samples <= MsMaxSamplesPerBlock(f.nChannels, f.nBlockAlign) &&
         !MsCoefficients(format).empty();
}

std::unique_ptr<Decoder> CreateMsAdpcmDecoder(const SourceFormat& format) {
  if (!AcceptsMsAdpcm(format)) return nullptr;
  const WAVEFORMATEX& f = format.wfx;
  return std::make_unique<MsAdpcmDecoder>(f.nChannels, f.nBlockAlign, StoredSamplesPerBlock(format),
                                          MsCoefficients(format));
}

}  // namespace platform::acm
