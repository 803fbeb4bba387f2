#include "cli/run_events.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <thread>

namespace {

// RunEvents leaves the stop signals blocked, and changes SIGHUP's handling in
// one case; every test puts back what it found.
class RunEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        pthread_sigmask(SIG_SETMASK, nullptr, &savedMask);
        sigaction(SIGHUP, nullptr, &savedHup);
    }
    void TearDown() override {
        sigaction(SIGHUP, &savedHup, nullptr);
        pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    }
    sigset_t savedMask;
    struct sigaction savedHup {};
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
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(events.wait(), SIGTERM);  // not woken for SIGUSR1, nor by the old changes
    int taken = 0;
    EXPECT_EQ(sigwait(&usr1, &taken), 0);  // still pending for whoever wants it
}

TEST_F(RunEventsTest, AHangUpIgnoredFromTheStartStaysIgnored) {
    signal(SIGHUP, SIG_IGN);  // as under nohup
    RunEvents events;
    ASSERT_EQ(raise(SIGHUP), 0);  // discarded, so it is not waiting below
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(events.wait(), SIGINT);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGHUP));
}

}  // namespace
