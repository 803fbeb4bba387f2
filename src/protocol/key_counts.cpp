#include "protocol/key_counts.h"

#include "protocol/scan_code.h"

std::uint8_t KeyCounts::apply(std::size_t source, std::uint8_t scanCode) {
    const std::uint8_t code = keyCodeOf(scanCode);
    if (code == 0) {
        return scanCode;
    }
    if (bySource.size() <= source) {
        bySource.resize(source + 1);
    }
    std::uint8_t& mine = bySource[source][code];
    if (isBreak(scanCode)) {
        if (mine == 0) {
            return 0;  // never counted down
        }
        --mine;
        return --total[code] == 0 ? scanCode : 0;
    }
    if (mine == 0xFF) {
        return 0;  // no keyboard has that many keys on one X68000 key
    }
    ++mine;
    return ++total[code] == 1 ? scanCode : 0;
}

std::vector<std::uint8_t> KeyCounts::dropSource(std::size_t source) {
    std::vector<std::uint8_t> breaks;
    if (source >= bySource.size()) {
        return breaks;
    }
    for (std::size_t code = 1; code < 128; ++code) {
        std::uint8_t& mine = bySource[source][code];
        if (mine == 0) {
            continue;
        }
        total[code] = static_cast<std::uint16_t>(total[code] - mine);
        mine = 0;
        if (total[code] == 0) {
            breaks.push_back(breakOf(static_cast<std::uint8_t>(code)));
        }
    }
    return breaks;
}

bool KeyCounts::holds(std::size_t source, std::uint8_t code) const {
    return source < bySource.size() && bySource[source][keyCodeOf(code)] != 0;
}
