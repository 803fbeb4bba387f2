#include "input/input_device.h"

InputDevice::InputDevice(std::shared_ptr<InputNode> node, EventHandler onEvent,
                         std::function<void()> onLost)
    : shared(std::move(node)), user(shared->attach(std::move(onEvent), std::move(onLost))) {}

InputDevice::~InputDevice() {
    close();
    shared->detach(user);  // the other view may read on: nothing more for this one's owner
}
