#include "record_log.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr const wchar_t* kCaption = L"Select X68000 Z Keyboard virtual com port";

BOOL CALLBACK matchDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) {
        return TRUE;
    }
    wchar_t text[64] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    if (std::wcscmp(text, kCaption) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// NIM_MODIFY that changes nothing succeeds exactly when the icon exists.
bool trayIconExists() {
    const HWND dialog = findMainDialog();
    if (dialog == nullptr) {
        return false;
    }
    NOTIFYICONDATAW probe{};
    probe.cbSize = sizeof(probe);
    probe.hWnd = dialog;
    probe.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

}  // namespace

HWND findMainDialog() {
    // From any thread: the relay's calls come from the keyboard's opening too.
    HWND found = nullptr;
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void recordEvent(const std::string& event) {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"PELLORA_TEST_LOG", path, MAX_PATH) == 0) {
        return;
    }
    const std::string line = event + (trayIconExists() ? " tray=1\n" : " tray=0\n");
    FILE* file = _wfopen(path, L"ab");
    if (file == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}
