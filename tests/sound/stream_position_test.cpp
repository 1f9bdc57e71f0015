// The play position of stream sounds: it grows with what is heard through repeats and
// into the next file, and restarts at the loop point or the first file at the seam;
// the setters choose where the next start plays from, also right at a file boundary.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

class StreamPosition : public StreamTest, public ::testing::WithParamInterface<Rhythm> {
 protected:
  // Plays and checks, after every pump pass, the position against `model` of the bytes
  // heard so far.
  void PlayAndWatch(int handle, int playType, std::uint64_t micros,
                    const std::function<std::int64_t(std::int64_t)>& model) {
    Listener ear;
    ASSERT_EQ(PlayStreamSound(handle, playType, 1), 0);
    int checked = 0;
    int wrong = 0;
    std::int64_t stoppedAt = -1;
    RunGame(GetParam(), micros, [&] {
      std::int64_t heard = static_cast<std::int64_t>(ear.Take().size());
      // Once the ring has stopped at the end, the position stays where it stopped.
      if (stoppedAt == -1 && CheckSoundHandlePlaying(handle) != 1) stoppedAt = heard;
      if (stoppedAt != -1) heard = stoppedAt;
      const int position = GetSoundPlayPosition(handle);
      ++checked;
      if (position != model(heard) && ++wrong <= 3) {
        ADD_FAILURE() << "after " << heard << " bytes heard the position is " << position << ", want "
                      << model(heard);
      }
    });
    EXPECT_GT(checked, 10);
  }
};

TEST_P(StreamPosition, GrowsThroughRepeatsAndFiles) {
  const Bytes a = Synth16(44100 * 2, 2, 1);
  const Bytes b = Synth16(44100 * 3, 2, 2);
  int h = MakeStream({{"", Wave16(a, 2, 44100), 1}, {"", Wave16(b, 2, 44100), 0}}, 0);
  ASSERT_NE(h, -1);
  // 7 s: the position passes the ring's end and goes on after the data has ended.
  PlayAndWatch(h, 1, 8 * kSecond, [](std::int64_t heard) { return heard; });
}

TEST_P(StreamPosition, RestartsAtTheLoopPointAfterTheSeam) {
  const Bytes pcm = Synth16(44100 * 7, 2, 3);
  int h = MakeStream({{"", Wave16(pcm, 2, 44100), 0}}, 2);
  ASSERT_NE(h, -1);
  ASSERT_EQ(SetSoundLoopPoint(44100, h), 0);
  const std::int64_t length = static_cast<std::int64_t>(pcm.size());
  const std::int64_t point = 44100 * 4;
  PlayAndWatch(h, 1, 20 * kSecond, [&](std::int64_t heard) {
    return heard < length ? heard : point + (heard - length) % (length - point);
  });
}

TEST_P(StreamPosition, PlayTypeThreeRestartsAtZeroAtTheSeam) {
  const Bytes a = Synth16(44100 * 3, 2, 4);
  const Bytes b = Synth16(44100 * 5 / 2, 2, 5);
  int h = MakeStream({{"", Wave16(a, 2, 44100), 0}, {"", Wave16(b, 2, 44100), 0}}, 3);
  ASSERT_NE(h, -1);
  const std::int64_t cycle = static_cast<std::int64_t>(a.size() + b.size());
  PlayAndWatch(h, 3, 14 * kSecond, [&](std::int64_t heard) { return heard % cycle; });
}

INSTANTIATE_TEST_SUITE_P(Rhythms, StreamPosition, ::testing::ValuesIn(kRhythms),
                         [](const auto& info) { return std::string(RhythmName(info.param)); });

// ---- Setters --------------------------------------------------------------------------

class PositionSetters : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    a_ = Synth16(44100, 2, 6);      // exactly 1000 ms
    b_ = Synth16(44100 / 2, 2, 7);  // 500 ms
    handle_ = MakeStream({{"", Wave16(a_, 2, 44100), 0}, {"", Wave16(b_, 2, 44100), 0}}, 2);
    ASSERT_NE(handle_, -1);
  }
  // What the next start plays, to its end.
  Bytes PlayToEnd() {
    Listener ear;
    EXPECT_EQ(PlayStreamSound(handle_, 1, 0), 0);
    RunGame(Rhythm::Fps60, 2 * kSecond, [&] { ear.Take(); });
    return ear.heard;
  }
  Bytes a_, b_;
  int handle_ = -1;
};

TEST_F(PositionSetters, BytesAtTheFileBoundarySelectTheSecondFile) {
  const int boundary = static_cast<int>(a_.size());
  ASSERT_EQ(SetSoundPlayPosition(boundary, handle_), 0);
  EXPECT_EQ(Record(handle_)->currentFile, 1);
  EXPECT_EQ(Record(handle_)->filePosition, 0);
  EXPECT_EQ(GetSoundPlayPosition(handle_), boundary);
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), b_));

  ASSERT_EQ(SetSoundPlayPosition(boundary - 4, handle_), 0);  // the first file's last sample
  EXPECT_EQ(Record(handle_)->currentFile, 0);
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), Concat({Tail(a_, a_.size() - 4), b_})));
}

TEST_F(PositionSetters, BytesPastTheEndAreRefused) {
  const int total = static_cast<int>(a_.size() + b_.size());
  EXPECT_EQ(SetSoundPlayPosition(total, handle_), -1);
  EXPECT_EQ(SetSoundPlayPosition(-4, handle_), -1);
  EXPECT_EQ(Record(handle_)->prepared, 1);  // nothing changed
  ASSERT_EQ(SetSoundPlayPosition(total - 4, handle_), 0);
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), Tail(b_, b_.size() - 4)));
}

TEST_F(PositionSetters, MillisecondsAtTheFileBoundarySelectTheSecondFile) {
  ASSERT_EQ(SetSoundPlayPositionMs(1000, handle_), 0);
  EXPECT_EQ(Record(handle_)->currentFile, 1);
  EXPECT_EQ(Record(handle_)->filePosition, 0);
  EXPECT_EQ(GetSoundPlayPosition(handle_), 176400);
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), b_));

  EXPECT_EQ(SetSoundPlayPositionMs(1500, handle_), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(-1, handle_), -1);
  // 499 ms into the second file: trunc(4 * 44100 * 0.499) = 88023, a whole sample less.
  ASSERT_EQ(SetSoundPlayPositionMs(1499, handle_), 0);
  EXPECT_EQ(Record(handle_)->currentFile, 1);
  EXPECT_EQ(Record(handle_)->filePosition, 88020);
  EXPECT_EQ(GetSoundPlayPosition(handle_), 264423);  // trunc(176400 * 1.499)
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), Tail(b_, 88020)));
}

TEST_F(PositionSetters, SettingWhilePlayingTakesEffectAtTheNextPlay) {
  Listener ear;
  ASSERT_EQ(PlayStreamSound(handle_, 1, 1), 0);
  RunGame(Rhythm::Fps60, kSecond / 4, [&] { ear.Take(); });
  ASSERT_EQ(SetSoundPlayPosition(static_cast<int>(a_.size()), handle_), 0);
  // Played again without from-top, it starts where the position was set.
  EXPECT_TRUE(HeardThenSilence(PlayToEnd(), b_));
}

}  // namespace
