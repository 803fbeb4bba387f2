#include "input/input_mouse.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// Far beyond what a relay taking them each pass ever holds, far within int's.
constexpr int kNotchBound = 1 << 20;

}  // namespace

InputMouse::InputMouse(std::string device, bool watchHotplug, double scale)
    : InputMouse(std::make_shared<InputNode>(std::move(device), InputDeviceName::Kind::Mouse,
                                             watchHotplug),
                 scale) {}

InputMouse::InputMouse(std::shared_ptr<InputNode> node, double scale,
                       std::shared_ptr<ShareSwitch> shareSwitch)
    : InputConnection(
          std::move(node), [this](const input_event& ev) { handleEvent(ev); },
          [this] { forget(); }),
      motion(scale),
      share(std::move(shareSwitch)) {}

InputMouse::~InputMouse() {
    close();
}

bool InputMouse::open() {
    forget();
    if (share) {
        movesSeen = share->moves();
        input.wantGrab(share->side() == ShareSwitch::Side::X68000);
    }
    return input.open([](const libevdev* device) {
        const bool relative = libevdev_has_event_code(device, EV_REL, REL_X) != 0 &&
                              libevdev_has_event_code(device, EV_REL, REL_Y) != 0;
        return relative ? std::string() : "not a mouse: it has no relative motion";
    });
}

void InputMouse::close() {
    input.close();
    forget();
}

void InputMouse::forget() {
    motion.reset();
    wheelNotches = 0;
}

void InputMouse::handleEvents(int timeoutMs) {
    followSwitch();
    // Unplugged meanwhile: nothing of it is held or still to be told
    // (forget() when it is found gone).
    input.handleEvents(timeoutMs);
}

bool InputMouse::relaying() const {
    return input.grabbed() && (!share || share->side() == ShareSwitch::Side::X68000);
}

void InputMouse::followSwitch() {
    if (!share || share->moves() == movesSeen || !active()) {
        return;
    }
    movesSeen = share->moves();
    // Either way nothing is held or still to be told: the X68000's next
    // packet has the buttons up.
    forget();
    input.wantGrab(share->side() == ShareSwitch::Side::X68000);
}

void InputMouse::handleEvent(const input_event& ev) {
    // While the grab waits for the buttons to go up, and while the computer
    // has it, the mouse is the desktop's.
    if (!relaying()) {
        return;
    }
    if (ev.type == EV_REL && ev.code == REL_X) {
        motion.move(ev.value, 0);
    } else if (ev.type == EV_REL && ev.code == REL_Y) {
        motion.move(0, ev.value);
    } else if (ev.type == EV_REL && ev.code == REL_WHEEL) {
        // Not REL_WHEEL_HI_RES: the same turn again, in 120ths of a notch.
        wheelNotches = static_cast<int>(std::clamp<std::int64_t>(
            std::int64_t{wheelNotches} + ev.value, -kNotchBound, kNotchBound));
    } else if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
        // The frame's buttons, or after a drop the state the resync read.
        const libevdev* device = input.evdev();
        motion.setButtons(libevdev_get_event_value(device, EV_KEY, BTN_LEFT) != 0,
                          libevdev_get_event_value(device, EV_KEY, BTN_RIGHT) != 0);
    }
}

std::optional<MouseMotion::Packet> InputMouse::takePacket() {
    if (!active()) {
        return std::nullopt;
    }
    return motion.takePacket();
}

int InputMouse::takeWheelNotches() {
    if (!active()) {
        return 0;
    }
    return std::exchange(wheelNotches, 0);
}
