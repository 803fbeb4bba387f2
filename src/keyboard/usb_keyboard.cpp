#include "keyboard/usb_keyboard.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "keyboard/led_report.h"
#include "keyboard/usb_presence.h"

namespace {

constexpr std::uint16_t kVendorId = 0x33DD;
constexpr std::uint16_t kProductId = 0x0011;
constexpr unsigned char kEndpoints[2] = {kBootEndpoint, kBitmapEndpoint};
constexpr int kLengths[2] = {kBootReportLength, kBitmapReportLength};

// How long releasing waits for the cancelled transfers to end. The kernel ends
// them at once; one that has not ended by then is left to libusb (leaked, never
// freed while the kernel may still write into it). Short enough that a stop
// that meets it still ends within a second.
constexpr auto kReleaseWait = std::chrono::milliseconds(500);

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
    static void LIBUSB_CALL ledReportEnded(libusb_transfer* transfer) {
        static_cast<UsbKeyboard*>(transfer->user_data)->ledReportEnded(transfer);
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
        } else if (self->deviceHandle == nullptr) {
            self->departed = true;  // one not opened (refused) went
        } else if (libusb_get_device(self->deviceHandle) == device) {
            self->markLost();  // ours went: its transfers will say so too, but maybe later
        }
        return 0;  // stay registered
    }
};

bool UsbKeyboard::takeDeparture() {
    if (!departed.exchange(false) || deviceHandle != nullptr || lastFailure == Failure::Absent ||
        lastFailure == Failure::None) {
        return false;
    }
    lastFailure = Failure::Absent;  // refused before, and now unplugged
    lastFailureText.clear();
    return true;
}

UsbKeyboard::UsbKeyboard(ByteQueue& queue, bool watchHotplug, std::function<void()> keysQueuedHook,
                         TickSource tickSource)
    : keyQueue(queue),
      hotplugWanted(watchHotplug),
      keysQueued(std::move(keysQueuedHook)),
      ticks(std::move(tickSource)) {}

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
    // A keyboard plugged in shows none of the host's LEDs.
    ledSent = {};
    ledWanted = {};
    lastFailure = Failure::None;
    lastFailureText.clear();

    // Where the system tells without a request on the bus that no keyboard is
    // plugged in (Windows' Plug and Play manager), libusb is not asked: it
    // would enumerate every USB device of the machine to find out.
    presence = usbDevicePresent(kVendorId, kProductId);
    if (presence == UsbPresence::Absent) {
        return fail(Failure::Absent, LIBUSB_ERROR_NOT_FOUND);
    }
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
    if (!claimInterfaces()) {
        return false;
    }
    transfers[kLedTransfer] = libusb_alloc_transfer(0);  // filled for each report
    if (transfers[kLedTransfer] == nullptr) {
        return fail(Failure::Other, LIBUSB_ERROR_NO_MEM);
    }
    for (int i = 0; i < 2; ++i) {
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

bool UsbKeyboard::claimInterfaces() {
    // The kernel's HID driver owns both interfaces; libusb detaches it for the
    // claim and attaches it again on release, so the keyboard types into the
    // local console again after we let go. Platforms without drivers to detach
    // report "not supported", which changes nothing.
    libusb_set_auto_detach_kernel_driver(deviceHandle, 1);
    // An interface without a kernel driver (0 here; usbfs, which another
    // program claims through, counts as none) goes first: its claim detaches
    // nothing, and when another program holds it the claim fails before the
    // kernel's driver has been taken from the other interface.
    const bool secondFirst = libusb_kernel_driver_active(deviceHandle, 0) == 1 &&
                             libusb_kernel_driver_active(deviceHandle, 1) == 0;
    for (const int i : secondFirst ? std::array{1, 0} : std::array{0, 1}) {
        if (const int r = libusb_claim_interface(deviceHandle, i); r != LIBUSB_SUCCESS) {
            return fail(failureOf(r), r);
        }
        claimed[i] = true;
    }
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
    std::lock_guard lock(contextMutex);
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
        {
            // An interrupt from another thread (the window's news of a device
            // change) that has the context now ends before it is freed; any
            // later one finds none.
            std::lock_guard lock(contextMutex);
            context = nullptr;
        }
        libusb_exit(ending);
    }
    descriptors.clear();
    descriptorsChanged = true;
}

bool UsbKeyboard::submitTransfer(int index) {
    inFlight[index] = libusb_submit_transfer(transfers[index]) == LIBUSB_SUCCESS;
    return inFlight[index];
}

void UsbKeyboard::markLost() {
    // Counted once per connection: only the first sign finds it still active.
    if (usbActive.exchange(false)) {
        ++losses;
    }
    lost = true;
}

void UsbKeyboard::transferEnded(libusb_transfer* transfer) {
    const int index = transfer->endpoint == kBootEndpoint ? 0 : 1;
    inFlight[index] = false;
    // Once releasing has begun nothing is decoded (the connection is going,
    // and a failed open() never had one) nor resubmitted: releasing frees the
    // transfer as soon as it has ended, and must never free one in flight.
    if (releasing) {
        return;
    }
    switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            recovery[index].succeeded();
            decodeReport(transfer->endpoint, static_cast<std::size_t>(transfer->actual_length),
                         reportBuffers[index], keyQueue);
            if (keysQueued) {
                keysQueued();  // the keys first: resubmitting can wait a moment
            }
            break;
        case LIBUSB_TRANSFER_CANCELLED:  // nobody here cancelled it
        case LIBUSB_TRANSFER_NO_DEVICE:
            markLost();
            return;
        case LIBUSB_TRANSFER_STALL:
            // Submitting into a halted endpoint fails at once, for ever: the
            // halt is cleared first, once the event handling has returned.
            if (recovery[index].halted(ticks()) == EndpointRecovery::Next::GiveUp) {
                markLost();
            } else {
                haltToClear[index] = true;
            }
            return;
        default:  // errors, time-outs, overflows: again after a pause
            if (recovery[index].failed(ticks()) == EndpointRecovery::Next::GiveUp) {
                markLost();
            } else {
                resubmitLater[index] = true;
            }
            return;
    }
    // An endpoint that can no longer be read is a keyboard that no longer
    // works: give it up as lost rather than leave the other half running.
    if (!submitTransfer(index)) {
        markLost();
    }
}

// After event handling: the halts its callbacks found are cleared and the
// transfers submitted again, and so are failed transfers whose pause is over.
void UsbKeyboard::recover() {
    const std::uint32_t now = ticks();
    for (int i = 0; i < 2 && active(); ++i) {
        bool submit = false;
        if (haltToClear[i]) {
            haltToClear[i] = false;
            // A clear that fails for another reason than the device's loss is
            // tried on: the next stall counts towards giving up.
            if (libusb_clear_halt(deviceHandle, kEndpoints[i]) == LIBUSB_ERROR_NO_DEVICE) {
                markLost();
                return;
            }
            submit = true;
        } else if (resubmitLater[i] &&
                   static_cast<std::int32_t>(recovery[i].submitDue() - now) <= 0) {
            resubmitLater[i] = false;
            submit = true;
        }
        if (submit && !submitTransfer(i)) {
            markLost();
        }
    }
}

int UsbKeyboard::msUntilDue(std::uint32_t now) const {
    // Halts need no wait: they are cleared as soon as the event handling that
    // found them returns. Releasing forgets what was due.
    int wait = -1;
    for (int i = 0; i < 2; ++i) {
        if (resubmitLater[i]) {
            const auto left = static_cast<std::int32_t>(recovery[i].submitDue() - now);
            const int ms = left > 0 ? left : 0;
            wait = wait < 0 || ms < wait ? ms : wait;
        }
    }
    return wait;
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
    recover();
    releaseIfLost();
}

void UsbKeyboard::interruptEventHandling() {
    // Under the lock, which close() takes before it frees the context. libusb
    // only takes its own event lock and signals here, and calls nothing of
    // ours, so nothing can wait for this lock inside it.
    std::lock_guard lock(contextMutex);
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
        for (std::size_t i = 0; i < transfers.size(); ++i) {
            if (inFlight[i]) {
                libusb_cancel_transfer(transfers[i]);
            }
        }
        const auto giveUp = std::chrono::steady_clock::now() + kReleaseWait;
        while (std::find(inFlight.begin(), inFlight.end(), true) != inFlight.end()) {
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
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        if (transfers[i] != nullptr && !inFlight[i]) {
            libusb_free_transfer(transfers[i]);
        }
    }
    transfers = {};
    claimed = {};
    inFlight = {};
    recovery = {};
    haltToClear = {};
    resubmitLater = {};
    releasing = false;
    lost = false;
}

void UsbKeyboard::setLeds(std::int32_t brightness, std::int32_t mask) {
    ledWanted = {brightness, mask};
    submitLeds();
    releaseIfLost();  // the submission found the keyboard gone
}

void UsbKeyboard::submitLeds() {
    if (!active() || inFlight[kLedTransfer] || ledWanted == ledSent) {
        return;
    }
    const LedReport report = buildLedReport(ledWanted.ledBrightness, ledWanted.ledMask);
    libusb_fill_control_setup(ledBuffer.data(), LedControlTransfer::kRequestType,
                              LedControlTransfer::kRequest, LedControlTransfer::kValue,
                              LedControlTransfer::kIndex,
                              static_cast<std::uint16_t>(report.size()));
    std::copy(report.begin(), report.end(), ledBuffer.begin() + LIBUSB_CONTROL_SETUP_SIZE);
    libusb_fill_control_transfer(transfers[kLedTransfer], deviceHandle, ledBuffer.data(),
                                 &UsbKeyboardCallbacks::ledReportEnded, this,
                                 LedControlTransfer::kTimeoutMs);
    // Sent or not, this state is done with: a report that cannot go out is
    // lost like one that stalls, and only a new state is tried.
    ledSent = ledWanted;
    const int r = libusb_submit_transfer(transfers[kLedTransfer]);
    inFlight[kLedTransfer] = r == LIBUSB_SUCCESS;
    if (r == LIBUSB_ERROR_NO_DEVICE) {
        markLost();
    }
}

void UsbKeyboard::ledReportEnded(libusb_transfer* transfer) {
    inFlight[kLedTransfer] = false;
    if (releasing) {
        return;  // releasing frees it
    }
    if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) {
        markLost();
        return;
    }
    // Done, stalled or not answered in time: the state the host asked for
    // meanwhile, if any, goes now.
    submitLeds();
}
