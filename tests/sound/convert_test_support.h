// Helpers of the converter and memory-sound tests: the committed sound files and
// their reference decodes, memory streams over bytes, and WAVE files built by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gamelib/core.h"
#include "sound/sound_convert.h"

namespace convert_test {

using Bytes = std::vector<std::uint8_t>;

inline std::filesystem::path SoundDataDir() { return std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound"; }

inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One committed sound file, what its name says of it, and its reference PCM.
struct SoundFile {
  std::string name;  // e.g. "pcm_s16_44100"
  std::filesystem::path path;
  bool ogg = false;
  int channels = 0;
  int bits = 0;  // of the PCM the converter hands out (Ogg: always 16)
  int rate = 0;
  Bytes reference;
};

inline std::vector<SoundFile> SoundFiles() {
  std::vector<SoundFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(SoundDataDir())) {
    std::string ext = entry.path().extension().string();
    if (ext != ".wav" && ext != ".ogg") continue;
    SoundFile f;
    f.name = entry.path().stem().string();
    f.path = entry.path();
    f.ogg = ext == ".ogg";
    // Names read KIND_<m|s><bits>_<rate>[_what].
    std::size_t a = f.name.find('_');
    std::size_t b = f.name.find('_', a + 1);
    f.channels = f.name[a + 1] == 's' ? 2 : 1;
    f.bits = f.ogg ? 16 : std::stoi(f.name.substr(a + 2, b - a - 2));
    f.rate = std::stoi(f.name.substr(b + 1));
    f.reference = ReadFileBytes(SoundDataDir() / (f.name + ".pcm"));
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(), [](const SoundFile& x, const SoundFile& y) { return x.name < y.name; });
  return files;
}

// A zero-filled converter on a memory stream over `bytes` (which it keeps alive).
// Terminates the converter and closes the stream when it goes.
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
  const gamelib::StreamAccessRecord& stream() const { return stream_; }

  // ConvertSoundWhole into a vector; empty with ok false on failure.
  Bytes Whole(bool* ok = nullptr, WAVEFORMATEX* format = nullptr) {
    WAVEFORMATEX f{};
    void* data = nullptr;
    int size = -1;
    int r = gamelib::ConvertSoundWhole(record_, &f, &data, &size);
    if (ok) *ok = r == 0;
    if (format) *format = f;
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

 private:
  Bytes bytes_;
  gamelib::SoundConvertRecord* record_;
  gamelib::StreamAccessRecord stream_{};
};

// ---- WAVE files built by hand ---------------------------------------------------------
inline void PutLe16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutLe32(Bytes& b, std::uint32_t v) {
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}
inline void PutId(Bytes& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(id[i]));
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
  Bytes b;
  PutId(b, id);
  PutLe32(b, static_cast<std::uint32_t>(storedSize >= 0 ? storedSize : static_cast<std::int64_t>(body.size())));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
  return b;
}

inline Bytes Riff(const std::vector<Bytes>& chunks) {
  Bytes body;
  PutId(body, "WAVE");
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b;
  PutId(b, "RIFF");
  PutLe32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// Recognisable PCM: byte i is (i * 7 + 3) & 255.
inline Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

inline Bytes SimpleWave(const Bytes& pcm, const FmtFields& f = {}) {
  return Riff({Chunk("fmt ", FmtBody(f)), Chunk("data", pcm)});
}

}  // namespace convert_test
