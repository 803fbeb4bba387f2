// InputDevice: one user's view of a device of Linux's input layer
// (/dev/input/eventN): the input-device keyboard (InputKeyboard) and the
// mouse (InputMouse) each own one, and give its events their meaning. The
// device itself is an InputNode (input_node.h), which says how it is named,
// opened, grabbed, read and watched for; two views share one node where one
// device is both keyboard and mouse: it is opened and grabbed once, each
// event goes to both, and both lose it and see it return together.
//
// Failures, the keyboard seam's kinds (keyboard_connection.h), so that the
// front-ends tell them apart with the same words: a node or link that is not
// there, or a device that goes away while being opened, is Absent; one this
// user may not open is NoPermission (Debian gives group "input" access); one
// another program has grabbed is Busy; a node that is not an input device, or
// one of the wrong kind for this view, is Other, with the reason in
// failureText().
//
// Ownership: shares its node with the other view, if any. Threads: as the
// node's; its owner's event handler and loss handler run inside
// handleEvents() (whichever view's call read the node).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/input_node.h"

class InputDevice {
public:
    using Failure = InputNode::Failure;
    using PollDescriptor = InputNode::PollDescriptor;
    using KindCheck = InputNode::KindCheck;
    using EventHandler = InputNode::EventHandler;

    // A view of node: onEvent gets the device's events while this view has it
    // open, onLost is called when it is found gone then (the owner forgets
    // what it kept of that connection).
    InputDevice(std::shared_ptr<InputNode> node, EventHandler onEvent,
                std::function<void()> onLost);
    ~InputDevice();
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;

    const std::shared_ptr<InputNode>& node() const { return shared; }
    const std::string& path() const { return shared->path(); }

    // Opens the device (or joins the other view that has it open), checks it
    // is of this view's kind and, if this is the first view, grabs it (see
    // InputNode). False, with nothing kept open for this view, when it
    // cannot: failure() says why.
    bool open(const KindCheck& isOfKind) { return shared->open(user, isOfKind); }
    // Notes why the owner's own part of opening failed, and releases the
    // device for this view; returns false.
    bool fail(Failure why, const std::string& text = {}) { return shared->fail(user, why, text); }
    // This view lets go of the device; the last one to do so gives back the
    // grab (to a device still there) and closes it. The watch for its return
    // stays. Safe when nothing is open.
    void release() { shared->release(user); }
    // release(), and the watch ends too (with the last view); open() may be
    // called again.
    void close() { shared->close(user); }

    // The open device, from open() until release() or a loss; nullptr otherwise.
    libevdev* evdev() const { return active() ? shared->evdev() : nullptr; }
    // True while this view has the device open and it is read. Any thread.
    bool active() const { return shared->active(user); }
    // Whether the device is grabbed now (false while the grab waits for keys
    // and buttons to go up): its input is the views' only while it is.
    bool grabbed() const { return shared->grabbed(); }
    // Whether it is to be grabbed, or left to the desktop (shared with the
    // computer): see InputNode::wantGrab().
    void wantGrab(bool wanted) { shared->wantGrab(wanted); }
    // The device was found gone (or unusable) and is not yet released: what
    // is still to be given back to it cannot be.
    bool lost() const { return shared->lost(); }
    // Counts the open device as lost (for every view); handleEvents() or
    // release() then releases it.
    void markLost() { shared->markLost(); }
    int takeLosses() { return shared->takeLosses(user); }
    // Whether a key or button of the grabbed device is down now, as far as
    // read: giving it back now would leave that key held for the desktop.
    bool holdsKeysDown() const { return active() && grabbed() && shared->anyKeyDown(); }

    bool watchesHotplug() const { return shared->watchesHotplug(); }
    bool takeArrival() { return shared->takeArrival(user); }
    // True once after the device, while not open (refused), was removed;
    // failure() is Absent then.
    bool takeDeparture() { return shared->takeDeparture(user); }
    Failure failure() const { return shared->failure(user); }
    const std::string& failureText() const { return shared->failureText(user); }

    const std::vector<PollDescriptor>& pollDescriptors() { return shared->pollDescriptors(); }
    // Waits at most timeoutMs for the device, then reads what is ready (see
    // InputNode::handleEvents).
    void handleEvents(int timeoutMs) { shared->handleEvents(timeoutMs); }
    void interruptEventHandling() { shared->interruptEventHandling(); }
    bool hasEventContext() const { return shared->hasEventContext(); }

private:
    const std::shared_ptr<InputNode> shared;
    const InputNode::UserId user;
};
