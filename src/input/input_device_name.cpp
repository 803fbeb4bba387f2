#include "input/input_device_name.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "io/udev_ptr.h"

namespace {

bool isNodeName(const std::string& text) {
    return text.size() > 5 && text.compare(0, 5, "event") == 0 &&
           text.find_first_not_of("0123456789", 5) == std::string::npos;
}

bool isPath(const std::string& text) {
    return text.rfind("/", 0) == 0 || text.rfind("./", 0) == 0 || text.rfind("../", 0) == 0;
}

// Bits 0 to 31 of a capability bitmap as sysfs shows it: the kernel's longs
// in hex, the highest first ("120013", "1f 0 ... fffffffffffffffe"). They
// are in the last word whatever the kernel's word size, which a 32-bit
// program on a 64-bit kernel (Raspberry Pi OS) cannot know from its own.
unsigned long lowBits(const std::string& bitmap) {
    const std::size_t space = bitmap.find_last_of(' ');
    const std::string last = space == std::string::npos ? bitmap : bitmap.substr(space + 1);
    return static_cast<unsigned long>(std::strtoull(last.c_str(), nullptr, 16) & 0xFFFFFFFFULL);
}

std::string attribute(udev_device* device, const char* name) {
    return udevText(udev_device_get_sysattr_value(device, name));
}

// Whether inputN's unique id is the one given.
bool hasUniqueId(udev_device* input, const std::string& id) {
    const std::string uniq = attribute(input, "uniq");
    return !uniq.empty() && strcasecmp(uniq.c_str(), id.c_str()) == 0;
}

// The N of /dev/input/eventN.
long numberOf(const std::string& node) {
    const std::size_t digits = node.find_last_not_of("0123456789") + 1;
    return std::strtol(node.c_str() + digits, nullptr, 10);
}

// "A", "A and B", "A, B and C".
std::string listed(const std::vector<std::string>& items) {
    std::string words;
    for (std::size_t i = 0; i < items.size(); ++i) {
        words += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return words;
}

}  // namespace

InputDeviceName::InputDeviceName(std::string text, Kind wanted)
    : given(std::move(text)), kind(wanted) {
    if (isPath(given)) {
        nodePath = given;
    } else if (isNodeName(given)) {
        nodePath = "/dev/input/" + given;
    } else {
        label = true;
    }
    shownText = label ? "\"" + given + "\"" : nodePath;
}

bool InputDeviceName::fitsKind(udev_device* input) const {
    if (kind == Kind::Keyboard) {
        return (lowBits(attribute(input, "capabilities/key")) & 0xFFFFFFFEUL) != 0;
    }
    return (lowBits(attribute(input, "capabilities/rel")) & 0x3UL) == 0x3UL;  // REL_X, REL_Y
}

InputDeviceName::Found InputDeviceName::present() const {
    Found byId{{}, true};
    Found byName;
    if (!label) {
        return byName;
    }
    // Event nodes only: the legacy mouseN and jsN beside them are no evdev.
    forEachDevice("input", "event[0-9]*", [&](udev_device* event) {
        udev_device* input = udev_device_get_parent(event);
        const char* node = udev_device_get_devnode(event);
        if (input == nullptr || node == nullptr || !fitsKind(input)) {
            return;
        }
        if (hasUniqueId(input, given)) {
            byId.nodes.emplace_back(node);
        } else if (attribute(input, "name") == given) {
            byName.nodes.emplace_back(node);
        }
    });
    Found found = byId.nodes.empty() ? std::move(byName) : std::move(byId);
    std::sort(found.nodes.begin(), found.nodes.end(),
              [](const std::string& a, const std::string& b) { return numberOf(a) < numberOf(b); });
    return found;
}

bool InputDeviceName::fits(udev_device* event) const {
    udev_device* input = label ? udev_device_get_parent(event) : nullptr;
    if (input == nullptr || !fitsKind(input)) {
        return false;
    }
    return hasUniqueId(input, given) || attribute(input, "name") == given;
}

std::string InputDeviceName::fitsSeveral(const Found& found) const {
    return (found.byUniqueId ? "unique id \"" : "name \"") + given + "\" fits " +
           listed(found.nodes);
}

std::string InputDeviceName::ambiguity() const {
    const Found found = present();
    if (found.nodes.size() < 2) {
        return "";
    }
    return std::string(kind == Kind::Keyboard ? "the keyboard " : "the mouse ") +
           fitsSeveral(found) +
           (found.byUniqueId ? ": name one by its node" : ": name one by its node or unique id");
}
