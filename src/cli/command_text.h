// The texts pellora prints about itself: help, version, usage, and the port list.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "shell/port_choice.h"

// Printed on stderr by --list (and in the usage) when no serial port is present.
inline constexpr const char* kNoSerialPort = "No serial port found.";

void writeHelp(std::ostream& out);

// "pellora VERSION".
void writeVersion(std::ostream& out);

// The ports one per line, "NAME - DESCRIPTION", in the order given.
void writePortList(std::ostream& out, const std::vector<PortEntry>& ports);

// For a command line that names no port or is wrong: the error (when there is
// one), the usage line, then the ports present or kNoSerialPort.
void writeUsage(std::ostream& out, const std::string& error, const std::vector<PortEntry>& ports);
