#include "cli/input_device_list.h"

#include "cli/translation.h"
#include "io/udev_ptr.h"

#include <strings.h>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

bool flagged(udev_device* device, const char* property) {
    return udevText(udev_device_get_property_value(device, property)) == "1";
}

bool sameHex(const std::string& value, const char* wanted) {
    return strcasecmp(value.c_str(), wanted) == 0;
}

// The X68000 Z keyboard's own nodes: by udev's IDs, or by its USB device's.
bool isX68000ZKeyboard(udev_device* event) {
    if (sameHex(udevText(udev_device_get_property_value(event, "ID_VENDOR_ID")), "33dd") &&
        sameHex(udevText(udev_device_get_property_value(event, "ID_MODEL_ID")), "0011")) {
        return true;
    }
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(event, "usb", "usb_device");
    return usb != nullptr &&
           sameHex(udevText(udev_device_get_sysattr_value(usb, "idVendor")), "33dd") &&
           sameHex(udevText(udev_device_get_sysattr_value(usb, "idProduct")), "0011");
}

// What udev's input_id found the device to be; "" where it says nothing.
std::string kindOf(udev_device* event) {
    static constexpr std::pair<const char*, const char*> kKinds[] = {
        {"ID_INPUT_KEYBOARD", N_("keyboard")},
        {"ID_INPUT_MOUSE", N_("mouse")},
        {"ID_INPUT_TOUCHPAD", N_("touchpad")},
        {"ID_INPUT_TOUCHSCREEN", N_("touchscreen")},
        {"ID_INPUT_TABLET", N_("tablet")},
        {"ID_INPUT_JOYSTICK", N_("joystick")},
        // TRANSLATORS: a device with some keys that is no keyboard (a power button).
        {"ID_INPUT_KEY", N_("keys")},
        {"ID_INPUT_SWITCH", N_("switch")},
        {"ID_INPUT_ACCELEROMETER", N_("accelerometer")},
    };
    for (const auto& [property, kind] : kKinds) {
        if (flagged(event, property)) {
            return _(kind);
        }
    }
    return "";
}

// udev's /dev/input/by-id/ link for the node, if it made one (DEVLINKS holds
// the node's links, separated by spaces).
std::string byIdLink(udev_device* event) {
    const std::string links = udevText(udev_device_get_property_value(event, "DEVLINKS"));
    const std::string prefix = "/dev/input/by-id/";
    for (std::size_t at = links.find(prefix); at != std::string::npos;
         at = links.find(prefix, at + 1)) {
        if (at == 0 || links[at - 1] == ' ') {
            return links.substr(at, links.find(' ', at) - at);
        }
    }
    return {};
}

std::string describe(udev_device* event) {
    udev_device* input = udev_device_get_parent(event);
    std::string name = udevText(udev_device_get_sysattr_value(input, "name"));
    if (name.empty()) {
        name = _("unnamed input device");
    }
    if (const std::string kind = kindOf(event); !kind.empty()) {
        name += " (" + kind + ")";
    }
    // A Bluetooth device's address, a USB device's serial number: what
    // --keyboard and --mouse take beside the name, and the one that tells
    // two devices of a model apart.
    if (const std::string uniq = udevText(udev_device_get_sysattr_value(input, "uniq"));
        !uniq.empty()) {
        name = formatted(_("%s, unique id %s"), name, uniq);
    }
    if (const std::string link = byIdLink(event); !link.empty()) {
        name += ", " + link;
    }
    return name;
}

// The N of eventN.
long numberOf(const std::string& name) {
    return std::strtol(name.c_str() + 5, nullptr, 10);
}

}  // namespace

std::vector<PortEntry> listInputDevices() {
    std::vector<PortEntry> devices;
    forEachDevice("input", "event[0-9]*", [&](udev_device* event) {
        if (udev_device_get_devnode(event) != nullptr && !isX68000ZKeyboard(event)) {
            devices.push_back({udevText(udev_device_get_sysname(event)), describe(event)});
        }
    });
    std::sort(devices.begin(), devices.end(), [](const PortEntry& a, const PortEntry& b) {
        return numberOf(a.name) < numberOf(b.name);
    });
    return devices;
}
