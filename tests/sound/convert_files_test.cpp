// Every committed sound file, converted whole and block by block (with seeks), must
// give its reference decode byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "convert_test_support.h"
#include "core/memory.h"

using namespace convert_test;
using gamelib::SoundConvertRecord;

namespace {

class ConvertFiles : public ::testing::TestWithParam<SoundFile> {};

std::string FileName(const ::testing::TestParamInfo<SoundFile>& info) { return info.param.name; }

// The first byte where two byte strings differ, for a readable failure.
::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want, std::size_t wantOffset = 0) {
  if (wantOffset + got.size() > want.size())
    return ::testing::AssertionFailure() << "got " << got.size() << " bytes at " << wantOffset << ", reference has "
                                         << want.size();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (got[i] != want[wantOffset + i])
      return ::testing::AssertionFailure() << "byte " << (wantOffset + i) << ": got " << int(got[i]) << ", want "
                                           << int(want[wantOffset + i]);
  return ::testing::AssertionSuccess();
}

TEST_P(ConvertFiles, FormatMatchesTheFile) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->initialised, 1);
  EXPECT_EQ(c->convertKind, f.ogg ? gamelib::SOUND_CONVERT_OGG : gamelib::SOUND_CONVERT_WAVE_PCM);
  WAVEFORMATEX w{};
  ASSERT_EQ(gamelib::GetSoundConvertFormat(c.get(), &w), 0);
  int align = f.channels * f.bits / 8;
  EXPECT_EQ(w.wFormatTag, 1);
  EXPECT_EQ(w.nChannels, f.channels);
  EXPECT_EQ(w.nSamplesPerSec, static_cast<DWORD>(f.rate));
  EXPECT_EQ(w.nBlockAlign, align);
  EXPECT_EQ(w.wBitsPerSample, f.bits);
  EXPECT_EQ(w.nAvgBytesPerSec, static_cast<DWORD>(align * f.rate));
  EXPECT_EQ(w.cbSize, 0);
  EXPECT_EQ(c->dataChunkBytes, static_cast<int>(f.reference.size()));
  EXPECT_EQ(c->blockBytes, f.ogg ? 4096 : align * f.rate);
  // Ogg: the whole-conversion size leaves one second (44100 samples) of room.
  int room = f.ogg ? f.channels * 2 * 44100 : 0;
  EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), static_cast<int>(f.reference.size()) + room);
}

TEST_P(ConvertFiles, WholeConversionIsTheReference) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  bool ok = false;
  Bytes pcm = c.Whole(&ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(pcm.size(), f.reference.size());
  EXPECT_TRUE(SameBytes(pcm, f.reference));
}

TEST_P(ConvertFiles, BlocksOfEverySizeAreTheReference) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  std::mt19937 random(12345);
  Bytes pcm;
  for (;;) {
    // Sizes across block boundaries: 1 byte up to more than one block.
    int n = std::uniform_int_distribution<int>(1, c->blockBytes + 100)(random);
    int r = 0;
    Bytes piece = c.Block(n, &r);
    ASSERT_GE(r, 0);
    if (r == 0) break;
    ASSERT_LE(r, n);
    pcm.insert(pcm.end(), piece.begin(), piece.end());
    ASSERT_LE(pcm.size(), f.reference.size());
  }
  EXPECT_EQ(c->endReached, 1);
  EXPECT_EQ(pcm.size(), f.reference.size());
  EXPECT_TRUE(SameBytes(pcm, f.reference));
  // At the end every further call gives 0.
  EXPECT_TRUE(c.Block(100).empty());
}

TEST_P(ConvertFiles, SeeksLandOnTheReferenceSample) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  const int align = c->pcmFormat.nBlockAlign;
  const int frames = static_cast<int>(f.reference.size()) / align;
  std::mt19937 random(777);
  for (int i = 0; i < 40; ++i) {
    int sample = std::uniform_int_distribution<int>(0, frames - 1)(random);
    int n = std::uniform_int_distribution<int>(1, 3000)(random);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), sample), 0);
    // Within 16 bytes of where the converter stands the seek is skipped; it stands
    // there already, so the bytes are the same either way.
    std::int64_t expectOffset = std::int64_t{sample} * align;
    if (std::abs(expectOffset - c->outputPosition) < 16) expectOffset = c->outputPosition;
    ASSERT_EQ(c->outputPosition, expectOffset);
    Bytes piece = c.Block(n);
    std::size_t want = std::min<std::size_t>(n, f.reference.size() - expectOffset);
    ASSERT_EQ(piece.size(), want) << "seek to " << sample;
    ASSERT_TRUE(SameBytes(piece, f.reference, expectOffset)) << "seek to " << sample;
  }
  // Back to the start after reading to the end: the whole sound again.
  while (!c.Block(65536).empty()) {
  }
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 0), 0);
  EXPECT_EQ(c->endReached, 0);
  Bytes again;
  for (Bytes p; !(p = c.Block(5000)).empty();) again.insert(again.end(), p.begin(), p.end());
  EXPECT_TRUE(SameBytes(again, f.reference));
  EXPECT_EQ(again.size(), f.reference.size());
}

TEST_P(ConvertFiles, WholeAfterBlocksStillStartsAtTheTop) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  // A few bytes in (less than the 16-byte seek skip), with a block already read ahead.
  ASSERT_EQ(c.Block(8).size(), 8u);
  Bytes pcm = c.Whole();
  ASSERT_EQ(pcm.size(), f.reference.size());
  EXPECT_TRUE(SameBytes(pcm, f.reference));
}

TEST_P(ConvertFiles, NoLibraryMemoryIsLeft) {
  const SoundFile& f = GetParam();
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  {
    Converter c(ReadFileBytes(f.path));
    ASSERT_EQ(c.Setup(), 0);
    Bytes pcm = c.Whole();
    ASSERT_FALSE(pcm.empty());
  }
  gamelib::MemoryUsage after = gamelib::GetMemoryUsage();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.bytes, before.bytes);
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

INSTANTIATE_TEST_SUITE_P(TestData, ConvertFiles, ::testing::ValuesIn(SoundFiles()), FileName);

TEST(ConvertFilesPresent, AllKindsAreCovered) {
  std::vector<SoundFile> files = SoundFiles();
  int wave = 0, ogg = 0, mono = 0, stereo = 0, eight = 0;
  for (const SoundFile& f : files) {
    (f.ogg ? ogg : wave)++;
    (f.channels == 1 ? mono : stereo)++;
    if (!f.ogg && f.bits == 8) ++eight;
    EXPECT_FALSE(f.reference.empty()) << f.name;
  }
  EXPECT_GE(wave, 5);
  EXPECT_GE(ogg, 4);
  EXPECT_GT(mono, 0);
  EXPECT_GT(stereo, 0);
  EXPECT_GT(eight, 0);
}

}  // namespace
