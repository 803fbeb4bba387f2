// A relay running end to end for a test: the emulated keyboard opened through
// real libusb, a worker relaying to a real pty (reached through a link outside
// /dev, so the tty ioctls reach the real pty), and a hand-set clock that also
// counts the worker's passes (it reads the clock once a pass).
//
// Members are destroyed in reverse: the relay (and with it libusb) before the
// emulated keyboard, as libusb's life must sit inside the testbed's.
#pragma once

#include <gtest/gtest.h>

#include "relay/key_relay.h"
#include "support/key_relay_peer.h"
#include "support/manual_clock.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

class RelayOnEmulatedKeyboard : public ::testing::Test {
protected:
    using Bytes = std::vector<std::uint8_t>;

    // watchHotplug false: the relay finds a returning keyboard by trying every
    // second of the hand-set clock, as where libusb cannot tell of arrivals.
    // options: the emulated keyboard's, for tests of a keyboard that refuses.
    explicit RelayOnEmulatedKeyboard(bool watchHotplug = true,
                                     EmulatedKeyboard::Options options = {})
        : kb(options), relay(clock.source(), watchHotplug) {}
    // A relay of the keyboard that makeKeyboard makes, in the testbed of an
    // emulated keyboard with these options (tests/input's fixture: an input
    // device's).
    RelayOnEmulatedKeyboard(EmulatedKeyboard::Options options,
                            const KeyRelay::KeyboardFactory& makeKeyboard)
        : kb(options), relay(makeKeyboard, clock.source()) {}

    void SetUp() override {
        ASSERT_TRUE(relay.openKeyboard());
        startRelay();
    }
    // Stops, closes, and checks that the keyboard was given back and that the
    // emulator met no ioctl it did not expect.
    void TearDown() override {
        relay.stop();
        relay.closeKeyboard();
        EXPECT_TRUE(kb.waitForCloses(kb.opens()));
        EXPECT_TRUE(kb.unexpectedIoctls().empty())
            << ::testing::PrintToString(kb.unexpectedIoctls());
    }

    // Starts the worker on the pty and returns once it has opened the port
    // and, when the keyboard is open, the ready byte has come (readyByte:
    // whether the relay holds the keyboard open; one refused sends nothing).
    void startRelay(bool readyByte = true) {
        relay.start(pty.portPath());
        ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
        if (readyByte) {
            ASSERT_EQ(pty.read(1), Bytes{kReadyByte});
        }
    }

    // Sends a report and returns once the worker has taken it: the report was
    // reaped, and then the pass that pumps its keys read the clock. Nothing else
    // wakes the worker meanwhile, so a clock read after the send is that pass's.
    void sendAndWaitForItsPass(std::uint8_t endpoint, const Bytes& report) {
        const int seen = clock.readCount();
        kb.sendReport(endpoint, report);
        ASSERT_TRUE(kb.waitForDelivered());
        ASSERT_TRUE(waitFor([&] { return clock.readCount() > seen; }));
    }

    // Host command bytes, then an LED command as a marker: once its report
    // reaches the X68000 Z keyboard, every byte before it has been
    // interpreted (and whatever the relay does in that pass is done).
    void hostSendsAndWait(Bytes commands) {
        const std::size_t before = kb.controlRequests().size();
        marker ^= 0x01;  // alternate between two masks so each marker is a change
        commands.push_back(static_cast<std::uint8_t>(0xF0 | marker));
        pty.write(commands);
        ASSERT_TRUE(kb.waitForControlRequests(before + 1));
    }

    // Moves the hand-set clock to t and returns once the worker has run a pass
    // that saw it (a sleeping worker looks at the clock only when woken).
    void advanceClockTo(std::uint32_t t) {
        clock.set(t);
        const int seen = clock.readCount();
        KeyRelayTestPeer::wake(relay);
        ASSERT_TRUE(waitFor([&] { return clock.readCount() > seen; }));
    }

    EmulatedKeyboard kb;
    PtyPair pty{true};
    ManualClock clock;
    KeyRelay relay;
    std::uint8_t marker = 0;  // hostSendsAndWait()'s last LED marker
};
