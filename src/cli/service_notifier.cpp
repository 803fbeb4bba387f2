#include "cli/service_notifier.h"

#include <string.h>
#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace {

std::string signalText(int sig) {
    const char* name = sigabbrev_np(sig);
    return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(sig);
}

}  // namespace

namespace {

// A device's state in words, empty while it is connected: "keyboard
// disconnected, waiting for it", "mouse refused (no permission), waiting for it".
std::string deviceWords(const std::string& noun, KeyboardState state,
                        KeyboardConnection::Failure failure, const std::string& text) {
    if (state == KeyboardState::Absent) {
        return noun + " disconnected, waiting for it";
    }
    if (state == KeyboardState::Refused) {
        return noun + " refused (" + refusalReason(failure, text) + "), waiting for it";
    }
    return "";
}

// One line and its device: open ("Relaying to ttyUSB0", or "ttyUSB0: " and
// what keeps the device from it), being opened, waited for or failed, with
// what keeps the device away after a "; ".
std::string lineWords(PortState line, const SerialPort::OpenError& error, const std::string& port,
                      const std::string& device, const std::string& relaying) {
    const std::string andDevice = device.empty() ? "" : "; " + device;
    switch (line) {
        case PortState::Idle:
        case PortState::Opening:
            return "Opening " + port + andDevice;
        case PortState::Open:
            return device.empty() ? relaying + port : port + ": " + device;
        case PortState::Reopening:
            return "Lost " + port + ", waiting for it" + andDevice;
        case PortState::OtherDevice:
            return port + " is another device now, waiting for the one it was" + andDevice;
        case PortState::Failed:
            break;
    }
    return "Cannot open " + port + ": " +
           (error.message.empty() ? std::string("unknown error") : error.message);
}

}  // namespace

std::string statusSentence(const RelayStatus& s, const std::string& port,
                           const std::string& mousePort,
                           const std::vector<std::string>& keyboards) {
    std::string keyboard;
    for (std::size_t i = 0; i < s.keyboards.size(); ++i) {
        const KeyboardStatus& k = s.keyboards[i];
        const std::string noun =
            keyboards.size() > 1 && i < keyboards.size() ? "keyboard " + keyboards[i] : "keyboard";
        const std::string words = deviceWords(noun, k.state, k.failure, k.failureText);
        if (!words.empty()) {
            keyboard += (keyboard.empty() ? "" : "; ") + words;
        }
    }
    const std::string keys = lineWords(s.port, s.portError, port, keyboard, "Relaying to ");
    // A keyboard shared with the computer: where it goes now.
    const std::string share = !s.share ? ""
                              : *s.share == ShareSwitch::Side::X68000
                                  ? "; keyboard and mouse: X68000"
                                  : "; keyboard and mouse: this computer";
    if (!s.mouse) {
        return keys + share;
    }
    const MouseStatus& m = *s.mouse;
    const std::string mouse = deviceWords("mouse", m.device, m.failure, m.failureText);
    if (m.port == PortState::Open && mouse.empty()) {
        return keys +
               (s.port == PortState::Open && keyboard.empty() ? ", the mouse to "
                                                              : "; relaying the mouse to ") +
               mousePort + share;
    }
    std::string words = lineWords(m.port, m.portError, mousePort, mouse, "");
    if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z') {
        words[0] = static_cast<char>(words[0] - 'A' + 'a');  // "lost ttyUSB1", after a "; "
    }
    return keys + "; " + words + share;
}

ServiceNotifier::ServiceNotifier(RelayControl& r, const std::string& port, Sink s,
                                 std::chrono::microseconds watchdog, TickSource t,
                                 const std::string& mousePort, std::vector<std::string> keyboards)
    : relay(r),
      portName(port.rfind("/dev/", 0) == 0 ? port.substr(5) : port),
      mousePortName(mousePort.rfind("/dev/", 0) == 0 ? mousePort.substr(5) : mousePort),
      keyboardNames(std::move(keyboards)),
      sink(std::move(s)),
      // Without a listener a ping goes nowhere, so there is nothing to look for.
      lookEveryMs(
          sink && watchdog.count() > 0
              ? static_cast<std::uint32_t>(std::max<std::int64_t>(
                    1, std::chrono::duration_cast<std::chrono::milliseconds>(watchdog).count() / 2))
              : 0),
      ticks(std::move(t)) {
    if (lookEveryMs > 0) {
        passesSeen = relay.workerPasses();
        nextLook = ticks() + lookEveryMs;
    }
}

int ServiceNotifier::wait(const TimedWait& inner) {
    if (!sink) {
        return inner(-1);
    }
    for (;;) {
        tell(relay.status());
        int timeoutMs = -1;
        if (lookEveryMs > 0) {
            const auto left = static_cast<std::int32_t>(nextLook - ticks());
            timeoutMs = left > 0 ? left : 0;
        }
        const int event = inner(timeoutMs);
        if (event > 0) {
            sink("STOPPING=1\nSTATUS=Stopping on " + signalText(event));
            return event;
        }
        // Looked at after a status change too, so that a stream of changes
        // cannot put the look off.
        if (lookEveryMs > 0) {
            const std::uint32_t now = ticks();
            if (static_cast<std::int32_t>(nextLook - now) <= 0) {
                lookAtWorker(now);
            }
        }
        if (event == 0) {
            return 0;
        }
    }
}

void ServiceNotifier::tell(const RelayStatus& status) {
    std::string message;
    // Begun: the worker has opened the port (it may have lost it again since).
    if (!ready && status.port != PortState::Idle && status.port != PortState::Opening &&
        status.port != PortState::Failed) {
        ready = true;
        message = "READY=1\n";
    }
    const std::string sentence = statusSentence(status, portName, mousePortName, keyboardNames);
    if (sentence != told) {
        told = sentence;
        message += "STATUS=" + sentence;
    }
    if (!message.empty()) {
        sink(message);
    }
}

void ServiceNotifier::lookAtWorker(std::uint32_t now) {
    const std::uint64_t passes = relay.workerPasses();
    if (passes != passesSeen) {
        passesSeen = passes;
        sink("WATCHDOG=1");
    }
    relay.wakeWorker();
    nextLook = now + lookEveryMs;
}

ServiceNotifier::Sink ServiceNotifier::systemdSink() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket == nullptr || *socket == '\0') {
        return {};
    }
    // A failed send changes nothing for the relay: the service manager, if
    // it is still there, sees the watchdog starve.
    return [](const std::string& message) { sd_notify(0, message.c_str()); };
}

std::chrono::microseconds ServiceNotifier::systemdWatchdog() {
    std::uint64_t usec = 0;
    // Checks WATCHDOG_PID too: a period meant for another process is not ours.
    if (sd_watchdog_enabled(0, &usec) <= 0) {
        return std::chrono::microseconds(0);
    }
    return std::chrono::microseconds(usec);
}
