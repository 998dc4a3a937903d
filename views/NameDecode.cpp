#include "views/NameDecode.h"

#include "analysis/ServerNameTable.h"

void AppendServerNameLines(size_t packet, size_t frameLength, std::vector<DecodeLine>& lines) {
    const ConnectionName* n = ConnectionNames().FindByPacket(packet);
    if (!n)
        return;
    DecodeLine protocol;
    switch (n->source) {
        case NameSource::Tls:
            protocol.text = "TLS ClientHello";
            break;
        case NameSource::Quic:
            protocol.text = "QUIC Initial (decrypted)";
            break;
        case NameSource::Http:
            protocol.text = "HTTP request";
            break;
        default:
            return;
    }
    protocol.image = TreeImage::Header;
    protocol.expanded = true;
    DecodeLine name;
    name.text = "Server name: " + n->name;
    name.parent = static_cast<int>(lines.size());
    if (n->frameOffset >= 0 && static_cast<size_t>(n->frameOffset) + n->length <= frameLength)
        name.range = {n->frameOffset, static_cast<int>(n->length)};
    lines.push_back(std::move(protocol));
    lines.push_back(std::move(name));
}
