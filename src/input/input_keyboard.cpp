#include "input/input_keyboard.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cerrno>

#include "keyboard/x68000_keys.h"

InputKeyboard::InputKeyboard(ByteQueue& queue, std::string deviceName,
                             const KeyTranslator& translator, std::function<void()> keysQueuedHook,
                             bool watchHotplug)
    : InputKeyboard(queue,
                    std::make_shared<InputNode>(std::move(deviceName),
                                                InputDeviceName::Kind::Keyboard, watchHotplug),
                    translator, std::move(keysQueuedHook)) {}

InputKeyboard::InputKeyboard(ByteQueue& queue, std::shared_ptr<InputNode> node,
                             const KeyTranslator& translator, std::function<void()> keysQueuedHook,
                             std::shared_ptr<ShareSwitch> shareSwitch)
    : InputConnection(
          std::move(node), [this](const input_event& ev) { handleEvent(ev); },
          [this] { forgetConnection(); }),
      keyQueue(queue),
      keysQueued(std::move(keysQueuedHook)),
      keys(translator),
      share(std::move(shareSwitch)) {
    keys.reset();
}

InputKeyboard::~InputKeyboard() {
    close();
}

bool InputKeyboard::open() {
    releaseDevice();  // the lamps of an earlier connection go back first
    // Shared, it is taken from the desktop only while the X68000 has it.
    if (share) {
        movesSeen = share->moves();
        input.wantGrab(share->side() == ShareSwitch::Side::X68000);
    }
    // A mouse, a power button or a remote would only be taken from the
    // desktop: it has no key that the X68000 has.
    if (!input.open([this](const libevdev* device) {
            return hasMappedKey(device) ? std::string()
                                        : "not a keyboard: it has no key the X68000 has";
        })) {
        return false;
    }
    libevdev* device = input.evdev();
    kanaLed = libevdev_has_event_code(device, EV_LED, LED_KANA) != 0      ? LED_KANA
              : libevdev_has_event_code(device, EV_LED, LED_SCROLLL) != 0 ? LED_SCROLLL
                                                                          : -1;
    capsAtOpen = libevdev_get_event_value(device, EV_LED, LED_CAPSL) != 0;
    kanaAtOpen = kanaLed >= 0 && libevdev_get_event_value(device, EV_LED, kanaLed) != 0;
    capsShown = capsAtOpen;
    kanaShown = kanaAtOpen;
    // A connection opened anew shows no LED, as the relay takes it to; one
    // the computer has shows the computer's.
    if (const int r = relaying() || !share ? writeLeds(false, false) : 0; r == -ENODEV) {
        forgetConnection();
        return input.fail(Failure::Absent);
    }
    return true;
}

void InputKeyboard::close() {
    releaseDevice();
    input.close();
}

bool InputKeyboard::hasMappedKey(const libevdev* device) const {
    for (unsigned code = 0; code < kInputKeyCodes; ++code) {
        if (keys.places()[code] != 0 && libevdev_has_event_code(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

void InputKeyboard::handleEvents(int timeoutMs) {
    followSwitch();  // moved by another keyboard, or sent home by the relay
    // Unplugged meanwhile: the lamps went with it (forgetConnection()).
    input.handleEvents(timeoutMs);
    followSwitch();  // moved by this keyboard's switch key
    typeWithheldTap();
}

bool InputKeyboard::relaying() const {
    return input.grabbed() && (!share || share->side() == ShareSwitch::Side::X68000);
}

void InputKeyboard::followSwitch() {
    if (!share || share->moves() == movesSeen || !active()) {
        return;
    }
    movesSeen = share->moves();
    if (switchPress == SwitchPress::Withheld) {
        switchPress = SwitchPress::Swallowed;  // never typed: the switch moved first
    }
    if (share->side() == ShareSwitch::Side::X68000) {
        // The computer's lamps now (its own writes come back to every
        // reader, so libevdev knows them), to give back; the host's shown.
        libevdev* device = input.evdev();
        capsAtOpen = capsShown = libevdev_get_event_value(device, EV_LED, LED_CAPSL) != 0;
        kanaAtOpen = kanaShown =
            kanaLed >= 0 && libevdev_get_event_value(device, EV_LED, kanaLed) != 0;
        writeLeds((hostMask & kLedCaps) != 0, (hostMask & kLedKana) != 0);
        input.wantGrab(true);
        return;
    }
    std::vector<std::uint8_t> breaks;
    keys.releaseAll(breaks);
    send(breaks);
    writeLeds(capsAtOpen, kanaAtOpen);
    input.wantGrab(false);
}

void InputKeyboard::switchKeyChanged(bool down) {
    const unsigned key = share->switchKey();
    std::vector<std::uint8_t> out;
    if (down) {
        const ShareSwitch::Tap tap = share->tapped();
        if (tap == ShareSwitch::Tap::Withheld && relaying()) {
            switchPress = SwitchPress::Withheld;
            withheldReleased = false;
            withheldAt = share->now();
        } else {
            switchPress = SwitchPress::Swallowed;  // the computer's, or a switch
        }
        return;
    }
    switch (switchPress) {
        case SwitchPress::Withheld:
            withheldReleased = true;
            return;
        case SwitchPress::Typed:
            keys.key(key, false, out);
            break;
        default:
            break;
    }
    switchPress = SwitchPress::None;
    send(out);
}

void InputKeyboard::typeWithheldTap() {
    if (switchPress != SwitchPress::Withheld || msUntilDue(0) != 0) {
        return;
    }
    std::vector<std::uint8_t> out;
    keys.key(share->switchKey(), true, out);
    if (withheldReleased) {
        keys.key(share->switchKey(), false, out);
    }
    switchPress = withheldReleased ? SwitchPress::None : SwitchPress::Typed;
    send(out);
}

int InputKeyboard::msUntilDue(std::uint32_t) const {
    if (switchPress != SwitchPress::Withheld) {
        return -1;
    }
    const std::uint32_t waited = share->now() - withheldAt;
    return waited >= ShareSwitch::kDoubleTapMs
               ? 0
               : static_cast<int>(ShareSwitch::kDoubleTapMs - waited);
}

void InputKeyboard::send(const std::vector<std::uint8_t>& scanCodes) {
    if (scanCodes.empty()) {
        return;
    }
    keyQueue.push(scanCodes.data(), scanCodes.data() + scanCodes.size());
    if (keysQueued) {
        keysQueued();
    }
}

void InputKeyboard::handleEvent(const input_event& ev) {
    if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
        if (queuedInFrame && keysQueued) {
            keysQueued();
        }
        queuedInFrame = false;
        return;
    }
    // EV_LED is the kernel's echo of our own LED writes; value 2 is its
    // auto-repeat.
    if (ev.type != EV_KEY || ev.value == 2 || ev.code >= kInputKeyCodes) {
        return;
    }
    // The switch key is the switch's, on either side.
    if (share && ev.code == share->switchKey()) {
        switchKeyChanged(ev.value != 0);
        return;
    }
    // Keys that change before the grab are the desktop's, and so are those
    // of a keyboard the computer has.
    if (!relaying()) {
        return;
    }
    frameKeys.clear();
    keys.key(ev.code, ev.value != 0, frameKeys);
    if (!frameKeys.empty()) {
        keyQueue.push(frameKeys.data(), frameKeys.data() + frameKeys.size());
        queuedInFrame = true;
    }
}

int InputKeyboard::writeLeds(bool caps, bool kana) {
    libevdev* device = input.evdev();
    const bool capsChange =
        caps != capsShown && libevdev_has_event_code(device, EV_LED, LED_CAPSL) != 0;
    const bool kanaChange = kanaLed >= 0 && kana != kanaShown;
    const auto value = [](bool on) { return on ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF; };
    int r = 0;
    if (capsChange && kanaChange) {
        r = libevdev_kernel_set_led_values(device, LED_CAPSL, value(caps), kanaLed, value(kana),
                                           -1);
    } else if (capsChange) {
        r = libevdev_kernel_set_led_values(device, LED_CAPSL, value(caps), -1);
    } else if (kanaChange) {
        r = libevdev_kernel_set_led_values(device, kanaLed, value(kana), -1);
    }
    if (r == 0) {
        capsShown = caps;
        kanaShown = kana;
    }
    return r;
}

void InputKeyboard::setLeds(std::int32_t, std::int32_t mask) {
    hostMask = mask;
    // かな typed by position while its LED is lit.
    keys.setKana((mask & kLedKana) != 0);
    // A keyboard the computer has shows the computer's lamps.
    if (!active() || (share && share->side() != ShareSwitch::Side::X68000)) {
        return;
    }
    // Brightness has no place on a PC keyboard. A write that fails otherwise
    // loses this one state; the next call tries again.
    if (writeLeds((mask & kLedCaps) != 0, (mask & kLedKana) != 0) == -ENODEV) {
        input.markLost();
        releaseDevice();
    }
}

void InputKeyboard::releaseDevice() {
    if (input.evdev() != nullptr && !input.lost() &&
        (!share || share->side() == ShareSwitch::Side::X68000)) {
        writeLeds(capsAtOpen, kanaAtOpen);
    }
    input.release();
    forgetConnection();
}

void InputKeyboard::forgetConnection() {
    keys.reset();
    switchPress = SwitchPress::None;
    queuedInFrame = false;
    kanaLed = -1;
    capsAtOpen = kanaAtOpen = capsShown = kanaShown = false;
}
