// The relay's worker on Windows, with no keyboard: what wakes its wait when
// nothing is scheduled, the timer resolution it holds for a repeating key, and
// a stop() on a line that takes nothing. The line is the serial peer's COM port.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "relay/key_relay.h"
#include "support/key_relay_peer.h"
#include "support/peer_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Peer = KeyRelayTestPeer;

// Looks at cond every millisecond until it holds; gives up after ten seconds,
// a guard against a hang rather than a measure of speed.
template <typename Cond>
bool waitFor(Cond cond) {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!cond()) {
        if (GetTickCount64() >= deadline) {
            return cond();
        }
        Sleep(1);
    }
    return true;
}

// No key is held, so the worker sleeps with no time-out at all: only the
// host's byte (0x60: repeat delay 200 ms) can wake it to apply the command.
void hostByteWakesAnIdleWorker(bool libusbContext) {
    PeerLink peer;
    // The worker reads its clock once a pass, after the host's commands, on
    // its own thread: there it can look at its repeat state without a race.
    std::atomic<std::int32_t> delaySeen{0};
    KeyRelay relay([&] {
        delaySeen = Peer::repeat(relay).repeatDelayMs;
        return std::uint32_t{0};
    });
    if (libusbContext) {
        // Wine's libusb lists no device: the open fails, but the context it
        // made stays, and the worker sleeps in libusb's wait.
        ASSERT_FALSE(relay.openKeyboard());
    }
    relay.start(PeerLink::comPort());
    ASSERT_TRUE(waitFor([&] { return delaySeen == kDefaultRepeatDelayMs; }));
    ASSERT_EQ(relay.status().port, PortState::Open);
    peer.write({0x60});
    EXPECT_TRUE(waitFor([&] { return delaySeen == 200; })) << "the host's byte did not wake it";
    relay.stop();
}

TEST(WorkerWaitWin32, AHostByteWakesAWorkerWithNothingScheduled) {
    hostByteWakesAnIdleWorker(false);
}

TEST(WorkerWaitWin32, AHostByteWakesAWorkerAsleepInLibusb) {
    hostByteWakesAnIdleWorker(true);
}

TEST(WorkerWaitWin32, FineTimerIsHeldWhileAKeyRepeatsAndOnlyThen) {
    KeyRelay relay;
    relay.start("COM199");  // no line: a key repeats whether its bytes go out or not
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::OpenFailed; }));
    EXPECT_FALSE(Peer::fineTimerHeld(relay));
    Peer::pushKey(relay, 0x1E);
    EXPECT_TRUE(waitFor([&] { return Peer::fineTimerHeld(relay); }));
    Peer::pushKey(relay, 0x9E);
    EXPECT_TRUE(waitFor([&] { return !Peer::fineTimerHeld(relay); }));
    relay.stop();
}

TEST(WorkerWaitWin32, StopLetsKeysGoOnALineThatTakesNothingAndReturns) {
    PeerLink peer;
    KeyRelay relay([] { return std::uint32_t{0}; });  // a clock that stands still: no repeats
    relay.start(PeerLink::comPort());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    peer.drain();
    Peer::pushKey(relay, 0x71);  // CTRL
    Peer::pushKey(relay, 0x1E);
    ASSERT_EQ(peer.read(2), (Bytes{0x71, 0x1E}));
    peer.hold();
    // Both breaks meet a line that takes nothing; a stop() that waited for it
    // would hang here until ctest's time-out.
    relay.stop();
    EXPECT_EQ(relay.status().port, PortState::Idle);
    EXPECT_EQ(peer.openers(), 0);
}

}  // namespace
