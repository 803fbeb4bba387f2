// WorkerWait: where the relay's worker sleeps while there is nothing to do.
//
// A wait ends when a keyboard has something for its back-end to handle
// (handled before the wait returns, so its key changes are in its key queue), when the
// host has sent a byte or the line has failed, when one of the caller's own
// descriptors has something (the mouse's and its line's, on POSIX; the caller
// handles those), when wake() is called, or when
// the time-out passes: the next repeat of a held key, or the next try to get
// the keyboard or the port back. There is no periodic wake-up.
//
// One back-end per platform: worker_wait_posix.cpp sleeps in one poll() over
// the keyboards' descriptors (libusb's, or an input device's and udev's), the
// serial line and a wake pipe, then lets each keyboard handle what is ready
// without waiting; worker_wait_win32.cpp sleeps in libusb's own event wait of
// the first keyboard that has one, which wake() and the serial line's reader
// thread interrupt, and raises the timer resolution while a repeat is pending.
//
// Ownership: holds the wake descriptor or event it makes; uses, but does not
// own, the keyboards and the port. Threads: addKeyboard() by the owner, before
// any wait() or wake(); wait() from the worker only; wake() from any thread,
// at any time while the object lives.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "io/serial_port.h"
#include "keyboard/keyboard_connection.h"

class WorkerWait {
public:
    explicit WorkerWait(SerialPort& port);
    ~WorkerWait();
    WorkerWait(const WorkerWait&) = delete;
    WorkerWait& operator=(const WorkerWait&) = delete;

    // One more keyboard to wait for, from now on.
    void addKeyboard(KeyboardConnection& keyboard);

    // Sleeps until one of the events above or timeoutMs (-1: no time-out).
    // repeatPending: a key repeat is what the time-out waits for, so it must
    // end on time rather than on the platform's coarse timer tick.
    // writeBacklog: bytes the line refused are waiting (breaks of held keys),
    // so the wait also ends when the line takes bytes again (on POSIX when
    // poll() finds it writable; on Windows, where no event tells of room in
    // the driver's queue, within kBacklogRetryMs).
    // also: more descriptors to wait on, on POSIX (the mouse's, and its line's
    // for a hang-up); returns whether one of them has something (an event
    // asked for, a hang-up or an error), for the caller to handle. The
    // Windows back-end has no descriptors to wait on (its mouse is a hook's,
    // which hands its events on and wakes the worker for what cannot wait):
    // it ignores them and returns true after every wait, so that the caller
    // looks at its mouse each pass, which costs a look at a queue.
    bool wait(int timeoutMs, bool repeatPending, bool writeBacklog = false,
              const std::vector<DeviceConnection::PollDescriptor>& also = {});

    static constexpr int kBacklogRetryMs = 100;

    // Makes the wait in progress, or the next one, return at once.
    void wake();

    // Gives back what waiting for a repeat took (on Windows, the raised timer
    // resolution); the worker calls it as it ends.
    void settle();

    // Whether the platform's timer resolution is raised for a pending repeat
    // now (only ever true on Windows); for tests.
    bool fineTimerHeld() const;

    struct Platform;  // the back-end's own state

private:
    std::vector<KeyboardConnection*> keyboards;
    SerialPort& port;
    std::unique_ptr<Platform> platform;
};
