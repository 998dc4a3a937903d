#include "app/TrawlerView.h"

#include <QByteArray>
#include <QVBoxLayout>

#include <span>
#include <stdexcept>
#include <string>

#include "capture/FrameFile.h"
#include "capture/PacketStore.h"
#include "frontend/Messages.h"
#include "views/PayloadTextCtrl.h"

namespace {

// Control bytes would upset the text layout (and NUL would cut the text short elsewhere): all but the line
// breaks become dots. Bytes from 0x20 up, 0x7F and 0x80-0xFF included, stay.
QByteArray DisplayableText(std::span<const uint8_t> payload) {
    QByteArray text(reinterpret_cast<const char*>(payload.data()), static_cast<qsizetype>(payload.size()));
    for (char& c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 && byte != '\r' && byte != '\n')
            c = '.';
    }
    return text;
}

}  // namespace

CTrawlerView::CTrawlerView(QWidget* parent) : QWidget(parent), m_payloadViewer(new CPayloadTextCtrl(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_payloadViewer);
    // Focusing the "Data" tab puts the keyboard into the text.
    setFocusProxy(m_payloadViewer);
}

void CTrawlerView::ShowPayload(int64_t packetIndex) {
    if (packetIndex < 0 || static_cast<uint64_t>(packetIndex) >= g_packetTable.size())
        throw std::out_of_range("packet index " + std::to_string(packetIndex) + " outside the packet table");
    const PacketRecord& packet = g_packetTable[static_cast<size_t>(packetIndex)];
    const QByteArray text = FrameBytesPresent(packet, true) ? DisplayableText(PacketPayload(packet))
                                                            : QByteArray(msg::kFrameBytesGone);
    m_payloadViewer->ShowText(text.constData(), text.size(), true);
}
