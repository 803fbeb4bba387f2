// CPelloraApp: the tray program's application object. Its start-up guards the
// single instance, then runs the port-selection window modally as the main
// window; the process ends when that window does.
#pragma once

#include "app/win_app.h"

class CPelloraApp : public WinApp {
public:
    // The machine-wide guard: every session and user of the machine shares it.
    static constexpr const wchar_t* kInstanceMutexName = L"Global\\Pellora_SingleInstance";

    // Always FALSE: there is no message loop after the window.
    BOOL InitInstance() override;
};

extern CPelloraApp theApp;
