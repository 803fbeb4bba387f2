// The port-selection window at 100 %, 150 % and 200 %: its dialog and combo box
// laid out at the scale, each part in its place. Wine takes the scale of a
// program it starts from LogPixels and lays out any program at it, aware or
// not: that Windows neither stretches the window nor leaves it at the first
// monitor's scale (PerMonitorV2, in the manifest) only Windows shows.
#include <windows.h>

#include <gtest/gtest.h>

#include "desktop.h"
#include "fake_ports.h"
#include "test_paths.h"
#include "tray_program.h"

namespace {

bool setScaleOfNewPrograms(DWORD dpi) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD,
                           &dpi, sizeof(dpi)) == ERROR_SUCCESS;
}

// In the dialog's client coordinates, physical pixels.
struct Layout {
    RECT client{}, combo{}, ok{}, cancel{};
    LONG selectionHeight = 0;  // the combo box's selection field
};

// Starts the program at dpi with its window shown and reads its layout; leaves
// a screenshot with the list open.
Layout layoutAt(DWORD dpi, const char* screenshot) {
    EXPECT_TRUE(setScaleOfNewPrograms(dpi));
    TrayProgram program(L"");
    EXPECT_TRUE(program.waitReady());
    const HWND dialog = program.dialog();
    const DPI_AWARENESS_CONTEXT before =
        SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    Layout layout;
    GetClientRect(dialog, &layout.client);
    for (auto [id, rect] :
         {std::pair{1000, &layout.combo}, {IDOK, &layout.ok}, {IDCANCEL, &layout.cancel}}) {
        GetWindowRect(GetDlgItem(dialog, id), rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(rect), 2);
    }
    layout.selectionHeight =
        static_cast<LONG>(SendMessageW(GetDlgItem(dialog, 1000), CB_GETITEMHEIGHT, -1, 0));
    SetThreadDpiAwarenessContext(before);
    SendMessageW(GetDlgItem(dialog, 1000), CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_TRUE(
        saveScreenshot(windowsPath(std::string(PELLORA_SCREENSHOT_DIR) + "/" + screenshot)));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.process().waitExit(10000));
    return layout;
}

TEST(WindowScale, DialogAndComboBoxAreLaidOutAtEachScale) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    const Layout base = layoutAt(96, "window-100.bmp");
    for (const auto& [dpi, screenshot] :
         {std::pair<DWORD, const char*>{144, "window-150.bmp"}, {192, "window-200.bmp"}}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        const Layout at = layoutAt(dpi, screenshot);
        // Everything inside the window, the buttons side by side below the list.
        for (const RECT& r : {at.combo, at.ok, at.cancel}) {
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= at.client.right &&
                        r.bottom <= at.client.bottom);
        }
        EXPECT_GE(at.ok.top, at.combo.bottom);
        EXPECT_LE(at.ok.right, at.cancel.left);
        // Grown by the scale, within a font's rounding.
        const double scale = dpi / 96.0;
        EXPECT_NEAR(at.client.right, base.client.right * scale, base.client.right * scale * 0.1);
        EXPECT_NEAR(at.ok.bottom - at.ok.top, (base.ok.bottom - base.ok.top) * scale,
                    (base.ok.bottom - base.ok.top) * scale * 0.15);
        EXPECT_NEAR(at.selectionHeight, base.selectionHeight * scale,
                    base.selectionHeight * scale * 0.2);
    }
    EXPECT_TRUE(setScaleOfNewPrograms(96));  // the prefix's own, for the tests after this one
}

}  // namespace
