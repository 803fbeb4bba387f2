#include "app/pellora_app.h"

#include "app/pellora_dlg.h"
#include "relay/key_relay.h"

std::unique_ptr<RelayControl> CPelloraApp::makeRelay() {
    return std::make_unique<KeyRelay>();
}

BOOL CPelloraApp::InitInstance() {
    // The handle is deliberately never kept nor closed: the mutex must live
    // exactly as long as this process, and the system releases it at exit,
    // however the process ends. "Access denied" means the mutex exists but
    // belongs to another user's session, whose instance holds the keyboard.
    // Any other failure lets the program run unguarded rather than not at all.
    const HANDLE guard = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (guard == nullptr && error == ERROR_ACCESS_DENIED)) {
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
