#include "support/pty_pair.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

PtyPair::PtyPair(bool linkOutsideDev) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        throw std::runtime_error(std::string("cannot make a pty: ") + std::strerror(errno));
    }
    char name[PATH_MAX];
    if (ptsname_r(master, name, sizeof name) != 0) {
        throw std::runtime_error("ptsname_r failed");
    }
    slave = name;
    if (linkOutsideDev) {
        linkDir.emplace("pellora-pty");
        link = (*linkDir / "tty").string();
        if (symlink(slave.c_str(), link.c_str()) != 0) {
            throw std::runtime_error(std::string("symlink: ") + std::strerror(errno));
        }
    }
}

PtyPair::~PtyPair() {
    closeMaster();
}

void PtyPair::linkAs(const std::string& path) {
    const std::string fresh = path + ".new";
    ::unlink(fresh.c_str());
    if (symlink(slave.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot link " + path + ": " + std::strerror(errno));
    }
}

void PtyPair::closeMaster() {
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
}

void PtyPair::write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR) {
            throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
        }
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

namespace {

// One poll-and-read step; false once the deadline passed or the line died.
bool readSome(int fd, std::chrono::steady_clock::time_point deadline,
              std::vector<std::uint8_t>& out, std::size_t maxBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd pfd{fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) {
        return true;
    }
    if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
        // POLLHUP without data: the slave is closed right now (between two
        // opens by the code under test); keep waiting for the deadline.
        if (ready > 0) {
            struct timespec ts {
                0, 1000000
            };
            nanosleep(&ts, nullptr);
            return true;
        }
        return false;
    }
    std::uint8_t buffer[256];
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes));
    if (n > 0) {
        out.insert(out.end(), buffer, buffer + n);
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> PtyPair::read(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n && readSome(master, deadline, out, n - out.size())) {
    }
    return out;
}

std::vector<std::uint8_t> PtyPair::readUntil(std::uint8_t sentinel,
                                             std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // One byte at a time so nothing after the sentinel is consumed.
        if (!readSome(master, deadline, out, 1)) {
            throw std::runtime_error("sentinel never arrived");
        }
        if (!out.empty() && out.back() == sentinel) {
            out.pop_back();
            return out;
        }
    }
}

void PtyPair::readReady(std::vector<std::uint8_t>& out) {
    for (;;) {
        pollfd pfd{master, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0 || (pfd.revents & POLLIN) == 0) {
            return;
        }
        std::uint8_t buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
}

std::vector<std::uint8_t> PtyPair::restOfLine() {
    constexpr std::uint8_t kMarker = 0x00;
    const int fd = ::open(slave.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open the line's slave: " +
                                 std::string(std::strerror(errno)));
    }
    const ssize_t n = ::write(fd, &kMarker, 1);
    ::close(fd);
    if (n != 1) {
        throw std::runtime_error("cannot write the marker to the line");
    }
    return readUntil(kMarker);
}

bool processHasOpen(const std::string& path) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        char target[PATH_MAX];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && path == std::string(target, static_cast<std::size_t>(n))) {
            found = true;
        }
    }
    closedir(dir);
    return found;
}
