// MPEG audio layers I to III on libmpg123's feed interface. The stream is cut into
// frames here, by their headers, and each whole frame is fed alone and decoded at once,
// so nothing is held back between pieces (no end-of-stream call ever comes) and the
// decoder never sees a byte past the piece. Gapless trimming is off and the info frame
// decodes like any other, so every frame gives its full 384, 576 or 1152 samples.
#include <mpg123.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "acm_internal.h"

namespace platform::acm {
namespace {

static_assert(std::endian::native == std::endian::little, "PCM is handed out little-endian as decoded");

// kbit/s by [MPEG-2][layer - 1][bitrate index]; index 0 (free format) is not decoded.
constexpr int kBitrates[2][3][15] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                                      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                                      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
                                     {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr int kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

struct Frame {
  int layer = 0;  // 1..3
  int lsf = 0;    // 1 for MPEG-2
  int rate = 0;
  int channels = 0;
  int length = 0;   // bytes, header included
  int samples = 0;  // per channel
};

// The frame whose header starts at h (4 bytes), or false.
bool ParseFrame(const BYTE* h, Frame* f) {
  if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) return false;
  int layerBits = (h[1] >> 1) & 3;
  int bitrateIndex = h[2] >> 4;
  int rateIndex = (h[2] >> 2) & 3;
  if (layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
  f->lsf = ((h[1] >> 3) & 1) ? 0 : 1;
  f->layer = 4 - layerBits;
  f->rate = kRates[f->lsf][rateIndex];
  f->channels = ((h[3] >> 6) & 3) == 3 ? 1 : 2;
  const int padding = (h[2] >> 1) & 1;
  const int bitrate = kBitrates[f->lsf][f->layer - 1][bitrateIndex];
  if (f->layer == 1) {
    f->length = (12000 * bitrate / f->rate + padding) * 4;
    f->samples = 384;
  } else if (f->layer == 3 && f->lsf == 1) {
    f->length = 72000 * bitrate / f->rate + padding;
    f->samples = 576;
  } else {
    f->length = 144000 * bitrate / f->rate + padding;
    f->samples = 1152;
  }
  return true;
}

bool IsMpegRate(DWORD rate) {
  for (const auto& version : kRates)
    for (int r : version)
      if (static_cast<DWORD>(r) == rate) return true;
  return false;
}

// Shortest frame of each layer at this rate, with its samples: the most PCM a byte of
// source can ever give.
struct Shortest {
  int length;
  int samples;
};
std::vector<Shortest> ShortestFrames(DWORD rate) {
  std::vector<Shortest> out;
  for (int lsf = 0; lsf < 2; ++lsf) {
    for (int rateIndex = 0; rateIndex < 3; ++rateIndex) {
      if (static_cast<DWORD>(kRates[lsf][rateIndex]) != rate) continue;
      for (int layer = 1; layer <= 3; ++layer) {
        BYTE h[4] = {0xFF, static_cast<BYTE>(0xF0 | (lsf ? 0 : 8) | ((4 - layer) << 1)),
                     static_cast<BYTE>(1 << 4 | rateIndex << 2), 0};
        Frame f;
        if (ParseFrame(h, &f)) out.push_back({f.length, f.samples});
      }
    }
  }
  return out;
}

constexpr int kLongestFrame = 1729;  // layer II, 384 kbit/s at 32 kHz, padded

class MpegDecoder final : public Decoder {
 public:
  explicit MpegDecoder(const SourceFormat& format)
      : rate_(static_cast<int>(format.wfx.nSamplesPerSec)), channels_(format.wfx.nChannels) {}
  ~MpegDecoder() override {
    if (handle_ != nullptr) mpg123_delete(handle_);
  }

  bool Open() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) return false;
    return Restart();
  }

  ConvertResult Convert(const BYTE* src, DWORD srcBytes, BYTE* dst, DWORD dstBytes) override {
    ConvertResult r;
    DWORD pos = 0;
    while (pos < srcBytes) {
      const DWORD left = srcBytes - pos;
      if (left < 4) {
        // Too short for a header: keep what could still begin one.
        if (src[pos] == 0xFF && (left == 1 || (src[pos + 1] & 0xF0) == 0xF0)) break;
        ++pos;
        continue;
      }
      Frame f;
      if (!ParseFrame(src + pos, &f)) {
        ++pos;  // junk
        continue;
      }
      if (static_cast<DWORD>(f.length) > left) break;  // the rest of it comes with the next piece
      if (f.rate != rate_ || f.channels != channels_) {
        pos += static_cast<DWORD>(f.length);  // a whole frame of another shape: skipped, not decoded
        continue;
      }
      const DWORD pcmBytes = static_cast<DWORD>(f.samples * channels_ * 2);
      if (dstBytes - r.dstUsed < pcmBytes) break;
      r.dstUsed +=
          DecodeFrame(src + pos, static_cast<DWORD>(f.length), dst + r.dstUsed, dstBytes - r.dstUsed);
      pos += static_cast<DWORD>(f.length);
      ++r.units;
    }
    r.srcUsed = pos;
    return r;
  }

  std::uint64_t MaxOutputBytes(std::uint64_t srcBytes) const override {
    std::uint64_t most = 0;
    for (const Shortest& s : ShortestFrames(static_cast<DWORD>(rate_)))
      most = std::max<std::uint64_t>(most, (srcBytes / static_cast<std::uint64_t>(s.length)) * s.samples);
    return most * static_cast<std::uint64_t>(channels_) * 2;
  }

  std::uint64_t MaxInputBytes(std::uint64_t dstBytes) const override {
    const std::uint64_t frames = dstBytes / (384u * channels_ * 2) + 1;
    return frames * kLongestFrame;
  }

 private:
  bool Restart() {
    mpg123_close(handle_);
    const long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_IGNORE_INFOFRAME | MPG123_SKIP_ID3V2 |
                       MPG123_NO_PEEK_END | MPG123_IGNORE_STREAMLENGTH;
    if (mpg123_param(handle_, MPG123_FLAGS, flags, 0) != MPG123_OK) return false;
    if (mpg123_format_none(handle_) != MPG123_OK) return false;
    if (mpg123_format(handle_, rate_, channels_ == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) !=
        MPG123_OK)
      return false;
    return mpg123_open_feed(handle_) == MPG123_OK;
  }

  // Feeds one whole frame and takes its PCM. A frame the decoder will not decode
  // leaves it holding bytes it may resync on later; it is restarted instead, so no
  // input is ever carried from one call to the next.
  DWORD DecodeFrame(const BYTE* frame, DWORD length, BYTE* out, DWORD room) {
    if (broken_ && !Restart()) return 0;
    broken_ = false;
    if (mpg123_feed(handle_, frame, length) != MPG123_OK) {
      broken_ = true;
      return 0;
    }
    DWORD produced = 0;
    for (int guard = 0; guard < 8; ++guard) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      std::size_t bytes = 0;
      int result = mpg123_decode_frame(handle_, &number, &audio, &bytes);
      if (result == MPG123_NEED_MORE) {
        if (produced == 0) broken_ = true;  // it kept the frame: drop it
        return produced;
      }
      if (result == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(handle_, &rate, &channels, &encoding);
        if (rate != rate_ || channels != channels_ || encoding != MPG123_ENC_SIGNED_16) break;
        continue;
      }
      if (result != MPG123_OK) break;
      if (audio != nullptr && bytes > 0) {
        DWORD n = static_cast<DWORD>(std::min<std::size_t>(bytes, room - produced));
        std::memcpy(out + produced, audio, n);
        produced += n;
      }
    }
    broken_ = true;
    return produced;
  }

  int rate_;
  int channels_;
  mpg123_handle* handle_ = nullptr;
  bool broken_ = false;
};

}  // namespace

bool AcceptsMpeg(const SourceFormat& format) { return IsMpegRate(format.wfx.nSamplesPerSec); }

std::unique_ptr<Decoder> CreateMpegDecoder(const SourceFormat& format) {
  auto decoder = std::make_unique<MpegDecoder>(format);
  if (!decoder->Open()) return nullptr;
  return decoder;
}

}  // namespace platform::acm
