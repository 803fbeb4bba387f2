// KeyRelay: carries keys from the X68000 Z keyboard to the host's serial line and
// the host's commands back, on one worker thread.
//
// Ownership: a KeyRelay owns its worker thread, the serial port, both byte
// queues and the typematic state. It is neither copied nor moved.
//
// Threads: the owning thread calls start() and stop(); the worker runs
// workerLoop(). While the worker runs only it touches the repeat state; the
// owner touches it only while no worker exists (thread start and join order
// the two). running and usbActive are atomics; the queues and the port carry
// their own locks, and no lock of the relay is held while another is taken.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "protocol/key_output.h"
#include "relay/byte_queue.h"
#include "relay/serial_port.h"
#include "relay/ticks.h"

class KeyRelay {
  public:
    // The pause between worker passes. Nothing wakes the loop early.
    static constexpr std::uint32_t kPassMs = 5;

    explicit KeyRelay(TickSource ticks = systemTickMs);
    // Stops a worker that still runs, so no thread outlives the object.
    ~KeyRelay();
    KeyRelay(const KeyRelay&) = delete;
    KeyRelay& operator=(const KeyRelay&) = delete;

    // Stops any running worker (closing its port), then starts a new worker that
    // opens the port called name and relays until stop(). The worker runs whether
    // or not the port opened. Throws std::system_error if no thread can be made.
    void start(const std::string& name);

    // Ends the worker after its current pass, waits for it, closes the port.
    // Safe when no worker runs. Throws std::system_error(EDEADLK) from the worker.
    void stop();

  private:
    friend class KeyRelayTestPeer;

    void workerLoop();

    std::thread worker;
    std::atomic<bool> running{false};
    std::string portName;  // written by start() only while no worker runs
    SerialPort port;
    ByteQueue keyQueue;   // scan codes from the report decoder
    ByteQueue hostQueue;  // bytes the host sent, not yet interpreted
    // Non-zero while the USB keyboard is open and its input transfers run.
    std::atomic<int> usbActive{0};
    RepeatState repeat;  // worker only while it runs
    const TickSource ticks;
};
