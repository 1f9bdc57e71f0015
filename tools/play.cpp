// gamelib-play FILE...: loads each sound file through the library, prints what the
// library made of it (format, length in samples), plays it as a memory sound and
// waits for its end, on the real audio device when one opens (GAMELIB_AUDIO chooses
// another output). With --out MIX.wav it renders offline instead, as fast as it can,
// and writes the mix (44100 Hz, 16-bit stereo) there: no sound device needed.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "gamelib/gamelib.h"
#include "platform/sim.h"
#include "sound/sound_handles.h"

namespace {

constexpr unsigned kStepMs = 10;
constexpr std::uint64_t kMaxRenderMs = 10ull * 60 * 1000;  // what the offline output keeps

void Usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [--out MIX.wav] FILE...\n"
               "  plays each RIFF WAVE, MP3 or Ogg Vorbis file through the library; with --out\n"
               "  it renders offline and writes the mix to MIX.wav instead of playing it\n",
               self);
}

void PutLe(std::string& s, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool WriteWave(const char* path, const std::vector<std::int16_t>& frames) {
  const std::uint64_t dataBytes = frames.size() * sizeof(std::int16_t);
  if (dataBytes > 0xFFFFFFFFull - 36) return false;
  std::string header = "RIFF";
  PutLe(header, static_cast<std::uint32_t>(36 + dataBytes), 4);
  header += "WAVEfmt ";
  PutLe(header, 16, 4);
  PutLe(header, 1, 2);           // PCM
  PutLe(header, 2, 2);           // stereo
  PutLe(header, 44100, 4);       // samples per second
  PutLe(header, 44100 * 4, 4);   // bytes per second
  PutLe(header, 4, 2);           // block
  PutLe(header, 16, 2);          // bits
  header += "data";
  PutLe(header, static_cast<std::uint32_t>(dataBytes), 4);
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return false;
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  if (ok && !frames.empty()) ok = std::fwrite(frames.data(), 1, dataBytes, out) == dataBytes;
  return std::fclose(out) == 0 && ok;
}

// The library's view of a loaded sound.
void Describe(const char* file, int handle) {
  const gamelib::SoundHandleRecord* record = gamelib::GetSoundHandleRecord(handle);
  int samples = gamelib::GetSoundTotalSampleCount(handle);
  if (record == nullptr) return;
  const WAVEFORMATEX f = record->format;
  double seconds = f.nSamplesPerSec != 0 ? static_cast<double>(samples) / f.nSamplesPerSec : 0.0;
  std::printf("%s: %s, %u Hz, %u-bit, %s; %d samples (%.3f s)\n", file,
              record->soundKind == gamelib::SOUND_KIND_STREAM ? "stream sound" : "memory sound",
              static_cast<unsigned>(f.nSamplesPerSec), static_cast<unsigned>(f.wBitsPerSample),
              f.nChannels == 1 ? "mono" : f.nChannels == 2 ? "stereo" : "?", samples, seconds);
}

void ExplainFailure(const char* file) {
  struct stat st;
  if (stat(file, &st) != 0) {
    std::fprintf(stderr, "%s: cannot load: %s\n", file, std::strerror(errno));
  } else if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "%s: cannot load: not a regular file\n", file);
  } else {
    std::fprintf(stderr,
                 "%s: cannot load: not a sound file the library reads (RIFF WAVE, MP3 or Ogg Vorbis),"
                 " or a format the sound device does not take\n",
                 file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* outPath = nullptr;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      outPath = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(argv[0]);
      return 0;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      Usage(argv[0]);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    Usage(argv[0]);
    return 2;
  }

  // Offline rendering: time moves only as fast as this loop drives it.
  if (outPath != nullptr) sim::UseVirtualClock(true);
  if (gamelib::InitializeLibrary() != 0) {
    std::fprintf(stderr, "gamelib-play: the library did not start\n");
    return 1;
  }
  if (gamelib::SetCreateSoundDataType(0) != 0) {
    std::fprintf(stderr, "gamelib-play: the sound system did not start\n");
    gamelib::TerminateLibrary();
    return 1;
  }
  std::printf("output: %s\n", sim::SoundOutputName().c_str());

  int failed = 0;
  std::vector<std::int16_t> mix;
  std::vector<std::int16_t> piece;
  std::uint64_t renderedMs = 0;
  for (const char* file : files) {
    int handle = gamelib::LoadSoundFile(file, 1, -1);
    if (handle == -1) {
      ExplainFailure(file);
      ++failed;
      continue;
    }
    Describe(file, handle);
    std::fflush(stdout);
    if (outPath == nullptr) {
      gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_WAIT, 1);
    } else if (gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1) == 0) {
      while (gamelib::CheckSoundHandlePlaying(handle) == 1 && renderedMs < kMaxRenderMs) {
        sim::AdvanceTime(kStepMs);
        renderedMs += kStepMs;
        if (gamelib::PumpWindowMessages() == -1) break;
        sim::ReadMixedOutput(piece);
        mix.insert(mix.end(), piece.begin(), piece.end());
      }
    }
    gamelib::DeleteSoundHandle(handle);
  }
  if (outPath != nullptr) {
    // The last step may hold a few frames of silence past the end: keep them, it is
    // what the device played.
    sim::ReadMixedOutput(piece);
    mix.insert(mix.end(), piece.begin(), piece.end());
    if (!WriteWave(outPath, mix)) {
      std::fprintf(stderr, "gamelib-play: cannot write %s\n", outPath);
      failed = failed == 0 ? 1 : failed;
    } else {
      std::printf("wrote %s: %zu samples at 44100 Hz, 16-bit stereo\n", outPath, mix.size() / 2);
    }
  }
  gamelib::TerminateLibrary();
  return failed == 0 ? 0 : 1;
}
