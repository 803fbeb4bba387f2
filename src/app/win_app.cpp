#include "app/win_app.h"

namespace {

WinApp* registeredApp = nullptr;

// "C:\dir\Pellora.exe" -> "Pellora".
std::wstring exeTitle() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.resize(dot);
    }
    return name;
}

}  // namespace

WinApp::WinApp() {
    registeredApp = this;
}

WinApp::~WinApp() {
    if (registeredApp == this) {
        registeredApp = nullptr;
    }
}

BOOL WinApp::InitInstance() {
    return TRUE;
}

WinApp* WinApp::current() {
    return registeredApp;
}

int WinApp::run(HINSTANCE instance, const wchar_t* commandLine) {
    hInstance = instance;
    appTitle = exeTitle();
    cmdLine = commandLine != nullptr ? commandLine : L"";
    InitInstance();
    return 0;
}
