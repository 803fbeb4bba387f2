// RunEvents: what pellora waits for while it relays: a stop signal (SIGINT,
// SIGTERM or SIGHUP) or a change of the relay's status. The waiting thread
// sleeps in one poll() over a signalfd and a pipe, with no time-out: it wakes
// only when one of them has something.
//
// The constructor blocks the stop signals in the calling thread; threads
// started later (the relay's worker, libusb's own) inherit the mask, so the
// signals stay pending until wait() takes them and no handler runs in the
// middle of the relay's work. Create it before any other thread exists. A
// SIGHUP or SIGINT that the process inherited as ignored (nohup, or a job a
// script started with `&`) is left ignored and is not a stop signal. The
// signals stay blocked after the object is gone: a second Ctrl-C during
// shut-down must not kill the process.
//
// Ownership: owns the signalfd and the pipe. Threads: wait() from the one
// thread that made it; the status listener from any thread.
#pragma once

#include <signal.h>

#include <functional>

class RunEvents {
public:
    RunEvents();
    ~RunEvents();
    RunEvents(const RunEvents&) = delete;
    RunEvents& operator=(const RunEvents&) = delete;

    // For RelayControl::setStatusListener: wakes wait().
    std::function<void()> statusListener();

    // Sleeps until a stop signal (returns its number), a status change since
    // the last wait (returns 0) or, when timeoutMs is not negative, until
    // timeoutMs have passed (returns kTimedOut).
    static constexpr int kTimedOut = -1;
    int wait(int timeoutMs = -1);

private:
    sigset_t stopSet;
    int signalFd = -1;
    int pipeRead = -1;
    int pipeWrite = -1;
};
