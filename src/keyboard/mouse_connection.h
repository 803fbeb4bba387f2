// MouseConnection: where the X68000's mouse packets come from, a seam of its
// own beside the keyboard's (keyboard_connection.h), so that the relay's part
// that answers the host's requests (relay/mouse_relay.h) is portable and knows
// no device library. One back-end:
//   - InputMouse: a mouse of Linux's input layer (/dev/input/eventN), through
//     libevdev.
//
// Taking and giving back, losses and returns, failures and waiting are every
// device's (device_connection.h). What a mouse does besides: motion is summed
// and buttons kept between packets (MouseMotion), and takePacket() gives the
// packet for one request of the host: none while the mouse is not there, so
// that the host finds no mouse answering. The wheel, which the X68000's mouse
// lacks, is counted in notches for the relay to turn into keys
// (takeWheelNotches()).
//
// Threads: as DeviceConnection's.
#pragma once

#include <optional>

#include "keyboard/device_connection.h"
#include "protocol/mouse_packet.h"

class MouseConnection : public DeviceConnection {
public:
    // The packet for one request of the host: the buttons, and the motion
    // summed since the last packet, clamped with its overflow bits (an idle
    // mouse gives one too). None while the mouse is not active.
    virtual std::optional<MouseMotion::Packet> takePacket() = 0;
    // The wheel's notches since the last call, net: + turned up (away from
    // the user), - down. 0 while the mouse is not active; turns while it was
    // not the relay's (the grab waiting) are not counted.
    virtual int takeWheelNotches() = 0;
};
