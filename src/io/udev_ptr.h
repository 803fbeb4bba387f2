// libudev's objects owned as unique_ptrs (UdevPtr<udev_device>), and its
// strings with "nothing" as "", for the code that asks udev about devices
// (Linux only: the port and input device lists, the input devices' watch).
// The user links libudev.
#pragma once

#include <libudev.h>

#include <functional>
#include <memory>
#include <string>

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

// A libudev answer (a property, an attribute, a name), "" for none.
inline std::string udevText(const char* value) {
    return value != nullptr ? value : "";
}

// Calls visit with each device udev knows of in subsystem (whose name fits
// sysname, a glob, when given), as found by one scan: the port and input
// device lists and the look for a device by its name. A device gone since
// the scan (unplugged meanwhile) is passed over. Nothing is visited when udev
// cannot be asked.
inline void forEachDevice(const char* subsystem, const char* sysname,
                          const std::function<void(udev_device*)>& visit) {
    UdevPtr<udev> context(udev_new());
    UdevPtr<udev_enumerate> devices(context ? udev_enumerate_new(context.get()) : nullptr);
    if (!devices || udev_enumerate_add_match_subsystem(devices.get(), subsystem) < 0 ||
        (sysname != nullptr && udev_enumerate_add_match_sysname(devices.get(), sysname) < 0) ||
        udev_enumerate_scan_devices(devices.get()) < 0) {
        return;
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(devices.get()); entry != nullptr;
         entry = udev_list_entry_get_next(entry)) {
        UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device) {
            visit(device.get());
        }
    }
}
