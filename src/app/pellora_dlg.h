// CPelloraDlg: the port-selection window and owner of the relay for the whole
// run. It starts hidden or shown depending on the command line, lives in the
// tray, and ends the program on Exit in the tray menu (WM_EXITPELLORA) only:
// WM_CLOSE (Alt+F4, the close box) hides it as Cancel does.
//
// Owns: the tray icon (added in OnInitDialog and tried again every 2 s until
// the taskbar takes it, added again when Explorer restarts, removed when the
// window closes), the use of the relay (its worker is always stopped before
// the window is destroyed), the icons, and the PortEntry objects attached to
// the list's entries (made when the ports are read, freed when they go from
// the list and in OnDestroy).
//
// Nothing that may wait for USB runs on this thread. Every call on the relay
// (opening the keyboard, start, stop, closing the keyboard) runs on the
// thread of RelayCalls, in the order asked for, and tells its end by a posted
// message where the window goes on from there. The relay is first started
// once the keyboard's opening has returned (WM_KEYBOARDOPENED). A keyboard
// that is not plugged in is waited for: the relay takes it when it comes.
// One that is there but refused (no WinUSB driver, another program) ends the
// program with a message that says why and what to do. A start that throws
// (no thread to be had) is told in a balloon, and the relay stays idle.
//
// Exit (WM_EXITPELLORA) hides the window, has the relay stopped (the icon still
// there), removes the icon, has the keyboard closed and then ends the dialog;
// when that has not happened within a second (a worker or an opening that
// waits for a device that does not answer), the process ends without it.
//
// The tray icon's tooltip and balloons follow the relay's status: the relay's
// listener, called on the worker thread (or the thread of RelayCalls), posts
// WM_RELAYSTATUS, and the window reads status() on its own thread.
//
// The port list is read again each time the window is shown from the tray
// menu and on every WM_DEVICECHANGE, in place: entries come and go without
// the list being emptied, so a list the user has dropped down stays open.
// The chosen port is listed even while it is not there ("COM3 - not
// present"), so the window always shows the port the relay uses or waits
// for: selected whenever the window is shown, and kept selected while it is
// hidden; "(None)" only when no port is chosen. With no COM port at all, the
// tooltip says "COM port not found." and the program waits in the tray for
// one. DBT_DEVNODES_CHANGED also tells the relay to look for a missing
// keyboard at once.
//
// A port named on the command line that is not there is waited for: the
// tooltip says "Waiting for COM3", and the relay is started on it when it
// appears, tried again a few times while it cannot be opened yet (a port is
// listed a moment before its driver takes requests), and a balloon tells
// when it is open.
//
// What is relayed: the window's second list chooses "X68000 Z keyboard" (the
// default) or "This computer's keyboard and mouse", and its third the mouse's
// port ("(None)" or a COM port), as the command line's --share and
// --mouse-port do. With sharing, this computer's keyboards and mouse go to
// the X68000 while the switch key (Scroll Lock, or --switch-key) is pressed
// twice, and the X68000 Z keyboard, where it is plugged in, relays as ever.
// A change of either is a relay made anew (RelayMaker) on the thread of
// RelayCalls: the old one stopped and closed, the new one opened and started
// on the port. The tooltip then says where the keyboard goes
// (shareLine()), the icon is another while they belong to the
// X68000, and they come back to the computer by themselves when the session
// is locked or the secure desktop (a UAC prompt, Ctrl+Alt+Del) takes the
// input, where no hook of this program follows them. A hook that stops
// seeing the keys is told in a balloon.
//
// Threads: everything runs on the window thread, except the status listener
// and the calls of RelayCalls, which only post messages to the window.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/combo_box.h"
#include "app/dialog.h"
#include "app/relay_calls.h"
#include "app/relay_setup.h"
#include "app/tray_icon.h"
#include "app/tray_status.h"
#include "app/window_messages.h"
#include "relay/relay_control.h"
#include "shell/port_choice.h"

class CPelloraDlg : public Dialog {
public:
    // makeRelay: makes the engine for each setup (called on the window thread
    // at the start, on the thread of RelayCalls after). port: the port the
    // command line named, "" for none; setup: what it asked to relay.
    CPelloraDlg(RelayMaker makeRelay, std::string port, const RelaySetup& setup);
    ~CPelloraDlg() override;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    bool Route(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroy() override;

private:
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnExit();
    void OnRelayStatus();
    void OnDeviceChange(WPARAM event);
    void OnKeyboardOpened();
    void OnRelayStopped();
    void OnRelayFailed();
    void OnTimer(WPARAM timer);
    void OnSourceChanged();
    // The session locked, the secure desktop up: the keyboard goes home.
    void giveKeyboardBack();
    static void CALLBACK desktopSwitched(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                         LONG child, DWORD thread, DWORD time);

    // The engine now, and its switch (null without sharing): replaced by the
    // thread of RelayCalls when the setup changes, read by both threads.
    std::shared_ptr<RelayControl> relay() const;
    std::shared_ptr<ShareSwitch> shareSwitch() const;
    // Makes the relay for setup and hands it its listener.
    void takeRelay(MadeRelay made);
    // The setup changed: the relay is made anew, then opened and, once that
    // has returned (WM_KEYBOARDOPENED), started on the port as at the start.
    void remakeRelay();
    // The tray's icon for where the keyboard goes now.
    void showShareIcon();

    // The relay's calls, on the thread of RelayCalls.
    void startRelay(const std::string& port);
    void stopRelay();
    // Any thread: keeps why a call failed (port: the port a start was for)
    // and tells the window.
    void noteFailure(const std::string& port, const std::string& reason);
    // Tries the tray icon again every 2 s until the shell has it.
    void keepTrayIcon(bool added);
    // The tooltip for a status of the relay, and for its status now.
    std::string statusTip(const RelayStatus& status) const;
    void showStatusTip();
    // The list read again (refreshPorts()), a port waited for started once it
    // is there, the tooltip brought up to date.
    void portsChanged();
    // Shows the window, centred on the monitor the cursor is on.
    void showCentred();

    // Brings the list in line with the present COM ports and the chosen one,
    // in place, and selects: while the window is shown, the user's selection
    // while its port is still listed; otherwise the chosen port's entry
    // ("(None)" when none is chosen). The first call fills the empty list.
    void refreshPorts();
    // Starts the relay on a port waited for once it is listed.
    void startAwaitedPort();
    // Forgets a port waited for: the user chose, or the relay is done with it.
    void stopAwaitingPort();
    // The mouse's port list: the present COM ports, "(None)" first, and the
    // chosen mouse port while it is away; selects the chosen one unless the
    // user is choosing in the shown window. Filled anew, but not while it
    // is dropped down. Its entries' data are positions in mousePorts.
    void refreshMousePorts(const std::vector<PortEntry>& present);
    // The mouse list's port now ("" for "(None)").
    std::string selectedMousePort() const;
    // The choices of what to relay, and the mouse list enabled only with sharing.
    void showSetup();
    // The present COM ports, as list entries, "(None)" first.
    static std::vector<PortEntry> presentPorts();
    void addPort(const PortEntry& entry);
    void freePorts();
    // The PortEntry of a list position, or nullptr when it has none.
    PortEntry* entryAt(int index) const;
    // Where the port is listed, preferring the entry with the same
    // description; -1 when it is not.
    int positionOf(const PortEntry& port) const;

    // The application icon at the shell's two sizes: the window's caption and
    // the tray take the small one, Alt+Tab the large one.
    HICON largeIcon;
    HICON smallIcon;
    ComboBox portList;
    ComboBox sourceList;     // "X68000 Z keyboard" or "This computer's keyboard and mouse"
    ComboBox mousePortList;  // "(None)" or the mouse's port
    std::vector<PortEntry> mousePorts;
    TrayIcon tray;
    int trayImage = 0;  // the icon resource the tray shows
    TroubleWatch troubles;
    const RelayMaker makeRelay;
    RelaySetup setup;  // what the relay made last relays; the window thread's
    mutable std::mutex relayMutex;
    std::shared_ptr<RelayControl> relayNow;  // guarded by relayMutex
    std::shared_ptr<ShareSwitch> shareNow;   // guarded by relayMutex
    std::function<void()> statusListener;    // what every relay made is given
    HWINEVENTHOOK desktopHook = nullptr;
    std::string currentPort;          // the port the user chose; empty: none
    bool currentPortPresent = false;  // listed by the system, as the last refreshPorts() found

    // currentPort as the window waits for it (the command line named it, and
    // it was not there): Absent while it is not listed (the relay is not
    // started on it), Arrived from its start until the relay has it open;
    // None when the relay has it, or the user chose since.
    enum class PortWait { None, Absent, Arrived };
    PortWait portWait = PortWait::None;
    int arrivalStarts = 0;  // starts since it was listed    // Where the other threads post: the
                            // window, from OnInitDialog on.
    std::atomic<HWND> messageTarget{nullptr};
    // A WM_RELAYSTATUS is on its way: later changes need none of their own.
    std::atomic<bool> statusPosted{false};

    struct CallFailure {
        std::string port;  // the port a failed start was for; empty for other calls
        std::string reason;
    };
    std::mutex failureMutex;
    std::vector<CallFailure> failures;  // guarded by failureMutex; taken by OnRelayFailed

    bool keyboardSettled = false;  // openKeyboard() returned: the relay may start
    bool ending = false;           // a message that ends the program is shown, or Exit came
    bool closing = false;          // Exit is under way

    // Last, so that it is destroyed first: its thread runs calls on the
    // members above until it is joined.
    RelayCalls calls;
};
