// Looking at and acting on other programs' windows the way a user would: finding
// them, reading their texts, clicking, typing, and taking screenshots.
// Everything waits with a deadline instead of sleeping a fixed time, so a slow
// machine makes a test slower, not flaky, and a broken program fails it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Polls cond every 20 ms until it holds or timeoutMs passes; returns its last value.
bool waitUntil(const std::function<bool()>& cond, DWORD timeoutMs = 10000);

// Top-level windows of a process, optionally only those of a window class.
std::vector<HWND> topWindows(DWORD processId, const std::wstring& className = L"");
// The first top-level window of the process with that class and caption, or nullptr.
HWND findWindow(DWORD processId, const std::wstring& className, const std::wstring& caption);

std::wstring windowText(HWND window);
std::wstring className(HWND window);
// Texts of a window's child controls of one class, in z-order.
std::vector<std::wstring> childTexts(HWND parent, const std::wstring& childClass);

// Entries of a combo box, and the text of its selection ("" when none).
std::vector<std::wstring> comboEntries(HWND combo);
std::wstring comboSelectionText(HWND combo);

// Input as the user's mouse and keyboard produce it (SendInput), in screen pixels.
void clickAt(POINT screen, bool rightButton = false);
// A key, with a modifier (VK_MENU for Alt) held around it when one is given.
void pressKey(WORD virtualKey, WORD modifier = 0);

// Wine's "System Tray" window holding the notification icons; nullptr when
// there is no icon.
HWND trayWindow();
// Centre of the first icon in that tray, in screen pixels; (-1, -1) when none.
POINT firstTrayIconCentre();
// Whether the first icon in that tray shows amber, the keys of the icon for
// this computer's keyboard and mouse given to the X68000, as on the screen now.
bool trayIconIsAmber();
// What that tray shows of its icons: the tooltip, which shows while the mouse
// rests on the first icon (this puts it there), or a balloon. Waits until the
// text is expected or 10 s pass; returns the text shown last ("" for none), and
// the balloon's window in *window (a balloon replaced by another is a new one).
std::wstring trayTipText(bool balloon, const std::wstring& expected, HWND* window = nullptr);

// The whole screen, every window painted, saved as a 24-bit BMP file. Returns
// false on failure.
bool saveScreenshot(const std::wstring& path);
