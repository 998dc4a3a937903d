#include "analysis/ConnectionFilter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "analysis/ServerNameTable.h"
#include "capture/Format.h"
#include "capture/ProcessOwner.h"

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool ContainsNoCase(std::string_view text, std::string_view lowerWord) {
    if (lowerWord.size() > text.size())
        return false;
    for (size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < lowerWord.size() && Lower(text[i + k]) == lowerWord[k])
            ++k;
        if (k == lowerWord.size())
            return true;
    }
    return false;
}

// A whole decimal number no greater than `max`; false for anything else (empty, signs, overflow).
bool ParseNumber(std::string_view s, uint64_t max, uint64_t& out) {
    if (s.empty() || s.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (max - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    out = v;
    return true;
}

// Every service label a port can give, numbered, and each port's label per protocol. A pair of ports gets
// the label of one of its two ports (or the protocol alone when neither has one), so a word's verdict on a
// pair usually follows from its verdicts on the two ports' labels. Built once from ServiceLabel itself, so
// the filter always agrees with the list's "Protocol" column.
struct PortLabels {
    std::vector<ShortText> labels;
    uint8_t plain[2] = {};                             // the protocol's label without a service
    std::array<std::array<uint8_t, 65536>, 2> byPort;  // [0] TCP, [1] UDP

    PortLabels() {
        for (int k = 0; k < 2; ++k) {
            const int protocol = k == 0 ? 6 : 17;
            std::array<uint32_t, 256> uses{};
            uint8_t last = 0;
            for (uint32_t p = 0; p < 65536; ++p) {
                const ShortText label =
                    ServiceLabel(static_cast<uint16_t>(p), static_cast<uint16_t>(p), protocol);
                uint8_t id = last;
                if (labels.empty() || !(labels[id] == label.view())) {
                    auto it = std::find_if(labels.begin(), labels.end(),
                                           [&](const ShortText& t) { return t == label.view(); });
                    if (it == labels.end() && labels.size() < 255) {
                        labels.push_back(label);
                        it = labels.end() - 1;
                    }
                    id = static_cast<uint8_t>(it - labels.begin());
                }
                byPort[k][p] = last = id;
                ++uses[id];
            }
            plain[k] = static_cast<uint8_t>(std::max_element(uses.begin(), uses.end()) - uses.begin());
        }
    }
};

const PortLabels& Labels() {
    static const PortLabels labels;
    return labels;
}

}  // namespace

struct ConnectionFilter::Word {
    enum Kind { Protocol, Port, Host, Packets, Text, Name, Program, Pid, User } kind = Text;
    bool negate = false;

    int isTcp = 0;               // Protocol
    uint16_t port = 0;           // Port, and Host when `hostPort`
    bool v4 = true;              // Host: the address's family (a connection of the other never matches)
    bool hostPort = false;       // Host: an endpoint, "[ADDR]:PORT"
    uint32_t net = 0, mask = 0;  // Host, IPv4, host order
    uint8_t net6[16] = {}, mask6[16] = {};                           // Host, IPv6
    enum Op { Greater, Less, Equal, AtLeast, AtMost } op = Greater;  // Packets
    uint64_t count = 0;

    // Text: the lowered word, whether it could be part of an endpoint's text, and a matching automaton
    // over endpoint texts. `next[state * 128 + c]` is the state after a character; the tables below give
    // the state after a whole piece of the text at once, with the top bit set when the word was seen
    // meanwhile: an address byte and its "." or ":", a number up to 655 (a port's hundreds, or a small
    // port) and two zero-padded digits (a port's last two).
    std::string text;
    bool endpointChars = false;
    bool ipv6EndpointChars = false;  // could be part of "[2001:db8::1]:443"
    std::vector<uint8_t> next;
    std::vector<uint8_t> dotted, colon, hundreds, pair;
    std::vector<uint8_t> labelMatch;  // per label id of PortLabels
    bool protocolMatch[2] = {};
    const PortLabels* labels = nullptr;

    int Cost() const {
        return kind == Text || kind >= Program ? 3 : kind == Packets || kind == Host || kind == Name ? 1 : 0;
    }

    // The connection's server name is `text` or a name under it ("cdn.example.com" for "example.com").
    bool InName(size_t connection) const {
        const ConnectionName* n = ConnectionNames().Find(connection);
        if (!n)
            return false;
        const std::string_view name = n->name;
        if (NameUnder(name))
            return true;
        // An HTTP Host may carry the server's port ("web.example.net:8080", shown as sent): the name is what
        // comes before it.
        const size_t colon = name.rfind(':');
        return n->source == NameSource::Http && colon != name.npos && colon + 1 < name.size() &&
               name.find_first_not_of("0123456789", colon + 1) == name.npos &&
               (name.find(':') == colon || name[colon - 1] == ']') && NameUnder(name.substr(0, colon));
    }
    bool NameUnder(std::string_view name) const {
        if (name.size() < text.size() ||
            (name.size() > text.size() && name[name.size() - text.size() - 1] != '.'))
            return false;
        return std::equal(text.begin(), text.end(), name.end() - static_cast<ptrdiff_t>(text.size()),
                          [](char a, char b) { return a == Lower(b); });
    }

    // Program: a piece of either side's program name or executable path; Pid: either side's PID (`count`);
    // User: either side's user name or number.
    bool HoldsOwner(const ConnectionRecord& c) const {
        ConnectionOwners o;
        if (!GetConnectionOwners(&c, o))
            return false;
        for (const ProcessOwner* side : {&o.client, &o.server}) {
            if (kind == Pid && side->pid > 0 && static_cast<uint64_t>(side->pid) == count)
                return true;
            if (kind == Program && side->pid > 0 &&
                (ContainsNoCase(side->program, text) || ContainsNoCase(side->exe, text)))
                return true;
            if (kind == User && side->Known() &&
                (LowerAscii(side->user) == text || std::to_string(side->uid) == text))
                return true;
        }
        return false;
    }

    // The state after `piece` from `state`, with the top bit set when the word was seen on the way.
    uint8_t Feed(size_t state, std::string_view piece) const {
        uint8_t seen = 0;
        for (char c : piece) {
            state = next[state * 128 + static_cast<uint8_t>(c)];
            if (state == text.size())
                seen = 0x80;
        }
        return static_cast<uint8_t>(state | seen);
    }

    void CompileText() {
        const size_t m = text.size();
        endpointChars = text.find_first_not_of("0123456789.:") == std::string::npos;
        ipv6EndpointChars = text.find_first_not_of("0123456789abcdef.:[]") == std::string::npos;
        if (endpointChars) {
            next.assign((m + 1) * 128, 0);
            next[static_cast<uint8_t>(text[0])] = 1;
            size_t fallback = 0;
            for (size_t s = 1; s <= m; ++s) {
                std::copy_n(&next[fallback * 128], 128, &next[s * 128]);
                if (s < m) {
                    next[s * 128 + static_cast<uint8_t>(text[s])] = static_cast<uint8_t>(s + 1);
                    fallback = next[fallback * 128 + static_cast<uint8_t>(text[s])];
                }
            }
            dotted.resize((m + 1) * 256);
            colon.resize((m + 1) * 256);
            hundreds.resize((m + 1) * 656);
            pair.resize((m + 1) * 100);
            for (size_t st = 0; st <= m; ++st) {
                for (unsigned v = 0; v < 656; ++v) {
                    char digits[8];
                    const size_t n = Digits(v, digits);
                    hundreds[st * 656 + v] = Feed(st, {digits, n});
                    if (v < 256) {
                        digits[n] = '.';
                        dotted[st * 256 + v] = Feed(st, {digits, n + 1});
                        digits[n] = ':';
                        colon[st * 256 + v] = Feed(st, {digits, n + 1});
                    }
                    if (v < 100) {
                        const char two[2] = {static_cast<char>('0' + v / 10),
                                             static_cast<char>('0' + v % 10)};
                        pair[st * 100 + v] = Feed(st, {two, 2});
                    }
                }
            }
        }
        labels = &Labels();
        labelMatch.resize(labels->labels.size());
        for (size_t i = 0; i < labels->labels.size(); ++i)
            labelMatch[i] = ContainsNoCase(labels->labels[i].view(), text);
        protocolMatch[0] = ContainsNoCase("TCP", text);
        protocolMatch[1] = ContainsNoCase("UDP", text);
    }

    static size_t Digits(unsigned v, char* out) {
        char tmp[6];
        size_t n = 0;
        do {
            tmp[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        for (size_t i = 0; i < n; ++i)
            out[i] = tmp[n - 1 - i];
        return n;
    }

    // The word within "a.b.c.d:port" of either endpoint, from the bytes alone. The two endpoints are walked
    // side by side without early exits: the lookups of one overlap those of the other.
    bool InEndpoints(const ConnectionRecord& c) const {
        const Endpoint client = c.Client(), server = c.Server();
        const uint8_t* ca = client.AddressBytes();
        const uint8_t* sa = server.AddressBytes();
        unsigned a = 0, b = 0, seen = 0;
        auto step = [&](const std::vector<uint8_t>& table, unsigned width, unsigned va, unsigned vb) {
            const uint8_t ea = table[(a & 0x7F) * width + va];
            const uint8_t eb = table[(b & 0x7F) * width + vb];
            seen |= ea | eb;
            a = ea;
            b = eb;
        };
        for (int i = 0; i < 3; ++i)
            step(dotted, 256, ca[i], sa[i]);
        step(colon, 256, ca[3], sa[3]);
        const unsigned pa = client.Port(), pb = server.Port();
        if (pa < 656 && pb < 656) {
            step(hundreds, 656, pa, pb);
        } else {
            // A port under 656 is written whole; its second step reads the entry for "no more digits".
            step(hundreds, 656, pa < 656 ? pa : pa / 100, pb < 656 ? pb : pb / 100);
            const uint8_t ea = pa < 656 ? 0 : pair[(a & 0x7F) * 100 + pa % 100];
            const uint8_t eb = pb < 656 ? 0 : pair[(b & 0x7F) * 100 + pb % 100];
            seen |= ea | eb;
        }
        return seen & 0x80;
    }

    // The word within "[2001:db8::1]:443" of either endpoint. IPv6 conversations are few, so their text is
    // written out rather than compiled for.
    bool InIpv6Endpoints(const ConnectionRecord& c) const {
        return EndpointText(c.Client()).view().find(text) != std::string_view::npos ||
               EndpointText(c.Server()).view().find(text) != std::string_view::npos;
    }

    bool InNetwork(const Endpoint& e) const {
        if (e.IsIpv6() == v4 || (hostPort && e.Port() != port))
            return false;
        const uint8_t* ip = e.AddressBytes();
        if (v4)
            return (ReadBE32(ip) & mask) == net;
        uint8_t differ = 0;
        for (int i = 0; i < 16; ++i)
            differ |= static_cast<uint8_t>((ip[i] & mask6[i]) ^ net6[i]);
        return differ == 0;
    }

    bool InLabel(const ConnectionRecord& c) const {
        const int k = c.isTcp ? 0 : 1;
        if (protocolMatch[k])
            return true;
        const uint8_t a = labels->byPort[k][c.ClientPort()];
        const uint8_t b = labels->byPort[k][c.ServerPort()];
        if (a == b || b == labels->plain[k])
            return labelMatch[a];
        if (a == labels->plain[k] || labelMatch[a] == labelMatch[b])
            return labelMatch[b];
        // Two ports with different services: only the table's order tells which label the pair shows.
        return ContainsNoCase(ServiceLabel(c).view(), text);
    }

    // `connection` is the record's index (SIZE_MAX: unknown, so no name).
    bool Holds(const ConnectionRecord& c, size_t connection) const {
        switch (kind) {
            case Name:
                return InName(connection);
            case Protocol:
                return (c.isTcp != 0) == (isTcp != 0);
            case Port:
                return c.ClientPort() == port || c.ServerPort() == port;
            case Host:
                return InNetwork(c.Client()) || InNetwork(c.Server());
            case Packets: {
                const uint64_t n = c.packetIndices.size();
                switch (op) {
                    case Greater:
                        return n > count;
                    case Less:
                        return n < count;
                    case Equal:
                        return n == count;
                    case AtLeast:
                        return n >= count;
                    case AtMost:
                        return n <= count;
                }
                return false;
            }
            case Program:
            case Pid:
            case User:
                return HoldsOwner(c);
            case Text:
                if (InLabel(c))
                    return true;
                if (const ConnectionName* n = ConnectionNames().Find(connection);
                    n && ContainsNoCase(n->name, text))
                    return true;
                return c.IsIpv6() ? ipv6EndpointChars && InIpv6Endpoints(c) : endpointChars && InEndpoints(c);
        }
        return false;
    }
};

namespace {

using Word = ConnectionFilter::Word;

// A part of a word named in a reason: quoted and cut, so that a word of any length gives a short message.
std::string Quoted(std::string_view text) {
    constexpr size_t kShown = 40;
    return "\"" + std::string(text.substr(0, kShown)) + (text.size() > kShown ? "...\"" : "\"");
}

// Compiles one word (without its quotes); an empty string, or the reason it is malformed.
std::string CompileWord(std::string_view body, bool quoted, Word& w) {
    if (body.empty())
        return quoted ? "an empty quoted word matches everything; remove it" : "a lone \"-\" negates nothing";
    for (char c : body) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F)
            return "holds a character that no connection's text has (only ASCII letters, digits and "
                   "punctuation can match)";
    }
    const std::string lower = LowerAscii(body);
    if (!quoted) {
        if (lower == "tcp" || lower == "udp") {
            w.kind = Word::Protocol;
            w.isTcp = lower == "tcp";
            return {};
        }
        if (lower.starts_with("port:")) {
            uint64_t port = 0;
            if (lower.size() == 5)
                return "port: needs a port number (0 to 65535)";
            if (!ParseNumber(std::string_view(lower).substr(5), 65535, port))
                return Quoted(std::string_view(lower).substr(5)) + " is not a port number (0 to 65535)";
            w.kind = Word::Port;
            w.port = static_cast<uint16_t>(port);
            return {};
        }
        if (lower.starts_with("proc:") || lower.starts_with("user:")) {
            if (lower.size() == 5)
                return lower.substr(0, 5) + " needs a name";
            w.kind = lower[0] == 'p' ? Word::Program : Word::User;
            w.text = lower.substr(5);
            return {};
        }
        if (lower.starts_with("pid:")) {
            if (!ParseNumber(std::string_view(lower).substr(4), INT32_MAX, w.count))
                return "pid: needs a process number (1 to 2147483647)";
            w.kind = Word::Pid;
            return {};
        }
        if (lower.starts_with("host:")) {
            std::string address = lower.substr(5);
            if (address.empty())
                return "host: needs an address (192.0.2.1, 2001:db8::1, 10.0.0.0/8)";
            if (address[0] == '[') {
                // An endpoint: "[ADDR]:PORT", as the lists write an IPv6 one.
                const size_t close = address.find(']');
                if (close == std::string::npos || address.compare(close, 2, "]:") != 0)
                    return Quoted(address) + " is not an endpoint ([2001:db8::1]:443)";
                const std::string portText = address.substr(close + 2);
                uint64_t port = 0;
                if (!ParseNumber(portText, 65535, port))
                    return Quoted(portText) + " is not a port number (0 to 65535)";
                w.hostPort = true;
                w.port = static_cast<uint16_t>(port);
                address = address.substr(1, close - 1);
            }
            std::string bitsText;
            if (size_t slash = address.find('/'); slash != std::string::npos) {
                bitsText = address.substr(slash + 1);
                address.resize(slash);
            }
            uint8_t bytes[16];
            if (::inet_pton(AF_INET, address.c_str(), bytes) == 1) {
                w.v4 = true;
            } else if (::inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
                w.v4 = false;
            } else {
                return Quoted(address) + " is not an IPv4 or IPv6 address";
            }
            uint64_t bits = w.v4 ? 32 : 128;
            if (!bitsText.empty() || lower.find('/') != std::string::npos) {
                if (!ParseNumber(bitsText, w.v4 ? 32 : 128, bits))
                    return Quoted("/" + bitsText) + " is not a network prefix length (0 to " +
                           (w.v4 ? "32" : "128") + ")";
            }
            w.kind = Word::Host;
            if (w.v4) {
                w.mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
                w.net = ReadBE32(bytes) & w.mask;
            } else {
                for (size_t i = 0; i < 16; ++i) {
                    const uint64_t left = bits > i * 8 ? std::min<uint64_t>(bits - i * 8, 8) : 0;
                    w.mask6[i] = static_cast<uint8_t>(0xFF00u >> left);
                    w.net6[i] = bytes[i] & w.mask6[i];
                }
            }
            return {};
        }
        if (lower.starts_with("name:")) {
            w.kind = Word::Name;
            w.text = lower.substr(5);
            while (!w.text.empty() && w.text.back() == '.')
                w.text.pop_back();
            if (w.text.empty())
                return "name: needs a name (example.com)";
            return {};
        }
        if (lower.starts_with("packets")) {
            std::string_view rest = std::string_view(lower).substr(7);
            static constexpr struct {
                const char* text;
                Word::Op op;
            } kOps[] = {{">=", Word::AtLeast},
                        {"<=", Word::AtMost},
                        {">", Word::Greater},
                        {"<", Word::Less},
                        {"=", Word::Equal}};
            for (const auto& o : kOps) {
                if (!rest.starts_with(o.text))
                    continue;
                rest.remove_prefix(std::strlen(o.text));
                if (!ParseNumber(rest, UINT32_MAX, w.count))
                    return "packets" + std::string(o.text) + " needs a whole number of packets";
                w.kind = Word::Packets;
                w.op = o.op;
                return {};
            }
            if (rest.empty() || rest[0] == ':')
                return "packets needs a comparison: packets>N, packets<N or packets=N";
        }
    }
    if (lower.size() > ConnectionFilter::kMaxTextWord)
        return "longer than any text of a connection (" + std::to_string(ConnectionFilter::kMaxTextWord) +
               " characters at most)";
    w.kind = Word::Text;
    w.text = lower;
    w.CompileText();
    return {};
}

}  // namespace

ConnectionFilter::ConnectionFilter() = default;
ConnectionFilter::~ConnectionFilter() = default;
ConnectionFilter::ConnectionFilter(ConnectionFilter&&) noexcept = default;
ConnectionFilter& ConnectionFilter::operator=(ConnectionFilter&&) noexcept = default;

ConnectionFilter ConnectionFilter::Parse(std::string_view text, std::vector<FilterProblem>& problems) {
    problems.clear();
    ConnectionFilter filter;
    size_t words = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (IsSpace(text[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        auto w = std::make_unique<Word>();
        if (text[i] == '-') {
            w->negate = true;
            ++i;
        }
        const bool quoted = i < text.size() && text[i] == '"';
        std::string body;
        bool inQuotes = false;
        size_t openQuote = 0;
        for (; i < text.size() && (inQuotes || !IsSpace(text[i])); ++i) {
            if (text[i] == '"') {
                inQuotes = !inQuotes;
                openQuote = i;
            } else {
                body += text[i];
            }
        }
        ++words;
        std::string reason;
        if (inQuotes)
            reason = "the quote at column " + std::to_string(openQuote + 1) + " is not closed";
        else if (words > kMaxWords)
            reason = "more than " + std::to_string(kMaxWords) + " words";
        else
            reason = CompileWord(body, quoted, *w);
        if (!reason.empty()) {
            problems.push_back({start, i - start, std::move(reason)});
            continue;
        }
        // A name comes with a connection's first packets, and owners are learned after a connection
        // appears: both are tested again as its count grows.
        filter.m_countDependent = filter.m_countDependent || w->kind == Word::Packets ||
                                  w->kind == Word::Name || w->kind == Word::Text || w->kind >= Word::Program;
        filter.m_words.push_back(std::move(w));
    }
    if (!problems.empty())
        return ConnectionFilter();
    std::stable_sort(filter.m_words.begin(), filter.m_words.end(),
                     [](const auto& a, const auto& b) { return a->Cost() < b->Cost(); });
    return filter;
}

bool ConnectionFilter::IsEmpty() const {
    return m_words.empty();
}

bool ConnectionFilter::DependsOnPacketCount() const {
    return m_countDependent;
}

bool ConnectionFilter::Matches(const ConnectionRecord& connection) const {
    return Matches(connection, SIZE_MAX);
}

bool ConnectionFilter::Matches(const ConnectionRecord& connection, size_t index) const {
    for (const auto& w : m_words)
        if (w->Holds(connection, index) == w->negate)
            return false;
    return true;
}

void ConnectionFilter::Scan(const ConnectionTable& table, size_t from, size_t to,
                            std::vector<uint32_t>& out) const {
    if (m_words.empty()) {
        for (size_t i = from; i < to; ++i)
            out.push_back(static_cast<uint32_t>(i));
        return;
    }
    for (size_t i = from; i < to; ++i)
        if (Matches(table[i], i))
            out.push_back(static_cast<uint32_t>(i));
}

std::string DescribeFilterProblems(std::string_view text, const std::vector<FilterProblem>& problems,
                                   size_t maxLines) {
    std::string out;
    size_t shown = 0;
    for (const FilterProblem& p : problems) {
        if (shown == maxLines) {
            out += "and " + std::to_string(problems.size() - shown) + " more malformed words\n";
            break;
        }
        // Cut long words on a character boundary of UTF-8.
        size_t length = std::min<size_t>(p.length, 40);
        while (length < p.length && length > 0 &&
               (static_cast<unsigned char>(text[p.position + length]) & 0xC0) == 0x80)
            --length;
        std::string word(text.substr(p.position, length));
        if (length < p.length)
            word += "...";
        out += "word \"" + word + "\" (column " + std::to_string(p.position + 1) + "): " + p.reason + "\n";
        ++shown;
    }
    if (!out.empty())
        out.pop_back();
    return out;
}
