#include "app/pellora_app.h"

#include "app/pellora_dlg.h"

CPelloraApp theApp;

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

    CPelloraDlg dlg;
    setMainWindow(&dlg);
    dlg.DoModal();
    setMainWindow(nullptr);
    return FALSE;
}
