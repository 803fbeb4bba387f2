// EmulatedKeyboard: an X68000 Z keyboard (USB 33dd:0011) that unmodified
// libusb opens, claims and talks to, for tests of the real libusb code.
//
// How: a umockdev testbed gives the process a fake sysfs and /dev holding a
// root hub (usb1) and the keyboard (1-2, full speed), and this class answers the
// usbdevfs ioctls libusb makes on the keyboard's device node as the Linux
// kernel would: the boot report on interrupt IN 0x81 (interface 0, 8 bytes),
// the bitmap report on interrupt IN 0x82 (interface 1, 16 bytes), and control
// transfers on endpoint 0.
//
// The test program must be linked so that libumockdev-preload sits in front of
// libc (link the pellora_usb_testbed target: it adds
// -Wl,--push-state,--no-as-needed -lumockdev-preload -Wl,--pop-state), and
// under -DPELLORA_SANITIZE=thread needs the test property ENVIRONMENT
// "${PELLORA_USB_TEST_ENVIRONMENT}" (TSan suppressions for GLib and umockdev;
// the variable is set by tests/usb/CMakeLists.txt). valgrind runs need
// --suppressions=tests/usb/valgrind.supp. Linking the target also registers a GoogleTest
// environment that fails every test of the program when the preload is not loaded, so no test ever
// reaches the machine's real USB devices; the constructor checks it too and throws.
//
// Order of life: construct the EmulatedKeyboard before libusb_init and destroy
// it after libusb_exit (umockdev's sysfs and /dev must exist while libusb looks
// at them). At most one EmulatedKeyboard exists at a time in a process.
//
// What the emulated kernel does, as libusb 1.0.26 meets it:
// - GET_CAPABILITIES reports REAP_AFTER_DISCONNECT, BULK_CONTINUATION,
//   NO_PACKET_SIZE_LIM, BULK_SCATTER_GATHER and ZERO_PACKET.
// - Both interfaces start bound to the kernel's "usbhid" driver, as a real
//   keyboard is: a plain CLAIMINTERFACE then fails with EBUSY (libusb:
//   LIBUSB_ERROR_BUSY); with libusb_set_auto_detach_kernel_driver(h, 1) libusb
//   claims with DISCONNECT_CLAIM, which unbinds usbhid (a detach) and claims.
//   After RELEASEINTERFACE no driver is bound until libusb's re-attach
//   (USBDEVFS_IOCTL carrying USBDEVFS_CONNECT) binds usbhid again.
//   GETDRIVER answers "usbhid", "usbfs" (claimed) or ENODATA (none).
// - An interrupt URB on 0x81/0x82 stays in flight until a report queued with
//   sendReport() completes it (status 0, actual_length = the report's length,
//   or the URB's length with -EOVERFLOW when the report is longer). As in the
//   kernel, the report completes the URB the moment both exist, not when it is
//   reaped: a report that arrives while nobody handles libusb events makes a
//   later cancel of that transfer find nothing to cancel.
// - Every control URB is recorded, then ends as setControlOutcome() says.
// - failTransfer() ends an URB in flight with an error status, and
//   failNextSubmit() fails one SUBMITURB, while the device stays plugged in.
//   haltEndpoint() and failEndpoint() make an endpoint end every URB at once
//   with -EPIPE (until CLEAR_HALT) or another error (until told to stop), as
//   a halted endpoint and a bad cable do.
// - DISCARDURB on an URB in flight gives it back with status -ENOENT (the
//   kernel's usb_kill_urb); libusb then reports LIBUSB_TRANSFER_CANCELLED. On an
//   URB not in flight it fails with EINVAL. holdDiscards(true) keeps discarded
//   URBs from being given back, so the cancellation stays pending.
// - REAPURBNDELAY hands back one finished URB per call, in the order they
//   finished, and fails with EAGAIN when none is (ENODEV once unplugged).
// - An URB submitted on an interface this file descriptor has not claimed, or a
//   control request to such an interface, is recorded in unexpectedIoctls() and
//   then treated as the kernel does (it claims the interface for the caller if
//   no driver holds it, else fails with EBUSY).
// - Closing the device node (libusb_close) drops the URBs still in flight on it
//   and releases its claims without counting releases(), as the kernel does.
//   umockdev announces no close, so the emulator notices it when next asked
//   (any ioctl, claimed(), inFlight(), closes(), waitUntilIdle()).
// - Any other ioctl fails with ENOTTY and is recorded in unexpectedIoctls().
// - poll() on the device node reports POLLOUT, as usbfs does, exactly while an
//   URB has finished and waits for REAPURBNDELAY; libusb waits for POLLOUT on
//   it, so an event loop sleeping in poll() over libusb_get_pollfds() stays
//   asleep while the keyboard is idle and wakes when a report, a discard, a
//   control outcome, failTransfer() or the unplug finishes an URB. (The node
//   is a FIFO of one page that the emulator keeps one byte in while nothing is
//   to be reaped, and empties otherwise.) Every open of the node shares that
//   readiness, where usbfs keeps one per open file: a second handle wakes, and
//   reaps nothing, when the first has something to reap. Once unplugged, the
//   node stays ready for good (usbfs would add POLLHUP and POLLERR, which
//   umockdev cannot), so libusb reaps the URBs given back and sees the loss; a
//   program that keeps the dead handle open then spins until it closes it.
//
// Threads: umockdev answers ioctls on its own worker thread, and a thread of
// the emulator completes Slow control URBs when their time comes. Every public
// call is thread-safe, except that construction, destruction, plugIn() and
// unplug() must not run at the same time as each other (call them from the
// test's thread). Records are snapshots taken under the emulator's lock.
//
// Ownership: the EmulatedKeyboard owns the testbed (its temporary directory and
// the UMOCKDEV_DIR environment variable, set while it lives) and the emulated
// device state; the caller owns the libusb context, handles and transfers.
//
// Other processes: a child started while the EmulatedKeyboard lives, with
// LD_PRELOAD=umockdevChildPreload() (libumockdev-preload.so.0, after
// libasan.so.8 in gcc's ASan builds) and the inherited UMOCKDEV_DIR, sees the same
// keyboard through its own unmodified libusb: it opens, claims, gets reports on
// both endpoints, sends SET_REPORT and sees the unplug, and all of it shows in
// this object's records (umockdev reads and writes the child's memory over its
// socket); CrossProcess.ChildProcessDrivesTheSameKeyboard checks it. The child
// must have exited before this object is destroyed: a child still using the
// device then hangs forever in its next emulated ioctl (seen with libusb 1.0.26
// and umockdev 0.17.16), so kill and reap your own child first.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// umockdev's testbed, as umockdev.h declares it.
typedef struct _UMockdevTestbed UMockdevTestbed;

class EmulatedKeyboard {
public:
    static constexpr std::uint16_t kVendorId = 0x33dd;
    static constexpr std::uint16_t kProductId = 0x0011;
    static constexpr std::uint8_t kBootEndpoint = 0x81;    // interface 0, 8-byte reports
    static constexpr std::uint8_t kBitmapEndpoint = 0x82;  // interface 1, 16-byte reports
    static constexpr std::uint8_t kControlEndpoint = 0x00;

    // The bound on every wait below: generous, since it only ends a test that
    // has already failed (sanitizer builds on a loaded machine are slow).
    static constexpr std::chrono::milliseconds kDefaultWait{10000};

    struct Options {
        // false: the testbed holds the root hub only; plugIn() adds the keyboard.
        bool present = true;
        // Another program holds this interface through usbfs: GETDRIVER names
        // "usbfs", and claiming it (CLAIMINTERFACE or DISCONNECT_CLAIM) fails
        // with EBUSY without unbinding anything; -1: none.
        int failClaimInterface = -1;
        // SUBMITURB for this endpoint fails with failSubmitErrno; 0: none.
        std::uint8_t failSubmitEndpoint = 0;
        int failSubmitErrno = EINVAL;  // libusb: LIBUSB_ERROR_IO (ENODEV: LIBUSB_ERROR_NO_DEVICE)
    };

    // Creates the testbed and, if options.present, plugs the keyboard in.
    // Throws std::runtime_error when the umockdev preload is not loaded or the
    // testbed cannot be made, std::logic_error when another instance exists.
    EmulatedKeyboard();
    explicit EmulatedKeyboard(Options options);
    // Call after libusb_exit. Removes the testbed and its directory.
    ~EmulatedKeyboard();
    EmulatedKeyboard(const EmulatedKeyboard&) = delete;
    EmulatedKeyboard& operator=(const EmulatedKeyboard&) = delete;

    // --- Presence ---------------------------------------------------------
    // Adds the keyboard under a new device number and sends the "add" uevent
    // (libusb's hotplug thread picks it up some time later; poll
    // libusb_open_device_with_vid_pid until it succeeds). No-op if plugged in.
    void plugIn();
    // Unplugs as the kernel does: URBs in flight (and held discards) are given
    // back, with -ESHUTDOWN (held discards keep -ENOENT), so transfers end with
    // LIBUSB_TRANSFER_NO_DEVICE; every later ioctl on a node opened before
    // fails with ENODEV (REAPURBNDELAY once nothing is left to reap); queued
    // reports are dropped; then a "remove" uevent, and the device leaves sysfs
    // and /dev. No-op if not plugged in.
    void unplug();
    bool pluggedIn() const;
    // The device node of the keyboard now plugged in ("" if none), e.g.
    // "/dev/bus/usb/001/002".
    std::string devicePath() const;

    // Adds another device to the testbed's sysfs (and /dev, with an N: line),
    // written in umockdev's record format ("P: /devices/...", "E: KEY=value",
    // "A: attribute=value", "L: link=target"), parents before children. For
    // tests of code that walks sysfs, such as a serial port lister. Throws
    // std::runtime_error when umockdev rejects the record.
    void addDevice(const std::string& record);
    // Removes a device added so, with everything below it ("/sys/devices/...").
    void removeDevice(const std::string& sysPath);

    // The testbed itself, for emulators of other devices that share it (the
    // input devices of tests/input/): umockdev's object, which lives as long
    // as this one, and the real directory its /sys and /dev sit in.
    UMockdevTestbed* testbed() const;
    std::string rootDir() const;

    // --- Keyboard to host -------------------------------------------------
    // Queues a report on 0x81 or 0x82 (else throws std::invalid_argument). It
    // completes the oldest URB in flight on that endpoint, or the next one
    // submitted; reports on one endpoint are handed out in order. Any length
    // is allowed (a 7-byte boot report arrives as 7 bytes).
    void sendReport(std::uint8_t endpoint, std::vector<std::uint8_t> bytes);
    // Reports on endpoint not yet handed to libusb: queued, or completing an
    // URB that has not been reaped.
    std::size_t pendingReports(std::uint8_t endpoint) const;

    // --- Control transfers ------------------------------------------------
    enum class ControlOutcome {
        Ack,            // completes with all wLength bytes sent (an IN request: none received)
        Stall,          // completes with -EPIPE: LIBUSB_ERROR_PIPE / LIBUSB_TRANSFER_STALL
        NeverComplete,  // stays in flight until discarded: LIBUSB_ERROR_TIMEOUT
        NoDevice,       // SUBMITURB fails with ENODEV: LIBUSB_ERROR_NO_DEVICE
        // Completes at once with -ESHUTDOWN, as when the keyboard goes in the
        // middle of the request: LIBUSB_ERROR_NO_DEVICE, after libusb has
        // reaped whatever finished before it. The keyboard stays plugged in.
        Gone,
        Slow,  // as Ack, once setControlDelay() has passed since the submit
    };
    // For control URBs submitted from now on (default Ack).
    void setControlOutcome(ControlOutcome outcome);
    // How long a Slow control URB stays in flight, for control URBs submitted
    // from now on (default 0). A discard or the unplug ends it sooner.
    void setControlDelay(std::chrono::milliseconds delay);

    // --- Errors while plugged in ------------------------------------------
    // Ends the oldest URB in flight on endpoint (0x00, 0x81 or 0x82, else
    // throws std::invalid_argument) with status, a negative errno as the
    // kernel gives it: -EPROTO, -EILSEQ or -ETIME end the transfer with
    // LIBUSB_TRANSFER_ERROR, -EPIPE with LIBUSB_TRANSFER_STALL. False, and
    // nothing changes, when no URB is in flight there.
    bool failTransfer(std::uint8_t endpoint, int status = -EPROTO);
    // The next SUBMITURB on 0x81 or 0x82 (else throws std::invalid_argument)
    // fails with errnoValue, and is not counted in submits(); the ones after
    // it succeed again. ENODEV: libusb_submit_transfer returns
    // LIBUSB_ERROR_NO_DEVICE; EINVAL: LIBUSB_ERROR_IO. The unplug forgets it.
    // (For control transfers see ControlOutcome::NoDevice.)
    void failNextSubmit(std::uint8_t endpoint, int errnoValue = ENODEV);

    // Halts endpoint (0x81 or 0x82, else throws std::invalid_argument), as a
    // device that answers STALL: the URB in flight there and every URB
    // submitted on it complete at once with -EPIPE (LIBUSB_TRANSFER_STALL)
    // until the host clears the halt (USBDEVFS_CLEAR_HALT, libusb_clear_halt).
    // clearsNeeded > 1: it halts again after each clear until that many clears
    // were made, as a device that stalls again at once.
    void haltEndpoint(std::uint8_t endpoint, int clearsNeeded = 1);
    // Fails endpoint (0x81 or 0x82): the URB in flight there and every URB
    // submitted on it complete at once with status, a negative errno (-EPROTO
    // or -EILSEQ: a bad cable, a noisy hub; LIBUSB_TRANSFER_ERROR), until
    // failEndpoint(endpoint, 0) makes it work again.
    void failEndpoint(std::uint8_t endpoint, int status);

    // While held, a discarded URB is not given back: the DISCARDURB ioctl
    // succeeds but the transfer's cancellation does not complete. Releasing
    // the hold gives back every held URB with -ENOENT.
    void holdDiscards(bool hold);

    // While held, every ioctl on the keyboard's device node waits in the
    // emulator, unanswered, until the hold is released: its caller (a relay's
    // worker inside libusb) hangs as on a kernel that stopped answering.
    // Release the hold before stopping such a program.
    void holdIoctls(bool hold);

    // --- Records (snapshots; counts add up over plug-ins) ------------------
    struct ControlRequest {
        std::uint8_t bmRequestType = 0;
        std::uint8_t bRequest = 0;
        std::uint16_t wValue = 0;
        std::uint16_t wIndex = 0;
        std::uint16_t wLength = 0;
        std::vector<std::uint8_t> data;  // the wLength bytes sent (host to device), else empty
        bool operator==(const ControlRequest&) const = default;
    };
    // Every control URB submitted while plugged in, whatever its outcome.
    std::vector<ControlRequest> controlRequests() const;

    int claims(int iface) const;      // successful claims
    int releases(int iface) const;    // successful RELEASEINTERFACE
    int detaches(int iface) const;    // kernel driver unbound (by DISCONNECT_CLAIM or DISCONNECT)
    int reattaches(int iface) const;  // kernel driver bound again (CONNECT)
    bool claimed(int iface) const;    // held by an open node now
    int submits(std::uint8_t endpoint) const;     // SUBMITURB calls that succeeded
    int clearHalts(std::uint8_t endpoint) const;  // USBDEVFS_CLEAR_HALT calls on it
    int failedUrbs(std::uint8_t endpoint) const;  // URBs a halt or failEndpoint() ended
    int discards(std::uint8_t endpoint) const;    // DISCARDURB calls that found an URB in flight
    bool inFlight(std::uint8_t endpoint) const;   // an URB submitted and not yet reaped
    int opens() const;                            // times the device node was opened
    int closes() const;                           // times an opened device node was closed
    // Every ioctl, endpoint or state this emulator did not expect, described
    // in words. Tests assert it is empty.
    std::vector<std::string> unexpectedIoctls() const;

    // One report handed to libusb (for latency measurements).
    struct Delivery {
        std::uint8_t endpoint = 0;
        std::size_t length = 0;
        std::chrono::steady_clock::time_point queuedAt;     // sendReport() called
        std::chrono::steady_clock::time_point completedAt;  // it completed an URB in flight
        std::chrono::steady_clock::time_point reapedAt;     // REAPURBNDELAY returned it
    };
    std::vector<Delivery> deliveries() const;

    // --- Waits: true once the condition holds, false after the time-out ----
    // Waits until cond() holds; cond may call this object's record accessors.
    bool waitFor(const std::function<bool()>& cond,
                 std::chrono::milliseconds timeout = kDefaultWait) const;
    bool waitForSubmits(std::uint8_t endpoint, int n,
                        std::chrono::milliseconds timeout = kDefaultWait) const;
    bool waitForDiscards(std::uint8_t endpoint, int n,
                         std::chrono::milliseconds timeout = kDefaultWait) const;
    bool waitForControlRequests(std::size_t n,
                                std::chrono::milliseconds timeout = kDefaultWait) const;
    // Until every queued report has been handed to libusb.
    bool waitForDelivered(std::chrono::milliseconds timeout = kDefaultWait) const;
    // Until no URB is in flight on any endpoint (all finished and reaped).
    bool waitUntilIdle(std::chrono::milliseconds timeout = kDefaultWait) const;
    bool waitForCloses(int n, std::chrono::milliseconds timeout = kDefaultWait) const;

    struct State;  // shared with umockdev's worker thread

private:
    void tearDown();
    void setEndpointFault(const char* what, std::uint8_t endpoint, int status, int clearsNeeded);

    std::shared_ptr<State> state;
};

// Makes a device node at path (a real path, inside rootDir()) as a FIFO of one
// page, opened for its emulator O_RDWR|O_NONBLOCK, and returns that end. A
// FIFO lets poll() on the node sleep until the emulator makes it ready.
// Throws std::runtime_error.
int makeFifoNode(const std::string& path);

// Whether libumockdev-preload is loaded into this process.
bool umockdevPreloadLoaded();

// The LD_PRELOAD value for a child process that is to use this process's
// testbed: "libumockdev-preload.so.0", after gcc's ASan runtime when this
// process has one (ASan insists on coming first; a child built in the same
// tree has the same runtime).
std::string umockdevChildPreload();
