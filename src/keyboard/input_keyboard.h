// InputKeyboard: a keyboard that Linux's input layer presents as an event
// device (/dev/input/eventN: USB, Bluetooth, PS/2, a laptop's own), read
// through libevdev, as the X68000's keyboard. It is the input-device back-end
// of KeyboardConnection (keyboard_connection.h), whose contract it keeps.
//
// The device is named as the user gave it: a node (/dev/input/event3), a link
// to one (/dev/input/by-id/usb-...-event-kbd, /dev/input/by-path/...), or the
// node's name (event3, meaning /dev/input/event3). Each open() opens that
// name anew, so a link that udev has moved to another eventN is followed.
//
// Keys: each change of a key (EV_KEY, value 1 or 0) becomes a make or break
// through the InputKeyMap given at construction; the kernel's auto-repeat
// (value 2) is ignored, as the relay repeats a held key itself. A break goes
// out only for a key whose make did, so a key that was down when the device
// was opened (the Enter that started the program) sends nothing when it goes
// up. After SYN_DROPPED (the kernel's buffer overflowed) libevdev's resync
// hands over the changes that were lost, so a key released during the drop
// still gets its break.
//
// Grab: the device is grabbed (EVIOCGRAB) while it is relayed, so its keys do
// not also type on the console or the desktop, and given back at close().
// A grab taken while a key is down would leave that key down for everyone
// else (the desktop then repeats the Enter that started the program), so while
// any key is down after open() the grab waits, and no key is relayed, until
// all keys are up. Opening tries the grab at once, though, and lets go of it
// again at once if a key is down, so a device that another program holds is
// refused then (Failure::Busy), as is one found held when the grab is taken
// later (then a loss, with failure() Busy).
//
// LEDs: the host's CAPS lights the device's Caps Lock lamp; its かな the Kana
// lamp where the device has one, else its Scroll Lock lamp; the host's other
// LEDs and brightness have no place on a PC keyboard. open() puts those lamps
// out (a connection opened anew shows no LED), and close() gives them back the
// state they had at open(). The kernel echoes every LED change back to every
// reader as EV_LED, which is ignored.
//
// Failures: a node or link that is not there, or a device that goes away
// while being opened, is Absent; one this user may not open is NoPermission
// (Debian gives group "input" access); one another program has grabbed is
// Busy; a node that is not an input device, or one without a key that the
// map gives an X68000 key (a mouse, a power button), is Other.
// A device unplugged while relayed (ENODEV) is released and counted as a
// loss.
//
// Arrivals: from the first open() to close() a udev monitor of the input
// subsystem watches for the device coming back: the same node, or a new node
// that the given link (or udev's DEVLINKS for it) now names, which may be
// another eventN. udev (udevd) sends that news; where it does not run, the
// owner passes watchHotplug false, and the relay tries open() on its timer.
//
// Ownership: an InputKeyboard owns the device's file descriptor and libevdev
// state (open() to close() or a loss), the udev monitor (first open() to
// close()) and a wake descriptor for interruptEventHandling() (its whole
// life). It does not own the key queue. Threads: as KeyboardConnection says; keysQueued runs inside
// handleEvents().
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "io/byte_queue.h"
#include "keyboard/input_key_map.h"
#include "keyboard/keyboard_connection.h"

struct libevdev;
struct udev;
struct udev_monitor;

class InputKeyboard final : public KeyboardConnection {
public:
    // device: as the user gave it (see above). keysQueued, if given, is called
    // inside the event handling after each frame of events (SYN_REPORT) that
    // put scan codes into keyQueue. watchHotplug false: never watch for the
    // device's return (the caller tries open() on a timer instead).
    InputKeyboard(ByteQueue& keyQueue, std::string device, const InputKeyMap& map,
                  std::function<void()> keysQueued = {}, bool watchHotplug = true);
    ~InputKeyboard() override;
    InputKeyboard(const InputKeyboard&) = delete;
    InputKeyboard& operator=(const InputKeyboard&) = delete;

    // The path open() opens: the device as given, or /dev/input/NAME for a
    // bare name.
    const std::string& path() const { return devicePath; }
    // Whether the device is grabbed now (false while the grab waits for keys
    // to go up).
    bool grabbed() const { return grabHeld; }

    bool open() override;
    void close() override;
    bool active() const override { return keyboardActive.load(); }
    int takeLosses() override { return std::exchange(losses, 0); }
    bool watchesHotplug() const override { return monitor != nullptr; }
    bool takeArrival() override { return std::exchange(arrived, false); }
    bool takeDeparture() override { return std::exchange(departed, false); }
    bool presenceFromSystem() const override { return false; }
    Failure failure() const override { return lastFailure; }
    const std::string& failureText() const override { return lastFailureText; }
    const std::vector<PollDescriptor>& pollDescriptors() override;
    int nextTimeoutMs() override { return -1; }
    int msUntilDue(std::uint32_t) const override { return -1; }
    void handleEvents(int timeoutMs) override;
    void interruptEventHandling() override;
    bool hasEventContext() const override { return watching.load(); }
    void setLeds(std::int32_t brightness, std::int32_t mask) override;

private:
    // Releases the device and notes why open() failed; returns false.
    bool fail(Failure why, const std::string& text = {});
    void makeWatch();
    bool hasMappedKey() const;
    bool anyKeyDown() const;
    // The grab that waited for all keys to be up.
    void takeGrab();
    void readEvents();
    void handleEvent(unsigned type, unsigned code, int value);
    void readArrivals();
    // Whether a node udev added (with its DEVLINKS) is the device given.
    bool namesUs(const char* devnode, const char* devlinks) const;
    // Sets the Caps and かな lamps where they differ from what they show:
    // 0, or libevdev's -errno.
    int writeLeds(bool caps, bool kana);
    void markLost();
    void releaseDevice();

    ByteQueue& keyQueue;
    const std::string devicePath;
    const InputKeyMap map;
    const std::function<void()> keysQueued;
    const bool hotplugWanted;

    // The open device, from open() until close() or a loss.
    int deviceFd = -1;
    libevdev* device = nullptr;
    std::atomic<bool> keyboardActive{false};
    bool grabHeld = false;
    bool lost = false;
    int losses = 0;
    // Keys whose make went out and whose break has not.
    std::bitset<kInputKeyCodes> sentDown;
    bool queuedInFrame = false;  // a scan code was queued since the last SYN_REPORT
    // The lamp that shows かな (LED_KANA or LED_SCROLLL; -1 for none), the
    // lamps' states at open(), and whether the host's state is shown now.
    int kanaLed = -1;
    bool capsAtOpen = false;
    bool kanaAtOpen = false;
    bool capsShown = false;
    bool kanaShown = false;

    // Watching for the device's return, from the first open() to close(),
    // and the eventfd that interruptEventHandling() counts up, for the
    // object's life (so that no thread ever writes to a descriptor closed
    // under it).
    std::atomic<bool> watching{false};
    udev* udevContext = nullptr;
    udev_monitor* monitor = nullptr;
    const int wakeFd;
    bool arrived = false;
    bool departed = false;  // the device was removed while not open

    Failure lastFailure = Failure::None;
    std::string lastFailureText;
    std::vector<PollDescriptor> descriptors;
};
