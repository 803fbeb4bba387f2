#include "relay/key_relay.h"

#include <system_error>
#include <utility>

namespace {
constexpr std::size_t kHostReadBytes = 4096;
}

KeyRelay::KeyRelay(TickSource tickSource) : ticks(std::move(tickSource)) {}

KeyRelay::~KeyRelay() {
    stop();
    closeKeyboard();
}

void KeyRelay::start(const std::string& name) {
    stop();
    portName = name;
    portState = PortState::Opening;
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
    portState = PortState::Idle;
}

bool KeyRelay::openKeyboard() {
    resetRepeat(repeat);
    leds = {};
    return keyboard.open();
}

void KeyRelay::closeKeyboard() {
    keyboard.close();
}

RelayStatus KeyRelay::status() const {
    RelayStatus s;
    s.port = portState.load();
    if (s.port == PortState::Open && !port.isOpen()) {
        s.port = PortState::Lost;
    } else if (s.port == PortState::OpenFailed) {
        s.openError = port.lastOpenError();
    }
    s.usbActive = keyboard.active();
    return s;
}

void KeyRelay::workerLoop() {
    // A port that fails to open leaves the loop running without one.
    const bool opened = port.open(portName);
    keyQueue.clear();
    hostQueue.clear();
    // A key whose release was dropped with the old queue must not keep repeating
    // on the new port; the host's delay and interval stay as it set them.
    stopRepeat(repeat);
    held.reset();
    // Told only now, so a front-end that sees Open knows the queues are fresh.
    portState = opened ? PortState::Open : PortState::OpenFailed;

    bool keyboardWasActive = keyboard.active();
    while (running.load()) {
        // Host commands first: an LED report waits for the keyboard, and the
        // keys decoded meanwhile then go out in this same pass.
        pollHost();
        // The last wait handled the keyboard's events: its reports are in the
        // key queue, the last ones perhaps from just before it went away.
        const std::uint32_t now = ticks();
        pumpKeys(keyQueue, port, repeat, held, now);
        if (keyboardWasActive && !keyboard.active()) {
            releaseHeldKeys(port, repeat, held);
        }
        keyboardWasActive = keyboard.active();
        waiter.wait(nextWaitMs(now), repeat.repeatCode != 0);
    }
    // Leaving this port: the host must not be left holding a key.
    releaseHeldKeys(port, repeat, held);
}

int KeyRelay::nextWaitMs(std::uint32_t now) const {
    return msUntilRepeat(repeat, now);
}

void KeyRelay::pollHost() {
    std::uint8_t buffer[kHostReadBytes];
    const std::size_t n = port.readAvailable(buffer, sizeof buffer);
    if (n > 0) {
        hostQueue.push(buffer, buffer + n);
    }
    // Every command in arrival order; each change of the LEDs is one report.
    std::uint8_t command = 0;
    while (hostQueue.read(&command, 1) == 1) {
        if (applyHostCommand(command, repeat, leds)) {
            keyboard.sendLeds(leds.ledBrightness, leds.ledMask);
        }
    }
}
