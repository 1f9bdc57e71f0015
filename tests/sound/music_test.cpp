// Music handles (made by the test entries, since nothing public makes one), the MCI end
// notification through the window procedure and the pump, stopping and deleting, and the
// capture file that shutdown closes.
#include <tuple>

#include "sound/music_test_entries.h"
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const std::uint8_t kMidi[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x60};

// A music handle whose MIDI plays on a device of the given length; MCI calls are recorded
// from here on.
int PlayingMusic(DWORD lengthMs, int loop, MCIDEVICEID* device) {
  sim::SetMciPlayLength(lengthMs);
  MCI_OPEN_PARMSA open{};
  open.lpstrDeviceType = "sequencer";
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)), 0u);
  *device = open.wDeviceID;
  const int handle = AddMusicHandleForTest(kMidi, sizeof(kMidi));
  EXPECT_EQ(PlayMusicHandleForTest(handle, *device, loop), 0);
  sim::ClearMciCalls();
  return handle;
}
void Pump(int passes) {
  for (int i = 0; i < passes; ++i) ASSERT_EQ(PumpWindowMessages(), 0);
}
// The messages and flags of the MCI calls since the last clear.
std::vector<std::pair<UINT, DWORD_PTR>> Commands() {
  std::vector<std::pair<UINT, DWORD_PTR>> out;
  for (const sim::MciCall& call : sim::MciCalls()) out.push_back({call.message, call.flags});
  return out;
}
const std::pair<UINT, DWORD_PTR> kClose{MCI_CLOSE, 0}, kReplay{MCI_PLAY, MCI_NOTIFY | MCI_FROM};

TEST_F(SoundTest, MusicHandlesAreOfTheirOwnTypeAndTheTableHolds256) {
  const int handle = AddMusicHandleForTest(kMidi, sizeof(kMidi));
  EXPECT_EQ(handle & 0x78000000, 0x58000000);
  EXPECT_EQ(GetMusicPlayState(handle), 0);
  for (int bad : {(handle & ~0x78000000) | 0x10000000, handle ^ 0x00010000, (handle & ~0xFFFF) | 256, -1, 0,
                  handle | static_cast<int>(0x80000000u)})
    EXPECT_EQ(std::vector<int>({GetMusicPlayState(bad), StopMusicHandle(bad), DeleteMusicHandle(bad)}),
              std::vector<int>(3, -1))
        << bad;
  // A deleted handle stays dead when its slot is taken again.
  EXPECT_EQ(DeleteMusicHandle(handle), 0);
  std::vector<int> handles;
  for (int i = 0; i < 256; ++i) handles.push_back(AddMusicHandleForTest(kMidi, 3));
  EXPECT_EQ(handles[0] & 0xFFFF, handle & 0xFFFF);
  EXPECT_EQ(std::vector<int>({GetMusicPlayState(handle), DeleteMusicHandle(handle)}),
            std::vector<int>(2, -1));
  EXPECT_EQ(handles.back() & 0xFFFF, 255);
  EXPECT_EQ(AddMusicHandleForTest(kMidi, 3), -1);
  EXPECT_EQ(DeleteMusicHandle(handles[7]), 0);
  EXPECT_EQ(AddMusicHandleForTest(kMidi, 3) & 0xFFFF, 7);
  // Nothing played: the pump sends nothing. Shutdown deletes them all (the fixture checks).
  Pump(3);
  EXPECT_TRUE(sim::MciCalls().empty());
}

TEST_F(SoundTest, EndNotificationReplaysLoopingMusicAndClosesOther) {
  MCIDEVICEID device = 0;
  const int looping = PlayingMusic(1000, 1, &device);
  EXPECT_EQ(GetMusicPlayState(looping), 1);
  sim::AdvanceTime(999);
  Pump(2);
  EXPECT_TRUE(sim::MciCalls().empty());
  // The end posts MM_MCINOTIFY to the main window; the pump hands it to the handler, which
  // plays the device again from its start, notifying the main window.
  sim::AdvanceTime(1);
  EXPECT_FALSE(sim::MciDevicePlaying(device));
  Pump(1);
  ASSERT_EQ(Commands(), std::vector({kReplay}));
  const sim::MciCall play = sim::MciCalls()[0];
  EXPECT_EQ(std::make_tuple(play.device, play.from, play.callback),
            std::make_tuple(device, DWORD{0}, reinterpret_cast<DWORD_PTR>(GetMainWindowHandle())));
  EXPECT_TRUE(sim::MciDevicePlaying(device));
  EXPECT_EQ(GetMusicPlayState(looping), 1);
  ASSERT_EQ(DeleteMusicHandle(looping), 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  // Without the loop flag the end closes the device; a late notification does nothing.
  const int once = PlayingMusic(500, 0, &device);
  sim::AdvanceTime(500);
  Pump(1);
  EXPECT_EQ(Commands(), std::vector({kClose}));
  EXPECT_FALSE(sim::MciCalls()[0].hasParams);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(GetMusicPlayState(once), 0);
  PostMessageA(GetMainWindowHandle(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, device);
  Pump(1);
  EXPECT_EQ(sim::MciCalls().size(), 1u);
  // A replay that MCI refuses ends the music for good.
  const int refused = PlayingMusic(500, 1, &device);
  sim::FailCall("mciSendCommandA", 1);
  sim::AdvanceTime(500);
  Pump(3);
  EXPECT_EQ(GetMusicPlayState(refused), 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(Commands(), std::vector({kReplay, kClose}));
}

TEST_F(SoundTest, StopClosesLoopingMusicForGoodAndEatsItsLastNotification) {
  for (bool active : {true, false}) {
    MCIDEVICEID device = 0;
    const int handle = PlayingMusic(0, 1, &device);
    MSG msg;
    // A game's shutdown may stop music while the window is inactive: no waiting then.
    sim::SetAppActive(active);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    const std::uint64_t before = sim::VirtualTimeMicros();
    EXPECT_EQ(StopMusicHandle(handle), 0);
    EXPECT_EQ(sim::VirtualTimeMicros(), before);
    EXPECT_EQ(Commands(), std::vector({kClose}));
    EXPECT_FALSE(sim::MciDeviceOpen(device));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_NOREMOVE));
    EXPECT_EQ(GetMusicPlayState(handle), 0);
    EXPECT_EQ(StopMusicHandle(handle), 0);  // stopping what is stopped is harmless
    EXPECT_EQ(sim::MciCalls().size(), 1u);
    EXPECT_EQ(DeleteMusicHandle(handle), 0);
  }
  sim::SetAppActive(true);
}

TEST_F(SoundTest, DeleteAndShutdownStopPlayingMusic) {
  MCIDEVICEID device = 0;
  const int handle = PlayingMusic(0, 0, &device);
  EXPECT_EQ(DeleteMusicHandle(handle), 0);
  EXPECT_EQ(Commands(), std::vector({kClose}));
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(GetMusicPlayState(handle), -1);
  PlayingMusic(0, 1, &device);
  ASSERT_EQ(TerminateLibrary(), 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(AddMusicHandleForTest(kMidi, sizeof(kMidi)), -1);
}

// ---- The capture file ------------------------------------------------------------------

TEST_F(SoundTest, ShutdownClosesTheCaptureWithItsHeaderUnlessItCannotGoBackToIt) {
  std::vector<std::int16_t> frames(2 * 44100);
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<std::int16_t>(i * 37);
  Bytes data(frames.size() * 2);
  std::memcpy(data.data(), frames.data(), data.size());
  const Bytes header = {'R',  'I',  'F',  'F',  0x36, 0xB1, 0x02, 0x00, 'W',  'A', 'V', 'E',
                        'f',  'm',  't',  ' ',  18,   0,    0,    0,    1,    0,   2,   0,
                        0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 4,    0,   16,  0,
                        0,    0,    'd',  'a',  't',  'a',  0x10, 0xB1, 0x02, 0x00};
  for (bool seekFails : {false, true}) {
    ASSERT_EQ(OpenWaveCaptureFileForTest("capture.wav"), 0);
    EXPECT_EQ(OpenWaveCaptureFileForTest("other.wav"), -1);  // one at a time
    ASSERT_EQ(WriteWaveCaptureForTest(frames.data(), 44100), 0);
    if (seekFails) sim::FailCall("SetFilePointer", 1);  // the header would land after the data
    ASSERT_EQ(TerminateLibrary(), 0);
    EXPECT_EQ(ReadFileBytes("capture.wav"), Concat({seekFails ? Bytes(46, 0) : header, data}));
    ASSERT_EQ(InitializeLibrary(), 0);
  }
}

}  // namespace
