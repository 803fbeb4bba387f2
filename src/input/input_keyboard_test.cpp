// An input-device keyboard read through real libevdev, against an emulated
// evdev node under umockdev.
#include "input/input_keyboard.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <poll.h>

#include <vector>

#include "input/emulated_input_device.h"
#include "input/keymap_file.h"
#include "keyboard/x68000_keys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Options = EmulatedInputDevice::Options;

class InputKeyboardTest : public ::testing::Test {
protected:
    explicit InputKeyboardTest(Options options = {}) : device(testbed, std::move(options)) {}

    void TearDown() override {
        keyboard.close();
        EXPECT_TRUE(device.waitForCloses(device.opens()));
        EXPECT_FALSE(device.grabbed());
        EXPECT_TRUE(device.unexpectedIoctls().empty())
            << ::testing::PrintToString(device.unexpectedIoctls());
    }

    // What one pass of the worker reads now.
    Bytes handled() {
        keyboard.handleEvents(0);
        Bytes out(64);
        out.resize(keys.read(out.data(), out.size()));
        return out;
    }

    EmulatedKeyboard testbed{{.present = false}};
    EmulatedInputDevice device;
    ByteQueue keys;
    int framesQueued = 0;
    InputKeyboard keyboard{keys, "event5", defaultInputKeyMap(), [this] { ++framesQueued; }};
};

TEST_F(InputKeyboardTest, RelaysKeyChangesWhileGrabbedAndGivesTheDeviceBack) {
    ASSERT_TRUE(keyboard.open()) << keyboard.failureText();
    EXPECT_EQ(keyboard.path(), "/dev/input/event5");
    EXPECT_TRUE(keyboard.active());
    EXPECT_TRUE(device.grabbed());

    device.press(KEY_A);
    device.autoRepeat(KEY_A);  // the relay repeats by itself
    device.press(KEY_MUTE);    // no X68000 key
    device.release(KEY_A);
    EXPECT_EQ(handled(), (Bytes{0x1E, 0x9E}));
    EXPECT_EQ(framesQueued, 2);
    // Several keys in one frame, the X68000's own among them, in their order.
    device.sendFrame({{KEY_LEFTSHIFT, 1}, {KEY_F11, 1}, {KEY_LEFTMETA, 1}, {KEY_RO, 1}});
    device.sendFrame({{KEY_LEFTSHIFT, 0}, {KEY_F11, 0}, {KEY_LEFTMETA, 0}, {KEY_RO, 0}});
    EXPECT_EQ(handled(), (Bytes{0x70, 0x5A, 0x5F, 0x34, 0xF0, 0xDA, 0xDF, 0xB4}));
    EXPECT_EQ(framesQueued, 4);

    keyboard.close();
    EXPECT_FALSE(keyboard.active());
    EXPECT_EQ(device.ungrabs(), 1);
}

TEST_F(InputKeyboardTest, AMapFileMovesAKey) {
    InputKeyMap map = defaultInputKeyMap();
    ASSERT_FALSE(applyKeymap("F11 CODE\nCAPSLOCK none\n", "pc.map", map));
    InputKeyboard mapped{keys, "/dev/input/event5", map};
    ASSERT_TRUE(mapped.open());
    device.sendFrame({{KEY_F11, 1}, {KEY_CAPSLOCK, 1}});
    mapped.handleEvents(0);
    Bytes out(8);
    out.resize(keys.read(out.data(), out.size()));
    EXPECT_EQ(out, (Bytes{0x5C}));
}

TEST_F(InputKeyboardTest, AKeyDownAtOpenWaitsForTheGrabAndSendsNoBreak) {
    device.press(KEY_ENTER);  // not yet read by anybody: the key state says it
    ASSERT_TRUE(keyboard.open());
    EXPECT_FALSE(device.grabbed());  // the desktop sees Enter go up
    EXPECT_EQ(device.grabs(), 1);    // tried, and let go of at once
    // The Enter that started the program let go of, and X typed at once,
    // both queued before anything is read: the grab taken at the end of
    // Enter's frame finds X down by the kernel's state and is let go of
    // again, so the desktop sees X go up too, and nothing is relayed.
    device.sendFrames({{{KEY_ENTER, 0}}, {{KEY_X, 1}}});
    EXPECT_EQ(handled(), Bytes{});
    EXPECT_FALSE(device.grabbed());
    device.release(KEY_X);
    EXPECT_EQ(handled(), Bytes{});
    EXPECT_TRUE(device.grabbed());
    EXPECT_EQ(device.keysStuckOnTheDesktop(), 0);
    device.press(KEY_B);
    EXPECT_EQ(handled(), (Bytes{0x2E}));
}

TEST_F(InputKeyboardTest, SeveralKeysOnOneX68000KeyHoldItUntilTheLastIsLetGo) {
    ASSERT_TRUE(keyboard.open());
    // Right Shift held, Left Shift pressed, Right Shift let go: SHIFT stays
    // down, and the next letter is a capital.
    device.press(KEY_RIGHTSHIFT);
    device.press(KEY_LEFTSHIFT);
    device.release(KEY_RIGHTSHIFT);
    device.press(KEY_A);
    device.release(KEY_LEFTSHIFT);
    // 半角/全角 and Right Super are both 全角.
    device.press(KEY_ZENKAKUHANKAKU);
    device.press(KEY_RIGHTMETA);
    device.release(KEY_ZENKAKUHANKAKU);
    device.release(KEY_RIGHTMETA);
    EXPECT_EQ(handled(), (Bytes{0x70, 0x1E, 0xF0, 0x60, 0xE0}));
}

TEST_F(InputKeyboardTest, AKeyReleasedDuringADropStillGetsItsBreak) {
    ASSERT_TRUE(keyboard.open());
    device.sendFrame({{KEY_LEFTSHIFT, 1}, {KEY_A, 1}});
    EXPECT_EQ(handled(), (Bytes{0x70, 0x1E}));
    device.overflow({{KEY_A, 0}});
    EXPECT_EQ(handled(), (Bytes{0x9E}));
    device.release(KEY_LEFTSHIFT);
    EXPECT_EQ(handled(), (Bytes{0xF0}));
}

TEST_F(InputKeyboardTest, AnIdleKeyboardLetsPollSleepAndAKeyWakesIt) {
    ASSERT_TRUE(keyboard.open());
    const auto ready = [&] {
        std::vector<pollfd> fds;
        for (const auto& d : keyboard.pollDescriptors()) {
            fds.push_back({d.fd, d.events, 0});
        }
        return ::poll(fds.data(), fds.size(), 0);
    };
    EXPECT_EQ(keyboard.pollDescriptors().size(), 2u);  // the node and udev's monitor
    EXPECT_EQ(ready(), 0);
    device.press(KEY_A);
    EXPECT_EQ(ready(), 1);
    EXPECT_EQ(handled(), (Bytes{0x1E}));
    EXPECT_EQ(ready(), 0);
    // A wait in handleEvents() itself ends at an interruption.
    keyboard.interruptEventHandling();
    keyboard.handleEvents(-1);
}

class InputKeyboardLeds : public InputKeyboardTest {
protected:
    InputKeyboardLeds() : InputKeyboardTest(Options{.ledsLit = {LED_CAPSL, LED_NUML}}) {}
};

TEST_F(InputKeyboardLeds, ShowTheHostsCapsAndKanaAndAreGivenBackAtClose) {
    ASSERT_TRUE(keyboard.open());
    EXPECT_FALSE(device.led(LED_CAPSL));  // opened anew, it shows no LED of the host's
    EXPECT_TRUE(device.led(LED_NUML));    // not the host's to change
    keyboard.setLeds(0, kLedCaps | kLedKana);
    EXPECT_TRUE(device.led(LED_CAPSL));
    EXPECT_TRUE(device.led(LED_SCROLLL));  // かな, where there is no Kana lamp
    // Brightness and the LEDs a PC keyboard has no lamp for change nothing.
    keyboard.setLeds(3, 0x7F);
    keyboard.setLeds(0, kLedKana);
    EXPECT_FALSE(device.led(LED_CAPSL));
    EXPECT_TRUE(device.led(LED_SCROLLL));
    EXPECT_EQ(handled(), Bytes{});  // the kernel's echo of them is no key
    EXPECT_EQ(device.ledWrites(),
              (std::vector<std::vector<std::pair<int, int>>>{
                  {{LED_CAPSL, 0}}, {{LED_CAPSL, 1}, {LED_SCROLLL, 1}}, {{LED_CAPSL, 0}}}));
    keyboard.close();
    EXPECT_TRUE(device.led(LED_CAPSL));
    EXPECT_FALSE(device.led(LED_SCROLLL));
}

class InputKeyboardWithKanaLed : public InputKeyboardTest {
protected:
    InputKeyboardWithKanaLed() : InputKeyboardTest(Options{.kanaLed = true}) {}
};

TEST_F(InputKeyboardWithKanaLed, ShowsKanaOnItsKanaLamp) {
    ASSERT_TRUE(keyboard.open());
    keyboard.setLeds(0, kLedKana);
    EXPECT_TRUE(device.led(LED_KANA));
    EXPECT_FALSE(device.led(LED_SCROLLL));
}

TEST_F(InputKeyboardTest, UnpluggedWithShiftHeldIsOneLossAndItsReturnIsAnnounced) {
    InputKeyboard byId{keys, device.byIdPath(), defaultInputKeyMap()};
    ASSERT_TRUE(byId.open());
    EXPECT_TRUE(byId.watchesHotplug());
    device.press(KEY_LEFTSHIFT);
    byId.handleEvents(0);
    device.unplug();
    byId.handleEvents(0);
    EXPECT_FALSE(byId.active());
    EXPECT_EQ(byId.takeLosses(), 1);
    EXPECT_EQ(byId.takeLosses(), 0);
    EXPECT_TRUE(device.waitForCloses(device.opens()));  // released at once
    EXPECT_FALSE(byId.open());
    EXPECT_EQ(byId.failure(), KeyboardConnection::Failure::Absent);
    EXPECT_FALSE(byId.takeArrival());

    device.plugIn(7);  // back as another node, its link following it
    ASSERT_TRUE(device.waitFor([&] {
        byId.handleEvents(0);
        return byId.takeArrival();
    }));
    ASSERT_TRUE(byId.open());
    EXPECT_TRUE(device.grabbed());
    device.press(KEY_LEFTSHIFT);
    byId.handleEvents(0);
    Bytes out(8);
    out.resize(keys.read(out.data(), out.size()));
    EXPECT_EQ(out, (Bytes{0x70, 0x70}));  // the break was the relay's to send
    byId.close();
}

TEST_F(InputKeyboardTest, RefusesWhatItCannotRelayAndSaysWhy) {
    device.holdGrabElsewhere(true);
    EXPECT_FALSE(keyboard.open());
    EXPECT_EQ(keyboard.failure(), KeyboardConnection::Failure::Busy);
    EXPECT_TRUE(device.waitForCloses(device.opens()));  // nothing kept open
    device.holdGrabElsewhere(false);
    ASSERT_TRUE(keyboard.open());
    EXPECT_EQ(keyboard.failure(), KeyboardConnection::Failure::None);
    EXPECT_TRUE(device.grabbed());
    keyboard.close();

    // Refused, then unplugged: absent at once, before any other try.
    InputKeyboard held{keys, device.byIdPath(), defaultInputKeyMap()};
    device.holdGrabElsewhere(true);
    EXPECT_FALSE(held.open());
    device.unplug();
    ASSERT_TRUE(device.waitFor([&] {
        held.handleEvents(0);
        return held.takeDeparture();
    }));
    EXPECT_EQ(held.failure(), KeyboardConnection::Failure::Absent);

    InputKeyboard missing{keys, "event9", defaultInputKeyMap()};
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(missing.failure(), KeyboardConnection::Failure::Absent);

    EmulatedInputDevice mouse(
        testbed, {.kind = EmulatedInputDevice::Kind::Mouse, .usbPort = 3, .eventNumber = 4});
    InputKeyboard notAKeyboard{keys, "event4", defaultInputKeyMap()};
    EXPECT_FALSE(notAKeyboard.open());
    EXPECT_EQ(notAKeyboard.failure(), KeyboardConnection::Failure::Other);
    EXPECT_EQ(notAKeyboard.failureText(), "not a keyboard: it has no key the X68000 has");
    EXPECT_FALSE(mouse.grabbed());
    EXPECT_TRUE(mouse.waitForCloses(mouse.opens()));
}

TEST_F(InputKeyboardTest, ByNameItFitsKeyboardsOnlyAndNotTwoOfThem) {
    // A mouse of the same name is no keyboard.
    EmulatedInputDevice mouse(
        testbed, {.kind = EmulatedInputDevice::Kind::Mouse, .usbPort = 3, .eventNumber = 4});
    InputKeyboard byName{keys, "Logitech USB Keyboard", defaultInputKeyMap()};
    ASSERT_TRUE(byName.open()) << byName.failureText();
    EXPECT_TRUE(device.grabbed());
    byName.close();
    // Two keyboards of one name: neither (the command line refuses it at start).
    EmulatedInputDevice twin(testbed, {.usbPort = 6, .eventNumber = 7, .byIdLink = false});
    EXPECT_FALSE(byName.open());
    EXPECT_EQ(byName.failure(), KeyboardConnection::Failure::Other);
    EXPECT_EQ(byName.failureText(),
              "the name \"Logitech USB Keyboard\" fits /dev/input/event5 and /dev/input/event7");
    EXPECT_EQ(mouse.opens() + twin.opens(), 0);
    byName.close();
}

}  // namespace
