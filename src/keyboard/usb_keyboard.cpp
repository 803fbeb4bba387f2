#include "keyboard/usb_keyboard.h"

#include <libusb.h>

#include <chrono>

#include "keyboard/led_report.h"

namespace {

constexpr std::uint16_t kVendorId = 0x33DD;
constexpr std::uint16_t kProductId = 0x0011;
constexpr unsigned char kEndpoints[2] = {kBootEndpoint, kBitmapEndpoint};
constexpr int kLengths[2] = {kBootReportLength, kBitmapReportLength};

// Closing hands libusb ten 100 ms event-handling calls to finish the
// cancellations; a transfer still in flight after that gets up to this much
// longer before it is given up (and leaked rather than freed under the kernel).
constexpr int kCloseEventCalls = 10;
constexpr auto kCloseGrace = std::chrono::seconds(5);

int initLibusb() {
#if defined(LIBUSB_API_VERSION) && LIBUSB_API_VERSION >= 0x0100010A
    return libusb_init_context(nullptr, nullptr, 0);
#else
    return libusb_init(nullptr);
#endif
}

void handleEventsFor(int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
}

}  // namespace

// libusb calls back into a C function; this one forwards to the keyboard.
struct UsbKeyboardCallbacks {
    static void LIBUSB_CALL transferEnded(libusb_transfer* transfer) {
        static_cast<UsbKeyboard*>(transfer->user_data)->transferEnded(transfer);
    }
};

UsbKeyboard::UsbKeyboard(ByteQueue& queue) : keyQueue(queue) {}

UsbKeyboard::~UsbKeyboard() {
    close();
}

bool UsbKeyboard::open() {
    close();  // opening twice must not leak the first connection
    usbActive = 0;
    deviceHandle = nullptr;
    transfers = {};
    reportBuffers = {};
    claimed = {};
    inFlight = {};
    closing = false;

    if (initLibusb() != LIBUSB_SUCCESS) {
        return false;
    }
    libusbReady = true;
    deviceHandle = libusb_open_device_with_vid_pid(nullptr, kVendorId, kProductId);
    if (deviceHandle == nullptr) {
        release(0);
        return false;
    }
    // The kernel's HID driver owns both interfaces; libusb detaches it for the
    // claim and attaches it again on release, so the keyboard types into the
    // local console again after we exit. Platforms without drivers to detach
    // report "not supported", which changes nothing.
    libusb_set_auto_detach_kernel_driver(deviceHandle, 1);
    for (int i = 0; i < 2; ++i) {
        if (libusb_claim_interface(deviceHandle, i) != LIBUSB_SUCCESS) {
            release(0);
            return false;
        }
        claimed[i] = true;
        transfers[i] = libusb_alloc_transfer(0);
        if (transfers[i] == nullptr) {
            release(0);
            return false;
        }
        libusb_fill_interrupt_transfer(transfers[i], deviceHandle, kEndpoints[i],
                                       reportBuffers[i].current(), kLengths[i],
                                       &UsbKeyboardCallbacks::transferEnded, this, 0);
        if (!submitTransfer(i)) {
            release(0);
            return false;
        }
    }
    usbActive = 1;
    return true;
}

void UsbKeyboard::close() {
    usbActive = 0;
    if (deviceHandle == nullptr) {
        return;
    }
    release(kCloseEventCalls);
}

bool UsbKeyboard::submitTransfer(int index) {
    inFlight[index] = libusb_submit_transfer(transfers[index]) == LIBUSB_SUCCESS;
    return inFlight[index];
}

void UsbKeyboard::transferEnded(libusb_transfer* transfer) {
    const int index = transfer->endpoint == kBootEndpoint ? 0 : 1;
    inFlight[index] = false;
    switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            decodeReport(transfer->endpoint, static_cast<std::size_t>(transfer->actual_length),
                         reportBuffers[index], keyQueue);
            break;
        case LIBUSB_TRANSFER_CANCELLED:
        case LIBUSB_TRANSFER_NO_DEVICE:
            usbActive = 0;
            return;
        default:  // errors, time-outs, stalls, overflows: try again
            break;
    }
    // Once closing has begun nothing is resubmitted: closing frees the transfer
    // as soon as it has ended, and must never free one in flight.
    if (!closing) {
        submitTransfer(index);  // a failed resubmission silences this endpoint only
    }
}

void UsbKeyboard::handleEvents(int timeoutMs) {
    if (deviceHandle != nullptr) {  // no libusb context without an open keyboard
        handleEventsFor(timeoutMs);
    }
}

// Ends whatever open() obtained, in reverse order, after at least eventCalls
// rounds of event handling. Transfers are freed only once their callback has
// seen them end.
void UsbKeyboard::release(int eventCalls) {
    closing = true;
    usbActive = 0;
    for (int i = 0; i < 2; ++i) {
        if (inFlight[i]) {
            libusb_cancel_transfer(transfers[i]);
        }
    }
    drainTransfers(eventCalls);
    for (int i = 0; i < 2; ++i) {
        if (transfers[i] != nullptr && !inFlight[i]) {
            libusb_free_transfer(transfers[i]);
        }
        transfers[i] = nullptr;
    }
    for (int i = 0; i < 2; ++i) {
        if (claimed[i]) {
            libusb_release_interface(deviceHandle, i);
            claimed[i] = false;
        }
    }
    if (deviceHandle != nullptr) {
        libusb_close(deviceHandle);
        deviceHandle = nullptr;
    }
    if (libusbReady) {
        libusb_exit(nullptr);
        libusbReady = false;
    }
}

void UsbKeyboard::drainTransfers(int eventCalls) {
    for (int call = 0; call < eventCalls; ++call) {
        handleEventsFor(100);
    }
    const auto giveUp = std::chrono::steady_clock::now() + kCloseGrace;
    while ((inFlight[0] || inFlight[1]) && std::chrono::steady_clock::now() < giveUp) {
        handleEventsFor(100);
    }
}

UsbKeyboard::LedResult UsbKeyboard::sendLeds(std::int32_t brightness, std::int32_t mask) {
    if (!active() || deviceHandle == nullptr) {
        return LedResult::Failed;
    }
    LedReport report = buildLedReport(brightness, mask);
    const int result = libusb_control_transfer(
        deviceHandle, LedControlTransfer::kRequestType, LedControlTransfer::kRequest,
        LedControlTransfer::kValue, LedControlTransfer::kIndex, report.data(),
        static_cast<std::uint16_t>(report.size()), LedControlTransfer::kTimeoutMs);
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        usbActive = 0;
        return LedResult::NoDevice;
    }
    return result < 0 ? LedResult::Failed : LedResult::Sent;
}
