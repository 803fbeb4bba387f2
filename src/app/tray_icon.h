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
// The icon is drawn at the size the taskbar shows small icons at its
// monitor's DPI now, not at the system's DPI of the sign-in: it is loaded
// again at that size when the icon is restored (Explorer sends
// TaskbarCreated after a change of the display's scale too) and on
// refreshIcon() (the owner's WM_DPICHANGED).
//
// Lifetime: added by add(), removed by remove() or the destructor, which
// also frees the icon it loaded.
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
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon for owner, the image the icon resource iconId of the
    // executable holds. Returns whether the shell took it; when it did not
    // (no taskbar yet), restore() adds it once the taskbar is there.
    bool add(HWND owner, UINT callbackMessage, int iconId, const std::wstring& tip);
    // Adds the icon again after the taskbar was made anew, at the size the
    // taskbar wants now; an icon the shell still has is updated instead. Does
    // nothing before add() or after remove().
    bool restore();
    // Loads the image again when the taskbar's small icon size has changed,
    // and shows it.
    void refreshIcon();
    // Shows another image, the icon resource iconId, from now on (restore()
    // too). Does nothing before add().
    void setImage(int iconId);
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
    // Loads the image at the taskbar's size now into data.hIcon, unless it
    // has that size already; returns the image it replaced (to be freed once
    // the shell has the new one), or nullptr.
    HICON loadImage();

    NOTIFYICONDATAW data{};  // what NIM_ADD gives, kept whole for every later call
    bool wanted = false;     // between add() and remove()
    int imageId = 0;         // the icon resource
    int imageSize = 0;       // the pixels of data.hIcon, which this object owns
};
