// pacterra-cli capture -w meets Ctrl+C (SIGINT) and SIGTERM alike: the first ends the capture, one during
// the save stops the save, and no signal leaves a temporary file (root only: a capture on the loopback of
// a network namespace of the test's own; skipped with the reason otherwise).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../ChildProcess.h"
#include "NetNamespace.h"

namespace fs = std::filesystem;

namespace {

std::string g_skipReason;

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// `count` UDP datagrams of 1400 bytes to the loopback.
void Send(int count) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(9);
    const std::string data(1400, 'd');
    for (int i = 0; i < count; ++i) {
        if (::sendto(s, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            ::usleep(1000);  // the socket's queue is full: let the receiver catch up
    }
    ::close(s);
}

// The save's hidden temporary file beside `target`, once it is there.
bool TemporaryFileAppears(const fs::path& dir, int seconds) {
    for (int i = 0; i < seconds * 2000; ++i) {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().string().rfind(".out.cap.", 0) == 0)
                return true;
        ::usleep(500);
    }
    return false;
}

TEST(CliSignals, ASignalDuringTheSaveLeavesNothingBehind) {
    if (!g_skipReason.empty())
        GTEST_SKIP() << g_skipReason;
    const fs::path dir = fs::temp_directory_path() / ("pacterra-cli-signals-" + std::to_string(::getpid()));
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    struct Case {
        const char* what;
        int stop;  // ends the capture; 0: the buffer fills
        int duringSave;
    } cases[] = {
        {"buffer full, then Ctrl+C", 0, SIGINT},      {"buffer full, then SIGTERM", 0, SIGTERM},
        {"Ctrl+C, then SIGTERM", SIGINT, SIGTERM},    {"SIGTERM, then Ctrl+C", SIGTERM, SIGINT},
        {"a hang-up, then SIGTERM", SIGHUP, SIGTERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path out = dir / "out.cap", err = dir.parent_path() / (dir.filename().string() + ".err");
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen(err.c_str(), "w", stderr);
            ::setenv("XDG_CONFIG_HOME", dir.parent_path().c_str(), 1);
            ::execl(cli.c_str(), cli.c_str(), "capture", "-i", "lo", "-t", "60", "-w", out.c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_GT(pid, 0) << "cannot start the tool";  // kill(-1, ...) would reach every process
        ::usleep(700000);                              // the adapter is open
        // The default buffer is 50 MB: 40,000 datagrams of 1,442-byte frames fill it.
        Send(c.stop ? 25000 : 40000);
        if (c.stop) {
            ::usleep(500000);
            ::kill(pid, c.stop);
        }
        const bool saving = TemporaryFileAppears(dir, 30);
        // Held still while the signal arrives, so that the save cannot finish first.
        ::kill(pid, SIGSTOP);
        ::kill(pid, c.duringSave);
        ::kill(pid, SIGCONT);
        int raw = 0;
        if (!WaitOrKill(pid, std::chrono::seconds(20), raw))
            ADD_FAILURE() << "still running 20 s after the signal";
        ASSERT_TRUE(saving) << "no save began: " << ReadFile(err);
        EXPECT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1) << ReadFile(err);
        EXPECT_NE(ReadFile(err).find("pacterra-cli: the save to " + out.string() + " was interrupted"),
                  std::string::npos)
            << ReadFile(err);
        std::string left;
        for (const auto& entry : fs::directory_iterator(dir))
            left += entry.path().filename().string() + " ";
        EXPECT_EQ(left, "") << "left behind";
        fs::remove(err);
    }
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_skipReason = EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
