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
                             const KeyTranslator& translator, std::function<void()> keysQueuedHook)
    : InputConnection(
          std::move(node), [this](const input_event& ev) { handleEvent(ev); },
          [this] { forgetConnection(); }),
      keyQueue(queue),
      keysQueued(std::move(keysQueuedHook)),
      keys(translator) {
    keys.reset();
}

InputKeyboard::~InputKeyboard() {
    close();
}

bool InputKeyboard::open() {
    releaseDevice();  // the lamps of an earlier connection go back first
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
    // A connection opened anew shows no LED, as the relay takes it to.
    if (const int r = writeLeds(false, false); r == -ENODEV) {
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
    // Unplugged meanwhile: the lamps went with it (forgetConnection()).
    input.handleEvents(timeoutMs);
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
    // auto-repeat. Keys that change before the grab are the desktop's.
    if (ev.type != EV_KEY || ev.value == 2 || ev.code >= kInputKeyCodes || !input.grabbed()) {
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
    if (!active()) {
        return;
    }
    // かな typed by position while its LED is lit.
    keys.setKana((mask & kLedKana) != 0);
    // Brightness has no place on a PC keyboard. A write that fails otherwise
    // loses this one state; the next call tries again.
    if (writeLeds((mask & kLedCaps) != 0, (mask & kLedKana) != 0) == -ENODEV) {
        input.markLost();
        releaseDevice();
    }
}

void InputKeyboard::releaseDevice() {
    if (input.evdev() != nullptr && !input.lost()) {
        writeLeds(capsAtOpen, kanaAtOpen);
    }
    input.release();
    forgetConnection();
}

void InputKeyboard::forgetConnection() {
    keys.reset();
    queuedInFrame = false;
    kanaLed = -1;
    capsAtOpen = kanaAtOpen = capsShown = kanaShown = false;
}
