// Win32 back-end of identifyPort: the present COM port device (of the Ports or
// the Modem setup class) whose PortName is the port's name, and the USB device
// or interface it is, or is under, in the device tree.
//
// Where the USB parent is depends on the driver: usbser's COM port is the USB
// device itself (USB\VID_2341&PID_0043\75735323), or one interface of a
// composite device (USB\VID_...&MI_00\...), whose parent is the device with
// the serial number; FTDI's port is a child of its own bus driver
// (FTDIBUS\VID_0403+PID_6001+A1B2C3A\0000) under the USB device or interface.
// So the walk goes up from the port's device node to the first USB one.
//
// Only the configuration manager's tree and the registry are read: no request
// goes to any device.
#include <windows.h>
// After windows.h, whose types they use.
#include <cfgmgr32.h>

#include <cstdio>
#include <cwchar>

#include "io/com_port_devices_win32.h"
#include "io/port_identity.h"
#include "io/text_win32.h"
#include "io/usb_instance_id.h"

namespace {

// Port, bus driver, interface, device: a USB parent further up than this is
// not the port's adapter.
constexpr int kMaxLevels = 4;

std::optional<std::string> instanceIdOf(DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    return narrow(id);
}

std::optional<DEVINST> parentOf(DEVINST node) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
        return std::nullopt;
    }
    return parent;
}

// Lower-case hex digits, as Linux's sysfs writes USB IDs and interface numbers.
std::string hex(unsigned value, int digits) {
    char text[9];
    std::snprintf(text, sizeof(text), "%0*x", digits, value);
    return text;
}

// The identity of the USB device or interface at node.
PortIdentity identityOf(const UsbInstanceId& usb, DEVINST node) {
    PortIdentity identity{hex(usb.vendorId, 4), hex(usb.productId, 4), {}, {}};
    std::optional<UsbInstanceId> device = usb;
    if (usb.interfaceNumber) {
        identity.interfaceNumber = hex(*usb.interfaceNumber, 2);
        // An interface's own instance is always made up: the serial number
        // is the composite device's, one level up.
        device.reset();
        if (const auto parent = parentOf(node)) {
            if (const auto id = instanceIdOf(*parent)) {
                device = parseUsbInstanceId(*id);
            }
        }
        if (device && (device->interfaceNumber || device->vendorId != usb.vendorId ||
                       device->productId != usb.productId)) {
            device.reset();
        }
    }
    if (device && device->instanceIsSerial()) {
        identity.serial = device->instance;
    }
    return identity;
}

}  // namespace

std::optional<PortIdentity> identifyPort(const std::string& name) {
    const std::wstring wanted = widen(name);
    std::optional<PortIdentity> identity;
    if (wanted.empty()) {
        return identity;
    }
    forEachPortDevice([&](HDEVINFO devices, SP_DEVINFO_DATA& device) {
        // Letter case ignored, as Windows ignores it.
        if (_wcsicmp(portNameOf(devices, device).c_str(), wanted.c_str()) != 0) {
            return true;  // another port: look on
        }
        // Walked while the set is held: Wine's device nodes live only as long.
        std::optional<DEVINST> node = device.DevInst;
        for (int level = 0; node && !identity && level < kMaxLevels; ++level) {
            const auto id = instanceIdOf(*node);
            const auto usb = id ? parseUsbInstanceId(*id) : std::nullopt;
            if (usb) {
                identity = identityOf(*usb, *node);
            } else {
                node = id ? parentOf(*node) : std::nullopt;
            }
        }
        return false;  // the port's device: nothing to look for beyond it
    });
    return identity;  // nothing: a built-in UART, a virtual port, or no such port now
}
