// The real Pellora.exe under Wine, where libusb finds no keyboard: it says so
// and ends, taking its tray icon with it.
#include <gtest/gtest.h>

#include "desktop.h"
#include "test_paths.h"
#include "tray_program.h"

namespace {

TEST(RealProgram, WithoutKeyboardItReportsAndEndsLeavingNoTrayIcon) {
    TrayProgram program(L" COM3", {}, TrayProgram::realExe());
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = program.findMessageBox(L"Pellora")) != nullptr; }));
    EXPECT_EQ(TrayProgram::messageText(box), L"Failed to initialize the X68000 Z keyboard.");
    // The icon was added before the keyboard was tried: Wine's tray shows it.
    ASSERT_TRUE(waitUntil([] { return trayWindow() != nullptr && IsWindowVisible(trayWindow()); }));
    ASSERT_TRUE(
        saveScreenshot(windowsPath(std::string(PELLORA_SCREENSHOT_DIR) + "/no-keyboard.bmp")));

    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.process().waitExit(10000));
    // Wine's tray hides itself once it holds no icon.
    EXPECT_TRUE(
        waitUntil([] { return trayWindow() == nullptr || !IsWindowVisible(trayWindow()); }));
}

}  // namespace
