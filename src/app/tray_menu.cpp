// The tray icon's menu: the only way back to the window, and the way out.
#include "app/pellora_dlg.h"
#include "app/resource.h"
#include "app/ui_text.h"
#include "io/text_win32.h"

LRESULT CPelloraDlg::OnTrayNotify(WPARAM, LPARAM lParam) {
    // Only the right button's release opens the menu; clicks, double clicks
    // and moves do nothing.
    if (static_cast<UINT>(lParam) != WM_RBUTTONUP) {
        return 0;
    }
    // Made anew each time, so it never holds stale state.
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, ID_TRAY_SELECT_PORT, widen(uiText(IDS_MENU_SELECT_PORT)).c_str());
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ID_TRAY_EXIT, widen(uiText(IDS_MENU_EXIT)).c_str());

    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere.
    SetForegroundWindow(hwnd());
    const BOOL choice = TrackPopupMenu(menu, TPM_RETURNCMD, cursor.x, cursor.y, 0, hwnd(), nullptr);
    // A benign message forces the task switch that TrackPopupMenu's
    // documentation asks for: without it, the next menu from the tray may
    // close as soon as it opens.
    PostMessageW(hwnd(), WM_NULL, 0, 0);
    if (choice == ID_TRAY_SELECT_PORT) {
        // An adapter plugged in since the list was last read shows up now,
        // and the chosen port is selected.
        portsChanged();
        showCentred();
        SetForegroundWindow(hwnd());
    } else if (choice == ID_TRAY_EXIT) {
        PostMessageW(hwnd(), WM_EXITPELLORA, 0, 0);
    }
    DestroyMenu(menu);
    return 0;
}
