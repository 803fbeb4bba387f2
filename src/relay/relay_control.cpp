#include "relay/relay_control.h"

std::string refusalReason(const KeyboardStatus& keyboard) {
    return refusalReason(keyboard.failure, keyboard.failureText);
}

std::string refusalReason(KeyboardConnection::Failure failure, const std::string& text) {
    switch (failure) {
        case KeyboardConnection::Failure::NoPermission:
            return "no permission";
        case KeyboardConnection::Failure::Busy:
            return "another program holds it";
        default:
            return text.empty() ? std::string("it failed") : text;
    }
}

SerialPort::OpenError RelayControl::checkPort(const std::string& name,
                                              const LineSettings& settings) {
    SerialPort probe;
    return probe.open(name, settings) ? SerialPort::OpenError{} : probe.lastOpenError();
}
