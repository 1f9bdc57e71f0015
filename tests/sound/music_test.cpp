// Music handles (made by the test entries, since nothing public makes one), the MCI end
// notification through the window procedure and the pump, stopping and deleting, and the
// capture file that shutdown closes.
#include <tuple>

#include "music_test_entries.h"
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const std::uint8_t kMidi[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x60};
using Command = std::pair<UINT, DWORD_PTR>;  // message and flags
const Command kClose{MCI_CLOSE, 0}, kReplay{MCI_PLAY, MCI_NOTIFY | MCI_FROM};

// A music handle whose MIDI plays on a device of the given length; MCI calls are recorded
// from here on.
int PlayingMusic(DWORD lengthMs, int loop, MCIDEVICEID* device) {
  sim::SetMciPlayLength(lengthMs);
  MCI_OPEN_PARMSA open{};
  open.lpstrDeviceType = "sequencer";
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)), 0u);
  const int handle = AddMusicHandleForTest(kMidi, sizeof(kMidi));
  EXPECT_EQ(PlayMusicHandleForTest(handle, *device = open.wDeviceID, loop), 0);
  sim::ClearMciCalls();
  return handle;
}
// The game's loop for `passes` frames; the MCI commands sent meanwhile.
std::vector<Command> Pump(int passes, unsigned msPerPass = 0) {
  std::vector<Command> out;
  for (int i = 0; i < passes; ++i) sim::AdvanceTime(msPerPass), PumpWindowMessages();
  for (const sim::MciCall& call : sim::MciCalls()) out.push_back({call.message, call.flags});
  return out;
}

TEST_F(SoundTest, MusicHandlesAreOfTheirOwnType) {
  const int handle = AddMusicHandleForTest(kMidi, sizeof(kMidi));
  EXPECT_EQ(handle & 0x78000000, 0x58000000);
  EXPECT_EQ(GetMusicPlayState(handle), 0);
  EXPECT_EQ(DeleteMusicHandle(handle), 0);
  const int again = AddMusicHandleForTest(kMidi, 0);  // the same slot: the old handle stays dead
  for (int bad : {handle, (again & ~0x78000000) | 0x10000000, (again & ~0xFFFF) | 256, -1, 0,
                  again | static_cast<int>(0x80000000u)})
    EXPECT_EQ(Ints({GetMusicPlayState(bad), StopMusicHandle(bad), DeleteMusicHandle(bad)}), Ints(3, -1))
        << bad;
  EXPECT_TRUE(Pump(3).empty());  // nothing played: nothing sent
}

TEST_F(SoundTest, EndNotificationReplaysLoopingMusicAndClosesOther) {
  MCIDEVICEID device = 0;
  const int looping = PlayingMusic(1000, 1, &device);
  EXPECT_TRUE(Pump(1, 999).empty());
  // The end posts MM_MCINOTIFY to the main window; the pump hands it to the handler, which
  // plays the device again from its start, notifying the main window.
  EXPECT_EQ(Pump(1, 1), std::vector({kReplay}));
  const sim::MciCall play = sim::MciCalls()[0];
  EXPECT_EQ(std::make_tuple(play.device, play.from, play.callback),
            std::make_tuple(device, DWORD{0}, reinterpret_cast<DWORD_PTR>(GetMainWindowHandle())));
  EXPECT_EQ(GetMusicPlayState(looping), 1);
  ASSERT_EQ(DeleteMusicHandle(looping), 0);
  // Without the loop flag the end closes the device; a late notification does nothing.
  const int once = PlayingMusic(500, 0, &device);
  EXPECT_EQ(Pump(1, 500), std::vector({kClose}));
  EXPECT_EQ(std::make_pair(sim::MciDeviceOpen(device), GetMusicPlayState(once)), std::make_pair(false, 0));
  PostMessageA(GetMainWindowHandle(), MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, device);
  EXPECT_EQ(Pump(1).size(), 1u);
  // A replay that MCI refuses ends the music for good.
  const int refused = PlayingMusic(500, 1, &device);
  sim::FailCall("mciSendCommandA", 1);
  EXPECT_EQ(Pump(3, 500), std::vector({kReplay, kClose}));
  EXPECT_EQ(std::make_pair(sim::MciDeviceOpen(device), GetMusicPlayState(refused)), std::make_pair(false, 0));
}

TEST_F(SoundTest, StopAndDeleteCloseTheDeviceForGoodAndShutdownToo) {
  for (bool active : {true, false}) {
    MCIDEVICEID device = 0;
    const int handle = PlayingMusic(0, 1, &device);
    // A game's shutdown may stop music while the window is inactive: no waiting then.
    MSG msg;
    sim::SetAppActive(active);
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    const std::uint64_t before = sim::VirtualTimeMicros();
    EXPECT_EQ(StopMusicHandle(handle), 0);
    EXPECT_EQ(sim::VirtualTimeMicros(), before);
    // The close ate the notification of the looping play; stopping again is harmless.
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_NOREMOVE));
    EXPECT_EQ(Ints({StopMusicHandle(handle), GetMusicPlayState(handle)}), Ints({0, 0}));
    EXPECT_EQ(Pump(0), std::vector({kClose}));
    EXPECT_FALSE(sim::MciDeviceOpen(device));
    EXPECT_EQ(DeleteMusicHandle(handle), 0);
  }
  sim::SetAppActive(true);
  MCIDEVICEID device = 0;
  EXPECT_EQ(DeleteMusicHandle(PlayingMusic(0, 0, &device)), 0);
  EXPECT_EQ(Pump(0), std::vector({kClose}));
  PlayingMusic(0, 1, &device);
  ASSERT_EQ(TerminateLibrary(), 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(AddMusicHandleForTest(kMidi, sizeof(kMidi)), -1);
}

TEST_F(SoundTest, ShutdownClosesTheCaptureWithItsHeaderUnlessItCannotGoBackToIt) {
  std::vector<std::int16_t> frames(2 * 44100);
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<std::int16_t>(i * 37);
  const auto* p = reinterpret_cast<const std::uint8_t*>(frames.data());
  const Bytes data(p, p + 2 * frames.size()),
      header = {'R', 'I', 'F', 'F', 0x36, 0xB1, 2,   0,   'W',  'A',  'V',  'E',  'f',  'm',  't', ' ',
                18,  0,   0,   0,   1,    0,    2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 2,   0,
                4,   0,   16,  0,   0,    0,    'd', 'a', 't',  'a',  0x10, 0xB1, 2,    0};
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
