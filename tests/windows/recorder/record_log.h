// The test variant's record of what the window did: one line per event, appended
// to the file named by PELLORA_TEST_LOG (no file: nothing is recorded). Each
// line is closed and flushed at once, so a test can read the file while the
// program runs, and what was written survives a killed process.
//
// Every line ends with " tray=1" or " tray=0": whether the program's tray icon
// exists at that moment, which is how a test sees the order of the icon's
// removal against the relay calls.
#pragma once

#include <windows.h>

#include <string>

// The port-selection window of this process, or nullptr before it exists.
HWND findMainDialog();

void recordEvent(const std::string& event);
