// The decode tree of the packet last activated: one line per header field; selecting a line selects its
// bytes in the hex viewer.
#pragma once

#include <QTreeWidget>
#include <vector>

#include "views/PacketDecode.h"
#include "views/WideDecode.h"

class QAction;

class CProtocolTreeView : public QTreeWidget {
    Q_OBJECT

public:
    explicit CProtocolTreeView(QWidget* parent = nullptr);

    // Copies the frame and rebuilds the tree. No line is selected afterwards; the tree shows its top.
    // `storedPacket`: its index in the store, for the line of the server name it gave (-1: none).
    void ShowPacket(const uint8_t* bytes, int length, int64_t storedPacket = -1);
    // One line of text in place of a frame (whose bytes cannot be shown).
    void ShowNote(const std::string& text);

    // The lines shown, as decoded (for tests and the command-line tool's checks).
    const std::vector<DecodeLine>& Lines() const { return m_lines; }

    // The "&Copy line" command: the selected line's text to the clipboard.
    void CopyLine();

    // Wide enough to show every line of any packet whole: the longest field values, each digit drawn as the
    // font's widest, with the room the tree's indentation, pictures and scroll bar take.
    QSize sizeHint() const override;

signals:
    // A line with bytes was selected: [start, end) of the frame.
    void byteRangeSelected(int start, int end);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnCurrentItemChanged(QTreeWidgetItem* current);
    // Replaces the tree's lines by `lines`.
    void Fill(const std::vector<DecodeLine>& lines);
    int WidestTreeWidth();

    std::vector<uint8_t> m_packet;  // the frame shown, independent of the store
    std::vector<DecodeLine> m_lines;
    QAction* m_copyLine;
    QIcon m_icons[5];  // the five 16x16 pictures of the lines, by TreeImage
    int m_fitWidth = 0;
};
