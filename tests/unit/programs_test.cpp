// Both programs with closed standard descriptors, and their answers to --help and --version when those
// cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ScratchDir.h"

namespace fs = std::filesystem;

namespace {

TEST(Programs, ClosedDescriptorsAndOutputThatCannotBeWritten) {
    const ScratchDir scratch("programs-test");
    const fs::path& dir = scratch.Path();
    const std::string bin = std::string(PACTERRA_BINARY_DIR) + "/bin/";
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    struct Case {
        const char* what;
        std::string command;  // standard error goes to a file, standard output as the command says
        int status;
        std::string err;  // a part of standard error
    } cases[] = {
        {"cli --help to a full disk", "pacterra-cli --help >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"cli --version to a full disk", "pacterra-cli --version >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"cli help to a full disk", "pacterra-cli help >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"window --help to a full disk", "pacterra --help >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"window --version to a full disk", "pacterra --version >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"window --help-all to a full disk", "pacterra --help-all >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"cli --version", "pacterra-cli --version >/dev/null", 0, ""},
        {"window --help-all", "pacterra --help-all >/dev/null", 0, ""},
        {"cli reading a closed standard input", "pacterra-cli connections - <&- >/dev/null", 1,
         "standard input: truncated dump file; tried to read 4 file header bytes, only got 0\nThe stream is "
         "empty: it ended before any byte arrived."},
        {"cli writing to a closed standard output", "pacterra-cli connections '" + sample + "' >&-", 0,
         "packets,"},
        {"window reading a closed standard input", "pacterra --bench-load - <&- >/dev/null", 1,
         "The stream is empty: it ended before any byte arrived."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path err = dir / "err";
        // A program that reads one of its own descriptors as standard input would wait for ever.
        const std::string command =
            "cd '" + dir.string() + "' && HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + dir.string() +
            "' QT_QPA_PLATFORM=offscreen timeout 20 " + bin + c.command + " 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << ReadFile(err);
        EXPECT_NE(ReadFile(err).find(c.err), std::string::npos) << ReadFile(err);
    }
}

// A settings file that would be read for ever (a pipe, a device) or is far too large is reported once and
// left alone; the tool goes on with the default options.
TEST(Programs, UnfitSettingsFilesAreNotRead) {
    const ScratchDir scratch("settings-test");
    const fs::path& dir = scratch.Path();
    fs::create_directories(dir / "Morvane");
    const fs::path settings = dir / "Morvane" / "Pacterra.conf";
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    struct Case {
        const char* what;
        std::string make;  // a shell command that puts the file in place
        std::string why;
    } cases[] = {
        {"a pipe", "mkfifo '" + settings.string() + "'", "it is a pipe, not a regular file"},
        {"a link to /dev/zero", "ln -s /dev/zero '" + settings.string() + "'",
         "it is a device, not a regular file"},
        {"a file of 3 GB", "truncate -s 3G '" + settings.string() + "'", "it is larger than 16 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(settings);
        ASSERT_EQ(std::system(c.make.c_str()), 0);
        const fs::path err = dir / "err";
        const std::string command = "HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + dir.string() +
                                    "' timeout 20 '" + cli + "' connections '" + sample +
                                    "' --rules >/dev/null 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(WEXITSTATUS(raw), 0) << ReadFile(err);
        const std::string text = ReadFile(err);
        const std::string report = "Cannot read the settings file \"" + settings.string() + "\": " + c.why;
        EXPECT_NE(text.find(report), std::string::npos) << text;
        EXPECT_EQ(text.find(report), text.rfind(report)) << "reported twice: " << text;
        EXPECT_FALSE(fs::exists(settings.string() + ".damaged"));
    }
}

// Starts `argv` with standard output and error to /dev/null, and waits until it handles `signal` itself.
pid_t StartHandling(const std::vector<std::string>& argv, int signal) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    for (int i = 0; i < 400; ++i) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
                return pid;
        ::usleep(25000);
    }
    return pid;
}

// Waits up to `seconds` for `pid`; -1 when it is still running (then it is killed).
int WaitFor(pid_t pid, int seconds, int& raw) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (::waitpid(pid, &raw, WNOHANG) == pid)
            return 0;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &raw, 0);
    return -1;
}

// SIGTERM, SIGINT and SIGHUP close the window as the window system would; while a question of that close
// (or any other) is open, a second signal ends the program at once, and neither is killed by a signal.
TEST(Programs, TheWindowEndsCleanlyOnSignals) {
    const ScratchDir scratch("signals-test");
    const fs::path& dir = scratch.Path();
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    ::chmod(dir.c_str(), 0700);
    const std::string window = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra";
    struct Case {
        const char* what;
        std::vector<std::string> argv;
        std::vector<int> signals;
        int status;
    } cases[] = {
        {"SIGTERM, nothing to ask", {window}, {SIGTERM}, 0},
        {"SIGINT, nothing to ask", {window}, {SIGINT}, 0},
        {"SIGHUP, nothing to ask", {window}, {SIGHUP}, 0},
        // A pipe named on the command line: its filter question stays open, and the close waits for it.
        {"SIGTERM twice while a question is open",
         {window, fifo.string()},
         {SIGTERM, SIGTERM},
         128 + SIGTERM},
        {"SIGINT, then SIGHUP", {window, fifo.string()}, {SIGINT, SIGHUP}, 128 + SIGHUP},
        // nohup: an ignored hang-up stays ignored.
        {"SIGHUP under nohup, then SIGTERM", {"/usr/bin/nohup", window}, {SIGHUP, SIGTERM}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const pid_t pid = StartHandling(c.argv, SIGTERM);
        ASSERT_GT(pid, 0) << "cannot start the program";  // kill(-1, ...) would reach every process
        ::usleep(300000);                                 // the window is up, its first question too
        int raw = 0;
        for (size_t i = 0; i < c.signals.size(); ++i) {
            if (i > 0) {
                // Not before: the first signal alone leaves the question open.
                EXPECT_EQ(::waitpid(pid, &raw, WNOHANG), 0) << "ended after the first signal";
            }
            ::kill(pid, c.signals[i]);
            ::usleep(500000);
        }
        ASSERT_EQ(WaitFor(pid, 10, raw), 0) << "still running 10 s after the signals";
        EXPECT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
        if (WIFEXITED(raw)) {
            EXPECT_EQ(WEXITSTATUS(raw), c.status);
        }
    }
}

}  // namespace
