// gamelib-play FILE...: loads each sound file through the library, prints what the
// library made of it (format, length in samples), plays it as a memory sound and
// waits for its end, on the real audio device when one opens (GAMELIB_AUDIO chooses
// another output). With --out MIX.wav it renders offline instead, as fast as it can,
// and writes the mix (44100 Hz, 16-bit stereo) there: no sound device needed.
// With --stream the files (up to three) make one stream sound, played from its ring
// as the message pump refills it, --fps times a second.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "gamelib/gamelib.h"
#include "platform/sim.h"
#include "tool_files.h"

namespace {

constexpr std::uint64_t kMaxRenderMs = 10ull * 60 * 1000;  // what the offline output keeps

void Usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [--out MIX.wav] [--stream[=TYPE]] [--loops N] [--loop-point SAMPLES]\n"
               "          [--fps N] [--seconds S] FILE...\n"
               "  plays each RIFF WAVE, MP3 or Ogg Vorbis file through the library; with --out\n"
               "  it renders offline and writes the mix to MIX.wav instead of playing it\n"
               "  --stream          the files (at most three, of one format) make one stream\n"
               "                    sound; TYPE is the create type, 1 to 3 (default 3)\n"
               "  --loops N         stream files play N more times each (255: endlessly)\n"
               "  --loop-point S    after its end the sound goes on from sample S, endlessly\n"
               "  --fps N           message pump passes a second while playing (default 60)\n"
               "  --seconds S       stop after S seconds (an endless loop plays until stopped)\n",
               self);
}

struct Options {
  const char* outPath = nullptr;
  bool stream = false;
  int createType = 3;
  int loops = 0;
  long long loopPoint = -1;
  int fps = 60;
  double seconds = 0.0;  // 0: to the end
  std::vector<const char*> files;
};

// A whole number in [low, high] from the text, or false.
bool ParseNumber(const char* text, long long low, long long high, long long* value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

// Parses the command line; returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    long long v = 0;
    if (std::strcmp(a, "--out") == 0 && next != nullptr) {
      o->outPath = argv[++i];
    } else if (std::strcmp(a, "--stream") == 0) {
      o->stream = true;
    } else if (std::strncmp(a, "--stream=", 9) == 0 && ParseNumber(a + 9, 1, 3, &v)) {
      o->stream = true;
      o->createType = static_cast<int>(v);
    } else if (std::strcmp(a, "--loops") == 0 && ParseNumber(next, 0, 255, &v)) {
      o->loops = static_cast<int>(v);
      ++i;
    } else if (std::strcmp(a, "--loop-point") == 0 && ParseNumber(next, 0, INT32_MAX, &v)) {
      o->loopPoint = v;
      ++i;
    } else if (std::strcmp(a, "--fps") == 0 && ParseNumber(next, 1, 1000, &v)) {
      o->fps = static_cast<int>(v);
      ++i;
    } else if (std::strcmp(a, "--seconds") == 0 && next != nullptr && std::strtod(next, nullptr) > 0.0) {
      o->seconds = std::strtod(argv[++i], nullptr);
    } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      Usage(argv[0]);
      return 0;
    } else if (a[0] == '-' && a[1] != '\0') {
      Usage(argv[0]);
      return 2;
    } else {
      o->files.push_back(a);
    }
  }
  if (o->files.empty()) {
    Usage(argv[0]);
    return 2;
  }
  if (o->loops != 0 && !o->stream) {
    std::fprintf(stderr, "gamelib-play: --loops is for stream sounds (give --stream)\n");
    return 2;
  }
  if (o->stream && o->files.size() > 3) {
    std::fprintf(stderr, "gamelib-play: a stream sound takes at most three files\n");
    return 2;
  }
  return -1;
}

// The library's view of a loaded sound; `file` names it.
void Describe(const char* file, int handle) {
  int channels = 0;
  int bits = 0;
  int rate = 0;
  const int kind = gamelib::GetSoundKind(handle);
  int samples = gamelib::GetSoundTotalSampleCount(handle);
  if (kind == -1 || gamelib::GetSoundFormat(handle, &channels, &bits, &rate) != 0) return;
  double seconds = rate != 0 ? static_cast<double>(samples) / rate : 0.0;
  std::printf("%s: %s, %d Hz, %d-bit, %s; %d samples (%.3f s)\n", file,
              kind == gamelib::kSoundKindStream ? "stream sound" : "memory sound", rate, bits,
              channels == 1   ? "mono"
              : channels == 2 ? "stereo"
                              : "?",
              samples, seconds);
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

// Plays the sound with the pump running `fps` times a second, until it ends, the
// window closes or the time is up; renders offline when `mix` is given.
void Run(int handle, const Options& o, std::vector<std::int16_t>* mix, std::uint64_t* renderedMicros) {
  if (gamelib::PlaySoundHandle(handle, gamelib::kSoundPlayBackground, 1) != 0) return;
  std::vector<std::int16_t> piece;
  const std::uint64_t limitMicros =
      o.seconds > 0.0 ? static_cast<std::uint64_t>(o.seconds * 1e6) : UINT64_MAX;
  std::uint64_t micros = 0;
  for (std::uint64_t pass = 1; gamelib::CheckSoundHandlePlaying(handle) == 1; ++pass) {
    const std::uint64_t due = pass * 1000000 / static_cast<std::uint64_t>(o.fps);
    const std::uint64_t step = due - micros;
    micros = due;
    if (mix != nullptr) {
      if (*renderedMicros >= kMaxRenderMs * 1000) break;
      sim::AdvanceTimeMicros(step);
      *renderedMicros += step;
    } else {
      Sleep(static_cast<DWORD>(due / 1000 - (due - step) / 1000));
    }
    if (gamelib::PumpWindowMessages() == -1) break;
    if (mix != nullptr) {
      sim::ReadMixedOutput(piece);
      mix->insert(mix->end(), piece.begin(), piece.end());
    }
    if (micros >= limitMicros) break;
  }
  gamelib::StopSoundHandle(handle);
}

// The files as one stream sound, as the loader makes one: -1 when one is refused.
int LoadStream(const Options& o) {
  int handle = gamelib::MakeStreamSoundHandle();
  if (handle == -1) return -1;
  for (const char* file : o.files) {
    if (gamelib::AddStreamSoundFile(file, static_cast<std::uint8_t>(o.loops), handle, o.createType, -1) !=
        0) {
      ExplainFailure(file);
      gamelib::DeleteSoundHandle(handle);
      return -1;
    }
  }
  gamelib::PrepareStreamSound(handle);
  return handle;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int code = ParseOptions(argc, argv, &o); code != -1) return code;

  // Offline rendering: time moves only as fast as this loop drives it.
  if (o.outPath != nullptr) sim::UseVirtualClock(true);
  if (gamelib::InitializeLibrary() != 0) {
    std::fprintf(stderr, "gamelib-play: the library did not start\n");
    return 1;
  }
  if (gamelib::SetCreateSoundDataType(o.stream ? o.createType : 0) != 0) {
    std::fprintf(stderr, "gamelib-play: the sound system did not start\n");
    gamelib::TerminateLibrary();
    return 1;
  }
  std::printf("output: %s\n", sim::SoundOutputName().c_str());

  int failed = 0;
  std::vector<std::int16_t> mix;
  std::vector<std::int16_t> piece;
  std::uint64_t renderedMicros = 0;
  // One stream sound of every file, or one memory sound per file.
  std::vector<const char*> sounds = o.stream ? std::vector<const char*>{o.files[0]} : o.files;
  for (const char* file : sounds) {
    int handle = o.stream ? LoadStream(o) : gamelib::LoadSoundFile(file, 1, -1);
    if (handle == -1) {
      if (!o.stream) ExplainFailure(file);
      ++failed;
      continue;
    }
    // A loop point, or a loop count of 255, loops the (first) file endlessly.
    bool endless = o.loops == 255;
    if (o.loopPoint >= 0) {
      if (gamelib::SetSoundLoopPoint(static_cast<int>(o.loopPoint), handle) == 0) {
        endless = true;
      } else {
        std::fprintf(stderr, "%s: loop point %lld refused (past the end, or a sound of several files)\n",
                     file, o.loopPoint);
        ++failed;
      }
    }
    // One stream sound of several files is not one file's.
    Describe(o.stream && o.files.size() > 1 ? "stream" : file, handle);
    if (gamelib::GetSoundKind(handle) == gamelib::kSoundKindStream && o.seconds <= 0.0 && endless) {
      std::printf("%s: loops endlessly (give --seconds to stop it)\n", file);
    }
    std::fflush(stdout);
    Run(handle, o, o.outPath != nullptr ? &mix : nullptr, &renderedMicros);
    gamelib::DeleteSoundHandle(handle);
  }
  if (o.outPath != nullptr) {
    // The last step may hold a few frames of silence past the end: keep them, it is
    // what the device played.
    sim::ReadMixedOutput(piece);
    mix.insert(mix.end(), piece.begin(), piece.end());
    if (!tools::WriteWave(o.outPath, 2, 44100, mix)) {
      std::fprintf(stderr, "gamelib-play: cannot write %s\n", o.outPath);
      failed = failed == 0 ? 1 : failed;
    } else {
      std::printf("wrote %s: %zu samples at 44100 Hz, 16-bit stereo\n", o.outPath, mix.size() / 2);
    }
  }
  gamelib::TerminateLibrary();
  return failed == 0 ? 0 : 1;
}
