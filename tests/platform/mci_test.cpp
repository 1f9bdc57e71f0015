#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/mci.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

LRESULT Quiet(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

struct Note {
  HWND window;
  WPARAM flag;
  LPARAM device;
  bool operator==(const Note&) const = default;
};

class Mci : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    sim::UseVirtualClock(true);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &Quiet;
    wc.lpszClassName = "MciTestWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
    window_ = CreateWindowExA(0, "MciTestWindow", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    UnregisterClassA("MciTestWindow", nullptr);
    PlatformTest::TearDown();
  }

  MCIDEVICEID OpenSequencer() {
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "sequencer";
    EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)), 0u);
    return open.wDeviceID;
  }
  MCIERROR PlayFromStart(MCIDEVICEID device) {
    MCI_PLAY_PARMS play{};
    play.dwCallback = reinterpret_cast<DWORD_PTR>(window_);
    play.dwFrom = 0;
    return mciSendCommandA(device, MCI_PLAY, MCI_NOTIFY | MCI_FROM, reinterpret_cast<DWORD_PTR>(&play));
  }
  std::vector<Note> TakeNotes() {
    std::vector<Note> notes;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == MM_MCINOTIFY) notes.push_back({msg.hwnd, msg.wParam, msg.lParam});
    }
    return notes;
  }

  HWND window_ = nullptr;
};

TEST_F(Mci, PlayEndsAfterItsLengthAndNotifiesOnceEachTime) {
  sim::SetMciPlayLength(1000);
  MCIDEVICEID device = OpenSequencer();
  ASSERT_NE(device, 0u);
  for (int round = 0; round < 2; ++round) {  // played again from the start, it runs its whole length again
    ASSERT_EQ(PlayFromStart(device), 0u);
    sim::AdvanceTime(999);
    EXPECT_TRUE(sim::MciDevicePlaying(device));
    EXPECT_TRUE(TakeNotes().empty());
    sim::AdvanceTime(1);
    EXPECT_FALSE(sim::MciDevicePlaying(device));
    EXPECT_EQ(TakeNotes(),
              (std::vector<Note>{{window_, MCI_NOTIFY_SUCCESSFUL, static_cast<LPARAM>(device)}}));
    sim::AdvanceTime(5000);
    EXPECT_TRUE(TakeNotes().empty());
  }
  EXPECT_EQ(mciSendCommandA(device, MCI_CLOSE, 0, 0), 0u);
  EXPECT_FALSE(sim::MciDeviceOpen(device));
}

TEST_F(Mci, EndlessPlayEndsOnlyWhenTheTestEndsItAndResetClosesSilently) {
  MCIDEVICEID device = OpenSequencer();
  ASSERT_EQ(PlayFromStart(device), 0u);
  sim::AdvanceTime(3600 * 1000);
  EXPECT_TRUE(sim::MciDevicePlaying(device));
  EXPECT_TRUE(sim::EndMciPlayback(device));
  EXPECT_FALSE(sim::EndMciPlayback(device));  // no longer playing
  EXPECT_EQ(TakeNotes(), (std::vector<Note>{{window_, MCI_NOTIFY_SUCCESSFUL, static_cast<LPARAM>(device)}}));
  ASSERT_EQ(PlayFromStart(device), 0u);
  sim::Reset();
  EXPECT_FALSE(sim::MciDeviceOpen(device));
  EXPECT_TRUE(sim::MciCalls().empty());
  EXPECT_EQ(sim::LiveMciDevices(), 0);
  SetUp();
}

TEST_F(Mci, CloseAndStopAbortAPendingNotificationAndANewPlaySupersedesIt) {
  MCIDEVICEID device = OpenSequencer();
  ASSERT_EQ(PlayFromStart(device), 0u);
  ASSERT_EQ(PlayFromStart(device), 0u);
  EXPECT_EQ(TakeNotes(), (std::vector<Note>{{window_, MCI_NOTIFY_SUPERSEDED, static_cast<LPARAM>(device)}}));
  EXPECT_EQ(mciSendCommandA(device, MCI_STOP, 0, 0), 0u);
  EXPECT_EQ(TakeNotes(), (std::vector<Note>{{window_, MCI_NOTIFY_ABORTED, static_cast<LPARAM>(device)}}));
  ASSERT_EQ(PlayFromStart(device), 0u);
  EXPECT_EQ(mciSendCommandA(device, MCI_CLOSE, 0, 0), 0u);
  EXPECT_EQ(TakeNotes(), (std::vector<Note>{{window_, MCI_NOTIFY_ABORTED, static_cast<LPARAM>(device)}}));
  EXPECT_FALSE(sim::MciDevicePlaying(device));
  // A closed device is gone; its ID is not given out again.
  EXPECT_EQ(PlayFromStart(device), MCIERR_INVALID_DEVICE_ID);
  EXPECT_EQ(mciSendCommandA(device, MCI_CLOSE, 0, 0), MCIERR_INVALID_DEVICE_ID);
  MCIDEVICEID next = OpenSequencer();
  EXPECT_NE(next, device);
  EXPECT_EQ(mciSendCommandA(next, MCI_CLOSE, 0, 0), 0u);
}

TEST_F(Mci, PlayWithoutFromResumesAndPositionsAreChecked) {
  sim::SetMciPlayLength(1000);
  MCIDEVICEID device = OpenSequencer();
  ASSERT_EQ(PlayFromStart(device), 0u);
  sim::AdvanceTime(400);
  ASSERT_EQ(mciSendCommandA(device, MCI_STOP, 0, 0), 0u);
  TakeNotes();
  MCI_PLAY_PARMS resume{};
  resume.dwCallback = reinterpret_cast<DWORD_PTR>(window_);
  ASSERT_EQ(mciSendCommandA(device, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&resume)), 0u);
  sim::AdvanceTime(599);
  EXPECT_TRUE(TakeNotes().empty());
  sim::AdvanceTime(1);
  EXPECT_EQ(TakeNotes().size(), 1u);

  MCI_PLAY_PARMS bad{};
  bad.dwFrom = 1001;
  EXPECT_EQ(mciSendCommandA(device, MCI_PLAY, MCI_FROM, reinterpret_cast<DWORD_PTR>(&bad)),
            MCIERR_OUTOFRANGE);
  bad.dwFrom = 500;
  bad.dwTo = 100;
  EXPECT_EQ(mciSendCommandA(device, MCI_PLAY, MCI_FROM | MCI_TO, reinterpret_cast<DWORD_PTR>(&bad)),
            MCIERR_OUTOFRANGE);
  EXPECT_EQ(mciSendCommandA(device, MCI_PLAY, MCI_FROM, 0), MCIERR_NULL_PARAMETER_BLOCK);
  EXPECT_FALSE(sim::MciDevicePlaying(device));
  EXPECT_EQ(mciSendCommandA(device, MCI_CLOSE, 0, 0), 0u);
}

TEST_F(Mci, OpenChecksTypeAndElement) {
  MCI_OPEN_PARMSA open{};
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, 0, 0), MCIERR_NULL_PARAMETER_BLOCK);
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, 0, reinterpret_cast<DWORD_PTR>(&open)), MCIERR_MISSING_PARAMETER);
  open.lpstrDeviceType = "waveaudio";
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)),
            MCIERR_INVALID_DEVICE_NAME);
  open.lpstrDeviceType = nullptr;
  open.lpstrElementName = "/nonexistent/tune.mid";
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open)),
            MCIERR_FILE_NOT_FOUND);

  char path[] = "/tmp/gamelib-mci-XXXXXX.MID";
  int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  open.lpstrElementName = path;
  EXPECT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open)), 0u);
  EXPECT_TRUE(sim::MciDeviceOpen(open.wDeviceID));
  EXPECT_EQ(sim::LiveObjects(), 1);  // an open device is a live object until closed
  EXPECT_EQ(mciSendCommandA(open.wDeviceID, MCI_CLOSE, 0, 0), 0u);
  std::remove(path);
  EXPECT_EQ(mciSendCommandA(0, 0x0999, 0, 0), MCIERR_UNRECOGNIZED_COMMAND);
}

TEST_F(Mci, CallsAreRecordedAndCanBeFailedByName) {
  MCIDEVICEID device = OpenSequencer();
  sim::ClearMciCalls();
  sim::FailCall("mciSendCommandA", 1);
  EXPECT_EQ(PlayFromStart(device), MCIERR_HARDWARE);
  EXPECT_FALSE(sim::MciDevicePlaying(device));
  EXPECT_TRUE(TakeNotes().empty());
  EXPECT_EQ(PlayFromStart(device), 0u);
  EXPECT_EQ(mciSendCommandA(device, MCI_CLOSE, 0, 0), 0u);
  std::vector<sim::MciCall> calls = sim::MciCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].result, MCIERR_HARDWARE);
  EXPECT_EQ(calls[1].flags, MCI_NOTIFY | MCI_FROM);
  EXPECT_EQ(calls[1].callback, reinterpret_cast<DWORD_PTR>(window_));
  EXPECT_EQ(calls[2].message, MCI_CLOSE);
  EXPECT_FALSE(calls[2].hasParams);
  TakeNotes();
}

}  // namespace
