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
    // Told only now, so a front-end that sees Open knows the queues are fresh.
    portState = opened ? PortState::Open : PortState::OpenFailed;

    while (running.load()) {
        if (keyboard.active()) {
            keyboard.handleEvents(0);
            // The keyboard may have gone in the event handling just now; from
            // then on the line stays quiet.
            if (keyboard.active()) {
                pumpKeys(keyQueue, port, repeat, ticks);
                pollHost();
            }
        }
        sleepMs(kPassMs);
    }
}

void KeyRelay::pollHost() {
    std::uint8_t buffer[kHostReadBytes];
    const std::size_t n = port.readAvailable(buffer, sizeof buffer);
    if (n > 0) {
        hostQueue.push(buffer, buffer + n);
    }
    // One command per pass: a burst is worked off over the following passes.
    std::uint8_t command = 0;
    if (hostQueue.read(&command, 1) == 0) {
        return;
    }
    if (applyHostCommand(command, repeat, leds)) {
        keyboard.sendLeds(leds.ledBrightness, leds.ledMask);
    }
}
