// Whether a USB device is plugged in, asked of the system's device list
// without any request on the bus.
//
// libusb finds a device only by enumerating the whole bus: on Windows, libusb
// 1.0.26 (which has no hotplug there) rebuilds every USB device of the machine
// with a request to each, about a second more for each disabled or driverless
// one, and for ever behind a hub that does not answer. So while the keyboard
// is away, the keyboard layer asks this first and calls libusb only when the
// keyboard is there (or when this cannot tell).
//
// One back-end per platform: usb_presence_win32.cpp asks the Plug and Play
// manager; usb_presence_posix.cpp cannot tell (libusb's own hotplug and
// enumeration through sysfs serve there). Any thread.
#pragma once

#include <cstdint>

enum class UsbPresence {
    Present,  // a device (or one of its interfaces) with these IDs is plugged in
    Absent,   // none is
    Unknown,  // the system cannot tell: ask libusb
};

UsbPresence usbDevicePresent(std::uint16_t vendorId, std::uint16_t productId);
