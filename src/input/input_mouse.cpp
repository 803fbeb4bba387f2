#include "input/input_mouse.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <utility>

InputMouse::InputMouse(std::string device, bool watchHotplug)
    : InputMouse(std::make_shared<InputNode>(std::move(device), watchHotplug)) {}

InputMouse::InputMouse(std::shared_ptr<InputNode> node)
    : InputConnection(
          std::move(node), [this](const input_event& ev) { handleEvent(ev); },
          [this] { motion.reset(); }) {}

InputMouse::~InputMouse() {
    close();
}

bool InputMouse::open() {
    motion.reset();
    return input.open([](const libevdev* device) {
        const bool relative = libevdev_has_event_code(device, EV_REL, REL_X) != 0 &&
                              libevdev_has_event_code(device, EV_REL, REL_Y) != 0;
        return relative ? std::string() : "not a mouse: it has no relative motion";
    });
}

void InputMouse::close() {
    input.close();
    motion.reset();
}

void InputMouse::handleEvents(int timeoutMs) {
    // Unplugged meanwhile: nothing of it is held or still to be told
    // (motion.reset() when it is found gone).
    input.handleEvents(timeoutMs);
}

void InputMouse::handleEvent(const input_event& ev) {
    // While the grab waits for the buttons to go up, the mouse is the desktop's.
    if (!input.grabbed()) {
        return;
    }
    if (ev.type == EV_REL && ev.code == REL_X) {
        motion.move(ev.value, 0);
    } else if (ev.type == EV_REL && ev.code == REL_Y) {
        motion.move(0, ev.value);
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
