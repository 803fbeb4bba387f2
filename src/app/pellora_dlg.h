// CPelloraDlg: the port-selection window and owner of the relay for the whole
// run. It starts hidden or shown depending on the command line, lives in the
// tray, and ends the program when it receives WM_CLOSE.
//
// Owns: the tray icon (added in OnInitDialog, added again when Explorer
// restarts, removed in OnClose), the use of the relay (its worker is always
// stopped in OnClose, before the window is destroyed), the keyboard connection
// (opened in OnInitDialog, closed in OnDestroy) and the PortEntry objects
// attached to the list's entries (made by listPorts, freed when the list is
// read again and in OnDestroy).
//
// The tray icon's tooltip and balloons follow the relay's status: the relay's
// listener, called on the worker thread, posts WM_RELAYSTATUS, and the window
// reads status() on its own thread. Nothing on the window thread waits on the
// relay but stop() (and start(), which stops first): so "Exit" and a change of
// port take as long as the worker takes to end.
//
// The port list is read again each time the window is shown from the tray
// menu, and on WM_DEVICECHANGE while it is shown.
//
// Threads: everything runs on the window thread, except the status listener.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

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

class CPelloraDlg : public Dialog {
public:
    // relay: the engine this window drives for the whole run; it must outlive the window.
    explicit CPelloraDlg(RelayControl& relay);

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

    HICON appIcon;
    ComboBox portList;
    TrayIcon tray;
    TroubleWatch troubles;
    RelayControl& relay;
    std::string currentPort;  // the port last given to start(); empty: none
    // A WM_RELAYSTATUS is on its way: later changes need none of their own.
    std::atomic<bool> statusPosted{false};
};
