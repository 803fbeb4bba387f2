#include "relay/relay_control.h"

std::string refusalReason(const RelayStatus& status) {
    switch (status.keyboardFailure) {
        case UsbKeyboard::Failure::NoPermission:
            return "no permission";
        case UsbKeyboard::Failure::Busy:
            return "another program holds it";
        default:
            return "libusb says " + (status.keyboardFailureText.empty()
                                         ? std::string("it failed")
                                         : status.keyboardFailureText);
    }
}

SerialPort::OpenError RelayControl::checkPort(const std::string& name) {
    SerialPort probe;
    return probe.open(name) ? SerialPort::OpenError{} : probe.lastOpenError();
}
