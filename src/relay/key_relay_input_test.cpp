// The relay end to end with an input-device keyboard: the emulated evdev node
// -> real libevdev (InputKeyboard) -> worker -> real pty, and the host's LED
// commands back to the device's lamps.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "input/relay_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class InputRelay : public RelayOnEmulatedInputDevice {
protected:
    using RelayOnEmulatedInputDevice::RelayOnEmulatedInputDevice;
};

TEST_F(InputRelay, KeysReachTheHostAndTheHostsLedsTheLamps) {
    device.press(KEY_A);
    device.autoRepeat(KEY_A);  // the relay repeats by itself
    device.release(KEY_A);
    device.sendFrame({{KEY_LEFTSHIFT, 1}, {KEY_F11, 1}});
    device.sendFrame({{KEY_LEFTSHIFT, 0}, {KEY_F11, 0}});
    EXPECT_EQ(pty.read(6), (Bytes{0x1E, 0x9E, 0x70, 0x5A, 0xF0, 0xDA}));

    pty.write({0xF6});  // CAPS and かな lit
    ASSERT_TRUE(device.waitFor([&] { return device.led(LED_CAPSL) && device.led(LED_SCROLLL); }));
    pty.write({0xF7});  // CAPS alone
    ASSERT_TRUE(device.waitFor([&] { return !device.led(LED_SCROLLL); }));
    EXPECT_TRUE(device.led(LED_CAPSL));
    EXPECT_EQ(relay.status().keyboard().state, KeyboardState::Connected);
}

// Named by the link udev makes, which follows the device to another node.
class InputRelayByLink : public InputRelay {
protected:
    InputRelayByLink() : InputRelay({}, "/dev/input/by-id/usb-Logitech_USB_Keyboard-event-kbd") {}
};

TEST_F(InputRelayByLink, UnpluggedWithShiftHeldAndBackItIsLetGoThenAnnouncedWithTheHostsLeds) {
    pty.write({0xF7});  // CAPS lit
    ASSERT_TRUE(device.waitFor([&] { return device.led(LED_CAPSL); }));
    device.press(KEY_LEFTSHIFT);
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    device.unplug();
    EXPECT_EQ(pty.read(1), Bytes{0xF0});  // the host must not be left holding it
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));

    device.plugIn(7);  // udev tells of it, as another node: no clock needs to move
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    ASSERT_TRUE(device.waitFor([&] { return device.led(LED_CAPSL); }));  // the host's again
    EXPECT_TRUE(device.grabbed());
    device.press(KEY_B);
    EXPECT_EQ(pty.read(1), Bytes{0x2E});
}

// A Bluetooth keyboard, which no link follows, named by its name or by its
// address (in bluetoothctl's capitals), which its touchpad's node beside it
// has too.
class InputRelayOverBluetooth : public InputRelay,
                                public ::testing::WithParamInterface<const char*> {
protected:
    InputRelayOverBluetooth() : InputRelay(EmulatedInputDevice::bluetoothKeyboard(), GetParam()) {}

    EmulatedInputDevice touchpad{kb,
                                 {.kind = EmulatedInputDevice::Kind::Mouse,
                                  .name = "Keyboard K380 Mouse",
                                  .uniq = "aa:bb:cc:dd:ee:01",
                                  .usbPort = 6,
                                  .eventNumber = 6,
                                  .bluetooth = true}};
};

TEST_P(InputRelayOverBluetooth, IsFoundAndFoundAgainWhenItReturnsUnderAnotherNode) {
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    device.unplug();
    EXPECT_EQ(pty.read(1), Bytes{0x9E});
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));

    device.plugIn(9);  // udev tells of a device of that id and name
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    device.press(KEY_B);
    EXPECT_EQ(pty.read(1), Bytes{0x2E});
    EXPECT_EQ(touchpad.opens(), 0);  // not a keyboard, whatever its id
}

INSTANTIATE_TEST_SUITE_P(ByNameOrAddress, InputRelayOverBluetooth,
                         ::testing::Values("Keyboard K380", "AA:BB:CC:DD:EE:01"));

// Another program (a desktop's remapper, a second pellora) holds the grab.
class InputRelayHeldElsewhere : public InputRelay {
protected:
    void SetUp() override {
        device.holdGrabElsewhere(true);
        ASSERT_FALSE(relay.openKeyboard());
        startRelay(false);
    }
};

TEST_F(InputRelayHeldElsewhere, IsRefusedAndTriedAfterGrowingPausesUntilItIsLetGo) {
    ASSERT_TRUE(device.waitFor([&] { return device.opens() == 2; }));  // start, the worker's look
    EXPECT_EQ(relay.status().keyboard().state, KeyboardState::Refused);
    EXPECT_EQ(relay.status().keyboard().failure, KeyboardConnection::Failure::Busy);
    std::uint32_t due = clock.get();
    int tries = device.opens();
    for (const std::uint32_t pause : {900u, 1800u, 3600u}) {
        due += pause;
        advanceClockTo(due - 1);
        EXPECT_EQ(device.opens(), tries) << "before " << due;
        advanceClockTo(due);
        ++tries;
        ASSERT_TRUE(device.waitFor([&] { return device.opens() == tries; })) << "at " << due;
    }
    EXPECT_TRUE(device.waitForCloses(tries));  // nothing kept open meanwhile
    device.holdGrabElsewhere(false);
    advanceClockTo(due + 7200);
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
}

}  // namespace
