// DeviceConnection: what the relay's worker asks of every device it reads,
// the keyboard (keyboard_connection.h) and the mouse (mouse_connection.h):
// taking it and giving it back, its losses and returns, why it cannot be had,
// and what to wait on for it. Each kind of device has its own seam built on
// this one, so that the relay gets either back by the same rules
// (relay/retry_schedule.h) and the front-ends tell their troubles in the same
// words.
//
//   - open() takes the device for this program alone (the X68000 Z
//     keyboard's interfaces are claimed, an input device is grabbed, so that
//     it does not also type or move the pointer on the console or the
//     desktop); close() gives it back and ends the watch for its return.
//   - A device that goes away is released at once and counted once as a loss
//     (takeLosses()); active() falls. Its return is announced (takeArrival())
//     where the back-end hears of it (watchesHotplug()); elsewhere the owner
//     tries open() on its own timer.
//   - Why an open() failed is one of a few reasons the front-ends tell apart
//     (failure()), the same for every back-end.
//
// Waiting: a worker that sleeps in poll() waits on pollDescriptors() and then
// calls handleEvents(0), which handles whatever is ready without waiting.
//
// Threads: one thread at a time drives a connection: the owner while nobody
// handles its events, otherwise the thread that handles them (the relay's
// worker). active(), interruptEventHandling() and hasEventContext() may be
// called from any thread.
#pragma once

#include <string>
#include <vector>

class DeviceConnection {
public:
    // Why the last open() did not open the device.
    enum class Failure {
        None,          // it opened
        Absent,        // the device is not plugged in (or its node is not there)
        NoPermission,  // present, but this user may not open it
        Busy,          // another program holds it
        Other,         // anything else; see failureText()
    };

    // One descriptor to watch: POSIX poll() events on fd.
    struct PollDescriptor {
        int fd = -1;
        short events = 0;
    };

    virtual ~DeviceConnection() = default;

    // Opens the device and starts reading it, with nothing taken as down or
    // moved. Releases an earlier connection first. Returns false, having
    // released what it took, when the device cannot be opened; failure()
    // says why.
    virtual bool open() = 0;
    // Releases the device and whatever the first open() set up to watch for
    // it. Safe when nothing is open; open() may be called again afterwards.
    virtual void close() = 0;

    // True while the device is open and read. Any thread.
    virtual bool active() const = 0;
    // How many connections were lost since the last call: each device that
    // was active and went away counts once, wherever it was found out.
    virtual int takeLosses() = 0;

    // Whether the back-end hears of the device being plugged in
    // (takeArrival()), so that nobody needs to try open() on a timer. Known
    // after the first open().
    virtual bool watchesHotplug() const = 0;
    // True once after the device was plugged in, as found by the event
    // handling since the last call.
    virtual bool takeArrival() = 0;
    // True once after the device, while not open (refused), was unplugged,
    // as found by the event handling since the last call; failure() is then
    // Absent, so a device refused and then unplugged is told absent at once
    // rather than at its next try.
    virtual bool takeDeparture() = 0;

    virtual Failure failure() const = 0;
    // The back-end's words for the error behind Failure::Other (libusb's name
    // for it, "LIBUSB_ERROR_IO"; the system's text for an input device).
    virtual const std::string& failureText() const = 0;

    // Descriptors to wait on beside the caller's own, for a worker that
    // sleeps in poll(). May change after open(), close() and handleEvents().
    virtual const std::vector<PollDescriptor>& pollDescriptors() = 0;
    // Handles whatever is ready, waiting at most timeoutMs (-1: no limit) for
    // something to be or for interruptEventHandling(): the device's input,
    // arrivals, losses (a device found gone is released before this returns).
    // Does nothing before the first open().
    virtual void handleEvents(int timeoutMs) = 0;
    // Makes a handleEvents() that waits now, or the next one, return at once.
    // Any thread.
    virtual void interruptEventHandling() = 0;
    // Whether handleEvents() can wait at all: from the first open() to
    // close(). Any thread.
    virtual bool hasEventContext() const = 0;
};
