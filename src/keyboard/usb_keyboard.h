// UsbKeyboard: the libusb connection to the X68000 Z keyboard (USB 33DD:0011).
//
// It claims interfaces 0 and 1 (detaching the kernel's HID driver, which gets
// them back at release) and keeps an interrupt IN transfer submitted on each
// of endpoints 0x81 (the 8-byte boot report) and 0x82 (the 16-byte bitmap
// report). Each report that completes is decoded against the previous report
// of its endpoint into scan codes in the key queue given at construction. The
// LED feature report goes out as an asynchronous SET_REPORT, one at a time and
// never waited for: a keyboard that leaves it unanswered holds no caller.
//
// An endpoint that fails is recovered without spinning (EndpointRecovery): a
// halt is cleared, after the event handling that saw it (a synchronous call
// cannot run inside a transfer callback), other failures are submitted again
// after a growing pause. A keyboard that goes away (a transfer ends with the
// device gone or cannot be submitted again, an endpoint stays halted or keeps
// failing, the LED report finds no device) is released at once, at the end of
// the event handling or LED request that found out, and active() falls; each
// such loss is counted once (takeLosses()), wherever it was found. Nothing is
// decoded while a connection is being released. The libusb context stays
// until close(), so open() can be tried again; where libusb can watch for
// devices coming and going, the context also watches for the keyboard's
// return (takeArrival()).
//
// Opening claims first an interface that no kernel driver holds (a claim there
// detaches nothing, and fails at once when another program holds it), so that
// a keyboard refused because another program holds one interface does not take
// the kernel's driver from the other, and the local console keeps it.
//
// It is the X68000 Z keyboard's back-end of KeyboardConnection
// (keyboard_connection.h), whose contract it keeps.
//
// Ownership: a UsbKeyboard owns its own libusb context (from the first open()
// to close()), the device handle, the three transfers (two interrupt IN, one
// control for the LEDs) and their buffers (the transfers write into this
// object, so it is neither copied nor moved). It does not own the key queue.
//
// Threads: one thread at a time drives it: the owner while nobody handles its
// events, otherwise the thread that handles them (the relay's worker). The
// completion callbacks run inside handleEvents() (and close()). active() and
// interruptEventHandling() may be called from any thread, also while close()
// runs on another: a lock orders the interrupt against the end of the
// context, so libusb is never called on a context being freed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "io/byte_queue.h"
#include "io/ticks.h"
#include "keyboard/endpoint_recovery.h"
#include "keyboard/keyboard_connection.h"
#include "keyboard/led_report.h"
#include "keyboard/report_decoder.h"
#include "keyboard/usb_presence.h"
#include "protocol/host_commands.h"

struct libusb_context;
struct libusb_device_handle;
struct libusb_transfer;

class UsbKeyboard final : public KeyboardConnection {
public:
    // Failure: Absent when no 33DD:0011 device is present, Busy when another
    // program holds one of its interfaces.

    // watchHotplug false: never ask libusb to watch for the keyboard's return,
    // even where it could (the caller then tries open() on a timer instead).
    // keysQueued, if given, is called inside the event handling each time a
    // report has put scan codes in the key queue, before its transfer is
    // submitted again: the caller can send them on at once, ahead of the
    // rest of the event handling. ticks: the clock of the pauses between
    // submissions to a failing endpoint.
    explicit UsbKeyboard(ByteQueue& keyQueue, bool watchHotplug = true,
                         std::function<void()> keysQueued = {}, TickSource ticks = systemTickMs);
    // Closes whatever is still open.
    ~UsbKeyboard() override;
    UsbKeyboard(const UsbKeyboard&) = delete;
    UsbKeyboard& operator=(const UsbKeyboard&) = delete;

    // Opens the first 33DD:0011 keyboard libusb finds, claims both interfaces
    // and submits both transfers, with both previous reports cleared. Returns
    // false, having released the device, when any step fails (failure() says
    // why). Releases an earlier connection first.
    bool open() override;

    // Releases the keyboard (returning as soon as both transfers have ended, at
    // most a second) and ends the libusb context. Safe when nothing is open.
    void close() override;

    // True while the keyboard is open and both endpoints are read (a failing
    // one may be waiting for its next submission).
    bool active() const override { return usbActive.load(); }
    // How many connections were lost since the last call: each keyboard that
    // was active and went away counts once, whether the event handling, an LED
    // report or a release found out. The keys it reported may be held.
    int takeLosses() override { return std::exchange(losses, 0); }

    // Whether libusb tells of a 33DD:0011 device plugged in (takeArrival()),
    // so that nobody needs to try open() on a timer. Known after open().
    bool watchesHotplug() const override { return hotplugHandle >= 0; }
    // True once after a 33DD:0011 device was plugged in, as found by the event
    // handling since the last call.
    bool takeArrival() override { return arrived.exchange(false); }
    bool takeDeparture() override;

    // Whether the last open() could ask the system, without libusb, if the
    // keyboard is plugged in (usbDevicePresent(): Windows), so that looking
    // for it is cheap and the system's own device-change news can prompt it.
    bool presenceFromSystem() const override { return presence != UsbPresence::Unknown; }
    // The kernel's driver gets the interfaces back with no key taken as down.
    bool holdsKeysDown() const override { return false; }
    // Whether the last open() found a 33DD:0011 device in the system's list
    // that libusb could not find or open as present (LIBUSB_ERROR_NOT_FOUND:
    // on Windows, while none of its interfaces has a driver libusb can use
    // yet, as just after it was plugged in).
    bool listedButNotOpenable() const override {
        return presence == UsbPresence::Present && lastFailure == Failure::Absent;
    }

    Failure failure() const override { return lastFailure; }
    // libusb's name for the error behind Failure::Other ("LIBUSB_ERROR_IO").
    const std::string& failureText() const override { return lastFailureText; }

    // libusb's descriptors to wait on beside the caller's own, for a worker
    // that sleeps in poll(). Empty where libusb has none (Windows) or before
    // the first open().
    const std::vector<PollDescriptor>& pollDescriptors() override;
    // Milliseconds until libusb must handle a time-out of its own, -1 for
    // none: the longest a poll() over pollDescriptors() may sleep.
    int nextTimeoutMs() override;
    // Milliseconds from tick now until a failing endpoint is due to be
    // submitted again (0: due), -1 for none or while nothing is open: handleEvents() then submits
    // it, so the caller's wait must end by then.
    int msUntilDue(std::uint32_t now) const override;

    // Runs the callbacks of whatever has completed, waiting at most timeoutMs
    // (-1: no limit) for something to complete or for interruptEventHandling().
    // Then clears halts and submits again what is due, and releases a keyboard
    // found gone. Does nothing before the first open().
    void handleEvents(int timeoutMs) override;
    // Makes a handleEvents() that waits now, or the next one, return at once.
    void interruptEventHandling() override;
    // Whether handleEvents() can wait at all: from the first open() that made
    // a libusb context (even one that found no keyboard) to close(). Any thread.
    bool hasEventContext() const override { return context.load() != nullptr; }

    // The LEDs as the host wants them, brightness 0-3 and a 7-bit mask. One
    // LED feature report is in flight at a time, and none is waited for: a
    // state that differs from the last one sent goes out now, or, while a
    // report is in flight, as soon as that one has ended (only the latest
    // state, then). A report that stalls or is not answered within a quarter
    // of a second loses that one state; one that finds the keyboard gone is
    // a loss (released here, or at the end of the event handling that hears
    // of it). A keyboard opened anew is taken to show no LED. Nothing is sent
    // while inactive.
    void setLeds(std::int32_t brightness, std::int32_t mask) override;

private:
    friend struct UsbKeyboardCallbacks;

    bool fail(Failure why, int libusbError);
    bool makeContext();
    bool claimInterfaces();
    void transferEnded(libusb_transfer* transfer);
    void ledReportEnded(libusb_transfer* transfer);
    void submitLeds();
    bool submitTransfer(int index);
    void recover();
    void markLost();
    void releaseDevice();
    void releaseIfLost();

    ByteQueue& keyQueue;
    std::atomic<bool> usbActive{false};
    std::atomic<libusb_context*> context{nullptr};  // set by the first open(), cleared by close()
    // Held by interruptEventHandling() for its call into libusb and by
    // whoever sets or clears context: a context close() has taken away is
    // interrupted by nobody when libusb_exit() frees it. Nothing else is
    // done under it.
    std::mutex contextMutex;
    libusb_device_handle* deviceHandle = nullptr;
    // The interrupt IN transfers of 0x81 and 0x82, then the LED report's.
    static constexpr int kLedTransfer = 2;
    std::array<libusb_transfer*, 3> transfers{};
    std::array<ReportBuffer, 2> reportBuffers{};
    // The LED report's transfer buffer: the 8-byte setup packet, then the report.
    std::array<unsigned char, 8 + sizeof(LedReport)> ledBuffer{};

    // The LED state last handed to the keyboard (in flight, or sent: a report
    // that failed counts as sent, so a keyboard that does not answer gets no
    // retries) and the state the host wants.
    LedState ledSent;
    LedState ledWanted;

    // Which interfaces are claimed, which transfers are still in flight
    // (cleared by their callback when they end), whether releasing has begun
    // (callbacks then neither decode nor resubmit) and whether a callback found
    // the keyboard gone (released once the event handling returns).
    std::array<bool, 2> claimed{};
    std::array<bool, 3> inFlight{};
    bool releasing = false;
    bool lost = false;
    int losses = 0;  // connections lost since takeLosses()

    // Per endpoint: its trouble so far, and what a callback left for after the
    // event handling: a halt to clear, or a submission due at a later tick.
    std::array<EndpointRecovery, 2> recovery{};
    std::array<bool, 2> haltToClear{};
    std::array<bool, 2> resubmitLater{};

    UsbPresence presence = UsbPresence::Unknown;  // as the last open() found it
    Failure lastFailure = Failure::None;
    std::string lastFailureText;

    const bool hotplugWanted;
    const std::function<void()> keysQueued;
    const TickSource ticks;
    int hotplugHandle = -1;             // libusb's handle of our hotplug callback
    std::atomic<bool> arrived{false};   // set by the hotplug callback
    std::atomic<bool> departed{false};  // the same, for one that left while none was open

    std::vector<PollDescriptor> descriptors;
    std::atomic<bool> descriptorsChanged{true};  // set by libusb's notifiers
};
