// The mouse beside the keyboard, end to end: the emulated mouse -> real
// libevdev (InputMouse) -> the relay's worker, which answers the host's
// requests on the key line (0x41, then 0x40) with packets on the mouse's own
// line, a second real pty.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <termios.h>

#include "input/relay_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kIdle{0x00, 0x00, 0x00};

class MouseRelayTest : public RelayWithAnEmulatedMouse {
protected:
    // The host asks the mouse for a packet: MSCTRL high, then low.
    void request() { pty.write({0x41, 0x40}); }
};

TEST_F(MouseRelayTest, EachRequestGetsOnePacketOfTheButtonsAndTheMotionSinceTheLast) {
    MouseStatus relaying;
    relaying.device = KeyboardState::Connected;
    relaying.port = PortState::Open;
    EXPECT_EQ(mouseStatus(), relaying);
    termios tio{};
    ASSERT_EQ(tcgetattr(mouseLine.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B4800);
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | PARENB), static_cast<tcflag_t>(CS8 | CSTOPB));

    pty.write({0x40});  // low, but never heard high: a host already running asks nothing
    mouse.move(3, -2);
    mouse.move(4, -1);
    request();
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x00, 7, 0xFD}));
    request();
    EXPECT_EQ(mouseLine.read(3), kIdle);  // an idle mouse answers too
    mouse.move(-1, 1, 0, {{BTN_LEFT, 1}, {BTN_RIGHT, 1}});
    request();
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x03, 0xFF, 0x01}));
    // Past a byte's range: clamped, the overflow bits set.
    mouse.move(100, -100, 0, {{BTN_RIGHT, 0}});
    mouse.move(100, -100);
    request();
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x01 | 0x10 | 0x80, 0x7F, 0x80}));
    // Two requests in one read (a late worker): one packet, or the host's
    // count of three bytes a request would be out of step from then on.
    mouse.move(5, 0, 0, {{BTN_LEFT, 0}});
    pty.write({0x41, 0x40, 0x41, 0x40});
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x00, 5, 0x00}));
    mouse.move(0, 6);
    request();
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x00, 0x00, 6}));
    relay.stop();
    EXPECT_EQ(mouseLine.restOfLine(), Bytes{});
    EXPECT_EQ(pty.restOfLine(), Bytes{});  // the key line hears nothing of it
}

TEST_F(MouseRelayTest, AnAbsentMouseIsSilentUntilItsReturnAndOneHeldElsewhereIsWaitedFor) {
    mouse.unplug();
    ASSERT_TRUE(waitFor([&] { return mouseStatus().device == KeyboardState::Absent; }));
    hostSendsAndWait({0x41, 0x40, 0x41, 0x40});  // asked, and answered by nobody

    mouse.holdGrabElsewhere(true);
    mouse.plugIn(6);  // udev tells of it: no clock needs to move
    ASSERT_TRUE(waitFor([&] { return mouseStatus().device == KeyboardState::Refused; }));
    EXPECT_EQ(mouseStatus().failure, KeyboardConnection::Failure::Busy);
    hostSendsAndWait({0x41, 0x40});
    mouse.holdGrabElsewhere(false);
    advanceClockTo(clock.get() + MouseRelay::kMouseRetryMs);
    ASSERT_TRUE(waitFor([&] { return mouseStatus().device == KeyboardState::Connected; }));
    mouse.move(1, 0);
    request();
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x00, 1, 0x00}));  // the first byte it sent at all
}

TEST_F(MouseRelayTest, ALostMouseLineIsOpenedAgainByNameAndMotionMeanwhileIsDropped) {
    PtyPair replacement{true};
    mouseLine.closeMaster();
    ASSERT_TRUE(waitFor([&] { return mouseStatus().port == PortState::Reopening; }));
    mouse.move(9, 9);
    hostSendsAndWait({0x41, 0x40});  // for no line
    replacement.linkAs(mouseLine.portPath());
    advanceClockTo(clock.get() + MouseRelay::kPortRetryMs);
    ASSERT_TRUE(waitFor([&] { return mouseStatus().port == PortState::Open; }));
    mouse.move(0, 2);
    request();
    EXPECT_EQ(replacement.read(3), (Bytes{0x00, 0x00, 2}));
    EXPECT_EQ(relay.status().port, PortState::Open);  // the key line stayed
}

// The wheel's notches as the relay hands them to KeyRelay's worker (which taps
// ROLL UP and ROLL DOWN for them), or not, with the wheel off.
TEST(MouseRelayWheel, NotchesAreHandedOnOnlyWhileTheWheelIsOn) {
    EmulatedKeyboard testbed{{.present = false}};
    EmulatedInputDevice device{testbed,
                               {.kind = EmulatedInputDevice::Kind::Mouse, .eventNumber = 6}};
    MouseRelay relay(std::make_unique<InputMouse>("event6"), "/nonexistent/ttyPELLORA", false);
    ASSERT_TRUE(relay.openMouse());
    device.move(0, 0, 2);
    relay.handleReady();
    EXPECT_EQ(relay.takeWheelNotches(), 0);  // --mouse-wheel=none
    relay.setWheel(true);
    device.move(0, 0, -3);
    relay.handleReady();
    EXPECT_EQ(relay.takeWheelNotches(), -3);  // the two before were let go of
    device.move(0, 0, 1);
    relay.begin(0);  // turned while no worker ran: for nobody
    EXPECT_EQ(relay.takeWheelNotches(), 0);
    relay.closeLine();
    relay.closeMouse();
    EXPECT_TRUE(device.waitForCloses(device.opens()));
}

}  // namespace
