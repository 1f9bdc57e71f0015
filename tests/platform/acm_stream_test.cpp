// The compression manager stand-in: what it proposes, what it opens and refuses, and
// the piece contract the converter relies on (whole units, exact counts, nothing read
// past the piece or written past the room), against the reference decodes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/msacm.h"
#include "platform/sim.h"
#include "platform_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& name) {
  std::ifstream in(std::filesystem::path(GAMELIB_TEST_DATA_DIR) / "sound" / "acm" / name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A source format as a block of 18 + cbSize bytes; the extra bytes are 16-bit words.
struct Format {
  Bytes bytes;
  WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes.data()); }
};

Format MakeFormat(WORD tag, WORD channels, DWORD rate, WORD align, WORD bits,
                  std::initializer_list<int> extra = {}) {
  const WAVEFORMATEX w{tag, channels, rate, rate * align, align, bits, static_cast<WORD>(2 * extra.size())};
  Format f{Bytes(WAVEFORMATEX_BYTES)};
  std::memcpy(f.bytes.data(), &w, WAVEFORMATEX_BYTES);
  for (unsigned v : extra)
    f.bytes.insert(f.bytes.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
  return f;
}

Format Ima(WORD channels, DWORD rate, WORD align) {
  return MakeFormat(WAVE_FORMAT_IMA_ADPCM, channels, rate, align, 4,
                    {channels == 0 ? 0 : (align - 4 * channels) * 2 / channels + 1});
}

Format MsAdpcm(WORD channels, DWORD rate, WORD align, int samplesPerBlock) {
  return MakeFormat(WAVE_FORMAT_ADPCM, channels, rate, align, 4,
                    {samplesPerBlock, 7, 256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232});
}

Format Mp3(WORD channels, DWORD rate) {
  return MakeFormat(WAVE_FORMAT_MPEGLAYER3, channels, rate, 1, 0, {1, 0, 0, 417, 1, 700});
}

WAVEFORMATEX Suggested(WAVEFORMATEX* source, MMRESULT* result = nullptr) {
  WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 0, 0, 0, 0, 0, 0};
  MMRESULT r = acmFormatSuggest(nullptr, source, &pcm, WAVEFORMATEX_BYTES, ACM_FORMATSUGGESTF_WFORMATTAG);
  if (result) *result = r;
  return pcm;
}

HACMSTREAM Open(WAVEFORMATEX* source, MMRESULT* result = nullptr) {
  WAVEFORMATEX pcm = Suggested(source);
  HACMSTREAM stream = nullptr;
  MMRESULT r = acmStreamOpen(&stream, nullptr, source, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
  if (result) *result = r;
  return stream;
}

struct Piece {
  MMRESULT prepare = 0, convert = 0, unprepare = 0;
  DWORD srcUsed = 0, dstUsed = 0;
};

// One piece through a stream, from heap copies of exactly the given sizes so that the
// sanitizer sees any access past them.
Piece Convert(HACMSTREAM stream, const std::uint8_t* src, DWORD srcBytes, DWORD dstBytes,
              Bytes* out = nullptr) {
  Bytes source(src, src + srcBytes), destination(dstBytes, 0xEE);
  ACMSTREAMHEADER h{
      ACMSTREAMHEADER_CBSTRUCT, 0, 0, source.data(), srcBytes, 0, 0, destination.data(), dstBytes, 0, 0, {}};
  Piece p{acmStreamPrepareHeader(stream, &h, 0)};
  if (p.prepare != 0) return p;
  p.convert = acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
  p.srcUsed = h.cbSrcLengthUsed;
  p.dstUsed = h.cbDstLengthUsed;
  p.unprepare = acmStreamUnprepareHeader(stream, &h, 0);
  if (out) out->insert(out->end(), destination.begin(), destination.begin() + p.dstUsed);
  return p;
}

// The fmt body (as a format block) and the data chunk of a RIFF WAVE file.
std::pair<Format, Bytes> ParseWave(const Bytes& file) {
  std::pair<Format, Bytes> w;
  for (std::size_t pos = 12; pos + 8 <= file.size();) {
    const std::uint32_t size = file[pos + 4] | file[pos + 5] << 8 | file[pos + 6] << 16 | file[pos + 7] << 24;
    const Bytes body(file.begin() + pos + 8, file.begin() + pos + 8 + size);
    if (std::memcmp(&file[pos], "fmt ", 4) == 0) w.first.bytes = body;
    if (std::memcmp(&file[pos], "data", 4) == 0) w.second = body;
    pos += 8 + size + (size & 1);
  }
  return w;
}

class AcmStream : public PlatformTest {};

// What the stand-in decodes it proposes as 16-bit PCM at the source's channels and rate
// (writing no more than a WAVEFORMATEX); the rest it refuses to propose and to open.
TEST_F(AcmStream, ProposesSixteenBitPcmOrRefuses) {
  std::pair<const char*, Format> rows[] = {
      {"", Ima(1, 22050, 256)},
      {"", Ima(2, 44100, 2048)},
      {"", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 1, 8000, 36, 4)},  // samples per block left to the block
      {"", MsAdpcm(2, 8000, 512, 500)},
      {"", MakeFormat(WAVE_FORMAT_ALAW, 1, 8000, 1, 8)},
      {"", MakeFormat(WAVE_FORMAT_MULAW, 2, 11025, 2, 8)},
      {"", Mp3(2, 44100)},
      {"", Mp3(1, 16000)},
      {"PCM belongs to the PCM reader", MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 4, 16)},
      {"unknown tag", MakeFormat(0x0031, 1, 8000, 65, 0)},
      {"no channels", Ima(0, 22050, 256)},
      {"three channels", MakeFormat(WAVE_FORMAT_ALAW, 3, 8000, 3, 8)},
      {"rate 0", MakeFormat(WAVE_FORMAT_MULAW, 1, 0, 1, 8)},
      {"rate too high", MakeFormat(WAVE_FORMAT_MULAW, 1, 200001, 1, 8)},
      {"G.711 of 16 bits", MakeFormat(WAVE_FORMAT_ALAW, 1, 8000, 2, 16)},
      {"IMA block past the piece size", Ima(1, 22050, 2052)},
      {"IMA block smaller than its header", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 2, 22050, 6, 4)},
      {"IMA of 3 bits", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 1, 22050, 256, 3, {505})},
      {"IMA samples the block cannot hold", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 1, 22050, 256, 4, {600})},
      {"IMA stereo block not in 8-byte groups", Ima(2, 22050, 260)},
      {"MS ADPCM block past the piece size", MsAdpcm(1, 22050, 4096, 8180)},
      {"MS ADPCM without coefficients", MakeFormat(WAVE_FORMAT_ADPCM, 1, 22050, 256, 4, {500, 0})},
      {"MS ADPCM with fewer coefficients than counted",
       MakeFormat(WAVE_FORMAT_ADPCM, 1, 22050, 256, 4, {500, 7, 256, 0})},
      {"MS ADPCM samples past the block", MsAdpcm(1, 22050, 256, 501)},
      {"MS ADPCM block smaller than its header", MsAdpcm(2, 22050, 13, 2)},
      {"MPEG at a rate no frame has", Mp3(2, 44000)},
      {"MPEG 2.5 rate", Mp3(1, 11025)},
  };
  for (auto& [refused, f] : rows) {
    const WAVEFORMATEX& in = *f.get();
    SCOPED_TRACE(std::string(refused) + " " + std::to_string(in.wFormatTag));
    Bytes room(40, 0xCC);
    auto* pcm = reinterpret_cast<WAVEFORMATEX*>(room.data());
    pcm->wFormatTag = WAVE_FORMAT_PCM;
    const MMRESULT suggested = acmFormatSuggest(nullptr, f.get(), pcm, 40, ACM_FORMATSUGGESTF_WFORMATTAG);
    MMRESULT opened = 0;
    HACMSTREAM s = Open(f.get(), &opened);
    const bool ok = *refused == '\0';
    EXPECT_EQ(suggested == 0, ok);
    EXPECT_EQ(opened == 0 && s != nullptr, ok);
    if (s != nullptr) acmStreamClose(s, 0);
    if (!ok) continue;
    const WORD align = static_cast<WORD>(in.nChannels * 2);
    const WAVEFORMATEX expected{
        WAVE_FORMAT_PCM, in.nChannels, in.nSamplesPerSec, in.nSamplesPerSec * align, align, 16, 0};
    EXPECT_EQ(std::memcmp(pcm, &expected, WAVEFORMATEX_BYTES), 0);
    EXPECT_EQ(room[18], 0xCC);
  }
  EXPECT_EQ(sim::LiveAcmStreams(), 0);
}

// Open wants the PCM it proposes and plain conversion; a header wants the stored size,
// real buffers and a prepare before use. A closed handle is refused, not used.
TEST_F(AcmStream, OpenAndHeadersFollowTheirRules) {
  Format f = Ima(1, 22050, 256);
  WAVEFORMATEX pcm = Suggested(f.get()), eight{WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0},
               other{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
  HACMSTREAM s = nullptr, closed = Open(f.get());
  ASSERT_EQ(acmStreamClose(closed, 0), 0u);
  int filter = 0;
  DWORD size = 0;
  Bytes src(256, 0), dst(1010, 0);
  ACMSTREAMHEADER h{ACMSTREAMHEADER_CBSTRUCT, 0, 0, src.data(), 256, 0, 0, dst.data(), 1010, 0, 0, {}};
  auto open = [&](WAVEFORMATEX* to, void* withFilter, DWORD flags) {
    return acmStreamOpen(&s, nullptr, f.get(), to, withFilter, 0, 0, flags);
  };
  auto prepare = [&](auto change) {
    ACMSTREAMHEADER copy = h;
    change(copy);
    return acmStreamPrepareHeader(s, &copy, 0);
  };
  EXPECT_EQ(acmStreamClose(closed, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamSize(closed, 100, &size, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(open(&eight, nullptr, 0), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(open(&other, nullptr, 0), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(open(&pcm, &filter, 0), MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(open(&pcm, nullptr, ACM_STREAMOPENF_QUERY), 0u);
  EXPECT_EQ(sim::LiveAcmStreams(), 0);  // a query opens nothing
  ASSERT_EQ(open(&pcm, nullptr, ACM_STREAMOPENF_NONREALTIME), 0u);
  EXPECT_EQ(prepare([](auto& x) { x.cbStruct = sizeof(ACMSTREAMHEADER); }), MMSYSERR_INVALPARAM);
  EXPECT_EQ(prepare([](auto& x) { x.cbSrcLength = 0; }), MMSYSERR_INVALPARAM);
  EXPECT_EQ(prepare([](auto& x) { x.pbDst = nullptr; }), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamPrepareHeader(s, &h, 0), 0u);
  EXPECT_EQ(acmStreamPrepareHeader(s, &h, 0), ACMERR_BUSY);
  EXPECT_EQ(acmStreamConvert(s, &h, 0x8000), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), 0u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamClose(s, 0), 0u);
  EXPECT_EQ(h.cbSrcLengthUsed, 256u);
  EXPECT_EQ(h.cbDstLengthUsed, 1010u);
}

// Every committed compressed WAVE decodes through the stand-in in pieces of every size,
// in whole units with exact counts, to sox's decode; the call record says where each
// conversion started in the data.
TEST_F(AcmStream, PiecesOfEverySizeDecodeWholeUnitsToTheReference) {
  std::uint64_t units = 0;
  for (const char* name : {"ima_m16_22050", "ima_s16_44100", "msadpcm_m16_22050", "msadpcm_s16_44100",
                           "alaw_m16_8000", "ulaw_s16_22050", "mp3wav_m16_22050"}) {
    SCOPED_TRACE(name);
    sim::ClearAcmCalls();
    auto [format, data] = ParseWave(ReadFile(std::string(name) + ".wav"));
    HACMSTREAM s = Open(format.get());
    ASSERT_NE(s, nullptr);
    const WORD align = format.get()->nBlockAlign, frame = static_cast<WORD>(format.get()->nChannels * 2);
    const DWORD sizes[] = {1, 7, 100, 511, 2048, 333, 1024, 2047, 4096};
    Bytes pcm;
    std::size_t used = 0;
    for (int i = 0; used < data.size() && i < 100000; ++i) {
      const DWORD src = std::min<DWORD>(sizes[i % 9] * 3 + 1, static_cast<DWORD>(data.size() - used));
      const DWORD dst = sizes[(i + 4) % 9] * 8 + 2;
      Piece p = Convert(s, data.data() + used, src, dst, &pcm);
      ASSERT_EQ(p.prepare + p.convert + p.unprepare, 0u);
      ASSERT_LE(p.srcUsed, src);
      ASSERT_LE(p.dstUsed, dst);
      EXPECT_EQ(align > 1 ? p.srcUsed % align : 0, 0u);
      EXPECT_EQ(p.dstUsed % frame, 0u);
      used += p.srcUsed;
    }
    EXPECT_EQ(pcm, ReadFile(std::string(name) + ".pcm"));
    acmStreamClose(s, 0);
    std::uint64_t at = 0;
    for (const sim::AcmCall& call : sim::AcmCalls()) {
      if (call.op != "acmStreamConvert") continue;
      EXPECT_EQ(call.inputPosition, at);
      at += call.srcUsed;
      units += call.units;
    }
    EXPECT_EQ(at, data.size());
  }
  EXPECT_EQ(sim::AcmDecodedUnits(), units);
}

TEST_F(AcmStream, SizeIsExactForBlockCodecsAndABoundForMpeg) {
  const struct {
    Format format;
    DWORD in, flags, out;
  } rows[] = {
      {Ima(2, 44100, 2048), 3 * 2048 + 100, ACM_STREAMSIZEF_SOURCE,
       3 * 2041 * 4},  // a partial block gives nothing
      {Ima(2, 44100, 2048), 2041 * 4 + 1, ACM_STREAMSIZEF_DESTINATION, 2 * 2048},
      {MsAdpcm(1, 22050, 256, 500), 2 * 256, ACM_STREAMSIZEF_SOURCE, 2 * 500 * 2},
      {MakeFormat(WAVE_FORMAT_MULAW, 2, 8000, 2, 8), 1001, ACM_STREAMSIZEF_SOURCE, 2000},
      {Mp3(2, 44100), 104 * 10, ACM_STREAMSIZEF_SOURCE, 10 * 1152 * 4},  // at least the shortest frames' PCM
  };
  for (auto row : rows) {
    HACMSTREAM s = Open(row.format.get());
    DWORD size = 0;
    ASSERT_EQ(acmStreamSize(s, row.in, &size, row.flags), 0u);
    EXPECT_EQ(row.format.get()->wFormatTag == WAVE_FORMAT_MPEGLAYER3 ? std::min(size, row.out) : size,
              row.out);
    EXPECT_EQ(acmStreamSize(s, 10, &size, 7), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamSize(s, 10, nullptr, 0), MMSYSERR_INVALPARAM);
    // More than the answer can hold is refused, not wrapped.
    EXPECT_NE(acmStreamSize(s, 0xFFFFFFFF, &size, ACM_STREAMSIZEF_SOURCE), 0u);
    acmStreamClose(s, 0);
  }
}

// Junk around a frame is consumed without output; a partial frame, a lone 0xFF that may
// begin one, and a frame with too little room stay for the next piece.
TEST_F(AcmStream, MpegPiecesKeepPartialFramesAndSkipJunk) {
  Bytes file = ReadFile("mp3_m16_44100_64k_crc.mp3");  // no tags, no info frame: frames from byte 0
  Bytes reference = ReadFile("mp3_m16_44100_64k_crc.pcm");
  // 64 kbit/s at 44100 Hz: 208 bytes a frame, 209 when padded, of 1152 samples.
  const std::size_t first = 208 + (file[2] >> 1 & 1), second = 208 + (file[first + 2] >> 1 & 1);
  const Bytes junk = {0x00, 0x12, 0xFF, 0x00, 0xFF, 0xE0, 0x55};
  Bytes stream = junk;
  stream.insert(stream.end(), file.begin(), file.begin() + first);
  stream.insert(stream.end(), junk.begin(), junk.end());
  stream.push_back(0xFF);
  const struct {
    const std::uint8_t* src;
    std::size_t bytes, room, used, made;
  } rows[] = {{stream.data(), stream.size(), 100000, stream.size() - 1, 2304},
              {file.data() + first, 600, 2303, 0, 0},
              {file.data() + first, 300, 100000, second, 2304}};
  Format f = Mp3(1, 44100);
  HACMSTREAM s = Open(f.get());
  Bytes pcm;
  for (auto row : rows) {
    Piece p = Convert(s, row.src, static_cast<DWORD>(row.bytes), static_cast<DWORD>(row.room), &pcm);
    EXPECT_EQ(p.srcUsed, row.used);
    EXPECT_EQ(p.dstUsed, row.made);
  }
  EXPECT_EQ(pcm, Bytes(reference.begin(), reference.begin() + 2 * 2304));
  acmStreamClose(s, 0);
}

TEST_F(AcmStream, HostileAdpcmBlocksDecodeWithoutOverflow) {
  // Steps, samples and predictor numbers at their extremes: clamped output, no UB.
  Format ms = MakeFormat(WAVE_FORMAT_ADPCM, 1, 8000, 64, 4, {116, 2, -32768, -32768, 32767, 32767});
  HACMSTREAM s = Open(ms.get());
  ASSERT_NE(s, nullptr);
  Bytes block(64, 0x77);
  block[0] = 200;  // predictor past the table: the first pair is used
  block[1] = 0xFF;
  block[2] = 0x7F;  // step 32767
  Piece p = Convert(s, block.data(), 64, 1000);
  EXPECT_EQ(p.srcUsed, 64u);
  EXPECT_EQ(p.dstUsed, 116u * 2);
  acmStreamClose(s, 0);

  Format ima = Ima(2, 8000, 64);
  s = Open(ima.get());
  Bytes imaBlock(64, 0xFF);
  imaBlock[2] = 200;  // step index past the table
  p = Convert(s, imaBlock.data(), 64, 1000);
  EXPECT_EQ(p.srcUsed, 64u);
  EXPECT_EQ(p.dstUsed, 57u * 4);
  acmStreamClose(s, 0);
}

}  // namespace
