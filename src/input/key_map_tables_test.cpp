// The manual pages (English and Japanese) and the user's guide's page on key
// maps (English and Japanese) print the default key map, the X68000's key
// names and (the manual pages) the layouts' keys as tables for users: held
// here to the program's own, so that a key moved in the code cannot leave the
// documentation behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "input/input_key_map.h"
#include "input/keymap_file.h"
#include "input/layout.h"
#include "keyboard/x68000_keys.h"

namespace {

using Table = std::vector<std::vector<std::string>>;

std::string slurp(const char* path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, at);) {
        parts.push_back(part);
    }
    return parts;
}

// The cells of the first tbl table after heading, rows of tab-separated cells
// (the two lines that open a table, its options and its format, skipped).
Table manTable(const std::string& page, const std::string& heading) {
    const std::size_t from = page.find(".TS\n", page.find(heading));
    const std::size_t to = page.find("\n.TE", from);
    std::vector<std::string> rows = split(page.substr(from, to - from), '\n');
    Table table;
    for (std::size_t r = 3; r < rows.size(); ++r) {
        table.push_back(split(rows[r], '\t'));
    }
    return table;
}

// The cells of the first Markdown table after heading ("| a | `b` |"), its
// head and rule skipped, backquotes taken off.
Table markdownTable(const std::string& readme, const std::string& heading) {
    std::istringstream in(readme.substr(readme.find(heading)));
    Table table;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("|", 0) != 0) {
            if (inTable) {
                break;
            }
            continue;
        }
        inTable = true;
        std::vector<std::string> cells;
        for (std::string cell : split(line.substr(1), '|')) {
            std::erase(cell, '`');
            cells.push_back(cell.substr(cell.find_first_not_of(' ') == std::string::npos
                                            ? cell.size()
                                            : cell.find_first_not_of(' '),
                                        cell.find_last_not_of(' ') + 1));
        }
        table.push_back(cells);
    }
    table.erase(table.begin(), table.begin() + std::min<std::size_t>(2, table.size()));
    return table;
}

// Cells read down each column in turn, every `width` of them one entry; empty
// cells (a short last column) left out.
std::vector<std::vector<std::string>> columnMajor(const Table& table, std::size_t width) {
    std::vector<std::vector<std::string>> entries;
    const std::size_t columns = table.empty() ? 0 : table[0].size() / width;
    for (std::size_t c = 0; c < columns; ++c) {
        for (const auto& row : table) {
            if ((c + 1) * width <= row.size() && !row[c * width].empty()) {
                entries.emplace_back(row.begin() + static_cast<std::ptrdiff_t>(c * width),
                                     row.begin() + static_cast<std::ptrdiff_t>((c + 1) * width));
            }
        }
    }
    return entries;
}

// The map's table as a key map file applied to an empty map must be the
// default map: every entry there, and none twice.
void expectTheDefaultMap(const Table& table, const std::string& where) {
    std::string lines;
    for (const auto& entry : columnMajor(table, 2)) {
        lines += entry[0] + " " + entry[1] + "\n";
    }
    InputKeyMap fromTable{};
    EXPECT_EQ(applyKeymap(lines, where, fromTable), std::nullopt);
    for (std::size_t key = 0; key < kInputKeyCodes; ++key) {
        EXPECT_EQ(fromTable[key], defaultInputKeyMap()[key]) << where << ": Linux key " << key;
    }
}

// The names' table, in key-code order down the columns, "NAME (key top)".
void expectTheX68000Names(const Table& table, const std::string& where) {
    std::vector<std::string> names;
    for (const auto& entry : columnMajor(table, 1)) {
        names.push_back(entry[0].substr(0, entry[0].find(' ')));
    }
    std::vector<std::string> wanted;
    for (const X68000Key& key : x68000Keys()) {
        wanted.push_back(key.name);
    }
    EXPECT_EQ(names, wanted) << where;
}

// What the X68000 gets for key at one level of the layout, as the page writes
// it: "SHIFT+" when SHIFT is down, then the key's name. The legend entry's key,
// or without one the key's place.
std::string sentAs(Layout layout, std::size_t key, bool userShift, bool legend) {
    const LegendKey& legends = legendKeys(layout)[key];
    TypedKey typed = userShift ? legends.shifted : legends.plain;
    if (!legend || typed.code == 0) {
        typed = {layoutKeyMap(layout)[key], ShiftNeed::AsHeld};
    }
    const bool shift =
        typed.shift == ShiftNeed::Added || (userShift && typed.shift == ShiftNeed::AsHeld);
    for (const X68000Key& x68000 : x68000Keys()) {
        if (x68000.code == typed.code) {
            return (shift ? "SHIFT+" : "") + std::string(x68000.name);
        }
    }
    return "?";
}

// The layout's table: each key whose legends send another key or SHIFT than
// its place, with what they send alone and with Shift; no other key.
void expectTheLayoutsKeys(const Table& table, Layout layout) {
    std::map<std::size_t, std::vector<std::string>> inPage;
    for (const auto& row : table) {
        InputKeyMap named{};  // the Linux key's name read as a key map file reads it
        ASSERT_EQ(row.size(), 4U);
        ASSERT_EQ(applyKeymap(row[0] + " ESC", "pellora.1", named), std::nullopt);
        inPage[static_cast<std::size_t>(std::ranges::find(named, 0x01) - named.begin())] = {row[2],
                                                                                            row[3]};
    }
    std::map<std::size_t, std::vector<std::string>> wanted;
    for (const KeyTop& top : keyTops(layout)) {
        const auto key = static_cast<std::size_t>(top.key);
        std::vector<std::string> sent = {sentAs(layout, key, false, true),
                                         sentAs(layout, key, true, true)};
        if (sent !=
            std::vector{sentAs(layout, key, false, false), sentAs(layout, key, true, false)}) {
            wanted[key] = sent;
        }
    }
    EXPECT_EQ(inPage, wanted) << layoutName(layout);
}

// The manual pages and the guide's key map pages, English and Japanese: man
// tables (.TS) or Markdown tables under their headings. Only the manual pages
// list each layout's keys.
TEST(KeyMapTables, TheManualPagesAndTheGuideShowTheProgramsMapNamesAndLayouts) {
    struct Document {
        const char* path;
        const char* mapHeading;
        const char* namesHeading;
        bool manPage;
    };
    for (const Document& doc : {
             Document{PELLORA_MAN_PAGE, ".SS The default key map", ".SS Key map files", true},
             Document{PELLORA_MAN_PAGE_JA, ".SS 既定のキーマップ", ".SS キーマップファイル", true},
             Document{PELLORA_KEYMAP_GUIDE, "## The default key map", "## Key map files", false},
             Document{PELLORA_KEYMAP_GUIDE_JA, "## 既定のキーマップ", "## キーマップファイル",
                      false},
         }) {
        const std::string text = slurp(doc.path);
        ASSERT_FALSE(text.empty()) << doc.path;
        const auto table = [&](const std::string& heading) {
            return doc.manPage ? manTable(text, heading) : markdownTable(text, heading);
        };
        expectTheDefaultMap(table(doc.mapHeading), doc.path);
        expectTheX68000Names(table(doc.namesHeading), doc.path);
        if (doc.manPage) {
            expectTheLayoutsKeys(manTable(text, ".RB ( \\-\\-layout=us ):"), Layout::Us);
            expectTheLayoutsKeys(manTable(text, ".RB ( \\-\\-layout=uk ):"), Layout::Uk);
        }
    }
}

}  // namespace
