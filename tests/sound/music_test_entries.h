// Nothing in the library makes a music handle or opens a capture file. These fill the
// music records and globals, and the capture globals, exactly as the music and capture
// operations expect them, so that tests can reach those operations.
#pragma once

#include <cstdint>

#include "platform/mci.h"

namespace gamelib {

// A new music handle holding a copy of the MIDI image (in library memory); not
// playing. -1 when the sound system is not started, the table is full or memory runs out.
int AddMusicHandleForTest(const void* midiData, std::uint32_t midiDataBytes);

// Plays the open MCI `device` from its start for the music handle, with the end
// notification going to the main window, as a music play would: the device, the
// playing flags and the loop flag are set. 0, or -1 for an invalid handle or a play
// that MCI refuses (nothing is changed then).
int PlayMusicHandleForTest(int handle, MCIDEVICEID device, int loop);

// Creates (or truncates) the capture file with room for its header and opens the
// capture: flag 1, no frames written. -1 when a capture is already open or the file
// cannot be created.
int OpenWaveCaptureFileForTest(const char* fileName);
// Appends 16-bit stereo frames (2 × frameCount samples) to the open capture and
// counts them. 0, or -1 when no capture is open or the write fails.
int WriteWaveCaptureForTest(const std::int16_t* frames, std::uint32_t frameCount);

}  // namespace gamelib
