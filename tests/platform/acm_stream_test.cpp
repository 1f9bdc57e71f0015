// The compression manager stand-in: what it proposes, what it opens and refuses, and
// the piece contract the converter relies on (whole units, exact counts, nothing read
// past the piece or written past the room), plus its test controls.
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

// A source format as a block of 18 + cbSize bytes.
struct Format {
  Bytes bytes;
  WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes.data()); }
};

Format MakeFormat(WORD tag, WORD channels, DWORD rate, WORD align, WORD bits, Bytes extra = {}) {
  WAVEFORMATEX w{};
  w.wFormatTag = tag;
  w.nChannels = channels;
  w.nSamplesPerSec = rate;
  w.nAvgBytesPerSec = rate * align;
  w.nBlockAlign = align;
  w.wBitsPerSample = bits;
  w.cbSize = static_cast<WORD>(extra.size());
  Format f;
  f.bytes.resize(WAVEFORMATEX_BYTES);
  std::memcpy(f.bytes.data(), &w, WAVEFORMATEX_BYTES);
  f.bytes.insert(f.bytes.end(), extra.begin(), extra.end());
  return f;
}

Bytes Le16s(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(static_cast<unsigned>(v) >> 8));
  }
  return out;
}

Format Ima(WORD channels, DWORD rate, WORD align) {
  int spb = channels == 0 ? 0 : (align - 4 * channels) * 2 / channels + 1;
  return MakeFormat(WAVE_FORMAT_IMA_ADPCM, channels, rate, align, 4, Le16s({spb}));
}

Format MsAdpcm(WORD channels, DWORD rate, WORD align, int samplesPerBlock) {
  return MakeFormat(
      WAVE_FORMAT_ADPCM, channels, rate, align, 4,
      Le16s({samplesPerBlock, 7, 256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232}));
}

Format Mp3(WORD channels, DWORD rate) {
  return MakeFormat(WAVE_FORMAT_MPEGLAYER3, channels, rate, 1, 0, Le16s({1, 0, 0, 417, 1, 700}));
}

WAVEFORMATEX Suggested(WAVEFORMATEX* source, MMRESULT* result = nullptr) {
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
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
  std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[srcBytes ? srcBytes : 1]);
  std::memcpy(source.get(), src, srcBytes);
  std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[dstBytes ? dstBytes : 1]);
  std::memset(destination.get(), 0xEE, dstBytes);
  ACMSTREAMHEADER h{};
  h.cbStruct = ACMSTREAMHEADER_CBSTRUCT;
  h.pbSrc = source.get();
  h.cbSrcLength = srcBytes;
  h.pbDst = destination.get();
  h.cbDstLength = dstBytes;
  Piece p;
  p.prepare = acmStreamPrepareHeader(stream, &h, 0);
  if (p.prepare != 0) return p;
  p.convert = acmStreamConvert(stream, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
  p.srcUsed = h.cbSrcLengthUsed;
  p.dstUsed = h.cbDstLengthUsed;
  p.unprepare = acmStreamUnprepareHeader(stream, &h, 0);
  if (out) out->insert(out->end(), destination.get(), destination.get() + p.dstUsed);
  return p;
}

// The data chunk of a RIFF WAVE file and its fmt body (as a format block).
struct Wave {
  Format format;
  Bytes data;
};
Wave ParseWave(const Bytes& file) {
  Wave w;
  std::size_t pos = 12;
  while (pos + 8 <= file.size()) {
    std::uint32_t size = file[pos + 4] | file[pos + 5] << 8 | file[pos + 6] << 16 | file[pos + 7] << 24;
    if (std::memcmp(&file[pos], "fmt ", 4) == 0)
      w.format.bytes.assign(file.begin() + pos + 8, file.begin() + pos + 8 + size);
    if (std::memcmp(&file[pos], "data", 4) == 0) {
      w.data.assign(file.begin() + pos + 8, file.begin() + pos + 8 + size);
      break;
    }
    pos += 8 + size + (size & 1);
  }
  return w;
}

class AcmStream : public PlatformTest {};

TEST_F(AcmStream, SuggestsSixteenBitPcmAtTheSourceChannelsAndRate) {
  Format formats[] = {Ima(1, 22050, 256),
                      Ima(2, 44100, 2048),
                      MsAdpcm(2, 8000, 512, 500),
                      MakeFormat(WAVE_FORMAT_ALAW, 1, 8000, 1, 8),
                      MakeFormat(WAVE_FORMAT_MULAW, 2, 11025, 2, 8),
                      Mp3(2, 44100),
                      Mp3(1, 16000)};
  for (Format& f : formats) {
    const WAVEFORMATEX& source = *f.get();
    SCOPED_TRACE(source.wFormatTag);
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.cbSize = 0x5A5A;
    // Room for more than 18 bytes: never more than 18 are written.
    Bytes room(40, 0xCC);
    std::memcpy(room.data(), &pcm, WAVEFORMATEX_BYTES);
    auto* suggested = reinterpret_cast<WAVEFORMATEX*>(room.data());
    ASSERT_EQ(acmFormatSuggest(nullptr, f.get(), suggested, 40, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    std::memcpy(&pcm, room.data(), WAVEFORMATEX_BYTES);
    const WAVEFORMATEX expected = {WAVE_FORMAT_PCM,
                                   source.nChannels,
                                   source.nSamplesPerSec,
                                   source.nSamplesPerSec * source.nChannels * 2,
                                   static_cast<WORD>(source.nChannels * 2),
                                   16,
                                   0};
    EXPECT_EQ(std::memcmp(&pcm, &expected, WAVEFORMATEX_BYTES), 0);
    EXPECT_EQ(room[18], 0xCC);
  }
}

TEST_F(AcmStream, RefusesWhatItCannotDecode) {
  std::vector<std::pair<const char*, Format>> refused = {
      {"PCM belongs to the PCM reader", MakeFormat(WAVE_FORMAT_PCM, 2, 44100, 4, 16)},
      {"unknown tag", MakeFormat(0x0031, 1, 8000, 65, 0)},
      {"no channels", Ima(0, 22050, 256)},
      {"three channels", MakeFormat(WAVE_FORMAT_ALAW, 3, 8000, 3, 8)},
      {"rate 0", MakeFormat(WAVE_FORMAT_MULAW, 1, 0, 1, 8)},
      {"rate too high", MakeFormat(WAVE_FORMAT_MULAW, 1, 200001, 1, 8)},
      {"G.711 of 16 bits", MakeFormat(WAVE_FORMAT_ALAW, 1, 8000, 2, 16)},
      {"IMA block past the piece size", Ima(1, 22050, 2052)},
      {"IMA block smaller than its header", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 2, 22050, 6, 4)},
      {"IMA of 3 bits", MakeFormat(WAVE_FORMAT_IMA_ADPCM, 1, 22050, 256, 3, Le16s({505}))},
      {"IMA samples per block that the block cannot hold",
       MakeFormat(WAVE_FORMAT_IMA_ADPCM, 1, 22050, 256, 4, Le16s({600}))},
      {"IMA stereo block not in 8-byte groups", Ima(2, 22050, 260)},
      {"MS ADPCM block past the piece size", MsAdpcm(1, 22050, 4096, 8180)},
      {"MS ADPCM without coefficients", MakeFormat(WAVE_FORMAT_ADPCM, 1, 22050, 256, 4, Le16s({500, 0}))},
      {"MS ADPCM with fewer coefficients than it counts",
       MakeFormat(WAVE_FORMAT_ADPCM, 1, 22050, 256, 4, Le16s({500, 7, 256, 0}))},
      {"MS ADPCM samples past the block", MsAdpcm(1, 22050, 256, 501)},
      {"MS ADPCM block smaller than its header", MsAdpcm(2, 22050, 13, 2)},
      {"MPEG at a rate no frame has", Mp3(2, 44000)},
      {"MPEG 2.5 rate", Mp3(1, 11025)},
  };
  for (auto& [what, f] : refused) {
    MMRESULT r = 0;
    Suggested(f.get(), &r);
    EXPECT_NE(r, MMSYSERR_NOERROR) << what;
    HACMSTREAM s = Open(f.get(), &r);
    EXPECT_NE(r, MMSYSERR_NOERROR) << what;
    EXPECT_EQ(s, nullptr) << what;
  }
  EXPECT_EQ(sim::LiveAcmStreams(), 0);
}

TEST_F(AcmStream, OpenWantsTheProposedPcmAndPlainArguments) {
  Format f = Ima(1, 22050, 256);
  WAVEFORMATEX pcm = Suggested(f.get());
  HACMSTREAM s = nullptr;
  WAVEFORMATEX eight = pcm;
  eight.wBitsPerSample = 8;
  eight.nBlockAlign = 1;
  eight.nAvgBytesPerSec = 22050;
  EXPECT_EQ(acmStreamOpen(&s, nullptr, f.get(), &eight, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
  WAVEFORMATEX other = pcm;
  other.nSamplesPerSec = 44100;
  other.nAvgBytesPerSec = 88200;
  EXPECT_EQ(acmStreamOpen(&s, nullptr, f.get(), &other, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
  int filter = 0;
  EXPECT_NE(acmStreamOpen(&s, nullptr, f.get(), &pcm, &filter, 0, 0, 0), MMSYSERR_NOERROR);
  EXPECT_NE(acmStreamOpen(&s, nullptr, f.get(), &pcm, nullptr, 1, 0, 0), MMSYSERR_NOERROR);
  EXPECT_NE(acmStreamOpen(&s, nullptr, f.get(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
            MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamOpen(&s, nullptr, f.get(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(sim::LiveAcmStreams(), 0);
  ASSERT_EQ(acmStreamOpen(&s, nullptr, f.get(), &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
            MMSYSERR_NOERROR);
  EXPECT_EQ(sim::LiveAcmStreams(), 1);
  EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
  // A closed handle is refused, not used.
  EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_INVALHANDLE);
  DWORD size = 0;
  EXPECT_EQ(acmStreamSize(s, 100, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
  Bytes block(256, 0);
  EXPECT_EQ(Convert(s, block.data(), 256, 4096).prepare, MMSYSERR_INVALHANDLE);
  EXPECT_EQ(Convert(nullptr, block.data(), 256, 4096).prepare, MMSYSERR_INVALHANDLE);
}

TEST_F(AcmStream, HeadersMustBePreparedWithTheStoredSizeAndRealBuffers) {
  Format f = Ima(1, 22050, 256);
  HACMSTREAM s = Open(f.get());
  ASSERT_NE(s, nullptr);
  Bytes src(256, 0), dst(1010, 0);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof(ACMSTREAMHEADER);  // the size here, not the stored one
  h.pbSrc = src.data();
  h.cbSrcLength = 256;
  h.pbDst = dst.data();
  h.cbDstLength = 1010;
  if (sizeof(ACMSTREAMHEADER) != ACMSTREAMHEADER_CBSTRUCT) {
    EXPECT_NE(acmStreamPrepareHeader(s, &h, 0), 0u);
  }
  h.cbStruct = ACMSTREAMHEADER_CBSTRUCT;
  h.cbSrcLength = 0;
  EXPECT_NE(acmStreamPrepareHeader(s, &h, 0), 0u);  // an empty piece
  h.cbSrcLength = 256;
  h.pbDst = nullptr;
  EXPECT_NE(acmStreamPrepareHeader(s, &h, 0), 0u);
  h.pbDst = dst.data();
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), 0u);
  EXPECT_EQ(acmStreamConvert(s, &h, 0x8000), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
  EXPECT_EQ(h.cbSrcLengthUsed, 256u);
  EXPECT_EQ(h.cbDstLengthUsed, 1010u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), 0u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), ACMERR_UNPREPARED);
  acmStreamClose(s, 0);
}

// Every committed compressed WAVE decodes through the stand-in in pieces of every size,
// with exact counts, to sox's decode.
TEST_F(AcmStream, PiecesOfEverySizeDecodeWholeUnitsToTheReference) {
  for (const char* name : {"ima_m16_22050", "ima_s16_44100", "msadpcm_m16_22050", "msadpcm_s16_44100",
                           "alaw_m16_8000", "ulaw_s16_22050", "mp3wav_m16_22050"}) {
    Wave w = ParseWave(ReadFile(std::string(name) + ".wav"));
    Bytes reference = ReadFile(std::string(name) + ".pcm");
    ASSERT_FALSE(w.data.empty()) << name;
    HACMSTREAM s = Open(w.format.get());
    ASSERT_NE(s, nullptr) << name;
    const WORD align = w.format.get()->nBlockAlign;
    Bytes pcm;
    std::size_t used = 0;
    DWORD sizes[] = {1, 7, 100, 511, 2048, 333, 1024, 2047, 4096};
    for (int i = 0; used < w.data.size() && i < 100000; ++i) {
      DWORD src = std::min<DWORD>(sizes[i % 9] * 3 + 1, static_cast<DWORD>(w.data.size() - used));
      DWORD dst = sizes[(i + 4) % 9] * 8 + 2;
      Piece p = Convert(s, w.data.data() + used, src, dst, &pcm);
      ASSERT_EQ(p.prepare, 0u);
      ASSERT_EQ(p.convert, 0u);
      ASSERT_EQ(p.unprepare, 0u);
      ASSERT_LE(p.srcUsed, src);
      ASSERT_LE(p.dstUsed, dst);
      // Whole units only: block-aligned source for the block codecs, whole PCM frames.
      if (align > 1) {
        EXPECT_EQ(p.srcUsed % align, 0u) << name;
      }
      EXPECT_EQ(p.dstUsed % (w.format.get()->nChannels * 2), 0u) << name;
      used += p.srcUsed;
    }
    EXPECT_EQ(pcm, reference) << name;
    acmStreamClose(s, 0);
  }
}

TEST_F(AcmStream, SizeIsExactForBlockCodecsAndABoundForMpeg) {
  Format ima = Ima(2, 44100, 2048);
  HACMSTREAM s = Open(ima.get());
  DWORD size = 0;
  ASSERT_EQ(acmStreamSize(s, 3 * 2048 + 100, &size, ACM_STREAMSIZEF_SOURCE), 0u);
  EXPECT_EQ(size, 3u * 2041 * 4);  // a partial block gives nothing
  ASSERT_EQ(acmStreamSize(s, 2041 * 4 + 1, &size, ACM_STREAMSIZEF_DESTINATION), 0u);
  EXPECT_EQ(size, 2u * 2048);
  EXPECT_EQ(acmStreamSize(s, 10, &size, 7), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamSize(s, 10, nullptr, 0), MMSYSERR_INVALPARAM);
  acmStreamClose(s, 0);

  Format ulaw = MakeFormat(WAVE_FORMAT_MULAW, 2, 8000, 2, 8);
  s = Open(ulaw.get());
  ASSERT_EQ(acmStreamSize(s, 1001, &size, ACM_STREAMSIZEF_SOURCE), 0u);
  EXPECT_EQ(size, 2000u);
  acmStreamClose(s, 0);

  // MPEG: at least the PCM of the shortest frames the rate allows.
  Format mp3 = Mp3(2, 44100);
  s = Open(mp3.get());
  ASSERT_EQ(acmStreamSize(s, 104 * 10, &size, ACM_STREAMSIZEF_SOURCE), 0u);
  EXPECT_GE(size, 10u * 1152 * 4);
  // More than the answer can hold is refused, not wrapped.
  EXPECT_NE(acmStreamSize(s, 0xFFFFFFFF, &size, ACM_STREAMSIZEF_SOURCE), 0u);
  acmStreamClose(s, 0);
}

TEST_F(AcmStream, MpegPiecesKeepPartialFramesAndSkipJunk) {
  Bytes file = ReadFile("mp3_m16_44100_64k_crc.mp3");  // no tags, no info frame: frames from byte 0
  Bytes reference = ReadFile("mp3_m16_44100_64k_crc.pcm");
  Format f = Mp3(1, 44100);
  HACMSTREAM s = Open(f.get());
  ASSERT_NE(s, nullptr);
  // 64 kbit/s at 44100 Hz: 208 or 209 bytes a frame of 1152 samples (2304 bytes).
  Bytes pcm;
  Piece p = Convert(s, file.data(), 300, 100000, &pcm);
  EXPECT_EQ(p.srcUsed, 208u + (file[2] >> 1 & 1));  // one whole frame; the partial second stays
  EXPECT_EQ(p.dstUsed, 2304u);
  // Room for less than a frame: nothing is used.
  p = Convert(s, file.data() + p.srcUsed, 600, 2303);
  EXPECT_EQ(p.srcUsed, 0u);
  EXPECT_EQ(p.dstUsed, 0u);
  acmStreamClose(s, 0);

  // Junk before, between and after frames is consumed without output; a lone 0xFF at
  // the very end stays, as it may begin a header.
  s = Open(f.get());
  Bytes junk = {0x00, 0x12, 0xFF, 0x00, 0xFF, 0xE0, 0x55};
  Bytes stream = junk;
  std::size_t firstFrame = 208 + (file[2] >> 1 & 1);
  stream.insert(stream.end(), file.begin(), file.begin() + static_cast<long>(firstFrame));
  stream.insert(stream.end(), junk.begin(), junk.end());
  stream.push_back(0xFF);
  pcm.clear();
  p = Convert(s, stream.data(), static_cast<DWORD>(stream.size()), 100000, &pcm);
  EXPECT_EQ(p.srcUsed, stream.size() - 1);
  EXPECT_EQ(pcm, Bytes(reference.begin(), reference.begin() + 2304));
  acmStreamClose(s, 0);
}

TEST_F(AcmStream, FormatsCanBeSwitchedOffUntilReset) {
  Format f = Ima(1, 22050, 256);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false);
  MMRESULT r = 0;
  Suggested(f.get(), &r);
  EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(Open(f.get(), &r), nullptr);
  sim::Reset();
  HACMSTREAM s = Open(f.get());
  EXPECT_NE(s, nullptr);
  acmStreamClose(s, 0);
}

TEST_F(AcmStream, EveryCallCanBeFailedByName) {
  Format f = Ima(1, 22050, 256);
  sim::FailCall("acmFormatSuggest", 1);
  MMRESULT r = 0;
  Suggested(f.get(), &r);
  EXPECT_NE(r, 0u);
  sim::FailCall("acmStreamOpen", 1);
  EXPECT_EQ(Open(f.get()), nullptr);
  HACMSTREAM s = Open(f.get());
  ASSERT_NE(s, nullptr);
  Bytes block(256, 0);
  sim::FailCall("acmStreamPrepareHeader", 1);
  EXPECT_NE(Convert(s, block.data(), 256, 1010).prepare, 0u);
  sim::FailCall("acmStreamConvert", 1);
  Piece p = Convert(s, block.data(), 256, 1010);
  EXPECT_NE(p.convert, 0u);
  EXPECT_EQ(p.srcUsed, 0u);
  EXPECT_EQ(p.unprepare, 0u);  // the header still unprepares
  sim::FailCall("acmStreamUnprepareHeader", 1);
  EXPECT_NE(Convert(s, block.data(), 256, 1010).unprepare, 0u);
  DWORD size = 0;
  sim::FailCall("acmStreamSize", 1);
  EXPECT_NE(acmStreamSize(s, 256, &size, 0), 0u);
  sim::FailCall("acmMetrics", 1);
  EXPECT_NE(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), 0u);
  sim::FailCall("acmStreamClose", 1);
  EXPECT_NE(acmStreamClose(s, 0), 0u);
  EXPECT_EQ(sim::LiveAcmStreams(), 1);
  EXPECT_EQ(acmStreamClose(s, 0), 0u);
  EXPECT_EQ(sim::CallCount("acmStreamConvert"), 2);  // not after the failed prepare
}

TEST_F(AcmStream, MetricsReportsTheLargestFormatOrWritesNothing) {
  DWORD size = 0;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), 0u);
  EXPECT_EQ(size, 50u);
  sim::SetAcmMaxFormatSize(-1);
  size = 777;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), 0u);
  EXPECT_EQ(size, 777u);
  EXPECT_NE(acmMetrics(nullptr, 99, &size), 0u);
  EXPECT_NE(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), 0u);
}

TEST_F(AcmStream, CallsAndDecodedUnitsAreRecorded) {
  Wave w = ParseWave(ReadFile("ima_m16_22050.wav"));
  HACMSTREAM s = Open(w.format.get());
  Convert(s, w.data.data(), 600, 100000);  // two blocks of 256
  Convert(s, w.data.data() + 512, 256, 100000);
  acmStreamClose(s, 0);
  std::vector<sim::AcmCall> calls = sim::AcmCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1].op, "acmStreamConvert");
  EXPECT_EQ(calls[1].srcUsed, 512u);
  EXPECT_EQ(calls[1].dstUsed, 2u * 1010);
  EXPECT_EQ(calls[1].units, 2u);
  EXPECT_EQ(calls[2].inputPosition, 512u);
  EXPECT_EQ(sim::AcmDecodedUnits(), 3u);
}

TEST_F(AcmStream, HostileAdpcmBlocksDecodeWithoutOverflow) {
  // Steps, samples and predictor numbers at their extremes: clamped output, no UB.
  Format ms = MakeFormat(WAVE_FORMAT_ADPCM, 1, 8000, 64, 4, Le16s({116, 2, -32768, -32768, 32767, 32767}));
  HACMSTREAM s = Open(ms.get());
  ASSERT_NE(s, nullptr);
  Bytes block(64, 0x77);
  block[0] = 200;  // predictor past the table: the first pair is used
  block[1] = 0xFF;
  block[2] = 0x7F;  // step 32767
  Bytes pcm;
  Piece p = Convert(s, block.data(), 64, 1000, &pcm);
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
