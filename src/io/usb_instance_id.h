// UsbInstanceId: a Windows device instance ID of a USB device or of one
// interface of a composite USB device, taken apart.
//
// Windows names a USB device "USB\VID_0403&PID_6001\A1B2C3" and an interface
// of a composite device "USB\VID_0403&PID_6010&MI_01\6&2B3C4D&0&0001": the
// enumerator, the device's IDs (with MI_xx, the interface number, for an
// interface), then the instance. The USB hub driver takes the instance from
// the device's serial number when the device reports one that Windows
// accepts; otherwise Windows makes one up from where the device is plugged
// in, and such a made-up instance always holds an '&'.
//
// Used by the port identity (which adapter a COM port is) and by the
// keyboard's presence check. Pure text work: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct UsbInstanceId {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<unsigned> interfaceNumber;  // MI_xx, hex in the ID
    std::string instance;                     // the part after the last backslash

    // Whether instance is the device's serial number rather than a made-up one.
    bool instanceIsSerial() const;
};

// Nothing when id is not one of a USB device or interface (another
// enumerator, as FTDIBUS\ or ROOT\, or no VID_ and PID_). Letter case is
// ignored, as Windows ignores it.
std::optional<UsbInstanceId> parseUsbInstanceId(std::string_view id);
