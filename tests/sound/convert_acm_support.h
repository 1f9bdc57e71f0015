// Helpers of the compression-manager converter tests: the compressed files in
// tests/data/sound/acm with their reference decodes, and MPEG frames built by hand.
#pragma once

#include <string>
#include <vector>

#include "convert_test_support.h"
#include "sound/convert_acm.h"

namespace acm_test {

using convert_test::Bytes;

inline std::filesystem::path AcmDataDir() { return convert_test::SoundDataDir() / "acm"; }

// One compressed file: names read KIND_<m|s>16_<rate>[_what].
struct AcmFile {
  std::string name;
  std::filesystem::path path;
  bool mpegFile = false;  // a bare MPEG audio file (the MP3 trial), not a WAVE
  int channels = 0;
  int rate = 0;
  Bytes reference;  // 16-bit PCM
};

inline std::vector<AcmFile> AcmFiles() {
  std::vector<AcmFile> files;
  for (const auto& entry : std::filesystem::directory_iterator(AcmDataDir())) {
    std::string ext = entry.path().extension().string();
    if (ext != ".wav" && ext != ".mp3" && ext != ".mp2") continue;
    AcmFile f;
    f.name = entry.path().stem().string();
    f.path = entry.path();
    f.mpegFile = ext != ".wav";
    std::size_t a = f.name.find('_');
    std::size_t b = f.name.find('_', a + 1);
    std::size_t e = f.name.find('_', b + 1);
    f.channels = f.name[a + 1] == 's' ? 2 : 1;
    f.rate = std::stoi(f.name.substr(b + 1, e == std::string::npos ? std::string::npos : e - b - 1));
    f.reference = convert_test::ReadFileBytes(AcmDataDir() / (f.name + ".pcm"));
    files.push_back(std::move(f));
  }
  std::sort(files.begin(), files.end(), [](const AcmFile& x, const AcmFile& y) { return x.name < y.name; });
  return files;
}

inline AcmFile AcmFileNamed(const std::string& name) {
  for (AcmFile& f : AcmFiles())
    if (f.name == name) return f;
  return {};
}

// ---- MPEG frames built by hand --------------------------------------------------------
// A frame header: MPEG-1 or 2, layer 1..3, bitrate and rate indexes, padding, mono.
inline Bytes FrameHeader(bool mpeg1, int layer, int bitrateIndex, int rateIndex, int padding = 0, bool mono = false) {
  return {0xFF, static_cast<std::uint8_t>(0xF0 | (mpeg1 ? 8 : 0) | ((4 - layer) << 1) | 1),
          static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | padding << 1),
          static_cast<std::uint8_t>(mono ? 0xC0 : 0x00)};
}

// A whole layer III frame of silence (zero side information): decodes to 1152 or 576
// zero samples without needing any earlier frame.
inline Bytes SilentFrame(bool mpeg1, int bitrateIndex, int rateIndex, int padding = 0, bool mono = false) {
  Bytes frame = FrameHeader(mpeg1, 3, bitrateIndex, rateIndex, padding, mono);
  gamelib::Mp3FrameRecord parsed{};
  gamelib::ParseMp3FrameHeader(frame.data(), &parsed);
  frame.resize(parsed.frameBytes, 0);
  return frame;
}

// n silent 128 kbit/s 44100 Hz stereo frames (417 bytes each, 1152 samples).
inline Bytes SilentFrames(int n, int bitrateIndex = 9) {
  Bytes out;
  for (int i = 0; i < n; ++i) {
    Bytes f = SilentFrame(true, bitrateIndex, 0);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

// An ID3v2 tag of `size` body bytes (zeros), major version 3 or 4, with flags.
inline Bytes Id3v2(std::uint32_t size, int major = 3, std::uint8_t flags = 0) {
  Bytes tag = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, flags,
               static_cast<std::uint8_t>((size >> 21) & 0x7F), static_cast<std::uint8_t>((size >> 14) & 0x7F),
               static_cast<std::uint8_t>((size >> 7) & 0x7F), static_cast<std::uint8_t>(size & 0x7F)};
  tag.resize(tag.size() + size, 0);
  if (major == 4 && (flags & 0x10)) {
    Bytes footer = {'3', 'D', 'I', 4, 0, flags, tag[6], tag[7], tag[8], tag[9]};
    tag.insert(tag.end(), footer.begin(), footer.end());
  }
  return tag;
}

// A 128-byte ID3v1 tag.
inline Bytes Id3v1() {
  Bytes tag(128, ' ');
  tag[0] = 'T';
  tag[1] = 'A';
  tag[2] = 'G';
  return tag;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace acm_test
