#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> vars;
    auto add = [&](const std::string& entry) {
        const auto eq = entry.find('=');
        vars[entry.substr(0, eq)] = entry;
    };
    for (char** e = environ; *e != nullptr; ++e) {
        add(*e);
    }
    for (const std::string& entry : extra) {
        add(entry);
    }
    std::vector<std::string> out;
    for (auto& [name, entry] : vars) {
        out.push_back(entry);
    }
    return out;
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = mergedEnvironment(env);
    std::vector<char*> envp;
    for (std::string& e : envStrings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const int failed =
        posix_spawn(&childPid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd = outPipe[0];
    errFd = errPipe[0];
    if (failed != 0) {
        childPid = -1;
        closeFd(outFd);
        closeFd(errFd);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(failed));
    }
}

ChildProcess::~ChildProcess() {
    if (childPid > 0 && !exitStatus) {
        ::kill(childPid, SIGKILL);
        int status = 0;
        waitpid(childPid, &status, 0);
    }
    closeFd(outFd);
    closeFd(errFd);
}

void ChildProcess::pump(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    // Short slices, so a child's exit is noticed even while its pipes stay open
    // in a grandchild.
    const int ms = static_cast<int>(std::clamp<long long>(left.count(), 0, 20));
    if (poll(fds, 2, ms) <= 0) {
        return;
    }
    int* fdOf[2] = {&outFd, &errFd};
    std::string* textOf[2] = {&outText, &errText};
    for (int i = 0; i < 2; ++i) {
        if (*fdOf[i] >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[4096];
            const ssize_t n = ::read(*fdOf[i], buffer, sizeof buffer);
            if (n > 0) {
                textOf[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                closeFd(*fdOf[i]);
            }
        }
    }
}

bool ChildProcess::waitForErrLine(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t start = 0;
        for (std::size_t nl; (nl = errText.find('\n', start)) != std::string::npos;
             start = nl + 1) {
            if (errText.compare(start, nl - start, text) == 0 ||
                errText.substr(start, nl - start).find(text) != std::string::npos) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline || (errFd < 0 && outFd < 0)) {
            return false;
        }
        pump(deadline);
    }
}

void ChildProcess::closeErr() {
    closeFd(errFd);
}

void ChildProcess::signal(int sig) {
    if (childPid > 0 && !exitStatus) {
        ::kill(childPid, sig);
    }
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exitStatus) {
        int status = 0;
        const pid_t done = waitpid(childPid, &status, WNOHANG);
        if (done == childPid) {
            exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        pump(deadline);
    }
    // Collect what is left in the pipes.
    while (outFd >= 0 || errFd >= 0) {
        pump(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
        if (std::chrono::steady_clock::now() >= deadline + std::chrono::seconds(1)) {
            break;
        }
    }
    return exitStatus;
}
