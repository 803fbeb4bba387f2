// KeyboardConnection: where the relay's keys come from. One interface, one
// back-end per kind of keyboard, so that the relay's worker, its reconnects,
// the keys the host holds and the status stay one piece of code whichever
// keyboard types:
//   - UsbKeyboard: the X68000 Z keyboard through libusb (every platform);
//   - InputKeyboard: any keyboard that Linux's input layer presents as an
//     event device (/dev/input/eventN), through libevdev.
//
// What every back-end does:
//   - open() takes the keyboard for this program alone (the X68000 Z
//     keyboard's interfaces are claimed, an input device is grabbed, so its
//     keys do not also type on the console or the desktop); close() gives it
//     back. Each key change becomes one scan-code byte in the key queue the
//     back-end was given at construction: the X68000 key code, with bit 7 set
//     for a release (protocol/scan_code.h). Keys the back-end has no X68000
//     key for produce nothing. The keyboard's own auto-repeat produces
//     nothing either: the relay repeats a held key itself.
//   - A keyboard that goes away is released at once and counted once as a
//     loss (takeLosses()); active() falls. The relay then sends the host the
//     breaks of the keys it holds and calls open() again when the keyboard is
//     announced (takeArrival()) or on its own timer.
//   - Why an open() failed is one of a few reasons the front-ends tell apart
//     (failure()), the same for every back-end.
//   - The LEDs follow the host's mask, each back-end mapping the X68000's
//     seven LEDs onto what its keyboard has.
//
// Waiting: a worker that sleeps in poll() waits on pollDescriptors() for at
// most nextTimeoutMs() and then calls handleEvents(0), which reads whatever is
// ready without waiting and does the back-end's own work that is due
// (msUntilDue()). Where a platform has no descriptors to poll (libusb on
// Windows), the worker sleeps in handleEvents(timeout) itself, and
// interruptEventHandling() ends that sleep.
//
// Threads: one thread at a time drives a connection: the owner while nobody
// handles its events, otherwise the thread that handles them (the relay's
// worker). active() and interruptEventHandling() may be called from any
// thread. A back-end's own callbacks run inside handleEvents() (and, for
// UsbKeyboard, inside close() and its LED request).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class KeyboardConnection {
public:
    // Why the last open() did not open the keyboard.
    enum class Failure {
        None,          // it opened
        Absent,        // the keyboard is not plugged in (or its node is not there)
        NoPermission,  // present, but this user may not open it
        Busy,          // another program holds it
        Other,         // anything else; see failureText()
    };

    // One descriptor to watch: POSIX poll() events on fd.
    struct PollDescriptor {
        int fd = -1;
        short events = 0;
    };

    virtual ~KeyboardConnection() = default;

    // Opens the keyboard and starts reading it, with no key taken as down.
    // Releases an earlier connection first. Returns false, having released
    // what it took, when the keyboard cannot be opened; failure() says why.
    virtual bool open() = 0;
    // Releases the keyboard and whatever the first open() set up to watch for
    // it. Safe when nothing is open; open() may be called again afterwards.
    virtual void close() = 0;

    // True while the keyboard is open and read. Any thread.
    virtual bool active() const = 0;
    // How many connections were lost since the last call: each keyboard that
    // was active and went away counts once, wherever it was found out. Keys it
    // reported may be held at the host.
    virtual int takeLosses() = 0;

    // Whether the back-end hears of the keyboard being plugged in
    // (takeArrival()), so that nobody needs to try open() on a timer. Known
    // after the first open().
    virtual bool watchesHotplug() const = 0;
    // True once after the keyboard was plugged in, as found by the event
    // handling since the last call.
    virtual bool takeArrival() = 0;
    // True once after the keyboard, while not open (refused), was unplugged,
    // as found by the event handling since the last call; failure() is then
    // Absent, so a keyboard refused and then unplugged is told absent at once
    // rather than at its next try.
    virtual bool takeDeparture() = 0;
    // Whether the last open() could ask the system cheaply if the keyboard is
    // plugged in, so that the system's own news of device changes may prompt a
    // look (Windows' device-change broadcast).
    virtual bool presenceFromSystem() const = 0;

    virtual Failure failure() const = 0;
    // The back-end's words for the error behind Failure::Other (libusb's name
    // for it, "LIBUSB_ERROR_IO"; the system's text for an input device).
    virtual const std::string& failureText() const = 0;

    // Descriptors to wait on beside the caller's own, for a worker that
    // sleeps in poll(). May change after open(), close() and handleEvents().
    virtual const std::vector<PollDescriptor>& pollDescriptors() = 0;
    // Milliseconds until the back-end's library must handle a time-out of its
    // own, -1 for none: the longest a poll() over pollDescriptors() may sleep.
    virtual int nextTimeoutMs() = 0;
    // Milliseconds from tick now until the back-end has work of its own due
    // (0: due; -1: none), which handleEvents() then does, so the caller's wait
    // must end by then: UsbKeyboard's next submission to a failing endpoint.
    virtual int msUntilDue(std::uint32_t now) const = 0;

    // Handles whatever is ready, waiting at most timeoutMs (-1: no limit) for
    // something to be or for interruptEventHandling(): key changes into the
    // key queue, arrivals, losses (a keyboard found gone is released before
    // this returns), and the work msUntilDue() waits for. Does nothing before
    // the first open().
    virtual void handleEvents(int timeoutMs) = 0;
    // Makes a handleEvents() that waits now, or the next one, return at once.
    // Any thread.
    virtual void interruptEventHandling() = 0;
    // Whether handleEvents() can wait at all: from the first open() to
    // close(). Any thread.
    virtual bool hasEventContext() const = 0;

    // The LEDs as the host wants them: brightness 0-3 (where the keyboard can
    // dim them) and the host's 7-bit mask, bit i set for LED i lit
    // (x68000_keys.h). A connection opened anew shows no LED. Returns without
    // waiting long for the keyboard (a quarter of a second at most); one that
    // is found gone meanwhile is a loss. Nothing is sent while inactive.
    virtual void setLeds(std::int32_t brightness, std::int32_t mask) = 0;
};
