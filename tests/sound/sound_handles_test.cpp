// The sound table: capacity, slot choice, check numbers, deletion (also of shared
// stream rings), the playing test and the length query.
#include <string>
#include <vector>

#include "sound_fixture.h"

using namespace gamelib;
using soundtest::Inspect;
using soundtest::Pcm;
using soundtest::SoundTest;

namespace {

const char kTableFull[] = "サウンドの数が許容量を越えました\n";

TEST_F(SoundTest, FullTableOf4096SoundsWithTenBuffersEach) {
  std::vector<std::uint8_t> pcm(16, 0);
  WAVEFORMATEX format = Pcm(2, 44100, 16);
  std::vector<int> handles;
  for (int i = 0; i < kMaxSoundHandles; ++i) {
    int handle = MakeMemorySound(format, pcm, 10);
    ASSERT_NE(handle, -1) << "sound " << i;
    handles.push_back(handle);
  }
  EXPECT_EQ(Record(handles.back())->bufferCount, 10);
  EXPECT_EQ(GetSoundTable().count, kMaxSoundHandles);
  TakeLog();

  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_EQ(TakeLog(), kTableFull);

  // Every one of them still answers, and works on its own buffers.
  int last = handles.back();
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(last)->buffers[9], 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(last), 1);
  EXPECT_EQ(CheckSoundHandlePlaying(handles.front()), 0);
  EXPECT_EQ(GetSoundTotalSampleCount(handles[1234]), 4);

  // Freeing any one lets the next one in, in that slot.
  ASSERT_EQ(DeleteSoundHandle(handles[777]), 0);
  int again = MakeMemorySound(format, pcm, 10);
  ASSERT_NE(again, -1);
  EXPECT_EQ(HandleSlot(again), 777);
  EXPECT_NE(again, handles[777]);
  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_EQ(TakeLog(), kTableFull);
  // The library's shutdown deletes all of them (checked by the fixture).
}

TEST_F(SoundTest, HighWaterIndexFollowsTheHighestOccupiedSlot) {
  int h0 = AddSoundData(-1);
  int h1 = AddSoundData(-1);
  int h2 = AddSoundData(-1);
  ASSERT_EQ(HandleSlot(h0), 0);
  ASSERT_EQ(HandleSlot(h1), 1);
  ASSERT_EQ(HandleSlot(h2), 2);
  EXPECT_EQ(GetSoundTable().highWater, 3);
  ASSERT_EQ(DeleteSoundHandle(h1), 0);
  EXPECT_EQ(GetSoundTable().highWater, 3);
  ASSERT_EQ(DeleteSoundHandle(h2), 0);
  EXPECT_EQ(GetSoundTable().highWater, 1);
  int next = AddSoundData(-1);
  EXPECT_EQ(HandleSlot(next), 1);
  ASSERT_EQ(DeleteSoundHandle(next), 0);
  ASSERT_EQ(DeleteSoundHandle(h0), 0);
  EXPECT_EQ(GetSoundTable().highWater, 0);
  EXPECT_EQ(GetSoundTable().count, 0);
}

TEST_F(SoundTest, HandleValuesCarryTypeCheckNumberAndSlot) {
  int first = AddSoundData(-1);
  int second = AddSoundData(-1);
  EXPECT_EQ(first & 0x78000000, 0x10000000);
  EXPECT_GE(first, 0);
  EXPECT_EQ(HandleCheck(second), (HandleCheck(first) + 1) % 2048);
  EXPECT_EQ(Record(first)->checkNumber, HandleCheck(first));
}

TEST_F(SoundTest, RecreatedHandleKeepsItsValueAndItsSlot) {
  std::vector<std::uint8_t> pcm(400, 3);
  int h0 = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  int h1 = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  ASSERT_EQ(DeleteSoundHandle(h0), 0);
  EXPECT_EQ(AddSoundData(h0), h0);
  EXPECT_EQ(GetSoundTotalSampleCount(h0), 0);  // an empty record: no format, no samples
  EXPECT_EQ(CheckSoundHandlePlaying(h0), 0);
  EXPECT_EQ(GetSoundPlayPosition(h0), -1);    // no buffer to ask
  int h2 = AddSoundData(-1);
  EXPECT_NE(HandleSlot(h2), HandleSlot(h0));
  EXPECT_NE(HandleSlot(h2), HandleSlot(h1));
}

TEST_F(SoundTest, AddSoundDataRefusesHandlesItCannotHonour) {
  int taken = AddSoundData(-1);
  TakeLog();
  EXPECT_EQ(AddSoundData(taken), -1);                     // slot occupied
  EXPECT_EQ(AddSoundData(0x10000000 | 0xFFFF), -1);       // slot past the table
  EXPECT_EQ(AddSoundData(0x10000000 | 4096), -1);
  EXPECT_EQ(AddSoundData(0x08000000 | 5), -1);            // another type
  EXPECT_EQ(AddSoundData(-2), -1);
  EXPECT_EQ(AddSoundData(static_cast<int>(0x90000005u)), -1);  // bit 31
  EXPECT_EQ(GetSoundTable().count, 1);
  EXPECT_EQ(TakeLog(), "");
}

TEST_F(SoundTest, FailedRecordAllocationIsLoggedAndLeavesTheSlotEmpty) {
  TakeLog();
  sim::FailCall("AllocMemory", 1);
  EXPECT_EQ(AddSoundData(-1), -1);
  std::string log = TakeLog();
  EXPECT_NE(log.find("メモリ領域の確保に失敗しました in AddSoundData"), std::string::npos) << log;
  EXPECT_EQ(GetSoundTable().count, 0);
  EXPECT_EQ(GetSoundTable().highWater, 0);
  EXPECT_EQ(HandleSlot(AddSoundData(-1)), 0);
}

TEST_F(SoundTest, StaleHandleIsRefusedByEveryOperation) {
  std::vector<std::uint8_t> pcm(4000, 9);
  int old = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
  ASSERT_EQ(DeleteSoundHandle(old), 0);
  int reused = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
  ASSERT_EQ(HandleSlot(reused), HandleSlot(old));
  sim::ClearSoundCalls();
  EXPECT_EQ(DeleteSoundHandle(old), -1);
  EXPECT_EQ(CheckSoundHandlePlaying(old), -1);
  EXPECT_EQ(GetSoundTotalSampleCount(old), -1);
  EXPECT_EQ(SetSoundHandleVolume(100, old), -1);
  EXPECT_EQ(SetSoundPlayPosition(4, old), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(1, old), -1);
  EXPECT_EQ(GetSoundPlayPosition(old), -1);
  EXPECT_EQ(AddSoundData(old), -1);
  EXPECT_TRUE(sim::SoundCalls().empty());
  EXPECT_EQ(GetSoundTotalSampleCount(reused), 1000);
}

TEST_F(SoundTest, CheckNumbersWrapAfter2047) {
  int first = AddSoundData(-1);
  ASSERT_EQ(DeleteSoundHandle(first), 0);
  int handle = -1;
  for (int i = 1; i < 2048; ++i) {
    handle = AddSoundData(-1);
    ASSERT_EQ(DeleteSoundHandle(handle), 0);
  }
  EXPECT_EQ(HandleCheck(handle), (HandleCheck(first) + 2047) % 2048);
  // The 2049th record of slot 0 comes round to the first one's check number.
  EXPECT_EQ(AddSoundData(-1), first);
}

TEST_F(SoundTest, CreateTypeTakesZeroToThreeOnly) {
  EXPECT_EQ(GetSoundSystemState().createType, 0);
  EXPECT_EQ(SetCreateSoundDataType(2), 0);
  EXPECT_EQ(SetCreateSoundDataType(4), -1);
  EXPECT_EQ(GetSoundSystemState().createType, 2);
  EXPECT_EQ(SetCreateSoundDataType(-1), -1);
  EXPECT_EQ(GetSoundSystemState().createType, 2);
  EXPECT_EQ(SetCreateSoundDataType(3), 0);
  EXPECT_EQ(SetCreateSoundDataType(0), 0);
  EXPECT_EQ(GetSoundSystemState().createType, 0);
}

TEST_F(SoundTest, PlayingTestAsksEveryBufferAndTreatsAFailedQueryAsStopped) {
  std::vector<std::uint8_t> pcm(44100 * 4, 1);  // one second
  int handle = MakeMemorySound(Pcm(2, 44100, 16), pcm, 3);
  SoundHandleRecord* record = Record(handle);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  ASSERT_EQ(PlaySoundBufferWrapper(&record->buffers[2], 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  sim::FailCall("GetStatus", 3);  // the playing buffer's answer is lost
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  sim::AdvanceTime(1001);  // a one-shot buffer stops at its end
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
}

TEST_F(SoundTest, TotalSampleCountIsBytesOverBlockSize) {
  std::vector<std::uint8_t> pcm(1000, 0);
  EXPECT_EQ(GetSoundTotalSampleCount(MakeMemorySound(Pcm(2, 44100, 16), pcm, 1)), 250);
  EXPECT_EQ(GetSoundTotalSampleCount(MakeMemorySound(Pcm(1, 44100, 16), pcm, 1)), 500);
  EXPECT_EQ(GetSoundTotalSampleCount(MakeMemorySound(Pcm(1, 8000, 8), pcm, 1)), 1000);
}

TEST_F(SoundTest, DeletingAMemorySoundReleasesItsBuffersAndData) {
  int base = sim::LiveSoundObjects();
  auto blocks = GetMemoryUsage().blocks;
  std::vector<std::uint8_t> pcm(4000, 5);
  int handle = MakeMemorySound(Pcm(2, 44100, 16), pcm, 4);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[1], 1), 0);
  EXPECT_GT(sim::LiveSoundObjects(), base);
  ASSERT_EQ(DeleteSoundHandle(handle, 0), 0);
  EXPECT_EQ(sim::LiveSoundObjects(), base);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);
  EXPECT_EQ(DeleteSoundHandle(handle), -1);
}

// Two stream sounds on one ring: the owner's record stays until its last sharer goes.
TEST_F(SoundTest, SharedRingOutlivesItsDeletedOwnerUntilTheSharerGoes) {
  int base = sim::LiveSoundObjects();
  WAVEFORMATEX format = Pcm(2, 22050, 16);
  int owner = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&format, 0, SOUND_KIND_STREAM, 1, owner), 0);
  SoundHandleRecord* ring = Record(owner);
  ring->format = format;
  ring->linkedHandle = -1;
  ring->bufferOwner = -1;
  int sharer = AddSoundData(-1);
  SoundHandleRecord* other = Record(sharer);
  other->soundKind = SOUND_KIND_STREAM;
  other->format = format;
  other->linkedHandle = owner;
  other->bufferOwner = -1;
  other->bufferCount = 1;
  AddLinkedListNode(&GetSoundSystemState().SoundStreamList, &other->streamListNode, sharer, other);
  ring->shareCount = 1;
  int ringObjects = sim::LiveSoundObjects();
  EXPECT_GT(ringObjects, base);

  ASSERT_EQ(DeleteSoundHandle(owner), 0);
  ASSERT_EQ(Record(owner), ring);  // kept, flagged
  EXPECT_EQ(ring->deletePending, 1);
  EXPECT_EQ(sim::LiveSoundObjects(), ringObjects);

  ASSERT_EQ(DeleteSoundHandle(sharer), 0);
  EXPECT_EQ(Record(sharer), nullptr);
  EXPECT_EQ(Record(owner), nullptr);
  EXPECT_EQ(GetSoundTable().count, 0);
  EXPECT_EQ(sim::LiveSoundObjects(), base);
  LinkedList& list = GetSoundSystemState().SoundStreamList;
  EXPECT_EQ(list.head.next, &list.tail);
}

TEST_F(SoundTest, DeleteAllFreesSharedRingsInEitherOrder) {
  WAVEFORMATEX format = Pcm(1, 11025, 8);
  // The sharer sits in a lower slot than the ring's owner.
  int sharer = AddSoundData(-1);
  int owner = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&format, 0, SOUND_KIND_STREAM, 1, owner), 0);
  Record(owner)->linkedHandle = -1;
  Record(owner)->shareCount = 1;
  Record(sharer)->soundKind = SOUND_KIND_STREAM;
  Record(sharer)->linkedHandle = owner;
  ASSERT_EQ(DeleteSoundHandle(owner), 0);  // pending
  ASSERT_EQ(DeleteAllSoundHandles(), 0);
  EXPECT_EQ(GetSoundTable().count, 0);
}

}  // namespace
