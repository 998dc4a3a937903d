// Which program owns each side of a live connection: PID, program name, executable and user, learned off
// the capture thread (ProcessOwnerLookup) while the sockets still exist, and kept per connection here. The
// window, the filter, the exports and pacterra-cli read them; connections read from files never have any.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "capture/PacketStore.h"

inline constexpr uint32_t kNoUser = UINT32_MAX;

// One side's owner. uid kNoUser: nothing is known (the socket is not on this host, or was never seen);
// pid 0 with a uid: the user is certain but the program is not (ambiguous, gone, or another user's).
struct ProcessOwner {
    int32_t pid = 0;
    uint32_t uid = kNoUser;
    std::string program;  // /proc/PID/comm
    std::string exe;      // /proc/PID/exe, empty when unreadable
    std::string user;     // the user's name, or the number when the name is unknown

    bool Known() const { return uid != kNoUser; }
    bool operator==(const ProcessOwner&) const = default;
};

struct ConnectionOwners {
    ProcessOwner client, server;
};

// A process seen holding a socket.
struct ProcessSeen {
    int32_t pid = 0;
    std::string program, exe;
    bool operator==(const ProcessSeen&) const = default;
};

// One socket seen with a connection's tuple from one side: its inode and user (from the kernel's socket
// diagnostics) and every process found holding it (none: it was gone or its descriptors unreadable).
struct SocketEvidence {
    uint64_t inode = 0;
    uint32_t uid = kNoUser;
    std::vector<ProcessSeen> holders;
};

// What the evidence makes certain: nothing when it is empty or its users differ; the user alone unless every
// socket was held by one and the same process. A wrong program is worse than none.
ProcessOwner DecideOwner(std::span<const SocketEvidence> evidence);

// "curl 4121 -> python3 3977"; "(alice)" for a side whose user alone is known; "-> nginx 80" when only the
// server is local; empty when nothing is known.
std::string OwnersCellText(const ConnectionOwners& owners);

// The user's name from the password database, or the number.
std::string UserName(uint32_t uid);

// The owner table. Written by the lookup thread, read by any thread.
void SetConnectionOwners(const ConnectionRecord* connection, const ConnectionOwners& owners);
// false (and `out` untouched) when the connection has no owner on either side.
bool GetConnectionOwners(const ConnectionRecord* connection, ConnectionOwners& out);
void ClearConnectionOwners();

// Connections with an owner on either side since the last clear (the list shows its Process column then).
extern std::atomic<size_t> g_ownedConnections;
// Whether the store's connections come from a live capture that looked up owners: only then do the exports
// carry the owner fields (a file's connections have no owners to tell).
extern std::atomic<bool> g_ownersLookedUp;
// New connections left unattributed because the lookup could not keep up.
extern std::atomic<uint64_t> g_ownerLookupOverflow;
