// Music handles, the MCI end notification through the real window procedure and pump,
// the shutdown hooks and the capture file.
#include "core/pump.h"
#include "platform/mci.h"
#include "sound/music.h"
#include "gamelib/sound_load.h"
#include "music_test_entries.h"
#include "sound_test_support.h"

namespace {

using gamelib::GetSoundSystemState;
using soundtest::Bytes;
using soundtest::ReadFileBytes;

const std::uint8_t kMidi[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x60};

std::uint32_t Le32(const Bytes& b, std::size_t at) { return soundtest::Le32(b.data() + at); }

std::vector<sim::MciCall> CallsOf(UINT message) {
  std::vector<sim::MciCall> out;
  for (const sim::MciCall& call : sim::MciCalls()) {
    if (call.message == message) out.push_back(call);
  }
  return out;
}

class MusicTest : public soundtest::SoundTest {
 protected:
  void TearDown() override {
    soundtest::SoundTest::TearDown();
    EXPECT_EQ(gamelib::GetMusicTable().count, 0);
  }

  static MCIDEVICEID OpenDevice(DWORD lengthMs) {
    sim::SetMciPlayLength(lengthMs);
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "sequencer";
    EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)), 0u);
    return open.wDeviceID;
  }

  // A music handle whose MIDI plays on a device of the given length; MCI calls are
  // recorded from here on.
  static int PlayingMusic(DWORD lengthMs, int loop, MCIDEVICEID* device = nullptr) {
    MCIDEVICEID d = OpenDevice(lengthMs);
    int handle = gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi));
    EXPECT_NE(handle, -1);
    EXPECT_EQ(gamelib::PlayMusicHandleForTest(handle, d, loop), 0);
    sim::ClearMciCalls();
    if (device != nullptr) *device = d;
    return handle;
  }

  static void Pump(int passes) {
    for (int i = 0; i < passes; ++i) ASSERT_EQ(gamelib::PumpWindowMessages(), 0);
  }
};

TEST_F(MusicTest, HandlesAreOfTheMusicTypeAndRefusedOtherwise) {
  int handle = gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi));
  ASSERT_NE(handle, -1);
  EXPECT_EQ(handle & 0x78000000, 0x58000000);
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 0);

  int asSound = (handle & ~0x78000000) | 0x10000000;
  int wrongCheck = handle ^ 0x00010000;
  int pastTable = (handle & ~0xFFFF) | 256;
  for (int bad : {asSound, wrongCheck, pastTable, -1, 0, handle | static_cast<int>(0x80000000u)}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(gamelib::GetMusicPlayState(bad), -1);
    EXPECT_EQ(gamelib::StopMusicHandle(bad), -1);
    EXPECT_EQ(gamelib::DeleteMusicHandle(bad), -1);
  }
  EXPECT_EQ(gamelib::GetMusicTable().count, 1);

  // A deleted handle stays dead even when its slot is taken again.
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
  int again = gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi));
  EXPECT_EQ(again & 0xFFFF, handle & 0xFFFF);
  EXPECT_NE(again, handle);
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), -1);
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), -1);
  // Nothing played, so updates, notifications and pump passes send nothing.
  EXPECT_EQ(gamelib::UpdateMusicPlayState(), 0);
  EXPECT_EQ(gamelib::HandleMidiPlayNotify(), 0);
  Pump(3);
  EXPECT_EQ(gamelib::DeleteMusicHandle(again), 0);
  EXPECT_TRUE(sim::MciCalls().empty());
}

TEST_F(MusicTest, TableHoldsTwoHundredFiftySixAndDeleteAllEmptiesIt) {
  std::vector<int> handles;
  for (int i = 0; i < gamelib::kMaxMusicHandles; ++i)
    handles.push_back(gamelib::AddMusicHandleForTest(kMidi, 3));
  EXPECT_EQ(handles.back(),
            gamelib::MakeHandleValue(gamelib::HANDLE_TYPE_MUSIC, gamelib::HandleCheck(handles.back()), 255));
  EXPECT_EQ(gamelib::AddMusicHandleForTest(kMidi, 3), -1);
  EXPECT_EQ(gamelib::DeleteMusicHandle(handles[7]), 0);
  EXPECT_EQ(gamelib::GetMusicTable().highWater, 256);
  EXPECT_EQ(gamelib::DeleteAllMusicHandles(), 0);
  EXPECT_EQ(gamelib::GetMusicTable().count, 0);
  EXPECT_EQ(gamelib::GetMusicTable().highWater, 0);
  for (int h : handles) EXPECT_EQ(gamelib::GetMusicPlayState(h), -1);
}

TEST_F(MusicTest, EndNotificationLoopsThroughTheWindowProcedureAndThePump) {
  MCIDEVICEID device = 0;
  int handle = PlayingMusic(1000, 1, &device);
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 1);

  sim::AdvanceTime(999);
  Pump(2);
  EXPECT_TRUE(sim::MciCalls().empty());

  // The end posts MM_MCINOTIFY to the main window; the pump hands it to the handler,
  // which plays the device again from its start.
  sim::AdvanceTime(1);
  EXPECT_FALSE(sim::MciDevicePlaying(device));
  Pump(1);
  std::vector<sim::MciCall> plays = CallsOf(MCI_PLAY);
  ASSERT_EQ(plays.size(), 1u);
  EXPECT_EQ(plays[0].device, device);
  EXPECT_EQ(plays[0].flags, MCI_NOTIFY | MCI_FROM);
  EXPECT_EQ(plays[0].from, 0u);
  EXPECT_EQ(plays[0].callback, reinterpret_cast<DWORD_PTR>(gamelib::GetMainWindowHandle()));
  EXPECT_TRUE(sim::MciDevicePlaying(device));
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 1);

  // Without the loop flag the next end closes the device.
  GetSoundSystemState().musicLoop = 0;
  sim::ClearMciCalls();
  sim::AdvanceTime(1000);
  Pump(1);
  std::vector<sim::MciCall> calls = sim::MciCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, MCI_CLOSE);
  EXPECT_EQ(calls[0].flags, 0u);
  EXPECT_FALSE(calls[0].hasParams);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 0);

  // A late notification finds nothing to do.
  EXPECT_EQ(gamelib::HandleMidiPlayNotify(), 0);
  EXPECT_EQ(sim::MciCalls().size(), 1u);
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
}

TEST_F(MusicTest, ReplayThatMciRefusesEndsTheMusic) {
  MCIDEVICEID device = 0;
  int handle = PlayingMusic(500, 1, &device);
  sim::FailCall("mciSendCommandA", 1);
  sim::AdvanceTime(500);
  Pump(1);
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 0);
  EXPECT_EQ(GetSoundSystemState().musicLoop, 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
}

TEST_F(MusicTest, StopClosesALoopingDeviceForGoodAndEatsItsLastNotification) {
  MCIDEVICEID device = 0;
  int handle = PlayingMusic(0, 1, &device);
  EXPECT_EQ(gamelib::StopMusicHandle(handle), 0);
  // The close aborts the pending notification; it reaches the handler during the
  // stop's pump passes and sends nothing more.
  std::vector<sim::MciCall> calls = sim::MciCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, MCI_CLOSE);
  EXPECT_EQ(calls[0].device, device);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_NOREMOVE));
  EXPECT_EQ(GetSoundSystemState().musicLoop, 0);
  EXPECT_EQ(gamelib::GetMusicPlayState(handle), 0);
  EXPECT_EQ(gamelib::GetMusicHandleRecord(handle)->playing, 0);
  // Stopping what is stopped is harmless.
  EXPECT_EQ(gamelib::StopMusicHandle(handle), 0);
  EXPECT_EQ(sim::MciCalls().size(), 1u);
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
}

TEST_F(MusicTest, StopWhileTheWindowIsInactiveDoesNotWaitForIt) {
  MCIDEVICEID device = 0;
  int handle = PlayingMusic(0, 1, &device);
  sim::SetAppActive(false);
  gamelib::DrainWindowMessages();
  std::uint64_t before = sim::VirtualTimeMicros();
  EXPECT_EQ(gamelib::StopMusicHandle(handle), 0);
  EXPECT_EQ(sim::VirtualTimeMicros(), before);  // no 1 ms waits
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_NOREMOVE));
  sim::SetAppActive(true);
  gamelib::DrainWindowMessages();
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
}

TEST_F(MusicTest, TemporaryFileIsDeletedOnlyWhenFlagged) {
  std::ofstream(directory_ / "music.tmp") << "MThd";
  gamelib::SoundSystemState& state = GetSoundSystemState();
  std::snprintf(state.musicTempFileName, sizeof(state.musicTempFileName), "%s", "music.tmp");
  int handle = gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi));

  state.musicTempFileFlag = 0;
  EXPECT_EQ(gamelib::StopMusicHandle(handle), 0);
  EXPECT_TRUE(std::filesystem::exists(directory_ / "music.tmp"));

  state.musicTempFileFlag = 1;
  EXPECT_EQ(gamelib::StopMusicHandle(handle), 0);
  EXPECT_FALSE(std::filesystem::exists(directory_ / "music.tmp"));
  EXPECT_EQ(state.musicTempFileFlag, 0);
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
  std::memset(state.musicTempFileName, 0, sizeof(state.musicTempFileName));
}

TEST_F(MusicTest, DeleteStopsPlayingMusicAndFreesItsData) {
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  MCIDEVICEID device = 0;
  int handle = PlayingMusic(0, 0, &device);
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks + 2);  // record and MIDI image
  EXPECT_EQ(gamelib::DeleteMusicHandle(handle), 0);
  EXPECT_EQ(CallsOf(MCI_CLOSE).size(), 1u);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
  EXPECT_EQ(gamelib::GetMusicTable().count, 0);
}

TEST_F(MusicTest, EndCurrentMusicStopsAndDeletesEitherKind) {
  int music = PlayingMusic(0, 1);
  gamelib::SoundSystemState& state = GetSoundSystemState();
  state.currentMusic = music;
  state.currentMusicKind = 0;
  EXPECT_EQ(gamelib::EndCurrentMusic(), 0);
  EXPECT_EQ(state.currentMusic, 0);
  EXPECT_EQ(gamelib::GetMusicPlayState(music), -1);
  EXPECT_EQ(CallsOf(MCI_CLOSE).size(), 1u);

  int sound = MakeMemorySound(soundtest::Pcm(2, 44100, 16), std::vector<std::uint8_t>(4000, 0x10), 2);
  ASSERT_NE(sound, -1);
  ASSERT_EQ(gamelib::PlaySoundHandle(sound, gamelib::SOUND_PLAY_LOOP), 0);
  ASSERT_EQ(gamelib::CheckSoundHandlePlaying(sound), 1);
  state.currentMusic = sound;
  state.currentMusicKind = gamelib::CURRENT_MUSIC_SOUND;
  EXPECT_EQ(gamelib::EndCurrentMusic(), 0);
  EXPECT_EQ(state.currentMusic, 0);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(sound), -1);
  EXPECT_EQ(gamelib::GetSoundTable().count, 0);
  EXPECT_EQ(gamelib::EndCurrentMusic(), 0);  // nothing left to end
}

// What EndCurrentMusic's stop saw of the rest of the library while it pumped.
struct SeenAtStop {
  int passes = 0;
  int sounds = -1;
  bool soundStarted = false;
  int captureFlag = -1;
  bool window = false;
};
SeenAtStop seenAtStop;

void WatchMusicStep(const char* step) {
  if (std::string(step) != "music") return;
  ++seenAtStop.passes;
  seenAtStop.sounds = gamelib::GetSoundTable().count;
  seenAtStop.soundStarted = gamelib::SoundSystemStarted();
  seenAtStop.captureFlag = GetSoundSystemState().captureFlag;
  seenAtStop.window = gamelib::GetMainWindowHandle() != nullptr;
}

TEST_F(MusicTest, ShutdownEndsTheCurrentMusicFirstThenClosesCaptureAndDeletesEverything) {
  MCIDEVICEID device = 0;
  int music = PlayingMusic(0, 1, &device);
  int other = gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi));
  ASSERT_NE(other, -1);
  ASSERT_NE(MakeMemorySound(soundtest::Pcm(1, 22050, 16), std::vector<std::uint8_t>(2000, 0), 1), -1);
  ASSERT_EQ(gamelib::OpenWaveCaptureFileForTest("capture.wav"), 0);
  std::vector<std::int16_t> frames = {1, -1, 2, -2, 3, -3};
  ASSERT_EQ(gamelib::WriteWaveCaptureForTest(frames.data(), 3), 0);
  gamelib::SoundSystemState& state = GetSoundSystemState();
  state.currentMusic = music;
  state.currentMusicKind = 0;

  seenAtStop = SeenAtStop{};
  gamelib::SetPumpWorkObserver(&WatchMusicStep);
  ASSERT_EQ(gamelib::TerminateLibrary(), 0);
  gamelib::SetPumpWorkObserver(nullptr);

  // The stop ran its pump passes while everything else was still up.
  EXPECT_EQ(seenAtStop.passes, 5);
  EXPECT_EQ(seenAtStop.sounds, 1);
  EXPECT_TRUE(seenAtStop.soundStarted);
  EXPECT_EQ(seenAtStop.captureFlag, 1);
  EXPECT_TRUE(seenAtStop.window);
  EXPECT_EQ(CallsOf(MCI_CLOSE).size(), 1u);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(state.currentMusic, 0);
  EXPECT_EQ(state.captureFlag, 0);
  EXPECT_EQ(gamelib::GetMusicTable().count, 0);

  const Bytes file = ReadFileBytes(directory_ / "capture.wav");
  ASSERT_EQ(file.size(), 46u + 12u);
  EXPECT_EQ(Le32(file, 4), 12u + 38u);
  EXPECT_EQ(Le32(file, 42), 12u);
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 46, file.end()),
            (std::vector<std::uint8_t>{1, 0, 0xFF, 0xFF, 2, 0, 0xFE, 0xFF, 3, 0, 0xFD, 0xFF}));
}

TEST_F(MusicTest, SoundShutdownClosesADeviceThatNoHandleOwnsAndKeepsUnflaggedFiles) {
  MCIDEVICEID device = OpenDevice(0);
  MCI_PLAY_PARMS play{};
  play.dwCallback = reinterpret_cast<DWORD_PTR>(gamelib::GetMainWindowHandle());
  ASSERT_EQ(mciSendCommandA(device, MCI_PLAY, MCI_NOTIFY | MCI_FROM, reinterpret_cast<DWORD_PTR>(&play)), 0u);
  gamelib::SoundSystemState& state = GetSoundSystemState();
  state.midiDevice = device;
  state.midiPlaying = 1;
  state.musicLoop = 1;
  std::ofstream(directory_ / "keep.mid") << "MThd";
  std::snprintf(state.musicTempFileName, sizeof(state.musicTempFileName), "%s", "keep.mid");
  state.musicTempFileFlag = 0;

  ASSERT_EQ(gamelib::TerminateSoundSystem(), 0);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_EQ(state.midiPlaying, 0);
  EXPECT_TRUE(std::filesystem::exists(directory_ / "keep.mid"));
  std::memset(state.musicTempFileName, 0, sizeof(state.musicTempFileName));

  // With the sound system down, music operations refuse.
  EXPECT_EQ(gamelib::UpdateMusicPlayState(), -1);
  EXPECT_EQ(gamelib::DeleteAllMusicHandles(), -1);
  EXPECT_EQ(gamelib::AddMusicHandleForTest(kMidi, sizeof(kMidi)), -1);
  EXPECT_EQ(gamelib::EndCurrentMusic(), 0);
}

// ---- The capture file ----------------------------------------------------------------

class CaptureTest : public MusicTest {
 protected:
  std::filesystem::path Path() const { return directory_ / "capture.wav"; }
};

TEST_F(CaptureTest, HeaderOfOneSecondIsWrittenOnClose) {
  EXPECT_EQ(gamelib::CloseWaveCaptureFile(), -1);  // nothing open
  ASSERT_EQ(gamelib::OpenWaveCaptureFileForTest("capture.wav"), 0);
  EXPECT_EQ(gamelib::OpenWaveCaptureFileForTest("other.wav"), -1);  // one at a time
  std::vector<std::int16_t> frames(2 * 44100);
  for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<std::int16_t>(i * 37);
  ASSERT_EQ(gamelib::WriteWaveCaptureForTest(frames.data(), 44100), 0);
  EXPECT_EQ(GetSoundSystemState().captureSamples, 44100u);
  EXPECT_EQ(gamelib::CloseWaveCaptureFile(), 0);
  EXPECT_EQ(gamelib::CloseWaveCaptureFile(), -1);  // already closed
  EXPECT_EQ(GetSoundSystemState().captureFlag, 0);
  EXPECT_EQ(GetSoundSystemState().captureFile, nullptr);

  const Bytes file = ReadFileBytes(Path());
  ASSERT_EQ(file.size(), 46u + 176400u);
  const std::uint8_t expected[46] = {'R',  'I',  'F',  'F',  0x36, 0xB1, 0x02, 0x00,  // 176438
                                     'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',
                                     18,   0,    0,    0,              // fmt chunk size
                                     1,    0,    2,    0,              // PCM, stereo
                                     0x44, 0xAC, 0x00, 0x00,           // 44100
                                     0x10, 0xB1, 0x02, 0x00,           // 176400
                                     4,    0,    16,   0,    0,    0,  // block align, bits, cbSize
                                     'd',  'a',  't',  'a',  0x10, 0xB1, 0x02, 0x00};  // 176400
  EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 46),
            std::vector<std::uint8_t>(expected, expected + 46));
  // The data behind it is untouched.
  for (std::size_t i = 0; i < frames.size(); i += 997) {
    std::uint16_t sample = static_cast<std::uint16_t>(file[46 + 2 * i] | (file[46 + 2 * i + 1] << 8));
    ASSERT_EQ(static_cast<std::int16_t>(sample), frames[i]) << i;
  }
}

TEST_F(CaptureTest, HugeCountsStateTheMostWholeFramesInsteadOfWrappingAround) {
  struct Case {
    std::uint32_t frames;
    std::uint32_t riff;
    std::uint32_t data;
  };
  const Case cases[] = {
      {0, 38, 0},
      {1073741813u, 0xFFFFFFFAu, 0xFFFFFFD4u},
      {gamelib::kMaxWaveCaptureFrames, 0xFFFFFFFEu, 0xFFFFFFD8u},      // the last exact count
      {gamelib::kMaxWaveCaptureFrames + 1, 0xFFFFFFFEu, 0xFFFFFFD8u},  // 4n + 38 would wrap to 2
      {0x40000000u, 0xFFFFFFFEu, 0xFFFFFFD8u},                         // 4n would wrap to 0
      {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFD8u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    ASSERT_EQ(gamelib::OpenWaveCaptureFileForTest("capture.wav"), 0);
    GetSoundSystemState().captureSamples = c.frames;
    ASSERT_EQ(gamelib::CloseWaveCaptureFile(), 0);
    const Bytes file = ReadFileBytes(Path());
    ASSERT_EQ(file.size(), 46u);
    EXPECT_EQ(Le32(file, 4), c.riff);
    EXPECT_EQ(Le32(file, 42), c.data);
    EXPECT_EQ(Le32(file, 4) - Le32(file, 42), 38u);
    EXPECT_EQ(Le32(file, 42) % 4, 0u);
  }
}

TEST_F(CaptureTest, FailedHeaderWriteOrSeekIsReportedAndTheFileStillCloses) {
  std::vector<std::int16_t> frames(2 * 10, 7);
  int live = sim::LiveObjects();
  ASSERT_EQ(gamelib::OpenWaveCaptureFileForTest("capture.wav"), 0);
  ASSERT_EQ(gamelib::WriteWaveCaptureForTest(frames.data(), 10), 0);
  sim::FailCall("WriteFile", 1);
  EXPECT_EQ(gamelib::CloseWaveCaptureFile(), -1);
  EXPECT_EQ(GetSoundSystemState().captureFlag, 0);
  EXPECT_EQ(sim::LiveObjects(), live);

  // A seek that fails must not put the header after the data.
  ASSERT_EQ(gamelib::OpenWaveCaptureFileForTest("capture.wav"), 0);
  ASSERT_EQ(gamelib::WriteWaveCaptureForTest(frames.data(), 10), 0);
  sim::FailCall("SetFilePointer", 1);
  EXPECT_EQ(gamelib::CloseWaveCaptureFile(), -1);
  EXPECT_EQ(ReadFileBytes(Path()).size(), 46u + 40u);
  EXPECT_EQ(sim::LiveObjects(), live);
}

}  // namespace
