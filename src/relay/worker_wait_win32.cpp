// Windows back-end of WorkerWait: libusb's own event wait, which wake()
// interrupts; an event of our own stands in while libusb has no context.
#include <windows.h>

#include <algorithm>
#include <system_error>

#include "relay/worker_wait.h"

namespace {

// The serial line cannot wake this wait yet: look at it at least this often.
constexpr int kLinePollMs = 5;

}  // namespace

struct WorkerWait::Platform {
    HANDLE wakeEvent = nullptr;  // auto-reset
};

WorkerWait::WorkerWait(UsbKeyboard& k, SerialPort& p)
    : keyboard(k), port(p), platform(std::make_unique<Platform>()) {
    platform->wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (platform->wakeEvent == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the worker's wake event");
    }
    port.setWake([this] { wake(); });
}

WorkerWait::~WorkerWait() {
    CloseHandle(platform->wakeEvent);
}

void WorkerWait::wake() {
    SetEvent(platform->wakeEvent);
    keyboard.interruptEventHandling();
}

bool WorkerWait::fineTimerHeld() const {
    return false;
}

void WorkerWait::wait(int timeoutMs, bool) {
    const int ms = timeoutMs < 0 ? kLinePollMs : std::min(timeoutMs, kLinePollMs);
    WaitForSingleObject(platform->wakeEvent, static_cast<DWORD>(ms));
    keyboard.handleEvents(0);
}
