// Stream sounds played through the offline device, with the pump at 60, 30 and 5 passes a
// second and at an irregular rhythm with stalls: what is heard is the file, round its loop
// point or from its start again, sample for sample, with no gap and only silence after
// the end; the play position follows what is heard; the ring's refill at its edges; two
// sounds on one ring; memory sounds turned into stream sounds by a loop point.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

constexpr std::uint32_t kRing = 6 * 176400;

// A stream sound of 44100 Hz 16-bit stereo PCM, from a file of its own.
int Stream(const Bytes& pcm, int createType = 2, int share = -1) {
  static int files = 0;
  return Load(Write("synth" + std::to_string(++files) + ".wav", Wave16(pcm)), createType, 1, share);
}

class StreamRhythm : public SoundTest, public ::testing::WithParamInterface<Rhythm> {};

TEST_P(StreamRhythm, OneShotIsHeardWholeThenSilenceAndStopsInThePassThatFindsTheEnd) {
  const Bytes pcm = Synth(44100 * 7, 1);  // longer than the ring
  for (int type : {1, 2, 3}) {
    const int h = Stream(pcm, type);
    EXPECT_EQ(GetSoundTotalSampleCount(h), 44100 * 7);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
    bool late = false, early = false;
    RunGame(GetParam(), 8 * kSecond, [&] {
      const bool ended = ear.Take().size() >= pcm.size(), playing = CheckSoundHandlePlaying(h) == 1;
      late |= ended && playing;
      early |= !ended && !playing;
    });
    EXPECT_TRUE(HeardThenSilence(ear.heard, pcm)) << type;
    EXPECT_FALSE(late || early) << type;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

// After every pump pass the position is `model` of the bytes heard so far; once the ring
// has stopped at the end it stays where it stopped.
void PlayAndWatch(int h, int playType, Rhythm rhythm, std::uint64_t micros,
                  const std::function<std::int64_t(std::int64_t)>& model) {
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, playType), 0);
  int wrong = 0;
  std::int64_t stoppedAt = -1;
  RunGame(rhythm, micros, [&] {
    std::int64_t heard = static_cast<std::int64_t>(ear.Take().size());
    if (stoppedAt == -1 && CheckSoundHandlePlaying(h) != 1) stoppedAt = heard;
    if (stoppedAt != -1) heard = stoppedAt;
    if (GetSoundPlayPosition(h) != model(heard) && ++wrong <= 3)
      ADD_FAILURE() << "after " << heard << " bytes heard the position is " << GetSoundPlayPosition(h)
                    << ", want " << model(heard);
  });
  ASSERT_EQ(DeleteSoundHandle(h), 0);
}

TEST_P(StreamRhythm, PositionFollowsWhatIsHeard) {
  const Bytes pcm = Synth(44100 * 7, 3), cycle = Synth(44100 * 9 / 2, 5);
  const std::int64_t length = static_cast<std::int64_t>(pcm.size()), point = 44100 * 4;
  // Past the ring's end, and on after the data has ended.
  PlayAndWatch(Stream(pcm), SOUND_PLAY_BACKGROUND, GetParam(), 8 * kSecond,
               [](std::int64_t heard) { return heard; });
  // Back to the loop point at the seam.
  const int looped = Stream(pcm);
  ASSERT_EQ(SetSoundLoopPoint(44100, looped), 0);
  PlayAndWatch(looped, SOUND_PLAY_BACKGROUND, GetParam(), 20 * kSecond, [&](std::int64_t heard) {
    return heard < length ? heard : point + (heard - length) % (length - point);
  });
  // Play type 3 starts again at zero.
  PlayAndWatch(Stream(cycle, 3), SOUND_PLAY_LOOP, GetParam(), 14 * kSecond,
               [&](std::int64_t heard) { return heard % static_cast<std::int64_t>(cycle.size()); });
}

INSTANTIATE_TEST_SUITE_P(Rhythms, StreamRhythm,
                         ::testing::Values(Rhythm::Fps60, Rhythm::Fps30, Rhythm::Fps5, Rhythm::Irregular));

// ---- Starting, stopping, positions -------------------------------------------------------------

TEST_F(SoundTest, PlayAndWaitReturnsAtTheEndAndAReplayStartsFromTheTop) {
  const Bytes pcm = Synth(44100 * 3 / 2, 6);
  const int h = Stream(pcm, 1);
  for (int fromTop : {1, 0, 0}) {
    Listener ear;
    const std::uint64_t before = sim::VirtualTimeMicros();
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_WAIT, fromTop), 0);
    EXPECT_NEAR(static_cast<double>(sim::VirtualTimeMicros() - before), 1575000, 75000);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(HeardThenSilence(ear.Take(), pcm)) << fromTop;
  }
}

TEST_F(SoundTest, StopAndPlayResumesWithoutLoss) {
  const Bytes pcm = Synth(44100 * 9, 7);
  const int h = Stream(pcm);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  Listen(ear, Rhythm::Fps60, 2 * kSecond);
  ASSERT_EQ(StopSoundHandle(h), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  sim::AdvanceTime(500);
  Listener().Take();  // the silence meanwhile is not the sound's
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND, 0), 0);
  Listen(ear, Rhythm::Fps30, 8 * kSecond);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

TEST_F(SoundTest, PositionSettersChooseWhereTheNextStartPlays) {
  const Bytes pcm = Synth(44100 * 3 / 2, 8);  // 1500 ms
  const int h = Stream(pcm), size = static_cast<int>(pcm.size());
  const auto playToEnd = [&] {
    Listener ear;
    EXPECT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND, 0), 0);
    Listen(ear, Rhythm::Fps60, 2 * kSecond);
    return ear.heard;
  };
  for (int bad : {size, size + 4, -4}) EXPECT_EQ(SetSoundPlayPosition(bad, h), -1) << bad;
  for (int bad : {1500, -1, INT32_MAX}) EXPECT_EQ(SetSoundPlayPositionMs(bad, h), -1) << bad;
  ASSERT_EQ(SetSoundPlayPosition(size - 4, h), 0);
  EXPECT_EQ(GetSoundPlayPosition(h), size - 4);
  EXPECT_TRUE(HeardThenSilence(playToEnd(), Tail(pcm, size - 4)));
  // trunc(176400 * 1.499) = 264423, played from the whole frame before it.
  ASSERT_EQ(SetSoundPlayPositionMs(1499, h), 0);
  EXPECT_EQ(GetSoundPlayPosition(h), 264423);
  EXPECT_TRUE(HeardThenSilence(playToEnd(), Tail(pcm, 264420)));
  // Set while playing: the next start without from-top plays from there.
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND, 1), 0);
  RunGame(Rhythm::Fps60, kSecond / 4);
  ASSERT_EQ(SetSoundPlayPosition(size / 2, h), 0);
  EXPECT_TRUE(HeardThenSilence(playToEnd(), Tail(pcm, size / 2)));
}

TEST_F(SoundTest, CreateTypesKeepTheirDataWhereTheyShould) {
  const Bytes pcm = Synth(44100 / 2, 9);
  int made[4] = {};
  for (int type : {1, 2, 3}) {
    const std::string name = Write("kind.wav", Wave16(pcm));
    const int objects = sim::LiveObjects(), h = Load(name, type);
    made[type] = sim::LiveObjects() - objects;
    if (type != 3) Write(name, Wave16(Bytes(pcm.size(), 0x11)));  // the file changes under it
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_WAIT), 0);
    EXPECT_TRUE(HeardThenSilence(ear.Take(), pcm)) << type;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
  // Only type 3 reads the file while playing: it keeps it open.
  EXPECT_EQ(made[1], made[2]);
  EXPECT_EQ(made[3], made[2] + 1);
}

// ---- The refill at its edges ------------------------------------------------------------------

TEST_F(SoundTest, RingThatRanPastTheWrittenDataIsNotWrittenUntilTheCursorIsBack) {
  const int h = Stream(Synth(44100 * 20, 10));
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  // No pump for 4.5 s: the cursor is past the four seconds written; then round the ring.
  for (const auto& [micros, locks] :
       {std::pair<std::uint64_t, std::size_t>{4500000, 0}, {1000000, 0}, {600000, 1}}) {
    sim::AdvanceTimeMicros(micros);
    sim::ClearSoundCalls();
    PumpWindowMessages();
    ASSERT_EQ(CallsNamed("Lock").size(), locks) << micros;
  }
  EXPECT_EQ(CallsNamed("Lock")[0].args[0], 4 * 176400);  // on where it stopped
}

TEST_F(SoundTest, RefusedLockCursorOrUnlockIsMadeUpOrLosesOnlyItsOwnBytes) {
  const Bytes pcm = Synth(44100 * 9, 11);
  for (const std::string call : {"Lock", "GetCurrentPosition", "Unlock"}) {
    const int h = Stream(pcm, 3);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
    Listen(ear, Rhythm::Fps60, 1500000);
    sim::AdvanceTime(500);
    sim::FailCall(call.c_str(), 1, 2);
    Listen(ear, Rhythm::Fps30, 9 * kSecond);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0) << call;
    // The lead covers what was refused; lost bytes are only those of a refused unlock.
    const std::size_t from = call == "Unlock" ? pcm.size() - 176400 : 0;
    EXPECT_TRUE(HeardThenSilence(Tail(ear.heard, from), Tail(pcm, from))) << call;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

TEST_F(SoundTest, EndJustBeforeTheRingsEndIsFoundAtSixtyPassesASecond) {
  // At 60 passes a second the cursor stands on multiples of 2940 bytes, and the ring is 360
  // of them: an end 4 bytes before the ring's end is never seen "passed" by a look at the
  // cursor alone, lap after lap.
  const Bytes pcm = Synth(kRing / 4 - 1, 12);
  const int h = Stream(pcm);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  bool late = false;
  RunGame(Rhythm::Fps60, 8 * kSecond,
          [&] { late |= ear.Take().size() >= pcm.size() && CheckSoundHandlePlaying(h) == 1; });
  EXPECT_FALSE(late);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

TEST_F(SoundTest, StreamShorterThanTheFirstFillIsFollowedBySilence) {
  sim::SetNewSoundBufferFill(0xA5);
  const Bytes pcm = Synth(44100 * 3 / 2, 13);
  const int h = Stream(pcm);
  // The data, then silence over the rest of the four seconds written; beyond, the ring is
  // as it was made.
  const Bytes ring = sim::SoundBufferContents(NewestRing());
  EXPECT_EQ(Head(ring, 4 * 176400), Concat({pcm, Bytes(4 * 176400 - pcm.size(), 0)}));
  EXPECT_EQ(ring.at(4 * 176400 + 22048 + 4), 0xA5);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  Listen(ear, Rhythm::Fps5, 3 * kSecond);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
  // Eight-bit silence is 127.
  const Bytes eight = Reference("pcm_m8_22050.wav");
  ASSERT_NE(Load(Data("pcm_m8_22050.wav"), 2), -1);
  EXPECT_EQ(Head(sim::SoundBufferContents(NewestRing()), 4 * 22050),
            Concat({eight, Bytes(4 * 22050 - eight.size(), 127)}));
}

TEST_F(SoundTest, LoopsOfLittleOrNoDataLoopItOrEndTheData) {
  // A loop point a few bytes before the end loops the last samples; so does play type 3 a
  // file of two frames; an empty data chunk ends the data, it does not spin.
  const Bytes pcm = Reference("pcm_s16_44100.wav"), tiny = Synth(2, 14);
  const int frames = static_cast<int>(pcm.size()) / 4;
  const std::string empty =
      Write("empty.wav", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(6, 1))}));
  const struct {
    std::string path;
    int type, loop;
    Bytes want;  // empty: the data ends
  } cases[] = {
      {Data("pcm_s16_44100.wav"), 2, frames - 1, Concat({pcm, Repeat(Tail(pcm, pcm.size() - 4), 44100)})},
      {Data("pcm_s16_44100.wav"), 2, frames - 3, Concat({pcm, Repeat(Tail(pcm, pcm.size() - 12), 44100)})},
      {Write("tiny.wav", Wave16(tiny)), 1, -1, Repeat(tiny, 44100)},
      {empty, 2, -1, {}},
      {empty, 3, -1, {}}};
  for (const auto& c : cases) {
    const int h = Load(c.path, c.type);
    EXPECT_EQ(c.loop < 0 || SetSoundLoopPoint(c.loop, h) == 0, true);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, c.loop >= 0 ? SOUND_PLAY_BACKGROUND : SOUND_PLAY_LOOP), 0);
    Listen(ear, Rhythm::Fps30, kSecond);
    EXPECT_TRUE(c.want.empty() ? HeardThenSilence(ear.heard, {}) : HeardPrefix(ear.heard, c.want, 176400))
        << c.loop;
    EXPECT_EQ(CheckSoundHandlePlaying(h), c.want.empty() ? 0 : 1) << c.loop;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

// ---- Two sounds on one ring -------------------------------------------------------------------

TEST_F(SoundTest, SharedRingPlaysOneSoundAtATimeAndEachResumesWhereItWasHeard) {
  const Bytes a = Synth(44100 * 5, 15), b = Synth(44100 * 7, 16);
  const int first = Stream(a), second = Stream(b, 3, first);
  EXPECT_EQ(Buffers(kRingFlags).size(), 1u);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(first, SOUND_PLAY_LOOP), 0);
  Listen(ear, Rhythm::Fps60, 2 * kSecond);
  const std::size_t heardFirst = ear.heard.size();
  EXPECT_TRUE(HeardPrefix(ear.heard, a, heardFirst));
  // Playing the other stops it. The other's position runs on across the ring's end.
  Listener ear2;
  ASSERT_EQ(PlaySoundHandle(second, SOUND_PLAY_BACKGROUND), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(first), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(second), 1);
  int wrong = 0;
  RunGame(Rhythm::Fps30, 6500000,
          [&] { wrong += GetSoundPlayPosition(second) != static_cast<int>(ear2.Take().size()); });
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(HeardPrefix(ear2.heard, b, ear2.heard.size()));
  const int secondPosition = GetSoundPlayPosition(second);
  // The first takes the ring back and goes on from what was heard of it, without a gap,
  // then from its start again (play type 3); the second keeps its place meanwhile.
  Listener ear3;
  ASSERT_EQ(PlaySoundHandle(first, SOUND_PLAY_LOOP, 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(second), 0);
  EXPECT_EQ(GetSoundPlayPosition(second), secondPosition);
  Listen(ear3, Rhythm::Irregular, 6 * kSecond);
  EXPECT_TRUE(HeardPrefix(ear3.heard, Concat({Tail(a, heardFirst), a, a}), 6 * 176400));
  Listener ear4;
  ASSERT_EQ(PlaySoundHandle(second, SOUND_PLAY_BACKGROUND, 0), 0);
  Listen(ear4, Rhythm::Fps5, 2 * kSecond);
  EXPECT_TRUE(HeardThenSilence(ear4.heard, Tail(b, static_cast<std::size_t>(secondPosition))));
}

TEST_F(SoundTest, DeletedRingOwnerStaysUntilItsSharerGoesAndOnlyOwnRingsAreShared) {
  const Bytes b = Synth(44100 * 3, 17);
  const int owner = Stream(Synth(44100, 18)), sharer = Stream(b, 2, owner);
  ASSERT_EQ(PlaySoundHandle(sharer, SOUND_PLAY_BACKGROUND), 0);
  ASSERT_EQ(DeleteSoundHandle(owner), 0);
  Listener ear;
  Listen(ear, Rhythm::Fps60, 2 * kSecond);  // deleting the ring's maker did not stop it
  EXPECT_TRUE(HeardPrefix(ear.heard, b, 2 * 176400));
  EXPECT_EQ(Buffers(kRingFlags).size(), 1u);
  ASSERT_EQ(DeleteSoundHandle(sharer), 0);
  EXPECT_TRUE(Buffers().empty());
  // Not shared: a ring of another format, a sharer's ring, a deleted sound's ring.
  const int ring = Stream(b);
  for (int h :
       {Load(Data("pcm_m16_48000.wav"), 2, 1, ring), Stream(b, 2, Stream(b, 2, ring)), Stream(b, 2, owner)})
    EXPECT_NE(h, -1);
  EXPECT_EQ(Buffers(kRingFlags).size(), 4u);
}

// ---- Loop points on memory sounds ------------------------------------------------------------

TEST_F(SoundTest, LoopPointMakesAMemorySoundAGaplessLoopUnderItsHandle) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  const int frames = static_cast<int>(pcm.size() / 4), h = Load(Data("pcm_s16_44100.wav"), 0, 3);
  for (int bad : {frames, -1, INT32_MIN}) EXPECT_EQ(SetSoundLoopPoint(bad, h), -1) << bad;
  EXPECT_EQ(Buffers().size(), 3u);  // still the memory sound
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  ASSERT_EQ(SetSoundLoopPoint(0, h), 0);
  // Its buffers are gone (the playing copy too): one ring is left.
  EXPECT_EQ(Buffers().size(), 1u);
  EXPECT_EQ(Buffers(), Buffers(kRingFlags));
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_EQ(GetSoundTotalSampleCount(h), frames);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  Listen(ear, Rhythm::Irregular, 3 * kSecond);
  EXPECT_TRUE(HeardPrefix(ear.heard, Repeat(pcm, 20), 3 * 176400));
  // An Ogg Vorbis sound is as long as it decodes: a point past its audio is refused.
  const int ogg = Load(Data("ogg_s16_44100.ogg"), 2);
  EXPECT_EQ(GetSoundTotalSampleCount(ogg), 11025);
  EXPECT_EQ(SetSoundLoopPoint(11025, ogg), -1);
  EXPECT_EQ(SetSoundLoopPoint(11024, ogg), 0);
}

// Any allocation of the rebuild may fail: the point is refused, and the handle names the
// memory sound unchanged, or an empty sound that refuses to play, or nothing.
TEST_F(SoundTest, FailedRebuildLeavesTheSoundOrAnEmptyOne) {
  bool sawEmpty = false;
  for (int nth = 1; nth <= 12; ++nth) {
    const int h = Load(Data("pcm_s16_44100.wav"), 0, 2);
    TakeLog();
    sim::FailCall("AllocMemory", nth);
    const int r = SetSoundLoopPoint(10, h);
    sim::ClearFailures();
    const int frames = GetSoundTotalSampleCount(h);
    if (r == -1 && frames == 0) {
      sawEmpty = true;
      EXPECT_NE(TakeLog().find("ストリームサウンドハンドルの作成に失敗しました\n"), std::string::npos);
      EXPECT_EQ(
          std::vector<int>({PlaySoundHandle(h, 1), CheckSoundHandlePlaying(h), SetSoundLoopPoint(0, h)}),
          std::vector<int>({-1, 0, -1}));
    } else if (frames != -1) {
      EXPECT_EQ(frames, 11025) << nth;
      EXPECT_EQ(Buffers().size(), r == 0 ? 1u : 2u) << nth;
      EXPECT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
    }
    DeleteSoundHandle(h);
    EXPECT_TRUE(Buffers().empty());
  }
  EXPECT_TRUE(sawEmpty);
}

}  // namespace
