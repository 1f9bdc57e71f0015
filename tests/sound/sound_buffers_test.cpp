// Sound buffers: making a handle's buffers (duplicates, fallbacks, the format gate,
// the fatal exits), silence for rings, volume, play positions, and what the device
// really plays.
#include <cmath>
#include <string>
#include <vector>

#include "sound_fixture.h"

using namespace gamelib;
using soundtest::CallsNamed;
using soundtest::Inspect;
using soundtest::Pcm;
using soundtest::SoundTest;

namespace {

std::vector<std::uint8_t> Ramp(std::size_t bytes) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return out;
}

// ---- Making buffers ----------------------------------------------------------------------

TEST_F(SoundTest, MemorySoundGetsOneBufferAndSharingDuplicates) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(4000), 4);
  SoundHandleRecord* record = Record(handle);
  ASSERT_EQ(record->bufferCount, 4);
  EXPECT_EQ(record->soundKind, SOUND_KIND_MEMORY);
  sim::SoundBufferInfo first = Inspect(record->buffers[0].buffer);
  EXPECT_EQ(first.flags, 0x80E2u);
  EXPECT_EQ(first.bytes, 4000u);
  for (int i = 1; i < 4; ++i) {
    ASSERT_EQ(record->buffers[i].valid, 1);
    EXPECT_EQ(Inspect(record->buffers[i].buffer).dataId, first.dataId);
    EXPECT_EQ(sim::SoundBufferContents(record->buffers[i].buffer), Ramp(4000));
  }
  for (int i = 4; i < kSoundBuffersPerHandle; ++i) EXPECT_EQ(record->buffers[i].valid, 0);
}

TEST_F(SoundTest, RefusedFourthBufferLeavesThreeThatStillPlay) {
  sim::FailCall("DuplicateSoundBuffer", 3);  // the third duplicate is the fourth buffer
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 10);
  ASSERT_NE(handle, -1);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(record->bufferCount, 3);
  EXPECT_EQ(CallsNamed("DuplicateSoundBuffer").size(), 3u);  // no attempt after the refusal
  EXPECT_EQ(record->buffers[3].valid, 0);
  EXPECT_EQ(GetSoundTotalSampleCount(handle), 44100);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[2], 0), 0);
  sim::AdvanceTime(100);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  EXPECT_GT(Inspect(record->buffers[2].buffer).playCursor, 0u);
}

TEST_F(SoundTest, BufferCountsOutsideOneToTenAreKeptInRange) {
  int none = MakeMemorySound(Pcm(1, 8000, 8), Ramp(100), 0);
  EXPECT_EQ(Record(none)->bufferCount, 0);
  EXPECT_EQ(CheckSoundHandlePlaying(none), 0);
  EXPECT_EQ(GetSoundPlayPosition(none), -1);
  EXPECT_EQ(SetSoundPlayPosition(0, none), -1);
  EXPECT_EQ(SetSoundHandleVolume(10, none), 0);
  int negative = MakeMemorySound(Pcm(1, 8000, 8), Ramp(100), -3);
  EXPECT_EQ(Record(negative)->bufferCount, 0);
  int many = MakeMemorySound(Pcm(1, 8000, 8), Ramp(100), 15);
  EXPECT_EQ(Record(many)->bufferCount, 10);
}

TEST_F(SoundTest, FirstBufferFallsBackToFewerControls) {
  sim::FailCreateSoundBufferFlags(0x80E2);
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(400), 2);
  ASSERT_NE(handle, -1);
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).flags, 0xC2u);
  EXPECT_EQ(Record(handle)->bufferCount, 2);
}

TEST_F(SoundTest, StreamSoundGetsASixSecondRingAndJoinsTheStreamList) {
  WAVEFORMATEX format = Pcm(2, 22050, 16);
  int handle = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&format, 12345, SOUND_KIND_STREAM, 7, handle), 0);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(record->soundKind, SOUND_KIND_STREAM);
  EXPECT_EQ(record->bufferCount, 1);
  sim::SoundBufferInfo ring = Inspect(record->buffers[0].buffer);
  EXPECT_EQ(ring.flags, 0x180E2u);
  EXPECT_EQ(ring.bytes, 22050u * 4 * 6);
  LinkedList& list = GetSoundSystemState().SoundStreamList;
  ASSERT_EQ(list.head.next, &record->streamListNode);
  EXPECT_EQ(record->streamListNode.value, handle);
  EXPECT_EQ(record->streamListNode.data, record);
  ASSERT_EQ(DeleteSoundHandle(handle), 0);
  EXPECT_EQ(list.head.next, &list.tail);
}

TEST_F(SoundTest, BuffersAreMadeOncePerSound) {
  int handle = MakeMemorySound(Pcm(1, 8000, 8), Ramp(100), 1);
  WAVEFORMATEX format = Pcm(1, 8000, 8);
  EXPECT_EQ(CreateSoundBuffers(&format, 100, SOUND_KIND_MEMORY, 1, handle), -1);
  EXPECT_EQ(CreateSoundBuffers(&format, 100, SOUND_KIND_MEMORY, 1, 0x10000000 | 77), -1);
  EXPECT_EQ(CreateSoundBuffers(&format, 100, 2, 1, AddSoundData(-1)), -1);
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
  int handle = AddSoundData(-1);
  sim::ClearSoundCalls();
  EXPECT_EQ(CreateSoundBuffers(&c.format, c.bytes, c.kind, 3, handle), -1);
  EXPECT_TRUE(CallsNamed("CreateSoundBuffer").empty());
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(record->bufferCount, 0);
  EXPECT_EQ(record->buffers[0].valid, 0);
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
        GateCase{"BlockLies", With(kCd, [](WAVEFORMATEX& f) { f.nBlockAlign = 0; }), 4000, SOUND_KIND_MEMORY}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return std::string(info.param.name); });

// ---- The fatal exits --------------------------------------------------------------------

class SoundDeathTest : public SoundTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SoundTest::SetUp();
  }
  void TearDown() override {
    unsetenv("GAMELIB_DEBUG_OUTPUT");
    SoundTest::TearDown();
  }
};

TEST_F(SoundDeathTest, FirstBufferRefusedWithBothFlagSetsEndsTheProcess) {
  sim::FailCreateSoundBufferFlags(0x80E2);
  sim::FailCreateSoundBufferFlags(0xC2);
  WAVEFORMATEX format = Pcm(2, 44100, 16);
  int handle = AddSoundData(-1);
  setenv("GAMELIB_DEBUG_OUTPUT", "1", 1);  // the log reaches stderr, where the test reads it
  EXPECT_EXIT(CreateSoundBuffers(&format, 4000, SOUND_KIND_MEMORY, 1, handle), ::testing::ExitedWithCode(255),
              "DirectSoundBuffer の作成に失敗しました\r\n(.|\n)*DirectSound の終了処理は正常に終了しました");
  unsetenv("GAMELIB_DEBUG_OUTPUT");
  // A duplicate refusal is not fatal; nor is a refusal of data the gate turns away.
  EXPECT_EQ(CreateSoundBuffers(&format, 4001, SOUND_KIND_MEMORY, 1, handle), -1);
}

TEST_F(SoundDeathTest, RingRefusedEndsTheProcess) {
  sim::FailCreateSoundBufferFlags(0x180E2);
  WAVEFORMATEX format = Pcm(1, 22050, 8);
  int handle = AddSoundData(-1);
  setenv("GAMELIB_DEBUG_OUTPUT", "1", 1);
  EXPECT_EXIT(CreateSoundBuffers(&format, 0, SOUND_KIND_STREAM, 1, handle), ::testing::ExitedWithCode(255),
              "ストリーム風サウンドバッファの作成に失敗しました\r\n");
}

// ---- Silence ------------------------------------------------------------------------------

TEST_F(SoundTest, SilenceFillsBothPartsOfAWrappedLockAndStopsAtItsEnd) {
  WAVEFORMATEX eight = Pcm(1, 8000, 8);
  int handle = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&eight, 0, SOUND_KIND_STREAM, 1, handle), 0);
  SoundHandleRecord* record = Record(handle);
  record->format = eight;
  DWORD ring = 8000 * 6;
  sim::SoundBufferInfo before = Inspect(record->buffers[0].buffer);
  ASSERT_EQ(before.bytes, ring);

  StreamFillCursor cursor{};
  void* p1 = nullptr;
  void* p2 = nullptr;
  DWORD n1 = 0;
  DWORD n2 = 0;
  ASSERT_EQ(LockSoundBufferWrapper(&record->buffers[0], ring - 100, 300, &p1, &n1, &p2, &n2), 0);
  ASSERT_EQ(n1, 100u);
  ASSERT_EQ(n2, 200u);
  cursor.lockOffset = static_cast<std::int32_t>(ring - 100);
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
  EXPECT_EQ(cursor.part1Left, 0u);
  EXPECT_EQ(cursor.part2Done, 50u);
  EXPECT_EQ(cursor.part2Left, 150u);
  WriteSilenceToBuffer(record, &cursor, 1000);  // only what is left of the range
  EXPECT_EQ(cursor.part2Done, 200u);
  EXPECT_EQ(cursor.part2Left, 0u);
  ASSERT_EQ(UnlockSoundBufferWrapper(&record->buffers[0], p1, n1, p2, n2), 0);

  std::vector<std::uint8_t> bytes = sim::SoundBufferContents(record->buffers[0].buffer);
  for (DWORD i = 0; i < 200; ++i) ASSERT_EQ(bytes[i], 127) << i;
  EXPECT_EQ(bytes[200], 0);  // untouched
  for (DWORD i = ring - 100; i < ring; ++i) ASSERT_EQ(bytes[i], 127) << i;
}

TEST_F(SoundTest, SilenceOfSixteenBitDataIsZero) {
  SoundHandleRecord record{};
  record.format = Pcm(2, 44100, 16);
  std::uint8_t bytes[16];
  std::memset(bytes, 0x55, sizeof(bytes));
  StreamFillCursor cursor{};
  cursor.part1 = bytes;
  cursor.part1Bytes = cursor.part1Left = 12;
  WriteSilenceToBuffer(&record, &cursor, 16);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(bytes[i], 0);
  EXPECT_EQ(bytes[12], 0x55);
}

// ---- Volume --------------------------------------------------------------------------------

TEST_F(SoundTest, VolumeBecomesHundredthsOfADecibelOnEveryBuffer) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(400), 3);
  SoundHandleRecord* record = Record(handle);
  struct {
    int volume;
    LONG expected;
  } cases[] = {{255, 0}, {300, 0}, {128, -299}, {1, -2406}, {0, -10000}, {-5, -10000}, {254, -1}};
  for (const auto& c : cases) {
    sim::ClearSoundCalls();
    ASSERT_EQ(SetSoundHandleVolume(c.volume, handle), 0);
    std::vector<sim::SoundCall> calls = CallsNamed("SetVolume");
    ASSERT_EQ(calls.size(), 3u) << c.volume;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(calls[i].args.at(0), c.expected) << c.volume;
      EXPECT_EQ(Inspect(record->buffers[i].buffer).volume, c.expected) << c.volume;
    }
  }
  EXPECT_EQ(SoundVolumeToHundredthsDb(INT32_MAX), 0);
  EXPECT_EQ(SoundVolumeToHundredthsDb(INT32_MIN), -10000);
}

// ---- Play position -------------------------------------------------------------------------

TEST_F(SoundTest, PositionGoesToTheFirstBufferThatIsNotPlaying) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 3);
  SoundHandleRecord* record = Record(handle);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[0], 1), 0);
  sim::ClearSoundCalls();
  ASSERT_EQ(SetSoundPlayPosition(4000, handle), 0);
  std::vector<sim::SoundCall> calls = CallsNamed("SetCurrentPosition");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].object, Inspect(record->buffers[1].buffer).id);
  EXPECT_EQ(Inspect(record->buffers[1].buffer).playCursor, 4000u);
}

TEST_F(SoundTest, PositionIsRefusedWhileEveryBufferPlays) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 3);
  SoundHandleRecord* record = Record(handle);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[i], 0), 0);
  sim::ClearSoundCalls();
  EXPECT_EQ(SetSoundPlayPosition(400, handle), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(10, handle), -1);
  EXPECT_TRUE(CallsNamed("SetCurrentPosition").empty());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Inspect(record->buffers[i].buffer).playCursor, 0u);
}

TEST_F(SoundTest, PositionIsRefusedWhenAStatusCannotBeRead) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(4000), 2);
  sim::FailCall("GetStatus", 1);
  EXPECT_EQ(SetSoundPlayPosition(400, handle), -1);
  EXPECT_TRUE(CallsNamed("SetCurrentPosition").empty());
}

TEST_F(SoundTest, MillisecondPositionIsTruncatedNotBlockAligned) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 1);
  sim::ClearSoundCalls();
  ASSERT_EQ(SetSoundPlayPositionMs(3, handle), 0);
  std::vector<sim::SoundCall> calls = CallsNamed("SetCurrentPosition");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args.at(0), 529);  // 132.3 samples x 4 bytes
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).lastSetPosition, 529u);
  ASSERT_EQ(SetSoundPlayPositionMs(999, handle), 0);
  EXPECT_EQ(Inspect(Record(handle)->buffers[0].buffer).lastSetPosition, 176223u);
}

TEST_F(SoundTest, PositionsOutsideTheSoundAreRefused) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 1);  // one second
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
}

TEST_F(SoundTest, PlayPositionIsTheFirstBuffersCursor) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(44100 * 4), 2);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(GetSoundPlayPosition(handle), 0);
  ASSERT_EQ(SetSoundPlayPosition(8000, handle), 0);
  EXPECT_EQ(GetSoundPlayPosition(handle), 8000);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[0], 0), 0);
  sim::AdvanceTime(100);
  EXPECT_EQ(GetSoundPlayPosition(handle), 8000 + 4410 * 4);
  sim::FailCall("GetCurrentPosition", 1);
  EXPECT_EQ(GetSoundPlayPosition(handle), -1);
}

TEST_F(SoundTest, RefusedPlayIsReportedByTheWrapper) {
  int handle = MakeMemorySound(Pcm(2, 44100, 16), Ramp(400), 1);
  sim::FailCall("Play", 1);
  EXPECT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), -1);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  EXPECT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), 0);
  SoundBufferWrapper empty{};
  EXPECT_EQ(PlaySoundBufferWrapper(&empty, 0), -1);
  EXPECT_EQ(StopSoundBufferWrapper(&empty), -1);
  EXPECT_EQ(ReleaseSoundBufferWrapper(&empty), -1);
  DWORD status = 0;
  EXPECT_EQ(GetSoundBufferWrapperStatus(&empty, &status), -1);
  EXPECT_EQ(SetSoundBufferWrapperVolume(&empty, 0), -1);
  EXPECT_EQ(SetSoundBufferWrapperPosition(&empty, 0), -1);
  EXPECT_EQ(CreateSoundBufferWrapper(&Record(handle)->buffers[0], nullptr), -1);  // already valid
}

// ---- What the device plays ------------------------------------------------------------------

TEST_F(SoundTest, BufferAtOutputRateAndFullVolumeIsMixedBitExactly) {
  constexpr int kFrames = 4410;  // 100 ms
  std::vector<std::uint8_t> pcm(kFrames * 4);
  std::vector<std::int16_t> samples(kFrames * 2);
  for (int i = 0; i < kFrames * 2; ++i) {
    samples[i] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(i * 0.01)) + (i % 2 == 0 ? 0 : -7));
  }
  std::memcpy(pcm.data(), samples.data(), pcm.size());
  int handle = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  ASSERT_EQ(SetSoundHandleVolume(255, handle), 0);

  std::vector<std::int16_t> discard;
  sim::AdvanceTime(10);
  sim::ReadMixedOutput(discard);  // only the silent buffer so far
  for (std::int16_t s : discard) ASSERT_EQ(s, 0);

  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[0], 0), 0);
  sim::AdvanceTime(150);
  std::vector<std::int16_t> mixed;
  std::size_t frames = sim::ReadMixedOutput(mixed);
  ASSERT_EQ(frames, 6615u);
  ASSERT_EQ(mixed.size(), frames * 2);
  for (int i = 0; i < kFrames * 2; ++i) ASSERT_EQ(mixed[i], samples[i]) << "sample " << i;
  for (std::size_t i = kFrames * 2; i < mixed.size(); ++i) ASSERT_EQ(mixed[i], 0) << "after the end, " << i;
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
}

}  // namespace
