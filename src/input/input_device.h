// InputDevice: one device of Linux's input layer (/dev/input/eventN) taken for
// this program alone, read through libevdev, and watched for its return. It is
// what the input-device keyboard (InputKeyboard) and the mouse (InputMouse)
// share; each owns one and gives its events their meaning.
//
// Naming: the device as the user gave it: a node (/dev/input/event3), a link
// to one (/dev/input/by-id/usb-...-event-kbd, /dev/input/by-path/...), or the
// node's name (event3, meaning /dev/input/event3). Each open() opens that name
// anew, so a link that udev has moved to another eventN is followed.
//
// Opening: the node is opened and read by libevdev, then asked whether it is
// of the owner's kind (a keyboard with a key the X68000 has, a mouse with
// relative motion) before anything is taken from the desktop, then grabbed
// (EVIOCGRAB), so that its input does not also reach the console or the
// desktop. A grab taken while a key or button is down would leave it down for
// everyone else (the desktop then repeats the Enter that started the program,
// or drags with the button held), so while any is down after open() the grab
// waits, and the owner relays nothing (grabbed() is false), until all are up.
// Opening tries the grab at once, though, and lets go of it again at once if
// something is down, so a device that another program holds is refused then
// (Failure::Busy), as is one found held when the grab is taken later (then a
// loss, with failure() Busy). release() gives the grab back.
//
// Failures, the keyboard seam's kinds (keyboard_connection.h), so that the
// front-ends tell them apart with the same words: a node or link that is not
// there, or a device that goes away while being opened, is Absent; one this
// user may not open is NoPermission (Debian gives group "input" access); one
// another program has grabbed is Busy; a node that is not an input device, or
// one of the wrong kind, is Other, with the reason in failureText().
//
// Reading: handleEvents() hands each event to the owner as libevdev gives it,
// SYN_REPORT included. After SYN_DROPPED (the kernel's buffer overflowed)
// libevdev's resync hands over the changes that were lost, so a key or button
// released during the drop still comes out released. A device unplugged while
// relayed (ENODEV) is released and counted as a loss (takeLosses()).
//
// Arrivals: from the first open() to close() a udev monitor of the input
// subsystem watches for the device coming back: the same node, or a new node
// that the given link (or udev's DEVLINKS for it) now names, which may be
// another eventN. udev (udevd) sends that news; where it does not run, the
// owner passes watchHotplug false, and tries open() on its timer.
//
// Ownership: owns the device's file descriptor and libevdev state (open() to
// release() or a loss), the udev monitor (first open() to close()) and a wake
// descriptor for interruptEventHandling() (its whole life). Threads: one
// thread at a time drives it, as KeyboardConnection says for a keyboard;
// active(), hasEventContext() and interruptEventHandling() may be called from
// any thread. The owner's event handler runs inside handleEvents().
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "keyboard/device_connection.h"

struct input_event;
struct libevdev;
struct udev;
struct udev_monitor;

class InputDevice {
public:
    using Failure = DeviceConnection::Failure;
    using PollDescriptor = DeviceConnection::PollDescriptor;
    // Asked of a device read by libevdev, before it is grabbed: "" when it is
    // of the owner's kind, else why not ("not a mouse: ...").
    using KindCheck = std::function<std::string(const libevdev*)>;
    using EventHandler = std::function<void(const input_event&)>;

    // device: as the user gave it. watchHotplug false: never watch for the
    // device's return.
    InputDevice(std::string device, bool watchHotplug);
    ~InputDevice();
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;

    // The path open() opens: the device as given, or /dev/input/NAME for a
    // bare name.
    const std::string& path() const { return devicePath; }
    static std::string pathOf(const std::string& device);

    // Releases an earlier device, then opens, checks and grabs this one (see
    // above). False, with nothing kept open, when it cannot: failure() says why.
    bool open(const KindCheck& isOfKind);
    // Notes why the owner's own part of opening failed, and releases the
    // device; returns false.
    bool fail(Failure why, const std::string& text = {});
    // Gives back the grab (to a device still there) and closes the device.
    // The watch for its return stays. Safe when nothing is open.
    void release();
    // release(), and the watch ends too; open() may be called again.
    void close();

    // The open device, from open() until release() or a loss; nullptr otherwise.
    libevdev* evdev() const { return device; }
    // True while the device is open and read. Any thread.
    bool active() const { return deviceActive.load(); }
    // Whether the device is grabbed now (false while the grab waits for keys
    // and buttons to go up): its input is the owner's only while it is.
    bool grabbed() const { return grabHeld; }
    // The device was found gone (or unusable) and is not yet released: what is
    // still to be given back to it cannot be.
    bool lost() const { return lostNow; }
    // Counts the open device as lost once; handleEvents() or release() then
    // releases it.
    void markLost();
    int takeLosses() { return std::exchange(losses, 0); }

    bool watchesHotplug() const { return monitor != nullptr; }
    bool takeArrival() { return std::exchange(arrived, false); }
    // True once after the device, while not open (refused), was removed;
    // failure() is Absent then.
    bool takeDeparture() { return std::exchange(departed, false); }
    Failure failure() const { return lastFailure; }
    const std::string& failureText() const { return lastFailureText; }

    // The device's node (while open) and the udev monitor: what a worker that
    // sleeps in poll() waits on. May change after open(), release() and
    // handleEvents().
    const std::vector<PollDescriptor>& pollDescriptors();
    // Waits at most timeoutMs (0: not at all, -1: no limit) for the device,
    // the monitor or interruptEventHandling(), then reads the arrivals and the
    // device's events without waiting, each event into onEvent. Releases a
    // device found lost meanwhile and returns true then, so that the owner
    // forgets what it kept of that connection. Does nothing before the first
    // open().
    bool handleEvents(int timeoutMs, const EventHandler& onEvent);
    // Makes a handleEvents() that waits now, or the next one, return at once.
    // Any thread.
    void interruptEventHandling();
    // From the first open() to close(). Any thread.
    bool hasEventContext() const { return watching.load(); }

private:
    void makeWatch();
    bool anyKeyDown() const;
    void takeGrab();  // the grab that waited for all keys and buttons to be up
    void readEvents(const EventHandler& onEvent);
    void readArrivals();
    // Whether a node udev added (with its DEVLINKS) is the device given.
    bool namesUs(const char* devnode, const char* devlinks) const;

    const std::string devicePath;
    const bool hotplugWanted;

    int deviceFd = -1;
    libevdev* device = nullptr;
    std::atomic<bool> deviceActive{false};
    bool grabHeld = false;
    bool lostNow = false;
    int losses = 0;

    // Watching for the device's return, from the first open() to close(),
    // and the eventfd that interruptEventHandling() counts up, for the
    // object's life (so that no thread ever writes to a descriptor closed
    // under it).
    std::atomic<bool> watching{false};
    udev* udevContext = nullptr;
    udev_monitor* monitor = nullptr;
    const int wakeFd;
    bool arrived = false;
    bool departed = false;

    Failure lastFailure = Failure::None;
    std::string lastFailureText;
    std::vector<PollDescriptor> descriptors;
};
