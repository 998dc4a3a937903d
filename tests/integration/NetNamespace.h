// Puts the test process into a network namespace of its own, with loopback up, so that live captures see
// only the traffic the tests make and nothing leaves the machine.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
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
