// The relay end to end with an input-device keyboard: the emulated evdev node
// -> real libevdev (InputKeyboard) -> worker -> real pty, and the host's LED
// commands back to the device's lamps.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <thread>

#include "input/relay_fixture.h"
#include "support/x68000_typing.h"

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

TEST_F(InputRelay, AHostThatStartsIsToldTheKeysStillHeldInTheOrderPressed) {
    device.press(KEY_RIGHTCTRL);  // OPT.2, held through the X68000's reset
    device.press(KEY_LEFTALT);    // XF1
    EXPECT_EQ(pty.read(2), (Bytes{0x73, 0x55}));
    // Every ROM's start: FF FF 41 49 59 51 5C 63 72. Its 0x49 is answered
    // with the makes once, and nothing else changes: the last key still
    // repeats, and a key let go of gets its break.
    pty.write({0xFF, 0xFF, 0x41, 0x49, 0x59, 0x51, 0x5C, 0x63, 0x72});
    EXPECT_EQ(pty.read(2), (Bytes{0x73, 0x55}));
    device.release(KEY_RIGHTCTRL);
    EXPECT_EQ(pty.read(1), Bytes{0xF3});
}

TEST_F(InputRelay, AStopWithAKeyHeldLetsTheHostGoAtOnceAndTheDeviceOnceTheKeyIsUp) {
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    relay.stop();
    EXPECT_EQ(pty.read(1), Bytes{0x9E});  // the host, at once
    // The device stays grabbed while A is down (else the console would type
    // A's auto-repeat): closing reads it meanwhile, and lets go once A is up.
    KeyRelayTestPeer::setKeysUpWait(relay, 10000);
    const int reads = device.reads();
    std::thread closing([&] { relay.closeKeyboard(); });
    device.press(KEY_B);  // wakes the closing's wait, which reads
    const bool readWhileClosing = device.waitFor([&] { return device.reads() > reads; });
    device.sendFrame({{KEY_A, 0}, {KEY_B, 0}});
    closing.join();
    EXPECT_TRUE(readWhileClosing);
    EXPECT_FALSE(device.grabbed());
    EXPECT_EQ(device.ungrabsWithAKeyDown(), 0);
    EXPECT_EQ(device.keysStuckOnTheDesktop(), 0);
    EXPECT_EQ(pty.restOfLine(), Bytes{});  // nothing typed after the stop
}

// Two keyboards on one line: the second on event7.
class TwoInputKeyboards : public InputRelay {
protected:
    TwoInputKeyboards()
        : second(kb,
                 {.name = "Cherry Keypad", .productId = 0xc31d, .usbPort = 6, .eventNumber = 7}) {
        relay.addKeyboard([](ByteQueue& keyQueue, std::function<void()> keysQueued) {
            return std::make_unique<InputKeyboard>(keyQueue, "event7", defaultInputKeyMap(),
                                                   std::move(keysQueued));
        });
    }
    void TearDown() override {
        InputRelay::TearDown();
        EXPECT_FALSE(second.grabbed());
    }

    EmulatedInputDevice second;
};

TEST_F(TwoInputKeyboards, TypeAsOneAndOneLostLetsGoOnlyOfWhatItAloneHeld) {
    ASSERT_EQ(relay.status().keyboards.size(), 2u);
    device.press(KEY_LEFTSHIFT);
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    second.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    second.press(KEY_RIGHTSHIFT);  // SHIFT is down already: nothing
    second.press(KEY_C);
    EXPECT_EQ(pty.read(1), Bytes{0x2C});
    device.release(KEY_LEFTSHIFT);  // SHIFT stays down: the other keyboard holds it
    second.release(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x9E});
    device.press(KEY_B);
    EXPECT_EQ(pty.read(1), Bytes{0x2E});
    // The second keyboard unplugged with C and SHIFT held: they go up, B stays.
    second.unplug();
    EXPECT_EQ(pty.read(2), (Bytes{0xAC, 0xF0}));
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboards[1].state == KeyboardState::Absent; }));
    EXPECT_EQ(relay.status().keyboard().state, KeyboardState::Connected);
    pty.write({0xF7});  // CAPS lit: on the keyboard that is there
    ASSERT_TRUE(device.waitFor([&] { return device.led(LED_CAPSL); }));
    device.release(KEY_B);
    EXPECT_EQ(pty.read(1), Bytes{0xAE});
    second.plugIn(7);
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(second.waitFor([&] { return second.led(LED_CAPSL); }));  // the host's LEDs too
}

// One device as keyboard and mouse (a keyboard with a pointing stick).
class KeyboardAndMouseOnOneNode : public RelayOnEmulatedInputDevice {
protected:
    KeyboardAndMouseOnOneNode()
        : KeyboardAndMouseOnOneNode(
              std::make_shared<InputNode>("event5", InputDeviceName::Kind::Keyboard, true)) {}
    explicit KeyboardAndMouseOnOneNode(std::shared_ptr<InputNode> both)
        : RelayOnEmulatedInputDevice({.pointer = true},
                                     [both](ByteQueue& keyQueue, std::function<void()> keysQueued) {
                                         return std::make_unique<InputKeyboard>(
                                             keyQueue, both, defaultInputKeyMap(),
                                             std::move(keysQueued));
                                     }),
          node(std::move(both)) {
        relay.addMouse(std::make_unique<InputMouse>(node), mouseLine.portPath());
    }

    std::shared_ptr<InputNode> node;
    PtyPair mouseLine{true};
};

TEST_F(KeyboardAndMouseOnOneNode, IsOpenedAndGrabbedOnceAndComesAndGoesAsOne) {
    EXPECT_EQ(device.opens(), 1);
    EXPECT_EQ(device.grabs(), 1);
    device.move(3, -2, 0, {{BTN_LEFT, 1}});
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    pty.write({0x41, 0x40});  // the host asks the mouse for a packet
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x01, 3, 0xFE}));
    device.unplug();
    EXPECT_EQ(pty.read(1), Bytes{0x9E});
    ASSERT_TRUE(waitFor([&] {
        const RelayStatus s = relay.status();
        return s.keyboard().state == KeyboardState::Absent &&
               s.mouse->device == KeyboardState::Absent;
    }));
    device.plugIn(5);
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(waitFor([&] {
        const RelayStatus s = relay.status();
        return s.keyboard().state == KeyboardState::Connected &&
               s.mouse->device == KeyboardState::Connected;
    }));
    EXPECT_EQ(device.grabs(), 2);
}

// A US keyboard with --layout=us types what its key tops print.
class UsKeyboard : public RelayOnEmulatedInputDevice {
protected:
    UsKeyboard()
        : RelayOnEmulatedInputDevice({}, [](ByteQueue& keyQueue, std::function<void()> keysQueued) {
              return std::make_unique<InputKeyboard>(
                  keyQueue, "event5", KeyTranslator(layoutKeyMap(Layout::Us), Layout::Us),
                  std::move(keysQueued));
          }) {}

    // Types text as a person would on a US keyboard: Shift held for the
    // characters printed above others.
    void type(const std::string& text) {
        for (const char c : text) {
            const KeyTop space{KEY_SPACE, U' ', U' '};
            const KeyTop* top = c == ' ' ? &space : nullptr;
            bool shifted = false;
            for (const KeyTop& t : keyTops(Layout::Us)) {
                if (t.plain == static_cast<char32_t>(c) || t.shifted == static_cast<char32_t>(c)) {
                    top = &t;
                    shifted = t.shifted == static_cast<char32_t>(c);
                    break;
                }
            }
            ASSERT_NE(top, nullptr) << c;
            if (shifted) {
                device.press(KEY_LEFTSHIFT);
            }
            device.press(top->key);
            device.release(top->key);
            if (shifted) {
                device.release(KEY_LEFTSHIFT);
            }
            ASSERT_TRUE(device.waitUntilRead());  // a typist's pace, not a flood
        }
    }
};

TEST_F(UsKeyboard, TypesWhatItsKeyTopsPrint) {
    const std::string text = "Hello, \"world\"! a@b.c_d\\e|f~g'h:i=j+k`l^m&n*(o)[p]{q}<r>?s/";
    type(text);
    device.press(KEY_ENTER);  // a marker: what came before its make is the text's
    X68000Typing x68000;
    x68000.receive(pty.readUntil(0x1D));
    EXPECT_EQ(x68000.typed(), text);
}

// A keyboard shared with the computer (--share): the computer's until Scroll
// Lock is pressed twice within 500 ms of the relay's clock.
class SharedKeyboard : public RelayOnEmulatedInputDevice {
protected:
    SharedKeyboard()
        : SharedKeyboard(std::make_shared<ShareSwitch>(KEY_SCROLLLOCK, "Scroll Lock",
                                                       [this] { return clock.get(); })) {}
    explicit SharedKeyboard(std::shared_ptr<ShareSwitch> s)
        : RelayOnEmulatedInputDevice(
              {},
              [s](ByteQueue& keyQueue, std::function<void()> keysQueued) {
                  return std::make_unique<InputKeyboard>(
                      keyQueue,
                      std::make_shared<InputNode>("event5", InputDeviceName::Kind::Keyboard, true),
                      defaultInputKeyMap(), std::move(keysQueued), s);
              }),
          share(std::move(s)) {
        relay.setShare(share);
    }

    void tapTwice() {
        for (int i = 0; i < 2; ++i) {
            device.press(KEY_SCROLLLOCK);
            device.release(KEY_SCROLLLOCK);
        }
    }
    bool sideIs(ShareSwitch::Side side) {
        return waitFor([&] { return relay.status().share == side; });
    }

    std::shared_ptr<ShareSwitch> share;
};

TEST_F(SharedKeyboard, SwitchesThereAndBackAndEachKeyGoesUpWhereItWentDown) {
    EXPECT_EQ(relay.status().share, ShareSwitch::Side::Computer);
    EXPECT_FALSE(device.grabbed());
    device.press(KEY_A);  // the computer's, held across the switch
    tapTwice();
    ASSERT_TRUE(sideIs(ShareSwitch::Side::X68000));
    EXPECT_FALSE(device.grabbed());  // A is still the computer's
    device.release(KEY_A);
    ASSERT_TRUE(device.waitFor([&] { return device.grabKept(); }));
    device.press(KEY_B);  // the X68000's, held across the switch back
    EXPECT_EQ(pty.read(1), Bytes{0x2E});
    tapTwice();
    EXPECT_EQ(pty.read(1), Bytes{0xAE});  // at once: the X68000 must not hold it
    ASSERT_TRUE(sideIs(ShareSwitch::Side::Computer));
    EXPECT_TRUE(device.grabbed());  // until B is up: its release is not the desktop's
    device.release(KEY_B);
    ASSERT_TRUE(device.waitFor([&] { return !device.grabbed(); }));
    device.press(KEY_C);
    device.release(KEY_C);
    EXPECT_EQ(device.keysStuckOnTheDesktop(), 0);
    EXPECT_EQ(device.ungrabsWithAKeyDown(), 0);
    EXPECT_EQ(pty.restOfLine(), Bytes{});  // no tap, no A, no C reached the X68000
}

TEST_F(SharedKeyboard, ASinglePressOnTheX68000sSideIsItsKeyOnceTheDoubleTapTimeHasPassed) {
    tapTwice();
    ASSERT_TRUE(device.waitFor([&] { return device.grabKept(); }));
    const std::uint32_t tapped = clock.get();
    device.press(KEY_SCROLLLOCK);
    device.release(KEY_SCROLLLOCK);
    // The press read, and a pass after it: it was seen at the time it was made.
    ASSERT_TRUE(device.waitUntilRead());
    advanceClockTo(tapped);
    advanceClockTo(tapped + ShareSwitch::kDoubleTapMs - 1);
    device.press(KEY_A);  // typed at once; Scroll Lock still waits
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    advanceClockTo(tapped + ShareSwitch::kDoubleTapMs);
    EXPECT_EQ(pty.read(2), (Bytes{0x54, 0xD4}));  // HELP, pressed and let go
    device.release(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x9E});
}

TEST_F(SharedKeyboard, TheKeyLineLostGivesTheKeyboardBackToTheComputer) {
    tapTwice();
    ASSERT_TRUE(device.waitFor([&] { return device.grabKept(); }));
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    pty.closeMaster();  // the adapter pulled out
    ASSERT_TRUE(sideIs(ShareSwitch::Side::Computer));
    device.release(KEY_A);
    ASSERT_TRUE(device.waitFor([&] { return !device.grabbed(); }));
    EXPECT_EQ(device.keysStuckOnTheDesktop(), 0);
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
