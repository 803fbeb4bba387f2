#include "cli/options.h"

#include <gtest/gtest.h>

#include "support/pty_pair.h"

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
        {{"--share", "ttyUSB0"}, Action::Usage, "--share is for keyboards named with --keyboard"},
        {{"-k", "event3", "--switch-key=PAUSE", "ttyUSB0"},
         Action::Usage,
         "--switch-key is for --share"},
        {{"-k", "event3", "--share", "--switch-key=BOGUS", "ttyUSB0"},
         Action::Usage,
         "--switch-key takes a Linux key's name (SCROLLLOCK, PAUSE, ...), not 'BOGUS'"},
        {{"-k", "event3", "--layout=dvorak", "ttyUSB0"},
         Action::Usage,
         "--layout takes jis, us or uk, not 'dvorak'"},
        {{"--layout=us", "ttyUSB0"},
         Action::Usage,
         "--layout is for a keyboard named with --keyboard"},
        {{"-k", "event3", "-k", "event4", "--keyboard=event3", "ttyUSB0"},
         Action::Usage,
         "the keyboard event3 is named twice"},
        {{"-k", "event3", "--keymap=", "ttyUSB0"}, Action::Usage, "the key map's FILE is empty"},
        {{"--key=event3", "ttyUSB0"},
         Action::Usage,
         "option '--key=event3' is ambiguous (--keyboard, --keymap)"},
        // A mouse needs its own line, and a line is for a mouse; so whatever
        // else is asked.
        {{"--mouse=event6", "ttyUSB0"},
         Action::Usage,
         "--mouse needs --mouse-port=PORT2, the serial port wired to MSDATA"},
        {{"--help", "--mouse-port", "ttyUSB1"},
         Action::Usage,
         "--mouse-port needs --mouse=DEVICE, the mouse to relay"},
        {{"-m", "", "--mouse-port=ttyUSB1", "ttyUSB0"},
         Action::Usage,
         "the mouse's DEVICE is empty"},
        {{"-m", "event6", "--mouse-port=", "ttyUSB0"}, Action::Usage, "the mouse's PORT2 is empty"},
        {{"--mou=event6", "ttyUSB0"},
         Action::Usage,
         "option '--mou=event6' is ambiguous (--mouse, --mouse-port, --mouse-scale, "
         "--mouse-wheel)"},
        {{"--mouse-scale=0.5", "ttyUSB0"},
         Action::Usage,
         "--mouse-scale needs --mouse=DEVICE, the mouse to relay"},
        {{"--help", "--mouse-w", "none"},
         Action::Usage,
         "--mouse-wheel needs --mouse=DEVICE, the mouse to relay"},
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
        EXPECT_EQ(o.keyboards, std::vector<std::string>{"/dev/input/event3"});
        EXPECT_EQ(o.keymap, "pc.map");
    }
    // Several, in the order given.
    EXPECT_EQ(parseOptions({"-k", "event3", "ttyUSB0", "--keyboard=aa:bb:cc:dd:ee:01"}).keyboards,
              (std::vector<std::string>{"event3", "aa:bb:cc:dd:ee:01"}));
    // A layout, and sharing by Scroll Lock or a key named as key map files do.
    const Options shared = parseOptions({"-k", "event3", "--layout=UK", "--share", "ttyUSB0"});
    EXPECT_EQ(shared.layout, Layout::Uk);
    EXPECT_TRUE(shared.share);
    EXPECT_EQ(shared.switchKey, unsigned{KEY_SCROLLLOCK});
    EXPECT_EQ(
        parseOptions({"-k", "event3", "--share", "--switch-key=key_pause", "ttyUSB0"}).switchKey,
        unsigned{KEY_PAUSE});
    // Without it, the X68000 Z keyboard; with --list, nothing to relay.
    EXPECT_TRUE(parseOptions({"ttyUSB0"}).keyboards.empty());
    EXPECT_EQ(parseOptions({"-lk", "event3"}).action, Action::List);
}

TEST(ParseOptions, AMouseAndItsPortInEveryFormOnAPortOfItsOwn) {
    const std::vector<std::string> forms[] = {
        {"--mouse=event6", "--mouse-port=ttyUSB1", "ttyUSB0"},
        {"ttyUSB0", "-m", "event6", "--mouse-port", "ttyUSB1"},
        {"-mevent6", "--mouse-p=ttyUSB1", "-k", "event3", "ttyUSB0"},
    };
    for (const auto& args : forms) {
        const Options o = parseOptions(args);
        EXPECT_EQ(o.action, Action::Run) << testing::PrintToString(args) << ": " << o.error;
        EXPECT_EQ(o.port, "ttyUSB0");
        EXPECT_EQ(o.mouse, "event6");
        EXPECT_EQ(o.mousePort, "ttyUSB1");
        EXPECT_EQ(mousePortRefusal(o), "");
    }
    // PORT2 must not be PORT: by its name, or by where the names lead.
    PtyPair keys{true}, mouse{true};
    const auto clash = [](const std::string& port, const std::string& port2) {
        return mousePortRefusal(parseOptions({"-m", "event6", "--mouse-port=" + port2, port}));
    };
    const std::string refused =
        "--mouse-port names PORT itself: the mouse needs a serial port of its own";
    EXPECT_EQ(clash("ttyUSB9", "/dev/ttyUSB9"), refused);          // neither there: by name
    EXPECT_EQ(clash(keys.portPath(), keys.slavePath()), refused);  // a link and its pty
    EXPECT_EQ(clash(keys.portPath(), mouse.portPath()), "");
    EXPECT_EQ(clash("ttyUSB9", "ttyUSB8"), "");
}

TEST(ParseOptions, AMousesScaleAndWheelWithinTheirBounds) {
    const auto withMouse = [](const std::vector<std::string>& more) {
        std::vector<std::string> args{"-m", "event6", "--mouse-port=ttyUSB1", "ttyUSB0"};
        args.insert(args.end(), more.begin(), more.end());
        return parseOptions(args);
    };
    EXPECT_EQ(withMouse({}).mouseScale, 1.0);
    EXPECT_TRUE(withMouse({}).mouseWheel);  // roll
    const std::pair<std::string, double> factors[] = {{"0.1", 0.1},  {"10", 10.0}, {"0.5", 0.5},
                                                      {".75", 0.75}, {"2.", 2.0},  {"1.250", 1.25}};
    for (const auto& [text, factor] : factors) {
        const Options o = withMouse({"--mouse-scale=" + text});
        EXPECT_EQ(o.action, Action::Run) << text << ": " << o.error;
        EXPECT_EQ(o.mouseScale, factor) << text;
    }
    EXPECT_EQ(withMouse({"--mouse-s", "3"}).mouseScale, 3.0);
    // Out of bounds, or not a plain decimal as every locale reads it.
    for (const std::string text :
         {"0.09", "10.01", "0", "-1", "+2", "", "1e0", "0x1", "nan", "inf", "0,5", " 1", "1.2.3"}) {
        const Options o = withMouse({"--mouse-scale=" + text});
        EXPECT_EQ(o.action, Action::Usage) << text;
        EXPECT_EQ(o.error, "--mouse-scale takes a decimal from 0.1 to 10, not '" + text + "'");
    }

    EXPECT_FALSE(withMouse({"--mouse-wheel=none"}).mouseWheel);
    EXPECT_TRUE(withMouse({"--mouse-wheel", "none", "--mouse-wheel=roll"}).mouseWheel);  // the last
    EXPECT_EQ(withMouse({"--mouse-wheel=Roll"}).error,
              "--mouse-wheel takes roll or none, not 'Roll'");
}

}  // namespace
