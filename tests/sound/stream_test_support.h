// Helpers of the stream-sound tests: stream sounds made as the loader makes them, the
// game's loop run at a chosen rhythm on the virtual clock, and what was heard (the
// mixed output, or the bytes the ring's play cursor passed).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert_test_support.h"
#include "sound/stream_sound.h"
#include "sound_fixture.h"

namespace streamtest {

using convert_test::Bytes;

inline Bytes DataFile(const std::string& name) { return convert_test::ReadFileBytes(convert_test::SoundDataDir() / name); }
inline std::string DataPath(const std::string& name) { return (convert_test::SoundDataDir() / name).string(); }
// The reference decode of a committed file ("ogg_s16_44100.ogg" -> its .pcm).
inline Bytes Reference(const std::string& name) {
  return DataFile(name.substr(0, name.rfind('.')) + ".pcm");
}

// PCM that differs at every sample, 16-bit, `frames` frames of `channels` channels.
inline Bytes Synth16(std::size_t frames, int channels, std::uint32_t seed) {
  Bytes out(frames * channels * 2);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < frames * channels; ++i) {
    x = x * 1664525u + 1013904223u;
    const std::uint16_t v = static_cast<std::uint16_t>((x >> 12) & 0x3FFF) + static_cast<std::uint16_t>(i & 0xFF);
    out[2 * i] = static_cast<std::uint8_t>(v);
    out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return out;
}

// A WAVE image (16-byte fmt chunk) of 16-bit PCM.
inline Bytes Wave16(const Bytes& pcm, int channels, std::uint32_t rate) {
  convert_test::FmtFields f;
  f.channels = static_cast<std::uint16_t>(channels);
  f.rate = rate;
  f.align = static_cast<std::uint16_t>(2 * channels);
  f.avg = rate * f.align;
  f.bits = 16;
  return convert_test::SimpleWave(pcm, f);
}

inline Bytes Repeat(const Bytes& part, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Tail(const Bytes& b, std::size_t from) { return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.end()); }

// How often the game's loop calls the pump.
enum class Rhythm { Fps60, Fps30, Fps5, Irregular };
inline const char* RhythmName(Rhythm r) {
  switch (r) {
    case Rhythm::Fps60: return "Fps60";
    case Rhythm::Fps30: return "Fps30";
    case Rhythm::Fps5: return "Fps5";
    default: return "Irregular";
  }
}

// Microseconds between pump passes, exact on average (1/60 s as 16667, 16667, 16666).
class PumpClock {
 public:
  explicit PumpClock(Rhythm rhythm) : rhythm_(rhythm) {}
  std::uint64_t Next() {
    ++pass_;
    switch (rhythm_) {
      case Rhythm::Fps60: return Even(60);
      case Rhythm::Fps30: return Even(30);
      case Rhythm::Fps5: return Even(5);
      default: break;
    }
    // Frames of 1 to 120 ms, and now and then a stall of up to 2.5 s (the ring holds
    // three seconds ahead, so none may be heard).
    seed_ = seed_ * 1103515245u + 12345u;
    const std::uint32_t r = (seed_ >> 8) % 1000;
    if (r < 15) return 1500000 + (seed_ >> 4) % 1000000;
    return 1000 + std::uint64_t{r} * 119;
  }

 private:
  std::uint64_t Even(int perSecond) {
    const std::uint64_t due = pass_ * 1000000 / perSecond;
    const std::uint64_t step = due - done_;
    done_ = due;
    return step;
  }
  Rhythm rhythm_;
  std::uint64_t pass_ = 0;
  std::uint64_t done_ = 0;
  std::uint32_t seed_ = 20240607;
};

// Runs the game's loop for `micros` of virtual time: the clock moves one frame, then the
// pump runs (which refills the streams). `afterPass` (optional) sees each pass.
inline void RunGame(Rhythm rhythm, std::uint64_t micros, const std::function<void()>& afterPass = {}) {
  PumpClock clock(rhythm);
  std::uint64_t elapsed = 0;
  while (elapsed < micros) {
    std::uint64_t step = clock.Next();
    if (elapsed + step > micros) step = micros - elapsed;
    sim::AdvanceTimeMicros(step);
    elapsed += step;
    gamelib::PumpWindowMessages();
    if (afterPass) afterPass();
  }
}

// The mixed output since the last read, as bytes of 16-bit stereo.
inline Bytes MixedBytes() {
  std::vector<std::int16_t> frames;
  sim::ReadMixedOutput(frames);
  Bytes out(frames.size() * 2);
  if (!frames.empty()) std::memcpy(out.data(), frames.data(), out.size());
  return out;
}

// Everything mixed from the moment it was made (or last cleared) on.
struct Listener {
  Listener() { MixedBytes(); }
  const Bytes& Take() {
    Bytes more = MixedBytes();
    heard.insert(heard.end(), more.begin(), more.end());
    return heard;
  }
  Bytes heard;
};

// `got` starts with `want` and is silent (`silence` bytes) after it.
inline ::testing::AssertionResult HeardThenSilence(const Bytes& got, const Bytes& want, std::uint8_t silence = 0) {
  const std::size_t n = std::min(got.size(), want.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (got[i] != want[i]) {
      return ::testing::AssertionFailure() << "byte " << i << " of " << want.size() << ": heard " << int(got[i])
                                           << ", want " << int(want[i]);
    }
  }
  if (got.size() < want.size()) return ::testing::AssertionFailure() << "heard " << got.size() << " of " << want.size();
  for (std::size_t i = want.size(); i < got.size(); ++i) {
    if (got[i] != silence) {
      return ::testing::AssertionFailure() << "byte " << i << " after the end (" << want.size() << ") is "
                                           << int(got[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

// `got` is a prefix of `want` of at least `least` bytes.
inline ::testing::AssertionResult HeardPrefix(const Bytes& got, const Bytes& want, std::size_t least) {
  if (got.size() < least) return ::testing::AssertionFailure() << "heard only " << got.size() << " bytes";
  if (got.size() > want.size()) return ::testing::AssertionFailure() << "heard " << got.size() << " > " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      return ::testing::AssertionFailure() << "byte " << i << ": heard " << int(got[i]) << ", want " << int(want[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

class StreamTest : public soundtest::SoundTest {
 protected:
  // A stream sound of the given files (committed names or memory images), made as the
  // loader makes one: an empty handle, the files, the first fill.
  struct FileSpec {
    std::string name;  // committed file, or empty for `image`
    Bytes image;
    std::uint8_t loops = 0;
  };
  int MakeStream(const std::vector<FileSpec>& files, int dataKind, int link = -1) {
    int handle = gamelib::AddSoundData(-1);
    if (handle == -1) return -1;
    for (const FileSpec& f : files) {
      int r = f.name.empty()
                  ? gamelib::AddStreamSoundMemory(f.image.data(), static_cast<int>(f.image.size()), f.loops, handle,
                                                  dataKind, link)
                  : gamelib::AddStreamSoundFile(DataPath(f.name).c_str(), f.loops, handle, dataKind, link);
      if (r != 0) {
        gamelib::DeleteSoundHandle(handle);
        return -1;
      }
    }
    gamelib::PrepareStreamSound(handle);
    return handle;
  }
  IDirectSoundBuffer* Ring(int handle) {
    gamelib::SoundHandleRecord* r = Record(handle);
    if (r->linkedHandle != -1) r = Record(r->linkedHandle);
    return r->buffers[0].buffer;
  }
};

}  // namespace streamtest
