// The program's message boxes: modal, an OK button, the application's title as
// caption, owned by the main window while it exists.
#pragma once

#include <string>

void showMessageBox(const std::wstring& text);
