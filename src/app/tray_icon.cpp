#include "app/tray_icon.h"

#include <cwchar>

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full NOTIFYICONDATAW, balloon fields included");

bool TrayIcon::add(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip) {
    data = NOTIFYICONDATAW{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = icon;
    lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));
    wanted = true;
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

bool TrayIcon::restore() {
    if (!wanted) {
        return false;
    }
    // The message also comes when the taskbar only changed (its DPI, say) and
    // kept its icons: adding fails then, and the icon is brought up to date.
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE ||
           Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void TrayIcon::setTip(const std::wstring& tip) {
    wchar_t cut[ARRAYSIZE(data.szTip)];
    lstrcpynW(cut, tip.c_str(), ARRAYSIZE(cut));
    if (std::wcscmp(cut, data.szTip) == 0) {
        return;  // a shown tooltip would be drawn again for nothing
    }
    lstrcpynW(data.szTip, cut, ARRAYSIZE(data.szTip));
    if (!wanted) {
        return;
    }
    NOTIFYICONDATAW change = data;
    change.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &change);
}

void TrayIcon::notify(const std::wstring& title, const std::wstring& text, bool warning) {
    if (!wanted) {
        return;
    }
    // A copy: the record kept for later calls must not carry the balloon.
    NOTIFYICONDATAW balloon = data;
    balloon.uFlags = NIF_INFO;
    lstrcpynW(balloon.szInfoTitle, title.c_str(), ARRAYSIZE(balloon.szInfoTitle));
    lstrcpynW(balloon.szInfo, text.c_str(), ARRAYSIZE(balloon.szInfo));
    balloon.dwInfoFlags = warning ? NIIF_WARNING : NIIF_INFO;
    balloon.uTimeout = 10000;  // honoured only before Vista; later systems decide
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void TrayIcon::remove() {
    if (!wanted) {
        return;
    }
    wanted = false;
    Shell_NotifyIconW(NIM_DELETE, &data);
}

UINT TrayIcon::taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}
