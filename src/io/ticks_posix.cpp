#include <time.h>

#include <cerrno>

#include "io/ticks.h"

std::uint32_t systemTickMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void sleepMs(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    // A signal must not cut the pass short into a busy loop; sleep out the rest.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
