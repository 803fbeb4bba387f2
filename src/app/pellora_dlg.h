// CPelloraDlg: the port-selection window and owner of the relay for the whole
// run. It starts hidden or shown depending on the command line, lives in the
// tray, and ends the program when it receives WM_CLOSE.
//
// Owns: the tray icon (added in OnInitDialog and tried again every 2 s until
// the taskbar takes it, added again when Explorer restarts, removed when the
// window closes), the use of the relay (its worker is always stopped before
// the window is destroyed), the keyboard connection (opened from
// OnInitDialog, on a thread of its own, closed in OnDestroy), the icons, and
// the PortEntry objects attached to the list's entries (made by listPorts,
// freed when the list is read again and in OnDestroy).
//
// Nothing that may enumerate USB runs on this thread: openKeyboard() (libusb
// asks every USB device of the machine on Windows) runs on a short-lived
// thread that posts WM_KEYBOARDOPENED when it is done, and the relay is
// neither started nor stopped before that thread has been joined (one thread
// at a time drives the relay, ordered by thread start and join). A keyboard
// that is not plugged in is waited for: the relay takes it when it comes. One
// that is there but refused (no WinUSB driver, another program) ends the
// program with a message that says why and what to do.
//
// The tray icon's tooltip and balloons follow the relay's status: the relay's
// listener, called on the worker thread (or the opening thread), posts
// WM_RELAYSTATUS, and the window reads status() on its own thread. Nothing on
// the window thread waits on the relay but stop() (and start(), which stops
// first), which the relay bounds to a second; Exit while the keyboard is still
// being opened waits for that at most a second too, then ends the process.
//
// The port list is read again each time the window is shown from the tray
// menu, and on WM_DEVICECHANGE while it is shown; DBT_DEVNODES_CHANGED also
// tells the relay to look for a missing keyboard at once.
//
// Threads: everything runs on the window thread, except the status listener
// and the keyboard's opening.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/combo_box.h"
#include "app/dialog.h"
#include "app/tray_icon.h"
#include "app/tray_status.h"
#include "relay/relay_control.h"
#include "shell/port_choice.h"

// The tray icon's notifications: wParam the icon id, lParam the mouse message.
constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;
// The relay's status changed; posted by the status listener, no parameters.
constexpr UINT WM_RELAYSTATUS = WM_USER + 2;
// openKeyboard() has returned on the opening thread; no parameters.
constexpr UINT WM_KEYBOARDOPENED = WM_USER + 3;

class CPelloraDlg : public Dialog {
public:
    // relay: the engine this window drives for the whole run; it must outlive the window.
    explicit CPelloraDlg(RelayControl& relay);
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
    void OnClose();
    void OnRelayStatus();
    void OnDeviceChange(WPARAM event);
    void OnKeyboardOpened();
    void OnTimer(WPARAM timer);

    // Calls openKeyboard() off this thread; WM_KEYBOARDOPENED tells its end.
    void startOpeningKeyboard();
    // Tries the tray icon again every 2 s until the shell has it.
    void keepTrayIcon(bool added);
    // The end of the run: stop, icon removed, dialog ended.
    void finishClose();

    // Fills the list with "(None)" and the present COM ports (freeing what it
    // held); selects entry 0.
    void listPorts();
    // Reads the ports again, keeping the selection if its port is still
    // listed, else selecting the relaying port, else "(None)".
    void refreshPorts();
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
    TrayIcon tray;
    TroubleWatch troubles;
    RelayControl& relay;
    std::string currentPort;  // the port the user chose; empty: none
    // A WM_RELAYSTATUS is on its way: later changes need none of their own.
    std::atomic<bool> statusPosted{false};

    std::thread keyboardOpener;    // joinable until WM_KEYBOARDOPENED is handled
    bool keyboardSettled = false;  // openKeyboard() returned: the relay may start
    bool ending = false;           // a message that ends the program is shown, or Exit came
    bool closeWanted = false;      // WM_CLOSE came while the keyboard was being opened
};
