// The tray program's window, tray menu and relay calls, driven from outside like
// a user would, on the test variant whose KeyRelay records its calls.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <dbt.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstdlib>

#include "desktop.h"
#include "fake_ports.h"
#include "status_script.h"
#include "test_paths.h"
#include "tray_program.h"

namespace {

using Events = std::vector<std::string>;

const std::wstring kCom3 = L"COM3 - USB Serial Device";
const std::wstring kCom10 = L"COM10 - Modem";
const std::string kMenu = "menu 1:Select COM Port|-|2:Exit tray=1";

// The relay calls among the events, in order (what the window probe saw left out).
Events relayCalls(const Events& all) {
    Events calls;
    for (const auto& e : all) {
        const bool probed = e.rfind("menu ", 0) == 0 || e.rfind("ping ", 0) == 0 ||
                            e.rfind("shown ", 0) == 0 || e.rfind("keyboard opened ", 0) == 0 ||
                            e.rfind("make ", 0) == 0;
        if (!probed) {
            calls.push_back(e);
        }
    }
    return calls;
}

std::size_t countOf(const Events& all, const std::string& event) {
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), event));
}

std::string screenshotPath(const char* name) {
    return std::string(PELLORA_SCREENSHOT_DIR) + "/" + name;
}

class TrayProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)", L"Modem (COM10)",
                                  L"Bluetooth Link (COM2)", L"Printer Port (LPT1)"}));
    }

    // Ends the program through the tray menu's "Exit" and waits for the end.
    static void exitThroughTray(TrayProgram& program) {
        ASSERT_TRUE(program.openTrayMenu()) << program.eventsText();
        program.chooseLastMenuItem();
        ASSERT_TRUE(program.process().waitExit(10000)) << "Exit did not end the program";
    }

    // Shows the window again through the tray menu's "Select COM Port".
    static void showThroughTray(TrayProgram& program) {
        ASSERT_TRUE(program.openTrayMenu()) << program.eventsText();
        program.chooseFirstMenuItem();
        ASSERT_TRUE(waitUntil([&] { return program.visible(); })) << "the window did not show";
    }

    // Presses a button of the shown window; it must hide the window. Returns
    // once the program has handled what followed: the hidden window's loss of
    // the X focus, handled late, would close the next tray menu at once.
    static void pressAndSeeHidden(TrayProgram& program, int button) {
        ASSERT_TRUE(program.visible());
        program.clickButton(button);
        EXPECT_FALSE(program.visible());
        ASSERT_TRUE(program.settle());
    }

    static void closeAndWait(TrayProgram& program) {
        ASSERT_TRUE(program.exit()) << "Exit did not end the program";
    }

    // The relay reports a status; the icon's tooltip then shows tip, and a
    // balloon with notice comes, whose window is returned.
    static HWND reportAndSee(TrayProgram& program, KeyboardState keyboard, PortState port,
                             const std::wstring& tip, const std::wstring& notice,
                             DWORD portError = 0) {
        EXPECT_TRUE(program.reportStatus(keyboard, port, portError));
        EXPECT_EQ(trayTipText(false, tip), tip);
        HWND balloon = nullptr;
        EXPECT_EQ(trayTipText(true, notice, &balloon), notice);
        return balloon;
    }

    // Sets the ports present, tells the shown window of a device change, and
    // returns once the window has taken it.
    static void changePorts(TrayProgram& program, const std::vector<std::wstring>& ports) {
        ASSERT_TRUE(setFakePorts(ports));
        PostMessageW(program.dialog(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        ASSERT_TRUE(program.settle());
    }
};

TEST_F(TrayProgramTest, PortOnCommandLineStartsHiddenAndExitStopsBeforeRemovingTheIcon) {
    TrayProgram program(L"  com3 ");
    ASSERT_TRUE(program.waitReady());
    EXPECT_FALSE(program.visible());
    EXPECT_FALSE(program.recorded("shown ")) << "the window flashed";
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);
    // The icon is in the tray before the keyboard is opened.
    ASSERT_TRUE(program.waitEvent("start COM3 tray=1"));
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1", "start COM3 tray=1"}));

    exitThroughTray(program);
    const Events all = program.events();
    EXPECT_EQ(countOf(all, kMenu), 1u) << program.eventsText();
    // stop while the icon is still there, closeKeyboard after it has gone.
    EXPECT_EQ(relayCalls(all), (Events{"openKeyboard tray=1", "start COM3 tray=1", "stop tray=1",
                                       "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, WhatIsNoPortNameStartsNothingButStillHides) {
    // A port followed by more words, and COM alone: nothing to wait for.
    for (const wchar_t* tail : {L" COM3 COM2", L" COM"}) {
        SCOPED_TRACE(testing::Message() << "command line tail: \"" << tail << "\"");
        TrayProgram program(tail);
        ASSERT_TRUE(program.waitReady());
        EXPECT_FALSE(program.visible());
        EXPECT_EQ(comboSelectionText(program.portList()), L"(None)");
        closeAndWait(program);
        EXPECT_EQ(relayCalls(program.events()),
                  (Events{"openKeyboard tray=1", "stop tray=1", "closeKeyboard tray=0"}));
    }
}

TEST_F(TrayProgramTest, WithoutPortTheWindowIsShownWithNoneSelected) {
    // No command line, a quoted port, and one behind a slash all count as no port.
    for (const wchar_t* tail : {L"", L" \"COM3\"", L" /COM3"}) {
        SCOPED_TRACE(testing::Message() << "command line tail: \"" << tail << "\"");
        TrayProgram program(tail);
        ASSERT_TRUE(program.waitReady());
        EXPECT_TRUE(program.visible());
        EXPECT_TRUE(program.recorded("shown "));
        EXPECT_EQ(comboSelectionText(program.portList()), L"(None)");
        closeAndWait(program);
        EXPECT_EQ(relayCalls(program.events()),
                  (Events{"openKeyboard tray=1", "stop tray=1", "closeKeyboard tray=0"}));
    }
}

TEST_F(TrayProgramTest, TrayMenuOpensOnRightClickOnlyAndDismissingItDoesNothing) {
    TrayProgram program(L"");
    ASSERT_TRUE(program.waitReady());
    ASSERT_TRUE(program.visible());
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("window.bmp"))));
    pressAndSeeHidden(program, IDCANCEL);

    // A left click on the icon opens nothing; the right click that follows
    // opens the menu exactly once.
    clickAt(firstTrayIconCentre(), false);
    ASSERT_TRUE(program.openTrayMenu()) << program.eventsText();
    EXPECT_EQ(countOf(program.events(), kMenu), 1u) << program.eventsText();
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tray-menu.bmp"))));
    pressKey(VK_ESCAPE);
    ASSERT_TRUE(waitUntil([&] {
        for (HWND menu : topWindows(program.process().id(), L"#32768")) {
            if (IsWindowVisible(menu)) {
                return false;
            }
        }
        return true;
    })) << "the menu stayed open";
    ASSERT_TRUE(program.settle());
    EXPECT_FALSE(program.visible()) << "dismissing the menu showed the window";

    showThroughTray(program);
    EXPECT_EQ(countOf(program.events(), kMenu), 2u) << program.eventsText();
    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()),
              (Events{"openKeyboard tray=1", "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, OkStartsSwitchesAndStopsOnlyOnChange) {
    TrayProgram program(L"");
    ASSERT_TRUE(program.waitReady());

    pressAndSeeHidden(program, IDOK);  // (None) while nothing runs: only hides
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(kCom3));
    pressAndSeeHidden(program, IDOK);  // start COM3
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3) << "the list forgot the choice";
    pressAndSeeHidden(program, IDOK);  // the same port again: no restart
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(kCom10));
    pressAndSeeHidden(program, IDOK);  // switch to COM10
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(L"(None)"));
    pressAndSeeHidden(program, IDOK);  // stop
    showThroughTray(program);
    pressAndSeeHidden(program, IDOK);  // (None) again: nothing
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(kCom10));
    pressAndSeeHidden(program, IDOK);  // the port stopped before starts again

    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()),
              (Events{"openKeyboard tray=1", "start COM3 tray=1", "start COM10 tray=1",
                      "stop tray=1", "start COM10 tray=1", "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, CancelEscapeCloseAndAltF4OnlyHideAndTheWindowShowsThePortInUse) {
    const std::wstring kCom2 = L"COM2 - Bluetooth Link";
    TrayProgram program(L" COM2");
    ASSERT_TRUE(program.waitReady());
    EXPECT_FALSE(program.visible());
    showThroughTray(program);
    // Centred on the monitor of the cursor, which opened the tray menu.
    POINT cursor{};
    ASSERT_TRUE(GetCursorPos(&cursor));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor));
    RECT window{};
    ASSERT_TRUE(GetWindowRect(program.dialog(), &window));
    EXPECT_LE(std::abs(window.left + window.right - monitor.rcWork.left - monitor.rcWork.right), 1);
    EXPECT_LE(std::abs(window.top + window.bottom - monitor.rcWork.top - monitor.rcWork.bottom), 1);

    // A choice cancelled is not what the window shows next time.
    ASSERT_TRUE(program.selectEntry(kCom3));
    pressAndSeeHidden(program, IDCANCEL);
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), kCom2);

    // Escape reaches the same handler through the dialog manager; WM_CLOSE
    // (the close box) and Alt+F4 hide too, and the program runs on.
    pressKey(VK_ESCAPE);
    ASSERT_TRUE(waitUntil([&] { return !program.visible(); })) << "Escape did not hide";
    showThroughTray(program);
    PostMessageW(program.dialog(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return !program.visible(); })) << "WM_CLOSE did not hide";
    ASSERT_TRUE(program.settle());
    showThroughTray(program);
    pressKey(VK_F4, VK_MENU);
    ASSERT_TRUE(waitUntil([&] { return !program.visible(); })) << "Alt+F4 did not hide";
    ASSERT_TRUE(program.settle());
    EXPECT_TRUE(program.process().running());

    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1", "start COM2 tray=1",
                                                    "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, WithNoComPortItWaitsInTheTrayAndListsOneWhenItComes) {
    ASSERT_TRUE(setFakePorts({L"Printer Port (LPT1)", L"Odd Device (com4)"}));
    TrayProgram program(L" COM");  // in the tray, no port chosen
    ASSERT_TRUE(program.waitReady());
    EXPECT_FALSE(program.visible());
    EXPECT_EQ(program.findMessageBox(L"Pellora"), nullptr);
    EXPECT_EQ(comboEntries(program.portList()), (std::vector<std::wstring>{L"(None)"}));
    EXPECT_EQ(trayTipText(false, L"Pellora - COM port not found."),
              L"Pellora - COM port not found.");

    // Plugged in while the window is hidden: listed, and the tooltip follows.
    changePorts(program, {L"USB Serial Device (COM3)"});
    EXPECT_EQ(trayTipText(false, L"Pellora - no port selected"), L"Pellora - no port selected");
    showThroughTray(program);
    EXPECT_EQ(comboEntries(program.portList()), (std::vector<std::wstring>{L"(None)", kCom3}));
    EXPECT_EQ(comboSelectionText(program.portList()), L"(None)");

    // A list the user has dropped down stays open while ports come and go.
    SendMessageW(program.portList(), CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(SendMessageW(program.portList(), CB_GETDROPPEDSTATE, 0, 0));
    changePorts(program, {L"USB Serial Device (COM3)", L"Adapter (COM8)"});
    EXPECT_TRUE(SendMessageW(program.portList(), CB_GETDROPPEDSTATE, 0, 0)) << "the list closed";
    EXPECT_EQ(comboEntries(program.portList()),
              (std::vector<std::wstring>{L"(None)", kCom3, L"COM8 - Adapter"}));
    SendMessageW(program.portList(), CB_SHOWDROPDOWN, FALSE, 0);
    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()),
              (Events{"openKeyboard tray=1", "devicesChanged tray=1", "devicesChanged tray=1",
                      "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, RefusedKeyboardIsReportedWithWhatToDoUnderTheExecutablesName) {
    // A renamed copy: the caption follows the executable's name.
    const std::wstring renamed = tempFile(L"renamed") + L".exe";
    ASSERT_TRUE(CopyFileW(TrayProgram::variantExe().c_str(), renamed.c_str(), FALSE));
    const auto slash = renamed.find_last_of(L'\\');
    const std::wstring title = renamed.substr(slash + 1, renamed.size() - slash - 1 - 4);
    {
        TrayProgram program(L" COM3", {{L"PELLORA_TEST_KEYBOARD", L"refused"}}, renamed);
        HWND box = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (box = program.findMessageBox(title)) != nullptr; }));
        // Its window hidden, the program's message is a window of its own
        // (with a taskbar button) and in front.
        EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
        EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == box; }));
        EXPECT_EQ(TrayProgram::messageText(box),
                  L"Failed to initialize the X68000 Z keyboard.\nAnother program holds it, or "
                  L"its driver is not WinUSB: close that program, or give both of its "
                  L"interfaces the WinUSB driver, as README-Windows.txt tells.");
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        ASSERT_TRUE(program.process().waitExit(10000));
        EXPECT_EQ(relayCalls(program.events()),
                  (Events{"openKeyboard tray=1", "stop tray=1", "closeKeyboard tray=0"}));
    }
    DeleteFileW(renamed.c_str());
}

TEST_F(TrayProgramTest, AbsentKeyboardIsWaitedForInTheTray) {
    const std::wstring kWaiting = L"Pellora - COM3 - waiting for the keyboard";
    TrayProgram program(L" COM3", {{L"PELLORA_TEST_KEYBOARD", L"absent"}});
    ASSERT_TRUE(program.waitReady());
    EXPECT_FALSE(program.visible());
    EXPECT_EQ(program.findMessageBox(L"Pellora"), nullptr);
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tooltip-waiting.bmp"))));
    // The relay takes it when it is plugged in.
    reportAndSee(program, KeyboardState::Connected, PortState::Open, L"Pellora - COM3",
                 L"The X68000 Z keyboard is connected: keys go to COM3.");
    exitThroughTray(program);
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1", "start COM3 tray=1",
                                                    "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, ExitEndsTheProgramWhileTheKeyboardsOpeningHangs) {
    TrayProgram program(L" COM3", {{L"PELLORA_TEST_KEYBOARD", L"hang"}});
    ASSERT_TRUE(program.waitEvent("openKeyboard tray=1"));
    // The window answers meanwhile, but the relay is not started on a
    // keyboard connection still being made.
    exitThroughTray(program);
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1"}));
}

TEST_F(TrayProgramTest, AStartThatThrowsIsToldAndLeavesTheRelayIdle) {
    TrayProgram program(L" COM3", {{L"PELLORA_TEST_START", L"fail"}});
    ASSERT_TRUE(program.waitReady());
    const std::wstring notice =
        L"Relaying to COM3 could not start: Resource temporarily unavailable. Choose it again "
        L"with \"Select COM Port\" to retry.";
    EXPECT_EQ(trayTipText(true, notice), notice);
    EXPECT_EQ(trayTipText(false, L"Pellora - no port selected"), L"Pellora - no port selected");
    // As the notice says: choosing it again tries it again.
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), L"(None)");
    ASSERT_TRUE(program.selectEntry(kCom3));
    pressAndSeeHidden(program, IDOK);
    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()),
              (Events{"openKeyboard tray=1", "start COM3 tray=1", "stop tray=1",
                      "start COM3 tray=1", "stop tray=1", "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, TheWindowAnswersAndExitEndsTheProgramWhileARelayCallHangs) {
    TrayProgram program(L" COM3", {{L"PELLORA_TEST_START", L"hang"}});
    ASSERT_TRUE(program.waitReady());
    ASSERT_TRUE(program.waitEvent("start COM3 tray=1"));
    // Another port meanwhile: the window hides at once, the start waits its turn.
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(kCom10));
    pressAndSeeHidden(program, IDOK);
    exitThroughTray(program);
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1", "start COM3 tray=1"}));
}

TEST_F(TrayProgramTest, IconRefusedByAStartingTaskbarIsAddedLater) {
    TrayProgram program(L" COM3", {{L"PELLORA_TEST_REFUSE_TRAY_ADDS", L"2"}});
    ASSERT_TRUE(program.waitReady());
    ASSERT_TRUE(program.waitEvent("start COM3 tray=0"));
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=0", "start COM3 tray=0"}));
    // Offered again every 2 s: there after the third offer.
    ASSERT_TRUE(waitUntil([] { return firstTrayIconCentre().x >= 0; })) << "no icon came";
    EXPECT_EQ(trayTipText(false, L"Pellora - COM3"), L"Pellora - COM3");
    exitThroughTray(program);
}

TEST_F(TrayProgramTest, TooltipAndBalloonsTellWhatTheRelayIsDoing) {
    const std::wstring kTip = L"Pellora - COM3";
    TrayProgram program(L" COM3");
    ASSERT_TRUE(program.waitReady());
    EXPECT_EQ(trayTipText(false, kTip), kTip);

    reportAndSee(program, KeyboardState::Absent, PortState::Open,
                 L"Pellora - COM3 - waiting for the keyboard",
                 L"The X68000 Z keyboard was unplugged. Keys reach COM3 again as soon as it is "
                 L"back.");
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("balloon.bmp"))));
    reportAndSee(program, KeyboardState::Connected, PortState::Open, kTip,
                 L"The X68000 Z keyboard is back: keys go to COM3 again.");

    const std::wstring lost =
        L"COM3 went away (the device was removed or the line hung up). Keys reach the X68000 "
        L"again as soon as it is back.";
    const HWND lostBalloon = reportAndSee(program, KeyboardState::Connected, PortState::Reopening,
                                          L"Pellora - COM3 lost, waiting", lost);
    // The tries to reopen it fail, with a reason: still the one balloon (another
    // would have taken this one down at once).
    ASSERT_TRUE(
        program.reportStatus(KeyboardState::Connected, PortState::Reopening, ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(IsWindow(lostBalloon) && windowText(lostBalloon) == lost);
    reportAndSee(program, KeyboardState::Connected, PortState::Open, kTip,
                 L"COM3 is open again: keys reach the X68000.");

    // Lost, then its name comes back on another adapter: told too.
    reportAndSee(program, KeyboardState::Connected, PortState::Reopening,
                 L"Pellora - COM3 lost, waiting", lost);
    reportAndSee(program, KeyboardState::Connected, PortState::OtherDevice,
                 L"Pellora - COM3 is another device now, waiting",
                 L"COM3 is now the name of another USB device than the one Pellora opened, so it "
                 L"is left alone. Keys reach the X68000 again when that adapter is back.");
    reportAndSee(program, KeyboardState::Connected, PortState::Open, kTip,
                 L"COM3 is open again: keys reach the X68000.");

    reportAndSee(program, KeyboardState::Connected, PortState::Failed,
                 L"Pellora - COM3 could not be opened",
                 L"COM3 could not be opened: " + systemMessage(ERROR_ACCESS_DENIED) +
                     L" Choose it again with \"Select COM Port\" to retry, or choose another.",
                 ERROR_ACCESS_DENIED);
    // As the notice says: OK on the same port tries it again.
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);
    pressAndSeeHidden(program, IDOK);
    EXPECT_EQ(trayTipText(false, kTip), kTip);
    showThroughTray(program);
    ASSERT_TRUE(program.selectEntry(L"(None)"));
    pressAndSeeHidden(program, IDOK);
    EXPECT_EQ(trayTipText(false, L"Pellora - no port selected"), L"Pellora - no port selected");
    closeAndWait(program);
    EXPECT_EQ(relayCalls(program.events()),
              (Events{"openKeyboard tray=1", "start COM3 tray=1", "start COM3 tray=1",
                      "stop tray=1", "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, IconComesBackWithItsTooltipWhenTheTaskbarIsMadeAnew) {
    TrayProgram program(L" COM3");
    ASSERT_TRUE(program.waitReady());
    // Explorer's restart loses the icon, then Explorer tells every window.
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof(icon);
    icon.hWnd = program.dialog();
    icon.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    ASSERT_TRUE(waitUntil([] { return firstTrayIconCentre().x < 0; }));
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_TRUE(waitUntil([] { return firstTrayIconCentre().x >= 0; })) << "no icon came back";
    // The tooltip it has now, not the one it was first added with.
    EXPECT_EQ(trayTipText(false, L"Pellora - COM3"), L"Pellora - COM3");
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tooltip.bmp"))));
    exitThroughTray(program);
    EXPECT_EQ(relayCalls(program.events()), (Events{"openKeyboard tray=1", "start COM3 tray=1",
                                                    "stop tray=1", "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, PortsAreReadAgainWhenShownAndOnDeviceChanges) {
    const std::wstring kCom7 = L"COM7 - USB Serial Port";
    TrayProgram program(L" COM3");
    ASSERT_TRUE(program.waitReady());
    // Plugged in while hidden: there when the window is shown; COM2 has gone.
    ASSERT_TRUE(
        setFakePorts({L"USB Serial Device (COM3)", L"Modem (COM10)", L"USB Serial Port (COM7)"}));
    showThroughTray(program);
    EXPECT_EQ(comboEntries(program.portList()),
              (std::vector<std::wstring>{L"(None)", kCom10, kCom3, kCom7}));
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);

    // While shown: the user's choice stays as long as its port is there...
    ASSERT_TRUE(program.selectEntry(kCom7));
    changePorts(program, {L"USB Serial Device (COM3)", L"Modem (COM10)", L"USB Serial Port (COM7)",
                          L"Adapter (COM8)"});
    EXPECT_EQ(comboEntries(program.portList()),
              (std::vector<std::wstring>{L"(None)", kCom10, kCom3, kCom7, L"COM8 - Adapter"}));
    EXPECT_EQ(comboSelectionText(program.portList()), kCom7);
    // ...then the relaying port takes its place. Gone, it stays listed and
    // selected, as not present (as after a sleep that took its adapter);
    // back, it is selected again, and OK on it keeps the relay as it runs.
    const std::wstring kCom3Absent = L"COM3 - not present";
    changePorts(program, {L"USB Serial Device (COM3)", L"Modem (COM10)"});
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);
    changePorts(program, {L"Modem (COM10)"});
    EXPECT_EQ(comboEntries(program.portList()),
              (std::vector<std::wstring>{L"(None)", kCom10, kCom3Absent}));
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3Absent);
    changePorts(program, {L"USB Serial Device (COM3)", L"Modem (COM10)"});
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);
    pressAndSeeHidden(program, IDOK);
    // The same while the window is hidden.
    changePorts(program, {L"Modem (COM10)"});
    changePorts(program, {L"USB Serial Device (COM3)", L"Modem (COM10)"});
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), kCom3);
    pressAndSeeHidden(program, IDOK);

    closeAndWait(program);
    // Each DBT_DEVNODES_CHANGED also has the relay look for a missing keyboard.
    const Events changes(6, "devicesChanged tray=1");
    Events expected{"openKeyboard tray=1", "start COM3 tray=1"};
    expected.insert(expected.end(), changes.begin(), changes.end());
    expected.insert(expected.end(), {"stop tray=1", "closeKeyboard tray=0"});
    EXPECT_EQ(relayCalls(program.events()), expected);
}

TEST_F(TrayProgramTest, APortNamedAtStartIsWaitedForAndUsedWhenItComes) {
    const std::wstring kWaiting = L"Pellora - Waiting for COM7";
    TrayProgram program(L" com7");
    ASSERT_TRUE(program.waitReady());
    EXPECT_FALSE(program.visible());
    EXPECT_EQ(comboSelectionText(program.portList()), L"COM7 - not present");
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
    changePorts(program, {L"USB Serial Device (COM3)", L"Bluetooth Link (COM2)"});
    EXPECT_FALSE(program.recorded("start ")) << "started without its port";

    // It comes: started. Its driver not taking requests yet, the start fails
    // and is made again, still as a port waited for and without a notice.
    changePorts(program, {L"USB Serial Device (COM3)", L"USB Serial Port (COM7)"});
    ASSERT_TRUE(program.waitEvent("start COM7 tray=1"));
    ASSERT_TRUE(
        program.reportStatus(KeyboardState::Connected, PortState::Failed, ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
    ASSERT_TRUE(waitUntil([&] { return countOf(program.events(), "start COM7 tray=1") == 2; }));
    reportAndSee(program, KeyboardState::Connected, PortState::Open, L"Pellora - COM7",
                 L"COM7 is there now: Pellora relays the keyboard to it.");

    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(program.portList()), L"COM7 - USB Serial Port");
    pressAndSeeHidden(program, IDOK);
    exitThroughTray(program);
    EXPECT_EQ(
        relayCalls(program.events()),
        (Events{"openKeyboard tray=1", "devicesChanged tray=1", "devicesChanged tray=1",
                "start COM7 tray=1", "start COM7 tray=1", "stop tray=1", "closeKeyboard tray=0"}));
}

// The relay calls and the relays made, in order.
Events callsAndMakes(const Events& all) {
    Events out;
    for (const auto& e : all) {
        const bool probed = e.rfind("menu ", 0) == 0 || e.rfind("ping ", 0) == 0 ||
                            e.rfind("shown ", 0) == 0 || e.rfind("keyboard opened ", 0) == 0;
        if (!probed) {
            out.push_back(e);
        }
    }
    return out;
}

// Selects the entry with exactly this text in a list of the window, as the
// user would (the window hears of the change); false when there is none.
bool chooseIn(HWND dialog, int list, const std::wstring& text) {
    const HWND combo = GetDlgItem(dialog, list);
    const auto entries = comboEntries(combo);
    const auto it = std::find(entries.begin(), entries.end(), text);
    if (it == entries.end()) {
        return false;
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(it - entries.begin()), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(list, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return true;
}

constexpr int kSourceList = 1001;
constexpr int kMousePortList = 1002;
const std::wstring kComputerKeyboard = L"This computer's keyboard and mouse";

TEST_F(TrayProgramTest, SharedTheTipSaysWhereTheKeyboardGoesAndTheSessionsLockGivesItBack) {
    TrayProgram program(L" COM3 --share --mouse-port=com10 --switch-key=pause --layout=us");
    ASSERT_TRUE(program.waitReady());
    EXPECT_TRUE(program.recorded("make share mouse=COM10 switch=119 layout=us "))
        << program.eventsText();
    const std::wstring kHere = L"Pellora - COM3\nKeyboard and mouse: this computer.";
    const std::wstring kThere =
        L"Pellora - COM3\nKeyboard and mouse: X68000 (Pause twice to return).";
    EXPECT_EQ(trayTipText(false, kHere), kHere);
    EXPECT_FALSE(trayIconIsAmber());

    // The switch moved: the tip and the icon say so; the session locked, the
    // keyboard is the computer's again.
    PostMessageW(program.dialog(), shareTapsMessage(), 2, 0);
    EXPECT_EQ(trayTipText(false, kThere), kThere);
    EXPECT_TRUE(waitUntil(trayIconIsAmber));
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tooltip-shared.bmp"))));
    PostMessageW(program.dialog(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
    EXPECT_EQ(trayTipText(false, kHere), kHere);
    EXPECT_TRUE(waitUntil([] { return !trayIconIsAmber(); }));

    // The hook found no longer seeing the keys (the shared keyboard lost):
    // a balloon; an X68000 Z keyboard not plugged in is no news.
    ASSERT_TRUE(program.reportStatus(KeyboardState::Absent, PortState::Open));
    ASSERT_TRUE(program.reportStatus(static_cast<KeyboardState>(3 + 1), PortState::Open));
    const std::wstring lost =
        L"Pellora's hook stopped seeing this computer's keys (Windows took it away, or a "
        L"program run as administrator has them), so the keyboard and mouse are this "
        L"computer's again. Pellora takes the hook again.";
    EXPECT_EQ(trayTipText(true, lost), lost);
    EXPECT_EQ(trayTipText(false, kHere), kHere);
    closeAndWait(program);
}

TEST_F(TrayProgramTest, TheWindowChoosesWhatToRelayAndTheMousesPortAndMakesTheRelayAnew) {
    TrayProgram program(L" COM3");
    ASSERT_TRUE(program.waitReady());
    ASSERT_TRUE(program.waitEvent("start COM3 tray=1"));
    showThroughTray(program);
    const HWND mouseList = GetDlgItem(program.dialog(), kMousePortList);
    EXPECT_EQ(comboSelectionText(GetDlgItem(program.dialog(), kSourceList)), L"X68000 Z keyboard");
    EXPECT_FALSE(IsWindowEnabled(mouseList)) << "a mouse without sharing";
    ASSERT_TRUE(chooseIn(program.dialog(), kSourceList, kComputerKeyboard));
    EXPECT_TRUE(IsWindowEnabled(mouseList));
    EXPECT_EQ(comboSelectionText(mouseList), L"(None)");
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("window-shared.bmp"))));
    // The keyboard's own port for the mouse is refused, and the window stays.
    ASSERT_TRUE(chooseIn(program.dialog(), kMousePortList, kCom3));
    PostMessageW(GetDlgItem(program.dialog(), IDOK), BM_CLICK, 0, 0);
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = program.findMessageBox(L"Pellora")) != nullptr; }));
    EXPECT_EQ(TrayProgram::messageText(box),
              L"COM3 is the keyboard's port: the mouse needs a port of its own.");
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.settle());
    EXPECT_TRUE(program.visible());
    ASSERT_TRUE(chooseIn(program.dialog(), kMousePortList, kCom10));
    pressAndSeeHidden(program, IDOK);
    ASSERT_TRUE(program.waitEvent("start COM3 tray=1") &&
                waitUntil([&] { return countOf(program.events(), "start COM3 tray=1") == 2; }));

    // Shown again, it shows what is relayed; back to the X68000 Z keyboard alone.
    showThroughTray(program);
    EXPECT_EQ(comboSelectionText(GetDlgItem(program.dialog(), kSourceList)), kComputerKeyboard);
    EXPECT_EQ(comboSelectionText(mouseList), kCom10);
    ASSERT_TRUE(chooseIn(program.dialog(), kSourceList, L"X68000 Z keyboard"));
    pressAndSeeHidden(program, IDOK);
    ASSERT_TRUE(waitUntil([&] { return countOf(program.events(), "start COM3 tray=1") == 3; }));
    closeAndWait(program);
    EXPECT_EQ(
        callsAndMakes(program.events()),
        (Events{"make keyboard tray=0", "openKeyboard tray=1", "start COM3 tray=1", "stop tray=1",
                "closeKeyboard tray=1", "make share mouse=COM10 switch=70 layout=jis tray=1",
                "openKeyboard tray=1", "start COM3 tray=1", "stop tray=1", "closeKeyboard tray=1",
                "make keyboard tray=1", "openKeyboard tray=1", "start COM3 tray=1", "stop tray=1",
                "closeKeyboard tray=0"}));
}

TEST_F(TrayProgramTest, AWrongCommandLineIsSaidAndNothingIsTaken) {
    TrayProgram program(L" COM3 --mouse-port=COM4");
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = program.findMessageBox(L"Pellora")) != nullptr; }));
    EXPECT_EQ(TrayProgram::messageText(box),
              L"The command line is wrong: --mouse-port goes with --share, which shares this "
              L"computer's keyboard and mouse.\nPellora.exe COM3 --share --mouse-port=COM4 "
              L"--switch-key=NAME --layout=jis|us|uk, as README-Windows.txt tells.");
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.process().waitExit(10000));
    EXPECT_EQ(program.events(), Events{});
}

// Run by ctest with LC_ALL=ja_JP.UTF-8, from which Wine takes the user's
// interface language of this test and of the programs it starts (their own
// environment block would not do: Wine gives a child the Unix locale of its
// parent). Every other test here runs in English and sees the English texts.
TEST_F(TrayProgramTest, JapaneseUiTheWindowMenuTipBalloonsAndMessagesSpeakJapanese) {
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_JAPANESE)
        << "no Japanese user interface: is the locale ja_JP.UTF-8 made (locale -a)?";
    {
        TrayProgram program(L" COM3", {{L"PELLORA_TEST_KEYBOARD", L"absent"}});
        ASSERT_TRUE(program.waitReady());  // found by its Japanese caption
        const std::wstring kWaiting = L"Pellora - COM3 - キーボードを待っています";
        EXPECT_EQ(trayTipText(false, kWaiting), kWaiting);
        ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tooltip-ja.bmp"))));
        reportAndSee(program, KeyboardState::Connected, PortState::Open, L"Pellora - COM3",
                     L"X68000 Z キーボードがつながりました。キーは COM3 へ送られます。");
        // Two parts, put in the Japanese order.
        reportAndSee(program, KeyboardState::Connected, PortState::Reopening,
                     L"Pellora - COM3 が外れました。待っています",
                     L"COM3 が外れました（デバイスが取り外されたか、回線が切れました）。戻ればすぐ"
                     L"に、キーはまた X68000 へ届きます。");
        ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("balloon-ja.bmp"))));

        // Gone while hidden, the port is listed as not present.
        ASSERT_TRUE(setFakePorts({L"Modem (COM10)"}));
        ASSERT_TRUE(program.openTrayMenu()) << program.eventsText();
        EXPECT_TRUE(program.recorded("menu 1:COM ポートの選択|-|2:終了 ")) << program.eventsText();
        ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("tray-menu-ja.bmp"))));
        program.chooseFirstMenuItem();
        ASSERT_TRUE(waitUntil([&] { return program.visible(); })) << "the window did not show";
        EXPECT_EQ(comboEntries(program.portList()),
                  (std::vector<std::wstring>{L"(なし)", kCom10, L"COM3 - 未接続"}));
        EXPECT_EQ(comboSelectionText(program.portList()), L"COM3 - 未接続");
        EXPECT_EQ(comboEntries(GetDlgItem(program.dialog(), 1001)),
                  (std::vector<std::wstring>{L"X68000 Z キーボード",
                                             L"このコンピュータのキーボードとマウス"}));
        EXPECT_EQ(comboSelectionText(GetDlgItem(program.dialog(), 1002)), L"(なし)");
        ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("window-ja.bmp"))));
        closeAndWait(program);
    }
    TrayProgram program(L" COM3 --mouse-port=COM4");
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = program.findMessageBox(L"Pellora")) != nullptr; }));
    EXPECT_EQ(TrayProgram::messageText(box),
              L"コマンドラインが誤っています: --mouse-port は --share（このコンピュータのキーボー"
              L"ドとマウスを共有する）とともに指定します。\nPellora.exe COM3 --share "
              L"--mouse-port=COM4 --switch-key=NAME --layout=jis|us|uk のように指定します"
              L"（README-Windows.txt を参照）。");
    ASSERT_TRUE(program.process().waitIdle());  // the box painted
    ASSERT_TRUE(saveScreenshot(windowsPath(screenshotPath("message-ja.bmp"))));
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(program.process().waitExit(10000));
}

}  // namespace
