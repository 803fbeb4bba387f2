#include "relay/relay_control.h"

std::string refusalReason(const RelayStatus& status) {
    switch (status.keyboardFailure) {
        case KeyboardConnection::Failure::NoPermission:
            return "no permission";
        case KeyboardConnection::Failure::Busy:
            return "another program holds it";
        default:
            return status.keyboardFailureText.empty() ? std::string("it failed")
                                                      : status.keyboardFailureText;
    }
}

SerialPort::OpenError RelayControl::checkPort(const std::string& name) {
    SerialPort probe;
    return probe.open(name) ? SerialPort::OpenError{} : probe.lastOpenError();
}
