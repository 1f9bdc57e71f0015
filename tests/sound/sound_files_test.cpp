// Every committed file (WAVE PCM, Ogg Vorbis, and through the compression manager MP3,
// layer II, ADPCM, A-law and mu-law) on every road: loaded as a memory sound, and as a
// stream sound of each create type played from a position and round a loop point, the
// device plays its reference decode byte for byte (and, where the file is in the output
// format, the mixed output is that too).
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

class EveryFile : public SoundTest, public ::testing::WithParamInterface<SoundFile> {
 protected:
  // What a loop point three quarters in makes heard: the file, then its tail again and again.
  const SoundFile& f = GetParam();
  const int loop = f.Frames() * 3 / 4;
  const Bytes looped =
      Concat({f.reference, Repeat(Tail(f.reference, f.Align() * loop), 8 * f.rate / (f.Frames() - loop))});
};

TEST_P(EveryFile, MemorySoundPlaysTheReferenceAndALoopPointMakesItAStreamSound) {
  const int h = Load(f.path, 0, 2);
  EXPECT_EQ(GetSoundTotalSampleCount(h), f.Frames());
  const std::vector<IDirectSoundBuffer*> made = Buffers();
  ASSERT_EQ(made.size(), 2u);
  const WAVEFORMATEX format = Inspect(made[0]).format;
  EXPECT_EQ(Ints({format.nChannels, static_cast<int>(format.nSamplesPerSec), format.wBitsPerSample}),
            Ints({f.channels, f.rate, f.bits}));
  ASSERT_TRUE(sim::StartSoundTap(made[1]));  // plays go round the buffers from the second
  Listener ear;
  const std::uint64_t start = sim::VirtualTimeMicros();
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayWait), 0);
  EXPECT_NEAR(static_cast<double>(sim::VirtualTimeMicros() - start), f.Frames() * 1e6 / f.rate, 2000);
  EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(made[1]), f.reference));
  EXPECT_TRUE(!f.OutputFormat() || HeardThenSilence(ear.Take(), f.reference));
  ASSERT_EQ(SetSoundLoopPoint(loop, h), 0);
  ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
  RunGame(Rhythm::Fps30, 3 * kSecond);
  EXPECT_TRUE(HeardPrefix(sim::TakeSoundTap(NewestRing()), looped, 5 * f.Align() * f.rate / 2));
}

TEST_P(EveryFile, StreamSoundPlaysTheReferenceFromAPositionAndRoundALoopPoint) {
  const int align = f.Align(), ms = f.Frames() * 1000 / 3 / f.rate;
  for (int type : {1, 2, 3}) {
    SCOPED_TRACE(type);
    const int h = Load(f.path, type);
    // Compressed WAVE files can only state a bound of their length before decoding.
    const int total = GetSoundTotalSampleCount(h);
    EXPECT_TRUE(total == f.Frames() ||
                (type > 1 && f.name.find("mp3wav") != std::string::npos && total > f.Frames()));
    IDirectSoundBuffer* ring = NewestRing();
    ASSERT_TRUE(sim::StartSoundTap(ring));
    // A third in, in bytes or in milliseconds (truncated, then to a whole frame).
    const int bytes = f.Frames() / 3 * align,
              from = type == 2 ? bytes : static_cast<int>(align * f.rate * (ms * 0.001)) / align * align;
    EXPECT_EQ(
        Ints({SetSoundPlayPosition(total * align, h), SetSoundPlayPositionMs(total * 1000 / f.rate + 1, h)}),
        Ints(2, -1));
    ASSERT_EQ(type == 2 ? SetSoundPlayPosition(bytes, h) : SetSoundPlayPositionMs(ms, h), 0);
    EXPECT_EQ(GetSoundPlayPosition(h), type == 2 ? bytes : static_cast<int>(align * f.rate * (ms * 0.001)));
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground, 0), 0);
    RunGame(Rhythm::Fps30, f.Frames() * kSecond / f.rate + kSecond / 2);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(ring), Tail(f.reference, from), f.bits == 8 ? 127 : 0));
    if (type == 3 || f.OutputFormat()) {
      // Round the loop point for longer than the ring holds, from the top after the end. A
      // point must lie inside what decodes.
      EXPECT_EQ(SetSoundLoopPoint(total, h), -1);
      ASSERT_EQ(SetSoundLoopPoint(loop, h), 0);
      Listener ear;
      ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground, 1), 0);
      Listen(ear, Rhythm::Irregular, 7 * kSecond);
      EXPECT_TRUE(HeardPrefix(sim::TakeSoundTap(ring), looped, 6 * align * f.rate));
      EXPECT_TRUE(!f.OutputFormat() || HeardPrefix(ear.heard, looped, 6 * 176400));
    }
    EXPECT_EQ(DeleteSoundHandle(h), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(TestData, EveryFile, ::testing::ValuesIn(SoundFiles()));

}  // namespace
