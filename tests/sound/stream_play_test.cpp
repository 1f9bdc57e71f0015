// Stream sounds played through the offline device, with the pump at 60, 30 and 5 passes
// a second and at an irregular rhythm with stalls: what is heard must be the files in
// order with their repeats, the jump to the loop point, or the wrap to the first file,
// sample for sample, with no gap and nothing after the end but silence.
#include <tuple>

#include "gamelib/sound_load.h"

#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

// ---- One-shot: files in order with their repeats, then silence ------------------------

class OneShotStream : public StreamTest, public ::testing::WithParamInterface<std::tuple<Rhythm, int>> {};

TEST_P(OneShotStream, HeardIsTheFilesInOrderThenSilence) {
  const auto [rhythm, kind] = GetParam();
  // 3 s of WAVE, 2.5 s of Ogg Vorbis and 0.84 s of a chained Ogg file: longer than the
  // ring, with the seams between files and repeats at odd places in it.
  int h = MakeStream(
      {{"pcm_s16_44100.wav", {}, 11}, {"ogg_s16_44100.ogg", {}, 9}, {"ogg_s16_44100_chained.ogg", {}, 4}},
      kind);
  ASSERT_NE(h, -1);
  const Bytes want =
      Concat({Repeat(Reference("pcm_s16_44100.wav"), 12), Repeat(Reference("ogg_s16_44100.ogg"), 10),
              Repeat(Reference("ogg_s16_44100_chained.ogg"), 5)});
  EXPECT_EQ(GetSoundTotalSampleCount(h),
            static_cast<int>((Reference("pcm_s16_44100.wav").size() + Reference("ogg_s16_44100.ogg").size() +
                              Reference("ogg_s16_44100_chained.ogg").size()) /
                             4));

  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  bool stoppedLate = false;
  bool stoppedEarly = false;
  RunGame(rhythm, 8 * kSecond, [&] {
    const Bytes& heard = ear.Take();
    const bool playing = CheckSoundHandlePlaying(h) == 1;
    // The pass that finds the end played stops the ring, whatever the rhythm.
    if (heard.size() >= want.size() && playing) stoppedLate = true;
    if (heard.size() < want.size() && !playing) stoppedEarly = true;
  });
  EXPECT_TRUE(HeardThenSilence(ear.heard, want));
  EXPECT_FALSE(stoppedLate);
  EXPECT_FALSE(stoppedEarly);
  EXPECT_EQ(Record(h)->finished, 1);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
}

INSTANTIATE_TEST_SUITE_P(RhythmsAndKinds, OneShotStream,
                         ::testing::Combine(::testing::ValuesIn(kRhythms), ::testing::Values(0, 2, 3)),
                         [](const auto& info) {
                           return std::string(RhythmName(std::get<0>(info.param))) + "Kind" +
                                  std::to_string(std::get<1>(info.param));
                         });

// ---- Looping: play type 3 wraps to the first file; loop points ------------------------

class LoopingStream : public StreamTest, public ::testing::WithParamInterface<Rhythm> {};

TEST_P(LoopingStream, PlayTypeThreeWrapsToTheFirstFile) {
  int h = MakeStream({{"ogg_s16_44100.ogg", {}, 3}, {"pcm_s16_44100.wav", {}, 2}}, 2);
  ASSERT_NE(h, -1);
  const Bytes cycle =
      Concat({Repeat(Reference("ogg_s16_44100.ogg"), 4), Repeat(Reference("pcm_s16_44100.wav"), 3)});
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 3, 1), 0);
  RunGame(GetParam(), 9 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Repeat(cycle, 8), BytesIn(9 * kSecond)));
  EXPECT_EQ(CheckSoundHandlePlaying(h), 1);
}

TEST_P(LoopingStream, LoopPointOfAnOggStreamJumpsBackSampleExactly) {
  int h = MakeStream({{"ogg_s16_44100.ogg", {}, 0}}, 3);
  ASSERT_NE(h, -1);
  ASSERT_EQ(SetSoundLoopPoint(3001, h), 0);
  const Bytes file = Reference("ogg_s16_44100.ogg");
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);  // the loop point loops whatever the play type
  RunGame(GetParam(), 7 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Concat({file, Repeat(Tail(file, 3001 * 4), 40)}), BytesIn(7 * kSecond)));
}

TEST_P(LoopingStream, LoopPointOfAnMp3StreamResumesFromTheLoopDecoderSampleExactly) {
  const SoundFile f = SoundFileNamed("acm/mp3_s16_44100_128k_id3v2");
  int h = MakeStream({{"acm/mp3_s16_44100_128k_id3v2.mp3", {}, 0}}, 3);
  ASSERT_NE(h, -1);
  const int loopSample = 10001;
  ASSERT_EQ(SetSoundLoopPoint(loopSample, h), 0);
  sim::ClearAcmCalls();
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(GetParam(), 7 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Concat({f.reference, Repeat(Tail(f.reference, loopSample * 4), 200)}),
                          BytesIn(7 * kSecond)));
  // The main decoder converts into the whole block (4/3 s of PCM), the loop decoder
  // never more than up to the loop point: only the very first main conversion starts
  // at the data's start. Each jump back closes one decoder and opens one.
  const int block = Record(h)->files[0].converter.blockBytes;
  int mainFromStart = 0, mainConversions = 0, closes = 0, opens = 0;
  for (const sim::AcmCall& call : sim::AcmCalls()) {
    closes += call.op == "acmStreamClose";
    opens += call.op == "acmStreamOpen";
    if (call.op != "acmStreamConvert") continue;
    if (call.dstLength == static_cast<DWORD>(block)) {
      ++mainConversions;
      mainFromStart += call.inputPosition == 0;
    } else {
      EXPECT_LE(call.dstLength, static_cast<DWORD>(loopSample * 4));
    }
  }
  const int jumps =
      static_cast<int>((ear.heard.size() - f.reference.size()) / (f.reference.size() - loopSample * 4));
  ASSERT_GE(jumps, 10);
  EXPECT_EQ(mainFromStart, 1);
  EXPECT_GE(mainConversions, jumps);
  EXPECT_GE(closes, jumps);
  EXPECT_EQ(closes, opens);
}

TEST_P(LoopingStream, MemorySoundTurnedIntoAStreamByALoopPoint) {
  const Bytes pcm = Reference("pcm_s16_44100.wav");
  int h = MakeMemorySound(Pcm(2, 44100, 16), pcm, 3);
  ASSERT_NE(h, -1);
  ASSERT_EQ(SetSoundLoopPoint(5000, h), 0);
  ASSERT_EQ(Record(h)->soundKind, SOUND_KIND_STREAM);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(GetParam(), 7 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, Concat({pcm, Repeat(Tail(pcm, 5000 * 4), 60)}), BytesIn(7 * kSecond)));
}

INSTANTIATE_TEST_SUITE_P(Rhythms, LoopingStream, ::testing::ValuesIn(kRhythms),
                         [](const auto& info) { return std::string(RhythmName(info.param)); });

// ---- Every file: what the ring plays, byte for byte ----------------------------------

class EveryFile : public StreamTest, public ::testing::WithParamInterface<SoundFile> {};

TEST_P(EveryFile, RingPlaysTheRepeatsThenSilence) {
  const SoundFile& f = GetParam();
  const std::size_t frames = f.reference.size() / (f.channels * f.bits / 8);
  // Repeats enough for seven seconds, more than the ring holds.
  const int plays = std::min<int>(128, static_cast<int>(7 * f.rate / frames) + 1);
  for (int dataKind : {2, 3}) {
    int h = MakeStream(
        {{f.path.lexically_relative(DataDir()).string(), {}, static_cast<std::uint8_t>(plays - 1)}},
        dataKind);
    ASSERT_NE(h, -1);
    ASSERT_TRUE(sim::StartSoundTap(Ring(h)));
    ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
    RunGame(Rhythm::Irregular, static_cast<std::uint64_t>(plays) * frames * kSecond / f.rate + 1500000);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(
        HeardThenSilence(sim::TakeSoundTap(Ring(h)), Repeat(f.reference, plays), f.bits == 8 ? 127 : 0))
        << dataKind;
    EXPECT_EQ(DeleteSoundHandle(h), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, EveryFile, ::testing::ValuesIn(SoundFiles()), ParamName);

// ---- Playing and waiting ----------------------------------------------------------------

TEST_F(StreamTest, PlayAndWaitReturnsWhenTheSoundHasEnded) {
  int h = MakeStream({{"ogg_s16_44100.ogg", {}, 5}}, 2);
  ASSERT_NE(h, -1);
  const Bytes want = Repeat(Reference("ogg_s16_44100.ogg"), 6);
  Listener ear;
  const std::uint64_t before = sim::VirtualTimeMicros();
  ASSERT_EQ(PlayStreamSound(h, 0, 1), 0);
  // It waited about the sound's length (1.5 s), pumping all the while.
  EXPECT_GE(sim::VirtualTimeMicros() - before, 1500000u);
  EXPECT_LT(sim::VirtualTimeMicros() - before, 1600000u);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(ear.Take(), want));
}

TEST_F(StreamTest, ReplayAfterTheEndStartsFromTheFirstFile) {
  // Three files: after a one-shot end the current file stands one past the last.
  int h = MakeStream(
      {{"pcm_s16_44100.wav", {}, 0}, {"ogg_s16_44100.ogg", {}, 0}, {"pcm_s16_44100.wav", {}, 0}}, 0);
  ASSERT_NE(h, -1);
  const Bytes want = Concat(
      {Reference("pcm_s16_44100.wav"), Reference("ogg_s16_44100.ogg"), Reference("pcm_s16_44100.wav")});
  for (int fromTop : {1, 0, 0}) {
    Listener ear;
    ASSERT_EQ(PlayStreamSound(h, 1, fromTop), 0);
    RunGame(Rhythm::Fps30, 1500000, [&] { ear.Take(); });
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(HeardThenSilence(ear.heard, want)) << "fromTop " << fromTop;
  }
}

TEST_F(StreamTest, StopAndPlayResumesWithoutLoss) {
  const Bytes pcm = Synth16(44100 * 9, 2, 7);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(Rhythm::Fps60, 2 * kSecond, [&] { ear.Take(); });
  ASSERT_EQ(StopStreamSound(h), 0);
  sim::AdvanceTime(500);  // stopped: nothing moves, and the silence meanwhile is not the sound's
  MixedBytes();
  ASSERT_EQ(PlayStreamSound(h, 1, 0), 0);
  RunGame(Rhythm::Fps30, 8 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardThenSilence(ear.heard, pcm));
}

// ---- Through the loader and the public calls --------------------------------------------

TEST_F(StreamTest, LoadsWithAStreamCreateTypeMakeStreamSounds) {
  const Bytes pcm = Reference("ogg_s16_44100.ogg");
  for (int type : {1, 2, 3}) {
    ASSERT_EQ(SetCreateSoundDataType(type), 0);
    int h = LoadSoundFile(DataPath("ogg_s16_44100.ogg").c_str(), 3, -1);
    ASSERT_NE(h, -1);
    EXPECT_EQ(Record(h)->soundKind, SOUND_KIND_STREAM);
    EXPECT_EQ(Record(h)->files[0].dataKind, type);
    EXPECT_EQ(Record(h)->prepared, 1);
    EXPECT_EQ(GetSoundTotalSampleCount(h), 11025);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_WAIT, 1), 0);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(HeardThenSilence(ear.Take(), pcm)) << type;
    EXPECT_EQ(DeleteSoundHandle(h), 0);
  }

  // The third argument names a stream sound whose ring to share.
  int music = LoadSoundFile(DataPath("pcm_s16_44100.wav").c_str(), 3, -1);
  int jingle = LoadSoundFile(DataPath("ogg_s16_44100.ogg").c_str(), 3, music);
  ASSERT_NE(jingle, -1);
  EXPECT_EQ(Record(jingle)->linkedHandle, music);
  ASSERT_EQ(PlaySoundHandle(music, SOUND_PLAY_LOOP, 1), 0);
  RunGame(Rhythm::Fps60, 500000);
  EXPECT_EQ(CheckSoundHandlePlaying(music), 1);
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(jingle, SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(music), 0);
  RunGame(Rhythm::Fps60, 100000, [&] { ear.Take(); });
  ASSERT_EQ(StopSoundHandle(jingle), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(jingle), 0);
  EXPECT_EQ(Record(music)->bufferOwner, jingle);  // asking claimed the free ring again
  EXPECT_TRUE(HeardPrefix(ear.heard, pcm, 4410 * 4));

  TakeLog();
  EXPECT_EQ(LoadSoundFile("missing.ogg", 3, -1), -1);
  EXPECT_EQ(TakeLog(), "右記のＷＡＶファイルのロードに失敗しました：missing.ogg \n\n");
  EXPECT_EQ(GetSoundTable().count, 2);
  ASSERT_EQ(SetCreateSoundDataType(0), 0);
}

}  // namespace
