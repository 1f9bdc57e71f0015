// The media control interface: MIDI devices driven by command messages. Only the
// commands the library and its tests send are known here; the rest are refused.
#pragma once

#include "platform/win32.h"

using MCIDEVICEID = UINT;
using MCIERROR = DWORD;

// Commands.
constexpr UINT MCI_OPEN = 0x0803;
constexpr UINT MCI_CLOSE = 0x0804;
constexpr UINT MCI_PLAY = 0x0806;
constexpr UINT MCI_STOP = 0x0808;

// Flags shared by every command.
constexpr DWORD MCI_NOTIFY = 0x00000001u;  // post MM_MCINOTIFY to dwCallback when the command completes
constexpr DWORD MCI_WAIT = 0x00000002u;
// MCI_PLAY.
constexpr DWORD MCI_FROM = 0x00000004u;  // start at dwFrom (milliseconds)
constexpr DWORD MCI_TO = 0x00000008u;    // end at dwTo (milliseconds)
// MCI_OPEN.
constexpr DWORD MCI_OPEN_ELEMENT = 0x00000200u;
constexpr DWORD MCI_OPEN_TYPE = 0x00002000u;

// wParam of MM_MCINOTIFY (lParam is the device ID).
constexpr WPARAM MCI_NOTIFY_SUCCESSFUL = 0x0001;
constexpr WPARAM MCI_NOTIFY_SUPERSEDED = 0x0002;
constexpr WPARAM MCI_NOTIFY_ABORTED = 0x0004;
constexpr WPARAM MCI_NOTIFY_FAILURE = 0x0008;

// Results: 0 is success.
constexpr MCIERROR MCIERR_BASE = 256;
constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
constexpr MCIERROR MCIERR_HARDWARE = MCIERR_BASE + 6;
constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
constexpr MCIERROR MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
constexpr MCIERROR MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
constexpr MCIERROR MCIERR_NULL_PARAMETER_BLOCK = MCIERR_BASE + 41;
constexpr MCIERROR MCIERR_MISSING_PARAMETER = MCIERR_BASE + 161;

struct MCI_GENERIC_PARMS {
  DWORD_PTR dwCallback;  // the window that gets MM_MCINOTIFY
};

struct MCI_PLAY_PARMS {
  DWORD_PTR dwCallback;
  DWORD dwFrom;
  DWORD dwTo;
};

struct MCI_OPEN_PARMSA {
  DWORD_PTR dwCallback;
  MCIDEVICEID wDeviceID;  // out: the new device
  const char* lpstrDeviceType;
  const char* lpstrElementName;
  const char* lpstrAlias;
};

// `params` points to the command's parameter block (or is 0 where the command needs
// none). Devices of type "sequencer" play MIDI files; an element name must name an
// existing file.
MCIERROR mciSendCommandA(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR params);
