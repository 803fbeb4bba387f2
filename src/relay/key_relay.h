// KeyRelay: carries keys from the X68000 Z keyboard to the host's serial line and
// the host's commands back to the keyboard, on one worker thread.
//
// Use: openKeyboard() once, then start(port) whenever a port is chosen and
// stop() when none is; at the end stop(), then closeKeyboard().
//
// Ownership: a KeyRelay owns its worker thread, the serial port, both byte
// queues, the typematic and LED state and, while the keyboard is open, the
// libusb default context, the device handle and both input transfers (whose
// buffers are this object's ReportBuffers, so it is neither copied nor moved).
//
// Threads: the owning thread calls openKeyboard, closeKeyboard, start and stop;
// the worker runs the loop and, inside libusb event handling, the transfer
// callbacks. The repeat, LED and report state is touched by the worker while it
// runs and by the owner only while no worker exists (thread start and join order
// the two). running, usbActive and the port state are atomics; the queues and
// the port carry their own locks. No relay lock is held while calling libusb or
// while taking another lock; libusb's event handling, with its own locks held,
// runs the callback that takes the keyQueue lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "keyboard/report_decoder.h"
#include "protocol/host_commands.h"
#include "protocol/key_output.h"
#include "io/byte_queue.h"
#include "io/serial_port.h"
#include "io/ticks.h"

struct libusb_device_handle;
struct libusb_transfer;

class KeyRelay {
public:
    // The pause between worker passes. Nothing wakes the loop early.
    static constexpr std::uint32_t kPassMs = 5;

    // What a front-end may ask while the relay runs (see status()).
    enum class PortState {
        Idle,        // no worker
        Opening,     // worker started, open not yet tried
        Open,        // the worker opened the port and it is still open
        OpenFailed,  // the worker could not open the port (see openError)
        Lost,        // the port was open and closed itself: the device is gone
    };
    struct Status {
        PortState port = PortState::Idle;
        SerialPort::OpenError openError;  // set when port is OpenFailed
        bool usbActive = false;           // keyboard open and its transfers running
    };

    explicit KeyRelay(TickSource ticks = systemTickMs);
    // Stops a worker that still runs and closes the keyboard, so no thread or
    // libusb resource outlives the object.
    ~KeyRelay();
    KeyRelay(const KeyRelay&) = delete;
    KeyRelay& operator=(const KeyRelay&) = delete;

    // Opens the first 33DD:0011 keyboard libusb finds, claims interfaces 0 and 1
    // and keeps an interrupt IN transfer submitted on each of 0x81 and 0x82.
    // Resets the repeat (500/110 ms) and LED state. Returns false, having
    // released everything it obtained, when any step fails. Call with no worker.
    bool openKeyboard();

    // Cancels the transfers, waits for them to end, releases the interfaces and
    // closes libusb. Safe when nothing is open. Call with no worker running.
    void closeKeyboard();

    // Stops any running worker (closing its port), then starts a new worker that
    // opens the port called name and relays until stop(). The worker runs whether
    // or not the port opened. Throws std::system_error if no thread can be made.
    void start(const std::string& name);

    // Ends the worker after its current pass, waits for it, closes the port.
    // Safe when no worker runs. Throws std::system_error(EDEADLK) from the worker.
    void stop();

    // A snapshot for front-ends that poll; callable from any thread.
    Status status() const;

private:
    friend class KeyRelayTestPeer;

    void workerLoop();
    void handleUsbEvents();
    void pollHost();
    void setLeds(std::int32_t brightness, std::int32_t mask);
    static void onTransferComplete(libusb_transfer* transfer);
    bool submitTransfer(int index);
    void drainTransfers(int eventCalls);
    void releaseKeyboard(int eventCalls);

    std::thread worker;
    std::atomic<bool> running{false};
    std::string portName;  // written by start() only while no worker runs
    SerialPort port;
    ByteQueue keyQueue;   // scan codes from the report decoder
    ByteQueue hostQueue;  // bytes the host sent, not yet interpreted
    // Non-zero while the USB keyboard is open and its input transfers run.
    std::atomic<int> usbActive{0};
    libusb_device_handle* deviceHandle = nullptr;
    std::array<libusb_transfer*, 2> transfers{};
    std::array<ReportBuffer, 2> reportBuffers{};
    RepeatState repeat;
    LedState leds;  // ledBrightness and ledMask as the host last set them

    // Keyboard bookkeeping beyond the shared fields: whether libusb is
    // initialised, which interfaces are claimed, which transfers are still in
    // flight (cleared by their callback when they end), and whether closing has
    // begun (callbacks then stop resubmitting).
    bool libusbReady = false;
    std::array<bool, 2> claimed{};
    std::array<bool, 2> inFlight{};
    bool closing = false;

    std::atomic<PortState> portState{PortState::Idle};
    const TickSource ticks;
};
