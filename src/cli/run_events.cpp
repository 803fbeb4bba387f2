#include "cli/run_events.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool inheritedAsIgnored(int sig) {
    struct sigaction action {};
    return sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

}  // namespace

RunEvents::RunEvents() {
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    // Blocked, an ignored signal would no longer be discarded but wait here.
    for (int sig : {SIGINT, SIGHUP}) {
        if (!inheritedAsIgnored(sig)) {
            sigaddset(&stopSet, sig);
        }
    }
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    signalFd = signalfd(-1, &stopSet, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        fail("signalfd");
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(signalFd);
        fail("pipe2");
    }
    pipeRead = ends[0];
    pipeWrite = ends[1];
}

RunEvents::~RunEvents() {
    ::close(signalFd);
    ::close(pipeRead);
    ::close(pipeWrite);
}

std::function<void()> RunEvents::statusListener() {
    const int fd = pipeWrite;
    return [fd] {
        const char b = 1;
        // A full pipe has said "look" already; a failed write changes nothing.
        while (::write(fd, &b, 1) < 0 && errno == EINTR) {
        }
    };
}

int RunEvents::wait(int timeoutMs) {
    for (;;) {
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            return static_cast<int>(info.ssi_signo);
        }
        char drain[64];
        bool changed = false;
        while (::read(pipeRead, drain, sizeof drain) > 0) {
            changed = true;
        }
        if (changed) {
            return 0;
        }
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {pipeRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready == 0) {
            return kTimedOut;
        }
        if (ready < 0 && errno != EINTR) {
            fail("poll");
        }
    }
}
