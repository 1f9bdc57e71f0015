// Where the mix goes. The output opens when the first device is initialised and
// closes with the last one:
//   offline  - mixes as the virtual clock moves (always, while a test uses that clock);
//   null     - mixes in real time and drops the sound (no audio device);
//   wav:PATH - mixes in real time into a RIFF WAVE file;
//   sdl      - a real audio device pulls the mix.
// GAMELIB_AUDIO picks one; without it a real device is used when one opens.
#include <SDL2/SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "dsound_internal.h"
#include "platform/sim.h"

namespace platform::dsound {
namespace {

enum class Kind { None, Offline, Null, Wav, Sdl };

constexpr std::size_t kMaxCapturedFrames = std::size_t{kOutputRate} * 600;  // ten minutes
constexpr std::uint32_t kWavHeaderBytes = 44;

// Library thread only.
struct Output {
  Kind kind = Kind::None;
  int devices = 0;  // initialised devices alive
  std::thread thread;
  std::mutex stopMutex;
  std::condition_variable stopSignal;
  bool stop = false;
  std::FILE* wav = nullptr;
  std::uint64_t wavDataBytes = 0;  // written by the thread; read after it joined
  SDL_AudioDeviceID sdl = 0;
  bool sdlFailed = false;  // do not try a missing device again and again
};

Output& Out() {
  static auto* output = new Output;
  return *output;
}

// Frames of the whole mix made by time t: floor(t * 44100 / 1e6), with no drift.
std::uint64_t FramesAt(std::uint64_t micros) {
  return static_cast<std::uint64_t>(static_cast<unsigned __int128>(micros) * kOutputRate / 1000000u);
}

void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void WriteWavHeader(std::FILE* file, std::uint32_t dataBytes) {
  std::uint8_t h[kWavHeaderBytes];
  std::memcpy(h, "RIFF", 4);
  PutLE32(h + 4, 36 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLE32(h + 16, 16);
  PutLE16(h + 20, WAVE_FORMAT_PCM);
  PutLE16(h + 22, 2);
  PutLE32(h + 24, kOutputRate);
  PutLE32(h + 28, kOutputRate * 4);
  PutLE16(h + 32, 4);
  PutLE16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutLE32(h + 40, dataBytes);
  std::fseek(file, 0, SEEK_SET);
  std::fwrite(h, 1, sizeof h, file);
}

// The real-time thread of the null and wav outputs: mixes what the clock says is due.
void RealTimeLoop(Output* out) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::uint64_t made = 0;
  std::vector<std::int16_t> frames;
  // A RIFF file holds at most 4 GiB of data.
  const std::uint64_t maxWavBytes = 0xFFFFFFFFu - 36u - 3u;
  for (;;) {
    {
      std::unique_lock lock(out->stopMutex);
      if (out->stopSignal.wait_for(lock, std::chrono::milliseconds(5), [out] { return out->stop; })) break;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    std::uint64_t due = FramesAt(static_cast<std::uint64_t>(elapsed)) - made;
    // In pieces, so a long stall (a debugger, a suspended process) needs no big buffer.
    while (due > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(due, 4096));
      frames.resize(2 * n);
      {
        std::lock_guard lock(State().mutex);
        MixLocked(frames.data(), n);
      }
      made += n;
      due -= n;
      if (out->wav != nullptr && out->wavDataBytes + 4 * n <= maxWavBytes) {
        out->wavDataBytes += 4 * std::fwrite(frames.data(), 4, n, out->wav);
      }
    }
  }
}

void SdlCallback(void*, Uint8* stream, int length) {
  std::lock_guard lock(State().mutex);
  MixLocked(reinterpret_cast<std::int16_t*>(stream), static_cast<std::size_t>(length) / 4);
}

// Whether trying the audio library is worth it: a sound card or a sound server.
bool AudioDeviceLikely() {
  struct stat info {};
  if (stat("/dev/snd", &info) == 0) return true;
  if (std::getenv("PULSE_SERVER") != nullptr) return true;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
    for (const char* socket : {"/pulse/native", "/pipewire-0"}) {
      if (stat((std::string(runtime) + socket).c_str(), &info) == 0) return true;
    }
  }
  return false;
}

bool OpenSdl(Output& out) {
  if (out.sdlFailed) return false;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    out.sdlFailed = true;
    return false;
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(kOutputRate);
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = &SdlCallback;
  SDL_AudioSpec have{};
  out.sdl = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (out.sdl == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.sdlFailed = true;
    return false;
  }
  SDL_PauseAudioDevice(out.sdl, 0);
  return true;
}

void StartThread(Output& out) {
  out.stop = false;
  out.thread = std::thread(RealTimeLoop, &out);
}

void Open(Kind kind, const std::string& path = {}) {
  Output& out = Out();
  if (kind == Kind::Sdl && !OpenSdl(out)) kind = Kind::Null;
  if (kind == Kind::Wav) {
    out.wav = std::fopen(path.c_str(), "wb");
    if (out.wav == nullptr) {
      kind = Kind::Null;
    } else {
      out.wavDataBytes = 0;
      WriteWavHeader(out.wav, 0);
    }
  }
  if (kind == Kind::Null || kind == Kind::Wav) StartThread(out);
  out.kind = kind;
}

void Close() {
  Output& out = Out();
  if (out.thread.joinable()) {
    {
      std::lock_guard lock(out.stopMutex);
      out.stop = true;
    }
    out.stopSignal.notify_all();
    out.thread.join();
  }
  if (out.wav != nullptr) {
    WriteWavHeader(out.wav, static_cast<std::uint32_t>(out.wavDataBytes));
    std::fclose(out.wav);
    out.wav = nullptr;
  }
  if (out.sdl != 0) {
    SDL_CloseAudioDevice(out.sdl);  // waits for a running callback
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    out.sdl = 0;
  }
  out.kind = Kind::None;
}

void OpenChosen() {
  if (sim::VirtualClockInUse()) return Open(Kind::Offline);
  const char* env = std::getenv("GAMELIB_AUDIO");
  const std::string choice = env != nullptr ? env : "";
  if (choice == "offline") return Open(Kind::Offline);
  if (choice == "null") return Open(Kind::Null);
  if (choice == "sdl") return Open(Kind::Sdl);
  if (choice.rfind("wav:", 0) == 0 && choice.size() > 4) return Open(Kind::Wav, choice.substr(4));
  Open(AudioDeviceLikely() ? Kind::Sdl : Kind::Null);
}

}  // namespace

void DeviceInitialized() {
  Output& out = Out();
  ++out.devices;
  if (out.kind == Kind::None) OpenChosen();
}

void DeviceGone() {
  Output& out = Out();
  if (out.devices > 0 && --out.devices == 0) Close();
}

void ResetOutput() {
  // Devices a test left alive stay silent until the clock moves or a device starts.
  Close();
}

void OnClockAdvance(std::uint64_t fromMicros, std::uint64_t toMicros) {
  Output& out = Out();
  if (out.devices == 0) return;
  // The virtual clock moving means a test drives time: it gets the offline output.
  if (out.kind != Kind::Offline) {
    Close();
    out.kind = Kind::Offline;
  }
  std::uint64_t frames = FramesAt(toMicros) - FramesAt(fromMicros);
  std::lock_guard lock(State().mutex);
  auto& captured = State().captured;
  while (frames > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(frames, 65536));
    const std::size_t at = captured.size();
    captured.resize(at + 2 * n);
    MixLocked(captured.data() + at, n);
    frames -= n;
    // Keep the newest ten minutes when nobody reads.
    if (captured.size() > 3 * kMaxCapturedFrames) {
      captured.erase(captured.begin(), captured.end() - 2 * kMaxCapturedFrames);
    }
  }
}

const char* OutputName() {
  switch (Out().kind) {
    case Kind::Offline:
      return "offline";
    case Kind::Null:
      return "null";
    case Kind::Wav:
      return "wav";
    case Kind::Sdl:
      return "sdl";
    case Kind::None:
      break;
  }
  return "";
}

}  // namespace platform::dsound
