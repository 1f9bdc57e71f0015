// The sound device's mixer: seconds of audio mixed per second of CPU, for 1, 8 and
// 32 looping voices of mixed formats (22050 Hz mono 8-bit, 44100 Hz stereo 16-bit,
// 48000 Hz stereo 16-bit) at assorted volumes, through the offline output.
// Beside it: the same voices rewritten once while playing, as rings are, which the
// device resamples as they play instead of converting them once; and the same mix
// made with SDL2's own audio streams (resampling) and mixer.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dsound.h"
#include "platform/sim.h"

namespace {

constexpr unsigned kStepMs = 100;

WAVEFORMATEX VoiceFormat(int i) {
  switch (i % 3) {
    case 0:
      return {WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};
    case 1:
      return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    default:
      return {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
  }
}

std::vector<std::uint8_t> Noise(std::size_t bytes, std::uint32_t seed) {
  std::vector<std::uint8_t> data(bytes);
  for (auto& b : data) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return data;
}

void DeviceMixer(benchmark::State& state, bool rewriteWhilePlaying) {
  const int voices = static_cast<int>(state.range(0));
  sim::Reset();
  sim::UseVirtualClock(true);
  CoInitialize(nullptr);
  IDirectSound* ds = nullptr;
  if (FAILED(CoCreateInstance(CLSID_DirectSound, nullptr, CLSCTX_ALL, IID_IDirectSound,
                              reinterpret_cast<void**>(&ds))) ||
      FAILED(ds->Initialize(nullptr))) {
    state.SkipWithError("no sound device");
    return;
  }
  std::vector<IDirectSoundBuffer*> buffers;
  for (int i = 0; i < voices; ++i) {
    WAVEFORMATEX format = VoiceFormat(i);
    DSBUFFERDESC desc{};
    desc.dwSize = DSBUFFERDESC_DWSIZE;
    desc.dwFlags = 0x80E2;
    desc.dwBufferBytes = format.nAvgBytesPerSec;  // one second
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    ds->CreateSoundBuffer(&desc, &buffer, nullptr);
    void* p1;
    DWORD n1;
    buffer->Lock(0, desc.dwBufferBytes, &p1, &n1, nullptr, nullptr, 0);
    auto noise = Noise(n1, static_cast<std::uint32_t>(i + 1));
    std::copy(noise.begin(), noise.end(), static_cast<std::uint8_t*>(p1));
    buffer->Unlock(p1, n1, nullptr, 0);
    buffer->SetVolume(-200 * (i % 4));
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    if (rewriteWhilePlaying) {
      buffer->Lock(0, desc.dwBufferBytes, &p1, &n1, nullptr, nullptr, 0);
      buffer->Unlock(p1, n1, nullptr, 0);
    }
    buffers.push_back(buffer);
  }
  std::vector<std::int16_t> out;
  std::size_t frames = 0;
  for (auto _ : state) {
    sim::AdvanceTime(kStepMs);
    frames += sim::ReadMixedOutput(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["audio_s_per_cpu_s"] =
      benchmark::Counter(static_cast<double>(frames) / 44100.0, benchmark::Counter::kIsRate);
  for (auto* buffer : buffers) buffer->Release();
  ds->Release();
  CoUninitialize();
  sim::Reset();
}
void BM_DeviceMixer(benchmark::State& state) { DeviceMixer(state, false); }
BENCHMARK(BM_DeviceMixer)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_DeviceMixerRings(benchmark::State& state) { DeviceMixer(state, true); }
BENCHMARK(BM_DeviceMixerRings)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

// What a voice at another rate costs once, when it starts: a one-second 48000 Hz
// stereo buffer, rewritten while stopped, converted whole by Play.
void BM_DeviceConvertOnPlay(benchmark::State& state) {
  sim::Reset();
  sim::UseVirtualClock(true);
  CoInitialize(nullptr);
  IDirectSound* ds = nullptr;
  if (FAILED(CoCreateInstance(CLSID_DirectSound, nullptr, CLSCTX_ALL, IID_IDirectSound,
                              reinterpret_cast<void**>(&ds))) ||
      FAILED(ds->Initialize(nullptr))) {
    state.SkipWithError("no sound device");
    return;
  }
  WAVEFORMATEX format = VoiceFormat(2);
  DSBUFFERDESC desc{};
  desc.dwSize = DSBUFFERDESC_DWSIZE;
  desc.dwFlags = 0x80E2;
  desc.dwBufferBytes = format.nAvgBytesPerSec;
  desc.lpwfxFormat = &format;
  IDirectSoundBuffer* buffer = nullptr;
  ds->CreateSoundBuffer(&desc, &buffer, nullptr);
  const auto noise = Noise(desc.dwBufferBytes, 7);
  double seconds = 0;
  for (auto _ : state) {
    void* p1;
    DWORD n1;
    buffer->Lock(0, desc.dwBufferBytes, &p1, &n1, nullptr, nullptr, 0);
    std::copy(noise.begin(), noise.end(), static_cast<std::uint8_t*>(p1));
    buffer->Unlock(p1, n1, nullptr, 0);
    buffer->Play(0, 0, 0);
    buffer->Stop();
    seconds += 1.0;
  }
  state.counters["audio_s_per_cpu_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  buffer->Release();
  ds->Release();
  CoUninitialize();
  sim::Reset();
}
BENCHMARK(BM_DeviceConvertOnPlay)->Unit(benchmark::kMillisecond);

// The peer: one SDL_AudioStream per voice converting to 44100 Hz 16-bit stereo, and
// SDL_MixAudioFormat summing them with a volume.
void BM_SdlStreamMixer(benchmark::State& state) {
  const int voices = static_cast<int>(state.range(0));
  struct Voice {
    SDL_AudioStream* stream;
    std::vector<std::uint8_t> data;
    std::size_t pos = 0;
    int volume;
  };
  std::vector<Voice> list;
  for (int i = 0; i < voices; ++i) {
    WAVEFORMATEX f = VoiceFormat(i);
    SDL_AudioStream* stream =
        SDL_NewAudioStream(f.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB, static_cast<Uint8>(f.nChannels),
                           static_cast<int>(f.nSamplesPerSec), AUDIO_S16LSB, 2, 44100);
    list.push_back({stream, Noise(f.nAvgBytesPerSec, static_cast<std::uint32_t>(i + 1)), 0,
                    SDL_MIX_MAXVOLUME * (4 - i % 4) / 4});
  }
  const std::size_t step = 44100 * kStepMs / 1000;
  std::vector<std::uint8_t> mix(step * 4), piece(step * 4);
  std::size_t frames = 0;
  for (auto _ : state) {
    std::fill(mix.begin(), mix.end(), 0);
    for (auto& v : list) {
      while (SDL_AudioStreamAvailable(v.stream) < static_cast<int>(piece.size())) {
        const std::size_t n = std::min<std::size_t>(4096, v.data.size() - v.pos);
        SDL_AudioStreamPut(v.stream, v.data.data() + v.pos, static_cast<int>(n));
        v.pos = (v.pos + n) % v.data.size();
      }
      SDL_AudioStreamGet(v.stream, piece.data(), static_cast<int>(piece.size()));
      SDL_MixAudioFormat(mix.data(), piece.data(), AUDIO_S16LSB, static_cast<Uint32>(piece.size()), v.volume);
    }
    frames += step;
    benchmark::DoNotOptimize(mix.data());
  }
  state.counters["audio_s_per_cpu_s"] =
      benchmark::Counter(static_cast<double>(frames) / 44100.0, benchmark::Counter::kIsRate);
  for (auto& v : list) SDL_FreeAudioStream(v.stream);
}
BENCHMARK(BM_SdlStreamMixer)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace
