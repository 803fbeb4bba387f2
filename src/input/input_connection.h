// InputConnection: what an input-layer back-end of a device seam answers
// straight from its InputDevice (input_device.h): whether it is open, its
// losses, returns and failures, what to wait on. InputKeyboard
// (KeyboardConnection) and InputMouse (MouseConnection) build on it and add
// what their kind of device does with its events.
//
// Ownership and threads: the InputDevice is the back-end's, under its seam's
// threading rule.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/input_device.h"

template <typename Seam>
class InputConnection : public Seam {
public:
    using typename Seam::Failure;
    using typename Seam::PollDescriptor;

    // How messages name the device: the path open() opens (the device as
    // given, or /dev/input/eventN for eventN), or its id or name as given, in
    // double quotes.
    const std::string& path() const { return input.path(); }
    // The device, for another back-end that reads it too (one device that is
    // both keyboard and mouse).
    const std::shared_ptr<InputNode>& node() const { return input.node(); }
    // Whether the device is grabbed now (false while the grab waits for keys
    // and buttons to go up).
    bool grabbed() const { return input.grabbed(); }

    bool active() const override { return input.active(); }
    int takeLosses() override { return input.takeLosses(); }
    bool watchesHotplug() const override { return input.watchesHotplug(); }
    bool takeArrival() override { return input.takeArrival(); }
    bool takeDeparture() override { return input.takeDeparture(); }
    Failure failure() const override { return input.failure(); }
    const std::string& failureText() const override { return input.failureText(); }
    const std::vector<PollDescriptor>& pollDescriptors() override {
        return input.pollDescriptors();
    }
    void interruptEventHandling() override { input.interruptEventHandling(); }
    bool hasEventContext() const override { return input.hasEventContext(); }

protected:
    // A view of node for this back-end: onEvent gets the device's events,
    // onLost is told when it is found gone.
    InputConnection(std::shared_ptr<InputNode> node, InputDevice::EventHandler onEvent,
                    std::function<void()> onLost)
        : input(std::move(node), std::move(onEvent), std::move(onLost)) {}

    InputDevice input;
};
