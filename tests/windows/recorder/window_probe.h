// Watches the window thread of the test variant from inside (hooks on that
// thread) and records what a test cannot read from another process: the items
// of each menu as it opens ("menu 1:Select COM Port|-|2:Exit"), and the pings
// of probe_ping.h as the window's message loop takes them ("ping N").
#pragma once

void installWindowProbe();
void removeWindowProbe();
