// Stream sounds played through the offline device, with the pump at 60, 30 and 5 passes a
// second and at an irregular rhythm with stalls: what is heard is the file, round its loop
// point or from its start again, sample for sample, with no gap and only silence after
// the end; the play position follows what is heard; the ring's refill at its edges; two
// sounds on one ring; memory sounds turned into stream sounds by a loop point.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

// A stream sound of 44100 Hz 16-bit stereo PCM, from a file of its own.
int Stream(const Bytes& pcm, int createType = 2, int share = -1) {
  static int files = 0;
  return Load(Write("synth" + std::to_string(++files) + ".wav", Wave16(pcm)), createType, 1, share);
}

// Plays and runs the game; after every pass the position must be `model` of the bytes heard
// so far (once the ring has stopped at the end, of those heard until then). What was heard.
Bytes PlayAndWatch(int h, int playType, Rhythm rhythm, std::uint64_t micros,
                   const std::function<std::int64_t(std::int64_t)>& model) {
  Listener ear;
  EXPECT_EQ(PlaySoundHandle(h, playType), 0);
  int wrong = 0;
  std::int64_t stoppedAt = -1;
  RunGame(rhythm, micros, [&] {
    std::int64_t heard = static_cast<std::int64_t>(ear.Take().size());
    if (stoppedAt == -1 && CheckSoundHandlePlaying(h) != 1) stoppedAt = heard;
    if (stoppedAt != -1) heard = stoppedAt;
    wrong += GetSoundPlayPosition(h) != model(heard);
  });
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(DeleteSoundHandle(h), 0);
  return ear.heard;
}

class StreamRhythm : public SoundTest, public ::testing::WithParamInterface<Rhythm> {};

// One-shots longer than the ring; shorter than its first fill; and ending 4 bytes before
// the ring's end, where at 60 passes a second (multiples of 2940 bytes; the ring is 360 of
// them) a look at the cursor alone never sees the end passed, lap after lap. They stop in
// the pass that finds the end, and new buffers are not silent here: after the end the ring
// plays silence written for it. Loops: back to the loop point, or (play type 3) to the start.
TEST_P(StreamRhythm, HeardAndPositionFollowTheFileToItsEndOrRoundItsLoop) {
  sim::SetNewSoundBufferFill(0xA5);
  const struct {
    Bytes pcm;
    int type, loop, playType;
  } cases[] = {{Synth(44100 * 7, 1), 1, -1, 1},     {Synth(44100 * 7, 2), 2, -1, 1},
               {Synth(44100 * 7, 3), 3, -1, 1},     {Synth(44100 * 3 / 2, 4), 2, -1, 1},
               {Synth(6 * 44100 - 1, 5), 2, -1, 1}, {Synth(44100 * 7, 6), 2, 44100, 1},
               {Synth(44100 * 9 / 2, 7), 3, -1, 3}};
  for (const auto& c : cases) {
    const int h = Stream(c.pcm, c.type);
    EXPECT_EQ(GetSoundTotalSampleCount(h), static_cast<int>(c.pcm.size() / 4));
    EXPECT_TRUE(c.loop < 0 || SetSoundLoopPoint(c.loop, h) == 0);
    const std::int64_t size = static_cast<std::int64_t>(c.pcm.size()), point = 4 * c.loop;
    bool late = false;
    const Bytes heard = PlayAndWatch(
        h, c.playType, GetParam(), c.loop < 0 ? 9 * kSecond : 20 * kSecond, [&](std::int64_t heard) {
          late |= c.loop < 0 && c.playType == 1 && heard >= size && CheckSoundHandlePlaying(h) == 1;
          return c.playType == 3              ? heard % size
                 : heard < size || c.loop < 0 ? heard
                                              : point + (heard - size) % (size - point);
        });
    EXPECT_FALSE(late);
    if (c.loop < 0 && c.playType == 1) {
      EXPECT_TRUE(HeardThenSilence(heard, c.pcm));
    } else {
      EXPECT_TRUE(HeardPrefix(
          heard, c.loop < 0 ? Repeat(c.pcm, 3) : Concat({c.pcm, Repeat(Tail(c.pcm, point), 3)}), 8 * 176400));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rhythms, StreamRhythm,
                         ::testing::Values(Rhythm::Fps60, Rhythm::Fps30, Rhythm::Fps5, Rhythm::Irregular));

// ---- Starting, stopping, positions -------------------------------------------------------------

TEST_F(SoundTest, StopResumesWithoutLossFromTopRestartsAndAPositionTakesEffectAtTheNextStart) {
  const Bytes pcm = Synth(44100 * 9, 8);
  const int h = Stream(pcm, 1), size = static_cast<int>(pcm.size());
  const auto play = [&](int fromTop, std::uint64_t micros) {
    return PlayFor(h, kSoundPlayBackground, fromTop, Rhythm::Fps60, micros);
  };
  // Within 16 bytes of where the converter stands (after the first fill: 4 s in) no seek is
  // made: the next start plays from there.
  ASSERT_EQ(SetSoundPlayPosition(4 * 176400 - 8, h), 0);
  EXPECT_TRUE(HeardPrefix(play(0, kSecond), Tail(pcm, 4 * 176400), 176400));
  EXPECT_TRUE(HeardPrefix(play(1, 2 * kSecond), pcm, 2 * 176400));  // stopped or not: from the top
  ASSERT_EQ(StopSoundHandle(h), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  const Bytes before = play(1, 2 * kSecond);
  ASSERT_EQ(StopSoundHandle(h), 0);
  sim::AdvanceTime(500);  // the silence meanwhile is not the sound's
  EXPECT_TRUE(HeardThenSilence(Concat({before, play(0, 8 * kSecond)}), pcm));
  // Played and waited for after the end, from the top or not, it is heard whole.
  for (int fromTop : {0, 1}) {
    Listener again;
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayWait, fromTop), 0);
    EXPECT_TRUE(HeardThenSilence(again.Take(), pcm)) << fromTop;
  }
  play(1, kSecond / 4);
  EXPECT_EQ(Ints({SetSoundPlayPosition(-4, h), SetSoundPlayPositionMs(-1, h)}), Ints(2, -1));
  ASSERT_EQ(SetSoundPlayPosition(size - 176400, h), 0);
  EXPECT_TRUE(HeardThenSilence(play(0, 2 * kSecond), Tail(pcm, size - 176400)));
}

// ---- The refill at its edges ------------------------------------------------------------------

TEST_F(SoundTest, RefillWaitsForTheCursorToComeBackThenFillsThreeSecondsAhead) {
  const int h = Stream(Synth(44100 * 20, 10));
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
  // No pump for 4.5 s: the cursor is past the four seconds written; round the ring, the
  // refill goes on where it stopped; 2 s later it fills up to three seconds ahead.
  for (const auto& [micros, locks] :
       {std::pair<std::uint64_t, std::size_t>{4500000, 0}, {1000000, 0}, {600000, 1}, {2000000, 1}}) {
    sim::AdvanceTimeMicros(micros);
    sim::ClearSoundCalls();
    PumpWindowMessages();
    ASSERT_EQ(CallsNamed("Lock").size(), locks) << micros;
  }
  const std::int64_t write = CallsNamed("Lock")[0].args[0],
                     lead = (write - Inspect(NewestRing()).playCursor) * 128 / 176400;
  EXPECT_EQ(write, 4 * 176400 + 22048);
  EXPECT_EQ(CallsNamed("Lock")[0].args[1], ((384 - lead) * 176400 >> 7) / 4 * 4);
  ASSERT_EQ(DeleteSoundHandle(h), 0);
}

TEST_F(SoundTest, LoopsOfLittleOrNoDataLoopItOrEndTheData) {
  // A loop point a few bytes before the end loops the last samples; so does play type 3 a
  // file of two frames; an empty data chunk ends the data, it does not spin.
  const Bytes pcm = Reference("pcm_s16_44100.wav"), tiny = Synth(2, 14);
  const std::string empty =
      Write("empty.wav", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(6, 1))}));
  const struct {
    std::string path;
    int type, loop;
    Bytes want;  // empty: the data ends
  } cases[] = {{Data("pcm_s16_44100.wav"), 2, 11024, Concat({pcm, Repeat(Tail(pcm, pcm.size() - 4), 44100)})},
               {Write("tiny.wav", Wave16(tiny)), 1, -1, Repeat(tiny, 44100)},
               {empty, 2, -1, {}},
               {empty, 3, -1, {}}};
  for (const auto& c : cases) {
    const int h = Load(c.path, c.type);
    EXPECT_TRUE(c.loop < 0 || SetSoundLoopPoint(c.loop, h) == 0);
    const Bytes heard =
        PlayFor(h, c.loop >= 0 ? kSoundPlayBackground : kSoundPlayLoop, 1, Rhythm::Fps30, kSecond);
    EXPECT_TRUE(c.want.empty() ? HeardThenSilence(heard, {}) : HeardPrefix(heard, c.want, 176400)) << c.loop;
    EXPECT_EQ(Ints({CheckSoundHandlePlaying(h), DeleteSoundHandle(h)}), Ints({c.want.empty() ? 0 : 1, 0}))
        << c.loop;
  }
}

TEST_F(SoundTest, LoopsOfEightBitDataEndingOneByteShortOfARefillFillThatByteFromTheLoop) {
  // 8-bit mono at 44100 Hz: the first fill (four seconds) takes all the file but its last
  // byte's worth, so the fill's last single byte comes from where the loop goes back to.
  Bytes pcm = Pattern(4 * 44100 - 1);
  pcm[0] = 0x11, pcm[1] = 0x22;  // never the silence of 8-bit data (0x80)
  const std::string path = Write("m8.wav", Wave(pcm, {1, 1, 44100, 44100, 1, 8}));
  const struct {
    int loop, playType;
    Bytes want;
  } cases[] = {{-1, kSoundPlayLoop, Repeat(pcm, 2)},
               {1, kSoundPlayBackground, Concat({pcm, Repeat(Tail(pcm, 1), 2)})}};
  for (const auto& c : cases) {
    const int h = Load(path, 2);
    EXPECT_TRUE(c.loop < 0 || SetSoundLoopPoint(c.loop, h) == 0);
    IDirectSoundBuffer* ring = NewestRing();
    ASSERT_TRUE(sim::StartSoundTap(ring));
    ASSERT_EQ(PlaySoundHandle(h, c.playType, 1), 0);
    RunGame(Rhythm::Fps30, 6 * kSecond);
    EXPECT_TRUE(HeardPrefix(sim::TakeSoundTap(ring), c.want, 5 * 44100)) << c.loop;
    EXPECT_EQ(Ints({CheckSoundHandlePlaying(h), DeleteSoundHandle(h)}), Ints({1, 0})) << c.loop;
  }
}

// ---- Two sounds on one ring -------------------------------------------------------------------

TEST_F(SoundTest, SharedRingPlaysOneSoundAtATimeAndEachResumesWhereItWasHeard) {
  const Bytes a = Synth(44100 * 5, 15), b = Synth(44100 * 7, 16);
  const int first = Stream(a), second = Stream(b, 3, first);
  EXPECT_EQ(Buffers(kRingFlags).size(), 1u);
  const Bytes heardFirst = PlayFor(first, kSoundPlayLoop, 1, Rhythm::Fps60, 2 * kSecond);
  EXPECT_TRUE(HeardPrefix(heardFirst, a, heardFirst.size()));
  // Playing the other stops it. The other's position runs on across the ring's end.
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(second, kSoundPlayBackground), 0);
  EXPECT_EQ(Ints({CheckSoundHandlePlaying(first), CheckSoundHandlePlaying(second)}), Ints({0, 1}));
  int wrong = 0;
  RunGame(Rhythm::Fps30, 6500000,
          [&] { wrong += GetSoundPlayPosition(second) != static_cast<int>(ear.Take().size()); });
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(HeardPrefix(ear.heard, b, ear.heard.size()));
  const int secondPosition = GetSoundPlayPosition(second);
  // The first takes the ring back and goes on from what was heard of it, without a gap,
  // then from its start again (play type 3); the second keeps its place meanwhile; then
  // goes on from there.
  EXPECT_TRUE(HeardPrefix(PlayFor(first, kSoundPlayLoop, 0, Rhythm::Irregular, 6 * kSecond),
                          Concat({Tail(a, heardFirst.size()), a, a}), 6 * 176400));
  EXPECT_EQ(Ints({CheckSoundHandlePlaying(second), GetSoundPlayPosition(second)}), Ints({0, secondPosition}));
  EXPECT_TRUE(HeardThenSilence(PlayFor(second, kSoundPlayBackground, 0, Rhythm::Fps5, 2 * kSecond),
                               Tail(b, static_cast<std::size_t>(secondPosition))));
  // Deleting the ring's maker while the other plays does not stop that; the ring goes with
  // the last of them.
  ASSERT_EQ(PlaySoundHandle(second, kSoundPlayBackground, 1), 0);
  ASSERT_EQ(DeleteSoundHandle(first), 0);
  EXPECT_TRUE(
      HeardPrefix(PlayFor(second, kSoundPlayBackground, 0, Rhythm::Fps60, 2 * kSecond), b, 2 * 176400));
  EXPECT_EQ(Buffers(kRingFlags).size(), 1u);
  ASSERT_EQ(DeleteSoundHandle(second), 0);
  EXPECT_TRUE(Buffers().empty());
}

// ---- Loop points on memory sounds ------------------------------------------------------------

// A loop point rebuilds a memory sound as a stream sound: its buffers go, the playing copy
// too, for one ring. Any allocation of the rebuild may fail: the point is refused, and the
// handle names the memory sound unchanged, or an empty sound that refuses to play, or nothing.
TEST_F(SoundTest, LoopPointOnAMemorySoundReplacesItsBuffersByARingOrFailsCleanly) {
  bool sawEmpty = false;
  for (int nth = 0; nth <= 12; ++nth) {
    const int h = Load(Data("pcm_s16_44100.wav"), 0, 3);
    for (int bad : {11025, -1, INT32_MIN}) EXPECT_EQ(SetSoundLoopPoint(bad, h), -1) << bad;
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
    TakeLog();
    if (nth > 0) sim::FailCall("HeapAlloc", nth);
    const int r = SetSoundLoopPoint(10, h), frames = GetSoundTotalSampleCount(h);
    sim::ClearFailures();
    EXPECT_TRUE(r != 0 || Buffers() == Buffers(kRingFlags));
    if (r == -1 && frames == 0) {
      sawEmpty = true;
      EXPECT_NE(TakeLog().find("ストリームサウンドハンドルの作成に失敗しました\n"), std::string::npos);
      EXPECT_EQ(Ints({PlaySoundHandle(h, 1), CheckSoundHandlePlaying(h), SetSoundLoopPoint(0, h)}),
                Ints({-1, 0, -1}));
    } else if (frames != -1) {
      EXPECT_EQ(Ints({frames, static_cast<int>(Buffers().size()), CheckSoundHandlePlaying(h)}),
                Ints({11025, r == 0 ? 1 : 3, r == 0 ? 0 : 1}))
          << nth;
    }
    DeleteSoundHandle(h);
    EXPECT_TRUE(Buffers().empty());
  }
  EXPECT_TRUE(sawEmpty);
}

}  // namespace

namespace {

// A stream sound of three files, each kept its own way: the first repeats once, then the
// second (an image in memory) and the third (read as it plays), then silence. A fourth file,
// a file of another format and a file added while it plays are refused and change nothing.
TEST_F(SoundTest, FilesAddedToOneStreamSoundPlayInTurnWithTheirRepeats) {
  const Bytes a = Synth(44100, 11), b = Synth(22050, 12), c = Synth(33075, 13);
  const std::string fileA = Write("a.wav", Wave16(a)), fileC = Write("c.wav", Wave16(c));
  const Bytes imageB = Wave16(b);
  const std::string other = Write("mono.wav", Wave(Synth(1000, 14), {1, 1, 22050, 44100, 2, 16}));
  const int h = MakeStreamSoundHandle();
  ASSERT_NE(h, -1);
  EXPECT_EQ(AddStreamSoundFile(fileA.c_str(), 1, h, 1, -1), 0);
  EXPECT_EQ(AddStreamSoundFile(other.c_str(), 0, h, 1, -1), -1);
  EXPECT_EQ(AddStreamSoundMemory(imageB.data(), static_cast<int>(imageB.size()), 0, h, 2, -1), 0);
  EXPECT_EQ(AddStreamSoundFile(fileC.c_str(), 0, h, 3, -1), 0);
  EXPECT_EQ(AddStreamSoundFile(fileA.c_str(), 0, h, 1, -1), -1);
  EXPECT_EQ(AddStreamSoundFile(fileA.c_str(), 0, -5, 1, -1), -1);
  EXPECT_EQ(PrepareStreamSound(-5), -1);
  EXPECT_EQ(GetSoundKind(h), kSoundKindStream);
  int channels = 0, bits = 0, rate = 0;
  EXPECT_EQ(GetSoundFormat(h, &channels, &bits, &rate), 0);
  EXPECT_EQ(channels * 100000 + bits * 1000 + rate / 100, 2 * 100000 + 16 * 1000 + 441);
  EXPECT_EQ(PrepareStreamSound(h), 0);
  Listener ear;
  EXPECT_EQ(PlaySoundHandle(h, 1), 0);
  EXPECT_EQ(AddStreamSoundFile(fileA.c_str(), 0, h, 1, -1), -1);
  Listen(ear, Rhythm::Fps30, 6 * kSecond);
  EXPECT_TRUE(HeardThenSilence(ear.heard, Concat({a, a, b, c})));
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_EQ(DeleteSoundHandle(h), 0);
}

}  // namespace
