// Input device discovery on Linux: the event devices of the input layer
// (/dev/input/eventN), as libudev sees them, for --list beside the serial
// ports: the keyboards that --keyboard can relay, and the mice.
//
// `name` is the node's name (event3), which --keyboard takes as it is.
// `description` tells which device it is: the input device's own name (the
// `name` attribute of its inputN parent, which --keyboard takes too), then
// what udev found it to be in parentheses (keyboard, mouse, touchpad,
// joystick, ...; "keys" for a device with some keys that is no keyboard, such
// as a power button or a remote), then ", unique id ..." where the device has
// one (the `uniq` attribute: a Bluetooth device's address, a USB device's
// serial number; --keyboard takes it too), then ", /dev/input/by-id/..." when
// udev made that link, the name that stays the same whichever order devices
// are plugged in or numbered. Without udevd there are no such properties and
// links, and the kind and the link are not shown.
//
// Left out: the legacy nodes beside the event nodes (mouseN, jsN), and the
// X68000 Z keyboard's own nodes (USB 33DD:0011), which pellora relays by
// default without --keyboard. Texts come from devices: print them through
// printable() (command_text.h).
#pragma once

#include <vector>

#include "shell/port_choice.h"

// The event devices present, by their number (event2 before event10).
// Without udev or sysfs the list is empty.
std::vector<PortEntry> listInputDevices();
