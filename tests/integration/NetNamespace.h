// Puts the test process into a network namespace of its own, with loopback up, so that live captures see
// only the traffic the tests make and nothing leaves the machine.
#pragma once

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// Empty when the namespace is ready; otherwise why the live tests cannot run here.
inline std::string EnterPrivateNetwork() {
    if (::geteuid() != 0)
        return "live capture tests need root (they create a network namespace and open adapters)";
    if (::unshare(CLONE_NEWNET) != 0)
        return "cannot create a network namespace (unshare failed)";
    if (std::system("ip link set lo up") != 0)
        return "cannot bring loopback up in the test namespace (is iproute2 installed?)";
    return {};
}

// `port` on the loopback address, where the tests send their traffic.
inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return at;
}

// Lets loopback's segmentation offload build packets of up to `size` bytes, IPv4 ones included (BIG TCP;
// Debian 12's `ip` cannot set the IPv4 limit). Takes effect for connections made afterwards.
inline bool SetLoopbackOffload(uint32_t size) {
    struct {
        nlmsghdr header;
        ifinfomsg link;
        struct {
            rtattr attr;
            uint32_t value;
        } sizes[4];
    } request{};
    request.header = {sizeof request, RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, 1, 0};
    request.link.ifi_index = 1;  // lo
    const unsigned short types[] = {IFLA_GSO_MAX_SIZE, IFLA_GRO_MAX_SIZE, 63 /* IFLA_GSO_IPV4_MAX_SIZE */,
                                    64 /* IFLA_GRO_IPV4_MAX_SIZE */};
    for (int i = 0; i < 4; ++i)
        request.sizes[i] = {{RTA_LENGTH(sizeof(uint32_t)), types[i]}, size};
    const int s = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (s < 0)
        return false;
    char reply[512];
    const bool sent = ::send(s, &request, sizeof request, 0) == sizeof request;
    const ssize_t n = sent ? ::recv(s, reply, sizeof reply, 0) : -1;
    ::close(s);
    int error = -1;
    if (n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))))
        std::memcpy(&error, reply + NLMSG_HDRLEN, sizeof error);
    return error == 0;
}
