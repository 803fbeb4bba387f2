// The shell's decisions about ports, free of any platform: which port a command
// line asks for, how a device's friendly name becomes a list entry, the order of
// the port list, and what pressing OK does to the relay. Both front-ends (the
// Windows tray program and the Linux command) use these.
//
// Strings are UTF-8; the Windows shell converts at its boundary.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One entry of the port list. The "(None)" entry has an empty name and description.
struct PortEntry {
    std::string name;         // what start() is given: COM3, ttyUSB0
    std::string description;  // what the user reads beside it
};

// The port wanted by a command line: the text trimmed of white space and
// upper-cased when it then begins with "COM", otherwise empty ("no port").
std::string portFromCommandLine(std::string_view text);

// What the Windows program's command line asks for, as the Linux command
// takes the same options:
//     Pellora.exe COM3 --share --mouse-port=COM4 --switch-key=NAME --layout=us
// Words that begin with "--" are options (a value after "=" or as the next
// word); the other words, joined by one space, are the port as
// portFromCommandLine() takes it, so that "COM3" alone is what it always was.
struct CommandLine {
    std::string port;       // as portFromCommandLine() gives it
    bool share = false;     // --share: this computer's keyboard and mouse too
    std::string mousePort;  // --mouse-port=PORT2, upper-cased; "" for none
    std::string switchKey;  // --switch-key=NAME as given; "" for the default
    std::string layout;     // --layout=NAME as given; "" for the default
    // What is wrong with the options, the first thing found, and the option
    // it is about (errorOption: its name, or the whole word of an unknown
    // one). The Windows program says it in the user's language.
    enum class Error {
        None,
        UnknownOption,
        NeedsValue,  // --mouse-port, --switch-key or --layout without a value
        GivenTwice,
        WithoutShare,  // --mouse-port or --switch-key without --share
    };
    Error error = Error::None;
    std::string errorOption;
};
CommandLine parseCommandLine(std::string_view text);

// Whether a wanted port is a COM port's name as Windows gives them: COM and a
// number (COM3, COM12), so that it is worth waiting for while it is not there.
bool isComPortName(std::string_view name);

// "USB Serial Device (COM3)" -> {COM3, USB Serial Device}; nothing when the name
// has no "(COM" (case-sensitive) or no ")" after it.
std::optional<PortEntry> splitFriendlyName(std::string_view friendlyName);

// The text a list entry shows: "(None)" for the empty entry, else "NAME - DESCRIPTION".
std::string entryText(const PortEntry& entry);

// Puts the list in display order: the "(None)" entry first, then the rest by
// case-insensitive comparison of entryText (COM10 before COM2).
void sortPortList(std::vector<PortEntry>& entries);

// What OK does with the selected port ("" for "(None)" or no selection).
enum class OkAction { Nothing, Start, Stop };
struct OkDecision {
    OkAction action = OkAction::Nothing;
    std::string currentPort;  // the current port after OK
};
OkDecision decideOk(const std::string& selectedPort, const std::string& currentPort);
