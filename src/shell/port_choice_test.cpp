#include "shell/port_choice.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

TEST(PortFromCommandLine, OnlyAComPortNameAloneInAnyCaseIsAPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", "COM3"},
        {"com3", "COM3"},
        {"  \tCoM12 \r\n", "COM12"},
        {"COM3 x", "COM3 X"},  // kept whole, so no listed port matches
        {"COM", "COM"},        // the same: matches nothing
        {"", ""},
        {"   ", ""},
        {"\"COM3\"", ""},
        {"/COM3", ""},
        {"x COM3", ""},
        {"com\xc3\xa9", "COM\xc3\xa9"},  // non-ASCII bytes pass unchanged
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(portFromCommandLine(text), port) << "[" << text << "]";
    }
}

TEST(PortFromCommandLine, OnlyComAndANumberIsAPortWorthWaitingFor) {
    for (const char* name : {"COM1", "COM42", "COM256"}) {
        EXPECT_TRUE(isComPortName(name)) << name;
    }
    for (const char* name : {"COM", "COM3 X", "COM3A", "COMX", "LPT1", "com3", ""}) {
        EXPECT_FALSE(isComPortName(name)) << name;
    }
}

TEST(ParseCommandLine, TheLinuxCommandsOptionsAroundThePortAndWhatIsWrongWithThem) {
    const CommandLine all =
        parseCommandLine("  com3 --share --mouse-port=com4 --switch-key pause --layout=us ");
    EXPECT_EQ(all.port, "COM3");
    EXPECT_TRUE(all.share);
    EXPECT_EQ(all.mousePort, "COM4");
    EXPECT_EQ(all.switchKey, "pause");
    EXPECT_EQ(all.layout, "us");
    EXPECT_EQ(all.error, CommandLine::Error::None);
    // The words that are no options make the port as they always did.
    EXPECT_EQ(parseCommandLine("--share COM3 x").port, "COM3 X");
    EXPECT_EQ(parseCommandLine("COM3").share, false);
    using Error = CommandLine::Error;
    const std::tuple<const char*, Error, const char*> wrong[] = {
        {"COM3 --mouse-port=COM4", Error::WithoutShare, "--mouse-port"},
        {"COM3 --switch-key=PAUSE", Error::WithoutShare, "--switch-key"},
        {"COM3 --share --mouse-port", Error::NeedsValue, "--mouse-port"},
        {"COM3 --share --share", Error::GivenTwice, "--share"},
        {"COM3 --share --layout=us --layout=uk", Error::GivenTwice, "--layout"},
        {"COM3 --keyboard=x", Error::UnknownOption, "--keyboard=x"},
        // The first thing wrong is the one told.
        {"COM3 --x --share --share", Error::UnknownOption, "--x"},
    };
    for (const auto& [text, error, option] : wrong) {
        const CommandLine line = parseCommandLine(text);
        EXPECT_EQ(line.error, error) << text;
        EXPECT_EQ(line.errorOption, option) << text;
    }
}

TEST(SplitFriendlyName, TakesThePortOutOfTheFirstComParentheses) {
    struct Case {
        const char *friendlyName, *name, *description, *text;
    };
    const Case cases[] = {
        {"USB Serial Device (COM3)", "COM3", "USB Serial Device", "COM3 - USB Serial Device"},
        {"Modem (COM12) internal", "COM12", "Modem  internal", "COM12 - Modem  internal"},
        {"(COM5)", "COM5", "", "COM5 - "},
        {"Port (COM7, shared)", "COM7, shared", "Port", "COM7, shared - Port"},
        {"Dual (COM4) (COM5) x", "COM4", "Dual  (COM5) x", "COM4 - Dual  (COM5) x"},
        {"Odd ) name (COM6)", "COM6", "Odd ) name", "COM6 - Odd ) name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.friendlyName);
        const auto entry = splitFriendlyName(c.friendlyName);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->name, c.name);
        EXPECT_EQ(entry->description, c.description);
        EXPECT_EQ(entryText(*entry), c.text);
    }
    for (const char* unlisted : {"Printer Port (LPT1)", "Device (COM9", "Device (com4)", ""}) {
        EXPECT_FALSE(splitFriendlyName(unlisted).has_value()) << unlisted;
    }
}

TEST(SortPortList, NoneFirstThenTextOrderIgnoringCaseKeepingTies) {
    std::vector<PortEntry> list = {{"COM2", "b"}, {"com10", "x"}, {"COM10", "X"},
                                   {"", ""},      {"!odd", "y"},  {"COM1", "a"}};
    sortPortList(list);
    std::vector<std::string> texts;
    for (const auto& e : list) {
        texts.push_back(entryText(e));
    }
    // '!' sorts before '(' but "(None)" still comes first; com10/COM10 tie and keep their order.
    EXPECT_EQ(texts, (std::vector<std::string>{"(None)", "!odd - y", "COM1 - a", "com10 - x",
                                               "COM10 - X", "COM2 - b"}));
}

TEST(DecideOk, TheRuleForEachSelection) {
    struct Case {
        const char *selected, *current;
        OkAction action;
    };
    const Case cases[] = {
        {"COM3", "COM3", OkAction::Nothing},  // same port: no restart, even if it failed
        {"COM4", "COM3", OkAction::Start},    // switch
        {"COM3", "", OkAction::Start},
        {"", "COM3", OkAction::Stop},       // "(None)" while running
        {"", "", OkAction::Nothing},        // "(None)" while idle
        {"com3", "COM3", OkAction::Start},  // exact comparison
    };
    for (const Case& c : cases) {
        const OkDecision d = decideOk(c.selected, c.current);
        EXPECT_EQ(d.action, c.action) << c.selected << " over " << c.current;
        EXPECT_EQ(d.currentPort, c.action == OkAction::Nothing ? c.current : c.selected);
    }
}

}  // namespace
