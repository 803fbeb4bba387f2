// InputMouse: a mouse that Linux's input layer presents as an event device
// (/dev/input/eventN: USB, Bluetooth, PS/2), read through libevdev, as the
// X68000's mouse. It is the input-device back-end of MouseConnection
// (mouse_connection.h), the mouse's seam beside the keyboard's: the relay
// (MouseRelay) asks it for one packet each time the host asks the mouse for
// one (MSCTRL high to low on the key line: 0x41, then 0x40), and writes the
// packet to the mouse's own line (SerialPort with LineSettings::mouseLine()).
//
// The device: named, opened, grabbed, read and watched for as InputDevice
// (input_device.h) says, which InputMouse owns: a node, a link to one, the
// node's name (event7), or the mouse's unique id or name, which fits only a
// device with relative motion; grabbed while relayed, so that it does not
// also move the desktop's pointer, and given back at close(); the grab waits
// while a button is down; a device another program holds is Busy. A device
// without relative motion on both axes (REL_X and REL_Y: a keyboard, a
// tablet, a touchpad, which report absolute positions) is refused as Other,
// "not a mouse: it has no relative motion".
//
// Motion and buttons: REL_X and REL_Y, scaled by the factor given at
// construction, are summed into a MouseMotion (protocol/mouse_packet.h) until
// the next packet; BTN_LEFT and BTN_RIGHT are its buttons, as libevdev holds
// them at the end of each frame (SYN_REPORT). The middle button and side
// buttons have no place on the X68000's mouse.
//
// The wheel: REL_WHEEL's notches are counted until takeWheelNotches(), for
// the relay to turn into keys. REL_WHEEL_HI_RES adds nothing: the kernel's
// HID driver reports a wheel on both axes (120 a notch on the high-resolution
// one, REL_WHEEL once a notch is made up), so counting both would count
// twice, and a fine wheel's part of a notch is no key. The horizontal wheel
// has no place.
//
// Motion, buttons and the wheel while the grab waits are the desktop's. After
// SYN_DROPPED libevdev's resync gives the buttons' true state, so a button
// released during the drop comes out released; motion and notches lost in a
// drop are lost.
//
// Presence: a mouse that is not there sends nothing (takePacket() has none),
// so that the host, finding no mouse answering, may turn to its own mouse
// port. Unplugged while relayed (ENODEV), it is released and counted once as a
// loss (takeLosses()), with its buttons up and its motion and notches
// forgotten; udev announces its return (takeArrival()), after which the owner
// calls open().
//
// Driving it: the relay's worker waits on pollDescriptors() beside its own in
// poll() and then calls handleEvents(0); on each request from the host it
// calls takePacket() and writes the packet's three bytes, if there is one,
// and takes the wheel's notches as it goes.
//
// Ownership: owns its InputDevice (the device, the udev monitor and a wake
// descriptor), the motion not yet sent and the notches not yet taken.
// Threads: one thread at a time drives it (the relay's worker while it runs,
// the owner otherwise); active(), hasEventContext() and
// interruptEventHandling() may be called from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/input_connection.h"
#include "keyboard/mouse_connection.h"
#include "keyboard/share_switch.h"
#include "protocol/mouse_packet.h"

struct input_event;

class InputMouse final : public InputConnection<MouseConnection> {
public:
    // device: as the user gave it. watchHotplug false: never watch for the
    // device's return (the caller tries open() on a timer instead). scale:
    // what motion is multiplied by, as MouseMotion::setScale() takes it
    // (std::invalid_argument outside its range).
    explicit InputMouse(std::string device, bool watchHotplug = true, double scale = 1.0);
    // The same on a node that another back-end reads too (a keyboard's, for
    // one device that is both: it is opened, grabbed, read, lost and found
    // again as one). share: the switch that shares it with the computer
    // (null: the X68000's alone): grabbed and relayed only while the switch
    // gives it to the X68000, with every button up; going to the computer,
    // its buttons are up in the next packet and it moves nothing meanwhile.
    explicit InputMouse(std::shared_ptr<InputNode> node, double scale = 1.0,
                        std::shared_ptr<ShareSwitch> share = nullptr);
    ~InputMouse() override;
    InputMouse(const InputMouse&) = delete;
    InputMouse& operator=(const InputMouse&) = delete;

    // Opens the mouse, with no motion and no button down, and starts the
    // watch for its return. Releases an earlier connection first. False, with
    // nothing kept open, when it cannot: failure() says why.
    bool open() override;
    // Releases the mouse and stops the watch. Safe when nothing is open.
    void close() override;
    // Reads what is ready (motion, buttons, arrivals, the loss of the mouse),
    // waiting at most timeoutMs (-1: no limit) for something to be or for
    // interruptEventHandling(), and follows the switch of a shared mouse.
    // Does nothing before the first open().
    void handleEvents(int timeoutMs) override;

    // The packet for the host's request: the buttons, and the motion summed
    // since the last packet, clamped with its overflow bits (an idle mouse
    // gives one too: no motion). None while the mouse is not active.
    std::optional<MouseMotion::Packet> takePacket() override;
    // REL_WHEEL's notches since the last call, net (+ up); 0 while the mouse
    // is not active.
    int takeWheelNotches() override;

private:
    void handleEvent(const input_event& ev);
    bool relaying() const;
    void followSwitch();
    // Nothing moved, turned or pressed (a new connection, a lost one).
    void forget();

    MouseMotion motion;
    int wheelNotches = 0;
    const std::shared_ptr<ShareSwitch> share;
    std::uint64_t movesSeen = 0;
};
