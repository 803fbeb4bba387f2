#include "cli/options.h"

#include <gtest/gtest.h>

namespace {

using Action = Options::Action;

TEST(ParseOptions, WhatEachCommandLineAsksFor) {
    struct Case {
        std::vector<std::string> args;
        Action action;
        std::string portOrError;
    };
    const Case cases[] = {
        {{}, Action::Usage, ""},
        {{"ttyUSB0"}, Action::Run, "ttyUSB0"},
        {{"/dev/ttyUSB0"}, Action::Run, "/dev/ttyUSB0"},
        {{"--list"}, Action::List, ""},
        {{"-l"}, Action::List, ""},
        {{"-V"}, Action::Version, ""},
        {{"--help"}, Action::Help, ""},
        {{"ttyUSB0", "--list", "-V", "-h"}, Action::Help, ""},  // help, version, list, port
        {{"ttyUSB0", "--list", "--version"}, Action::Version, ""},
        {{"ttyUSB0", "--list"}, Action::List, ""},
        {{"--", "-odd"}, Action::Run, "-odd"},
        {{"-"}, Action::Run, "-"},
        {{"-lh"}, Action::Help, ""},    // combined
        {{"--lis"}, Action::List, ""},  // abbreviated
        {{"--vers", "ttyUSB0"}, Action::Version, ""},
        {{"--", "-l", "ttyUSB0"}, Action::Usage, "only one PORT may be given"},
        {{"--lists"}, Action::Usage, "unknown option '--lists'"},
        {{"--list=x"}, Action::Usage, "option '--list' takes no value"},
        {{"-lx"}, Action::Usage, "unknown option '-x'"},
        {{"--help", "--bogus=1"}, Action::Usage, "unknown option '--bogus=1'"},
        {{"ttyUSB0", "ttyUSB1"}, Action::Usage, "only one PORT may be given"},
        {{""}, Action::Usage, "PORT is empty"},
        {{"--keymap=pc.map", "ttyUSB0"},
         Action::Usage,
         "--keymap is for a keyboard named with --keyboard"},
        {{"--help", "--keymap", "pc.map"},
         Action::Usage,
         "--keymap is for a keyboard named with --keyboard"},
        {{"ttyUSB0", "-k"}, Action::Usage, "option '-k' needs a value"},
        {{"ttyUSB0", "--keyb"}, Action::Usage, "option '--keyboard' needs a value"},
        {{"--keyboard=", "ttyUSB0"}, Action::Usage, "the keyboard's DEVICE is empty"},
        {{"-k", "event3", "--keymap=", "ttyUSB0"}, Action::Usage, "the key map's FILE is empty"},
    };
    for (const Case& c : cases) {
        const Options o = parseOptions(c.args);
        const std::string got = o.action == Action::Run ? o.port : o.error;
        EXPECT_EQ(o.action, c.action) << testing::PrintToString(c.args);
        EXPECT_EQ(got, c.portOrError) << testing::PrintToString(c.args);
    }
}

TEST(ParseOptions, AnInputDeviceAndItsKeyMapInEveryForm) {
    const std::vector<std::string> forms[] = {
        {"--keyboard=/dev/input/event3", "--keymap=pc.map", "ttyUSB0"},
        {"ttyUSB0", "-k", "/dev/input/event3", "--keymap", "pc.map"},
        {"-k/dev/input/event3", "--keym=pc.map", "ttyUSB0"},
    };
    for (const auto& args : forms) {
        const Options o = parseOptions(args);
        EXPECT_EQ(o.action, Action::Run) << testing::PrintToString(args) << ": " << o.error;
        EXPECT_EQ(o.port, "ttyUSB0");
        EXPECT_EQ(o.keyboard, "/dev/input/event3");
        EXPECT_EQ(o.keymap, "pc.map");
    }
    // Without it, the X68000 Z keyboard; with --list, nothing to relay.
    EXPECT_EQ(parseOptions({"ttyUSB0"}).keyboard, "");
    EXPECT_EQ(parseOptions({"-lk", "event3"}).action, Action::List);
}

}  // namespace
