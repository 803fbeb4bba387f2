// The keyboard pulled out in each state the relay can be in: no worker, a key
// repeating, an LED report in flight, and closing under way. Each time the relay
// must notice (usbActive falls), let go of the keys the host holds, then keep
// quiet on the line, stop and close without hanging, give back everything it
// held, and a keyboard plugged in again must open and type as on the first
// day. Real libusb, emulated keyboard, real pty.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "process_probe.h"
#include "usb/relay_fixture.h"

namespace {

constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;
const std::vector<std::uint8_t> kPressA = {0, 0, 0x04, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kNoKey(8, 0);

// The keyboard is opened, but each test starts the worker when its state calls for it.
class KeyboardPulledOut : public RelayOnEmulatedKeyboard {
protected:
    void SetUp() override {
        // The emulator sets itself up on its own thread as it is first used
        // (GLib opens a descriptor then, once); a connection opened and closed
        // first keeps that out of the count.
        {
            KeyRelay first;
            ASSERT_TRUE(first.openKeyboard());
        }
        ASSERT_TRUE(kb.waitForCloses(kb.opens()));
        fds = openFdCount();
        ASSERT_TRUE(relay.openKeyboard());
    }
    void TearDown() override {
        RelayOnEmulatedKeyboard::TearDown();
        EXPECT_FALSE(kb.inFlight(kBoot));
        EXPECT_FALSE(kb.inFlight(kBitmap));
        EXPECT_EQ(openFdCount(), fds) << describeOpenFds();
    }

    // With the relay closed after an unplug: the keyboard comes back, opens
    // and types, so nothing of the lost connection was left behind.
    void expectReplugWorks() {
        ASSERT_FALSE((relay.status().keyboard().state == KeyboardState::Connected));
        kb.plugIn();
        ASSERT_TRUE(waitFor([&] { return relay.openKeyboard(); }, std::chrono::seconds(10)));
        startRelay();
        kb.sendReport(kBoot, kPressA);
        kb.sendReport(kBoot, kNoKey);
        EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    }

    int fds = 0;  // descriptors before the relay opened anything
};

TEST_F(KeyboardPulledOut, WhileNoWorkerRunsTheNextWorkerFindsItGoneAndStaysQuiet) {
    kb.sendReport(kBoot, kPressA);  // completes a transfer that nobody reaps yet
    kb.unplug();                    // the other transfer ends too; libusb hears of neither yet
    // The worker hears of both before it touches the line: no ready byte for
    // a keyboard that is gone, and no key typed before it started.
    startRelay(false);
    ASSERT_TRUE(
        waitFor([&] { return (relay.status().keyboard().state != KeyboardState::Connected); }));
    advanceClockTo(clock.get() + 60000);
    pty.write({0xF7});  // an LED command no one may act on
    relay.stop();
    EXPECT_EQ(pty.restOfLine(), Bytes{});
    EXPECT_TRUE(kb.controlRequests().empty());
    relay.closeKeyboard();
    expectReplugWorks();
}

TEST_F(KeyboardPulledOut, WhileAKeyRepeatsTheRepeatStopsWithABreak) {
    startRelay();
    const std::uint32_t pressedAt = clock.get();
    kb.sendReport(kBoot, kPressA);
    ASSERT_EQ(pty.read(1), Bytes{0x1E});
    advanceClockTo(pressedAt + 500);
    ASSERT_EQ(pty.read(1), Bytes{0x1E});

    kb.unplug();
    ASSERT_TRUE(
        waitFor([&] { return (relay.status().keyboard().state != KeyboardState::Connected); }));
    EXPECT_EQ(relay.status().port, PortState::Open);
    advanceClockTo(pressedAt + 600000);  // long past any repeat
    relay.stop();
    // The release of the key the keyboard took with it, and nothing after.
    EXPECT_EQ(pty.restOfLine(), Bytes{0x9E});
    relay.closeKeyboard();
    expectReplugWorks();
}

TEST_F(KeyboardPulledOut, WhileAnLedReportIsOutTheLossIsHeardAndTheLineStaysQuiet) {
    startRelay();
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    pty.write({0xF7});
    ASSERT_TRUE(kb.waitForControlRequests(1));
    ASSERT_TRUE(kb.inFlight(EmulatedKeyboard::kControlEndpoint));  // out, and unanswered

    kb.unplug();
    ASSERT_TRUE(
        waitFor([&] { return (relay.status().keyboard().state != KeyboardState::Connected); }));
    kb.sendReport(kBoot, kPressA);  // dropped: the keyboard is gone
    relay.stop();
    EXPECT_EQ(pty.restOfLine(), Bytes{});
    EXPECT_EQ(kb.controlRequests().size(), 1u);
    relay.closeKeyboard();
    expectReplugWorks();
}

TEST_F(KeyboardPulledOut, WhileClosingWaitsOnCancellationsClosingEndsAndReleases) {
    startRelay();
    kb.sendReport(kBoot, kPressA);
    ASSERT_EQ(pty.read(1), Bytes{0x1E});
    relay.stop();
    ASSERT_EQ(pty.read(1), Bytes{0x9E});  // stopping lets go of the key

    kb.holdDiscards(true);  // the cancellations stay pending until the unplug
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        relay.closeKeyboard();
        closed = true;
    });
    const bool bothPending = kb.waitForDiscards(kBoot, 1) && kb.waitForDiscards(kBitmap, 1);
    EXPECT_TRUE(bothPending);
    kb.unplug();  // gives the held URBs back, as the kernel does on removal
    const bool closedInTime = waitFor([&] { return closed.load(); }, std::chrono::seconds(20));
    EXPECT_TRUE(closedInTime) << "closeKeyboard hangs after the unplug";
    kb.holdDiscards(false);  // for the keyboard plugged in next (and to free a hung close)
    closer.join();
    EXPECT_FALSE((relay.status().keyboard().state == KeyboardState::Connected));
    EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    EXPECT_FALSE(kb.claimed(0));
    EXPECT_FALSE(kb.claimed(1));
    expectReplugWorks();
}

}  // namespace
