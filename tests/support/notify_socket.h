// NotifySocket: a datagram socket standing in for systemd's notification
// socket. A program started with environment() sends its sd_notify() messages
// ("READY=1\nSTATUS=...", "WATCHDOG=1") here, and the test reads them in
// order. Read as they come: a socket with ten messages unread makes the
// sender's next notification wait, as systemd's would.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class NotifySocket {
public:
    // Throws std::runtime_error when the socket cannot be made.
    NotifySocket();
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    // "NOTIFY_SOCKET=PATH", for the program's environment.
    std::string environment() const { return "NOTIFY_SOCKET=" + path; }

    // The next message, once it has come; nothing after the time-out.
    std::optional<std::string> next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Reads messages until one holds this line ("READY=1", "STATUS=..."); false
    // when none did before the time-out.
    bool waitForLine(const std::string& line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Every message read so far, for failure messages.
    const std::vector<std::string>& received() const { return log; }

private:
    TempDir dir{"pellora-notify"};
    std::string path;
    int fd = -1;
    std::vector<std::string> log;
};
