// Shared helpers of the sound tests: the fixture (a fresh platform on the virtual clock,
// the library started in a private directory, and at the end the checks that nothing of
// the device or of library memory is left), the committed sound files with their
// reference decodes, converters over memory, WAVE files built by hand, and the game's
// loop run at a chosen rhythm with what it made heard.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/memory.h"
#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "platform/sim.h"
#include "sound/sound_buffers.h"
#include "sound/sound_convert.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/sound_system.h"
#include "sound/stream_sound.h"

namespace soundtest {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kSecond = 1000000;

inline WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX f;
  std::memset(&f, 0, sizeof(f));
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  return f;
}

// The log as written, with each line's millisecond prefix taken off and CR LF as LF.
inline std::string StripLogPrefixes(const std::string& raw) {
  std::string out;
  bool lineStart = true;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (lineStart) {
      std::size_t j = i;
      while (j < raw.size() && raw[j] >= '0' && raw[j] <= '9') ++j;
      if (j > i && j < raw.size() && raw[j] == ':') i = j + 1;
      lineStart = false;
      if (i >= raw.size()) break;
    }
    if (raw[i] == '\r') continue;
    out += raw[i];
    if (raw[i] == '\n') lineStart = true;
  }
  return out;
}

inline std::vector<sim::SoundCall> CallsNamed(const char* op) {
  std::vector<sim::SoundCall> out;
  for (const sim::SoundCall& call : sim::SoundCalls())
    if (call.op == op) out.push_back(call);
  return out;
}

inline sim::SoundBufferInfo Inspect(IDirectSoundBuffer* buffer) {
  sim::SoundBufferInfo info;
  EXPECT_TRUE(sim::InspectSoundBuffer(buffer, &info));
  return info;
}

// ---- Files -----------------------------------------------------------------------------
inline std::filesystem::path DataDir() { return std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound"; }
inline std::string DataPath(const std::string& name) { return (DataDir() / name).string(); }
inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
// The reference decode of a committed file ("ogg_s16_44100.ogg" -> its .pcm).
inline Bytes Reference(const std::string& name) {
  return ReadFileBytes(DataDir() / (name.substr(0, name.rfind('.')) + ".pcm"));
}

// One committed sound file, what its name (KIND_<m|s><bits>_<rate>[_what]) says of it,
// and its reference PCM. Those in acm/ go through the compression manager.
struct SoundFile {
  std::string name;  // e.g. "pcm_s16_44100", "acm/ima_m16_22050"
  std::filesystem::path path;
  int kind = gamelib::SOUND_CONVERT_WAVE_PCM;
  bool mpegFile = false;                 // a bare MPEG audio file, not a WAVE
  int channels = 0, bits = 0, rate = 0;  // of the PCM handed out
  Bytes reference;
};
inline void PrintTo(const SoundFile& f, std::ostream* os) { *os << f.name; }

inline std::vector<SoundFile> SoundFiles() {
  std::vector<SoundFile> files;
  for (const char* sub : {"", "acm"}) {
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / sub)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".wav" && ext != ".ogg" && ext != ".mp3" && ext != ".mp2") continue;
      SoundFile f;
      const std::string stem = entry.path().stem().string();
      f.name = *sub ? std::string(sub) + "/" + stem : stem;
      f.path = entry.path();
      f.kind = *sub            ? gamelib::SOUND_CONVERT_ACM
               : ext == ".ogg" ? gamelib::SOUND_CONVERT_OGG
                               : gamelib::SOUND_CONVERT_WAVE_PCM;
      f.mpegFile = ext == ".mp3" || ext == ".mp2";
      const std::size_t a = stem.find('_'), b = stem.find('_', a + 1);
      f.channels = stem[a + 1] == 's' ? 2 : 1;
      f.bits = f.kind == gamelib::SOUND_CONVERT_OGG ? 16 : std::stoi(stem.substr(a + 2, b - a - 2));
      f.rate = std::stoi(stem.substr(b + 1));
      f.reference = ReadFileBytes(entry.path().parent_path() / (stem + ".pcm"));
      files.push_back(std::move(f));
    }
  }
  std::sort(files.begin(), files.end(),
            [](const SoundFile& x, const SoundFile& y) { return x.name < y.name; });
  return files;
}
inline SoundFile SoundFileNamed(const std::string& name) {
  for (SoundFile& f : SoundFiles())
    if (f.name == name) return f;
  ADD_FAILURE() << "no test file " << name;
  return {};
}
inline std::string ParamName(const ::testing::TestParamInfo<SoundFile>& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), '/', '_');
  return n;
}

// A zero-filled converter on a memory stream over `bytes` (which it keeps alive),
// terminated and closed when it goes.
class Converter {
 public:
  explicit Converter(Bytes bytes) : bytes_(std::move(bytes)) {
    record_ = static_cast<gamelib::SoundConvertRecord*>(std::calloc(1, sizeof(gamelib::SoundConvertRecord)));
    stream_.functions = *gamelib::GetMemoryStreamFunctions();
    stream_.handle = gamelib::OpenMemoryStream(bytes_.empty() ? nullptr : bytes_.data(), bytes_.size());
  }
  ~Converter() {
    gamelib::TerminateSoundConvert(record_);
    if (stream_.handle != 0) gamelib::CloseMemoryStream(stream_.handle);
    std::free(record_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  int Setup() { return gamelib::SetupSoundConvert(&stream_, record_); }
  gamelib::SoundConvertRecord* operator->() { return record_; }
  gamelib::SoundConvertRecord* get() { return record_; }

  // ConvertSoundWhole into a vector; empty with ok false on failure.
  Bytes Whole(bool* ok = nullptr) {
    WAVEFORMATEX f{};
    void* data = nullptr;
    int size = -1;
    int r = gamelib::ConvertSoundWhole(record_, &f, &data, &size);
    if (ok) *ok = r == 0;
    if (r != 0) return {};
    Bytes out(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    gamelib::FreeMemory(data);
    return out;
  }
  // ConvertSoundBlock of up to n bytes.
  Bytes Block(int n, int* result = nullptr) {
    Bytes out(static_cast<std::size_t>(n > 0 ? n : 0) + 1, 0xEE);
    int r = gamelib::ConvertSoundBlock(record_, out.data(), n);
    if (result) *result = r;
    out.resize(r > 0 ? static_cast<std::size_t>(r) : 0);
    return out;
  }
  // Blocks of n bytes until the end.
  Bytes Drain(int n = 5000) {
    Bytes out;
    for (int guard = 0; guard < 100000; ++guard) {
      Bytes piece = Block(n);
      if (piece.empty()) break;
      out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
  }

 private:
  Bytes bytes_;
  gamelib::SoundConvertRecord* record_;
  gamelib::StreamAccessRecord stream_{};
};

// ---- Bytes built by hand ----------------------------------------------------------------
inline void PutLe16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutLe32(Bytes& b, std::uint32_t v) {
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Repeat(const Bytes& part, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), part.begin(), part.end());
  return out;
}
inline Bytes Tail(const Bytes& b, std::size_t from) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.end());
}

struct FmtFields {
  std::uint16_t tag = 1, channels = 2;
  std::uint32_t rate = 22050, avg = 88200;
  std::uint16_t align = 4, bits = 16;
};
inline Bytes FmtBody(const FmtFields& f, std::size_t bodyBytes = 16, std::uint16_t cbSize = 0) {
  Bytes b;
  PutLe16(b, f.tag);
  PutLe16(b, f.channels);
  PutLe32(b, f.rate);
  PutLe32(b, f.avg);
  PutLe16(b, f.align);
  PutLe16(b, f.bits);
  if (bodyBytes >= 18) PutLe16(b, cbSize);
  b.resize(bodyBytes, 0);
  return b;
}
// A chunk with its stored size (which may lie) and its pad byte when the body is odd.
inline Bytes Chunk(const char* id, const Bytes& body, std::int64_t storedSize = -1, bool pad = true) {
  Bytes b(id, id + 4);
  PutLe32(b,
          static_cast<std::uint32_t>(storedSize >= 0 ? storedSize : static_cast<std::int64_t>(body.size())));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
  return b;
}
inline Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes body{'W', 'A', 'V', 'E'};
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b{'R', 'I', 'F', 'F'};
  PutLe32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}
// Recognisable bytes: byte i is (i * 7 + 3) & 255.
inline Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}
inline Bytes SimpleWave(const Bytes& pcm, const FmtFields& f = {}) {
  return Riff({Chunk("fmt ", FmtBody(f)), Chunk("data", pcm)});
}
// 16-bit PCM that differs at every sample, `frames` frames of `channels` channels.
inline Bytes Synth16(std::size_t frames, int channels, std::uint32_t seed) {
  Bytes out(frames * channels * 2);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < frames * channels; ++i) {
    x = x * 1664525u + 1013904223u;
    const std::uint16_t v =
        static_cast<std::uint16_t>((x >> 12) & 0x3FFF) + static_cast<std::uint16_t>(i & 0xFF);
    out[2 * i] = static_cast<std::uint8_t>(v);
    out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return out;
}
inline Bytes Wave16(const Bytes& pcm, int channels, std::uint32_t rate) {
  const auto align = static_cast<std::uint16_t>(2 * channels);
  return SimpleWave(pcm, {1, static_cast<std::uint16_t>(channels), rate, rate * align, align, 16});
}

// ---- The game's loop and what it made heard ---------------------------------------------
// How often the game's loop calls the pump.
enum class Rhythm { Fps60, Fps30, Fps5, Irregular };
constexpr Rhythm kRhythms[] = {Rhythm::Fps60, Rhythm::Fps30, Rhythm::Fps5, Rhythm::Irregular};
inline const char* RhythmName(Rhythm r) {
  static const char* const names[] = {"Fps60", "Fps30", "Fps5", "Irregular"};
  return names[static_cast<int>(r)];
}
inline void PrintTo(Rhythm r, std::ostream* os) { *os << RhythmName(r); }

// Runs the game's loop for `micros` of virtual time: the clock moves one frame (exact on
// average: 1/60 s as 16667, 16667, 16666), then the pump runs. Irregular frames are 1 to
// 120 ms with now and then a stall of up to 2.5 s (the ring holds three seconds ahead).
inline void RunGame(Rhythm rhythm, std::uint64_t micros, const std::function<void()>& afterPass = {}) {
  static const int perSecond[] = {60, 30, 5, 0};
  std::uint64_t elapsed = 0, pass = 0;
  std::uint32_t seed = 20240607;
  while (elapsed < micros) {
    std::uint64_t step;
    if (rhythm != Rhythm::Irregular) {
      step = ++pass * kSecond / perSecond[static_cast<int>(rhythm)] - elapsed;
    } else {
      seed = seed * 1103515245u + 12345u;
      const std::uint32_t r = (seed >> 8) % 1000;
      step = r < 15 ? 1500000 + (seed >> 4) % 1000000 : 1000 + std::uint64_t{r} * 119;
    }
    step = std::min(step, micros - elapsed);
    sim::AdvanceTimeMicros(step);
    elapsed += step;
    gamelib::PumpWindowMessages();
    if (afterPass) afterPass();
  }
}
// Bytes of 44100 Hz 16-bit stereo in `micros`.
inline std::size_t BytesIn(std::uint64_t micros) {
  return static_cast<std::size_t>(micros * 44100 / kSecond) * 4;
}

// The mixed output since the last read, as bytes of 16-bit stereo.
inline Bytes MixedBytes() {
  std::vector<std::int16_t> frames;
  sim::ReadMixedOutput(frames);
  Bytes out(frames.size() * 2);
  if (!frames.empty()) std::memcpy(out.data(), frames.data(), out.size());
  return out;
}
// Everything mixed from the moment it was made on.
struct Listener {
  Listener() { MixedBytes(); }
  const Bytes& Take() {
    Bytes more = MixedBytes();
    heard.insert(heard.end(), more.begin(), more.end());
    return heard;
  }
  Bytes heard;
};

// `got` is `want` at `offset` (byte for byte, as far as `got` goes).
inline ::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want, std::size_t offset = 0) {
  if (offset + got.size() > want.size())
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes at " << offset << " of " << want.size();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[offset + i])
      return ::testing::AssertionFailure()
             << "byte " << offset + i << ": got " << int(got[i]) << ", want " << int(want[offset + i]);
  return ::testing::AssertionSuccess();
}
// `got` starts with `want` and is silent (`silence` bytes) after it.
inline ::testing::AssertionResult HeardThenSilence(const Bytes& got, const Bytes& want,
                                                   std::uint8_t silence = 0) {
  if (got.size() < want.size())
    return ::testing::AssertionFailure() << "heard " << got.size() << " of " << want.size();
  ::testing::AssertionResult head =
      SameBytes(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(want.size())), want);
  if (!head) return head;
  for (std::size_t i = want.size(); i < got.size(); ++i)
    if (got[i] != silence)
      return ::testing::AssertionFailure()
             << "byte " << i << " after the end (" << want.size() << ") is " << int(got[i]);
  return ::testing::AssertionSuccess();
}
// `got` is a prefix of `want` of at least `least` bytes.
inline ::testing::AssertionResult HeardPrefix(const Bytes& got, const Bytes& want, std::size_t least) {
  if (got.size() < least) return ::testing::AssertionFailure() << "heard only " << got.size() << " bytes";
  return SameBytes(got, want);
}

// ---- The fixture ---------------------------------------------------------------------------
class SoundTest : public ::testing::Test {
 protected:
  // Runs after the platform reset, before the library starts.
  virtual void ConfigurePlatform() {}
  virtual bool StartWithSound() const { return true; }

  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/gamelib-sound-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::SetNoSoundFlag(StartWithSound() ? 0 : 1);
    baseline_ = gamelib::GetMemoryUsage();
    ConfigurePlatform();
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    startLog_ = TakeLog();
  }
  void TearDown() override {
    gamelib::TerminateLibrary();
    gamelib::SetNoSoundFlag(0);
    gamelib::SetOutApplicationLogValidFlag(0);
    EXPECT_EQ(gamelib::GetSoundSystemState().directSound, nullptr);
    EXPECT_EQ(gamelib::GetSoundTable().count, 0);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_.blocks);
    EXPECT_EQ(sim::LiveObjects(), 0);
    EXPECT_EQ(sim::LiveSoundObjects(), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
    sim::Reset();
  }

  std::string TakeLog() { return StripLogPrefixes(sim::TakeDebugOutput()); }
  static gamelib::SoundHandleRecord* Record(int handle) { return gamelib::GetSoundHandleRecord(handle); }

  // A memory sound as the loader makes one: the record, its buffers, the PCM copied into
  // the (shared) buffer data. -1 when any step is refused.
  static int MakeMemorySound(const WAVEFORMATEX& format, const Bytes& pcm, int buffers) {
    int handle = gamelib::AddSoundData(-1);
    if (handle == -1) return -1;
    const auto bytes = static_cast<std::uint32_t>(pcm.size());
    if (gamelib::CreateSoundBuffers(&format, bytes, gamelib::SOUND_KIND_MEMORY, buffers, handle) != 0) {
      gamelib::DeleteSoundHandle(handle);
      return -1;
    }
    gamelib::SoundHandleRecord* record = Record(handle);
    record->format = format;
    record->dataBytes = bytes;
    record->data = GAMELIB_ALLOC(pcm.size());
    std::memcpy(record->data, pcm.data(), pcm.size());
    if (record->bufferCount > 0) {
      void *p1 = nullptr, *p2 = nullptr;
      DWORD n1 = 0, n2 = 0;
      if (gamelib::LockSoundBufferWrapper(&record->buffers[0], 0, bytes, &p1, &n1, &p2, &n2) != 0) {
        gamelib::DeleteSoundHandle(handle);
        return -1;
      }
      std::memcpy(p1, pcm.data(), n1);
      gamelib::UnlockSoundBufferWrapper(&record->buffers[0], p1, n1, p2, n2);
    }
    return handle;
  }

  // A stream sound of the given files (committed names or memory images), made as the
  // loader makes one: an empty handle, the files, the first fill.
  struct FileSpec {
    std::string name;  // committed file, or empty for `image`
    Bytes image;
    std::uint8_t loops = 0;
  };
  static int MakeStream(const std::vector<FileSpec>& files, int dataKind, int link = -1) {
    int handle = gamelib::AddSoundData(-1);
    if (handle == -1) return -1;
    for (const FileSpec& f : files) {
      int r = f.name.empty()
                  ? gamelib::AddStreamSoundMemory(f.image.data(), static_cast<int>(f.image.size()), f.loops,
                                                  handle, dataKind, link)
                  : gamelib::AddStreamSoundFile(DataPath(f.name).c_str(), f.loops, handle, dataKind, link);
      if (r != 0) {
        gamelib::DeleteSoundHandle(handle);
        return -1;
      }
    }
    gamelib::PrepareStreamSound(handle);
    return handle;
  }
  static IDirectSoundBuffer* Ring(int handle) {
    gamelib::SoundHandleRecord* r = Record(handle);
    if (r->linkedHandle != -1) r = Record(r->linkedHandle);
    return r->buffers[0].buffer;
  }

  std::filesystem::path directory_;
  std::filesystem::path previous_;
  gamelib::MemoryUsage baseline_{};
  std::string startLog_;
};
using StreamTest = SoundTest;  // the suite of the stream sound tests

}  // namespace soundtest
