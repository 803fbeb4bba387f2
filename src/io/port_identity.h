// PortIdentity: which USB adapter a serial port is, so that a port name that
// comes back on another device is not opened.
//
// USB-serial adapters come and go, and their names are handed out again: after
// an adapter is pulled out, the next one plugged in (perhaps a 3D printer's
// board, which DTR resets) gets its ttyUSB0 or COM3. The relay remembers the
// identity of the adapter it first opened under a name and opens the name
// again only when it is the same adapter, or when the name has no USB adapter
// behind it at all (a built-in UART, a pseudo-terminal linked anew).
//
// One back-end per platform: port_identity_posix.cpp reads sysfs (the tty's
// USB interface and device), port_identity_win32.cpp asks SetupAPI and the
// configuration manager (the COM port's device instance and its USB parent).
// Both only read; neither opens the port. Any thread.
#pragma once

#include <optional>
#include <string>

struct PortIdentity {
    // Four lower-case hex digits each ("0403").
    std::string vendorId;
    std::string productId;
    std::string serial;  // the adapter's serial number; empty when it has none
    // The USB interface the port is on, two hex digits ("00"): which port of a
    // multi-port chip. Empty where the system does not tell it.
    std::string interfaceNumber;

    bool operator==(const PortIdentity&) const = default;
};

// "0403:6001 serial A1B2C3 interface 00", for messages and logs.
std::string identityText(const PortIdentity& identity);

// The USB adapter behind the port name (as SerialPort::open takes it: a bare
// name or a path on POSIX, COM3 on Windows), or nothing when the port has no
// USB adapter behind it or is not there now.
std::optional<PortIdentity> identifyPort(const std::string& name);
