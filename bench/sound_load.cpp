// Loading memory sounds. A 30-second Ogg Vorbis file, loaded by the library, side by
// side with the same file decoded by a plain ov_read loop (and by oggdec, when it is
// installed): the library's cost above the decoder. A 30-second RIFF WAVE file loaded
// by the library, in bytes per second.
//
// "first" is the first load of a fresh process (a forked child that has loaded nothing).
// The others run twice: first on the allocator as the process starts ("cold": glibc hands
// big blocks back to the system on free, so every load faults in fresh pages), then
// with freed memory kept for reuse ("warm", as in a game that loads sound after sound).
#include <benchmark/benchmark.h>
#include "ogg_encode.h"
#include <vorbis/vorbisfile.h>

#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "fresh_child.h"
#include "gamelib/gamelib.h"
#include "platform/sim.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 30;

// A stereo test signal: two sweeping tones and a little noise, so the encoder has work.
std::vector<float> Signal(int channel) {
  std::vector<float> s(static_cast<std::size_t>(kRate) * kSeconds);
  std::uint32_t noise = 12345u + static_cast<std::uint32_t>(channel);
  double phase = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    double t = static_cast<double>(i) / kRate;
    phase += 2 * M_PI * (220.0 + 40.0 * t + 300.0 * channel) / kRate;
    noise = noise * 1664525u + 1013904223u;
    s[i] = static_cast<float>(0.4 * std::sin(phase) + 0.2 * std::sin(3.1 * phase) +
                              0.05 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5));
  }
  return s;
}

bool WriteOgg(const std::string& path) {
  const std::vector<unsigned char> bytes = EncodeOggStereo(Signal(0), Signal(1), kRate);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = !bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

bool WriteWave(const std::string& path) {
  std::vector<float> left = Signal(0), right = Signal(1);
  std::vector<std::int16_t> pcm(left.size() * 2);
  for (std::size_t i = 0; i < left.size(); ++i) {
    pcm[2 * i] = static_cast<std::int16_t>(left[i] * 32767);
    pcm[2 * i + 1] = static_cast<std::int16_t>(right[i] * 32767);
  }
  std::uint32_t bytes = static_cast<std::uint32_t>(pcm.size() * 2);
  std::uint32_t header[11] = {0x46464952u, 36 + bytes, 0x45564157u, 0x20746D66u, 16,   0x00020001u,
                              kRate,       kRate * 4,  0x00100004u, 0x61746164u, bytes};
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fwrite(header, 1, sizeof header, out);
  std::fwrite(pcm.data(), 1, bytes, out);
  return std::fclose(out) == 0;
}

struct Files {
  std::string dir, ogg, wave;
  bool ok = false;
  Files() {
    dir = (std::filesystem::temp_directory_path() / ("gamelib-bench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    ogg = dir + "/thirty.ogg";
    wave = dir + "/thirty.wav";
    ok = WriteOgg(ogg) && WriteWave(wave);
  }
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

// The library, started once, with the sound device on the virtual clock (nothing mixes).
bool LibraryStarted() {
  static bool started = [] {
    sim::UseVirtualClock(true);
    return gamelib::InitializeLibrary() == 0 && gamelib::SetCreateSoundDataType(0) == 0;
  }();
  return started;
}

bool LoadAndDelete(const std::string& path) {
  int handle = gamelib::LoadSoundFile(path.c_str(), 1, -1);
  if (handle == -1) return false;
  benchmark::DoNotOptimize(handle);
  gamelib::DeleteSoundHandle(handle);
  return true;
}

bool LoadOggOnce() { return LoadAndDelete(TheFiles().ogg); }
bool LoadWaveOnce() { return LoadAndDelete(TheFiles().wave); }

void LibraryLoadsOgg(benchmark::State& state) {
  if (!TheFiles().ok || !LibraryStarted()) return state.SkipWithError("set-up failed");
  for (auto _ : state) {
    if (!LoadOggOnce()) return state.SkipWithError("load failed");
  }
}

// What a loader on vorbisfile alone does: decode the file into a new block of PCM.
bool OvReadOnce() {
  OggVorbis_File vf;
  if (ov_fopen(TheFiles().ogg.c_str(), &vf) != 0) return false;
  {
    vorbis_info* vi = ov_info(&vf, -1);
    std::size_t bytes = static_cast<std::size_t>(ov_pcm_total(&vf, -1)) * vi->channels * 2;
    char* pcm = static_cast<char*>(std::malloc(bytes));
    std::size_t at = 0;
    int bitstream = 0;
    for (;;) {
      long n = ov_read(&vf, pcm + at, static_cast<int>(std::min<std::size_t>(4096, bytes - at)), 0, 2, 1,
                       &bitstream);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    benchmark::DoNotOptimize(pcm);
    std::free(pcm);
    ov_clear(&vf);
  }
  return true;
}

void OvReadLoop(benchmark::State& state) {
  if (!TheFiles().ok) return state.SkipWithError("set-up failed");
  for (auto _ : state) {
    if (!OvReadOnce()) return state.SkipWithError("open failed");
  }
}

void Oggdec(benchmark::State& state) {
  if (!TheFiles().ok) return state.SkipWithError("set-up failed");
  if (std::system("command -v oggdec >/dev/null 2>&1") != 0)
    return state.SkipWithError("oggdec is not installed");
  std::string command = "oggdec -Q -o /dev/null '" + TheFiles().ogg + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) return state.SkipWithError("oggdec failed");
  }
}

void LibraryLoadsWave(benchmark::State& state) {
  if (!TheFiles().ok || !LibraryStarted()) return state.SkipWithError("set-up failed");
  for (auto _ : state) {
    if (!LoadWaveOnce()) return state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(TheFiles().wave)));
}

void KeepFreedMemory() {
  static bool done = [] {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    return true;
  }();
  benchmark::DoNotOptimize(done);
}

// The first load of a fresh process (the parent never loads).
template <bool (*Once)(), bool kLibrary>
void First(benchmark::State& state) {
  if (!TheFiles().ok) return state.SkipWithError("set-up failed");
  TimeEachInFreshChild(state, [] {
    if (kLibrary && !LibraryStarted()) return -1.0;
    auto start = std::chrono::steady_clock::now();
    if (!Once()) return -1.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  });
  if (Once == LoadWaveOnce) {
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(TheFiles().wave)));
  }
}

template <void (*Run)(benchmark::State&)>
void Warm(benchmark::State& state) {
  KeepFreedMemory();
  Run(state);
}

// First: they run before anything else has loaded in this process.
BENCHMARK(First<OvReadOnce, false>)
    ->Name("first/ogg_30s/plain_ov_read_loop")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(First<LoadOggOnce, true>)
    ->Name("first/ogg_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(First<LoadWaveOnce, true>)
    ->Name("first/wave_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(OvReadLoop)->Name("cold/ogg_30s/plain_ov_read_loop")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LibraryLoadsOgg)
    ->Name("cold/ogg_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(Oggdec)->Name("cold/ogg_30s/oggdec_to_dev_null")->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LibraryLoadsWave)
    ->Name("cold/wave_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK(Warm<OvReadLoop>)
    ->Name("warm/ogg_30s/plain_ov_read_loop")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(Warm<LibraryLoadsOgg>)
    ->Name("warm/ogg_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(Warm<LibraryLoadsWave>)
    ->Name("warm/wave_30s/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace
