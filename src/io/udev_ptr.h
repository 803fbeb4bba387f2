// libudev's objects owned as unique_ptrs (UdevPtr<udev_device>), and its
// strings with "nothing" as "", for the code that asks udev about devices
// (Linux only: the port and input device lists, the input devices' watch).
// The user links libudev.
#pragma once

#include <libudev.h>

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
