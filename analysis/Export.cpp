#include "analysis/Export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "analysis/CommunityId.h"
#include "analysis/ServerNameTable.h"
#include "capture/AtomicFile.h"
#include "capture/Format.h"
#include "capture/ProcessOwner.h"

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;
constexpr size_t kBatch = 8192;  // connections between two progress reports

void AppendNumber(uint64_t v, std::string& out) {
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
    out.append(tmp, static_cast<size_t>(r.ptr - tmp));
}

void AppendPadded(unsigned v, int width, std::string& out) {
    char tmp[8];
    for (int i = width - 1; i >= 0; --i, v /= 10)
        tmp[i] = static_cast<char>('0' + v % 10);
    out.append(tmp, static_cast<size_t>(width));
}

// A JSON string of printable ASCII (every text of a connection is); anything else is escaped.
void AppendJsonString(std::string_view s, std::string& out) {
    out += '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendCsvField(std::string_view s, std::string& out) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// The owner fields, after the others.
constexpr const char* kOwnerFields[] = {"client_pid", "client_process", "client_user",
                                        "server_pid", "server_process", "server_user"};

bool ExportsOwners() {
    return g_ownersLookedUp.load(std::memory_order_relaxed);
}

}  // namespace

void AppendUtcTime(const PacketTimestamp& stamp, std::string& out) {
    using namespace std::chrono;
    // The four-digit years only: 0000-01-01 to 9999-12-31 (which also keeps the calendar's own range).
    constexpr int64_t kFirst = -62167219200, kEnd = 253402300800;
    if (stamp.sec < kFirst || stamp.sec >= kEnd) {
        out += "0000-01-01T00:00:00.000000Z";
        return;
    }
    const sys_seconds time{seconds{stamp.sec}};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const int64_t secs = (time - day).count();
    const auto year = static_cast<int>(date.year());
    const auto month = static_cast<unsigned>(date.month());
    const auto dayOfMonth = static_cast<unsigned>(date.day());
    AppendPadded(static_cast<unsigned>(year), 4, out);
    out += '-';
    AppendPadded(static_cast<unsigned>(month), 2, out);
    out += '-';
    AppendPadded(dayOfMonth, 2, out);
    out += 'T';
    AppendPadded(static_cast<unsigned>(secs / 3600), 2, out);
    out += ':';
    AppendPadded(static_cast<unsigned>(secs / 60 % 60), 2, out);
    out += ':';
    AppendPadded(static_cast<unsigned>(secs % 60), 2, out);
    out += '.';
    AppendPadded(static_cast<unsigned>(std::clamp(stamp.usec, 0, 999999)), 6, out);
    out += 'Z';
}

namespace {

// The fields of a connection, in the order both formats write them: the CSV header names them too.
constexpr const char* kFieldNames[] = {
    "number",          "start",           "last",         "client_ip",   "client_port",
    "server_ip",       "server_port",     "protocol",     "service",     "packets",
    "bytes_to_server", "bytes_to_client", "community_id", "server_name", "name_source"};

// Hands each field of `connection` to `field(name, value, isText)` in that order; `scratch` holds the
// formatted ones.
template <typename Field>
void ForEachField(size_t connection, CommunityIdHasher& hasher, std::string& scratch, Field&& field) {
    const ConnectionRecord& c = g_connectionTable.at(connection);
    // One count for every figure, so that they agree while the connection grows.
    const size_t n = c.packetIndices.size();
    uint64_t toServer = 0, toClient = 0;
    for (size_t i = 0; i < n; ++i) {
        const PacketRecord& p = g_packetTable[c.packetIndices[i]];
        (p.toServer.load(std::memory_order_relaxed) ? toServer : toClient) += static_cast<uint32_t>(p.capLen);
    }
    const char* const* name = kFieldNames;
    const auto number = [&](uint64_t v) {
        scratch.clear();
        AppendNumber(v, scratch);
        field(*name++, scratch, false);
    };
    const auto time = [&](const PacketTimestamp& stamp) {
        scratch.clear();
        AppendUtcTime(stamp, scratch);
        field(*name++, scratch, true);
    };
    const Endpoint client = c.Client(), server = c.Server();
    number(connection);
    time(g_packetTable[c.packetIndices[0]].stamp);
    time(g_packetTable[c.packetIndices[n - 1]].stamp);
    field(*name++, AddressText(client).view(), true);
    number(client.Port());
    field(*name++, AddressText(server).view(), true);
    number(server.Port());
    field(*name++, c.isTcp ? "TCP" : "UDP", true);
    // A known service only ("TCP:http"): the bare protocol is the field before.
    const ShortText service = ServiceLabel(c);
    field(*name++, service.view().find(':') == std::string_view::npos ? std::string_view() : service.view(),
          true);
    number(n);
    number(toServer);
    number(toClient);
    field(*name++, hasher.Compute(client, server, c.isTcp ? 6 : 17).view(), true);
    // No name: null in JSON, empty in CSV.
    const ConnectionName* known = ConnectionNames().Find(connection);
    field(*name++, known ? std::string_view(known->name) : std::string_view(), known != nullptr);
    field(*name++, known ? std::string_view(NameSourceText(known->source)) : std::string_view(),
          known != nullptr);
    // After a live capture only: a file's connections have no owners to tell, and their exports stay as
    // they were.
    if (ExportsOwners()) {
        ConnectionOwners owners;
        const bool known = GetConnectionOwners(&c, owners);
        const char* const* ownerName = kOwnerFields;
        for (const ProcessOwner* o : {&owners.client, &owners.server}) {
            const bool program = known && o->pid > 0, user = known && o->Known();
            scratch.clear();
            if (program)
                AppendNumber(static_cast<uint64_t>(o->pid), scratch);
            field(*ownerName++, scratch, false);
            field(*ownerName++, program ? std::string_view(o->program) : std::string_view(), program);
            field(*ownerName++, user ? std::string_view(o->user) : std::string_view(), user);
        }
    }
}

}  // namespace

void AppendConnectionJson(size_t connection, CommunityIdHasher& hasher, std::string& out) {
    std::string scratch;
    char separator = '{';
    ForEachField(connection, hasher, scratch, [&](const char* name, std::string_view value, bool text) {
        out += separator;
        separator = ',';
        out += '"';
        out += name;
        out += "\":";
        if (text)
            AppendJsonString(value, out);
        else
            out += value.empty() ? std::string_view("null") : value;
    });
    out += '}';
}

void AppendConnectionCsv(size_t connection, CommunityIdHasher& hasher, std::string& out) {
    std::string scratch;
    bool first = true;
    ForEachField(connection, hasher, scratch, [&](const char*, std::string_view value, bool) {
        if (!first)
            out += ',';
        first = false;
        AppendCsvField(value, out);
    });
    out += "\r\n";
}

bool WriteConnections(ConnectionFormat format, const std::vector<uint32_t>* connections,
                      const ExportWrite& write, const ExportProgress& progress) {
    const size_t total = connections ? connections->size() : g_connectionTable.size();
    std::string out;
    out.reserve(kFlushBytes + 4096);
    if (format == ConnectionFormat::Csv) {
        for (const char* name : kFieldNames) {
            if (name != kFieldNames[0])
                out += ',';
            out += name;
        }
        if (ExportsOwners())
            for (const char* field : kOwnerFields)
                (out += ',') += field;
        out += "\r\n";
    }
    CommunityIdHasher hasher;
    for (size_t k = 0; k < total; ++k) {
        if (k % kBatch == 0 && k != 0 && progress && !progress(k, total))
            return false;
        const size_t connection = connections ? (*connections)[k] : k;
        if (format == ConnectionFormat::Csv) {
            AppendConnectionCsv(connection, hasher, out);
        } else {
            AppendConnectionJson(connection, hasher, out);
            out += '\n';
        }
        if (out.size() >= kFlushBytes) {
            if (!write(out))
                return false;
            out.clear();
        }
    }
    return write(out);
}

ExportResult ExportConnectionsToFile(ConnectionFormat format, const std::vector<uint32_t>* connections,
                                     const std::string& path, const ExportProgress& progress,
                                     const CancelToken& cancel) {
    AtomicFileWriter file(path);
    if (!file.Open())
        return {CommandResult::Failed, file.Error()};
    bool cancelled = false;
    const bool written = WriteConnections(
        format, connections, [&](std::string_view bytes) { return file.Write(bytes); },
        [&](size_t done, size_t total) {
            cancelled = cancel.IsCancelled() || (progress && !progress(done, total));
            return !cancelled;
        });
    if (cancelled)
        return {CommandResult::Cancelled, {}};
    if (!written || !file.Commit())
        return {CommandResult::Failed, file.Error()};
    return {};
}

std::vector<uint32_t> PacketsOfConnections(const std::vector<uint32_t>& connections) {
    // One bit per stored packet: the packets come out in stored order without sorting.
    const size_t stored = g_packetTable.size();
    std::vector<uint64_t> bits((stored + 63) / 64);
    size_t count = 0;
    for (uint32_t c : connections) {
        const ConnectionRecord& record = g_connectionTable.at(c);
        const size_t n = record.packetIndices.size();
        for (size_t i = 0; i < n; ++i) {
            const uint32_t p = record.packetIndices[i];
            if (p >= stored)
                continue;
            uint64_t& word = bits[p / 64];
            const uint64_t bit = uint64_t{1} << (p % 64);
            count += (word & bit) == 0;
            word |= bit;
        }
    }
    std::vector<uint32_t> packets;
    packets.reserve(count);
    for (size_t w = 0; w < bits.size(); ++w)
        for (uint64_t word = bits[w]; word; word &= word - 1)
            packets.push_back(static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(word))));
    return packets;
}
