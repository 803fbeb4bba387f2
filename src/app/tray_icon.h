// TrayIcon: the program's one icon in the taskbar's notification area, with
// its tooltip and balloons, as the shell's Shell_NotifyIconW keeps it.
//
// No notification version is set, so the owner window gets the icon's mouse
// messages in the classic form: its callback message with wParam the icon id
// and lParam the mouse message.
//
// Explorer forgets every icon when it restarts and then broadcasts the
// registered message taskbarCreatedMessage() to all top-level windows: the
// owner calls restore() on it, which adds the icon again with the tooltip it
// last set. A balloon is not repeated then.
//
// Lifetime: added by add(), removed by remove() or the destructor.
// Threads: the owner window's thread only. Each call waits for the shell to
// take the request (Shell_NotifyIconW sends it to Explorer), and on nothing else.
#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <string>

class TrayIcon {
public:
    TrayIcon() = default;
    ~TrayIcon() { remove(); }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon for owner. Returns whether the shell took it; when it did
    // not (no taskbar yet), restore() adds it once the taskbar is there.
    bool add(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip);
    // Adds the icon again after the taskbar was made anew; an icon the shell
    // still has is updated instead. Does nothing before add() or after remove().
    bool restore();
    // The tooltip, cut to 127 characters; kept for restore() even when the
    // shell cannot take it now.
    void setTip(const std::wstring& tip);
    // Shows a balloon from the icon: a warning, or information. The title is
    // cut to 63 characters, the text to 255.
    void notify(const std::wstring& title, const std::wstring& text, bool warning);
    // Takes the icon out of the notification area. Safe when it is not there.
    void remove();

    // RegisterWindowMessageW(L"TaskbarCreated"), registered once.
    static UINT taskbarCreatedMessage();

private:
    NOTIFYICONDATAW data{};  // what NIM_ADD gives, kept whole for every later call
    bool wanted = false;     // between add() and remove()
};
