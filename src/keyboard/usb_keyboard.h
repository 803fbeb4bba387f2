// UsbKeyboard: the libusb connection to the X68000 Z keyboard (USB 33DD:0011).
//
// It claims interfaces 0 and 1 (detaching the kernel's HID driver, which gets
// them back at close) and keeps an interrupt IN transfer submitted on each of
// endpoints 0x81 (the 8-byte boot report) and 0x82 (the 16-byte bitmap
// report). Each report that completes is decoded against the previous report
// of its endpoint into scan codes in the key queue given at construction.
// The LED feature report goes out through a synchronous SET_REPORT.
//
// Ownership: a UsbKeyboard owns libusb's default context while the keyboard is
// open, the device handle, both transfers and their buffers (the transfers
// write into this object, so it is neither copied nor moved). It does not own
// the key queue.
//
// Threads: one thread at a time uses it: the owner opens and closes it while
// nobody handles its events; between the two, the thread that handles events
// (the relay's worker) is the only one to call in. The completion callbacks run
// inside event handling and inside sendLeds. active() may be read anywhere.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "io/byte_queue.h"
#include "keyboard/report_decoder.h"

struct libusb_device_handle;
struct libusb_transfer;

class UsbKeyboard {
public:
    explicit UsbKeyboard(ByteQueue& keyQueue);
    // Closes whatever is still open.
    ~UsbKeyboard();
    UsbKeyboard(const UsbKeyboard&) = delete;
    UsbKeyboard& operator=(const UsbKeyboard&) = delete;

    // Opens the first 33DD:0011 keyboard libusb finds, claims both interfaces
    // and submits both transfers, with both previous reports cleared. Returns
    // false, having released everything it obtained, when any step fails.
    // Closes an earlier connection first.
    bool open();

    // Cancels the transfers, lets them end, releases the interfaces and closes
    // libusb. Safe when nothing is open.
    void close();

    // True while the keyboard is open and its transfers run: cleared by a
    // transfer that ends with the device gone or cancelled, by an LED report
    // that finds the device gone, and by close().
    bool active() const { return usbActive.load() != 0; }

    // Lets libusb run the callbacks of whatever has completed, waiting at most
    // timeoutMs for something to. Does nothing while closed.
    void handleEvents(int timeoutMs);

    enum class LedResult { Sent, Failed, NoDevice };
    // Sends the LED feature report for the host's brightness and mask and waits
    // for it (at most a second). Only NoDevice clears active(); a stall or a
    // time-out loses this one update. Nothing is sent while inactive.
    LedResult sendLeds(std::int32_t brightness, std::int32_t mask);

private:
    friend struct UsbKeyboardCallbacks;
    friend class KeyRelayTestPeer;

    void transferEnded(libusb_transfer* transfer);
    bool submitTransfer(int index);
    void drainTransfers(int eventCalls);
    void release(int eventCalls);

    ByteQueue& keyQueue;
    std::atomic<int> usbActive{0};
    libusb_device_handle* deviceHandle = nullptr;
    std::array<libusb_transfer*, 2> transfers{};
    std::array<ReportBuffer, 2> reportBuffers{};

    // Whether libusb is initialised, which interfaces are claimed, which
    // transfers are still in flight (cleared by their callback when they end),
    // and whether closing has begun (callbacks then stop resubmitting).
    bool libusbReady = false;
    std::array<bool, 2> claimed{};
    std::array<bool, 2> inFlight{};
    bool closing = false;
};
