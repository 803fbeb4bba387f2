#include "cli/run_events.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace {

// RunEvents leaves the stop signals blocked, and the tests ignore SIGHUP and
// SIGINT in one case; every test puts back what it found.
class RunEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        pthread_sigmask(SIG_SETMASK, nullptr, &savedMask);
        sigaction(SIGHUP, nullptr, &savedHup);
        sigaction(SIGINT, nullptr, &savedInt);
    }
    void TearDown() override {
        sigaction(SIGHUP, &savedHup, nullptr);
        sigaction(SIGINT, &savedInt, nullptr);
        pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    }
    sigset_t savedMask;
    struct sigaction savedHup {};
    struct sigaction savedInt {};
};

TEST_F(RunEventsTest, StopSignalsAndStatusChangesWakeTheWaitOthersDoNot) {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);

    RunEvents events;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        ASSERT_EQ(raise(sig), 0);
        EXPECT_EQ(events.wait(), sig);
    }
    // A change told from another thread wakes the wait once, however often told.
    const auto listener = events.statusListener();
    std::thread worker([&] {
        listener();
        listener();
    });
    worker.join();
    EXPECT_EQ(events.wait(), 0);
    ASSERT_EQ(raise(SIGUSR1), 0);
    EXPECT_EQ(events.wait(0), RunEvents::kTimedOut);  // not woken for SIGUSR1, nor by old changes
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(events.wait(0), SIGTERM);
    int taken = 0;
    EXPECT_EQ(sigwait(&usr1, &taken), 0);  // still pending for whoever wants it
}

TEST_F(RunEventsTest, AHangUpOrInterruptIgnoredFromTheStartStaysIgnored) {
    signal(SIGHUP, SIG_IGN);  // as under nohup
    signal(SIGINT, SIG_IGN);  // as for a job a script started with &
    RunEvents events;
    ASSERT_EQ(raise(SIGHUP), 0);  // discarded, so they are not waiting below
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(events.wait(), SIGTERM);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGHUP));
    EXPECT_FALSE(sigismember(&pending, SIGINT));
}

}  // namespace
