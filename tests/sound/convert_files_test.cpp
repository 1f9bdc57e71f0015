// Every committed sound file (WAVE PCM, Ogg Vorbis, and the compression manager's MP3,
// layer II, ADPCM, A-law and mu-law files) converts to its reference decode byte for
// byte: whole, block by block, and from positions reached by seeks; and leaves nothing.
#include <random>

#include "sound_test_support.h"

using namespace soundtest;

namespace {

class ConvertFiles : public ::testing::TestWithParam<SoundFile> {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override { EXPECT_EQ(sim::LiveAcmStreams(), 0); }
};

TEST_P(ConvertFiles, FormatAndSizesMatchTheFile) {
  const SoundFile& f = GetParam();
  Converter c(ReadFileBytes(f.path));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->convertKind, f.kind);
  WAVEFORMATEX w{};
  ASSERT_EQ(gamelib::GetSoundConvertFormat(c.get(), &w), 0);
  const int align = f.channels * f.bits / 8;
  EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(w.nChannels, f.channels);
  EXPECT_EQ(w.nSamplesPerSec, static_cast<DWORD>(f.rate));
  EXPECT_EQ(w.wBitsPerSample, f.bits);
  EXPECT_EQ(w.nBlockAlign, align);
  EXPECT_EQ(w.nAvgBytesPerSec, static_cast<DWORD>(align * f.rate));
  EXPECT_EQ(w.cbSize, 0);
  const int ref = static_cast<int>(f.reference.size());
  const int dest = gamelib::GetSoundConvertDestSize(c.get());
  if (f.kind == gamelib::SOUND_CONVERT_ACM) {
    EXPECT_EQ(c->acm.acmSourceBytes, c->dataChunkBytes);
    EXPECT_EQ(c->blockBytes, f.mpegFile ? 4 * align * f.rate / 3 : align * f.rate);
    // MPEG files: every frame is decoded, the info frame too, so the frames' sum is
    // exact. WAVE: the manager's size, exact for the block codecs, a bound for MPEG.
    EXPECT_EQ(c->acm.acmKnownSamples, f.mpegFile ? ref / align : -1);
    EXPECT_EQ(dest == ref || (f.name.rfind("acm/mp3wav", 0) == 0 && dest > ref), true)
        << dest << " for " << ref;
  } else {
    EXPECT_EQ(c->dataChunkBytes, ref);
    EXPECT_EQ(c->blockBytes, f.kind == gamelib::SOUND_CONVERT_OGG ? 4096 : align * f.rate);
    // Ogg: the whole-conversion size leaves one second (44100 samples) of room.
    EXPECT_EQ(dest, ref + (f.kind == gamelib::SOUND_CONVERT_OGG ? f.channels * 2 * 44100 : 0));
  }
}

TEST_P(ConvertFiles, WholeBlocksAndSeeksGiveTheReference) {
  const SoundFile& f = GetParam();
  const gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  {
    Converter c(ReadFileBytes(f.path));
    ASSERT_EQ(c.Setup(), 0);
    // The compression manager's kind keeps the main and the loop decoder.
    EXPECT_EQ(sim::LiveAcmStreams(), f.kind == gamelib::SOUND_CONVERT_ACM ? 2 : 0);
    // Blocks of sizes across block boundaries: 1 byte up to more than one block.
    std::mt19937 random(12345);
    Bytes pcm;
    for (int guard = 0; guard < 100000; ++guard) {
      const int n = std::uniform_int_distribution<int>(1, c->blockBytes + 100)(random);
      int r = 0;
      Bytes piece = c.Block(n, &r);
      ASSERT_GE(r, 0);
      ASSERT_LE(r, n);
      if (r == 0) break;
      pcm.insert(pcm.end(), piece.begin(), piece.end());
      ASSERT_LE(pcm.size(), f.reference.size());
    }
    EXPECT_EQ(c->endReached, 1);
    ASSERT_EQ(pcm.size(), f.reference.size());
    EXPECT_TRUE(SameBytes(pcm, f.reference));
    EXPECT_TRUE(c.Block(100).empty());

    // Seeks anywhere: within 16 bytes of where the converter stands the seek is skipped.
    const int align = c->pcmFormat.nBlockAlign;
    const int frames = static_cast<int>(f.reference.size()) / align;
    for (int i = 0; i < 30; ++i) {
      const int sample = std::uniform_int_distribution<int>(0, frames - 1)(random);
      const int n = std::uniform_int_distribution<int>(1, 9000)(random);
      ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), sample), 0);
      const std::size_t at = static_cast<std::size_t>(c->outputPosition);
      ASSERT_LT(std::abs(static_cast<long>(at) - static_cast<long>(sample) * align), 16) << sample;
      Bytes piece = c.Block(n);
      ASSERT_EQ(piece.size(), std::min<std::size_t>(n, f.reference.size() - at)) << "seek to " << sample;
      ASSERT_TRUE(SameBytes(piece, f.reference, at)) << "seek to " << sample;
    }
    // Back to the start after the end: the whole sound again.
    c.Drain(65536);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 0), 0);
    EXPECT_EQ(c->endReached, 0);
    EXPECT_TRUE(SameBytes(c.Drain(5000), f.reference));
    // A whole conversion after a few bytes (less than the seek skip, with a block read
    // ahead) still starts at the top.
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 0), 0);
    ASSERT_EQ(c.Block(8).size(), 8u);
    bool ok = false;
    Bytes whole = c.Whole(&ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(whole.size(), f.reference.size());
    EXPECT_TRUE(SameBytes(whole, f.reference));

    ASSERT_EQ(gamelib::TerminateSoundConvert(c.get()), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
  }
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
  EXPECT_EQ(gamelib::GetMemoryUsage().bytes, before.bytes);
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

INSTANTIATE_TEST_SUITE_P(TestData, ConvertFiles, ::testing::ValuesIn(SoundFiles()), ParamName);

TEST(ConvertFilesPresent, AllKindsAreCovered) {
  int count[3] = {}, mono = 0, eight = 0;
  for (const SoundFile& f : SoundFiles()) {
    ++count[f.kind];
    mono += f.channels == 1;
    eight += f.bits == 8;
    EXPECT_FALSE(f.reference.empty()) << f.name;
  }
  EXPECT_GE(count[gamelib::SOUND_CONVERT_WAVE_PCM], 5);
  EXPECT_GE(count[gamelib::SOUND_CONVERT_OGG], 4);
  EXPECT_GE(count[gamelib::SOUND_CONVERT_ACM], 10);
  EXPECT_GT(mono, 0);
  EXPECT_GT(eight, 0);
}

}  // namespace
