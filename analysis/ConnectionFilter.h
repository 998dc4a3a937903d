// The quick filter over the connections list, shared by the window and pacterra-cli.
//
// Words are separated by white space and all must hold (AND). A word is one of
//   tcp, udp              the protocol
//   port:N                either port is N (0 to 65535)
//   host:ADDR[/BITS]      either address is ADDR (or lies in that network), IPv4 or IPv6
//   host:[ADDR]:PORT      either endpoint is that address and port
//   packets>N  packets<N  packets=N  packets>=N  packets<=N
//                         the connection's packet count
//   name:NAME             the server name the client asked for is NAME or a name under it
//   proc:NAME             a piece of either side's program name or executable path (live captures)
//   pid:N                 either side's process is N
//   user:NAME             either side's user is NAME (or the number N)
//   anything else         a piece of text, without regard to case, of the client or server endpoint text
//                         ("10.0.0.1:4321", "[2001:db8::1]:443"), the service label ("TCP:http"), the
//                         protocol or the server name
// and a leading "-" negates it. Double quotes keep spaces inside a word; a quoted word is always text.
//
// Parsing compiles the words once (numbers, addresses, a text's matching tables), so matching a connection
// reads only its binary fields and formats nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/PacketStore.h"

// A word that cannot be used, and why. Positions and lengths count bytes of the expression's text.
struct FilterProblem {
    size_t position = 0;
    size_t length = 0;
    std::string reason;
};

class ConnectionFilter {
public:
    // Longest text word (no connection's text is longer) and most words in one expression.
    static constexpr size_t kMaxTextWord = 64;
    static constexpr size_t kMaxWords = 32;

    // Matches every connection.
    ConnectionFilter();
    ~ConnectionFilter();
    ConnectionFilter(ConnectionFilter&&) noexcept;
    ConnectionFilter& operator=(ConnectionFilter&&) noexcept;

    // Compiles `text`. When a word is malformed, `problems` lists every such word and the filter returned
    // matches every connection (callers keep their last good filter instead).
    static ConnectionFilter Parse(std::string_view text, std::vector<FilterProblem>& problems);

    // No words: every connection matches.
    bool IsEmpty() const;
    // Whether matching reads what changes while a capture runs: the packet count, the server name (read
    // from the first packets after the connection appeared) or the owners.
    bool DependsOnPacketCount() const;

    bool Matches(const ConnectionRecord& connection) const;
    // With the record's index in the store, so that its server name counts too.
    bool Matches(const ConnectionRecord& connection, size_t index) const;
    // Appends to `out` the indices in [from, to) of `table` that match.
    void Scan(const ConnectionTable& table, size_t from, size_t to, std::vector<uint32_t>& out) const;

    struct Word;

private:
    std::vector<std::unique_ptr<Word>> m_words;  // cheapest first
    bool m_countDependent = false;
};

// The problems as lines for a tooltip or an error message: `word "port:99999" (column 1): ...`.
std::string DescribeFilterProblems(std::string_view text, const std::vector<FilterProblem>& problems,
                                   size_t maxLines = 10);
