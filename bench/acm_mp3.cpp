// Loading a 30-second 128 kbit/s stereo MP3 as a memory sound (file read, frame scan,
// decoding through the compression manager into the sound buffer) beside decoding the
// same bytes with a plain libmpg123 feed loop. The MP3 is the test file's frames
// repeated to 30 seconds, written to a temporary file.
#include <benchmark/benchmark.h>
#include <mpg123.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fresh_child.h"
#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
#include "platform/sim.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 1149;  // 1149 x 1152 samples at 44100 Hz: 30.0 s

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  Bytes bytes(std::filesystem::file_size(path));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// The test file without its ID3v2 tag, its frames repeated to kFrames.
Bytes ThirtySecondMp3() {
  Bytes file =
      ReadAll(std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound/acm/mp3_s16_44100_128k_id3v2.mp3");
  std::size_t pos =
      10 + (std::size_t{file[6]} << 21 | std::size_t{file[7]} << 14 | std::size_t{file[8]} << 7 | file[9]);
  std::vector<Bytes> frames;
  while (pos + 4 <= file.size() && file[pos] == 0xFF) {
    std::size_t length = 144000 * 128 / 44100 + ((file[pos + 2] >> 1) & 1);
    if (pos + length > file.size()) break;
    frames.emplace_back(file.begin() + static_cast<long>(pos),
                        file.begin() + static_cast<long>(pos + length));
    pos += length;
  }
  Bytes out;
  for (int i = 0; i < kFrames; ++i)
    out.insert(out.end(), frames[i % frames.size()].begin(), frames[i % frames.size()].end());
  return out;
}

const Bytes& Mp3() {
  static const Bytes bytes = ThirtySecondMp3();
  return bytes;
}

const std::string& Mp3Path() {
  static const std::string path = [] {
    std::string p =
        (std::filesystem::temp_directory_path() / ("gamelib-bench-" + std::to_string(getpid()) + ".mp3"))
            .string();
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Mp3().data()), static_cast<std::streamsize>(Mp3().size()));
    return p;
  }();
  return path;
}

void BM_LoadMp3AsMemorySound(benchmark::State& state) {
  sim::Reset();
  gamelib::SetOutApplicationLogValidFlag(0);
  if (gamelib::InitializeLibrary() != 0) {
    state.SkipWithError("library start-up failed");
    return;
  }
  gamelib::SetCreateSoundDataType(0);
  std::int64_t samples = 0;
  for (auto _ : state) {
    int handle = gamelib::LoadSoundFile(Mp3Path().c_str(), 1, -1);
    if (handle == -1) {
      state.SkipWithError("load failed");
      break;
    }
    samples = gamelib::GetSoundTotalSampleCount(handle);
    gamelib::DeleteSoundHandle(handle);
  }
  gamelib::TerminateLibrary();
  state.counters["seconds"] = static_cast<double>(samples) / 44100.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Mp3().size()));
}

// The same load from the file read into memory by the caller (as the peer reads it):
// the file system's part of the load left out.
void BM_LoadMp3FromMemory(benchmark::State& state) {
  sim::Reset();
  gamelib::SetOutApplicationLogValidFlag(0);
  if (gamelib::InitializeLibrary() != 0) {
    state.SkipWithError("library start-up failed");
    return;
  }
  gamelib::SetCreateSoundDataType(0);
  std::int64_t samples = 0;
  for (auto _ : state) {
    Bytes file = ReadAll(Mp3Path());
    int handle = gamelib::LoadSoundFromMemory(file.data(), static_cast<int>(file.size()), 1, -1);
    if (handle == -1) {
      state.SkipWithError("load failed");
      break;
    }
    samples = gamelib::GetSoundTotalSampleCount(handle);
    gamelib::DeleteSoundHandle(handle);
  }
  gamelib::TerminateLibrary();
  state.counters["seconds"] = static_cast<double>(samples) / 44100.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Mp3().size()));
}

// The peer: read the file, feed it to libmpg123 whole, take every frame's PCM.
std::int64_t PlainLibmpg123Once() {
  {
    Bytes file = ReadAll(Mp3Path());
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_open_feed(mh);
    mpg123_feed(mh, file.data(), file.size());
    Bytes pcm;
    pcm.reserve(static_cast<std::size_t>(kFrames) * 1152 * 4);
    for (;;) {
      off_t number = 0;
      unsigned char* audio = nullptr;
      std::size_t bytes = 0;
      int r = mpg123_decode_frame(mh, &number, &audio, &bytes);
      if (r == MPG123_NEW_FORMAT) continue;
      if (r != MPG123_OK) break;
      pcm.insert(pcm.end(), audio, audio + bytes);
    }
    mpg123_delete(mh);
    benchmark::DoNotOptimize(pcm.data());
    return static_cast<std::int64_t>(pcm.size() / 4);
  }
}

void BM_PlainLibmpg123(benchmark::State& state) {
  mpg123_init();
  std::int64_t samples = 0;
  for (auto _ : state) samples = PlainLibmpg123Once();
  state.counters["seconds"] = static_cast<double>(samples) / 44100.0;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(Mp3().size()));
}

int StartLibraryForLoads() {
  gamelib::SetOutApplicationLogValidFlag(0);
  if (gamelib::InitializeLibrary() != 0) return -1;
  gamelib::SetCreateSoundDataType(0);
  return 0;
}

// The first load of a fresh process: each iteration forks a child that has decoded and
// loaded nothing and times one run there (the library's start-up is not timed).
template <bool kLibrary>
void BM_FirstLoad(benchmark::State& state) {
  Mp3Path();
  TimeEachInFreshChild(state, [] {
    double seconds = -1;
    if (kLibrary) {
      sim::Reset();
      if (StartLibraryForLoads() == 0) {
        auto start = std::chrono::steady_clock::now();
        int handle = gamelib::LoadSoundFile(Mp3Path().c_str(), 1, -1);
        if (handle != -1) {
          seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
          gamelib::DeleteSoundHandle(handle);
        }
      }
    } else {
      mpg123_init();
      auto start = std::chrono::steady_clock::now();
      if (PlainLibmpg123Once() > 0)
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return seconds;
  });
}

// First: they run before anything else has decoded or loaded in this process.
BENCHMARK(BM_FirstLoad<false>)
    ->Name("BM_FirstLoad/plain_libmpg123")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(BM_FirstLoad<true>)
    ->Name("BM_FirstLoad/library_memory_sound")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(BM_PlainLibmpg123)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadMp3FromMemory)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadMp3AsMemorySound)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

struct RemoveTemporary {
  ~RemoveTemporary() { std::remove(Mp3Path().c_str()); }
} removeTemporary;

}  // namespace
