// The refill of the ring at its edges: a play cursor that ran past the written data,
// refused locks and cursors, the end of the data wherever it falls in the ring, short
// streams, and loops that find no data (which must end the data, never spin).
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

constexpr std::uint32_t kRing = 6 * 176400;

TEST_F(StreamTest, RingThatRanPastTheWrittenDataIsNotWrittenUntilTheCursorIsBack) {
  int h = MakeStream({{"", Wave16(Synth16(44100 * 20, 2, 21), 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  ASSERT_EQ(Record(h)->writeCursor, 4 * 176400);
  ASSERT_EQ(Record(h)->validZoneStart, 0);
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  // No pump for 4.5 s: the cursor is past the four seconds written.
  sim::AdvanceTimeMicros(4500000);
  sim::ClearSoundCalls();
  EXPECT_EQ(RefillStreamSound(h), -1);
  EXPECT_TRUE(CallsNamed("Lock").empty());
  EXPECT_EQ(Record(h)->writeCursor, 4 * 176400);
  sim::AdvanceTimeMicros(1000000);  // 5.5 s: still outside
  EXPECT_EQ(RefillStreamSound(h), -1);
  // Round the ring's end and back into the zone: refilling goes on where it stopped.
  sim::AdvanceTimeMicros(600000);
  EXPECT_EQ(RefillStreamSound(h), 0);
  std::vector<sim::SoundCall> locks = CallsNamed("Lock");
  ASSERT_EQ(locks.size(), 1u);
  EXPECT_EQ(locks[0].args[0], 4 * 176400);
}

TEST_F(StreamTest, RefusedLockOrCursorWritesNothingAndIsMadeUpLater) {
  const Bytes pcm = Synth16(44100 * 9, 2, 22);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 0);
  ASSERT_NE(h, -1);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(Rhythm::Fps60, 1500000, [&] { ear.Take(); });

  const std::int32_t write = Record(h)->writeCursor;
  const std::int32_t filePosition = Record(h)->filePosition;
  sim::AdvanceTime(500);
  sim::FailCall("Lock", 1);
  EXPECT_EQ(RefillStreamSound(h), -1);
  EXPECT_EQ(Record(h)->writeCursor, write);
  EXPECT_EQ(Record(h)->filePosition, filePosition);
  sim::FailCall("GetCurrentPosition", 1, 2);  // the position update and the refill's own read
  const int position = static_cast<int>(Record(h)->playedBytes);
  EXPECT_EQ(RefillStreamSound(h), -1);
  EXPECT_EQ(Record(h)->playedBytes, position);
  EXPECT_EQ(Record(h)->writeCursor, write);
  // The lead of three seconds covers what the refused calls did not write.
  RunGame(Rhythm::Fps30, 9 * kSecond, [&] { ear.Take(); });
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

TEST_F(StreamTest, RefusedUnlockLosesItsBytesButTheStreamGoesOnToItsEnd) {
  const Bytes pcm = Synth16(44100 * 8, 2, 26);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(Rhythm::Fps60, kSecond, [&] { ear.Take(); });
  sim::FailCall("Unlock", 1);
  RunGame(Rhythm::Fps60, 8 * kSecond, [&] { ear.Take(); });
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_EQ(Record(h)->finished, 1);
  // Heard to the end: the last second is whole.
  ASSERT_GE(ear.heard.size(), pcm.size());
  EXPECT_TRUE(std::equal(pcm.end() - 176400, pcm.end(),
                         ear.heard.begin() + static_cast<std::ptrdiff_t>(pcm.size()) - 176400));
}

TEST_F(StreamTest, EndJustBeforeTheRingsEndIsFoundAtSixtyPassesASecond) {
  // At 60 passes a second the cursor stands on multiples of 2940 bytes, and the ring is
  // 360 of them: an end 4 bytes before the ring's end is never seen "passed" by a look
  // at the cursor alone, lap after lap.
  const Bytes pcm = Synth16(kRing / 4 - 1, 2, 23);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  bool late = false;
  RunGame(Rhythm::Fps60, 8 * kSecond, [&] {
    if (ear.Take().size() >= pcm.size() && CheckSoundHandlePlaying(h) == 1) late = true;
  });
  EXPECT_EQ(Record(h)->endOffset, static_cast<std::int32_t>(kRing - 4));
  EXPECT_FALSE(late);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

TEST_F(StreamTest, StreamShorterThanTheFirstFillIsFollowedBySilenceAndStops) {
  sim::SetNewSoundBufferFill(0xA5);
  const Bytes pcm = Synth16(44100 * 3 / 2, 2, 24);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  SoundHandleRecord* r = Record(h);
  EXPECT_EQ(r->dataEnded, 1);
  EXPECT_EQ(r->finished, 1);
  EXPECT_EQ(r->endOffset, static_cast<std::int32_t>(pcm.size()));
  EXPECT_EQ(r->endCursorCount, 0);
  // The data, then silence over the rest of the four seconds written; beyond, the
  // ring is as it was made.
  const Bytes ring = sim::SoundBufferContents(Ring(h));
  ASSERT_EQ(ring.size(), kRing);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), ring.begin()));
  EXPECT_TRUE(std::all_of(ring.begin() + static_cast<std::ptrdiff_t>(pcm.size()), ring.begin() + 4 * 176400,
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(ring[4 * 176400 + 22048 + 4], 0xA5);

  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 0), 0);
  RunGame(Rhythm::Fps5, 3 * kSecond, [&] { ear.Take(); });
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_EQ(r->dataEnded, 0);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

TEST_F(StreamTest, EightBitRingsAreSilencedWith127) {
  int h = MakeStream({{"pcm_m8_22050.wav", {}, 0}}, 2);
  ASSERT_NE(h, -1);
  const Bytes ring = sim::SoundBufferContents(Ring(h));
  const std::size_t data = Reference("pcm_m8_22050.wav").size();
  EXPECT_TRUE(std::all_of(ring.begin() + static_cast<std::ptrdiff_t>(data), ring.begin() + 4 * 22050,
                          [](std::uint8_t b) { return b == 127; }));
}

// ---- Loops that find little or no data -------------------------------------------------

TEST_F(StreamTest, LoopPointWithinAFewBytesOfTheEndLoopsTheLastSamples) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  const int frames = static_cast<int>(pcm.size() / 4);
  for (int back : {1, 3}) {
    int h = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 2);
    ASSERT_EQ(SetSoundLoopPoint(frames - back, h), 0);
    Listener ear;
    ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
    RunGame(Rhythm::Fps30, kSecond, [&] { ear.Take(); });
    EXPECT_TRUE(
        HeardPrefix(ear.heard, Concat({pcm, Repeat(Tail(pcm, pcm.size() - 4 * back), 44100)}), 176400))
        << back;
    EXPECT_EQ(CheckSoundHandlePlaying(h), 1);
    DeleteSoundHandle(h);
  }
}

TEST_F(StreamTest, TinyFileLoopsUnderPlayTypeThree) {
  const Bytes pcm = Synth16(2, 2, 25);  // 8 bytes: every restart is within the seek skip
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 3, 1), 0);
  RunGame(Rhythm::Fps60, kSecond / 2, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Repeat(pcm, 44100), 88200));
}

TEST_F(StreamTest, LoopsThatYieldNoDataEndTheData) {
  // A WAVE file with an empty data chunk (another chunk follows it).
  const Bytes empty = Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(6, 1))});
  int looping = MakeStream({{"", empty, 0}}, 2);
  ASSERT_NE(looping, -1);
  EXPECT_EQ(GetSoundTotalSampleCount(looping), 0);
  ASSERT_EQ(PlayStreamSound(looping, 3, 1), 0);
  int endless = MakeStream({{"", empty, 255}, {"", empty, 0}}, 3);
  ASSERT_NE(endless, -1);
  ASSERT_EQ(PlayStreamSound(endless, 1, 1), 0);
  // An Ogg Vorbis file told to loop back past its end.
  int past = MakeStream({{"ogg_s16_44100.ogg", {}, 0}}, 2);
  Record(past)->files[0].loopCount = 255;
  Record(past)->files[0].loopPoint = 11025 + 44100;
  ASSERT_EQ(PlayStreamSound(past, 1, 1), 0);

  RunGame(Rhythm::Fps60, kSecond);
  for (int h : {looping, endless, past}) {
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_EQ(Record(h)->finished, 1);
  }
}

}  // namespace
