#include "keyboard/usb_keyboard.h"

#include <libusb.h>

#include <chrono>
#include <utility>

#include "keyboard/led_report.h"

namespace {

constexpr std::uint16_t kVendorId = 0x33DD;
constexpr std::uint16_t kProductId = 0x0011;
constexpr unsigned char kEndpoints[2] = {kBootEndpoint, kBitmapEndpoint};
constexpr int kLengths[2] = {kBootReportLength, kBitmapReportLength};

// How long releasing waits for the cancelled transfers to end. The kernel ends
// them at once; one that has not ended by then is left to libusb (leaked, never
// freed while the kernel may still write into it).
constexpr auto kReleaseWait = std::chrono::seconds(1);

int initContext(libusb_context** context) {
#if defined(LIBUSB_API_VERSION) && LIBUSB_API_VERSION >= 0x0100010A
    return libusb_init_context(context, nullptr, 0);
#else
    return libusb_init(context);
#endif
}

timeval toTimeval(int ms) {
    return timeval{ms / 1000, (ms % 1000) * 1000};
}

// The first 33DD:0011 device of the context's list, referenced, or nullptr.
libusb_device* findKeyboard(libusb_context* context) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count && found == nullptr; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == LIBUSB_SUCCESS &&
            descriptor.idVendor == kVendorId && descriptor.idProduct == kProductId) {
            found = libusb_ref_device(list[i]);
        }
    }
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    return found;
}

UsbKeyboard::Failure failureOf(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return UsbKeyboard::Failure::NoPermission;
        case LIBUSB_ERROR_BUSY:
            return UsbKeyboard::Failure::Busy;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return UsbKeyboard::Failure::Absent;
        default:
            return UsbKeyboard::Failure::Other;
    }
}

}  // namespace

// libusb calls back into C functions; these forward to the keyboard.
struct UsbKeyboardCallbacks {
    static void LIBUSB_CALL transferEnded(libusb_transfer* transfer) {
        static_cast<UsbKeyboard*>(transfer->user_data)->transferEnded(transfer);
    }
    static void LIBUSB_CALL pollfdAdded(int, short, void* keyboard) {
        static_cast<UsbKeyboard*>(keyboard)->descriptorsChanged = true;
    }
    static void LIBUSB_CALL pollfdRemoved(int, void* keyboard) {
        static_cast<UsbKeyboard*>(keyboard)->descriptorsChanged = true;
    }
    // Runs inside event handling. It only takes note: opening the keyboard is
    // the event loop's business, not a callback's.
    static int LIBUSB_CALL hotplug(libusb_context*, libusb_device* device,
                                   libusb_hotplug_event event, void* user) {
        auto* self = static_cast<UsbKeyboard*>(user);
        if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
            self->arrived = true;
        } else if (self->deviceHandle != nullptr &&
                   libusb_get_device(self->deviceHandle) == device) {
            // Ours went: its transfers will say so too, but maybe later.
            self->lost = true;
            self->usbActive = false;
        }
        return 0;  // stay registered
    }
};

UsbKeyboard::UsbKeyboard(ByteQueue& queue, bool watchHotplug, std::function<void()> keysQueuedHook)
    : keyQueue(queue), hotplugWanted(watchHotplug), keysQueued(std::move(keysQueuedHook)) {}

UsbKeyboard::~UsbKeyboard() {
    close();
}

bool UsbKeyboard::fail(Failure why, int libusbError) {
    releaseDevice();
    lastFailure = why;
    lastFailureText = why == Failure::Other ? libusb_error_name(libusbError) : "";
    return false;
}

bool UsbKeyboard::open() {
    releaseDevice();  // opening twice must not leak the first connection
    reportBuffers = {};
    lastFailure = Failure::None;
    lastFailureText.clear();

    if (context == nullptr && !makeContext()) {
        return false;
    }
    arrived = false;  // whatever came before, this is the look that counts

    libusb_device* device = findKeyboard(context);
    if (device == nullptr) {
        return fail(Failure::Absent, LIBUSB_ERROR_NOT_FOUND);
    }
    const int opened = libusb_open(device, &deviceHandle);
    libusb_unref_device(device);  // the handle keeps its own reference
    if (opened != LIBUSB_SUCCESS) {
        deviceHandle = nullptr;
        return fail(failureOf(opened), opened);
    }
    // The kernel's HID driver owns both interfaces; libusb detaches it for the
    // claim and attaches it again on release, so the keyboard types into the
    // local console again after we let go. Platforms without drivers to detach
    // report "not supported", which changes nothing.
    libusb_set_auto_detach_kernel_driver(deviceHandle, 1);
    for (int i = 0; i < 2; ++i) {
        if (const int r = libusb_claim_interface(deviceHandle, i); r != LIBUSB_SUCCESS) {
            return fail(failureOf(r), r);
        }
        claimed[i] = true;
        transfers[i] = libusb_alloc_transfer(0);
        if (transfers[i] == nullptr) {
            return fail(Failure::Other, LIBUSB_ERROR_NO_MEM);
        }
        libusb_fill_interrupt_transfer(transfers[i], deviceHandle, kEndpoints[i],
                                       reportBuffers[i].current(), kLengths[i],
                                       &UsbKeyboardCallbacks::transferEnded, this, 0);
        if (const int r = libusb_submit_transfer(transfers[i]); r != LIBUSB_SUCCESS) {
            return fail(failureOf(r), r);
        }
        inFlight[i] = true;
    }
    usbActive = true;
    return true;
}

bool UsbKeyboard::makeContext() {
    libusb_context* made = nullptr;
    if (const int r = initContext(&made); r != LIBUSB_SUCCESS) {
        return fail(Failure::Other, r);
    }
    libusb_set_pollfd_notifiers(made, &UsbKeyboardCallbacks::pollfdAdded,
                                &UsbKeyboardCallbacks::pollfdRemoved, this);
    descriptorsChanged = true;
    if (hotplugWanted && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
        libusb_hotplug_callback_handle handle = -1;
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        if (libusb_hotplug_register_callback(made, events, LIBUSB_HOTPLUG_NO_FLAGS, kVendorId,
                                             kProductId, LIBUSB_HOTPLUG_MATCH_ANY,
                                             &UsbKeyboardCallbacks::hotplug, this,
                                             &handle) == LIBUSB_SUCCESS) {
            hotplugHandle = handle;
        }
    }
    context = made;
    return true;
}

void UsbKeyboard::close() {
    releaseDevice();
    if (libusb_context* ending = context; ending != nullptr) {
        if (hotplugHandle >= 0) {
            libusb_hotplug_deregister_callback(ending, hotplugHandle);
            hotplugHandle = -1;
        }
        context = nullptr;
        libusb_exit(ending);
    }
    descriptors.clear();
    descriptorsChanged = true;
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
            if (keysQueued) {
                keysQueued();  // the keys first: resubmitting can wait a moment
            }
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            if (!releasing) {
                lost = true;  // nobody here cancelled it
                usbActive = false;
            }
            return;
        case LIBUSB_TRANSFER_NO_DEVICE:
            lost = true;
            usbActive = false;
            return;
        default:  // errors, time-outs, stalls, overflows: try again
            break;
    }
    // Once releasing has begun nothing is resubmitted: releasing frees the
    // transfer as soon as it has ended, and must never free one in flight.
    if (releasing) {
        return;
    }
    // An endpoint that can no longer be read is a keyboard that no longer
    // works: give it up as lost rather than leave the other half running.
    if (!submitTransfer(index)) {
        lost = true;
        usbActive = false;
    }
}

const std::vector<UsbKeyboard::PollDescriptor>& UsbKeyboard::pollDescriptors() {
    if (context != nullptr && descriptorsChanged.exchange(false)) {
        descriptors.clear();
        if (const libusb_pollfd** fds = libusb_get_pollfds(context); fds != nullptr) {
            for (const libusb_pollfd** fd = fds; *fd != nullptr; ++fd) {
                descriptors.push_back({(*fd)->fd, (*fd)->events});
            }
            libusb_free_pollfds(fds);
        }
    }
    return descriptors;
}

int UsbKeyboard::nextTimeoutMs() {
    timeval tv{};
    if (context == nullptr || libusb_get_next_timeout(context, &tv) != 1) {
        return -1;
    }
    // Rounded up: waking a little late costs nothing, too early a round trip.
    return static_cast<int>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
}

void UsbKeyboard::handleEvents(int timeoutMs) {
    if (context == nullptr) {
        return;
    }
    if (timeoutMs < 0) {
        libusb_handle_events_completed(context, nullptr);
    } else {
        timeval tv = toTimeval(timeoutMs);
        libusb_handle_events_timeout_completed(context, &tv, nullptr);
    }
    releaseIfLost();
}

void UsbKeyboard::interruptEventHandling() {
    if (libusb_context* c = context; c != nullptr) {
        libusb_interrupt_event_handler(c);
    }
}

void UsbKeyboard::releaseIfLost() {
    if (lost && !releasing) {
        releaseDevice();
    }
}

// Ends whatever open() obtained of the device, in reverse order. Transfers are
// freed only once their callback has seen them end.
void UsbKeyboard::releaseDevice() {
    usbActive = false;
    if (deviceHandle != nullptr) {
        releasing = true;
        for (int i = 0; i < 2; ++i) {
            if (inFlight[i]) {
                libusb_cancel_transfer(transfers[i]);
            }
        }
        const auto giveUp = std::chrono::steady_clock::now() + kReleaseWait;
        while (inFlight[0] || inFlight[1]) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            timeval tv = toTimeval(static_cast<int>(left.count()));
            libusb_handle_events_timeout_completed(context, &tv, nullptr);
        }
        for (int i = 0; i < 2; ++i) {
            if (claimed[i]) {
                libusb_release_interface(deviceHandle, i);
            }
        }
        libusb_close(deviceHandle);
        deviceHandle = nullptr;
    }
    for (int i = 0; i < 2; ++i) {
        if (transfers[i] != nullptr && !inFlight[i]) {
            libusb_free_transfer(transfers[i]);
        }
    }
    transfers = {};
    claimed = {};
    inFlight = {};
    releasing = false;
    lost = false;
}

UsbKeyboard::LedResult UsbKeyboard::sendLeds(std::int32_t brightness, std::int32_t mask) {
    if (!active()) {
        return LedResult::Failed;
    }
    LedReport report = buildLedReport(brightness, mask);
    const int result = libusb_control_transfer(
        deviceHandle, LedControlTransfer::kRequestType, LedControlTransfer::kRequest,
        LedControlTransfer::kValue, LedControlTransfer::kIndex, report.data(),
        static_cast<std::uint16_t>(report.size()), LedControlTransfer::kTimeoutMs);
    if (result == LIBUSB_ERROR_NO_DEVICE) {
        lost = true;
    }
    // The wait ran the input transfers' callbacks too, which may have found
    // the keyboard gone.
    const bool gone = lost;
    releaseIfLost();
    if (gone) {
        return LedResult::NoDevice;
    }
    return result < 0 ? LedResult::Failed : LedResult::Sent;
}
