// The machine-wide single instance: a second start says that Pellora is already
// running, ends and leaves the first alone, also when the first is another
// user's; the guard goes with the process, however it ends.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include <algorithm>
#include <memory>

#include "desktop.h"
#include "fake_ports.h"
#include "tray_program.h"

namespace {

// The second start's message, read and answered; then the second has ended.
void expectRunningMessage(TrayProgram& second, const std::wstring& text) {
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = second.findMessageBox(L"Pellora")) != nullptr; }));
    EXPECT_EQ(TrayProgram::messageText(box), text);
    SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(second.process().waitExit(10000)) << "the second instance kept running";
}

TEST(SingleInstance, SecondStartSaysSoAndEndsAndTheFirstCarriesOn) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    TrayProgram first(L"");
    ASSERT_TRUE(first.waitReady());
    ASSERT_TRUE(first.visible());
    const auto firstEvents = first.events();

    {
        TrayProgram second(L" COM3");
        expectRunningMessage(second,
                             L"Pellora is already running (perhaps in another session): "
                             L"only one runs on this computer at a time.");
        // It made no window object (nothing recorded) and left no window.
        EXPECT_TRUE(second.events().empty());
        EXPECT_TRUE(topWindows(second.process().id()).empty());
    }

    ASSERT_TRUE(first.settle());
    EXPECT_TRUE(first.process().running());
    EXPECT_TRUE(first.visible());
    // Nothing but the test's own pings came in between.
    auto later = first.events();
    later.erase(std::remove_if(later.begin(), later.end(),
                               [](const std::string& e) { return e.rfind("ping ", 0) == 0; }),
                later.end());
    auto before = firstEvents;
    before.erase(std::remove_if(before.begin(), before.end(),
                                [](const std::string& e) { return e.rfind("ping ", 0) == 0; }),
                 before.end());
    EXPECT_EQ(later, before) << "the running instance was disturbed";
    ASSERT_TRUE(first.exit());
}

TEST(SingleInstance, GuardIsFreeAgainAfterANormalEndAndAfterAKill) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    {
        TrayProgram program(L"");
        ASSERT_TRUE(program.waitReady());
        ASSERT_TRUE(program.exit());
    }
    {
        TrayProgram program(L"");
        ASSERT_TRUE(program.waitReady()) << "no window after a normal end";
        program.process().kill();
    }
    // A killed program cannot remove its icon; Wine's tray drops it with the
    // window, and the next TrayProgram waits for that.
    TrayProgram program(L"");
    ASSERT_TRUE(program.waitReady()) << "no window after a killed instance";
    ASSERT_TRUE(program.exit());
}

TEST(SingleInstance, AGuardOfAnotherUserCountsAsRunning) {
    ASSERT_TRUE(setFakePorts({L"USB Serial Device (COM3)"}));
    // Another user's instance made it: a security descriptor that grants this
    // user nothing stands in for that.
    SECURITY_ATTRIBUTES denying{sizeof(denying), nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:", SDDL_REVISION_1, &denying.lpSecurityDescriptor, nullptr));
    const std::unique_ptr<void, decltype(&CloseHandle)> guard(
        CreateMutexW(&denying, FALSE, L"Global\\Pellora_SingleInstance"), CloseHandle);
    LocalFree(denying.lpSecurityDescriptor);
    ASSERT_NE(guard.get(), nullptr);
    // What the program then meets: not "already exists" but "access denied".
    const std::unique_ptr<void, decltype(&CloseHandle)> mine(
        CreateMutexW(nullptr, TRUE, L"Global\\Pellora_SingleInstance"), CloseHandle);
    ASSERT_EQ(mine.get(), nullptr);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    TrayProgram second(L" COM3");
    expectRunningMessage(second,
                         L"Pellora is already running in another user's session: only "
                         L"one runs on this computer at a time.");
    EXPECT_TRUE(second.events().empty()) << second.eventsText();
}

}  // namespace
