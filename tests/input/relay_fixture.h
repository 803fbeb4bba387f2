// Relays running end to end for a test, with the hand-set clock of the
// X68000 Z keyboard's fixture (tests/usb/relay_fixture.h), whose helpers they
// share:
//   - RelayOnEmulatedInputDevice: an input-device keyboard, the emulated
//     input device read through real libevdev (InputKeyboard), relayed to a
//     real pty. The device is given to the relay by its node's name (event5),
//     or by any name the test passes, or by the keyboard a test makes;
//     udev's news of its return is watched for.
//   - RelayWithAnEmulatedMouse: the X68000 Z keyboard with an emulated mouse
//     beside it (InputMouse on event6), whose packets go to a second real pty,
//     the mouse's line.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "input/emulated_input_device.h"
#include "input/input_keyboard.h"
#include "input/input_mouse.h"
#include "usb/relay_fixture.h"

class RelayOnEmulatedInputDevice : public RelayOnEmulatedKeyboard {
protected:
    explicit RelayOnEmulatedInputDevice(EmulatedInputDevice::Options options = {},
                                        std::string deviceName = "event5")
        : RelayOnEmulatedKeyboard(
              {.present = false},
              [deviceName](ByteQueue& keyQueue, std::function<void()> keysQueued) {
                  return std::make_unique<InputKeyboard>(keyQueue, deviceName, defaultInputKeyMap(),
                                                         std::move(keysQueued));
              }),
          device(kb, std::move(options)) {}
    // The device read by the keyboard that makeKeyboard makes.
    RelayOnEmulatedInputDevice(EmulatedInputDevice::Options options,
                               const KeyRelay::KeyboardFactory& makeKeyboard)
        : RelayOnEmulatedKeyboard({.present = false}, makeKeyboard),
          device(kb, std::move(options)) {}

    // As the X68000 Z keyboard's, and the device was let go of too.
    void TearDown() override {
        RelayOnEmulatedKeyboard::TearDown();
        EXPECT_TRUE(device.waitForCloses(device.opens()));
        EXPECT_FALSE(device.grabbed());
        EXPECT_TRUE(device.unexpectedIoctls().empty())
            << ::testing::PrintToString(device.unexpectedIoctls());
    }

    EmulatedInputDevice device;
};

class RelayWithAnEmulatedMouse : public RelayOnEmulatedKeyboard {
protected:
    static EmulatedInputDevice::Options mouseOptions() {
        return {.kind = EmulatedInputDevice::Kind::Mouse,
                .name = "Logitech USB Optical Mouse",
                .productId = 0xc077,
                .usbPort = 5,
                .eventNumber = 6};
    }

    RelayWithAnEmulatedMouse() : mouse(kb, mouseOptions()) {
        relay.addMouse(std::make_unique<InputMouse>("event6"), mouseLine.portPath());
    }

    // As the X68000 Z keyboard's, and the mouse was let go of too.
    void TearDown() override {
        RelayOnEmulatedKeyboard::TearDown();
        EXPECT_TRUE(mouse.waitForCloses(mouse.opens()));
        EXPECT_FALSE(mouse.grabbed());
        EXPECT_TRUE(mouse.unexpectedIoctls().empty())
            << ::testing::PrintToString(mouse.unexpectedIoctls());
    }

    // The mouse and its line as the relay tells of them.
    MouseStatus mouseStatus() const { return relay.status().mouse.value_or(MouseStatus{}); }

    EmulatedInputDevice mouse;
    PtyPair mouseLine{true};
};
