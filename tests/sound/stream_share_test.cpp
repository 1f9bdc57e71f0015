// Two stream sounds on one ring: the one that plays owns the ring, playing the other
// stops it, and each keeps its own place, so that nothing of the one is ever heard as
// the other.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

class SharedRing : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    a_ = Synth16(44100 * 5, 2, 11);
    b_ = Synth16(44100 * 7, 2, 12);
    first_ = MakeStream({{"", Wave16(a_, 2, 44100), 0}}, 2);
    second_ = MakeStream({{"", Wave16(b_, 2, 44100), 0}}, 3, first_);
    ASSERT_NE(first_, -1);
    ASSERT_NE(second_, -1);
  }
  Bytes a_, b_;
  int first_ = -1;
  int second_ = -1;
};

TEST_F(SharedRing, PlayingOneStopsTheOtherAndEachResumesWhereItWasHeard) {
  int rings = 0;
  for (const sim::SoundBufferInfo& info : sim::SoundBuffers()) rings += info.flags == 0x180E2u;
  EXPECT_EQ(rings, 1);
  EXPECT_EQ(Record(first_)->bufferOwner, first_);  // the first one's load filled the ring
  Listener ear;
  ASSERT_EQ(PlayStreamSound(first_, 3, 1), 0);
  RunGame(Rhythm::Fps60, 2 * kSecond, [&] { ear.Take(); });
  const Bytes heardFirst = ear.heard;
  EXPECT_TRUE(HeardPrefix(heardFirst, a_, heardFirst.size()));

  Listener ear2;
  ASSERT_EQ(PlayStreamSound(second_, 1, 1), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(first_), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(second_), 1);
  EXPECT_EQ(Record(first_)->bufferOwner, second_);
  RunGame(Rhythm::Fps30, 3 * kSecond, [&] { ear2.Take(); });
  EXPECT_TRUE(HeardPrefix(ear2.heard, b_, ear2.heard.size()));
  const int secondPosition = GetSoundPlayPosition(second_);
  EXPECT_EQ(secondPosition, static_cast<int>(ear2.heard.size()));

  // The first sound takes the ring back and goes on from what was heard of it, and the
  // whole of it is heard without a gap, then from its start again (play type 3).
  Listener ear3;
  ASSERT_EQ(PlayStreamSound(first_, 3, 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(second_), 0);
  EXPECT_EQ(GetSoundPlayPosition(second_), secondPosition);  // kept
  RunGame(Rhythm::Irregular, 6 * kSecond, [&] { ear3.Take(); });
  EXPECT_TRUE(HeardPrefix(ear3.heard, Concat({Tail(a_, heardFirst.size()), a_, a_}), 6 * 176400));

  // And the second one, played again without from-top, also goes on where it stopped.
  Listener ear4;
  ASSERT_EQ(PlayStreamSound(second_, 1, 0), 0);
  RunGame(Rhythm::Fps5, 5 * kSecond, [&] { ear4.Take(); });
  EXPECT_TRUE(HeardThenSilence(ear4.heard, Tail(b_, static_cast<std::size_t>(secondPosition))));
  EXPECT_EQ(Record(second_)->finished, 1);
}

TEST_F(SharedRing, StoppingTheSharerClearsTheOwner) {
  ASSERT_EQ(PlayStreamSound(second_, 1, 1), 0);
  RunGame(Rhythm::Fps60, kSecond / 2);
  ASSERT_EQ(StopStreamSound(second_), 0);
  EXPECT_EQ(Record(first_)->bufferOwner, -1);
  // The ring is free: the next sound that asks about it takes it, without a stop.
  EXPECT_EQ(CheckSoundHandlePlaying(first_), 0);
  EXPECT_EQ(Record(first_)->bufferOwner, first_);
  EXPECT_EQ(CheckSoundHandlePlaying(second_), 0);
  EXPECT_EQ(Record(first_)->bufferOwner, first_);
}

TEST_F(SharedRing, SharerPositionRunsOnAcrossTheRingsEnd) {
  Listener ear;
  ASSERT_EQ(PlayStreamSound(second_, 1, 1), 0);
  int wrong = 0;
  RunGame(Rhythm::Fps30, 6500000, [&] {
    const std::int64_t heard = static_cast<std::int64_t>(ear.Take().size());
    if (GetSoundPlayPosition(second_) != heard) ++wrong;
  });
  EXPECT_GT(ear.heard.size(), 6u * 176400u);
  EXPECT_EQ(wrong, 0);
}

TEST_F(SharedRing, DeletedOwnerStaysUntilTheSharerGoes) {
  ASSERT_EQ(PlayStreamSound(second_, 1, 1), 0);
  ASSERT_EQ(DeleteSoundHandle(first_), 0);
  // The sharer plays on: deleting the ring's maker did not stop it.
  Listener ear;
  RunGame(Rhythm::Fps60, 2 * kSecond, [&] { ear.Take(); });
  EXPECT_TRUE(HeardPrefix(ear.heard, b_, 2 * 176400));
  EXPECT_EQ(Record(first_)->deletePending, 1);
  ASSERT_EQ(DeleteSoundHandle(second_), 0);
  EXPECT_EQ(Record(first_), nullptr);
  EXPECT_EQ(GetSoundTable().count, 0);
}

TEST_F(StreamTest, ARingOfAnotherFormatIsNotShared) {
  int owner = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 2);
  int other = MakeStream({{"pcm_m16_48000.wav", {}, 0}}, 2, owner);
  ASSERT_NE(other, -1);
  EXPECT_EQ(Record(other)->linkedHandle, -1);
  EXPECT_EQ(Record(other)->buffers[0].valid, 1);
  EXPECT_EQ(Record(owner)->shareCount, 0);
  // Nor is a sharer's ring (it has none of its own), nor a handle that is no sound.
  int sharer = MakeStream({{"ogg_s16_44100.ogg", {}, 0}}, 2, owner);
  ASSERT_EQ(Record(sharer)->linkedHandle, owner);
  int third = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 2, sharer);
  int fourth = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 2, 0x12345);
  EXPECT_EQ(Record(third)->linkedHandle, -1);
  EXPECT_EQ(Record(fourth)->linkedHandle, -1);
  EXPECT_EQ(Record(owner)->shareCount, 1);
}

}  // namespace
