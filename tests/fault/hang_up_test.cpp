// The serial device hung up while the relay still has bytes to write: the host
// end stops reading, the line fills, the worker sleeps in write() with more
// keys waiting behind it, and then the line goes away (as a USB serial adapter
// pulled out does). The worker must wake, report the port lost, close it, and
// keep draining the keyboard without the port; stop and close must not hang.
#include "full_line_fixture.h"

namespace {

using HangUp = FullLine;

TEST_F(HangUp, WhileTheRelayHasBytesToWriteTheWorkerLetsGoOfThePort) {
    ASSERT_NO_FATAL_FAILURE(fillTheLine());
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Lost; }));
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
    EXPECT_TRUE(relay.status().usbActive);  // the keyboard side carries on
    EXPECT_TRUE(kb.waitForDelivered());     // and drains every waiting report
    relay.stop();
    EXPECT_EQ(relay.status().port, PortState::Idle);
}

}  // namespace
