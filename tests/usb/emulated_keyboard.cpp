#include "usb/emulated_keyboard.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "support/wait_for_change.h"

bool umockdevPreloadLoaded() {
    void* preload = dlopen("libumockdev-preload.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (preload == nullptr) {
        return false;
    }
    dlclose(preload);
    return true;
}

std::string umockdevChildPreload() {
    std::string asan;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* found) {
            const std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const std::size_t slash = path.rfind('/');
            const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            if (name.rfind("libasan.so", 0) == 0) {
                *static_cast<std::string*>(found) = name;
                return 1;
            }
            return 0;
        },
        &asan);
    return asan.empty() ? "libumockdev-preload.so.0" : asan + ":libumockdev-preload.so.0";
}

namespace {

// Fails every test of a program linked with this library when the preload is
// missing, before any test can reach the machine's real /dev and /sys.
class UmockdevPreloadCheck : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(umockdevPreloadLoaded())
            << "libumockdev-preload is not loaded: link the test with the pellora_usb_testbed "
               "target (it links the preload in front of libc) or run it with "
               "LD_PRELOAD=libumockdev-preload.so.0";
    }
};

[[maybe_unused]] ::testing::Environment* const preloadCheck =
    ::testing::AddGlobalTestEnvironment(new UmockdevPreloadCheck);

std::atomic<bool> instanceExists{false};

constexpr int kInterfaces = 2;

// A USB 2.0 root hub, and the keyboard: device descriptor 33dd:0011, one
// configuration with interface 0 (boot keyboard, interrupt IN 0x81, 8 bytes)
// and interface 1 (HID, interrupt IN 0x82, 16 bytes).
constexpr const char* kHubDescriptors =
    "12010002090001406b1d020006060302010109021900010100e0000904000001090000000705810304000c";
constexpr const char* kKeyboardDescriptors =
    "1201000200000040dd33110000010102000109022900020100a0320904000001030101000705810308000a0904"
    "0100010300000007058203100001";
constexpr const char* kHubSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
constexpr const char* kKeyboardSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";

constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

std::string devnodeFor(int devnum) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", devnum);
    return path;
}

std::string hex(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string endpointName(std::uint8_t endpoint) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", endpoint);
    return text;
}

std::string ioctlName(unsigned long request) {
    switch (request) {
        case USBDEVFS_CONTROL:
            return "USBDEVFS_CONTROL";
        case USBDEVFS_BULK:
            return "USBDEVFS_BULK";
        case USBDEVFS_RESETEP:
            return "USBDEVFS_RESETEP";
        case USBDEVFS_SETINTERFACE:
            return "USBDEVFS_SETINTERFACE";
        case USBDEVFS_SETCONFIGURATION:
            return "USBDEVFS_SETCONFIGURATION";
        case USBDEVFS_REAPURB:
            return "USBDEVFS_REAPURB";
        case USBDEVFS_CONNECTINFO:
            return "USBDEVFS_CONNECTINFO";
        case USBDEVFS_RESET:
            return "USBDEVFS_RESET";
        case USBDEVFS_CLEAR_HALT:
            return "USBDEVFS_CLEAR_HALT";
        case USBDEVFS_ALLOC_STREAMS:
            return "USBDEVFS_ALLOC_STREAMS";
        case USBDEVFS_FREE_STREAMS:
            return "USBDEVFS_FREE_STREAMS";
        case USBDEVFS_DROP_PRIVILEGES:
            return "USBDEVFS_DROP_PRIVILEGES";
        case USBDEVFS_GET_SPEED:
            return "USBDEVFS_GET_SPEED";
        default:
            return "ioctl " + hex(request);
    }
}

int interfaceOf(std::uint8_t endpoint) {
    switch (endpoint) {
        case EmulatedKeyboard::kBootEndpoint:
            return 0;
        case EmulatedKeyboard::kBitmapEndpoint:
            return 1;
        default:
            return -1;
    }
}

void unrefData(UMockdevIoctlData*& data) {
    if (data != nullptr) {
        g_object_unref(data);
        data = nullptr;
    }
}

}  // namespace

struct EmulatedKeyboard::State {
    enum class Driver { Usbhid, None, Usbfs };
    enum class Phase { InFlight, DiscardHeld, Finished };

    struct ClientInfo {
        UMockdevIoctlClient* client = nullptr;  // an owned reference
        bool gone = false;    // its device was unplugged (or it opened a stale node)
        bool closed = false;  // its file descriptor was closed
    };

    struct Urb {
        UMockdevIoctlClient* client = nullptr;  // identity only, not referenced
        UMockdevIoctlData* urb = nullptr;       // local copy of struct usbdevfs_urb (owned ref)
        UMockdevIoctlData* buffer = nullptr;    // its resolved buffer (owned ref), may be null
        unsigned long clientAddress = 0;        // the URB's address in the client
        std::uint8_t endpoint = 0;
        std::uint8_t type = 0;
        Phase phase = Phase::InFlight;
        int status = 0;
        int actualLength = 0;
        std::uint64_t finishOrder = 0;
        int bufferLength = 0;
        // A Slow control URB: when it completes (else the epoch).
        std::chrono::steady_clock::time_point dueAt;
        // The report that completed it, copied into the client's buffer only
        // when the URB is reaped (UMockdevIoctlData is touched only from the
        // ioctl handler).
        std::vector<std::uint8_t> report;
        std::chrono::steady_clock::time_point queuedAt, completedAt;
    };

    struct QueuedReport {
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point queuedAt;
    };

    explicit State(Options o) : options(o) {}

    ~State() {
        for (Urb& u : urbs) {
            unrefData(u.urb);
            unrefData(u.buffer);
        }
        for (ClientInfo& info : clients) {
            g_object_unref(info.client);
        }
    }

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::uint64_t changeCount = 0;

    const Options options;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    gulong ioctlHandlerId = 0;
    gulong connectHandlerId = 0;

    // The device now plugged in.
    bool plugged = false;
    int devnum = 1;  // the root hub has 1; each plug-in takes the next
    std::string devnode;
    std::array<Driver, kInterfaces> drivers{};
    std::array<UMockdevIoctlClient*, kInterfaces> owners{};

    std::vector<ClientInfo> clients;
    std::list<Urb> urbs;
    std::uint64_t finishCount = 0;
    std::map<std::uint8_t, std::deque<QueuedReport>> reports;
    ControlOutcome controlOutcome = ControlOutcome::Ack;
    std::chrono::milliseconds controlDelay{0};
    bool discardsHeld = false;
    bool ioctlsHeld = false;
    std::map<std::uint8_t, int> submitFailures;  // endpoint: errno for its next SUBMITURB
    // A halted or failing endpoint: the status its URBs end with at once, and
    // for a halt (-EPIPE) the clears still needed.
    struct EndpointFault {
        int status = 0;
        int clearsNeeded = 0;
    };
    std::map<std::uint8_t, EndpointFault> faults;

    // The emulator's end of the plugged-in keyboard's device node, a FIFO
    // (-1 while unplugged), and whether the byte that keeps it from being
    // writable is in it.
    int nodeFd = -1;
    bool nodeBlocked = false;

    std::thread timer;  // completes Slow control URBs
    bool stopping = false;

    // Records.
    std::vector<ControlRequest> controls;
    std::array<int, kInterfaces> claimCount{}, releaseCount{}, detachCount{}, reattachCount{};
    std::map<std::uint8_t, int> submitCount, discardCount, clearHaltCount, failedCount;
    int openCount = 0, closeCount = 0;
    std::vector<std::string> unexpected;
    std::vector<Delivery> delivered;

    // Called with the mutex held after anything a wait may look at changed.
    void touch() {
        ++changeCount;
        syncReadiness();
        changed.notify_all();
    }

    // usbfs reports POLLOUT on the node while a finished URB waits to be
    // reaped. A FIFO holding one byte in its one page is not writable; empty,
    // it is.
    void syncReadiness() {
        if (nodeFd < 0) {
            return;
        }
        const bool reapable = std::any_of(urbs.begin(), urbs.end(), [this](const Urb& u) {
            return u.phase == Phase::Finished && !clientGone(u.client);
        });
        char byte = 0;
        if (reapable && nodeBlocked) {
            nodeBlocked = read(nodeFd, &byte, 1) != 1;
        } else if (!reapable && !nodeBlocked) {
            nodeBlocked = write(nodeFd, &byte, 1) == 1;
        }
    }

    // Leaves the node empty, and so ready for good, as an unplugged device's
    // node is; the FIFO lives on while a client holds it open.
    void releaseNode() {
        if (nodeFd < 0) {
            return;
        }
        char byte = 0;
        if (nodeBlocked && read(nodeFd, &byte, 1) != 1) {
            unexpected.push_back("the device node could not be emptied: " +
                                 std::string(std::strerror(errno)));
        }
        ::close(nodeFd);
        nodeFd = -1;
        nodeBlocked = false;
    }

    // The timer thread: completes each Slow control URB still in flight when
    // its time comes, until stopping.
    void runTimer() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            const auto now = std::chrono::steady_clock::now();
            auto next = std::chrono::steady_clock::time_point::max();
            for (Urb& u : urbs) {
                if (u.phase != Phase::InFlight || u.dueAt.time_since_epoch().count() == 0) {
                    continue;
                }
                if (u.dueAt <= now) {
                    finish(u, 0, u.actualLength);
                    touch();
                } else {
                    next = std::min(next, u.dueAt);
                }
            }
            if (next == std::chrono::steady_clock::time_point::max()) {
                changed.wait(lock);
            } else {
                changed.wait_until(lock, next);
            }
        }
    }

    void finish(Urb& u, int status, int actualLength) {
        u.phase = Phase::Finished;
        u.status = status;
        u.actualLength = actualLength;
        u.finishOrder = ++finishCount;
    }

    // The device sends a report: as in the kernel, it completes the URB in
    // flight at once, whether or not anybody reaps it yet, so a cancel that
    // comes later finds nothing to cancel.
    void complete(Urb& u, QueuedReport report) {
        const int length = std::min<int>(u.bufferLength, static_cast<int>(report.bytes.size()));
        const bool overflow = length < static_cast<int>(report.bytes.size());
        u.report = std::move(report.bytes);
        u.report.resize(static_cast<std::size_t>(length));
        u.queuedAt = report.queuedAt;
        u.completedAt = std::chrono::steady_clock::now();
        finish(u, overflow ? -EOVERFLOW : 0, length);
    }

    // Completes the interrupt URBs in flight on endpoint: all of them at once
    // with the endpoint's fault while it has one, else the oldest with the
    // oldest report queued there, while there are both.
    void completeQueued(std::uint8_t endpoint) {
        if (auto fault = faults.find(endpoint); fault != faults.end()) {
            for (Urb& u : urbs) {
                if (u.endpoint == endpoint && u.phase == Phase::InFlight && !clientGone(u.client)) {
                    finish(u, fault->second.status, 0);
                    ++failedCount[endpoint];
                }
            }
            return;
        }
        auto queue = reports.find(endpoint);
        if (queue == reports.end()) {
            return;
        }
        for (Urb& u : urbs) {
            if (queue->second.empty()) {
                break;
            }
            if (u.endpoint == endpoint && u.phase == Phase::InFlight && !clientGone(u.client)) {
                complete(u, std::move(queue->second.front()));
                queue->second.pop_front();
            }
        }
    }

    bool clientGone(UMockdevIoctlClient* client) const {
        for (const ClientInfo& info : clients) {
            if (info.client == client) {
                return info.gone || info.closed;
            }
        }
        return false;
    }

    // Reports on endpoint not yet reaped: queued, or completing an URB that
    // nobody has reaped yet.
    std::size_t undelivered(std::uint8_t endpoint) const {
        auto queue = reports.find(endpoint);
        std::size_t n = queue == reports.end() ? 0 : queue->second.size();
        for (const Urb& u : urbs) {
            if (u.endpoint == endpoint && u.phase == Phase::Finished &&
                u.completedAt.time_since_epoch().count() != 0) {
                ++n;
            }
        }
        return n;
    }

    bool anyClaim(int iface) const { return owners[iface] != nullptr; }

    // --- Signal handlers (umockdev's worker thread) -------------------------

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        (*static_cast<std::shared_ptr<State>*>(self))->handleIoctl(client);
        return TRUE;
    }

    static void onConnect(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        State& s = **static_cast<std::shared_ptr<State>*>(self);
        std::lock_guard lock(s.mutex);
        ClientInfo info;
        // Held until the emulator ends, so that asking whether it is still
        // connected never meets a freed client.
        info.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        const char* node = umockdev_ioctl_client_get_devnode(client);
        info.gone = !s.plugged || node == nullptr || s.devnode != node;
        s.clients.push_back(info);
        ++s.openCount;
        s.touch();
    }

    static void dropRef(gpointer self, GClosure*) {
        delete static_cast<std::shared_ptr<State>*>(self);
    }

    // umockdev 0.17.16 announces no client's end (its "connected" property
    // never notifies), so whoever looks at client state first looks here for
    // clients whose socket has closed. Called with the mutex held.
    void sweepClosedClients() {
        for (ClientInfo& info : clients) {
            if (!info.closed && !umockdev_ioctl_client_get_connected(info.client)) {
                info.closed = true;
                clientClosed(info.client);
            }
        }
    }

    ClientInfo* findClient(UMockdevIoctlClient* client) {
        for (ClientInfo& info : clients) {
            if (info.client == client && !info.closed) {
                return &info;
            }
        }
        return nullptr;
    }

    void clientClosed(UMockdevIoctlClient* client) {
        ++closeCount;
        // The kernel kills the URBs of a closed file and releases its claims.
        for (auto it = urbs.begin(); it != urbs.end();) {
            if (it->client == client) {
                unrefData(it->urb);
                unrefData(it->buffer);
                it = urbs.erase(it);
            } else {
                ++it;
            }
        }
        for (int i = 0; i < kInterfaces; ++i) {
            if (owners[i] == client) {
                owners[i] = nullptr;
                drivers[i] = Driver::None;
            }
        }
        touch();
    }

    void handleIoctl(UMockdevIoctlClient* client) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !ioctlsHeld || stopping; });
        sweepClosedClients();
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        const ClientInfo* info = findClient(client);
        const bool gone = info == nullptr ? !plugged : info->gone;

        long result = 0;
        int error = 0;
        if (request == USBDEVFS_REAPURBNDELAY) {
            error = reap(client, arg, gone);
        } else if (gone) {
            error = ENODEV;  // the kernel's answer to all but reaping once disconnected
        } else {
            switch (request) {
                case USBDEVFS_GET_CAPABILITIES:
                    error = getCapabilities(arg);
                    break;
                case USBDEVFS_CLAIMINTERFACE:
                    error = claimInterface(client, arg);
                    break;
                case USBDEVFS_DISCONNECT_CLAIM:
                    error = disconnectClaim(client, arg);
                    break;
                case USBDEVFS_RELEASEINTERFACE:
                    error = releaseInterface(client, arg);
                    break;
                case USBDEVFS_GETDRIVER:
                    error = getDriver(arg);
                    break;
                case USBDEVFS_IOCTL:
                    error = driverIoctl(arg, result);
                    break;
                case USBDEVFS_SUBMITURB:
                    error = submit(client, arg);
                    break;
                case USBDEVFS_DISCARDURB:
                    error = discard(client, arg);
                    break;
                case USBDEVFS_CLEAR_HALT:
                    error = clearHalt(client, arg);
                    break;
                default:
                    unexpected.push_back(ioctlName(request));
                    error = ENOTTY;
                    touch();
                    break;
            }
        }
        umockdev_ioctl_client_complete(client, error == 0 ? result : -1, error);
    }

    // Resolves the struct the ioctl argument points to; null when unreadable.
    static UMockdevIoctlData* resolveArg(UMockdevIoctlData* arg, std::size_t size) {
        GError* failure = nullptr;
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &failure);
        if (failure != nullptr) {
            g_error_free(failure);
        }
        return data;
    }

    int getCapabilities(UMockdevIoctlData* arg) {
        UMockdevIoctlData* caps = resolveArg(arg, sizeof(std::uint32_t));
        if (caps == nullptr) {
            return EFAULT;
        }
        std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
        g_object_unref(caps);
        return 0;
    }

    // The unsigned int an ioctl's argument points to (an interface, an endpoint).
    static int readUnsigned(UMockdevIoctlData* arg, unsigned int& value) {
        UMockdevIoctlData* data = resolveArg(arg, sizeof(unsigned int));
        if (data == nullptr) {
            return EFAULT;
        }
        std::memcpy(&value, data->data, sizeof value);
        g_object_unref(data);
        return 0;
    }

    static int readInterfaceNumber(UMockdevIoctlData* arg, int& iface) {
        unsigned int value = 0;
        if (int failure = readUnsigned(arg, value)) {
            return failure;
        }
        iface = value < kInterfaces ? static_cast<int>(value) : -1;
        return 0;
    }

    // The kernel's claimintf for a known interface.
    int claim(UMockdevIoctlClient* client, int iface) {
        if (owners[iface] == client) {
            return 0;
        }
        if (drivers[iface] != Driver::None) {
            return EBUSY;
        }
        owners[iface] = client;
        drivers[iface] = Driver::Usbfs;
        ++claimCount[iface];
        touch();
        return 0;
    }

    int claimInterface(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        int iface = -1;
        if (int failure = readInterfaceNumber(arg, iface)) {
            return failure;
        }
        return iface < 0 ? ENOENT : claim(client, iface);
    }

    int disconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        UMockdevIoctlData* data = resolveArg(arg, sizeof(usbdevfs_disconnect_claim));
        if (data == nullptr) {
            return EFAULT;
        }
        usbdevfs_disconnect_claim dc;
        std::memcpy(&dc, data->data, sizeof dc);
        g_object_unref(data);
        dc.driver[sizeof dc.driver - 1] = '\0';
        if (dc.interface >= kInterfaces) {
            return EINVAL;
        }
        const int iface = static_cast<int>(dc.interface);
        if (owners[iface] == client) {
            return 0;
        }
        if (drivers[iface] == Driver::Usbhid) {
            const bool named = std::strcmp(dc.driver, "usbhid") == 0;
            const bool unbind = (dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER)       ? named
                                : (dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) ? !named
                                                                                       : true;
            if (unbind) {
                drivers[iface] = Driver::None;
                ++detachCount[iface];
                touch();
            }
        }
        return claim(client, iface);
    }

    int releaseInterface(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        int iface = -1;
        if (int failure = readInterfaceNumber(arg, iface)) {
            return failure;
        }
        if (iface < 0) {
            return ENOENT;
        }
        if (owners[iface] != client) {
            return EINVAL;
        }
        owners[iface] = nullptr;
        drivers[iface] = Driver::None;
        ++releaseCount[iface];
        touch();
        return 0;
    }

    int getDriver(UMockdevIoctlData* arg) {
        UMockdevIoctlData* data = resolveArg(arg, sizeof(usbdevfs_getdriver));
        if (data == nullptr) {
            return EFAULT;
        }
        auto* request = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        int error = 0;
        if (request->interface >= kInterfaces || drivers[request->interface] == Driver::None) {
            error = ENODATA;
        } else {
            const char* name = drivers[request->interface] == Driver::Usbhid ? "usbhid" : "usbfs";
            std::memset(request->driver, 0, sizeof request->driver);
            std::strcpy(request->driver, name);
        }
        g_object_unref(data);
        return error;
    }

    int driverIoctl(UMockdevIoctlData* arg, long& result) {
        UMockdevIoctlData* data = resolveArg(arg, sizeof(usbdevfs_ioctl));
        if (data == nullptr) {
            return EFAULT;
        }
        usbdevfs_ioctl command;
        std::memcpy(&command, data->data, sizeof command);
        g_object_unref(data);
        if (command.ifno < 0 || command.ifno >= kInterfaces) {
            return EINVAL;
        }
        const int iface = command.ifno;
        if (command.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (drivers[iface] != Driver::None) {
                return EBUSY;
            }
            drivers[iface] = Driver::Usbhid;
            ++reattachCount[iface];
            touch();
            result = 1;  // device_attach(): a driver was bound
            return 0;
        }
        if (command.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (drivers[iface] == Driver::None) {
                return ENODATA;
            }
            if (drivers[iface] == Driver::Usbhid) {
                ++detachCount[iface];
            }
            drivers[iface] = Driver::None;
            owners[iface] = nullptr;
            touch();
            return 0;
        }
        unexpected.push_back("USBDEVFS_IOCTL carrying " + ioctlName(command.ioctl_code));
        touch();
        return ENOTTY;
    }

    // An URB or control request for an interface this client has not claimed:
    // the kernel's checkintf() claims it on the caller's behalf when it can.
    int checkInterface(UMockdevIoctlClient* client, int iface, const std::string& what) {
        if (owners[iface] == client) {
            return 0;
        }
        unexpected.push_back(what + " on interface " + std::to_string(iface) +
                             ", which this handle has not claimed");
        touch();
        if (owners[iface] != nullptr || drivers[iface] != Driver::None) {
            return EBUSY;
        }
        owners[iface] = client;
        drivers[iface] = Driver::Usbfs;
        return 0;
    }

    int submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        UMockdevIoctlData* urbData = resolveArg(arg, sizeof(usbdevfs_urb));
        if (urbData == nullptr) {
            return EFAULT;
        }
        usbdevfs_urb fields;
        std::memcpy(&fields, urbData->data, sizeof fields);

        Urb u;
        u.client = client;
        u.urb = urbData;
        u.clientAddress = urbData->client_addr;
        u.endpoint = fields.endpoint;
        u.type = fields.type;
        auto dropUrb = [&u](int error) {
            unrefData(u.urb);
            unrefData(u.buffer);
            return error;
        };

        const bool control = fields.endpoint == kControlEndpoint;
        const int iface = interfaceOf(fields.endpoint);
        if (!control && iface < 0) {
            unexpected.push_back("SUBMITURB on endpoint " + endpointName(fields.endpoint) +
                                 ", which the keyboard does not have");
            touch();
            return dropUrb(ENOENT);
        }
        const int wantedType = control ? USBDEVFS_URB_TYPE_CONTROL : USBDEVFS_URB_TYPE_INTERRUPT;
        if (fields.type != wantedType || fields.buffer_length < 0 ||
            (control && fields.buffer_length < 8)) {
            unexpected.push_back("SUBMITURB of type " + std::to_string(fields.type) +
                                 " and length " + std::to_string(fields.buffer_length) +
                                 " on endpoint " + endpointName(fields.endpoint));
            touch();
            return dropUrb(EINVAL);
        }
        if (fields.endpoint == options.failSubmitEndpoint && !control) {
            return dropUrb(options.failSubmitErrno);
        }
        if (auto failure = submitFailures.find(fields.endpoint); failure != submitFailures.end()) {
            const int error = failure->second;
            submitFailures.erase(failure);
            return dropUrb(error);
        }
        if (fields.buffer_length > 0) {
            GError* failure = nullptr;
            u.buffer =
                umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(fields.buffer_length), &failure);
            if (failure != nullptr) {
                g_error_free(failure);
            }
            if (u.buffer == nullptr) {
                return dropUrb(EFAULT);
            }
        }

        if (control) {
            int error = submitControl(client, u, fields.buffer_length);
            if (error != 0) {
                return dropUrb(error);
            }
        } else if (int error = checkInterface(client, iface,
                                              "SUBMITURB " + endpointName(fields.endpoint))) {
            return dropUrb(error);
        }
        ++submitCount[u.endpoint];
        u.bufferLength = fields.buffer_length;
        urbs.push_back(u);
        if (!control) {
            completeQueued(u.endpoint);
        }
        touch();
        return 0;
    }

    int submitControl(UMockdevIoctlClient* client, Urb& u, int bufferLength) {
        const std::uint8_t* setup = u.buffer->data;
        ControlRequest request;
        request.bmRequestType = setup[0];
        request.bRequest = setup[1];
        request.wValue = static_cast<std::uint16_t>(setup[2] | setup[3] << 8);
        request.wIndex = static_cast<std::uint16_t>(setup[4] | setup[5] << 8);
        request.wLength = static_cast<std::uint16_t>(setup[6] | setup[7] << 8);
        const bool out = (request.bmRequestType & 0x80) == 0;
        if (out) {
            const int available = std::min<int>(request.wLength, bufferLength - 8);
            request.data.assign(setup + 8, setup + 8 + available);
        }
        controls.push_back(request);
        touch();

        if ((request.bmRequestType & 0x1f) == 1) {  // recipient: an interface
            const int iface = request.wIndex & 0xff;
            if (iface >= kInterfaces) {
                unexpected.push_back("control request to interface " + std::to_string(iface) +
                                     ", which the keyboard does not have");
                return EINVAL;
            }
            if (int error = checkInterface(client, iface, "control request")) {
                return error;
            }
        }
        switch (controlOutcome) {
            case ControlOutcome::Ack:
                finish(u, 0, out ? request.wLength : 0);
                break;
            case ControlOutcome::Stall:
                finish(u, -EPIPE, 0);
                break;
            case ControlOutcome::NeverComplete:
                break;
            case ControlOutcome::NoDevice:
                return ENODEV;
            case ControlOutcome::Gone:
                finish(u, -ESHUTDOWN, 0);
                break;
            case ControlOutcome::Slow:
                u.actualLength = out ? request.wLength : 0;
                u.dueAt = std::chrono::steady_clock::now() + controlDelay;
                break;
        }
        return 0;
    }

    int discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
        for (Urb& u : urbs) {
            if (u.client == client && u.clientAddress == address && u.phase == Phase::InFlight) {
                ++discardCount[u.endpoint];
                if (discardsHeld) {
                    u.phase = Phase::DiscardHeld;
                } else {
                    finish(u, -ENOENT, 0);
                }
                touch();
                return 0;
            }
        }
        return EINVAL;  // not in flight: finished and waiting to be reaped, or unknown
    }

    // The kernel's proc_clearhalt: the endpoint's interface must be the
    // caller's; the halt ends once it has been cleared as often as it needs.
    int clearHalt(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        unsigned int value = 0;
        if (int failure = readUnsigned(arg, value)) {
            return failure;
        }
        const auto endpoint = static_cast<std::uint8_t>(value);
        const int iface = interfaceOf(endpoint);
        if (iface < 0) {
            unexpected.push_back("USBDEVFS_CLEAR_HALT on endpoint " + endpointName(endpoint) +
                                 ", which the keyboard does not have");
            touch();
            return ENOENT;
        }
        if (int error = checkInterface(client, iface, "USBDEVFS_CLEAR_HALT")) {
            return error;
        }
        ++clearHaltCount[endpoint];
        auto fault = faults.find(endpoint);
        if (fault != faults.end() && fault->second.status == -EPIPE &&
            --fault->second.clearsNeeded <= 0) {
            faults.erase(fault);
            completeQueued(endpoint);
        }
        touch();
        return 0;
    }

    // Picks the URB this reap hands back: the first one finished.
    std::list<Urb>::iterator nextToReap(UMockdevIoctlClient* client) {
        auto best = urbs.end();
        for (auto it = urbs.begin(); it != urbs.end(); ++it) {
            if (it->client == client && it->phase == Phase::Finished &&
                (best == urbs.end() || it->finishOrder < best->finishOrder)) {
                best = it;
            }
        }
        return best;
    }

    int reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool gone) {
        auto it = nextToReap(client);
        if (it == urbs.end()) {
            return gone ? ENODEV : EAGAIN;
        }
        UMockdevIoctlData* pointer = resolveArg(arg, sizeof(void*));
        if (pointer == nullptr) {
            return EFAULT;
        }
        if (!it->report.empty() && it->buffer != nullptr) {
            std::memcpy(it->buffer->data, it->report.data(), it->report.size());
        }
        if (it->endpoint != kControlEndpoint && it->completedAt.time_since_epoch().count() != 0) {
            delivered.push_back({it->endpoint, static_cast<std::size_t>(it->actualLength),
                                 it->queuedAt, it->completedAt, std::chrono::steady_clock::now()});
        }
        auto* fields = reinterpret_cast<usbdevfs_urb*>(it->urb->data);
        fields->status = it->status;
        fields->actual_length = it->actualLength;
        // umockdev writes the URB and its buffer back into the client and
        // points the client's pointer at it when the ioctl completes.
        umockdev_ioctl_data_set_ptr(pointer, 0, it->urb);
        g_object_unref(pointer);
        unrefData(it->urb);
        unrefData(it->buffer);
        urbs.erase(it);
        touch();
        return 0;
    }
};

namespace {

// No N: line: umockdev would lay a regular file over the FIFO plugIn() made.
std::string keyboardRecord(int devnum) {
    char record[1024];
    std::snprintf(record, sizeof record,
                  "P: %s\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: PRODUCT=33dd/11/100\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=%d\\n\n"
                  "A: speed=12\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: idVendor=33dd\\n\n"
                  "A: idProduct=0011\\n\n"
                  "H: descriptors=%s\n",
                  kKeyboardSysPath + 4, devnum, devnum, devnum, kKeyboardDescriptors);
    return record;
}

std::string hubRecord() {
    char record[1024];
    std::snprintf(record, sizeof record,
                  "P: %s\n"
                  "N: bus/usb/001/001\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=001\n"
                  "E: DEVNAME=/dev/bus/usb/001/001\n"
                  "A: busnum=1\\n\n"
                  "A: devnum=1\\n\n"
                  "A: speed=480\\n\n"
                  "A: bConfigurationValue=1\\n\n"
                  "A: idVendor=1d6b\\n\n"
                  "A: idProduct=0002\\n\n"
                  "H: descriptors=%s\n",
                  kHubSysPath + 4, kHubDescriptors);
    return record;
}

void addFromString(UMockdevTestbed* testbed, const std::string& record) {
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &failure)) {
        std::string message = failure != nullptr ? failure->message : "unknown error";
        if (failure != nullptr) {
            g_error_free(failure);
        }
        throw std::runtime_error("umockdev cannot add a device: " + message);
    }
}

}  // namespace

int makeFifoNode(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    int fd = -1;
    if (mkfifo(path.c_str(), 0666) == 0) {
        fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd >= 0 && fcntl(fd, F_SETPIPE_SZ, 4096) >= 0) {
        return fd;
    }
    const std::string reason = std::strerror(errno);
    if (fd >= 0) {
        ::close(fd);
    }
    throw std::runtime_error("cannot make the device node " + path + ": " + reason);
}

EmulatedKeyboard::EmulatedKeyboard() : EmulatedKeyboard(Options{}) {}

EmulatedKeyboard::EmulatedKeyboard(Options options) : state(std::make_shared<State>(options)) {
    if (!umockdevPreloadLoaded()) {
        throw std::runtime_error("EmulatedKeyboard needs libumockdev-preload loaded");
    }
    if (instanceExists.exchange(true)) {
        throw std::logic_error("only one EmulatedKeyboard may exist at a time");
    }
    State& s = *state;
    s.testbed = umockdev_testbed_new();
    s.handler = umockdev_ioctl_base_new();
    s.ioctlHandlerId =
        g_signal_connect_data(s.handler, "handle-ioctl", G_CALLBACK(&State::onIoctl),
                              new std::shared_ptr<State>(state), &State::dropRef, GConnectFlags(0));
    s.connectHandlerId =
        g_signal_connect_data(s.handler, "client-connected", G_CALLBACK(&State::onConnect),
                              new std::shared_ptr<State>(state), &State::dropRef, GConnectFlags(0));
    s.timer = std::thread([&s] { s.runTimer(); });
    try {
        addFromString(s.testbed, hubRecord());
        if (options.present) {
            plugIn();
        }
    } catch (...) {
        tearDown();
        throw;
    }
}

EmulatedKeyboard::~EmulatedKeyboard() {
    tearDown();
}

void EmulatedKeyboard::tearDown() {
    State& s = *state;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
        s.changed.notify_all();
    }
    s.timer.join();
    // A handler already running keeps the state alive through its own reference.
    g_signal_handler_disconnect(s.handler, s.ioctlHandlerId);
    g_signal_handler_disconnect(s.handler, s.connectHandlerId);
    g_object_unref(s.testbed);
    s.testbed = nullptr;
    g_object_unref(s.handler);
    s.handler = nullptr;
    {
        std::lock_guard lock(s.mutex);
        for (State::Urb& u : s.urbs) {
            unrefData(u.urb);
            unrefData(u.buffer);
        }
        s.urbs.clear();
        s.releaseNode();
    }
    instanceExists = false;
}

void EmulatedKeyboard::addDevice(const std::string& record) {
    addFromString(state->testbed, record);
}

void EmulatedKeyboard::removeDevice(const std::string& sysPath) {
    umockdev_testbed_remove_device(state->testbed, sysPath.c_str());
}

UMockdevTestbed* EmulatedKeyboard::testbed() const {
    return state->testbed;
}

std::string EmulatedKeyboard::rootDir() const {
    gchar* root = umockdev_testbed_get_root_dir(state->testbed);  // ours to free
    std::string dir = root;
    g_free(root);
    return dir;
}

void EmulatedKeyboard::plugIn() {
    State& s = *state;
    std::string node;
    int devnum = 0;
    {
        std::lock_guard lock(s.mutex);
        if (s.plugged) {
            return;
        }
        devnum = ++s.devnum;
        node = devnodeFor(devnum);
    }
    // The node and its ioctl handler exist before umockdev announces the
    // device, so the first open meets both.
    gchar* root = umockdev_testbed_get_root_dir(s.testbed);  // ours to free
    const std::string rootDir = root;
    g_free(root);
    const int fd = makeFifoNode(rootDir + node);
    GError* failure = nullptr;
    if (!umockdev_testbed_attach_ioctl(s.testbed, node.c_str(), s.handler, &failure)) {
        ::close(fd);
        std::string message = failure != nullptr ? failure->message : "unknown error";
        if (failure != nullptr) {
            g_error_free(failure);
        }
        throw std::runtime_error("umockdev cannot emulate " + node + ": " + message);
    }
    {
        std::lock_guard lock(s.mutex);
        s.plugged = true;
        s.devnode = node;
        s.nodeFd = fd;  // touch() below fills it: nothing to reap yet
        s.drivers.fill(State::Driver::Usbhid);
        if (s.options.failClaimInterface >= 0 && s.options.failClaimInterface < kInterfaces) {
            s.drivers[s.options.failClaimInterface] = State::Driver::Usbfs;  // another program's
        }
        s.owners.fill(nullptr);
        s.touch();
    }
    addFromString(s.testbed, keyboardRecord(devnum));  // sends the "add" uevent
}

void EmulatedKeyboard::unplug() {
    State& s = *state;
    std::string node;
    {
        std::lock_guard lock(s.mutex);
        if (!s.plugged) {
            return;
        }
        node = s.devnode;
        s.plugged = false;
        s.devnode.clear();
        for (State::ClientInfo& info : s.clients) {
            info.gone = true;
        }
        for (State::Urb& u : s.urbs) {
            if (u.phase == State::Phase::InFlight) {
                s.finish(u, -ESHUTDOWN, 0);
            } else if (u.phase == State::Phase::DiscardHeld) {
                s.finish(u, -ENOENT, 0);
            }
        }
        s.reports.clear();
        s.submitFailures.clear();
        s.faults.clear();
        s.owners.fill(nullptr);
        s.releaseNode();
        s.touch();
    }
    umockdev_testbed_uevent(s.testbed, kKeyboardSysPath, "remove");
    umockdev_testbed_remove_device(s.testbed, kKeyboardSysPath);
    umockdev_testbed_detach_ioctl(s.testbed, node.c_str(), nullptr);
}

bool EmulatedKeyboard::pluggedIn() const {
    std::lock_guard lock(state->mutex);
    return state->plugged;
}

std::string EmulatedKeyboard::devicePath() const {
    std::lock_guard lock(state->mutex);
    return state->devnode;
}

void EmulatedKeyboard::sendReport(std::uint8_t endpoint, std::vector<std::uint8_t> bytes) {
    if (interfaceOf(endpoint) < 0) {
        throw std::invalid_argument("the keyboard sends reports on 0x81 and 0x82 only, not " +
                                    endpointName(endpoint));
    }
    std::lock_guard lock(state->mutex);
    if (!state->plugged) {
        return;
    }
    state->reports[endpoint].push_back({std::move(bytes), std::chrono::steady_clock::now()});
    state->completeQueued(endpoint);
    state->touch();
}

std::size_t EmulatedKeyboard::pendingReports(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    return state->undelivered(endpoint);
}

void EmulatedKeyboard::setControlOutcome(ControlOutcome outcome) {
    std::lock_guard lock(state->mutex);
    state->controlOutcome = outcome;
}

void EmulatedKeyboard::setControlDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(state->mutex);
    state->controlDelay = delay;
}

bool EmulatedKeyboard::failTransfer(std::uint8_t endpoint, int status) {
    if (endpoint != kControlEndpoint && interfaceOf(endpoint) < 0) {
        throw std::invalid_argument("the keyboard has no endpoint " + endpointName(endpoint));
    }
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    for (State::Urb& u : state->urbs) {
        if (u.endpoint == endpoint && u.phase == State::Phase::InFlight &&
            !state->clientGone(u.client)) {
            state->finish(u, status, 0);
            state->touch();
            return true;
        }
    }
    return false;
}

void EmulatedKeyboard::failNextSubmit(std::uint8_t endpoint, int errnoValue) {
    if (interfaceOf(endpoint) < 0) {
        throw std::invalid_argument("failNextSubmit is for 0x81 and 0x82, not " +
                                    endpointName(endpoint));
    }
    std::lock_guard lock(state->mutex);
    state->submitFailures[endpoint] = errnoValue;
}

void EmulatedKeyboard::haltEndpoint(std::uint8_t endpoint, int clearsNeeded) {
    setEndpointFault("haltEndpoint", endpoint, -EPIPE, std::max(clearsNeeded, 1));
}

void EmulatedKeyboard::failEndpoint(std::uint8_t endpoint, int status) {
    setEndpointFault("failEndpoint", endpoint, status, 0);
}

void EmulatedKeyboard::setEndpointFault(const char* what, std::uint8_t endpoint, int status,
                                        int clearsNeeded) {
    if (interfaceOf(endpoint) < 0) {
        throw std::invalid_argument(std::string(what) + " is for 0x81 and 0x82, not " +
                                    endpointName(endpoint));
    }
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    if (status == 0) {
        state->faults.erase(endpoint);
    } else {
        state->faults[endpoint] = {status, clearsNeeded};
    }
    state->completeQueued(endpoint);
    state->touch();
}

void EmulatedKeyboard::holdDiscards(bool hold) {
    std::lock_guard lock(state->mutex);
    state->discardsHeld = hold;
    if (!hold) {
        for (State::Urb& u : state->urbs) {
            if (u.phase == State::Phase::DiscardHeld) {
                state->finish(u, -ENOENT, 0);
            }
        }
    }
    state->touch();
}

void EmulatedKeyboard::holdIoctls(bool hold) {
    std::lock_guard lock(state->mutex);
    state->ioctlsHeld = hold;
    state->touch();
}

std::vector<EmulatedKeyboard::ControlRequest> EmulatedKeyboard::controlRequests() const {
    std::lock_guard lock(state->mutex);
    return state->controls;
}

namespace {
int countFor(const std::array<int, kInterfaces>& counts, int iface) {
    return iface >= 0 && iface < kInterfaces ? counts[iface] : 0;
}
int countFor(const std::map<std::uint8_t, int>& counts, std::uint8_t endpoint) {
    auto it = counts.find(endpoint);
    return it == counts.end() ? 0 : it->second;
}
}  // namespace

int EmulatedKeyboard::claims(int iface) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->claimCount, iface);
}

int EmulatedKeyboard::releases(int iface) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->releaseCount, iface);
}

int EmulatedKeyboard::detaches(int iface) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->detachCount, iface);
}

int EmulatedKeyboard::reattaches(int iface) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->reattachCount, iface);
}

bool EmulatedKeyboard::claimed(int iface) const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return iface >= 0 && iface < kInterfaces && state->anyClaim(iface);
}

int EmulatedKeyboard::submits(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->submitCount, endpoint);
}

int EmulatedKeyboard::clearHalts(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->clearHaltCount, endpoint);
}

int EmulatedKeyboard::failedUrbs(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->failedCount, endpoint);
}

int EmulatedKeyboard::discards(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    return countFor(state->discardCount, endpoint);
}

bool EmulatedKeyboard::inFlight(std::uint8_t endpoint) const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return std::any_of(state->urbs.begin(), state->urbs.end(),
                       [endpoint](const State::Urb& u) { return u.endpoint == endpoint; });
}

int EmulatedKeyboard::opens() const {
    std::lock_guard lock(state->mutex);
    return state->openCount;
}

int EmulatedKeyboard::closes() const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return state->closeCount;
}

std::vector<std::string> EmulatedKeyboard::unexpectedIoctls() const {
    std::lock_guard lock(state->mutex);
    return state->unexpected;
}

std::vector<EmulatedKeyboard::Delivery> EmulatedKeyboard::deliveries() const {
    std::lock_guard lock(state->mutex);
    return state->delivered;
}

bool EmulatedKeyboard::waitFor(const std::function<bool()>& cond,
                               std::chrono::milliseconds timeout) const {
    return waitForChange(state->mutex, state->changed, state->changeCount, cond, timeout);
}

bool EmulatedKeyboard::waitForSubmits(std::uint8_t endpoint, int n,
                                      std::chrono::milliseconds timeout) const {
    return waitFor([&] { return submits(endpoint) >= n; }, timeout);
}

bool EmulatedKeyboard::waitForDiscards(std::uint8_t endpoint, int n,
                                       std::chrono::milliseconds timeout) const {
    return waitFor([&] { return discards(endpoint) >= n; }, timeout);
}

bool EmulatedKeyboard::waitForControlRequests(std::size_t n,
                                              std::chrono::milliseconds timeout) const {
    return waitFor([&] { return controlRequests().size() >= n; }, timeout);
}

bool EmulatedKeyboard::waitForDelivered(std::chrono::milliseconds timeout) const {
    return waitFor(
        [&] {
            std::lock_guard lock(state->mutex);
            return state->undelivered(kBootEndpoint) == 0 &&
                   state->undelivered(kBitmapEndpoint) == 0;
        },
        timeout);
}

bool EmulatedKeyboard::waitUntilIdle(std::chrono::milliseconds timeout) const {
    return waitFor(
        [&] {
            std::lock_guard lock(state->mutex);
            state->sweepClosedClients();
            return state->urbs.empty();
        },
        timeout);
}

bool EmulatedKeyboard::waitForCloses(int n, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return closes() >= n; }, timeout);
}
