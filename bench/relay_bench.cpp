// Measures the relay's timing and cost on an emulated X68000 Z keyboard and a
// pty standing in for the X68000, and prints one table:
//   key -> wire latency, auto-repeat error, host command -> LED report latency
//   (the relay in this process), then CPU, peak RSS and stop time of the real
//   `pellora` program run as its own process.
//
// Usage: pellora_bench PATH_TO_PELLORA [--quick]
#include <dirent.h>
#include <fcntl.h>
#include <libusb.h>
#include <poll.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "bench/stats.h"
#include "relay/key_relay.h"
#include "support/child_process.h"
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

// Waits for the LED report that follows the `before` ones already seen; a
// figure taken without it would be the wait's time-out, not the relay's.
void awaitLedReport(EmulatedKeyboard& kb, std::size_t before) {
    if (!kb.waitForControlRequests(before + 1)) {
        throw std::runtime_error("no LED report reached the keyboard");
    }
}

void printRow(const char* what, const Summary& s, const char* unit = "ms") {
    std::printf("%-44s %8.2f %8.2f %8.2f %s  (n=%zu)\n", what, s.p50, s.p99, s.max, unit, s.count);
}

// --- The relay in this process ----------------------------------------------

// Notes when each worker pass reads the clock (once a pass while the keyboard
// is active), to tell the pass rhythm apart from the rest of the latency.
struct PassTimes {
    std::vector<Clock::time_point> at;  // written by the worker, read after stop()
    PassTimes() { at.reserve(1 << 20); }
    TickSource source() {
        return [this] {
            if (at.size() < at.capacity()) {
                at.push_back(Clock::now());
            }
            return systemTickMs();
        };
    }
    Summary periods() const {
        std::vector<double> gaps;
        for (std::size_t i = 1; i < at.size(); ++i) {
            gaps.push_back(ms(at[i] - at[i - 1]));
        }
        return summarize(gaps);
    }
};

struct InProcess {
    EmulatedKeyboard kb;
    PtyPair pty{true};
    PassTimes passes;
    KeyRelay relay{passes.source()};
    std::uint8_t lastLedCommand = 0xFF;  // all LEDs off, as after opening

    InProcess() {
        if (!relay.openKeyboard()) {
            throw std::runtime_error("cannot open the emulated keyboard");
        }
        relay.start(pty.portPath());
        while (relay.status().port != PortState::Open) {
            sleepFor(1);
        }
    }
    ~InProcess() {
        relay.stop();
        relay.closeKeyboard();
    }

    // Host command bytes, then waits until the relay has taken them (an LED
    // change as the last command acknowledges them all).
    void host(Bytes commands, std::uint8_t ledMarker) {
        const std::size_t before = kb.controlRequests().size();
        commands.push_back(ledMarker);
        lastLedCommand = ledMarker;
        pty.write(commands);
        awaitLedReport(kb, before);
    }
};

// From the moment a report completes at the keyboard to its byte being
// readable at the host end, at random phases of the worker's 5 ms pass.
Summary keyLatency(InProcess& p, int changes) {
    std::mt19937 random(68000);
    std::uniform_real_distribution<double> gap(0.0, 10.0);
    // Hold time must stay under the repeat delay so no repeat byte interleaves.
    std::vector<double> samples;
    for (int i = 0; i < changes; ++i) {
        sleepFor(gap(random));
        p.kb.sendReport(kBoot, i % 2 == 0 ? kPressA : kReleaseAll);
        const auto sent = Clock::now();
        const auto [byte, at] = readByte(p.pty.masterFd());
        if (byte != (i % 2 == 0 ? 0x1E : 0x9E)) {
            throw std::runtime_error("unexpected byte in the latency run");
        }
        samples.push_back(ms(at - sent));
    }
    return summarize(samples);
}

// The error of each repeat against its schedule: the make's arrival plus the
// delay, then one interval per repeat.
Summary repeatError(InProcess& p, int repeats, double delayMs, double intervalMs) {
    p.kb.sendReport(kBoot, kPressA);
    const auto [make, madeAt] = readByte(p.pty.masterFd());
    std::vector<double> errors;
    for (int k = 0; k < repeats; ++k) {
        const auto [byte, at] = readByte(p.pty.masterFd());
        if (byte != make) {
            throw std::runtime_error("unexpected byte in the repeat run");
        }
        errors.push_back(ms(at - madeAt) - (delayMs + k * intervalMs));
    }
    p.kb.sendReport(kBoot, kReleaseAll);
    readByte(p.pty.masterFd());
    for (double& e : errors) {
        e = std::abs(e);
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
        p.pty.write({command});
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

// --- The real program as its own process --------------------------------------

// CPU time of every thread of process pid so far, in milliseconds.
double processCpuMs(pid_t pid) {
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
        std::ifstream stat(dir + "/" + t->d_name + "/schedstat");
        double ns = 0;
        if (stat >> ns) {
            total += ns / 1e6;
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
    double idleCpuPercent = 0, typingCpuPercent = 0;
    long peakRssKb = 0, anonRssKb = 0, fileRssKb = 0;
    Summary stopMs;
};

ProcessFigures measureProgram(const std::string& program, double windowSeconds, int stopRuns) {
    ProcessFigures f;
    const std::string lockFile = "/tmp/pellora-bench-" + std::to_string(getpid()) + ".lock";
    EmulatedKeyboard kb;
    const std::vector<std::string> env{"LD_PRELOAD=" + umockdevChildPreload(),
                                       "PELLORA_LOCK_FILE=" + lockFile};
    std::vector<double> stops;
    for (int run = 0; run < stopRuns; ++run) {
        PtyPair pty{true};
        ChildProcess p(program, {pty.portPath()}, env);
        if (!p.waitForErrLine("Relaying")) {
            throw std::runtime_error("pellora did not start: " + p.err());
        }
        if (run == 0) {
            const pid_t child = p.pid();
            const double cpu0 = processCpuMs(child);
            sleepFor(windowSeconds * 1000);
            const double cpu1 = processCpuMs(child);
            f.idleCpuPercent = (cpu1 - cpu0) / (windowSeconds * 1000) * 100;

            // About 30 key changes a second, read as they come.
            const auto until = Clock::now() + std::chrono::duration<double>(windowSeconds);
            int i = 0;
            while (Clock::now() < until) {
                kb.sendReport(kBoot, i++ % 2 == 0 ? kPressA : kReleaseAll);
                readByte(pty.masterFd());
                sleepFor(1000.0 / 30);
            }
            const double cpu2 = processCpuMs(child);
            f.typingCpuPercent = (cpu2 - cpu1) / (windowSeconds * 1000) * 100;
            f.peakRssKb = statusKb(child, "VmHWM:");
            f.anonRssKb = statusKb(child, "RssAnon:");
            f.fileRssKb = statusKb(child, "RssFile:");
            if (i % 2 == 1) {
                kb.sendReport(kBoot, kReleaseAll);
                readByte(pty.masterFd());
            }
        }
        const auto signalled = Clock::now();
        p.signal(SIGTERM);
        if (p.waitExit(std::chrono::seconds(10)) != 0) {
            throw std::runtime_error("pellora did not stop cleanly: " + p.err());
        }
        stops.push_back(ms(Clock::now() - signalled));
    }
    f.stopMs = summarize(stops);
    unlink(lockFile.c_str());
    return f;
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH_TO_PELLORA [--quick]\n", argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    const bool quick = argc > 2 && std::strcmp(argv[2], "--quick") == 0;
    const int changes = quick ? 200 : 2000;
    const double window = quick ? 2.0 : 10.0;

    printMachine();
    std::printf("%-44s %8s %8s %8s\n", "", "p50", "p99", "max");

    Summary latency, repeatDefault, repeatFast, led, closeTime, passPeriod;
    {
        InProcess p;
        latency = keyLatency(p, changes);
        repeatDefault = repeatError(p, quick ? 10 : 60, 500, 110);
        p.host({0x60, 0x70}, 0xF7);  // the fastest: delay 200 ms, interval 30 ms
        repeatFast = repeatError(p, quick ? 30 : 200, 200, 30);
        led = ledLatency(p, quick ? 50 : 500);
        const auto stopStart = Clock::now();
        p.relay.stop();
        p.relay.closeKeyboard();
        closeTime = summarize({ms(Clock::now() - stopStart)});
        passPeriod = p.passes.periods();
    }
    const Summary hop = ptyHop(quick ? 200 : 2000);
    printRow("key -> wire latency", latency);
    printRow("repeat error, 500/110 ms", repeatDefault);
    printRow("repeat error, 200/30 ms (0x60, 0x70)", repeatFast);
    printRow("host command -> LED report", led);
    printRow("stop() + closeKeyboard(), in process", closeTime);
    printRow("  worker pass period", passPeriod);
    printRow("  one byte through the pty alone", hop);

    const ProcessFigures f = measureProgram(program, window, quick ? 2 : 5);
    printRow("SIGTERM -> exit, pellora process", f.stopMs);
    std::printf("\n");
    std::printf("%-44s %8.3f %% of a core\n", "CPU idle, pellora under the emulator",
                f.idleCpuPercent);
    std::printf("%-44s %8.3f %% of a core\n", "CPU typing 30 changes/s, under the emulator",
                f.typingCpuPercent);
    std::printf("%-44s %8.1f MB  (%.1f MB private, %.1f MB mapped files)\n",
                "peak RSS, pellora under the emulator", f.peakRssKb / 1024.0, f.anonRssKb / 1024.0,
                f.fileRssKb / 1024.0);
    return 0;
}
