// The ping a test posts to the test variant's window, with a number in wParam;
// the window probe records "ping N" when the window thread takes it from its
// queue. Posted messages are taken in order, and only by a running message
// loop, so once "ping N" is recorded the window has finished initialising and
// has handled everything posted to it before the ping, and the events the
// display had sent the program by then (the probe lets the thread take them
// first).
#pragma once

#include <windows.h>

inline UINT probePingMessage() {
    return RegisterWindowMessageW(L"PelloraTestProbePing");
}
