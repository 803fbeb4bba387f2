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
    };
    for (const Case& c : cases) {
        const Options o = parseOptions(c.args);
        const std::string got = o.action == Action::Run ? o.port : o.error;
        EXPECT_EQ(o.action, c.action) << testing::PrintToString(c.args);
        EXPECT_EQ(got, c.portOrError) << testing::PrintToString(c.args);
    }
}

}  // namespace
