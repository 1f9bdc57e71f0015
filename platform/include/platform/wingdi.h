// The GDI and user calls the library makes around DirectDraw surfaces: device contexts,
// BitBlt between them, and the screen's metrics.
#pragma once

#include "platform/win32.h"

struct HDC__;
using HDC = HDC__*;

constexpr DWORD SRCCOPY = 0x00CC0020;

// Copies a rectangle between two device contexts (surface DCs from
// IDirectDrawSurface7::GetDC), converting the pixel format. The rectangle is clipped to
// both surfaces. FALSE on failure, with the reason in GetLastError.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
// The display mode's size: the desktop's (sim::DisplayConfig) until SetDisplayMode.
int GetSystemMetrics(int index);

// ERROR_ codes BitBlt may leave in GetLastError.
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
