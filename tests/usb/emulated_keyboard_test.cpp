// Plain libusb calls against the emulated keyboard: what a program using
// libusb sees is what a real keyboard under the Linux kernel would show it.
#include "usb/emulated_keyboard.h"

#include <libusb.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Outcome = EmulatedKeyboard::ControlOutcome;

constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;

// Runs libusb's event handling on this thread until done() holds; false if it
// has not after a generous bound (a failed test, not a slow machine).
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds bound = EmulatedKeyboard::kDefaultWait) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        timeval tv{0, 10000};
        const int r = libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
        if (r != LIBUSB_SUCCESS && r != LIBUSB_ERROR_INTERRUPTED) {
            ADD_FAILURE() << "libusb_handle_events: " << libusb_error_name(r);
            return false;
        }
    }
    return true;
}

// Passes of libusb's event handling: each one reaps the emulated node, so a
// completion the emulator had ready would be seen after the first.
void pumpPasses(int passes) {
    for (int i = 0; i < passes; ++i) {
        timeval tv{0, 1000};
        libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
    }
}

// The descriptor, among libusb's pollfds, that libusb waits on for POLLOUT: the
// open keyboard's device node (libusb's own descriptors wait for POLLIN).
// -1 unless there is exactly one.
int usbfsDescriptor() {
    const libusb_pollfd** listed = libusb_get_pollfds(nullptr);
    int fd = -1;
    int found = 0;
    for (int i = 0; listed != nullptr && listed[i] != nullptr; ++i) {
        if (listed[i]->events & POLLOUT) {
            fd = listed[i]->fd;
            ++found;
        }
    }
    libusb_free_pollfds(listed);
    return found == 1 ? fd : -1;
}

// Whether poll() reports fd ready for libusb within timeoutMs.
bool readyWithin(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLOUT) != 0;
}

// An interrupt IN transfer whose callback records what it saw.
class Reader {
public:
    Reader(libusb_device_handle* handle, std::uint8_t endpoint, int length)
        : buffer(static_cast<std::size_t>(length)), transfer(libusb_alloc_transfer(0)) {
        libusb_fill_interrupt_transfer(transfer, handle, endpoint, buffer.data(), length,
                                       &Reader::callback, this, 0);
    }
    ~Reader() {
        // A transfer still in flight must not be freed; the tests end theirs.
        if (!busy) {
            libusb_free_transfer(transfer);
        }
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    int submit() {
        done = false;
        const int r = libusb_submit_transfer(transfer);
        busy = r == LIBUSB_SUCCESS;
        return r;
    }
    int cancel() { return libusb_cancel_transfer(transfer); }
    bool finished() const { return done; }
    bool waitDone() {
        return pumpUntil([this] { return finished(); });
    }

    libusb_transfer_status status() const { return lastStatus; }
    Bytes received() const { return Bytes(received_.begin(), received_.end()); }
    // Every report received while resubmitting (see resubmitOnComplete).
    const std::vector<Bytes>& all() const { return history; }
    void resubmitOnComplete(bool on) { resubmit = on; }

private:
    static void LIBUSB_CALL callback(libusb_transfer* t) {
        auto* self = static_cast<Reader*>(t->user_data);
        self->lastStatus = t->status;
        self->received_.assign(t->buffer, t->buffer + t->actual_length);
        self->history.push_back(self->received_);
        if (self->resubmit && t->status == LIBUSB_TRANSFER_COMPLETED &&
            libusb_submit_transfer(t) == LIBUSB_SUCCESS) {
            return;
        }
        self->busy = false;
        self->done = true;
    }

    std::vector<unsigned char> buffer;
    libusb_transfer* transfer;
    std::atomic<bool> done{false};
    bool busy = false;
    bool resubmit = false;
    libusb_transfer_status lastStatus = LIBUSB_TRANSFER_ERROR;
    std::vector<std::uint8_t> received_;
    std::vector<Bytes> history;
};

constexpr std::uint8_t kSetReportType = 0x21;  // host to device, class, interface
constexpr std::uint8_t kSetReport = 9;
constexpr std::uint16_t kLedReportValue = 0x030a;

// An asynchronous SET_REPORT of the LED report size whose callback notes the
// status it ended with (-1 while it runs).
class AsyncSetReport {
public:
    AsyncSetReport(libusb_device_handle* handle, unsigned timeoutMs)
        : transfer(libusb_alloc_transfer(0)) {
        libusb_fill_control_setup(buffer.data(), kSetReportType, kSetReport, kLedReportValue, 1,
                                  65);
        libusb_fill_control_transfer(
            transfer, handle, buffer.data(),
            [](libusb_transfer* t) {
                static_cast<AsyncSetReport*>(t->user_data)->status = t->status;
            },
            this, timeoutMs);
    }
    ~AsyncSetReport() { libusb_free_transfer(transfer); }  // the tests end theirs first
    AsyncSetReport(const AsyncSetReport&) = delete;
    AsyncSetReport& operator=(const AsyncSetReport&) = delete;

    int submit() { return libusb_submit_transfer(transfer); }

    std::atomic<int> status{-1};

private:
    std::array<unsigned char, LIBUSB_CONTROL_SETUP_SIZE + 65> buffer{};
    libusb_transfer* transfer;
};

// The emulated keyboard and the libusb default context, made and ended in the
// order umockdev needs: testbed first, libusb_exit before the testbed goes.
class UsbTest : public ::testing::Test {
protected:
    void start(EmulatedKeyboard::Options options = {}) {
        keyboard = std::make_unique<EmulatedKeyboard>(options);
        ASSERT_EQ(libusb_init(nullptr), LIBUSB_SUCCESS);
        libusbUp = true;
    }

    // Opens the keyboard with auto-detach on, as the relay does.
    libusb_device_handle* open() {
        libusb_device_handle* h = libusb_open_device_with_vid_pid(
            nullptr, EmulatedKeyboard::kVendorId, EmulatedKeyboard::kProductId);
        if (h != nullptr) {
            EXPECT_EQ(libusb_set_auto_detach_kernel_driver(h, 1), LIBUSB_SUCCESS);
            handles.push_back(h);
        }
        return h;
    }

    libusb_device_handle* openAndClaim() {
        libusb_device_handle* h = open();
        if (h == nullptr) {
            ADD_FAILURE() << "the emulated keyboard did not open";
            return nullptr;
        }
        EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
        EXPECT_EQ(libusb_claim_interface(h, 1), LIBUSB_SUCCESS);
        return h;
    }

    void close(libusb_device_handle* h) {
        std::erase(handles, h);
        libusb_close(h);
    }

    void TearDown() override {
        if (keyboard && !unexpectedChecked) {
            EXPECT_EQ(keyboard->unexpectedIoctls(), std::vector<std::string>{});
        }
        for (libusb_device_handle* h : handles) {
            libusb_close(h);
        }
        if (libusbUp) {
            libusb_exit(nullptr);
        }
        keyboard.reset();
    }

    std::unique_ptr<EmulatedKeyboard> keyboard;
    std::vector<libusb_device_handle*> handles;
    bool libusbUp = false;
    bool unexpectedChecked = false;
};

// --- Presence and descriptors ---------------------------------------------

using Presence = UsbTest;

TEST_F(Presence, WithoutTheKeyboardOpenFindsNothing) {
    start({.present = false});
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(keyboard->opens(), 0);
    EXPECT_EQ(keyboard->devicePath(), "");
}

TEST_F(Presence, DescriptorsAreTheKeyboards) {
    start();
    libusb_device_handle* h = open();
    ASSERT_NE(h, nullptr);
    libusb_device* dev = libusb_get_device(h);
    libusb_device_descriptor dd{};
    ASSERT_EQ(libusb_get_device_descriptor(dev, &dd), LIBUSB_SUCCESS);
    EXPECT_EQ(dd.idVendor, 0x33dd);
    EXPECT_EQ(dd.idProduct, 0x0011);
    EXPECT_EQ(libusb_get_bus_number(dev), 1);
    EXPECT_EQ(libusb_get_device_address(dev), 2);
    EXPECT_EQ(keyboard->devicePath(), "/dev/bus/usb/001/002");

    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(dev, &config), LIBUSB_SUCCESS);
    ASSERT_EQ(config->bNumInterfaces, 2);
    const libusb_interface_descriptor& boot = config->interface[0].altsetting[0];
    const libusb_interface_descriptor& bitmap = config->interface[1].altsetting[0];
    EXPECT_EQ(boot.bInterfaceClass, LIBUSB_CLASS_HID);
    EXPECT_EQ(boot.bInterfaceProtocol, 1);  // boot keyboard
    ASSERT_EQ(boot.bNumEndpoints, 1);
    EXPECT_EQ(boot.endpoint[0].bEndpointAddress, kBoot);
    EXPECT_EQ(boot.endpoint[0].wMaxPacketSize, 8);
    EXPECT_EQ(boot.endpoint[0].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_INTERRUPT);
    ASSERT_EQ(bitmap.bNumEndpoints, 1);
    EXPECT_EQ(bitmap.endpoint[0].bEndpointAddress, kBitmap);
    EXPECT_EQ(bitmap.endpoint[0].wMaxPacketSize, 16);
    libusb_free_config_descriptor(config);
    EXPECT_EQ(keyboard->opens(), 1);
}

TEST_F(Presence, KeyboardPluggedInLaterCanBeOpened) {
    start({.present = false});
    ASSERT_EQ(open(), nullptr);
    keyboard->plugIn();
    libusb_device_handle* h = nullptr;
    // libusb learns of the device from the "add" uevent on its hotplug thread.
    ASSERT_TRUE(keyboard->waitFor([&] { return (h = open()) != nullptr; }));
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->claims(0), 1);
}

// --- Interfaces and the kernel driver --------------------------------------

using Interfaces = UsbTest;

TEST_F(Interfaces, ClaimDetachesUsbhidAndReleaseReattachesIt) {
    start();
    libusb_device_handle* h = open();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 1);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(h, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->claims(0), 1);
    EXPECT_EQ(keyboard->claims(1), 1);
    EXPECT_EQ(keyboard->detaches(0), 1);
    EXPECT_EQ(keyboard->detaches(1), 1);
    EXPECT_TRUE(keyboard->claimed(0));
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 0);  // usbfs holds it now

    EXPECT_EQ(libusb_release_interface(h, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->releases(1), 1);
    EXPECT_EQ(keyboard->reattaches(1), 1);
    EXPECT_EQ(keyboard->releases(0), 0);
    EXPECT_TRUE(keyboard->claimed(0));
    EXPECT_FALSE(keyboard->claimed(1));
    EXPECT_EQ(libusb_kernel_driver_active(h, 1), 1);  // usbhid is back
}

TEST_F(Interfaces, ClaimWithoutDetachIsBusyWhileUsbhidHoldsTheInterface) {
    start();
    libusb_device_handle* h = libusb_open_device_with_vid_pid(nullptr, 0x33dd, 0x0011);
    ASSERT_NE(h, nullptr);
    handles.push_back(h);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(keyboard->claims(0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->detaches(0), 1);
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 0);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->claims(0), 1);
    EXPECT_EQ(libusb_release_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->reattaches(0), 0);  // no auto-detach: libusb leaves it unbound
    EXPECT_EQ(libusb_attach_kernel_driver(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->reattaches(0), 1);
}

TEST_F(Interfaces, FailClaimInterfaceMakesOnlyThatClaimBusy) {
    start({.failClaimInterface = 1});
    libusb_device_handle* h = open();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(h, 1), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(keyboard->claims(0), 1);
    EXPECT_EQ(keyboard->claims(1), 0);
    EXPECT_FALSE(keyboard->claimed(1));
}

TEST_F(Interfaces, ClosingReleasesClaimsAsTheKernelDoes) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(keyboard->opens(), 1);
    close(h);
    ASSERT_TRUE(keyboard->waitForCloses(1));
    EXPECT_FALSE(keyboard->claimed(0));
    EXPECT_FALSE(keyboard->claimed(1));
    EXPECT_EQ(keyboard->releases(0), 0);  // nothing asked for a release
    // A second open can claim again: the first left nothing behind.
    libusb_device_handle* again = openAndClaim();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(keyboard->claims(0), 2);
}

TEST_F(Interfaces, SubmittingOnAnUnclaimedInterfaceIsFlagged) {
    start();
    libusb_device_handle* h = open();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    EXPECT_EQ(boot.submit(), LIBUSB_ERROR_IO);  // usbhid still holds it: EBUSY
    const std::vector<std::string> unexpected = keyboard->unexpectedIoctls();
    ASSERT_EQ(unexpected.size(), 1u);
    EXPECT_NE(unexpected[0].find("interface 0"), std::string::npos) << unexpected[0];
    EXPECT_EQ(keyboard->submits(kBoot), 0);
    unexpectedChecked = true;  // this record is the point of the test
}

// --- Interrupt reports -----------------------------------------------------

using Reports = UsbTest;

TEST_F(Reports, ReportArrivesWithItsBytesOnItsOwnEndpoint) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    Reader bitmap(h, kBitmap, 16);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->submits(kBoot), 1);
    EXPECT_EQ(keyboard->submits(kBitmap), 1);
    EXPECT_TRUE(keyboard->inFlight(kBoot));
    EXPECT_TRUE(keyboard->inFlight(kBitmap));

    const Bytes bitmapReport{0x02, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80};
    keyboard->sendReport(kBitmap, bitmapReport);
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(bitmap.received(), bitmapReport);
    EXPECT_FALSE(boot.finished());
    EXPECT_TRUE(keyboard->inFlight(kBoot));
    EXPECT_FALSE(keyboard->inFlight(kBitmap));

    const Bytes bootReport{0x02, 0, 0x04, 0x05, 0, 0, 0, 0};
    keyboard->sendReport(kBoot, bootReport);
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(boot.received(), bootReport);

    const auto delivered = keyboard->deliveries();
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].endpoint, kBitmap);
    EXPECT_EQ(delivered[0].length, 16u);
    EXPECT_EQ(delivered[1].endpoint, kBoot);
    EXPECT_EQ(delivered[1].length, 8u);
    EXPECT_LE(delivered[0].queuedAt, delivered[0].reapedAt);
    EXPECT_LE(delivered[0].reapedAt, delivered[1].queuedAt);
}

TEST_F(Reports, NodeIsReadyForPollOnlyWhileACompletionWaitsToBeReaped) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    const int node = usbfsDescriptor();
    ASSERT_GE(node, 0);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    EXPECT_FALSE(readyWithin(node, 100));  // an event loop would sleep: no report yet
    keyboard->sendReport(kBoot, Bytes(8, 2));
    EXPECT_TRUE(readyWithin(node, static_cast<int>(EmulatedKeyboard::kDefaultWait.count())));
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_FALSE(readyWithin(node, 0));  // reaped: nothing left to wake for
}

TEST_F(Reports, ReportQueuedFirstCompletesTheNextTransfer) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    keyboard->sendReport(kBoot, {0, 0, 0x29, 0, 0, 0, 0, 0});
    EXPECT_EQ(keyboard->pendingReports(kBoot), 1u);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.received(), (Bytes{0, 0, 0x29, 0, 0, 0, 0, 0}));
    EXPECT_EQ(keyboard->pendingReports(kBoot), 0u);
    EXPECT_TRUE(keyboard->waitForDelivered());
}

TEST_F(Reports, WrongLengthReportArrivesWithItsActualLength) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, {1, 2, 3, 4, 5, 6, 7});
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(boot.received(), (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(Reports, ReportLongerThanTheTransferOverflows) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_OVERFLOW);
    EXPECT_EQ(boot.received(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(Reports, ReportsOnOneEndpointArriveInOrder) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader bitmap(h, kBitmap, 16);
    bitmap.resubmitOnComplete(true);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    std::vector<Bytes> sent;
    for (std::uint8_t i = 1; i <= 5; ++i) {
        Bytes report(16, 0);
        report[0] = i;
        report[15] = static_cast<std::uint8_t>(0xf0 | i);
        sent.push_back(report);
        keyboard->sendReport(kBitmap, report);
    }
    ASSERT_TRUE(pumpUntil([&] { return bitmap.all().size() == sent.size(); }));
    EXPECT_EQ(bitmap.all(), sent);
    EXPECT_EQ(keyboard->submits(kBitmap), 6);  // the first and one after each report
    // End the resubmitting transfer before the handle goes.
    bitmap.resubmitOnComplete(false);
    ASSERT_EQ(bitmap.cancel(), LIBUSB_SUCCESS);
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_CANCELLED);
}

TEST_F(Reports, FailSubmitEndpointFailsOnlyThatEndpoint) {
    start({.failSubmitEndpoint = kBitmap});
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    Reader bitmap(h, kBitmap, 16);
    EXPECT_EQ(bitmap.submit(), LIBUSB_ERROR_IO);  // EINVAL from SUBMITURB
    EXPECT_EQ(keyboard->submits(kBitmap), 0);
    EXPECT_FALSE(keyboard->inFlight(kBitmap));
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, Bytes(8, 0));
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
}

TEST_F(Reports, FailedTransferAndFailedSubmitLeaveTheKeyboardPluggedIn) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    EXPECT_FALSE(keyboard->failTransfer(kBoot));  // nothing in flight
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->failNextSubmit(kBoot);
    ASSERT_TRUE(keyboard->failTransfer(kBoot));
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_ERROR);
    EXPECT_EQ(boot.submit(), LIBUSB_ERROR_NO_DEVICE);
    // Only the next one: the endpoint works again.
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, Bytes(8, 3));
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(keyboard->submits(kBoot), 2);
    EXPECT_TRUE(keyboard->pluggedIn());
}

TEST_F(Reports, FailSubmitWithNoDeviceErrno) {
    start({.failSubmitEndpoint = kBoot, .failSubmitErrno = ENODEV});
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    EXPECT_EQ(boot.submit(), LIBUSB_ERROR_NO_DEVICE);
}

// --- Control transfers (the LED report) ------------------------------------

using Control = UsbTest;

Bytes ledReport() {
    Bytes data(65, 0);
    data[0] = 0x0a;
    data[1] = 0x5a;
    data[64] = 0xa5;
    return data;
}

int sendLeds(libusb_device_handle* h, unsigned int timeoutMs = 1000) {
    Bytes data = ledReport();
    return libusb_control_transfer(h, kSetReportType, kSetReport, kLedReportValue, 1, data.data(),
                                   static_cast<std::uint16_t>(data.size()), timeoutMs);
}

TEST_F(Control, SetReportIsRecordedWithItsSetupAndData) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sendLeds(h), 65);
    const auto requests = keyboard->controlRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].bmRequestType, 0x21);
    EXPECT_EQ(requests[0].bRequest, 9);
    EXPECT_EQ(requests[0].wValue, 0x030a);
    EXPECT_EQ(requests[0].wIndex, 1);
    EXPECT_EQ(requests[0].wLength, 65);
    EXPECT_EQ(requests[0].data, ledReport());
    EXPECT_EQ(keyboard->submits(EmulatedKeyboard::kControlEndpoint), 1);
    EXPECT_TRUE(keyboard->waitUntilIdle());
}

TEST_F(Control, OutcomesMapToLibusbErrors) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    keyboard->setControlOutcome(Outcome::Stall);
    EXPECT_EQ(sendLeds(h), LIBUSB_ERROR_PIPE);
    keyboard->setControlOutcome(Outcome::NeverComplete);
    EXPECT_EQ(sendLeds(h, 50), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(keyboard->discards(EmulatedKeyboard::kControlEndpoint), 1);  // libusb's time-out
    keyboard->setControlOutcome(Outcome::NoDevice);
    EXPECT_EQ(sendLeds(h), LIBUSB_ERROR_NO_DEVICE);
    keyboard->setControlOutcome(Outcome::Ack);
    EXPECT_EQ(sendLeds(h), 65);
    const auto requests = keyboard->controlRequests();
    ASSERT_EQ(requests.size(), 4u);  // every attempt is recorded, whatever its end
    for (const auto& r : requests) {
        EXPECT_EQ(r.data, ledReport());
    }
    EXPECT_EQ(keyboard->submits(EmulatedKeyboard::kControlEndpoint), 3);  // not the ENODEV one
    EXPECT_TRUE(keyboard->waitUntilIdle());
}

TEST_F(Control, AsyncStallEndsWithStallStatus) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    keyboard->setControlOutcome(Outcome::Stall);
    AsyncSetReport leds(h, 1000);
    ASSERT_EQ(leds.submit(), LIBUSB_SUCCESS);
    ASSERT_TRUE(pumpUntil([&] { return leds.status != -1; }));
    EXPECT_EQ(leds.status, LIBUSB_TRANSFER_STALL);
}

TEST_F(Control, SlowOutcomeStaysInFlightForItsDelay) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    keyboard->setControlOutcome(Outcome::Slow);
    keyboard->setControlDelay(std::chrono::minutes(1));
    AsyncSetReport leds(h, 0);
    ASSERT_EQ(leds.submit(), LIBUSB_SUCCESS);
    EXPECT_TRUE(keyboard->failTransfer(EmulatedKeyboard::kControlEndpoint));  // still in flight
    ASSERT_TRUE(pumpUntil([&] { return leds.status != -1; }));
    EXPECT_EQ(leds.status, LIBUSB_TRANSFER_ERROR);
    keyboard->setControlDelay(std::chrono::milliseconds(20));
    EXPECT_EQ(sendLeds(h, 10000), 65);
    EXPECT_TRUE(keyboard->waitUntilIdle());
}

// --- Cancellation ----------------------------------------------------------

using Cancel = UsbTest;

TEST_F(Cancel, CancelledTransferEndsWithCancelledStatus) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    Reader bitmap(h, kBitmap, 16);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    ASSERT_EQ(boot.cancel(), LIBUSB_SUCCESS);
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(boot.received(), Bytes{});
    EXPECT_EQ(keyboard->discards(kBoot), 1);
    EXPECT_EQ(keyboard->discards(kBitmap), 0);
    EXPECT_FALSE(keyboard->inFlight(kBoot));
    EXPECT_TRUE(keyboard->inFlight(kBitmap));
    EXPECT_FALSE(bitmap.finished());

    // A cancelled transfer can be submitted again and still gets reports.
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, {0, 0, 0x04, 0, 0, 0, 0, 0});
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);

    ASSERT_EQ(bitmap.cancel(), LIBUSB_SUCCESS);
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_CANCELLED);
    EXPECT_TRUE(keyboard->waitUntilIdle());
}

TEST_F(Cancel, HeldDiscardKeepsTheCancellationPendingUntilReleased) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->holdDiscards(true);
    ASSERT_EQ(boot.cancel(), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->discards(kBoot), 1);
    pumpPasses(50);  // each pass reaps; a given-back URB would complete here
    EXPECT_FALSE(boot.finished());
    EXPECT_TRUE(keyboard->inFlight(kBoot));
    // A report now has no URB in flight to complete.
    keyboard->sendReport(kBoot, Bytes(8, 1));
    pumpPasses(50);
    EXPECT_FALSE(boot.finished());

    keyboard->holdDiscards(false);
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_CANCELLED);
    EXPECT_FALSE(keyboard->inFlight(kBoot));
    EXPECT_EQ(keyboard->pendingReports(kBoot), 1u);
}

TEST_F(Cancel, CancellingAFinishedTransferIsNotFound) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBoot, Bytes(8, 0));
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.cancel(), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(keyboard->discards(kBoot), 0);
}

// --- Unplug ----------------------------------------------------------------

using Unplug = UsbTest;

TEST_F(Reports, ReportArrivingBeforeACancelWinsOverIt) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    // Completed by the device while nobody handled events: too late to cancel.
    keyboard->sendReport(kBoot, Bytes{0, 0, 0x04, 0, 0, 0, 0, 0});
    EXPECT_EQ(keyboard->pendingReports(kBoot), 1u);
    EXPECT_EQ(boot.cancel(), LIBUSB_ERROR_NOT_FOUND);
    ASSERT_TRUE(boot.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(boot.received(), (Bytes{0, 0, 0x04, 0, 0, 0, 0, 0}));
    EXPECT_EQ(keyboard->discards(kBoot), 0);
    EXPECT_EQ(keyboard->pendingReports(kBoot), 0u);
}

TEST_F(Unplug, TransfersInFlightEndWithNoDevice) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    Reader bitmap(h, kBitmap, 16);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    const int node = usbfsDescriptor();
    ASSERT_GE(node, 0);
    // The first report completes the boot transfer before the unplug, so it
    // is still delivered; the second finds no transfer and is lost.
    keyboard->sendReport(kBoot, Bytes(8, 0));
    keyboard->sendReport(kBoot, Bytes(8, 1));
    keyboard->unplug();
    EXPECT_FALSE(keyboard->pluggedIn());
    ASSERT_TRUE(boot.waitDone());
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_TRUE(readyWithin(node, 0));  // all reaped, yet ready: the device is gone
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(boot.received(), Bytes(8, 0));
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_NO_DEVICE);
    EXPECT_EQ(keyboard->deliveries().size(), 1u);
    EXPECT_EQ(keyboard->pendingReports(kBoot), 0u);

    // Everything after the unplug meets a missing device.
    EXPECT_EQ(boot.submit(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(sendLeds(h), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_release_interface(h, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(keyboard->releases(0), 0);
    EXPECT_FALSE(keyboard->claimed(0));
    EXPECT_EQ(keyboard->controlRequests().size(), 0u);
    EXPECT_EQ(open(), nullptr);
}

TEST_F(Unplug, ControlTransferInFlightEndsWithNoDevice) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    keyboard->setControlOutcome(Outcome::NeverComplete);
    AsyncSetReport leds(h, 0);
    ASSERT_EQ(leds.submit(), LIBUSB_SUCCESS);
    ASSERT_TRUE(keyboard->waitForControlRequests(1));
    keyboard->unplug();
    ASSERT_TRUE(pumpUntil([&] { return leds.status != -1; }));
    EXPECT_EQ(leds.status, LIBUSB_TRANSFER_NO_DEVICE);
}

TEST_F(Unplug, HeldCancellationEndsAsCancelled) {
    start();
    libusb_device_handle* h = openAndClaim();
    ASSERT_NE(h, nullptr);
    Reader boot(h, kBoot, 8);
    Reader bitmap(h, kBitmap, 16);
    ASSERT_EQ(boot.submit(), LIBUSB_SUCCESS);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    keyboard->holdDiscards(true);
    ASSERT_EQ(boot.cancel(), LIBUSB_SUCCESS);
    keyboard->unplug();
    ASSERT_TRUE(boot.waitDone());
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_EQ(boot.status(), LIBUSB_TRANSFER_CANCELLED);
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_NO_DEVICE);
}

TEST_F(Unplug, KeyboardPluggedInAgainWorksUnderANewAddress) {
    start();
    libusb_device_handle* first = openAndClaim();
    ASSERT_NE(first, nullptr);
    keyboard->unplug();
    close(first);
    ASSERT_TRUE(keyboard->waitForCloses(1));
    keyboard->plugIn();
    EXPECT_EQ(keyboard->devicePath(), "/dev/bus/usb/001/003");
    libusb_device_handle* h = nullptr;
    ASSERT_TRUE(keyboard->waitFor([&] { return (h = open()) != nullptr; }));
    EXPECT_EQ(libusb_get_device_address(libusb_get_device(h)), 3);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(h, 1), LIBUSB_SUCCESS);
    EXPECT_EQ(keyboard->detaches(0), 2);  // usbhid bound the new device again
    Reader bitmap(h, kBitmap, 16);
    ASSERT_EQ(bitmap.submit(), LIBUSB_SUCCESS);
    keyboard->sendReport(kBitmap, Bytes(16, 7));
    ASSERT_TRUE(bitmap.waitDone());
    EXPECT_EQ(bitmap.status(), LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(bitmap.received(), Bytes(16, 7));
}

// --- Another process -------------------------------------------------------

// The child's side of CrossProcess: this same program, started with
// PELLORA_USB_TESTBED_CHILD set, runs this before main() and exits. It uses
// plain libusb as the real program would and prints what it saw on stdout.
std::string hexOf(const unsigned char* bytes, int length) {
    std::string text;
    char digits[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

int runChild() {
    if (libusb_init(nullptr) != LIBUSB_SUCCESS) {
        return 10;
    }
    libusb_device_handle* h = libusb_open_device_with_vid_pid(nullptr, 0x33dd, 0x0011);
    if (h == nullptr) {
        return 11;
    }
    libusb_set_auto_detach_kernel_driver(h, 1);
    if (libusb_claim_interface(h, 0) != 0 || libusb_claim_interface(h, 1) != 0) {
        return 12;
    }
    struct Slot {
        std::array<unsigned char, 16> buffer{};
        int completions = 0;
        int status = -1;
        int length = 0;
    };
    std::array<Slot, 2> slots;
    std::array<libusb_transfer*, 2> transfers{};
    auto callback = [](libusb_transfer* t) {
        auto* slot = static_cast<Slot*>(t->user_data);
        slot->status = t->status;
        slot->length = t->actual_length;
        ++slot->completions;
    };
    for (int i = 0; i < 2; ++i) {
        transfers[i] = libusb_alloc_transfer(0);
        libusb_fill_interrupt_transfer(transfers[i], h, static_cast<unsigned char>(0x81 + i),
                                       slots[i].buffer.data(), i == 0 ? 8 : 16, callback, &slots[i],
                                       0);
    }
    auto runUntil = [&](int completions) {
        const auto deadline = std::chrono::steady_clock::now() + EmulatedKeyboard::kDefaultWait;
        while ((slots[0].completions < completions || slots[1].completions < completions) &&
               std::chrono::steady_clock::now() < deadline) {
            timeval tv{0, 10000};
            libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
        }
    };
    for (libusb_transfer* t : transfers) {
        libusb_submit_transfer(t);
    }
    runUntil(1);
    std::string out = "boot=" + hexOf(slots[0].buffer.data(), slots[0].length) +
                      " bitmap=" + hexOf(slots[1].buffer.data(), slots[1].length);
    std::array<unsigned char, 65> leds{};
    leds[0] = 0x0a;
    leds[1] = 0x42;
    out += " leds=" +
           std::to_string(libusb_control_transfer(h, 0x21, 9, 0x030a, 1, leds.data(), 65, 1000));
    for (libusb_transfer* t : transfers) {
        libusb_submit_transfer(t);
    }
    runUntil(2);  // the parent unplugs the keyboard
    out += " end=" + std::to_string(slots[0].status) + "," + std::to_string(slots[1].status);
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
    for (libusb_transfer* t : transfers) {
        libusb_free_transfer(t);
    }
    libusb_close(h);
    libusb_exit(nullptr);
    return 0;
}

[[maybe_unused]] const bool childRan = [] {
    if (std::getenv("PELLORA_USB_TESTBED_CHILD") != nullptr) {
        std::_Exit(runChild());
    }
    return false;
}();

// Reads what the child prints until it closes its end; stops at the bound.
std::string readAll(int fd) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + EmulatedKeyboard::kDefaultWait;
    char chunk[256];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(CrossProcess, ChildProcessDrivesTheSameKeyboard) {
    EmulatedKeyboard keyboard;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // The inherited environment carries UMOCKDEV_DIR.
    std::vector<std::string> env{"PELLORA_USB_TESTBED_CHILD=1",
                                 "LD_PRELOAD=" + umockdevChildPreload()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0) {
            env.emplace_back(*e);
        }
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ASSERT_EQ(spawned, 0);

    const bool submitted = keyboard.waitForSubmits(kBoot, 1) && keyboard.waitForSubmits(kBitmap, 1);
    EXPECT_TRUE(submitted);
    keyboard.sendReport(kBoot, {0x02, 0, 0x04, 0, 0, 0, 0, 0});
    keyboard.sendReport(kBitmap, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    EXPECT_TRUE(keyboard.waitForControlRequests(1));
    EXPECT_TRUE(keyboard.waitForSubmits(kBoot, 2) && keyboard.waitForSubmits(kBitmap, 2));
    keyboard.unplug();
    const std::string printed = readAll(out[0]);
    close(out[0]);
    // The child must be gone before the testbed: one left inside an emulated
    // ioctl would hang.
    int status = 0;
    if (!keyboard.waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the child did not end";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(printed,
              "boot=0200040000000000 bitmap=0102030405060708090a0b0c0d0e0f10 leds=65 "
              "end=5,5\n");  // 5: LIBUSB_TRANSFER_NO_DEVICE
    EXPECT_EQ(keyboard.opens(), 1);
    EXPECT_EQ(keyboard.claims(0), 1);
    EXPECT_EQ(keyboard.claims(1), 1);
    const auto requests = keyboard.controlRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].wValue, 0x030a);
    ASSERT_EQ(requests[0].data.size(), 65u);
    EXPECT_EQ(requests[0].data[1], 0x42);
    EXPECT_EQ(keyboard.unexpectedIoctls(), std::vector<std::string>{});
}

// --- The emulator's own contract -------------------------------------------

TEST(EmulatedKeyboardContract, PreloadIsLoaded) {
    EXPECT_TRUE(umockdevPreloadLoaded());
}

TEST(EmulatedKeyboardContract, ReportsOnlyOnTheKeyboardsEndpoints) {
    EmulatedKeyboard keyboard;
    EXPECT_THROW(keyboard.sendReport(0x83, Bytes(8, 0)), std::invalid_argument);
    EXPECT_THROW(keyboard.sendReport(0x01, Bytes(8, 0)), std::invalid_argument);
    keyboard.sendReport(kBoot, Bytes(8, 0));
    EXPECT_EQ(keyboard.pendingReports(kBoot), 1u);
    EXPECT_EQ(keyboard.pendingReports(kBitmap), 0u);
}

TEST(EmulatedKeyboardContract, OneInstanceAtATime) {
    {
        EmulatedKeyboard keyboard;
        EXPECT_THROW(EmulatedKeyboard second, std::logic_error);
    }
    EmulatedKeyboard after;  // the first one's end frees the place
    EXPECT_TRUE(after.pluggedIn());
}

}  // namespace
