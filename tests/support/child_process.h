// A program under test started as its own process, for tests of a whole
// command: its standard error is collected as it comes, signals can be sent, and
// its exit is awaited with a deadline. The destructor kills (SIGKILL) and reaps
// a child that is still running, so a failed test never leaves one behind;
// declare a ChildProcess after anything the child must not outlive.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
public:
    // Starts program with args; env entries ("NAME=value") are added to, or
    // replace, this process's environment. Standard input is /dev/null,
    // standard output and error are pipes. Throws std::runtime_error on failure.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until standard error holds a line containing text; returns whether
    // it came before the time-out (or the child's end).
    bool waitForErrLine(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

    void signal(int sig);
    // Stops reading the child's standard error and closes our end of it, as a
    // reader that has gone away (a pager quit, `| tee` ended by Ctrl-C) does:
    // the child's next write to it fails with EPIPE, or SIGPIPE kills it.
    void closeErr();
    pid_t pid() const { return childPid; }

    // The exit status once the child has exited (-signal when a signal ended
    // it); nothing if it still runs after the time-out.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What the child wrote so far (all of it once it has exited).
    const std::string& err() const { return errText; }
    const std::string& out() const { return outText; }
    std::string firstErrLine() const { return errText.substr(0, errText.find('\n')); }

private:
    // Reads whatever the pipes hold, waiting at most until deadline for some.
    void pump(std::chrono::steady_clock::time_point deadline);

    pid_t childPid = -1;
    int outFd = -1;
    int errFd = -1;
    std::optional<int> exitStatus;
    std::string outText;
    std::string errText;
};
