// Streaming music: the cost of one message pump pass while one 44100 Hz stereo Ogg Vorbis
// stream sound plays, averaged over a minute of music at 60 passes a second, and what
// share of one core that is. Beside it, the same minute decoded by a plain ov_read loop
// (the decoder alone) and the pump with no stream, so that what streaming costs beyond
// the decoder shows. The device's mixing runs between the passes and is not counted.
#include <benchmark/benchmark.h>
#include "ogg_encode.h"
#include <vorbis/vorbisfile.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gamelib/gamelib.h"
#include "platform/sim.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;
constexpr int kPassesPerSecond = 60;
constexpr int kPasses = kSeconds * kPassesPerSecond;
using Clock = std::chrono::steady_clock;

// A minute of something music-like (chords that change every half second, a beat of
// noise bursts, a slow pan), so the encoder spends its bits as it would on music.
std::vector<float> Music(int channel) {
  static const double kChords[4][3] = {
      {220.0, 277.2, 329.6}, {196.0, 246.9, 293.7}, {174.6, 220.0, 261.6}, {164.8, 207.7, 246.9}};
  std::vector<float> out(static_cast<std::size_t>(kRate) * kSeconds);
  std::uint32_t seed = 12345 + channel;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const int chord = static_cast<int>(t * 2) % 4;
    double v = 0;
    for (double f : kChords[chord]) v += std::sin(2 * M_PI * f * (channel == 0 ? 1.0 : 1.003) * t);
    seed = seed * 1664525u + 1013904223u;
    const double beat = std::fmod(t, 0.25) < 0.03 ? (static_cast<double>(seed >> 8) / (1 << 24) - 0.5) : 0.0;
    const double pan = 0.5 + 0.4 * std::sin(2 * M_PI * 0.1 * t) * (channel == 0 ? 1 : -1);
    out[i] = static_cast<float>(0.18 * v * pan + 0.5 * beat);
  }
  return out;
}

std::vector<unsigned char> EncodeMusic() { return EncodeOggStereo(Music(0), Music(1), kRate); }

// The minute of music, encoded once and kept in a file for the library to stream.
const std::string& MusicFile() {
  static const std::string path = [] {
    const std::vector<unsigned char> bytes = EncodeMusic();
    std::string name = (std::filesystem::temp_directory_path() /
                        ("gamelib-stream-bench-" + std::to_string(getpid()) + ".ogg"))
                           .string();
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) name.clear();
    if (f != nullptr) std::fclose(f);
    std::atexit([] { std::filesystem::remove(MusicFile()); });
    return name;
  }();
  return path;
}

const std::vector<unsigned char>& MusicBytes() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> b;
    std::FILE* f = std::fopen(MusicFile().c_str(), "rb");
    if (f == nullptr) return b;
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    return b;
  }();
  return bytes;
}

// The library started on the virtual clock, for one benchmark.
struct Library {
  Library() {
    sim::Reset();
    sim::UseVirtualClock(true);
    ok = gamelib::InitializeLibrary() == 0;
  }
  ~Library() {
    gamelib::TerminateLibrary();
    sim::Reset();
  }
  bool ok = false;
};

struct Minute {
  double pumpSeconds = 0;  // in the pump passes only
  double loadSeconds = 0;  // the load (with the ring's first four seconds) and the start
  double longestPass = 0;
};

// A minute of the game's loop at 60 passes a second: the clock moves a frame (the
// device mixes it), then the pump runs; only the pump is timed. With createType 0 no
// stream plays.
Minute PumpAMinute(int createType) {
  Minute m;
  int handle = -1;
  if (createType != 0) {
    gamelib::SetCreateSoundDataType(createType);
    const auto start = Clock::now();
    handle = gamelib::LoadSoundFile(MusicFile().c_str(), 1, -1);
    if (handle == -1 || gamelib::PlaySoundHandle(handle, gamelib::kSoundPlayBackground, 1) != 0)
      return {-1, 0, 0};
    m.loadSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::uint64_t done = 0;
  for (int pass = 1; pass <= kPasses; ++pass) {
    const std::uint64_t due = static_cast<std::uint64_t>(pass) * 1000000 / kPassesPerSecond;
    sim::AdvanceTimeMicros(due - done);
    done = due;
    const auto start = Clock::now();
    gamelib::PumpWindowMessages();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.pumpSeconds += seconds;
    m.longestPass = std::max(m.longestPass, seconds);
  }
  std::vector<std::int16_t> drop;
  sim::ReadMixedOutput(drop);
  if (handle != -1) gamelib::DeleteSoundHandle(handle);
  return m;
}

// The decoder alone: the same minute through ov_read in the converter's 4096-byte blocks.
struct MemorySource {
  const std::vector<unsigned char>* bytes;
  std::size_t at;
};
std::size_t ReadMemory(void* out, std::size_t size, std::size_t count, void* source) {
  auto* s = static_cast<MemorySource*>(source);
  const std::size_t n = std::min(size * count, s->bytes->size() - s->at);
  std::memcpy(out, s->bytes->data() + s->at, n);
  s->at += n;
  return size == 0 ? 0 : n / size;
}
int SeekMemory(void* source, ogg_int64_t offset, int whence) {
  auto* s = static_cast<MemorySource*>(source);
  const ogg_int64_t base = whence == SEEK_SET   ? 0
                           : whence == SEEK_CUR ? static_cast<ogg_int64_t>(s->at)
                                                : static_cast<ogg_int64_t>(s->bytes->size());
  if (base + offset < 0 || base + offset > static_cast<ogg_int64_t>(s->bytes->size())) return -1;
  s->at = static_cast<std::size_t>(base + offset);
  return 0;
}
long TellMemory(void* source) { return static_cast<long>(static_cast<MemorySource*>(source)->at); }

double DecodeAMinute(std::size_t* decodedBytes) {
  const auto start = Clock::now();
  MemorySource source{&MusicBytes(), 0};
  OggVorbis_File vf;
  const ov_callbacks callbacks = {ReadMemory, SeekMemory, nullptr, TellMemory};
  if (ov_open_callbacks(&source, &vf, nullptr, 0, callbacks) != 0) return -1;
  char block[4096];
  int bitstream = 0;
  std::size_t total = 0;
  for (long got; (got = ov_read(&vf, block, sizeof block, 0, 2, 1, &bitstream)) > 0;) total += got;
  ov_clear(&vf);
  benchmark::DoNotOptimize(total);
  *decodedBytes = total;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Per-minute figures summed over the iterations, reported as their average.
struct Totals {
  double seconds = 0;
  double longest = 0;
  void Add(double s, double l) {
    seconds += s;
    longest = std::max(longest, l);
  }
  void Report(benchmark::State& state) const {
    state.counters["pass_us"] =
        benchmark::Counter(seconds * 1e6 / kPasses, benchmark::Counter::kAvgIterations);
    state.counters["core_%"] =
        benchmark::Counter(seconds * 100.0 / kSeconds, benchmark::Counter::kAvgIterations);
    if (longest > 0) state.counters["max_pass_us"] = longest * 1e6;
  }
};

void BM_PumpMinuteWithOggStream(benchmark::State& state) {
  Library library;
  if (!library.ok || MusicFile().empty()) return state.SkipWithError("library or music missing");
  Totals totals;
  double load = 0;
  for (auto _ : state) {
    Minute m = PumpAMinute(static_cast<int>(state.range(0)));
    if (m.pumpSeconds < 0) return state.SkipWithError("the stream did not play");
    state.SetIterationTime(m.pumpSeconds);
    totals.Add(m.pumpSeconds, m.longestPass);
    load += m.loadSeconds;
  }
  totals.Report(state);
  state.counters["load_ms"] = benchmark::Counter(load * 1e3, benchmark::Counter::kAvgIterations);
}

void BM_PumpMinuteWithoutStream(benchmark::State& state) {
  Library library;
  if (!library.ok) return state.SkipWithError("library missing");
  Totals totals;
  for (auto _ : state) {
    Minute m = PumpAMinute(0);
    state.SetIterationTime(m.pumpSeconds);
    totals.Add(m.pumpSeconds, m.longestPass);
  }
  totals.Report(state);
}

void BM_DecodeMinuteAlone(benchmark::State& state) {
  if (MusicBytes().empty()) return state.SkipWithError("music missing");
  std::size_t bytes = 0;
  Totals totals;
  for (auto _ : state) {
    const double seconds = DecodeAMinute(&bytes);
    if (seconds < 0) return state.SkipWithError("ov_open_callbacks failed");
    state.SetIterationTime(seconds);
    totals.Add(seconds, 0);
  }
  totals.Report(state);
  state.counters["decoded_s"] = static_cast<double>(bytes) / (kRate * 4);
}

// Both in one iteration: what streaming costs beyond the decoder (and beyond the pump's
// own message handling), as a share of one core.
void BM_StreamingBeyondTheDecoder(benchmark::State& state) {
  Library library;
  if (!library.ok || MusicBytes().empty()) return state.SkipWithError("library or music missing");
  double beyond = 0;
  double decoder = 0;
  for (auto _ : state) {
    const Minute stream = PumpAMinute(static_cast<int>(state.range(0)));
    const Minute idle = PumpAMinute(0);
    std::size_t bytes = 0;
    const double decoded = DecodeAMinute(&bytes);
    // The stream's whole minute of decoding: the first four seconds at the load, the
    // rest in the passes.
    beyond += stream.loadSeconds + stream.pumpSeconds - idle.pumpSeconds - decoded;
    decoder += decoded;
    state.SetIterationTime(stream.loadSeconds + stream.pumpSeconds);
  }
  state.counters["beyond_decoder_core_%"] =
      benchmark::Counter(beyond * 100.0 / kSeconds, benchmark::Counter::kAvgIterations);
  state.counters["beyond_decoder_pass_us"] =
      benchmark::Counter(beyond * 1e6 / kPasses, benchmark::Counter::kAvgIterations);
  state.counters["decoder_core_%"] =
      benchmark::Counter(decoder * 100.0 / kSeconds, benchmark::Counter::kAvgIterations);
}

}  // namespace

// Argument: the create type of the load (3 reads the file while playing, 2 keeps the
// file image in memory).
BENCHMARK(BM_PumpMinuteWithOggStream)
    ->Arg(3)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_PumpMinuteWithoutStream)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodeMinuteAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StreamingBeyondTheDecoder)
    ->Arg(3)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);
