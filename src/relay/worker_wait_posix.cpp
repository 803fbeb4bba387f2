// POSIX back-end of WorkerWait: one poll() over the wake pipe, the serial line,
// the keyboard's descriptors and the caller's own, then the keyboard's event
// handling with no wait.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "io/ticks.h"
#include "relay/worker_wait.h"

struct WorkerWait::Platform {
    int wakeRead = -1;
    int wakeWrite = -1;
    std::vector<pollfd> fds;  // rebuilt for each wait; kept to reuse its storage
};

WorkerWait::WorkerWait(SerialPort& p) : port(p), platform(std::make_unique<Platform>()) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "the worker's wake pipe");
    }
    platform->wakeRead = ends[0];
    platform->wakeWrite = ends[1];
}

WorkerWait::~WorkerWait() {
    ::close(platform->wakeRead);
    ::close(platform->wakeWrite);
}

void WorkerWait::addKeyboard(KeyboardConnection& keyboard) {
    keyboards.push_back(&keyboard);
}

void WorkerWait::wake() {
    const char b = 1;
    // A full pipe already says "wake up"; nothing more to do then.
    while (::write(platform->wakeWrite, &b, 1) < 0 && errno == EINTR) {
    }
}

void WorkerWait::settle() {}

bool WorkerWait::fineTimerHeld() const {
    return false;  // poll() time-outs are not quantised to a coarse tick here
}

bool WorkerWait::wait(int timeoutMs, bool, bool writeBacklog,
                      const std::vector<DeviceConnection::PollDescriptor>& also) {
    std::vector<pollfd>& fds = platform->fds;
    fds.clear();
    fds.push_back({platform->wakeRead, POLLIN, 0});
    if (const SerialPort::NativeHandle line = port.nativeHandle();
        line != SerialPort::kInvalidHandle) {
        const short events = writeBacklog ? POLLIN | POLLOUT : POLLIN;
        fds.push_back({static_cast<int>(line), events, 0});
    }
    int libraryTimeout = -1;
    for (KeyboardConnection* keyboard : keyboards) {
        for (const DeviceConnection::PollDescriptor& d : keyboard->pollDescriptors()) {
            fds.push_back({d.fd, d.events, 0});
        }
        libraryTimeout = soonerWait(libraryTimeout, keyboard->nextTimeoutMs());
    }
    const std::size_t alsoFrom = fds.size();
    for (const DeviceConnection::PollDescriptor& d : also) {
        fds.push_back({d.fd, d.events, 0});
    }
    timeoutMs = soonerWait(timeoutMs, libraryTimeout);

    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (::read(platform->wakeRead, drain, sizeof drain) > 0) {
        }
    }
    // Whatever woke us (or nothing, at the time-out), the keyboards handle what
    // is ready now, including their libraries' own time-outs, without waiting.
    for (KeyboardConnection* keyboard : keyboards) {
        keyboard->handleEvents(0);
    }
    bool alsoReady = false;
    for (std::size_t i = alsoFrom; ready > 0 && i < fds.size(); ++i) {
        alsoReady = alsoReady || fds[i].revents != 0;
    }
    return alsoReady;
}
