#include "tray_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/window_messages.h"
#include "desktop.h"
#include "probe_ping.h"
#include "status_script.h"
#include "test_paths.h"

namespace {

// TrayPrograms alive in this test; the tests run on one thread.
int liveTrayPrograms = 0;

bool waitForEmptyTray() {
    return waitUntil([] { return firstTrayIconCentre().x < 0; });
}

}  // namespace

std::wstring dialogCaption() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? kJapaneseDialogCaption
                                                                      : kDialogCaption;
}

TrayProgram::TrayProgram(const std::wstring& commandTail,
                         const std::map<std::wstring, std::wstring>& environment,
                         const std::wstring& exe)
    : log(tempFile(L"events")) {
    GetDesktopWindow();  // joins the desktop, starting Explorer if need be
    if (!waitUntil([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; })) {
        ADD_FAILURE() << "Explorer made no taskbar to hold the tray icon";
    }
    if (liveTrayPrograms++ == 0 && !waitForEmptyTray()) {
        ADD_FAILURE() << "the tray kept the icon of a program that had ended";
    }
    auto env = environment;
    env[L"PELLORA_TEST_LOG"] = log;
    child = std::make_unique<ChildProcess>(exe, commandTail, env);
}

TrayProgram::~TrayProgram() {
    child.reset();  // ends a program the test left running
    DeleteFileW(log.c_str());
    --liveTrayPrograms;
}

std::wstring TrayProgram::variantExe() {
    return windowsPath(PELLORA_VARIANT_EXE);
}

std::wstring TrayProgram::realExe() {
    return windowsPath(PELLORA_EXE);
}

bool TrayProgram::waitReady() {
    const bool found = waitUntil([&] {
        dialogWindow = findWindow(child->id(), kDialogClass, dialogCaption());
        return dialogWindow != nullptr;
    });
    // The keyboard is opened on a thread of its own, and the window goes on
    // (starting the relay, say) once it hears back.
    return found && waitUntil([&] { return recorded("keyboard opened "); }) && settle();
}

bool TrayProgram::settle() {
    // Two pings: the first may be posted while the window still initialises,
    // ahead of what it posts to itself then; the second is posted after the
    // first came through the message loop, so behind all of that.
    for (int i = 0; i < 2; ++i) {
        const std::string ping = "ping " + std::to_string(++pings) + " ";
        if (!PostMessageW(dialogWindow, probePingMessage(), static_cast<WPARAM>(pings), 0) ||
            !waitUntil([&] { return recorded(ping); })) {
            return false;
        }
    }
    return true;
}

bool TrayProgram::recorded(const std::string& prefix) const {
    const auto all = events();
    return std::any_of(all.begin(), all.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

bool TrayProgram::reportStatus(KeyboardState keyboard, PortState port, DWORD portError) {
    const auto keyboardWord = static_cast<WORD>(keyboard);
    const auto portWord = static_cast<WORD>(port);
    return PostMessageW(dialogWindow, statusScriptMessage(), MAKEWPARAM(keyboardWord, 0),
                        MAKELPARAM(portWord, portError)) &&
           settle();
}

HWND TrayProgram::portList() const {
    return GetDlgItem(dialogWindow, 1000);
}

bool TrayProgram::visible() const {
    return IsWindowVisible(dialogWindow) != FALSE;
}

std::vector<std::string> TrayProgram::events() const {
    std::vector<std::string> lines;
    std::ifstream in(std::filesystem::path(log), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string TrayProgram::eventsText() const {
    std::string text = "recorded events:\n";
    for (const auto& e : events()) {
        text += "  " + e + "\n";
    }
    return text;
}

bool TrayProgram::waitEvent(const std::string& event, DWORD timeoutMs) const {
    return waitUntil(
        [&] {
            const auto all = events();
            return std::find(all.begin(), all.end(), event) != all.end();
        },
        timeoutMs);
}

bool TrayProgram::openTrayMenu() {
    const auto before = events().size();
    clickAt(firstTrayIconCentre(), true);
    // The menu has opened once the program has filled it (WM_INITMENUPOPUP)
    // and its window is on the screen.
    return waitUntil([&] {
        const auto all = events();
        bool menuEvent = false;
        for (std::size_t i = before; i < all.size(); ++i) {
            menuEvent = menuEvent || all[i].rfind("menu ", 0) == 0;
        }
        if (!menuEvent) {
            return false;
        }
        for (HWND menu : topWindows(child->id(), L"#32768")) {
            if (IsWindowVisible(menu)) {
                return true;
            }
        }
        return false;
    });
}

void TrayProgram::chooseFirstMenuItem() {
    pressKey(VK_DOWN);
    pressKey(VK_RETURN);
}

void TrayProgram::chooseLastMenuItem() {
    pressKey(VK_UP);
    pressKey(VK_RETURN);
}

bool TrayProgram::exit() {
    // The dialog of this run, or of one that waitReady() was not asked for.
    const HWND window = dialogWindow != nullptr
                            ? dialogWindow
                            : findWindow(child->id(), kDialogClass, dialogCaption());
    return PostMessageW(window, WM_EXITPELLORA, 0, 0) && child->waitExit(10000);
}

bool TrayProgram::selectEntry(const std::wstring& text) {
    const auto entries = comboEntries(portList());
    const auto it = std::find(entries.begin(), entries.end(), text);
    if (it == entries.end()) {
        return false;
    }
    SendMessageW(portList(), CB_SETCURSEL, static_cast<WPARAM>(it - entries.begin()), 0);
    return comboSelectionText(portList()) == text;
}

void TrayProgram::clickButton(int id) {
    // BM_CLICK presses and releases the button in its own thread, which then
    // sends BN_CLICKED to the window like a mouse click does.
    SendMessageW(GetDlgItem(dialogWindow, id), BM_CLICK, 0, 0);
}

HWND TrayProgram::findMessageBox(const std::wstring& caption) const {
    return findWindow(child->id(), kDialogClass, caption);
}

std::wstring TrayProgram::messageText(HWND box) {
    // The message is the box's one static control with text (the icon is another).
    for (const auto& text : childTexts(box, L"Static")) {
        if (!text.empty()) {
            return text;
        }
    }
    return L"";
}
