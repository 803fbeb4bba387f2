#include "input/keymap_file.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <cctype>
#include <fstream>
#include <set>
#include <string>

#include "keyboard/x68000_keys.h"
#include "support/temp_dir.h"

namespace {

std::uint8_t at(const InputKeyMap& map, int key) {
    return map[static_cast<std::size_t>(key)];
}

TEST(KeymapFile, ChangesTheKeysItNamesAndNoOthers) {
    InputKeyMap map = defaultInputKeyMap();
    const auto error = applyKeymap(
        "# F11 is コード入力 here\n"
        "F11 CODE\n"
        "\n"
        "  rightmeta\tKana   # trailing comment\r\n"
        "KEY_CapsLock none\n"
        "mute kigou",  // no newline at the end
        "keys.map", map);
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(at(map, KEY_F11), 0x5C);
    EXPECT_EQ(at(map, KEY_RIGHTMETA), 0x5A);
    EXPECT_EQ(at(map, KEY_CAPSLOCK), 0);
    EXPECT_EQ(at(map, KEY_MUTE), 0x52);
    InputKeyMap others = map;
    for (int key : {KEY_F11, KEY_RIGHTMETA, KEY_CAPSLOCK, KEY_MUTE}) {
        others[static_cast<std::size_t>(key)] = defaultInputKeyMap()[static_cast<std::size_t>(key)];
    }
    EXPECT_EQ(others, defaultInputKeyMap());
}

TEST(KeymapFile, ABadLineChangesNothingAndSaysWhereAndWhat) {
    const std::pair<std::string, std::string> cases[] = {
        {"F11 CODE\nF13X KANA\n",
         "k.map:2: \"F13X\" is not a Linux key name (its KEY_ name without KEY_, such as F11 or "
         "RIGHTMETA)"},
        {"F11 KAN\n",
         "k.map:1: \"KAN\" is not an X68000 key name (such as KANA, XF1 or OPT1) nor none"},
        {"\n# only the key\nF11\n",
         "k.map:3: a key and what it becomes were expected, as in \"F11 KANA\", not only \"F11\""},
        {"F11 KANA XF1\n", "k.map:1: \"XF1\" after \"KANA\": one key and what it becomes per line"},
        {"F11 KANA\nf11 CODE\n", "k.map:2: \"f11\" is given a key on line 1 already"},
        {"F11 " + std::string(50, 'X') + "\n",
         "k.map:1: \"" + std::string(40, 'X') +
             "...\" is not an X68000 key name (such as KANA, XF1 or OPT1) nor none"},
    };
    for (const auto& [text, expected] : cases) {
        InputKeyMap map = defaultInputKeyMap();
        const auto error = applyKeymap(text, "k.map", map);
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(*error, expected);
        EXPECT_EQ(map, defaultInputKeyMap()) << text;
    }
}

TEST(KeymapFile, ReadsAFileAndSaysWhyOneCannotBeRead) {
    TempDir dir;
    const std::string path = (dir / "pc.map").string();
    std::ofstream(path) << "PAUSE code\n";
    InputKeyMap map = defaultInputKeyMap();
    ASSERT_FALSE(loadKeymapFile(path, map));
    EXPECT_EQ(at(map, KEY_PAUSE), 0x5C);

    const std::string missing = (dir / "none.map").string();
    EXPECT_EQ(loadKeymapFile(missing, map),
              missing + ": cannot read it: No such file or directory");
    EXPECT_EQ(loadKeymapFile(dir.path().string(), map),
              dir.path().string() + ": cannot read it: Is a directory");
    EXPECT_EQ(at(map, KEY_PAUSE), 0x5C);
}

TEST(X68000Keys, EveryNameIsFoundInAnyCaseAndEveryCodeIsNamedOnce) {
    std::set<std::uint8_t> codes;
    for (const X68000Key& key : x68000Keys()) {
        EXPECT_TRUE(codes.insert(key.code).second) << key.name;
        std::string lower = key.name;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(x68000KeyCode(lower), key.code) << key.name;
    }
    // Every X68000 key code: 0x01-0x6C, then SHIFT, CTRL, OPT.1, OPT.2 and
    // the Compact keyboard's NUM.
    EXPECT_EQ(codes.size(), 0x6Cu + 5);
    EXPECT_EQ(*codes.rbegin(), 0x74);
    EXPECT_EQ(x68000KeyCode("num"), 0x74);
    EXPECT_FALSE(x68000KeyCode("OPT3"));
}

}  // namespace
