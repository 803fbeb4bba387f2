#include "app/pellora_dlg.h"

// After windows.h (through the header), whose types they use.
#include <commctrl.h>
#include <dbt.h>
#include <wtsapi32.h>

#include <exception>
#include <optional>

#include "app/message_box.h"
#include "app/resource.h"
#include "app/ui_text.h"
#include "app/win_app.h"
#include "io/text_win32.h"

namespace {

// WM_TIMER ids.
constexpr UINT_PTR kTrayRetryTimer = 1;
constexpr UINT_PTR kExitTimer = 2;
constexpr UINT_PTR kPortWaitTimer = 3;
// How often a tray icon the taskbar refused is offered again: at sign-in
// Explorer may be starting, and its TaskbarCreated may already have gone by.
constexpr UINT kTrayRetryMs = 2000;
// How long Exit waits for the relay's calls (the keyboard's opening, the
// worker's stop, the keyboard's closing) before the process ends without them
// (a hub that does not answer holds libusb for good).
constexpr UINT kExitWaitMs = 1000;
// A port waited for that has appeared is listed as soon as the system knows
// the device, which may be before its driver takes requests: a start that
// could not open it is made again this much later, this many starts in all,
// before it is told as a port that cannot be opened.
constexpr UINT kArrivalRetryMs = 1000;
constexpr int kArrivalStarts = 5;

// The one window, for the desktop's news, which comes without a context.
CPelloraDlg* theWindow = nullptr;

// The entries of the list of what to relay, in its order.
constexpr unsigned kSourceEntries[] = {IDS_SOURCE_X68000_Z, IDS_SOURCE_COMPUTER};

// The icon at the shell's size for it (SM_CXSMICON or SM_CXICON at the
// system's DPI), scaled down from the nearest larger image when it has none
// of that size; nullptr only when the resource is missing.
HICON loadAppIcon(int size) {
    HICON icon = nullptr;
    LoadIconMetric(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), size, &icon);
    return icon;
}

}  // namespace

CPelloraDlg::CPelloraDlg(RelayMaker maker, std::string port, const RelaySetup& wanted)
    : Dialog(IDD_PELLORA_DIALOG),
      largeIcon(loadAppIcon(LIM_LARGE)),
      smallIcon(loadAppIcon(LIM_SMALL)),
      makeRelay(std::move(maker)),
      setup(wanted),
      // Runs on the worker, which stop() may be waiting for: it only posts.
      // One message at a time is enough, as its handler reads the status as
      // it is by then.
      statusListener([this] {
          if (!statusPosted.exchange(true)) {
              PostMessageW(messageTarget, WM_RELAYSTATUS, 0, 0);
          }
      }),
      currentPort(std::move(port)),
      calls([this](const std::string& reason) { noteFailure({}, reason); }) {}

std::shared_ptr<RelayControl> CPelloraDlg::relay() const {
    std::lock_guard lock(relayMutex);
    return relayNow;
}

std::shared_ptr<ShareSwitch> CPelloraDlg::shareSwitch() const {
    std::lock_guard lock(relayMutex);
    return shareNow;
}

void CPelloraDlg::takeRelay(MadeRelay made) {
    std::lock_guard lock(relayMutex);
    relayNow = std::move(made.relay);
    shareNow = std::move(made.share);
}

CPelloraDlg::~CPelloraDlg() {
    // The window, which showed them, is gone by now.
    DestroyIcon(largeIcon);
    DestroyIcon(smallIcon);
}

void CPelloraDlg::DoDataExchange() {
    portList.attach(GetDlgItem(hwnd(), IDC_PORT_LIST));
    sourceList.attach(GetDlgItem(hwnd(), IDC_SOURCE_LIST));
    mousePortList.attach(GetDlgItem(hwnd(), IDC_MOUSE_PORT_LIST));
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
            // Alt+F4 (the system menu's Close) and the close box: the window
            // only goes out of sight, as with Cancel. The program ends
            // through Exit in the tray menu alone.
            OnBnClickedCancel();
            return true;
        case WM_EXITPELLORA:
            OnExit();
            return true;
        case WM_DPICHANGED:
            // The display's scale changed (or the window moved to another
            // monitor): the tray icon is drawn at the taskbar's size again.
            tray.refreshIcon();
            return false;  // the dialog's own handling takes the new size
        case WM_TRAYNOTIFY:
            result = OnTrayNotify(wParam, lParam);
            return true;
        case WM_RELAYSTATUS:
            OnRelayStatus();
            return true;
        case WM_KEYBOARDOPENED:
            OnKeyboardOpened();
            return true;
        case WM_RELAYSTOPPED:
            OnRelayStopped();
            return true;
        case WM_KEYBOARDCLOSED:
            // The last of Exit's calls: the dialog ends.
            KillTimer(hwnd(), kExitTimer);
            EndDialog(IDCANCEL);  // directly: the IDCANCEL command only hides
            return true;
        case WM_RELAYFAILED:
            OnRelayFailed();
            return true;
        case WM_TIMER:
            OnTimer(wParam);
            return true;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam);
            return false;  // the default answer grants whatever was asked
        case WM_WTSSESSION_CHANGE:
            // Locked, or its console taken away: nobody here types on the
            // X68000 now.
            if (wParam == WTS_SESSION_LOCK || wParam == WTS_CONSOLE_DISCONNECT ||
                wParam == WTS_REMOTE_DISCONNECT) {
                giveKeyboardBack();
            }
            return true;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_SOURCE_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
                OnSourceChanged();
                return true;
            }
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
    messageTarget = hwnd();
    theWindow = this;
    // Made here, as nothing of it waits for a device before it is opened.
    takeRelay(makeRelay(setup));
    // The session's lock and the secure desktop take the input where no hook
    // follows it: a shared keyboard comes back to the computer then.
    WTSRegisterSessionNotification(hwnd(), NOTIFY_FOR_THIS_SESSION);
    desktopHook = SetWinEventHook(EVENT_SYSTEM_DESKTOPSWITCH, EVENT_SYSTEM_DESKTOPSWITCH, nullptr,
                                  desktopSwitched, 0, 0, WINEVENT_OUTOFCONTEXT);

    // The port the command line asks for: a listed one is used, one that is
    // not there is waited for (when it is a COM port's name at all).
    const std::string wanted = currentPort;
    currentPort.clear();
    refreshPorts();
    if (!wanted.empty() && positionOf(PortEntry{wanted, {}}) >= 0) {
        currentPort = wanted;
    } else if (isComPortName(wanted)) {
        currentPort = wanted;
        portWait = PortWait::Absent;
    }
    if (!currentPort.empty()) {
        refreshPorts();  // selects it, listed as not present when it is not there
    }
    for (const unsigned entry : kSourceEntries) {
        sourceList.addString(widen(uiText(entry)));
    }
    showSetup();
    trayImage = IDR_MAINFRAME;
    keepTrayIcon(tray.add(hwnd(), WM_TRAYNOTIFY, trayImage, widen(statusTip(relay()->status()))));
    calls.post([this] {
        relay()->setStatusListener(statusListener);
        relay()->openKeyboard();
        PostMessageW(messageTarget, WM_KEYBOARDOPENED, 0, 0);
    });

    // With no COM port at all the program waits in the tray for one, as it
    // does for the keyboard: the tooltip says so, and the list fills as ports
    // come.
    if (wanted.empty()) {
        showCentred();  // "(None)" selected, relay idle
        return TRUE;
    }
    // A port was asked for, listed or not: start in the tray. The relay starts
    // on a listed one once the keyboard's opening has returned, on one waited
    // for when it appears.
    startHidden();
    return TRUE;
}

void CPelloraDlg::startRelay(const std::string& port) {
    calls.post([this, port] {
        try {
            relay()->start(port);  // stops the running worker first
        } catch (const std::exception& e) {
            // What start() had begun is undone: the relay is idle.
            relay()->stop();
            noteFailure(port, e.what());
        }
    });
}

void CPelloraDlg::stopRelay() {
    calls.post([this] { relay()->stop(); });
}

void CPelloraDlg::noteFailure(const std::string& port, const std::string& reason) {
    {
        std::lock_guard lock(failureMutex);
        failures.push_back({port, reason});
    }
    PostMessageW(messageTarget, WM_RELAYFAILED, 0, 0);
}

void CPelloraDlg::OnRelayFailed() {
    std::vector<CallFailure> taken;
    {
        std::lock_guard lock(failureMutex);
        taken.swap(failures);
    }
    for (const CallFailure& failure : taken) {
        if (!failure.port.empty() && failure.port == currentPort) {
            currentPort.clear();  // as the relay is now: idle
            stopAwaitingPort();
            refreshPorts();
        }
        const TrayNotice notice = callFailureNotice(failure.port, failure.reason);
        tray.notify(widen(notice.title), widen(notice.text), notice.trouble);
    }
    showStatusTip();
}

void CPelloraDlg::OnKeyboardOpened() {
    keyboardSettled = true;
    if (ending) {
        return;  // a message that ends the program is up, or Exit is under way
    }
    const RelayStatus status = relay()->status();
    // Shared, this computer's keyboard types whatever the X68000 Z keyboard
    // does: one that is refused is no reason to end.
    if (!setup.share && status.keyboard().state == KeyboardState::Refused) {
        // There, but not to be had: waiting would not help without the user.
        ending = true;
        showMessageBox(widen(uiText(IDS_KEYBOARD_INIT_FAILED, {keyboardFailureAdvice(status)})));
        PostMessageW(hwnd(), WM_EXITPELLORA, 0, 0);
        return;
    }
    // Notices tell of changes from the keyboard found now; an absent one is
    // waited for, as the tooltip says.
    troubles.assume(status);
    if (const auto refused = sharedKeyboardRefusedNotice(status)) {
        tray.notify(widen(refused->title), widen(refused->text), refused->trouble);
    }
    if (portWait != PortWait::None) {
        startAwaitedPort();
    } else if (!currentPort.empty()) {
        startRelay(currentPort);  // chosen on the command line or with OK meanwhile
    }
    showStatusTip();
}

std::string CPelloraDlg::statusTip(const RelayStatus& status) const {
    const auto share = shareSwitch();
    return trayTip(status, currentPort, portList.count() > 1, portWait != PortWait::None,
                   share ? shareLine(share->side(), share->switchKeyName()) : std::string());
}

void CPelloraDlg::showStatusTip() {
    tray.setTip(widen(statusTip(relay()->status())));
    showShareIcon();
}

void CPelloraDlg::showShareIcon() {
    const auto share = shareSwitch();
    const int image =
        share && share->side() == ShareSwitch::Side::X68000 ? IDR_SHARED_X68000 : IDR_MAINFRAME;
    if (image != trayImage) {
        trayImage = image;
        tray.setImage(image);
    }
}

void CPelloraDlg::giveKeyboardBack() {
    if (const auto share = shareSwitch()) {
        share->toComputer();  // its listener tells the window, by a status
    }
}

void CALLBACK CPelloraDlg::desktopSwitched(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
    // Another desktop has the input (the secure desktop of a UAC prompt or
    // of Ctrl+Alt+Del, the lock screen), or this one has it back: either
    // way, no key typed meanwhile reached the hooks.
    if (theWindow != nullptr) {
        theWindow->giveKeyboardBack();
    }
}

void CPelloraDlg::showCentred() {
    // Where the user is: on the monitor of the cursor, which the tray menu
    // was just opened with. A window already shown stays where it was put.
    POINT cursor{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!IsWindowVisible(hwnd()) && GetCursorPos(&cursor) &&
        GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor)) {
        // Moved onto a monitor of another scale, the window takes that
        // monitor's size (WM_DPICHANGED) and is centred once more at it.
        for (int pass = 0; pass < 2; ++pass) {
            RECT window{};
            GetWindowRect(hwnd(), &window);
            const RECT& work = monitor.rcWork;
            const int x = work.left + (work.right - work.left - (window.right - window.left)) / 2;
            const int y = work.top + (work.bottom - work.top - (window.bottom - window.top)) / 2;
            if (x == window.left && y == window.top) {
                break;
            }
            SetWindowPos(hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    ShowWindow(SW_SHOW);
}

void CPelloraDlg::portsChanged() {
    refreshPorts();
    if (portWait == PortWait::Arrived && !currentPortPresent) {
        // Gone again before it could be opened: waited for as before.
        portWait = PortWait::Absent;
        KillTimer(hwnd(), kPortWaitTimer);
    }
    startAwaitedPort();
    showStatusTip();
}

void CPelloraDlg::startAwaitedPort() {
    if (portWait != PortWait::Absent || !currentPortPresent || !keyboardSettled || ending) {
        return;
    }
    portWait = PortWait::Arrived;
    arrivalStarts = 1;
    startRelay(currentPort);
}

void CPelloraDlg::stopAwaitingPort() {
    portWait = PortWait::None;
    arrivalStarts = 0;
    KillTimer(hwnd(), kPortWaitTimer);
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
    } else if (timer == kPortWaitTimer) {
        KillTimer(hwnd(), kPortWaitTimer);
        if (portWait == PortWait::Arrived && currentPortPresent && !ending &&
            relay()->status().port == PortState::Failed) {
            ++arrivalStarts;
            startRelay(currentPort);
        }
    } else if (timer == kExitTimer) {
        // Exit's calls have not returned within a second: a device that does
        // not answer holds libusb (opening the keyboard, or a worker looking
        // for it). The system closes the port and the keyboard with the
        // process.
        tray.remove();
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
    RelaySetup wanted = setup;
    wanted.share = sourceList.currentSelection() == 1;
    wanted.mousePort = wanted.share ? selectedMousePort() : std::string();
    if (!wanted.mousePort.empty() && wanted.mousePort == port) {
        // The window stays, for another choice.
        showMessageBox(widen(uiText(IDS_PORT_IS_KEYBOARDS, {port})));
        return;
    }
    if (wanted != setup) {
        // Another relay, started on the port once it is open.
        stopAwaitingPort();
        currentPort = port;
        setup = wanted;
        ShowWindow(SW_HIDE);
        refreshPorts();
        remakeRelay();
        showStatusTip();
        return;
    }
    const OkDecision decision = decideOk(port, currentPort);
    if (decision.action != OkAction::Nothing) {
        stopAwaitingPort();  // the user chose another port, or none
    }
    currentPort = decision.currentPort;
    ShowWindow(SW_HIDE);
    refreshPorts();  // a port no longer chosen is listed only while it is there
    if (!keyboardSettled) {
        // The relay is not to be started yet; the end of the keyboard's
        // opening starts it on currentPort.
        showStatusTip();
        return;
    }
    switch (decision.action) {
        case OkAction::Start:
            startRelay(currentPort);
            break;
        case OkAction::Stop:
            stopRelay();
            break;
        case OkAction::Nothing:
            // The same port once more: one that could not be opened is tried
            // again, which is what the user's notice offered. One still
            // waited for goes on being waited for.
            if (portWait == PortWait::None && !currentPort.empty() &&
                relay()->status().port == PortState::Failed) {
                startRelay(currentPort);
            }
            break;
    }
    showStatusTip();
}

void CPelloraDlg::OnBnClickedCancel() {
    // Only hides: the selection the user left stays, the relay is untouched.
    ShowWindow(SW_HIDE);
}

void CPelloraDlg::OnExit() {
    // The one way out of the dialog. The relay's calls end it, in order: the
    // worker is joined and the port closed before the icon goes, and the
    // keyboard is closed after that. A second Exit changes nothing.
    if (closing) {
        return;
    }
    closing = true;
    ending = true;
    KillTimer(hwnd(), kTrayRetryTimer);
    KillTimer(hwnd(), kPortWaitTimer);
    ShowWindow(SW_HIDE);
    SetTimer(hwnd(), kExitTimer, kExitWaitMs, nullptr);
    calls.post([this] {
        relay()->stop();
        // No worker runs now; the window's end must not be told.
        relay()->setStatusListener({});
        PostMessageW(messageTarget, WM_RELAYSTOPPED, 0, 0);
    });
}

void CPelloraDlg::OnRelayStopped() {
    tray.remove();
    calls.post([this] {
        relay()->closeKeyboard();
        PostMessageW(messageTarget, WM_KEYBOARDCLOSED, 0, 0);
    });
}

void CPelloraDlg::OnDestroy() {
    if (desktopHook != nullptr) {
        UnhookWinEvent(desktopHook);
        desktopHook = nullptr;
    }
    WTSUnRegisterSessionNotification(hwnd());
    theWindow = nullptr;
    freePorts();
    Dialog::OnDestroy();
}

void CPelloraDlg::remakeRelay() {
    keyboardSettled = false;
    calls.post([this, wanted = setup] {
        const std::shared_ptr<RelayControl> old = relay();
        old->stop();
        old->setStatusListener({});
        old->closeKeyboard();
        takeRelay(makeRelay(wanted));
        relay()->setStatusListener(statusListener);
        relay()->openKeyboard();
        PostMessageW(messageTarget, WM_KEYBOARDOPENED, 0, 0);
    });
}

void CPelloraDlg::OnSourceChanged() {
    EnableWindow(mousePortList.hwnd(), sourceList.currentSelection() == 1);
}

void CPelloraDlg::showSetup() {
    sourceList.setCurrentSelection(setup.share ? 1 : 0);
    EnableWindow(mousePortList.hwnd(), setup.share);
}

void CPelloraDlg::OnRelayStatus() {
    // Cleared before the status is read, so a change after the read posts
    // again; the exchange also makes the change that posted visible here.
    statusPosted.exchange(false);
    const RelayStatus status = relay()->status();
    showShareIcon();
    std::optional<TrayNotice> arrival;
    if (portWait != PortWait::None && status.port == PortState::Open) {
        stopAwaitingPort();
        arrival = portArrivedNotice(currentPort);
    } else if (portWait == PortWait::Arrived && status.port == PortState::Failed) {
        if (arrivalStarts < kArrivalStarts) {
            SetTimer(hwnd(), kPortWaitTimer, kArrivalRetryMs, nullptr);
        } else {
            stopAwaitingPort();  // told now as a port that cannot be opened
        }
    }
    tray.setTip(widen(statusTip(status)));
    if (!keyboardSettled) {
        return;  // the keyboard as first found is no news
    }
    // A port still waited for is no trouble yet: its opens that fail meanwhile
    // are not told.
    RelayStatus told = status;
    if (portWait != PortWait::None) {
        told.port = PortState::Opening;
    }
    auto notice = troubles.update(told, currentPort);
    if (arrival) {
        if (notice) {  // the keyboard changed too: one balloon tells both
            arrival->text += "\n" + notice->text;
            arrival->trouble = notice->trouble;
        }
        notice = arrival;
    }
    if (notice) {
        tray.notify(widen(notice->title), widen(notice->text), notice->trouble);
    }
}

void CPelloraDlg::OnDeviceChange(WPARAM event) {
    // Every top-level window gets this one: some device came or went, perhaps
    // the keyboard, which the relay then looks for at once.
    if (event == DBT_DEVNODES_CHANGED) {
        relay()->devicesChanged();
    }
    // A port came or went (or some device did): the list follows, hidden or
    // not, and so does the tooltip when the last port has gone or the first
    // has come.
    if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE ||
        event == DBT_DEVNODES_CHANGED) {
        portsChanged();
    }
}

PortEntry* CPelloraDlg::entryAt(int index) const {
    return static_cast<PortEntry*>(portList.itemData(index));
}
