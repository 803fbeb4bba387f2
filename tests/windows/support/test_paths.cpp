#include "test_paths.h"

#include <windows.h>

#include <atomic>

std::wstring windowsPath(const std::string& path) {
    std::wstring out(path.begin(), path.end());  // build paths are ASCII
    if (!out.empty() && out.front() == L'/') {
        for (auto& c : out) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        out = L"Z:" + out;
    }
    return out;
}

std::wstring tempFile(const std::wstring& stem) {
    static std::atomic<int> counter{0};
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + L"pellora-" + stem + L"-" +
                        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++) +
                        L".txt";
    DeleteFileW(path.c_str());
    return path;
}
