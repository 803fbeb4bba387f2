// Win32 back-end of SerialPort: a COM port opened as \\.\NAME for overlapped,
// unshared I/O, its handle bound to a completion port of its own.
//
// The line settings are checked: the time-outs and the DCB must be taken, and
// the DCB read back must say 2400 baud 8N1 (the mouse line: 4800 baud 8N2)
// without flow control, or the open fails with the reason. The mouse line is
// never read. A driver that refuses SetCommState would otherwise
// go on at its own rate, and every key would arrive garbled.
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
// A removed USB adapter fails reads and writes with one of many errors, each
// driver its own (see meansPortGone); a ClearCommError that fails, or the same
// other error three times in a row, counts too. The reader thread then marks
// the port lost and wakes the worker, whose next readAvailable() or
// writeByte() closes it.
//
// No thread's end waits for a driver. Windows cancels the requests a thread
// started when it exits and waits for them to end, up to minutes for a
// driver that ignores the cancel; requests on a handle bound to a completion
// port belong to the handle instead of the thread, so neither the reader's
// exit nor the worker's waits for them. Belt and braces, the reader closes
// the handle itself before it ends, which ends its requests in every driver
// that completes them at the handle's cleanup. The completion port's packets
// are taken by the reader, which ignores those of the writes (the worker waits
// for each write's event).
//
// I/O this program gives up on (the reader's read at close, a write the line
// does not take) is cancelled, then purged (some CH340 and Prolific drivers
// ignore CancelIoEx on a pending read), then ended by closing the handle, each
// step waited for briefly: closing takes at most about 100 ms plus the time
// the last bytes need on the wire. A request that a driver ends by none of
// them keeps its OVERLAPPED and buffer for ever, as the driver may still
// write into them.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "io/byte_queue.h"
#include "io/serial_port.h"
#include "io/text_win32.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// How long a write may keep the worker waiting before it is cancelled; a
// byte takes about 4 ms at 2400 baud.
constexpr DWORD kWriteWaitMs = 50;
// How long one read waits for a first byte before the reader starts the next
// one; any value below MAXDWORD keeps the "return with the first byte" rule.
constexpr DWORD kReadIdleMs = 60 * 1000;
// The reader's pause after a read error that does not mean the port is gone,
// so that an error that persists cannot keep it spinning.
constexpr DWORD kReadErrorPauseMs = 100;
// The same error, not one of the known removal codes, this many times in a
// row: the device is gone all the same (a driver with a code of its own).
constexpr int kRepeatsMeaningGone = 3;
// Each step of ending a request this program gave up on (cancel, purge, close
// the handle) is given this long before the next: three steps, about 100 ms.
constexpr DWORD kEndStepMs = 33;
// One byte on the wire at 2400 baud 8N1 (10 bits: 4.17 ms), and how long the
// last one written may still take to leave a USB adapter's chip.
constexpr microseconds kByteOnWire{4200};
constexpr milliseconds kChipMargin{20};
// The longest closing waits for the last bytes to go out.
constexpr milliseconds kMaxCloseWait{100};
// The completion keys: the line's own I/O, and the owner's request to stop.
constexpr ULONG_PTR kLineKey = 1;
constexpr ULONG_PTR kStopKey = 2;

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// A manual-reset event, unsignalled; throws when the system has none to give.
Handle makeEvent() {
    const HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (e == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "an event for the serial port");
    }
    return Handle(e);
}

// A completion port of its own for port's I/O; throws when there is none.
Handle bindToCompletionPort(HANDLE port) {
    const HANDLE completions = CreateIoCompletionPort(port, nullptr, kLineKey, 1);
    if (completions == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "a completion port for the serial port");
    }
    return Handle(completions);
}

// ERROR_NO_SUCH_DEVICE, which mingw-w64's winerror.h lacks.
constexpr DWORD kErrorNoSuchDevice = 433;

// What reads and writes fail with once the USB adapter behind the port has
// been removed, each driver its own (FTDI, CH340, Prolific, usbser), and Wine's
// ERROR_NOT_READY for a write to a pty whose far end has gone. An abort counts
// only when this program did not cancel the I/O itself. ERROR_BAD_COMMAND and
// ERROR_GEN_FAILURE are not among them: a driver also fails a request with
// them for a passing fault of a device that is still there, so they go
// through ClearCommError like any other code.
bool meansPortGone(DWORD err, bool cancelledHere) {
    switch (err) {
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_FILE_NOT_FOUND:  // STATUS_NO_SUCH_DEVICE
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEV_NOT_EXIST:
        case kErrorNoSuchDevice:
        case ERROR_NOT_READY:
            return true;
        case ERROR_OPERATION_ABORTED:
            return !cancelledHere;
        default:
            return false;
    }
}

// Tells a failed read or write that means the device is gone from a passing
// line error (framing, overrun, break), which it clears. One per direction,
// used by one thread at a time.
class FailureJudge {
public:
    bool gone(HANDLE port, DWORD err) {
        if (meansPortGone(err, false)) {
            return true;
        }
        // Clearing the line error also asks the driver about the device: a
        // handle whose device has gone fails it.
        DWORD lineErrors = 0;
        if (ClearCommError(port, &lineErrors, nullptr) == FALSE) {
            return true;
        }
        repeats = err == lastError ? repeats + 1 : 1;
        lastError = err;
        return repeats >= kRepeatsMeaningGone;
    }
    void succeeded() { repeats = 0; }

private:
    DWORD lastError = 0;
    int repeats = 0;
};

// One overlapped request's OVERLAPPED, buffer and event. They stay where they
// are until the driver has ended the request, even one given up on. The
// event is set when the request ends, whoever takes its completion packet.
struct IoSlot {
    OVERLAPPED ov{};
    std::uint8_t byte = 0;
    Handle done = makeEvent();
    bool pending = false;  // started, and its end not yet seen

    // Prepares the next request; done is reset by ReadFile and WriteFile.
    OVERLAPPED* next() {
        ov = OVERLAPPED{};
        ov.hEvent = done.get();
        return &ov;
    }
    bool ended(DWORD waitMs) const {
        return WaitForSingleObject(done.get(), waitMs) == WAIT_OBJECT_0;
    }
};

// Ends a request this program gives up on: CancelIoEx, then the purge that
// aborts the requests of its direction. False when the driver ended it by
// neither: only closing the handle is left.
bool giveUp(HANDLE port, IoSlot& slot, DWORD purgeFlag) {
    CancelIoEx(port, &slot.ov);
    if (slot.ended(kEndStepMs)) {
        return true;
    }
    PurgeComm(port, purgeFlag);
    return slot.ended(kEndStepMs);
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

// "2400 baud 8N1 without flow control": the line as settings want it.
std::string wantedLine(const LineSettings& settings) {
    return std::to_string(settings.baud) + " baud 8N" + std::to_string(settings.stopBits) +
           " without flow control";
}

// The DCB of a line to the X68000: the key line's 2400 baud 8N1 or the mouse
// line's 4800 baud 8N2, binary, no parity checks or character replacement, no
// flow control of either kind, DTR and RTS asserted. Every field is set, so
// that a DCB the driver could not report (a failed GetCommState leaves it
// zeroed) is still one SetCommState takes: it refuses equal XON and XOFF
// characters, even with XON/XOFF off. What the driver reported is kept only
// where it is the driver's to choose: the XON/XOFF limits, which must fit its
// buffer (0 fits any).
void applyLineSettings(DCB& dcb, const LineSettings& settings) {
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.wReserved = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = 0x11;   // DC1
    dcb.XoffChar = 0x13;  // DC3
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
}

// Whether the driver runs the line as settings want it.
bool isWantedLine(const DCB& dcb, const LineSettings& settings) {
    return dcb.BaudRate == static_cast<DWORD>(settings.baud) && dcb.ByteSize == 8 &&
           dcb.Parity == NOPARITY &&
           dcb.StopBits == (settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT) &&
           !dcb.fOutxCtsFlow && !dcb.fOutxDsrFlow && !dcb.fOutX && !dcb.fInX &&
           dcb.fRtsControl != RTS_CONTROL_HANDSHAKE && dcb.fRtsControl != RTS_CONTROL_TOGGLE &&
           dcb.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

// "9600 baud 7E2 with RTS/CTS flow control", as the driver reports the line.
std::string describeLine(const DCB& dcb) {
    static constexpr char kParity[] = "NOEMS";
    static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
    char text[64];
    std::snprintf(text, sizeof(text), "%lu baud %u%c%s", static_cast<unsigned long>(dcb.BaudRate),
                  static_cast<unsigned>(dcb.ByteSize), dcb.Parity < 5 ? kParity[dcb.Parity] : '?',
                  dcb.StopBits < 3 ? kStopBits[dcb.StopBits] : "?");
    std::string flow;
    const auto add = [&flow](bool on, const char* name) {
        if (on) {
            flow += flow.empty() ? std::string(" with ") + name : std::string(" and ") + name;
        }
    };
    add(dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE, "RTS/CTS");
    add(dcb.fOutxDsrFlow || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE, "DTR/DSR");
    add(dcb.fOutX || dcb.fInX, "XON/XOFF");
    add(dcb.fRtsControl == RTS_CONTROL_TOGGLE, "RTS toggling");
    return text + (flow.empty() ? std::string(" without flow control") : flow + " flow control");
}

// Sets the time-outs and the line, and reads the line back. Nothing when the
// port took them; otherwise why not, with the system's error (or
// ERROR_NOT_SUPPORTED for a line that reads back otherwise).
std::optional<SerialPort::OpenError> takeLineSettings(HANDLE h, const LineSettings& settings) {
    const auto refused = [](const std::string& what) {
        const DWORD code = GetLastError();
        return SerialPort::OpenError{static_cast<int>(code), what + ": " + systemMessage(code)};
    };
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kReadIdleMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = kWriteWaitMs;
    if (SetCommTimeouts(h, &timeouts) == FALSE) {
        return refused("The port refused its time-outs");
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (GetCommState(h, &dcb) == FALSE) {
        dcb = DCB{};  // whatever the failed call left: every field is set below
    }
    applyLineSettings(dcb, settings);
    if (SetCommState(h, &dcb) == FALSE) {
        return refused("The port refused " + wantedLine(settings));
    }
    DCB now{};
    now.DCBlength = sizeof(now);
    if (GetCommState(h, &now) == FALSE) {
        return refused("The port's line settings could not be read back");
    }
    if (!isWantedLine(now, settings)) {
        return SerialPort::OpenError{
            ERROR_NOT_SUPPORTED,
            "The port runs at " + describeLine(now) + " instead of " + wantedLine(settings) + "."};
    }
    // Asserted once more on its own; a line without modem lines (a pty)
    // refuses it, and the line works all the same.
    EscapeCommFunction(h, SETDTR);
    return std::nullopt;
}

// Owned by the port from a successful open() to closeLocked(), and owner of
// the port's handle from then on: destroying it tells the reader thread to
// stop, which ends its read, closes the handle and ends; then it is joined.
// Threads: the reader thread runs readLoop() with readSlot and takes every
// completion packet; input and lost are shared with the worker (the queue
// has its own lock, lost is atomic); writeSlot, writes and wireFreeAt belong
// to the thread in writeByte() or closeLocked(), which holds the port's lock.
struct OpenLine {
    // Throws std::system_error when the completion port, an event or the
    // thread cannot be had; the caller still owns h then.
    OpenLine(HANDLE h, bool receiving, const std::function<void()>& wakeCallback)
        : port(h),
          receive(receiving),
          wakeWorker(wakeCallback),
          completions(bindToCompletionPort(h)),
          reader([this] { readLoop(); }) {}
    ~OpenLine();
    OpenLine(const OpenLine&) = delete;
    OpenLine& operator=(const OpenLine&) = delete;

    void readLoop();
    // The next completion packet of the read, or the request to stop; false
    // when waitMs passed first. The writes' packets are taken and dropped.
    bool awaitPacket(DWORD waitMs);
    // Waits until the bytes written last have had their time on the wire, at
    // most kMaxCloseWait; then drops what a far end that stopped left queued.
    void letLastBytesOut();
    void tellWorker() const {
        if (wakeWorker) {
            wakeWorker();
        }
    }

    const HANDLE port;                        // closed by the reader as it ends
    const bool receive;                       // read: the key line (the mouse line is not)
    const std::function<void()>& wakeWorker;  // the port's, set before the first open
    std::unique_ptr<IoSlot> readSlot = std::make_unique<IoSlot>();
    std::unique_ptr<IoSlot> writeSlot = std::make_unique<IoSlot>();
    FailureJudge writes;
    Clock::time_point wireFreeAt{};  // when the last byte written is out, at the earliest
    ByteQueue input;                 // what the reader took off the line
    std::atomic<bool> lost{false};   // a read failed the way a removed port fails
    bool stopSeen = false;           // the reader's own: the stop packet came
    Handle completions;              // the port's I/O ends here
    std::thread reader;              // last: started once all of the above exists
};

OpenLine::~OpenLine() {
    // A packet can fail to be queued only for want of memory: try again.
    while (PostQueuedCompletionStatus(completions.get(), 0, kStopKey, nullptr) == FALSE) {
        Sleep(kEndStepMs);
    }
    // Its end waits for no request: they belong to the completion port, and
    // the reader has closed the handle by then.
    reader.join();
    for (std::unique_ptr<IoSlot>* slot : {&readSlot, &writeSlot}) {
        if ((*slot)->pending && !(*slot)->ended(kEndStepMs)) {
            // The driver may still write into it: never freed.
            static_cast<void>(slot->release());
        }
    }
}

bool OpenLine::awaitPacket(DWORD waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* ov = nullptr;
        DWORD left = INFINITE;
        if (waitMs != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        // FALSE with a packet: its request failed, which its owner reads from
        // the OVERLAPPED. FALSE without one: the time passed.
        if (GetQueuedCompletionStatus(completions.get(), &bytes, &key, &ov, left) == FALSE &&
            ov == nullptr) {
            return false;
        }
        if (key == kStopKey) {
            stopSeen = true;
            return true;
        }
        if (ov == &readSlot->ov) {
            return true;
        }
        // A write's end: the worker waits for its event, not for this.
    }
}

void OpenLine::readLoop() {
    IoSlot& slot = *readSlot;
    FailureJudge reads;
    // A line that only sends (the mouse's, opened for writing alone) is
    // never read: its loss shows in its writes.
    while (!stopSeen && receive) {
        // One byte per read: Wine ends a read with these time-outs only once
        // the whole count has arrived (Windows returns whatever is there), and
        // the line carries at most 240 bytes a second.
        DWORD got = 0;
        DWORD err = 0;
        if (ReadFile(port, &slot.byte, 1, nullptr, slot.next()) == FALSE &&
            GetLastError() != ERROR_IO_PENDING) {
            err = GetLastError();  // ended at once: no packet comes for it
        } else {
            // Ended at once or later, its packet comes either way.
            slot.pending = true;
            awaitPacket(INFINITE);
            if (stopSeen) {
                break;
            }
            slot.pending = false;
            if (GetOverlappedResult(port, &slot.ov, &got, FALSE) == FALSE) {
                err = GetLastError();
            }
        }
        if (err == 0) {
            reads.succeeded();
            if (got == 1) {  // 0: the idle time-out passed with nothing on the line
                input.push(slot.byte);
                tellWorker();
            }
            continue;
        }
        if (reads.gone(port, err)) {
            lost = true;
            tellWorker();
            break;
        }
        awaitPacket(kReadErrorPauseMs);  // a pause, which only the stop ends early
    }
    // Lost, or stopping: the worker writes on a lost line until its next call
    // closes it, so the handle stays until the stop.
    while (!stopSeen) {
        awaitPacket(INFINITE);
    }
    if (slot.pending) {
        slot.pending = !giveUp(port, slot, PURGE_RXABORT);
    }
    // Ends a request that neither its cancel nor the purge ended, before this
    // thread does.
    CloseHandle(port);
}

void OpenLine::letLastBytesOut() {
    // A USB adapter's driver ends a write when the byte reaches the chip, which
    // sends it 4.2 ms later, and counts in cbOutQue only what it still holds
    // itself: an empty queue does not mean the byte has left, and a purge
    // would drop it (the break of a held key).
    if (lost) {
        return;  // nothing goes out on a device that has gone
    }
    const Clock::time_point latest = Clock::now() + kMaxCloseWait;
    Clock::time_point clear = wireFreeAt;  // when the last byte is out, at the earliest
    for (;;) {
        const Clock::time_point now = Clock::now();
        DWORD errors = 0;
        COMSTAT state{};
        if (ClearCommError(port, &errors, &state) != FALSE && state.cbOutQue > 0) {
            // Bytes the driver still holds go out one after the other.
            clear = std::max(clear, now + kByteOnWire * state.cbOutQue);
        }
        const Clock::time_point until = std::min(clear + kChipMargin, latest);
        if (now >= until) {
            break;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(until - now).count();
        Sleep(static_cast<DWORD>(std::clamp<long long>(left, 1, 5)));
    }
    // Output a far end never takes would otherwise keep a driver's close
    // waiting for it to drain.
    PurgeComm(port, PURGE_TXABORT | PURGE_TXCLEAR);
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

bool SerialPort::open(const std::string& name, const LineSettings& settings) {
    std::lock_guard lock(mutex);
    closeLocked();

    // Read access for the mouse line too, which is never read: a handle
    // without it may not set the line (Wine refuses SetCommState then).
    const std::wstring path = widen(devicePath(name));
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        openError = {static_cast<int>(code), systemMessage(code)};
        return false;
    }
    if (const auto refused = takeLineSettings(h, settings)) {
        CloseHandle(h);
        openError = *refused;
        return false;
    }
    try {
        platform->line = std::make_unique<OpenLine>(h, settings.receive, wake);
    } catch (const std::system_error& e) {
        CloseHandle(h);
        openError = {e.code().value(), e.code().message()};
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
    OpenLine& line = *platform->line;
    if (line.lost) {
        closeLocked();
        return false;
    }
    IoSlot& slot = *line.writeSlot;
    slot.byte = b;
    DWORD written = 0;
    DWORD err = 0;
    bool cancelled = false;
    if (WriteFile(line.port, &slot.byte, 1, nullptr, slot.next()) == FALSE &&
        GetLastError() != ERROR_IO_PENDING) {
        err = GetLastError();
    } else {
        slot.pending = true;
        if (!slot.ended(kWriteWaitMs)) {
            cancelled = true;
            if (!giveUp(line.port, slot, PURGE_TXABORT)) {
                // A driver that ends a write by neither is of no use: closing
                // the handle ends the write, and the port counts as gone.
                closeLocked();
                return false;
            }
        }
        slot.pending = false;
        if (GetOverlappedResult(line.port, &slot.ov, &written, FALSE) == FALSE) {
            err = GetLastError();
        }
    }
    if (err == 0) {
        line.writes.succeeded();
        if (written == 1) {
            line.wireFreeAt = std::max(line.wireFreeAt, Clock::now()) + kByteOnWire;
        }
    } else if (!(cancelled && err == ERROR_OPERATION_ABORTED) && line.writes.gone(line.port, err)) {
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
    handle = kInvalidHandle;
    // The last bytes (the breaks of held keys) go out first; then the reader
    // is stopped and the handle closed, in at most about 100 ms each.
    platform->line->letLastBytesOut();
    platform->line.reset();
}
