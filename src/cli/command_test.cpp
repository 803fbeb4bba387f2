// The built program, started as a user starts it, on the paths that need no
// keyboard: the options and the usage; and what it prints of the ports.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/command_text.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class PelloraCommand : public ::testing::Test {
protected:
    // Runs `ENV pellora ARGS` through the shell; args and env are shell words.
    void run(const std::string& args, const std::string& env = "") {
        const std::string command = env + " '" PELLORA_PROGRAM "' " + args + " >'" +
                                    (dir / "out").string() + "' 2>'" + (dir / "err").string() +
                                    "' </dev/null";
        const int status = std::system(command.c_str());
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        out = slurp(dir / "out");
        err = slurp(dir / "err");
    }
    static std::string slurp(const fs::path& file) {
        std::ostringstream text;
        text << std::ifstream(file).rdbuf();
        return text.str();
    }
    static std::string firstLine(const std::string& text) {
        return text.substr(0, text.find('\n'));
    }

    TempDir dir;
    int exitCode = -1;
    std::string out;
    std::string err;
};

const std::string kUsageLine = "usage: pellora [-l|--list] [-h|--help] [-V|--version]";

TEST_F(PelloraCommand, HelpAndVersionGoToStdoutAndSucceed) {
    run("--help");
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(firstLine(out), kUsageLine);
    EXPECT_EQ(err, "");
    run("-V");
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(out, "pellora " PELLORA_VERSION "\n");
}

TEST_F(PelloraCommand, AMissingOrWrongCommandLineGivesTheUsageOnStderrAndTwo) {
    run("");
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(firstLine(err), kUsageLine);
    // Then this machine's ports, or the notice that there are none.
    EXPECT_TRUE(err.find("\nSerial ports present:\n") != std::string::npos ||
                err.find("\nNo serial port found.\n") != std::string::npos)
        << err;
    run("--bogus");
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(firstLine(err), "pellora: unknown option '--bogus'");
    run("--keymap=pc.map ttyUSB0");  // the X68000 Z keyboard has the X68000's keys
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(firstLine(err), "pellora: --keymap is for a keyboard named with --keyboard");
}

// A key map with a bad line ends the start before anything is opened, with
// the compilers' FILE:LINE: form; a map that cannot be read alike.
TEST_F(PelloraCommand, ABadKeyMapEndsTheStartWithItsLineAndTwo) {
    const std::string map = (dir / "pc.map").string();
    std::ofstream(map) << "# mine\nF11 CODE\nCAPSLOCK KATAKANA\n";
    run("--keyboard=event3 --keymap=" + map + " /nonexistent/ttyPELLORA");
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(err, "pellora: " + map +
                       ":3: \"KATAKANA\" is not an X68000 key name (such as KANA, XF1 or "
                       "OPT1) nor none\n");
    run("-k event3 --keymap=" + (dir / "none.map").string() + " ttyUSB0");
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(err, "pellora: " + (dir / "none.map").string() +
                       ": cannot read it: No such file or directory\n");
}

TEST(PortListText, ControlCharactersFromADeviceArePrintedAsQuestionMarks) {
    // A USB adapter's product string is the device's to choose: an escape
    // sequence in it must not reach the terminal.
    std::ostringstream out;
    writePortList(out, {{"ttyUSB0", "Evil\x1b]0;owned\x07 UART\x7f"},
                        {"ttyACM0",
                         "Caf\xc3\xa9 \xc2\x9b"
                         "2J"}});
    EXPECT_EQ(out.str(), "ttyUSB0 - Evil?]0;owned? UART?\nttyACM0 - Caf\xc3\xa9 ?2J\n");

    // U+202E would show the rest of the line backwards, U+2066 isolate it; a
    // raw C1 byte (CSI in Latin-1) and a truncated sequence are no UTF-8;
    // Japanese text and a character beyond the BMP pass.
    EXPECT_EQ(printable("gpj.\xe2\x80\xae"
                        "exe \xe2\x81\xa6x\x9b"
                        "2J \xe3\x82\xad\xf0\x9f\x98\x80 \xe3\x82"),
              "gpj.?exe ?x?2J \xe3\x82\xad\xf0\x9f\x98\x80 ??");
}

}  // namespace
