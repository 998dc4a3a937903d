// The main view: the "Data" tab, a thin host for the payload text control, which fills it. It turns the
// payload of the packet the packets list activates into displayable text.
#pragma once

#include <QWidget>

#include <cstdint>

class CPayloadTextCtrl;

class CTrawlerView : public QWidget {
    Q_OBJECT

public:
    explicit CTrawlerView(QWidget* parent = nullptr);

    // Shows the payload of stored packet `packetIndex` with highlighting: every byte below 0x20 other than
    // CR and LF as a dot, the others as their Latin-1 characters. Throws std::out_of_range for an index
    // outside the packet table.
    void ShowPayload(int64_t packetIndex);

    CPayloadTextCtrl* PayloadViewer() const { return m_payloadViewer; }

private:
    CPayloadTextCtrl* m_payloadViewer;
};
