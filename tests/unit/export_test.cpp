#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "AnalysisStore.h"
#include "ScratchDir.h"
#include "analysis/CommunityId.h"
#include "analysis/Export.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/ProcessOwner.h"

namespace fs = std::filesystem;

namespace {

class ExportTest : public StoreFixture {
protected:
    std::vector<std::string> Names() const { return scratch.Names(); }
    const ScratchDir scratch{"export-test"};
    const fs::path& dir = scratch.Path();
};

const Peer kClient{{192, 168, 1, 23}, 40441};
const Peer kWeb{{198, 51, 100, 10}, 80};

TEST_F(ExportTest, JsonLineHoldsEveryField) {
    Packet(kClient, kWeb, 1, 74, 1700000000, 42);
    Packet(kWeb, kClient, 1, 1514, 1700000001, 500000);
    Packet(kClient, kWeb, 1, 66, 1700000002, 999999);
    std::string out;
    ASSERT_TRUE(WriteConnections(ConnectionFormat::JsonLines, nullptr, [&](std::string_view s) {
        out += s;
        return true;
    }));
    EXPECT_EQ(
        out,
        "{\"number\":0,\"start\":\"2023-11-14T22:13:20.000042Z\",\"last\":\"2023-11-14T22:13:22.999999Z\","
        "\"client_ip\":\"192.168.1.23\",\"client_port\":40441,\"server_ip\":\"198.51.100.10\","
        "\"server_port\":80,\"protocol\":\"TCP\",\"service\":\"TCP:http\",\"packets\":3,"
        "\"bytes_to_server\":140,\"bytes_to_client\":1514,\"community_id\":\"" +
            CommunityIdHasher().Compute(g_connectionTable[0]).str() +
            "\",\"server_name\":null,\"name_source\":null}\n");

    // IPv6: the addresses as the lists write them, and the published baseline's Community ID of the flow.
    ResetCaptureStore();
    g_captureState = CAPTURE_RUNNING;
    Packet({"2001:470:e5bf:dead:4957:2174:e82c:4887", 63943}, {"2607:f8b0:400c:c03::1a", 25}, 1, 74);
    out.clear();
    ASSERT_TRUE(WriteConnections(ConnectionFormat::JsonLines, nullptr, [&](std::string_view s) {
        out += s;
        return true;
    }));
    EXPECT_NE(out.find("\"client_ip\":\"2001:470:e5bf:dead:4957:2174:e82c:4887\",\"client_port\":63943,"
                       "\"server_ip\":\"2607:f8b0:400c:c03::1a\",\"server_port\":25,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"community_id\":\"1:/qFaeAR+gFe1KYjMzVDsMv+wgU4=\","), std::string::npos) << out;

    // A live capture's connections carry their owners, null where not known; the CSV too.
    g_ownersLookedUp = true;
    SetConnectionOwners(&g_connectionTable[0], {{4121, 0, "cu\"rl", "/usr/bin/curl", "root"}, {}});
    for (ConnectionFormat format : {ConnectionFormat::JsonLines, ConnectionFormat::Csv}) {
        out.clear();
        ASSERT_TRUE(WriteConnections(format, nullptr, [&](std::string_view s) {
            out += s;
            return true;
        }));
        EXPECT_NE(
            out.find(format == ConnectionFormat::Csv
                         ? ",client_pid,client_process,client_user,server_pid,server_process,server_user\r\n"
                         : "\"name_source\":null,\"client_pid\":4121,\"client_process\":\"cu\\\"rl\","
                           "\"client_user\":\"root\","
                           "\"server_pid\":null,\"server_process\":null,\"server_user\":null}\n"),
            std::string::npos)
            << out;
        if (format == ConnectionFormat::Csv) {
            EXPECT_NE(out.find(",4121,\"cu\"\"rl\",root,,,\r\n"), std::string::npos) << out;
        }
    }
}

TEST_F(ExportTest, UtcTimesAcrossTheCalendar) {
    struct Case {
        int64_t sec;
        int32_t usec;
        const char* text;
    } cases[] = {{0, 0, "1970-01-01T00:00:00.000000Z"},
                 {951782400, 1, "2000-02-29T00:00:00.000001Z"},
                 {4102444799, 999999, "2099-12-31T23:59:59.999999Z"},
                 {-1, 0, "1969-12-31T23:59:59.000000Z"},
                 {-86401, 0, "1969-12-30T23:59:59.000000Z"},
                 {-62167219200, 0, "0000-01-01T00:00:00.000000Z"},
                 {-62167219201, 0, "0000-01-01T00:00:00.000000Z"},
                 {253402300799, 999999, "9999-12-31T23:59:59.999999Z"},
                 {253402300800, 0, "0000-01-01T00:00:00.000000Z"},
                 {INT64_MIN, 0, "0000-01-01T00:00:00.000000Z"},
                 {INT64_MAX / 2, 0, "0000-01-01T00:00:00.000000Z"}};
    for (const Case& c : cases) {
        std::string out;
        AppendUtcTime({c.sec, c.usec}, out);
        EXPECT_EQ(out, c.text) << c.sec;
    }
}

TEST_F(ExportTest, CsvHasTheFieldsOfTheJsonLines) {
    Packet(kClient, kWeb);
    Packet({{10, 0, 0, 1}, 53}, {{10, 0, 0, 2}, 5353}, 0);
    Packet({"2001:db8::1", 53}, {"::1", 5353}, 0);
    Packet({{10, 0, 0, 1}, 40000}, {{10, 0, 0, 2}, 40001}, 0);  // no known service
    std::string csv, json;
    const std::vector<uint32_t> only{2, 3};
    for (auto [format, target] :
         {std::pair{ConnectionFormat::Csv, &csv}, {ConnectionFormat::JsonLines, &json}})
        ASSERT_TRUE(WriteConnections(format, &only, [out = target](std::string_view s) {
            *out += s;
            return true;
        }));
    // The JSON's values in its order, unquoted (none holds a comma or a quote), one record a line.
    std::string values = std::regex_replace(json, std::regex(R"("[a-z_]+":|["{])"), "");
    values = std::regex_replace(values, std::regex("\\}\n"), "\r\n");
    values = std::regex_replace(values, std::regex("null(?=,|\r)"), "");  // no name: empty in CSV
    EXPECT_EQ(csv,
              "number,start,last,client_ip,client_port,server_ip,server_port,protocol,service,packets,"
              "bytes_to_server,bytes_to_client,community_id,server_name,name_source\r\n" +
                  values);
    EXPECT_NE(csv.find(",2001:db8::1,53,::1,5353,UDP,UDP:Domain,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",10.0.0.1,40000,10.0.0.2,40001,UDP,,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\n3,1970-01-01T00:00:00.000000Z,"), std::string::npos) << csv;
}

TEST_F(ExportTest, FileIsReplacedOnlyWhenComplete) {
    Packet(kClient, kWeb);
    const fs::path target = dir / "conns.csv";
    std::ofstream(target) << "old";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ExportConnectionsToFile(ConnectionFormat::Csv, nullptr, target.string()).error, "");
    EXPECT_EQ(ReadFile(target).rfind("number,start,last,", 0), 0u);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(Names(), std::vector<std::string>{"conns.csv"});

    // Cancelled part-way: the old file stays, nothing else is left.
    for (int i = 0; i < 20000; ++i)
        Packet({{10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, 1000}, kWeb);
    const std::string before = ReadFile(target);
    EXPECT_EQ(ExportConnectionsToFile(ConnectionFormat::JsonLines, nullptr, target.string(),
                                      [](size_t done, size_t) { return done < 10000; })
                  .status,
              CommandResult::Cancelled);
    EXPECT_EQ(ReadFile(target), before);
    EXPECT_EQ(Names(), std::vector<std::string>{"conns.csv"});
}

TEST_F(ExportTest, FailuresLeaveNoPartialFile) {
    for (int i = 0; i < 20000; ++i)
        Packet({{10, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, 1000}, kWeb);
    // A folder that cannot be written (root may write anywhere: a missing folder then).
    const fs::path locked = dir / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path unwritable = ::geteuid() == 0 ? dir / "missing" / "c.jsonl" : locked / "c.jsonl";
    const std::string error =
        ExportConnectionsToFile(ConnectionFormat::JsonLines, nullptr, unwritable.string()).error;
    EXPECT_NE(error.find(unwritable.string() + ": "), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(unwritable));

    // A file-size limit of 64 KB: the write fails (File too large) and the temporary file goes.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const fs::path big = dir / "big.jsonl";
    const std::string full =
        ExportConnectionsToFile(ConnectionFormat::JsonLines, nullptr, big.string()).error;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_NE(full.find("File too large"), std::string::npos) << full;
    EXPECT_EQ(Names(), std::vector<std::string>{"locked"});

    // A directory is no file to write.
    EXPECT_NE(ExportConnectionsToFile(ConnectionFormat::Csv, nullptr, dir.string()).error.find("directory"),
              std::string::npos);
}

// Save and the exports write through one writer: a replaced file keeps its owner and permissions, and in a
// folder that takes no new file an existing file is rewritten in place and a new one refused.
TEST_F(ExportTest, SaveAndExportKeepTheOwnerAndWorkInAReadOnlyFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    Packet(kClient, kWeb);
    struct Case {
        const char* what;
        bool save, existing, asNobody;  // nobody may write its own file but not root's folder
    } cases[] = {
        {"save over another's file", true, true, false},
        {"export over another's file", false, true, false},
        {"save in a read-only folder", true, true, true},
        {"export in a read-only folder", false, true, true},
        {"new save, read-only folder", true, false, true},
        {"new export, read-only folder", false, false, true},
    };
    for (const Case& c : cases) {
        const fs::path target = dir / "out";
        if (c.existing) {
            std::ofstream(target) << "old";
            ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
            ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (c.asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            ::_exit(c.save
                        ? SaveCaptureFile(g_packetTable, target.string(), StandardErrorPrompts()) ==
                              CommandResult::Done
                        : ExportConnectionsToFile(ConnectionFormat::Csv, nullptr, target.string()).status ==
                              CommandResult::Done);
        }
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        EXPECT_EQ(WEXITSTATUS(raw), c.existing ? 1 : 0) << c.what;
        struct stat st {};
        EXPECT_EQ(::stat(target.c_str(), &st) == 0, c.existing) << c.what;
        if (c.existing) {
            EXPECT_EQ(st.st_uid, 65534u) << c.what;
            EXPECT_EQ(st.st_mode & 07777, 0640u) << c.what;
            EXPECT_GT(st.st_size, 3) << c.what;
        }
        EXPECT_EQ(Names(), c.existing ? std::vector<std::string>{"out"} : std::vector<std::string>{})
            << c.what;
        fs::remove(target);
    }
}

TEST_F(ExportTest, PacketsOfConnectionsComeInStoredOrder) {
    const Peer other{{10, 0, 0, 9}, 999};
    Packet(kClient, kWeb);   // packet 0, connection 0
    Packet(other, kWeb);     // 1, connection 1
    Packet(kWeb, kClient);   // 2, connection 0
    Packet(kWeb, other);     // 3, connection 1
    Packet(kClient, other);  // 4, connection 2
    EXPECT_EQ(PacketsOfConnections({1, 0}), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(PacketsOfConnections({2, 2}), (std::vector<uint32_t>{4}));
    EXPECT_EQ(PacketsOfConnections({}), (std::vector<uint32_t>{}));
    EXPECT_THROW(PacketsOfConnections({3}), std::out_of_range);
}

}  // namespace
