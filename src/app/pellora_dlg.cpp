#include "app/pellora_dlg.h"

// After windows.h (through the header), whose types it uses.
#include <dbt.h>

#include "app/message_box.h"
#include "app/resource.h"
#include "app/win_app.h"
#include "io/text_win32.h"

CPelloraDlg::CPelloraDlg(RelayControl& engine)
    : Dialog(IDD_PELLORA_DIALOG),
      appIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      relay(engine) {}

void CPelloraDlg::DoDataExchange() {
    portList.attach(GetDlgItem(hwnd(), IDC_PORT_LIST));
}

bool CPelloraDlg::Route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Registered at run time, so not a case label.
    if (message == TrayIcon::taskbarCreatedMessage() && message != 0) {
        tray.restore();
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

    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIcon));
    // A tool window stays out of the task bar's window switching; the
    // template's WS_EX_APPWINDOW stays set beside it.
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE,
                      GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) | WS_EX_TOOLWINDOW);

    // The listener runs on the worker, which this thread may be waiting for
    // in stop(): it only posts. One message at a time is enough, as its
    // handler reads the status as it is by then.
    const HWND window = hwnd();
    relay.setStatusListener([this, window] {
        if (!statusPosted.exchange(true)) {
            PostMessageW(window, WM_RELAYSTATUS, 0, 0);
        }
    });
    tray.add(window, WM_TRAYNOTIFY, appIcon, widen(trayTip(relay.status(), currentPort)));

    // Both failures end the program; the close request is posted only after
    // the user has dismissed the message, so OnClose removes the tray icon.
    if (!relay.openKeyboard()) {
        showMessageBox(L"Failed to initialize the X68000 Z keyboard.");
        PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        return FALSE;
    }
    // Notices tell of changes from the keyboard found now.
    troubles.assume(relay.status());
    listPorts();
    currentPort.clear();
    if (portList.count() < 2) {
        showMessageBox(L"COM port not found.");
        PostMessageW(hwnd(), WM_CLOSE, 0, 0);
        return FALSE;
    }

    const std::string wanted = portFromCommandLine(narrow(WinApp::current()->commandLine()));
    if (wanted.empty()) {
        return TRUE;  // shown, "(None)" selected, relay idle
    }
    for (int i = 0; i < portList.count(); ++i) {
        const PortEntry* entry = entryAt(i);
        if (entry != nullptr && entry->name == wanted) {
            portList.setCurrentSelection(i);
            currentPort = wanted;
            relay.start(currentPort);
            break;
        }
    }
    // A port was asked for, listed or not: start in the tray. The hide is
    // posted so that it happens after the dialog manager has shown the window
    // at the end of initialisation.
    PostMessageW(hwnd(), WM_SHOWWINDOW, FALSE, SW_OTHERUNZOOM);
    return TRUE;
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
    // The one way out of the dialog: the worker is joined and the port closed
    // before the icon goes, and the keyboard is closed later, in OnDestroy.
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
    if (const auto notice = troubles.update(status, currentPort)) {
        tray.notify(widen(notice->title), widen(notice->text), notice->trouble);
    }
}

void CPelloraDlg::OnDeviceChange(WPARAM event) {
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
