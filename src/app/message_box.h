// The program's message boxes: modal, an OK button, the application's title as
// caption, brought to the foreground; owned by the main window while it is
// shown, by nobody otherwise (so that the box has a taskbar button of its own).
#pragma once

#include <string>

void showMessageBox(const std::wstring& text);
