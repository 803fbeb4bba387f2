// Serial port discovery on Linux: the serial ports present, as libudev sees
// them (sysfs, and the udev database where udevd runs).
//
// A port is a tty device with a parent device, that is, one with hardware
// behind it (virtual consoles and pseudo-terminals have none). Serial-core
// ports whose `type` is 0 (PORT_UNKNOWN) are dropped: the kernel keeps such
// placeholders (the 8250 driver's ttyS0-ttyS3 on a PC without those UARTs) but
// found no UART behind them. A platform ttyS* without a `type` is dropped too.
// A platform ttyS* that does have a UART (the Raspberry Pi's mini UART) stays.
// The serial-base devices that newer kernels put between a serial-core tty and
// its hardware are looked through: bus and driver are the hardware's.
//
// `name` is the tty name (ttyUSB0), which the relay opens as /dev/NAME.
// `description` tells the user which adapter it is:
//   - what the device calls itself: the USB device's product string, with the
//     interface's own string in parentheses where it has a different one;
//     where the device gives no product string, the vendor and model names of
//     udev's hardware database (ID_VENDOR_FROM_DATABASE, ID_MODEL_FROM_DATABASE);
//     where neither exists, the name of the driver bound to the hardware (or,
//     with no driver bound, its bus), as for the Pi's own UART (uart-pl011);
//   - then ", serial NUMBER" when the device has a serial number;
//   - then ", /dev/serial/by-id/..." when udev made that link, the name that
//     stays the same whichever order adapters are plugged in.
// Texts come from devices: print them through printable() (command_text.h).
#pragma once

#include <vector>

#include "shell/port_choice.h"

// The ports present in list order (`sortPortList`). There is no "(None)"
// entry. Without udev or sysfs the list is empty.
std::vector<PortEntry> listSerialPorts();
