// Exports of the connections list (CSV, JSON Lines) and of connections' packets, for the window and
// pacterra-cli. Files are written beside their target under a temporary name and renamed over it only once
// complete, so a failed or cancelled export leaves no partial file and never harms an existing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/Command.h"
#include "capture/PacketStore.h"

enum class ConnectionFormat { Csv, JsonLines };

// Takes the next piece of the output; false stops the export (a write failed, or the user cancelled).
using ExportWrite = std::function<bool(std::string_view)>;
// Between batches: connections done and in all; false cancels.
using ExportProgress = std::function<bool(size_t done, size_t total)>;

// JSON Lines has one object per connection: number, start and last (UTC, ISO 8601, microseconds), client_ip,
// client_port, server_ip, server_port, protocol, service (empty when none is known), packets,
// bytes_to_server and bytes_to_client (captured frame bytes each way), community_id, and server_name and
// name_source (tls, quic, http or dns; both null when the connection has no name). CSV (RFC 4180: CRLF
// line ends, fields quoted where needed) has the same fields, with their names as the header row (a
// missing name is empty). After a live capture both add client_pid, client_process, client_user, server_pid,
// server_process and server_user (ProcessOwner.h; null or empty when not known). `connections` lists the
// connections to write in order; null writes every connection the store holds now. false when `write`
// refused.
bool WriteConnections(ConnectionFormat format, const std::vector<uint32_t>* connections,
                      const ExportWrite& write, const ExportProgress& progress = {});

// One connection's JSON object (without the line end) or CSV record (with it), appended to `out`.
class CommunityIdHasher;
void AppendConnectionJson(size_t connection, CommunityIdHasher& hasher, std::string& out);
void AppendConnectionCsv(size_t connection, CommunityIdHasher& hasher, std::string& out);
// "2023-11-14T22:13:20.000042Z"
void AppendUtcTime(const PacketTimestamp& stamp, std::string& out);

struct ExportResult {
    CommandResult status = CommandResult::Done;
    std::string error;  // "PATH: reason" when it failed
};

// CSV or JSON Lines of `connections` (null: all) to `path`. Cancelled (nothing written) when `progress`
// refused or `cancel` was set.
ExportResult ExportConnectionsToFile(ConnectionFormat format, const std::vector<uint32_t>* connections,
                                     const std::string& path, const ExportProgress& progress = {},
                                     const CancelToken& cancel = CancelToken::Never());

// The stored packets of `connections`, in the order they were stored (each once).
std::vector<uint32_t> PacketsOfConnections(const std::vector<uint32_t>& connections);
