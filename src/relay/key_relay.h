// KeyRelay: carries keys from the X68000 Z keyboard to the host's serial line and
// the host's commands back to the keyboard, on one worker thread.
//
// Use: openKeyboard() once, then start(port) whenever a port is chosen and
// stop() when none is; at the end stop(), then closeKeyboard().
//
// Ownership: a KeyRelay owns its worker thread, the serial port, both byte
// queues, the typematic and LED state and the UsbKeyboard that decodes the
// keyboard's reports into the key queue.
//
// Threads: the owning thread calls openKeyboard, closeKeyboard, start and stop;
// the worker runs the loop and, inside the keyboard's event handling, its
// transfer callbacks. The keyboard, repeat and LED state is touched by the
// worker while it runs and by the owner only while no worker exists (thread
// start and join order the two). running and the port state are atomics; the
// queues and the port carry their own locks. No relay lock is held while
// calling into libusb or while taking another lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "io/byte_queue.h"
#include "io/serial_port.h"
#include "io/ticks.h"
#include "keyboard/usb_keyboard.h"
#include "protocol/host_commands.h"
#include "protocol/key_output.h"
#include "relay/relay_control.h"
#include "relay/worker_wait.h"

class KeyRelay final : public RelayControl {
public:
    explicit KeyRelay(TickSource ticks = systemTickMs);
    // Stops a worker that still runs and closes the keyboard, so no thread or
    // libusb resource outlives the object.
    ~KeyRelay() override;
    KeyRelay(const KeyRelay&) = delete;
    KeyRelay& operator=(const KeyRelay&) = delete;

    // Opens the first 33DD:0011 keyboard libusb finds, claims interfaces 0 and 1
    // and keeps an interrupt IN transfer submitted on each of 0x81 and 0x82.
    // Resets the repeat (500/110 ms) and LED state. Returns false, having
    // released everything it obtained, when any step fails. Call with no worker.
    bool openKeyboard() override;

    // Cancels the transfers, waits for them to end, releases the interfaces and
    // closes libusb. Safe when nothing is open. Call with no worker running.
    void closeKeyboard() override;

    // Stops any running worker (closing its port), then starts a new worker that
    // opens the port called name and relays until stop(). The worker runs whether
    // or not the port opened. Throws std::system_error if no thread can be made.
    void start(const std::string& name) override;

    // Wakes the worker and waits for it to end; the keys the host holds get
    // their breaks on the port first, then the port is closed. Safe when no
    // worker runs. Throws std::system_error(EDEADLK) from the worker.
    void stop() override;

    // A snapshot for front-ends that poll; callable from any thread.
    RelayStatus status() const override;

private:
    friend class KeyRelayTestPeer;

    void workerLoop();
    void pollHost();
    int nextWaitMs(std::uint32_t now) const;

    std::thread worker;
    std::atomic<bool> running{false};
    std::string portName;  // written by start() only while no worker runs
    SerialPort port;
    ByteQueue keyQueue;              // scan codes from the report decoder
    ByteQueue hostQueue;             // bytes the host sent, not yet interpreted
    UsbKeyboard keyboard{keyQueue};  // decodes reports into keyQueue
    WorkerWait waiter{keyboard, port};
    RepeatState repeat{0, 0, kDefaultRepeatDelayMs, kDefaultRepeatIntervalMs};
    HeldKeys held;  // what the host was told is down
    LedState leds;  // ledBrightness and ledMask as the host last set them

    std::atomic<PortState> portState{PortState::Idle};
    const TickSource ticks;
};
