// The owner lookup of a live capture: a thread of its own that learns the sockets of this network namespace
// through the kernel's socket diagnostics (NETLINK_SOCK_DIAG: tuple -> user and socket inode), finds each
// new socket's inode among /proc/*/fd at once, and keeps what it saw for a while. The store wakes it for
// each new connection, and it asks the kernel for exactly that connection's sockets (a lookup of a few
// microseconds, where a dump of all sockets walks the whole TCP table for milliseconds). Dumps, paced by
// their cost, remain for what an exact lookup came too late for. The capture thread does nothing more than
// the wake: the lookup reads the connection table as the lists do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "capture/Endpoint.h"

// Starts the lookup for the live capture that begins now, in this process's network namespace (the one the
// capture sees). The store must already be reset.
void StartOwnerLookup();
// Gives the connections still waiting a last look and ends the thread; returns once it has ended.
void StopOwnerLookup();
// Called by the store after it added a connection: wakes the lookup if it sleeps (a load and a fence
// otherwise, and nothing is allocated).
void WakeOwnerLookup();

// Connections the lookup keeps waiting for their sockets at most; more go unattributed (and are counted).
inline constexpr size_t kMaxPendingOwners = 8192;

// One socket of a diagnostics dump. An IPv4 address mapped into IPv6 is read as IPv4.
struct DiagSocket {
    bool tcp = false;
    Endpoint local, remote;
    uint32_t uid = 0;
    uint64_t inode = 0;
};

// Every TCP and UDP socket of the namespace, IPv4 and IPv6, through `netlink` (a NETLINK_SOCK_DIAG socket),
// into `out` (emptied first).
void DumpSockets(int netlink, std::vector<DiagSocket>& out);

// The sockets the kernel holds for one connection's side at `local` talking to `remote`, through `netlink`,
// appended to `out`: for TCP the connected socket, or the listener a new connection would reach; for UDP
// the socket that receives from `remote`, connected or bound. Nothing when there is none.
void LookupSocket(int netlink, bool tcp, const Endpoint& local, const Endpoint& remote,
                  std::vector<DiagSocket>& out);

// Reads one answer datagram of a dump into `out`: 1 more follows, 0 the dump is complete, -1 an error or a
// malformed message (nothing past it is read).
int ParseDiagAnswer(std::span<const uint8_t> bytes, bool tcp, std::vector<DiagSocket>& out);

// The inode of a descriptor link "socket:[12345]"; 0 for anything else.
uint64_t SocketInodeOfLink(std::string_view link);
