#include "relay/key_relay.h"

#include <system_error>
#include <utility>

KeyRelay::KeyRelay(TickSource tickSource) : ticks(std::move(tickSource)) {}

KeyRelay::~KeyRelay() {
    stop();
}

void KeyRelay::start(const std::string& name) {
    stop();
    portName = name;
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
}

void KeyRelay::workerLoop() {
    port.open(portName);  // a port that fails to open leaves the loop running idle
    keyQueue.clear();
    hostQueue.clear();
    // A key whose release was dropped with the old queue must not keep repeating
    // on the new port; the host's delay and interval stay as it set them.
    stopRepeat(repeat);

    while (running.load()) {
        if (usbActive.load() != 0) {
            pumpKeys(keyQueue, port, repeat, ticks);
        }
        sleepMs(kPassMs);
    }
}
