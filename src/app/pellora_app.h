// CPelloraApp: the tray program's application object. Its start-up guards the
// single instance (a second start says that Pellora is already running, and
// ends), reads the command line (a wrong one is said, and the program ends),
// then runs the port-selection window modally as the main window; the process
// ends when that window does. The program's one instance, theApp, is defined
// in the_app.cpp.
#pragma once

#include <memory>

#include "app/relay_setup.h"
#include "app/win_app.h"
#include "relay/relay_control.h"

class CPelloraApp : public WinApp {
public:
    // The machine-wide guard: every session and user of the machine shares it.
    static constexpr const wchar_t* kInstanceMutexName = L"Global\\Pellora_SingleInstance";

    // Always FALSE: there is no message loop after the window.
    BOOL InitInstance() override;

protected:
    // The relay engine for a setup: a KeyRelay of the X68000 Z keyboard, and
    // with sharing this computer's keyboards (HookKeyboard) and mouse
    // (HookMouse) too. The window calls it at its start and whenever the
    // setup changes. The tray program's test variant derives its application
    // object to hand the window a recording stand-in.
    virtual MadeRelay makeRelay(const RelaySetup& setup);
};
