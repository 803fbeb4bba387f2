// A thousand starts and stops of the relay's worker over two real ptys, with the
// keyboard open on real libusb against the emulated keyboard: every worker
// handles USB events, and stop() joins it. Nothing may pile up (descriptors,
// threads; under ASan, leaks are reported when the test's process exits) and
// nothing may deadlock (ctest's time-out is the bound); the relay must still
// carry keys to the port it was last started on, and each line must hear
// exactly what its workers owed it: one ready byte per start (the keyboard is
// open throughout), the keys, and the break of a key held at a stop.
#include <gtest/gtest.h>

#include "process_probe.h"
#include "relay/key_relay.h"
#include "support/manual_clock.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kCycles = 1000;
constexpr int kCheckEvery = 25;  // cycles between proofs that keys still get through (odd and even)

TEST(StartStopStorm, ThousandCyclesOverTwoPortsLeaveNothingBehind) {
    EmulatedKeyboard kb;
    PtyPair lines[2] = {PtyPair(true), PtyPair(true)};
    ManualClock clock;  // never advances: no key repeats, so each check is one key byte
    {
        KeyRelay relay(clock.source());
        ASSERT_TRUE(relay.openKeyboard());
        const int fds = openFdCount();
        const int threads = threadCount();

        bool aDown = false;
        Bytes owed[2];  // what each line has been sent since the test last read it
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            PtyPair& line = lines[cycle % 2];
            const int passesBefore = clock.readCount();
            relay.start(line.portPath());
            owed[cycle % 2].push_back(kReadyByte);  // written as the worker opens the port
            if (cycle % kCheckEvery == 0) {
                ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }))
                    << "cycle " << cycle;
                aDown = !aDown;
                const auto key = static_cast<std::uint8_t>(aDown ? 0x1E : 0x9E);
                kb.sendReport(EmulatedKeyboard::kBootEndpoint,
                              {0, 0, static_cast<std::uint8_t>(aDown ? 0x04 : 0), 0, 0, 0, 0, 0});
                owed[cycle % 2].push_back(key);
                ASSERT_EQ(line.read(owed[cycle % 2].size()), owed[cycle % 2]) << "cycle " << cycle;
                owed[cycle % 2].clear();
                if (aDown) {
                    owed[cycle % 2].push_back(0x9E);  // this worker's stop lets A go
                }
            }
            // Half the workers are stopped as soon as they exist, half once they
            // have looped (handled USB events, pumped keys, read the port).
            if ((cycle / 2) % 2 == 0) {
                ASSERT_TRUE(waitFor([&] { return clock.readCount() > passesBefore; }))
                    << "cycle " << cycle;
            }
            // Every third worker is ended by the next start() instead of stop().
            if (cycle % 3 != 2) {
                relay.stop();
            }
        }
        relay.stop();

        EXPECT_EQ(openFdCount(), fds);
        EXPECT_EQ(threadCount(), threads);
        EXPECT_FALSE(processHasOpen(lines[0].slavePath()));
        EXPECT_FALSE(processHasOpen(lines[1].slavePath()));
        EXPECT_TRUE((relay.status().keyboard().state == KeyboardState::Connected));
        relay.closeKeyboard();
    }
    EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    EXPECT_TRUE(kb.unexpectedIoctls().empty()) << ::testing::PrintToString(kb.unexpectedIoctls());
}

}  // namespace
