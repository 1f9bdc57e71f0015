// A stream sound looping to a point: the cost of one message pump pass at 60 passes a
// second, with the loop point at the last sample (the loop is one sample long) beside a
// loop of one second, for Ogg Vorbis, IMA ADPCM and MP3 stream sounds of three seconds.
// A short loop is repeated from memory, so it costs no more than the long one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gamelib/gamelib.h"
#include "ogg_encode.h"
#include "platform/sim.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kPassesPerSecond = 60;
constexpr int kSeconds = 10;

Bytes ReadAll(const std::string& name) {
  std::ifstream in(std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound" / name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Three seconds of chords.
Bytes OggFile() {
  std::vector<float> left(kRate * 3), right(kRate * 3);
  for (std::size_t i = 0; i < left.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    left[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t));
    right[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 329.6 * t));
  }
  return EncodeOggStereo(left, right, kRate);
}
// The test file's blocks (each decodes on its own) repeated to about three seconds.
Bytes ImaFile() {
  Bytes file = ReadAll("acm/ima_s16_44100.wav");
  const std::size_t data = file.size() - 6656;  // the data chunk's body ends the file
  Bytes out(file.begin(), file.begin() + static_cast<long>(data));
  for (int i = 0; i < 20; ++i) out.insert(out.end(), file.begin() + static_cast<long>(data), file.end());
  PutLe32(out, data - 4, static_cast<std::uint32_t>(out.size() - data));
  PutLe32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}
// The test file's frames (after its ID3v2 tag) repeated to about three seconds.
Bytes Mp3File() {
  Bytes file = ReadAll("acm/mp3_s16_44100_128k_id3v2.mp3");
  const std::size_t start =
      10 + (std::size_t{file[6]} << 21 | std::size_t{file[7]} << 14 | std::size_t{file[8]} << 7 | file[9]);
  Bytes out;
  for (int i = 0; i < 10; ++i) out.insert(out.end(), file.begin() + static_cast<long>(start), file.end());
  return out;
}

std::string WriteTemp(const Bytes& bytes, const char* ext) {
  static int n = 0;
  const std::string name =
      (std::filesystem::temp_directory_path() /
       ("gamelib-loop-bench-" + std::to_string(getpid()) + "-" + std::to_string(++n) + ext))
          .string();
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return name;
}

const std::string& File(int kind) {
  static const std::string files[3] = {WriteTemp(OggFile(), ".ogg"), WriteTemp(ImaFile(), ".wav"),
                                       WriteTemp(Mp3File(), ".mp3")};
  return files[kind];
}

// range(0): 0 Ogg, 1 IMA ADPCM, 2 MP3; range(1): loop length in samples.
void BM_PumpPassLoopingStream(benchmark::State& state) {
  sim::Reset();
  sim::UseVirtualClock(true);
  if (gamelib::InitializeLibrary() != 0) return state.SkipWithError("library");
  gamelib::SetCreateSoundDataType(3);
  const int h = gamelib::LoadSoundFile(File(static_cast<int>(state.range(0))).c_str(), 1, -1);
  const int total = gamelib::GetSoundTotalSampleCount(h);
  if (h == -1 || gamelib::SetSoundLoopPoint(total - static_cast<int>(state.range(1)), h) != 0 ||
      gamelib::PlaySoundHandle(h, gamelib::kSoundPlayBackground, 1) != 0)
    return state.SkipWithError("the stream did not play");
  double pumped = 0, longest = 0;
  std::int64_t passes = 0;
  for (auto _ : state) {
    double seconds = 0;
    for (int pass = 0; pass < kSeconds * kPassesPerSecond; ++pass) {
      sim::AdvanceTimeMicros(1000000 / kPassesPerSecond);
      const auto start = Clock::now();
      gamelib::PumpWindowMessages();
      const double s = std::chrono::duration<double>(Clock::now() - start).count();
      seconds += s;
      longest = std::max(longest, s);
    }
    std::vector<std::int16_t> drop;
    sim::ReadMixedOutput(drop);
    state.SetIterationTime(seconds);
    pumped += seconds;
    passes += kSeconds * kPassesPerSecond;
  }
  state.counters["pass_us"] = pumped * 1e6 / static_cast<double>(passes);
  state.counters["max_pass_us"] = longest * 1e6;
  gamelib::DeleteSoundHandle(h);
  gamelib::TerminateLibrary();
  sim::Reset();
}
BENCHMARK(BM_PumpPassLoopingStream)
    ->ArgsProduct({{0, 1, 2}, {1, kRate}})
    ->ArgNames({"kind", "loop"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  for (int kind = 0; kind < 3; ++kind) std::filesystem::remove(File(kind));
  return 0;
}
