// The real Pellora.exe under Wine, where libusb finds no keyboard: it does not
// end but waits for one, with its window open to choose a port.
#include <gtest/gtest.h>

#include "desktop.h"
#include "fake_ports.h"
#include "test_paths.h"
#include "tray_program.h"

namespace {

TEST(RealProgram, WithoutKeyboardTheWindowOpensAndTheTrayWaitsForIt) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    TrayProgram program(L"", {}, TrayProgram::realExe());
    HWND window = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        window = findWindow(program.process().id(), kDialogClass, kDialogCaption);
        return window != nullptr && IsWindowVisible(window);
    }));
    // Answered by the window's thread once its initialisation is over.
    EXPECT_EQ(comboSelectionText(GetDlgItem(window, 1000)), L"(None)");
    ASSERT_TRUE(
        saveScreenshot(windowsPath(std::string(PELLORA_SCREENSHOT_DIR) + "/no-keyboard.bmp")));
    // Cancel hides the window, which covers the tray at the screen's corner.
    SendMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    const std::wstring kWaiting = L"Pellora - waiting for the keyboard";
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
    EXPECT_EQ(program.findMessageBox(L"Pellora"), nullptr);

    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(program.process().waitExit(10000));
    // Wine's tray hides itself once it holds no icon.
    EXPECT_TRUE(
        waitUntil([] { return trayWindow() == nullptr || !IsWindowVisible(trayWindow()); }));
}

}  // namespace
