#include "config/FilterItem.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Smallest number of bytes behind each UTF-16 code unit of a name.
constexpr size_t kUtf16UnitBytes = 2;

// A name length: one byte below 0xFF; else 0xFF and 16 bits below 0xFFFE; else 0xFF, 0xFFFF and 32 bits
// (0xFFFE after 0xFF marks a name in 16-bit characters, so it can never be a length).
void WriteNameLength(CArchive& ar, size_t n) {
    if (n > std::numeric_limits<uint32_t>::max())
        throw ArchiveError("a rule name is too long to store");
    if (n < 0xFF) {
        ar.WriteU8(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
        ar.WriteU8(0xFF);
        ar.WriteU16(static_cast<uint16_t>(n));
    } else {
        ar.WriteU8(0xFF);
        ar.WriteU16(0xFFFF);
        ar.WriteU32(static_cast<uint32_t>(n));
    }
}

// The 16-bit part of a length prefix after its 0xFF byte: 0xFFFF announces a 32-bit length.
uint32_t ReadWideLength(CArchive& ar, uint16_t word) {
    return word == 0xFFFF ? ar.ReadU32() : word;
}

uint32_t ReadShortOrWideLength(CArchive& ar) {
    uint8_t b = ar.ReadU8();
    return b < 0xFF ? b : ReadWideLength(ar, ar.ReadU16());
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads `units` UTF-16LE code units as UTF-8. A surrogate without its partner becomes U+FFFD, so every
// name converts and nothing after it is misread.
std::string ReadUtf16Name(CArchive& ar, uint32_t units) {
    if (units > ar.Remaining() / kUtf16UnitBytes)
        throw ArchiveError("the file ends early");
    std::vector<uint16_t> wide(units);
    for (auto& u : wide)
        u = ar.ReadU16();

    std::string out;
    out.reserve(wide.size() * 3);
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t u = wide[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string ReadName(CArchive& ar) {
    uint8_t b = ar.ReadU8();
    uint32_t n = b;
    if (b == 0xFF) {
        uint16_t word = ar.ReadU16();
        if (word == 0xFFFE)  // the name was written in 16-bit characters
            return ReadUtf16Name(ar, ReadShortOrWideLength(ar));
        n = ReadWideLength(ar, word);
    }
    ar.Need(n);  // before allocating from a count that the file may not back
    std::string name(n, '\0');
    ar.ReadBytes(name.data(), n);
    return name;
}

bool HasPort(const std::vector<uint16_t>& ports, uint16_t port) {
    for (uint16_t p : ports)
        if (p == port)
            return true;
    return false;
}

// "80", "21, 25 or 80", "1, 2, 3, 4, 5 or 6...": at most six ports.
std::string PortText(const std::vector<uint16_t>& ports) {
    constexpr size_t kMaxListed = 6;
    std::string text;
    for (size_t i = 0; i < ports.size() && i < kMaxListed; ++i) {
        std::string number = std::to_string(static_cast<unsigned>(ports[i]));
        if (i == 0)
            text = number;
        else if (i + 1 == ports.size())
            text += " or " + number;
        else if (i + 1 == kMaxListed)
            text += " or " + number + "...";
        else
            text += ", " + number;
    }
    return text;
}

}  // namespace

void CFilterItem::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        WriteNameLength(ar, name.size());
        ar.WriteBytes(name.data(), name.size());
        ar.WriteFlag(anyIp);
        ar.WriteFlag(anyPort);
        ar.WriteFlag(accept);
        ar.WriteBytes(ip, sizeof ip);
        if (ports.size() > std::numeric_limits<uint32_t>::max())
            throw ArchiveError("a rule has too many ports to store");
        ar.WriteCount(static_cast<uint32_t>(ports.size()));
        for (uint16_t p : ports)
            ar.WriteU16(p);
        return;
    }

    // Loaded into a copy so that a failure leaves this item as it was.
    CFilterItem item;
    item.name = ReadName(ar);
    item.anyIp = ar.ReadU8();
    item.anyPort = ar.ReadU8();
    item.accept = ar.ReadU8();
    ar.ReadBytes(item.ip, sizeof item.ip);
    uint32_t count = ar.ReadCount();
    if (count > ar.Remaining() / sizeof(uint16_t))
        throw ArchiveError("the file ends early");
    item.ports.resize(count);
    for (auto& p : item.ports)
        p = ar.ReadU16();
    *this = std::move(item);
}

int32_t CFilterItem::Match(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort,
                           uint16_t dstPort) const {
    return Match(srcIp, dstIp, srcPort, dstPort, CPortLookup());
}

int32_t CFilterItem::Match(const uint8_t* srcIp, const uint8_t* dstIp, uint16_t srcPort, uint16_t dstPort,
                           const CPortLookup& lookup) const {
    bool portHolds = anyPort != 0;
    if (!portHolds && lookup.Covers(ports))
        portHolds = lookup.Has(srcPort) || lookup.Has(dstPort);
    else if (!portHolds)
        portHolds = HasPort(ports, srcPort) || HasPort(ports, dstPort);
    if (!portHolds)
        return MATCH_NONE;
    bool ipHolds =
        anyIp != 0 || std::memcmp(srcIp, ip, sizeof ip) == 0 || std::memcmp(dstIp, ip, sizeof ip) == 0;
    if (!ipHolds)
        return MATCH_NONE;
    return accept != 0 ? MATCH_ACCEPT : MATCH_DROP;
}

int32_t CFilterItem::MatchAnyAddress(uint16_t srcPort, uint16_t dstPort) const {
    if (anyIp == 0)
        return MATCH_NONE;
    if (anyPort == 0 && !HasPort(ports, srcPort) && !HasPort(ports, dstPort))
        return MATCH_NONE;
    return accept != 0 ? MATCH_ACCEPT : MATCH_DROP;
}

void CFilterItem::GetSignature(std::string& out) const {
    const char* action = accept != 0 ? "Accept" : "Drop";
    std::string portText = anyPort == 0 ? PortText(ports) : std::string();
    unsigned a = ip[0], b = ip[1], c = ip[2], d = ip[3];

    // Six five-digit ports with their separators stay far below this.
    char buf[256];
    if (anyIp != 0 && anyPort != 0)
        std::snprintf(buf, sizeof buf, "%s packets with any IP or port", action);
    else if (anyIp != 0)
        std::snprintf(buf, sizeof buf, "%s packets with port including %s", action, portText.c_str());
    else if (anyPort != 0)
        std::snprintf(buf, sizeof buf, "%s packets with IP including %u.%u.%u.%u", action, a, b, c, d);
    else
        std::snprintf(buf, sizeof buf, "%s packets with IP including %u.%u.%u.%u and port including %s",
                      action, a, b, c, d, portText.c_str());
    out = buf;
}
