// One run of the tray program under test, seen from outside: started with a
// command line, its port-selection window and list found, its recorded events
// (see recorder/record_log.h) read back, and its tray menu driven with the
// mouse and keyboard through Wine's system tray.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "relay/relay_control.h"

constexpr const wchar_t* kDialogCaption = L"Select X68000 Z Keyboard virtual com port";
constexpr const wchar_t* kJapaneseDialogCaption = L"X68000 Z キーボードの仮想 COM ポートを選択";
constexpr const wchar_t* kDialogClass = L"#32770";

// The window's caption in the programs a test starts: Japanese when the test
// runs in a Japanese user interface, which they inherit, English otherwise.
std::wstring dialogCaption();

class TrayProgram {
public:
    // Starts exe (the test variant unless told otherwise) with commandTail.
    // It first makes sure of Explorer's taskbar. Wine ends Explorer a second
    // after the last program has left the desktop (between two tests, say),
    // and the next program to need the desktop starts it again; a program that
    // adds its icon before the new taskbar is there has none. So this joins
    // the desktop, which also keeps Explorer for the rest of the test, and
    // waits for the taskbar. With no other TrayProgram of this test alive, it
    // then waits until Wine's tray holds no icon: Wine may still be taking
    // down the icon of a program that just ended (or was killed), and an icon
    // added meanwhile can be lost with it. A tray that does not empty, or no
    // taskbar, fails the test.
    explicit TrayProgram(const std::wstring& commandTail,
                         const std::map<std::wstring, std::wstring>& environment = {},
                         const std::wstring& exe = variantExe());
    ~TrayProgram();

    static std::wstring variantExe();
    static std::wstring realExe();

    ChildProcess& process() { return *child; }

    // Waits for the port-selection window and for the end of its
    // initialisation, including whatever the program posted to itself then
    // and the end of the keyboard's opening. False when any does not come.
    bool waitReady();
    // Returns once the window has finished its initialisation and handled
    // everything posted to it so far (see recorder/probe_ping.h).
    bool settle();
    HWND dialog() const { return dialogWindow; }
    HWND portList() const;
    bool visible() const;

    // The recorded events, each without its trailing newline ("ping" answers included).
    std::vector<std::string> events() const;
    // All events, one a line, for failure messages.
    std::string eventsText() const;
    // Waits until an event equal to `event` has been recorded.
    bool waitEvent(const std::string& event, DWORD timeoutMs = 10000) const;
    // Whether an event that begins with prefix has been recorded.
    bool recorded(const std::string& prefix) const;

    // Makes the program's relay report this status (see
    // recorder/status_script.h) and returns once the window has taken it.
    bool reportStatus(KeyboardState keyboard, PortState port, DWORD portError = 0);

    // Right-clicks the tray icon and waits until the menu is open.
    bool openTrayMenu();
    // With the menu open: picks its first item ("Select COM Port") or its last ("Exit").
    void chooseFirstMenuItem();
    void chooseLastMenuItem();

    // Ends the program as Exit in the tray menu does, through the message the
    // menu posts, and waits for the end; false when it does not come.
    bool exit();

    // Selects the list entry with exactly this text; false when there is none.
    bool selectEntry(const std::wstring& text);
    // Clicks a button of the window (IDOK, IDCANCEL) as the user would; returns
    // once the window has handled the click.
    void clickButton(int id);

    // A message box of this program, with its caption and message, or nullptr.
    HWND findMessageBox(const std::wstring& caption) const;
    static std::wstring messageText(HWND box);

private:
    std::wstring log;
    std::unique_ptr<ChildProcess> child;
    HWND dialogWindow = nullptr;
    int pings = 0;
};
