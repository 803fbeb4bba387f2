#include "cli/stop_signals.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

StopSignals::StopSignals() {
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGINT);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
}

int StopSignals::wait(std::chrono::milliseconds timeout) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
    struct timespec remaining {
        static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
    };
    for (;;) {
        const int sig = sigtimedwait(&stopSet, nullptr, &remaining);
        if (sig > 0) {
            return sig;
        }
        // EINTR comes from other signals (a stopped and continued process);
        // waiting again for the whole time-out only delays the next poll.
        if (errno != EINTR) {
            return 0;
        }
    }
}
