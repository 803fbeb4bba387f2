// A program started by a test, with extra environment variables, and ended by
// the test if it is still running when the object goes. It runs in a job that
// ends it with the test program too, so a test that crashes leaves no program
// behind to hold the single-instance guard (or the test's output) for the
// tests after it.
#pragma once

#include <windows.h>

#include <map>
#include <string>

class ChildProcess {
public:
    // Starts exe with the command line "exe" + commandTail (the tail is passed
    // as written, leading blank included). Throws std::runtime_error on failure.
    ChildProcess(const std::wstring& exe, const std::wstring& commandTail,
                 const std::map<std::wstring, std::wstring>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    DWORD id() const { return info.dwProcessId; }
    HANDLE handle() const { return info.hProcess; }
    bool running() const;
    // Waits up to timeoutMs for the process to end; true when it has.
    bool waitExit(DWORD timeoutMs);
    // Waits until the program waits for input with an empty queue: everything
    // it posted to itself so far has been handled.
    bool waitIdle(DWORD timeoutMs = 10000);
    void kill();

private:
    PROCESS_INFORMATION info{};
    HANDLE job = nullptr;
};
