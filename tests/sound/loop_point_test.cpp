// Loop points and WAVE file images: the image layout, memory sounds rebuilt as stream
// sounds under their handle, the points that are refused, and failed rebuilds.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

TEST_F(StreamTest, WaveImageOfAnEighteenByteFormatAndFourBytes) {
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  const std::uint8_t data[4] = {1, 2, 3, 4};
  void* image = nullptr;
  std::uint32_t bytes = 0;
  ASSERT_EQ(BuildWaveFileImage(&image, &bytes, &format, 18, data, 4), 0);
  ASSERT_EQ(bytes, 50u);
  const auto* p = static_cast<const std::uint8_t*>(image);
  EXPECT_EQ(std::memcmp(p, "RIFF", 4), 0);
  EXPECT_EQ(Le32(p + 4), 42u);
  EXPECT_EQ(std::memcmp(p + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(p + 16), 18u);
  EXPECT_EQ(std::memcmp(p + 20, &format, 18), 0);
  EXPECT_EQ(std::memcmp(p + 38, "data", 4), 0);
  EXPECT_EQ(Le32(p + 42), 4u);
  EXPECT_EQ(std::memcmp(p + 46, data, 4), 0);
  // The converter reads it back.
  Converter c(Bytes(p, p + bytes));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 4);
  EXPECT_EQ(std::memcmp(&c->pcmFormat, &format, 18), 0);
  FreeMemory(image);

  // Refusals leave the outputs alone.
  void* untouched = &bytes;
  std::uint32_t size = 7;
  EXPECT_EQ(BuildWaveFileImage(&untouched, &size, &format, 18, nullptr, 4), -1);
  EXPECT_EQ(BuildWaveFileImage(&untouched, &size, &format, 18, data, 0x7FFFFFF0u), -1);
  sim::FailCall("AllocMemory", 1);
  EXPECT_EQ(BuildWaveFileImage(&untouched, &size, &format, 18, data, 4), -1);
  EXPECT_EQ(untouched, &bytes);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(BuildWaveFileImage(nullptr, &size, &format, 18, data, 4), -1);
}

TEST_F(StreamTest, LoopPointZeroMakesAMemorySoundAGaplessLoopUnderItsHandle) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  int h = MakeMemorySound(Pcm(2, 44100, 16), pcm, 3);
  ASSERT_NE(h, -1);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(h)->buffers[1], 0), 0);  // a copy playing
  ASSERT_EQ(SetSoundLoopPoint(0, h), 0);
  ASSERT_EQ(Record(h)->soundKind, SOUND_KIND_STREAM);
  EXPECT_EQ(GetSoundTotalSampleCount(h), static_cast<int>(pcm.size() / 4));
  // The memory sound's buffers are gone (the playing copy too); one ring is left.
  int rings = 0, others = 0;
  for (const sim::SoundBufferInfo& b : sim::SoundBuffers()) {
    rings += b.flags == 0x180E2u;
    others += b.flags == 0x80E2u;
  }
  EXPECT_EQ(rings, 1);
  EXPECT_EQ(others, 0);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);

  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(Rhythm::Irregular, 3000000, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Repeat(pcm, 20), 3 * 176400));
}

TEST_F(StreamTest, PointsOutsideTheSoundAreRefused) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  const int frames = static_cast<int>(pcm.size() / 4);
  int h = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
  EXPECT_EQ(SetSoundLoopPoint(frames, h), -1);
  EXPECT_EQ(SetSoundLoopPoint(-1, h), -1);
  EXPECT_EQ(SetSoundLoopPoint(INT32_MIN, h), -1);
  EXPECT_EQ(Record(h)->soundKind, SOUND_KIND_MEMORY);
  EXPECT_EQ(Record(h)->bufferCount, 2);
  EXPECT_EQ(SetSoundLoopPoint(0, 0x10000000 | 77), -1);
  EXPECT_EQ(SetSoundLoopPoint(frames - 1, h), 0);

  // An Ogg Vorbis sound is as long as it decodes: a point past its audio is refused.
  int ogg = MakeStream({{"ogg_s16_44100.ogg", {}, 0}}, 2);
  EXPECT_EQ(GetSoundTotalSampleCount(ogg), 11025);
  EXPECT_EQ(SetSoundLoopPoint(11025, ogg), -1);
  EXPECT_EQ(SetSoundLoopPoint(11025 + 44099, ogg), -1);
  EXPECT_EQ(Record(ogg)->files[0].loopCount, 0);
  EXPECT_EQ(SetSoundLoopPoint(11024, ogg), 0);
}

TEST_F(StreamTest, StreamOfOneFileGetsThePointAndTheEndlessLoop) {
  int h = MakeStream({{"pcm_s16_44100.wav", {}, 3}}, 3);
  ASSERT_EQ(SetSoundLoopPoint(100, h), 0);
  const SoundFileEntry& f = Record(h)->files[0];
  EXPECT_EQ(f.loopCount, 255);
  EXPECT_EQ(f.loopPoint, 100);
  EXPECT_EQ(f.converter.loopPointBytes, 400);
  ASSERT_EQ(SetSoundLoopPoint(2000, h), 0);  // again: only the point moves
  EXPECT_EQ(Record(h)->files[0].loopPoint, 2000);
  EXPECT_EQ(Record(h)->files[0].converter.loopPointBytes, 8000);

  int two = MakeStream({{"pcm_s16_44100.wav", {}, 1}, {"ogg_s16_44100.ogg", {}, 0}}, 2);
  TakeLog();
  EXPECT_EQ(SetSoundLoopPoint(10, two), -1);
  EXPECT_EQ(TakeLog(),
            "二つ以上の音声ファイルから作成されたサウンドハンドルにループポイントを指定する事は出来ません\n");
  EXPECT_EQ(Record(two)->files[0].loopCount, 1);
}

// Any allocation of the rebuild may fail: the point is refused, and the handle names
// the memory sound unchanged, or an empty sound that refuses to play (or, when not even
// its record could be made again, nothing).
TEST_F(StreamTest, FailedRebuildLeavesAnEmptySoundUnderTheHandle) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  bool sawEmpty = false;
  for (int nth = 1; nth <= 12; ++nth) {
    const MemoryUsage before = GetMemoryUsage();
    int h = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
    ASSERT_NE(h, -1);
    TakeLog();
    sim::FailCall("AllocMemory", nth);
    const int r = SetSoundLoopPoint(10, h);
    sim::ClearFailures();
    const std::string log = TakeLog();
    SoundHandleRecord* record = Record(h);
    if (record == nullptr) {
      // Not even the empty record could be made again: the handle is gone.
      EXPECT_EQ(r, -1);
      EXPECT_EQ(PlayStreamSound(h, 1, 1), -1);
      EXPECT_EQ(GetSoundTotalSampleCount(h), -1);
      EXPECT_EQ(GetMemoryUsage().blocks, before.blocks) << nth;
      continue;
    }
    if (r == -1 && record->bufferCount == 0) {
      sawEmpty = true;
      EXPECT_NE(log.find("ストリームサウンドハンドルの作成に失敗しました\n"), std::string::npos);
      EXPECT_EQ(GetSoundTotalSampleCount(h), 0);
      EXPECT_EQ(PlayStreamSound(h, 1, 1), -1);
      EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
      EXPECT_EQ(SetSoundLoopPoint(0, h), -1);
    } else if (r == -1) {
      EXPECT_EQ(record->soundKind, SOUND_KIND_MEMORY);
      EXPECT_EQ(GetSoundTotalSampleCount(h), static_cast<int>(pcm.size() / 4));
    } else {
      EXPECT_EQ(record->soundKind, SOUND_KIND_STREAM);
    }
    ASSERT_EQ(DeleteSoundHandle(h), 0);
    EXPECT_EQ(GetMemoryUsage().blocks, before.blocks) << nth;
  }
  EXPECT_TRUE(sawEmpty);
}

}  // namespace
