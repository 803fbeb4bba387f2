// The built program, started as a user starts it, on the paths that need no
// keyboard: the options, the usage, and the single-instance lock, which comes
// before the keyboard is touched.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

const std::string kUsageLine = "usage: pellora [-l|--list] [-h|--help] [-V|--version] [PORT]";

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
}

}  // namespace
