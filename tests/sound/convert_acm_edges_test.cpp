// The compression-manager kind's edge cases and hostile input: the MPEG frame header
// parser and its tables, ID3 tags, the frame scan on broken files, compressed WAVE with
// lying sizes, platform refusals, and the loop decoder that creeps towards the loop
// point so that a jump back resumes from it.
#include <random>

#include "sound/convert_acm.h"
#include "sound_test_support.h"

using namespace soundtest;
using gamelib::Mp3FrameRecord;

namespace {

class AcmEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    before_ = gamelib::GetMemoryUsage();
  }
  void TearDown() override {
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before_.blocks);
    EXPECT_EQ(gamelib::GetMemoryUsage().bytes, before_.bytes);
    sim::Reset();
  }
  gamelib::MemoryUsage before_{};
};

// A frame header: MPEG-1 or 2, layer 1..3, bitrate and rate indexes, padding, mono.
Bytes FrameHeader(bool mpeg1, int layer, int bitrateIndex, int rateIndex, int padding = 0,
                  bool mono = false) {
  return {0xFF, static_cast<std::uint8_t>(0xF0 | (mpeg1 ? 8 : 0) | ((4 - layer) << 1) | 1),
          static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | padding << 1),
          static_cast<std::uint8_t>(mono ? 0xC0 : 0x00)};
}
Mp3FrameRecord Parse(const Bytes& header, int* result = nullptr) {
  Mp3FrameRecord f{};
  const int r = gamelib::ParseMp3FrameHeader(header.data(), &f);
  if (result) *result = r;
  return f;
}
// A whole layer III frame of silence (zero side information): 1152 or 576 zero samples
// without needing any earlier frame.
Bytes SilentFrame(bool mpeg1, int bitrateIndex, int rateIndex, int padding = 0, bool mono = false) {
  Bytes frame = FrameHeader(mpeg1, 3, bitrateIndex, rateIndex, padding, mono);
  frame.resize(Parse(frame).frameBytes, 0);
  return frame;
}
// n silent 128 kbit/s 44100 Hz stereo frames (417 bytes each, 1152 samples).
Bytes SilentFrames(int n) { return Repeat(SilentFrame(true, 9, 0), n); }
// An ID3v2 tag of `size` body bytes (zeros), major version 3 or 4, with flags.
Bytes Id3v2(std::uint32_t size, int major = 3, std::uint8_t flags = 0) {
  Bytes tag = {'I',
               'D',
               '3',
               static_cast<std::uint8_t>(major),
               0,
               flags,
               static_cast<std::uint8_t>((size >> 21) & 0x7F),
               static_cast<std::uint8_t>((size >> 14) & 0x7F),
               static_cast<std::uint8_t>((size >> 7) & 0x7F),
               static_cast<std::uint8_t>(size & 0x7F)};
  tag.resize(tag.size() + size, 0);
  if (major == 4 && (flags & 0x10)) {
    Bytes footer = {'3', 'D', 'I', 4, 0, flags, tag[6], tag[7], tag[8], tag[9]};
    tag.insert(tag.end(), footer.begin(), footer.end());
  }
  return tag;
}
Bytes Id3v1() {
  Bytes tag(128, ' ');
  std::memcpy(tag.data(), "TAG", 3);
  return tag;
}

// ---- The frame header parser ----------------------------------------------------------

TEST_F(AcmEdges, FrameHeaderParser) {
  const struct {
    const char* what;
    Bytes header;
    int result;
    unsigned frameBytes = 0, samples = 0, rate = 0;
    int channels = 0;
  } cases[] = {
      {"MPEG-1 III 128k 44100", FrameHeader(true, 3, 9, 0), 0, 417, 1152, 44100, 2},
      {"padded", FrameHeader(true, 3, 9, 0, 1), 0, 418, 1152, 44100, 2},
      {"MPEG-2 III: half the bytes and samples", FrameHeader(false, 3, 4, 0, 0, true), 0, 104, 576, 22050, 1},
      {"layer I: 4-byte slots", FrameHeader(true, 1, 12, 0, 1), 0, (12000 * 384 / 44100 + 1) * 4, 384, 44100,
       2},
      {"MPEG-2 layer II keeps 1152", FrameHeader(false, 2, 8, 2), 0, 576, 1152, 16000, 2},
      {"MPEG-1 II 192k 48000", FrameHeader(true, 2, 10, 1), 0, 576, 1152, 48000, 2},
      {"free format: only the padding", FrameHeader(true, 3, 0, 0, 1), 0, 1, 1152, 44100, 2},
      {"free format layer I", FrameHeader(true, 1, 0, 0), 0, 0, 384, 44100, 2},
      {"no sync", {0xFE, 0xFB, 0x90, 0x00}, -2},
      {"MPEG 2.5 (11 sync bits)", {0xFF, 0xEB, 0x90, 0x00}, -2},
      {"layer 00", {0xFF, 0xF9, 0x90, 0x00}, -1},
      {"bitrate 15", FrameHeader(true, 3, 15, 0), -1},
      {"rate 3", FrameHeader(true, 3, 9, 3), -1},
  };
  for (const auto& c : cases) {
    int r = 9;
    const Mp3FrameRecord f = Parse(c.header, &r);
    EXPECT_EQ(r, c.result) << c.what;
    if (r != 0) continue;
    EXPECT_EQ(f.frameBytes, c.frameBytes) << c.what;
    EXPECT_EQ(f.samplesPerFrame, c.samples) << c.what;
    EXPECT_EQ(f.sampleRate, c.rate) << c.what;
    EXPECT_EQ(f.channels, c.channels) << c.what;
  }
  const std::uint32_t want[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // MPEG-2 II, III
  for (int i = 0; i < 15; ++i) {
    for (int layer = 1; layer <= 3; ++layer) {
      EXPECT_EQ(Parse(FrameHeader(true, layer, i, 0)).bitrate, want[layer - 1][i]);
      EXPECT_EQ(Parse(FrameHeader(false, layer, i, 0)).bitrate, want[layer == 1 ? 3 : 4][i]);
    }
  }
  const std::uint32_t rates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(Parse(FrameHeader(true, 3, 9, r)).sampleRate, rates[0][r]);
    EXPECT_EQ(Parse(FrameHeader(false, 3, 9, r)).sampleRate, rates[1][r]);
  }
}

// ---- ID3 tags and the frame scan, on hand-made and hostile files -------------------------

TEST_F(AcmEdges, FrameScanFindsTheAudioOrRefuses) {
  struct Case {
    std::string what;
    Bytes file;
    int position;    // of the audio; -1: refused
    int bytes = 0;   // of the audio
    int pcm = 0;     // bytes the whole conversion gives
    int known = -1;  // samples the scan counted, when checked
  };
  std::vector<Case> cases = {
      {"ID3v2 skipped by its syncsafe size", Concat({Id3v2(1000), SilentFrames(5)}), 1010, 5 * 417, 5 * 4608},
      {"ID3v2.4 footer skipped", Concat({Id3v2(1000, 4, 0x10), SilentFrames(3)}), 1020, 3 * 417, 3 * 4608},
      // The footer flag means nothing before version 4: the byte scan passes the junk.
      {"ID3v2.3 footer flag", Concat({Id3v2(1000, 3, 0x10), Bytes(10, 0), SilentFrames(3)}), 1020, 3 * 417,
       3 * 4608},
      {"ID3v1 ends the data", Concat({SilentFrames(4), Id3v1()}), 0, 4 * 417, 4 * 4608, 4 * 1152},
      {"junk after the last frame", Concat({SilentFrames(4), Bytes(300, 0x11)}), 0, 4 * 417, 4 * 4608},
      {"mixed frame sizes",
       Concat({SilentFrame(true, 9, 0), SilentFrame(true, 5, 0, 1), SilentFrame(true, 9, 0, 1)}), 0,
       417 + 209 + 418, 3 * 4608},
      {"MPEG-2 mono", Repeat(SilentFrame(false, 4, 0, 0, true), 2), 0, 2 * 104, 2 * 576 * 2},
      {"a cut ID3 header", Bytes{'I', 'D', '3', 4, 0}, -1},
      {"sync only inside the tag block", Concat({Bytes(300, 0x20), Id3v1()}), -1},
      {"invalid layer after a sync", Concat({SilentFrames(2), Bytes{0xFF, 0xF9, 0x90, 0x00}, Bytes(600, 0)}),
       -1},
      {"bitrate 15 after a sync", Concat({SilentFrames(2), FrameHeader(true, 3, 15, 0), Bytes(600, 0)}), -1},
  };
  // Free format (bitrate index 0) cannot stall the scan: alone, padded (a one-byte
  // "frame"), layer I (no length at all), after good frames.
  for (const Bytes& head :
       {FrameHeader(true, 3, 0, 0), FrameHeader(true, 3, 0, 0, 1), FrameHeader(true, 1, 0, 0),
        Concat({SilentFrames(3), FrameHeader(true, 3, 0, 0)})})
    cases.push_back({"free format of " + std::to_string(head.size()), Concat({head, Bytes(600, 0)}), -1});
  // ID3 size bytes with the top bit set are masked to 7 bits; the largest size skips
  // past the end, with nothing allocated for it.
  Bytes masked = Id3v2(0);
  for (int i = 6; i < 10; ++i) masked[i] = 0x80;
  cases.push_back({"ID3 size bytes masked", Concat({masked, SilentFrames(2)}), 10, 2 * 417, 2 * 4608});
  for (std::uint8_t b : {0x7F, 0xFF}) {
    Bytes huge = Id3v2(0, 4, 0x10);
    for (int i = 6; i < 10; ++i) huge[i] = b;
    cases.push_back({"ID3 size " + std::to_string(b), Concat({huge, SilentFrames(2)}), -1});
  }
  // 24-byte frames (8 kbit/s at 24000 Hz): a file of 128 bytes or less has no audio
  // region beside the room for a tag.
  const Bytes small = Repeat(SilentFrame(false, 1, 1, 0, true), 7);
  for (std::size_t n = 0; n <= 128; ++n)
    cases.push_back({"tiny " + std::to_string(n), Bytes(small.begin(), small.begin() + n), -1});
  cases.push_back({"seven tiny frames", small, 0, 168, 7 * 576 * 2});
  // A frame that starts before the tag and runs into it ends at the tag; the cut frame
  // decodes to nothing.
  const Bytes frame = SilentFrame(true, 9, 0);
  cases.push_back({"frame cut by a tag",
                   Concat({SilentFrames(2), Bytes(frame.begin(), frame.begin() + 100), Id3v1()}), 0,
                   2 * 417 + 100, 2 * 4608});
  // Truncated frames end the data without reading past it: a cut frame whose header is
  // whole counts, a cut header does not, and neither gives samples.
  for (int cut : {417 * 5 + 1, 417 * 5 + 3, 417 * 5 + 4, 417 * 5 + 200, 417 * 6 - 1}) {
    const Bytes six = SilentFrames(6);
    const bool header = cut >= 417 * 5 + 4;
    cases.push_back({"cut at " + std::to_string(cut), Bytes(six.begin(), six.begin() + cut), 0,
                     header ? cut : 417 * 5, 5 * 4608, (header ? 6 : 5) * 1152});
  }

  for (const Case& c : cases) {
    Converter conv(c.file);
    if (c.position < 0) {
      EXPECT_EQ(conv.Setup(), -1) << c.what;
      continue;
    }
    ASSERT_EQ(conv.Setup(), 0) << c.what;
    EXPECT_EQ(conv->dataChunkPosition, c.position) << c.what;
    EXPECT_EQ(conv->dataChunkBytes, c.bytes) << c.what;
    if (c.known != -1) {
      EXPECT_EQ(conv->acm.acmKnownSamples, c.known) << c.what;
    }
    const int dest = gamelib::GetSoundConvertDestSize(conv.get());
    const Bytes pcm = conv.Whole();
    EXPECT_EQ(pcm, Bytes(c.pcm, 0)) << c.what;
    EXPECT_LE(c.pcm, dest) << c.what;
    Converter blocks(c.file);
    ASSERT_EQ(blocks.Setup(), 0);
    EXPECT_EQ(blocks.Drain(3000), pcm) << c.what;
  }
}

TEST_F(AcmEdges, Mp3WaveFormatDescribesTheFirstFrame) {
  Converter c(Concat({SilentFrame(true, 9, 0, 1), SilentFrames(2)}));
  ASSERT_EQ(c.Setup(), 0);
  const auto* f = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(c->acm.acmSourceFormat);
  EXPECT_EQ(f->wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
  EXPECT_EQ(f->wfx.nChannels, 2);
  EXPECT_EQ(f->wfx.nSamplesPerSec, 44100u);
  EXPECT_EQ(f->wfx.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(f->wfx.nBlockAlign, 1);
  EXPECT_EQ(f->wfx.cbSize, 12);
  EXPECT_EQ(f->wID, MPEGLAYER3_ID_MPEG);
  EXPECT_EQ(f->fdwFlags, MPEGLAYER3_FLAG_PADDING_ON);
  EXPECT_EQ(f->nBlockSize, 418);
  EXPECT_EQ(f->nFramesPerBlock, 1);
  EXPECT_EQ(f->nCodecDelay, 700);
}

TEST_F(AcmEdges, Mp3FormatBlockHasTheReportedSizeButNeverLessThan30) {
  const Bytes file = SilentFrames(3);
  auto formatBytes = [&](std::int64_t reported) {
    sim::SetAcmMaxFormatSize(reported);
    const gamelib::MemoryUsage base = gamelib::GetMemoryUsage();
    Converter c(file);
    EXPECT_EQ(c.Setup(), 0);
    return static_cast<long long>(gamelib::GetMemoryUsage().bytes - base.bytes);
  };
  const long long nothing = formatBytes(-1);  // the call writes nothing: 30
  EXPECT_EQ(formatBytes(64) - nothing, 34);
  EXPECT_EQ(formatBytes(12), nothing);  // smaller than what is written
  EXPECT_EQ(formatBytes(1 << 30) - nothing, 1024 - 30);
  sim::FailCall("acmMetrics", 1);  // a failed call reports nothing either
  EXPECT_EQ(formatBytes(50), nothing);
}

TEST_F(AcmEdges, JunkBetweenFramesIsSkippedEvenWhenLongerThanAPiece) {
  const SoundFile f = SoundFileNamed("acm/mp3_m16_44100_64k_crc");
  // Silent frames of the same shape (mono 44100 Hz) around junk runs of 50 and 5000
  // bytes (no sync in them), after the real file.
  const Bytes mono = SilentFrame(true, 5, 0, 0, true);
  const Bytes hostile = Concat({ReadFileBytes(f.path), Bytes(50, 0x11), mono, Bytes(5000, 0), mono, mono});
  Converter c(hostile);
  ASSERT_EQ(c.Setup(), 0);
  const Bytes pcm = c.Whole();
  ASSERT_EQ(pcm.size(), f.reference.size() + 3u * 2304);
  EXPECT_TRUE(std::equal(f.reference.begin(), f.reference.end(), pcm.begin()));
  Converter b(hostile);
  ASSERT_EQ(b.Setup(), 0);
  EXPECT_EQ(b.Drain(3000), pcm);
}

TEST_F(AcmEdges, EveryPrefixOfARealFileIsSafe) {
  const Bytes file = ReadFileBytes(SoundFileNamed("acm/mp3_s16_22050_vbr_tags").path);
  for (std::size_t n = 0; n <= file.size(); n += 37) {
    Converter c(Bytes(file.begin(), file.begin() + static_cast<long>(n)));
    if (c.Setup() != 0) continue;
    const int promised = gamelib::GetSoundConvertDestSize(c.get());
    EXPECT_LE(static_cast<int>(c.Whole().size()), promised) << n;
  }
}

// ---- Compressed WAVE -----------------------------------------------------------------------

Bytes ImaWave(const Bytes& data, std::uint16_t align = 256, std::int64_t storedDataSize = -1,
              std::uint16_t cbSize = 2) {
  Bytes body = FmtBody({WAVE_FORMAT_IMA_ADPCM, 1, 22050, 11100, align, 4}, 18, cbSize);
  PutLe16(body, static_cast<std::uint32_t>((align - 4) * 2 + 1));
  return Riff({Chunk("fmt ", body), Chunk("fact", Bytes(4, 0)), Chunk("data", data, storedDataSize)});
}

TEST_F(AcmEdges, CompressedWaveSizesComeFromTheManagerAndWhatIsThere) {
  Converter c(ImaWave(Bytes(256 * 3, 0x31)));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 3 * 505 * 2);
  EXPECT_EQ(c.Whole().size(), 3u * 505 * 2);
  // When the manager cannot say, there is no whole conversion (but no crash).
  sim::FailCall("acmStreamSize", 1);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 0);
  sim::FailCall("acmStreamSize", 1);
  bool ok = true;
  c.Whole(&ok);
  EXPECT_FALSE(ok);
  // A data chunk that claims more than the file: whole blocks of what is there.
  Converter lying(ImaWave(Bytes(256 * 2 + 100, 0x42), 256, 0x7FFFFFF0));
  ASSERT_EQ(lying.Setup(), 0);
  EXPECT_EQ(lying->dataChunkBytes, 256 * 2 + 100);
  EXPECT_EQ(lying.Whole().size(), 2u * 505 * 2);
  // cbSize larger than the body: the manager sees only what the body holds.
  Converter d(ImaWave(Bytes(256, 0x42), 256, -1, 0xFFFF));
  ASSERT_EQ(d.Setup(), 0);
  EXPECT_EQ(d->acm.acmSourceFormat->cbSize, 2);
  // 2048 is the largest ADPCM block that fits one piece.
  Converter big(ImaWave(Bytes(2048 * 2, 0), 2048));
  ASSERT_EQ(big.Setup(), 0);
  EXPECT_EQ(big.Whole().size(), 2u * 4089 * 2);
}

TEST_F(AcmEdges, MalformedCompressedWaveIsRefused) {
  Bytes msadpcm = FmtBody({WAVE_FORMAT_ADPCM, 1, 22050, 88200, 256, 4}, 18, 32);
  PutLe16(msadpcm, 500);
  PutLe16(msadpcm, 7);
  msadpcm.resize(18 + 22, 0);  // cbSize says 32: too few coefficient bytes for their count
  for (const Bytes& file :
       {ImaWave(Bytes{}), ImaWave(Bytes(4096 * 2, 0), 4096), ImaWave(Bytes(2052 * 2, 0), 2052),
        Riff({Chunk("fmt ", msadpcm), Chunk("data", Bytes(512, 0))})})
    EXPECT_EQ(Converter(file).Setup(), -1);
}

TEST_F(AcmEdges, RefusalsOfTheManagerFailTheTrialAndReleaseIt) {
  const Bytes ima = ImaWave(Bytes(256 * 4, 0x31));
  const Bytes mp3 = SilentFrames(4);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false);
  EXPECT_EQ(Converter(ima).Setup(), -1);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, true);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_MPEGLAYER3, false);
  EXPECT_EQ(Converter(mp3).Setup(), -1);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_MPEGLAYER3, true);
  for (const Bytes* file : {&ima, &mp3}) {
    // The suggestion, the main decoder, the loop decoder, an allocation inside the trial.
    for (const auto& [call, nth] : {std::pair<const char*, int>{"acmFormatSuggest", 1},
                                    {"acmStreamOpen", 1},
                                    {"acmStreamOpen", 2},
                                    {"AllocMemory", 3}}) {
      sim::FailCall(call, nth);
      EXPECT_EQ(Converter(*file).Setup(), -1) << call << nth;
      EXPECT_EQ(sim::LiveAcmStreams(), 0);
    }
  }
}

TEST_F(AcmEdges, FailedPiecesEndTheDataInsteadOfSpinning) {
  const Bytes mp3 = SilentFrames(20);
  Converter c(mp3);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c.Block(4608).size(), 4608u);
  sim::FailCall("acmStreamPrepareHeader", 1, 1000);
  int r = -1;
  const Bytes rest = c.Block(1 << 20, &r);
  EXPECT_GE(r, 0);
  EXPECT_EQ(c->endReached, 1);
  EXPECT_LT(rest.size(), 19u * 4608);
  sim::ClearFailures();
  Converter d(mp3);
  ASSERT_EQ(d.Setup(), 0);
  sim::FailCall("acmStreamConvert", 1, 1000);
  EXPECT_TRUE(d.Block(10000).empty());
  EXPECT_EQ(d->endReached, 1);
}

// ---- Seeks and the loop decoder -------------------------------------------------------------

struct LoopCase {
  SoundFile f;
  Converter c;
  explicit LoopCase(const char* name) : f(SoundFileNamed(name)), c(ReadFileBytes(f.path)) {}
};

std::uint64_t NewestOpen() {
  std::uint64_t id = 0;
  for (const sim::AcmCall& call : sim::AcmCalls())
    if (call.op == "acmStreamOpen") id = call.stream;
  return id;
}

TEST_F(AcmEdges, JumpingBackToTheLoopPointResumesFromTheLoopDecoder) {
  for (const char* name : {"acm/mp3_s16_44100_128k_id3v2", "acm/mp2_s16_32000_192k", "acm/ima_s16_44100",
                           "acm/msadpcm_s16_44100"}) {
    SCOPED_TRACE(name);
    LoopCase t(name);
    ASSERT_EQ(t.c.Setup(), 0);
    const int align = t.c->pcmFormat.nBlockAlign;
    const int loopSample = static_cast<int>(t.f.reference.size()) / align * 3 / 4;
    t.c->loopPointBytes = loopSample * align;
    ASSERT_EQ(t.c.Drain(), t.f.reference);
    // The loop decoder crept to no further than the loop point, and no more than the
    // lead before it.
    const gamelib::SoundConvertAcmState before = t.c->acm;
    EXPECT_GE(before.acmLoopBytes, t.c->loopPointBytes - gamelib::kAcmLoopLeadBytes);
    EXPECT_LE(before.acmLoopBytes, t.c->loopPointBytes);
    const std::uint64_t loopId = NewestOpen();
    sim::ClearAcmCalls();

    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), loopSample), 0);
    // The loop decoder is the main one now, from where it stood; the old main decoder
    // was closed and a fresh loop decoder opened.
    EXPECT_EQ(t.c->acm.acmStream, before.acmLoopStream);
    EXPECT_NE(t.c->acm.acmLoopStream, nullptr);
    EXPECT_EQ(t.c->outputPosition, loopSample * align);
    EXPECT_EQ(t.c.Drain(), Tail(t.f.reference, loopSample * align));
    int closes = 0, opens = 0;
    for (const sim::AcmCall& call : sim::AcmCalls()) {
      closes += call.op == "acmStreamClose";
      opens += call.op == "acmStreamOpen";
      if (call.op == "acmStreamConvert" && call.stream == loopId) {
        EXPECT_GT(call.inputPosition, 0u);
      }
    }
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(opens, 1);
  }
}

TEST_F(AcmEdges, SeekCostWithAndWithoutALoopPoint) {
  // Without a loop point the seek back decodes everything before the target again; with
  // one only from where the loop decoder stood (counted on the decoder that serves it).
  auto unitsForSeekBack = [](bool withLoopPoint) {
    LoopCase t("acm/mp3_s16_44100_128k_id3v2");
    EXPECT_EQ(t.c.Setup(), 0);
    if (withLoopPoint) t.c->loopPointBytes = 11000 * 4;
    t.c.Drain();
    const std::uint64_t loopId = NewestOpen();
    sim::ClearAcmCalls();
    gamelib::SetSoundConvertPosition(t.c.get(), 11000);
    std::uint64_t units = 0;
    for (const sim::AcmCall& call : sim::AcmCalls())
      if (call.op == "acmStreamConvert" && call.stream == loopId) units += call.units;
    return units;
  };
  const std::uint64_t plain = unitsForSeekBack(false);
  EXPECT_GE(plain, 11000u / 1152);
  // The lead of 10240 bytes is a little over two frames of 4608 bytes, and the loop
  // decoder stops within one piece (4 frames here) of the lead.
  EXPECT_LE(unitsForSeekBack(true), 3u + 4);
}

TEST_F(AcmEdges, ALoopPointMovedBackRestartsTheLoopDecoder) {
  LoopCase t("acm/ima_s16_44100");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c->loopPointBytes = 20000;
  t.c.Drain();
  ASSERT_GT(t.c->acm.acmLoopBytes, 0);
  gamelib::SetSoundConvertPosition(t.c.get(), 0);
  t.c->loopPointBytes = 4;
  sim::ClearAcmCalls();
  t.c.Block(100);
  const std::vector<sim::AcmCall> calls = sim::AcmCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].op, "acmStreamClose");
  EXPECT_EQ(calls[1].op, "acmStreamOpen");
  EXPECT_EQ(t.c->acm.acmLoopBytes, 0);  // 4 bytes is within the lead: it waits at 0
}

TEST_F(AcmEdges, ALoopPointPastTheDataDoesNotEndTheMainData) {
  for (int loopPoint : {10000000, 55296 + 10240 + 4000, 0x7FFFFFF0}) {
    LoopCase t("acm/mp3_s16_44100_128k_id3v2");
    ASSERT_EQ(t.c.Setup(), 0);
    t.c->loopPointBytes = loopPoint;
    // The main decoder restarts half way, so the loop decoder runs out of source first.
    t.c.Block(30000);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 0), 0);
    EXPECT_GT(t.c->acm.acmLoopSourceUsed, t.c->acm.acmSourceUsed);
    EXPECT_EQ(t.c.Drain(500), t.f.reference) << loopPoint;
    EXPECT_EQ(t.c->acm.acmLoopSourceUsed, t.c->acm.acmSourceBytes);
  }
  LoopCase n("acm/ima_m16_22050");  // a negative loop point is none
  ASSERT_EQ(n.c.Setup(), 0);
  n.c->loopPointBytes = -400;
  EXPECT_EQ(n.c.Drain(), n.f.reference);
  EXPECT_EQ(n.c->acm.acmLoopBytes, 0);
}

TEST_F(AcmEdges, ADecoderThatCannotBeReopenedEndsOrRestartsSafely) {
  LoopCase t("acm/mp3_s16_44100_128k_id3v2");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c->loopPointBytes = 30000;
  t.c.Drain();
  // The swap's fresh loop decoder cannot be opened: the jump still works.
  sim::FailCall("acmStreamOpen", 1);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 7500), 0);
  EXPECT_EQ(t.c->acm.acmLoopStream, nullptr);
  EXPECT_EQ(t.c.Drain(), Tail(t.f.reference, 30000));
  // Without a loop decoder a jump back restarts the main one; when that cannot be
  // reopened either, the data ends instead of using a dead decoder.
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 100), 0);
  EXPECT_EQ(t.c.Drain(), Tail(t.f.reference, 400));
  sim::FailCall("acmStreamOpen", 1);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 100), 0);
  EXPECT_EQ(t.c->acm.acmStream, nullptr);
  EXPECT_TRUE(t.c.Block(1000).empty());
  EXPECT_EQ(t.c->endReached, 1);
}

TEST_F(AcmEdges, SeeksOutsideTheDataStaySafe) {
  LoopCase t("acm/msadpcm_s16_44100");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c.Block(3000);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), -5000), 0);
  EXPECT_EQ(t.c->outputPosition, 0);
  EXPECT_EQ(t.c.Drain(), t.f.reference);
  const int frames = static_cast<int>(t.f.reference.size()) / 4;
  for (int sample : {frames, frames + 1, 0x7FFFFFFF}) {
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 0), 0);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), sample), 0);
    EXPECT_TRUE(t.c.Block(1000).empty()) << sample;
    EXPECT_GE(t.c->blockOffset, 0);
    EXPECT_GE(t.c->blockLeft, 0);
  }
}

}  // namespace
