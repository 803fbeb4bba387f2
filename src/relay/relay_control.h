// RelayControl: what a front-end drives of the relay engine: the keyboard's
// connection, the worker's port, and a status to show the user.
//
// KeyRelay is the one real implementation. The front-ends take a RelayControl
// so that their own tests can hand them a stand-in (a script of statuses, a
// recorder of calls) and test every path without a keyboard or a port.
//
// Threads: openKeyboard, closeKeyboard, start and stop are called by one
// owning thread; status() may be called from any thread.
#pragma once

#include <string>

#include "io/serial_port.h"

// What became of the port the worker was started on.
enum class PortState {
    Idle,        // no worker
    Opening,     // worker started, open not yet tried
    Open,        // the worker opened the port and it is still open
    OpenFailed,  // the worker could not open the port (see openError)
    Lost,        // the port was open and closed itself: the device is gone
};

struct RelayStatus {
    PortState port = PortState::Idle;
    SerialPort::OpenError openError;  // set when port is OpenFailed
    bool usbActive = false;           // keyboard open and its transfers running
};

class RelayControl {
public:
    virtual ~RelayControl() = default;

    // Opens the keyboard; false when it cannot be opened. Call with no worker.
    virtual bool openKeyboard() = 0;
    // Releases the keyboard. Call with no worker, after stop().
    virtual void closeKeyboard() = 0;
    // Stops any running worker, then relays to the port called name.
    virtual void start(const std::string& name) = 0;
    // Ends the worker and closes its port. Safe when none runs.
    virtual void stop() = 0;
    // A snapshot for front-ends that poll; callable from any thread.
    virtual RelayStatus status() const = 0;
};
