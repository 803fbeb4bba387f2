#include "relay/key_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "support/manual_clock.h"
#include "support/pty_pair.h"

// Reaches the relay's insides the way the keyboard side will: pushing decoded
// scan codes and raising usbActive.
class KeyRelayTestPeer {
public:
    static void setUsbActive(KeyRelay& r, int v) { r.keyboard.usbActive = v; }
    static void pushKey(KeyRelay& r, std::uint8_t b) { r.keyQueue.push(b); }
    static RepeatState& repeat(KeyRelay& r) { return r.repeat; }
};

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
    Peer::setUsbActive(relay, 1);
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
    Peer::setUsbActive(relay, 1);
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

TEST(KeyRelay, PortThatCannotOpenLeavesAnIdleWorkerThatStops) {
    ManualClock clock;
    KeyRelay relay(clock.source());
    Peer::setUsbActive(relay, 1);
    relay.start("/nonexistent/ttyPELLORA");
    Peer::pushKey(relay, 0x1E);
    EXPECT_TRUE(clock.waitPasses(3));  // the worker keeps passing without a port
    relay.stop();
}

TEST(KeyRelay, WorkerDoesNothingWhileUsbIsInactive) {
    PtyPair pty;
    ManualClock clock;
    KeyRelay relay(clock.source());
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    Peer::pushKey(relay, 0x1E);
    // The key stays queued; once USB is active the first pass sends it.
    Peer::setUsbActive(relay, 1);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    EXPECT_GE(clock.readCount(), 1);
    relay.stop();
}

TEST(KeyRelay, NewWorkerStartsWithNoKeyRepeating) {
    PtyPair pty;
    ManualClock clock;
    KeyRelay relay(clock.source());
    // A key was repeating, long overdue, when the last worker stopped.
    Peer::repeat(relay) = {0x1E, 5, 500, 110};
    Peer::setUsbActive(relay, 1);
    relay.start(pty.slavePath());
    ASSERT_TRUE(clock.waitPasses(2));
    Peer::pushKey(relay, 0x35);
    EXPECT_EQ(pty.read(1), Bytes{0x35});  // no phantom 0x1E came first
    relay.stop();
    EXPECT_EQ(Peer::repeat(relay).repeatCode, 0x35);
    EXPECT_EQ(Peer::repeat(relay).repeatDelayMs, 500);
}

TEST(KeyRelay, LeftoverKeysAreDroppedWhenAWorkerStarts) {
    PtyPair pty;
    ManualClock clock;
    KeyRelay relay(clock.source());
    Peer::pushKey(relay, 0x1E);  // from before this run
    Peer::setUsbActive(relay, 1);
    relay.start(pty.slavePath());
    ASSERT_TRUE(clock.waitPasses(1));
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
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::OpenFailed; }));
    EXPECT_EQ(relay.status().openError.code, ENOENT);
    EXPECT_FALSE(relay.status().openError.message.empty());

    PtyPair pty;
    Peer::setUsbActive(relay, 1);  // the host side is read only while USB runs
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_EQ(relay.status().openError.code, 0);
    EXPECT_TRUE(relay.status().usbActive);
    pty.closeMaster();  // the adapter is pulled out
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Lost; }));
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
    Peer::setUsbActive(relay, 1);
    relay.start("/nonexistent/ttyPELLORA");
    self = &relay;
    ASSERT_TRUE(waitFor([&] { return tried.load(); }));
    relay.stop();
    EXPECT_EQ(refused.load(), 1);
}

}  // namespace
