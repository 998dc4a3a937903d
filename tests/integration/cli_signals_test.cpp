// pacterra-cli capture -w meets Ctrl+C (SIGINT) and SIGTERM alike: the first ends the capture, one during
// the save stops the save, and no signal leaves a temporary file; so do the exports of a file and of a
// stream (root only: a capture on the loopback of
// a network namespace of the test's own; skipped with the reason otherwise).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
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

// A capture file of `count` UDP frames of 1,442 bytes on loopback, as a reader of files or streams takes it.
void WriteUdpCapture(const fs::path& path, int count) {
    std::string frame(14, '\0'), file(24, '\0');
    frame[12] = 8;
    frame +=
        std::string("\x45\0\x05\x94\0\0\0\0\x40\x11\0\0\x7f\0\0\1\x7f\0\0\1\x03\xe8\0\x09\x05\x80\0\0", 28);
    frame += std::string(1400, 'd');
    const uint32_t header[6] = {0xa1b2c3d4, 0x00040002, 0, 0, 65535, 1},
                   record[4] = {1700000000, 0, 1442, 1442};
    std::memcpy(file.data(), header, 24);
    std::ofstream out(path, std::ios::binary);
    out << file;
    for (int i = 0; i < count; ++i)
        out.write(reinterpret_cast<const char*>(record), 16) << frame;
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
        const char* exported = nullptr;  // export of this file (a stream when "-") instead of a capture
    } cases[] = {
        {"export of a file, then SIGTERM", 0, SIGTERM, "file"},
        {"export of a stream, then Ctrl+C", 0, SIGINT, "-"},
        {"buffer full, then Ctrl+C", 0, SIGINT},
        {"buffer full, then SIGTERM", 0, SIGTERM},
        {"Ctrl+C, then SIGTERM", SIGINT, SIGTERM},
        {"SIGTERM, then Ctrl+C", SIGTERM, SIGINT},
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
            if (c.exported) {
                WriteUdpCapture(dir / "in.cap", 30000);
                std::freopen((dir / "in.cap").c_str(), "r", stdin);
                ::execl(cli.c_str(), cli.c_str(), "export",
                        c.exported[0] == '-' ? "-" : (dir / "in.cap").c_str(), "0", "-w", out.c_str(),
                        nullptr);
            }
            ::execl(cli.c_str(), cli.c_str(), "capture", "-i", "lo", "-t", "60", "-w", out.c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_GT(pid, 0) << "cannot start the tool";  // kill(-1, ...) would reach every process
        ::usleep(c.exported ? 0 : 700000);             // the adapter is open; an export saves at once
        // The default buffer is 50 MB: 40,000 datagrams of 1,442-byte frames fill it.
        Send(c.exported ? 0 : c.stop ? 25000 : 40000);
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
        fs::remove(dir / "in.cap");
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
