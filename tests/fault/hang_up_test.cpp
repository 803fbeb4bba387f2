// The serial device hung up while the relay still has bytes to write: the host
// end stops reading, the line fills, the worker sleeps in write() with more
// keys waiting behind it, and then the line goes away (as a USB serial adapter
// pulled out does). The worker must wake, report the port lost, close it, and
// keep draining the keyboard without the port; stop and close must not hang.
#include <gtest/gtest.h>

#include "process_probe.h"
#include "relay/key_relay.h"
#include "support/manual_clock.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using PortState = KeyRelay::PortState;
constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;

// Reports are sent in batches small enough for one worker pass to take whole
// (its key queue keeps 4096 bytes; each report toggles every key of the bitmap
// endpoint, about a hundred bytes), until the line is full; a pty holds some
// 64 KiB, so this bound is far off.
constexpr int kBatch = 30;
constexpr int kMostReports = 6000;

TEST(HangUp, WhileTheRelayHasBytesToWriteTheWorkerLetsGoOfThePort) {
    EmulatedKeyboard kb;
    PtyPair pty(true);
    ManualClock clock;
    {
        KeyRelay relay(clock.source());
        ASSERT_TRUE(relay.openKeyboard());
        relay.start(pty.portPath());
        ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
        const int slaveFd = fdOpenOn(pty.slavePath());
        ASSERT_GE(slaveFd, 0);

        // The host reads nothing, so the worker ends up asleep in write().
        // (Not status() meanwhile: it would wait for the port lock that write holds.)
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
        sendBatch();  // keys waiting behind the blocked write
        EXPECT_GT(kb.pendingReports(kBitmap), 0u);

        pty.closeMaster();
        ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Lost; }));
        EXPECT_FALSE(processHasOpen(pty.slavePath()));
        EXPECT_TRUE(relay.status().usbActive);  // the keyboard side carries on
        EXPECT_TRUE(kb.waitForDelivered());     // and drains every waiting report
        relay.stop();
        EXPECT_EQ(relay.status().port, PortState::Idle);
        relay.closeKeyboard();
    }
    EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    EXPECT_TRUE(kb.unexpectedIoctls().empty()) << ::testing::PrintToString(kb.unexpectedIoctls());
}

}  // namespace
