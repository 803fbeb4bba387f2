#include "relay/key_relay.h"

#include <system_error>
#include <utility>

namespace {

constexpr std::size_t kHostReadBytes = 4096;

// Milliseconds from now until due, 0 when it has passed (wrap-safe).
int msUntil(std::uint32_t due, std::uint32_t now) {
    const auto left = static_cast<std::int32_t>(due - now);
    return left > 0 ? left : 0;
}

// The shorter of two waits, -1 meaning none.
int sooner(int a, int b) {
    if (a < 0) {
        return b;
    }
    return b < 0 || a < b ? a : b;
}

}  // namespace

KeyRelay::KeyRelay(TickSource tickSource, bool watchHotplug)
    : keyboard(keyQueue, watchHotplug, [this] { keysArrived(); }), ticks(std::move(tickSource)) {}

void KeyRelay::keysArrived() {
    // Inside the keyboard's event handling: on the worker, the keys go out
    // now, before libusb gets on with resubmitting and reaping. On the owner
    // (closing the keyboard with no worker) they wait in the queue, which
    // the next worker clears.
    if (workerId.load() == std::this_thread::get_id()) {
        pumpKeys(keyQueue, port, repeat, held, ticks());
    }
}

KeyRelay::~KeyRelay() {
    stop();
    closeKeyboard();
}

void KeyRelay::start(const std::string& name) {
    stop();
    portName = name;
    notePort(PortState::Opening);
    running.exchange(true);
    worker = std::thread(&KeyRelay::workerLoop, this);
}

void KeyRelay::stop() {
    running.exchange(false);
    waiter.wake();
    if (worker.joinable()) {
        if (worker.get_id() == std::this_thread::get_id()) {
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                    "KeyRelay::stop called from its own worker");
        }
        worker.join();
    }
    port.close();
    notePort(PortState::Idle);
}

bool KeyRelay::openKeyboard() {
    resetRepeat(repeat);
    leds = {};
    keyboardWanted = true;
    keyboard.open();
    noteKeyboard();
    return keyboard.active();
}

void KeyRelay::closeKeyboard() {
    keyboardWanted = false;
    keyboard.close();
    noteKeyboard();
}

RelayStatus KeyRelay::status() const {
    std::lock_guard lock(statusMutex);
    return current;
}

void KeyRelay::setStatusListener(std::function<void()> callback) {
    listener = std::move(callback);
}

void KeyRelay::devicesChanged() {
    devicesMoved = true;
    waiter.wake();
}

void KeyRelay::publish(const std::function<bool(RelayStatus&)>& change) {
    {
        std::lock_guard lock(statusMutex);
        if (!change(current)) {
            return;
        }
        ++current.changes;
    }
    if (listener) {
        listener();
    }
}

void KeyRelay::noteKeyboard() {
    KeyboardState state = KeyboardState::Connected;
    UsbKeyboard::Failure failure = UsbKeyboard::Failure::None;
    std::string text;
    if (!keyboard.active()) {
        failure = keyboard.failure();
        if (failure == UsbKeyboard::Failure::None || failure == UsbKeyboard::Failure::Absent) {
            state = KeyboardState::Absent;
            failure = UsbKeyboard::Failure::None;
        } else {
            state = KeyboardState::Refused;
            text = keyboard.failureText();
        }
    }
    publish([&](RelayStatus& s) {
        if (s.keyboard == state && s.keyboardFailure == failure && s.keyboardFailureText == text) {
            return false;
        }
        s.keyboard = state;
        s.keyboardFailure = failure;
        s.keyboardFailureText = text;
        return true;
    });
}

void KeyRelay::notePort(PortState state, const SerialPort::OpenError& error) {
    publish([&](RelayStatus& s) {
        if (s.port == state && s.portError.code == error.code &&
            s.portError.message == error.message) {
            return false;
        }
        s.port = state;
        s.portError = error;
        return true;
    });
}

void KeyRelay::workerLoop() {
    workerId = std::this_thread::get_id();
    portUp = port.open(portName);
    keyQueue.clear();
    hostQueue.clear();
    // A key whose release was dropped with the old queue must not keep repeating
    // on the new port; the host's delay and interval stay as it set them.
    stopRepeat(repeat);
    held.reset();
    portRetry = false;
    // A keyboard missing now is looked for at once.
    keyboardRetry = keyboardWanted && !keyboard.active();
    keyboardRetryDue = ticks();
    // Told only now, so a front-end that sees Open knows the queues are fresh.
    if (portUp) {
        notePort(PortState::Open);
    } else {
        notePort(PortState::Failed, port.lastOpenError());
    }

    bool keyboardWasActive = keyboard.active();
    while (running.load()) {
        passes.fetch_add(1);
        const std::uint32_t now = ticks();
        // Both taken every pass, so neither stays set for a later one.
        const bool arrived = keyboard.takeArrival();
        const bool lookNow = devicesMoved.exchange(false) || arrived;
        if (keyboardWanted && !keyboard.active() &&
            (lookNow || (keyboardRetry && msUntil(keyboardRetryDue, now) == 0))) {
            tryKeyboard(now);
        }
        if (portRetry && msUntil(portRetryDue, now) == 0) {
            tryPort(now);
        }
        // Host commands before keys: an LED report waits for the keyboard, and
        // the keys decoded meanwhile then go out in this same pass.
        pollHost();
        // The last wait handled the keyboard's events: its reports are in the
        // key queue, the last ones perhaps from just before it went away.
        pumpKeys(keyQueue, port, repeat, held, now);

        const bool keyboardActive = keyboard.active();
        if (keyboardWasActive && !keyboardActive) {
            keyboardLost(now);
        } else if (!keyboardWasActive && keyboardActive) {
            noteKeyboard();
        }
        keyboardWasActive = keyboardActive;
        if (portUp && !port.isOpen()) {
            portLost(now);
        }
        waiter.wait(nextWaitMs(now), repeat.repeatCode != 0);
    }
    // Leaving this port: the host must not be left holding a key.
    releaseHeldKeys(port, repeat, held);
    waiter.settle();
    workerId = std::thread::id();
}

void KeyRelay::tryKeyboard(std::uint32_t now) {
    if (keyboard.open()) {
        keyboardRetry = false;
        // Back from an unplug, the keyboard shows its own LEDs again; the host
        // expects its own. Nothing to send if the host never changed them.
        if (leds.ledBrightness != 0 || leds.ledMask != 0) {
            keyboard.sendLeds(leds.ledBrightness, leds.ledMask);
        }
        return;
    }
    noteKeyboard();  // absent, or refused and why
    // libusb tells when a keyboard is plugged in, but not when one that is
    // present stops being refused.
    keyboardRetry =
        !keyboard.watchesHotplug() || keyboard.failure() != UsbKeyboard::Failure::Absent;
    keyboardRetryDue = now + kKeyboardRetryMs;
}

void KeyRelay::keyboardLost(std::uint32_t now) {
    releaseHeldKeys(port, repeat, held);
    noteKeyboard();
    // One try comes even where libusb tells of arrivals: a keyboard lost to a
    // transfer error is still plugged in, and will not arrive again.
    keyboardRetry = true;
    keyboardRetryDue = now + kKeyboardRetryMs;
}

void KeyRelay::tryPort(std::uint32_t now) {
    portUp = port.open(portName);
    if (!portUp) {
        notePort(PortState::Reopening, port.lastOpenError());
        portRetryDue = now + kPortRetryMs;
        return;
    }
    portRetry = false;
    // The host may still think keys down that went up while the line was
    // away (or it is a host that never heard of them): let go of them.
    releaseHeldKeys(port, repeat, held);
    notePort(PortState::Open);
}

void KeyRelay::portLost(std::uint32_t now) {
    portUp = false;
    stopRepeat(repeat);  // keys typed meanwhile are dropped, repeats too
    notePort(PortState::Reopening);
    portRetry = true;
    portRetryDue = now + kPortRetryMs;
}

int KeyRelay::nextWaitMs(std::uint32_t now) const {
    int wait = msUntilRepeat(repeat, now);
    if (keyboardRetry) {
        wait = sooner(wait, msUntil(keyboardRetryDue, now));
    }
    if (portRetry) {
        wait = sooner(wait, msUntil(portRetryDue, now));
    }
    return wait;
}

void KeyRelay::pollHost() {
    std::uint8_t buffer[kHostReadBytes];
    const std::size_t n = port.readAvailable(buffer, sizeof buffer);
    if (n > 0) {
        hostQueue.push(buffer, buffer + n);
    }
    // Every command in arrival order; each change of the LEDs is one report.
    // While the keyboard is away the state is kept, and sent when it is back.
    std::uint8_t command = 0;
    while (hostQueue.read(&command, 1) == 1) {
        if (applyHostCommand(command, repeat, leds) && keyboard.active()) {
            keyboard.sendLeds(leds.ledBrightness, leds.ledMask);
        }
    }
}
