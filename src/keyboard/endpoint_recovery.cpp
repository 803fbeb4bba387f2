#include "keyboard/endpoint_recovery.h"

#include <algorithm>

EndpointRecovery::Next EndpointRecovery::halted(std::uint32_t now) {
    if (halts == 0 || now - haltingSince >= kTroubleWindowMs) {
        halts = 0;
        haltingSince = now;
    }
    return ++halts >= kHaltsBeforeGivingUp ? Next::GiveUp : Next::ClearHaltThenSubmit;
}

EndpointRecovery::Next EndpointRecovery::failed(std::uint32_t now) {
    if (failures == 0) {
        failingSince = now;
    }
    ++failures;
    if (now - failingSince >= kTroubleWindowMs) {
        return Next::GiveUp;
    }
    // 13, 26, 52, then 104 ms for every further failure.
    const int doublings = std::min(failures - 1, 3);
    due = now + std::min(kFirstPauseMs << doublings, kLongestPauseMs);
    return Next::SubmitLater;
}
