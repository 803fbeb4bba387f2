#include "child_process.h"

#include <stdexcept>
#include <vector>

namespace {

// The current environment with the given variables set, as CreateProcessW wants it.
std::vector<wchar_t> environmentBlock(const std::map<std::wstring, std::wstring>& extra) {
    std::map<std::wstring, std::wstring> vars;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* p = current; *p != L'\0'; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        const auto eq = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
        if (eq != std::wstring::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : extra) {
        vars[name] = value;
    }
    std::vector<wchar_t> block;
    for (const auto& [name, value] : vars) {
        const std::wstring entry = name + L"=" + value;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

ChildProcess::ChildProcess(const std::wstring& exe, const std::wstring& commandTail,
                           const std::map<std::wstring, std::wstring>& environment) {
    std::wstring commandLine = L"\"" + exe + L"\"" + commandTail;
    std::vector<wchar_t> env = environmentBlock(environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    // Suspended until it is in the job, so it can start nothing outside it.
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, env.data(), nullptr,
                        &startup, &info)) {
        const DWORD error = GetLastError();
        CloseHandle(job);
        throw std::runtime_error("CreateProcessW failed: " + std::to_string(error));
    }
    AssignProcessToJobObject(job, info.hProcess);
    ResumeThread(info.hThread);
}

ChildProcess::~ChildProcess() {
    kill();
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(job);
}

bool ChildProcess::running() const {
    return WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::waitExit(DWORD timeoutMs) {
    return WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool ChildProcess::waitIdle(DWORD timeoutMs) {
    return WaitForInputIdle(info.hProcess, timeoutMs) == 0;
}

void ChildProcess::kill() {
    if (running()) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
    }
}
