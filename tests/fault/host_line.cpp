#include "host_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

void readReady(PtyPair& pty, std::vector<std::uint8_t>& out) {
    for (;;) {
        pollfd pfd{pty.masterFd(), POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0 || (pfd.revents & POLLIN) == 0) {
            return;
        }
        std::uint8_t buffer[512];
        const ssize_t n = ::read(pty.masterFd(), buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
}

std::vector<std::uint8_t> restOfLine(PtyPair& pty) {
    constexpr std::uint8_t kMarker = 0x00;
    const int fd = ::open(pty.slavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open the line's slave: " +
                                 std::string(std::strerror(errno)));
    }
    const ssize_t n = ::write(fd, &kMarker, 1);
    ::close(fd);
    if (n != 1) {
        throw std::runtime_error("cannot write the marker to the line");
    }
    return pty.readUntil(kMarker);
}
