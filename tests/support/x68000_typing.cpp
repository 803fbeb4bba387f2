#include "support/x68000_typing.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

X68000Typing::X68000Typing() : X68000Typing(PELLORA_X68000_KEY_CHARS) {}

X68000Typing::X68000Typing(const std::string& tablePath) {
    std::ifstream in(tablePath);
    if (!in) {
        throw std::runtime_error("cannot read " + tablePath);
    }
    // Rows "0x1E<TAB>1E61<TAB>1E41<TAB>1E01": a word is the scan code << 8 |
    // the character, "-" nothing; SHIFT's and CTRL's cells hold two words.
    std::size_t rows = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("0x", 0) != 0) {
            continue;  // comments, the locked sections and the column heads
        }
        std::istringstream cells(line);
        std::string cell;
        std::getline(cells, cell, '\t');
        const unsigned long code = std::stoul(cell, nullptr, 16);
        for (auto& entry : table.at(code)) {
            if (!std::getline(cells, cell, '\t')) {
                throw std::runtime_error(tablePath + ": short row " + line);
            }
            if (cell != "-") {
                entry = static_cast<std::uint8_t>(std::stoul(cell.substr(0, 4), nullptr, 16));
            }
        }
        ++rows;
    }
    if (rows != 0x7F) {
        throw std::runtime_error(tablePath + ": not the 127 keys' table");
    }
}

std::optional<std::uint8_t> X68000Typing::character(std::uint8_t code, Level level) const {
    return table.at(code).at(static_cast<std::size_t>(level));
}

void X68000Typing::receive(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        const bool make = (byte & 0x80) == 0;
        const std::uint8_t code = byte & 0x7F;
        if (code == 0x70) {
            shift = make;
        } else if (code == 0x71) {
            ctrl = make;
        } else if (make) {
            const auto c = character(code, ctrl    ? Level::Ctrl
                                           : shift ? Level::Shift
                                                   : Level::Plain);
            if (c && *c != 0) {
                text.push_back(static_cast<char>(*c));
            }
        }
    }
}
