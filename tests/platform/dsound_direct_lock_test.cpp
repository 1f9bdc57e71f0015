// A lock of a new buffer that nothing plays hands out the buffer's own bytes: it must
// still behave as a staging copy would (nothing playable before Unlock, a failed or
// dropped lock writes nothing, a play meanwhile hears the old bytes).
#include "dsound_fixture.h"
#include "platform/hooks.h"

namespace {

using DirectLocks = DsoundTest;

std::vector<std::uint8_t> Constant16(std::size_t frames, std::int16_t value) {
  std::vector<std::uint8_t> bytes(frames * 4);
  for (std::size_t i = 0; i < frames * 2; ++i) std::memcpy(bytes.data() + 2 * i, &value, 2);
  return bytes;
}

std::vector<std::int16_t> MixedFor(unsigned ms) {
  sim::AdvanceTime(ms);
  std::vector<std::int16_t> frames;
  sim::ReadMixedOutput(frames);
  return frames;
}

TEST_F(DirectLocks, WholeLockOfANewBufferIsPlayableOnlyFromUnlock) {
  constexpr DWORD kBytes = 44100 * 4;  // one second
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), kBytes);
  ASSERT_NE(b, nullptr);
  void* p1 = nullptr;
  DWORD n1 = 0;
  ASSERT_EQ(b->Lock(0, kBytes, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  ASSERT_EQ(n1, kBytes);
  const auto data = Constant16(44100, 1000);
  std::memcpy(p1, data.data(), kBytes);
  EXPECT_EQ(sim::SoundBufferContents(b), std::vector<std::uint8_t>(kBytes, 0));

  // Played while still locked: the voice hears the bytes as they were at Lock.
  MixedFor(0);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  for (std::int16_t s : MixedFor(10)) ASSERT_EQ(s, 0);
  // The caller goes on writing into what it was given; Unlock makes it playable.
  std::memcpy(p1, data.data(), kBytes);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  EXPECT_EQ(sim::SoundBufferContents(b), data);
  auto after = MixedFor(10);
  ASSERT_FALSE(after.empty());
  for (std::int16_t s : after) ASSERT_EQ(s, 1000);
  b->Stop();

  // Written once, later locks go through a staging copy: still nothing before Unlock.
  ASSERT_EQ(b->Lock(0, 8, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  std::memset(p1, 0x55, n1);
  EXPECT_EQ(sim::SoundBufferContents(b), data);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  EXPECT_EQ(sim::SoundBufferContents(b)[0], 0x55);
}

TEST_F(DirectLocks, FailedShortAndDroppedLocksWriteNothingButWhatWasUnlocked) {
  sim::SetNewSoundBufferFill(0x80);
  IDirectSoundBuffer* b = Make(Pcm(1, 22050, 8), 400);
  ASSERT_NE(b, nullptr);
  const std::vector<std::uint8_t> fill(400, 0x80);
  void* p1 = nullptr;
  DWORD n1 = 0;

  // A failed unlock drops the lock: the fill is back, and the data is still new.
  ASSERT_EQ(b->Lock(0, 400, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  std::memset(p1, 0x11, n1);
  sim::FailCall("Unlock", 1);
  EXPECT_TRUE(FAILED(b->Unlock(p1, n1, nullptr, 0)));
  EXPECT_EQ(sim::SoundBufferContents(b), fill);
  sim::SoundBufferInfo info;
  ASSERT_TRUE(sim::InspectSoundBuffer(b, &info));
  EXPECT_EQ(info.openLocks, 0);

  // An unlock of fewer bytes than were locked makes only those playable.
  ASSERT_EQ(b->Lock(100, 200, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  std::memset(p1, 0x22, n1);
  EXPECT_EQ(b->Unlock(p1, 50, nullptr, 0), DS_OK);
  auto bytes = sim::SoundBufferContents(b);
  EXPECT_EQ(bytes[99], 0x80);
  EXPECT_EQ(bytes[100], 0x22);
  EXPECT_EQ(bytes[149], 0x22);
  EXPECT_EQ(bytes[150], 0x80);
  EXPECT_EQ(bytes[399], 0x80);

  // A buffer released with a lock open on fresh shared data: its duplicate keeps the fill.
  sim::SetNewSoundBufferFill(0x80);
  IDirectSoundBuffer* fresh = Make(Pcm(1, 22050, 8), 400);
  ASSERT_NE(fresh, nullptr);
  IDirectSoundBuffer* twin = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(fresh, &twin), DS_OK);
  ASSERT_EQ(fresh->Lock(0, 400, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  std::memset(p1, 0x33, n1);
  buffers.erase(std::find(buffers.begin(), buffers.end(), fresh));
  fresh->Release();
  EXPECT_EQ(sim::SoundBufferContents(twin), fill);
  twin->Release();
}

TEST_F(DirectLocks, APlayingDuplicateMakesTheLockAStagingCopy) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 44100 * 4);
  ASSERT_NE(b, nullptr);
  IDirectSoundBuffer* twin = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(b, &twin), DS_OK);
  buffers.push_back(twin);
  ASSERT_EQ(twin->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  MixedFor(0);
  void* p1 = nullptr;
  DWORD n1 = 0;
  ASSERT_EQ(b->Lock(0, 44100 * 4, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  const auto data = Constant16(44100, -700);
  std::memcpy(p1, data.data(), n1);
  for (std::int16_t s : MixedFor(10)) ASSERT_EQ(s, 0);
  ASSERT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);
  auto after = MixedFor(10);
  ASSERT_FALSE(after.empty());
  for (std::int16_t s : after) ASSERT_EQ(s, -700);
}

}  // namespace
