// `pacterra-cli rate` agrees with `tshark -q -z io,stat,...` bin for bin. tshark's answers are kept beside
// the captures (tests/data/*.iostat*.txt); where tshark is installed the test makes them again and checks
// that they still read the same. tshark counts every frame from the file's first one, Pacterra only the
// IPv4 TCP and UDP packets it stores from the first of those, so tshark reads the capture filtered to those.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ScratchDir.h"

namespace fs = std::filesystem;

namespace {

// One bin: frames and bytes of each column (the capture; with a connection also each direction).
using Row = std::vector<long long>;

int Shell(const std::string& cmd) {
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The table rows of tshark's io,stat output, in order: "| 0 <> 1 | 4 | 240 |" gives {4, 240}.
std::vector<Row> ParseIoStat(const std::string& text) {
    std::vector<Row> rows;
    std::istringstream in(text);
    std::string line;
    static const std::regex interval(R"(^\|\s*[0-9.]+\s*<>\s*([0-9.]+|Dur)\s*\|)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, interval))
            continue;
        Row row;
        std::istringstream cells(line.substr(static_cast<size_t>(m.length(0))));
        std::string cell;
        while (std::getline(cells, cell, '|'))
            if (cell.find_first_not_of(' ') != std::string::npos)
                row.push_back(std::stoll(cell));
        rows.push_back(row);
    }
    return rows;
}

// pacterra-cli's lines "offset<TAB>packets<TAB>bytes[<TAB>bytes to server<TAB>bytes to client]", by bin
// number (offset / width). The packet counts of the directions are not printed: -1 stands for them.
std::map<long long, Row> ParseRate(const std::string& text, double width) {
    std::map<long long, Row> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        double offset = 0;
        long long packets = 0, bytes = 0, up = -1, down = -1;
        cells >> offset >> packets >> bytes;
        Row row{packets, bytes};
        if (cells >> up >> down)
            row.insert(row.end(), {-1, up, -1, down});
        rows[std::llround(offset / width)] = row;
    }
    return rows;
}

struct Case {
    const char* name;
    const char* capture;  // under the source tree
    const char* cliArgs;
    double width;
    const char* expected;     // tshark's answer, under tests/data
    const char* tsharkStats;  // the io,stat argument that made it
};

const Case kCases[] = {
    {"sample", "res/sample.cap", "", 1, "sample.iostat1.txt", "io,stat,1"},
    {"sampleConnection2", "res/sample.cap", "--conn 2", 1, "sample.conn2.iostat1.txt",
     "io,stat,1,tcp.port==40441 && ip.addr==198.51.100.10,ip.src==192.168.1.23 && tcp.srcport==40441,"
     "ip.dst==192.168.1.23 && tcp.dstport==40441"},
    {"bursts", "tests/data/rate-bursts.cap", "--bin 1", 1, "rate-bursts.iostat1.txt", "io,stat,1"},
    {"burstsConnection0HalfSeconds", "tests/data/rate-bursts.cap", "--conn 0 --bin 0.5", 0.5,
     "rate-bursts.conn0.iostat0.5.txt", "io,stat,0.5,tcp.port==53076,tcp.srcport==53076,tcp.dstport==53076"},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RateCliTest : public ::testing::TestWithParam<Case> {
protected:
    const ScratchDir scratch{"rate-test"};
    const fs::path& dir = scratch.Path();
};

TEST_P(RateCliTest, AgreesWithTsharkBinForBin) {
    const Case& c = GetParam();
    const std::string source = PACTERRA_SOURCE_DIR;
    const std::vector<Row> expected = ParseIoStat(ReadFile(source + "/tests/data/" + c.expected));
    ASSERT_GT(expected.size(), 1u) << c.expected;

    const fs::path out = dir / "out";
    ASSERT_EQ(
        Shell("TZ=UTC HOME='" + dir.string() + "' '" + PACTERRA_BINARY_DIR + "/bin/pacterra-cli' rate '" +
              source + "/" + c.capture + "' " + c.cliArgs + " >'" + out.string() + "' 2>/dev/null"),
        0);
    const std::map<long long, Row> got = ParseRate(ReadFile(out), c.width);
    ASSERT_FALSE(got.empty());
    // Every bin tshark gives; Pacterra's lines run from the first bin with packets to the last one.
    for (size_t bin = 0; bin < expected.size(); ++bin) {
        Row want = expected[bin];
        const auto it = got.find(static_cast<long long>(bin));
        if (it == got.end()) {
            EXPECT_EQ(want[0], 0) << "bin " << bin << " has packets but no line";
            continue;
        }
        Row have = it->second;
        // The directions' packet counts are not printed.
        for (size_t i = 0; i < have.size() && i < want.size(); ++i)
            if (have[i] == -1)
                want[i] = -1;
        EXPECT_EQ(have, want) << c.capture << " " << c.cliArgs << ", bin " << bin;
    }
    EXPECT_LT(got.rbegin()->first, static_cast<long long>(expected.size()));
    EXPECT_GE(got.begin()->first, 0);
}

// The kept answers are tshark's own: made again here where tshark is installed.
TEST_P(RateCliTest, KeptAnswersAreTsharks) {
    const Case& c = GetParam();
    if (Shell("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed; the kept answers stand";
    const std::string source = PACTERRA_SOURCE_DIR;
    const fs::path filtered = dir / "filtered.cap";
    const fs::path answer = dir / "answer.txt";
    ASSERT_EQ(Shell("tshark -r '" + source + "/" + c.capture + "' -Y 'ip && (tcp || udp)' -F pcap -w '" +
                    filtered.string() + "' >/dev/null 2>&1"),
              0);
    ASSERT_EQ(Shell("tshark -r '" + filtered.string() + "' -q -z '" + c.tsharkStats + "' >'" +
                    answer.string() + "' 2>/dev/null"),
              0);
    EXPECT_EQ(ParseIoStat(ReadFile(answer)), ParseIoStat(ReadFile(source + "/tests/data/" + c.expected)));
}

INSTANTIATE_TEST_SUITE_P(Captures, RateCliTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

TEST(RateCliUsageTest, BadArgumentsAreRefusedClearly) {
    struct Usage {
        const char* args;
        int status;
        const char* says;
    };
    const Usage cases[] = {
        {"rate res/sample.cap --bin 0", 2, "--bin needs a number of seconds"},
        {"rate res/sample.cap --bin -1", 2, "--bin needs a number of seconds"},
        {"rate res/sample.cap --bin 1x", 2, "--bin needs a number of seconds"},
        {"rate res/sample.cap --bin 0.0000001", 2, "--bin needs a number of seconds"},
        {"rate res/sample.cap --bin", 2, "--bin needs a value"},
        {"rate res/sample.cap --conn x", 2, "CONN must be a connection number"},
        {"rate res/sample.cap --conn 99", 1, "no connection 99 (the file holds 22)"},
        {"connections res/sample.cap --bin 2", 2, "--bin and --conn belong to the rate command"},
        {"rate", 2, "wrong number of arguments for rate"},
        {"rate tests/data/missing.cap", 1, ""},
    };
    const fs::path err = fs::temp_directory_path() / ("pacterra-rate-usage-" + std::to_string(::getpid()));
    for (const Usage& u : cases) {
        EXPECT_EQ(Shell(std::string("cd '") + PACTERRA_SOURCE_DIR + "' && '" + PACTERRA_BINARY_DIR +
                        "/bin/pacterra-cli' " + u.args + " >/dev/null 2>'" + err.string() + "'"),
                  u.status)
            << u.args;
        EXPECT_NE(ReadFile(err).find(u.says), std::string::npos) << u.args << ": " << ReadFile(err);
    }
    fs::remove(err);
}

}  // namespace
