// InputNode: one device of Linux's input layer (/dev/input/eventN) opened
// once for this program, read through libevdev, grabbed, and watched for its
// return, for one or two users: the keyboard (InputKeyboard), the mouse
// (InputMouse), or both when one device is both (a keyboard with a touchpad
// or a trackpoint on one node, named for --keyboard and --mouse alike). Each
// user sees it through an InputDevice (input_device.h), which says what the
// node does for it; the node holds what they share.
//
// Naming: the device as the user gave it, read as InputDeviceName
// (input_device_name.h) says: a node (/dev/input/event3), a link to one
// (/dev/input/by-id/usb-...-event-kbd, /dev/input/by-path/...), the node's
// name (event3, meaning /dev/input/event3), or the device's unique id or name
// (aa:bb:cc:dd:ee:01, Keyboard K380), which fits only a device of the kind
// given at construction. Each open anew opens that path anew, so a link that
// udev has moved to another eventN is followed, or looks the id or name up
// anew among the devices present, so a device that came back under another
// eventN is found there; an id or name that fits none is absent, one that
// fits several refused (Failure::Other, naming their nodes).
//
// Opening: the first user's open() opens the node and reads it by libevdev;
// each user then asks whether it is of the user's kind (a keyboard with a
// key the X68000 has, a mouse with relative motion) before anything is taken
// from the desktop. The first open also grabs it (EVIOCGRAB), so that its
// input does not also reach the console or the desktop, and lets go of the
// grab again at once unless it can be kept (below): a device that another
// program holds is refused then (Failure::Busy), as is one found held when
// the grab is taken later (then a loss, with failure() Busy). The node is
// given back when its last user releases it.
//
// The grab without a race: a grab taken while a key or button is down would
// leave it down for everyone else (the desktop repeats the Enter that started
// the program, or drags with the button held), and a key pressed just before
// the grab, still queued, would be the desktop's press and this program's
// release. So the grab is kept only when the kernel's own key state, asked
// right after it (EVIOCGKEY, which also drops the key events queued for this
// reader), has every key and button up; then what was queued from before (by
// its time stamp: the node's clock is CLOCK_MONOTONIC) is read and dropped.
// Otherwise it is let go of at once, and taken again at the
// end of the first frame after which libevdev's state has everything up.
// Until it is kept, the users relay nothing (grabbed() is false). A node
// shared with the computer (wantGrab()) is given back the same way: only with
// every key up, so that the desktop sees no key go up that it never saw go
// down, and misses none that it did.
//
// Reading: handleEvents() hands each event, as libevdev gives it, SYN_REPORT
// included, to every user that has it open. After SYN_DROPPED (the kernel's
// buffer overflowed) libevdev's resync hands over the changes that were lost,
// so a key or button released during the drop still comes out released. A
// device unplugged while relayed (ENODEV) is released and counted once as a
// loss for each user.
//
// Arrivals: from the first open() to the last close() a udev monitor of the
// input subsystem watches for the device coming back: the same node, or a
// new node that the given link (or udev's DEVLINKS for it) now names, which
// may be another eventN, or for an id or name, a new node of a device that
// it fits (its removal: the node last opened for it going). udev (udevd)
// sends that news; where it does not run, the owner passes watchHotplug
// false, and tries open() on its timer.
//
// Ownership: owned by its users together (std::shared_ptr); owns the
// device's file descriptor and libevdev state (first open to last release or
// a loss), the udev monitor (first open() to last close()) and a wake
// descriptor for interruptEventHandling() (its whole life). Threads: one
// thread at a time drives it and every user of it, as KeyboardConnection
// says for a keyboard; active(), hasEventContext() and
// interruptEventHandling() may be called from any thread.
#pragma once

#include <time.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/input_device_name.h"
#include "keyboard/device_connection.h"

struct input_event;
struct libevdev;
struct udev;
struct udev_device;
struct udev_monitor;

class InputNode {
public:
    using Failure = DeviceConnection::Failure;
    using PollDescriptor = DeviceConnection::PollDescriptor;
    // Asked of a device read by libevdev, before it is grabbed: "" when it is
    // of the user's kind, else why not ("not a mouse: ...").
    using KindCheck = std::function<std::string(const libevdev*)>;
    using EventHandler = std::function<void(const input_event&)>;
    using UserId = std::size_t;

    // device: as the user gave it, a device of kind (what an id or name
    // fits). watchHotplug false: never watch for the device's return.
    InputNode(std::string device, InputDeviceName::Kind kind, bool watchHotplug);
    ~InputNode();
    InputNode(const InputNode&) = delete;
    InputNode& operator=(const InputNode&) = delete;

    // How messages name the device: the path an open opens (the device as
    // given, or /dev/input/eventN for eventN), or an id or name as given, in
    // double quotes (InputDeviceName::shown()).
    const std::string& path() const { return name.shown(); }

    // A user of the node: onEvent gets its events while it has the node
    // open, onLost is called when the node is found gone while it has it
    // open. Before anything is opened.
    UserId attach(EventHandler onEvent, std::function<void()> onLost);
    // The user's handlers are called no more (its owner is going).
    void detach(UserId user);

    // See InputDevice for what these do for one user.
    bool open(UserId user, const KindCheck& isOfKind);
    bool fail(UserId user, Failure why, const std::string& text = {});
    void release(UserId user);
    void close(UserId user);
    bool active(UserId user) const;
    int takeLosses(UserId user);
    bool takeArrival(UserId user);
    bool takeDeparture(UserId user);
    Failure failure(UserId user) const;
    const std::string& failureText(UserId user) const;

    libevdev* evdev() const { return device; }
    bool grabbed() const { return grabHeld; }
    // Whether the node is to be grabbed (the default) or left to the desktop
    // (a shared keyboard on the computer's side). The grab is taken or given
    // back at once when every key is up, else at the end of the frame that
    // lets the last key go, so that neither side is left with a key held.
    void wantGrab(bool wanted);
    bool lost() const { return lostNow; }
    // Counts the open node as lost once for each user that has it open;
    // handleEvents() or the last release() then releases it.
    void markLost();
    // Whether a key or button is down as libevdev last read the node.
    bool anyKeyDown() const;

    bool watchesHotplug() const { return monitor != nullptr; }
    const std::vector<PollDescriptor>& pollDescriptors();
    // Waits at most timeoutMs (0: not at all, -1: no limit) for the node, the
    // monitor or interruptEventHandling(), then reads the arrivals and the
    // node's events without waiting, each event to every user that has the
    // node open. Releases a node found lost meanwhile. Does nothing before
    // the first open().
    void handleEvents(int timeoutMs);
    void interruptEventHandling();
    bool hasEventContext() const { return watching.load(); }

private:
    struct User {
        EventHandler onEvent;
        std::function<void()> onLost;
        std::atomic<bool> active{false};  // has the node open, and it is read
        bool watching = false;            // open() called, close() not since
        int losses = 0;
        bool arrived = false;
        bool departed = false;
        Failure failure = Failure::None;
        std::string failureText;
    };

    bool openNode(User& user);
    // The node to open: the path given, or the one node that the id or name
    // fits now. False when an id or name fits none (why stays empty) or
    // several (why names them).
    bool nodeToOpen(std::string& node, std::string& why);
    void releaseNode();
    bool anyUserActive() const;
    void makeWatch();
    // Tries the grab; keeps it only with every key up by the kernel's state.
    // Returns the grab's error (0 when it was tried and not refused).
    int tryGrab();
    // Takes or gives back the grab as wanted, with every key up.
    void moveGrab();
    // Whether ev is from before the grab held now (queued then, and so the
    // desktop's too).
    bool beforeTheGrab(const input_event& ev) const;
    void readEvents();
    void readArrivals();
    // Whether a node that udev added or removed (seen) is the device given.
    bool namesUs(udev_device* seen, bool added) const;

    const InputDeviceName name;
    // The node that the id or name last fitted when opened: the one whose
    // removal is the device's.
    std::string labelNode;
    const bool hotplugWanted;
    std::vector<std::unique_ptr<User>> users;

    int deviceFd = -1;
    libevdev* device = nullptr;
    bool grabHeld = false;
    bool grabWanted = true;
    timespec grabbedAt{};  // CLOCK_MONOTONIC, just before the grab held now
    bool lostNow = false;

    // Watching for the device's return, from the first open() to the last
    // close(), and the eventfd that interruptEventHandling() counts up, for
    // the object's life (so that no thread ever writes to a descriptor closed
    // under it).
    std::atomic<bool> watching{false};
    udev* udevContext = nullptr;
    udev_monitor* monitor = nullptr;
    const int wakeFd;

    std::vector<PollDescriptor> descriptors;
};
