// A mouse read through real libevdev, against an emulated evdev node under
// umockdev.
#include "input/input_mouse.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <stdexcept>

#include "input/emulated_input_device.h"

namespace {

using Packet = MouseMotion::Packet;
using Kind = EmulatedInputDevice::Kind;

class InputMouseTest : public ::testing::Test {
protected:
    void TearDown() override {
        mouse.close();
        EXPECT_TRUE(device.waitForCloses(device.opens()));
        EXPECT_FALSE(device.grabbed());
        EXPECT_TRUE(device.unexpectedIoctls().empty())
            << ::testing::PrintToString(device.unexpectedIoctls());
    }

    // What the host's next request gets, once the worker has read the mouse.
    std::optional<Packet> packet() {
        mouse.handleEvents(0);
        return mouse.takePacket();
    }

    EmulatedKeyboard testbed{{.present = false}};
    EmulatedInputDevice device{
        testbed, {.kind = Kind::Mouse, .name = "Logitech USB Optical Mouse", .eventNumber = 6}};
    InputMouse mouse{"event6"};
};

TEST_F(InputMouseTest, MotionIsSummedBetweenPacketsBesideTheLeftAndRightButtons) {
    ASSERT_TRUE(mouse.open()) << mouse.failureText();
    EXPECT_TRUE(device.grabbed());
    EXPECT_EQ(mouse.pollDescriptors().size(), 2u);  // the node and udev's monitor
    EXPECT_EQ(packet(), (Packet{0x00, 0, 0}));      // an idle mouse answers too

    device.move(3, -2);
    device.move(4, -1);
    EXPECT_EQ(packet(), (Packet{0x00, 7, 0xFD}));
    device.move(-1, 1, 0, {{BTN_LEFT, 1}});
    EXPECT_EQ(packet(), (Packet{0x01, 0xFF, 0x01}));  // 0xFF: one to the left
    device.sendFrame({{BTN_RIGHT, 1}});
    EXPECT_EQ(packet(), (Packet{0x03, 0, 0}));
    // The middle button has no place, nor the wheel in a packet.
    device.move(0, 0, 3, {{BTN_LEFT, 0}, {BTN_MIDDLE, 1}});
    EXPECT_EQ(packet(), (Packet{0x02, 0, 0}));
    EXPECT_EQ(mouse.takeWheelNotches(), 3);
    // Motion past a byte's range: clamped, its overflow bit set, the rest dropped.
    device.move(100, -100);
    device.move(100, -100);
    EXPECT_EQ(packet(), (Packet{0x02 | 0x10 | 0x80, 0x7F, 0x80}));
    EXPECT_EQ(packet(), (Packet{0x02, 0, 0}));
}

TEST_F(InputMouseTest, TheWheelsNotchesAreCountedAndItsHighResolutionAddsNothing) {
    ASSERT_TRUE(mouse.open());
    device.move(0, 0, 2);  // REL_WHEEL 2 and REL_WHEEL_HI_RES 240
    device.move(0, 0, -3);
    mouse.handleEvents(0);
    EXPECT_EQ(mouse.takeWheelNotches(), -1);  // net, + up
    EXPECT_EQ(mouse.takeWheelNotches(), 0);
    device.scroll(50);  // a fine wheel: parts of a notch are no notch
    device.scroll(50);
    mouse.handleEvents(0);
    EXPECT_EQ(mouse.takeWheelNotches(), 0);
    device.scroll(50);  // 150: one made up
    device.scroll(-30);
    mouse.handleEvents(0);
    EXPECT_EQ(mouse.takeWheelNotches(), 1);
}

TEST_F(InputMouseTest, MotionIsScaledBeforeItIsSummed) {
    InputMouse slow{"event6", true, 0.5};
    ASSERT_TRUE(slow.open());
    device.move(4, -3);
    device.move(1, 0);
    slow.handleEvents(0);
    EXPECT_EQ(slow.takePacket(), (Packet{0x00, 3, 0xFF}));  // 2.5 and -1.5, halves up
    EXPECT_THROW(InputMouse("event6", true, 20), std::invalid_argument);
}

TEST_F(InputMouseTest, AButtonReleasedDuringADropComesOutReleased) {
    ASSERT_TRUE(mouse.open());
    device.sendFrame({{BTN_LEFT, 1}, {BTN_RIGHT, 1}});
    EXPECT_EQ(packet(), (Packet{0x03, 0, 0}));
    device.overflow({{BTN_LEFT, 0}});
    EXPECT_EQ(packet(), (Packet{0x02, 0, 0}));
}

TEST_F(InputMouseTest, AButtonDownAtOpenLeavesTheMouseToTheDesktopUntilItIsUp) {
    device.press(BTN_LEFT);  // the click that started the program, still held
    ASSERT_TRUE(mouse.open());
    EXPECT_FALSE(device.grabbed());
    device.move(5, 5, 1);
    EXPECT_EQ(packet(), (Packet{0x00, 0, 0}));  // the desktop's drag and scroll
    EXPECT_EQ(mouse.takeWheelNotches(), 0);
    device.release(BTN_LEFT);
    device.move(1, 1);  // queued before the grab: the desktop's too
    EXPECT_EQ(packet(), (Packet{0x00, 0, 0}));
    EXPECT_TRUE(device.grabbed());
    device.move(2, 0);
    EXPECT_EQ(packet(), (Packet{0x00, 2, 0}));
}

TEST_F(InputMouseTest, UnpluggedItSendsNothingAndItsReturnIsAnnounced) {
    InputMouse byId{device.byIdPath()};
    ASSERT_TRUE(byId.open());
    EXPECT_TRUE(byId.watchesHotplug());
    device.move(9, 9, 2, {{BTN_LEFT, 1}});
    byId.handleEvents(0);
    device.unplug();
    byId.handleEvents(0);
    EXPECT_FALSE(byId.active());
    EXPECT_EQ(byId.takeLosses(), 1);
    EXPECT_EQ(byId.takePacket(), std::nullopt);
    EXPECT_EQ(byId.takeWheelNotches(), 0);
    EXPECT_TRUE(device.waitForCloses(device.opens()));  // released at once
    EXPECT_FALSE(byId.open());
    EXPECT_EQ(byId.failure(), InputMouse::Failure::Absent);

    device.plugIn(8);  // back as another node, its link following it
    ASSERT_TRUE(device.waitFor([&] {
        byId.handleEvents(0);
        return byId.takeArrival();
    }));
    ASSERT_TRUE(byId.open());
    EXPECT_TRUE(device.grabbed());
    EXPECT_EQ(byId.takePacket(), (Packet{0x00, 0, 0}));  // nothing of before it went
    EXPECT_EQ(byId.takeWheelNotches(), 0);
    device.move(1, 0);
    byId.handleEvents(0);
    EXPECT_EQ(byId.takePacket(), (Packet{0x00, 1, 0}));
    byId.close();
}

TEST_F(InputMouseTest, RefusesWhatItCannotRelayAndSaysWhy) {
    device.holdGrabElsewhere(true);
    EXPECT_FALSE(mouse.open());
    EXPECT_EQ(mouse.failure(), InputMouse::Failure::Busy);
    EXPECT_EQ(mouse.takePacket(), std::nullopt);
    EXPECT_TRUE(device.waitForCloses(device.opens()));  // nothing kept open
    device.holdGrabElsewhere(false);
    ASSERT_TRUE(mouse.open());
    EXPECT_EQ(mouse.failure(), InputMouse::Failure::None);

    EmulatedInputDevice keyboard(testbed, {.usbPort = 3, .eventNumber = 4});
    InputMouse notAMouse{"event4"};
    EXPECT_FALSE(notAMouse.open());
    EXPECT_EQ(notAMouse.failure(), InputMouse::Failure::Other);
    EXPECT_EQ(notAMouse.failureText(), "not a mouse: it has no relative motion");
    EXPECT_FALSE(keyboard.grabbed());
    EXPECT_TRUE(keyboard.waitForCloses(keyboard.opens()));
}

}  // namespace
