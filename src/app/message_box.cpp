#include "app/message_box.h"

#include <windows.h>

#include "app/dialog.h"
#include "app/win_app.h"

void showMessageBox(const std::wstring& text) {
    const WinApp* app = WinApp::current();
    const Dialog* owner = app != nullptr ? app->mainWindow() : nullptr;
    const HWND ownerWindow = owner != nullptr ? owner->hwnd() : nullptr;
    const std::wstring caption = app != nullptr ? app->title() : std::wstring();
    // Each of the program's messages reports why it ends: the exclamation
    // icon says so.
    MessageBoxW(ownerWindow, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
