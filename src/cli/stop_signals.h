// StopSignals: SIGINT, SIGTERM and SIGHUP as events the run loop waits for.
//
// The constructor blocks the three signals in the calling thread; threads
// started later (the relay's worker, libusb's own) inherit the mask, so the
// signals stay pending until wait() takes them and no handler runs in the
// middle of the relay's work. Create it before any other thread exists.
// The signals stay blocked after it is gone: a second Ctrl-C during shut-down
// must not kill the process and replace the exit status it is about to give.
#pragma once

#include <signal.h>

#include <chrono>

class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to timeout for one of the signals; returns its number, or 0 when
    // none came.
    int wait(std::chrono::milliseconds timeout);

private:
    sigset_t stopSet;
};
