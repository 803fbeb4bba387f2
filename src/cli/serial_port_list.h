// Serial port discovery on Linux: the serial ports present, read from sysfs.
//
// A port is a tty class device with a `device` link, that is, one with hardware
// behind it (virtual consoles and pseudo-terminals have none). Serial-core
// ports whose `type` is 0 (PORT_UNKNOWN) are dropped: the kernel keeps such
// placeholders (the 8250 driver's ttyS0-ttyS3 on a PC without those UARTs) but
// found no UART behind them. A platform ttyS* without a `type` is dropped too.
// A platform ttyS* that does have a UART (the Raspberry Pi's mini UART) stays.
// The serial-base devices that newer kernels put between a serial-core tty and
// its hardware are looked through: bus and driver are the hardware's.
//
// `name` is the tty name (ttyUSB0), which the relay opens as /dev/NAME.
// `description` is the USB device's product string, with the interface's own
// string in parentheses where it has a different one; for ports that are not on
// USB, or have no strings, it is the name of the driver bound to the device (or,
// with no driver bound, the device's bus).
#pragma once

#include <filesystem>
#include <vector>

#include "shell/port_choice.h"

// The ports under sysfsRoot (the real /sys, or a tree built like it) in list
// order (`sortPortList`). There is no "(None)" entry. An unreadable or missing
// tree yields an empty list.
std::vector<PortEntry> listSerialPorts(const std::filesystem::path& sysfsRoot = "/sys");
