#include "relay/retry_schedule.h"

#include <algorithm>

#include "io/ticks.h"

void RetrySchedule::opened() {
    pending = false;
    pauseMs = retryMs;
}

void RetrySchedule::tryNow(std::uint32_t now, bool wanted) {
    pending = wanted;
    dueAt = now;
    pauseMs = retryMs;
}

void RetrySchedule::absent(std::uint32_t now, bool timed, std::uint32_t lookMs) {
    pending = timed;
    dueAt = now + lookMs;
    pauseMs = retryMs;
}

void RetrySchedule::refused(std::uint32_t now) {
    pending = true;
    dueAt = now + pauseMs;
    pauseMs = std::min(pauseMs * 2, maxMs);
}

void RetrySchedule::lost(std::uint32_t now) {
    pending = true;
    dueAt = now + retryMs;
    pauseMs = retryMs;
}

bool RetrySchedule::due(std::uint32_t now) const {
    return pending && msUntil(dueAt, now) == 0;
}

int RetrySchedule::msUntilDue(std::uint32_t now) const {
    return pending ? msUntil(dueAt, now) : -1;
}
