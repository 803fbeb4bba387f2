#include "app/message_box.h"

#include <windows.h>

#include "app/dialog.h"
#include "app/win_app.h"

void showMessageBox(const std::wstring& text) {
    const WinApp* app = WinApp::current();
    const Dialog* main = app != nullptr ? app->mainWindow() : nullptr;
    // Owned by the window only while the user sees it. A box owned by a
    // hidden window (a start in the tray) has no taskbar button, and at
    // sign-in may open behind other windows where nobody finds it; an
    // unowned one has its button.
    const HWND owner =
        main != nullptr && main->hwnd() != nullptr && IsWindowVisible(main->hwnd()) != FALSE
            ? main->hwnd()
            : nullptr;
    const std::wstring caption = app != nullptr ? app->title() : std::wstring();
    // Each of the program's messages reports why it ends: the exclamation
    // icon says so. In front, as a program started from the Startup folder
    // has no window the user is looking at.
    MessageBoxW(owner, text.c_str(), caption.c_str(),
                MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}
