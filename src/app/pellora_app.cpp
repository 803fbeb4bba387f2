#include "app/pellora_app.h"

#include "app/message_box.h"
#include "app/pellora_dlg.h"
#include "app/resource.h"
#include "app/ui_text.h"
#include "input/hook_keyboard_win32.h"
#include "input/hook_mouse_win32.h"
#include "input/keymap_file.h"
#include "io/text_win32.h"
#include "relay/key_relay.h"

MadeRelay CPelloraApp::makeRelay(const RelaySetup& setup) {
    auto relay = std::make_shared<KeyRelay>();
    if (!setup.share) {
        return {relay, nullptr};
    }
    auto share = std::make_shared<ShareSwitch>(setup.switchKey, keyCalled(setup.switchKey));
    // The hooks' news wakes the worker; the relay outlives its keyboards.
    KeyRelay* const worker = relay.get();
    const KeyTranslator keys(layoutKeyMap(setup.layout), setup.layout);
    relay->addKeyboard([share, worker, keys](ByteQueue& queue, std::function<void()> queued) {
        return std::make_unique<HookKeyboard>(queue, std::move(queued), share, keys,
                                              [worker] { worker->wakeWorker(); });
    });
    if (!setup.mousePort.empty()) {
        relay->addMouse(std::make_unique<HookMouse>(share, 1.0, [worker] { worker->wakeWorker(); }),
                        setup.mousePort);
    }
    relay->setShare(share);
    return {relay, share};
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
        showMessageBox(widen(uiText(
            error == ERROR_ALREADY_EXISTS ? IDS_ALREADY_RUNNING : IDS_ALREADY_RUNNING_ELSEWHERE)));
        return FALSE;
    }
    WinApp::InitInstance();

    // A wrong command line is said before anything is taken, as the Linux
    // command says it; the program does not guess.
    const CommandLine line = parseCommandLine(narrow(commandLine()));
    RelaySetup setup;
    if (const auto wrong = setupFromCommandLine(line, setup)) {
        showMessageBox(widen(uiText(IDS_COMMAND_LINE_WRONG, {*wrong})));
        return FALSE;
    }

    // The relays the window makes are stopped and closed before it ends.
    CPelloraDlg dlg([this](const RelaySetup& wanted) { return makeRelay(wanted); }, line.port,
                    setup);
    setMainWindow(&dlg);
    dlg.DoModal();
    setMainWindow(nullptr);
    return FALSE;
}
