#include "app/pellora_dlg.h"

// After windows.h (through the header), whose types they use.
#include <commctrl.h>
#include <dbt.h>

#include <system_error>

#include "app/message_box.h"
#include "app/resource.h"
#include "app/win_app.h"
#include "io/text_win32.h"

namespace {

// WM_TIMER ids.
constexpr UINT_PTR kTrayRetryTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
// How often a tray icon the taskbar refused is offered again: at sign-in
// Explorer may be starting, and its TaskbarCreated may already have gone by.
constexpr UINT kTrayRetryMs = 2000;
// How long Exit waits for the keyboard's opening before the process ends
// without it (a hub that does not answer holds libusb for good).
constexpr UINT kExitWaitMs = 1000;

// The icon at the shell's size for it (SM_CXSMICON or SM_CXICON at the
// system's DPI), scaled down from the nearest larger image when it has none
// of that size; nullptr only when the resource is missing.
HICON loadAppIcon(int size) {
    HICON icon = nullptr;
    LoadIconMetric(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), size, &icon);
    return icon;
}

}  // namespace

CPelloraDlg::CPelloraDlg(RelayControl& engine)
    : Dialog(IDD_PELLORA_DIALOG),
      largeIcon(loadAppIcon(LIM_LARGE)),
      smallIcon(loadAppIcon(LIM_SMALL)),
      relay(engine) {}

CPelloraDlg::~CPelloraDlg() {
    // The window, which showed them, is gone by now.
    DestroyIcon(largeIcon);
    DestroyIcon(smallIcon);
}

void CPelloraDlg::DoDataExchange() {
    portList.attach(GetDlgItem(hwnd(), IDC_PORT_LIST));
}

bool CPelloraDlg::Route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Registered at run time, so not a case label.
    if (message == TrayIcon::taskbarCreatedMessage() && message != 0) {
        keepTrayIcon(tray.restore());
        return true;
    }
    switch (message) {
        case WM_DESTROY:
            OnDestroy();
            return true;
        case WM_CLOSE:
            OnClose();
            return true;
        case WM_TRAYNOTIFY:
            result = OnTrayNotify(wParam, lParam);
            return true;
        case WM_RELAYSTATUS:
            OnRelayStatus();
            return true;
        case WM_KEYBOARDOPENED:
            OnKeyboardOpened();
            return true;
        case WM_TIMER:
            OnTimer(wParam);
            return true;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam);
            return false;  // the default answer grants whatever was asked
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) {
                return false;
            }
            switch (LOWORD(wParam)) {
                case IDOK:
                    OnBnClickedOk();
                    return true;
                case IDCANCEL:  // the Cancel button and the Escape key
                    OnBnClickedCancel();
                    return true;
                default:
                    return false;
            }
        default:
            return false;
    }
}

BOOL CPelloraDlg::OnInitDialog() {
    Dialog::OnInitDialog();

    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    // A tool window stays out of the task bar's window switching; the
    // template's WS_EX_APPWINDOW stays set beside it.
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE,
                      GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    // Run elevated, the window would not get Explorer's TaskbarCreated, which
    // comes from a process of lower integrity (UIPI), without this.
    ChangeWindowMessageFilterEx(hwnd(), TrayIcon::taskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);

    // The listener runs on the worker, which this thread may be waiting for
    // in stop(): it only posts. One message at a time is enough, as its
    // handler reads the status as it is by then.
    const HWND window = hwnd();
    relay.setStatusListener([this, window] {
        if (!statusPosted.exchange(true)) {
            PostMessageW(window, WM_RELAYSTATUS, 0, 0);
        }
    });
    keepTrayIcon(
        tray.add(window, WM_TRAYNOTIFY, smallIcon, widen(trayTip(relay.status(), currentPort))));
    startOpeningKeyboard();

    listPorts();
    currentPort.clear();
    if (portList.count() < 2) {
        // Ends the program; the close request is posted only after the user
        // has dismissed the message, so the tray icon goes with the window.
        ending = true;
        showMessageBox(L"COM port not found.");
        PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        return FALSE;
    }

    const std::string wanted = portFromCommandLine(narrow(WinApp::current()->commandLine()));
    if (wanted.empty()) {
        ShowWindow(SW_SHOW);  // "(None)" selected, relay idle
        return TRUE;
    }
    // A port was asked for, listed or not: start in the tray. The relay starts
    // on a listed one once the keyboard's opening has returned.
    for (int i = 0; i < portList.count(); ++i) {
        const PortEntry* entry = entryAt(i);
        if (entry != nullptr && entry->name == wanted) {
            portList.setCurrentSelection(i);
            currentPort = wanted;
            break;
        }
    }
    startHidden();
    tray.setTip(widen(trayTip(relay.status(), currentPort)));
    return TRUE;
}

void CPelloraDlg::startOpeningKeyboard() {
    const HWND window = hwnd();
    try {
        keyboardOpener = std::thread([this, window] {
            relay.openKeyboard();
            PostMessageW(window, WM_KEYBOARDOPENED, 0, 0);
        });
    } catch (const std::system_error&) {
        // No thread to be had: open it here, late as that answers.
        relay.openKeyboard();
        PostMessageW(window, WM_KEYBOARDOPENED, 0, 0);
    }
}

void CPelloraDlg::OnKeyboardOpened() {
    if (keyboardOpener.joinable()) {
        keyboardOpener.join();
    }
    keyboardSettled = true;
    if (closeWanted) {
        finishClose();
        return;
    }
    if (ending) {
        return;  // a message that ends the program is up
    }
    const RelayStatus status = relay.status();
    if (status.keyboard == KeyboardState::Refused) {
        // There, but not to be had: waiting would not help without the user.
        ending = true;
        showMessageBox(L"Failed to initialize the X68000 Z keyboard.\n" +
                       widen(keyboardFailureAdvice(status)));
        PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        return;
    }
    // Notices tell of changes from the keyboard found now; an absent one is
    // waited for, as the tooltip says.
    troubles.assume(status);
    if (!currentPort.empty()) {
        relay.start(currentPort);  // chosen on the command line or with OK meanwhile
    }
    tray.setTip(widen(trayTip(relay.status(), currentPort)));
}

void CPelloraDlg::keepTrayIcon(bool added) {
    if (added) {
        KillTimer(hwnd(), kTrayRetryTimer);
    } else {
        SetTimer(hwnd(), kTrayRetryTimer, kTrayRetryMs, nullptr);
    }
}

void CPelloraDlg::OnTimer(WPARAM timer) {
    if (timer == kTrayRetryTimer) {
        keepTrayIcon(tray.restore());
    } else if (timer == kExitTimer) {
        // The keyboard's opening has not returned within a second of Exit: a
        // device that does not answer holds libusb. The system closes the
        // port and the keyboard with the process.
        ExitProcess(0);
    }
}

void CPelloraDlg::OnBnClickedOk() {
    std::string port;
    const int sel = portList.currentSelection();
    if (sel >= 1) {
        if (const PortEntry* entry = entryAt(sel)) {
            port = entry->name;
        }
    }
    const OkDecision decision = decideOk(port, currentPort);
    currentPort = decision.currentPort;
    if (!keyboardSettled) {
        // The relay is not to be touched yet; the end of the keyboard's
        // opening starts it on currentPort.
        tray.setTip(widen(trayTip(relay.status(), currentPort)));
        ShowWindow(SW_HIDE);
        return;
    }
    switch (decision.action) {
        case OkAction::Start:
            relay.start(currentPort);  // stops the running worker first
            break;
        case OkAction::Stop:
            relay.stop();
            break;
        case OkAction::Nothing:
            // The same port once more: one that could not be opened is tried
            // again, which is what the user's notice offered.
            if (!currentPort.empty() && relay.status().port == PortState::Failed) {
                relay.start(currentPort);
            }
            break;
    }
    ShowWindow(SW_HIDE);
}

void CPelloraDlg::OnBnClickedCancel() {
    // Only hides: the selection the user left stays, the relay is untouched.
    ShowWindow(SW_HIDE);
}

void CPelloraDlg::OnClose() {
    if (!keyboardSettled) {
        // The keyboard is still being opened, and the relay may not be
        // stopped before that ends: go from sight now, end when it does.
        closeWanted = true;
        ending = true;
        KillTimer(hwnd(), kTrayRetryTimer);
        tray.remove();
        ShowWindow(SW_HIDE);
        SetTimer(hwnd(), kExitTimer, kExitWaitMs, nullptr);
        return;
    }
    finishClose();
}

void CPelloraDlg::finishClose() {
    // The one way out of the dialog: the worker is joined and the port closed
    // before the icon goes, and the keyboard is closed later, in OnDestroy.
    KillTimer(hwnd(), kExitTimer);
    KillTimer(hwnd(), kTrayRetryTimer);
    relay.stop();
    // No worker runs now; the window's end must not be told.
    relay.setStatusListener({});
    tray.remove();
    EndDialog(IDCANCEL);  // directly: the IDCANCEL command only hides
}

void CPelloraDlg::OnDestroy() {
    relay.closeKeyboard();
    freePorts();
    Dialog::OnDestroy();
}

void CPelloraDlg::OnRelayStatus() {
    // Cleared before the status is read, so a change after the read posts
    // again; the exchange also makes the change that posted visible here.
    statusPosted.exchange(false);
    const RelayStatus status = relay.status();
    tray.setTip(widen(trayTip(status, currentPort)));
    if (!keyboardSettled) {
        return;  // the keyboard as first found is no news
    }
    if (const auto notice = troubles.update(status, currentPort)) {
        tray.notify(widen(notice->title), widen(notice->text), notice->trouble);
    }
}

void CPelloraDlg::OnDeviceChange(WPARAM event) {
    // Every top-level window gets this one: some device came or went, perhaps
    // the keyboard, which the relay then looks for at once.
    if (event == DBT_DEVNODES_CHANGED) {
        relay.devicesChanged();
    }
    // A port came or went (or some device did); a hidden window reads the
    // ports when it is shown.
    if ((event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE ||
         event == DBT_DEVNODES_CHANGED) &&
        IsWindowVisible(hwnd())) {
        refreshPorts();
    }
}

PortEntry* CPelloraDlg::entryAt(int index) const {
    return static_cast<PortEntry*>(portList.itemData(index));
}
