#include "support/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

NotifySocket::NotifySocket() : path((dir / "notify").string()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("cannot make the notification socket: " + reason);
    }
}

NotifySocket::~NotifySocket() {
    ::close(fd);
}

std::optional<std::string> NotifySocket::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count())));
        if (ready == 0) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t n = ready > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
        if (n >= 0) {
            log.emplace_back(buffer, static_cast<std::size_t>(n));
            return log.back();
        }
        if (errno != EINTR && errno != EAGAIN) {
            throw std::runtime_error(std::string("notification socket: ") + std::strerror(errno));
        }
    }
}

bool NotifySocket::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (const auto message = next(std::chrono::duration_cast<std::chrono::milliseconds>(
               deadline - std::chrono::steady_clock::now()))) {
        std::istringstream lines(*message);
        for (std::string l; std::getline(lines, l);) {
            if (l == line) {
                return true;
            }
        }
    }
    return false;
}
