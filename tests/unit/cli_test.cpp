// Runs the real pacterra-cli on real capture files.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../ChildProcess.h"
#include "../ConfigCfg.h"
#include "FrameBuilder.h"
#include "ScratchDir.h"
#include "config/CaptureConfig.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    // `stdoutPath`: where standard output goes instead of being kept.
    Result Run(const std::string& args, const std::string& stdoutPath = {}) {
        std::string cmd = "TZ=UTC HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + dir.string() + "' '" +
                          std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli' " + args + " >'" +
                          (stdoutPath.empty() ? (dir / "out").string() : stdoutPath) + "' 2>'" +
                          (dir / "err").string() + "'";
        Result r;
        int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(dir / "out");
        r.err = ReadFile(dir / "err");
        return r;
    }

    static std::string Data(const std::string& name) {
        return std::string(PACTERRA_SOURCE_DIR) + "/tests/data/" + name;
    }

    // Writes frames into a capture file of the given link type.
    void WriteCapture(const fs::path& path, const std::vector<std::vector<uint8_t>>& frames,
                      int link = DLT_EN10MB, int64_t stepUs = 1500) {
        pcap_t* dead = pcap_open_dead(link, 65536);
        pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
        ASSERT_NE(d, nullptr);
        int64_t usec = 0;
        for (const auto& f : frames) {
            pcap_pkthdr h{};
            h.ts.tv_sec = 1700000000 + usec / 1000000;
            h.ts.tv_usec = usec % 1000000;
            usec += stepUs;
            h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
            pcap_dump(reinterpret_cast<u_char*>(d), &h, f.data());
        }
        pcap_dump_close(d);
        pcap_close(dead);
    }

    const ScratchDir scratch{"cli-test"};
    const fs::path& dir = scratch.Path();
};

TEST_F(CliTest, LoopbackCaptureByTcpdump) {
    Result r = Run("connections '" + Data("lo-tcpdump.cap") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ReadFile(Data("lo-tcpdump.connections.txt")));
    EXPECT_EQ(r.err, "17 packets, 4 connections, 0 short\n");

    r = Run("packets '" + Data("lo-tcpdump.cap") + "' 0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ReadFile(Data("lo-tcpdump.packets0.txt")));
}

// TLS 1.3 and 1.2, HTTP, HTTPS and QUIC v1 made on loopback (tests/data/make-names-capture.sh): each
// connection's name is the one tshark shows, and the decode of the ClientHello's packet selects it.
TEST_F(CliTest, ServerNamesOfALoopbackCapture) {
    Result r = Run("connections '" + Data("names.cap") + "' --format csv");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string names;
    for (size_t at = r.out.find("\r\n"); at != std::string::npos && at + 2 < r.out.size();) {
        const size_t end = r.out.find("\r\n", at + 2);
        const std::string row = r.out.substr(at + 2, end - at - 2);
        names += row.substr(row.rfind(',', row.rfind(',') - 1) + 1) + ";";
        at = end;
    }
    EXPECT_EQ(names,
              "tls13.example.com,tls;tls12.example.org,tls;web.example.net:8080,http;curl.example.com,tls;"
              "quic.example.com,quic;");
    r = Run("decode '" + Data("names.cap") + "' 3");
    EXPECT_NE(r.out.find("\nTLS ClientHello\t[]\n  Server name: tls13.example.com\t[165,17]\n"),
              std::string::npos)
        << r.out;
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    // The capture cases name an adapter that does not exist and carry the other limit, so that a value
    // that slipped through ends quickly with status 1 instead of capturing.
    for (const char* args :
         {"", "frobnicate x", "connections", "connections a b", "packets f", "packets f x", "packets f -1",
          "connections f --bogus", "connections f --config", "capture -i pacterra-nodev0 -t 0.2 -c 0.5",
          "capture -i pacterra-nodev0 -t 0.2 -c 0", "capture -i pacterra-nodev0 -t 0.2 -c 1e30",
          "capture -i pacterra-nodev0 -t 0.2 -c 99999999999999999999999",
          "capture -i pacterra-nodev0 -c 1 -t -1", "capture -i pacterra-nodev0 -c 1 -t 0",
          "capture -i pacterra-nodev0 -c 1 -t 1x"}) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << args;
    }
    Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("pacterra-cli packets FILE CONN"), std::string::npos);
}

TEST_F(CliTest, UnreadableFileGivesLibpcapsError) {
    Result r = Run("connections '" + (dir / "missing.cap").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("PCAP error: Error opening the offline packets file!\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST_F(CliTest, DamagedFileKeepsThePacketsBeforeTheDamage) {
    std::string whole = ReadFile(Data("lo-tcpdump.cap"));
    // Cut into the last record (the ICMP frame, which is ignored anyway) and into the one before it.
    for (size_t cut : {whole.size() - 10, whole.size() - 70 - 16 - 20}) {
        std::ofstream(dir / "cut.cap", std::ios::binary) << whole.substr(0, cut);
        Result r = Run("connections '" + (dir / "cut.cap").string() + "'");
        EXPECT_EQ(r.status, 1) << cut;
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("127.0.0.1:41000"), std::string::npos) << "packets before the damage are kept";
    }
}

TEST_F(CliTest, NonEthernetFileIsRefused) {
    FrameSpec s;
    WriteCapture(dir / "raw.cap", {BuildFrame(s)}, DLT_RAW);
    Result r = Run("connections '" + (dir / "raw.cap").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Ethernet"), std::string::npos) << r.err;
}

// Two packets 200,001 s apart in bins of 1 s: every bin is printed, none widened.
TEST_F(CliTest, RatePrintsTheBinsAskedFor) {
    FrameSpec s;
    WriteCapture(dir / "far.cap", {BuildFrame(s), BuildFrame(s)}, DLT_EN10MB, 200'001'000'000);
    Result r = Run("rate '" + (dir / "far.cap").string() + "' --bin 1 --conn 0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 200'002);
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "200001\t1\t54\t54\t0\n");
}

TEST_F(CliTest, RulesAndBufferSizeApplyOnlyWhenAsked) {
    std::vector<std::vector<uint8_t>> frames;
    FrameSpec big;
    big.protocol = 17;
    big.payload = std::string(1400, 'x');
    for (int i = 0; i < 2000; ++i) {
        big.srcPort = static_cast<uint16_t>(1000 + i % 3);
        frames.push_back(BuildFrame(big));
    }
    WriteCapture(dir / "big.cap", frames);

    CCaptureConfig config;
    config.bufferMB = 1;
    config.defaultAccept = 1;
    CFilterItem dropOne;
    dropOne.anyIp = 1;
    dropOne.ports = {1001};
    config.filters = {dropOne};
    WriteConfigFile(dir / "Config.cfg", config);

    Result all = Run("connections '" + (dir / "big.cap").string() + "'");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "2000 packets, 3 connections, 0 short\n");

    Result ruled = Run("connections '" + (dir / "big.cap").string() + "' --config '" +
                       (dir / "Config.cfg").string() + "'");
    EXPECT_EQ(ruled.status, 0) << ruled.err;
    EXPECT_EQ(ruled.out.find(":1001\t"), std::string::npos) << "port 1001 is dropped";
    // The file is indexed in place: the buffer limit (1 MB of 1442-byte frames) does not cut it short.
    EXPECT_EQ(ruled.err, "1333 packets, 2 connections, 0 short\n");
    // Read as a stream, its frames are copied: the limit ends the load within one batch after it is passed.
    ruled = Run("connections - --config '" + (dir / "Config.cfg").string() + "' <'" +
                (dir / "big.cap").string() + "'");
    EXPECT_EQ(ruled.status, 0) << ruled.err;
    EXPECT_EQ(ruled.out.find(":1001\t"), std::string::npos) << "port 1001 is dropped";
    int packets = std::stoi(ruled.err);
    EXPECT_GT(packets * 1442, 1 << 20);
    EXPECT_LT(packets, 1400);

    // A configuration named that cannot be used is an error, not accept-all.
    const std::string whole = ReadFile(dir / "Config.cfg");
    std::ofstream(dir / "trunc.cfg", std::ios::binary) << whole.substr(0, whole.size() - 3);
    for (const std::string cfg : {(dir / "trunc.cfg").string(), std::string("/dev/zero"), dir.string()}) {
        Result bad = Run("connections '" + (dir / "big.cap").string() + "' --config '" + cfg + "'");
        EXPECT_EQ(bad.status, 1) << cfg;
        EXPECT_EQ(bad.out, "") << cfg;
        EXPECT_NE(bad.err.find("pacterra-cli: cannot "), std::string::npos) << bad.err;
    }
}

}  // namespace

namespace {

// The sample's request from 192.168.1.31 carries IP options (a 24-byte IP header): its ports stand four
// bytes later than in a plain header.
TEST_F(CliTest, DecodeShowsThePortsAPacketWithIpOptionsReallyCarries) {
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    Result r = Run("decode '" + sample + "' 54");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line :
         {"Packet: 511 bytes\t[0,58]\n", "  IP Header\t[14,24]\n", "    Header Length: 6\t[14,1]\n",
          "  TCP Header\t[38,20]\n", "    Src Port: 53572\t[38,2]\n", "    Dst Port: 80\t[40,2]\n",
          "      PSH: 1\t[]\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

    r = Run("hex '" + sample + "' 54");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 3 * 72),
              "0000  00 1E 58 B3 7A 01 8C 16 45 62 0B 9A 08 00 46 00  ..X.z...Eb....F.\n"
              "0010  01 F1 3B BB 40 00 80 06 3B FF C0 A8 01 1F C6 33  ..;.@...;......3\n"
              "0020  64 4D 94 04 00 00 D1 44 00 50 30 44 AE 74 59 52  dM.....D.P0D.tYR\n");
    // 511 bytes: 32 lines, the last one short.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 32);

    r = Run("decode '" + sample + "' 167");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no packet 167"), std::string::npos) << r.err;
    EXPECT_EQ(Run("hex '" + sample + "' x").status, 2);
}

}  // namespace

namespace {

// Slips a user makes and failures a script must be able to see in the exit status.
TEST_F(CliTest, FailuresAndSlipsAreReportedNotPassedOver) {
    const std::string sample = "'" + std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap'";
    struct Case {
        const char* what;
        std::string args;
        std::string output;
        int status;
        const char* err;
    } cases[] = {
        {"output to a full disk", "connections " + sample, "/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"packets to a full disk", "packets " + sample + " 0", "/dev/full", 1, "cannot write the output"},
        {"decode to a full disk", "decode " + sample + " 0", "/dev/full", 1, "cannot write the output"},
        {"an empty file to save to", "capture -i pacterra-nodev0 -t 0.2 -w ''", "", 2,
         "-w needs a file name"},
        {"an index beyond any number", "decode " + sample + " 99999999999999999999", "", 1,
         "no packet 99999999999999999999 (the file holds"},
        {"a connection beyond any number", "packets " + sample + " 99999999999999999999", "", 1,
         "no connection 99999999999999999999 (the file holds"},
    };
    for (const Case& c : cases) {
        Result r = Run(c.args, c.output);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
    }
}

TEST_F(CliTest, TheSummaryLineSaysWhenTheBufferLimitStoppedTheLoad) {
    FrameSpec big;
    big.protocol = 17;
    big.payload = std::string(1400, 'x');
    WriteCapture(dir / "big.cap", std::vector<std::vector<uint8_t>>(2000, BuildFrame(big)));
    CCaptureConfig config;
    config.bufferMB = 1;
    config.defaultAccept = 1;
    WriteConfigFile(dir / "Config.cfg", config);
    Result r = Run("connections '" + (dir / "big.cap").string() + "' --config '" +
                   (dir / "Config.cfg").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "2000 packets, 1 connections, 0 short\n") << "a file in place copies nothing";
    r = Run("connections - --config '" + (dir / "Config.cfg").string() + "' <'" + (dir / "big.cap").string() +
            "'");
    EXPECT_EQ(r.status, 0) << r.err;
    const int packets = std::stoi(r.err);
    EXPECT_EQ(r.err, std::to_string(packets) +
                         " packets, 1 connections, 0 short; stopped by the buffer limit of "
                         "1 MB at " +
                         std::to_string(packets * 1442) + " bytes\n");
}

}  // namespace

namespace {

// A capture arriving on standard input or through a pipe reads like the same file; what is no capture
// (a directory, an empty file or stream, a damaged or non-Ethernet stream) is named as such.
TEST_F(CliTest, StreamsAndThingsThatAreNoCaptureFile) {
    const std::string file = Data("lo-tcpdump.cap");
    const std::string whole = ReadFile(file);
    std::ofstream(dir / "cut.cap", std::ios::binary) << whole.substr(0, whole.size() - 10);
    std::ofstream(dir / "empty.cap").close();
    FrameSpec s;
    WriteCapture(dir / "raw.cap", {BuildFrame(s)}, DLT_RAW);
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string expected = ReadFile(Data("lo-tcpdump.connections.txt"));
    struct Case {
        const char* what;
        std::string args;
        std::string writer;  // run in the background before the tool: feeds the pipe
        int status;
        std::string out, err;
    } cases[] = {
        {"standard input", "connections - <'" + file + "'", "", 0, expected, "17 packets, 4 connections"},
        {"a pipe fed in pieces", "connections '" + fifo.string() + "'",
         "(head -c 1000 '" + file + "'; sleep 0.3; tail -c +1001 '" + file + "') >'" + fifo.string() + "' &",
         0, expected, "17 packets, 4 connections"},
        {"a stream cut short", "connections - <'" + (dir / "cut.cap").string() + "'", "", 1, "",
         "damaged or ends early. The packets read before the damage are kept.\nstandard input: truncated"},
        {"a stream of raw IP", "connections - <'" + (dir / "raw.cap").string() + "'", "", 1, "",
         "does not hold Ethernet frames!\nThe stream has link type 12"},
        {"an empty stream", "connections - </dev/null", "", 1, "", "standard input: truncated dump file"},
        {"a directory", "connections '" + dir.string() + "'", "", 1, "",
         ": it is a directory, not a capture file."},
        {"an empty file", "connections '" + (dir / "empty.cap").string() + "'", "", 1, "",
         ": the file is empty (0 bytes)."},
    };
    for (const Case& c : cases) {
        if (!c.writer.empty()) {
            ASSERT_EQ(std::system(c.writer.c_str()), 0) << c.what;
        }
        Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (!c.out.empty()) {
            EXPECT_EQ(r.out, c.out) << c.what;
        }
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
    }
}

// Ctrl+C ends the reading of a stream that has gone quiet, like a live capture.
TEST_F(CliTest, InterruptingAQuietStreamEndsIt) {
    int feed[2];
    ASSERT_EQ(::pipe(feed), 0);
    const fs::path err = dir / "err";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(feed[0], STDIN_FILENO);
        ::close(feed[1]);
        std::freopen("/dev/null", "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
        ::execl(cli.c_str(), cli.c_str(), "connections", "-", nullptr);
        ::_exit(127);
    }
    ::close(feed[0]);
    // The file header and the first record, then nothing more.
    const std::string whole = ReadFile(Data("lo-tcpdump.cap"));
    uint32_t first = 0;
    std::memcpy(&first, whole.data() + 24 + 8, 4);
    const std::string header = whole.substr(0, 24 + 16 + first);
    ASSERT_EQ(::write(feed[1], header.data(), header.size()), static_cast<ssize_t>(header.size()));
    ::usleep(300000);
    ::kill(pid, SIGINT);
    int raw = 0;
    if (!WaitOrKill(pid, std::chrono::seconds(2), raw))
        ADD_FAILURE() << "still reading two seconds after Ctrl+C";
    ::close(feed[1]);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << ": " << ReadFile(err);
    EXPECT_EQ(ReadFile(err).rfind("1 packets, 1 connections", 0), 0u) << ReadFile(err);
}

// A file and the same bytes through standard input (read by the capture library as a stream) give the same
// rows, however odd the file: records longer than its snapshot length are cut to it in both.
TEST_F(CliTest, AFileAndTheSameFileAsAStreamGiveTheSameRows) {
    FrameSpec small;
    small.payload = "ab";
    FrameSpec big;
    big.srcPort = 4321;
    big.payload = std::string(46, 'x');
    const std::vector<uint8_t> a = BuildFrame(small), b = BuildFrame(big);  // 56 and 100 bytes
    struct Case {
        const char* what;
        bool swapped, nano;
        uint16_t minor;
        uint32_t snaplen;
        bool oldLengthOrder;  // version 2.3 written with len before caplen
    } cases[] = {
        {"a snapshot length below the frames", false, false, 4, 60, false},
        {"the same, big-endian with nanoseconds", true, true, 4, 60, false},
        {"a zero snapshot length", false, false, 4, 0, false},
        {"version 2.3 with the lengths the old way round", false, false, 3, 60, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file;
        auto u32 = [&](uint32_t v) {
            v = c.swapped ? __builtin_bswap32(v) : v;
            file.append(reinterpret_cast<const char*>(&v), 4);
        };
        auto u16 = [&](uint16_t v) {
            v = c.swapped ? __builtin_bswap16(v) : v;
            file.append(reinterpret_cast<const char*>(&v), 2);
        };
        u32(c.nano ? 0xA1B23C4D : 0xA1B2C3D4);
        u16(2);
        u16(c.minor);
        u32(0);
        u32(0);
        u32(c.snaplen);
        u32(1);
        uint32_t i = 0;
        for (const auto* frame : {&a, &b, &a, &b, &a}) {
            const auto size = static_cast<uint32_t>(frame->size());
            u32(1700000000 + i);
            u32(c.nano ? i * 1000999 : i * 1000);
            // Cut 10 bytes short on the wire, in the old order: the length on the wire comes first.
            u32(c.oldLengthOrder ? size + 10 : size);
            u32(size);
            file.append(frame->begin(), frame->end());
            ++i;
        }
        const fs::path path = dir / "odd.cap";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
        for (const char* command : {"connections", "packets"}) {
            const std::string tail = std::string(command) == "packets" ? " 0" : "";
            const Result asFile = Run(std::string(command) + " '" + path.string() + "'" + tail);
            const Result asStream = Run(std::string(command) + " -" + tail + " <'" + path.string() + "'");
            EXPECT_EQ(asFile.status, 0) << asFile.err;
            EXPECT_EQ(asStream.status, 0) << asStream.err;
            EXPECT_NE(asFile.out, "");
            EXPECT_EQ(asFile.out, asStream.out) << command;
            EXPECT_EQ(asFile.err, asStream.err) << command;
        }
    }
}

// What --help and the README say about reading without --rules is what happens: a file is read whole, a
// stream stops at the default buffer of 50 MB like a live capture.
TEST_F(CliTest, WithoutRulesAFileIsReadWholeAndAStreamStopsAtTheDefaultBuffer) {
    auto words = [](std::string text) {
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::string out;
        for (char c : text)
            if (c != ' ' || (!out.empty() && out.back() != ' '))
                out += c;
        return out;
    };
    const std::string help = words(Run("--help").out);
    EXPECT_NE(
        help.find("Without --rules every TCP and UDP packet is kept: a file is read whole, however large"),
        std::string::npos)
        << help;
    EXPECT_NE(
        help.find("a stream (- or a pipe) and a live capture keep packets until the default buffer of 50 "
                  "MB is full, and there the reading stops."),
        std::string::npos)
        << help;
    const std::string readme = words(ReadFile(std::string(PACTERRA_SOURCE_DIR) + "/README.md"));
    EXPECT_NE(readme.find("Without `--rules` every TCP and UDP packet is kept: a FILE is read whole, however "
                          "large"),
              std::string::npos);
    EXPECT_NE(
        readme.find("a stream (`-` or a pipe) and a live capture keep packets until the default buffer of "
                    "50 MB is full, and there the reading stops"),
        std::string::npos);

    FrameSpec big;
    big.protocol = 17;
    big.payload = std::string(1400, 'x');
    const size_t frames = (size_t{CCaptureConfig::kDefaultBufferMB} << 20) / 1442 + 2000;  // beyond 50 MB
    const fs::path file = dir / "big.cap";
    WriteCapture(file, std::vector<std::vector<uint8_t>>(frames, BuildFrame(big)));
    Result r = Run("connections '" + file.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, std::to_string(frames) + " packets, 1 connections, 0 short\n");
    r = Run("connections - <'" + file.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(" packets, 1 connections, 0 short; stopped by the buffer limit of 50 MB at "),
              std::string::npos)
        << r.err;
    EXPECT_LT(std::stoul(r.err), frames);
}

}  // namespace
