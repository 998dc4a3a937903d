// pacterra-gen-sample OUT.cap
//
// Writes the sample capture that ships with the program (res/sample.cap): about three minutes of a small
// office network seen from a switch monitoring port. A Linux workstation (192.168.1.23), a Windows laptop
// (192.168.1.31) and a network printer (192.168.1.40) sit behind a router (192.168.1.1); the servers they
// talk to use the documentation ranges 192.0.2.0/24, 198.51.100.0/24 and 203.0.113.0/24.
//
// Everything comes from a fixed seed and a fixed start time, so the committed file can be rebuilt byte for
// byte. Checksums, lengths, sequence and acknowledgement numbers and the application protocols' wire formats
// are correct, so other tools decode the file cleanly.

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kStartSec = 1773480413;  // Sat 2026-03-14 09:26:53 UTC
constexpr uint64_t kMs = 1000;             // times are microseconds after kStartSec
constexpr uint64_t kSec = 1000000;
constexpr size_t kMinFrame = 60;  // shortest Ethernet frame without its FCS

// splitmix64: unlike the <random> distributions it yields the same numbers with every standard library.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    Bytes RandomBytes(size_t n) {
        Bytes b(n);
        for (auto& x : b)
            x = static_cast<uint8_t>(Next() >> 56);
        return b;
    }
    std::string Hex(size_t n) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += kDigits[Next() >> 60];
        return s;
    }

private:
    uint64_t s_;
};

void Put8(Bytes& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
}
void Put16(Bytes& b, unsigned v) {
    Put8(b, v >> 8);
    Put8(b, v);
}
void Put24(Bytes& b, uint32_t v) {
    Put8(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}
void Put(Bytes& b, std::string_view s) {
    b.insert(b.end(), s.begin(), s.end());
}
void Put(Bytes& b, const Bytes& s) {
    b.insert(b.end(), s.begin(), s.end());
}
void Set16(Bytes& b, size_t at, unsigned v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
Bytes ToBytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const auto& p : parts)
        Put(b, p);
    return b;
}

uint32_t Sum16(const uint8_t* p, size_t n, uint32_t acc) {
    for (size_t i = 0; i + 1 < n; i += 2)
        acc += (p[i] << 8) | p[i + 1];
    if (n & 1)
        acc += p[n - 1] << 8;
    return acc;
}
uint16_t Fold(uint32_t acc) {
    while (acc >> 16)
        acc = (acc & 0xFFFF) + (acc >> 16);
    return static_cast<uint16_t>(~acc);
}

// ---------------------------------------------------------------------------------------------------------
// Hosts and frames

using Mac = std::array<uint8_t, 6>;
using Ip = std::array<uint8_t, 4>;

struct Host {
    Mac mac;  // for hosts beyond the router, the router's MAC: that is what the frames carry
    Ip ip;
    uint8_t ttl;  // as the frames arrive at the monitoring port
    bool dfOnUdp;
    uint16_t ipId;
    // TCP behaviour
    bool tcpTimestamps;
    uint8_t windowScale;
    uint16_t synWindow;
    uint16_t window;  // after scaling has been agreed
};

const Mac kRouterMac = {0x00, 0x1e, 0x58, 0xb3, 0x7a, 0x01};
const Mac kBroadcastMac = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

class Capture {
public:
    void Add(uint64_t t, Bytes frame) {
        if (frame.size() < kMinFrame)
            frame.resize(kMinFrame, 0);  // the monitoring port sees frames as they were on the wire
        frames_.push_back({t, std::move(frame)});
    }

    bool Write(const char* path) {
        // Conversations were generated one after the other, each on its own clock: merge them by time.
        std::stable_sort(frames_.begin(), frames_.end(),
                         [](const Frame& a, const Frame& b) { return a.t < b.t; });
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
        if (!dead)
            return false;
        pcap_dumper_t* out = pcap_dump_open(dead, path);
        if (!out) {
            std::fprintf(stderr, "pacterra-gen-sample: %s\n", pcap_geterr(dead));
            pcap_close(dead);
            return false;
        }
        for (const auto& f : frames_) {
            pcap_pkthdr h{};
            h.ts.tv_sec = static_cast<time_t>(kStartSec + static_cast<int64_t>(f.t / kSec));
            h.ts.tv_usec = static_cast<suseconds_t>(f.t % kSec);
            h.caplen = h.len = static_cast<bpf_u_int32>(f.bytes.size());
            pcap_dump(reinterpret_cast<u_char*>(out), &h, f.bytes.data());
        }
        bool ok = pcap_dump_flush(out) == 0 && !std::ferror(pcap_dump_file(out));
        pcap_dump_close(out);
        pcap_close(dead);
        return ok;
    }

    size_t Count() const { return frames_.size(); }

private:
    struct Frame {
        uint64_t t;
        Bytes bytes;
    };
    std::vector<Frame> frames_;
};

void PutEthernet(Bytes& f, const Mac& dst, const Mac& src, uint16_t type) {
    f.insert(f.end(), dst.begin(), dst.end());
    f.insert(f.end(), src.begin(), src.end());
    Put16(f, type);
}

enum : uint8_t { kIcmp = 1, kTcp = 6, kUdp = 17 };

// An Ethernet frame carrying one IPv4 packet; fills in the IP and the transport checksums.
Bytes Ipv4Frame(Host& src, const Host& dst, uint8_t proto, Bytes l4, bool df, const Bytes& options = {}) {
    Bytes f;
    PutEthernet(f, dst.mac, src.mac, 0x0800);
    size_t ihl = 5 + options.size() / 4;
    size_t total = ihl * 4 + l4.size();
    Put8(f, 0x40 | ihl);
    Put8(f, 0);
    Put16(f, total);
    Put16(f, src.ipId++);
    Put16(f, df ? 0x4000 : 0);
    Put8(f, src.ttl);
    Put8(f, proto);
    Put16(f, 0);
    f.insert(f.end(), src.ip.begin(), src.ip.end());
    f.insert(f.end(), dst.ip.begin(), dst.ip.end());
    Put(f, options);
    Set16(f, 24, Fold(Sum16(f.data() + 14, ihl * 4, 0)));

    if (proto == kIcmp) {
        Set16(l4, 2, Fold(Sum16(l4.data(), l4.size(), 0)));
    } else {
        Bytes pseudo;
        pseudo.insert(pseudo.end(), src.ip.begin(), src.ip.end());
        pseudo.insert(pseudo.end(), dst.ip.begin(), dst.ip.end());
        Put8(pseudo, 0);
        Put8(pseudo, proto);
        Put16(pseudo, l4.size());
        uint16_t sum = Fold(Sum16(l4.data(), l4.size(), Sum16(pseudo.data(), pseudo.size(), 0)));
        if (proto == kUdp && sum == 0)
            sum = 0xFFFF;  // zero would mean "no checksum"
        Set16(l4, proto == kTcp ? 16 : 6, sum);
    }
    Put(f, l4);
    return f;
}

void SendUdp(Capture& cap, uint64_t t, Host& src, uint16_t sport, Host& dst, uint16_t dport,
             const Bytes& payload) {
    Bytes l4;
    Put16(l4, sport);
    Put16(l4, dport);
    Put16(l4, 8 + payload.size());
    Put16(l4, 0);
    Put(l4, payload);
    cap.Add(t, Ipv4Frame(src, dst, kUdp, std::move(l4), src.dfOnUdp));
}

// ---------------------------------------------------------------------------------------------------------
// TCP conversations, timed as seen near the client: what the client sends shows at once, what the server
// sends shows a round trip after the client's segment that caused it.

enum Side { kClient = 0, kServer = 1 };

enum : uint8_t { kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10 };

class TcpFlow {
public:
    TcpFlow(Capture& cap, Rng& rng, uint64_t start, uint32_t rttUs, Host& client, uint16_t clientPort,
            Host& server, uint16_t serverPort)
        : cap_(cap), rng_(rng), t_(start), rtt_(rttUs) {
        ends_[kClient] = {&client, clientPort, static_cast<uint32_t>(rng.Next()),
                          static_cast<uint32_t>(rng.Next()) & 0x7FFFFFFF, 0};
        ends_[kServer] = {&server, serverPort, static_cast<uint32_t>(rng.Next()),
                          static_cast<uint32_t>(rng.Next()) & 0x7FFFFFFF, 0};
        timestamps_ = client.tcpTimestamps && server.tcpTimestamps;
    }

    uint64_t Now() const { return t_; }
    uint32_t Rtt() const { return rtt_; }
    void Wait(uint64_t us) { t_ += us; }

    void Handshake() {
        Emit(kClient, kSyn);
        t_ += rtt_;
        Emit(kServer, kSyn | kAck);
        t_ += rng_.Range(30, 90);
        Emit(kClient, kAck);
    }

    // A SYN to a closed port.
    void Refused() {
        Emit(kClient, kSyn);
        t_ += rtt_;
        ends_[kServer].seq = 0;
        Emit(kServer, kRst | kAck);
    }

    // Sends data in segments of at most one MSS, a congestion window of ten segments at a time. The
    // receiver, when told to, acknowledges every second segment and the last one.
    void Send(Side from, const Bytes& data, bool receiverAcks) {
        size_t mss = timestamps_ ? 1448 : 1460;
        size_t segments = (data.size() + mss - 1) / mss;
        for (size_t i = 0; i < segments; ++i) {
            if (i > 0 && i % 10 == 0)
                t_ += rtt_ / 2;  // the rest of the first ACK's round trip
            size_t off = i * mss;
            size_t n = std::min(mss, data.size() - off);
            bool last = i + 1 == segments;
            uint64_t arrived = t_;
            Emit(from, kAck | (last ? kPsh : 0), data.data() + off, n);
            if (receiverAcks && (i % 2 == 1 || last)) {
                t_ += rng_.Range(20, 60);
                Emit(Other(from), kAck);
            }
            // Server data reaches the LAN at about 100 Mbit/s, the client's leaves at 1 Gbit/s.
            uint64_t wire = (n + 78) * (from == kServer ? 80 : 8) / 1000 + 1;
            t_ = std::max(t_, arrived + wire);
        }
    }
    void Send(Side from, std::string_view text, bool receiverAcks) {
        Send(from, ToBytes(text), receiverAcks);
    }

    void Ack(Side from) { Emit(from, kAck); }

    void Close(Side from) {
        Emit(from, kFin | kAck);
        if (from == kClient) {
            t_ += rtt_;
            Emit(kServer, kFin | kAck);
            t_ += rng_.Range(30, 90);
            Emit(kClient, kAck);
        } else {
            t_ += rng_.Range(100, 400);  // the client application notices the end and closes
            Emit(kClient, kFin | kAck);
            t_ += rtt_;
            Emit(kServer, kAck);
        }
    }

    // IPv4 options for the next segment only (a multiple of four bytes).
    void SetIpOptions(Bytes options) { ipOptions_ = std::move(options); }

private:
    struct End {
        Host* host;
        uint16_t port;
        uint32_t seq;     // next sequence number to send
        uint32_t tsBase;  // TCP timestamp clock at the start of the capture
        uint32_t peerTs;  // last timestamp value received, echoed back
    };

    static Side Other(Side s) { return s == kClient ? kServer : kClient; }

    void Emit(Side from, uint8_t flags, const uint8_t* data = nullptr, size_t n = 0) {
        End& me = ends_[from];
        End& peer = ends_[Other(from)];
        const Host& h = *me.host;
        uint32_t tsVal = me.tsBase + static_cast<uint32_t>(t_ / kMs);

        Bytes opts;
        bool sendsTs = false;
        if (flags & kSyn) {
            bool linuxStyle = from == kClient ? h.tcpTimestamps : timestamps_;
            if (linuxStyle) {  // MSS, SACK permitted, timestamps, NOP, window scale
                opts = {0x02, 0x04, 0x05, 0xb4, 0x04, 0x02, 0x08, 0x0a};
                Put32(opts, tsVal);
                Put32(opts, me.peerTs);  // zero in the first SYN
                Put(opts, Bytes{0x01, 0x03, 0x03, h.windowScale});
                sendsTs = true;
            } else {  // MSS, NOP, window scale, NOP, NOP, SACK permitted
                opts = {0x02, 0x04, 0x05, 0xb4, 0x01, 0x03, 0x03, h.windowScale, 0x01, 0x01, 0x04, 0x02};
            }
        } else if (timestamps_ && !(flags & kRst)) {
            opts = {0x01, 0x01, 0x08, 0x0a};
            Put32(opts, tsVal);
            Put32(opts, me.peerTs);
            sendsTs = true;
        }

        Bytes seg;
        Put16(seg, me.port);
        Put16(seg, peer.port);
        Put32(seg, me.seq);
        Put32(seg, (flags & kAck) ? peer.seq : 0);
        Put8(seg, ((20 + opts.size()) / 4) << 4);
        Put8(seg, flags);
        Put16(seg, (flags & kRst) ? 0 : (flags & kSyn) ? h.synWindow : h.window);
        Put16(seg, 0);
        Put16(seg, 0);
        Put(seg, opts);
        if (n)
            seg.insert(seg.end(), data, data + n);
        cap_.Add(t_, Ipv4Frame(*me.host, *peer.host, kTcp, std::move(seg), true, ipOptions_));
        ipOptions_.clear();

        if (sendsTs)
            peer.peerTs = tsVal;
        me.seq += static_cast<uint32_t>(n) + ((flags & kSyn) ? 1 : 0) + ((flags & kFin) ? 1 : 0);
    }

    Capture& cap_;
    Rng& rng_;
    uint64_t t_;
    uint32_t rtt_;
    bool timestamps_;
    End ends_[2];
    Bytes ipOptions_;
};

// ---------------------------------------------------------------------------------------------------------
// Application payloads

std::string HttpDate(uint64_t t) {
    time_t s = static_cast<time_t>(kStartSec + static_cast<int64_t>(t / kSec));
    tm g{};
    gmtime_r(&s, &g);
    char buf[40];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &g);
    return buf;
}

// A start line, header lines and a body; a header line "Content-Length" gets the body's length.
std::string HttpMessage(std::string_view startLine, std::initializer_list<std::string> headers,
                        std::string_view body = {}) {
    std::string m(startLine);
    m += "\r\n";
    for (const auto& h : headers) {
        if (h == "Content-Length")
            m += "Content-Length: " + std::to_string(body.size());
        else
            m += h;
        m += "\r\n";
    }
    m += "\r\n";
    m += body;
    return m;
}

constexpr const char* kFirefox =
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:123.0) Gecko/20100101 Firefox/123.0";
constexpr const char* kEdge =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/122.0.0.0 Safari/537.36 Edg/122.0.2365.92";
constexpr const char* kAcceptHtml = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

std::string NginxErrorPage(std::string_view status) {
    std::string s(status);
    return "<html>\r\n<head><title>" + s + "</title></head>\r\n<body>\r\n<center><h1>" + s +
           "</h1></center>\r\n<hr><center>nginx/1.22.1</center>\r\n</body>\r\n</html>\r\n";
}

// The home page of www.example.com: big enough to need several segments.
std::string GardenHomePage() {
    static const char* const kTitles[] = {
        "Spring opening hours from 21 March",
        "Pi Day: the circular rose garden",
        "Volunteers wanted for the seed bank",
        "New glasshouse for alpine plants",
        "Children's trail reopens",
        "Guided walk: early blossom",
        "Bee-friendly planting workshop",
        "Winter storm damage: an update",
        "Café menu for the new season",
        "Members' evening on 2 April",
        "Photography competition results",
        "Path works near the lake",
        "Rare orchid flowers after 12 years",
        "Apprenticeships for 2026",
    };
    static const char* const kSentences[] = {
        "The gates open at 09:00 and the last entry is one hour before closing.",
        "Our gardeners have prepared the beds since January, and the first tulips are already out.",
        "Tickets bought online are valid for the whole day, including the glasshouses.",
        "Please keep to the marked paths while the lawns recover from the winter.",
        "Dogs on short leads are welcome in the outer park but not in the walled garden.",
        "The event is free for members; others pay the usual entry price.",
        "Wheelchairs can be borrowed at the main entrance, free of charge.",
    };
    std::string h =
        "<!DOCTYPE html>\n"
        "<html lang=\"en\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Example Gardens &mdash; News</title>\n"
        "<!-- stylesheet and script names carry the build number so that caches refresh -->\n"
        "<link rel=\"stylesheet\" href=\"/css/site.css?v=2041\">\n"
        "<link rel=\"icon\" href=\"/favicon.ico\" type=\"image/x-icon\">\n"
        "<script src=\"/js/menu.js?v=2041\" defer></script>\n"
        "</head>\n"
        "<body class=\"home\" data-lang=\"en\">\n"
        "<!-- ============ header ============ -->\n"
        "<header id=\"top\">\n"
        "  <a class=\"logo\" href=\"/en/\"><img src=\"/img/logo.png\" alt=\"Example Gardens\" width=\"180\" "
        "height=\"48\"></a>\n"
        "  <nav aria-label=\"Main\">\n"
        "    <ul>\n"
        "      <li><a href=\"/en/\" class=\"active\">Home</a></li>\n"
        "      <li><a href=\"/en/visit.html\">Visit</a></li>\n"
        "      <li><a href=\"/en/events.html\">Events</a></li>\n"
        "      <li><a href=\"/en/members.html\">Members</a></li>\n"
        "      <li><a href=\"/en/shop.html\" rel=\"nofollow\">Shop</a></li>\n"
        "    </ul>\n"
        "  </nav>\n"
        "</header>\n"
        "<main>\n"
        "<!-- news list, generated 2026-03-14 06:00 -->\n"
        "<section class=\"news\">\n";
    int n = 0;
    for (const char* title : kTitles) {
        ++n;
        std::string id = std::to_string(n);
        h += "  <article id=\"n" + id + "\" class=\"teaser" + (n == 2 ? " featured" : "") +
             "\" data-date=\"2026-03-" + std::to_string(15 - (n + 1) / 2) + "\">\n";
        h += "    <h2><a href=\"/en/news/" + std::to_string(2026031400 + n) + ".html\">" + title +
             "</a></h2>\n";
        h += "    <p class=\"date\">" + std::to_string(15 - (n + 1) / 2) + " March 2026</p>\n";
        h += "    <p>";
        for (int s = 0; s < 3; ++s) {
            if (s)
                h += ' ';
            h += kSentences[(n * 3 + s) % 7];
        }
        h += "</p>\n";
        if (n % 4 == 0)
            h += "    <!-- image credits are on the article page -->\n    <img src=\"/img/news/" + id +
                 "-thumb.jpg\" alt=\"\" width=\"320\" height=\"200\" loading=\"lazy\">\n";
        h += "  </article>\n";
    }
    h += "</section>\n"
         "</main>\n"
         "<footer>\n"
         "  <p>&copy; 2026 Example Gardens Trust &middot; <a href=\"/en/privacy.html\">Privacy</a> &middot; "
         "<a href=\"mailto:info@example.com\">info@example.com</a></p>\n"
         "</footer>\n"
         "</body>\n"
         "</html>\n";
    return h;
}

std::string SiteCss() {
    std::string css =
        "/* site.css build 2041 */\n"
        ":root { --green: #2e6b30; --paper: #fbfaf5; --ink: #222; }\n"
        "html { font: 16px/1.5 \"Source Sans 3\", Helvetica, Arial, sans-serif; color: var(--ink); "
        "background: var(--paper); }\n"
        "header#top { display: flex; align-items: center; justify-content: space-between; padding: 12px "
        "24px; "
        "border-bottom: 3px solid var(--green); }\n"
        "nav ul { list-style: none; margin: 0; padding: 0; display: flex; gap: 18px; }\n"
        "nav a { color: var(--green); text-decoration: none; font-weight: 600; }\n"
        "nav a.active, nav a:hover { text-decoration: underline; }\n"
        "main { max-width: 960px; margin: 0 auto; padding: 24px; }\n";
    for (const char* c : {"teaser", "featured", "date", "logo"}) {
        css += std::string(".") + c + " { margin: 0 0 16px; padding: 0; }\n";
        css += std::string(".") + c + " h2 { font-size: 1.25rem; margin: 0 0 4px; }\n";
        css += std::string(".") + c + " p { margin: 0 0 8px; }\n";
    }
    css +=
        "article.teaser img { float: right; margin: 0 0 8px 16px; border-radius: 4px; }\n"
        "footer { font-size: 0.875rem; text-align: center; padding: 32px 0; color: #666; }\n"
        "@media (max-width: 640px) { header#top { flex-direction: column; } article.teaser img { float: "
        "none; "
        "} }\n";
    return css;
}

std::string TeaShopPage(Rng& rng) {
    std::string h =
        "<!DOCTYPE html>\n"
        "<html lang=\"en\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<title>Sencha Asamushi, 100 g &ndash; Example Tea Shop</title>\n"
        "<link rel=\"stylesheet\" href=\"/static/shop.7c1e.css\">\n"
        "</head>\n"
        "<body>\n"
        "<!-- product page; prices include VAT -->\n"
        "<div id=\"product\" data-sku=\"TEA-0042\" data-stock=\"17\">\n"
        "  <h1>Sencha Asamushi</h1>\n"
        "  <p class=\"price\"><span class=\"amount\">8.90</span> <abbr title=\"Euro\">EUR</abbr> / 100 "
        "g</p>\n"
        "  <form method=\"post\" action=\"/cart/add\">\n"
        "    <input type=\"hidden\" name=\"item\" value=\"42\">\n"
        "    <input type=\"hidden\" name=\"csrf\" value=\"" +
        rng.Hex(32) +
        "\">\n"
        "    <label for=\"qty\">Quantity</label>\n"
        "    <input type=\"number\" id=\"qty\" name=\"qty\" value=\"1\" min=\"1\" max=\"17\">\n"
        "    <button type=\"submit\" class=\"btn primary\">Add to cart</button>\n"
        "  </form>\n"
        "  <h2>Tasting notes</h2>\n"
        "  <p>A lightly steamed green tea from Shizuoka with a fresh, grassy aroma and a sweet finish. "
        "Brew 2 g per 100 ml at 70 &deg;C for 60 seconds; the leaves give three infusions.</p>\n"
        "  <table class=\"facts\">\n";
    static const char* const kFacts[][2] = {
        {"Origin", "Shizuoka, Japan"},
        {"Harvest", "First flush 2025"},
        {"Caffeine", "Medium"},
        {"Water", "70 &deg;C"},
        {"Time", "60 s"},
        {"Packaging", "Resealable foil bag"},
    };
    for (const auto& f : kFacts)
        h += std::string("    <tr><th scope=\"row\">") + f[0] + "</th><td>" + f[1] + "</td></tr>\n";
    h += "  </table>\n"
         "</div>\n"
         "<!-- recommendations are filled in by /static/reco.js -->\n"
         "<aside id=\"reco\" hidden></aside>\n"
         "<script src=\"/static/reco.91b2.js\" async></script>\n"
         "</body>\n"
         "</html>\n";
    return h;
}

std::string NewsArticle() {
    std::string h =
        "<!doctype html>\n"
        "<html lang=\"en-GB\">\n"
        "<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<title>Why 14 March is Pi Day | Example News</title>\n"
        "<meta name=\"description\" content=\"The date, written month first, begins like the circle "
        "constant.\">\n"
        "<link rel=\"canonical\" href=\"http://news.example.org/2026/03/14/pi-day.html\">\n"
        "<link rel=\"stylesheet\" href=\"/assets/article.css\">\n"
        "</head>\n"
        "<body>\n"
        "<!-- begin article -->\n"
        "<article class=\"story\" itemscope itemtype=\"https://schema.org/NewsArticle\">\n"
        "<h1 itemprop=\"headline\">Why 14 March is Pi Day</h1>\n"
        "<p class=\"byline\">By <span itemprop=\"author\">A. Writer</span>, "
        "<time datetime=\"2026-03-14T07:30:00Z\">14 March 2026</time></p>\n";
    static const char* const kParagraphs[] = {
        "Written the American way, month first, today's date reads 3/14, the first three digits of pi, the "
        "ratio of a circle's circumference to its diameter.",
        "Schools and universities mark the day with pie-eating, recitation contests and lectures on the "
        "history of the constant, from Archimedes' polygons to modern computer records.",
        "The current record, set with a desktop computer running for several months, runs to more than one "
        "hundred trillion digits; checking the result took almost as long as computing it.",
        "For everyday engineering, far fewer digits suffice: forty of them would give the circumference of "
        "the "
        "observable universe to within the width of a hydrogen atom.",
        "The day is also the birthday of Albert Einstein, born on 14 March 1879 in Ulm, which gives physics "
        "departments a second reason to celebrate.",
        "Readers who prefer the day-first notation have an alternative: 22 July, written 22/7, a fraction "
        "that is close to pi and was long used as its approximation.",
    };
    int i = 0;
    for (const char* p : kParagraphs) {
        h += "<p>" + std::string(p) + "</p>\n";
        if (++i == 3)
            h += "<figure><img src=\"/img/2026/03/pi-digits.png\" alt=\"The first digits of pi\" "
                 "width=\"640\" "
                 "height=\"360\"><figcaption>The first digits of pi.</figcaption></figure>\n"
                 "<!-- ad slot removed for this edition -->\n";
    }
    for (int r = 1; r <= 8; ++r)
        h += "<p class=\"related\"><a href=\"/2026/03/" + std::to_string(14 - r) + "/story-" +
             std::to_string(300 + r * 7) + ".html\">Related story " + std::to_string(r) + "</a></p>\n";
    h += "</article>\n"
         "<!-- end article -->\n"
         "</body>\n"
         "</html>\n";
    return h;
}

// DNS ------------------------------------------------------------------------------------------------------

class DnsMessage {
public:
    DnsMessage(uint16_t id, uint16_t flags, int qd, int an, int ns, int ar) {
        Put16(b_, id);
        Put16(b_, flags);
        Put16(b_, qd);
        Put16(b_, an);
        Put16(b_, ns);
        Put16(b_, ar);
    }
    // Writes a name as labels and returns its offset, for later compression pointers.
    size_t Name(std::string_view name) {
        size_t at = b_.size();
        while (!name.empty()) {
            size_t dot = name.find('.');
            std::string_view label = name.substr(0, dot);
            Put8(b_, label.size());
            Put(b_, label);
            name = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
        }
        Put8(b_, 0);
        return at;
    }
    void Pointer(size_t offset) { Put16(b_, 0xC000 | offset); }
    void Question(std::string_view name, uint16_t type) {
        Name(name);
        Put16(b_, type);
        Put16(b_, 1);
    }
    // Starts a resource record whose owner name is at `owner`; EndRecord fills in its data length.
    void BeginRecord(size_t owner, uint16_t type, uint32_t ttl) {
        Pointer(owner);
        Put16(b_, type);
        Put16(b_, 1);
        Put32(b_, ttl);
        rdlength_ = b_.size();
        Put16(b_, 0);
    }
    void EndRecord() { Set16(b_, rdlength_, b_.size() - rdlength_ - 2); }
    void Opt() {  // EDNS(0), 1232-byte UDP payload
        Put8(b_, 0);
        Put16(b_, 41);
        Put16(b_, 1232);
        Put32(b_, 0);
        Put16(b_, 0);
    }
    Bytes& Raw() { return b_; }
    size_t Size() const { return b_.size(); }

private:
    Bytes b_;
    size_t rdlength_ = 0;
};

enum : uint16_t { kTypeA = 1, kTypeCname = 5, kTypeSoa = 6, kTypeAaaa = 28 };
constexpr size_t kQuestionName = 12;  // offset of the first question's name

Bytes DnsQuery(uint16_t id, std::string_view name, uint16_t type) {
    DnsMessage m(id, 0x0100, 1, 0, 0, 1);
    m.Question(name, type);
    m.Opt();
    return m.Raw();
}

void PutSoa(DnsMessage& m, std::string_view zone, size_t zoneOffset, uint32_t serial) {
    m.BeginRecord(zoneOffset, kTypeSoa, 3600);
    m.Name(std::string("ns1.") + std::string(zone));
    m.Name(std::string("hostmaster.") + std::string(zone));
    for (uint32_t v : {serial, 7200u, 3600u, 1209600u, 3600u})
        Put32(m.Raw(), v);
    m.EndRecord();
}

// Answer with one A or AAAA record, or none (then with the zone's SOA, as for NODATA and NXDOMAIN).
Bytes DnsAnswer(uint16_t id, std::string_view name, uint16_t type, const Bytes& address, uint32_t ttl,
                bool nxdomain = false) {
    bool found = !address.empty();
    DnsMessage m(id, nxdomain ? 0x8183 : 0x8180, 1, found ? 1 : 0, found ? 0 : 1, 1);
    m.Question(name, type);
    if (found) {
        m.BeginRecord(kQuestionName, type, ttl);
        Put(m.Raw(), address);
        m.EndRecord();
    } else {
        // The zone is the name without its first label; point into the question for it.
        size_t dot = name.find('.');
        PutSoa(m, name.substr(dot + 1), kQuestionName + 1 + dot, 2026031301);
    }
    m.Opt();
    return m.Raw();
}

// Answer through a CNAME: name -> target -> address.
Bytes DnsCnameAnswer(uint16_t id, std::string_view name, std::string_view targetFirstLabel,
                     size_t zoneOffsetInName, const Bytes& address) {
    DnsMessage m(id, 0x8180, 1, 2, 0, 1);
    m.Question(name, kTypeA);
    m.BeginRecord(kQuestionName, kTypeCname, 300);
    size_t target = m.Size();
    Put8(m.Raw(), targetFirstLabel.size());
    Put(m.Raw(), targetFirstLabel);
    m.Pointer(kQuestionName + zoneOffsetInName);
    m.EndRecord();
    m.BeginRecord(target, kTypeA, 60);
    Put(m.Raw(), address);
    m.EndRecord();
    m.Opt();
    return m.Raw();
}

// TLS ------------------------------------------------------------------------------------------------------

Bytes Vec8(const Bytes& v) {
    Bytes b;
    Put8(b, v.size());
    Put(b, v);
    return b;
}
Bytes Vec16(const Bytes& v) {
    Bytes b;
    Put16(b, v.size());
    Put(b, v);
    return b;
}
Bytes U16s(std::initializer_list<unsigned> values) {
    Bytes b;
    for (unsigned v : values)
        Put16(b, v);
    return b;
}
Bytes Extension(uint16_t type, const Bytes& body) {
    return Cat({U16s({type}), Vec16(body)});
}
Bytes Handshake(uint8_t type, const Bytes& body) {
    Bytes b;
    Put8(b, type);
    Put24(b, body.size());
    Put(b, body);
    return b;
}
Bytes TlsRecord(uint8_t type, uint16_t version, const Bytes& body) {
    Bytes b;
    Put8(b, type);
    Put16(b, version);
    Put16(b, body.size());
    Put(b, body);
    return b;
}
// An encrypted TLS 1.3 record: content of `n` bytes plus the 16-byte AEAD tag, all random-looking.
Bytes TlsAppData(Rng& rng, size_t n) {
    return TlsRecord(23, 0x0303, rng.RandomBytes(n + 17));
}

Bytes ClientHello(Rng& rng, std::string_view serverName, const Bytes& sessionId) {
    Bytes sni = Vec16(Cat({Bytes{0}, Vec16(ToBytes(serverName))}));
    Bytes alpn = Vec16(Cat({Vec8(ToBytes("h2")), Vec8(ToBytes("http/1.1"))}));
    Bytes keyShare = Vec16(Cat({U16s({0x001d}), Vec16(rng.RandomBytes(32))}));
    Bytes extensions = Cat({
        Extension(0x0000, sni), Extension(0x0017, {}),  // extended master secret
        Extension(0xff01, {0}),                         // renegotiation info
        Extension(0x000a, Vec16(U16s({0x001d, 0x0017, 0x0018, 0x0019, 0x0100, 0x0101}))),  // groups
        Extension(0x000b, Vec8({0})),                                                      // point formats
        Extension(0x0023, {}),                                                             // session ticket
        Extension(0x0010, alpn), Extension(0x0005, {1, 0, 0, 0, 0}),  // OCSP status request
        Extension(0x0033, keyShare), Extension(0x002b, Vec8(U16s({0x0304, 0x0303}))),
        Extension(0x000d, Vec16(U16s({0x0403, 0x0503, 0x0603, 0x0804, 0x0805, 0x0806, 0x0401, 0x0501, 0x0601,
                                      0x0203, 0x0201}))),
        Extension(0x002d, Vec8({1})),       // PSK with (EC)DHE
        Extension(0x001c, U16s({0x4001})),  // record size limit
    });
    Bytes body = Cat({U16s({0x0303}), rng.RandomBytes(32), Vec8(sessionId),
                      Vec16(U16s({0x1301, 0x1303, 0x1302, 0xc02b, 0xc02f, 0xcca9, 0xcca8, 0xc02c, 0xc030,
                                  0xc00a, 0xc009, 0xc013, 0xc014, 0x009c, 0x009d, 0x002f, 0x0035})),
                      Vec8({0}), Vec16(extensions)});
    return TlsRecord(22, 0x0301, Handshake(1, body));
}

Bytes ServerHello(Rng& rng, const Bytes& sessionId) {
    Bytes extensions = Cat({
        Extension(0x002b, U16s({0x0304})),
        Extension(0x0033, Cat({U16s({0x001d}), Vec16(rng.RandomBytes(32))})),
    });
    Bytes body = Cat(
        {U16s({0x0303}), rng.RandomBytes(32), Vec8(sessionId), U16s({0x1301}), Bytes{0}, Vec16(extensions)});
    return TlsRecord(22, 0x0303, Handshake(2, body));
}

const Bytes kChangeCipherSpec = {20, 0x03, 0x03, 0x00, 0x01, 0x01};

// SSH ------------------------------------------------------------------------------------------------------

Bytes SshKexInit(Rng& rng, std::initializer_list<std::string_view> nameLists) {
    Bytes payload;
    Put8(payload, 20);  // SSH_MSG_KEXINIT
    Put(payload, rng.RandomBytes(16));
    for (auto list : nameLists) {
        Put32(payload, list.size());
        Put(payload, list);
    }
    Put8(payload, 0);  // first_kex_packet_follows
    Put32(payload, 0);
    // packet_length, padding_length, payload and padding together are a multiple of 8, padding at least 4
    size_t padding = 8 - (payload.size() + 5) % 8;
    if (padding < 4)
        padding += 8;
    Bytes b;
    Put32(b, 1 + payload.size() + padding);
    Put8(b, padding);
    Put(b, payload);
    Put(b, Bytes(padding, 0));
    return b;
}

// SNMP (BER) -----------------------------------------------------------------------------------------------

Bytes Tlv(uint8_t tag, const Bytes& value) {
    Bytes b;
    Put8(b, tag);
    if (value.size() < 0x80) {
        Put8(b, value.size());
    } else if (value.size() < 0x100) {
        Put8(b, 0x81);
        Put8(b, value.size());
    } else {
        Put8(b, 0x82);
        Put16(b, value.size());
    }
    Put(b, value);
    return b;
}
Bytes BerInt(int64_t v, uint8_t tag = 0x02) {
    Bytes b;
    do {
        b.insert(b.begin(), static_cast<uint8_t>(v & 0xFF));
        v >>= 8;
    } while (!(v == 0 && !(b.front() & 0x80)) && !(v == -1 && (b.front() & 0x80)));
    return Tlv(tag, b);
}
Bytes Oid(std::initializer_list<uint32_t> arcs) {
    auto it = arcs.begin();
    uint32_t first = *it++;
    Bytes b;
    Put8(b, first * 40 + *it++);
    for (; it != arcs.end(); ++it) {
        Bytes sub;
        uint32_t v = *it;
        do {
            sub.insert(sub.begin(), static_cast<uint8_t>((v & 0x7F) | (sub.empty() ? 0 : 0x80)));
            v >>= 7;
        } while (v);
        Put(b, sub);
    }
    return Tlv(0x06, b);
}
Bytes SnmpMessage(uint8_t pduTag, int32_t requestId, const std::vector<Bytes>& varbinds) {
    Bytes list;
    for (const auto& vb : varbinds)
        Put(list, vb);
    Bytes pdu = Tlv(pduTag, Cat({BerInt(requestId), BerInt(0), BerInt(0), Tlv(0x30, list)}));
    return Tlv(0x30, Cat({BerInt(1), Tlv(0x04, ToBytes("public")), pdu}));  // version 2c
}

// NTP ------------------------------------------------------------------------------------------------------

void PutNtpTime(Bytes& b, uint64_t t) {
    constexpr uint64_t kNtpEpochOffset = 2208988800ull;  // 1900-01-01 to 1970-01-01
    uint64_t sec = kStartSec + kNtpEpochOffset + t / kSec;
    uint64_t frac = ((t % kSec) << 32) / kSec;
    Put32(b, static_cast<uint32_t>(sec));
    Put32(b, static_cast<uint32_t>(frac));
}

Bytes NtpRequest(uint64_t t) {
    Bytes b = {0x23, 0, 6, 0xe9};  // version 4, client, poll 2^6 s, precision 2^-23 s
    b.resize(40, 0);
    PutNtpTime(b, t);
    return b;
}

Bytes NtpReply(uint64_t clientSent, uint64_t received, uint64_t sent) {
    Bytes b = {0x24, 2, 6, 0xe7};         // version 4, server, stratum 2
    Put32(b, 0x00000a1b);                 // root delay
    Put32(b, 0x000004d2);                 // root dispersion
    Put(b, Bytes{203, 0, 113, 1});        // reference: the upstream server
    PutNtpTime(b, received - 37 * kSec);  // last synchronised
    PutNtpTime(b, clientSent);
    PutNtpTime(b, received);
    PutNtpTime(b, sent);
    return b;
}

// NetBIOS name service: a broadcast name query.
Bytes NbnsQuery(uint16_t id, std::string_view name, uint8_t suffix) {
    Bytes b;
    Put16(b, id);
    Put16(b, 0x0110);  // query, recursion desired, broadcast
    Put16(b, 1);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, 0);
    std::string padded(name);
    padded.resize(15, ' ');
    padded += static_cast<char>(suffix);
    Put8(b, 32);
    for (unsigned char c : padded) {
        Put8(b, 'A' + (c >> 4));
        Put8(b, 'A' + (c & 0x0F));
    }
    Put8(b, 0);
    Put16(b, 0x0020);  // NB
    Put16(b, 0x0001);  // IN
    return b;
}

// ---------------------------------------------------------------------------------------------------------
// The office

struct Office {
    Host workstation{
        {0x3c, 0x7c, 0x3f, 0x1e, 0x82, 0xd4}, {192, 168, 1, 23}, 64, true, 0, true, 7, 64240, 502};
    Host laptop{
        {0x8c, 0x16, 0x45, 0x62, 0x0b, 0x9a}, {192, 168, 1, 31}, 128, false, 0, false, 8, 64240, 1026};
    Host printer{{0x00, 0x80, 0x77, 0x4c, 0x2e, 0x15}, {192, 168, 1, 40}, 60, false, 0, false, 0, 8192, 8192};
    Host router{kRouterMac, {192, 168, 1, 1}, 64, true, 0, false, 0, 0, 0};
    Host broadcast{kBroadcastMac, {192, 168, 1, 255}, 0, false, 0, false, 0, 0, 0};

    // Beyond the router
    Host resolver{kRouterMac, {198, 51, 100, 53}, 58, true, 0, false, 0, 0, 0};
    Host www{kRouterMac, {198, 51, 100, 10}, 55, true, 0, false, 8, 65535, 256};  // no TCP timestamps
    Host news{kRouterMac, {198, 51, 100, 77}, 52, true, 0, true, 9, 65160, 509};
    Host ssh{kRouterMac, {198, 51, 100, 22}, 57, true, 0, true, 7, 65160, 509};
    Host shop{kRouterMac, {203, 0, 113, 80}, 53, true, 0, true, 7, 65160, 501};
    Host secure{kRouterMac, {203, 0, 113, 45}, 56, true, 0, true, 10, 65160, 64};
    Host mail{kRouterMac, {203, 0, 113, 25}, 54, true, 0, true, 7, 65160, 509};
    Host update{kRouterMac, {192, 0, 2, 80}, 51, true, 0, false, 6, 29200, 913};
    Host timeServer{kRouterMac, {192, 0, 2, 123}, 57, true, 0, false, 0, 0, 0};

    explicit Office(Rng& rng) {
        for (Host* h : {&workstation, &laptop, &printer, &router, &resolver, &www, &news, &ssh, &shop,
                        &secure, &mail, &update, &timeServer})
            h->ipId = static_cast<uint16_t>(rng.Next());
    }
};

uint16_t LinuxPort(Rng& rng) {
    return static_cast<uint16_t>(rng.Range(32768, 60999));
}
uint16_t WindowsPort(Rng& rng) {
    return static_cast<uint16_t>(rng.Range(49152, 65535));
}

Bytes Address(const Host& h) {
    return Bytes(h.ip.begin(), h.ip.end());
}

// A lookup: query at t, answer after the resolver's delay. Returns when the answer arrived.
uint64_t Lookup(Capture& cap, Rng& rng, uint64_t t, Host& client, uint16_t port, Host& resolver,
                std::string_view name, uint16_t type, const Bytes& answer) {
    uint16_t id = static_cast<uint16_t>(rng.Next());
    SendUdp(cap, t, client, port, resolver, 53, DnsQuery(id, name, type));
    t += rng.Range(9000, 31000);
    Bytes reply = answer.empty() ? DnsAnswer(id, name, type, {}, 0) : answer;
    reply[0] = static_cast<uint8_t>(id >> 8);  // prepared answers carry a placeholder id
    reply[1] = static_cast<uint8_t>(id);
    SendUdp(cap, t, resolver, 53, client, port, reply);
    return t;
}

const Bytes kWwwV6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};

void Arp(Capture& cap, uint64_t t, Office& o) {
    auto arp = [](const Host& sender, const Mac& ethDst, const Mac& targetMac, const Host& target, int op) {
        Bytes f;
        PutEthernet(f, ethDst, sender.mac, 0x0806);
        Put(f, Bytes{0, 1, 0x08, 0, 6, 4});
        Put16(f, op);
        f.insert(f.end(), sender.mac.begin(), sender.mac.end());
        f.insert(f.end(), sender.ip.begin(), sender.ip.end());
        f.insert(f.end(), targetMac.begin(), targetMac.end());
        f.insert(f.end(), target.ip.begin(), target.ip.end());
        return f;
    };
    cap.Add(t, arp(o.workstation, kBroadcastMac, Mac{}, o.router, 1));
    cap.Add(t + 412, arp(o.router, o.workstation.mac, o.workstation.mac, o.workstation, 2));
}

void NatPmp(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t port = LinuxPort(rng);
    SendUdp(cap, t, o.workstation, port, o.router, 5351, {0, 0});  // external address request
    Bytes reply = {0, 128};
    Put16(reply, 0);                 // success
    Put32(reply, 3 * 86400 + 4521);  // seconds since the router started its mapping table
    Put(reply, Bytes{203, 0, 113, 7});
    SendUdp(cap, t + 870, o.router, 5351, o.workstation, port, reply);  // a 54-byte frame, padded to 60
}

void Ping(Capture& cap, uint64_t t, Office& o) {
    auto echo = [](uint8_t type, uint16_t id, uint16_t seq, uint64_t sent) {
        Bytes b = {type, 0, 0, 0};
        Put16(b, id);
        Put16(b, seq);
        uint64_t abs = static_cast<uint64_t>(kStartSec) * kSec + sent;
        Bytes tv(8);  // ping's send time, little-endian struct timeval halves
        for (int i = 0; i < 4; ++i) {
            tv[i] = static_cast<uint8_t>((abs / kSec) >> (8 * i));
            tv[4 + i] = static_cast<uint8_t>((abs % kSec) >> (8 * i));
        }
        Put(b, tv);
        for (int i = 0; i < 48; ++i)
            Put8(b, 0x10 + i);
        return b;
    };
    for (uint16_t seq = 1; seq <= 2; ++seq) {
        uint64_t sent = t + (seq - 1) * kSec;
        cap.Add(sent, Ipv4Frame(o.workstation, o.www, kIcmp, echo(8, 0x1c2b, seq, sent), true));
        cap.Add(sent + 23400 + seq * 310,
                Ipv4Frame(o.www, o.workstation, kIcmp, echo(0, 0x1c2b, seq, sent), false));
    }
}

// Returns the session cookie that the site set.
std::string WwwSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t port = LinuxPort(rng);
    // The browser looks up A and AAAA from one socket.
    uint16_t id = static_cast<uint16_t>(rng.Next());
    SendUdp(cap, t, o.workstation, port, o.resolver, 53, DnsQuery(id, "www.example.com", kTypeA));
    SendUdp(cap, t + 95, o.workstation, port, o.resolver, 53, DnsQuery(id + 1, "www.example.com", kTypeAaaa));
    SendUdp(cap, t + 14210, o.resolver, 53, o.workstation, port,
            DnsAnswer(id, "www.example.com", kTypeA, Address(o.www), 3600));
    SendUdp(cap, t + 14960, o.resolver, 53, o.workstation, port,
            DnsAnswer(id + 1, "www.example.com", kTypeAaaa, kWwwV6, 3600));

    TcpFlow f(cap, rng, t + 15300, 23800, o.workstation, LinuxPort(rng), o.www, 80);
    f.Handshake();
    f.Wait(180);
    f.Send(kClient,
           HttpMessage("GET / HTTP/1.1", {"Host: www.example.com", kFirefox, kAcceptHtml,
                                          "Accept-Language: en-GB,en;q=0.5", "Accept-Encoding: gzip, deflate",
                                          "Connection: keep-alive", "Upgrade-Insecure-Requests: 1"}),
           false);
    f.Wait(f.Rtt() + 1900);
    std::string moved = NginxErrorPage("301 Moved Permanently");
    f.Send(kServer,
           HttpMessage("HTTP/1.1 301 Moved Permanently",
                       {"Server: nginx/1.22.1", "Date: " + HttpDate(f.Now()), "Content-Type: text/html",
                        "Content-Length", "Connection: keep-alive", "Location: http://www.example.com/en/"},
                       moved),
           true);

    std::string sid = rng.Hex(24);
    f.Wait(2600);
    f.Send(
        kClient,
        HttpMessage("GET /en/ HTTP/1.1", {"Host: www.example.com", kFirefox, kAcceptHtml,
                                          "Accept-Language: en-GB,en;q=0.5", "Accept-Encoding: gzip, deflate",
                                          "Connection: keep-alive", "Upgrade-Insecure-Requests: 1"}),
        false);
    f.Wait(f.Rtt() + 6400);
    std::string home = GardenHomePage();
    f.Send(
        kServer,
        HttpMessage(
            "HTTP/1.1 200 OK",
            {"Server: nginx/1.22.1", "Date: " + HttpDate(f.Now()), "Content-Type: text/html; charset=utf-8",
             "Content-Length", "Last-Modified: Sat, 14 Mar 2026 06:00:12 GMT", "Connection: keep-alive",
             "Set-Cookie: sid=" + sid + "; Path=/; HttpOnly; SameSite=Lax", "Cache-Control: max-age=600",
             "ETag: \"69b4fcec-" + std::to_string(home.size()) + "\"", "Accept-Ranges: bytes"},
            home),
        true);

    f.Wait(31000);  // the page is parsed, the stylesheet requested
    f.Send(
        kClient,
        HttpMessage("GET /css/site.css?v=2041 HTTP/1.1",
                    {"Host: www.example.com", kFirefox, "Accept: text/css,*/*;q=0.1",
                     "Accept-Language: en-GB,en;q=0.5", "Accept-Encoding: gzip, deflate",
                     "Connection: keep-alive", "Referer: http://www.example.com/en/", "Cookie: sid=" + sid}),
        false);
    f.Wait(f.Rtt() + 700);
    std::string css = SiteCss();
    f.Send(kServer,
           HttpMessage("HTTP/1.1 200 OK",
                       {"Server: nginx/1.22.1", "Date: " + HttpDate(f.Now()), "Content-Type: text/css",
                        "Content-Length", "Last-Modified: Mon, 02 Mar 2026 14:41:09 GMT",
                        "Connection: keep-alive", "Cache-Control: public, max-age=31536000, immutable"},
                       css),
           true);

    f.Wait(48000);
    f.Send(
        kClient,
        HttpMessage("GET /favicon.ico HTTP/1.1",
                    {"Host: www.example.com", kFirefox, "Accept: image/avif,image/webp,*/*",
                     "Accept-Language: en-GB,en;q=0.5", "Accept-Encoding: gzip, deflate",
                     "Connection: keep-alive", "Referer: http://www.example.com/en/", "Cookie: sid=" + sid}),
        false);
    f.Wait(f.Rtt() + 450);
    std::string missing = NginxErrorPage("404 Not Found");
    f.Send(kServer,
           HttpMessage("HTTP/1.1 404 Not Found",
                       {"Server: nginx/1.22.1", "Date: " + HttpDate(f.Now()), "Content-Type: text/html",
                        "Content-Length", "Connection: keep-alive"},
                       missing),
           true);

    f.Wait(65 * kSec);  // nginx's keep-alive timeout ends the idle connection
    f.Close(kServer);
    return sid;
}

// A second visit after the first connection has closed: the browser revalidates its cached page.
void WwwRevisit(Capture& cap, Rng& rng, uint64_t t, Office& o, const std::string& sid) {
    TcpFlow f(cap, rng, t, 24100, o.workstation, LinuxPort(rng), o.www, 80);
    f.Handshake();
    f.Wait(150);
    f.Send(kClient,
           HttpMessage("GET /en/ HTTP/1.1",
                       {"Host: www.example.com", kFirefox, kAcceptHtml, "Accept-Language: en-GB,en;q=0.5",
                        "Accept-Encoding: gzip, deflate", "Connection: keep-alive", "Cookie: sid=" + sid,
                        "If-Modified-Since: Sat, 14 Mar 2026 06:00:12 GMT", "Cache-Control: max-age=0"}),
           false);
    f.Wait(f.Rtt() + 800);
    f.Send(kServer,
           HttpMessage("HTTP/1.1 304 Not Modified", {"Server: nginx/1.22.1", "Date: " + HttpDate(f.Now()),
                                                     "Last-Modified: Sat, 14 Mar 2026 06:00:12 GMT",
                                                     "Connection: keep-alive", "Cache-Control: max-age=600"}),
           true);
    f.Wait(1400 * kMs);  // the tab is closed
    f.Close(kClient);
}

void ShopSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t dnsPort = LinuxPort(rng);
    uint16_t id = static_cast<uint16_t>(rng.Next());
    SendUdp(cap, t, o.workstation, dnsPort, o.resolver, 53, DnsQuery(id, "shop.example.net", kTypeA));
    t += 27300;
    SendUdp(cap, t, o.resolver, 53, o.workstation, dnsPort,
            DnsCnameAnswer(id, "shop.example.net", "shop-lb", 5, Address(o.shop)));

    TcpFlow f(cap, rng, t + 400, 31200, o.workstation, LinuxPort(rng), o.shop, 80);
    f.Handshake();
    f.Wait(210);
    std::string cookie = "Cookie: uid=" + rng.Hex(16) + "; cart=empty; consent=essential";
    f.Send(kClient,
           HttpMessage("GET /tea/sencha-asamushi-42.html HTTP/1.1",
                       {"Host: shop.example.net", kFirefox, kAcceptHtml, "Accept-Language: en-GB,en;q=0.5",
                        "Accept-Encoding: gzip, deflate", "Connection: keep-alive", cookie,
                        "Upgrade-Insecure-Requests: 1"}),
           false);
    f.Wait(f.Rtt());
    f.Ack(kServer);  // the page is built slowly enough for a separate acknowledgement
    f.Wait(48000);
    std::string page = TeaShopPage(rng);
    f.Send(kServer,
           HttpMessage("HTTP/1.1 200 OK",
                       {"Server: Apache/2.4.57 (Debian)", "Date: " + HttpDate(f.Now()),
                        "Content-Type: text/html; charset=UTF-8", "Content-Length",
                        "Cache-Control: no-store, must-revalidate", "Set-Cookie: last_seen=TEA-0042; Path=/",
                        "Keep-Alive: timeout=5, max=100", "Connection: Keep-Alive"},
                       page),
           true);

    f.Wait(3800 * kMs);  // the visitor chooses a quantity and adds the tea to the cart
    std::string form = "item=42&qty=2&csrf=" + rng.Hex(32);
    f.Send(kClient,
           HttpMessage(
               "POST /cart/add HTTP/1.1",
               {"Host: shop.example.net", kFirefox, "Accept: application/json",
                "Accept-Language: en-GB,en;q=0.5", "Accept-Encoding: gzip, deflate",
                "Content-Type: application/x-www-form-urlencoded", "Content-Length",
                "Origin: http://shop.example.net",
                "Referer: http://shop.example.net/tea/sencha-asamushi-42.html", "Connection: close", cookie},
               form),
           false);
    f.Wait(f.Rtt());
    f.Ack(kServer);
    f.Wait(96000);
    std::string json =
        "{\"ok\":true,\"cart\":{\"items\":[{\"sku\":\"TEA-0042\",\"qty\":2,\"price\":\"8.90\"}],"
        "\"total\":\"17.80\",\"currency\":\"EUR\"}}";
    std::string cart = rng.Hex(20);
    f.Send(
        kServer,
        HttpMessage("HTTP/1.1 200 OK",
                    {"Server: Apache/2.4.57 (Debian)", "Date: " + HttpDate(f.Now()),
                     "Content-Type: application/json", "Content-Length", "Cache-Control: no-store",
                     "Set-Cookie: cart=" + cart + "; Path=/; Max-Age=1209600; HttpOnly", "Connection: close"},
                    json),
        false);
    f.Wait(40);
    f.Close(kServer);  // "Connection: close": the server closes after its response
}

void NewsSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t dnsPort = WindowsPort(rng);
    t = Lookup(cap, rng, t, o.laptop, dnsPort, o.resolver, "news.example.org", kTypeA,
               DnsAnswer(0, "news.example.org", kTypeA, Address(o.news), 900));

    TcpFlow f(cap, rng, t + 2100, 41700, o.laptop, WindowsPort(rng), o.news, 80);
    f.Handshake();
    f.Wait(330);
    // This request carries an IPv4 option (Router Alert), so its TCP header starts at offset 38, not 34.
    f.SetIpOptions({0x94, 0x04, 0x00, 0x00});
    f.Send(kClient,
           HttpMessage(
               "GET /2026/03/14/pi-day.html HTTP/1.1",
               {"Host: news.example.org", "Connection: keep-alive", "Upgrade-Insecure-Requests: 1", kEdge,
                "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,*/*;"
                "q=0.8",
                "Accept-Encoding: gzip, deflate", "Accept-Language: en-GB,en;q=0.9",
                "Cookie: ed=uk; _v=" + rng.Hex(12)}),
           false);
    f.Wait(f.Rtt() + 3300);
    std::string article = NewsArticle();
    f.Send(kServer,
           HttpMessage("HTTP/1.1 200 OK",
                       {"Server: Apache", "Date: " + HttpDate(f.Now()),
                        "Content-Type: text/html; charset=utf-8", "Content-Length",
                        "Last-Modified: Sat, 14 Mar 2026 07:31:44 GMT", "Cache-Control: public, max-age=300",
                        "Vary: Accept-Encoding", "Set-Cookie: ed=uk; Path=/; Max-Age=31536000",
                        "Keep-Alive: timeout=15, max=100", "Connection: Keep-Alive"},
                       article),
           true);
    f.Wait(12 * kSec);  // the reader moves on; the browser drops the connection
    f.Close(kClient);
}

void UpdateCheck(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    t = Lookup(cap, rng, t, o.workstation, LinuxPort(rng), o.resolver, "update.example.com", kTypeA,
               DnsAnswer(0, "update.example.com", kTypeA, Address(o.update), 60));
    TcpFlow f(cap, rng, t + 600, 88400, o.workstation, LinuxPort(rng), o.update, 80);
    f.Handshake();
    f.Wait(90);
    f.Send(kClient,
           HttpMessage("GET /v2/channels/stable/latest.json HTTP/1.1",
                       {"Host: update.example.com", "User-Agent: pkgcheck/2.4.1 (Debian 12)",
                        "Accept: application/json", "Accept-Encoding: gzip", "Connection: close"}),
           false);
    f.Wait(f.Rtt() + 2200);
    std::string json =
        "{\n  \"channel\": \"stable\",\n  \"version\": \"2.4.1\",\n  \"released\": \"2026-02-27\",\n"
        "  \"sha256\": \"" +
        rng.Hex(64) + "\",\n  \"notes\": \"http://update.example.com/notes/2.4.1.html\"\n}\n";
    f.Send(kServer,
           HttpMessage("HTTP/1.1 200 OK",
                       {"Server: nginx", "Date: " + HttpDate(f.Now()), "Content-Type: application/json",
                        "Content-Length", "Last-Modified: Fri, 27 Feb 2026 16:02:51 GMT",
                        "Cache-Control: max-age=3600", "Connection: close"},
                       json),
           false);
    f.Wait(35);
    f.Close(kServer);
}

void TlsSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t dnsPort = LinuxPort(rng);
    uint16_t id = static_cast<uint16_t>(rng.Next());
    SendUdp(cap, t, o.workstation, dnsPort, o.resolver, 53, DnsQuery(id, "secure.example.com", kTypeA));
    SendUdp(cap, t + 61, o.workstation, dnsPort, o.resolver, 53,
            DnsQuery(id + 1, "secure.example.com", kTypeAaaa));
    SendUdp(cap, t + 19870, o.resolver, 53, o.workstation, dnsPort,
            DnsAnswer(id, "secure.example.com", kTypeA, Address(o.secure), 300));
    SendUdp(cap, t + 20340, o.resolver, 53, o.workstation, dnsPort,
            DnsAnswer(id + 1, "secure.example.com", kTypeAaaa, {}, 0));  // no IPv6 address: SOA only

    TcpFlow f(cap, rng, t + 20800, 17600, o.workstation, LinuxPort(rng), o.secure, 443);
    f.Handshake();
    f.Wait(1100);
    Bytes session = rng.RandomBytes(32);
    f.Send(kClient, ClientHello(rng, "secure.example.com", session), false);
    f.Wait(f.Rtt() + 900);
    // Server flight: hello, compatibility CCS, then the encrypted extensions, certificate chain, certificate
    // verify and finished messages.
    f.Send(kServer,
           Cat({ServerHello(rng, session), kChangeCipherSpec, TlsAppData(rng, 36), TlsAppData(rng, 2874),
                TlsAppData(rng, 264), TlsAppData(rng, 52)}),
           true);
    f.Wait(1300);
    f.Send(kClient, Cat({kChangeCipherSpec, TlsAppData(rng, 52)}), false);
    f.Wait(60);
    f.Send(kClient, TlsAppData(rng, 402), false);  // HTTP/2 preface, settings, the first request
    f.Wait(f.Rtt() + 150);
    f.Send(kServer, Cat({TlsAppData(rng, 233), TlsAppData(rng, 233)}), true);  // two session tickets
    f.Wait(5200);
    f.Send(kServer, Cat({TlsAppData(rng, 38), TlsAppData(rng, 187), TlsAppData(rng, 6211)}), true);

    // The page polls for updates a few times.
    for (int i = 0; i < 4; ++i) {
        uint64_t pause = rng.Range(6, 9) * kSec;  // two draws: keep them in separate statements
        f.Wait(pause + rng.Below(400000));
        f.Send(kClient, TlsAppData(rng, rng.Range(70, 140)), false);
        f.Wait(f.Rtt() + rng.Range(3000, 40000));
        f.Send(kServer, TlsAppData(rng, rng.Range(90, 1900)), true);
    }
    f.Wait(2500 * kMs);
    f.Send(kClient, TlsAppData(rng, 2), false);  // close_notify alert
    f.Wait(50);
    f.Close(kClient);
}

void MailSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    t = Lookup(cap, rng, t, o.workstation, LinuxPort(rng), o.resolver, "mail.example.com", kTypeA,
               DnsAnswer(0, "mail.example.com", kTypeA, Address(o.mail), 3600));
    // Submission port first: closed on this server.
    TcpFlow refused(cap, rng, t + 300, 29900, o.workstation, LinuxPort(rng), o.mail, 587);
    refused.Refused();

    TcpFlow f(cap, rng, refused.Now() + 350, 29900, o.workstation, LinuxPort(rng), o.mail, 25);
    f.Handshake();
    f.Wait(f.Rtt() + 14000);  // greeting pause
    f.Send(kServer, "220 mail.example.com ESMTP Postfix (Debian/GNU)\r\n", true);
    f.Wait(400);
    f.Send(kClient, "EHLO ws23.office.example.com\r\n", false);
    f.Wait(f.Rtt() + 300);
    f.Send(kServer,
           "250-mail.example.com\r\n250-PIPELINING\r\n250-SIZE 10240000\r\n250-VRFY\r\n250-ETRN\r\n"
           "250-STARTTLS\r\n250-ENHANCEDSTATUSCODES\r\n250-8BITMIME\r\n250-DSN\r\n250-SMTPUTF8\r\n"
           "250 CHUNKING\r\n",
           true);
    f.Wait(2100);
    f.Send(kClient, "QUIT\r\n", false);
    f.Wait(f.Rtt() + 200);
    f.Send(kServer, "221 2.0.0 Bye\r\n", false);
    f.Wait(60);
    f.Close(kServer);
}

void SshSession(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    t = Lookup(cap, rng, t, o.laptop, WindowsPort(rng), o.resolver, "ssh.example.org", kTypeA,
               DnsAnswer(0, "ssh.example.org", kTypeA, Address(o.ssh), 86400));
    TcpFlow f(cap, rng, t + 900, 36500, o.laptop, WindowsPort(rng), o.ssh, 22);
    f.Handshake();
    f.Wait(f.Rtt() + 5200);
    f.Send(kServer, "SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u2\r\n", true);
    f.Wait(2900);
    f.Send(kClient, "SSH-2.0-PuTTY_Release_0.80\r\n", false);
    f.Wait(700);
    f.Send(kClient,
           SshKexInit(rng, {"curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,"
                            "diffie-hellman-group-exchange-sha256,ext-info-c",
                            "ssh-ed25519,ecdsa-sha2-nistp256,rsa-sha2-512,rsa-sha2-256",
                            "aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,aes256-ctr,aes128-ctr",
                            "aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,aes256-ctr,aes128-ctr",
                            "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256",
                            "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256",
                            "none,zlib", "none,zlib", "", ""}),
           false);
    f.Wait(f.Rtt() + 600);
    f.Send(kServer,
           SshKexInit(
               rng, {"sntrup761x25519-sha512@openssh.com,curve25519-sha256,curve25519-sha256@libssh.org,"
                     "ecdh-sha2-nistp256,ecdh-sha2-nistp384,diffie-hellman-group16-sha512",
                     "rsa-sha2-512,rsa-sha2-256,ecdsa-sha2-nistp256,ssh-ed25519",
                     "chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr,aes128-gcm@openssh.com,"
                     "aes256-gcm@openssh.com",
                     "chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr,aes128-gcm@openssh.com,"
                     "aes256-gcm@openssh.com",
                     "umac-64-etm@openssh.com,umac-128-etm@openssh.com,hmac-sha2-256-etm@openssh.com",
                     "umac-64-etm@openssh.com,umac-128-etm@openssh.com,hmac-sha2-256-etm@openssh.com",
                     "none,zlib@openssh.com", "none,zlib@openssh.com", "", ""}),
           true);
    // The user closes the window before the key exchange goes on.
    f.Wait(9 * kSec + 300 * kMs);
    f.Close(kClient);
}

void Snmp(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t port = LinuxPort(rng);
    auto reqId = static_cast<int32_t>(rng.Next() & 0x7FFFFFFF);
    Bytes descr = Oid({1, 3, 6, 1, 2, 1, 1, 1, 0});
    Bytes uptime = Oid({1, 3, 6, 1, 2, 1, 1, 3, 0});
    Bytes name = Oid({1, 3, 6, 1, 2, 1, 1, 5, 0});
    Bytes null = {0x05, 0x00};
    SendUdp(cap, t, o.workstation, port, o.printer, 161,
            SnmpMessage(0xA0, reqId,
                        {Tlv(0x30, Cat({descr, null})), Tlv(0x30, Cat({uptime, null})),
                         Tlv(0x30, Cat({name, null}))}));
    SendUdp(cap, t + 3870, o.printer, 161, o.workstation, port,
            SnmpMessage(0xA2, reqId,
                        {Tlv(0x30, Cat({descr, Tlv(0x04, ToBytes("Office Laser 2350dn, firmware 1.42, "
                                                                 "PostScript/PCL6"))})),
                         Tlv(0x30, Cat({uptime, BerInt(91873452, 0x43)})),  // TimeTicks
                         Tlv(0x30, Cat({name, Tlv(0x04, ToBytes("printer-2f"))}))}));
}

void Ntp(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    Lookup(cap, rng, t, o.workstation, LinuxPort(rng), o.resolver, "time.example.net", kTypeA,
           DnsAnswer(0, "time.example.net", kTypeA, Address(o.timeServer), 1800));
    // ntpd polls from and to port 123, every 64 seconds.
    for (uint64_t sent = t + 41000; sent < t + 130 * kSec; sent += 64 * kSec + rng.Below(900000)) {
        SendUdp(cap, sent, o.workstation, 123, o.timeServer, 123, NtpRequest(sent));
        uint64_t back = sent + rng.Range(18000, 22000);
        SendUdp(cap, back, o.timeServer, 123, o.workstation, 123,
                NtpReply(sent, sent + (back - sent) / 2 - 40, sent + (back - sent) / 2 + 15));
    }
}

void NetbiosQuery(Capture& cap, Rng& rng, uint64_t t, Office& o) {
    uint16_t id = static_cast<uint16_t>(rng.Next());
    for (int i = 0; i < 3; ++i)  // no one answers; Windows asks three times
        SendUdp(cap, t + i * 750 * kMs + rng.Below(2000), o.laptop, 137, o.broadcast, 137,
                NbnsQuery(id, "FILESERVER", 0x20));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: pacterra-gen-sample OUT.cap\n");
        return 2;
    }
    Rng rng(0x5041435445525241ull);
    Office o(rng);
    Capture cap;

    Arp(cap, 0, o);
    NatPmp(cap, rng, 180 * kMs, o);
    std::string sid = WwwSession(cap, rng, 1020 * kMs, o);
    Ntp(cap, rng, 9400 * kMs, o);
    ShopSession(cap, rng, 19700 * kMs, o);
    NewsSession(cap, rng, 35200 * kMs, o);
    Lookup(cap, rng, 47300 * kMs, o.laptop, WindowsPort(rng), o.resolver, "wpad.example.com", kTypeA,
           DnsAnswer(0, "wpad.example.com", kTypeA, {}, 0, true));
    NetbiosQuery(cap, rng, 55100 * kMs, o);
    TlsSession(cap, rng, 61800 * kMs, o);
    Snmp(cap, rng, 90200 * kMs, o);
    Ping(cap, 101700 * kMs, o);
    MailSession(cap, rng, 110300 * kMs, o);
    SshSession(cap, rng, 128600 * kMs, o);
    UpdateCheck(cap, rng, 151900 * kMs, o);
    WwwRevisit(cap, rng, 171400 * kMs, o, sid);

    if (!cap.Write(argv[1])) {
        std::fprintf(stderr, "pacterra-gen-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %zu frames\n", argv[1], cap.Count());
    return 0;
}
