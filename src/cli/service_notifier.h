// ServiceNotifier: what pellora tells the service manager that started it
// (systemd, with Type=notify), through the wait of a relay session:
//   READY=1     once relaying has begun (the worker runs and has opened the port),
//   STATUS=...  a one-line sentence at every change of the relay's status,
//               which `systemctl status` shows ("Relaying to ttyUSB0"),
//   STOPPING=1  when a stop signal ends the run,
//   WATCHDOG=1  every half watchdog period, but only when the relay's worker
//               has made a pass since the last look.
// The watchdog proves the worker alive, not just the thread that waits here:
// at each look it compares RelayControl::workerPasses() with the last look's
// count, pings only when it moved, then wakes the worker, so that a worker
// with nothing to do makes one pass before the next look. A worker that hangs
// stops counting, the pings stop, and the service manager ends the service
// and starts it again. Idle, this costs one wake-up of each of the two
// threads per half period.
//
// Without a service manager (no NOTIFY_SOCKET) it says nothing and wait() is
// the plain wait, with no time-out.
//
// Ownership: uses, but does not own, the relay. Threads: everything on the
// one thread that runs the session.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/ticks.h"
#include "relay/relay_control.h"

class ServiceNotifier {
public:
    // Sends one notification ("READY=1\nSTATUS=..."); empty: nobody listens.
    using Sink = std::function<void(const std::string& message)>;
    // Sleeps until a stop signal (returns its number), a change of the relay's
    // status (returns 0) or, when timeoutMs is not negative, until timeoutMs
    // have passed (returns a negative value): RunEvents::wait.
    using TimedWait = std::function<int(int timeoutMs)>;

    // port: as given on the command line; the status sentences name it
    // without a leading /dev/, and so mousePort, the mouse's (PORT2), for a
    // relay with a mouse. keyboards: with several, their devices, which the
    // sentences name. watchdog: the service manager's period, zero for none.
    ServiceNotifier(RelayControl& relay, const std::string& port, Sink sink,
                    std::chrono::microseconds watchdog, TickSource ticks = systemTickMs,
                    const std::string& mousePort = {}, std::vector<std::string> keyboards = {});

    // The session's WaitForEvent: tells the current status, then waits in
    // inner, looking at the worker whenever a look is due meanwhile; returns
    // a stop signal's number (after STOPPING=1) or 0 for a status change.
    int wait(const TimedWait& inner);

    // The sink and the period systemd gives this process: sd_notify() when
    // NOTIFY_SOCKET is set (else empty), and WATCHDOG_USEC when it is meant
    // for this process (else zero).
    static Sink systemdSink();
    static std::chrono::microseconds systemdWatchdog();

private:
    void tell(const RelayStatus& status);
    void lookAtWorker(std::uint32_t now);

    RelayControl& relay;
    const std::string portName;
    const std::string mousePortName;
    const std::vector<std::string> keyboardNames;
    const Sink sink;
    const std::uint32_t lookEveryMs;  // half the watchdog period; 0: no watchdog
    const TickSource ticks;
    bool ready = false;
    std::string told;  // the last STATUS= sentence sent
    std::uint64_t passesSeen = 0;
    std::uint32_t nextLook = 0;
};

// The STATUS= sentence for a relay status on port (a name such as ttyUSB0):
// whether the port is open, being opened or waited for, and whether the
// keyboard is connected, or why not. "Relaying to ttyUSB0", "ttyUSB0: keyboard
// disconnected, waiting for it", "Lost ttyUSB0, waiting for it", ... With a
// mouse (status.mouse) the same of the mouse and its port, mousePort, after
// a "; ": "Relaying to ttyUSB0, the mouse to ttyUSB1", "Relaying to ttyUSB0;
// ttyUSB1: mouse disconnected, waiting for it", "ttyUSB0: keyboard
// disconnected, waiting for it; relaying the mouse to ttyUSB1". With several
// keyboards (keyboards names their devices) each one away is named:
// "ttyUSB0: keyboard /dev/input/event4 disconnected, waiting for it". With
// keyboards shared with the computer, where they go, last: "Relaying to
// ttyUSB0; keyboard and mouse: this computer".
std::string statusSentence(const RelayStatus& status, const std::string& port,
                           const std::string& mousePort = {},
                           const std::vector<std::string>& keyboards = {});
