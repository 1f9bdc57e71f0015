// Sound buffers: cursors on the virtual clock, duplicates, locks, and what the device
// refuses, so that a library fault ends in a failed call rather than in wrong sound.
#include <string>

#include "dsound_fixture.h"

namespace {

using SoundBuffers = DsoundTest;

TEST_F(SoundBuffers, CursorsMoveWithTheClockAndStopKeepsThem) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 44100 * 4);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING);
  sim::AdvanceTime(100);
  ASSERT_EQ(b->Stop(), DS_OK);
  EXPECT_EQ(Status(b), 0u);
  sim::AdvanceTime(100);
  EXPECT_EQ(Cursor(b), 4410u * 4);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(50);
  // Play while playing keeps the position and only changes looping.
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(Cursor(b), 6615u * 4);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);

  // A loop wraps to the exact frame: 600 ms of 22050 Hz is 13230 frames of 1000.
  IDirectSoundBuffer* loop = Make(Pcm(2, 22050, 8), 1000 * 2);
  ASSERT_EQ(loop->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  for (int i = 0; i < 200; ++i) sim::AdvanceTime(3);
  EXPECT_EQ(Cursor(loop), 230u * 2);

  // A set position is aligned down to a block; the call log keeps the exact argument.
  sim::ClearSoundCalls();
  ASSERT_EQ(loop->SetCurrentPosition(529), DS_OK);
  EXPECT_EQ(Cursor(loop), 528u);
  EXPECT_EQ(loop->SetCurrentPosition(2000), DSERR_INVALIDPARAM);
  EXPECT_EQ(Cursor(loop), 528u);
  EXPECT_EQ(sim::SoundCalls()[0].args, std::vector<std::int64_t>{529});
}

TEST_F(SoundBuffers, DuplicatesShareDataButNotCursorStatusOrVolume) {
  auto data = NoiseBytes(4000, 7);
  IDirectSoundBuffer* original = MakeFilled(Pcm(2, 44100, 16), data);
  ASSERT_EQ(original->SetVolume(-1200), DS_OK);
  ASSERT_EQ(original->SetCurrentPosition(400), DS_OK);
  IDirectSoundBuffer* dup = Duplicate(original);
  EXPECT_EQ(Cursor(dup), 0u);
  LONG volume = 1;
  EXPECT_EQ(dup->GetVolume(&volume), DS_OK);
  EXPECT_EQ(volume, 0);
  ASSERT_EQ(dup->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(5);  // 220 frames
  EXPECT_EQ(Status(original), 0u);
  EXPECT_EQ(Cursor(original), 400u);

  // Written through the duplicate, heard from it after the original is gone, at 0 dB.
  std::vector<std::uint8_t> fresh(4, 0x7F);
  Write(dup, 220 * 4, fresh);
  Drop(original);
  Mixed();
  auto out = MixedAfter(10);
  ASSERT_EQ(out.size(), 441u * 2);
  std::copy(fresh.begin(), fresh.end(), data.begin() + 220 * 4);
  EXPECT_EQ(std::memcmp(out.data(), data.data() + 220 * 4, 441 * 4), 0);
  EXPECT_EQ(sim::LiveObjects(), 3);  // the device, the duplicate and the data
}

// Nothing locked is playable before Unlock, and only what Unlock hands back; a failed
// unlock, or a lock still open when its buffer goes, writes nothing. Each case runs on a
// new buffer, whose lock hands out its own bytes, and on a written one, locked by copy.
TEST_F(SoundBuffers, LockedBytesArePlayableFromUnlockOnly) {
  sim::SetNewSoundBufferFill(0x80);
  const std::vector<std::uint8_t> fill(400, 0x80);
  for (bool written : {false, true}) {
    auto pair = [&] {
      IDirectSoundBuffer* b = Make(Pcm(1, 44100, 8), 400);
      if (written) Write(b, 0, fill);
      return std::pair{b, Duplicate(b)};
    };
    void *p1, *p2;
    DWORD n1, n2;
    auto [failed, failedTwin] = pair();
    ASSERT_EQ(failed->Lock(0, 400, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    std::memset(p1, 0x33, n1);
    sim::FailCall("Unlock", 1);
    EXPECT_TRUE(FAILED(failed->Unlock(p1, n1, nullptr, 0)));
    EXPECT_EQ(sim::SoundBufferContents(failedTwin), fill);
    ASSERT_EQ(failed->Lock(0, 400, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    std::memset(p1, 0x66, n1);
    ASSERT_EQ(failed->Unlock(p1, 10, nullptr, 0), DS_OK);
    EXPECT_EQ(sim::SoundBufferContents(failedTwin)[9] + sim::SoundBufferContents(failedTwin)[10],
              0x66 + 0x80);
    auto [gone, goneTwin] = pair();
    ASSERT_EQ(gone->Lock(0, 400, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    std::memset(p1, 0x55, n1);
    Drop(gone);
    EXPECT_EQ(sim::SoundBufferContents(goneTwin), fill);

    // A play started while a lock is open hears the bytes as they were at Lock.
    auto [b, twin] = pair();
    ASSERT_EQ(b->Lock(100, 200, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    std::memset(p1, 0x44, n1);
    ASSERT_EQ(twin->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (std::int16_t s : MixedAfter(10)) ASSERT_EQ(s, 0);
    ASSERT_EQ(b->Unlock(p1, 50, nullptr, 0), DS_OK);
    // A range past the end comes in two parts, the second from byte 0.
    ASSERT_EQ(b->Lock(300, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1 * 1000 + n2, 100100u);
    std::memset(p1, 0x11, n1);
    std::memset(p2, 0x22, n2);
    EXPECT_EQ(sim::SoundBufferContents(twin)[0], 0x80);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    auto expected = fill;
    std::fill_n(expected.begin(), 100, 0x22);
    std::fill_n(expected.begin() + 100, 50, 0x44);
    std::fill_n(expected.begin() + 300, 100, 0x11);
    EXPECT_EQ(sim::SoundBufferContents(twin), expected);
    ASSERT_EQ(twin->Stop(), DS_OK);
  }
}

// The device takes a buffer exactly when the gate the sound layer asks says so: at the
// edges of rate and size, and refuses a bad format apart from a bad size.
TEST_F(SoundBuffers, BuffersAreMadeByTheFormatGate) {
  WAVEFORMATEX lying = Pcm(2, 44100, 16);
  lying.nAvgBytesPerSec = 1;
  const struct {
    WAVEFORMATEX format;
    DWORD bytes;
    HRESULT result;
  } rows[] = {{Pcm(1, 100, 8), 1, DS_OK},
              {Pcm(2, 200000, 16), 800, DS_OK},
              {Pcm(1, 99, 8), 1, DSERR_BADFORMAT},
              {Pcm(2, 200001, 16), 800, DSERR_BADFORMAT},
              {lying, 400, DSERR_BADFORMAT},
              {Pcm(2, 44100, 16), 402, DSERR_INVALIDPARAM},
              {Pcm(1, 44100, 8), DSBSIZE_MAX + 1, DSERR_INVALIDPARAM}};
  for (auto row : rows) {
    HRESULT hr = 0;
    IDirectSoundBuffer* b = Make(row.format, row.bytes, kMemoryFlags, &hr);
    EXPECT_EQ(hr, row.result) << row.format.nSamplesPerSec << " Hz, " << row.bytes << " bytes";
    EXPECT_EQ(platform::ValidPcmBuffer(row.format, row.bytes), b != nullptr);
  }
}

// Calls the library must never make fail without touching anything.
TEST_F(SoundBuffers, BadCallsAreRefused) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 400);
  IDirectSoundBuffer* primary = nullptr;
  DSBUFFERDESC primaryDesc{DSBUFFERDESC_DWSIZE, DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, {}};
  ASSERT_EQ(ds->CreateSoundBuffer(&primaryDesc, &primary, nullptr), DS_OK);
  buffers.push_back(primary);
  WAVEFORMATEX f = Pcm(2, 44100, 16), bad = Pcm(6, 44100, 16), got{};
  DSBUFFERDESC desc{sizeof(DSBUFFERDESC), kMemoryFlags, 400, 0, &f, {}};  // not the stored size
  DSCAPS caps{};
  caps.dwSize = 100;
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  IDirectSoundBuffer* made = nullptr;
  EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 401, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(400, 4, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(396, 8, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);  // no room for part 2
  EXPECT_EQ(b->Unlock(&n1, 4, nullptr, 0), DSERR_INVALIDPARAM);                   // never locked
  ASSERT_EQ(b->Lock(0, 8, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  EXPECT_EQ(b->Unlock(p1, 9, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(p1, 8, nullptr, 0), DS_OK);  // still open after the refusal
  EXPECT_EQ(Make(f, 400, 0x8002)->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetVolume(-10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &made, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(ds->GetCaps(&caps), DSERR_INVALIDPARAM);
  EXPECT_EQ(primary->SetFormat(&bad), DSERR_BADFORMAT);
  EXPECT_EQ(primary->SetFormat(&f), DS_OK);
  EXPECT_EQ(primary->GetFormat(&got, 18, nullptr), DS_OK);
  EXPECT_EQ(std::memcmp(&got, &f, 18), 0);
  ASSERT_EQ(ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL), DS_OK);
  EXPECT_EQ(primary->SetFormat(&f), DSERR_PRIOLEVELNEEDED);
}

}  // namespace
