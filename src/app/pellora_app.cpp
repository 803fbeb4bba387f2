#include "app/pellora_app.h"

#include "app/pellora_dlg.h"
#include "relay/key_relay.h"

std::unique_ptr<RelayControl> CPelloraApp::makeRelay() {
    return std::make_unique<KeyRelay>();
}

BOOL CPelloraApp::InitInstance() {
    // The handle is deliberately never kept nor closed: the mutex must live
    // exactly as long as this process, and the system releases it at exit,
    // however the process ends. A failure other than "already exists" lets the
    // program run unguarded rather than not at all.
    CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        return FALSE;  // silently: nothing is handed to the running instance
    }
    WinApp::InitInstance();

    // The relay outlives the window, whose OnClose has stopped its worker and
    // whose OnDestroy has closed its keyboard.
    const std::unique_ptr<RelayControl> relay = makeRelay();
    CPelloraDlg dlg(*relay);
    setMainWindow(&dlg);
    dlg.DoModal();
    setMainWindow(nullptr);
    return FALSE;
}
