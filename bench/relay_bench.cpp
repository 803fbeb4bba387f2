// Measures the relay's timing and cost on an emulated X68000 Z keyboard and a
// pty standing in for the X68000, and prints one table:
//   key -> wire latency, auto-repeat error, host command -> LED report latency,
//   each beside the pty's own hop (the floor), and how long the relay takes to
//   get a returning keyboard (by hotplug and by polling) and port back (the
//   relay in this process); key -> wire latency again while a real host
//   talks (ROM 1.0's power-on bytes, then 0x41/0x40 every 10 ms), and how soon
//   a worker with 64 unanswered LED changes queued makes a pass; then wake-ups,
//   CPU, peak RSS and stop time of the real `pellora` program run as its own
//   process, with a silent and with a talking host, its stop with LED reports
//   nobody answers, and its wake-ups with systemd's watchdog on; last, an
//   input-device keyboard (an emulated evdev node read through libevdev):
//   its key -> wire latency against the X68000 Z keyboard's, all relayed at
//   once and sampled in turn, alone, as the second of two keyboards, typing a
//   US legend that needs SHIFT let go of, and shared with the computer (on
//   the X68000's side), and the wake-ups and CPU of pellora relaying it;
//   and a mouse beside the keyboard (an emulated evdev mouse, its packets on a
//   second pty): the host's request on the key line -> the packet's first byte
//   on the mouse's line, against the host's 20 ms, and the wake-ups and CPU of
//   pellora --mouse idle and with a real host asking 50 times a second.
//
// Usage: pellora_bench PATH_TO_PELLORA [--quick] [--real-host | --input | --mouse]
//   --quick: fewer samples and shorter windows; --real-host: only the rows of
//   the real host and of unanswered LED reports; --input: only the rows of the
//   input-device keyboard; --mouse: only the mouse's rows.
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include <linux/input-event-codes.h>

#include "bench/stats.h"
#include "input/emulated_input_device.h"
#include "input/input_keyboard.h"
#include "input/input_mouse.h"
#include "input/layout.h"
#include "relay/key_relay.h"
#include "support/child_process.h"
#include "support/notify_socket.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
const Bytes kPressA{0, 0, 0x04, 0, 0, 0, 0, 0};
const Bytes kReleaseAll(8, 0);

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void sleepFor(double milliseconds) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(milliseconds));
}

// Blocks until one byte is readable at the pty master; returns it and when.
std::pair<std::uint8_t, Clock::time_point> readByte(int fd) {
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 5000) <= 0) {
            throw std::runtime_error("no byte from the relay within 5 s");
        }
        const auto at = Clock::now();
        std::uint8_t b = 0;
        if (read(fd, &b, 1) == 1) {
            return {b, at};
        }
    }
}

// The next byte from the relay that is not the ready byte: for runs in which
// the keyboard may or may not be opened anew (and announced) on the way.
std::pair<std::uint8_t, Clock::time_point> readKeyByte(int fd) {
    for (;;) {
        const auto got = readByte(fd);
        if (got.first != kReadyByte) {
            return got;
        }
    }
}

// Reads the ready byte that a relay owes the host once keyboard and line meet.
void expectReadyByte(int fd) {
    if (readByte(fd).first != kReadyByte) {
        throw std::runtime_error("the relay did not send the ready byte");
    }
}

// A real X68000 on the line, as ROM 1.0 talks to its keyboard: the power-on
// bytes one every 4.17 ms (a byte time at 2400 baud), then 0x41 and 0x40 in
// turn every 10 ms (its mouse task's MSCTRL) until destroyed. On its own
// thread, writing to the pty's host end.
class RealHost {
public:
    explicit RealHost(int fd) : thread([this, fd] { talk(fd); }) {}
    ~RealHost() {
        talking = false;
        thread.join();
    }
    RealHost(const RealHost&) = delete;
    RealHost& operator=(const RealHost&) = delete;
    int bytesSent() const { return sent.load(); }

private:
    void talk(int fd) {
        static constexpr std::uint8_t kPowerOn[] = {0xFF, 0xFF, 0x41, 0x49, 0x59,
                                                    0x51, 0x5C, 0x63, 0x72};
        auto due = Clock::now();
        auto say = [&](std::uint8_t b, std::chrono::microseconds gap) {
            std::this_thread::sleep_until(due);
            if (::write(fd, &b, 1) == 1) {
                ++sent;
            }
            due += gap;
        };
        for (const std::uint8_t b : kPowerOn) {
            say(b, std::chrono::microseconds(4167));
        }
        for (std::uint8_t b = 0x41; talking; b ^= 1) {
            say(b, std::chrono::milliseconds(10));
        }
    }

    std::atomic<bool> talking{true};
    std::atomic<int> sent{0};
    std::thread thread;  // last: it starts at once
};

// Polls cond every 50 us until it holds; returns when, or throws after 5 s.
template <typename Cond>
Clock::time_point until(Cond cond, const char* what) {
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (!cond()) {
        if (Clock::now() > giveUp) {
            throw std::runtime_error(std::string("gave up waiting for ") + what);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return Clock::now();
}

// Waits for the LED report that follows the `before` ones already seen; a
// figure taken without it would be the wait's time-out, not the relay's.
void awaitLedReport(EmulatedKeyboard& kb, std::size_t before) {
    if (!kb.waitForControlRequests(before + 1)) {
        throw std::runtime_error("no LED report reached the keyboard");
    }
}

void printRow(const char* what, const Summary& s, const char* unit = "ms") {
    std::printf("%-46s %8.2f %8.2f %8.2f %s  (n=%zu)\n", what, s.p50, s.p99, s.max, unit, s.count);
}

// --- The relay in this process ----------------------------------------------

struct InProcess {
    EmulatedKeyboard kb;
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>(true);
    const std::string portName = pty->portPath();   // a link in the first pair's directory
    std::vector<std::unique_ptr<PtyPair>> retired;  // lines replaced since, kept for the link
    KeyRelay relay;
    std::uint8_t lastLedCommand = 0xFF;  // all LEDs off, as after opening

    explicit InProcess(bool watchHotplug = true) : relay(systemTickMs, watchHotplug) {
        if (!relay.openKeyboard()) {
            throw std::runtime_error("cannot open the emulated keyboard");
        }
        relay.start(portName);
        until([&] { return relay.status().port == PortState::Open; }, "the port");
        expectReadyByte(host());
    }
    ~InProcess() {
        relay.stop();
        relay.closeKeyboard();
    }
    int host() const { return pty->masterFd(); }
    bool keyboardUp() const { return relay.status().keyboard().state == KeyboardState::Connected; }

    // Host command bytes, then waits until the relay has taken them (an LED
    // change as the last command acknowledges them all).
    void hostSends(Bytes commands, std::uint8_t ledMarker) {
        const std::size_t before = kb.controlRequests().size();
        commands.push_back(ledMarker);
        lastLedCommand = ledMarker;
        pty->write(commands);
        awaitLedReport(kb, before);
    }
};

// From the moment a report completes at the keyboard to its byte being
// readable at the host end, at random moments; split at the moment libusb
// reaped the report, which the emulator notes: before it, the wake-up and the
// emulated kernel's ioctls (umockdev passes each over a socket to this
// process); after it, the relay's own work and the pty.
struct KeyLatency {
    Summary total, untilReaped, reapedToWire;
};

KeyLatency keyLatency(InProcess& p, int changes) {
    std::mt19937 random(68000);
    std::uniform_real_distribution<double> gap(0.0, 10.0);
    // Hold time must stay under the repeat delay so no repeat byte interleaves.
    std::vector<double> total, untilReaped, reapedToWire;
    for (int i = 0; i < changes; ++i) {
        sleepFor(gap(random));
        p.kb.sendReport(kBoot, i % 2 == 0 ? kPressA : kReleaseAll);
        const auto sent = Clock::now();
        const auto [byte, at] = readByte(p.host());
        if (byte != (i % 2 == 0 ? 0x1E : 0x9E)) {
            throw std::runtime_error("unexpected byte in the latency run");
        }
        const auto reapedAt = p.kb.deliveries().back().reapedAt;
        total.push_back(ms(at - sent));
        untilReaped.push_back(ms(reapedAt - sent));
        reapedToWire.push_back(ms(at - reapedAt));
    }
    return {summarize(total), summarize(untilReaped), summarize(reapedToWire)};
}

// The error of each repeat against its schedule: the make's arrival plus the
// delay, then one interval per repeat. Over several presses, so that one slow
// make does not shift every sample of a run.
Summary repeatError(InProcess& p, int repeats, double delayMs, double intervalMs) {
    constexpr int kPerPress = 10;
    std::vector<double> errors;
    for (int done = 0; done < repeats; done += kPerPress) {
        p.kb.sendReport(kBoot, kPressA);
        const auto [make, madeAt] = readByte(p.host());
        for (int k = 0; k < kPerPress; ++k) {
            const auto [byte, at] = readByte(p.host());
            if (byte != make) {
                throw std::runtime_error("unexpected byte in the repeat run");
            }
            errors.push_back(std::abs(ms(at - madeAt) - (delayMs + k * intervalMs)));
        }
        p.kb.sendReport(kBoot, kReleaseAll);
        for (std::uint8_t b = 0; b != (make | 0x80);) {
            b = readByte(p.host()).first;  // repeats already on their way, then the break
        }
    }
    return summarize(errors);
}

// From the host's command byte to the LED report reaching the keyboard.
Summary ledLatency(InProcess& p, int commands) {
    std::mt19937 random(2400);
    std::uniform_real_distribution<double> gap(0.0, 10.0);
    std::vector<double> samples;
    // Each command must change the LEDs, or no report is sent: alternate from
    // the state the last LED command left.
    std::uint8_t command = p.lastLedCommand;
    for (int i = 0; i < commands; ++i) {
        sleepFor(gap(random));
        const std::size_t before = p.kb.controlRequests().size();
        command = command == 0xF7 ? 0xFF : 0xF7;
        p.lastLedCommand = command;
        const auto sent = Clock::now();
        p.pty->write({command});
        awaitLedReport(p.kb, before);
        samples.push_back(ms(Clock::now() - sent));
    }
    return summarize(samples);
}

// A byte written to the tty until it is readable at the master, with no relay
// in between: the part of the latency that is the pty's, not ours.
Summary ptyHop(int bytes) {
    PtyPair pty{true};
    SerialPort port;
    port.open(pty.portPath());
    std::vector<double> samples;
    for (int i = 0; i < bytes; ++i) {
        const auto sent = Clock::now();
        port.writeByte(0x1E);
        samples.push_back(ms(readByte(pty.masterFd()).second - sent));
    }
    return summarize(samples);
}

// From the keyboard's plug-in to the relay having it open again.
Summary keyboardReturn(InProcess& p, int times) {
    std::mt19937 random(33);
    std::uniform_real_distribution<double> away(0.0, 2000.0);
    std::vector<double> samples;
    for (int i = 0; i < times; ++i) {
        p.kb.unplug();
        until([&] { return !p.keyboardUp(); }, "the keyboard's loss");
        sleepFor(away(random));  // unplugged for a while: plugged in at any point of the tries
        const auto plugged = Clock::now();
        p.kb.plugIn();
        samples.push_back(ms(until([&] { return p.keyboardUp(); }, "the keyboard") - plugged));
        expectReadyByte(p.host());
    }
    p.kb.sendReport(kBoot, kPressA);  // and it types
    p.kb.sendReport(kBoot, kReleaseAll);
    readByte(p.host());
    readByte(p.host());
    return summarize(samples);
}

// From a new line appearing under the port's name to the relay having it open.
Summary portReturn(InProcess& p, int times) {
    std::vector<double> samples;
    for (int i = 0; i < times; ++i) {
        auto next = std::make_unique<PtyPair>(true);
        p.pty->closeMaster();
        until([&] { return p.relay.status().port == PortState::Reopening; }, "the port's loss");
        sleepFor(300 * i % 1000);  // at different points of the once-a-second tries
        const auto linked = Clock::now();
        next->linkAs(p.portName);
        const auto open =
            until([&] { return p.relay.status().port == PortState::Open; }, "the port");
        samples.push_back(ms(open - linked));
        p.retired.push_back(std::move(p.pty));
        p.pty = std::move(next);
        expectReadyByte(p.host());
    }
    return summarize(samples);
}

// Failed transfers a second while an endpoint fails every transfer: halted for
// good (each clear halts it again) or failing with a protocol error.
double failuresPerSecond(InProcess& p, bool halted, double seconds) {
    constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;
    const int before = p.kb.failedUrbs(kBitmap);
    if (halted) {
        p.kb.haltEndpoint(kBitmap, 1 << 30);
    } else {
        p.kb.failEndpoint(kBitmap, -EPROTO);
    }
    sleepFor(seconds * 1000);
    p.kb.failEndpoint(kBitmap, 0);
    const double rate = (p.kb.failedUrbs(kBitmap) - before) / seconds;
    until([&] { return p.keyboardUp(); }, "the keyboard after the failures");
    return rate;
}

// From the end of a fault on the boot endpoint to a key pressed then reaching
// the wire: a halt (cleared by the relay), or a storm of protocol errors of
// random length up to two seconds (past one, the keyboard is given up and
// opened again). No key is held through a fault, so no repeat gets in between.
Summary typingAgain(InProcess& p, bool halt, int times) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> storm(100.0, 2000.0);
    std::vector<double> samples;
    for (int i = 0; i < times; ++i) {
        Clock::time_point ended;
        if (halt) {
            ended = Clock::now();
            p.kb.haltEndpoint(kBoot);
        } else {
            p.kb.failEndpoint(kBoot, -EPROTO);
            sleepFor(storm(random));
            ended = Clock::now();
            p.kb.failEndpoint(kBoot, 0);
        }
        // A keyboard given up in the fault is announced again when it is back.
        p.kb.sendReport(kBoot, kPressA);
        const auto [make, at] = readKeyByte(p.host());
        p.kb.sendReport(kBoot, kReleaseAll);
        if (make != 0x1E || readKeyByte(p.host()).first != 0x9E) {
            throw std::runtime_error("unexpected byte after a fault");
        }
        samples.push_back(ms(at - ended));
    }
    return summarize(samples);
}

// 64 LED changes in one read (a quarter of a second of a host's traffic) into
// a keyboard that never answers: from the burst's first report reaching the
// keyboard to a key's byte on the wire, and from a watchdog's wake-up of the
// worker to its next pass (the proof of life a supervisor waits for).
struct UnansweredLeds {
    Summary keyToWire, wakeToPass;
};

UnansweredLeds unansweredLeds(InProcess& p, int runs) {
    p.kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    std::vector<double> keys, passes;
    for (int run = 0; run < runs; ++run) {
        Bytes burst;
        for (int i = 0; i < 64; ++i) {
            burst.push_back(i % 2 == run % 2 ? 0xF7 : 0xFB);
        }
        const std::size_t before = p.kb.controlRequests().size();
        p.pty->write(burst);
        awaitLedReport(p.kb, before);
        const auto sent = Clock::now();
        p.kb.sendReport(kBoot, kPressA);
        keys.push_back(ms(readByte(p.host()).second - sent));
        p.kb.sendReport(kBoot, kReleaseAll);
        readByte(p.host());
        const std::uint64_t count = p.relay.workerPasses();
        const auto woken = Clock::now();
        p.relay.wakeWorker();
        passes.push_back(
            ms(until([&] { return p.relay.workerPasses() > count; }, "a pass") - woken));
        if (p.kb.controlRequests().size() != before + 1) {
            throw std::runtime_error("more than one LED report for one burst");
        }
        sleepFor(300);  // past the report's time-out, so the next burst starts afresh
    }
    p.kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::Ack);
    return {summarize(keys), summarize(passes)};
}

// --- The real program as its own process --------------------------------------

// A figure summed over every thread of process pid: CPU time in milliseconds
// (schedstat) or a counter from each thread's status file.
double overThreads(pid_t pid, const char* statusField = nullptr) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    DIR* tasks = opendir(dir.c_str());
    if (tasks == nullptr) {
        return 0;
    }
    while (dirent* t = readdir(tasks)) {
        if (t->d_name[0] == '.') {
            continue;
        }
        const std::string task = dir + "/" + t->d_name;
        if (statusField == nullptr) {
            std::ifstream stat(task + "/schedstat");
            double ns = 0;
            if (stat >> ns) {
                total += ns / 1e6;
            }
            continue;
        }
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind(statusField, 0) == 0) {
                total += std::stod(line.substr(std::strlen(statusField)));
            }
        }
    }
    closedir(tasks);
    return total;
}

long statusKb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::strlen(field)));
        }
    }
    return -1;
}

struct ProcessFigures {
    double idleCpuPercent = 0, typingCpuPercent = 0, idleWakesPerSecond = 0;
    double watchdogWakesPerSecond = 0, watchdogPingsPerSecond = 0;
    int threads = 0;
    long peakRssKb = 0, anonRssKb = 0, fileRssKb = 0;
    Summary stopMs;
};

// SIGTERM until pellora has exited; every run is a clean exit or the figure is void.
double stopTime(ChildProcess& p) {
    const auto signalled = Clock::now();
    p.signal(SIGTERM);
    if (p.waitExit(std::chrono::seconds(10)) != 0) {
        throw std::runtime_error("pellora did not stop cleanly: " + p.err());
    }
    return ms(Clock::now() - signalled);
}

// pellora started on pty, once it says it relays.
std::unique_ptr<ChildProcess> startRelaying(const std::string& program, const PtyPair& pty,
                                            const std::vector<std::string>& env) {
    auto p = std::make_unique<ChildProcess>(program, std::vector<std::string>{pty.portPath()}, env);
    if (!p->waitForErrLine("Relaying")) {
        throw std::runtime_error("pellora did not start: " + p->err());
    }
    expectReadyByte(pty.masterFd());
    return p;
}

ProcessFigures measureProgram(const std::string& program, double windowSeconds, int stopRuns) {
    ProcessFigures f;
    EmulatedKeyboard kb;
    const std::vector<std::string> env{"LD_PRELOAD=" + umockdevChildPreload()};
    std::vector<double> stops;
    for (int run = 0; run < stopRuns; ++run) {
        PtyPair pty{true};
        const auto p = startRelaying(program, pty, env);
        if (run == 0) {
            const pid_t child = p->pid();
            sleepFor(500);  // past the start-up
            const double cpu0 = overThreads(child);
            const double wakes0 = overThreads(child, "voluntary_ctxt_switches:");
            sleepFor(windowSeconds * 1000);
            const double cpu1 = overThreads(child);
            const double wakes1 = overThreads(child, "voluntary_ctxt_switches:");
            f.idleCpuPercent = (cpu1 - cpu0) / (windowSeconds * 1000) * 100;
            f.idleWakesPerSecond = (wakes1 - wakes0) / windowSeconds;
            f.threads = static_cast<int>(statusKb(child, "Threads:"));

            // About 30 key changes a second, read as they come.
            const auto end = Clock::now() + std::chrono::duration<double>(windowSeconds);
            int i = 0;
            while (Clock::now() < end) {
                kb.sendReport(kBoot, i++ % 2 == 0 ? kPressA : kReleaseAll);
                readByte(pty.masterFd());
                sleepFor(1000.0 / 30);
            }
            const double cpu2 = overThreads(child);
            f.typingCpuPercent = (cpu2 - cpu1) / (windowSeconds * 1000) * 100;
            f.peakRssKb = statusKb(child, "VmHWM:");
            f.anonRssKb = statusKb(child, "RssAnon:");
            f.fileRssKb = statusKb(child, "RssFile:");
            if (i % 2 == 1) {
                kb.sendReport(kBoot, kReleaseAll);
                readByte(pty.masterFd());
            }
        }
        stops.push_back(stopTime(*p));
    }
    f.stopMs = summarize(stops);
    return f;
}

// --- A real host on the line --------------------------------------------------

struct RealHostFigures {
    KeyLatency silent, talking;
    UnansweredLeds unanswered;
    double passesPerByte = 0;
    double cpuPercent = 0, wakesPerByte = 0, bytesPerSecond = 0;
    Summary stopAfterLed, stopAfterLedBurst;
};

// pellora as its own process while the host talks and nobody types: its CPU
// time, and its wake-ups (voluntary context switches, all threads) per host byte.
void measureTalkingProgram(const std::string& program, double windowSeconds, RealHostFigures& f) {
    EmulatedKeyboard kb;
    PtyPair pty{true};
    const auto p = startRelaying(program, pty, {"LD_PRELOAD=" + umockdevChildPreload()});
    sleepFor(500);  // past the start-up
    const double cpu0 = overThreads(p->pid());
    const double wakes0 = overThreads(p->pid(), "voluntary_ctxt_switches:");
    int bytes = 0;
    {
        RealHost host(pty.masterFd());
        sleepFor(windowSeconds * 1000);
        bytes = host.bytesSent();
    }
    const double cpu1 = overThreads(p->pid());
    const double wakes1 = overThreads(p->pid(), "voluntary_ctxt_switches:");
    f.cpuPercent = (cpu1 - cpu0) / (windowSeconds * 1000) * 100;
    f.wakesPerByte = (wakes1 - wakes0) / bytes;
    f.bytesPerSecond = bytes / windowSeconds;
    stopTime(*p);
}

// SIGTERM to exit while the keyboard leaves the LED reports unanswered: after
// one change, and after 64 in one read (a quarter of a second of a host's
// traffic).
void measureLedStops(const std::string& program, int runs, RealHostFigures& f) {
    EmulatedKeyboard kb;
    const std::vector<std::string> env{"LD_PRELOAD=" + umockdevChildPreload()};
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    for (const int changes : {1, 64}) {
        std::vector<double> stops;
        for (int run = 0; run < runs; ++run) {
            PtyPair pty{true};
            const auto p = startRelaying(program, pty, env);
            const std::size_t before = kb.controlRequests().size();
            Bytes commands;
            for (int i = 0; i < changes; ++i) {
                commands.push_back((run + i) % 2 == 0 ? 0xF7 : 0xFB);
            }
            pty.write(commands);
            awaitLedReport(kb, before);
            stops.push_back(stopTime(*p));
        }
        (changes == 1 ? f.stopAfterLed : f.stopAfterLedBurst) = summarize(stops);
    }
}

RealHostFigures measureRealHost(const std::string& program, int changes, double windowSeconds,
                                int runs) {
    RealHostFigures f;
    {
        // Silent, then talking: one relay, one run, so the ratio is of the
        // traffic alone.
        InProcess p;
        f.silent = keyLatency(p, changes);
        {
            RealHost host(p.host());
            f.talking = keyLatency(p, changes);
        }
        // The worker's passes while the host talks and nobody types: what the
        // relay itself does per host byte, apart from the kernel's wake-ups.
        {
            const std::uint64_t before = p.relay.workerPasses();
            RealHost host(p.host());
            sleepFor(windowSeconds * 1000);
            f.passesPerByte =
                static_cast<double>(p.relay.workerPasses() - before) / host.bytesSent();
        }
        f.unanswered = unansweredLeds(p, 2 * runs);
    }
    measureTalkingProgram(program, windowSeconds, f);
    measureLedStops(program, runs, f);
    return f;
}

void printRealHost(const RealHostFigures& f) {
    std::printf("\n%-46s %8s %8s %8s\n", "a real host: ROM 1.0's bytes, 0x41/0x40 / 10 ms", "p50",
                "p99", "max");
    printRow("key -> wire, silent host", f.silent.total);
    printRow("key -> wire, host talking", f.talking.total);
    std::printf("%-46s %8.2f %8.2f %8.2f\n", "  ratio, talking / silent",
                f.talking.total.p50 / f.silent.total.p50, f.talking.total.p99 / f.silent.total.p99,
                f.talking.total.max / f.silent.total.max);
    printRow("64 unanswered LED changes: key -> wire", f.unanswered.keyToWire);
    printRow("64 unanswered LED changes: wake -> pass", f.unanswered.wakeToPass);
    printRow("SIGTERM -> exit, an LED report unanswered", f.stopAfterLed);
    printRow("SIGTERM -> exit, 64 unanswered LED changes", f.stopAfterLedBurst);
    std::printf("%-46s %8.3f %% of a core (%.1f host bytes a second, no key typed)\n",
                "CPU, pellora with the host talking", f.cpuPercent, f.bytesPerSecond);
    std::printf("%-46s %8.2f per host byte, all threads (voluntary context switches)\n",
                "wake-ups, pellora with the host talking", f.wakesPerByte);
    std::printf("%-46s %8.2f per host byte\n", "worker passes, host talking (in process)",
                f.passesPerByte);
}

// pellora as systemd runs it with WatchdogSec=10 (the unit's): a look at its
// worker every 5 s, which wakes the main thread and the worker once each.
void measureWatchdog(const std::string& program, double windowSeconds, ProcessFigures& f) {
    EmulatedKeyboard kb;
    PtyPair pty{true};
    NotifySocket systemd;
    ChildProcess p(
        program, {pty.portPath()},
        {"LD_PRELOAD=" + umockdevChildPreload(), systemd.environment(), "WATCHDOG_USEC=10000000"});
    if (!systemd.waitForLine("READY=1")) {
        throw std::runtime_error("pellora did not say READY=1: " + p.err());
    }
    sleepFor(500);  // past the start-up
    const std::size_t before = systemd.received().size();
    const double wakes0 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    sleepFor(windowSeconds * 1000);
    const double wakes1 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    while (systemd.next(std::chrono::milliseconds(0))) {
    }
    const auto& heard = systemd.received();
    f.watchdogWakesPerSecond = (wakes1 - wakes0) / windowSeconds;
    f.watchdogPingsPerSecond =
        std::count(heard.begin() + static_cast<std::ptrdiff_t>(before), heard.end(), "WATCHDOG=1") /
        windowSeconds;
    stopTime(p);
}

// --- An input-device keyboard -------------------------------------------------

// The keyboards relayed at once, each relay to a pty of its own, in one
// testbed: the X68000 Z keyboard (libusb), and input devices (libevdev) on
// relays of their own: one alone, one as the second of two keyboards, one
// typing a US keyboard's legends (--layout=us), one shared with the computer
// (--share) and given to the X68000.
struct InputRig {
    InputRig(EmulatedKeyboard& kb, int number, const std::vector<KeyRelay::KeyboardFactory>& make,
             std::shared_ptr<ShareSwitch> switched = nullptr)
        : device(kb, {.name = "Keyboard " + std::to_string(number),
                      .productId = static_cast<std::uint16_t>(0xc300 + number),
                      .usbPort = number,
                      .eventNumber = number}),
          relay(make.front()),
          share(std::move(switched)) {
        for (std::size_t i = 1; i < make.size(); ++i) {
            relay.addKeyboard(make[i]);
        }
        if (share) {
            relay.setShare(share);
        }
    }

    // A keyboard of the input layer on eventN, through keys.
    static KeyRelay::KeyboardFactory keyboard(int number, const KeyTranslator& keys,
                                              std::shared_ptr<ShareSwitch> share = nullptr) {
        return [=](ByteQueue& keyQueue, std::function<void()> keysQueued) {
            return std::make_unique<InputKeyboard>(
                keyQueue,
                std::make_shared<InputNode>("event" + std::to_string(number),
                                            InputDeviceName::Kind::Keyboard, true),
                keys, std::move(keysQueued), share);
        };
    }

    EmulatedInputDevice device;
    PtyPair line{true};
    KeyRelay relay;
    std::shared_ptr<ShareSwitch> share;
};

struct AllKeyboards {
    EmulatedKeyboard kb;
    PtyPair zLine{true};
    KeyRelay zRelay;
    EmulatedInputDevice other{
        kb, {.name = "Other Keyboard", .productId = 0xc3ff, .usbPort = 20, .eventNumber = 20}};
    InputRig plain{kb, 5, {InputRig::keyboard(5, defaultInputKeyMap())}};
    InputRig second{kb,
                    6,
                    {InputRig::keyboard(20, defaultInputKeyMap()),
                     InputRig::keyboard(6, defaultInputKeyMap())}};
    InputRig us{
        kb, 7, {InputRig::keyboard(7, KeyTranslator(layoutKeyMap(Layout::Us), Layout::Us))}};
    std::shared_ptr<ShareSwitch> share =
        std::make_shared<ShareSwitch>(KEY_SCROLLLOCK, "Scroll Lock");
    InputRig shared{kb, 8, {InputRig::keyboard(8, defaultInputKeyMap(), share)}, share};

    std::vector<KeyRelay*> relays() {
        return {&zRelay, &plain.relay, &second.relay, &us.relay, &shared.relay};
    }
    std::vector<int> lines() {
        return {zLine.masterFd(), plain.line.masterFd(), second.line.masterFd(), us.line.masterFd(),
                shared.line.masterFd()};
    }

    AllKeyboards() {
        for (KeyRelay* relay : relays()) {
            if (!relay->openKeyboard()) {
                throw std::runtime_error("cannot open an emulated keyboard");
            }
        }
        zRelay.start(zLine.portPath());
        for (InputRig* rig : {&plain, &second, &us, &shared}) {
            rig->relay.start(rig->line.portPath());
        }
        for (KeyRelay* relay : relays()) {
            until([&] { return relay->status().port == PortState::Open; }, "a port");
        }
        for (const int fd : lines()) {
            expectReadyByte(fd);
        }
        // The shared keyboard given to the X68000: Scroll Lock twice, then its
        // grab (kept with every key up).
        for (int i = 0; i < 2; ++i) {
            shared.device.press(KEY_SCROLLLOCK);
            shared.device.release(KEY_SCROLLLOCK);
        }
        until([&] { return shared.device.grabKept(); }, "the shared keyboard's grab");
    }
    ~AllKeyboards() {
        for (KeyRelay* relay : relays()) {
            relay->stop();
            relay->closeKeyboard();
        }
    }
};

struct InputFigures {
    Summary zKeyboard, inputDevice, secondKeyboard, usLegend, shared;
    double idleWakesPerSecond = 0, idleCpuPercent = 0, typingCpuPercent = 0;
    int threads = 0;
};

// Key changes at random moments, taken in turn from each keyboard: the X68000
// Z keyboard (a report completing), and each input device (an event frame
// written to its node), each until its byte is readable at the host end, so
// that all meet the same machine at the same time. The US keyboard types @
// (Shift held, then 2: the X68000's @ key with SHIFT released), timed from
// 2's make to @'s make, SHIFT's break before it.
void inputLatency(int changes, InputFigures& f) {
    AllKeyboards all;
    std::mt19937 random(6809);
    std::uniform_real_distribution<double> gap(0.0, 10.0);
    std::vector<double> samples[5];
    const auto expect = [](std::uint8_t got, std::uint8_t wanted) {
        if (got != wanted) {
            throw std::runtime_error("unexpected byte in the input latency run");
        }
    };
    for (int i = 0; i < 5 * changes; ++i) {
        sleepFor(gap(random));
        const int which = i % 5;
        const bool press = (i / 5) % 2 == 0;
        const int fd = all.lines()[static_cast<std::size_t>(which)];
        if (which == 3 && press) {
            all.us.device.press(KEY_LEFTSHIFT);
            expect(readByte(fd).first, 0x70);
        }
        // All from before the emulator's call, which the X68000 Z keyboard's
        // takes longer over (a report completes an URB under the emulator's lock).
        const auto sent = Clock::now();
        switch (which) {
            case 0:
                all.kb.sendReport(kBoot, press ? kPressA : kReleaseAll);
                break;
            case 3:
                press ? all.us.device.press(KEY_2) : all.us.device.release(KEY_2);
                break;
            default: {
                InputRig& rig = which == 1 ? all.plain : which == 2 ? all.second : all.shared;
                press ? rig.device.press(KEY_A) : rig.device.release(KEY_A);
            }
        }
        std::pair<std::uint8_t, Clock::time_point> got = readByte(fd);
        if (which == 3) {
            if (press) {
                expect(got.first, 0xF0);  // SHIFT let go of, then @
                got = readByte(fd);
            }
            expect(got.first, press ? 0x1B : 0x9B);
        } else {
            expect(got.first, press ? 0x1E : 0x9E);
        }
        samples[which].push_back(ms(got.second - sent));
        if (which == 3 && !press) {
            all.us.device.release(KEY_LEFTSHIFT);  // SHIFT is up on the X68000 already
        }
    }
    f.zKeyboard = summarize(samples[0]);
    f.inputDevice = summarize(samples[1]);
    f.secondKeyboard = summarize(samples[2]);
    f.usLegend = summarize(samples[3]);
    f.shared = summarize(samples[4]);
}

// pellora relaying an input device as its own process: its wake-ups and CPU
// idle, and its CPU while about 30 key changes a second are typed.
void measureInputProgram(const std::string& program, double windowSeconds, InputFigures& f) {
    EmulatedKeyboard kb{{.present = false}};
    EmulatedInputDevice device{kb};
    PtyPair pty{true};
    ChildProcess p(program, {"--keyboard=event5", pty.portPath()},
                   {"LD_PRELOAD=" + umockdevChildPreload()});
    if (!p.waitForErrLine("Relaying")) {
        throw std::runtime_error("pellora did not start: " + p.err());
    }
    expectReadyByte(pty.masterFd());
    sleepFor(500);  // past the start-up
    const double cpu0 = overThreads(p.pid());
    const double wakes0 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    sleepFor(windowSeconds * 1000);
    const double cpu1 = overThreads(p.pid());
    const double wakes1 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    f.idleCpuPercent = (cpu1 - cpu0) / (windowSeconds * 1000) * 100;
    f.idleWakesPerSecond = (wakes1 - wakes0) / windowSeconds;
    f.threads = static_cast<int>(statusKb(p.pid(), "Threads:"));
    const auto end = Clock::now() + std::chrono::duration<double>(windowSeconds);
    for (int i = 0; Clock::now() < end; ++i) {
        i % 2 == 0 ? device.press(KEY_A) : device.release(KEY_A);
        readByte(pty.masterFd());
        sleepFor(1000.0 / 30);
    }
    f.typingCpuPercent = (overThreads(p.pid()) - cpu1) / (windowSeconds * 1000) * 100;
    device.release(KEY_A);  // a break, if A is still down
    stopTime(p);
}

void printInput(const std::string& program, int changes, double windowSeconds) {
    InputFigures f;
    inputLatency(changes, f);
    measureInputProgram(program, windowSeconds, f);
    std::printf("\n%-46s %8s %8s %8s\n", "an input-device keyboard (libevdev)", "p50", "p99",
                "max");
    printRow("key -> wire, X68000 Z keyboard (in turn)", f.zKeyboard);
    printRow("key -> wire, input device (in turn)", f.inputDevice);
    printRow("  the second of two keyboards", f.secondKeyboard);
    printRow("  --layout=us, @ (SHIFT let go of first)", f.usLegend);
    printRow("  --share, on the X68000's side", f.shared);
    std::printf("%-46s %8.2f %8.2f %8.2f\n", "  ratio, input device / X68000 Z keyboard",
                f.inputDevice.p50 / f.zKeyboard.p50, f.inputDevice.p99 / f.zKeyboard.p99,
                f.inputDevice.max / f.zKeyboard.max);
    std::printf("%-46s %8.2f a second, all %d threads\n",
                "wake-ups idle, pellora relaying an input device", f.idleWakesPerSecond, f.threads);
    std::printf("%-46s %8.3f %% of a core idle, %.3f %% typing 30 changes/s\n",
                "CPU, pellora relaying an input device", f.idleCpuPercent, f.typingCpuPercent);
}

// --- A mouse ------------------------------------------------------------------

EmulatedInputDevice::Options mouseOptions() {
    return {.kind = EmulatedInputDevice::Kind::Mouse,
            .name = "Logitech USB Optical Mouse",
            .usbPort = 5,
            .eventNumber = 6};
}

// The X68000 Z keyboard relayed with a mouse beside it, each line a pty.
struct WithAMouse {
    EmulatedKeyboard kb;
    EmulatedInputDevice mouse{kb, mouseOptions()};
    PtyPair keyLine{true}, mouseLine{true};
    KeyRelay relay;

    WithAMouse() {
        relay.addMouse(std::make_unique<InputMouse>("event6"), mouseLine.portPath());
        if (!relay.openKeyboard() || relay.status().mouse->device != KeyboardState::Connected) {
            throw std::runtime_error("cannot open the emulated keyboard and mouse");
        }
        relay.start(keyLine.portPath());
        until([&] { return relay.status().port == PortState::Open; }, "the port");
        if (relay.status().mouse->port != PortState::Open) {
            throw std::runtime_error("the mouse's line did not open");
        }
        expectReadyByte(keyLine.masterFd());
    }
    ~WithAMouse() {
        relay.stop();
        relay.closeKeyboard();
    }
};

// From the host's 0x40 written to the key line (1 to 10 ms after its 0x41, as
// the relay may be anywhere in its passes) to the packet's first byte
// readable at the mouse line's end; every other request with motion before it.
Summary requestToPacket(int requests) {
    WithAMouse m;
    std::mt19937 random(4800);
    std::uniform_real_distribution<double> gap(1.0, 10.0);
    std::vector<double> samples;
    for (int i = 0; i < requests; ++i) {
        const bool moved = i % 2 == 0;
        if (moved) {
            m.mouse.move(1, -1);
        }
        m.keyLine.write({0x41});
        sleepFor(gap(random));
        const auto sent = Clock::now();
        m.keyLine.write({0x40});
        const auto [status, at] = readByte(m.mouseLine.masterFd());
        const Bytes rest = m.mouseLine.read(2);
        if (status != 0 || rest != (moved ? Bytes{0x01, 0xFF} : Bytes{0x00, 0x00})) {
            throw std::runtime_error("unexpected packet in the mouse run");
        }
        samples.push_back(ms(at - sent));
        sleepFor(gap(random));
    }
    return summarize(samples);
}

struct MouseFigures {
    Summary requestToPacket;
    double idleWakesPerSecond = 0, talkingCpuPercent = 0, wakesPerHostByte = 0;
    double packetsPerSecond = 0, bytesPerSecond = 0;
    int threads = 0;
};

// pellora --mouse as its own process: its wake-ups idle, then its CPU and
// wake-ups while a real host talks (a request every 20 ms), and the packets
// that came.
void measureMouseProgram(const std::string& program, double windowSeconds, MouseFigures& f) {
    EmulatedKeyboard kb;
    EmulatedInputDevice mouse{kb, mouseOptions()};
    PtyPair keyLine{true}, mouseLine{true};
    ChildProcess p(program,
                   {"--mouse=event6", "--mouse-port=" + mouseLine.portPath(), keyLine.portPath()},
                   {"LD_PRELOAD=" + umockdevChildPreload()});
    if (!p.waitForErrLine("Relaying the mouse")) {
        throw std::runtime_error("pellora did not start: " + p.err());
    }
    expectReadyByte(keyLine.masterFd());
    sleepFor(500);  // past the start-up
    const double wakes0 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    sleepFor(windowSeconds * 1000);
    const double wakes1 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    f.idleWakesPerSecond = (wakes1 - wakes0) / windowSeconds;
    f.threads = static_cast<int>(statusKb(p.pid(), "Threads:"));
    const double cpu1 = overThreads(p.pid());
    int bytes = 0;
    Bytes packets;
    {
        RealHost host(keyLine.masterFd());
        const auto end = Clock::now() + std::chrono::duration<double>(windowSeconds);
        while (Clock::now() < end) {
            mouseLine.readReady(packets);  // so that the line never fills
            sleepFor(5);
        }
        bytes = host.bytesSent();
    }
    const double cpu2 = overThreads(p.pid());
    const double wakes2 = overThreads(p.pid(), "voluntary_ctxt_switches:");
    sleepFor(50);
    mouseLine.readReady(packets);
    f.talkingCpuPercent = (cpu2 - cpu1) / (windowSeconds * 1000) * 100;
    f.wakesPerHostByte = (wakes2 - wakes1) / bytes;
    f.bytesPerSecond = bytes / windowSeconds;
    f.packetsPerSecond = static_cast<double>(packets.size()) / 3 / windowSeconds;
    stopTime(p);
}

void printMouse(const std::string& program, int requests, double windowSeconds) {
    MouseFigures f;
    f.requestToPacket = requestToPacket(requests);
    measureMouseProgram(program, windowSeconds, f);
    std::printf("\n%-46s %8s %8s %8s\n", "a mouse beside the keyboard (libevdev)", "p50", "p99",
                "max");
    printRow("host's 0x40 -> packet's first byte", f.requestToPacket);
    std::printf("%-46s %8.2f a second, all %d threads\n", "wake-ups idle, pellora --mouse",
                f.idleWakesPerSecond, f.threads);
    std::printf("%-46s %8.3f %% of a core (%.1f host bytes, %.1f packets a second)\n",
                "CPU, pellora --mouse with the host talking", f.talkingCpuPercent, f.bytesPerSecond,
                f.packetsPerSecond);
    std::printf("%-46s %8.2f per host byte, all threads\n",
                "wake-ups, pellora --mouse with the host talking", f.wakesPerHostByte);
}

void printMachine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname u{};
    uname(&u);
    std::printf("machine: %s, %u cores, Linux %s\n\n", model.c_str(),
                std::thread::hardware_concurrency(), u.release);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, realHostOnly = false, inputOnly = false, mouseOnly = false;
    bool usage = argc < 2;
    for (int i = 2; i < argc; ++i) {
        const bool isQuick = std::strcmp(argv[i], "--quick") == 0;
        const bool isRealHost = std::strcmp(argv[i], "--real-host") == 0;
        const bool isInput = std::strcmp(argv[i], "--input") == 0;
        const bool isMouse = std::strcmp(argv[i], "--mouse") == 0;
        quick |= isQuick;
        realHostOnly |= isRealHost;
        inputOnly |= isInput;
        mouseOnly |= isMouse;
        usage |= !isQuick && !isRealHost && !isInput && !isMouse;
    }
    if (usage || realHostOnly + inputOnly + mouseOnly > 1) {
        std::fprintf(stderr,
                     "usage: %s PATH_TO_PELLORA [--quick] [--real-host | --input | --mouse]\n",
                     argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    const int changes = quick ? 200 : 2000;
    const double window = quick ? 3.0 : 10.0;

    printMachine();
    if (realHostOnly) {
        printRealHost(measureRealHost(program, changes, window, quick ? 2 : 5));
        return 0;
    }
    if (inputOnly) {
        printInput(program, changes, window);
        return 0;
    }
    if (mouseOnly) {
        printMouse(program, changes, window);
        return 0;
    }
    std::printf("%-46s %8s %8s %8s\n", "", "p50", "p99", "max");

    const Summary hop = ptyHop(quick ? 200 : 2000);
    KeyLatency latency;
    Summary repeatDefault, repeatFast, led, closeTime, keyboardBack, portBack;
    {
        InProcess p;
        latency = keyLatency(p, changes);
        repeatDefault = repeatError(p, quick ? 10 : 60, 500, 110);
        p.hostSends({0x60, 0x70}, 0xF7);  // the fastest: delay 200 ms, interval 30 ms
        repeatFast = repeatError(p, quick ? 30 : 200, 200, 30);
        led = ledLatency(p, quick ? 50 : 500);
        keyboardBack = keyboardReturn(p, quick ? 4 : 10);
        portBack = portReturn(p, quick ? 3 : 6);
        const auto stopStart = Clock::now();
        p.relay.stop();
        p.relay.closeKeyboard();
        closeTime = summarize({ms(Clock::now() - stopStart)});
    }
    Summary keyboardPolled;
    {
        InProcess p(false);
        keyboardPolled = keyboardReturn(p, quick ? 2 : 6);
    }
    double haltedRate = 0, failingRate = 0;
    Summary afterHalt, afterStorm;
    {
        InProcess p;
        haltedRate = failuresPerSecond(p, true, quick ? 1.0 : 3.0);
        failingRate = failuresPerSecond(p, false, quick ? 1.0 : 3.0);
        afterHalt = typingAgain(p, true, quick ? 10 : 50);
        afterStorm = typingAgain(p, false, quick ? 3 : 10);
    }
    printRow("one byte through the pty alone (the floor)", hop);
    printRow("key -> wire latency", latency.total);
    printRow("  of which: report -> reaped (emulated USB)", latency.untilReaped);
    printRow("  of which: reaped -> wire (relay + pty)", latency.reapedToWire);
    printRow("repeat error, 500/110 ms", repeatDefault);
    printRow("repeat error, 200/30 ms (0x60, 0x70)", repeatFast);
    printRow("host command -> LED report", led);
    printRow("keyboard plugged in -> open, hotplug", keyboardBack);
    printRow("keyboard plugged in -> open, polling", keyboardPolled);
    printRow("port linked anew -> open", portBack);
    printRow("stop() + closeKeyboard(), in process", closeTime);
    printRow("halt -> typing again", afterHalt);
    printRow("end of an error storm -> typing again", afterStorm);

    ProcessFigures f = measureProgram(program, window, quick ? 2 : 5);
    measureWatchdog(program, 2 * window, f);
    printRow("SIGTERM -> exit, pellora process", f.stopMs);
    std::printf("\n");
    std::printf("%-46s %8.1f a second\n", "failed transfers, endpoint halted for good", haltedRate);
    std::printf("%-46s %8.1f a second\n", "failed transfers, endpoint failing (EPROTO)",
                failingRate);
    std::printf("%-46s %8.2f a second, all %d threads\n",
                "wake-ups idle, pellora under the emulator", f.idleWakesPerSecond, f.threads);
    std::printf("%-46s %8.2f a second (%.2f pings a second)\n",
                "wake-ups idle, watchdog on (WatchdogSec=10)", f.watchdogWakesPerSecond,
                f.watchdogPingsPerSecond);
    std::printf("%-46s %8.3f %% of a core\n", "CPU idle, pellora under the emulator",
                f.idleCpuPercent);
    std::printf("%-46s %8.3f %% of a core\n", "CPU typing 30 changes/s, under the emulator",
                f.typingCpuPercent);
    std::printf("%-46s %8.1f MB  (%.1f MB private, %.1f MB mapped files)\n",
                "peak RSS, pellora under the emulator", f.peakRssKb / 1024.0, f.anonRssKb / 1024.0,
                f.fileRssKb / 1024.0);
    printRealHost(measureRealHost(program, changes, window, quick ? 2 : 5));
    printInput(program, changes, window);
    printMouse(program, changes, window);
    return 0;
}
