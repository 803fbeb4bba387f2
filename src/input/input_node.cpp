#include "input/input_node.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "io/udev_ptr.h"

namespace {

InputNode::Failure failureOfOpen(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return InputNode::Failure::Absent;
        case EACCES:
        case EPERM:
            return InputNode::Failure::NoPermission;
        default:
            return InputNode::Failure::Other;
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

InputNode::InputNode(std::string deviceName, InputDeviceName::Kind kind, bool watchHotplug)
    : name(std::move(deviceName), kind),
      hotplugWanted(watchHotplug),
      wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

InputNode::~InputNode() {
    releaseNode();
    if (monitor != nullptr) {
        udev_monitor_unref(monitor);
    }
    if (udevContext != nullptr) {
        udev_unref(udevContext);
    }
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

InputNode::UserId InputNode::attach(EventHandler onEvent, std::function<void()> onLost) {
    auto user = std::make_unique<User>();
    user->onEvent = std::move(onEvent);
    user->onLost = std::move(onLost);
    users.push_back(std::move(user));
    return users.size() - 1;
}

void InputNode::detach(UserId id) {
    users[id]->onEvent = nullptr;
    users[id]->onLost = nullptr;
}

bool InputNode::fail(UserId id, Failure why, const std::string& text) {
    release(id);
    User& user = *users[id];
    user.failure = why;
    user.failureText = why == Failure::Other ? text : "";
    return false;
}

bool InputNode::open(UserId id, const KindCheck& isOfKind) {
    release(id);  // opening twice must not leak the first connection
    User& user = *users[id];
    user.failure = Failure::None;
    user.failureText.clear();
    user.watching = true;
    user.arrived = false;  // whatever came before, this is the look that counts
    makeWatch();

    const bool first = device == nullptr;
    if (first && !openNode(user)) {
        return false;
    }
    // A device of another kind would only be taken from the desktop.
    if (const std::string why = isOfKind(device); !why.empty()) {
        return fail(id, Failure::Other, why);
    }
    // Tried now, even if a key is down, so that another program's grab is
    // found at once. Not while the device is to stay the desktop's (shared,
    // on the computer's side).
    if (first && grabWanted) {
        if (const int r = tryGrab(); r == -EBUSY) {
            return fail(id, Failure::Busy);
        } else if (r < 0) {
            return fail(id, r == -ENODEV ? Failure::Absent : Failure::Other, std::strerror(-r));
        }
    }
    user.active = true;
    return true;
}

bool InputNode::openNode(User& user) {
    const auto refuse = [&](Failure why, const std::string& text) {
        releaseNode();
        user.failure = why;
        user.failureText = why == Failure::Other ? text : "";
        return false;
    };
    std::string node;
    if (std::string why; !nodeToOpen(node, why)) {
        return refuse(why.empty() ? Failure::Absent : Failure::Other, why);
    }
    deviceFd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (deviceFd < 0) {
        const int error = errno;
        return refuse(failureOfOpen(error), std::strerror(error));
    }
    if (const int r = libevdev_new_from_fd(deviceFd, &device); r < 0) {
        device = nullptr;
        if (r == -ENODEV) {
            return refuse(Failure::Absent, {});  // it went while being opened
        }
        return refuse(Failure::Other,
                      r == -ENOTTY || r == -EINVAL ? "not an input device" : std::strerror(-r));
    }
    // Events stamped by a clock that steps neither back nor forward, to tell
    // those from before a grab from those after it.
    if (const int r = libevdev_set_clock_id(device, CLOCK_MONOTONIC); r == -ENODEV) {
        return refuse(Failure::Absent, {});
    }
    return true;
}

bool InputNode::nodeToOpen(std::string& node, std::string& why) {
    if (!name.isLabel()) {
        node = name.path();
        return true;
    }
    const InputDeviceName::Found found = name.present();
    if (found.nodes.size() > 1) {
        why = "the " + name.fitsSeveral(found);
        return false;
    }
    if (found.nodes.empty()) {
        return false;
    }
    node = labelNode = found.nodes.front();
    return true;
}

int InputNode::tryGrab() {
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    if (const int r = libevdev_grab(device, LIBEVDEV_GRAB); r < 0) {
        return r;
    }
    // The kernel's key state now, which libevdev's may lag behind: a key
    // pressed since libevdev last read is down there, and its press, queued
    // for us, is dropped by the asking (the desktop has seen it).
    std::array<unsigned long,
               (KEY_CNT + 8 * sizeof(unsigned long) - 1) / (8 * sizeof(unsigned long))>
        bits{};
    if (ioctl(deviceFd, EVIOCGKEY(sizeof bits), bits.data()) < 0) {
        const int error = errno;
        libevdev_grab(device, LIBEVDEV_UNGRAB);
        return error == ENODEV ? -ENODEV : 0;  // tried again after the next frame
    }
    bool down = false;
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        const bool isDown =
            (bits[code / (8 * sizeof(unsigned long))] >> (code % (8 * sizeof(unsigned long)))) &
            1UL;
        down = down || isDown;
        if (libevdev_has_event_code(device, EV_KEY, code) != 0) {
            libevdev_set_event_value(device, EV_KEY, code, isDown ? 1 : 0);
        }
    }
    if (down) {
        // Let go of again; taken when everything is up.
        libevdev_grab(device, LIBEVDEV_UNGRAB);
        return 0;
    }
    grabHeld = true;
    // What is still queued from before it (libevdev may hold events read
    // already) is the desktop's: told apart by its time.
    grabbedAt = before;
    return 0;
}

bool InputNode::beforeTheGrab(const input_event& ev) const {
    if (!grabHeld) {
        return false;
    }
    const long long sec = ev.input_event_sec;
    const long long usec = ev.input_event_usec;
    return sec < grabbedAt.tv_sec || (sec == grabbedAt.tv_sec && usec * 1000 < grabbedAt.tv_nsec);
}

void InputNode::makeWatch() {
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

void InputNode::release(UserId id) {
    users[id]->active = false;
    if (!anyUserActive()) {
        releaseNode();
    }
}

// Gives back what the first open took, in reverse order: the grab only to a
// device still there.
void InputNode::releaseNode() {
    for (const auto& user : users) {
        user->active = false;
    }
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

void InputNode::close(UserId id) {
    release(id);
    users[id]->watching = false;
    users[id]->arrived = false;
    if (std::any_of(users.begin(), users.end(), [](const auto& u) { return u->watching; })) {
        return;
    }
    if (monitor != nullptr) {
        udev_monitor_unref(monitor);
        monitor = nullptr;
    }
    if (udevContext != nullptr) {
        udev_unref(udevContext);
        udevContext = nullptr;
    }
    watching = false;
    descriptors.clear();
}

bool InputNode::anyUserActive() const {
    return std::any_of(users.begin(), users.end(), [](const auto& u) { return u->active.load(); });
}

bool InputNode::active(UserId id) const {
    return users[id]->active.load();
}

int InputNode::takeLosses(UserId id) {
    return std::exchange(users[id]->losses, 0);
}

bool InputNode::takeArrival(UserId id) {
    return std::exchange(users[id]->arrived, false);
}

bool InputNode::takeDeparture(UserId id) {
    return std::exchange(users[id]->departed, false);
}

InputNode::Failure InputNode::failure(UserId id) const {
    return users[id]->failure;
}

const std::string& InputNode::failureText(UserId id) const {
    return users[id]->failureText;
}

bool InputNode::anyKeyDown() const {
    if (device == nullptr) {
        return false;
    }
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        if (libevdev_get_event_value(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

void InputNode::wantGrab(bool wanted) {
    grabWanted = wanted;
    // At once when every key is up; else at the end of the frame that lets
    // the last one go.
    if (device != nullptr && !lostNow && grabHeld != grabWanted && !anyKeyDown()) {
        moveGrab();
    }
}

void InputNode::moveGrab() {
    if (!grabWanted) {
        libevdev_grab(device, LIBEVDEV_UNGRAB);
        grabHeld = false;
        return;
    }
    const int r = tryGrab();
    if (r == -EBUSY) {
        // Another program took it meanwhile.
        for (const auto& user : users) {
            if (user->active) {
                user->failure = Failure::Busy;
            }
        }
        markLost();
    } else if (r == -ENODEV) {
        markLost();
    }
    // Anything else: tried again after the next frame.
}

void InputNode::markLost() {
    // Counted once per connection: only the first sign finds a user still
    // active.
    for (const auto& user : users) {
        if (user->active.exchange(false)) {
            ++user->losses;
            if (user->onLost) {
                user->onLost();
            }
        }
    }
    lostNow = true;
}

const std::vector<InputNode::PollDescriptor>& InputNode::pollDescriptors() {
    descriptors.clear();
    if (deviceFd >= 0) {
        descriptors.push_back({deviceFd, POLLIN});
    }
    if (monitor != nullptr) {
        descriptors.push_back({udev_monitor_get_fd(monitor), POLLIN});
    }
    return descriptors;
}

void InputNode::handleEvents(int timeoutMs) {
    if (!watching) {
        return;  // before the first open(), or after the last close()
    }
    // Also with no time-out: a node with nothing queued is not read (a read
    // that finds nothing is a system call for nothing; a worker with several
    // keyboards asks each of them after every wait). libevdev holds nothing
    // back between calls: each read goes on until the node has nothing left.
    pollfd fds[3] = {{wakeFd, POLLIN, 0}};
    nfds_t count = 1;
    for (const PollDescriptor& d : pollDescriptors()) {
        fds[count++] = {d.fd, d.events, 0};
    }
    while (::poll(fds, count, timeoutMs) < 0 && errno == EINTR) {
    }
    std::uint64_t wakes = 0;
    while (::read(wakeFd, &wakes, sizeof wakes) < 0 && errno == EINTR) {
    }
    readArrivals();
    const bool queued = deviceFd >= 0 && count > 1 && fds[1].fd == deviceFd && fds[1].revents != 0;
    if (device != nullptr && anyUserActive() && queued) {
        readEvents();
    }
    if (lostNow) {
        releaseNode();
    }
}

void InputNode::interruptEventHandling() {
    // A counter that is full already says "return at once".
    const std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void InputNode::readEvents() {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    input_event ev{};
    while (!lostNow && device != nullptr) {
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
        if (beforeTheGrab(ev)) {
            continue;
        }
        for (const auto& user : users) {
            if (user->active && user->onEvent) {
                user->onEvent(ev);
            }
        }
        if (ev.type == EV_SYN && ev.code == SYN_REPORT && grabHeld != grabWanted && !anyKeyDown()) {
            moveGrab();
        }
    }
}

void InputNode::readArrivals() {
    if (monitor == nullptr) {
        return;
    }
    while (UdevPtr<udev_device> seen{udev_monitor_receive_device(monitor)}) {
        const char* action = udev_device_get_action(seen.get());
        const bool added = action != nullptr && std::strcmp(action, "add") == 0;
        const bool removed = action != nullptr && std::strcmp(action, "remove") == 0;
        if (udev_device_get_devnode(seen.get()) == nullptr || !namesUs(seen.get(), added)) {
            continue;
        }
        for (const auto& user : users) {
            if (!user->watching) {
                continue;
            }
            if (added) {
                user->arrived = true;
            } else if (removed && !user->active && user->failure != Failure::Absent) {
                // Refused (another program held it), or lost, and now gone:
                // absent.
                user->failure = Failure::Absent;
                user->failureText.clear();
                user->departed = true;
            }
        }
    }
}

bool InputNode::namesUs(udev_device* seen, bool added) const {
    const char* node = udev_device_get_devnode(seen);
    if (name.isLabel()) {
        // A device going has no sysfs left to ask: it is known by its node.
        return added ? name.fits(seen) : labelNode == node;
    }
    const std::string& path = name.path();
    const char* links = udev_device_get_property_value(seen, "DEVLINKS");
    if (path == node || (links != nullptr && holdsWord(links, path))) {
        return true;
    }
    // A link given by the user that udev did not make, now pointing there.
    std::unique_ptr<char, decltype(&::free)> target(realpath(path.c_str(), nullptr), &::free);
    return target != nullptr && std::strcmp(target.get(), node) == 0;
}
