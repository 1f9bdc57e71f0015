// The compression-manager kind's edge cases and hostile input: the MPEG frame header
// parser and its tables, ID3 tags, the frame scan on broken files, compressed WAVE
// with lying sizes, platform refusals, and the loop decoder that creeps towards the
// loop point so that a jump back resumes from it.
#include <gtest/gtest.h>

#include <random>

#include "convert_acm_support.h"
#include "core/memory.h"
#include "platform/sim.h"

using namespace acm_test;
using convert_test::Chunk;
using convert_test::Converter;
using convert_test::FmtBody;
using convert_test::FmtFields;
using convert_test::Riff;
using gamelib::Mp3FrameRecord;
using gamelib::ParseMp3FrameHeader;

namespace {

class AcmEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    before_ = gamelib::GetMemoryUsage();
  }
  void TearDown() override {
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    gamelib::MemoryUsage after = gamelib::GetMemoryUsage();
    EXPECT_EQ(after.blocks, before_.blocks);
    EXPECT_EQ(after.bytes, before_.bytes);
    sim::Reset();
  }
  gamelib::MemoryUsage before_{};
};

Mp3FrameRecord Parse(const Bytes& header, int* result = nullptr) {
  Mp3FrameRecord f{};
  int r = ParseMp3FrameHeader(header.data(), &f);
  if (result) *result = r;
  return f;
}

// ---- The frame header parser ----------------------------------------------------------

TEST_F(AcmEdges, FrameLengthsAndSampleCounts) {
  Mp3FrameRecord f = Parse(FrameHeader(true, 3, 9, 0));  // 128 kbit/s, 44100 Hz
  EXPECT_EQ(f.layer, 2);
  EXPECT_EQ(f.version, 0);
  EXPECT_EQ(f.bitrate, 128u);
  EXPECT_EQ(f.sampleRate, 44100u);
  EXPECT_EQ(f.frameBytes, 417u);
  EXPECT_EQ(f.samplesPerFrame, 1152u);
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(Parse(FrameHeader(true, 3, 9, 0, 1)).frameBytes, 418u);
  // MPEG-2 layer III: half the bytes and samples; 32 kbit/s at 22050 Hz.
  f = Parse(FrameHeader(false, 3, 4, 0, 0, true));
  EXPECT_EQ(f.version, 1);
  EXPECT_EQ(f.sampleRate, 22050u);
  EXPECT_EQ(f.frameBytes, 104u);
  EXPECT_EQ(f.samplesPerFrame, 576u);
  EXPECT_EQ(f.channels, 1);
  // Layer I: 4-byte slots, 384 samples; 384 kbit/s at 44100 Hz, padded.
  f = Parse(FrameHeader(true, 1, 12, 0, 1));
  EXPECT_EQ(f.layer, 0);
  EXPECT_EQ(f.frameBytes, (12000u * 384 / 44100 + 1) * 4);
  EXPECT_EQ(f.samplesPerFrame, 384u);
  // Layer II of MPEG-2 keeps 1152 samples and the 144000 factor.
  f = Parse(FrameHeader(false, 2, 8, 2));  // 64 kbit/s at 16000 Hz
  EXPECT_EQ(f.frameBytes, 576u);
  EXPECT_EQ(f.samplesPerFrame, 1152u);
  EXPECT_EQ(Parse(FrameHeader(true, 2, 10, 1)).frameBytes, 576u);  // 192 kbit/s at 48000 Hz
}

TEST_F(AcmEdges, BitrateAndRateTablesFollowTheStandards) {
  const std::uint32_t want[5][15] = {
      {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 I
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 II
      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 III
      {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 I
      {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};         // MPEG-2 II, III
  for (int index = 0; index < 15; ++index) {
    EXPECT_EQ(Parse(FrameHeader(true, 1, index, 0)).bitrate, want[0][index]);
    EXPECT_EQ(Parse(FrameHeader(true, 2, index, 0)).bitrate, want[1][index]);
    EXPECT_EQ(Parse(FrameHeader(true, 3, index, 0)).bitrate, want[2][index]);
    EXPECT_EQ(Parse(FrameHeader(false, 1, index, 0)).bitrate, want[3][index]);
    EXPECT_EQ(Parse(FrameHeader(false, 2, index, 0)).bitrate, want[4][index]);
    EXPECT_EQ(Parse(FrameHeader(false, 3, index, 0)).bitrate, want[4][index]);
  }
  const std::uint32_t rates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(Parse(FrameHeader(true, 3, 9, r)).sampleRate, rates[0][r]);
    EXPECT_EQ(Parse(FrameHeader(false, 3, 9, r)).sampleRate, rates[1][r]);
  }
}

TEST_F(AcmEdges, ParserRefusals) {
  int r = 0;
  Parse({0xFE, 0xFB, 0x90, 0x00}, &r);
  EXPECT_EQ(r, -2);
  Parse({0xFF, 0xEB, 0x90, 0x00}, &r);  // 11 sync bits only (MPEG 2.5)
  EXPECT_EQ(r, -2);
  Parse({0xFF, 0xF9, 0x90, 0x00}, &r);  // layer 00
  EXPECT_EQ(r, -1);
  Parse(FrameHeader(true, 3, 15, 0), &r);
  EXPECT_EQ(r, -1);
  Parse(FrameHeader(true, 3, 9, 3), &r);
  EXPECT_EQ(r, -1);
  // Free format (index 0) parses: bitrate 0, and the length is only the padding.
  Mp3FrameRecord f = Parse(FrameHeader(true, 3, 0, 0, 1), &r);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(f.bitrate, 0u);
  EXPECT_EQ(f.frameBytes, 1u);
  EXPECT_EQ(Parse(FrameHeader(true, 1, 0, 0)).frameBytes, 0u);
}

// ---- ID3 tags and the frame scan ---------------------------------------------------------

TEST_F(AcmEdges, Id3v2TagIsSkippedByItsSyncsafeSize) {
  Bytes tag = Id3v2(1000);
  EXPECT_EQ(Bytes(tag.begin() + 6, tag.begin() + 10), (Bytes{0, 0, 7, 104}));
  Converter c(Concat({tag, SilentFrames(5)}));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkPosition, 1010);
  EXPECT_EQ(c->dataChunkBytes, 5 * 417);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 5 * 1152 * 4);
  EXPECT_EQ(c.Whole(), Bytes(5 * 1152 * 4, 0));
}

TEST_F(AcmEdges, Id3v24FooterIsSkippedToo) {
  Converter c(Concat({Id3v2(1000, 4, 0x10), SilentFrames(3)}));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkPosition, 1020);
  // The footer flag means nothing before version 4.
  Bytes v3 = Id3v2(1000, 3, 0x10);
  v3.resize(v3.size() + 10, 0);  // ten bytes of junk where a footer would be
  Converter d(Concat({v3, SilentFrames(3)}));
  ASSERT_EQ(d.Setup(), 0);
  EXPECT_EQ(d->dataChunkPosition, 1020);  // found by the byte scan past the junk
  EXPECT_EQ(d->dataChunkBytes, 3 * 417);
}

TEST_F(AcmEdges, Id3v1TagEndsTheData) {
  Converter c(Concat({SilentFrames(4), Id3v1()}));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkPosition, 0);
  EXPECT_EQ(c->dataChunkBytes, 4 * 417);
  EXPECT_EQ(c->acm.acmKnownSamples, 4 * 1152);
  // Junk after the last frame is not data either.
  Converter d(Concat({SilentFrames(4), Bytes(300, 0x11)}));
  ASSERT_EQ(d.Setup(), 0);
  EXPECT_EQ(d->dataChunkBytes, 4 * 417);
}

TEST_F(AcmEdges, Mp3WaveFormatDescribesTheFirstFrame) {
  Bytes padded = SilentFrame(true, 9, 0, 1);
  Converter c(Concat({padded, SilentFrames(2)}));
  ASSERT_EQ(c.Setup(), 0);
  const auto* f = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(c->acm.acmSourceFormat);
  EXPECT_EQ(f->wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
  EXPECT_EQ(f->wfx.nChannels, 2);
  EXPECT_EQ(f->wfx.nSamplesPerSec, 44100u);
  EXPECT_EQ(f->wfx.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(f->wfx.nBlockAlign, 1);
  EXPECT_EQ(f->wfx.wBitsPerSample, 0);
  EXPECT_EQ(f->wfx.cbSize, 12);
  EXPECT_EQ(f->wID, MPEGLAYER3_ID_MPEG);
  EXPECT_EQ(f->fdwFlags, MPEGLAYER3_FLAG_PADDING_ON);
  EXPECT_EQ(f->nBlockSize, 418);
  EXPECT_EQ(f->nFramesPerBlock, 1);
  EXPECT_EQ(f->nCodecDelay, 700);
  EXPECT_EQ(c->blockBytes, 4 * 176400 / 3);
}

TEST_F(AcmEdges, Mp3FormatBlockHasTheReportedSizeButNeverLessThan30) {
  Bytes file = SilentFrames(3);
  auto formatBytes = [&](std::int64_t reported) {
    sim::SetAcmMaxFormatSize(reported);
    gamelib::MemoryUsage base = gamelib::GetMemoryUsage();
    Converter c(file);
    EXPECT_EQ(c.Setup(), 0);
    gamelib::MemoryUsage with = gamelib::GetMemoryUsage();
    return static_cast<long long>(with.bytes - base.bytes);
  };
  long long nothing = formatBytes(-1);  // the call writes nothing: 30
  EXPECT_EQ(formatBytes(64) - nothing, 34);
  EXPECT_EQ(formatBytes(12), nothing);  // smaller than what is written
  EXPECT_EQ(formatBytes(1 << 30) - nothing, 1024 - 30);
  // A failed call reports nothing either.
  sim::FailCall("acmMetrics", 1);
  EXPECT_EQ(formatBytes(50), nothing);
}

TEST_F(AcmEdges, DestSizeIsTheSumOfTheFramesSamples) {
  // Mixed frame sizes: 128 and 64 kbit/s, padded and not.
  Bytes file = Concat({SilentFrame(true, 9, 0), SilentFrame(true, 5, 0, 1), SilentFrame(true, 9, 0, 1)});
  Converter c(file);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 3 * 1152 * 4);
  Converter m(Concat({SilentFrame(false, 4, 0, 0, true), SilentFrame(false, 4, 0, 0, true)}));
  ASSERT_EQ(m.Setup(), 0);
  EXPECT_EQ(m->pcmFormat.nChannels, 1);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(m.get()), 2 * 576 * 2);
  EXPECT_EQ(m.Whole(), Bytes(2 * 576 * 2, 0));
}

// ---- Hostile MP3 files -------------------------------------------------------------------

TEST_F(AcmEdges, BitrateIndexZeroCannotStallTheScan) {
  // Alone, after good frames, and padded (a one-byte "frame").
  EXPECT_EQ(Converter(Concat({FrameHeader(true, 3, 0, 0), Bytes(600, 0)})).Setup(), -1);
  EXPECT_EQ(Converter(Concat({FrameHeader(true, 3, 0, 0, 1), Bytes(600, 0)})).Setup(), -1);
  EXPECT_EQ(Converter(Concat({FrameHeader(true, 1, 0, 0), Bytes(600, 0)})).Setup(), -1);
  EXPECT_EQ(Converter(Concat({SilentFrames(3), FrameHeader(true, 3, 0, 0), Bytes(600, 0)})).Setup(), -1);
}

TEST_F(AcmEdges, AnInvalidHeaderAfterASyncFailsTheTrial) {
  EXPECT_EQ(Converter(Concat({SilentFrames(2), Bytes{0xFF, 0xF9, 0x90, 0x00}, Bytes(600, 0)})).Setup(), -1);
  EXPECT_EQ(Converter(Concat({SilentFrames(2), FrameHeader(true, 3, 15, 0), Bytes(600, 0)})).Setup(), -1);
}

TEST_F(AcmEdges, TinyFilesAreRefusedOrDecodeWhatIsThere) {
  // A frame of 24 bytes (8 kbit/s at 24000 Hz): a file of 128 bytes or less has no
  // audio region beside the room for a tag.
  Bytes small = SilentFrame(false, 1, 1, 0, true);
  ASSERT_EQ(small.size(), 24u);
  Bytes frames;
  for (int i = 0; i < 6; ++i) frames.insert(frames.end(), small.begin(), small.end());
  EXPECT_EQ(Converter(Bytes(frames.begin(), frames.begin() + 120)).Setup(), -1);
  for (std::size_t n = 0; n <= 128; ++n) EXPECT_EQ(Converter(Bytes(frames.begin(), frames.begin() + std::min(n, frames.size()))).Setup(), -1) << n;
  frames.insert(frames.end(), small.begin(), small.end());  // 168 bytes
  Converter c(frames);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c.Whole().size(), 7u * 576 * 2);
}

TEST_F(AcmEdges, ASyncInsideTheTagBlockIsNotAFrame) {
  Bytes tag = Id3v1();
  Bytes frame = SilentFrame(true, 9, 0);
  std::copy(frame.begin(), frame.begin() + 4, tag.begin() + 40);
  EXPECT_EQ(Converter(Concat({Bytes(300, 0x20), tag})).Setup(), -1);
  // A frame that starts before the tag and runs into it ends at the tag.
  Bytes file = Concat({SilentFrames(2), Bytes(frame.begin(), frame.begin() + 100), tag});
  Converter c(file);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 2 * 417 + 100);
  EXPECT_EQ(c.Whole().size(), 2u * 1152 * 4);  // the cut frame decodes to nothing
}

TEST_F(AcmEdges, HugeId3SizesAreNeitherTrustedNorOverflowed) {
  // All size bytes with the top bit set: masked to 7 bits each.
  Bytes tag = Id3v2(0);
  for (int i = 6; i < 10; ++i) tag[i] = 0x80;
  Converter masked(Concat({tag, SilentFrames(2)}));
  ASSERT_EQ(masked.Setup(), 0);
  EXPECT_EQ(masked->dataChunkPosition, 10);
  // The largest size skips past the end: no frame, and nothing allocated for it.
  for (std::uint8_t b : {std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
    Bytes huge = Id3v2(0, 4, 0x10);
    for (int i = 6; i < 10; ++i) huge[i] = b;
    EXPECT_EQ(Converter(Concat({huge, SilentFrames(2)})).Setup(), -1);
  }
  // A header cut inside the tag.
  EXPECT_EQ(Converter(Bytes{'I', 'D', '3', 4, 0}).Setup(), -1);
}

TEST_F(AcmEdges, TruncatedFramesEndTheDataWithoutReadingPastIt) {
  Bytes whole = Concat({SilentFrames(6)});
  for (std::size_t cut : {417u * 5 + 1, 417u * 5 + 3, 417u * 5 + 4, 417u * 5 + 200, 417u * 6 - 1}) {
    Converter c(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    ASSERT_EQ(c.Setup(), 0) << cut;
    // A cut frame whose header is whole counts; a cut header does not.
    EXPECT_EQ(c->acm.acmKnownSamples, (cut >= 417u * 5 + 4 ? 6 : 5) * 1152) << cut;
    Bytes pcm = c.Whole();
    EXPECT_EQ(pcm.size(), 5u * 1152 * 4) << cut;  // but gives nothing
    EXPECT_LE(static_cast<int>(pcm.size()), gamelib::GetSoundConvertDestSize(c.get()));
  }
}

TEST_F(AcmEdges, JunkBetweenFramesIsSkippedEvenWhenLongerThanAPiece) {
  const AcmFile f = AcmFileNamed("mp3_m16_44100_64k_crc");
  Bytes file = convert_test::ReadFileBytes(f.path);
  // Silent frames of the same stream shape (mono 44100 Hz) around junk runs of 50
  // and 5000 bytes (no sync in them), after the real file.
  Bytes mono = SilentFrame(true, 5, 0, 0, true);
  Bytes junk(5000, 0x00);
  Bytes hostile = Concat({file, Bytes(50, 0x11), mono, junk, mono, mono});
  Converter c(hostile);
  ASSERT_EQ(c.Setup(), 0);
  Bytes pcm = c.Whole();
  ASSERT_EQ(pcm.size(), f.reference.size() + 3u * 2304);
  EXPECT_TRUE(std::equal(f.reference.begin(), f.reference.end(), pcm.begin()));
  // The block path agrees with the whole conversion.
  Converter b(hostile);
  ASSERT_EQ(b.Setup(), 0);
  Bytes blocks;
  for (int guard = 0; guard < 1000; ++guard) {
    Bytes piece = b.Block(3000);
    if (piece.empty()) break;
    blocks.insert(blocks.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(blocks, pcm);
}

TEST_F(AcmEdges, EveryPrefixOfARealFileIsSafe) {
  Bytes file = convert_test::ReadFileBytes(AcmFileNamed("mp3_s16_22050_vbr_tags").path);
  for (std::size_t n = 0; n <= file.size(); n += 37) {
    Converter c(Bytes(file.begin(), file.begin() + static_cast<long>(n)));
    if (c.Setup() != 0) continue;
    int promised = gamelib::GetSoundConvertDestSize(c.get());
    bool ok = false;
    Bytes pcm = c.Whole(&ok);
    EXPECT_LE(static_cast<int>(pcm.size()), promised) << n;
  }
}

// ---- Compressed WAVE -----------------------------------------------------------------------

Bytes ImaWave(const Bytes& data, std::uint16_t align = 256, std::int64_t storedDataSize = -1, std::uint16_t cbSize = 2,
              std::size_t bodyBytes = 20) {
  FmtFields f;
  f.tag = WAVE_FORMAT_IMA_ADPCM;
  f.channels = 1;
  f.rate = 22050;
  f.avg = 11100;
  f.align = align;
  f.bits = 4;
  Bytes body = FmtBody(f, 18, cbSize);
  int spb = (align - 4) * 2 + 1;
  convert_test::PutLe16(body, static_cast<std::uint32_t>(spb));
  body.resize(bodyBytes, 0);
  return Riff({Chunk("fmt ", body), Chunk("fact", Bytes(4, 0)), Chunk("data", data, storedDataSize)});
}

TEST_F(AcmEdges, ImaWaveSizeComesFromTheManager) {
  Bytes data(256 * 3, 0x31);
  Converter c(ImaWave(data));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->convertKind, gamelib::SOUND_CONVERT_ACM);
  EXPECT_EQ(c->acm.acmKnownSamples, -1);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 3 * 505 * 2);
  EXPECT_EQ(c.Whole().size(), 3u * 505 * 2);
  // When the manager cannot say, there is no whole conversion (but no crash).
  sim::FailCall("acmStreamSize", 1);
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 0);
  sim::FailCall("acmStreamSize", 1);
  bool ok = true;
  c.Whole(&ok);
  EXPECT_FALSE(ok);
}

TEST_F(AcmEdges, LyingWaveSizesAreCutToWhatIsThere) {
  // A data chunk that claims more than the file: whole blocks of what is there.
  Converter c(ImaWave(Bytes(256 * 2 + 100, 0x42), 256, 0x7FFFFFF0));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 256 * 2 + 100);
  EXPECT_EQ(c.Whole().size(), 2u * 505 * 2);
  // cbSize larger than the body: the manager sees only what the body holds.
  Converter d(ImaWave(Bytes(256, 0x42), 256, -1, 0xFFFF));
  ASSERT_EQ(d.Setup(), 0);
  EXPECT_EQ(d->acm.acmSourceFormat->cbSize, 2);
  // An empty data chunk is no sound.
  EXPECT_EQ(Converter(ImaWave(Bytes{})).Setup(), -1);
}

TEST_F(AcmEdges, AdpcmBlocksPastThePieceSizeAreRefused) {
  EXPECT_EQ(Converter(ImaWave(Bytes(4096 * 2, 0), 4096)).Setup(), -1);
  EXPECT_EQ(Converter(ImaWave(Bytes(2052 * 2, 0), 2052)).Setup(), -1);
  // 2048 is the largest block that fits one piece.
  Converter c(ImaWave(Bytes(2048 * 2, 0), 2048));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c.Whole().size(), 2u * 4089 * 2);
  // Microsoft ADPCM with too few coefficient bytes for its count.
  FmtFields f;
  f.tag = WAVE_FORMAT_ADPCM;
  f.channels = 1;
  f.align = 256;
  f.bits = 4;
  Bytes body = FmtBody(f, 18, 32);
  convert_test::PutLe16(body, 500);
  convert_test::PutLe16(body, 7);
  body.resize(18 + 22, 0);  // cbSize says 32
  EXPECT_EQ(Converter(Riff({Chunk("fmt ", body), Chunk("data", Bytes(512, 0))})).Setup(), -1);
}

TEST_F(AcmEdges, RefusalsOfTheManagerFailTheTrialAndReleaseIt) {
  Bytes ima = ImaWave(Bytes(256 * 4, 0x31));
  Bytes mp3 = SilentFrames(4);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false);
  EXPECT_EQ(Converter(ima).Setup(), -1);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, true);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_MPEGLAYER3, false);
  EXPECT_EQ(Converter(mp3).Setup(), -1);
  sim::SetAcmFormatEnabled(WAVE_FORMAT_MPEGLAYER3, true);
  for (const Bytes* file : {&ima, &mp3}) {
    sim::FailCall("acmFormatSuggest", 1);
    EXPECT_EQ(Converter(*file).Setup(), -1);
    sim::FailCall("acmStreamOpen", 1);
    EXPECT_EQ(Converter(*file).Setup(), -1);
    sim::FailCall("acmStreamOpen", 2);  // the loop decoder
    EXPECT_EQ(Converter(*file).Setup(), -1);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    sim::FailCall("AllocMemory", 3);  // inside the trial
    EXPECT_EQ(Converter(*file).Setup(), -1);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
  }
}

TEST_F(AcmEdges, FailedPiecesEndTheData) {
  Bytes mp3 = SilentFrames(20);
  Converter c(mp3);
  ASSERT_EQ(c.Setup(), 0);
  Bytes first = c.Block(4608);
  EXPECT_EQ(first.size(), 4608u);
  sim::FailCall("acmStreamPrepareHeader", 1, 1000);
  int r = -1;
  Bytes rest = c.Block(1 << 20, &r);
  EXPECT_GE(r, 0);
  EXPECT_EQ(c->endReached, 1);
  EXPECT_LT(first.size() + rest.size(), 20u * 4608);
  sim::ClearFailures();
  // A failed conversion (not prepare) ends it too, instead of spinning.
  Converter d(mp3);
  ASSERT_EQ(d.Setup(), 0);
  sim::FailCall("acmStreamConvert", 1, 1000);
  EXPECT_TRUE(d.Block(10000).empty());
  EXPECT_EQ(d->endReached, 1);
}

// ---- Seeks and the loop decoder -------------------------------------------------------------

struct LoopCase {
  Converter c;
  Bytes reference;
  explicit LoopCase(const char* name) : c(convert_test::ReadFileBytes(AcmFileNamed(name).path)) {
    reference = AcmFileNamed(name).reference;
  }
};

// Converts until the end in pieces of n bytes.
Bytes DrainTo(Converter& c, int n = 5000) {
  Bytes out;
  for (int guard = 0; guard < 100000; ++guard) {
    Bytes piece = c.Block(n);
    if (piece.empty()) break;
    out.insert(out.end(), piece.begin(), piece.end());
  }
  return out;
}

TEST_F(AcmEdges, TheLoopDecoderCreepsToJustBeforeTheLoopPoint) {
  LoopCase t("mp3_s16_44100_128k_id3v2");
  ASSERT_EQ(t.c.Setup(), 0);
  const int loopPoint = 40000;
  t.c->loopPointBytes = loopPoint;
  Bytes first = DrainTo(t.c);
  EXPECT_EQ(first, t.reference);
  // It stops no further than the loop point and no more than 10240 bytes before it.
  EXPECT_GE(t.c->acm.acmLoopBytes, loopPoint - gamelib::kAcmLoopLeadBytes);
  EXPECT_LE(t.c->acm.acmLoopBytes, loopPoint);
  EXPECT_GT(t.c->acm.acmLoopSourceUsed, 0);
}

TEST_F(AcmEdges, JumpingBackToTheLoopPointResumesFromTheLoopDecoder) {
  for (const char* name : {"mp3_s16_44100_128k_id3v2", "mp2_s16_32000_192k", "ima_s16_44100", "msadpcm_s16_44100"}) {
    LoopCase t(name);
    ASSERT_EQ(t.c.Setup(), 0);
    const int align = t.c->pcmFormat.nBlockAlign;
    const int loopSample = static_cast<int>(t.reference.size()) / align * 3 / 4;
    t.c->loopPointBytes = loopSample * align;
    Bytes first = DrainTo(t.c);
    ASSERT_EQ(first, t.reference) << name;
    const gamelib::SoundConvertAcmState before = t.c->acm;
    ASSERT_GT(before.acmLoopBytes, 0) << name;
    std::vector<sim::AcmCall> openBefore = sim::AcmCalls();
    sim::ClearAcmCalls();

    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), loopSample), 0);
    // The loop decoder is the main one now, from where it stood; the old main decoder
    // was closed and a fresh loop decoder opened.
    EXPECT_EQ(t.c->acm.acmStream, before.acmLoopStream) << name;
    EXPECT_NE(t.c->acm.acmLoopStream, nullptr);
    EXPECT_LE(t.c->acm.acmLoopBytes, t.c->loopPointBytes);
    EXPECT_EQ(t.c->outputPosition, loopSample * align);
    Bytes second = DrainTo(t.c);
    EXPECT_EQ(second, Bytes(t.reference.begin() + loopSample * align, t.reference.end())) << name;

    // No conversion of the main decoder started at the data's start, and the skip to
    // the loop point decoded at most the lead plus one piece.
    std::uint64_t loopId = 0;
    for (const sim::AcmCall& call : openBefore)
      if (call.op == "acmStreamOpen") loopId = call.stream;  // the newest: the loop decoder
    std::vector<sim::AcmCall> calls = sim::AcmCalls();
    int closes = 0, opens = 0;
    for (const sim::AcmCall& call : calls) {
      if (call.op == "acmStreamClose") ++closes;
      if (call.op == "acmStreamOpen") ++opens;
      if (call.op == "acmStreamConvert" && call.stream == loopId) EXPECT_GT(call.inputPosition, 0u) << name;
    }
    EXPECT_EQ(closes, 1) << name;
    EXPECT_EQ(opens, 1) << name;
  }
}

TEST_F(AcmEdges, SeekCostWithAndWithoutALoopPoint) {
  // Without a loop point the seek back decodes everything before the target again;
  // with one it decodes only from where the loop decoder stood.
  // Counted on the decoder that serves the seek (the loop decoder, swapped in).
  auto unitsForSeekBack = [](bool withLoopPoint) {
    LoopCase t("mp3_s16_44100_128k_id3v2");
    EXPECT_EQ(t.c.Setup(), 0);
    const int loopSample = 11000;
    if (withLoopPoint) t.c->loopPointBytes = loopSample * 4;
    DrainTo(t.c);
    std::uint64_t loopId = 0;
    for (const sim::AcmCall& call : sim::AcmCalls())
      if (call.op == "acmStreamOpen") loopId = call.stream;
    sim::ClearAcmCalls();
    gamelib::SetSoundConvertPosition(t.c.get(), loopSample);
    std::uint64_t units = 0;
    for (const sim::AcmCall& call : sim::AcmCalls())
      if (call.op == "acmStreamConvert" && call.stream == loopId) units += call.units;
    return units;
  };
  std::uint64_t plain = unitsForSeekBack(false);
  std::uint64_t looped = unitsForSeekBack(true);
  EXPECT_GE(plain, 11000u / 1152);
  // The lead of 10240 bytes is a little over two frames of 4608 bytes, and the loop
  // decoder stops within one piece (4 frames here) of the lead.
  EXPECT_LE(looped, 3u + 4);
  EXPECT_LT(looped, plain);
}

TEST_F(AcmEdges, ALoopPointMovedBackRestartsTheLoopDecoder) {
  LoopCase t("ima_s16_44100");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c->loopPointBytes = 20000;
  DrainTo(t.c);
  ASSERT_GT(t.c->acm.acmLoopBytes, 0);
  gamelib::SetSoundConvertPosition(t.c.get(), 0);
  t.c->loopPointBytes = 4;
  sim::ClearAcmCalls();
  t.c.Block(100);  // runs one block conversion
  std::vector<sim::AcmCall> calls = sim::AcmCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].op, "acmStreamClose");
  EXPECT_EQ(calls[1].op, "acmStreamOpen");
  EXPECT_EQ(t.c->acm.acmLoopBytes, 0);  // 4 bytes is within the lead: it waits at 0
}

TEST_F(AcmEdges, ALoopPointPastTheDataDoesNotEndTheMainData) {
  for (int loopPoint : {10000000, 55296 + 10240 + 4000, 0x7FFFFFF0}) {
    LoopCase t("mp3_s16_44100_128k_id3v2");
    ASSERT_EQ(t.c.Setup(), 0);
    t.c->loopPointBytes = loopPoint;
    // A head start for the loop decoder: the main one restarts half way, so the loop
    // decoder runs out of source long before the main one.
    t.c.Block(30000);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 0), 0);
    EXPECT_GT(t.c->acm.acmLoopSourceUsed, t.c->acm.acmSourceUsed);
    EXPECT_EQ(DrainTo(t.c, 500), t.reference) << loopPoint;
    EXPECT_EQ(t.c->acm.acmLoopSourceUsed, t.c->acm.acmSourceBytes);
  }
  // A negative loop point is none.
  LoopCase n("ima_m16_22050");
  ASSERT_EQ(n.c.Setup(), 0);
  n.c->loopPointBytes = -400;
  EXPECT_EQ(DrainTo(n.c), n.reference);
  EXPECT_EQ(n.c->acm.acmLoopBytes, 0);
}

TEST_F(AcmEdges, ADecoderThatCannotBeReopenedEndsOrRestartsSafely) {
  LoopCase t("mp3_s16_44100_128k_id3v2");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c->loopPointBytes = 30000;
  DrainTo(t.c);
  // The swap's fresh loop decoder cannot be opened: the jump still works.
  sim::FailCall("acmStreamOpen", 1);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 7500), 0);
  EXPECT_EQ(t.c->acm.acmLoopStream, nullptr);
  EXPECT_EQ(DrainTo(t.c), Bytes(t.reference.begin() + 30000, t.reference.end()));
  // Without a loop decoder a jump back restarts the main one; when that cannot be
  // reopened either, the data ends instead of using a dead decoder.
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 100), 0);
  EXPECT_EQ(DrainTo(t.c), Bytes(t.reference.begin() + 400, t.reference.end()));
  sim::FailCall("acmStreamOpen", 1);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 100), 0);
  EXPECT_EQ(t.c->acm.acmStream, nullptr);
  EXPECT_TRUE(t.c.Block(1000).empty());
  EXPECT_EQ(t.c->endReached, 1);
}

TEST_F(AcmEdges, SeeksOutsideTheDataStaySafe) {
  LoopCase t("msadpcm_s16_44100");
  ASSERT_EQ(t.c.Setup(), 0);
  t.c.Block(3000);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), -5000), 0);
  EXPECT_EQ(t.c->outputPosition, 0);
  EXPECT_EQ(DrainTo(t.c), t.reference);
  for (int sample : {static_cast<int>(t.reference.size()) / 4, static_cast<int>(t.reference.size()) / 4 + 1,
                     0x7FFFFFFF}) {
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), 0), 0);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(t.c.get(), sample), 0);
    EXPECT_TRUE(t.c.Block(1000).empty()) << sample;
    EXPECT_GE(t.c->blockOffset, 0);
    EXPECT_GE(t.c->blockLeft, 0);
  }
}

}  // namespace
