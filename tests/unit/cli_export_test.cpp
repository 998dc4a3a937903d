// pacterra-cli's connections --format / --filter and export, run as a user would, with Python's own readers
// as the judges of the CSV and JSON Lines.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "FrameBuilder.h"
#include "ScratchDir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
    double seconds = 0;
};

// Single quotes for sh.
std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

const std::string kSample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
// IPv6 and IPv4 connections in a Linux cooked capture (read with --wide).
const std::string kMixed = std::string(PACTERRA_SOURCE_DIR) + "/tests/data/wide/sll-mixed.cap";

class CliExportTest : public ::testing::Test {
protected:
    // `prefix` goes before the program (a ulimit, say).
    Result Run(const std::string& args, const std::string& prefix = {}) {
        const std::string cmd = prefix + " TZ=UTC HOME=" + Quote(dir.string()) +
                                " XDG_CONFIG_HOME=" + Quote(dir.string()) + " " +
                                Quote(std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli") + " " + args +
                                " >" + Quote((dir / "out").string()) + " 2>" + Quote((dir / "err").string());
        Result r;
        const auto start = std::chrono::steady_clock::now();
        const int raw = std::system(("sh -c " + Quote(cmd)).c_str());
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(dir / "out");
        r.err = ReadFile(dir / "err");
        return r;
    }
    // Runs a Python script (given the paths as arguments); its exit status.
    int Python(const std::string& script, const std::vector<fs::path>& args) {
        std::string cmd = "python3 -c " + Quote(script);
        for (const fs::path& a : args)
            cmd += " " + Quote(a.string());
        const int raw = std::system(cmd.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::vector<std::string> Names() const { return scratch.Names(); }

    const ScratchDir scratch{"cli-export-test"};
    const fs::path& dir = scratch.Path();
};

TEST_F(CliExportTest, JsonLinesParseWithPython) {
    for (const std::string input : {Quote(kSample), "--wide " + Quote(kMixed)}) {
        Result r = Run("connections " + input + " --format json");
        ASSERT_EQ(r.status, 0) << r.err;
        std::ofstream(dir / "c.jsonl") << r.out;
        EXPECT_EQ(std::system(("python3 -m json.tool --json-lines " + Quote((dir / "c.jsonl").string()) +
                               " >/dev/null")
                                  .c_str()),
                  0);
        Result tsv = Run("connections " + input);
        std::ofstream(dir / "c.tsv") << tsv.out;
        // Every object has every field, and agrees with the list's row of the same number.
        EXPECT_EQ(Python(R"(
import json, sys
rows = [l.split('\t') for l in open(sys.argv[2]).read().splitlines()]
objs = [json.loads(l) for l in open(sys.argv[1])]
assert len(objs) == len(rows) == (22 if '[' not in rows[0][2] else 20), (len(objs), len(rows))
keys = ['number','start','last','client_ip','client_port','server_ip','server_port','protocol','service',
        'packets','bytes_to_server','bytes_to_client','community_id','server_name','name_source']
for o, r in zip(objs, rows):
    assert list(o) == keys, list(o)
    assert str(o['number']) == r[0]
    end = lambda ip, port: ('[%s]:%d' if ':' in ip else '%s:%d') % (ip, port)
    assert end(o['client_ip'], o['client_port']) == r[2], (o, r)
    assert end(o['server_ip'], o['server_port']) == r[3], (o, r)
    assert o['service'] == (r[4] if ':' in r[4] else '') and str(o['packets']) == r[5]
    assert o['start'][11:23] == r[1] and o['last'][11:23] == r[6]
    assert o['community_id'].startswith('1:') and len(o['community_id']) == 30
)",
                         {dir / "c.jsonl", dir / "c.tsv"}),
                  0)
            << input;
    }
}

TEST_F(CliExportTest, CsvReadsBackAsTheJsonLines) {
    for (const std::string filter : {"", "port:80", "-udp host:192.168.1.23"}) {
        const std::string f = filter.empty() ? "" : " --filter " + Quote(filter);
        Result csv = Run("connections " + Quote(kSample) + " --format csv" + f);
        ASSERT_EQ(csv.status, 0) << csv.err;
        std::ofstream(dir / "c.csv", std::ios::binary) << csv.out;
        Result json = Run("connections " + Quote(kSample) + " --format json" + f);
        ASSERT_EQ(json.status, 0) << json.err;
        std::ofstream(dir / "c.jsonl") << json.out;
        EXPECT_EQ(Python(R"(
import csv, json, sys
rows = list(csv.reader(open(sys.argv[1], newline='')))
objs = [json.loads(l) for l in open(sys.argv[2])]
assert rows[0] == list(objs[0]), rows[0]
assert rows[1:] == [['' if v is None else str(v) for v in o.values()] for o in objs], (rows[1:3], objs[:2])
assert open(sys.argv[1], 'rb').read().count(b'\r\n') == len(rows)
)",
                         {dir / "c.csv", dir / "c.jsonl"}),
                  0)
            << filter;
    }
}

TEST_F(CliExportTest, FilterShowsTheMatchingRowsWithTheirNumbers) {
    struct Case {
        std::string input, filter, each, numbers;  // `each`: a text every row shown holds
    } cases[] = {
        {Quote(kSample), "port:80", ":80\t", "2 6 8 20 21 "},
        {"--wide " + Quote(kMixed), "host:2001:db8::/32 udp", "]:", "1 2 8 14 "},
        {"--wide " + Quote(kMixed), "host:[2001:db8::cb00:713b]:443", "[2001:db8::cb00:713b]:443", "0 "},
        {"--wide " + Quote(kMixed), "[2001:db8::a00:10f]:33233", "[2001:db8::a00:10f]:33233", "2 "},
        {"--wide " + Quote(kMixed), "host:0.0.0.0/0 -port:443", "\t10.0.1.", "5 12 15 16 "},
        {"--wide " + Quote(kMixed), "0.0.0.0", "", ""},
    };
    for (const Case& c : cases) {
        Result r = Run("connections " + c.input + " --filter " + Quote(c.filter));
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        std::string line, numbers;
        while (std::getline(lines, line)) {
            EXPECT_NE(line.find(c.each), std::string::npos) << line;
            numbers += line.substr(0, line.find('\t')) + " ";
        }
        EXPECT_EQ(numbers, c.numbers) << c.filter;
    }
}

TEST_F(CliExportTest, BadFiltersAreToldQuickly) {
    struct Case {
        std::string filter;
        const char* reason;
    } cases[] = {
        {std::string(10000, 'x'), "longer than any text"},
        {"http \"abc", "is not closed"},
        {"port:99999", "\"99999\" is not a port number"},
        {"host:not-an-address", "is not an IPv4 or IPv6 address"},
        {"\xE2\x9C\x93 tcp", "ASCII"},
        {std::string(10000, '"') + "\"", "is not closed"},
    };
    for (const Case& c : cases) {
        for (const char* command : {"connections ", "export "}) {
            Result r = Run(command + Quote(kSample) + " --filter " + Quote(c.filter) +
                           (command[0] == 'e' ? " -w " + Quote((dir / "x.pcap").string()) : ""));
            EXPECT_EQ(r.status, 2) << c.filter.substr(0, 30);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind("pacterra-cli: the filter cannot be used:\nword \"", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
            EXPECT_LT(r.err.size(), 400u) << "a long word is cut";
            EXPECT_LT(r.seconds, 5.0);
        }
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"err", "out"}));
    for (const char* args : {"--format", "--format xml", "--filter", "--format csv --filter"}) {
        Result r = Run("connections " + Quote(kSample) + " " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << args;
    }
}

// A capture made of the flows of Community ID's published baseline, each answered: the exported
// community_id of every connection is the published one.
TEST_F(CliExportTest, CommunityIdsOfACaptureMatchTheBaseline) {
    struct Flow {
        uint8_t src[4], dst[4];
        uint16_t sport, dport;
        int protocol;
        const char* id;
    } flows[] = {
        {{1, 2, 3, 4}, {5, 6, 7, 8}, 1122, 3344, 6, "1:wCb3OG7yAFWelaUydu0D+125CLM="},
        {{5, 6, 7, 8}, {1, 2, 3, 4}, 3344, 1122, 17, "1:0Mu9InQx6z4ZiCZM/7HXi2WMhOg="},
        {{128, 232, 110, 120}, {66, 35, 250, 204}, 34855, 80, 6, "1:LQU9qZlK+B5F3KDmev6m5PMibrg="},
        {{8, 8, 8, 8}, {192, 168, 1, 52}, 53, 54585, 17, "1:d/FP5EW3wiY1vCndhwleRRKHowQ="},
    };
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* d = pcap_dump_open(dead, (dir / "flows.pcap").c_str());
    ASSERT_NE(d, nullptr);
    int n = 0;
    for (const Flow& f : flows) {
        for (bool reply : {false, true}) {
            FrameSpec s;
            std::copy_n(reply ? f.dst : f.src, 4, s.src);
            std::copy_n(reply ? f.src : f.dst, 4, s.dst);
            s.srcPort = reply ? f.dport : f.sport;
            s.dstPort = reply ? f.sport : f.dport;
            s.protocol = f.protocol;
            const std::vector<uint8_t> frame = BuildFrame(s);
            pcap_pkthdr h{};
            h.ts.tv_sec = 1700000000 + n++;
            h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
            pcap_dump(reinterpret_cast<u_char*>(d), &h, frame.data());
        }
    }
    pcap_dump_close(d);
    pcap_close(dead);
    Result r = Run("connections " + Quote((dir / "flows.pcap").string()) + " --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    for (const Flow& f : flows) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_NE(line.find(std::string("\"community_id\":\"") + f.id + "\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"packets\":2"), std::string::npos) << line;
    }
}

TEST_F(CliExportTest, ExportWritesTheChosenConnectionsPackets) {
    const fs::path out = dir / "two.pcap";
    Result r = Run("export " + Quote(kSample) + " 8 2 -w " + Quote(out.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("36 packets of 2 connections written"), std::string::npos) << r.err;
    // The file holds the two connections, whole and in their order, and nothing else.
    Result back = Run("connections " + Quote(out.string()));
    ASSERT_EQ(back.status, 0);
    EXPECT_EQ(back.err, "36 packets, 2 connections, 0 short\n");
    for (int c : {2, 8}) {
        Result a = Run("packets " + Quote(kSample) + " " + std::to_string(c));
        Result b = Run("packets " + Quote(out.string()) + " " + std::to_string(c == 2 ? 0 : 1));
        EXPECT_EQ(a.out, b.out) << c;
    }
    Result filtered =
        Run("export " + Quote(kSample) + " --filter udp -w " + Quote((dir / "udp.pcap").string()));
    ASSERT_EQ(filtered.status, 0) << filtered.err;
    Result udp = Run("connections " + Quote((dir / "udp.pcap").string()));
    EXPECT_EQ(udp.out.find("TCP"), std::string::npos);
    auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
    EXPECT_EQ(lines(udp.out), lines(Run("connections " + Quote(kSample) + " --filter udp").out));
}

TEST_F(CliExportTest, FailedExportsLeaveNoFile) {
    // A connection that is not there: nothing written, status 1.
    Result missing = Run("export " + Quote(kSample) + " 2 99 -w " + Quote((dir / "m.pcap").string()));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no connection 99 (the file holds 22); nothing was written"),
              std::string::npos)
        << missing.err;
    // A folder that cannot be written (root writes anywhere: a folder that does not exist).
    fs::create_directories(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path locked = ::geteuid() == 0 ? dir / "none" / "x.pcap" : dir / "locked" / "x.pcap";
    Result denied = Run("export " + Quote(kSample) + " 2 -w " + Quote(locked.string()));
    EXPECT_EQ(denied.status, 1);
    EXPECT_NE(denied.err.find("PCAP Error: Error opening the dump file"), std::string::npos) << denied.err;
    // A file-size limit of 8 KB (the whole capture is about 30 KB): the save fails, no partial file stays.
    Result limited =
        Run("export " + Quote(kSample) + " 2 12 -w " + Quote((dir / "big.pcap").string()), "ulimit -f 8;");
    EXPECT_EQ(limited.status, 1) << limited.err;
    EXPECT_NE(limited.err.find("File too large"), std::string::npos) << limited.err;
    EXPECT_EQ(Names(), (std::vector<std::string>{"err", "locked", "out"}));
    for (const char* args : {"export f", "export f 1", "export f x -w o", "export f 1 --filter tcp -w o"}) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << args;
    }
}

}  // namespace
