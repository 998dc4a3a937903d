// Live captures on real interfaces, in a network namespace of the test's own: loopback, and a veth pair to
// a peer namespace with TEST-NET-2 addresses. Real sockets make the traffic; nothing leaves the machine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

#include "../ConfigCfg.h"
#include "../unit/FrameBuilder.h"
#include "NetNamespace.h"
#include "capture/CaptureFile.h"
#include "capture/Format.h"
#include "capture/LiveCapture.h"
#include "capture/PacketStore.h"
#include "config/Adapters.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string g_skipReason = "the namespace was not set up";

// Records messages (which may come from the capture thread) and answers file questions.
class RecordingFrontEnd : public IMainFrame {
public:
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string& detail) override {
        std::lock_guard lock(mutex);
        messages.push_back(text + " | " + detail);
        return MsgAnswer::Ok;
    }
    std::string AskFilePath(FileQuestion) override { return path; }
    // A window handles its events between the batches of a file load; this one takes its time.
    void ShowLoadProgress(int64_t, int64_t) override { std::this_thread::sleep_for(loadPause); }

    std::string AllMessages() {
        std::lock_guard lock(mutex);
        std::string all;
        for (const auto& m : messages)
            all += m + "\n";
        return all;
    }

    std::string path;
    std::chrono::milliseconds loadPause{0};

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
        if (c.ClientPort() == clientPort && c.ServerPort() == serverPort && c.isTcp == tcp)
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

std::string ReadWhole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Stores `count` UDP frames of `payload` bytes through the intake, as a capture would.
void StoreUdpFrames(int count, size_t payload) {
    FrameSpec s;
    s.protocol = 17;
    s.payload = std::string(payload, 'u');
    const std::vector<uint8_t> frame = BuildFrame(s);
    for (int i = 0; i < count; ++i)
        FeedFrame(frame, 1700000000 + i);
    ASSERT_EQ(g_packetTable.size(), static_cast<size_t>(count));
}

// Writes frames into a capture file.
void WriteCapture(const fs::path& path, const std::vector<std::vector<uint8_t>>& frames) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(d, nullptr) << pcap_geterr(dead);
    for (size_t i = 0; i < frames.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + static_cast<time_t>(i);
        h.caplen = h.len = static_cast<bpf_u_int32>(frames[i].size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, frames[i].data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
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
        g_packetLimit = 0;
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

// "Open" is said only once the adapter is: a connection made right after it is seen from its first packet,
// the client's, every time.
TEST_F(LiveCaptureTest, OpenOnlyOnceTheAdapterIsOpen) {
    for (int round = 0; round < 8; ++round) {
        ResetCapture();
        EXPECT_FALSE(IsCaptureOpen());
        StartCaptureThread("lo");
        ASSERT_TRUE(WaitFor([] { return IsCaptureOpen(); })) << frontEnd.AllMessages();
        int listener = BoundSocket(SOCK_STREAM, "127.0.0.1", 40180);
        ASSERT_GE(listener, 0);
        ::listen(listener, 1);
        const uint16_t port = static_cast<uint16_t>(40200 + round);  // none left in TIME_WAIT
        int client = BoundSocket(SOCK_STREAM, "127.0.0.1", port);
        sockaddr_in to = Address("127.0.0.1", 40180);
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        ::close(client);
        ::close(listener);
        EXPECT_TRUE(WaitFor([&] { return FindConnection(port, 40180, 1) >= 0; })) << "round " << round;
        StopCaptureAndWait();
        EXPECT_FALSE(IsCaptureOpen());
    }
}

TEST_F(LiveCaptureTest, LoopbackConnectionsComeOutWithClientAndServerTheWayRoundTheFirstPacketSays) {
    const auto before = std::chrono::system_clock::now();
    StartAndWaitUntilCapturing("lo");
    MakeLoopbackTraffic();
    StopCaptureAndWait();
    EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);
    const CaptureStats stats = LastCaptureStats();
    EXPECT_TRUE(stats.opened);
    EXPECT_GE(stats.received, g_packetTable.size());

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
    EXPECT_GT(g_connectionTable.size(), 2u);
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
    // A burst far beyond the buffer, sent at once: the kernel hands it over in whole blocks.
    const std::string datagram(1400, 'x');
    for (int i = 0; i < 5000; ++i)
        SendUdp(s, "127.0.0.1", 40100, datagram);
    ::close(s);
    EXPECT_TRUE(WaitFor([] { return g_captureState.load() == CAPTURE_IDLE; }));
    JoinCaptureThread();
    const int64_t frame = 14 + 20 + 8 + 1400;
    EXPECT_GT(g_storedBytes.load(), 1 << 20);
    // The capture stops at the frame that passed the limit, not at the end of the block that held it.
    EXPECT_LT(g_storedBytes.load(), (1 << 20) + 2 * frame);
    EXPECT_GE(g_bufferPercent.load(), 100);
    EXPECT_EQ(frontEnd.AllMessages(), "");
}

TEST_F(LiveCaptureTest, APacketLimitEndsTheCaptureWithExactlyThatManyPackets) {
    StartAndWaitUntilCapturing("lo");
    std::this_thread::sleep_for(250ms);  // the last probes are in
    const size_t before = g_packetTable.size();
    const size_t limit = before + 10;
    g_packetLimit = limit;
    int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
    for (int i = 0; i < 500; ++i)
        SendUdp(s, "127.0.0.1", 40300, "burst");
    ::close(s);
    EXPECT_TRUE(WaitFor([] { return g_captureState.load() == CAPTURE_IDLE; }))
        << "the limit ends the capture";
    JoinCaptureThread();
    EXPECT_EQ(g_packetTable.size(), limit);
    size_t burst = 0;
    for (size_t c = 0; c < g_connectionTable.size(); ++c)
        if (g_connectionTable[c].ServerPort() == 40300)
            burst += g_connectionTable[c].packetIndices.size();
    EXPECT_EQ(burst, 10u) << Tables();
    EXPECT_EQ(frontEnd.AllMessages(), "");
}

TEST_F(LiveCaptureTest, StopCollectsThePacketsThatArrivedJustBeforeIt) {
    StartAndWaitUntilCapturing("lo");
    int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 40200);
    ASSERT_GE(s, 0);
    SendUdp(s, "127.0.0.1", 40201, "last words");
    StopCaptureAndWait();  // at once: the datagram still sits in the kernel's partly filled block
    ::close(s);
    int c = FindConnection(40200, 40201, 0);
    ASSERT_GE(c, 0) << Tables();
    const ConnectionRecord& conn = g_connectionTable[static_cast<size_t>(c)];
    ASSERT_EQ(conn.packetIndices.size(), 1u);
    EXPECT_EQ(Payload(g_packetTable[conn.packetIndices[0]]), "last words");
}

TEST_F(LiveCaptureTest, OpeningAFileDuringACaptureStopsTheCaptureFirst) {
    // The load takes a while (the front end pauses between its batches): live packets would land in the store
    // meanwhile, were the capture still running.
    frontEnd.loadPause = 5ms;
    std::vector<std::vector<uint8_t>> frames;
    FrameSpec f;
    f.protocol = 17;
    f.srcPort = 7000;
    f.dstPort = 7001;
    for (int i = 0; i < 10000; ++i) {
        f.payload = "file " + std::to_string(i);
        frames.push_back(BuildFrame(f));
    }
    const fs::path file = dir / "many.cap";
    WriteCapture(file, frames);

    StartAndWaitUntilCapturing("lo");
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
        for (int i = 0; sending.load(); ++i) {
            SendUdp(s, "127.0.0.1", 40400, "live");
            if (i % 64 == 63)
                std::this_thread::sleep_for(100us);
        }
        ::close(s);
    });
    std::this_thread::sleep_for(200ms);
    const int loaded = OpenCaptureFile(file.string(), false, frontEnd);
    EXPECT_EQ(g_captureState.load(), CAPTURE_IDLE);
    std::this_thread::sleep_for(300ms);  // a capture still running would store the live datagrams now
    sending = false;
    sender.join();
    ASSERT_EQ(loaded, 1) << frontEnd.AllMessages();
    EXPECT_EQ(g_connectionTable.size(), 1u);
    ASSERT_EQ(g_packetTable.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const PacketRecord& p = g_packetTable[i];
        ASSERT_TRUE(std::vector<uint8_t>(p.data, p.data + p.capLen) == frames[i]) << i;
    }
    EXPECT_EQ(g_unsavedPackets.load(), 0);
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
    EXPECT_NE(messages.find("No network adapter is selected: there is no adapter to capture on."),
              std::string::npos)
        << messages;
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
    ASSERT_EQ(SaveCommand(frontEnd), CommandResult::Done) << frontEnd.AllMessages();
    EXPECT_EQ(g_unsavedPackets.load(), 0);
    ASSERT_EQ(OpenCaptureFile(frontEnd.path, false, frontEnd), 1) << frontEnd.AllMessages();
    EXPECT_EQ(Tables(), captured);
}

TEST_F(LiveCaptureTest, FramesAboveSixtyFourKilobytesAreKeptAndSavedWhole) {
    // Loopback's MTU is 65536: the largest UDP datagram crosses it as one frame of 65,549 bytes. With the
    // offload limits raised (BIG TCP), bulk TCP crosses it in frames of up to 262,144 bytes whose IPv4
    // total length reads 0.
    ASSERT_TRUE(SetLoopbackOffload(262144));
    StartAndWaitUntilCapturing("lo");
    int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
    SendUdp(s, "127.0.0.1", 40100, std::string(65507, 'x'));
    ::close(s);
    int listener = BoundSocket(SOCK_STREAM, "127.0.0.1", 40090);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::thread receiver([listener] {
        int server = ::accept(listener, nullptr, nullptr);
        static char sink[1 << 20];
        while (::recv(server, sink, sizeof sink, 0) > 0) {
        }
        ::close(server);
    });
    int client = BoundSocket(SOCK_STREAM, "127.0.0.1", 0);
    sockaddr_in to = Address("127.0.0.1", 40090);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    const std::string bulk(4 << 20, 'y');
    ASSERT_EQ(::send(client, bulk.data(), bulk.size(), 0), ssize_t(bulk.size()));
    ::close(client);
    receiver.join();
    ::close(listener);
    SetLoopbackOffload(65536);
    auto largest = [](char fill) {
        int32_t n = 0;
        for (size_t i = 0; i < g_packetTable.size(); ++i) {
            const std::span<const uint8_t> payload = PacketPayload(g_packetTable[i]);
            if (!payload.empty() && payload.back() == fill)
                n = std::max(n, g_packetTable[i].capLen);
        }
        return n;
    };
    EXPECT_TRUE(WaitFor([&] { return largest('x') == 65549 && largest('y') > 200000; }));
    StopCaptureAndWait();
    EXPECT_EQ(g_shortPacketCount.load(), 0);

    // The saved file holds them whole for the readers of the format (tcpdump and tshark use the same
    // library).
    const std::string path = (dir / "large.cap").string();
    ASSERT_EQ(SaveCaptureFile(g_packetTable, path, StandardErrorPrompts()), CommandResult::Done);
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), error);
    ASSERT_NE(p, nullptr) << error;
    EXPECT_EQ(pcap_snapshot(p), 262144);
    pcap_pkthdr* h;
    const u_char* bytes;
    uint32_t whole = 0;  // the largest record read back whole
    while (pcap_next_ex(p, &h, &bytes) == 1)
        whole = std::max(whole, h->caplen == h->len ? h->caplen : 0);
    pcap_close(p);
    EXPECT_EQ(whole, uint32_t(largest('y')));
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
        EXPECT_EQ(SaveCommand(frontEnd), CommandResult::Failed) << c.path;
        EXPECT_EQ(g_unsavedPackets.load(), 1) << c.path;
        EXPECT_NE(frontEnd.AllMessages().find(c.message), std::string::npos) << frontEnd.AllMessages();
        EXPECT_EQ(frontEnd.AllMessages().find("saved successfully"), std::string::npos);
    }
}

// Root may write anywhere, so the failures are made another way: a file size limit (which binds root too).
// A directory that takes no new file (the file itself being writable) is made by saving as another user:
// the file is then rewritten in place, only once the new bytes are complete and there is room for them.
TEST_F(LiveCaptureTest, AFailedSaveOverAnExistingFileKeepsItEvenForRoot) {
    StoreUdpFrames(200, 1000);  // about 200 KB
    struct Case {
        const char* what;
        bool fileSizeLimit;
        bool lockedDirectory;  // saved by "nobody" into a directory of root's, over a file of its own
        bool saved;
        const char* message;
        const char* detail;
    } cases[] = {
        {"file size limit", true, false, false, "PCAP Error: Error writing the dump file!", "File too large"},
        {"locked directory, file size limit", true, true, false, "PCAP Error: Error writing the dump file!",
         "File too large"},
        {"locked directory", false, true, true, "", ""},
    };
    for (const Case& c : cases) {
        const fs::path folder = dir / "locked";
        fs::create_directories(folder);
        const fs::path existing = folder / "existing.cap";
        // A directory where the temporary file used to go no longer gets in the way, and is left alone.
        const fs::path part = folder / "existing.cap.part";
        fs::create_directory(part);
        std::ofstream(existing) << "keep me";
        if (c.lockedDirectory) {
            ASSERT_EQ(::chown(existing.c_str(), 65534, 65534), 0);
        }
        const fs::perms permissions = fs::status(existing).permissions();
        const fs::path report = dir / "messages.txt";
        std::ofstream(report).close();
        ASSERT_EQ(::chown(report.c_str(), 65534, 65534), 0);
        pid_t pid = ::fork();
        if (pid == 0) {
            if (c.fileSizeLimit) {
                rlimit limit{100000, 100000};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::signal(SIGXFSZ, SIG_IGN);
            }
            if (c.lockedDirectory && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            int saved = SaveCaptureFile(g_packetTable, existing.string(), frontEnd) == CommandResult::Done;
            if (FILE* f = std::fopen(report.c_str(), "w")) {
                std::fputs(frontEnd.AllMessages().c_str(), f);
                std::fclose(f);
            }
            ::_exit(saved);
        }
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFEXITED(raw)) << c.what << ": " << raw;
        EXPECT_EQ(WEXITSTATUS(raw), c.saved ? 1 : 0) << c.what;
        const std::string kept = ReadWhole(existing);
        if (c.saved) {
            EXPECT_EQ(kept.size(), 24u + 200 * (16 + 1042)) << c.what;
            EXPECT_EQ(fs::status(existing).permissions(), permissions) << c.what;
        } else {
            EXPECT_TRUE(kept == "keep me") << c.what << ": the file now holds " << kept.size() << " bytes";
        }
        const std::string messages = ReadWhole(report);
        EXPECT_NE(messages.find(c.message), std::string::npos) << c.what << ": " << messages;
        EXPECT_NE(messages.find(c.detail), std::string::npos) << c.what << ": " << messages;
        EXPECT_TRUE(fs::is_directory(part)) << c.what;
        size_t entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
            ++entries;
        EXPECT_EQ(entries, 2u) << c.what << ": no temporary file is left";
        fs::remove_all(folder);
        fs::remove(report);
    }
}

TEST_F(LiveCaptureTest, SavingOverASymbolicLinkWritesItsTargetAndKeepsTheLinkAndThePermissions) {
    StoreUdpFrames(3, 100);
    fs::create_directories(dir / "real");
    const fs::path target = dir / "real" / "target.cap";
    std::ofstream(target) << "old contents";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir / "link.cap";
    fs::create_symlink(fs::path("real") / "target.cap", link);

    ASSERT_EQ(SaveCaptureFile(g_packetTable, link.string(), frontEnd), CommandResult::Done)
        << frontEnd.AllMessages();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("real") / "target.cap");
    EXPECT_EQ(static_cast<int>(fs::status(target).permissions() & fs::perms::all), 0600);
    // A file header and three records of 16 + 142 bytes.
    EXPECT_EQ(fs::file_size(target), 24u + 3 * (16 + 142));
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        left.push_back(e.path().lexically_relative(dir).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"link.cap", "real", "real/target.cap"}));
    ASSERT_EQ(OpenCaptureFile(link.string(), false, frontEnd), 1);
    EXPECT_EQ(g_packetTable.size(), 3u);
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

// Stop while numbered datagrams stream in: the packet in hand at that moment is kept like the ones before
// and after it, so the stored numbers have no gap.
TEST_F(LiveCaptureTest, StopLeavesNoGapInAStreamOfPackets) {
    for (int round = 0; round < 3; ++round) {
        ResetCaptureStore();
        StartAndWaitUntilCapturing("lo");
        std::atomic<bool> sending{true};
        std::thread sender([&] {
            int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 40400);
            std::string datagram(200, 's');
            for (uint32_t i = 0; sending.load(); ++i) {
                std::memcpy(datagram.data(), &i, sizeof i);
                SendUdp(s, "127.0.0.1", 40401, datagram);
                if (i % 10 == 9)
                    std::this_thread::sleep_for(1ms);
            }
            ::close(s);
        });
        std::this_thread::sleep_for(300ms);
        StopCaptureAndWait();
        sending = false;
        sender.join();
        ASSERT_EQ(LastCaptureStats().dropped, 0u);
        const int c = FindConnection(40400, 40401, 0);
        ASSERT_GE(c, 0) << Tables();
        const ConnectionRecord& conn = g_connectionTable[static_cast<size_t>(c)];
        ASSERT_GT(conn.packetIndices.size(), 100u);
        uint32_t previous = 0;
        for (size_t i = 0; i < conn.packetIndices.size(); ++i) {
            uint32_t number = 0;
            std::memcpy(&number, PacketPayload(g_packetTable[conn.packetIndices[i]]).data(), sizeof number);
            if (i > 0) {
                ASSERT_EQ(number, previous + 1) << "round " << round << ", packet " << i;
            }
            previous = number;
        }
    }
}

// Runs a shell command in the test namespace; true on success.
bool Shell(const std::string& command);

// An adapter that goes away mid-capture (a USB adapter unplugged, a veth deleted) ends the capture once its
// reads keep failing: the packets stay, the capture library's error is shown once, and the command-line
// tool exits with 1.
TEST_F(LiveCaptureTest, AnAdapterThatDisappearsEndsTheCaptureWithItsPackets) {
    const std::string make =
        "ip link del pcv2 2>/dev/null; ip link add pcv2 type veth peer name pcv3 && "
        "ip addr add 198.51.100.21/24 dev pcv2 && ip link set pcv2 up && ip link set pcv3 up && "
        "ip neigh replace 198.51.100.22 lladdr 02:00:00:00:00:22 dev pcv2";
    ASSERT_TRUE(Shell(make));
    StartAndWaitUntilCapturing("pcv2", "198.51.100.22");
    const size_t before = g_packetTable.size();
    ASSERT_TRUE(Shell("ip link del pcv2"));
    const bool ended = WaitFor([] { return g_captureState.load() == CAPTURE_IDLE; }, 5s);
    EXPECT_TRUE(ended) << "still capturing";
    if (!ended)
        StopCapture();
    JoinCaptureThread();
    EXPECT_GE(g_packetTable.size(), before);
    const std::string messages = frontEnd.AllMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    EXPECT_EQ(messages.rfind("PCAP error: Reading from the networking adapter failed, and the capture was "
                             "stopped. The " +
                                 std::to_string(g_packetTable.size()) +
                                 " packets captured before are kept. | pcv2: ",
                             0),
              0u)
        << messages;
    // Start works again, on another adapter.
    ResetCaptureStore();
    StartAndWaitUntilCapturing("lo");
    StopCaptureAndWait();

    ASSERT_TRUE(Shell(make));
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    const fs::path err = dir / "err.txt";
    pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(err.c_str(), "w", stderr);
        std::freopen("/dev/null", "w", stdout);
        ::execl(cli.c_str(), cli.c_str(), "capture", "-i", "pcv2", "-t", "30", nullptr);
        ::_exit(127);
    }
    std::this_thread::sleep_for(500ms);
    Shell("ip link del pcv2");
    int raw = 0;
    const bool exited = WaitFor([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; }, 5s);
    EXPECT_TRUE(exited) << "still capturing";
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &raw, 0);
    }
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
    EXPECT_NE(ReadWhole(err).find("PCAP error: Reading from the networking adapter failed"),
              std::string::npos)
        << ReadWhole(err);
}

// A user without capture rights is told how to get them.
TEST_F(LiveCaptureTest, WithoutCaptureRightsTheMessageSaysHowToCaptureWithoutRoot) {
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    const fs::path err = dir / "err.txt";
    const int status = std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups '" + cli +
                                    "' capture -i lo -t 0.5 >/dev/null 2>'" + err.string() + "'")
                                       .c_str());
    const std::string errors = ReadWhole(err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << ": " << errors;
    EXPECT_EQ(errors.rfind("PCAP error: Error opening the networking adapter!\nlo: ", 0), 0u) << errors;
    EXPECT_NE(errors.find("sudo setcap cap_net_raw,cap_net_admin=eip " + fs::canonical(cli).string()),
              std::string::npos)
        << errors;
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
    EXPECT_EQ(OpenCaptureFile(interrupted.string(), false, frontEnd), 1);
    EXPECT_GT(g_packetTable.size(), 0u);
}

// Without -i the tool captures on the adapter stored in the settings; without --rules it keeps every packet
// even when Config.cfg would drop them. A copy of the tool is run so that its Config.cfg, beside the
// executable, is the test's own.
TEST_F(LiveCaptureTest, CommandLineCaptureUsesTheStoredAdapterAndTheRulesOnlyWhenAsked) {
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    fs::copy_file(std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli", bin / "pacterra-cli");
    CCaptureConfig dropAll;
    dropAll.bufferMB = 50;
    dropAll.defaultAccept = 0;
    WriteConfigFile(bin / "Config.cfg", dropAll);
    const fs::path home = dir / "home";
    fs::create_directories(home / "Morvane");
    std::ofstream(home / "Morvane" / "Pacterra.conf") << "[Config]\nAdapter=lo\n";

    std::atomic<bool> sending{true};
    std::thread traffic([&] {
        int s = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
        while (sending.load()) {
            SendUdp(s, "127.0.0.1", 42100, "tick");
            std::this_thread::sleep_for(20ms);
        }
        ::close(s);
    });
    struct Case {
        const char* what;
        const char* options;
        bool kept;
    } cases[] = {
        {"without the rules", "", true},
        {"with the rules", "--rules", false},
    };
    for (const Case& c : cases) {
        const fs::path out = dir / "out.txt", err = dir / "err.txt";
        int status = std::system(("TZ=UTC HOME='" + home.string() + "' XDG_CONFIG_HOME='" + home.string() +
                                  "' '" + (bin / "pacterra-cli").string() + "' capture -t 1 " + c.options +
                                  " >'" + out.string() + "' 2>'" + err.string() + "'")
                                     .c_str());
        const std::string printed = ReadWhole(out), errors = ReadWhole(err);
        EXPECT_EQ(status, 0) << c.what << ": " << errors;
        EXPECT_NE(errors.find("capture on lo:"), std::string::npos) << c.what << ": " << errors;
        EXPECT_EQ(printed.find("127.0.0.1:42100\tUDP") != std::string::npos, c.kept)
            << c.what << ": " << printed;
        if (!c.kept) {
            EXPECT_EQ(errors.rfind("0 packets, 0 connections", 0), 0u) << c.what << ": " << errors;
        }
    }
    sending = false;
    traffic.join();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_skipReason = EnterPrivateNetwork();
    return RUN_ALL_TESTS();
}
