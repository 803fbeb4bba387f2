// MouseRelay: the X68000's mouse, for a relay asked to relay one beside its
// keyboard: the mouse (a MouseConnection, keyboard/mouse_connection.h), the
// serial line its packets go out on (PORT2, wired to the keyboard connector's
// MSDATA pin: 4800 baud 8N2, written only, LineSettings::mouseLine()), and
// the state of getting either back. It is KeyRelay's, made only when a mouse
// is asked for, and driven by KeyRelay's one worker: without a mouse nothing
// of it exists (no descriptor, no thread, no wake-up).
//
// Requests: the host asks the mouse for a packet through the keyboard, MSCTRL
// high then low (0x41, 0x40 on the key line; MsctrlState counts the falls).
// The worker calls answer() in the pass that read the request, after the
// host's bytes of that read are applied: the packet goes out at once, the
// buttons as they are and the motion summed since the last packet. A read
// that holds more than one request (the worker was late) is answered once:
// the host counts 3 bytes from its latest request on, and a backlog of
// packets would put that count out of step for every request after. With the
// mouse absent nothing is sent, so that the host finds no mouse answering (ROM
// 1.3 then turns to the machine's own mouse port); with PORT2 away the packet
// is dropped, as keys typed while the key line is away are.
//
// The wheel: the X68000's mouse has none, so its notches become keys on the
// key line, which is KeyRelay's: KeyRelay's worker takes them
// (takeWheelNotches()) and taps a key for each, ROLL DOWN (0x39, 0xB9) for a
// notch up and ROLL UP (0x38, 0xB8) for one down, the way the page keys move
// a page. With the wheel off (--mouse-wheel=none) there are none.
//
// Comes and goes like the keyboard: a mouse that goes away is lost (status
// Absent), looked for again when the back-end tells of its return, or tried
// every kMouseRetryMs where it cannot tell, and once after kMouseRetryMs in
// any case; one that is present but refused (another program holds it) is
// tried after a pause that doubles from kMouseRetryMs up to kRefusedMaxMs.
// PORT2 is opened by the worker at its start and again by its name every
// kPortRetryMs after it goes (a hang-up, the adapter removed), but only while
// the name is the same USB adapter as at the worker's first open, or none
// (PortIdentity), as the key line is. PORT2 is never read: its descriptor is
// waited on only for a hang-up.
//
// Ownership: owns the MouseConnection and PORT2's SerialPort. Threads:
// KeyRelay's rules: the owner calls openMouse, closeMouse, setWheel,
// lineOpening and closeLine while no worker runs; the worker calls begin,
// pass, answer, takeWheelNotches, handleReady, msUntilDue and pollDescriptors
// while it runs; status() is the caller's snapshot, on either.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/port_identity.h"
#include "io/serial_port.h"
#include "keyboard/mouse_connection.h"
#include "relay/relay_control.h"
#include "relay/retry_schedule.h"

class MouseRelay {
public:
    static constexpr std::uint32_t kMouseRetryMs = 900;
    static constexpr std::uint32_t kRefusedMaxMs = 10000;
    static constexpr std::uint32_t kPortRetryMs = 1000;

    // mouse: never null. portName: PORT2, as SerialPort::open takes it.
    // wheel: whether the wheel's notches are taken as keys (setWheel()).
    MouseRelay(std::unique_ptr<MouseConnection> mouse, std::string portName, bool wheel = true);
    MouseRelay(const MouseRelay&) = delete;
    MouseRelay& operator=(const MouseRelay&) = delete;

    // The wheel on (--mouse-wheel=roll, the default) or off (none).
    void setWheel(bool on);

    // Opens the mouse (grabbed, no motion, no button down); false when it is
    // absent or refused, and the worker then looks for it. closeMouse() gives
    // it back; the worker no longer looks for it.
    bool openMouse();
    void closeMouse();

    // A worker is about to start: PORT2 is being opened.
    void lineOpening();
    // The worker's start: what the mouse did while no worker ran is dropped,
    // PORT2 opened (and its adapter noted), a missing mouse looked for at once.
    void begin(std::uint32_t now);
    // Each pass: the mouse's losses, departures, arrivals and tries, PORT2's
    // loss and tries.
    void pass(std::uint32_t now);
    // One answer to the host's requests of this pass: a packet, if the mouse
    // is there, to PORT2, if it is open. What the mouse's node holds unread
    // is read first: motion that came before the request is in its packet,
    // even when the wait that saw the request ended before the motion came.
    void answer();
    // The wheel's notches since the last call, net: + up (turned away from
    // the user), - down; 0 while the mouse is away or the wheel is off (the
    // notches are let go of then, not kept for later). Notches from before
    // the worker's start are dropped by begin().
    int takeWheelNotches();
    // After a wait in which one of pollDescriptors() had something: the mouse
    // reads what is ready, and a hang-up of PORT2 closes it (found lost by
    // the next pass). Not called otherwise, so that a host's byte costs no
    // look at the mouse.
    void handleReady();
    // Milliseconds until a try is due (0: due; -1: none).
    int msUntilDue(std::uint32_t now) const;
    // The mouse's descriptors and PORT2's (for a hang-up only), for the
    // worker's poll(); valid until the next call of any other method.
    const std::vector<DeviceConnection::PollDescriptor>& pollDescriptors();
    // The worker has ended: PORT2 is closed.
    void closeLine();

    MouseStatus status() const;

private:
    void tryMouse(std::uint32_t now);
    void awaitArrival(std::uint32_t now);
    void tryLine(std::uint32_t now);

    const std::unique_ptr<MouseConnection> mouse;
    const std::string portName;
    SerialPort port;
    bool wheel;  // the notches become keys

    bool wanted = false;  // openMouse() called, closeMouse() not since
    RetrySchedule retry{kMouseRetryMs, kRefusedMaxMs};  // when the mouse is tried next

    PortState line = PortState::Idle;  // PORT2, as the worker last saw it
    SerialPort::OpenError lineError;
    bool lineUp = false;
    std::optional<PortIdentity> lineIdentity;  // PORT2's adapter at the worker's first open
    bool lineRetry = false;
    std::uint32_t lineRetryDue = 0;

    std::vector<DeviceConnection::PollDescriptor> descriptors;
};
