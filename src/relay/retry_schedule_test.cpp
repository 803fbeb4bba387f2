#include "relay/retry_schedule.h"

#include <gtest/gtest.h>

namespace {

TEST(RetrySchedule, ADeviceListedButNotYetOpenableIsLookedForSoonAFewTimesThenAtTheLook) {
    RetrySchedule schedule(900, 10000);
    const auto nextAfter = [&](bool timed, bool listed) {
        schedule.absent(0, timed, 10000, listed);
        return schedule.msUntilDue(0);
    };
    for (int i = 0; i < RetrySchedule::kListedTries; ++i) {
        EXPECT_EQ(nextAfter(true, true), 900) << "try " << i;
    }
    EXPECT_EQ(nextAfter(true, true), 10000);
    // Not listed once, or opened, and the count starts again.
    EXPECT_EQ(nextAfter(true, false), 10000);
    EXPECT_EQ(nextAfter(true, true), 900);
    schedule.opened();
    // Where arrivals are told, only a listed device is looked for on a timer.
    EXPECT_EQ(nextAfter(false, true), 900);
    EXPECT_EQ(nextAfter(false, false), -1);
}

}  // namespace
