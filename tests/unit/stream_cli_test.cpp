// pacterra-cli stream on captures made with real tools (tests/data/stream/make-captures.sh: curl against
// python's http.server, netcat both ways) and on captures derived from them and from res/sample.cap with
// segments swapped, sent twice, split into overlapping pieces, sent late or dropped: --raw gives for each
// direction exactly the bytes the applications sent and received.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ScratchDir.h"

namespace fs = std::filesystem;

namespace {

// The files the capture script sent: x(n+1) = x(n) * 1103515245 + 12345 (mod 2^32), each byte bits 16..23.
std::string Body(uint32_t seed, size_t size) {
    std::string out(size, '\0');
    uint32_t x = seed;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>((x >> 16) & 0xFF);
    }
    return out;
}

class StreamCli : public ::testing::Test {
protected:
    // Standard output of a command; the exit status in `status`.
    std::string Run(const std::string& command, int* status = nullptr) {
        const fs::path out = dir / "out";
        const int raw =
            std::system((command + " >'" + out.string() + "' 2>'" + (dir / "err").string() + "'").c_str());
        if (status)
            *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return ReadFile(out);
    }
    std::string Cli(const std::string& args, int* status = nullptr) {
        return Run("TZ=UTC HOME='" + dir.string() + "' '" + std::string(PACTERRA_BINARY_DIR) +
                       "/bin/pacterra-cli' " + args,
                   status);
    }
    std::string Stream(const std::string& file, int conn, const std::string& args) {
        int status = -1;
        std::string out = Cli("stream '" + file + "' " + std::to_string(conn) + " " + args, &status);
        EXPECT_EQ(status, 0) << file << " " << args;
        return out;
    }
    // Derives a capture with the mangler; returns its path (and the mangler's output in `said`).
    std::string Mangle(const std::string& in, const std::string& mode, int seed,
                       std::string* said = nullptr) {
        const std::string out = (dir / (mode + std::to_string(seed) + ".cap")).string();
        int status = -1;
        const std::string text =
            Run("'" + std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-stream-mangle' '" + in + "' '" + out +
                    "' " + mode + " " + std::to_string(seed),
                &status);
        EXPECT_EQ(status, 0) << ReadFile(dir / "err");
        if (said)
            *said = text;
        return out;
    }
    static std::string Data(const std::string& name) {
        return std::string(PACTERRA_SOURCE_DIR) + "/tests/data/stream/" + name;
    }
    size_t Connections(const std::string& file) {
        const std::string list = Cli("connections '" + file + "'");
        return static_cast<size_t>(std::count(list.begin(), list.end(), '\n'));
    }

    const ScratchDir scratch{"stream-test"};
    const fs::path& dir = scratch.Path();
};

// Whether a stream's text holds a marked line (random payload bytes never spell these).
bool HasNote(const std::string& text) {
    for (const char* end :
         {" missing]\n", "the first copy is shown]\n", "not shown]\n", "shown as missing]\n"})
        if (text.find(end) != std::string::npos)
            return true;
    return false;
}

const char* const kFaults[] = {"swap", "twice", "overlap", "late", "all"};

TEST_F(StreamCli, NetcatBothWaysGivesTheFilesSent) {
    const std::string sent = Body(2, 98304), received = Body(3, 65536);
    const std::string clean = Data("netcat-both-ways.cap");
    EXPECT_EQ(Stream(clean, 0, "--raw --client"), sent);
    EXPECT_EQ(Stream(clean, 0, "--raw --server"), received);
    for (const char* fault : kFaults) {
        for (int seed = 1; seed <= 2; ++seed) {
            const std::string cap = Mangle(clean, fault, seed);
            EXPECT_EQ(Stream(cap, 0, "--raw --client"), sent) << fault << " " << seed;
            EXPECT_EQ(Stream(cap, 0, "--raw --server"), received) << fault << " " << seed;
            EXPECT_FALSE(HasNote(Stream(cap, 0, ""))) << fault;
        }
    }
}

TEST_F(StreamCli, HttpDownloadGivesTheObjectServed) {
    const std::string object = Body(1, 524288);
    const std::string clean = Data("http-download.cap");
    const std::string request = Stream(clean, 0, "--raw --client");
    ASSERT_EQ(request.rfind("GET /object.bin HTTP/1.1\r\n", 0), 0u);
    const std::string response = Stream(clean, 0, "--raw --server");
    ASSERT_EQ(response.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    const size_t body = response.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_TRUE(response.compare(body + 4, std::string::npos, object) == 0)
        << "the body is the object served";
    EXPECT_EQ(Stream(clean, 0, "--raw"), request + response);
    for (const char* fault : kFaults) {
        const std::string cap = Mangle(clean, fault, 3);
        EXPECT_EQ(Stream(cap, 0, "--raw --client"), request) << fault;
        EXPECT_EQ(Stream(cap, 0, "--raw --server"), response) << fault;
    }
    // The text: the request and the response each as a turn of its own.
    const std::string text = Stream(clean, 0, "");
    EXPECT_EQ(text.rfind("> GET /object.bin HTTP/1.1\n", 0), 0u);
    EXPECT_NE(text.find("\n< HTTP/1.0 200 OK\nServer: SimpleHTTP"), std::string::npos);
}

TEST_F(StreamCli, DroppedSegmentIsAMarkedGap) {
    for (const std::string name : {"http-download.cap", "netcat-both-ways.cap"}) {
        const std::string clean = Data(name);
        std::string said;
        const std::string cap = Mangle(clean, "drop", 5, &said);
        char dir = 0;
        size_t offset = 0, length = 0;
        ASSERT_EQ(std::sscanf(said.c_str(), "dropped %c %zu %zu", &dir, &offset, &length), 3) << said;
        const std::string side = dir == '>' ? "--client" : "--server";
        const std::string whole = Stream(clean, 0, "--raw " + side);
        EXPECT_EQ(Stream(cap, 0, "--raw " + side), whole.substr(0, offset) + whole.substr(offset + length))
            << name;
        EXPECT_NE(Stream(cap, 0, side).find("\n[" + std::to_string(length) + " bytes missing]\n"),
                  std::string::npos)
            << name;
    }
}

TEST_F(StreamCli, EveryTcpConnectionOfTheSampleSurvivesTheFaults) {
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    const size_t n = Connections(sample);
    ASSERT_GT(n, 10u);
    const std::string list = Cli("connections '" + sample + "'");
    std::vector<std::string> caps;
    for (const char* fault : kFaults)
        caps.push_back(Mangle(sample, fault, 7));
    size_t tcp = 0;
    std::istringstream rows(list);
    std::string row;
    for (size_t c = 0; std::getline(rows, row); ++c) {
        if (row.find("\tTCP") == std::string::npos)
            continue;
        ++tcp;
        for (const char* side : {"--client", "--server"}) {
            const std::string clean = Stream(sample, static_cast<int>(c), std::string("--raw ") + side);
            for (size_t f = 0; f < caps.size(); ++f)
                EXPECT_EQ(Stream(caps[f], static_cast<int>(c), std::string("--raw ") + side), clean)
                    << "connection " << c << " " << side << " " << kFaults[f];
        }
    }
    EXPECT_GT(tcp, 5u);
}

TEST_F(StreamCli, Usage) {
    const std::string clean = Data("netcat-both-ways.cap");
    int status = -1;
    Cli("stream '" + clean + "' 0 --client --server", &status);
    EXPECT_EQ(status, 2);
    Cli("packets '" + clean + "' 0 --raw", &status);
    EXPECT_EQ(status, 2);
    Cli("stream '" + clean + "' 9", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("no connection 9"), std::string::npos);
}

}  // namespace
