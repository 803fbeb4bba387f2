// MouseConnection: where the X68000's mouse packets come from, a seam of its
// own beside the keyboard's (keyboard_connection.h), so that the relay's part
// that answers the host's requests (relay/mouse_relay.h) is portable and knows
// no device library. One back-end:
//   - InputMouse: a mouse of Linux's input layer (/dev/input/eventN), through
//     libevdev.
//
// What a back-end does:
//   - open() takes the mouse for this program alone (an input device is
//     grabbed, so that it does not also move the desktop's pointer); close()
//     gives it back and ends the watch for its return.
//   - Motion is summed and buttons kept between packets (MouseMotion), and
//     takePacket() gives the packet for one request of the host: none while
//     the mouse is not there, so that the host finds no mouse answering.
//   - A mouse that goes away is released at once and counted once as a loss
//     (takeLosses()); its return is announced (takeArrival()) where the
//     back-end hears of it (watchesHotplug()), else the owner tries open() on
//     its own timer.
//   - Why an open() failed is one of the keyboard seam's reasons (failure()),
//     so that the front-ends tell them in the same words.
//
// Waiting: a worker that sleeps in poll() waits on pollDescriptors() and then
// calls handleEvents(0), which reads whatever is ready without waiting.
//
// Threads: one thread at a time drives a connection (the relay's worker while
// it runs, the owner otherwise); active() may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "keyboard/keyboard_connection.h"
#include "protocol/mouse_packet.h"

class MouseConnection {
public:
    using Failure = KeyboardConnection::Failure;
    using PollDescriptor = KeyboardConnection::PollDescriptor;

    virtual ~MouseConnection() = default;

    // Opens the mouse, with no motion and no button down, and starts the
    // watch for its return. Releases an earlier connection first. False, with
    // nothing kept open, when it cannot: failure() says why.
    virtual bool open() = 0;
    // Releases the mouse and stops the watch. Safe when nothing is open.
    virtual void close() = 0;

    // True while the mouse is open and read. Any thread.
    virtual bool active() const = 0;
    // How many connections were lost since the last call.
    virtual int takeLosses() = 0;
    // Whether the back-end hears of the mouse being plugged in (known after
    // the first open()).
    virtual bool watchesHotplug() const = 0;
    // True once after the mouse was plugged in again, as found by the event
    // handling since the last call.
    virtual bool takeArrival() = 0;
    // True once after the mouse, while not open (refused), was unplugged;
    // failure() is Absent then.
    virtual bool takeDeparture() = 0;
    virtual Failure failure() const = 0;
    // The back-end's words for the error behind Failure::Other.
    virtual const std::string& failureText() const = 0;

    // The descriptors to wait on in poll(); they may change after open(),
    // close() and handleEvents().
    virtual const std::vector<PollDescriptor>& pollDescriptors() = 0;
    // Reads what is ready (motion, buttons, arrivals, the loss of the mouse),
    // waiting at most timeoutMs (-1: no limit). Does nothing before the first
    // open().
    virtual void handleEvents(int timeoutMs) = 0;

    // The packet for one request of the host: the buttons, and the motion
    // summed since the last packet, clamped with its overflow bits (an idle
    // mouse gives one too). None while the mouse is not active.
    virtual std::optional<MouseMotion::Packet> takePacket() = 0;
};
