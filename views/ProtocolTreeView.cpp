#include "views/ProtocolTreeView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "views/Clipboard.h"
#include "views/NameDecode.h"

namespace {

constexpr int kRangeRole = Qt::UserRole;  // QPoint(offset, length); absent for no range

QIcon DrawIcon(TreeImage image) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (image) {
        case TreeImage::Packet:  // an envelope-like packet
            p.setPen(QColor(40, 70, 140));
            p.setBrush(QColor(120, 160, 230));
            p.drawRect(1, 3, 13, 10);
            p.drawLine(1, 3, 8, 9);
            p.drawLine(14, 3, 8, 9);
            break;
        case TreeImage::Header:  // a stack of layers
            p.setPen(QColor(110, 80, 20));
            p.setBrush(QColor(240, 200, 90));
            for (int y = 2; y <= 10; y += 4)
                p.drawRect(2, y, 11, 3);
            break;
        case TreeImage::Field:  // a small tag
            p.setPen(QColor(60, 60, 60));
            p.setBrush(QColor(200, 210, 225));
            p.drawRect(4, 5, 8, 6);
            break;
        case TreeImage::FlagOff:
            p.setPen(QColor(120, 120, 120));
            p.setBrush(QColor(190, 190, 190));
            p.drawRect(4, 4, 8, 8);
            break;
        case TreeImage::FlagOn:
            p.setPen(QColor(20, 110, 30));
            p.setBrush(QColor(60, 200, 70));
            p.drawRect(4, 4, 8, 8);
            break;
    }
    return QIcon(pixmap);
}

// The decode of a TCP frame whose fields all take their longest form, each value drawn as wide as the font
// can draw it: digits as the widest digit, the hexadecimal digits of a MAC address as the widest of those.
std::vector<DecodeLine> WidestLines(const QFontMetrics& metrics) {
    std::vector<uint8_t> frame(0xFFFF, 0xFF);
    frame[12] = 0x08;  // IPv4
    frame[13] = 0x00;
    frame[14] = 0x45;  // a 20-byte header
    frame[20] = 0x40;  // Don't Fragment, the first fragment
    frame[21] = 0x00;
    frame[23] = 6;  // TCP
    std::vector<DecodeLine> lines = DecodePacket(frame.data(), frame.size());

    auto widestOf = [&metrics](const char* chars) {
        char widest = *chars;
        for (const char* c = chars; *c; ++c)
            if (metrics.horizontalAdvance(QLatin1Char(*c)) > metrics.horizontalAdvance(QLatin1Char(widest)))
                widest = *c;
        return widest;
    };
    const char digit = widestOf("0123456789");
    const char hex = widestOf("0123456789abcdef");
    for (DecodeLine& line : lines) {
        const size_t colon = line.text.find(": ");
        if (colon == std::string::npos)
            continue;
        std::string& text = line.text;
        const bool mac = text.find_first_not_of("0123456789abcdef.", colon + 2) == std::string::npos;
        for (size_t i = colon + 2; i < text.size(); ++i) {
            if (mac && text[i] != '.')
                text[i] = hex;
            else if (text[i] >= '0' && text[i] <= '9')
                text[i] = digit;
        }
    }
    return lines;
}

}  // namespace

CProtocolTreeView::CProtocolTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    for (int i = 0; i < 5; ++i)
        m_icons[i] = DrawIcon(static_cast<TreeImage>(i));
    m_copyLine = new QAction(tr("&Copy line"), this);
    connect(m_copyLine, &QAction::triggered, this, &CProtocolTreeView::CopyLine);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    m_fitWidth = WidestTreeWidth();
}

int CProtocolTreeView::WidestTreeWidth() {
    Fill(WidestLines(fontMetrics()));
    const int width = sizeHintForColumn(0) + 2 * frameWidth() +
                      style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    QSignalBlocker block(this);
    clear();
    return width;
}

QSize CProtocolTreeView::sizeHint() const {
    return QSize(m_fitWidth, QTreeWidget::sizeHint().height());
}

void CProtocolTreeView::ShowPacket(const uint8_t* bytes, int length, int64_t storedPacket) {
    m_packet.assign(bytes, bytes + (length > 0 ? length : 0));
    m_lines = DecodeStoredFrame(m_packet.data(), m_packet.size());
    if (storedPacket >= 0)
        AppendServerNameLines(static_cast<size_t>(storedPacket), m_packet.size(), m_lines);
    Fill(m_lines);
}

void CProtocolTreeView::ShowNote(const std::string& text) {
    m_packet.clear();
    m_lines = {DecodeLine{text}};
    Fill(m_lines);
}

void CProtocolTreeView::Fill(const std::vector<DecodeLine>& lines) {
    // Rebuilding must not report selections of lines that are about to go.
    QSignalBlocker block(this);
    clear();
    std::vector<QTreeWidgetItem*> items;
    items.reserve(lines.size());
    for (const DecodeLine& line : lines) {
        auto* item = line.parent < 0 ? new QTreeWidgetItem(this)
                                     : new QTreeWidgetItem(items[static_cast<size_t>(line.parent)]);
        item->setText(0, QString::fromStdString(line.text));
        item->setIcon(0, m_icons[static_cast<int>(line.image)]);
        if (!line.range.empty())
            item->setData(0, kRangeRole, QPoint(line.range.offset, line.range.length));
        items.push_back(item);
    }
    for (size_t i = 0; i < lines.size(); ++i)
        items[i]->setExpanded(lines[i].expanded);
    setCurrentItem(nullptr);
    scrollToTop();
}

void CProtocolTreeView::OnCurrentItemChanged(QTreeWidgetItem* current) {
    if (!current)
        return;
    const QVariant range = current->data(0, kRangeRole);
    if (!range.isValid())
        return;  // lines without bytes leave the hex selection alone
    const QPoint r = range.toPoint();
    emit byteRangeSelected(r.x(), r.x() + r.y());
}

void CProtocolTreeView::mousePressEvent(QMouseEvent* event) {
    // The right button selects only when its menu is asked for (on release).
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CProtocolTreeView::contextMenuEvent(QContextMenuEvent* event) {
    // From the keyboard (the menu key) the menu is for the current line, shown beside it.
    const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
    QTreeWidgetItem* hit = keyboard ? currentItem() : itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!hit)
        return;
    setCurrentItem(hit);
    QMenu menu(this);
    menu.addAction(m_copyLine);
    menu.exec(keyboard ? viewport()->mapToGlobal(visualItemRect(hit).bottomLeft()) : event->globalPos());
}

void CProtocolTreeView::CopyLine() {
    QTreeWidgetItem* item = currentItem();
    if (!item || !item->isSelected())
        return;
    CopyTextToClipboard(item->text(0));
}
