// WinApp: the base of the process's one application object, the small part of
// an application framework this program needs.
//
// The derived class is instantiated once, as a static object; constructing it
// registers it. wWinMain (win_main.cpp) fills in the instance, title and command
// line and calls InitInstance once on the main thread, which is also the window
// thread. Whatever InitInstance returns, the process then ends: a program that
// wants a window runs it modally inside InitInstance.
#pragma once

#include <windows.h>

#include <string>

class Dialog;

class WinApp {
public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    // The program's start-up. Returning FALSE is the normal end of a program
    // whose main window is a modal dialog.
    virtual BOOL InitInstance();

    // The executable's file name without its extension: the caption of message
    // boxes. Renaming the executable renames the program.
    const std::wstring& title() const { return appTitle; }
    // The command line after the program's name, as Windows passed it.
    const std::wstring& commandLine() const { return cmdLine; }
    HINSTANCE instance() const { return hInstance; }

    // The main window (the owner of message boxes); not owned.
    Dialog* mainWindow() const { return mainWnd; }
    void setMainWindow(Dialog* window) { mainWnd = window; }

    // The registered application object, or nullptr before its construction.
    static WinApp* current();

    // Called by wWinMain only.
    int run(HINSTANCE instance, const wchar_t* commandLine);

private:
    HINSTANCE hInstance = nullptr;
    std::wstring appTitle;
    std::wstring cmdLine;
    Dialog* mainWnd = nullptr;
};
