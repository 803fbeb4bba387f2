// The private messages of the port-selection window (CPelloraDlg). They are
// WM_APP-based: WM_USER + n belongs to the window class, and a dialog's own
// class uses WM_USER and WM_USER + 1 and + 2 (DM_GETDEFID, DM_SETDEFID,
// DM_REPOSITION). Each is posted to the window, none is sent.
#pragma once

#include <windows.h>

// The tray icon's notifications: wParam the icon id, lParam the mouse message.
constexpr UINT WM_TRAYNOTIFY = WM_APP + 1;
// The relay's status changed; posted by the status listener, no parameters.
constexpr UINT WM_RELAYSTATUS = WM_APP + 2;
// openKeyboard() has returned on the thread of RelayCalls; no parameters.
constexpr UINT WM_KEYBOARDOPENED = WM_APP + 3;
// Exit's stop(), then its closeKeyboard(), has returned; no parameters.
constexpr UINT WM_RELAYSTOPPED = WM_APP + 4;
constexpr UINT WM_KEYBOARDCLOSED = WM_APP + 5;
// A relay call failed; the window reads why from its list of failures.
constexpr UINT WM_RELAYFAILED = WM_APP + 6;
// Ends the program, as Exit in the tray menu does: the one way out. WM_CLOSE
// (Alt+F4, the close box) only hides the window. No parameters.
constexpr UINT WM_EXITPELLORA = WM_APP + 7;
