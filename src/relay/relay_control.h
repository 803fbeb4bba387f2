// RelayControl: what a front-end drives of the relay engine: the keyboard's
// connection, the worker's port (and, where there is one, the mouse and its
// own line), and a status to show the user.
//
// KeyRelay is the one real implementation. The front-ends take a RelayControl
// so that their own tests can hand them a stand-in (a script of statuses, a
// recorder of calls) and test every path without a keyboard or a port.
//
// Threads: openKeyboard, closeKeyboard, start, stop and setStatusListener are
// called by one owning thread; status() may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "io/serial_port.h"
#include "keyboard/keyboard_connection.h"
#include "keyboard/share_switch.h"

// The keyboard as the relay last found it.
enum class KeyboardState {
    Connected,  // open, and its reports are relayed
    Absent,     // not plugged in (or not yet looked for); watched for
    Refused,    // present but could not be opened (see keyboardFailure); tried again
};

// The worker's serial port.
enum class PortState {
    Idle,       // no worker
    Opening,    // worker started, open not yet tried
    Open,       // open, and the keys go out on it
    Reopening,  // it was open and went away (device removed, line hung up); tried again
    Failed,     // it could not be opened when the worker started (see portError)
    // Its name is back, but on another USB adapter than the one first opened
    // under it: not opened (no DTR, no byte); the one it was is waited for.
    OtherDevice,
};

// The mouse and the line its packets go out on (PORT2), for a relay that has
// one. The device's states mean what they mean for the keyboard; the line's
// what they mean for the worker's port.
struct MouseStatus {
    KeyboardState device = KeyboardState::Absent;
    KeyboardConnection::Failure failure = KeyboardConnection::Failure::None;
    std::string failureText;
    PortState port = PortState::Idle;
    SerialPort::OpenError portError;

    bool operator==(const MouseStatus& o) const {
        return device == o.device && failure == o.failure && failureText == o.failureText &&
               port == o.port && portError.code == o.portError.code &&
               portError.message == o.portError.message;
    }
};

// One keyboard as the relay last found it.
struct KeyboardStatus {
    KeyboardState state = KeyboardState::Absent;
    // Why it is Refused (NoPermission, Busy or Other), with the back-end's
    // words for an Other error (KeyboardConnection::failureText()); None
    // otherwise.
    KeyboardConnection::Failure failure = KeyboardConnection::Failure::None;
    std::string failureText;

    bool operator==(const KeyboardStatus&) const = default;
};

struct RelayStatus {
    // Each keyboard the relay reads, in the order it was given them; never
    // empty.
    std::vector<KeyboardStatus> keyboards{KeyboardStatus{}};
    // The first keyboard, the only one where there is one.
    const KeyboardStatus& keyboard() const { return keyboards.front(); }
    KeyboardStatus& keyboard() { return keyboards.front(); }
    PortState port = PortState::Idle;
    // Why the port is Failed, or why the last try to reopen it failed.
    SerialPort::OpenError portError;
    // The mouse, when the relay has one (none: nothing of a mouse runs).
    std::optional<MouseStatus> mouse;
    // Where the computer's own keyboards and mouse go, when the relay shares
    // them with the computer (none: they are the X68000's alone).
    std::optional<ShareSwitch::Side> share;
    // Goes up by one at every change of the above: a front-end that remembers
    // it sees that something changed without comparing the rest.
    std::uint64_t changes = 0;
};

// Why a keyboard is Refused, in a few words for a status line or a tooltip:
// "no permission", "another program holds it", or for any other failure the
// back-end's own words as they are ("LIBUSB_ERROR_IO", libusb's name of the
// error; "not a keyboard: it has no key the X68000 has"), "it failed" where it
// has none.
std::string refusalReason(const KeyboardStatus& keyboard);
// The same for a mouse, or any device refused for failure with text.
std::string refusalReason(KeyboardConnection::Failure failure, const std::string& text);

class RelayControl {
public:
    virtual ~RelayControl() = default;

    // Opens the keyboards (status().keyboards then tells for each Connected,
    // Absent or Refused and why) and resets the repeat times and the LED state
    // to the keyboard's power-on values. Returns whether all are Connected.
    // Call with no worker running. A keyboard Absent or Refused here is tried
    // again by the worker once start() has been called.
    virtual bool openKeyboard() = 0;
    // Releases the keyboards. Call with no worker, after stop().
    virtual void closeKeyboard() = 0;
    // Stops any running worker, then relays to the port called name.
    virtual void start(const std::string& name) = 0;
    // Ends the worker and closes its port. Safe when none runs.
    virtual void stop() = 0;
    // Whether the port called name can be had now (code 0), or why not: it
    // is opened with settings and closed again at once. A front-end that must
    // not take the keyboard for a run that cannot use its port (the kernel's
    // driver would lose it for nothing) asks first. Call with no worker on
    // that port.
    virtual SerialPort::OpenError checkPort(const std::string& name,
                                            const LineSettings& settings = LineSettings::keyLine());
    // A snapshot for front-ends; callable from any thread.
    virtual RelayStatus status() const = 0;
    // Called after every change of status(), on the thread that made it (the
    // worker, or the owner in openKeyboard, closeKeyboard, start and stop,
    // or whichever thread moved a shared keyboard's switch). It
    // must be quick and must not call start, stop or the keyboard operations:
    // post a message, write to a pipe. Set it while no worker runs.
    virtual void setStatusListener(std::function<void()> listener) = 0;

    // The system says devices came or went (on Windows, WM_DEVICECHANGE with
    // DBT_DEVNODES_CHANGED): a keyboard that is away is looked for now rather
    // than at the next try. Any thread; does nothing while no worker runs.
    virtual void devicesChanged() = 0;

    // Liveness, for a supervisor's watchdog: every pass of the worker's loop
    // counts one. A worker with nothing to do sleeps and counts nothing, so a
    // watchdog calls wakeWorker() after each look and expects the count to
    // have moved by its next look; a worker that hangs stops counting. Any
    // thread.
    virtual std::uint64_t workerPasses() const = 0;
    virtual void wakeWorker() = 0;
};
