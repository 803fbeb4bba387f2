#include "app/pellora_app.h"

#include "app/message_box.h"
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
        // Said, so that a start that seems to do nothing is not a mystery
        // (the other instance may be in a session the user cannot see);
        // nothing is handed to the running instance.
        showMessageBox(error == ERROR_ALREADY_EXISTS
                           ? L"Pellora is already running (perhaps in another session): only "
                             L"one runs on this computer at a time."
                           : L"Pellora is already running in another user's session: only one "
                             L"runs on this computer at a time.");
        return FALSE;
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
