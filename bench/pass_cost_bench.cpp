// What one pass of the relay's idle worker loop costs in CPU, measured without
// the USB emulator (whose preload would tax every system call): the wake-up of
// the 5 ms sleep, plus the pass's work when nothing happens (an empty key
// queue, a serial read that finds nothing, and libusb's zero-time-out event
// round). Prints "wake_us work_us" for pellora_bench to combine.
#include <libusb.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "protocol/key_output.h"
#include "relay/key_relay.h"
#include "support/pty_pair.h"

namespace {

double threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

double processCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::stod(argv[1]) : 5.0;
    PtyPair pty;

    // A worker whose keyboard is closed only sleeps and wakes: the cost of the
    // 5 ms rhythm itself.
    double wakeUs = 0;
    {
        KeyRelay relay;
        relay.start(pty.slavePath());
        waitFor([&] { return relay.status().port == PortState::Open; });
        const double before = processCpuNs() - threadCpuNs();
        timespec pause{static_cast<time_t>(seconds), 0};
        nanosleep(&pause, nullptr);
        const double after = processCpuNs() - threadCpuNs();
        relay.stop();
        wakeUs = (after - before) / (seconds * 1000.0 / KeyRelay::kPassMs) / 1000.0;
    }

    // The work of an idle pass, in a tight loop on this thread.
    double workUs = 0;
    {
        SerialPort port;
        port.open(pty.slavePath());
        ByteQueue keys, host;
        RepeatState repeat;
        resetRepeat(repeat);
        libusb_init(nullptr);
        constexpr int kRounds = 100000;
        const double start = threadCpuNs();
        for (int i = 0; i < kRounds; ++i) {
            timeval zero{0, 0};
            libusb_handle_events_timeout_completed(nullptr, &zero, nullptr);
            pumpKeys(keys, port, repeat, systemTickMs);
            std::uint8_t buffer[4096];
            const std::size_t n = port.readAvailable(buffer, sizeof buffer);
            if (n > 0) {
                host.push(buffer, buffer + n);
            }
            std::uint8_t command;
            host.read(&command, 1);
        }
        workUs = (threadCpuNs() - start) / kRounds / 1000.0;
        libusb_exit(nullptr);
    }
    std::printf("%.3f %.3f\n", wakeUs, workUs);
    return 0;
}
