#include "relay/key_relay.h"

#include "keyboard/usb_keyboard.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

constexpr std::size_t kHostReadBytes = 4096;

}  // namespace

KeyRelay::KeyRelay(TickSource tickSource, bool watchHotplug)
    : KeyRelay(
          [watchHotplug, tickSource](ByteQueue& queue, std::function<void()> keysQueued) {
              return std::make_unique<UsbKeyboard>(queue, watchHotplug, std::move(keysQueued),
                                                   tickSource);
          },
          tickSource) {}

KeyRelay::KeyRelay(const KeyboardFactory& makeKeyboard, TickSource tickSource)
    : keyboard(makeKeyboard(keyQueue, [this] { keysArrived(); })), ticks(std::move(tickSource)) {
    if (!keyboard) {
        throw std::invalid_argument("KeyRelay: the keyboard factory made no keyboard");
    }
}

void KeyRelay::keysArrived() {
    // Inside the keyboard's event handling: on the worker, the keys go out
    // now, before the back-end gets on with resubmitting and reading. On the owner
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

void KeyRelay::addMouse(std::unique_ptr<MouseConnection> device, const std::string& name) {
    mouse = std::make_unique<MouseRelay>(std::move(device), name);
    noteMouse();
}

void KeyRelay::start(const std::string& name) {
    stop();
    portName = name;
    if (mouse) {
        mouse->lineOpening();
        noteMouse();
    }
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
    if (mouse) {
        mouse->closeLine();
        noteMouse();
    }
    notePort(PortState::Idle);
}

bool KeyRelay::openKeyboard() {
    resetRepeat(repeat);
    leds = {};
    keyboardWanted = true;
    keyboard->takeLosses();  // of a connection before this one, whose worker has ended
    keyboard->open();
    noteKeyboard();
    if (mouse) {
        mouse->openMouse();
        noteMouse();
    }
    return keyboard->active();
}

void KeyRelay::closeKeyboard() {
    keyboardWanted = false;
    keyboard->close();
    noteKeyboard();
    if (mouse) {
        mouse->closeMouse();
        noteMouse();
    }
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
    KeyboardConnection::Failure failure = KeyboardConnection::Failure::None;
    std::string text;
    if (!keyboard->active()) {
        failure = keyboard->failure();
        if (failure == KeyboardConnection::Failure::None ||
            failure == KeyboardConnection::Failure::Absent) {
            state = KeyboardState::Absent;
            failure = KeyboardConnection::Failure::None;
        } else {
            state = KeyboardState::Refused;
            text = keyboard->failureText();
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

void KeyRelay::noteMouse() {
    const MouseStatus now = mouse->status();
    publish([&](RelayStatus& s) {
        if (s.mouse == now) {
            return false;
        }
        s.mouse = now;
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
    // Reports that completed while no worker ran are decoded now, before the
    // queue is cleared and before this thread counts as the worker (which
    // would send their keys at once): keys typed before the start are not
    // typed on this line.
    if (keyboard->hasEventContext()) {
        keyboard->handleEvents(0);
    }
    workerId = std::this_thread::get_id();
    // Which adapter the name means now, before the open raises DTR on it.
    portIdentity = identifyPort(portName);
    portUp = port.open(portName);
    if (!portUp) {
        portIdentity.reset();
    }
    keyQueue.clear();
    hostQueue.clear();
    // A key whose release was dropped with the old queue must not keep repeating
    // on the new port; the host's delay and interval stay as it set them.
    stopRepeat(repeat);
    // What an earlier worker could not let go of on this line (a stop with
    // the line away or full) is still owed to it.
    held = {};
    if (const auto owed = owedByPort.find(portName); owed != owedByPort.end()) {
        held = owed->second;
        owedByPort.erase(owed);
    }
    portRetry = false;
    // A keyboard missing now is looked for at once.
    keyboardRetry.tryNow(ticks(), keyboardWanted && !keyboard->active());
    if (portUp) {
        lineOpened();
    }
    // The mouse's line before the key line's verdict, so that a front-end
    // that sees the key line open knows how PORT2 went too.
    if (mouse) {
        mouse->begin(ticks());
        noteMouse();
    }
    // Told only now, so a front-end that sees Open knows the queues are fresh
    // and the host has been told that the keyboard is there.
    if (portUp) {
        notePort(PortState::Open);
    } else {
        notePort(PortState::Failed, port.lastOpenError());
    }

    while (running.load()) {
        passes.fetch_add(1);
        const std::uint32_t now = ticks();
        // All taken every pass, so none stays set for a later one.
        const bool arrived = keyboard->takeArrival();
        const bool lookNow = devicesMoved.exchange(false) || arrived;
        if (keyboard->takeDeparture()) {
            keyboardDeparted(now);
        }
        if (keyboardWanted && !keyboard->active() && (lookNow || keyboardRetry.due(now))) {
            tryKeyboard(now);
        }
        if (portRetry && msUntil(portRetryDue, now) == 0) {
            tryPort(now);
        }
        if (mouse) {
            mouse->pass(now);
        }
        // Host commands before keys: a repeat time just set applies to them.
        pollHost();
        // The last wait handled the keyboard's events: its reports are in the
        // key queue, the last ones perhaps from just before it went away.
        pumpKeys(keyQueue, port, repeat, held, now);
        // Every loss the keyboard counted in this pass or the wait before it,
        // wherever it was found (a callback, the LED report, a reopen's LED
        // report), is handled: breaks, status, another try.
        if (keyboard->takeLosses() > 0) {
            keyboardLost(now);
        }
        if (portUp && !port.isOpen()) {
            portLost(now);
        }
        if (mouse) {
            noteMouse();
            if (waiter.wait(nextWaitMs(now), repeat.repeatCode != 0, portUp && held.owed.any(),
                            mouse->pollDescriptors())) {
                mouse->handleReady();
            }
        } else {
            waiter.wait(nextWaitMs(now), repeat.repeatCode != 0, portUp && held.owed.any());
        }
    }
    // Leaving this port: the host must not be left holding a key. What the
    // line does not take now is kept for the next worker on it.
    releaseHeldKeys(port, repeat, held);
    if (held.any()) {
        owedByPort[portName] = held;
    }
    waiter.settle();
    workerId = std::thread::id();
}

void KeyRelay::tryKeyboard(std::uint32_t now) {
    if (keyboard->open()) {
        keyboardRetry.opened();
        noteKeyboard();
        if (portUp) {
            announceReady(port, repeat, held);  // the owed breaks, then 0xFF
        }
        // Back from an unplug, the keyboard shows its own LEDs again; the host
        // expects its own. Nothing goes out if the host never changed them.
        // (A keyboard lost again meanwhile is a loss like any other.)
        keyboard->setLeds(leds.ledBrightness, leds.ledMask);
        return;
    }
    noteKeyboard();  // absent, or refused and why
    if (keyboard->failure() == KeyboardConnection::Failure::Absent) {
        awaitArrival(now);
    } else {
        keyboardRetry.refused(now);
    }
}

void KeyRelay::keyboardLost(std::uint32_t now) {
    releaseHeldKeys(port, repeat, held);
    noteKeyboard();
    keyboardRetry.lost(now);
}

void KeyRelay::awaitArrival(std::uint32_t now) {
    // The back-end tells when a keyboard is plugged in; without that, look
    // again soon, or where the system tells of device changes, now and then.
    keyboardRetry.absent(now, !keyboard->watchesHotplug(),
                         keyboard->presenceFromSystem() ? kKeyboardSafetyLookMs : kKeyboardRetryMs,
                         keyboard->listedButNotOpenable());
}

void KeyRelay::keyboardDeparted(std::uint32_t now) {
    // A keyboard that was not open (refused) was unplugged: it is absent now,
    // not refused, and waited for as one that never came.
    if (!keyboard->active()) {
        noteKeyboard();
        awaitArrival(now);
    }
}

void KeyRelay::lineOpened() {
    msctrl = {};  // a host on this line has not been heard yet
    fallsAnswered = 0;
    // The host may still think keys down that went up while the line was
    // away (or it is a host that never heard of them): let go of them, and
    // tell it the keyboard is there.
    if (keyboard->active()) {
        announceReady(port, repeat, held);
    } else {
        releaseHeldKeys(port, repeat, held);
    }
}

void KeyRelay::tryPort(std::uint32_t now) {
    // A name that now means another USB adapter is not opened: opening raises
    // DTR, which resets many a board, and the keys are not meant for it.
    if (portIdentity) {
        if (const auto seen = identifyPort(portName); seen && *seen != *portIdentity) {
            notePort(PortState::OtherDevice);
            portRetryDue = now + kPortRetryMs;
            return;
        }
    }
    portUp = port.open(portName);
    if (!portUp) {
        notePort(PortState::Reopening, port.lastOpenError());
        portRetryDue = now + kPortRetryMs;
        return;
    }
    portRetry = false;
    lineOpened();
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
    wait = soonerWait(wait, keyboardRetry.msUntilDue(now));
    wait = soonerWait(wait, keyboard->msUntilDue(now));
    if (portRetry) {
        wait = soonerWait(wait, msUntil(portRetryDue, now));
    }
    if (mouse) {
        wait = soonerWait(wait, mouse->msUntilDue(now));
    }
    return wait;
}

void KeyRelay::pollHost() {
    std::uint8_t buffer[kHostReadBytes];
    const std::size_t n = port.readAvailable(buffer, sizeof buffer);
    if (n > 0) {
        hostQueue.push(buffer, buffer + n);
    }
    // Every command in arrival order, then the LEDs as the last of them left
    // them: one report at most, whatever the host changed in between, and
    // none for a state the keyboard was sent already. While the keyboard is
    // away the state is kept, and sent when it is back.
    std::uint8_t command = 0;
    bool ledsChanged = false;
    while (hostQueue.read(&command, 1) == 1) {
        ledsChanged |= applyHostCommand(command, repeat, leds, msctrl);
    }
    // The mouse's requests of this read, answered at once and once: a late
    // read holding two must not send the host two packets (mouse_relay.h).
    if (msctrl.falls != fallsAnswered) {
        fallsAnswered = msctrl.falls;
        if (mouse) {
            mouse->answer();
        }
    }
    if (ledsChanged && keyboard->active()) {
        keyboard->setLeds(leds.ledBrightness, leds.ledMask);
    }
}
