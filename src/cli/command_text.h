// The texts pellora prints about itself: help, version, usage, and the port list,
// in the user's language (cli/translation.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "shell/port_choice.h"

// Printed on stderr by --list (and in the usage) when no serial port is
// present: "No serial port found.", in the user's language.
const char* noSerialPort();

void writeHelp(std::ostream& out);

// "pellora VERSION".
void writeVersion(std::ostream& out);

// text with every control character (C0, DEL, C1), every character that
// reorders or breaks the line (the bidirectional controls U+202A-U+202E and
// U+2066-U+2069, the marks U+200E, U+200F and U+061C, U+2028 and U+2029) and
// every byte that is not part of well-formed UTF-8 replaced by '?': names and
// descriptions come from devices, and a terminal must not take an escape
// sequence, or text shown backwards, from a USB adapter's product string.
std::string printable(const std::string& text);

// The ports one per line, "NAME - DESCRIPTION", in the order given, printable.
void writePortList(std::ostream& out, const std::vector<PortEntry>& ports);

// For a command line that names no port or is wrong: the error (when there is
// one), the usage line, then the ports present or noSerialPort().
void writeUsage(std::ostream& out, const std::string& error, const std::vector<PortEntry>& ports);
