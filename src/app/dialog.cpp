#include "app/dialog.h"

#include "app/ui_text.h"

Dialog::Dialog(int id) : templateId(id) {}

INT_PTR Dialog::DoModal() {
    // The template in the program's language, not in the one DialogBoxParamW
    // would look for (the thread's).
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found =
        FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(templateId), uiLanguage());
    const auto* dialogTemplate =
        found != nullptr
            ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)))
            : nullptr;
    if (dialogTemplate == nullptr) {
        return -1;
    }
    return DialogBoxIndirectParamW(module, dialogTemplate, nullptr, &Dialog::dialogProc,
                                   reinterpret_cast<LPARAM>(this));
}

BOOL Dialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

bool Dialog::Route(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

BOOL Dialog::ShowWindow(int command) {
    if (command != SW_HIDE) {
        holdHidden = false;
    }
    return ::ShowWindow(window, command);
}

void Dialog::EndDialog(INT_PTR result) {
    ::EndDialog(window, result);
}

INT_PTR CALLBACK Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The object rides along as the creation parameter and stays in the
        // window's user slot, so every later message finds it.
        auto* self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT and the like)
    }
    LRESULT result = 0;
    const bool handled = self->Route(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        self->window = nullptr;
    }
    if (message == WM_WINDOWPOSCHANGING && self->holdHidden) {
        // DialogBoxIndirectParamW shows its dialog when its queue first runs
        // empty.
        auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
        position->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
        position->flags |= SWP_NOACTIVATE;
    }
    if (!handled) {
        return FALSE;
    }
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
