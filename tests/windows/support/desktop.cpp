#include "desktop.h"

#include <commctrl.h>

#include <cstdio>

bool waitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!cond()) {
        if (GetTickCount64() >= deadline) {
            return cond();
        }
        Sleep(20);
    }
    return true;
}

namespace {

struct Search {
    DWORD processId;
    std::wstring className;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId &&
        (search->className.empty() || className(window) == search->className)) {
        search->found.push_back(window);
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> topWindows(DWORD processId, const std::wstring& windowClass) {
    Search search{processId, windowClass, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findWindow(DWORD processId, const std::wstring& windowClass, const std::wstring& caption) {
    for (HWND window : topWindows(processId, windowClass)) {
        if (windowText(window) == caption) {
            return window;
        }
    }
    return nullptr;
}

std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

std::vector<std::wstring> childTexts(HWND parent, const std::wstring& childClass) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(className(child).c_str(), childClass.c_str()) == 0) {
            texts.push_back(windowText(child));
        }
    }
    return texts;
}

std::vector<std::wstring> comboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    const auto count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcslen(text.c_str()));
        entries.push_back(text);
    }
    return entries;
}

std::wstring comboSelectionText(HWND combo) {
    const auto sel = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (sel < 0) {
        return L"";
    }
    const auto entries = comboEntries(combo);
    return static_cast<std::size_t>(sel) < entries.size() ? entries[static_cast<std::size_t>(sel)]
                                                          : L"";
}

void clickAt(POINT screen, bool rightButton) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (auto& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(screen.x, 65535, width - 1);
        input.mi.dy = MulDiv(screen.y, 65535, height - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags =
        MOUSEEVENTF_ABSOLUTE | (rightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    inputs[2].mi.dwFlags =
        MOUSEEVENTF_ABSOLUTE | (rightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    SendInput(3, inputs, sizeof(INPUT));
}

void pressKey(WORD virtualKey, WORD modifier) {
    INPUT inputs[4] = {};
    UINT count = 0;
    const auto add = [&](WORD key, DWORD flags) {
        inputs[count].type = INPUT_KEYBOARD;
        inputs[count].ki.wVk = key;
        inputs[count].ki.dwFlags = flags;
        ++count;
    };
    if (modifier != 0) {
        add(modifier, 0);
    }
    add(virtualKey, 0);
    add(virtualKey, KEYEVENTF_KEYUP);
    if (modifier != 0) {
        add(modifier, KEYEVENTF_KEYUP);
    }
    SendInput(count, inputs, sizeof(INPUT));
}

HWND trayWindow() {
    // Wine's X11 driver keeps the icons in a window of its own when the
    // desktop has no system tray of its own, as under Xvfb.
    return FindWindowW(L"__winex11_standalone_tray", nullptr);
}

POINT firstTrayIconCentre() {
    const HWND tray = trayWindow();
    RECT icon{};
    const HWND first = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr);
    if (first == nullptr || !GetWindowRect(first, &icon)) {
        return POINT{-1, -1};
    }
    return POINT{(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
}

bool trayIconIsAmber() {
    RECT icon{};
    const HWND first = FindWindowExW(trayWindow(), nullptr, L"__winex11_tray_icon", nullptr);
    if (first == nullptr || !GetWindowRect(first, &icon)) {
        return false;
    }
    const HDC screen = GetDC(nullptr);
    bool amber = false;
    for (LONG y = icon.top; y < icon.bottom && !amber; ++y) {
        for (LONG x = icon.left; x < icon.right && !amber; ++x) {
            const COLORREF c = GetPixel(screen, x, y);
            // The amber keys (255, 178, 60), not the orange LEDs (255, 120, 40).
            amber = GetRValue(c) > 200 && GetGValue(c) > 140 && GetGValue(c) < 210 &&
                    GetBValue(c) < 110;
        }
    }
    ReleaseDC(nullptr, screen);
    return amber;
}

std::wstring trayTipText(bool balloon, const std::wstring& expected, HWND* window) {
    std::wstring text;
    int polls = 0;
    waitUntil([&] {
        // A tooltip shows once the mouse has rested on the icon a while, and
        // each move starts that wait again: so a move only now and then.
        if (!balloon && polls++ % 50 == 0) {
            const POINT centre = firstTrayIconCentre();
            SetCursorPos(centre.x + (polls / 50) % 2, centre.y);
        }
        // Wine's tray makes them for its icons' windows, its children: so it owns them.
        DWORD tray = 0;
        GetWindowThreadProcessId(trayWindow(), &tray);
        text.clear();
        for (HWND tip : topWindows(tray, L"tooltips_class32")) {
            if (IsWindowVisible(tip) && GetWindow(tip, GW_OWNER) == trayWindow() &&
                ((GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) != 0) == balloon) {
                text = windowText(tip);
                if (window != nullptr) {
                    *window = tip;
                }
            }
        }
        return text == expected;
    });
    return text;
}

bool saveScreenshot(const std::wstring& path) {
    // Every window painted first: a window draws only once its queue runs
    // empty, which may be after the test saw it appear.
    RedrawWindow(nullptr, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
        SelectObject(memory, old);
        GdiFlush();
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* out = ok ? _wfopen(path.c_str(), L"wb") : nullptr;
        ok = out != nullptr;
        if (ok) {
            ok = std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                 std::fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
                 std::fwrite(bits, imageSize, 1, out) == 1;
            ok = std::fclose(out) == 0 && ok;
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}
