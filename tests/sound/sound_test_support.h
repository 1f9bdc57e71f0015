// Shared helpers of the sound tests: the fixture (a fresh platform on the virtual clock,
// the library started in a private directory, and at the end the checks that no device
// object, file or library memory is left), the committed sound files with their
// reference decodes, WAVE files built by hand, and the game's loop run at a chosen rhythm
// with what the device made of it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
#include "platform/sim.h"

namespace soundtest {

using Bytes = std::vector<std::uint8_t>;
using Ints = std::vector<int>;  // several results compared at once
constexpr std::uint64_t kSecond = 1000000;
constexpr DWORD kRingFlags = 0x180E2, kSilenceFlags = 0x8002;

// ---- Bytes built by hand -------------------------------------------------------------------
inline void PutLe(Bytes& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
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
inline Bytes Head(const Bytes& b, std::size_t n) {
  return Bytes(b.begin(), b.begin() + std::min(n, b.size()));
}
inline Bytes Tail(const Bytes& b, std::size_t from) {
  return Bytes(b.begin() + std::min(from, b.size()), b.end());
}

struct FmtFields {
  std::uint16_t tag = 1, channels = 2;
  std::uint32_t rate = 22050, avg = 88200;
  std::uint16_t align = 4, bits = 16;
};
inline Bytes FmtBody(const FmtFields& f, std::size_t bodyBytes = 16, std::uint16_t cbSize = 0) {
  Bytes b;
  const std::uint32_t fields[7][2] = {{f.tag, 2},   {f.channels, 2}, {f.rate, 4}, {f.avg, 4},
                                      {f.align, 2}, {f.bits, 2},     {cbSize, 2}};
  for (const auto& field : fields) PutLe(b, field[0], static_cast<int>(field[1]));
  b.resize(bodyBytes, 0);
  return b;
}
// A chunk with its stored size (which may lie) and its pad byte when the body is odd.
inline Bytes Chunk(const char* id, const Bytes& body, std::int64_t storedSize = -1, bool pad = true) {
  Bytes b(id, id + 4);
  PutLe(b, static_cast<std::uint32_t>(storedSize >= 0 ? storedSize : static_cast<std::int64_t>(body.size())),
        4);
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
  return b;
}
inline Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes body{'W', 'A', 'V', 'E'};
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("RIFF", body, -1, false);
}
inline Bytes Wave(const Bytes& pcm, const FmtFields& f = {}) {
  return Riff({Chunk("fmt ", FmtBody(f)), Chunk("data", pcm)});
}
// 44100 Hz 16-bit stereo that differs at every sample, and a WAVE file of it.
inline Bytes Synth(std::size_t frames, std::uint32_t seed) {
  Bytes out(frames * 4);
  for (std::uint8_t& b : out) b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  return out;
}
// Bytes of no format at all.
inline Bytes Pattern(std::size_t n) { return Head(Synth(n / 4 + 1, 3), n); }
inline Bytes Wave16(const Bytes& pcm) { return Wave(pcm, {1, 2, 44100, 176400, 4, 16}); }

// ---- The committed files -------------------------------------------------------------------
inline std::filesystem::path DataDir() { return std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound"; }
inline std::string Data(const std::string& name) { return (DataDir() / name).string(); }
inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
// The reference decode of a committed file ("ogg_s16_44100.ogg" -> its .pcm).
inline Bytes Reference(const std::string& name) {
  return ReadFileBytes(Data(name.substr(0, name.rfind('.')) + ".pcm"));
}

// One committed file and what its name (KIND_<m|s><bits>_<rate>[_what]) says of its PCM.
struct SoundFile {
  std::string name, path;
  int channels = 0, bits = 0, rate = 0;
  Bytes reference;
  int Align() const { return channels * bits / 8; }
  int Frames() const { return static_cast<int>(reference.size()) / Align(); }
  bool OutputFormat() const { return channels == 2 && bits == 16 && rate == 44100; }
};
inline void PrintTo(const SoundFile& f, std::ostream* os) { *os << f.name; }
inline std::vector<SoundFile> SoundFiles() {
  std::vector<SoundFile> files;
  for (const char* sub : {"", "acm/"}) {
    for (const auto& entry : std::filesystem::directory_iterator(DataDir() / sub)) {
      const std::string ext = entry.path().extension().string(), stem = entry.path().stem().string();
      if (!entry.is_regular_file() || ext == ".pcm") continue;
      const std::size_t a = stem.find('_'), b = stem.find('_', a + 1);
      const std::string name = sub + entry.path().filename().string();
      files.push_back({name, entry.path().string(), stem[a + 1] == 's' ? 2 : 1,
                       ext == ".ogg" ? 16 : std::stoi(stem.substr(a + 2, b - a - 2)),
                       std::stoi(stem.substr(b + 1)), Reference(name)});
    }
  }
  std::sort(files.begin(), files.end(),
            [](const SoundFile& x, const SoundFile& y) { return x.name < y.name; });
  return files;
}

// ---- What the device made of it ------------------------------------------------------------
// Live secondary buffers with these flags (0: every one but the silent buffer), oldest first.
inline std::vector<IDirectSoundBuffer*> Buffers(DWORD flags = 0) {
  std::vector<IDirectSoundBuffer*> out;
  for (const sim::SoundBufferInfo& b : sim::SoundBuffers())
    if (!b.primary && (flags == 0 ? b.flags != kSilenceFlags : b.flags == flags)) out.push_back(b.object);
  return out;
}
inline IDirectSoundBuffer* NewestRing() { return Buffers(kRingFlags).back(); }
inline sim::SoundBufferInfo Inspect(IDirectSoundBuffer* buffer) {
  sim::SoundBufferInfo info;
  EXPECT_TRUE(sim::InspectSoundBuffer(buffer, &info));
  return info;
}
inline std::vector<sim::SoundCall> CallsNamed(const char* op) {
  std::vector<sim::SoundCall> out;
  for (const sim::SoundCall& call : sim::SoundCalls())
    if (call.op == op) out.push_back(call);
  return out;
}
// Everything mixed (16-bit stereo bytes) from the moment it was made on.
struct Listener {
  Listener() { Take(), heard.clear(); }
  const Bytes& Take() {
    std::vector<std::int16_t> frames;
    sim::ReadMixedOutput(frames);
    const auto* p = reinterpret_cast<const std::uint8_t*>(frames.data());
    heard.insert(heard.end(), p, p + 2 * frames.size());
    return heard;
  }
  Bytes heard;
};

// `got` is `want` from `offset` on, as far as `got` goes.
inline ::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want, std::size_t offset = 0) {
  if (offset + got.size() > want.size())
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes at " << offset << " of " << want.size();
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin() + offset).first;
  if (diff == got.end()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "byte " << offset + (diff - got.begin()) << " of " << got.size() << " differs";
}
// `got` is `want`, then nothing but `silence`.
inline ::testing::AssertionResult HeardThenSilence(const Bytes& got, const Bytes& want,
                                                   std::uint8_t silence = 0) {
  if (got.size() < want.size())
    return ::testing::AssertionFailure() << "heard " << got.size() << " of " << want.size();
  const auto loud =
      std::find_if(got.begin() + want.size(), got.end(), [&](std::uint8_t b) { return b != silence; });
  if (loud != got.end())
    return ::testing::AssertionFailure() << "byte " << loud - got.begin() << " after the end is loud";
  return SameBytes(Head(got, want.size()), want);
}
// `got` is a prefix of `want` of at least `least` bytes.
inline ::testing::AssertionResult HeardPrefix(const Bytes& got, const Bytes& want, std::size_t least) {
  if (got.size() < least) return ::testing::AssertionFailure() << "heard only " << got.size() << " bytes";
  return SameBytes(got, want);
}

// ---- The game's loop -----------------------------------------------------------------------
// How often the game calls the pump: 60, 30 or 5 times a second, or irregularly (frames of
// 1 to 120 ms, now and then a stall of up to 2.5 s; the ring holds three seconds ahead).
enum class Rhythm { Fps60, Fps30, Fps5, Irregular };
// Runs the game for `micros` of virtual time: the clock moves one frame (1/60 s as 16667,
// 16667, 16666), then the pump runs, then `afterPass`.
inline void RunGame(Rhythm rhythm, std::uint64_t micros, const std::function<void()>& afterPass = {}) {
  const int perSecond = std::vector<int>{60, 30, 5, 1}[static_cast<int>(rhythm)];
  for (std::uint64_t elapsed = 0, pass = 1, seed = 20240607; elapsed < micros; ++pass) {
    seed = (seed * 1103515245u + 12345u) & 0xFFFFFFFF;
    const std::uint64_t r = (seed >> 8) % 1000,
                        irregular = r < 15 ? 1500000 + (seed >> 4) % 1000000 : 1000 + r * 119;
    const std::uint64_t step = std::min(
        micros - elapsed, rhythm == Rhythm::Irregular ? irregular : pass * kSecond / perSecond - elapsed);
    sim::AdvanceTimeMicros(step);
    elapsed += step;
    gamelib::PumpWindowMessages();
    if (afterPass) afterPass();
  }
}
// The game runs while `ear` listens to the mixed output.
inline void Listen(Listener& ear, Rhythm rhythm, std::uint64_t us) {
  RunGame(rhythm, us, [&] { ear.Take(); });
}
// Plays, runs the game for `micros` and returns what was heard meanwhile.
inline Bytes PlayFor(int handle, int playType, int fromTop, Rhythm rhythm, std::uint64_t micros) {
  Listener ear;
  EXPECT_EQ(gamelib::PlaySoundHandle(handle, playType, fromTop), 0);
  Listen(ear, rhythm, micros);
  return ear.heard;
}

// ---- Files, loads and the log ------------------------------------------------------------
// The log since the last take, without the millisecond prefixes, CR LF as LF.
inline std::string TakeLog() {
  const std::string raw = sim::TakeDebugOutput();
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (i == 0 || raw[i - 1] == '\n') i = std::min(raw.find(':', i), raw.size() - 1) + 1;
    if (i < raw.size() && raw[i] != '\r') out += raw[i];
  }
  return out;
}
// A file in the test's directory; its name.
inline std::string Write(const std::string& name, const Bytes& bytes) {
  std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return name;
}
// LoadSoundFile under a create type (0 memory sound, 1 to 3 stream sounds).
inline int Load(const std::string& path, int createType = 0, int buffers = 1, int share = -1) {
  gamelib::SetCreateSoundDataType(createType);
  const int handle = gamelib::LoadSoundFile(path.c_str(), buffers, share);
  return gamelib::SetCreateSoundDataType(0), handle;
}

// ---- The fixture ---------------------------------------------------------------------------
class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/gamelib-sound-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::current_path(directory_ = pattern);
    gamelib::SetOutApplicationLogValidFlag(1);
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    TakeLog();
  }
  void TearDown() override {
    gamelib::TerminateLibrary();
    gamelib::SetNoSoundFlag(0);
    const std::string log = TakeLog();
    EXPECT_EQ(log.find("解放されていないメモリ領域があります"), std::string::npos) << log;
    EXPECT_EQ(sim::LiveObjects(), 0);
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(directory_);
    sim::Reset();
  }
  std::filesystem::path directory_, previous_;
};

}  // namespace soundtest
