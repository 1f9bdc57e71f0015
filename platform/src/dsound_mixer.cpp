// The mixer: every playing secondary buffer, converted to 44100 Hz 16-bit stereo,
// scaled by its gain, summed and saturated. Buffers at 44100 Hz are read directly
// (bit-exact at 0 dB). Others are converted whole by speexdsp when they start playing
// and then only added, since resampling as they play costs some 100 ns a frame; a
// buffer rewritten while it plays (a ring) goes through a resampler of its own
// instead. Either way the input use is fixed by the frames output, so the mix does
// not depend on how the output is cut into pieces. Runs with the state mutex held.
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>

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
// Larger conversions (64 MiB of floats) are resampled as they play instead.
constexpr std::uint64_t kMaxConvertedSamples = std::uint64_t{1} << 24;
constexpr std::size_t kConvertChunk = 16384;

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

void AddScaled(const float* src, std::size_t n, unsigned channels, float gain, float* mix) {
  if (channels == 2) {
    for (std::size_t i = 0; i < 2 * n; ++i) mix[i] += gain * src[i];
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = gain * src[i];
      mix[2 * i] += v;
      mix[2 * i + 1] += v;
    }
  }
}

// n frames of a converted voice. The cursor is the source frame of the next output
// frame; a seek starts at the first output frame at or past it, with the history the
// pass has there.
bool MixConverted(SoundBuffer& b, const Converted& c, std::size_t n, float* mix) {
  if (b.resamplerDirty) {
    b.convertedFrame = std::min<std::uint64_t>((b.cursor * c.den + c.num - 1) / c.num, c.frames);
    b.wrapped = false;
    b.resamplerDirty = false;
  }
  const std::uint32_t total = b.frames();
  std::size_t done = 0;
  while (done < n) {
    std::uint64_t k = b.convertedFrame;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, c.frames - k));
    if (b.gain != 0.0f) {
      std::size_t from = 0;
      if (b.wrapped && k < c.seamFrames) {
        from = static_cast<std::size_t>(std::min<std::uint64_t>(take, c.seamFrames - k));
        AddScaled(c.seam.data() + k * c.channels, from, c.channels, b.gain, mix + 2 * done);
      }
      AddScaled(c.pass.data() + (k + from) * c.channels, take - from, c.channels, b.gain,
                mix + 2 * (done + from));
    }
    done += take;
    k += take;
    const std::uint32_t next = static_cast<std::uint32_t>(std::min<std::uint64_t>(k * c.num / c.den, total));
    Tap(b, b.cursor, next - b.cursor);
    if (k < c.frames) {
      b.cursor = next;
      b.convertedFrame = k;
      continue;
    }
    b.cursor = 0;
    b.convertedFrame = 0;
    b.wrapped = true;
    if (!b.looping) {
      b.JumpedLocked();
      return false;
    }
  }
  return true;
}

// Mixes n frames of one voice; false when it reached its end (not looping).
bool MixVoice(SoundBuffer& b, std::size_t n, float* mix) {
  const WAVEFORMATEX& f = b.format();
  const std::uint8_t* bytes = b.data()->bytes.data();
  const std::uint32_t total = b.frames();

  if (f.nSamplesPerSec == kOutputRate) {
    std::size_t done = 0;
    while (done < n) {
      const std::uint32_t take =
          static_cast<std::uint32_t>(std::min<std::size_t>(total - b.cursor, n - done));
      if (b.gain != 0.0f) {
        AddDirect(bytes + std::size_t{b.cursor} * f.nBlockAlign, take, f, b.gain, mix + 2 * done);
      }
      done += take;
      if (!Advance(b, take)) return false;
    }
    return true;
  }

  if (const Converted* converted = b.data()->converted.get()) return MixConverted(b, *converted, n, mix);

  // A new resampler after a jump: speex_resampler_reset_mem leaves the history of
  // every channel but the first.
  if (b.resampler != nullptr && b.resamplerDirty) {
    speex_resampler_destroy(b.resampler);
    b.resampler = nullptr;
  }
  if (b.resampler == nullptr) {
    int error = 0;
    b.resampler =
        speex_resampler_init(f.nChannels, f.nSamplesPerSec, kOutputRate, sim::kSoundResamplerQuality, &error);
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

  if (b.gain != 0.0f) AddScaled(out, done, channels, b.gain, mix);
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

std::shared_ptr<const Converted> Convert(const std::vector<std::uint8_t>& bytes, const WAVEFORMATEX& f) {
  if (f.nSamplesPerSec == kOutputRate || f.nBlockAlign == 0) return nullptr;
  const std::uint64_t total = bytes.size() / f.nBlockAlign;
  const unsigned channels = f.nChannels;
  const std::uint64_t common = std::gcd<std::uint64_t>(f.nSamplesPerSec, kOutputRate);
  const std::uint64_t num = f.nSamplesPerSec / common;
  const std::uint64_t den = kOutputRate / common;
  // Output frames k with k * num / den < total: what a fresh resampler makes of the
  // whole buffer before its input runs out.
  const std::uint64_t frames = (total * den + num - 1) / num;
  if (total == 0 || frames * channels > kMaxConvertedSamples) return nullptr;

  using Resampler = std::unique_ptr<SpeexResamplerState, decltype(&speex_resampler_destroy)>;
  auto fresh = [&] {
    int error = 0;
    return Resampler(
        speex_resampler_init(channels, f.nSamplesPerSec, kOutputRate, sim::kSoundResamplerQuality, &error),
        &speex_resampler_destroy);
  };
  // Source frames [from, from + n) as floats, wrapping round the buffer.
  auto read = [&](std::uint64_t from, std::uint64_t n, float* out) {
    while (n > 0) {
      from %= total;
      const std::uint64_t run = std::min(n, total - from);
      ToFloat(bytes.data() + from * f.nBlockAlign, static_cast<std::size_t>(run), f, out);
      out += run * channels;
      from += run;
      n -= run;
    }
  };
  try {
    auto c = std::make_shared<Converted>();
    c->num = num;
    c->den = den;
    c->channels = channels;
    c->frames = static_cast<std::uint32_t>(frames);
    c->pass.resize(frames * channels);
    Resampler st = fresh();
    if (st == nullptr) return nullptr;
    std::vector<float> chunk(kConvertChunk * channels);
    std::uint64_t used = 0;
    std::uint64_t made = 0;
    while (used < total && made < frames) {
      const std::uint64_t n = std::min<std::uint64_t>(kConvertChunk, total - used);
      read(used, n, chunk.data());
      spx_uint32_t in = static_cast<spx_uint32_t>(n);
      spx_uint32_t out = static_cast<spx_uint32_t>(frames - made);
      speex_resampler_process_interleaved_float(st.get(), chunk.data(), &in, c->pass.data() + made * channels,
                                                &out);
      if (in == 0 && out == 0) break;
      used += in;
      made += out;
    }
    if (made != frames) return nullptr;

    // The start of a pass after a wrap: the same resampler run over whole periods of
    // `num` source frames of the buffer's end, so the pass starts at phase 0 with that
    // history; only the first frames, whose filter reaches before frame 0, differ.
    st = fresh();
    if (st == nullptr) return nullptr;
    const std::uint64_t reach =
        2 * static_cast<std::uint64_t>(std::max(speex_resampler_get_input_latency(st.get()), 1));
    const std::uint64_t seam = std::min(frames, (reach * den + num - 1) / num);
    const std::uint64_t history = num * ((reach + num - 1) / num);
    const std::uint64_t lead = history / num * den;
    const std::uint64_t inFrames = history + (seam * num + den - 1) / den + 2;
    std::vector<float> in(inFrames * channels);
    read(total - history % total, inFrames, in.data());
    std::vector<float> out((lead + seam) * channels);
    spx_uint32_t inLength = static_cast<spx_uint32_t>(inFrames);
    spx_uint32_t outLength = static_cast<spx_uint32_t>(lead + seam);
    speex_resampler_process_interleaved_float(st.get(), in.data(), &inLength, out.data(), &outLength);
    if (outLength != lead + seam) return nullptr;
    c->seam.assign(out.begin() + static_cast<std::ptrdiff_t>(lead * channels), out.end());
    c->seamFrames = static_cast<std::uint32_t>(seam);
    return c;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
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
