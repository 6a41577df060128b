// The program's private window messages, reserved here and nowhere else.
// Everything from WM_APP up is ours; ranges are given out in this file.
#pragma once
#include <windows.h>

// A child's notification (WM_COMMAND, WM_NOTIFY, WM_DRAWITEM, WM_CTLCOLOR...)
// that its parent did not take comes back to the child as
// kMsgReflectBase + the original message number, with the same parameters.
// Original numbers below 0x1000 (all the notifications reflected) fit.
inline constexpr UINT kMsgReflectBase = WM_APP + 0x1000;
inline constexpr UINT Reflected(UINT message) { return kMsgReflectBase + message; }

// WM_APP + 0 to WM_APP + 0xFFF: single private messages of the application,
// numbered from kMsgFirstApplication and each added here.
inline constexpr UINT kMsgFirstApplication = WM_APP;

// The Create page's worker posts this to the page when a creation has ended;
// the page shows the outcome on its own thread.
inline constexpr UINT kMsgCreationFinished = WM_APP + 1;
