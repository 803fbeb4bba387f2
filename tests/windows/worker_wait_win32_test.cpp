// The relay's worker wait on Windows, with no keyboard: what ends a wait that
// has no time-out, the timer resolution held for a repeating key, a stop() on
// a line that takes nothing or that is closed with keys held, and a line that
// vanishes and comes back. The line is the serial peer's COM port.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "keyboard/usb_keyboard.h"
#include "relay/key_relay.h"
#include "relay/worker_wait.h"
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

// A worker's loop cut down to the wait: it sleeps with no time-out until the
// host's byte is there. Without a libusb context it sleeps on the wait's own
// event; with one (Wine's libusb makes it, then finds no keyboard) in libusb's
// event wait. Either way only the line's reader can end the sleep.
void lineByteEndsAWaitWithNoTimeOut(bool libusbContext) {
    PeerLink peer;
    ByteQueue keys;
    UsbKeyboard keyboard(keys);
    if (libusbContext) {
        ASSERT_FALSE(keyboard.open());
        ASSERT_TRUE(keyboard.hasEventContext());
    }
    SerialPort port;
    WorkerWait waiter(port);
    waiter.addKeyboard(keyboard);
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    peer.drain();

    std::atomic<bool> quit{false};
    std::atomic<int> got{-1};
    std::thread worker([&] {
        std::uint8_t b = 0;
        while (!quit && port.readAvailable(&b, 1) == 0) {
            waiter.wait(-1, false);
        }
        got = b;
    });
    peer.write({0x60});
    EXPECT_TRUE(waitFor([&] { return got >= 0; })) << "the byte did not end the wait";
    quit = true;
    waiter.wake();
    worker.join();
    EXPECT_EQ(got, 0x60);
    port.close();  // before the wait goes: the reader wakes it
}

TEST(WorkerWaitWin32, ALineByteEndsAWaitOnItsOwnEvent) {
    lineByteEndsAWaitWithNoTimeOut(false);
}

TEST(WorkerWaitWin32, ALineByteEndsAWaitInLibusb) {
    lineByteEndsAWaitWithNoTimeOut(true);
}

TEST(WorkerWaitWin32, WithALibusbContextItSleepsInLibusb) {
    ByteQueue keys;
    UsbKeyboard keyboard(keys);
    ASSERT_FALSE(keyboard.open());  // no keyboard under Wine, but a context
    SerialPort port;                // never opened
    WorkerWait waiter(port);
    waiter.addKeyboard(keyboard);
    std::atomic<bool> woke{false};
    std::thread worker([&] {
        waiter.wait(-1, false);
        woke = true;
    });
    // libusb's interrupt alone, not wake(): a wait anywhere else would go on,
    // and the keyboard's transfers would never be handled.
    keyboard.interruptEventHandling();
    EXPECT_TRUE(waitFor([&] { return woke.load(); }));
    waiter.wake();
    worker.join();
}

TEST(WorkerWaitWin32, AHostCommandReachesARelayWithNothingScheduled) {
    PeerLink peer;
    KeyRelay relay([] { return std::uint32_t{0}; });  // a clock that stands still
    relay.start(PeerLink::comPort());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    peer.drain();
    // Pressed and let go: nothing repeats, so the worker sleeps with no time-out.
    Peer::pushKey(relay, 0x1E);
    ASSERT_EQ(peer.read(1), Bytes{0x1E});
    Peer::pushKey(relay, 0x9E);
    ASSERT_EQ(peer.read(1), Bytes{0x9E});
    // Only the host's byte (0x60: repeat delay 200 ms) can wake it now, to
    // apply the command and send the key queued meanwhile.
    Peer::queueKey(relay, 0x2E);
    peer.write({0x60});
    EXPECT_EQ(peer.read(1), Bytes{0x2E});
    relay.stop();
    EXPECT_EQ(Peer::repeat(relay).repeatDelayMs, 200);  // read once the worker is joined
}

TEST(WorkerWaitWin32, FineTimerIsHeldWhileAKeyRepeatsAndOnlyThen) {
    KeyRelay relay;
    relay.start("COM199");  // no line: a key repeats whether its bytes go out or not
    // Keys pushed before the worker has settled on its port would be dropped.
    ASSERT_TRUE(waitFor([&] { return relay.status().port != PortState::Opening; }));
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

TEST(WorkerWaitWin32, APortThatVanishesIsOpenedAgainByItsName) {
    PeerLink peer;
    KeyRelay relay;  // the system's clock: the port is tried again a second later
    relay.start(PeerLink::comPort());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    // The pty goes: Wine fails the pending read with ERROR_BROKEN_PIPE, an
    // error no driver gives for a removal, and ClearCommError then fails.
    peer.vanish();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    peer.comeBack();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    peer.drain();
    Peer::pushKey(relay, 0x1E);
    Peer::pushKey(relay, 0x9E);
    EXPECT_EQ(peer.read(2), (Bytes{0x1E, 0x9E}));
    relay.stop();
}

}  // namespace
