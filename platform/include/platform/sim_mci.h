// Test controls of the MCI stand-in (included by platform/sim.h). sim::Reset() closes
// every device silently and puts these back to their defaults. Fail a command with
// FailCall("mciSendCommandA", n): it returns MCIERR_HARDWARE and changes nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/mci.h"

namespace sim {

// One mciSendCommandA call as it was made, with the fields of its parameter block.
struct MciCall {
  MCIDEVICEID device = 0;
  UINT message = 0;
  DWORD_PTR flags = 0;
  bool hasParams = false;
  DWORD_PTR callback = 0;  // dwCallback, when there is a block
  DWORD from = 0;          // MCI_PLAY_PARMS only
  DWORD to = 0;
  MCIERROR result = 0;
};
std::vector<MciCall> MciCalls();
void ClearMciCalls();

// How long a play from the start runs, in milliseconds of the virtual clock, for
// devices opened from now on (default 0: a play runs until EndMciPlayback). A play
// that reaches its end stops and posts MCI_NOTIFY_SUCCESSFUL when it was asked to
// notify. Plays end by themselves only while the virtual clock is in use.
void SetMciPlayLength(DWORD milliseconds);

// Ends the device's play now, as if it had reached its end. False when the device is
// not open or not playing.
bool EndMciPlayback(MCIDEVICEID device);

bool MciDeviceOpen(MCIDEVICEID device);
bool MciDevicePlaying(MCIDEVICEID device);
// Open devices (also counted by sim::LiveObjects).
int LiveMciDevices();

}  // namespace sim
