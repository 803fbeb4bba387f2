#include "input/input_device.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "io/udev_ptr.h"

namespace {

InputDevice::Failure failureOfOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return InputDevice::Failure::Absent;
        case EACCES:
        case EPERM:
            return InputDevice::Failure::NoPermission;
        default:
            return InputDevice::Failure::Other;
    }
}

// Whether words, separated by spaces (udev's DEVLINKS), holds word.
bool holdsWord(std::string_view words, std::string_view word) {
    for (std::size_t at = words.find(word); at != std::string_view::npos;
         at = words.find(word, at + 1)) {
        const std::size_t end = at + word.size();
        if ((at == 0 || words[at - 1] == ' ') && (end == words.size() || words[end] == ' ')) {
            return true;
        }
    }
    return false;
}

}  // namespace

// "event3" means /dev/input/event3; anything with a slash is a path.
std::string InputDevice::pathOf(const std::string& device) {
    return device.find('/') == std::string::npos ? "/dev/input/" + device : device;
}

InputDevice::InputDevice(std::string deviceName, bool watchHotplug)
    : devicePath(pathOf(deviceName)),
      hotplugWanted(watchHotplug),
      wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

InputDevice::~InputDevice() {
    close();
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

bool InputDevice::fail(Failure why, const std::string& text) {
    release();
    lastFailure = why;
    lastFailureText = why == Failure::Other ? text : "";
    return false;
}

bool InputDevice::open(const KindCheck& isOfKind) {
    release();  // opening twice must not leak the first device
    lastFailure = Failure::None;
    lastFailureText.clear();
    makeWatch();
    arrived = false;  // whatever came before, this is the look that counts

    deviceFd = ::open(devicePath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (deviceFd < 0) {
        const int error = errno;
        return fail(failureOfOpen(error), std::strerror(error));
    }
    if (const int r = libevdev_new_from_fd(deviceFd, &device); r < 0) {
        device = nullptr;
        if (r == -ENODEV) {
            return fail(Failure::Absent);  // it went while being opened
        }
        return fail(Failure::Other,
                    r == -ENOTTY || r == -EINVAL ? "not an input device" : std::strerror(-r));
    }
    // A device of another kind would only be taken from the desktop.
    if (const std::string why = isOfKind(device); !why.empty()) {
        return fail(Failure::Other, why);
    }
    // Tried now, even if a key is down, so that another program's grab is
    // found at once; let go of again below while a key is down.
    if (const int r = libevdev_grab(device, LIBEVDEV_GRAB); r < 0) {
        if (r == -EBUSY) {
            return fail(Failure::Busy);
        }
        return fail(r == -ENODEV ? Failure::Absent : Failure::Other, std::strerror(-r));
    }
    grabHeld = true;
    if (anyKeyDown()) {
        libevdev_grab(device, LIBEVDEV_UNGRAB);
        grabHeld = false;
    }
    deviceActive = true;
    return true;
}

void InputDevice::makeWatch() {
    watching = true;
    if (!hotplugWanted || monitor != nullptr) {
        return;
    }
    if (udevContext == nullptr) {
        udevContext = udev_new();
    }
    if (udevContext == nullptr) {
        return;
    }
    udev_monitor* made = udev_monitor_new_from_netlink(udevContext, "udev");
    if (made != nullptr &&
        (udev_monitor_filter_add_match_subsystem_devtype(made, "input", nullptr) < 0 ||
         udev_monitor_enable_receiving(made) < 0)) {
        udev_monitor_unref(made);
        made = nullptr;
    }
    monitor = made;
}

// Gives back what open() took, in reverse order: the grab only to a device
// still there.
void InputDevice::release() {
    deviceActive = false;
    if (device != nullptr) {
        if (!lostNow && grabHeld) {
            libevdev_grab(device, LIBEVDEV_UNGRAB);
        }
        libevdev_free(device);
        device = nullptr;
    }
    if (deviceFd >= 0) {
        ::close(deviceFd);
        deviceFd = -1;
    }
    grabHeld = false;
    lostNow = false;
}

void InputDevice::close() {
    release();
    if (monitor != nullptr) {
        udev_monitor_unref(monitor);
        monitor = nullptr;
    }
    if (udevContext != nullptr) {
        udev_unref(udevContext);
        udevContext = nullptr;
    }
    watching = false;
    arrived = false;
    descriptors.clear();
}

bool InputDevice::anyKeyDown() const {
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        if (libevdev_get_event_value(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

void InputDevice::takeGrab() {
    const int r = libevdev_grab(device, LIBEVDEV_GRAB);
    if (r == 0) {
        grabHeld = true;
        return;
    }
    if (r == -EBUSY) {
        lastFailure = Failure::Busy;  // another program took it meanwhile
        markLost();
    } else if (r == -ENODEV) {
        markLost();
    }
    // Anything else: tried again after the next frame.
}

void InputDevice::markLost() {
    // Counted once per connection: only the first sign finds it still active.
    if (deviceActive.exchange(false)) {
        ++losses;
    }
    lostNow = true;
}

const std::vector<InputDevice::PollDescriptor>& InputDevice::pollDescriptors() {
    descriptors.clear();
    if (deviceFd >= 0) {
        descriptors.push_back({deviceFd, POLLIN});
    }
    if (monitor != nullptr) {
        descriptors.push_back({udev_monitor_get_fd(monitor), POLLIN});
    }
    return descriptors;
}

bool InputDevice::handleEvents(int timeoutMs, const EventHandler& onEvent) {
    if (!watching) {
        return false;  // before the first open(), or after close()
    }
    if (timeoutMs != 0) {
        pollfd fds[3] = {{wakeFd, POLLIN, 0}};
        nfds_t count = 1;
        for (const PollDescriptor& d : pollDescriptors()) {
            fds[count++] = {d.fd, d.events, 0};
        }
        while (::poll(fds, count, timeoutMs) < 0 && errno == EINTR) {
        }
    }
    std::uint64_t wakes = 0;
    while (::read(wakeFd, &wakes, sizeof wakes) < 0 && errno == EINTR) {
    }
    readArrivals();
    if (device != nullptr && active()) {
        readEvents(onEvent);
    }
    if (!lostNow) {
        return false;
    }
    release();
    return true;
}

void InputDevice::interruptEventHandling() {
    // A counter that is full already says "return at once".
    const std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void InputDevice::readEvents(const EventHandler& onEvent) {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    input_event ev{};
    while (!lostNow) {
        const int r = libevdev_next_event(device, flags, &ev);
        if (r == LIBEVDEV_READ_STATUS_SYNC) {
            // SYN_DROPPED, then the resync: the changes the drop swallowed,
            // as events, until libevdev says -EAGAIN.
            flags = LIBEVDEV_READ_FLAG_SYNC;
        } else if (r == -EAGAIN && flags == LIBEVDEV_READ_FLAG_SYNC) {
            flags = LIBEVDEV_READ_FLAG_NORMAL;  // resynced: read on
            continue;
        } else if (r == -EAGAIN) {
            return;
        } else if (r == -EINTR) {
            continue;
        } else if (r != LIBEVDEV_READ_STATUS_SUCCESS) {
            // ENODEV: unplugged. Any other error leaves a device that cannot
            // be read either.
            markLost();
            return;
        }
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && !grabHeld && !anyKeyDown()) {
            takeGrab();
        }
        onEvent(ev);
    }
}

void InputDevice::readArrivals() {
    if (monitor == nullptr) {
        return;
    }
    while (UdevPtr<udev_device> seen{udev_monitor_receive_device(monitor)}) {
        const char* action = udev_device_get_action(seen.get());
        const char* node = udev_device_get_devnode(seen.get());
        if (action == nullptr || node == nullptr ||
            !namesUs(node, udev_device_get_property_value(seen.get(), "DEVLINKS"))) {
            continue;
        }
        if (std::strcmp(action, "add") == 0) {
            arrived = true;
        } else if (std::strcmp(action, "remove") == 0 && device == nullptr &&
                   lastFailure != Failure::Absent) {
            // Refused (another program held it), and now gone: absent.
            lastFailure = Failure::Absent;
            lastFailureText.clear();
            departed = true;
        }
    }
}

bool InputDevice::namesUs(const char* node, const char* links) const {
    if (devicePath == node || (links != nullptr && holdsWord(links, devicePath))) {
        return true;
    }
    // A link given by the user that udev did not make, now pointing there.
    std::unique_ptr<char, decltype(&::free)> target(realpath(devicePath.c_str(), nullptr), &::free);
    return target != nullptr && std::strcmp(target.get(), node) == 0;
}
