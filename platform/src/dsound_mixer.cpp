// The mixer: every playing secondary buffer, converted to 44100 Hz 16-bit stereo,
// scaled by its gain, summed and saturated. Buffers at 44100 Hz are read directly
// (bit-exact at 0 dB); others go through a speexdsp resampler of their own, whose
// input use is fixed by the frames it outputs, so the mix does not depend on how the
// output is cut into pieces. Runs with the state mutex held.
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsound_internal.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace platform::dsound {
namespace {

constexpr std::size_t kChunk = 1024;
// Input frames of one resampler call for kChunk output frames at the highest rate.
constexpr std::size_t kMaxInput = kChunk * DSBFREQUENCY_MAX / kOutputRate + 8;
constexpr std::size_t kMaxTapBytes = std::size_t{64} << 20;

struct Scratch {
  float mix[2 * kChunk];
  float resampled[2 * kChunk];
  float input[2 * kMaxInput];
};

Scratch& Work() {
  static auto* scratch = new Scratch;
  return *scratch;
}

inline float Sample16(const std::uint8_t* p) {
  std::int16_t v;
  std::memcpy(&v, p, 2);
  return static_cast<float>(v);
}

inline float Sample8(std::uint8_t v) { return static_cast<float>((static_cast<int>(v) - 128) * 256); }

// Adds n frames of the buffer's own rate (44100 Hz) straight into the mix.
void AddDirect(const std::uint8_t* src, std::size_t n, const WAVEFORMATEX& f, float gain, float* mix) {
  const bool wide = f.wBitsPerSample == 16;
  if (f.nChannels == 2) {
    if (wide) {
      for (std::size_t i = 0; i < 2 * n; ++i) mix[i] += gain * Sample16(src + 2 * i);
    } else {
      for (std::size_t i = 0; i < 2 * n; ++i) mix[i] += gain * Sample8(src[i]);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = gain * (wide ? Sample16(src + 2 * i) : Sample8(src[i]));
      mix[2 * i] += v;
      mix[2 * i + 1] += v;
    }
  }
}

void ToFloat(const std::uint8_t* src, std::size_t n, const WAVEFORMATEX& f, float* out) {
  const std::size_t samples = n * f.nChannels;
  if (f.wBitsPerSample == 16) {
    for (std::size_t i = 0; i < samples; ++i) out[i] = Sample16(src + 2 * i);
  } else {
    for (std::size_t i = 0; i < samples; ++i) out[i] = Sample8(src[i]);
  }
}

void Tap(SoundBuffer& b, std::uint32_t fromFrame, std::uint32_t frames) {
  if (!b.tapping || b.tap.size() >= kMaxTapBytes) return;
  const std::uint8_t* p = b.data()->bytes.data() + std::size_t{fromFrame} * b.format().nBlockAlign;
  b.tap.insert(b.tap.end(), p, p + std::size_t{frames} * b.format().nBlockAlign);
}

// Moves the cursor past `frames` consumed frames; false when a one-shot buffer ended.
bool Advance(SoundBuffer& b, std::uint32_t frames) {
  Tap(b, b.cursor, frames);
  b.cursor += frames;
  if (b.cursor < b.frames()) return true;
  b.cursor = 0;
  return b.looping;
}

// Mixes n frames of one voice; false when it reached its end (not looping).
bool MixVoice(SoundBuffer& b, std::size_t n, float* mix) {
  const WAVEFORMATEX& f = b.format();
  const std::uint8_t* bytes = b.data()->bytes.data();
  const std::uint32_t total = b.frames();

  if (f.nSamplesPerSec == kOutputRate) {
    std::size_t done = 0;
    while (done < n) {
      const std::uint32_t take = static_cast<std::uint32_t>(std::min<std::size_t>(total - b.cursor, n - done));
      if (b.gain != 0.0f) {
        AddDirect(bytes + std::size_t{b.cursor} * f.nBlockAlign, take, f, b.gain, mix + 2 * done);
      }
      done += take;
      if (!Advance(b, take)) return false;
    }
    return true;
  }

  // A new resampler after a jump: speex_resampler_reset_mem leaves the history of
  // every channel but the first.
  if (b.resampler != nullptr && b.resamplerDirty) {
    speex_resampler_destroy(b.resampler);
    b.resampler = nullptr;
  }
  if (b.resampler == nullptr) {
    int error = 0;
    b.resampler = speex_resampler_init(f.nChannels, f.nSamplesPerSec, kOutputRate, sim::kSoundResamplerQuality, &error);
    if (b.resampler == nullptr) return false;
    b.resamplerDirty = false;
  }

  Scratch& work = Work();
  const unsigned channels = f.nChannels;
  float* out = work.resampled;
  std::size_t done = 0;
  bool alive = true;
  while (done < n) {
    const std::size_t wanted = (n - done) * f.nSamplesPerSec / kOutputRate + 2;
    const std::uint32_t take = static_cast<std::uint32_t>(std::min<std::size_t>(total - b.cursor, wanted));
    ToFloat(bytes + std::size_t{b.cursor} * f.nBlockAlign, take, f, work.input);
    spx_uint32_t used = take;
    spx_uint32_t made = static_cast<spx_uint32_t>(n - done);
    speex_resampler_process_interleaved_float(b.resampler, work.input, &used, out + done * channels, &made);
    done += made;
    if (!Advance(b, used)) {
      alive = false;
      break;
    }
    if (used == 0 && made == 0) break;  // cannot happen with input left; never spin
  }

  if (b.gain != 0.0f) {
    const float gain = b.gain;
    if (channels == 2) {
      for (std::size_t i = 0; i < 2 * done; ++i) mix[i] += gain * out[i];
    } else {
      for (std::size_t i = 0; i < done; ++i) {
        const float v = gain * out[i];
        mix[2 * i] += v;
        mix[2 * i + 1] += v;
      }
    }
  }
  if (!alive) b.JumpedLocked();
  return alive;
}

inline std::int16_t Saturate(float v) {
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
#if defined(__SSE__) || defined(__x86_64__)
  return static_cast<std::int16_t>(_mm_cvtss_si32(_mm_set_ss(v)));  // nearest, ties to even
#else
  return static_cast<std::int16_t>(std::lrintf(v));
#endif
}

}  // namespace

void FreeResampler(SpeexResamplerState_* resampler) {
  if (resampler != nullptr) speex_resampler_destroy(resampler);
}

void MixLocked(std::int16_t* out, std::size_t frames) {
  Scratch& work = Work();
  std::vector<SoundBuffer*> ended;
  while (frames > 0) {
    const std::size_t n = std::min(frames, kChunk);
    std::fill(work.mix, work.mix + 2 * n, 0.0f);
    for (SoundBuffer* voice : State().voices) {
      if (!MixVoice(*voice, n, work.mix)) ended.push_back(voice);
    }
    // A one-shot buffer that ran out stops, with its cursor back at the start.
    for (SoundBuffer* voice : ended) voice->StopVoiceLocked();
    ended.clear();
    if (out != nullptr) {
      for (std::size_t i = 0; i < 2 * n; ++i) out[i] = Saturate(work.mix[i]);
      out += 2 * n;
    }
    frames -= n;
  }
}

}  // namespace platform::dsound
