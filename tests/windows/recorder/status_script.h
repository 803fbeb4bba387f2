// The status a test makes the test variant's relay report, posted to the
// window as this registered message: wParam MAKEWPARAM(KeyboardState,
// KeyboardConnection::Failure), lParam MAKELPARAM(PortState, the Win32 error the port
// failed with, 0 for none). The relay takes it on the window thread, from the
// window's queue, and tells its listener as the engine's worker would.
#pragma once

#include <windows.h>

#include <string>

inline UINT statusScriptMessage() {
    return RegisterWindowMessageW(L"PelloraTestRelayStatus");
}

// Taps of the switch key the test makes the variant's shared keyboard take
// (wParam: how many, all at one moment: two switch), on the window thread.
inline UINT shareTapsMessage() {
    return RegisterWindowMessageW(L"PelloraTestShareTaps");
}

// The system's text for the port's error, as the serial port reports it.
inline std::wstring systemMessage(DWORD code) {
    wchar_t text[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, 256, nullptr);
    std::wstring message(text);
    return message.erase(message.find_last_not_of(L"\r\n") + 1);
}
