#include "config/PortLookup.h"

CPortLookup::CPortLookup(const std::vector<uint16_t>& ports) {
    if (ports.size() <= kScannedPorts)
        return;
    auto bits = std::make_shared<Bits>();
    for (uint16_t port : ports)
        (*bits)[port >> 6] |= uint64_t{1} << (port & 63);
    m_bits = std::move(bits);
    m_source = ports.data();
    m_count = ports.size();
}
