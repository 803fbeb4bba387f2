// KeyboardConnection: where the relay's keys come from. One interface, one
// back-end per kind of keyboard, so that the relay's worker, its reconnects,
// the keys the host holds and the status stay one piece of code whichever
// keyboard types:
//   - UsbKeyboard: the X68000 Z keyboard through libusb (every platform);
//   - InputKeyboard: any keyboard that Linux's input layer presents as an
//     event device (/dev/input/eventN), through libevdev.
//
// Taking and giving back, losses and returns, failures and waiting are every
// device's (device_connection.h). What a keyboard does besides:
//   - Each key change becomes one scan-code byte in the key queue the
//     back-end was given at construction: the X68000 key code, with bit 7 set
//     for a release (protocol/scan_code.h). Keys the back-end has no X68000
//     key for produce nothing. The keyboard's own auto-repeat produces
//     nothing either: the relay repeats a held key itself. A keyboard lost
//     leaves the relay to send the host the breaks of the keys it holds.
//   - The LEDs follow the host's mask, each back-end mapping the X68000's
//     seven LEDs onto what its keyboard has.
//   - Waiting: a poll() over pollDescriptors() sleeps at most
//     nextTimeoutMs(), and handleEvents(0) also does the back-end's own work
//     that is due (msUntilDue()). Where a platform has no descriptors to poll
//     (libusb on Windows), the worker sleeps in handleEvents(timeout) itself,
//     and interruptEventHandling() ends that sleep.
//
// Threads: as DeviceConnection's. A back-end's own callbacks run inside
// handleEvents() (and, for UsbKeyboard, inside close() and its LED request).
#pragma once

#include <cstdint>

#include "keyboard/device_connection.h"

class KeyboardConnection : public DeviceConnection {
public:
    // Whether the last open() could ask the system cheaply if the keyboard is
    // plugged in, so that the system's own news of device changes may prompt a
    // look (Windows' device-change broadcast).
    virtual bool presenceFromSystem() const = 0;
    // Whether the last open() found the keyboard absent although the system
    // lists it (Windows lists a keyboard plugged in a moment before its
    // interfaces have their driver, and libusb cannot open it until then), so
    // that it is worth looking for again soon. False where the system cannot
    // tell.
    virtual bool listedButNotOpenable() const { return false; }

    // Milliseconds until the back-end's library must handle a time-out of its
    // own, -1 for none: the longest a poll() over pollDescriptors() may sleep.
    virtual int nextTimeoutMs() = 0;
    // Milliseconds from tick now until the back-end has work of its own due
    // (0: due; -1: none), which handleEvents() then does, so the caller's wait
    // must end by then: UsbKeyboard's next submission to a failing endpoint.
    virtual int msUntilDue(std::uint32_t now) const = 0;

    // Whether a key of the keyboard is down now, as far as the back-end has
    // read, such that giving the keyboard back now would leave the key held
    // for whoever gets it next (an input device's console types its
    // auto-repeat then). The owner reads on for a moment before close().
    virtual bool holdsKeysDown() const = 0;

    // The LEDs as the host wants them: brightness 0-3 (where the keyboard can
    // dim them) and the host's 7-bit mask, bit i set for LED i lit
    // (x68000_keys.h). A connection opened anew shows no LED. Returns without
    // waiting long for the keyboard (a quarter of a second at most); one that
    // is found gone meanwhile is a loss. Nothing is sent while inactive.
    virtual void setLeds(std::int32_t brightness, std::int32_t mask) = 0;
};
