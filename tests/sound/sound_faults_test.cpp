// Sound under platform faults: a read, seek, conversion or unlock that fails once while a
// stream sound plays is made again and nothing is lost; one that goes on failing stops the
// sound after what it holds, a play meanwhile fails, and once it clears the sound goes on
// where it stopped. A load never reports a sound it could only partly convert, and a loop
// to the last sample repeats that sample without decoding again.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

struct Fault {
  std::string file;
  int createType;
  const char* call;
};
void PrintTo(const Fault& f, std::ostream* os) { *os << f.file << " type " << f.createType << " " << f.call; }

// Files in the output format, so that the ring is what is mixed.
const Fault kFaults[] = {{"acm/ima_s16_44100.wav", 2, "acmStreamConvert"},
                         {"acm/mp3_s16_44100_128k_id3v2.mp3", 3, "acmStreamConvert"},
                         {"ogg_s16_44100.ogg", 3, "ReadFile"},
                         {"ogg_s16_44100.ogg", 3, "SetFilePointer"},
                         {"pcm_s16_44100.wav", 3, "ReadFile"},
                         {"pcm_s16_44100.wav", 2, "Unlock"}};

class StreamFault : public SoundTest, public ::testing::WithParamInterface<Fault> {
 protected:
  const Bytes reference = Reference(GetParam().file);
  int Make() { return Load(Data(GetParam().file), GetParam().createType); }
};

// The first fill fails at the load (the last such call the load makes): the play fills again,
// and the sound is heard whole; while the failure lasts the play fails. (An Ogg Vorbis file
// this short is read whole while it is opened.)
TEST_P(StreamFault, FirstFillThatFailsIsMadeAgainByThePlay) {
  if (GetParam().file.find(".ogg") != std::string::npos) GTEST_SKIP();
  const int before = sim::CallCount(GetParam().call);
  ASSERT_EQ(DeleteSoundHandle(Make()), 0);
  const int calls = sim::CallCount(GetParam().call) - before;
  for (int times : {1, 1000000}) {
    sim::FailCall(GetParam().call, calls, times);
    const int h = Make();
    ASSERT_NE(h, -1);
    if (times > 1) {
      EXPECT_EQ(Ints({PlaySoundHandle(h, kSoundPlayBackground), CheckSoundHandlePlaying(h)}), Ints({-1, 0}));
      sim::ClearFailures();
    }
    EXPECT_TRUE(HeardThenSilence(PlayFor(h, kSoundPlayBackground, 0, Rhythm::Fps60, kSecond), reference))
        << times;
    EXPECT_EQ(DeleteSoundHandle(h), 0);
  }
}

// Looping (play type 3), every pass converts: one failure is made again on the next pass, over
// silence not yet heard, so that nothing is lost; a failure that lasts stops the sound after
// what the ring holds, and once it clears the sound goes on from there.
TEST_P(StreamFault, FailureWhilePlayingLosesNothingOrStopsUntilItClears) {
  const Bytes loop = Repeat(reference, 2 * 176400 * 12 / static_cast<int>(reference.size()) + 2);
  const int h = Make();
  ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayLoop), 0);
  RunGame(Rhythm::Fps60, kSecond / 2);
  sim::FailCall(GetParam().call, 1);
  RunGame(Rhythm::Fps30, 2 * kSecond);
  const Bytes once = sim::TakeSoundTap(NewestRing());
  EXPECT_TRUE(HeardPrefix(once, loop, 5 * 176400 / 2));
  EXPECT_EQ(CheckSoundHandlePlaying(h), 1);

  sim::FailCall(GetParam().call, 1, 1000000);
  RunGame(Rhythm::Fps30, 6 * kSecond);
  EXPECT_EQ(Ints({CheckSoundHandlePlaying(h), PlaySoundHandle(h, kSoundPlayLoop, 0)}), Ints({0, -1}));
  sim::ClearFailures();
  const Bytes lasting = Concat({once, sim::TakeSoundTap(NewestRing())});
  const std::size_t heard =
      std::mismatch(lasting.begin(), lasting.end(), loop.begin(), loop.end()).first - lasting.begin();
  EXPECT_GT(heard, once.size());
  PlayFor(h, kSoundPlayLoop, 0, Rhythm::Fps60, kSecond);
  const Bytes again = sim::TakeSoundTap(NewestRing());
  // Played again, the loop goes on unbroken, from about where it stopped.
  ASSERT_GE(again.size(), 176400u);
  const auto from = std::search(loop.begin(), loop.end(), again.begin(), again.begin() + 176400);
  EXPECT_NE(from, loop.end());
  if (std::string(GetParam().call) != "Unlock") {
    // The loop up to where the data stopped, then silence (a ring that cannot be written
    // plays what it held, and up to a pass more).
    EXPECT_TRUE(HeardThenSilence(lasting, Head(loop, heard)));
    EXPECT_LE(std::abs((from - loop.begin()) % static_cast<std::ptrdiff_t>(reference.size()) -
                       static_cast<std::ptrdiff_t>(heard % reference.size())),
              4608);
  }
  EXPECT_EQ(DeleteSoundHandle(h), 0);
}

INSTANTIATE_TEST_SUITE_P(Calls, StreamFault, ::testing::ValuesIn(kFaults));

// A conversion that fails part-way, or a length the manager cannot state, fails the load with
// its log line; a shortened sound or a sound of length 0 is never loaded.
TEST_F(SoundTest, LoadsThatCannotConvertEverythingFail) {
  const std::string noPcm = "音声ファイルを格納するメモリ領域の確保に失敗しました\n",
                    noConversion = "音声データの変換に失敗しました\n",
                    noOpen = "音声データのオープンに失敗しました\n";
  const struct {
    std::string file;
    int createType;
    const char* call;
    int nth;
    std::string log;
  } cases[] = {{"acm/mp3_s16_44100_128k_id3v2.mp3", 0, "acmStreamConvert", 2, noPcm},
               {"acm/ima_s16_44100.wav", 0, "acmStreamConvert", 3, noPcm},
               {"acm/ima_s16_44100.wav", 1, "acmStreamConvert", 2, noConversion},
               {"ogg_s16_44100.ogg", 1, "", 0, ""},
               {"acm/ima_s16_44100.wav", 2, "acmStreamSize", 1, noOpen},
               {"acm/ima_s16_44100.wav", 3, "acmStreamSize", 1, noOpen}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " " + c.call);
    TakeLog();
    if (c.nth > 0) sim::FailCall(c.call, c.nth);
    const int h = Load(Data(c.file), c.createType);
    sim::ClearFailures();
    if (c.nth == 0) {
      // Without a fault the same file loads whole.
      EXPECT_EQ(GetSoundTotalSampleCount(h), static_cast<int>(Reference(c.file).size() / 4));
      EXPECT_EQ(DeleteSoundHandle(h), 0);
      continue;
    }
    EXPECT_EQ(h, -1);
    EXPECT_NE(TakeLog().find(c.log), std::string::npos);
    EXPECT_TRUE(Buffers().empty());
  }
}

// A loop point at the last sample: after the file, that one sample again and again, for longer
// than the ring holds, and after the first time round nothing more is decoded or read.
TEST_F(SoundTest, LoopToTheLastSampleRepeatsItFromMemory) {
  for (const char* name :
       {"ogg_s16_44100.ogg", "acm/ima_s16_44100.wav", "acm/mp3_s16_44100_128k_id3v2.mp3"}) {
    SCOPED_TRACE(name);
    const Bytes reference = Reference(name);
    const int h = Load(Data(name), 3), frames = static_cast<int>(reference.size() / 4);
    ASSERT_EQ(GetSoundTotalSampleCount(h), frames);
    ASSERT_EQ(SetSoundLoopPoint(frames - 1, h), 0);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground, 1), 0);
    Listen(ear, Rhythm::Fps60, kSecond);
    const int reads = sim::CallCount("ReadFile"), converts = sim::CallCount("acmStreamConvert");
    Listen(ear, Rhythm::Fps5, 7 * kSecond);
    EXPECT_EQ(Ints({sim::CallCount("ReadFile"), sim::CallCount("acmStreamConvert")}),
              Ints({reads, converts}));
    EXPECT_TRUE(HeardPrefix(
        ear.heard, Concat({reference, Repeat(Tail(reference, reference.size() - 4), 2000000)}), 7 * 176400));
    // A new point drops the held tail: the loop goes to it.
    ASSERT_EQ(SetSoundLoopPoint(frames / 2, h), 0);
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground, 1), 0);
    ear.heard.clear();
    Listen(ear, Rhythm::Fps30, 2 * kSecond);
    EXPECT_TRUE(HeardPrefix(ear.heard, Concat({reference, Repeat(Tail(reference, frames / 2 * 4), 100)}),
                            2 * 176400));
    EXPECT_EQ(DeleteSoundHandle(h), 0);
  }
}

}  // namespace
