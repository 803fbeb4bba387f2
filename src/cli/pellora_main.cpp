// pellora: relays the X68000 Z keyboard to an X68000 on the serial port given.
#include <signal.h>

#include <cstdio>
#include <string>

#include "relay/key_relay.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    // Blocked before the worker exists, so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const std::string port = argv[1];
    SerialPort probe;
    if (!probe.open(port)) {
        std::fprintf(stderr, "cannot open %s: %s\n", SerialPort::devicePath(port).c_str(),
                     probe.lastOpenError().message.c_str());
        return 1;
    }
    probe.close();

    KeyRelay relay;
    relay.start(port);
    std::fprintf(stderr, "Relaying to %s (Ctrl-C ends)\n", SerialPort::devicePath(port).c_str());
    int sig = 0;
    sigwait(&stopSignals, &sig);
    relay.stop();
    return 0;
}
