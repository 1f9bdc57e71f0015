// MCI as the music layer relies on it: plays that end on the virtual clock, and one
// MM_MCINOTIFY per notifying command (successful, superseded or aborted).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/mci.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

class Mci : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    sim::UseVirtualClock(true);
    WNDCLASSA wc{0, &DefWindowProcA, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, "MciTestWindow"};
    ASSERT_NE(RegisterClassA(&wc), 0);
    window_ = CreateWindowExA(0, "MciTestWindow", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    Reopen();
  }
  // Closes the sequencer and opens a new one (the play length is taken at the open).
  void Reopen() {
    mciSendCommandA(device_, MCI_CLOSE, 0, 0);
    MCI_OPEN_PARMSA open{0, 0, "sequencer", nullptr, nullptr};
    ASSERT_EQ(mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE, reinterpret_cast<DWORD_PTR>(&open)), 0u);
    device_ = open.wDeviceID;
  }
  void TearDown() override {
    mciSendCommandA(device_, MCI_CLOSE, 0, 0);
    DestroyWindow(window_);
    PlatformTest::TearDown();
  }
  MCIERROR Send(UINT message, DWORD flags = MCI_NOTIFY | MCI_FROM, DWORD from = 0, DWORD to = 0) {
    MCI_PLAY_PARMS params{reinterpret_cast<DWORD_PTR>(window_), from, to};
    return mciSendCommandA(device_, message, flags, reinterpret_cast<DWORD_PTR>(&params));
  }
  // The notifications posted since the last take; each must name the window and device.
  std::vector<WPARAM> Notes() {
    std::vector<WPARAM> flags;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE)) {
      EXPECT_EQ(msg.hwnd, window_);
      EXPECT_EQ(msg.lParam, static_cast<LPARAM>(device_));
      flags.push_back(msg.wParam);
    }
    return flags;
  }
  using Flags = std::vector<WPARAM>;

  HWND window_ = nullptr;
  MCIDEVICEID device_ = 0;
};

TEST_F(Mci, APlayEndsAfterItsLengthAndAPlayWithoutFromResumes) {
  sim::SetMciPlayLength(1000);
  Reopen();
  for (int round = 0; round < 2; ++round) {  // played again from the start, it runs its whole length
    ASSERT_EQ(Send(MCI_PLAY), 0u);
    sim::AdvanceTime(999);
    EXPECT_TRUE(sim::MciDevicePlaying(device_));
    EXPECT_EQ(Notes(), Flags{});
    sim::AdvanceTime(1);
    EXPECT_FALSE(sim::MciDevicePlaying(device_));
    EXPECT_EQ(Notes(), Flags{MCI_NOTIFY_SUCCESSFUL});
  }
  ASSERT_EQ(Send(MCI_PLAY), 0u);
  sim::AdvanceTime(400);
  ASSERT_EQ(Send(MCI_STOP, 0), 0u);
  ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY), 0u);
  sim::AdvanceTime(599);
  EXPECT_EQ(Notes(), Flags{MCI_NOTIFY_ABORTED});
  sim::AdvanceTime(1);
  EXPECT_EQ(Notes(), Flags{MCI_NOTIFY_SUCCESSFUL});
  ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_FROM | MCI_TO, 200, 300), 0u);
  const sim::MciCall call = sim::MciCalls().back();  // the record the library's tests read
  EXPECT_EQ(std::vector<DWORD_PTR>({call.callback, call.from, call.to}),
            std::vector<DWORD_PTR>({reinterpret_cast<DWORD_PTR>(window_), 200, 300}));
  sim::AdvanceTime(100);
  EXPECT_EQ(Notes(), Flags{MCI_NOTIFY_SUCCESSFUL});
}

TEST_F(Mci, ANewPlaySupersedesAndStopOrCloseAborts) {
  ASSERT_EQ(Send(MCI_PLAY), 0u);
  ASSERT_EQ(Send(MCI_PLAY), 0u);
  EXPECT_EQ(Notes(), Flags{MCI_NOTIFY_SUPERSEDED});
  sim::AdvanceTime(3600 * 1000);  // with no length set a play runs until it is ended
  EXPECT_TRUE(sim::MciDevicePlaying(device_));
  ASSERT_EQ(Send(MCI_STOP, 0), 0u);
  ASSERT_EQ(Send(MCI_PLAY), 0u);
  ASSERT_EQ(Send(MCI_CLOSE, 0), 0u);
  EXPECT_EQ(Notes(), (Flags{MCI_NOTIFY_ABORTED, MCI_NOTIFY_ABORTED}));
  EXPECT_FALSE(sim::MciDeviceOpen(device_));
  // A closed device is gone, and its ID is not given out again.
  EXPECT_EQ(Send(MCI_PLAY), MCIERR_INVALID_DEVICE_ID);
  const MCIDEVICEID closed = device_;
  Reopen();
  EXPECT_NE(device_, closed);
}

TEST_F(Mci, BadCommandsAreRefused) {
  char midi[] = "/tmp/gamelib-mci-XXXXXX.MID";
  ::close(mkstemps(midi, 4));
  const std::string other = std::string(midi, sizeof midi - 5) + ".txt";
  std::fclose(std::fopen(other.c_str(), "w"));
  auto open = [](DWORD flags, const char* type, const char* element) {
    MCI_OPEN_PARMSA p{0, 0, type, element, nullptr};
    MCIERROR result = mciSendCommandA(0, MCI_OPEN, flags, reinterpret_cast<DWORD_PTR>(&p));
    if (result == 0) mciSendCommandA(p.wDeviceID, MCI_CLOSE, 0, 0);
    return result;
  };
  const MCIERROR rows[][2] = {
      {mciSendCommandA(0, MCI_OPEN, 0, 0), MCIERR_NULL_PARAMETER_BLOCK},
      {open(0, "sequencer", nullptr), MCIERR_MISSING_PARAMETER},
      {open(MCI_OPEN_TYPE, "waveaudio", nullptr), MCIERR_INVALID_DEVICE_NAME},
      {open(MCI_OPEN_ELEMENT, nullptr, "/nonexistent/tune.mid"), MCIERR_FILE_NOT_FOUND},
      {open(MCI_OPEN_ELEMENT, nullptr, midi), 0},
      {open(MCI_OPEN_ELEMENT, nullptr, other.c_str()), MCIERR_INVALID_DEVICE_NAME},
      {open(MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, "Sequencer", other.c_str()), 0},
      {mciSendCommandA(device_, MCI_PLAY, MCI_FROM, 0), MCIERR_NULL_PARAMETER_BLOCK},
      {Send(0x0999, 0), MCIERR_UNRECOGNIZED_COMMAND},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i][0], rows[i][1]) << i;
  std::remove(midi);
  std::remove(other.c_str());
  EXPECT_EQ(sim::LiveObjects(), 1);  // an open device is a live object until closed
}

}  // namespace
