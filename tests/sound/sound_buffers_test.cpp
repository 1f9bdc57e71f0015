// Sound buffers: making a handle's buffers (duplicates, fallbacks, the format gate, the
// fatal exits), silence for rings, volume, play positions, and what the device plays.
#include <cmath>

#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

// ---- Making buffers ----------------------------------------------------------------------

TEST_F(SoundTest, MemorySoundGetsOneBufferAndSharingDuplicates) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(4000), 4);
  SoundHandleRecord* record = Record(handle);
  ASSERT_EQ(record->bufferCount, 4);
  const sim::SoundBufferInfo first = Inspect(record->buffers[0].buffer);
  EXPECT_EQ(first.flags, 0x80E2u);
  EXPECT_EQ(first.bytes, 4000u);
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(Inspect(record->buffers[i].buffer).dataId, first.dataId);
    EXPECT_EQ(sim::SoundBufferContents(record->buffers[i].buffer), Pattern(4000));
  }
  for (int i = 4; i < kSoundBuffersPerHandle; ++i) EXPECT_EQ(record->buffers[i].valid, 0);
  // Buffers are made once per sound, for a sound that exists, of a known kind.
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  EXPECT_EQ(CreateSoundBuffers(&format, 4000, SOUND_KIND_MEMORY, 1, handle), -1);
  EXPECT_EQ(CreateSoundBuffers(&format, 4000, SOUND_KIND_MEMORY, 1, 0x10000000 | 77), -1);
  EXPECT_EQ(CreateSoundBuffers(&format, 4000, 2, 1, AddSoundData(-1)), -1);
}

TEST_F(SoundTest, RefusedFourthBufferLeavesThreeThatStillPlay) {
  sim::FailCall("DuplicateSoundBuffer", 3);  // the third duplicate is the fourth buffer
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(44100 * 4), 10);
  ASSERT_NE(handle, -1);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(record->bufferCount, 3);
  EXPECT_EQ(CallsNamed("DuplicateSoundBuffer").size(), 3u);  // no attempt after the refusal
  EXPECT_EQ(record->buffers[3].valid, 0);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[2], 0), 0);
  sim::AdvanceTime(100);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  EXPECT_GT(Inspect(record->buffers[2].buffer).playCursor, 0u);
}

TEST_F(SoundTest, FirstBufferFallsBackToFewerControls) {
  sim::FailCreateSoundBufferFlags(0x80E2);
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(400), 2);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).flags, 0xC2u);
  EXPECT_EQ(Record(handle)->bufferCount, 2);
}

TEST_F(SoundTest, StreamSoundGetsASixSecondRingAndJoinsTheStreamList) {
  const WAVEFORMATEX format = Pcm(2, 22050, 16);
  const int handle = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&format, 12345, SOUND_KIND_STREAM, 7, handle), 0);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(record->bufferCount, 1);
  const sim::SoundBufferInfo ring = Inspect(record->buffers[0].buffer);
  EXPECT_EQ(ring.flags, 0x180E2u);
  EXPECT_EQ(ring.bytes, 22050u * 4 * 6);
  const LinkedList& list = GetSoundSystemState().SoundStreamList;
  ASSERT_EQ(list.head.next, &record->streamListNode);
  EXPECT_EQ(record->streamListNode.data, record);
  ASSERT_EQ(DeleteSoundHandle(handle), 0);
  EXPECT_EQ(list.head.next, &list.tail);
}

// Data the device could never take is refused before the device is asked, so it can
// not reach the fatal exit.
struct GateCase {
  const char* name;
  WAVEFORMATEX format;
  std::uint32_t bytes;
  int kind;
};
void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }
WAVEFORMATEX With(WAVEFORMATEX f, void (*change)(WAVEFORMATEX&)) {
  change(f);
  return f;
}

class FormatGateTest : public SoundTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(FormatGateTest, RefusedWithoutAskingTheDevice) {
  const GateCase& c = GetParam();
  const int handle = AddSoundData(-1);
  sim::ClearSoundCalls();
  EXPECT_EQ(CreateSoundBuffers(&c.format, c.bytes, c.kind, 3, handle), -1);
  EXPECT_TRUE(CallsNamed("CreateSoundBuffer").empty());
  EXPECT_EQ(Record(handle)->bufferCount, 0);
  EXPECT_EQ(Record(handle)->buffers[0].valid, 0);
  EXPECT_EQ(DeleteSoundHandle(handle), 0);
}

const WAVEFORMATEX kCd = Pcm(2, 44100, 16);
INSTANTIATE_TEST_SUITE_P(
    Gate, FormatGateTest,
    ::testing::Values(
        GateCase{"EmptyData", kCd, 0, SOUND_KIND_MEMORY}, GateCase{"PartBlock", kCd, 4002, SOUND_KIND_MEMORY},
        GateCase{"LessThanABlock", kCd, 2, SOUND_KIND_MEMORY},
        GateCase{"TooLarge", kCd, 0x10000000u, SOUND_KIND_MEMORY},
        GateCase{"Bits24", Pcm(2, 44100, 24), 6000, SOUND_KIND_MEMORY},
        GateCase{"Channels6", Pcm(6, 44100, 16), 1200, SOUND_KIND_MEMORY},
        GateCase{"ZeroFormat", WAVEFORMATEX{}, 4000, SOUND_KIND_MEMORY},
        GateCase{"ZeroFormatRing", WAVEFORMATEX{}, 0, SOUND_KIND_STREAM},
        GateCase{"RateTooLow", Pcm(1, 50, 8), 100, SOUND_KIND_MEMORY},
        GateCase{"RateTooHigh", Pcm(2, 400000, 16), 4000, SOUND_KIND_STREAM},
        GateCase{"NotPcm", With(kCd, [](WAVEFORMATEX& f) { f.wFormatTag = 0x55; }), 4000, SOUND_KIND_MEMORY},
        GateCase{"ByteRateLies", With(kCd, [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 0x7FFFFFFF; }), 0,
                 SOUND_KIND_STREAM},
        GateCase{"BlockLies", With(kCd, [](WAVEFORMATEX& f) { f.nBlockAlign = 0; }), 4000,
                 SOUND_KIND_MEMORY}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return std::string(info.param.name); });

// ---- The fatal exits --------------------------------------------------------------------

class SoundDeathTest : public SoundTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SoundTest::SetUp();
    setenv("GAMELIB_DEBUG_OUTPUT", "1", 1);  // the log reaches stderr, where the test reads it
  }
  void TearDown() override {
    unsetenv("GAMELIB_DEBUG_OUTPUT");
    SoundTest::TearDown();
  }
};

TEST_F(SoundDeathTest, FirstBufferRefusedWithBothFlagSetsEndsTheProcess) {
  sim::FailCreateSoundBufferFlags(0x80E2);
  sim::FailCreateSoundBufferFlags(0xC2);
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  const int handle = AddSoundData(-1);
  EXPECT_EXIT(CreateSoundBuffers(&format, 4000, SOUND_KIND_MEMORY, 1, handle), ::testing::ExitedWithCode(255),
              "DirectSoundBuffer の作成に失敗しました\r\n(.|\n)*DirectSound の終了処理は正常に終了しました");
  // Data the gate turns away is no fatal refusal.
  EXPECT_EQ(CreateSoundBuffers(&format, 4001, SOUND_KIND_MEMORY, 1, handle), -1);
}

TEST_F(SoundDeathTest, RingRefusedEndsTheProcess) {
  sim::FailCreateSoundBufferFlags(0x180E2);
  const WAVEFORMATEX format = Pcm(1, 22050, 8);
  const int handle = AddSoundData(-1);
  EXPECT_EXIT(CreateSoundBuffers(&format, 0, SOUND_KIND_STREAM, 1, handle), ::testing::ExitedWithCode(255),
              "ストリーム風サウンドバッファの作成に失敗しました\r\n");
}

// ---- Silence ------------------------------------------------------------------------------

TEST_F(SoundTest, SilenceFillsBothPartsOfAWrappedLockAndStopsAtItsEnd) {
  const WAVEFORMATEX eight = Pcm(1, 8000, 8);
  const int handle = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&eight, 0, SOUND_KIND_STREAM, 1, handle), 0);
  SoundHandleRecord* record = Record(handle);
  record->format = eight;
  const DWORD ring = 8000 * 6;
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  ASSERT_EQ(LockSoundBufferWrapper(&record->buffers[0], ring - 100, 300, &p1, &n1, &p2, &n2), 0);
  ASSERT_EQ(n1, 100u);
  ASSERT_EQ(n2, 200u);
  StreamFillCursor cursor{};
  cursor.part1 = static_cast<std::uint8_t*>(p1);
  cursor.part2 = static_cast<std::uint8_t*>(p2);
  cursor.part1Bytes = cursor.part1Left = n1;
  cursor.part2Bytes = cursor.part2Left = n2;
  std::memset(p1, 0xEE, n1);
  std::memset(p2, 0xEE, n2);
  WriteSilenceToBuffer(record, &cursor, 0);  // nothing
  EXPECT_EQ(cursor.part1Done, 0u);
  WriteSilenceToBuffer(record, &cursor, 60);
  WriteSilenceToBuffer(record, &cursor, 90);  // 40 into part 1, 50 into part 2
  EXPECT_EQ(cursor.part1Done, 100u);
  EXPECT_EQ(cursor.part2Done, 50u);
  EXPECT_EQ(cursor.part2Left, 150u);
  WriteSilenceToBuffer(record, &cursor, 1000);  // only what is left of the range
  EXPECT_EQ(cursor.part2Done, 200u);
  EXPECT_EQ(cursor.part2Left, 0u);
  ASSERT_EQ(UnlockSoundBufferWrapper(&record->buffers[0], p1, n1, p2, n2), 0);
  const Bytes bytes = sim::SoundBufferContents(record->buffers[0].buffer);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 200, [](std::uint8_t b) { return b == 127; }));
  EXPECT_EQ(bytes[200], 0);  // untouched
  EXPECT_TRUE(std::all_of(bytes.end() - 100, bytes.end(), [](std::uint8_t b) { return b == 127; }));
  // The silence of 16-bit data is 0.
  record->format = Pcm(2, 44100, 16);
  std::uint8_t sixteen[16];
  std::memset(sixteen, 0x55, sizeof(sixteen));
  cursor = StreamFillCursor{};
  cursor.part1 = sixteen;
  cursor.part1Bytes = cursor.part1Left = 12;
  WriteSilenceToBuffer(record, &cursor, 16);
  EXPECT_EQ(Bytes(sixteen, sixteen + 13), Concat({Bytes(12, 0), Bytes{0x55}}));
}

// ---- Volume and position ----------------------------------------------------------------------

TEST_F(SoundTest, VolumeBecomesHundredthsOfADecibelOnEveryBuffer) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(400), 3);
  const struct {
    int volume;
    LONG expected;
  } cases[] = {{255, 0}, {300, 0}, {128, -299}, {1, -2406}, {0, -10000}, {-5, -10000}, {254, -1}};
  for (const auto& c : cases) {
    sim::ClearSoundCalls();
    ASSERT_EQ(SetSoundHandleVolume(c.volume, handle), 0);
    const std::vector<sim::SoundCall> calls = CallsNamed("SetVolume");
    ASSERT_EQ(calls.size(), 3u) << c.volume;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(calls[i].args.at(0), c.expected) << c.volume;
      EXPECT_EQ(Inspect(Record(handle)->buffers[i].buffer).volume, c.expected) << c.volume;
    }
  }
  EXPECT_EQ(SoundVolumeToHundredthsDb(INT32_MAX), 0);
  EXPECT_EQ(SoundVolumeToHundredthsDb(INT32_MIN), -10000);
}

TEST_F(SoundTest, PositionGoesToTheFirstBufferThatIsNotPlayingOrIsRefused) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(44100 * 4), 3);
  SoundHandleRecord* record = Record(handle);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[0], 1), 0);
  sim::ClearSoundCalls();
  ASSERT_EQ(SetSoundPlayPosition(4000, handle), 0);
  std::vector<sim::SoundCall> calls = CallsNamed("SetCurrentPosition");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].object, Inspect(record->buffers[1].buffer).id);
  EXPECT_EQ(Inspect(record->buffers[1].buffer).playCursor, 4000u);
  // A status that cannot be read refuses it; so does every buffer playing.
  sim::FailCall("GetStatus", 1);
  EXPECT_EQ(SetSoundPlayPosition(400, handle), -1);
  for (int i = 1; i < 3; ++i) ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[i], 0), 0);
  EXPECT_EQ(SetSoundPlayPosition(400, handle), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(10, handle), -1);
  EXPECT_EQ(CallsNamed("SetCurrentPosition").size(), 1u);
}

TEST_F(SoundTest, PositionsAreCheckedAgainstTheSoundAndMillisecondsTruncated) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(44100 * 4), 1);  // one second
  sim::ClearSoundCalls();
  EXPECT_EQ(SetSoundPlayPosition(-4, handle), -1);
  EXPECT_EQ(SetSoundPlayPosition(44100 * 4, handle), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(-1, handle), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(1000, handle), -1);
  // 100 s: an integer rate x ms product would wrap round to a small offset here.
  EXPECT_EQ(SetSoundPlayPositionMs(100000, handle), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(INT32_MAX, handle), -1);
  EXPECT_TRUE(CallsNamed("SetCurrentPosition").empty());
  EXPECT_EQ(SetSoundPlayPosition(44100 * 4 - 4, handle), 0);
  // Milliseconds are truncated, not block aligned: 132.3 samples x 4 bytes.
  ASSERT_EQ(SetSoundPlayPositionMs(3, handle), 0);
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).lastSetPosition, 529u);
  ASSERT_EQ(SetSoundPlayPositionMs(999, handle), 0);
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).lastSetPosition, 176223u);
  // The play position is the first buffer's cursor.
  ASSERT_EQ(SetSoundPlayPosition(8000, handle), 0);
  EXPECT_EQ(GetSoundPlayPosition(handle), 8000);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), 0);
  sim::AdvanceTime(100);
  EXPECT_EQ(GetSoundPlayPosition(handle), 8000 + 4410 * 4);
  sim::FailCall("GetCurrentPosition", 1);
  EXPECT_EQ(GetSoundPlayPosition(handle), -1);
}

TEST_F(SoundTest, WrappersReportRefusalsAndEmptyBuffers) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Pattern(400), 1);
  sim::FailCall("Play", 1);
  EXPECT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), -1);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  EXPECT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), 0);
  SoundBufferWrapper empty{};
  DWORD status = 0;
  EXPECT_EQ(PlaySoundBufferWrapper(&empty, 0), -1);
  EXPECT_EQ(StopSoundBufferWrapper(&empty), -1);
  EXPECT_EQ(ReleaseSoundBufferWrapper(&empty), -1);
  EXPECT_EQ(GetSoundBufferWrapperStatus(&empty, &status), -1);
  EXPECT_EQ(SetSoundBufferWrapperVolume(&empty, 0), -1);
  EXPECT_EQ(SetSoundBufferWrapperPosition(&empty, 0), -1);
  EXPECT_EQ(CreateSoundBufferWrapper(&Record(handle)->buffers[0], nullptr), -1);  // already valid
}

TEST_F(SoundTest, BufferAtOutputRateAndFullVolumeIsMixedBitExactly) {
  std::vector<std::int16_t> samples(4410 * 2);  // 100 ms
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(i * 0.01)) + (i % 2 == 0 ? 0 : -7));
  Bytes pcm(samples.size() * 2);
  std::memcpy(pcm.data(), samples.data(), pcm.size());
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  ASSERT_EQ(SetSoundHandleVolume(255, handle), 0);
  sim::AdvanceTime(10);
  const Bytes before = MixedBytes();  // only the silent buffer so far
  EXPECT_TRUE(std::all_of(before.begin(), before.end(), [](std::uint8_t b) { return b == 0; }));
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), 0);
  sim::AdvanceTime(150);
  const Bytes mixed = MixedBytes();
  ASSERT_EQ(mixed.size(), 6615u * 4);
  EXPECT_TRUE(HeardThenSilence(mixed, pcm));
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
}

}  // namespace
