// The exit statuses of pellora, which scripts and the service manager read.
#pragma once

enum ExitCode : int {
    kExitOk = 0,            // ended by a signal, or an option's work done
    kExitFailure = 1,       // did not start: already running, no keyboard, port not opened
    kExitUsage = 2,         // wrong command line, or no port named
    kExitKeyboardLost = 3,  // the keyboard went away while relaying
    kExitPortLost = 4,      // the serial device went away while relaying
};
