// Win32 back-end of SerialPort: a COM port opened as \\.\NAME for overlapped,
// unshared I/O.
//
// Input: while the port is open a reader thread keeps one overlapped ReadFile
// outstanding and moves what arrives into a bounded queue that readAvailable()
// empties without blocking; it calls the wake callback for every byte and when
// the line fails. The read time-outs (MAXDWORD, MAXDWORD, a constant) make a
// read wait for the first byte and return with it at once, so input reaches a
// sleeping worker without anybody polling. WaitCommEvent(EV_RXCHAR) would do
// the same on Windows, but Wine answers it from a thread that polls the modem
// lines every millisecond and gives up on a line without them (a pty).
//
// Output: one overlapped WriteFile per byte, waited for about 50 ms and then
// cancelled, so a far end that takes nothing costs the worker a lost byte,
// not a stall. The write time-out constant asks drivers that honour it to end
// the write themselves at about the same time.
//
// A removed USB adapter fails reads and writes with one of a few errors (see
// meansPortGone); the reader thread marks the port lost and wakes the worker,
// whose next readAvailable() or writeByte() closes it.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "io/byte_queue.h"
#include "io/serial_port.h"
#include "io/text_win32.h"

namespace {

// How long a write may keep the worker waiting before it is cancelled; a
// byte takes about 4 ms at 2400 baud.
constexpr DWORD kWriteWaitMs = 50;
// How long one read waits for a first byte before the reader starts the next
// one; any value below MAXDWORD keeps the "return with the first byte" rule.
constexpr DWORD kReadIdleMs = 60 * 1000;
// The reader's pause after a read error that does not mean the port is gone,
// so that an error that persists cannot keep it spinning.
constexpr DWORD kReadErrorPauseMs = 100;

HANDLE handleOf(SerialPort::NativeHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Event = std::unique_ptr<void, HandleCloser>;

// A manual-reset event, unsignalled; throws when the system has none to give.
Event makeEvent() {
    const HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (e == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "an event for the serial port");
    }
    return Event(e);
}

// What reads and writes fail with once the USB adapter behind the port has
// been removed. An abort counts only when this program did not cancel the I/O
// itself.
bool meansPortGone(DWORD err, bool cancelledHere) {
    switch (err) {
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
            return true;
        case ERROR_OPERATION_ABORTED:
            return !cancelledHere;
        default:
            return false;
    }
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

// Owned by the port from a successful open() to closeLocked(); destroying it
// stops and joins the reader thread. The port handle itself stays the port's.
// Threads: the reader thread runs readLoop(); input and lost are shared with
// the worker (the queue has its own lock, lost is atomic); writeDone belongs
// to the thread in writeByte(), which holds the port's lock.
struct OpenLine {
    OpenLine(HANDLE h, const std::function<void()>& wakeCallback)
        : port(h), wakeWorker(wakeCallback), reader([this] { readLoop(); }) {}
    ~OpenLine() {
        SetEvent(stopReading.get());
        reader.join();
    }
    OpenLine(const OpenLine&) = delete;
    OpenLine& operator=(const OpenLine&) = delete;

    void readLoop();
    void tellWorker() const {
        if (wakeWorker) {
            wakeWorker();
        }
    }

    const HANDLE port;
    const std::function<void()>& wakeWorker;  // the port's, set before the first open
    Event stopReading = makeEvent();          // set once, by the destructor
    Event readDone = makeEvent();             // the reader's OVERLAPPED event
    Event writeDone = makeEvent();            // writeByte()'s OVERLAPPED event
    ByteQueue input;                          // what the reader took off the line
    std::atomic<bool> lost{false};            // a read failed the way a removed port fails
    std::thread reader;                       // last: started once all of the above exists
};

void OpenLine::readLoop() {
    const HANDLE waits[] = {readDone.get(), stopReading.get()};
    for (;;) {
        // One byte per read: Wine ends a read with these time-outs only once
        // the whole count has arrived (Windows returns whatever is there), and
        // the line carries at most 240 bytes a second.
        std::uint8_t byte = 0;
        OVERLAPPED ov{};
        ov.hEvent = readDone.get();
        DWORD got = 0;
        DWORD err = 0;
        bool stopping = false;
        if (ReadFile(port, &byte, 1, nullptr, &ov) == FALSE && GetLastError() != ERROR_IO_PENDING) {
            err = GetLastError();
        } else {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                CancelIoEx(port, &ov);
                stopping = true;
            }
            // Also waits for a cancelled read to end: ov must outlive it.
            if (GetOverlappedResult(port, &ov, &got, TRUE) == FALSE) {
                err = GetLastError();
            }
        }
        if (stopping) {
            return;
        }
        if (err == 0) {
            if (got == 1) {  // 0: the idle time-out passed with nothing on the line
                input.push(byte);
                tellWorker();
            }
            continue;
        }
        if (meansPortGone(err, false)) {
            lost = true;
            tellWorker();
            return;
        }
        // A line error (framing, overrun, break): clear it and read on.
        DWORD lineErrors = 0;
        ClearCommError(port, &lineErrors, nullptr);
        if (WaitForSingleObject(stopReading.get(), kReadErrorPauseMs) == WAIT_OBJECT_0) {
            return;
        }
    }
}

// Lets the driver's output queue empty for a bounded time: a dozen bytes take
// 50 ms at 2400 baud, and a far end that has stopped the line must not hold
// closing longer.
void drainBriefly(HANDLE h) {
    constexpr DWORD kMaxWaitMs = 100;
    const ULONGLONG giveUp = GetTickCount64() + kMaxWaitMs;
    for (;;) {
        DWORD errors = 0;
        COMSTAT state{};
        if (!ClearCommError(h, &errors, &state) || state.cbOutQue == 0 ||
            GetTickCount64() >= giveUp) {
            return;
        }
        Sleep(2);
    }
}

}  // namespace

struct SerialPort::Platform {
    std::unique_ptr<OpenLine> line;  // from a successful open() to closeLocked()
};

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
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    DWORD openFailure = (h == INVALID_HANDLE_VALUE) ? GetLastError() : 0;

    // The settings calls go ahead even on a failed open and none of their
    // results is looked at: a port that takes the handle but refuses a setting
    // (a pty has no modem lines for SETDTR) is still usable.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadIdleMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteWaitMs;
    SetCommTimeouts(h, &timeouts);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(h, &dcb);
    applyLineSettings(dcb);
    SetCommState(h, &dcb);
    EscapeCommFunction(h, SETDTR);

    std::string threadFailure;
    if (openFailure == 0) {
        try {
            platform->line = std::make_unique<OpenLine>(h, wake);
        } catch (const std::system_error& e) {
            openFailure = static_cast<DWORD>(e.code().value());
            threadFailure = e.code().message();
            CloseHandle(h);
        }
    }
    if (openFailure != 0) {
        openError = {static_cast<int>(openFailure),
                     threadFailure.empty() ? systemMessage(openFailure) : threadFailure};
        return false;
    }
    openError = {};
    handle = reinterpret_cast<NativeHandle>(h);  // open only now that the reader runs
    return true;
}

bool SerialPort::writeByte(std::uint8_t b) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return false;
    }
    if (platform->line->lost) {
        closeLocked();
        return false;
    }
    const HANDLE h = handleOf(handle);
    const HANDLE done = platform->line->writeDone.get();
    OVERLAPPED ov{};
    ov.hEvent = done;
    DWORD written = 0;
    DWORD err = 0;
    bool cancelled = false;
    if (WriteFile(h, &b, 1, nullptr, &ov) == FALSE && GetLastError() != ERROR_IO_PENDING) {
        err = GetLastError();
    } else {
        if (WaitForSingleObject(done, kWriteWaitMs) != WAIT_OBJECT_0) {
            CancelIoEx(h, &ov);
            cancelled = true;
        }
        // Also waits for a cancelled write to end: ov and b must outlive it.
        if (GetOverlappedResult(h, &ov, &written, TRUE) == FALSE) {
            err = GetLastError();
        }
    }
    if (err != 0 && meansPortGone(err, cancelled)) {
        closeLocked();
    }
    // A write time-out ends the write "successfully" with nothing written.
    return err == 0 && written == 1;
}

std::size_t SerialPort::readAvailable(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return 0;
    }
    // What came before the port was lost is still handed out, once.
    const std::size_t n = platform->line->input.read(buffer, maxBytes);
    if (platform->line->lost) {
        closeLocked();
    }
    return n;
}

void SerialPort::closeLocked() {
    if (handle == kInvalidHandle) {
        return;
    }
    const HANDLE h = handleOf(handle);
    handle = kInvalidHandle;
    // The last bytes (the breaks of held keys) get a moment to go out; output
    // a far end never takes would otherwise keep a driver's close waiting for
    // it to drain, so the rest is dropped.
    drainBriefly(h);
    PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
    platform->line.reset();  // cancels the reader's read and joins the thread
    CloseHandle(h);
}
