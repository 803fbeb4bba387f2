#include "input/emulated_input_device.h"

#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "support/wait_for_change.h"

namespace {

// The sizes of evdev's bitmaps, as the kernel keeps them: unsigned longs.
constexpr std::size_t bitmapBytes(std::size_t bits) {
    return (bits + 63) / 64 * 8;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string upperHex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// udev's ID_SERIAL for a device without a serial number: its name, spaces as _.
std::string serialOf(const std::string& name) {
    std::string serial = name;
    std::replace(serial.begin(), serial.end(), ' ', '_');
    return serial;
}

// EVIOCGPHYS and sysfs phys: where the device hangs, its USB port, or for a
// Bluetooth device the adapter's address (its own address is its uniq).
std::string physOf(const EmulatedInputDevice::Options& o) {
    return o.bluetooth ? "b8:27:eb:12:34:56"
                       : "usb-0000:00:14.0-" + std::to_string(o.usbPort) + "/input0";
}

void unrefData(UMockdevIoctlData* data) {
    if (data != nullptr) {
        g_object_unref(data);
    }
}

input_event eventOf(int type, int code, int value) {
    input_event ev{};
    timeval now{};
    gettimeofday(&now, nullptr);
    ev.input_event_sec = now.tv_sec;
    ev.input_event_usec = now.tv_usec;
    ev.type = static_cast<std::uint16_t>(type);
    ev.code = static_cast<std::uint16_t>(code);
    ev.value = value;
    return ev;
}

}  // namespace

struct EmulatedInputDevice::State {
    struct ClientInfo {
        UMockdevIoctlClient* client = nullptr;  // an owned reference
        bool gone = false;                      // opened before an unplug
        bool closed = false;
    };

    explicit State(Options o) : options(std::move(o)) {
        const bool keyboard = options.kind == Kind::Keyboard;
        for (int type : {EV_SYN, EV_KEY, EV_MSC}) {
            evBits.set(static_cast<std::size_t>(type));
        }
        mscBits.set(MSC_SCAN);
        if (keyboard) {
            evBits.set(EV_LED);
            evBits.set(EV_REP);
            for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code) {
                keyBits.set(static_cast<std::size_t>(code));
            }
            for (int led : {LED_NUML, LED_CAPSL, LED_SCROLLL}) {
                ledBits.set(static_cast<std::size_t>(led));
            }
            if (options.kanaLed) {
                ledBits.set(LED_KANA);
            }
            if (options.pointer) {  // a pointing stick or touchpad's buttons on the node
                evBits.set(EV_REL);
                relBits.set(REL_X);
                relBits.set(REL_Y);
                keyBits.set(BTN_LEFT);
                keyBits.set(BTN_RIGHT);
            }
        } else {
            evBits.set(EV_REL);
            for (int code : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA}) {
                keyBits.set(static_cast<std::size_t>(code));
            }
            // Linux's HID driver reports a wheel on the high-resolution axis too.
            for (int code : {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES}) {
                relBits.set(static_cast<std::size_t>(code));
            }
        }
    }

    ~State() {
        for (ClientInfo& info : clients) {
            g_object_unref(info.client);
        }
    }

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::uint64_t changeCount = 0;

    const Options options;
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    UMockdevIoctlBase* handler = nullptr;
    std::vector<gulong> signalIds;

    // The plug-in now (or the last one), and where its files are.
    bool plugged = false;
    int plugs = 0;
    int eventNumber = 0;
    int nodeFd = -1;
    std::vector<std::string> links;    // /dev paths of the links to the node
    std::vector<std::string> devices;  // sysfs paths, parents first

    std::bitset<EV_CNT> evBits;
    std::bitset<KEY_CNT> keyBits;
    std::bitset<REL_CNT> relBits;
    std::bitset<MSC_CNT> mscBits;
    std::bitset<LED_CNT> ledBits;
    std::bitset<KEY_CNT> keys;  // down now
    std::bitset<LED_CNT> leds;  // lit now
    int wheelTurned = 0;        // in 120ths of a notch, towards the next notch

    std::vector<ClientInfo> clients;
    UMockdevIoctlClient* grabOwner = nullptr;
    bool grabbedElsewhere = false;

    int openCount = 0, closeCount = 0, grabCount = 0, ungrabCount = 0, ungrabsWithKeysDown = 0;
    int readCount = 0;
    int clockId = CLOCK_REALTIME;  // EVIOCSCLOCKID's
    bool grabChecked = false;      // the grab's holder asked the key state since taking it
    // The keys the desktop (every other reader) saw go down and not up: it
    // sees a key's events only while nobody holds the grab.
    std::bitset<KEY_CNT> desktopDown;
    std::vector<std::vector<std::pair<int, int>>> writes;
    std::vector<std::string> unexpected;

    void touch() {
        ++changeCount;
        changed.notify_all();
    }

    // inputN's capabilities/ attributes as the kernel prints a bitmap: its
    // longs in hex, the highest first, leading zero longs left out.
    template <std::size_t N>
    static std::string sysfsBitmap(const std::bitset<N>& bits) {
        std::vector<unsigned long long> words((N + 63) / 64);
        for (std::size_t i = 0; i < N; ++i) {
            if (bits[i]) {
                words[i / 64] |= 1ULL << (i % 64);
            }
        }
        std::size_t top = words.size() - 1;
        while (top > 0 && words[top] == 0) {
            --top;
        }
        std::string text;
        for (std::size_t i = top + 1; i-- > 0;) {
            char word[20];
            std::snprintf(word, sizeof word, "%llx", words[i]);
            text += word + std::string(i > 0 ? " " : "");
        }
        return text;
    }

    std::string capabilityLines() const {
        return "A: capabilities/ev=" + sysfsBitmap(evBits) +
               "\\n\nA: capabilities/key=" + sysfsBitmap(keyBits) +
               "\\n\nA: capabilities/rel=" + sysfsBitmap(relBits) +
               "\\n\nA: capabilities/msc=" + sysfsBitmap(mscBits) +
               "\\n\nA: capabilities/led=" + sysfsBitmap(ledBits) + "\\n\n";
    }

    // umockdev announces no close; a client whose socket has closed is
    // found here, and gives back its grab as the kernel's release() does.
    void sweepClosedClients() {
        for (ClientInfo& info : clients) {
            if (!info.closed && !umockdev_ioctl_client_get_connected(info.client)) {
                info.closed = true;
                ++closeCount;
                if (grabOwner == info.client) {
                    grabOwner = nullptr;
                }
                touch();
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

    bool anyReader() {
        sweepClosedClients();
        return std::any_of(clients.begin(), clients.end(),
                           [](const ClientInfo& c) { return !c.gone && !c.closed; });
    }

    void drainNode() {
        char buffer[4096];
        while (nodeFd >= 0 && ::read(nodeFd, buffer, sizeof buffer) > 0) {
        }
    }

    // evdev_handle_get_val()'s flush: the queued events of one type go, and
    // so does a SYN_REPORT left with nothing before it.
    void flushQueued(int type) {
        std::vector<input_event> kept;
        input_event ev{};
        bool inFrame = false;
        while (nodeFd >= 0 && ::read(nodeFd, &ev, sizeof ev) == sizeof ev) {
            if (ev.type == type) {
                continue;
            }
            const bool report = ev.type == EV_SYN && ev.code == SYN_REPORT;
            if (!report || inFrame) {
                kept.push_back(ev);
            }
            inFrame = !report;
        }
        if (!kept.empty() && ::write(nodeFd, kept.data(), kept.size() * sizeof ev) !=
                                 static_cast<ssize_t>(kept.size() * sizeof ev)) {
            unexpected.push_back("the node's queue refused what a flush kept");
        }
    }

    // The key changes of one frame, the key state changed with them, as evdev
    // passes them on: a change of nothing is dropped, auto-repeat passes.
    std::vector<input_event> keyEvents(const std::vector<std::pair<int, int>>& changes) {
        std::vector<input_event> events;
        for (const auto& [code, value] : changes) {
            const auto bit = static_cast<std::size_t>(code);
            if (value == 2) {
                events.push_back(eventOf(EV_KEY, code, 2));
            } else if (keys[bit] != (value != 0)) {
                keys[bit] = value != 0;
                events.push_back(eventOf(EV_KEY, code, value != 0 ? 1 : 0));
                if (grabOwner == nullptr && !grabbedElsewhere) {
                    desktopDown[bit] = value != 0;
                }
            }
        }
        return events;
    }

    // Queues events for the reader, as evdev passes them on, stamped with
    // the reader's clock.
    void queue(std::vector<input_event> events) {
        if (events.empty() || nodeFd < 0 || grabbedElsewhere || !anyReader()) {
            return;
        }
        timespec now{};
        clock_gettime(clockId, &now);
        for (input_event& ev : events) {
            ev.input_event_sec = now.tv_sec;
            ev.input_event_usec = now.tv_nsec / 1000;
        }
        const auto bytes = events.size() * sizeof(input_event);
        if (::write(nodeFd, events.data(), bytes) != static_cast<ssize_t>(bytes)) {
            unexpected.push_back("the node's queue is full: " + std::to_string(bytes) +
                                 " bytes not written");
        }
    }

    // --- Signal handlers (umockdev's worker thread) -------------------------

    static State& of(gpointer self) { return **static_cast<std::shared_ptr<State>*>(self); }

    static void dropRef(gpointer self, GClosure*) {
        delete static_cast<std::shared_ptr<State>*>(self);
    }

    static void onConnect(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        State& s = of(self);
        std::lock_guard lock(s.mutex);
        ClientInfo info;
        info.client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        info.gone = !s.plugged;
        s.clients.push_back(info);
        ++s.openCount;
        s.drainNode();  // a new open starts with an empty queue
        s.touch();
    }

    static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        State& s = of(self);
        std::lock_guard lock(s.mutex);
        const ClientInfo* info = s.findClient(client);
        ++s.readCount;
        s.touch();
        if (info != nullptr && !info->gone) {
            return FALSE;  // the real read() of the FIFO, with the reader's own flags
        }
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }

    static gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        State& s = of(self);
        std::lock_guard lock(s.mutex);
        const ClientInfo* info = s.findClient(client);
        if (info == nullptr || info->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
        const std::size_t count = static_cast<std::size_t>(data->data_len) / sizeof(input_event);
        if (count == 0) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        std::vector<std::pair<int, int>> written;
        std::vector<input_event> echo;
        for (std::size_t i = 0; i < count; ++i) {
            input_event ev{};
            std::memcpy(&ev, data->data + i * sizeof ev, sizeof ev);
            if (ev.type != EV_LED) {
                continue;
            }
            written.emplace_back(ev.code, ev.value);
            if (ev.code < LED_CNT && s.ledBits[ev.code] && s.leds[ev.code] != (ev.value != 0)) {
                s.leds[ev.code] = ev.value != 0;
                echo.push_back(eventOf(EV_LED, ev.code, ev.value != 0 ? 1 : 0));
            }
        }
        if (!echo.empty()) {
            echo.push_back(eventOf(EV_SYN, SYN_REPORT, 0));
            s.queue(echo);
        }
        s.writes.push_back(written);
        s.touch();
        umockdev_ioctl_client_complete(client, static_cast<glong>(count * sizeof(input_event)), 0);
        return TRUE;
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        State& s = of(self);
        std::lock_guard lock(s.mutex);
        s.sweepClosedClients();
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (_IOC_TYPE(request) != 'E') {
            // FIONBIO, FIOCLEX and the like: the node's own business.
            gint error = 0;
            const gint result = umockdev_ioctl_client_execute(client, &error, nullptr);
            umockdev_ioctl_client_complete(client, result, error);
            return TRUE;
        }
        const ClientInfo* info = s.findClient(client);
        if (info == nullptr || info->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        long result = 0;
        const int error = s.evdevIoctl(client, request, result);
        umockdev_ioctl_client_complete(client, error == 0 ? result : -1, error);
        return TRUE;
    }

    // Copies bytes into the caller's buffer of the request's size; the count
    // copied is the result.
    static int answer(UMockdevIoctlClient* client, unsigned long request, const void* bytes,
                      std::size_t length, long& result) {
        const std::size_t size = std::min<std::size_t>(_IOC_SIZE(request), length);
        UMockdevIoctlData* buffer =
            umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
        if (buffer == nullptr) {
            return EFAULT;
        }
        std::memcpy(buffer->data, bytes, size);
        unrefData(buffer);
        result = static_cast<long>(size);
        return 0;
    }

    template <std::size_t N>
    static int answerBits(UMockdevIoctlClient* client, unsigned long request,
                          const std::bitset<N>& bits, long& result) {
        std::vector<std::uint8_t> bytes(bitmapBytes(N));
        for (std::size_t i = 0; i < N; ++i) {
            if (bits[i]) {
                bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (1u << (i % 8)));
            }
        }
        return answer(client, request, bytes.data(), bytes.size(), result);
    }

    static int answerString(UMockdevIoctlClient* client, unsigned long request,
                            const std::string& text, long& result) {
        return answer(client, request, text.c_str(), text.size() + 1, result);
    }

    int evdevIoctl(UMockdevIoctlClient* client, unsigned long request, long& result) {
        if (request == EVIOCGRAB) {
            unsigned long value = 0;
            UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
            std::memcpy(&value, arg->data,
                        std::min(sizeof value, static_cast<std::size_t>(arg->data_len)));
            if (value != 0) {
                if (grabOwner != nullptr || grabbedElsewhere) {
                    return EBUSY;
                }
                grabOwner = client;
                grabChecked = false;
                ++grabCount;
            } else {
                if (grabOwner != client) {
                    return EINVAL;
                }
                grabOwner = nullptr;
                ++ungrabCount;
                if (keys.any()) {
                    ++ungrabsWithKeysDown;  // the desktop gets no release of those
                }
            }
            touch();
            return 0;
        }
        if (request == EVIOCSCLOCKID) {
            // The clock of the events' time stamps, from now on.
            UMockdevIoctlData* clock = umockdev_ioctl_data_resolve(
                umockdev_ioctl_client_get_arg(client), 0, sizeof(int), nullptr);
            if (clock == nullptr) {
                return EFAULT;
            }
            std::memcpy(&clockId, clock->data, sizeof(int));
            unrefData(clock);
            return 0;
        }
        if (request == EVIOCGVERSION) {
            const int version = EV_VERSION;
            return answer(client, request, &version, sizeof version, result) == 0 ? 0 : EFAULT;
        }
        if (request == EVIOCGID) {
            const input_id id{
                static_cast<std::uint16_t>(options.bluetooth ? BUS_BLUETOOTH : BUS_USB),
                options.vendorId, options.productId, 0x0110};
            return answer(client, request, &id, sizeof id, result);
        }
        if (request == EVIOCGREP) {
            if (!evBits[EV_REP]) {
                return ENOSYS;
            }
            const unsigned int rep[2] = {250, 33};
            return answer(client, request, rep, sizeof rep, result);
        }
        if (_IOC_DIR(request) != _IOC_READ) {
            unexpected.push_back("EVIOC write request 0x" + hex4(_IOC_NR(request)));
            touch();
            return EINVAL;
        }
        const unsigned nr = _IOC_NR(request);
        switch (nr) {
            case 0x06:  // EVIOCGNAME
                return answerString(client, request, options.name, result);
            case 0x07:  // EVIOCGPHYS
                return answerString(client, request, physOf(options), result);
            case 0x08:  // EVIOCGUNIQ: "" for a USB device without a serial number
                return answerString(client, request, options.uniq, result);
            case 0x09:  // EVIOCGPROP
                return answerBits(client, request, std::bitset<INPUT_PROP_CNT>(), result);
            case 0x0a:  // EVIOCGMTSLOTS: no multitouch
                return EINVAL;
            case 0x18:  // EVIOCGKEY: evdev drops the key events queued for the asker
                flushQueued(EV_KEY);
                if (grabOwner == client) {
                    grabChecked = true;
                    touch();
                }
                return answerBits(client, request, keys, result);
            case 0x19:  // EVIOCGLED
                return answerBits(client, request, leds, result);
            case 0x1a:  // EVIOCGSND
                return answerBits(client, request, std::bitset<SND_CNT>(), result);
            case 0x1b:  // EVIOCGSW
                return answerBits(client, request, std::bitset<SW_CNT>(), result);
            default:
                break;
        }
        if (nr >= 0x40 && nr < 0x40 + ABS_CNT) {
            return EINVAL;  // EVIOCGABS: no axes
        }
        if (nr >= 0x20 && nr < 0x20 + EV_CNT) {  // EVIOCGBIT
            switch (nr - 0x20) {
                case 0:
                    return answerBits(client, request, evBits, result);
                case EV_KEY:
                    return answerBits(client, request, keyBits, result);
                case EV_REL:
                    return answerBits(client, request, relBits, result);
                case EV_MSC:
                    return answerBits(client, request, mscBits, result);
                case EV_LED:
                    return answerBits(client, request, ledBits, result);
                case EV_ABS:
                    return answerBits(client, request, std::bitset<ABS_CNT>(), result);
                case EV_SW:
                    return answerBits(client, request, std::bitset<SW_CNT>(), result);
                case EV_SND:
                    return answerBits(client, request, std::bitset<SND_CNT>(), result);
                case EV_FF:
                    return answerBits(client, request, std::bitset<FF_CNT>(), result);
                default:
                    return EINVAL;  // EV_REP among them, as evdev answers
            }
        }
        unexpected.push_back("EVIOC read request 0x" + hex4(nr));
        touch();
        return EINVAL;
    }
};

namespace {

// The sysfs chain of one plug-in, parents first, with the node's udev
// properties. No N: line: the node is the FIFO made before.
struct Chain {
    std::vector<std::string> paths;  // sysfs paths below /sys, parents first
    std::string record;
    std::string byId, byPath;  // link paths below /dev
};

// inputN and the hid device's number, as the kernel hands them out: a new one
// for each device plugged in, whichever it is.
std::atomic<int> nextInputNumber{20};

// The parents of inputN: for USB the device 1-PORT, its interface bound to
// usbhid and the hid device; for Bluetooth (hidp) the adapter's connection to
// the device and the hid device, with no USB device above them.
std::string parentsOf(const EmulatedInputDevice::Options& o, int inputNumber, Chain& c) {
    const bool keyboard = o.kind == EmulatedInputDevice::Kind::Keyboard;
    const std::string port = std::to_string(o.usbPort);
    const std::string hidName = upperHex4(o.vendorId) + ":" + upperHex4(o.productId) + "." +
                                upperHex4(static_cast<unsigned>(inputNumber));
    const std::string hidLines =
        "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_NAME=" + o.name +
        "\nE: HID_UNIQ=" + o.uniq + "\n\n";
    if (o.bluetooth) {
        const std::string link =
            "/devices/platform/soc/fe201000.serial/serial0/serial0-0/"
            "bluetooth/hci0/hci0:" +
            std::to_string(10 + o.usbPort);
        const std::string hid = link + "/0005:" + hidName;
        c.paths = {link, hid};
        c.record =
            "P: " + link + "\nE: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n\nP: " + hid + hidLines;
        return hid;
    }
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + port;
    const std::string iface = usb + "/1-" + port + ":1.0";
    const std::string hid = iface + "/0003:" + hidName;
    const std::string suffix = keyboard ? "-event-kbd" : "-event-mouse";
    c.byId = o.byIdLink ? "/dev/input/by-id/usb-" + serialOf(o.name) + suffix : "";
    c.byPath = "/dev/input/by-path/pci-0000:00:14.0-usb-0:" + port + ":1.0" + suffix;
    c.paths = {usb, iface, hid};
    const std::string vid = hex4(o.vendorId);
    const std::string pid = hex4(o.productId);
    // A HID boot device: device and configuration descriptors, one
    // interface with its HID descriptor and interrupt IN endpoint.
    const auto littleEndian = [](const std::string& h) { return h.substr(2) + h.substr(0, 2); };
    const std::string descriptors = "1201000200000008" + littleEndian(vid) + littleEndian(pid) +
                                    "100101020001" + "09022200010100a032" + "09040000010301" +
                                    (keyboard ? "01" : "02") + "00" + "092111010001224100" +
                                    "0705810308000a";
    char productLine[64];
    std::snprintf(productLine, sizeof productLine, "%x/%x/110", o.vendorId, o.productId);
    const std::string devnum = std::to_string(10 + o.usbPort);
    c.record =
        "P: " + usb +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=" + productLine +
        "\nE: BUSNUM=001\nE: DEVNUM=0" + devnum + "\nA: busnum=1\\n\nA: devnum=" + devnum +
        "\\n\nA: speed=12\\n\nA: bConfigurationValue=1\\n\nA: idVendor=" + vid +
        "\\n\nA: idProduct=" + pid + "\\n\nA: product=" + o.name +
        "\\n\nH: descriptors=" + descriptors + "\n\n" + "P: " + iface +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\n" + "E: INTERFACE=3/1/" +
        (keyboard ? "1" : "2") + "\nA: bInterfaceNumber=00\\n\n\n" + "P: " + hid + hidLines;
    return hid;
}

Chain chainOf(const EmulatedInputDevice::Options& o, int eventNumber, int inputNumber,
              const std::string& capabilities = {}) {
    const bool keyboard = o.kind == EmulatedInputDevice::Kind::Keyboard;
    const std::string port = std::to_string(o.usbPort);
    Chain c;
    const std::string input =
        parentsOf(o, inputNumber, c) + "/input/input" + std::to_string(inputNumber);
    const std::string event = input + "/event" + std::to_string(eventNumber);
    const std::string mouse = input + "/mouse0";
    c.paths.insert(c.paths.end(), {input, event});
    const std::string phys = physOf(o);
    char productLine[64];
    std::snprintf(productLine, sizeof productLine, "%x/%x/%x/110", o.bluetooth ? 5 : 3, o.vendorId,
                  o.productId);
    c.record += "P: " + input + "\nE: SUBSYSTEM=input\nE: PRODUCT=" + productLine + "\nE: NAME=\"" +
                o.name + "\"\nE: PHYS=\"" + phys + "\"\nE: UNIQ=\"" + o.uniq +
                "\"\nA: name=" + o.name + "\\n\nA: phys=" + phys + "\\n\nA: uniq=" + o.uniq +
                "\\n\n" + capabilities + "\n";
    // udev's persistent-input rules stop at a Bluetooth device: no ID_PATH,
    // no by-id or by-path link.
    const std::string idLines =
        std::string("E: ID_INPUT=1\n") +
        (keyboard ? "E: ID_INPUT_KEY=1\nE: ID_INPUT_KEYBOARD=1\n" : "E: ID_INPUT_MOUSE=1\n") +
        (o.bluetooth ? "E: ID_BUS=bluetooth\n"
                     : "E: ID_BUS=usb\nE: ID_VENDOR_ID=" + hex4(o.vendorId) + "\nE: ID_MODEL_ID=" +
                           hex4(o.productId) + "\nE: ID_SERIAL=" + serialOf(o.name) +
                           "\nE: ID_PATH=pci-0000:00:14.0-usb-0:" + port + ":1.0\n");
    std::string links = c.byId.empty() ? c.byPath : c.byId + " " + c.byPath;
    c.record += "P: " + event +
                "\nE: SUBSYSTEM=input\nE: MAJOR=13\nE: MINOR=" + std::to_string(64 + eventNumber) +
                "\nE: DEVNAME=/dev/input/event" + std::to_string(eventNumber) + "\n" + idLines +
                (links.empty() ? "" : "E: DEVLINKS=" + links + "\n") +
                "A: dev=13:" + std::to_string(64 + eventNumber) + "\\n\n";
    if (!keyboard) {
        // The legacy node beside the event node, which a listing leaves out.
        c.paths.push_back(mouse);
        c.record += "\nP: " + mouse +
                    "\nE: SUBSYSTEM=input\nE: MAJOR=13\nE: MINOR=32\nE: DEVNAME=/dev/input/"
                    "mouse0\n" +
                    idLines + "A: dev=13:32\\n\n";
    }
    return c;
}

void addFromString(UMockdevTestbed* testbed, const std::string& record) {
    GError* failure = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &failure)) {
        const std::string message = failure != nullptr ? failure->message : "unknown error";
        if (failure != nullptr) {
            g_error_free(failure);
        }
        throw std::runtime_error("umockdev cannot add the input device: " + message);
    }
}

void attach(UMockdevTestbed* testbed, const std::string& path, UMockdevIoctlBase* handler) {
    GError* failure = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, path.c_str(), handler, &failure)) {
        const std::string message = failure != nullptr ? failure->message : "unknown error";
        if (failure != nullptr) {
            g_error_free(failure);
        }
        throw std::runtime_error("umockdev cannot emulate " + path + ": " + message);
    }
}

}  // namespace

EmulatedInputDevice::EmulatedInputDevice(EmulatedKeyboard& testbed)
    : EmulatedInputDevice(testbed, Options{}) {}

EmulatedInputDevice::EmulatedInputDevice(EmulatedKeyboard& testbed, Options options)
    : bed(testbed), state(std::make_shared<State>(std::move(options))) {
    State& s = *state;
    s.testbed = testbed.testbed();
    s.root = testbed.rootDir();
    s.handler = umockdev_ioctl_base_new();
    const std::pair<const char*, GCallback> signals[] = {
        {"handle-ioctl", G_CALLBACK(&State::onIoctl)},
        {"handle-read", G_CALLBACK(&State::onRead)},
        {"handle-write", G_CALLBACK(&State::onWrite)},
        {"client-connected", G_CALLBACK(&State::onConnect)},
    };
    for (const auto& [name, callback] : signals) {
        s.signalIds.push_back(g_signal_connect_data(s.handler, name, callback,
                                                    new std::shared_ptr<State>(state),
                                                    &State::dropRef, GConnectFlags(0)));
    }
    for (int code : s.options.keysDown) {
        s.keys.set(static_cast<std::size_t>(code));
    }
    for (int code : s.options.ledsLit) {
        s.leds.set(static_cast<std::size_t>(code));
    }
    try {
        plugIn(s.options.eventNumber);
    } catch (...) {
        for (gulong id : s.signalIds) {
            g_signal_handler_disconnect(s.handler, id);
        }
        g_object_unref(s.handler);
        throw;
    }
}

EmulatedInputDevice::~EmulatedInputDevice() {
    State& s = *state;
    unplug();
    for (gulong id : s.signalIds) {
        g_signal_handler_disconnect(s.handler, id);
    }
    g_object_unref(s.handler);
}

std::string EmulatedInputDevice::nodePath() const {
    std::lock_guard lock(state->mutex);
    return state->plugged ? "/dev/input/event" + std::to_string(state->eventNumber) : "";
}

std::string EmulatedInputDevice::byIdPath() const {
    const Chain c = chainOf(state->options, 0, 0);
    return c.byId;
}

void EmulatedInputDevice::plugIn(int eventNumber) {
    State& s = *state;
    Chain chain;
    {
        std::lock_guard lock(s.mutex);
        if (s.plugged) {
            return;
        }
        chain = chainOf(s.options, eventNumber, nextInputNumber++, s.capabilityLines());
    }
    // The handler, then the node, its links and the state behind them, all
    // before the node can be opened: it comes into place last, in one rename,
    // as a kernel's node comes with its device whole (a program that looks for
    // it on a timer must not find it half made). Then umockdev announces the
    // device, and the first open after the news finds it all.
    namespace fs = std::filesystem;
    const std::string node = "/dev/input/event" + std::to_string(eventNumber);
    const std::string making = s.root + node + ".new";
    const int fd = makeFifoNode(making);
    std::vector<std::string> links;
    for (const std::string& link : {chain.byId, chain.byPath}) {
        if (!link.empty()) {
            links.push_back(link);
        }
    }
    try {
        attach(s.testbed, node, s.handler);
        for (const std::string& link : links) {
            attach(s.testbed, link, s.handler);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    {
        std::lock_guard lock(s.mutex);
        s.plugged = true;
        s.eventNumber = eventNumber;
        s.nodeFd = fd;
        s.links = links;
        s.devices = chain.paths;
        if (s.plugs > 0) {
            s.keys.reset();  // keys held through an unplug are up when it is back
            s.leds.reset();
        }
        ++s.plugs;
        s.touch();
    }
    for (const std::string& link : links) {
        std::error_code ignored;
        fs::create_directories(fs::path(s.root + link).parent_path(), ignored);
        fs::remove(s.root + link, ignored);
        fs::create_symlink("../event" + std::to_string(eventNumber), s.root + link);
    }
    fs::rename(making, s.root + node);
    addFromString(s.testbed, chain.record);  // sends the "add" uevents
}

void EmulatedInputDevice::unplug() {
    State& s = *state;
    std::vector<std::string> devices, links;
    int eventNumber = 0;
    {
        std::lock_guard lock(s.mutex);
        if (!s.plugged) {
            return;
        }
        s.plugged = false;
        for (State::ClientInfo& info : s.clients) {
            info.gone = true;
        }
        s.grabOwner = nullptr;
        // poll() on the files opened before must wake, as evdev's POLLHUP
        // makes it: one byte that nobody reads (read() says ENODEV).
        s.drainNode();
        const char byte = 0;
        if (::write(s.nodeFd, &byte, 1) != 1) {
            s.unexpected.push_back("the unplugged node could not be made ready");
        }
        ::close(s.nodeFd);
        s.nodeFd = -1;
        devices = s.devices;
        links = s.links;
        eventNumber = s.eventNumber;
        s.touch();
    }
    // As udev and the kernel go about it: the links first, then the node and
    // the "remove" uevents, children first, then the devices, deepest first.
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (const std::string& link : links) {
        fs::remove(s.root + link, ignored);
    }
    const std::string node = "/dev/input/event" + std::to_string(eventNumber);
    fs::remove(s.root + node, ignored);
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        umockdev_testbed_uevent(s.testbed, ("/sys" + *it).c_str(), "remove");
    }
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        umockdev_testbed_remove_device(s.testbed, ("/sys" + *it).c_str());
    }
    // remove_device() leaves the /sys/dev/char links it made; the next plug-in
    // of the same number would find them in its way.
    fs::remove(s.root + "/sys/dev/char/13:" + std::to_string(64 + eventNumber), ignored);
    fs::remove(s.root + "/sys/dev/char/13:32", ignored);
    umockdev_testbed_detach_ioctl(s.testbed, node.c_str(), nullptr);
    for (const std::string& link : links) {
        umockdev_testbed_detach_ioctl(s.testbed, link.c_str(), nullptr);
    }
}

bool EmulatedInputDevice::pluggedIn() const {
    std::lock_guard lock(state->mutex);
    return state->plugged;
}

void EmulatedInputDevice::sendFrame(const std::vector<std::pair<int, int>>& changes) {
    move(0, 0, 0, changes);
}

void EmulatedInputDevice::move(int dx, int dy, int wheel,
                               const std::vector<std::pair<int, int>>& changes) {
    sendMouseFrame(dx, dy, wheel * 120, changes);
}

void EmulatedInputDevice::scroll(int hiRes) {
    sendMouseFrame(0, 0, hiRes, {});
}

void EmulatedInputDevice::sendMouseFrame(int dx, int dy, int wheelHiRes,
                                         const std::vector<std::pair<int, int>>& changes) {
    std::lock_guard lock(state->mutex);
    State& s = *state;
    // hid-input's sum of a wheel's turns: a notch on REL_WHEEL for each 120
    // made up, whichever way, the rest kept for the next turn.
    s.wheelTurned += wheelHiRes;
    const int notches = s.wheelTurned / 120;
    s.wheelTurned -= notches * 120;
    std::vector<input_event> frame = s.keyEvents(changes);
    // Buttons first, then the axes, in the order of a HID mouse's report.
    for (const auto& [code, value] : {std::pair{REL_X, dx},
                                      {REL_Y, dy},
                                      {REL_WHEEL, notches},
                                      {REL_WHEEL_HI_RES, wheelHiRes}}) {
        if (value != 0 && s.relBits[static_cast<std::size_t>(code)]) {
            frame.push_back(eventOf(EV_REL, code, value));
        }
    }
    if (!frame.empty() && s.plugged) {
        frame.push_back(eventOf(EV_SYN, SYN_REPORT, 0));
        s.queue(frame);
    }
    s.touch();
}

void EmulatedInputDevice::sendFrames(const std::vector<std::vector<std::pair<int, int>>>& frames) {
    std::lock_guard lock(state->mutex);
    State& s = *state;
    std::vector<input_event> events;
    for (const auto& changes : frames) {
        std::vector<input_event> frame = s.keyEvents(changes);
        if (!frame.empty()) {
            frame.push_back(eventOf(EV_SYN, SYN_REPORT, 0));
            events.insert(events.end(), frame.begin(), frame.end());
        }
    }
    if (s.plugged) {
        s.queue(events);
    }
    s.touch();
}

void EmulatedInputDevice::overflow(const std::vector<std::pair<int, int>>& changes) {
    std::lock_guard lock(state->mutex);
    State& s = *state;
    for (const auto& [code, value] : changes) {
        s.keys[static_cast<std::size_t>(code)] = value != 0;
    }
    if (s.plugged) {
        s.drainNode();
        s.queue({eventOf(EV_SYN, SYN_DROPPED, 0)});
    }
    s.touch();
}

bool EmulatedInputDevice::led(int code) const {
    std::lock_guard lock(state->mutex);
    return state->leds[static_cast<std::size_t>(code)];
}

std::vector<std::vector<std::pair<int, int>>> EmulatedInputDevice::ledWrites() const {
    std::lock_guard lock(state->mutex);
    return state->writes;
}

bool EmulatedInputDevice::grabbed() const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return state->grabOwner != nullptr;
}

int EmulatedInputDevice::grabs() const {
    std::lock_guard lock(state->mutex);
    return state->grabCount;
}

int EmulatedInputDevice::ungrabs() const {
    std::lock_guard lock(state->mutex);
    return state->ungrabCount;
}

bool EmulatedInputDevice::waitUntilRead(std::chrono::milliseconds timeout) const {
    return waitFor(
        [&] {
            std::lock_guard lock(state->mutex);
            int queued = 0;
            return state->nodeFd < 0 ||
                   (ioctl(state->nodeFd, FIONREAD, &queued) == 0 && queued == 0);
        },
        timeout);
}

bool EmulatedInputDevice::grabKept() const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return state->grabOwner != nullptr && state->grabChecked;
}

int EmulatedInputDevice::reads() const {
    std::lock_guard lock(state->mutex);
    return state->readCount;
}

int EmulatedInputDevice::keysStuckOnTheDesktop() const {
    std::lock_guard lock(state->mutex);
    return static_cast<int>((state->desktopDown & ~state->keys).count());
}

int EmulatedInputDevice::ungrabsWithAKeyDown() const {
    std::lock_guard lock(state->mutex);
    return state->ungrabsWithKeysDown;
}

void EmulatedInputDevice::holdGrabElsewhere(bool held) {
    std::lock_guard lock(state->mutex);
    state->grabbedElsewhere = held;
    state->touch();
}

int EmulatedInputDevice::opens() const {
    std::lock_guard lock(state->mutex);
    return state->openCount;
}

int EmulatedInputDevice::closes() const {
    std::lock_guard lock(state->mutex);
    state->sweepClosedClients();
    return state->closeCount;
}

std::vector<std::string> EmulatedInputDevice::unexpectedIoctls() const {
    std::lock_guard lock(state->mutex);
    return state->unexpected;
}

bool EmulatedInputDevice::waitFor(const std::function<bool()>& cond,
                                  std::chrono::milliseconds timeout) const {
    return waitForChange(state->mutex, state->changed, state->changeCount, cond, timeout);
}

bool EmulatedInputDevice::waitForCloses(int n, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return closes() >= n; }, timeout);
}
