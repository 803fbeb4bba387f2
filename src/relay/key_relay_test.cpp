#include "relay/key_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "support/key_relay_peer.h"
#include "support/manual_clock.h"
#include "support/pty_pair.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Peer = KeyRelayTestPeer;

TEST(KeyRelay, StopWithoutWorkerReturnsAtOnce) {
    KeyRelay relay;
    relay.stop();
    relay.stop();
}

TEST(KeyRelay, ScanCodeInQueueReachesTheLine) {
    PtyPair pty;
    KeyRelay relay;
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x1E);
    Peer::pushKey(relay, 0x9E);
    EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    relay.stop();
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
}

TEST(KeyRelay, RestartClosesOldPortBeforeOpeningNew) {
    PtyPair a, b;
    KeyRelay relay;
    relay.start(a.slavePath());
    ASSERT_TRUE(waitFor([&] { return processHasOpen(a.slavePath()); }));
    relay.start(b.slavePath());
    // start() returned after stopping the old worker and before the new one
    // could have opened anything: the old port is closed already.
    EXPECT_FALSE(processHasOpen(a.slavePath()));
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_TRUE(processHasOpen(b.slavePath()));
    Peer::pushKey(relay, 0x2E);
    EXPECT_EQ(b.read(1), Bytes{0x2E});
    relay.stop();
}

TEST(KeyRelay, APortIsCheckedByOpeningItAndGivingItBack) {
    PtyPair pty;
    KeyRelay relay;
    EXPECT_EQ(relay.checkPort(pty.slavePath()).code, 0);
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
    EXPECT_EQ(relay.checkPort("/nonexistent/ttyPELLORA").code, ENOENT);
}

TEST(KeyRelay, PortThatCannotOpenLeavesAWorkerThatStops) {
    KeyRelay relay;
    relay.start("/nonexistent/ttyPELLORA");
    Peer::pushKey(relay, 0x1E);  // drained, written nowhere
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Failed; }));
    relay.stop();
    EXPECT_EQ(relay.status().port, PortState::Idle);
}

TEST(KeyRelay, HeldKeysAreLetGoOnThePortBeingLeft) {
    PtyPair a, b;
    ManualClock clock;  // stands still: nothing repeats
    KeyRelay relay(clock.source());
    relay.start(a.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x71);  // CTRL
    Peer::pushKey(relay, 0x1E);
    Peer::pushKey(relay, 0x2E);
    Peer::pushKey(relay, 0xAE);
    EXPECT_EQ(a.read(4), (Bytes{0x71, 0x1E, 0x2E, 0xAE}));
    // Moving to another port: the old one hears CTRL and A let go before it
    // closes, the new one hears nothing of them.
    relay.start(b.slavePath());
    EXPECT_EQ(a.restOfLine(), (Bytes{0x9E, 0xF1}));
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x70);
    EXPECT_EQ(b.read(1), Bytes{0x70});
    relay.stop();
    EXPECT_EQ(b.restOfLine(), Bytes{0xF0});
    EXPECT_EQ(Peer::repeat(relay).repeatCode, 0);  // and nothing repeats any more
}

TEST(KeyRelay, NewWorkerStartsWithNoKeyRepeating) {
    PtyPair pty;
    ManualClock clock;
    KeyRelay relay(clock.source());
    // A key was repeating, long overdue, when the last worker stopped.
    Peer::repeat(relay) = {0x1E, 5, 500, 110};
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x35);
    EXPECT_EQ(pty.read(1), Bytes{0x35});                // no phantom 0x1E came first
    EXPECT_EQ(Peer::repeat(relay).repeatDelayMs, 500);  // the host's times stay
    relay.stop();
}

TEST(KeyRelay, LeftoverKeysAreDroppedWhenAWorkerStarts) {
    PtyPair pty;
    ManualClock clock;
    KeyRelay relay(clock.source());
    Peer::pushKey(relay, 0x1E);  // from before this run
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x2E);
    EXPECT_EQ(pty.read(1), Bytes{0x2E});
    relay.stop();
}

TEST(KeyRelay, DestroyingARunningRelayStopsItsWorker) {
    PtyPair pty;
    {
        KeyRelay relay;
        relay.start(pty.slavePath());
        ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    }
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
}

TEST(KeyRelay, StatusTellsWhatBecameOfThePort) {
    KeyRelay relay;
    EXPECT_EQ(relay.status().port, PortState::Idle);
    relay.start("/nonexistent/ttyPELLORA");
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Failed; }));
    EXPECT_EQ(relay.status().portError.code, ENOENT);
    EXPECT_FALSE(relay.status().portError.message.empty());

    PtyPair pty;
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_EQ(relay.status().portError.code, 0);
    pty.closeMaster();  // the adapter is pulled out
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    relay.stop();
    EXPECT_EQ(relay.status().port, PortState::Idle);
}

TEST(KeyRelay, StopFromItsOwnWorkerIsRefused) {
    std::atomic<KeyRelay*> self{nullptr};
    std::atomic<int> refused{0};
    std::atomic<bool> tried{false};
    KeyRelay relay([&]() -> std::uint32_t {
        // self is set only after start() returned, so the worker sees the
        // finished std::thread object.
        if (self.load() != nullptr && !tried.exchange(true)) {
            try {
                self.load()->stop();
            } catch (const std::system_error& e) {
                if (e.code() == std::errc::resource_deadlock_would_occur) {
                    ++refused;
                }
            }
        }
        return 0;
    });
    relay.start("/nonexistent/ttyPELLORA");
    self = &relay;
    Peer::wake(relay);  // a pass that reads the clock now
    ASSERT_TRUE(waitFor([&] { return tried.load(); }));
    relay.stop();
    EXPECT_EQ(refused.load(), 1);
}

}  // namespace
