#include "shell/port_choice.h"

#include <algorithm>
#include <utility>

namespace {

// The white space trimmed from command lines and descriptions.
constexpr std::string_view kBlanks = " \t\r\n\v\f";

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// ASCII only: port names are ASCII, and bytes of multi-byte UTF-8 characters
// must pass unchanged.
char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(asciiLower(x)) <
               static_cast<unsigned char>(asciiLower(y));
    });
}

}  // namespace

std::string portFromCommandLine(std::string_view text) {
    std::string wanted(trim(text));
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), asciiUpper);
    if (wanted.rfind("COM", 0) != 0) {
        return {};
    }
    return wanted;
}

CommandLine parseCommandLine(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = text.find_first_not_of(kBlanks, at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(text.find_first_of(kBlanks, start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    CommandLine line;
    std::string rest;
    bool mouseGiven = false;
    bool keyGiven = false;
    bool layoutGiven = false;
    const auto fail = [&line](CommandLine::Error error, std::string_view option) {
        if (line.error == CommandLine::Error::None) {
            line.error = error;
            line.errorOption = option;
        }
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (word.rfind("--", 0) != 0) {
            rest += rest.empty() ? "" : " ";
            rest += word;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name(word.substr(0, equals));
        std::string value;
        const bool takesValue =
            name == "--mouse-port" || name == "--switch-key" || name == "--layout";
        if (equals != std::string_view::npos) {
            value = word.substr(equals + 1);
        } else if (takesValue && i + 1 < words.size() && words[i + 1].rfind("--", 0) != 0) {
            value = words[++i];
        }
        if (name == "--share" && equals == std::string_view::npos) {
            if (line.share) {
                fail(CommandLine::Error::GivenTwice, name);
            }
            line.share = true;
        } else if (!takesValue) {
            fail(CommandLine::Error::UnknownOption, word);
        } else if (value.empty()) {
            fail(CommandLine::Error::NeedsValue, name);
        } else {
            bool& given = name == "--mouse-port"   ? mouseGiven
                          : name == "--switch-key" ? keyGiven
                                                   : layoutGiven;
            if (given) {
                fail(CommandLine::Error::GivenTwice, name);
            }
            given = true;
            if (name == "--mouse-port") {
                std::transform(value.begin(), value.end(), value.begin(), asciiUpper);
                line.mousePort = value;
            } else if (name == "--switch-key") {
                line.switchKey = value;
            } else {
                line.layout = value;
            }
        }
    }
    if (!line.share && (mouseGiven || keyGiven)) {
        fail(CommandLine::Error::WithoutShare, mouseGiven ? "--mouse-port" : "--switch-key");
    }
    line.port = portFromCommandLine(rest);
    return line;
}

bool isComPortName(std::string_view name) {
    return name.size() > 3 && name.substr(0, 3) == "COM" &&
           name.find_first_not_of("0123456789", 3) == std::string_view::npos;
}

std::optional<PortEntry> splitFriendlyName(std::string_view friendlyName) {
    const auto open = friendlyName.find("(COM");
    if (open == std::string_view::npos) {
        return std::nullopt;
    }
    const auto close = friendlyName.find(')', open);
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    PortEntry entry;
    entry.name = std::string(friendlyName.substr(open + 1, close - open - 1));
    // The text around the parenthesised part is joined as it stands, so inner
    // blanks on both sides of it both stay.
    std::string rest(friendlyName.substr(0, open));
    rest.append(friendlyName.substr(close + 1));
    entry.description = std::string(trim(rest));
    return entry;
}

std::string entryText(const PortEntry& entry) {
    if (entry.name.empty()) {
        return "(None)";
    }
    return entry.name + " - " + entry.description;
}

void sortPortList(std::vector<PortEntry>& entries) {
    // Stable, so entries whose texts compare equal keep the order they were found in.
    std::stable_sort(entries.begin(), entries.end(), [](const PortEntry& a, const PortEntry& b) {
        const bool aNone = a.name.empty();
        const bool bNone = b.name.empty();
        if (aNone != bNone) {
            return aNone;
        }
        return lessIgnoringCase(entryText(a), entryText(b));
    });
}

OkDecision decideOk(const std::string& selectedPort, const std::string& currentPort) {
    if (selectedPort == currentPort) {
        return {OkAction::Nothing, currentPort};
    }
    return {selectedPort.empty() ? OkAction::Stop : OkAction::Start, selectedPort};
}
