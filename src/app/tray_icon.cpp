#include "app/tray_icon.h"

#include <cwchar>

static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full NOTIFYICONDATAW, balloon fields included");

namespace {

// A function of a system DLL that older Windows lack, or nullptr.
template <typename Function>
Function systemFunction(const wchar_t* dll, const char* name) {
    HMODULE module = GetModuleHandleW(dll);
    if (module == nullptr) {
        module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    const FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // Through void(*)(), the one cast of function pointers GCC accepts quietly.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// The DPI the system scaled this process's metrics for at its start (the
// primary monitor's at sign-in): GetSystemMetrics answers at this one.
int systemDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// The DPI of the monitor the notification area is on, as it is now (Windows
// 8.1 and later; the system's DPI before).
int taskbarDpi() {
    using GetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const auto forMonitor =
        systemFunction<GetDpiForMonitor>(L"shcore.dll", "GetDpiForMonitor");
    if (forMonitor != nullptr) {
        const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
        const HMONITOR monitor = taskbar != nullptr
                                     ? MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY)
                                     : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
        UINT x = 0;
        UINT y = 0;
        constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
        if (SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) && x > 0) {
            return static_cast<int>(x);
        }
    }
    return systemDpi();
}

// The small icon's size (SM_CXSMICON) at a DPI: asked of the system from
// Windows 10 1607 on, scaled from the system DPI's size before.
int smallIconSize(int dpi) {
    using MetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi =
        systemFunction<MetricsForDpi>(L"user32.dll", "GetSystemMetricsForDpi");
    if (forDpi != nullptr) {
        if (const int size = forDpi(SM_CXSMICON, static_cast<UINT>(dpi)); size > 0) {
            return size;
        }
    }
    return MulDiv(GetSystemMetrics(SM_CXSMICON), dpi, systemDpi());
}

}  // namespace

TrayIcon::~TrayIcon() {
    remove();
    if (data.hIcon != nullptr) {
        DestroyIcon(data.hIcon);
    }
}

HICON TrayIcon::loadImage() {
    const int size = smallIconSize(taskbarDpi());
    if (size == imageSize && data.hIcon != nullptr) {
        return nullptr;
    }
    // Scaled down from the nearest larger image when the icon has none of
    // this size (common controls 6, which the manifest asks for; mingw-w64
    // has no import of it), else the system's nearest; the old image stays
    // when this one cannot be had.
    using ScaleDown = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto scaleDown =
        systemFunction<ScaleDown>(L"comctl32.dll", "LoadIconWithScaleDown");
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    HICON image = nullptr;
    if (scaleDown == nullptr ||
        FAILED(scaleDown(instance, MAKEINTRESOURCEW(imageId), size, size, &image))) {
        image = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(imageId), IMAGE_ICON, size, size, 0));
    }
    if (image == nullptr) {
        return nullptr;
    }
    imageSize = size;
    const HICON old = data.hIcon;
    data.hIcon = image;
    return old;
}

bool TrayIcon::add(HWND owner, UINT callbackMessage, int iconId, const std::wstring& tip) {
    const HICON before = data.hIcon;
    data = NOTIFYICONDATAW{};
    data.cbSize = sizeof(data);
    data.hWnd = owner;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = before;
    imageId = iconId;
    imageSize = 0;
    if (const HICON old = loadImage()) {
        DestroyIcon(old);
    }
    lstrcpynW(data.szTip, tip.c_str(), ARRAYSIZE(data.szTip));
    wanted = true;
    return Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

bool TrayIcon::restore() {
    if (!wanted) {
        return false;
    }
    const HICON old = loadImage();
    // The message also comes when the taskbar only changed (its DPI, say) and
    // kept its icons: adding fails then, and the icon is brought up to date.
    const bool shown =
        Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
    if (old != nullptr) {
        DestroyIcon(old);  // the shell has the new one, or no icon at all
    }
    return shown;
}

void TrayIcon::refreshIcon() {
    const HICON old = loadImage();
    if (old == nullptr) {
        return;  // the size it has
    }
    if (wanted) {
        NOTIFYICONDATAW change = data;
        change.uFlags = NIF_ICON;
        Shell_NotifyIconW(NIM_MODIFY, &change);
    }
    DestroyIcon(old);
}

void TrayIcon::setImage(int iconId) {
    if (imageId == 0 || iconId == imageId) {
        return;
    }
    imageId = iconId;
    imageSize = 0;  // loaded anew, whatever its size
    refreshIcon();
}

void TrayIcon::setTip(const std::wstring& tip) {
    wchar_t cut[ARRAYSIZE(data.szTip)];
    lstrcpynW(cut, tip.c_str(), ARRAYSIZE(cut));
    if (std::wcscmp(cut, data.szTip) == 0) {
        return;  // a shown tooltip would be drawn again for nothing
    }
    lstrcpynW(data.szTip, cut, ARRAYSIZE(data.szTip));
    if (!wanted) {
        return;
    }
    NOTIFYICONDATAW change = data;
    change.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &change);
}

void TrayIcon::notify(const std::wstring& title, const std::wstring& text, bool warning) {
    if (!wanted) {
        return;
    }
    // A copy: the record kept for later calls must not carry the balloon.
    NOTIFYICONDATAW balloon = data;
    balloon.uFlags = NIF_INFO;
    lstrcpynW(balloon.szInfoTitle, title.c_str(), ARRAYSIZE(balloon.szInfoTitle));
    lstrcpynW(balloon.szInfo, text.c_str(), ARRAYSIZE(balloon.szInfo));
    balloon.dwInfoFlags = warning ? NIIF_WARNING : NIIF_INFO;
    balloon.uTimeout = 10000;  // honoured only before Vista; later systems decide
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void TrayIcon::remove() {
    if (!wanted) {
        return;
    }
    wanted = false;
    Shell_NotifyIconW(NIM_DELETE, &data);
}

UINT TrayIcon::taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}
