// The real Pellora.exe under Wine, where libusb finds no keyboard: it does not
// end but waits for one, with its window open to choose a port; and a port
// named at start that is not there yet is relayed to when it comes (the
// serial peer's pty, as COM42).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <dbt.h>

#include "desktop.h"
#include "fake_ports.h"
#include "peer_link.h"
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
    SendMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    const std::wstring kWaiting = L"Pellora - waiting for the keyboard";
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
    EXPECT_EQ(program.findMessageBox(L"Pellora"), nullptr);

    ASSERT_TRUE(program.exit());
    // Wine's tray hides itself once it holds no icon.
    EXPECT_TRUE(
        waitUntil([] { return trayWindow() == nullptr || !IsWindowVisible(trayWindow()); }));
}

TEST(RealProgram, APortNamedAtStartIsRelayedToWhenItComes) {
    PeerLink peer;
    const std::string name = PeerLink::comPort();
    const std::wstring port(name.begin(), name.end());
    peer.vanish();  // the adapter is not plugged in yet
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    TrayProgram program(L" " + port, {}, TrayProgram::realExe());
    HWND window = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        window = findWindow(program.process().id(), kDialogClass, kDialogCaption);
        return window != nullptr;
    }));
    const std::wstring kWaiting = L"Pellora - Waiting for " + port + L" - waiting for the keyboard";
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);

    // Plugged in: the line is there, then the system lists the port and
    // tells every window.
    peer.comeBack();
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)", L"USB Serial Port (" + port + L")"}));
    PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    const std::wstring kFound = port + L" is there now: Pellora relays the keyboard to it.";
    EXPECT_EQ(trayTipText(true, kFound), kFound);
    const std::wstring kRelaying = L"Pellora - " + port + L" - waiting for the keyboard";
    EXPECT_EQ(trayTipText(false, kRelaying), kRelaying);
    EXPECT_GE(peer.openers(), 1) << "the line is not open";

    ASSERT_TRUE(program.exit());
    EXPECT_EQ(peer.openers(), 0) << "the line was left open";
}

}  // namespace
