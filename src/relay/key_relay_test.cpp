#include "relay/key_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>

#include "support/pty_pair.h"

// Reaches the relay's insides the way the keyboard side will: pushing decoded
// scan codes and raising usbActive.
class KeyRelayTestPeer {
public:
    static void setUsbActive(KeyRelay& r, int v) { r.usbActive = v; }
    static void pushKey(KeyRelay& r, std::uint8_t b) { r.keyQueue.push(b); }
    static RepeatState& repeat(KeyRelay& r) { return r.repeat; }
};

namespace {

using Bytes = std::vector<std::uint8_t>;
using Peer = KeyRelayTestPeer;

// A clock the test sets, which also counts how often the worker read it
// (once per pass while the USB side is active).
struct CountingClock {
    std::atomic<std::uint32_t> now{100000};
    std::atomic<int> reads{0};
    TickSource source() {
        return [this] {
            ++reads;
            return now.load();
        };
    }
    bool waitPasses(int n) {
        const int target = reads.load() + n;
        return waitFor([&] { return reads.load() >= target; });
    }
};

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
    ASSERT_TRUE(waitFor([&] { return processHasOpen(pty.slavePath()); }));
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
    ASSERT_TRUE(waitFor([&] { return processHasOpen(b.slavePath()); }));
    Peer::pushKey(relay, 0x2E);
    EXPECT_EQ(b.read(1), Bytes{0x2E});
    relay.stop();
}

TEST(KeyRelay, PortThatCannotOpenLeavesAnIdleWorkerThatStops) {
    CountingClock clock;
    KeyRelay relay(clock.source());
    Peer::setUsbActive(relay, 1);
    relay.start("/nonexistent/ttyPELLORA");
    Peer::pushKey(relay, 0x1E);
    EXPECT_TRUE(clock.waitPasses(3));  // the worker keeps passing without a port
    relay.stop();
}

TEST(KeyRelay, WorkerDoesNothingWhileUsbIsInactive) {
    PtyPair pty;
    CountingClock clock;
    KeyRelay relay(clock.source());
    relay.start(pty.slavePath());
    ASSERT_TRUE(waitFor([&] { return processHasOpen(pty.slavePath()); }));
    Peer::pushKey(relay, 0x1E);
    // The key stays queued; once USB is active the first pass sends it.
    Peer::setUsbActive(relay, 1);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    EXPECT_GE(clock.reads.load(), 1);
    relay.stop();
}

TEST(KeyRelay, NewWorkerStartsWithNoKeyRepeating) {
    PtyPair pty;
    CountingClock clock;
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
    CountingClock clock;
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
        ASSERT_TRUE(waitFor([&] { return processHasOpen(pty.slavePath()); }));
    }
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
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
