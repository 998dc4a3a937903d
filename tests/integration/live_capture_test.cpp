// Live captures on real interfaces, in a network namespace of the test's own: loopback, and a veth pair to
// a peer namespace with TEST-NET-2 addresses. Real sockets make the traffic; nothing leaves the machine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "NetNamespace.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/FrontEnd.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "config/Adapters.h"
#include "config/CaptureConfig.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string g_skipReason = "the namespace was not set up";

// Records messages (which may come from the capture thread) and answers file questions.
class RecordingFrontEnd : public IMainFrame {
public:
    void InsertRow(int) override { ++rows; }
    void CellsChanged(int, int, int) override {}
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string& detail) override {
        std::lock_guard lock(mutex);
        messages.push_back(text + " | " + detail);
        return MsgAnswer::Ok;
    }
    std::string AskFilePath(FileQuestion) override { return path; }

    std::string AllMessages() {
        std::lock_guard lock(mutex);
        std::string all;
        for (const auto& m : messages)
            all += m + "\n";
        return all;
    }

    std::atomic<int> rows{0};
    std::string path;

private:
    std::mutex mutex;
    std::vector<std::string> messages;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

sockaddr_in Address(const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// A socket bound to ip:port (port 0: any).
int BoundSocket(int type, const char* ip, uint16_t port) {
    int s = ::socket(AF_INET, type, 0);
    int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Address(ip, port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void SendUdp(int s, const char* ip, uint16_t port, const std::string& data) {
    sockaddr_in to = Address(ip, port);
    ::sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// The connection whose client and server ports are these, or -1.
int FindConnection(uint16_t clientPort, uint16_t serverPort, int tcp) {
    for (size_t i = 0; i < g_connectionTable.size(); ++i) {
        const ConnectionRecord& c = g_connectionTable[i];
        if (c.clientPort == clientPort && c.serverPort == serverPort && c.isTcp == tcp)
            return static_cast<int>(i);
    }
    return -1;
}

std::string Payload(const PacketRecord& p) {
    auto span = PacketPayload(p);
    return std::string(span.begin(), span.end());
}

// Every cell of both lists, as the window would show them.
std::string Tables() {
    std::string all;
    for (size_t c = 0; c < g_connectionTable.size(); ++c) {
        for (int column = 0; column < kConnectionColumns; ++column)
            all += ConnectionCellText(c, column).str() + "\t";
        all += "\n";
        const ConnectionRecord& conn = g_connectionTable[c];
        for (size_t i = 0; i < conn.packetIndices.size(); ++i) {
            const PacketRecord& p = g_packetTable[conn.packetIndices[i]];
            all += "  " + std::to_string(p.toServer.load()) + " " + std::to_string(p.stamp.sec) + "." +
                   std::to_string(p.stamp.usec);
            for (int column = 0; column < kPacketColumns; ++column)
                all += "\t" + PacketCellText(p, column);
            all += "\n";
        }
    }
    return all;
}

class LiveCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_skipReason.empty())
            GTEST_SKIP() << g_skipReason;
        dir = fs::temp_directory_path() / ("pacterra-live-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        ResetCaptureStore();
        g_config = CCaptureConfig();
        g_config.ApplyDefaults();
        g_pMainFrame = &frontEnd;
    }
    void TearDown() override {
        StopCaptureAndWait();
        g_pMainFrame = nullptr;
        ResetCaptureStore();
        if (!dir.empty())
            fs::remove_all(dir);
    }

    // Starts capturing on `device` and waits until a probe datagram to `probeIp` (through that device)
    // shows up, so that the traffic that follows is certainly seen.
    void StartAndWaitUntilCapturing(const std::string& device, const char* probeIp = "127.0.0.1") {
        StartCaptureThread(device);
        int s = BoundSocket(SOCK_DGRAM, "0.0.0.0", 0);
        ASSERT_GE(s, 0);
        bool seen = WaitFor([&] {
            SendUdp(s, probeIp, 9, "probe");
            return g_packetTable.size() > 0 || g_captureState.load() != CAPTURE_RUNNING;
        });
        ::close(s);
        ASSERT_TRUE(seen) << "no packet captured on " << device << "; " << frontEnd.AllMessages();
        ASSERT_EQ(g_captureState.load(), CAPTURE_RUNNING) << frontEnd.AllMessages();
    }

    // A UDP exchange 40000 -> 40001 and back, and a TCP connection from port 40081 to 40080 with a request
    // and a reply.
    void MakeLoopbackTraffic() {
        int a = BoundSocket(SOCK_DGRAM, "127.0.0.1", 40000);
        int b = BoundSocket(SOCK_DGRAM, "127.0.0.1", 40001);
        ASSERT_GE(a, 0);
        ASSERT_GE(b, 0);
        SendUdp(a, "127.0.0.1", 40001, "ping");
        char buffer[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ASSERT_EQ(::recvfrom(b, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len), 4);
        ::sendto(b, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), len);
        ::close(a);
        ::close(b);

        int listener = BoundSocket(SOCK_STREAM, "127.0.0.1", 40080);
        ASSERT_GE(listener, 0);
        ::listen(listener, 1);
        int client = BoundSocket(SOCK_STREAM, "127.0.0.1", 40081);
        sockaddr_in to = Address("127.0.0.1", 40080);
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        int server = ::accept(listener, nullptr, nullptr);
        ASSERT_EQ(::send(client, "GET / HTTP/1.0\r\n\r\n", 18, 0), 18);
        ASSERT_EQ(::recv(server, buffer, 18, MSG_WAITALL), 18);
        ASSERT_EQ(::send(server, "HTTP/1.0 200 OK\r\n\r\n", 19, 0), 19);
        ASSERT_EQ(::recv(client, buffer, 19, MSG_WAITALL), 19);
        ::close(client);
        ::close(server);
        ::close(listener);
        // Wait for the teardown's last segments to be captured.
        int tcp = -1;
        WaitFor([&] {
            tcp = FindConnection(40081, 40080, 1);
            return tcp >= 0 && g_connectionTable[static_cast<size_t>(tcp)].packetIndices.size() >= 9;
        });
        std::this_thread::sleep_for(200ms);
    }

    RecordingFrontEnd frontEnd;
    fs::path dir;
};

TEST_F(LiveCaptureTest, LoopbackConnectionsComeOutWithClientAndServerTheWayRoundTheFirstPacketSays) {
    const auto before = std::chrono::system_clock::now();
    StartAndWaitUntilCapturing("lo");
    MakeLoopbackTraffic();
    StopCaptureAndWait();
    EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);

    int udp = FindConnection(40000, 40001, 0);
    ASSERT_GE(udp, 0) << Tables();
    const ConnectionRecord& u = g_connectionTable[static_cast<size_t>(udp)];
    ASSERT_EQ(u.packetIndices.size(), 2u);
    const PacketRecord& ping = g_packetTable[u.packetIndices[0]];
    const PacketRecord& pong = g_packetTable[u.packetIndices[1]];
    EXPECT_EQ(ping.toServer.load(), 1);
    EXPECT_EQ(pong.toServer.load(), 0);
    EXPECT_EQ(Payload(ping), "ping");
    EXPECT_EQ(Payload(pong), "pong");
    EXPECT_EQ(ConnectionCellText(static_cast<size_t>(udp), 2), "127.0.0.1:40000");
    EXPECT_EQ(ConnectionCellText(static_cast<size_t>(udp), 3), "127.0.0.1:40001");

    int tcp = FindConnection(40081, 40080, 1);
    ASSERT_GE(tcp, 0) << Tables();
    const ConnectionRecord& t = g_connectionTable[static_cast<size_t>(tcp)];
    ASSERT_GE(t.packetIndices.size(), 9u) << Tables();
    EXPECT_EQ(g_packetTable[t.packetIndices[0]].toServer.load(), 1);  // SYN
    EXPECT_EQ(g_packetTable[t.packetIndices[1]].toServer.load(), 0);  // SYN+ACK
    std::string request, reply;
    for (size_t i = 0; i < t.packetIndices.size(); ++i) {
        const PacketRecord& p = g_packetTable[t.packetIndices[i]];
        (p.toServer.load() ? request : reply) += Payload(p);
    }
    EXPECT_EQ(request, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply, "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_EQ(FindConnection(40080, 40081, 1), -1) << "the reply must not open a connection of its own";

    // Live packets keep the capture library's timestamp.
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const int64_t start = std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count();
    EXPECT_GE(ping.stamp.sec, start - 1);
    EXPECT_LE(ping.stamp.sec, now + 1);
    EXPECT_GT(frontEnd.rows.load(), 2);
    EXPECT_EQ(frontEnd.AllMessages(), "");
}

TEST_F(LiveCaptureTest, StopEndsTheCaptureAtOnceOnAnIdleInterface) {
    StartAndWaitUntilCapturing("lo");
    std::this_thread::sleep_for(300ms);  // nothing arrives: the read is blocked
    const auto start = std::chrono::steady_clock::now();
    StopCaptureAndWait();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);
    // The read is interrupted at once; collecting the last partly filled block takes one read timeout.
    EXPECT_LT(took, 500ms);
}

TEST_F(LiveCaptureTest, AFullBufferEndsTheCaptureWithoutAMessage) {
    g_config.bufferMB = 1;
    StartAndWaitUntilCapturing("lo");
    int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
    const std::string datagram(1400, 'x');
    for (int i = 0; i < 2000 && g_captureState.load() == CAPTURE_RUNNING; ++i) {
        SendUdp(s, "127.0.0.1", 40100, datagram);
        if (i % 100 == 99)
            std::this_thread::sleep_for(5ms);
    }
    ::close(s);
    EXPECT_TRUE(WaitFor([] { return g_captureState.load() == CAPTURE_IDLE; }));
    JoinCaptureThread();
    EXPECT_GT(g_storedBytes.load(), 1 << 20);
    EXPECT_GE(g_bufferPercent.load(), 100);
    EXPECT_EQ(frontEnd.AllMessages(), "");
}

TEST_F(LiveCaptureTest, AnAdapterThatCannotBeOpenedIsReportedAndLeavesTheStateIdle) {
    for (const char* device : {"pacterra-nodev0", ""}) {
        StartCaptureThread(device);
        JoinCaptureThread();
        EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);
        EXPECT_FALSE(LastCaptureStats().opened);
    }
    std::string messages = frontEnd.AllMessages();
    EXPECT_NE(messages.find("PCAP error: Error opening the networking adapter! | pacterra-nodev0: "),
              std::string::npos)
        << messages;
    EXPECT_NE(messages.find("No network adapter is selected."), std::string::npos) << messages;
}

TEST_F(LiveCaptureTest, AnAdapterThatDoesNotDeliverEthernetIsRefused) {
    StartCaptureThread("any");  // Linux cooked capture
    JoinCaptureThread();
    EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);
    EXPECT_NE(frontEnd.AllMessages().find("does not deliver Ethernet frames"), std::string::npos)
        << frontEnd.AllMessages();
}

TEST_F(LiveCaptureTest, SavingAndReopeningGivesIdenticalTables) {
    StartAndWaitUntilCapturing("lo");
    MakeLoopbackTraffic();
    StopCaptureAndWait();
    const std::string captured = Tables();
    ASSERT_GT(g_connectionTable.size(), 2u);

    frontEnd.path = (dir / "saved.cap").string();
    ASSERT_EQ(g_unsavedPackets.load(), 1);
    ASSERT_EQ(SaveCommand(), 1) << frontEnd.AllMessages();
    EXPECT_EQ(g_unsavedPackets.load(), 0);
    ASSERT_EQ(OpenCaptureFile(frontEnd.path, false), 1) << frontEnd.AllMessages();
    EXPECT_EQ(Tables(), captured);
}

TEST_F(LiveCaptureTest, AFailedSaveIsReportedAndKeepsThePacketsUnsaved) {
    StartAndWaitUntilCapturing("lo");
    StopCaptureAndWait();
    ASSERT_GT(g_packetTable.size(), 0u);
    struct Case {
        std::string path, message;
    } cases[] = {
        {"/dev/full", "Error writing the dump file"},
        {(dir / "missing" / "x.cap").string(), "PCAP Error: Error opening the dump file"},
    };
    for (const Case& c : cases) {
        frontEnd.path = c.path;
        EXPECT_EQ(SaveCommand(), 0) << c.path;
        EXPECT_EQ(g_unsavedPackets.load(), 1) << c.path;
        EXPECT_NE(frontEnd.AllMessages().find(c.message), std::string::npos) << frontEnd.AllMessages();
        EXPECT_EQ(frontEnd.AllMessages().find("saved successfully"), std::string::npos);
    }
    // A failed save leaves an existing file as it was.
    fs::path existing = dir / "existing.cap";
    std::ofstream(existing) << "keep me";
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    frontEnd.path = existing.string();
    // Root can write anywhere: only check the file when the save failed.
    if (SaveCommand() == 0) {
        std::ifstream in(existing);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text, "keep me");
    }
    fs::permissions(dir, fs::perms::owner_all);
}

TEST_F(LiveCaptureTest, AReaderOfTheTablesRunsBesideTheCaptureThread) {
    StartAndWaitUntilCapturing("lo");
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
        for (int i = 0; sending.load(); ++i) {
            SendUdp(s, "127.0.0.1", static_cast<uint16_t>(41000 + i % 500),
                    std::string(static_cast<size_t>(i % 200), 'd'));
            if (i % 50 == 49)
                std::this_thread::sleep_for(1ms);
        }
        ::close(s);
    });
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    size_t reads = 0;
    while (std::chrono::steady_clock::now() < end) {
        size_t connections = g_connectionTable.size();
        for (size_t c = 0; c < connections; c += 7) {
            const ConnectionRecord& conn = g_connectionTable[c];
            size_t n = conn.packetIndices.size();
            ASSERT_GE(n, 1u);
            const PacketRecord& p = g_packetTable[conn.packetIndices[n - 1]];
            ASSERT_LE(p.payloadLen, p.capLen);
            ASSERT_FALSE(ConnectionCellText(c, 6).view().empty());
            ASSERT_FALSE(PacketCellText(p, 0).empty());
            ++reads;
        }
    }
    sending = false;
    sender.join();
    StopCaptureAndWait();
    EXPECT_GT(reads, 0u);
    EXPECT_GT(g_connectionTable.size(), 100u);
}

// Runs a shell command in the test namespace; true on success.
bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

TEST_F(LiveCaptureTest, AVethPairToAPeerNamespace) {
    Shell("ip netns del pacterra-peer 2>/dev/null; ip link del pcv0 2>/dev/null");
    ASSERT_TRUE(
        Shell("ip link add pcv0 type veth peer name pcv1 && ip netns add pacterra-peer && "
              "ip link set pcv1 netns pacterra-peer && ip addr add 198.51.100.1/24 dev pcv0 && "
              "ip link set pcv0 up && "
              "ip netns exec pacterra-peer ip addr add 198.51.100.2/24 dev pcv1 && "
              "ip netns exec pacterra-peer ip link set pcv1 up && "
              "ip netns exec pacterra-peer ip link set lo up"));
    // The namespace holds only loopback and pcv0: the default adapter is pcv0.
    EXPECT_EQ(ChooseDefaultAdapter(), "pcv0");
    std::vector<AdapterRow> rows;
    std::string error;
    ASSERT_TRUE(EnumerateAdapters(rows, error)) << error;
    bool listed = false;
    for (const AdapterRow& r : rows) {
        if (r.device != "pcv0")
            continue;
        listed = true;
        EXPECT_EQ(r.ip, "198.51.100.1");
        EXPECT_EQ(r.netmask, "255.255.255.0");
        EXPECT_EQ(r.dataLink, "Ethernet (10Mb)");
    }
    EXPECT_TRUE(listed);

    int s = BoundSocket(SOCK_DGRAM, "198.51.100.1", 5353);
    ASSERT_GE(s, 0);
    timeval tv{2, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    StartAndWaitUntilCapturing("pcv0", "198.51.100.2");
    // The peer sends until our socket hears it; we answer once.
    std::atomic<bool> heard{false};
    std::thread peer([&] {
        for (int i = 0; i < 50 && !heard.load(); ++i) {
            Shell(
                "ip netns exec pacterra-peer bash -c 'exec 3<>/dev/udp/198.51.100.1/5353; "
                "printf hello >&3' 2>/dev/null");
            std::this_thread::sleep_for(100ms);
        }
    });
    char buffer[16];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t got = ::recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    heard = true;
    peer.join();
    ASSERT_EQ(got, 5);
    std::this_thread::sleep_for(300ms);
    ::sendto(s, "world", 5, 0, reinterpret_cast<sockaddr*>(&from), len);
    const uint16_t peerPort = ntohs(from.sin_port);
    EXPECT_TRUE(WaitFor([&] {
        int c = FindConnection(peerPort, 5353, 0);
        return c >= 0 && g_connectionTable[static_cast<size_t>(c)].packetIndices.size() >= 2;
    }));
    StopCaptureAndWait();
    ::close(s);
    Shell("ip netns del pacterra-peer; ip link del pcv0 2>/dev/null");

    int c = FindConnection(peerPort, 5353, 0);
    ASSERT_GE(c, 0) << Tables();
    EXPECT_EQ(ConnectionCellText(static_cast<size_t>(c), 2), "198.51.100.2:" + std::to_string(peerPort));
    EXPECT_EQ(ConnectionCellText(static_cast<size_t>(c), 3), "198.51.100.1:5353");
    const ConnectionRecord& conn = g_connectionTable[static_cast<size_t>(c)];
    const PacketRecord& last = g_packetTable[conn.packetIndices[conn.packetIndices.size() - 1]];
    EXPECT_EQ(last.toServer.load(), 0);
    EXPECT_EQ(Payload(last), "world");
    // Real Ethernet frames: ARP went by, and the IPv4 frames carry real hardware addresses.
    EXPECT_NE(std::memcmp(last.data, "\0\0\0\0\0\0", 6), 0);
}

// The command-line front end: a capture saved with -w reads back as the same connections, and Ctrl+C stops
// it cleanly and still saves.
TEST_F(LiveCaptureTest, CommandLineCaptureSavesWhatItPrints) {
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    const fs::path saved = dir / "x.cap";
    const fs::path out = dir / "capture.txt";
    std::atomic<bool> sending{true};
    std::thread traffic([&] {
        int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
        for (int i = 0; sending.load(); ++i) {
            SendUdp(s, "127.0.0.1", static_cast<uint16_t>(42000 + i % 7), "tick");
            std::this_thread::sleep_for(20ms);
        }
        ::close(s);
    });
    int status = std::system(("TZ=UTC '" + cli + "' capture -i lo -t 1.5 -w '" + saved.string() + "' >'" +
                              out.string() + "' 2>/dev/null")
                                 .c_str());
    EXPECT_EQ(status, 0);
    int reread = std::system(("TZ=UTC '" + cli + "' connections '" + saved.string() + "' >'" +
                              (dir / "reread.txt").string() + "' 2>/dev/null")
                                 .c_str());
    EXPECT_EQ(reread, 0);
    auto read = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    std::string printed = read(out);
    EXPECT_NE(printed.find("127.0.0.1:42003\tUDP"), std::string::npos) << printed;
    EXPECT_EQ(printed, read(dir / "reread.txt"));

    // Ctrl+C: the capture ends, prints and saves.
    const fs::path interrupted = dir / "int.cap";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(cli.c_str(), cli.c_str(), "capture", "-i", "lo", "-w", interrupted.c_str(), nullptr);
        ::_exit(127);
    }
    std::this_thread::sleep_for(800ms);
    ::kill(pid, SIGINT);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    sending = false;
    traffic.join();
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_TRUE(fs::exists(interrupted));
    EXPECT_EQ(OpenCaptureFile(interrupted.string(), false), 1);
    EXPECT_GT(g_packetTable.size(), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_skipReason = EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
