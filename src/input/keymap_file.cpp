#include "input/keymap_file.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "input/key_names.h"
#include "io/ascii_case.h"
#include "keyboard/x68000_keys.h"

namespace {

// Read-only, and kept from programs started later: O_CLOEXEC where there is
// one, the C runtime's O_NOINHERIT on Windows (binary, as the file is taken
// byte for byte).
#ifdef O_CLOEXEC
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
#else
constexpr int kOpenFlags = O_RDONLY | O_NOINHERIT | O_BINARY;
#endif

// Longer than any key map a person writes; a longer file is not one (and
// /dev/zero is never read to the end).
constexpr std::size_t kMaxFileBytes = 1 << 20;
// Names quoted in an error are cut to this many bytes.
constexpr std::size_t kMaxQuotedName = 40;

std::string quoted(std::string_view name) {
    if (name.size() > kMaxQuotedName) {
        return "\"" + std::string(name.substr(0, kMaxQuotedName)) + "...\"";
    }
    return "\"" + std::string(name) + "\"";
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = asciiUpper(c);
    }
    return out;
}

// The Linux key called name, without KEY_ or with it, in any case; -1 when
// there is none.
int linuxKeyCode(std::string_view name) {
    std::string key = upper(name);
    if (key.rfind("KEY_", 0) != 0) {
        key = "KEY_" + key;
    }
    const int code = keyCodeNamed(key.c_str());
    return code >= 0 && static_cast<std::size_t>(code) < kInputKeyCodes ? code : -1;
}

// The words of one line, its comment cut off.
std::vector<std::string_view> wordsOf(std::string_view line) {
    line = line.substr(0, line.find('#'));
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) {
            ++at;
        }
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r') {
            ++at;
        }
        if (at > start) {
            words.push_back(line.substr(start, at - start));
        }
    }
    return words;
}

}  // namespace

std::optional<std::string> applyKeymap(std::string_view text, const std::string& fileName,
                                       InputKeyMap& map) {
    InputKeyMap changed = map;
    std::array<int, kInputKeyCodes> namedOnLine{};  // 0: not named yet
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        const std::vector<std::string_view> words = wordsOf(line);
        if (words.empty()) {
            continue;
        }
        const std::string where = fileName + ":" + std::to_string(lineNumber) + ": ";
        if (words.size() == 1) {
            return where + "a key and what it becomes were expected, as in \"F11 KANA\", not " +
                   "only " + quoted(words[0]);
        }
        if (words.size() > 2) {
            return where + quoted(words[2]) + " after " + quoted(words[1]) +
                   ": one key and what it becomes per line";
        }
        const int key = linuxKeyCode(words[0]);
        if (key < 0) {
            return where + quoted(words[0]) +
                   " is not a Linux key name (its KEY_ name without KEY_, such as F11 or "
                   "RIGHTMETA)";
        }
        std::uint8_t code = 0;
        if (upper(words[1]) != "NONE") {
            const std::optional<std::uint8_t> x68000 = x68000KeyCode(words[1]);
            if (!x68000) {
                return where + quoted(words[1]) +
                       " is not an X68000 key name (such as KANA, XF1 or OPT1) nor none";
            }
            code = *x68000;
        }
        if (const int earlier = namedOnLine[static_cast<std::size_t>(key)]; earlier != 0) {
            return where + quoted(words[0]) + " is given a key on line " + std::to_string(earlier) +
                   " already";
        }
        namedOnLine[static_cast<std::size_t>(key)] = lineNumber;
        changed[static_cast<std::size_t>(key)] = code;
    }
    map = changed;
    return std::nullopt;
}

std::optional<std::string> loadKeymapFile(const std::string& path, InputKeyMap& map) {
    const int fd = ::open(path.c_str(), kOpenFlags);
    if (fd < 0) {
        return path + ": cannot read it: " + std::strerror(errno);
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;  // a directory: EISDIR
            ::close(fd);
            return path + ": cannot read it: " + std::strerror(error);
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileBytes) {
            ::close(fd);
            return path + ": too long for a key map (more than 1 MiB)";
        }
    }
    ::close(fd);
    return applyKeymap(text, path, map);
}

std::string keyCalled(unsigned linuxKey) {
    // The keys a switch is likely to be: the ones no program of the desktop
    // uses much, by the words on their key tops.
    static const std::pair<unsigned, const char*> kNames[] = {
        {KEY_SCROLLLOCK, "Scroll Lock"}, {KEY_PAUSE, "Pause"},          {KEY_SYSRQ, "Print Screen"},
        {KEY_NUMLOCK, "Num Lock"},       {KEY_RIGHTCTRL, "Right Ctrl"}, {KEY_RIGHTALT, "Right Alt"},
        {KEY_RIGHTMETA, "Right Super"},  {KEY_COMPOSE, "Menu"},         {KEY_CAPSLOCK, "Caps Lock"},
        {KEY_INSERT, "Insert"},
    };
    for (const auto& [code, name] : kNames) {
        if (code == linuxKey) {
            return name;
        }
    }
    const char* name = keyCodeName(linuxKey);
    return name == nullptr ? "" : std::string(name).substr(4);  // without KEY_
}

std::optional<unsigned> linuxKeyNamed(std::string_view name) {
    const int code = linuxKeyCode(name);
    if (code < 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(code);
}
