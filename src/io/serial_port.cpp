// The parts of SerialPort every platform shares; opening, reading, writing and
// closing the handle live in serial_port_posix.cpp and serial_port_win32.cpp.
#include "io/serial_port.h"

#include <utility>

void SerialPort::close() {
    std::lock_guard lock(mutex);
    closeLocked();
}

bool SerialPort::isOpen() const {
    return handle.load() != kInvalidHandle;
}

void SerialPort::setWake(std::function<void()> callback) {
    wake = std::move(callback);
}

SerialPort::NativeHandle SerialPort::nativeHandle() const {
    std::lock_guard lock(mutex);
    return handle;
}

SerialPort::OpenError SerialPort::lastOpenError() const {
    std::lock_guard lock(mutex);
    return openError;
}
