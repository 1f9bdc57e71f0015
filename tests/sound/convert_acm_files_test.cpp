// Every compressed file in tests/data/sound/acm (MP3 and layer II by their encoders;
// IMA ADPCM, Microsoft ADPCM, A-law, mu-law and MP3 frames in RIFF WAVE) goes through
// the compression-manager kind and gives its reference decode sample for sample:
// whole, block by block, and from positions reached by seeks.
#include <gtest/gtest.h>

#include <random>

#include "convert_acm_support.h"
#include "core/memory.h"
#include "platform/sim.h"

using namespace acm_test;
using convert_test::Converter;

namespace {

class ConvertAcmFiles : public ::testing::TestWithParam<AcmFile> {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override { EXPECT_EQ(sim::LiveAcmStreams(), 0); }
};

std::string FileName(const ::testing::TestParamInfo<AcmFile>& info) { return info.param.name; }

::testing::AssertionResult SamePcm(const Bytes& got, const Bytes& want, std::size_t wantOffset = 0) {
  if (wantOffset + got.size() > want.size())
    return ::testing::AssertionFailure() << "got " << got.size() << " bytes at " << wantOffset << ", reference has "
                                         << want.size();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[wantOffset + i])
      return ::testing::AssertionFailure() << "byte " << (wantOffset + i) << " (sample frame "
                                           << (wantOffset + i) / 4 << "): got " << int(got[i]) << ", want "
                                           << int(want[wantOffset + i]);
  return ::testing::AssertionSuccess();
}

TEST_P(ConvertAcmFiles, SetsUpAsTheCompressionManagerKind) {
  const AcmFile& f = GetParam();
  Converter c(convert_test::ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->convertKind, gamelib::SOUND_CONVERT_ACM);
  const WAVEFORMATEX& w = c->pcmFormat;
  EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(w.nChannels, f.channels);
  EXPECT_EQ(w.nSamplesPerSec, static_cast<DWORD>(f.rate));
  EXPECT_EQ(w.wBitsPerSample, 16);
  EXPECT_EQ(w.nBlockAlign, f.channels * 2);
  EXPECT_EQ(w.nAvgBytesPerSec, static_cast<DWORD>(f.channels * 2 * f.rate));
  EXPECT_EQ(w.cbSize, 0);
  EXPECT_EQ(c->acm.acmSourceBytes, c->dataChunkBytes);
  EXPECT_EQ(c->acm.acmSourceUsed, 0);
  if (f.mpegFile) {
    EXPECT_EQ(c->blockBytes, 4 * static_cast<int>(w.nAvgBytesPerSec) / 3);
    EXPECT_EQ(c->acm.acmSourceFormat->wFormatTag, WAVE_FORMAT_MPEGLAYER3);
    // Every frame is decoded, the info frame too, so the frames' sum is exact.
    EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), static_cast<int>(f.reference.size()));
    EXPECT_EQ(c->acm.acmKnownSamples * w.nBlockAlign, static_cast<int>(f.reference.size()));
  } else {
    EXPECT_EQ(c->blockBytes, static_cast<int>(w.nAvgBytesPerSec));
    EXPECT_EQ(c->acm.acmKnownSamples, -1);
    // The size the manager reports: exact for the block codecs, a bound for MPEG.
    if (f.name.rfind("mp3wav", 0) == 0) {
      EXPECT_GE(gamelib::GetSoundConvertDestSize(c.get()), static_cast<int>(f.reference.size()));
    } else {
      EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), static_cast<int>(f.reference.size()));
    }
  }
}

TEST_P(ConvertAcmFiles, WholeConversionIsTheReference) {
  const AcmFile& f = GetParam();
  Converter c(convert_test::ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  bool ok = false;
  Bytes pcm = c.Whole(&ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(pcm.size(), f.reference.size());
  EXPECT_TRUE(SamePcm(pcm, f.reference));
}

TEST_P(ConvertAcmFiles, BlocksOfEverySizeAreTheReference) {
  const AcmFile& f = GetParam();
  Converter c(convert_test::ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  std::mt19937 random(777);
  Bytes pcm;
  for (int guard = 0; guard < 100000; ++guard) {
    int n = std::uniform_int_distribution<int>(1, c->blockBytes + 100)(random);
    int r = 0;
    Bytes piece = c.Block(n, &r);
    ASSERT_GE(r, 0);
    if (r == 0) break;
    pcm.insert(pcm.end(), piece.begin(), piece.end());
    ASSERT_LE(pcm.size(), f.reference.size());
  }
  EXPECT_EQ(c->endReached, 1);
  ASSERT_EQ(pcm.size(), f.reference.size());
  EXPECT_TRUE(SamePcm(pcm, f.reference));
  // Past the end nothing more comes.
  EXPECT_TRUE(c.Block(1000).empty());
}

TEST_P(ConvertAcmFiles, SeeksForwardAndBackLandOnTheReference) {
  const AcmFile& f = GetParam();
  Converter c(convert_test::ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  const int align = c->pcmFormat.nBlockAlign;
  const int frames = static_cast<int>(f.reference.size()) / align;
  std::mt19937 random(4242);
  for (int i = 0; i < 25; ++i) {
    int sample = std::uniform_int_distribution<int>(0, frames - 1)(random);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), sample), 0);
    // The 16-byte skip may leave it a few bytes before the target.
    const std::size_t at = static_cast<std::size_t>(c->outputPosition);
    EXPECT_LT(std::abs(static_cast<long>(at) - static_cast<long>(sample) * align), 16);
    Bytes piece = c.Block(std::uniform_int_distribution<int>(1, 9000)(random));
    EXPECT_TRUE(SamePcm(piece, f.reference, at)) << "from sample " << sample;
    if (at + 9000 <= f.reference.size()) EXPECT_FALSE(piece.empty());
  }
}

TEST_P(ConvertAcmFiles, NothingIsLeftAfterTerminate) {
  const AcmFile& f = GetParam();
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  {
    Converter c(convert_test::ReadFileBytes(f.path));
    ASSERT_EQ(c.Setup(), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 2);  // the main and the loop decoder
    c.Block(5000);
    ASSERT_EQ(gamelib::TerminateSoundConvert(c.get()), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    EXPECT_EQ(c->acm.acmSourceData, nullptr);
    EXPECT_EQ(c->acm.acmStream, nullptr);
  }
  gamelib::MemoryUsage after = gamelib::GetMemoryUsage();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
}

INSTANTIATE_TEST_SUITE_P(TestData, ConvertAcmFiles, ::testing::ValuesIn(AcmFiles()), FileName);

}  // namespace
