// Watches the window thread of the test variant from inside (hooks on that
// thread) and records what a test cannot read from another process: the items
// of each menu as it opens ("menu 1:Select COM Port|-|2:Exit"), each time the
// window is put on the screen ("shown"), the end of the keyboard's opening
// ("keyboard opened") and the pings of probe_ping.h ("ping N") as the window's
// message loop takes them. Hands the status scripts of status_script.h to
// onStatus, and its taps of the shared keyboard's switch key to onTaps, as
// the loop takes them.
#pragma once

#include <windows.h>

#include <functional>

void installWindowProbe(std::function<void(WPARAM, LPARAM)> onStatus,
                        std::function<void(int)> onTaps);
