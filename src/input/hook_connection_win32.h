// HookConnection: what a hook back-end of a device seam answers the same way
// for the keyboard (HookKeyboard) and the mouse (HookMouse): taking the
// device is attaching a sink to the hook thread (InputHooks), and never
// waits for it, as the computer's keyboards and mouse are always there; a
// hook that stopped seeing the input is one loss, and open() takes it again.
// The back-end adds what its kind of device does with what the hooks hand on.
//
// Ownership and threads: the seam's (device_connection.h); what the hook
// thread hands on is the back-end's to guard.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/input_hooks_win32.h"
#include "keyboard/share_switch.h"

template <typename Seam, typename Sink>
class HookConnection : public Seam, protected Sink {
public:
    using typename Seam::Failure;
    using typename Seam::PollDescriptor;

    bool active() const override { return isActive.load(); }
    int takeLosses() override { return std::exchange(losses, 0); }
    bool watchesHotplug() const override { return false; }
    bool takeArrival() override { return false; }
    bool takeDeparture() override { return false; }
    Failure failure() const override { return failed; }
    const std::string& failureText() const override { return failedText; }
    const std::vector<PollDescriptor>& pollDescriptors() override { return noDescriptors; }

protected:
    // what: "keyboard" or "mouse", for the failure's words.
    HookConnection(std::shared_ptr<ShareSwitch> shared, const char* what)
        : share(std::move(shared)), kind(what) {}

    // Attaches the sink (once) and counts the connection open; false, with
    // the system's words in failureText(), when the hook cannot be set.
    bool attach() {
        if (!attached) {
            const std::string error = InputHooks::instance().attach(*this, share);
            if (!error.empty()) {
                failed = Failure::Other;
                failedText = "the " + std::string(kind) + " hook could not be set: " + error;
                return false;
            }
            attached = true;
        }
        failed = Failure::None;
        failedText.clear();
        isActive = true;
        return true;
    }
    // Detaches the sink: it is called no more.
    void detach() {
        if (attached.exchange(false)) {
            InputHooks::instance().detach(*this);
        }
        isActive = false;
    }
    // The hooks stopped seeing the input: one loss, if it was open.
    bool noteLoss() {
        if (!isActive.exchange(false)) {
            return false;
        }
        ++losses;
        return true;
    }

    const std::shared_ptr<ShareSwitch> share;
    std::atomic<bool> attached{false};  // attached: from open() to close()

private:
    const char* const kind;
    std::atomic<bool> isActive{false};  // attached, and not lost since
    int losses = 0;
    Failure failed = Failure::None;
    std::string failedText;
    const std::vector<PollDescriptor> noDescriptors;
};
