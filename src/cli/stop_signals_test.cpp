#include "cli/stop_signals.h"

#include <gtest/gtest.h>
#include <pthread.h>

namespace {

TEST(StopSignals, TakesEachStopSignalInsteadOfDyingAndLeavesOthersAlone) {
    sigset_t saved;  // StopSignals leaves the signals blocked; later tests want them back
    pthread_sigmask(SIG_SETMASK, nullptr, &saved);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);

    StopSignals signals;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ASSERT_EQ(raise(sig), 0);
        EXPECT_EQ(signals.wait(std::chrono::seconds(5)), sig);
    }
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_EQ(signals.wait(std::chrono::milliseconds(1)), 0);
    int taken = 0;
    EXPECT_EQ(sigwait(&usr1, &taken), 0);  // still pending for whoever wants it
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace
