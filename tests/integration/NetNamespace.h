// Puts the test process into a network namespace of its own, with loopback up, so that live captures see
// only the traffic the tests make and nothing leaves the machine.
#pragma once

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
