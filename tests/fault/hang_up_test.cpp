// A host end that stops reading: the line fills and every further byte is
// lost, but the relay must stay responsive (status() and stop() answer, the
// keyboard keeps draining), type again once the host reads again, and let go
// of the port when the line then goes away (as a USB serial adapter pulled out
// does).
#include <algorithm>
#include <atomic>
#include <thread>

#include "full_line_fixture.h"
#include "protocol/scan_code.h"

namespace {

TEST_F(FullLine, WorkerNeverWaitsOnAHostThatReadsNothing) {
    ASSERT_NO_FATAL_FAILURE(fillTheLine());
    EXPECT_FALSE(threadBlockedInWrite(slaveFd));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        EXPECT_EQ(relay.status().port, PortState::Open);
        relay.stop();
        stopped = true;
    });
    const bool answered = waitFor([&] { return stopped.load(); });
    if (!answered) {
        pty.closeMaster();  // frees a stuck worker, so the test can end
    }
    stopper.join();
    EXPECT_TRUE(answered) << "status() or stop() waited on the full line";
}

TEST_F(FullLine, TypingResumesOnceTheHostReadsAgain) {
    ASSERT_NO_FATAL_FAILURE(fillTheLine());
    // Two more passes: the worker is done with all it was given (the second
    // pass starts only after the first has ended). Then the host reads the lot.
    advanceClockTo(clock.get());
    advanceClockTo(clock.get());
    Bytes backlog;
    for (std::size_t before = 1; backlog.size() != before;) {
        before = backlog.size();
        pty.readReady(backlog);
    }
    EXPECT_GT(backlog.size(), 0u);
    // Right GUI (0x60) is on the boot report only: the next key goes through,
    // behind whatever breaks the full line still owed.
    kb.sendReport(EmulatedKeyboard::kBootEndpoint, {0x80, 0, 0, 0, 0, 0, 0, 0});
    Bytes after;
    ASSERT_TRUE(waitFor([&] {
        pty.readReady(after);
        return std::find(after.begin(), after.end(), 0x60) != after.end();
    }));
    EXPECT_TRUE(std::all_of(after.begin(), std::find(after.begin(), after.end(), 0x60),
                            [](std::uint8_t b) { return isBreak(b); }));
}

TEST_F(FullLine, ABreakTheFullLineRefusedGoesOutAsSoonAsItTakesBytesAgain) {
    kb.sendReport(EmulatedKeyboard::kBootEndpoint, {0x02, 0, 0, 0, 0, 0, 0, 0});  // Shift
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    ASSERT_NO_FATAL_FAILURE(fillTheLine());
    sendAndWaitForItsPass(EmulatedKeyboard::kBootEndpoint, Bytes(8, 0));  // let go, not told
    // The host reads again and nothing more is typed: the break comes by itself.
    Bytes seen;
    EXPECT_TRUE(waitFor([&] {
        pty.readReady(seen);
        return std::find(seen.begin(), seen.end(), 0xF0) != seen.end();
    }));
}

TEST_F(FullLine, HangUpWhileFullLetsGoOfThePort) {
    ASSERT_NO_FATAL_FAILURE(fillTheLine());
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
    EXPECT_TRUE((relay.status().keyboard().state ==
                 KeyboardState::Connected));  // the keyboard side carries on
    kb.sendReport(kBitmap, Bytes(16, 0xFF));
    EXPECT_TRUE(kb.waitForDelivered());  // and drains every report without the port
    relay.stop();
    EXPECT_EQ(relay.status().port, PortState::Idle);
}

}  // namespace
