#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "capture/ProcessOwner.h"
#include "capture/ProcessOwnerLookup.h"

namespace {

const ProcessSeen kCurl{4121, "curl", "/usr/bin/curl"};
const ProcessSeen kShell{4100, "sh", "/usr/bin/dash"};

TEST(ProcessOwnerTest, OnlyCertainEvidenceNamesAProgram) {
    struct Case {
        const char* what;
        std::vector<SocketEvidence> evidence;
        int32_t pid;
        uint32_t uid;
    } cases[] = {
        {"no socket", {}, 0, kNoUser},
        {"one socket, one holder", {{7, 0, {kCurl}}}, 4121, 0},
        {"the same process on a reused tuple", {{7, 0, {kCurl}}, {9, 0, {kCurl}}}, 4121, 0},
        {"a socket passed on: two holders", {{7, 0, {kShell, kCurl}}}, 0, 0},
        {"a port reused by another program", {{7, 0, {kCurl}}, {9, 0, {kShell}}}, 0, 0},
        {"gone before it was found", {{7, 1000, {}}}, 0, 1000},
        {"one of two sockets unresolved", {{7, 0, {kCurl}}, {9, 0, {}}}, 0, 0},
        {"two users", {{7, 0, {kCurl}}, {9, 1000, {kCurl}}}, 0, kNoUser},
        {"a PID reused by another program",
         {{7, 0, {kCurl}}, {9, 0, {{4121, "wget", "/usr/bin/wget"}}}},
         0,
         0},
    };
    for (const Case& c : cases) {
        const ProcessOwner o = DecideOwner(c.evidence);
        EXPECT_EQ(o.pid, c.pid) << c.what;
        EXPECT_EQ(o.uid, c.uid) << c.what;
        EXPECT_EQ(o.program, c.pid ? "curl" : "") << c.what;
        EXPECT_EQ(o.user.empty(), c.uid == kNoUser) << c.what;
    }
}

TEST(ProcessOwnerTest, CellTextAndDescriptorLinks) {
    const ProcessOwner curl{4121, 0, "curl", "", "root"}, python{3977, 0, "python3", "", "root"};
    const ProcessOwner alice{0, 1000, "", "", "alice"};
    EXPECT_EQ(OwnersCellText({curl, python}), "curl 4121 -> python3 3977");
    EXPECT_EQ(OwnersCellText({curl, {}}), "curl 4121");
    EXPECT_EQ(OwnersCellText({{}, python}), "-> python3 3977");
    EXPECT_EQ(OwnersCellText({alice, python}), "(alice) -> python3 3977");
    EXPECT_EQ(OwnersCellText({}), "");
    for (auto [link, inode] :
         std::initializer_list<std::pair<const char*, uint64_t>>{{"socket:[12345]", 12345},
                                                                 {"socket:[]", 0},
                                                                 {"socket:[12a]", 0},
                                                                 {"pipe:[12345]", 0},
                                                                 {"socket:[99999999999999999999999]", 0},
                                                                 {"socket:[1", 0},
                                                                 {"/dev/null", 0}})
        EXPECT_EQ(SocketInodeOfLink(link), inode) << link;
}

TEST(ProcessOwnerTest, DiagAnswersAreReadWithinTheirBounds) {
    struct Message {
        nlmsghdr header;
        inet_diag_msg body;
    };
    Message m[2]{};
    m[0].header = {sizeof(Message), SOCK_DIAG_BY_FAMILY, 0, 1, 0};
    m[0].body.idiag_family = AF_INET6;
    const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
    std::memcpy(m[0].body.id.idiag_src, mapped, 16);
    m[0].body.id.idiag_sport = htons(8080);
    m[0].body.idiag_uid = 1000;
    m[0].body.idiag_inode = 4242;
    m[1].header = {sizeof(nlmsghdr), NLMSG_DONE, 0, 1, 0};
    const auto* bytes = reinterpret_cast<const uint8_t*>(m);
    std::vector<DiagSocket> out;
    EXPECT_EQ(ParseDiagAnswer({bytes, sizeof(Message)}, true, out), 1);
    ASSERT_EQ(out.size(), 1u);
    const uint8_t loopback[4] = {127, 0, 0, 1};
    EXPECT_EQ(out[0].local, Endpoint::Ipv4(loopback, 8080));
    EXPECT_EQ(out[0].inode, 4242u);
    EXPECT_EQ(ParseDiagAnswer({bytes, sizeof m}, true, out), 0);
    // Cut short, or a length past the datagram: nothing more is read.
    out.clear();
    EXPECT_EQ(ParseDiagAnswer({bytes, sizeof(nlmsghdr) + 8}, true, out), -1);
    m[0].header.nlmsg_len = 0;
    EXPECT_EQ(ParseDiagAnswer({bytes, sizeof m}, true, out), -1);
    EXPECT_TRUE(out.empty());
}

// Each side of a loopback TCP connection and of a UDP exchange (the server bound, the client not connected)
// is found by its tuple, as the socket the process holds; a tuple no socket has finds none.
TEST(ProcessOwnerTest, ExactLookupsFindTheHeldSocket) {
    const int netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    ASSERT_GE(netlink, 0);
    const auto endpoint = [](int fd, bool peer) {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        (peer ? ::getpeername : ::getsockname)(fd, reinterpret_cast<sockaddr*>(&a), &n);
        return Endpoint::Ipv4(reinterpret_cast<const uint8_t*>(&a.sin_addr), ntohs(a.sin_port));
    };
    for (const bool tcp : {true, false}) {
        const int server = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        const int client = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t n = sizeof a;
        ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &n);
        if (tcp)
            ::listen(server, 1);
        ASSERT_EQ(tcp ? ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a)
                      : ::sendto(client, "q", 1, 0, reinterpret_cast<sockaddr*>(&a), sizeof a) - 1,
                  0);
        const int accepted = tcp ? ::accept(server, nullptr, nullptr) : server;
        const Endpoint serverSide = endpoint(server, false), clientSide = endpoint(client, false);
        for (const auto& [local, remote, fd] :
             {std::tuple{clientSide, serverSide, client}, std::tuple{serverSide, clientSide, accepted},
              std::tuple{Endpoint::Ipv4(serverSide.AddressBytes(), 9), clientSide, -1}}) {
            struct stat st {};
            ::fstat(fd, &st);
            std::vector<DiagSocket> out;
            LookupSocket(netlink, tcp, local, remote, out);
            EXPECT_EQ(out.empty() ? 0 : out[0].inode, fd < 0 ? 0 : st.st_ino) << tcp << local.Port();
            EXPECT_EQ(out.empty() ? 0 : out[0].uid, fd < 0 ? 0 : ::getuid());
        }
        for (int fd : {server, client, accepted})
            ::close(fd);
    }
    ::close(netlink);
}

}  // namespace
