// Compressed files as stream sounds: every file of tests/data/sound/acm plays its
// reference decode through the ring, and a loop point on an MP3 stream jumps back
// sample-exactly by resuming from the loop decoder, never decoding the main data
// from its start again.
#include "convert_acm_support.h"
#include "stream_test_support.h"

using namespace gamelib;
using namespace streamtest;
using acm_test::AcmFile;

namespace {

constexpr std::uint64_t kSecond = 1000000;
std::size_t BytesIn(std::uint64_t micros) { return static_cast<std::size_t>(micros * 44100 / kSecond) * 4; }

class AcmStreamSound : public StreamTest, public ::testing::WithParamInterface<AcmFile> {};

TEST_P(AcmStreamSound, RingPlaysTheReferenceThenSilence) {
  const AcmFile& f = GetParam();
  for (int dataKind : {2, 3}) {
    SCOPED_TRACE(dataKind);
    int h = MakeStream({{"acm/" + f.path.filename().string(), {}, 1}}, dataKind);
    ASSERT_NE(h, -1);
    EXPECT_EQ(GetSoundTotalSampleCount(h) > 0, true);
    ASSERT_TRUE(sim::StartSoundTap(Ring(h)));
    ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
    const std::size_t frames = f.reference.size() / (f.channels * 2);
    RunGame(Rhythm::Irregular, 2 * frames * kSecond / f.rate + 1500000);
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
    EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(Ring(h)), Repeat(f.reference, 2)));
    EXPECT_EQ(DeleteSoundHandle(h), 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, AcmStreamSound, ::testing::ValuesIn(acm_test::AcmFiles()),
                         [](const auto& info) { return info.param.name; });

class Mp3Loop : public StreamTest, public ::testing::WithParamInterface<Rhythm> {};

TEST_P(Mp3Loop, JumpBackResumesFromTheLoopDecoderSampleExactly) {
  const AcmFile f = acm_test::AcmFileNamed("mp3_s16_44100_128k_id3v2");
  int h = MakeStream({{"acm/" + f.path.filename().string(), {}, 0}}, 3);
  ASSERT_NE(h, -1);
  const int loopSample = 10001;
  ASSERT_EQ(SetSoundLoopPoint(loopSample, h), 0);
  sim::ClearAcmCalls();
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(GetParam(), 7 * kSecond, [&] { ear.Take(); });
  // The whole file, then its tail from the loop point again and again, seamlessly.
  EXPECT_TRUE(HeardPrefix(ear.heard, Concat({f.reference, Repeat(Tail(f.reference, loopSample * 4), 200)}),
                          BytesIn(7 * kSecond)));

  // The main decoder converts into the whole block (4/3 s of PCM), the loop decoder
  // never more than up to the loop point: only the very first main conversion starts
  // at the data's start. Each jump back closes one decoder and opens one.
  const gamelib::SoundConvertRecord& c = Record(h)->files[0].converter;
  int mainFromStart = 0, mainConversions = 0, closes = 0, opens = 0;
  for (const sim::AcmCall& call : sim::AcmCalls()) {
    if (call.op == "acmStreamClose") ++closes;
    if (call.op == "acmStreamOpen") ++opens;
    if (call.op != "acmStreamConvert") continue;
    if (call.dstLength == static_cast<DWORD>(c.blockBytes)) {
      ++mainConversions;
      if (call.inputPosition == 0) ++mainFromStart;
    } else {
      EXPECT_LE(call.dstLength, static_cast<DWORD>(loopSample * 4));
    }
  }
  const int jumps = static_cast<int>((ear.heard.size() - f.reference.size()) / (f.reference.size() - loopSample * 4));
  ASSERT_GE(jumps, 10);
  EXPECT_EQ(mainFromStart, 1);
  EXPECT_GE(mainConversions, jumps);
  EXPECT_GE(closes, jumps);
  EXPECT_EQ(closes, opens);
}

INSTANTIATE_TEST_SUITE_P(Rhythms, Mp3Loop, ::testing::Values(Rhythm::Fps60, Rhythm::Fps5, Rhythm::Irregular),
                         [](const auto& info) { return std::string(RhythmName(info.param)); });

}  // namespace
