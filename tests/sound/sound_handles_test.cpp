// The sound table: capacity, slot choice, check numbers, handles that name no sound,
// deletion (also of shared stream rings) and the playing test.
#include "gamelib/sound_load.h"
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const char kTableFull[] = "サウンドの数が許容量を越えました\n";

TEST_F(SoundTest, FullTableOf4096SoundsWithTenBuffersEach) {
  const Bytes pcm(16, 0);
  const WAVEFORMATEX format = Pcm(2, 44100, 16);
  std::vector<int> handles;
  for (int i = 0; i < kMaxSoundHandles; ++i) {
    handles.push_back(MakeMemorySound(format, pcm, 10));
    ASSERT_NE(handles.back(), -1) << "sound " << i;
  }
  EXPECT_EQ(Record(handles.back())->bufferCount, 10);
  TakeLog();
  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_EQ(TakeLog(), kTableFull);
  // Every one of them still answers, and works on its own buffers.
  const int last = handles.back();
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(last)->buffers[9], 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(last), 1);
  EXPECT_EQ(CheckSoundHandlePlaying(handles.front()), 0);
  EXPECT_EQ(GetSoundTotalSampleCount(handles[1234]), 4);
  // Freeing any one lets the next one in, in that slot.
  ASSERT_EQ(DeleteSoundHandle(handles[777]), 0);
  const int again = MakeMemorySound(format, pcm, 10);
  EXPECT_EQ(HandleSlot(again), 777);
  EXPECT_NE(again, handles[777]);
  EXPECT_EQ(AddSoundData(-1), -1);
  EXPECT_EQ(TakeLog(), kTableFull);
  // The library's shutdown deletes all of them (checked by the fixture).
}

TEST_F(SoundTest, HighWaterIndexFollowsTheHighestOccupiedSlot) {
  const int h0 = AddSoundData(-1), h1 = AddSoundData(-1), h2 = AddSoundData(-1);
  ASSERT_EQ(HandleSlot(h2), 2);
  EXPECT_EQ(GetSoundTable().highWater, 3);
  ASSERT_EQ(DeleteSoundHandle(h1), 0);
  EXPECT_EQ(GetSoundTable().highWater, 3);
  ASSERT_EQ(DeleteSoundHandle(h2), 0);
  EXPECT_EQ(GetSoundTable().highWater, 1);
  const int next = AddSoundData(-1);
  EXPECT_EQ(HandleSlot(next), 1);
  ASSERT_EQ(DeleteSoundHandle(next), 0);
  ASSERT_EQ(DeleteSoundHandle(h0), 0);
  EXPECT_EQ(GetSoundTable().highWater, 0);
}

TEST_F(SoundTest, CheckNumbersCountUpAndWrapAfter2047) {
  const int first = AddSoundData(-1);
  EXPECT_EQ(first & 0x78000000, 0x10000000);
  EXPECT_EQ(Record(first)->checkNumber, HandleCheck(first));
  ASSERT_EQ(DeleteSoundHandle(first), 0);
  int handle = -1;
  for (int i = 1; i < 2048; ++i) {
    handle = AddSoundData(-1);
    ASSERT_EQ(HandleCheck(handle), (HandleCheck(first) + i) % 2048);
    ASSERT_EQ(DeleteSoundHandle(handle), 0);
  }
  // The 2049th record of slot 0 comes round to the first one's check number.
  EXPECT_EQ(AddSoundData(-1), first);
}

TEST_F(SoundTest, RecreatedHandleKeepsItsValueAndItsSlot) {
  const Bytes pcm(400, 3);
  const int h0 = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  const int h1 = MakeMemorySound(Pcm(2, 44100, 16), pcm, 1);
  ASSERT_EQ(DeleteSoundHandle(h0), 0);
  EXPECT_EQ(AddSoundData(h0), h0);
  EXPECT_EQ(GetSoundTotalSampleCount(h0), 0);  // an empty record: no format, no samples
  EXPECT_EQ(CheckSoundHandlePlaying(h0), 0);
  EXPECT_EQ(GetSoundPlayPosition(h0), -1);  // no buffer to ask
  const int h2 = AddSoundData(-1);
  EXPECT_NE(HandleSlot(h2), HandleSlot(h0));
  EXPECT_NE(HandleSlot(h2), HandleSlot(h1));
}

TEST_F(SoundTest, HandlesThatNameNoSoundAreRefusedByEveryOperation) {
  const Bytes pcm(4000, 9);
  const int old = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
  ASSERT_EQ(DeleteSoundHandle(old), 0);
  const int reused = MakeMemorySound(Pcm(2, 44100, 16), pcm, 2);
  ASSERT_EQ(HandleSlot(reused), HandleSlot(old));
  const struct {
    const char* what;
    int handle;
    bool refusedToAdd;  // AddSoundData(handle) too
  } cases[] = {{"stale", old, true},
               {"-1", -1, false},
               {"0", 0, false},
               {"empty slot", 0x10000000 | 4095, false},
               {"slot 4096", 0x10000000 | 4096, true},
               {"slot 0xFFFF", 0x10000000 | 0xFFFF, true},
               {"other type", 0x08000000 | 5, true},
               {"-2", -2, true},
               {"bit 31", static_cast<int>(0x90000005u), true}};
  TakeLog();
  sim::ClearSoundCalls();
  for (const auto& c : cases) {
    const int h = c.handle;
    EXPECT_EQ(DeleteSoundHandle(h), -1) << c.what;
    EXPECT_EQ(CheckSoundHandlePlaying(h), -1) << c.what;
    EXPECT_EQ(GetSoundTotalSampleCount(h), -1) << c.what;
    EXPECT_EQ(SetSoundHandleVolume(100, h), -1) << c.what;
    EXPECT_EQ(SetSoundPlayPosition(4, h), -1) << c.what;
    EXPECT_EQ(SetSoundPlayPositionMs(1, h), -1) << c.what;
    EXPECT_EQ(GetSoundPlayPosition(h), -1) << c.what;
    EXPECT_EQ(PlaySoundHandle(h, SOUND_PLAY_WAIT, 1), -1) << c.what;
    EXPECT_EQ(StopSoundHandle(h), -1) << c.what;
    EXPECT_EQ(SetSoundLoopPoint(0, h), -1) << c.what;
    if (c.refusedToAdd) {
      EXPECT_EQ(AddSoundData(h), -1) << c.what;
    }
  }
  EXPECT_TRUE(sim::SoundCalls().empty());
  EXPECT_EQ(GetSoundTable().count, 1);
  EXPECT_EQ(GetSoundTotalSampleCount(reused), 1000);
  EXPECT_EQ(TakeLog(), "");
  // The create type is 0 to 3.
  EXPECT_EQ(SetCreateSoundDataType(4), -1);
  EXPECT_EQ(SetCreateSoundDataType(-1), -1);
  EXPECT_EQ(GetSoundSystemState().createType, 0);
}

TEST_F(SoundTest, FailedRecordAllocationIsLoggedAndLeavesTheSlotEmpty) {
  TakeLog();
  sim::FailCall("AllocMemory", 1);
  EXPECT_EQ(AddSoundData(-1), -1);
  const std::string log = TakeLog();
  EXPECT_NE(log.find("メモリ領域の確保に失敗しました in AddSoundData"), std::string::npos) << log;
  EXPECT_EQ(GetSoundTable().count, 0);
  EXPECT_EQ(GetSoundTable().highWater, 0);
  EXPECT_EQ(HandleSlot(AddSoundData(-1)), 0);
}

TEST_F(SoundTest, PlayingTestAsksEveryBufferAndTreatsAFailedQueryAsStopped) {
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Bytes(44100 * 4, 1), 3);  // one second
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[2], 0), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  sim::FailCall("GetStatus", 3);  // the playing buffer's answer is lost
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 1);
  sim::AdvanceTime(1001);  // a one-shot buffer stops at its end
  EXPECT_EQ(CheckSoundHandlePlaying(handle), 0);
}

TEST_F(SoundTest, DeletingAMemorySoundReleasesItsBuffersAndData) {
  const int base = sim::LiveSoundObjects();
  const auto blocks = GetMemoryUsage().blocks;
  const int handle = MakeMemorySound(Pcm(2, 44100, 16), Bytes(4000, 5), 4);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(handle)->buffers[1], 1), 0);
  ASSERT_EQ(DeleteSoundHandle(handle, 0), 0);
  EXPECT_EQ(sim::LiveSoundObjects(), base);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);
  EXPECT_EQ(DeleteSoundHandle(handle), -1);
}

// Two stream sounds on one ring: the owner's record stays until its last sharer goes.
TEST_F(SoundTest, SharedRingOutlivesItsDeletedOwnerUntilTheSharerGoes) {
  const int base = sim::LiveSoundObjects();
  const WAVEFORMATEX format = Pcm(2, 22050, 16);
  const int owner = AddSoundData(-1);
  ASSERT_EQ(CreateSoundBuffers(&format, 0, SOUND_KIND_STREAM, 1, owner), 0);
  SoundHandleRecord* ring = Record(owner);
  ring->format = format;
  ring->linkedHandle = ring->bufferOwner = -1;
  const int sharer = AddSoundData(-1);
  SoundHandleRecord* other = Record(sharer);
  other->soundKind = SOUND_KIND_STREAM;
  other->format = format;
  other->linkedHandle = owner;
  other->bufferOwner = -1;
  other->bufferCount = 1;
  AddLinkedListNode(&GetSoundSystemState().SoundStreamList, &other->streamListNode, sharer, other);
  ring->shareCount = 1;
  const int ringObjects = sim::LiveSoundObjects();
  EXPECT_GT(ringObjects, base);

  ASSERT_EQ(DeleteSoundHandle(owner), 0);
  ASSERT_EQ(Record(owner), ring);  // kept, flagged
  EXPECT_EQ(ring->deletePending, 1);
  EXPECT_EQ(sim::LiveSoundObjects(), ringObjects);
  ASSERT_EQ(DeleteSoundHandle(sharer), 0);
  EXPECT_EQ(Record(owner), nullptr);
  EXPECT_EQ(GetSoundTable().count, 0);
  EXPECT_EQ(sim::LiveSoundObjects(), base);
  const LinkedList& list = GetSoundSystemState().SoundStreamList;
  EXPECT_EQ(list.head.next, &list.tail);
}

TEST_F(SoundTest, DeleteAllFreesSharedRingsInEitherOrder) {
  const WAVEFORMATEX format = Pcm(1, 11025, 8);
  // The sharer sits in a lower slot than the ring's owner.
  const int sharer = AddSoundData(-1);
  const int owner = AddSoundData(-1);
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
