#include "keyboard/input_keyboard.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <linux/input.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "keyboard/x68000_keys.h"
#include "protocol/scan_code.h"

namespace {

// "event3" means /dev/input/event3; anything with a slash is a path.
std::string pathOf(const std::string& device) {
    return device.find('/') == std::string::npos ? "/dev/input/" + device : device;
}

KeyboardConnection::Failure failureOfOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return KeyboardConnection::Failure::Absent;
        case EACCES:
        case EPERM:
            return KeyboardConnection::Failure::NoPermission;
        default:
            return KeyboardConnection::Failure::Other;
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

struct UdevDeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

}  // namespace

InputKeyboard::InputKeyboard(ByteQueue& queue, std::string deviceName, const InputKeyMap& keyMap,
                             std::function<void()> keysQueuedHook, bool watchHotplug)
    : keyQueue(queue),
      devicePath(pathOf(deviceName)),
      map(keyMap),
      keysQueued(std::move(keysQueuedHook)),
      hotplugWanted(watchHotplug),
      wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

InputKeyboard::~InputKeyboard() {
    close();
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

bool InputKeyboard::fail(Failure why, const std::string& text) {
    releaseDevice();
    lastFailure = why;
    lastFailureText = why == Failure::Other ? text : "";
    return false;
}

bool InputKeyboard::open() {
    releaseDevice();  // opening twice must not leak the first device
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
    // A mouse, a power button or a remote would only be taken from the
    // desktop: it has no key that the X68000 has.
    if (!hasMappedKey()) {
        return fail(Failure::Other, "not a keyboard: it has no key the X68000 has");
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

    kanaLed = libevdev_has_event_code(device, EV_LED, LED_KANA) != 0      ? LED_KANA
              : libevdev_has_event_code(device, EV_LED, LED_SCROLLL) != 0 ? LED_SCROLLL
                                                                          : -1;
    capsAtOpen = libevdev_get_event_value(device, EV_LED, LED_CAPSL) != 0;
    kanaAtOpen = kanaLed >= 0 && libevdev_get_event_value(device, EV_LED, kanaLed) != 0;
    capsShown = capsAtOpen;
    kanaShown = kanaAtOpen;
    // A connection opened anew shows no LED, as the relay takes it to.
    if (const int r = writeLeds(false, false); r == -ENODEV) {
        return fail(Failure::Absent);
    }
    sentDown.reset();
    queuedInFrame = false;
    keyboardActive = true;
    return true;
}

void InputKeyboard::makeWatch() {
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

void InputKeyboard::close() {
    releaseDevice();
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

bool InputKeyboard::hasMappedKey() const {
    for (unsigned code = 0; code < kInputKeyCodes; ++code) {
        if (map[code] != 0 && libevdev_has_event_code(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

bool InputKeyboard::anyKeyDown() const {
    for (unsigned code = 0; code < kInputKeyCodes; ++code) {
        if (libevdev_get_event_value(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

void InputKeyboard::takeGrab() {
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

const std::vector<KeyboardConnection::PollDescriptor>& InputKeyboard::pollDescriptors() {
    descriptors.clear();
    if (deviceFd >= 0) {
        descriptors.push_back({deviceFd, POLLIN});
    }
    if (monitor != nullptr) {
        descriptors.push_back({udev_monitor_get_fd(monitor), POLLIN});
    }
    return descriptors;
}

void InputKeyboard::handleEvents(int timeoutMs) {
    if (!watching) {
        return;  // before the first open(), or after close()
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
        readEvents();
    }
    if (lost) {
        releaseDevice();
    }
}

void InputKeyboard::interruptEventHandling() {
    // A counter that is full already says "return at once".
    const std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void InputKeyboard::readEvents() {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    input_event ev{};
    while (!lost) {
        const int r = libevdev_next_event(device, flags, &ev);
        if (r == LIBEVDEV_READ_STATUS_SUCCESS) {
            handleEvent(ev.type, ev.code, ev.value);
        } else if (r == LIBEVDEV_READ_STATUS_SYNC) {
            // SYN_DROPPED, then the resync: the changes the drop swallowed,
            // as events, until libevdev says -EAGAIN.
            flags = LIBEVDEV_READ_FLAG_SYNC;
            handleEvent(ev.type, ev.code, ev.value);
        } else if (r == -EAGAIN && flags == LIBEVDEV_READ_FLAG_SYNC) {
            flags = LIBEVDEV_READ_FLAG_NORMAL;  // resynced: read on
        } else if (r == -EAGAIN) {
            return;
        } else if (r != -EINTR) {
            // ENODEV: unplugged. Any other error leaves a device that cannot
            // be read either.
            markLost();
        }
    }
}

void InputKeyboard::handleEvent(unsigned type, unsigned code, int value) {
    if (type == EV_SYN && code == SYN_REPORT) {
        if (!grabHeld && !anyKeyDown()) {
            takeGrab();
        }
        if (queuedInFrame && keysQueued) {
            keysQueued();
        }
        queuedInFrame = false;
        return;
    }
    // EV_LED is the kernel's echo of our own LED writes; value 2 is its
    // auto-repeat. Keys that change before the grab are the desktop's.
    if (type != EV_KEY || value == 2 || code >= kInputKeyCodes || !grabHeld) {
        return;
    }
    const std::uint8_t key = map[code];
    if (key == 0) {
        return;
    }
    if (value != 0 && !sentDown[code]) {
        keyQueue.push(&key, &key + 1);
        sentDown.set(code);
        queuedInFrame = true;
    } else if (value == 0 && sentDown[code]) {
        const std::uint8_t released = breakOf(key);
        keyQueue.push(&released, &released + 1);
        sentDown.reset(code);
        queuedInFrame = true;
    }
}

void InputKeyboard::readArrivals() {
    if (monitor == nullptr) {
        return;
    }
    while (
        std::unique_ptr<udev_device, UdevDeviceUnref> seen{udev_monitor_receive_device(monitor)}) {
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

bool InputKeyboard::namesUs(const char* node, const char* links) const {
    if (devicePath == node || (links != nullptr && holdsWord(links, devicePath))) {
        return true;
    }
    // A link given by the user that udev did not make, now pointing there.
    std::unique_ptr<char, decltype(&::free)> target(realpath(devicePath.c_str(), nullptr), &::free);
    return target != nullptr && std::strcmp(target.get(), node) == 0;
}

int InputKeyboard::writeLeds(bool caps, bool kana) {
    const bool capsChange =
        caps != capsShown && libevdev_has_event_code(device, EV_LED, LED_CAPSL) != 0;
    const bool kanaChange = kanaLed >= 0 && kana != kanaShown;
    const auto value = [](bool on) { return on ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF; };
    int r = 0;
    if (capsChange && kanaChange) {
        r = libevdev_kernel_set_led_values(device, LED_CAPSL, value(caps), kanaLed, value(kana),
                                           -1);
    } else if (capsChange) {
        r = libevdev_kernel_set_led_values(device, LED_CAPSL, value(caps), -1);
    } else if (kanaChange) {
        r = libevdev_kernel_set_led_values(device, kanaLed, value(kana), -1);
    }
    if (r == 0) {
        capsShown = caps;
        kanaShown = kana;
    }
    return r;
}

void InputKeyboard::setLeds(std::int32_t, std::int32_t mask) {
    if (!active()) {
        return;
    }
    // Brightness has no place on a PC keyboard. A write that fails otherwise
    // loses this one state; the next call tries again.
    if (writeLeds((mask & kLedCaps) != 0, (mask & kLedKana) != 0) == -ENODEV) {
        markLost();
        releaseDevice();
    }
}

void InputKeyboard::markLost() {
    // Counted once per connection: only the first sign finds it still active.
    if (keyboardActive.exchange(false)) {
        ++losses;
    }
    lost = true;
}

// Gives back what open() took, in reverse order: the lamps and the grab only
// to a device still there.
void InputKeyboard::releaseDevice() {
    keyboardActive = false;
    if (device != nullptr) {
        if (!lost) {
            writeLeds(capsAtOpen, kanaAtOpen);
            if (grabHeld) {
                libevdev_grab(device, LIBEVDEV_UNGRAB);
            }
        }
        libevdev_free(device);
        device = nullptr;
    }
    if (deviceFd >= 0) {
        ::close(deviceFd);
        deviceFd = -1;
    }
    grabHeld = false;
    lost = false;
    sentDown.reset();
    queuedInFrame = false;
    kanaLed = -1;
    capsAtOpen = kanaAtOpen = capsShown = kanaShown = false;
}
