// The exit statuses of pellora, which scripts and the service manager read.
#pragma once

enum ExitCode : int {
    kExitOk = 0,       // ended by a signal, or an option's work done
    kExitFailure = 1,  // did not start: keyboard refused, port not opened, no port to list
    kExitUsage = 2,    // wrong command line, or no port named
};
