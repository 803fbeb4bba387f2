// A relay of an input-device keyboard running end to end for a test: the
// emulated input device read through real libevdev (InputKeyboard), a worker
// relaying to a real pty, and the hand-set clock of the X68000 Z keyboard's
// fixture (tests/usb/relay_fixture.h), whose helpers it shares.
//
// The device is given to the relay by its node's name (event5), or by any
// name the test passes; udev's news of its return is watched for.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "input/emulated_input_device.h"
#include "keyboard/input_keyboard.h"
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
