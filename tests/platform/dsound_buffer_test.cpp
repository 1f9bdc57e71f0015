// Sound buffers: locking, cursors, play and stop, duplicates, refusals and faults.
#include <algorithm>
#include <functional>
#include <string>

#include "dsound_fixture.h"
#include "platform/hooks.h"

namespace {

using SoundBuffers = DsoundTest;

TEST_F(SoundBuffers, LockGivesTwoPartsOnlyWhenTheRangeWraps) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 400);
  ASSERT_NE(b, nullptr);
  void *p1, *p2;
  DWORD n1, n2;
  ASSERT_EQ(b->Lock(300, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(n2, 100u);
  ASSERT_NE(p2, nullptr);
  std::memset(p1, 0x11, n1);
  std::memset(p2, 0x22, n2);
  // Nothing is playable before Unlock.
  EXPECT_EQ(sim::SoundBufferContents(b), std::vector<std::uint8_t>(400, 0));
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  std::vector<std::uint8_t> expected(400, 0);
  std::fill_n(expected.begin(), 100, 0x22);
  std::fill_n(expected.begin() + 300, 100, 0x11);
  EXPECT_EQ(sim::SoundBufferContents(b), expected);

  // Ending exactly at the buffer's end is one part.
  ASSERT_EQ(b->Lock(100, 300, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 300u);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(b->Unlock(p1, n1, nullptr, 0), DS_OK);

  // Refusals: empty, too long, offset past the end, a wrap without room for part 2,
  // and an unlock of something never locked.
  EXPECT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 401, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(400, 4, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(396, 8, &p1, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(p1, nullptr);
  std::uint8_t other[4];
  EXPECT_EQ(b->Unlock(other, 4, nullptr, 0), DSERR_INVALIDPARAM);
  // Unlock may hand back less than was locked, never more.
  ASSERT_EQ(b->Lock(0, 8, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(b->Unlock(p1, 9, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Unlock(p1, 4, nullptr, 0), DS_OK);
}

TEST_F(SoundBuffers, StopKeepsThePositionAndPlayResumesThere) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 44100 * 4);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING);
  sim::AdvanceTime(100);
  EXPECT_EQ(Cursor(b), 4410u * 4);
  ASSERT_EQ(b->Stop(), DS_OK);
  EXPECT_EQ(Status(b), 0u);
  sim::AdvanceTime(100);
  EXPECT_EQ(Cursor(b), 4410u * 4);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(50);
  EXPECT_EQ(Cursor(b), 6615u * 4);
  // Play while playing keeps the position and only changes looping.
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(Cursor(b), 6615u * 4);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
}

TEST_F(SoundBuffers, OneShotStopsAtItsEndWithTheCursorBackAtZero) {
  IDirectSoundBuffer* b = Make(Pcm(1, 44100, 16), 1000 * 2);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(10);  // 441 frames
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING);
  EXPECT_EQ(Cursor(b), 441u * 2);
  sim::AdvanceTime(12);  // to 970 frames
  EXPECT_EQ(Cursor(b), 970u * 2);
  sim::AdvanceTime(1);  // past 1000
  EXPECT_EQ(Status(b), 0u);
  EXPECT_EQ(Cursor(b), 0u);
}

TEST_F(SoundBuffers, LoopingWrapsAndTheCursorOnlyMovesForward) {
  IDirectSoundBuffer* b = Make(Pcm(2, 22050, 8), 1000 * 2);
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  DWORD last = 0;
  int wraps = 0;
  for (int i = 0; i < 200; ++i) {
    sim::AdvanceTime(3);
    DWORD now = Cursor(b);
    EXPECT_LT(now, 2000u);
    EXPECT_EQ(now % 2, 0u);
    if (now < last) ++wraps;
    last = now;
  }
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  // 600 ms of 22050 Hz is 13230 source frames: 13 wraps of 1000.
  EXPECT_EQ(wraps, 13);
}

TEST_F(SoundBuffers, SetCurrentPositionAlignsDownAndKeepsTheExactArgument) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 4000);
  ASSERT_EQ(b->SetCurrentPosition(529), DS_OK);
  EXPECT_EQ(Cursor(b), 528u);
  sim::SoundBufferInfo info;
  ASSERT_TRUE(sim::InspectSoundBuffer(b, &info));
  EXPECT_EQ(info.lastSetPosition, 529u);
  EXPECT_EQ(b->SetCurrentPosition(4000), DSERR_INVALIDPARAM);
  EXPECT_EQ(Cursor(b), 528u);
}

TEST_F(SoundBuffers, DuplicatesShareDataButNotCursorStatusOrVolume) {
  auto data = NoiseBytes(4000, 7);
  IDirectSoundBuffer* original = MakeFilled(Pcm(2, 44100, 16), data);
  original->SetVolume(-1200);
  original->SetCurrentPosition(400);
  IDirectSoundBuffer* dup = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(original, &dup), DS_OK);
  sim::SoundBufferInfo a;
  sim::SoundBufferInfo d;
  ASSERT_TRUE(sim::InspectSoundBuffer(original, &a));
  ASSERT_TRUE(sim::InspectSoundBuffer(dup, &d));
  EXPECT_EQ(a.dataId, d.dataId);
  EXPECT_NE(a.id, d.id);
  EXPECT_EQ(d.playCursor, 0u);
  EXPECT_EQ(d.volume, 0);
  EXPECT_EQ(d.flags, a.flags);
  EXPECT_EQ(std::memcmp(&d.format, &a.format, sizeof d.format), 0);

  // Writing through the duplicate changes the shared bytes.
  Write(dup, 0, std::vector<std::uint8_t>(4, 0x7F));
  EXPECT_EQ(sim::SoundBufferContents(original)[0], 0x7F);

  ASSERT_EQ(dup->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(5);
  EXPECT_EQ(Status(original), 0u);
  EXPECT_EQ(Cursor(original), 400u);
  EXPECT_EQ(Cursor(dup), 220u * 4);

  // The data outlives the original while the duplicate holds it.
  const int liveBefore = sim::LiveSoundObjects();
  Forget(original);
  EXPECT_EQ(original->Release(), 0u);
  EXPECT_EQ(sim::LiveSoundObjects(), liveBefore - 1);
  Mixed();
  sim::AdvanceTime(10);  // 441 more frames of the duplicate, at 0 dB
  auto out = Mixed();
  ASSERT_EQ(out.size(), 441u * 2);
  std::vector<std::uint8_t> expected(data.begin() + 220 * 4, data.begin() + 661 * 4);
  EXPECT_EQ(std::memcmp(out.data(), expected.data(), expected.size()), 0);
  EXPECT_EQ(dup->Release(), 0u);
  EXPECT_EQ(sim::LiveSoundObjects(), liveBefore - 3);  // the duplicate and the shared data
}

TEST_F(SoundBuffers, ReferenceCountsAndLiveObjects) {
  IDirectSoundBuffer* b = Make(Pcm(1, 8000, 8), 800);
  EXPECT_EQ(sim::LiveSoundObjects(), 3);  // device, buffer, its data
  IUnknown* unknown = nullptr;
  ASSERT_EQ(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  void* wrong = reinterpret_cast<void*>(1);
  EXPECT_EQ(b->QueryInterface(IID_IDirectSound, &wrong), E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);
  const int live = sim::LiveObjects();
  Forget(b);
  EXPECT_EQ(b->Release(), 0u);
  EXPECT_EQ(sim::LiveObjects(), live - 2);
  EXPECT_EQ(sim::LiveSoundObjects(), 1);
}

TEST_F(SoundBuffers, TheFormatGateRefusesWhatTheMixerCannotPlay) {
  struct Case {
    const char* what;
    WAVEFORMATEX format;
    DWORD bytes;
    bool ok;
  };
  auto with = [](WAVEFORMATEX f, auto change) {
    change(f);
    return f;
  };
  const WAVEFORMATEX s16 = Pcm(2, 44100, 16);
  const Case cases[] = {
      {"stereo 16", s16, 400, true},
      {"mono 8 at 100 Hz, one block", Pcm(1, 100, 8), 1, true},
      {"200000 Hz", Pcm(2, 200000, 16), 800, true},
      {"0 channels",
       with(s16,
            [](auto& f) {
              f.nChannels = 0;
              f.nBlockAlign = 0;
              f.nAvgBytesPerSec = 0;
            }),
       400, false},
      {"3 channels", Pcm(3, 44100, 16), 600, false},
      {"24 bits", Pcm(2, 44100, 24), 600, false},
      {"0 bits", with(s16, [](auto& f) { f.wBitsPerSample = 0; }), 400, false},
      {"99 Hz", Pcm(2, 99, 16), 400, false},
      {"200001 Hz", Pcm(2, 200001, 16), 400, false},
      {"0 Hz", Pcm(2, 0, 16), 400, false},
      {"wrong block", with(s16, [](auto& f) { f.nBlockAlign = 2; }), 400, false},
      {"wrong byte rate", with(s16, [](auto& f) { f.nAvgBytesPerSec = 1; }), 400, false},
      {"not PCM", with(s16, [](auto& f) { f.wFormatTag = 2; }), 400, false},
      {"0 bytes", s16, 0, false},
      {"part of a block", s16, 402, false},
      {"less than a block", s16, 2, false},
      {"too big", s16, DSBSIZE_MAX + 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(platform::ValidPcmBuffer(c.format, c.bytes), c.ok);
    HRESULT hr = 0;
    IDirectSoundBuffer* b = Make(c.format, c.bytes, kMemoryFlags, &hr);
    EXPECT_EQ(b != nullptr, c.ok);
    EXPECT_EQ(SUCCEEDED(hr), c.ok);
  }
  // The size fields are the stored sizes, not this build's sizeof.
  WAVEFORMATEX f = s16;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(DSBUFFERDESC);
  desc.dwBufferBytes = 400;
  desc.lpwfxFormat = &f;
  IDirectSoundBuffer* b = reinterpret_cast<IDirectSoundBuffer*>(1);
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &b, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(b, nullptr);
  desc.dwSize = DSBUFFERDESC_DWSIZE;
  desc.lpwfxFormat = nullptr;
  EXPECT_EQ(ds->CreateSoundBuffer(&desc, &b, nullptr), DSERR_INVALIDPARAM);
  DSCAPS caps{};
  caps.dwSize = 100;
  EXPECT_EQ(ds->GetCaps(&caps), DSERR_INVALIDPARAM);
}

TEST_F(SoundBuffers, VolumeNeedsTheControlAndStaysInRange) {
  EXPECT_EQ(Make(Pcm(2, 44100, 16), 400, 0x8002)->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 400);
  EXPECT_EQ(b->SetVolume(-2406), DS_OK);
  EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->SetVolume(-10001), DSERR_INVALIDPARAM);
  LONG v = 1;
  EXPECT_EQ(b->GetVolume(&v), DS_OK);
  EXPECT_EQ(v, -2406);
}

TEST_F(SoundBuffers, PrimaryBufferTakesAFormatOnlyWithPriority) {
  DSBUFFERDESC desc{};
  desc.dwSize = DSBUFFERDESC_DWSIZE;
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(ds->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
  buffers.push_back(primary);
  WAVEFORMATEX f = Pcm(2, 44100, 16);
  EXPECT_EQ(primary->SetFormat(&f), DS_OK);
  WAVEFORMATEX got{};
  DWORD written = 0;
  EXPECT_EQ(primary->GetFormat(&got, sizeof got, &written), DS_OK);
  EXPECT_EQ(written, 18u);
  EXPECT_EQ(std::memcmp(&got, &f, 18), 0);
  WAVEFORMATEX bad = Pcm(6, 44100, 16);
  EXPECT_EQ(primary->SetFormat(&bad), DSERR_BADFORMAT);
  void* p;
  DWORD n;
  EXPECT_TRUE(FAILED(primary->Lock(0, 4, &p, &n, nullptr, nullptr, 0)));
  IDirectSoundBuffer* dup = nullptr;
  EXPECT_TRUE(FAILED(ds->DuplicateSoundBuffer(primary, &dup)));
  // Needs the priority level: a normal-level device is refused.
  ASSERT_EQ(ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_NORMAL), DS_OK);
  EXPECT_EQ(primary->SetFormat(&f), DSERR_PRIOLEVELNEEDED);
}

TEST_F(SoundBuffers, AnUninitialisedDeviceRefusesEverything) {
  IDirectSound* fresh = nullptr;
  ASSERT_EQ(
      CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound, reinterpret_cast<void**>(&fresh)),
      S_OK);
  DSCAPS caps{};
  caps.dwSize = DSCAPS_DWSIZE;
  EXPECT_EQ(fresh->GetCaps(&caps), DSERR_UNINITIALIZED);
  EXPECT_EQ(fresh->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY), DSERR_UNINITIALIZED);
  WAVEFORMATEX f = Pcm(2, 44100, 16);
  DSBUFFERDESC desc{DSBUFFERDESC_DWSIZE, 0, 400, 0, &f, {}};
  IDirectSoundBuffer* b = nullptr;
  EXPECT_EQ(fresh->CreateSoundBuffer(&desc, &b, nullptr), DSERR_UNINITIALIZED);
  GUID unknown{1, 2, 3, {4}};
  EXPECT_EQ(fresh->Initialize(&unknown), DSERR_NODRIVER);
  EXPECT_EQ(fresh->Initialize(&sim::DefaultSoundDevices()[1].guid), DS_OK);
  EXPECT_EQ(fresh->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
  EXPECT_EQ(fresh->Release(), 0u);
}

TEST_F(SoundBuffers, TapsRecordWhatPlayedAcrossTheWrap) {
  sim::SetNewSoundBufferFill(0xA5);
  IDirectSoundBuffer* b = Make(Pcm(1, 44100, 8), 100);
  Write(b, 0, std::vector<std::uint8_t>(10, 127));
  ASSERT_TRUE(sim::StartSoundTap(b));
  b->Play(0, 0, DSBPLAY_LOOPING);
  sim::AdvanceTime(3);  // 132 frames: one wrap
  auto tap = sim::TakeSoundTap(b);
  ASSERT_EQ(tap.size(), 132u);
  EXPECT_EQ(tap[0], 127);
  EXPECT_EQ(tap[10], 0xA5);
  EXPECT_EQ(tap[100], 127);
  EXPECT_EQ(tap[110], 0xA5);
  EXPECT_TRUE(sim::SetPlayCursor(b, 50));
  EXPECT_EQ(Cursor(b), 50u);
  EXPECT_FALSE(sim::SetPlayCursor(b, 100));
}

TEST_F(SoundBuffers, EveryCallFailsByName) {
  IDirectSoundBuffer* b = Make(Pcm(2, 44100, 16), 400);
  IDirectSoundBuffer* primary = nullptr;
  DSBUFFERDESC pdesc{DSBUFFERDESC_DWSIZE, DSBCAPS_PRIMARYBUFFER, 0, 0, nullptr, {}};
  ASSERT_EQ(ds->CreateSoundBuffer(&pdesc, &primary, nullptr), DS_OK);
  buffers.push_back(primary);
  WAVEFORMATEX f = Pcm(2, 44100, 16);
  DSBUFFERDESC desc{DSBUFFERDESC_DWSIZE, kMemoryFlags, 400, 0, &f, {}};
  DSCAPS caps{};
  DWORD dw = 0;
  void* p1;
  DWORD n1;
  struct Op {
    const char* name;
    std::function<HRESULT()> call;
  };
  auto keep = [&](IDirectSoundBuffer* x) {
    if (x != nullptr) buffers.push_back(x);
  };  // released by TearDown
  const Op ops[] = {
      {"Initialize", [&] { return ds->Initialize(nullptr); }},  // fails either way; the count must move
      {"SetCooperativeLevel", [&] { return ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY); }},
      {"CreateSoundBuffer",
       [&] {
         IDirectSoundBuffer* x = nullptr;
         HRESULT hr = ds->CreateSoundBuffer(&desc, &x, nullptr);
         keep(x);
         return hr;
       }},
      {"DuplicateSoundBuffer",
       [&] {
         IDirectSoundBuffer* x = nullptr;
         HRESULT hr = ds->DuplicateSoundBuffer(b, &x);
         keep(x);
         return hr;
       }},
      {"GetCaps",
       [&] {
         caps.dwSize = DSCAPS_DWSIZE;
         return ds->GetCaps(&caps);
       }},
      {"Play", [&] { return b->Play(0, 0, 0); }},
      {"Stop", [&] { return b->Stop(); }},
      {"GetStatus", [&] { return b->GetStatus(&dw); }},
      {"GetCurrentPosition", [&] { return b->GetCurrentPosition(&dw, nullptr); }},
      {"SetCurrentPosition", [&] { return b->SetCurrentPosition(4); }},
      {"Lock",
       [&] {
         HRESULT hr = b->Lock(0, 4, &p1, &n1, nullptr, nullptr, 0);
         if (SUCCEEDED(hr)) b->Unlock(p1, n1, nullptr, 0);
         return hr;
       }},
      {"SetVolume", [&] { return b->SetVolume(-100); }},
      {"SetFormat", [&] { return primary->SetFormat(&f); }},
      {"DirectSoundEnumerateA",
       [&] {
         return DirectSoundEnumerateA([](GUID*, const char*, const char*, void*) { return TRUE; }, nullptr);
       }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    const int before = sim::CallCount(op.name);
    sim::FailCall(op.name, 1);
    EXPECT_TRUE(FAILED(op.call()));
    EXPECT_EQ(sim::CallCount(op.name), before + 1);
    if (std::string(op.name) != "Initialize") {
      EXPECT_TRUE(SUCCEEDED(op.call()));
    }
  }
  // Unlock: the failed unlock leaves the bytes unwritten.
  ASSERT_EQ(b->Lock(0, 4, &p1, &n1, nullptr, nullptr, 0), DS_OK);
  std::memset(p1, 0x55, 4);
  sim::FailCall("Unlock", 1);
  EXPECT_TRUE(FAILED(b->Unlock(p1, n1, nullptr, 0)));
  EXPECT_EQ(sim::SoundBufferContents(b)[0], 0);
}

TEST_F(SoundBuffers, CreateSoundBufferFailsForChosenFlagsUntilReset) {
  sim::FailCreateSoundBufferFlags(0x80E2);
  HRESULT hr = 0;
  EXPECT_EQ(Make(Pcm(2, 44100, 16), 400, 0x80E2, &hr), nullptr);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(Make(Pcm(2, 44100, 16), 400, 0xC2), nullptr);
  sim::Reset();
  sim::UseVirtualClock(true);
  EXPECT_NE(Make(Pcm(2, 44100, 16), 400, 0x80E2), nullptr);
}

TEST_F(SoundBuffers, EnumerationThroughTheModuleTable) {
  using Seen = std::vector<std::string>;
  auto enumerate = [](Seen* seen) -> HRESULT {
    HMODULE dll = LoadLibraryA("DSOUND.DLL");
    if (dll == nullptr) return -1;
    auto fn = reinterpret_cast<LPDIRECTSOUNDENUMERATEA>(GetProcAddress(dll, "DirectSoundEnumerateA"));
    HRESULT hr =
        fn == nullptr
            ? -2
            : fn(
                  [](GUID* guid, const char* description, const char* module, void* context) -> BOOL {
                    static_cast<Seen*>(context)->push_back(std::string(guid == nullptr ? "-" : "+") +
                                                           description + "|" + module);
                    return static_cast<Seen*>(context)->size() < 3;  // FALSE ends the enumeration
                  },
                  seen);
    FreeLibrary(dll);
    return hr;
  };
  Seen seen;
  ASSERT_EQ(enumerate(&seen), DS_OK);
  EXPECT_EQ(seen, (Seen{"-Primary Sound Driver|", "+Software Mixer|softmix"}));
  sim::SetSoundDevices({{false, {}, "A", "a.drv"},
                        {true, {}, "B", "b.drv"},
                        {true, {}, "C", "c.drv"},
                        {true, {}, "D", "d.drv"}});
  seen.clear();
  ASSERT_EQ(enumerate(&seen), DS_OK);
  EXPECT_EQ(seen, (Seen{"-A|a.drv", "+B|b.drv", "+C|c.drv"}));
  sim::SetSoundDllPresent(true, false);
  EXPECT_EQ(enumerate(&seen), -2);
  sim::SetSoundDllPresent(false);
  EXPECT_EQ(enumerate(&seen), -1);
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
}

TEST_F(SoundBuffers, ManyBuffersAndDuplicates) {
  // 4096 sounds of 10 buffers each: the device sets no limit.
  std::vector<IDirectSoundBuffer*> all;
  for (int i = 0; i < 4096; ++i) {
    IDirectSoundBuffer* first = MakeFilled(Pcm(2, 44100, 16), NoiseBytes(8, 3));
    for (int k = 1; k < 10; ++k) {
      ASSERT_EQ(ds->DuplicateSoundBuffer(first, &all.emplace_back()), DS_OK);
    }
  }
  EXPECT_EQ(sim::LiveSoundObjects(), 1 + 4096 * 10 + 4096);
  for (auto* b : all) b->Release();
}

}  // namespace
