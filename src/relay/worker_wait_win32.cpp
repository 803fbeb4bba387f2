// Windows back-end of WorkerWait: the worker sleeps in libusb's own event wait
// (WaitForMultipleObjects over its handles) of the first keyboard that has
// one, which wake() interrupts and which the serial port's reader thread
// interrupts through wake() when a byte comes or the line fails; the other
// keyboards handle what they have without waiting after it. Before any
// keyboard has a libusb context there is nothing of libusb's to wait in, and
// an event of our own stands in.
//
// Every wait time-out on Windows ends on the system timer's tick, 15.6 ms by
// default; waits for an event or an I/O end at once. So while a key repeat is
// what the time-out waits for, the process holds the 1 ms timer resolution
// (timeBeginPeriod), and gives it back with the first wait without one.
#include <windows.h>

#include <mmsystem.h>

#include <system_error>

#include "relay/worker_wait.h"

namespace {

// Windows 11 ignores a raised timer resolution in a process whose windows are
// all hidden (a tray program's are, nearly always) unless the process opts out
// of that throttling. Once per process; earlier Windows refuse the class,
// which changes nothing there. Looked up by name: Windows 7 lacks the call.
void keepTimerResolutionWhenHidden() {
    static const bool optedOut = [] {
        using SetInformation = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const FARPROC found =
            kernel == nullptr ? nullptr : GetProcAddress(kernel, "SetProcessInformation");
        if (found == nullptr) {
            return false;
        }
        // Through void(*)(), the one cast of function pointers GCC accepts quietly.
        const auto setInformation =
            reinterpret_cast<SetInformation>(reinterpret_cast<void (*)()>(found));
        PROCESS_POWER_THROTTLING_STATE state{};
        state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
        state.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
        state.StateMask = 0;  // the control bit clear in the state: never throttle it
        return setInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state) !=
               FALSE;
    }();
    static_cast<void>(optedOut);
}

}  // namespace

struct WorkerWait::Platform {
    HANDLE wakeEvent = nullptr;  // auto-reset; set by every wake()
    // Whether this object holds timeBeginPeriod(1); changed by the worker
    // only, read by tests from any thread.
    std::atomic<bool> fineTimer{false};
};

WorkerWait::WorkerWait(SerialPort& p) : port(p), platform(std::make_unique<Platform>()) {
    platform->wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (platform->wakeEvent == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the worker's wake event");
    }
    // The port's reader thread calls this until the port is closed, which its
    // owner (KeyRelay) does before this object goes.
    port.setWake([this] { wake(); });
}

WorkerWait::~WorkerWait() {
    if (platform->fineTimer) {
        timeEndPeriod(1);
    }
    CloseHandle(platform->wakeEvent);
}

void WorkerWait::addKeyboard(KeyboardConnection& keyboard) {
    keyboards.push_back(&keyboard);
}

void WorkerWait::wake() {
    // All, always: which of them the worker sleeps in is its own choice,
    // made afresh for every wait.
    SetEvent(platform->wakeEvent);
    for (KeyboardConnection* keyboard : keyboards) {
        keyboard->interruptEventHandling();
    }
}

void WorkerWait::settle() {
    if (platform->fineTimer) {
        timeEndPeriod(1);
        platform->fineTimer = false;
    }
}

bool WorkerWait::fineTimerHeld() const {
    return platform->fineTimer;
}

bool WorkerWait::wait(int timeoutMs, bool repeatPending, bool writeBacklog,
                      const std::vector<DeviceConnection::PollDescriptor>&) {
    if (writeBacklog && (timeoutMs < 0 || timeoutMs > kBacklogRetryMs)) {
        timeoutMs = kBacklogRetryMs;
    }
    if (repeatPending && !platform->fineTimer) {
        keepTimerResolutionWhenHidden();
        platform->fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    } else if (!repeatPending && platform->fineTimer) {
        timeEndPeriod(1);
        platform->fineTimer = false;
    }

    const DWORD ms = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    KeyboardConnection* sleeper = nullptr;
    for (KeyboardConnection* keyboard : keyboards) {
        if (keyboard->hasEventContext()) {
            sleeper = keyboard;
            break;
        }
    }
    const auto handleOthers = [&] {
        for (KeyboardConnection* keyboard : keyboards) {
            if (keyboard != sleeper) {
                keyboard->handleEvents(0);
            }
        }
    };
    if (sleeper == nullptr) {
        WaitForSingleObject(platform->wakeEvent, ms);
        handleOthers();
        return true;
    }
    // libusb forgets an interrupt once any event handling has seen it, and
    // the worker handles events outside this wait too (releasing a lost
    // keyboard waits for its transfers in libusb): a wake() that came
    // meanwhile survives only in our own event, so that is looked at first.
    // (A wake() that libusb did report leaves the event set too: that costs
    // one more pass, no more.)
    if (WaitForSingleObject(platform->wakeEvent, 0) == WAIT_OBJECT_0) {
        sleeper->handleEvents(0);
    } else {
        sleeper->handleEvents(timeoutMs);
    }
    handleOthers();
    return true;  // a mouse has no descriptor to tell that it has something
}
