#include "relay/mouse_relay.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "io/ticks.h"

MouseRelay::MouseRelay(std::unique_ptr<MouseConnection> m, std::string name, bool wheelOn)
    : mouse(std::move(m)), portName(std::move(name)), wheel(wheelOn) {
    if (!mouse) {
        throw std::invalid_argument("MouseRelay: no mouse");
    }
}

void MouseRelay::setWheel(bool on) {
    wheel = on;
}

bool MouseRelay::openMouse() {
    wanted = true;
    mouse->takeLosses();  // of a connection before this one
    return mouse->open();
}

void MouseRelay::closeMouse() {
    wanted = false;
    mouse->close();
}

void MouseRelay::lineOpening() {
    line = PortState::Opening;
    lineError = {};
}

void MouseRelay::begin(std::uint32_t now) {
    // Moved or turned while no worker ran: for no host.
    mouse->handleEvents(0);
    mouse->takePacket();
    mouse->takeWheelNotches();
    lineIdentity = identifyPort(portName);  // before the open touches the adapter
    lineUp = port.open(portName, LineSettings::mouseLine());
    line = lineUp ? PortState::Open : PortState::Failed;
    lineError = lineUp ? SerialPort::OpenError{} : port.lastOpenError();
    if (!lineUp) {
        lineIdentity.reset();
    }
    lineRetry = false;
    retry.tryNow(now, wanted && !mouse->active());
}

void MouseRelay::pass(std::uint32_t now) {
    // Losses first: a mouse lost and back within one wait is tried at once.
    if (mouse->takeLosses() > 0) {
        // Unplugged, or found held by another program: looked for on its
        // return, and tried once in any case.
        retry.lost(now);
    }
    if (mouse->takeDeparture() && !mouse->active()) {
        awaitArrival(now);  // refused, then unplugged: absent now
    }
    const bool arrived = mouse->takeArrival();
    if (wanted && !mouse->active() && (arrived || retry.due(now))) {
        tryMouse(now);
    }
    if (lineUp && !port.isOpen()) {
        lineUp = false;
        line = PortState::Reopening;
        lineRetry = true;
        lineRetryDue = now + kPortRetryMs;
    }
    if (lineRetry && msUntil(lineRetryDue, now) == 0) {
        tryLine(now);
    }
}

void MouseRelay::tryMouse(std::uint32_t now) {
    if (mouse->open()) {
        retry.opened();
    } else if (mouse->failure() == MouseConnection::Failure::Absent) {
        awaitArrival(now);
    } else {
        retry.refused(now);
    }
}

void MouseRelay::awaitArrival(std::uint32_t now) {
    retry.absent(now, !mouse->watchesHotplug(), kMouseRetryMs);
}

void MouseRelay::tryLine(std::uint32_t now) {
    // A name that now means another USB adapter is not opened: the packets
    // are not meant for it.
    if (lineIdentity) {
        if (const auto seen = identifyPort(portName); seen && *seen != *lineIdentity) {
            line = PortState::OtherDevice;
            lineRetryDue = now + kPortRetryMs;
            return;
        }
    }
    lineUp = port.open(portName, LineSettings::mouseLine());
    if (!lineUp) {
        line = PortState::Reopening;
        lineError = port.lastOpenError();
        lineRetryDue = now + kPortRetryMs;
        return;
    }
    line = PortState::Open;
    lineError = {};
    lineRetry = false;
}

void MouseRelay::answer() {
    mouse->handleEvents(0);
    const auto packet = mouse->takePacket();
    if (!packet || !lineUp) {
        return;
    }
    for (const std::uint8_t b : *packet) {
        port.writeByte(b);
    }
}

int MouseRelay::takeWheelNotches() {
    const int notches = mouse->takeWheelNotches();
    return wheel ? notches : 0;
}

void MouseRelay::handleReady() {
    mouse->handleEvents(0);
    if (lineUp) {
        std::uint8_t none = 0;
        port.readAvailable(&none, 0);  // looks only for a hang-up: PORT2 is never read
    }
}

int MouseRelay::msUntilDue(std::uint32_t now) const {
    int wait = retry.msUntilDue(now);
    if (lineRetry) {
        wait = soonerWait(wait, msUntil(lineRetryDue, now));
    }
    return wait;
}

const std::vector<DeviceConnection::PollDescriptor>& MouseRelay::pollDescriptors() {
    descriptors = mouse->pollDescriptors();
    if (const SerialPort::NativeHandle h = port.nativeHandle(); h != SerialPort::kInvalidHandle) {
        // No events asked: poll() reports a hang-up (POLLHUP, POLLERR) anyway.
        descriptors.push_back({static_cast<int>(h), 0});
    }
    return descriptors;
}

void MouseRelay::closeLine() {
    port.close();
    lineUp = false;
    lineRetry = false;
    line = PortState::Idle;
    lineError = {};
}

MouseStatus MouseRelay::status() const {
    MouseStatus s;
    if (mouse->active()) {
        s.device = KeyboardState::Connected;
    } else if (const auto why = mouse->failure();
               why != MouseConnection::Failure::None && why != MouseConnection::Failure::Absent) {
        s.device = KeyboardState::Refused;
        s.failure = why;
        s.failureText = mouse->failureText();
    }
    s.port = line;
    s.portError = lineError;
    return s;
}
