#include "relay/key_relay.h"

#include "keyboard/usb_keyboard.h"
#include "protocol/scan_code.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace {

constexpr std::size_t kHostReadBytes = 4096;

}  // namespace

KeyRelay::KeyRelay(TickSource tickSource, bool watchHotplug)
    : KeyRelay(x68000ZKeyboard(tickSource, watchHotplug), tickSource) {}

KeyRelay::KeyboardFactory KeyRelay::x68000ZKeyboard(TickSource tickSource, bool watchHotplug) {
    return [watchHotplug, tickSource](ByteQueue& queue, std::function<void()> keysQueued) {
        return std::make_unique<UsbKeyboard>(queue, watchHotplug, std::move(keysQueued),
                                             tickSource);
    };
}

KeyRelay::KeyRelay(const KeyboardFactory& makeKeyboard, TickSource tickSource)
    : ticks(std::move(tickSource)) {
    addKeyboard(makeKeyboard);
}

void KeyRelay::addKeyboard(const KeyboardFactory& makeKeyboard) {
    auto k = std::make_unique<Keyboard>();
    const std::size_t index = keyboards.size();
    k->connection = makeKeyboard(k->keys, [this, index] { keysArrived(index); });
    if (!k->connection) {
        throw std::invalid_argument("KeyRelay: the keyboard factory made no keyboard");
    }
    waiter.addKeyboard(*k->connection);
    keyboards.push_back(std::move(k));
}

void KeyRelay::keysArrived(std::size_t index) {
    // Inside a keyboard's event handling: on the worker, the keys go out
    // now, before the back-end gets on with resubmitting and reading. On the
    // owner (with no worker) they wait in the queue, and the next worker
    // counts them without sending them.
    if (workerId.load() == std::this_thread::get_id()) {
        const std::uint32_t now = ticks();
        sendOwed();
        takeKeys(index, true, now);
        sendDueRepeat(port, repeat, held, now);
    }
}

void KeyRelay::sendOwed() {
    // Breaks the line refused go before anything typed since: the host must
    // not take a new key with SHIFT still down.
    if (held.owed.any()) {
        sendOwedBreaks(port, held);
    }
}

void KeyRelay::takeKeys(std::size_t index, bool send, std::uint32_t now) {
    std::uint8_t buffer[ByteQueue::kCapacity];
    const std::size_t count = keyboards[index]->keys.read(buffer, sizeof buffer);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t out = counts.apply(index, buffer[i]);
        if (send && out != 0) {
            sendKey(port, repeat, held, out, now);
        }
    }
}

void KeyRelay::tapWheel(std::uint32_t now) {
    // ROLL DOWN shows what is above, as the page keys do (Page Up).
    constexpr std::uint8_t kRollUp = 0x38;
    constexpr std::uint8_t kRollDown = 0x39;
    const int notches = mouse->takeWheelNotches();
    const std::uint8_t key = notches > 0 ? kRollDown : kRollUp;
    // A source of its own, after the keyboards: a key held on a keyboard is
    // not let go of by a tap of it.
    const std::size_t wheel = keyboards.size();
    for (int i = 0; i < (notches > 0 ? notches : -notches); ++i) {
        for (const std::uint8_t b : {key, breakOf(key)}) {
            if (const std::uint8_t out = counts.apply(wheel, b); out != 0) {
                sendKey(port, repeat, held, out, now);
            }
        }
    }
}

void KeyRelay::pumpAll(std::uint32_t now) {
    sendOwed();
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        takeKeys(i, true, now);
    }
    sendDueRepeat(port, repeat, held, now);
}

KeyRelay::~KeyRelay() {
    stop();
    closeKeyboard();
    if (share) {
        share->setListener({});  // the switch may outlive the relay
    }
}

void KeyRelay::addMouse(std::unique_ptr<MouseConnection> device, const std::string& name,
                        bool wheel) {
    mouse = std::make_unique<MouseRelay>(std::move(device), name, wheel);
    noteMouse();
}

void KeyRelay::setShare(std::shared_ptr<ShareSwitch> shared) {
    share = std::move(shared);
    // A move reaches every keyboard through its event handling: wake the
    // worker, whichever thread moved it.
    share->setListener([this] {
        noteShare();
        waiter.wake();
    });
    noteShare();
}

void KeyRelay::noteShare() {
    const ShareSwitch::Side now = share->side();
    publish([&](RelayStatus& s) {
        if (s.share == now) {
            return false;
        }
        s.share = now;
        return true;
    });
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
    // Nothing relays the keyboards now: they are the computer's again.
    if (share) {
        share->toComputer();
    }
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
    bool all = true;
    for (const auto& k : keyboards) {
        k->connection->takeLosses();  // of a connection before this one, whose worker has ended
        all = k->connection->open() && all;
    }
    noteKeyboards();
    if (mouse) {
        mouse->openMouse();
        noteMouse();
    }
    return all;
}

void KeyRelay::closeKeyboard() {
    keyboardWanted = false;
    waitForKeysUp();
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        keyboards[i]->connection->close();
        // What it held is up with it; nothing is sent, as no worker runs.
        keyboards[i]->keys.clear();
        counts.dropSource(i);
    }
    noteKeyboards();
    if (mouse) {
        mouse->closeMouse();
        noteMouse();
    }
}

void KeyRelay::waitForKeysUp() {
    // The host got the breaks when the worker stopped; the keyboards read on
    // (their keys now go nowhere) until the keys are up, so that none is let
    // go of with a key held, but for no longer than a stopping program has.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(keysUpWaitMs);
    const auto anyDown = [this] {
        return std::any_of(keyboards.begin(), keyboards.end(),
                           [](const auto& k) { return k->connection->holdsKeysDown(); });
    };
    while (anyDown()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return;
        }
        waiter.wait(static_cast<int>(left), false);
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

void KeyRelay::noteKeyboards() {
    std::vector<KeyboardStatus> now;
    for (const auto& k : keyboards) {
        KeyboardStatus status{KeyboardState::Connected, KeyboardConnection::Failure::None, {}};
        if (!k->connection->active()) {
            status.failure = k->connection->failure();
            if (status.failure == KeyboardConnection::Failure::None ||
                status.failure == KeyboardConnection::Failure::Absent) {
                status.state = KeyboardState::Absent;
                status.failure = KeyboardConnection::Failure::None;
            } else {
                status.state = KeyboardState::Refused;
                status.failureText = k->connection->failureText();
            }
        }
        now.push_back(std::move(status));
    }
    publish([&](RelayStatus& s) {
        if (s.keyboards == now) {
            return false;
        }
        s.keyboards = now;
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
    // Reports that completed while no worker ran are decoded now, before this
    // thread counts as the worker (which would send their keys at once), and
    // counted without being sent: keys typed before the start are not typed
    // on this line, but a key held since is still known to be down.
    for (std::size_t i = 0; i < keyboards.size(); ++i) {
        if (keyboards[i]->connection->hasEventContext()) {
            keyboards[i]->connection->handleEvents(0);
        }
        takeKeys(i, false, ticks());
    }
    workerId = std::this_thread::get_id();
    // Which adapter the name means now, before the open raises DTR on it.
    portIdentity = identifyPort(portName);
    portUp = port.open(portName);
    if (!portUp) {
        portIdentity.reset();
    }
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
    for (const auto& k : keyboards) {
        k->retry.tryNow(ticks(), keyboardWanted && !k->connection->active());
    }
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
        const bool devicesNews = devicesMoved.exchange(false);
        for (const auto& k : keyboards) {
            const bool lookNow = k->connection->takeArrival() || devicesNews;
            if (k->connection->takeDeparture()) {
                keyboardDeparted(*k, now);
            }
            if (keyboardWanted && !k->connection->active() && (lookNow || k->retry.due(now))) {
                tryKeyboard(*k, now);
            }
        }
        if (portRetry && msUntil(portRetryDue, now) == 0) {
            tryPort(now);
        }
        if (mouse) {
            mouse->pass(now);
            // A shared mouse follows the switch even with nothing of its own
            // to read.
            if (share && share->moves() != shareMovesSeen) {
                shareMovesSeen = share->moves();
                mouse->handleReady();
            }
        }
        // Host commands before keys: a repeat time just set applies to them.
        pollHost();
        // The last wait handled the keyboards' events: their reports are in
        // the key queues, the last ones perhaps from just before one went away.
        pumpAll(now);
        if (mouse) {
            tapWheel(now);
        }
        // Every loss a keyboard counted in this pass or the wait before it,
        // wherever it was found (a callback, the LED report, a reopen's LED
        // report), is handled: breaks, status, another try.
        for (std::size_t i = 0; i < keyboards.size(); ++i) {
            if (keyboards[i]->connection->takeLosses() > 0) {
                keyboardLost(i, now);
            }
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

void KeyRelay::tryKeyboard(Keyboard& k, std::uint32_t now) {
    if (k.connection->open()) {
        k.retry.opened();
        noteKeyboards();
        if (portUp) {
            announceReady(port, repeat, held);  // the owed breaks, then 0xFF
        }
        // Back from an unplug, the keyboard shows its own LEDs again; the host
        // expects its own. Nothing goes out if the host never changed them.
        // (A keyboard lost again meanwhile is a loss like any other.)
        k.connection->setLeds(leds.ledBrightness, leds.ledMask);
        return;
    }
    noteKeyboards();  // absent, or refused and why
    if (k.connection->failure() == KeyboardConnection::Failure::Absent) {
        awaitArrival(k, now);
    } else {
        k.retry.refused(now);
    }
}

void KeyRelay::keyboardLost(std::size_t index, std::uint32_t now) {
    // The keys only it held go up (those the host was told of: a key held
    // since before this worker was never typed here); another keyboard's
    // stay down. With no keyboard left at all, nothing is held: whatever the
    // host still holds (breaks owed from before) goes up too.
    for (const std::uint8_t b : counts.dropSource(index)) {
        if (held.down.test(keyCodeOf(b))) {
            sendKey(port, repeat, held, b, now);
        } else if (repeat.repeatCode == keyCodeOf(b)) {
            stopRepeat(repeat);
        }
    }
    if (!anyKeyboardActive()) {
        releaseHeldKeys(port, repeat, held);
    }
    noteKeyboards();
    keyboards[index]->retry.lost(now);
}

bool KeyRelay::anyKeyboardActive() const {
    return std::any_of(keyboards.begin(), keyboards.end(),
                       [](const auto& k) { return k->connection->active(); });
}

void KeyRelay::awaitArrival(Keyboard& k, std::uint32_t now) {
    // The back-end tells when a keyboard is plugged in; without that, look
    // again soon, or where the system tells of device changes, now and then.
    k.retry.absent(now, !k.connection->watchesHotplug(),
                   k.connection->presenceFromSystem() ? kKeyboardSafetyLookMs : kKeyboardRetryMs,
                   k.connection->listedButNotOpenable());
}

void KeyRelay::keyboardDeparted(Keyboard& k, std::uint32_t now) {
    // A keyboard that was not open (refused) was unplugged: it is absent now,
    // not refused, and waited for as one that never came.
    if (!k.connection->active()) {
        noteKeyboards();
        awaitArrival(k, now);
    }
}

void KeyRelay::lineOpened() {
    msctrl = {};  // a host on this line has not been heard yet
    fallsAnswered = 0;
    // The host may still think keys down that went up while the line was
    // away (or it is a host that never heard of them): let go of them, and
    // tell it the keyboard is there.
    if (anyKeyboardActive()) {
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
    // With the line lost the X68000 cannot have them: back to the computer.
    if (share) {
        share->toComputer();
    }
    portUp = false;
    stopRepeat(repeat);  // keys typed meanwhile are dropped, repeats too
    notePort(PortState::Reopening);
    portRetry = true;
    portRetryDue = now + kPortRetryMs;
}

int KeyRelay::nextWaitMs(std::uint32_t now) const {
    int wait = msUntilRepeat(repeat, now);
    for (const auto& k : keyboards) {
        wait = soonerWait(wait, k->retry.msUntilDue(now));
        wait = soonerWait(wait, k->connection->msUntilDue(now));
    }
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
    bool retell = false;
    while (hostQueue.read(&command, 1) == 1) {
        ledsChanged |= applyHostCommand(command, repeat, leds, msctrl);
        retell |= command == kKeyboardEnable;
    }
    // A host that has just started: the keys held through its reset are news
    // to it.
    if (retell && portUp) {
        retellHeldKeys(port, held);
    }
    // The mouse's requests of this read, answered at once and once: a late
    // read holding two must not send the host two packets (mouse_relay.h).
    if (msctrl.falls != fallsAnswered) {
        fallsAnswered = msctrl.falls;
        if (mouse) {
            mouse->answer();
        }
    }
    if (ledsChanged) {
        for (const auto& k : keyboards) {
            if (k->connection->active()) {
                k->connection->setLeds(leds.ledBrightness, leds.ledMask);
            }
        }
    }
}
