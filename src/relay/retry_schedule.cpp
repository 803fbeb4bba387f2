#include "relay/retry_schedule.h"

#include <algorithm>

#include "io/ticks.h"

void RetrySchedule::opened() {
    pending = false;
    pauseMs = retryMs;
    listedTries = 0;
}

void RetrySchedule::tryNow(std::uint32_t now, bool wanted) {
    pending = wanted;
    dueAt = now;
    pauseMs = retryMs;
    listedTries = 0;
}

void RetrySchedule::absent(std::uint32_t now, bool timed, std::uint32_t lookMs, bool listed) {
    listedTries = listed ? listedTries + 1 : 0;
    // Listed, it is on its way: nothing may tell when its driver is there,
    // so it is looked for soon, untimed or not, but only a few times.
    const bool soon = listed && listedTries <= kListedTries;
    pending = timed || soon;
    dueAt = now + (soon ? retryMs : lookMs);
    pauseMs = retryMs;
}

void RetrySchedule::refused(std::uint32_t now) {
    pending = true;
    dueAt = now + pauseMs;
    pauseMs = std::min(pauseMs * 2, maxMs);
    listedTries = 0;
}

void RetrySchedule::lost(std::uint32_t now) {
    pending = true;
    dueAt = now + retryMs;
    pauseMs = retryMs;
    listedTries = 0;
}

bool RetrySchedule::due(std::uint32_t now) const {
    return pending && msUntil(dueAt, now) == 0;
}

int RetrySchedule::msUntilDue(std::uint32_t now) const {
    return pending ? msUntil(dueAt, now) : -1;
}
