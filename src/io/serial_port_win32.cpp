// Win32 back-end of SerialPort: a COM port opened as \\.\NAME for synchronous,
// unshared I/O. The read time-outs (MAXDWORD/0/0) make ReadFile return at once
// with whatever has arrived, which is what keeps readAvailable from blocking.
#include <windows.h>

#include <algorithm>
#include <string>

#include "io/serial_port.h"
#include "io/text_win32.h"

namespace {

HANDLE handleOf(SerialPort::NativeHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// The system's own text for an error code, without the line break it ends with.
std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        return "Error " + std::to_string(code);
    }
    std::wstring message(text, length);
    LocalFree(text);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.pop_back();
    }
    return narrow(message);
}

// 2400 baud 8N1, binary, no parity checks or character replacement, no flow
// control of either kind, DTR and RTS asserted. Everything else (buffer sizes,
// XON/XOFF limits and characters) stays as the driver reported it.
void applyLineSettings(DCB& dcb) {
    dcb.BaudRate = CBR_2400;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace

struct SerialPort::Platform {};

SerialPort::SerialPort() : platform(std::make_unique<Platform>()) {}

SerialPort::~SerialPort() {
    close();
}

std::string SerialPort::devicePath(const std::string& name) {
    return "\\\\.\\" + name;
}

bool SerialPort::open(const std::string& name) {
    std::lock_guard lock(mutex);
    closeLocked();

    const std::wstring path = widen(devicePath(name));
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    const DWORD openFailure = (h == INVALID_HANDLE_VALUE) ? GetLastError() : 0;
    handle = reinterpret_cast<NativeHandle>(h);

    // The settings calls go ahead even on a failed open and none of their
    // results is looked at: a port that takes the handle but refuses a setting
    // (a pty has no modem lines for SETDTR) is still usable.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(h, &timeouts);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(h, &dcb);
    applyLineSettings(dcb);
    SetCommState(h, &dcb);
    EscapeCommFunction(h, SETDTR);

    if (openFailure != 0) {
        openError = {static_cast<int>(openFailure), systemMessage(openFailure)};
    } else {
        openError = {};
    }
    return handle != kInvalidHandle;
}

bool SerialPort::writeByte(std::uint8_t b) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(handleOf(handle), &b, 1, &written, nullptr) != FALSE;
}

std::size_t SerialPort::readAvailable(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return 0;
    }
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(maxBytes, MAXDWORD));
    DWORD got = 0;
    if (ReadFile(handleOf(handle), buffer, wanted, &got, nullptr) == FALSE) {
        // Access denied and invalid handle are what a removed device reports;
        // anything else (a line error, say) leaves the port to try again.
        const DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_HANDLE) {
            closeLocked();
        }
        return 0;
    }
    return got;
}

void SerialPort::closeLocked() {
    if (handle == kInvalidHandle) {
        return;
    }
    CloseHandle(handleOf(handle));
    handle = kInvalidHandle;
}
