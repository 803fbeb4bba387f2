// SerialPort: a serial line to the X68000, opened with the key line's settings
// (2400 baud, 8N1, raw, no flow control, DTR and RTS asserted) or the mouse
// line's (4800 baud 8N2, written only; line_settings.h), and read without ever
// blocking.
//
// Port names: on POSIX an absolute path is used as it stands and a bare name
// (ttyUSB0) means /dev/ttyUSB0, while a bare name with a "/" or ".." in it is
// refused; on Windows a bare name (COM3) is opened as \\.\COM3. Names are UTF-8.
//
// On POSIX only a terminal is taken (anything else is refused as "not a
// terminal", with ENOTTY), and only when no other program holds it (an flock
// or TIOCEXCL of another: refused as "in use by another program", EBUSY). Its
// line settings are saved at open and put back at close, input waiting at
// open is discarded, and closing gives unsent output at most 100 ms to go out
// before it drops the rest instead of waiting for a line that has stopped. A
// line that receives asks the driver for low latency (ASYNC_LOW_LATENCY through
// TIOCSSERIAL) where the driver offers it, and gets its own flag back at close;
// a driver without it (a pty) or one that refuses runs the line all the same.
//
// A port closed by a failure that means the device is gone (hang-up, removal;
// on Windows found by the reader thread or by a write) stays closed until the
// next open: writes are then skipped and reads return 0, so the relay carries
// on without it.
//
// Thread-safety: one lock guards the handle and every operation; a write holds
// it for one byte (on Windows at most about 50 ms, when the far end takes
// nothing). isOpen() takes no lock, so a window asking for the status never
// waits behind a write. The worker writes and reads, the owning thread opens
// and closes. One back-end per platform: serial_port_posix.cpp,
// serial_port_win32.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "io/line_settings.h"

class SerialPort {
public:
    // The platform handle as an integer: a file descriptor on POSIX, a HANDLE on
    // Windows. Both use -1 for "not open" (INVALID_HANDLE_VALUE is -1 too).
    using NativeHandle = std::intptr_t;
    static constexpr NativeHandle kInvalidHandle = -1;

    // Why the last open failed, in the system's words ("Permission denied").
    struct OpenError {
        int code = 0;         // errno or GetLastError(); 0 when the last open succeeded
        std::string message;  // empty when code is 0
    };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Closes any open handle, then opens name and applies the line settings.
    // Raising the modem lines may fail (a pty has none). The Windows back-end
    // requires the line to read back as the settings say (2400 baud 8N1, or
    // 4800 baud 8N2, without flow control), and fails the open with the
    // reason otherwise. Returns whether the port is open.
    bool open(const std::string& name, const LineSettings& settings = LineSettings::keyLine());

    // Writes one byte; false when closed or the write failed. The POSIX back-end
    // never waits: a full output queue (a far end that reads nothing) loses the
    // byte. The Windows back-end waits about 50 ms at most, then cancels the
    // write and the byte is lost. Closes the port when the device is gone.
    bool writeByte(std::uint8_t b);

    // Reads what is already waiting, up to maxBytes, without blocking; 0 when
    // nothing waits or the port is closed. Closes the port when the device is gone.
    // A line that does not receive is never read: this only finds a hang-up.
    std::size_t readAvailable(std::uint8_t* buffer, std::size_t maxBytes);

    // Gives the last bytes written (the breaks of held keys) their time to
    // reach the wire, at most about 100 ms, then discards what is still
    // queued, so it returns even when the far end reads nothing. The Windows
    // back-end then ends its reader's pending read within about 100 ms more,
    // even where the driver ignores the cancel.
    void close();

    // Never blocks, from any thread.
    bool isOpen() const;
    // Whom to tell when input arrives or the line fails, so that a worker
    // asleep in a wait that cannot watch the handle itself wakes up: the
    // Windows back-end calls it from the reader thread it keeps while the port
    // is open. The POSIX back-end never calls it: there the worker polls
    // nativeHandle() instead. Set it before the first open(); it must be quick
    // and must not call into the port.
    void setWake(std::function<void()> wake);

    // The open handle, kInvalidHandle when closed: what a worker that sleeps in
    // poll() watches for input and hang-ups (for a line that does not receive,
    // hang-ups only: poll() it for no events, and POLLHUP or POLLERR still
    // come, whereupon readAvailable() closes it). Only the worker may use it,
    // and only until its next call that may close the port.
    NativeHandle nativeHandle() const;
    OpenError lastOpenError() const;

    // Maps a user's port name to what the platform opens (/dev/ttyUSB0, \\.\COM3).
    static std::string devicePath(const std::string& name);

private:
    void closeLocked();  // requires mutex

    struct Platform;  // what the back-end keeps beside the handle; guarded by mutex

    mutable std::mutex mutex;
    // Changed only under mutex; read without it by isOpen().
    std::atomic<NativeHandle> handle{kInvalidHandle};
    OpenError openError;         // guarded by mutex
    std::function<void()> wake;  // set before the first open
    std::unique_ptr<Platform> platform;
};
