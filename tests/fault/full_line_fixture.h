// A relay on the emulated keyboard and a pty whose host end can be made to stop
// reading until the worker sleeps in write() on the full line: the state of the
// hang-up tests, shared with the known-fault program.
#pragma once

#include <gtest/gtest.h>

#include "process_probe.h"
#include "relay/key_relay.h"
#include "support/manual_clock.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

// Members go in reverse: the relay (and with it libusb) before the emulated keyboard.
class FullLine : public ::testing::Test {
protected:
    using Bytes = std::vector<std::uint8_t>;
    using PortState = KeyRelay::PortState;
    static constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;
    // Reports are sent in batches small enough for one worker pass to take
    // whole (its key queue keeps 4096 bytes; each report toggles every key of
    // the bitmap endpoint, about a hundred bytes), until the line is full; a
    // pty holds some 64 KiB, so the bound is far off.
    static constexpr int kBatch = 30;
    static constexpr int kMostReports = 6000;

    void SetUp() override {
        ASSERT_TRUE(relay.openKeyboard());
        relay.start(pty.portPath());
        ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
        slaveFd = fdOpenOn(pty.slavePath());
        ASSERT_GE(slaveFd, 0);
    }
    void TearDown() override {
        relay.stop();
        relay.closeKeyboard();
        EXPECT_TRUE(kb.waitForCloses(kb.opens()));
        EXPECT_TRUE(kb.unexpectedIoctls().empty())
            << ::testing::PrintToString(kb.unexpectedIoctls());
    }

    // Types while the host reads nothing, until the worker sleeps in write()
    // on the full line; then types one more batch, which waits behind it.
    // (No status() meanwhile: it would wait for the port lock that write holds.)
    void fillTheLine() {
        bool down = false;
        auto sendBatch = [&] {
            for (int i = 0; i < kBatch; ++i, down = !down) {
                kb.sendReport(kBitmap, Bytes(16, down ? 0x00 : 0xFF));
            }
        };
        int sent = 0;
        while (!threadBlockedInWrite(slaveFd)) {
            ASSERT_LT(sent, kMostReports) << "the worker never blocked on the full line";
            sendBatch();
            sent += kBatch;
            ASSERT_TRUE(waitFor(
                [&] { return kb.pendingReports(kBitmap) == 0 || threadBlockedInWrite(slaveFd); }));
        }
        sendBatch();
        EXPECT_GT(kb.pendingReports(kBitmap), 0u);
    }

    EmulatedKeyboard kb;
    PtyPair pty{true};
    ManualClock clock;
    KeyRelay relay{clock.source()};
    int slaveFd = -1;
};
