// The port-selection window at 100 %, 150 % and 200 %: the program is aware of
// each monitor's scale (PerMonitorV2), so its dialog and combo box are laid out
// anew at the scale rather than stretched, and keep their proportions. Wine
// takes the scale of a program it starts from LogPixels.
#include <windows.h>

#include <gtest/gtest.h>

#include "desktop.h"
#include "fake_ports.h"
#include "test_paths.h"
#include "tray_program.h"

namespace {

constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";

// Sets the scale of the programs started from now on; puts back what was
// there when it goes.
class ScaleForNewPrograms {
public:
    ScaleForNewPrograms() {
        DWORD bytes = sizeof(before);
        hadValue = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD,
                                nullptr, &before, &bytes) == ERROR_SUCCESS;
    }
    ~ScaleForNewPrograms() {
        if (hadValue) {
            set(before);
        } else {
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
        }
    }
    static bool set(DWORD dpi) {
        return RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi,
                               sizeof(dpi)) == ERROR_SUCCESS;
    }

private:
    DWORD before = 96;
    bool hadValue = false;
};

struct Layout {
    RECT client{};                 // the dialog's client area
    RECT combo{}, ok{}, cancel{};  // in the client area's coordinates
    LONG selectionHeight = 0;      // the combo box's selection field
};

RECT childRect(HWND dialog, int id) {
    RECT r{};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

LONG height(const RECT& r) {
    return r.bottom - r.top;
}

// Starts the program at dpi with its window shown, and reads its layout in
// physical pixels.
Layout layoutAt(DWORD dpi, const char* screenshot) {
    EXPECT_TRUE(ScaleForNewPrograms::set(dpi));
    TrayProgram program(L"");
    EXPECT_TRUE(program.waitReady());
    Layout layout;
    const DPI_AWARENESS_CONTEXT before =
        SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const HWND dialog = program.dialog();
    GetClientRect(dialog, &layout.client);
    layout.combo = childRect(dialog, 1000);
    layout.ok = childRect(dialog, IDOK);
    layout.cancel = childRect(dialog, IDCANCEL);
    layout.selectionHeight =
        static_cast<LONG>(SendMessageW(GetDlgItem(dialog, 1000), CB_GETITEMHEIGHT, -1, 0));
    SetThreadDpiAwarenessContext(before);
    if (screenshot != nullptr) {
        // The list open, to be seen at the scale too.
        SendMessageW(GetDlgItem(dialog, 1000), CB_SHOWDROPDOWN, TRUE, 0);
        EXPECT_TRUE(
            saveScreenshot(windowsPath(std::string(PELLORA_SCREENSHOT_DIR) + "/" + screenshot)));
    }
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.process().waitExit(10000));
    return layout;
}

TEST(WindowScale, DialogAndComboBoxAreLaidOutAtEachScale) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    ScaleForNewPrograms restore;
    const Layout base = layoutAt(96, "window-100.bmp");
    for (const auto& [dpi, screenshot] : {std::pair<DWORD, const char*>{96, nullptr},
                                          {144, "window-150.bmp"},
                                          {192, "window-200.bmp"}}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        const Layout at = dpi == 96 ? base : layoutAt(dpi, screenshot);
        // Everything in the window, the buttons below the list.
        EXPECT_TRUE(inside(at.combo, at.client));
        EXPECT_TRUE(inside(at.ok, at.client));
        EXPECT_TRUE(inside(at.cancel, at.client));
        EXPECT_GE(at.ok.top, at.combo.top + height(at.combo));
        EXPECT_LE(at.ok.right, at.cancel.left);
        // Grown by the scale, within a font's rounding.
        const double scale = dpi / 96.0;
        EXPECT_NEAR(at.client.right, base.client.right * scale, base.client.right * scale * 0.1);
        EXPECT_NEAR(height(at.ok), height(base.ok) * scale, height(base.ok) * scale * 0.15);
        EXPECT_NEAR(at.selectionHeight, base.selectionHeight * scale,
                    base.selectionHeight * scale * 0.2);
    }
}

}  // namespace
