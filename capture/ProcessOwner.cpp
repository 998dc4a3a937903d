#include "capture/ProcessOwner.h"

#include <pwd.h>
#include <unistd.h>

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

std::atomic<size_t> g_ownedConnections{0};
std::atomic<bool> g_ownersLookedUp{false};
std::atomic<uint64_t> g_ownerLookupOverflow{0};

namespace {

std::shared_mutex g_ownersMutex;
// Keyed by the record's address: records never move while the store holds them, and the filter is handed
// the record alone.
std::unordered_map<const ConnectionRecord*, ConnectionOwners> g_owners;

std::string SideText(const ProcessOwner& o) {
    if (o.pid > 0)
        return (o.program.empty() ? std::string("?") : o.program) + " " + std::to_string(o.pid);
    return o.Known() ? "(" + o.user + ")" : std::string();
}

}  // namespace

ProcessOwner DecideOwner(std::span<const SocketEvidence> evidence) {
    ProcessOwner owner;
    if (evidence.empty())
        return owner;
    for (const SocketEvidence& e : evidence)
        if (e.uid != evidence.front().uid)
            return owner;  // two users' sockets on one tuple: nothing is certain
    owner.uid = evidence.front().uid;
    owner.user = UserName(owner.uid);
    const std::vector<ProcessSeen>& first = evidence.front().holders;
    if (first.size() != 1 || first.front().pid <= 0)
        return owner;
    for (const SocketEvidence& e : evidence)
        if (e.holders.size() != 1 || e.holders.front() != first.front())
            return owner;
    owner.pid = first.front().pid;
    owner.program = first.front().program;
    owner.exe = first.front().exe;
    return owner;
}

std::string OwnersCellText(const ConnectionOwners& owners) {
    const std::string client = SideText(owners.client), server = SideText(owners.server);
    if (server.empty())
        return client;
    return client.empty() ? "-> " + server : client + " -> " + server;
}

std::string UserName(uint32_t uid) {
    if (uid == kNoUser)
        return {};
    // The password database may be a service far away: each user is asked for once.
    static std::mutex cacheMutex;
    static std::unordered_map<uint32_t, std::string> cache;
    std::lock_guard lock(cacheMutex);
    if (const auto it = cache.find(uid); it != cache.end())
        return it->second;
    std::string& name = cache[uid];
    passwd pw{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        name = found->pw_name;
    else
        name = std::to_string(uid);
    return name;
}

void SetConnectionOwners(const ConnectionRecord* connection, const ConnectionOwners& owners) {
    if (!owners.client.Known() && !owners.server.Known())
        return;
    std::unique_lock lock(g_ownersMutex);
    if (g_owners.insert_or_assign(connection, owners).second)
        g_ownedConnections.fetch_add(1, std::memory_order_relaxed);
}

bool GetConnectionOwners(const ConnectionRecord* connection, ConnectionOwners& out) {
    if (g_ownedConnections.load(std::memory_order_relaxed) == 0)
        return false;  // the common case (files, no local sockets): no lock
    std::shared_lock lock(g_ownersMutex);
    const auto it = g_owners.find(connection);
    if (it == g_owners.end())
        return false;
    out = it->second;
    return true;
}

void ClearConnectionOwners() {
    std::unique_lock lock(g_ownersMutex);
    std::unordered_map<const ConnectionRecord*, ConnectionOwners>().swap(g_owners);
    g_ownedConnections.store(0, std::memory_order_relaxed);
    g_ownersLookedUp.store(false, std::memory_order_relaxed);
    g_ownerLookupOverflow.store(0, std::memory_order_relaxed);
}
