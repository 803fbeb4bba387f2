// The X68000's end of the serial line (a pty master) as the fault tests read it:
// without waiting, and up to the very last byte the relay wrote.
#pragma once

#include <cstdint>
#include <vector>

#include "support/pty_pair.h"

// Appends to out whatever the master can read right now; never waits.
void readReady(PtyPair& pty, std::vector<std::uint8_t>& out);

// Every byte written to the line that the host has not read yet. Call it once
// the relay can write no more (stopped, or its keyboard gone and the port
// closed): a marker byte written through the slave lands behind all of the
// relay's bytes, so reading up to it proves there is nothing more, without
// waiting for a quiet time. The marker is 0x00, which the relay never sends.
std::vector<std::uint8_t> restOfLine(PtyPair& pty);
