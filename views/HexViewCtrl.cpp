#include "views/HexViewCtrl.h"

#include "views/FixedFont.h"
#include "views/KeptKeys.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <algorithm>

#include "views/HexLines.h"

const char* const CHexViewCtrl::kBinaryDataMimeType = "application/x-qt-windows-mime;value=\"BinaryData\"";

namespace {

constexpr int kLine = kHexBytesPerLine;
constexpr int kAutoScrollMs = 50;
constexpr int kWheelStep = 120;  // one notch of a classic wheel

bool IsNavigationKey(int key) {
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            return false;
    }
}

// Paste and undo: taken and nothing happens, as the data never changes.
bool IsOwnedCtrlLetter(int key) {
    return key == Qt::Key_V || key == Qt::Key_Z;
}

Qt::KeyboardModifiers Modifiers(const QKeyEvent* event) {
    return event->modifiers() & ~Qt::KeypadModifier;
}

bool IsTypedCharacter(const QKeyEvent* event) {
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint() &&
           !(Modifiers(event) & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

}  // namespace

CHexViewCtrl::CHexViewCtrl(QWidget* parent) : QAbstractScrollArea(parent) {
    setWindowTitle(QStringLiteral("Hex Viewer"));
    setAccessibleName(QStringLiteral("Hex Viewer"));
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);  // shown, and disabled while the data fits
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted: no erase, no flicker
    viewport()->setCursor(Qt::IBeamCursor);
    ChooseFont();

    m_blinkTimer.setInterval(std::max(100, QApplication::cursorFlashTime() / 2));
    connect(&m_blinkTimer, &QTimer::timeout, this, [this] {
        m_caretBlinkOn = !m_caretBlinkOn;
        UpdateCaret();
    });
    m_autoScrollTimer.setInterval(kAutoScrollMs);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, [this] {
        // A release that went elsewhere (a dialog took the mouse) ends the drag too.
        if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
            m_autoScrollTimer.stop();
            return;
        }
        DragTo(m_lastDragPos);
    });

    m_menu = new QMenu(this);
    m_menu->setTitle(QStringLiteral("HexEdit"));
    m_copyAction = m_menu->addAction(QStringLiteral("&Copy"), this, &CHexViewCtrl::CopySelection);
    m_copyAction->setData(kCopyCommand);
    m_selectAllAction = m_menu->addAction(QStringLiteral("Select A&ll"), this, &CHexViewCtrl::SelectAll);
    m_selectAllAction->setData(kSelectAllCommand);

    UpdateLayout();
}

CHexViewCtrl::~CHexViewCtrl() = default;

// Wide enough for a whole line, so that a splitter gives the pane its full width to begin with.
QSize CHexViewCtrl::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {kHexLineColumns * m_charWidth + verticalScrollBar()->sizeHint().width() + frame,
            20 * m_lineHeight + frame};
}

// "Courier New" at 12 pixels where the system has it (or a metric twin); otherwise the system's fixed font
// at that size. Runs of text are drawn as one string, so every glyph must advance by exactly the whole
// pixel width that the columns are laid out with: letter spacing takes up any fraction.
void CHexViewCtrl::ChooseFont() {
    QFont font = FixedPitchFont();
    font.setPixelSize(12);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
    m_charWidth = std::max(1, qRound(advance));
    if (!qFuzzyCompare(advance, qreal(m_charWidth)))
        font.setLetterSpacing(QFont::AbsoluteSpacing, m_charWidth - advance);
    const QFontMetrics metrics(font);
    m_lineHeight = std::max(1, metrics.height());
    m_ascent = metrics.ascent();
    m_font = font;
}

// ---- data and selection ----

void CHexViewCtrl::SetData(const uint8_t* bytes, int length) {
    const size_t count = bytes ? std::min(static_cast<size_t>(std::max(length, 0)), kHexViewMaxBytes) : 0;
    m_data.assign(bytes, bytes + count);
    m_anchor = m_selectionEnd = -1;
    m_caretAddress = 0;
    m_caretArea = kHighNibble;
    m_top = 0;
    m_wheelRemainder = 0;
    m_dragPending = false;
    m_autoScrollTimer.stop();
    m_caretShown = hasFocus();
    UpdateLayout();
    PlaceCaret();
    viewport()->update();
}

void CHexViewCtrl::SetSelection(int start, int end) {
    end = std::min(end, DataLength());
    if (start < 0 || start >= end) {
        m_anchor = m_selectionEnd = -1;
    } else {
        m_anchor = start;
        m_selectionEnd = end - 1;
    }
    m_caretArea = kHighNibble;
    m_caretShown = true;
    PlaceCaret();
    viewport()->update();
}

void CHexViewCtrl::SelectAll() {
    if (m_data.empty())
        return;
    m_anchor = 0;
    m_selectionEnd = DataLength() - 1;
    m_caretShown = false;
    UpdateCaret();
    viewport()->update();
}

void CHexViewCtrl::RemoveSelection() {
    m_anchor = m_selectionEnd = -1;
}

bool CHexViewCtrl::HasSelection() const {
    return SelectionFirst() >= 0;
}

int CHexViewCtrl::SelectionFirst() const {
    if (m_anchor < 0 || m_selectionEnd < 0 || m_data.empty())
        return -1;
    const int first = std::max(0, std::min(m_anchor, m_selectionEnd));
    return first < DataLength() ? first : -1;
}

int CHexViewCtrl::SelectionLast() const {
    if (SelectionFirst() < 0)
        return -1;
    return std::min(std::max(m_anchor, m_selectionEnd), DataLength() - 1);
}

void CHexViewCtrl::CopySelection() {
    const int first = SelectionFirst();
    if (first < 0)
        return;
    const uint8_t* bytes = m_data.data() + first;
    const size_t count = static_cast<size_t>(SelectionLast() - first + 1);
    const std::string text =
        m_caretArea == kCharacterArea ? HexViewCharText(bytes, count) : HexViewHexText(bytes, count);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kBinaryDataMimeType),
                  QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count)));
    mime->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    QGuiApplication::clipboard()->setMimeData(mime);
}

// ---- layout and scrolling ----

int CHexViewCtrl::Rows() const {
    return (DataLength() + kLine - 1) / kLine;
}

int CHexViewCtrl::LastPageTop() const {
    return kLine * std::max(0, Rows() - m_lines);
}

int CHexViewCtrl::HorizontalOffset() const {
    return horizontalScrollBar()->value();
}

void CHexViewCtrl::UpdateLayout() {
    const int rows = Rows();
    m_visibleLines = viewport()->height() / m_lineHeight;
    // At least one line scrolls even in a window lower than a line, so that paging always moves.
    m_lines = std::min(rows, std::max(m_visibleLines, 1));
    m_top = std::min(m_top, LastPageTop());  // a taller window shows the end without a gap below it

    QScopedValueRollback<bool> syncing(m_syncingScrollBar, true);
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, rows - m_lines));
    bar->setPageStep(std::max(1, m_lines));
    bar->setSingleStep(1);
    bar->setValue(m_top / kLine);
    bar->setEnabled(rows > m_lines);

    // The text is a fixed 71 columns wide: a narrower window scrolls sideways instead of hiding the
    // character area.
    QScrollBar* across = horizontalScrollBar();
    across->setRange(0, std::max(0, kHexLineColumns * m_charWidth - viewport()->width()));
    across->setPageStep(std::max(1, viewport()->width()));
    across->setSingleStep(m_charWidth);
    PlaceCaret();
}

void CHexViewCtrl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateLayout();
    viewport()->update();
}

// Moves the first line shown to `top` (kept between the first line and the last page). With `carryCaret`
// the caret keeps its place in the window and so lands on another byte (scroll bar, drag); otherwise it
// stays on its byte (keys, wheel) and is hidden while that byte is scrolled out.
void CHexViewCtrl::ScrollTo(int top, bool carryCaret) {
    top = std::clamp(top / kLine * kLine, 0, LastPageTop());
    const int change = top - m_top;
    if (change == 0)
        return;
    m_top = top;
    {
        QScopedValueRollback<bool> syncing(m_syncingScrollBar, true);
        verticalScrollBar()->setValue(m_top / kLine);
    }
    if (carryCaret && !m_data.empty())
        m_caretAddress = std::clamp(m_caretAddress + change, 0, DataLength() - 1);
    PlaceCaret();
    viewport()->update();
}

void CHexViewCtrl::scrollContentsBy(int dx, int dy) {
    if (dx != 0) {
        PlaceCaret();
        viewport()->update();
    }
    if (dy != 0 && !m_syncingScrollBar)
        ScrollTo(verticalScrollBar()->value() * kLine, !m_handlingKey);
}

void CHexViewCtrl::EnsureCaretVisible() {
    if (m_data.empty() || m_lines <= 0)
        return;
    const int lineStart = m_caretAddress / kLine * kLine;
    if (lineStart < m_top)
        ScrollTo(lineStart, false);
    else if (lineStart >= m_top + kLine * m_lines)
        ScrollTo(lineStart - kLine * (m_lines - 1), false);
}

void CHexViewCtrl::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QAbstractScrollArea::wheelEvent(event);  // sideways wheels move the horizontal bar
        return;
    }
    // High-resolution wheels and touchpads send fractions of a notch: they add up to whole lines.
    if ((delta > 0) != (m_wheelRemainder > 0))
        m_wheelRemainder = 0;
    m_wheelRemainder += delta;
    const int lines = m_wheelRemainder / kWheelStep;
    m_wheelRemainder -= lines * kWheelStep;
    if (lines != 0)
        ScrollTo(m_top - kLine * lines, false);
    event->accept();
}

// ---- caret ----

void CHexViewCtrl::PlaceCaret() {
    const int row = m_caretAddress / kLine - m_top / kLine;
    const int column = m_caretAddress % kLine;
    int x = 0;
    int width = m_charWidth;
    switch (m_caretArea) {
        case kOffsetColumn:
            width = kHexOffsetDigits * m_charWidth;
            break;
        case kCharacterArea:
            x = (kHexCharColumn + column) * m_charWidth;
            break;
        case kHighNibble:
            x = (kHexAreaColumn + kHexCellColumns * column) * m_charWidth;
            break;
        case kLowNibble:
            x = (kHexAreaColumn + kHexCellColumns * column + 1) * m_charWidth;
            break;
    }
    const QRect old = CaretRect();
    m_caretRect = QRect(x, row * m_lineHeight, width, m_lineHeight);
    m_caretOnShownLine = row >= 0 && row < m_visibleLines && m_caretAddress < std::max(DataLength(), 1);
    m_caretBlinkOn = true;  // a caret that just moved is seen at once
    if (m_blinkTimer.isActive())
        m_blinkTimer.start();
    viewport()->update(old);
    UpdateCaret();
}

QRect CHexViewCtrl::CaretRect() const {
    return m_caretRect.translated(-HorizontalOffset(), 0);
}

bool CHexViewCtrl::IsCaretShown() const {
    return m_caretShown && m_caretOnShownLine && hasFocus() && !m_data.empty();
}

void CHexViewCtrl::UpdateCaret() {
    viewport()->update(CaretRect());
}

void CHexViewCtrl::focusInEvent(QFocusEvent* event) {
    if (!HasSelection())
        m_caretShown = true;
    m_caretBlinkOn = true;
    if (QApplication::cursorFlashTime() > 0)
        m_blinkTimer.start();
    UpdateCaret();
    QAbstractScrollArea::focusInEvent(event);
}

void CHexViewCtrl::focusOutEvent(QFocusEvent* event) {
    m_blinkTimer.stop();
    m_autoScrollTimer.stop();
    m_caretShown = false;
    UpdateCaret();
    QAbstractScrollArea::focusOutEvent(event);
}

// Moves the caret by (dx, dy), dx and dy in -1..1: through the character area byte by byte, through the
// hexadecimal area nibble by nibble. A move that would leave the data does not happen (a move up from the
// first line goes to the first byte). The view then follows the caret.
void CHexViewCtrl::Move(int dx, int dy) {
    if (m_caretArea == kOffsetColumn)
        return;
    int address = m_caretAddress;
    CaretArea area = m_caretArea;
    if (area == kCharacterArea) {
        address += dx;
    } else if (dx != 0) {
        if (area == kHighNibble && dx < 0)
            --address;
        if (area == kLowNibble && dx > 0)
            ++address;
        area = area == kHighNibble ? kLowNibble : kHighNibble;
    }
    address += kLine * dy;
    if (address < 0 && dx == 0)
        address = 0;
    if (address >= 0 && address < DataLength()) {
        m_caretAddress = address;
        m_caretArea = area;
    }
    EnsureCaretVisible();
    PlaceCaret();
}

// Page Up and Page Down: the view moves by a page and the caret with it, keeping its column; near either
// end the caret stops on the first or last line its column reaches.
void CHexViewCtrl::PageBy(int direction) {
    const int step = kLine * std::max(m_lines, 1);
    int target = m_caretAddress + direction * step;
    if (target < 0)
        target = m_caretAddress % kLine;
    if (target >= DataLength())
        target = m_caretAddress + (DataLength() - 1 - m_caretAddress) / kLine * kLine;
    ScrollTo(m_top + direction * step, false);
    m_caretAddress = std::max(target, 0);
    Move(0, 0);
}

// ---- keyboard ----

bool CHexViewCtrl::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // The keys the viewer handles stay here while it has the focus; the window's shortcuts do not.
            auto* key = static_cast<QKeyEvent*>(event);
            if (OwnsKey(key)) {
                key->accept();
                return true;
            }
            break;
        }
        case QEvent::KeyPress: {
            // Tab moves between the areas instead of to the next widget (Ctrl+Tab does that).
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
                !(Modifiers(key) & (Qt::ControlModifier | Qt::AltModifier))) {
                keyPressEvent(key);
                return true;
            }
            break;
        }
        default:
            break;
    }
    return QAbstractScrollArea::event(event);
}

bool CHexViewCtrl::OwnsKey(const QKeyEvent* event) const {
    const Qt::KeyboardModifiers modifiers = Modifiers(event);
    const int key = event->key();
    if (modifiers & Qt::MetaModifier)
        return false;
    if (modifiers & Qt::AltModifier)
        return false;
    if (IsNavigationKey(key) || KeptShortcut(event))
        return true;
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return !(modifiers & Qt::ControlModifier);  // Ctrl+Tab is the tab strip's
        case Qt::Key_Insert:
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            return true;
        default:
            break;
    }
    if (modifiers == Qt::ControlModifier)
        return IsOwnedCtrlLetter(key);
    return IsTypedCharacter(event);
}

void CHexViewCtrl::keyPressEvent(QKeyEvent* event) {
    QScopedValueRollback<bool> handling(m_handlingKey, true);
    const Qt::KeyboardModifiers modifiers = Modifiers(event);
    const int key = event->key();
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool plain = !(modifiers & (Qt::AltModifier | Qt::MetaModifier));

    if (plain && HandleNavigationKey(key, shift, ctrl))
        return;
    if (const std::optional<KeptKey> kept = KeptShortcut(event)) {
        if (*kept == KeptKey::Copy)
            CopySelection();
        else if (*kept == KeptKey::SelectAll)
            SelectAll();
        return;
    }
    if (HandleCommandKey(key, modifiers))
        return;
    if (IsTypedCharacter(event)) {
        // The data never changes: typing only removes the selection.
        SetSelection(-1, -1);
        return;
    }
    if (OwnsKey(event))
        return;  // cut, paste or undo: taken, and nothing happens
    event->ignore();
}

bool CHexViewCtrl::HandleNavigationKey(int key, bool shift, bool ctrl) {
    if (!IsNavigationKey(key))
        return false;
    if (m_caretArea == kOffsetColumn)
        m_caretArea = kHighNibble;  // the offset column has no place of its own to move through
    if (shift) {
        if (!HasSelection())
            m_anchor = m_caretAddress;
    } else {
        RemoveSelection();
    }
    // Extending forward in the hexadecimal area takes the byte after the caret too.
    bool forward = false;
    switch (key) {
        case Qt::Key_Left:
            Move(-1, 0);
            break;
        case Qt::Key_Right:
            Move(1, 0);
            forward = true;
            break;
        case Qt::Key_Up:
            Move(0, -1);
            break;
        case Qt::Key_Down:
            Move(0, 1);
            forward = true;
            break;
        case Qt::Key_PageUp:
            PageBy(-1);
            break;
        case Qt::Key_PageDown:
            PageBy(1);
            break;
        case Qt::Key_Home:
            if (ctrl) {
                ScrollTo(0, false);
                m_caretAddress = 0;
            } else {
                m_caretAddress = m_caretAddress / kLine * kLine;
            }
            Move(0, 0);
            break;
        case Qt::Key_End:
            if (ctrl) {
                m_caretAddress = std::max(0, DataLength() - 1);
                ScrollTo(LastPageTop(), false);
            } else {
                m_caretAddress =
                    std::max(0, std::min(m_caretAddress / kLine * kLine + kLine - 1, DataLength() - 1));
            }
            Move(0, 0);
            break;
    }
    if (shift) {
        const bool hex = m_caretArea == kHighNibble || m_caretArea == kLowNibble;
        m_selectionEnd = m_caretAddress + (forward && hex ? 1 : 0);
    }
    m_caretShown = true;
    PlaceCaret();
    viewport()->update();
    return true;
}

bool CHexViewCtrl::HandleCommandKey(int key, Qt::KeyboardModifiers modifiers) {
    const bool shift = modifiers == Qt::ShiftModifier;
    const bool none = modifiers == Qt::NoModifier;
    switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (modifiers & Qt::ControlModifier) {
                // Only where no tab strip takes the key (the control on its own): it leaves the control.
                QAbstractScrollArea::focusNextPrevChild(key == Qt::Key_Tab &&
                                                        !(modifiers & Qt::ShiftModifier));
            } else {
                m_caretArea =
                    m_caretArea == kHighNibble || m_caretArea == kLowNibble ? kCharacterArea : kHighNibble;
                Move(0, 0);
            }
            return true;
        case Qt::Key_Insert:
            if (none || shift)
                viewport()
                    ->update();  // Insert repaints; Shift+Insert would paste, and the data never changes
            return none || shift;
        case Qt::Key_Delete:
            if (none && !HasSelection())
                viewport()->update();
            return none || shift;  // Shift+Delete would cut
        case Qt::Key_Backspace:
            if (none && m_caretAddress > 0) {
                --m_caretAddress;
                EnsureCaretVisible();
                PlaceCaret();
                viewport()->update();
            }
            return none;
        default:
            return false;
    }
}

// ---- mouse ----

// The caret address and area under a point of the viewport. A click must hit a byte of a line shown; a drag
// is taken to the nearest byte of the lines shown.
bool CHexViewCtrl::HitTest(QPoint point, bool dragging, Hit* hit) const {
    if (m_data.empty() || point.y() < 0)
        return false;
    int row = point.y() / m_lineHeight;
    int column = (point.x() + HorizontalOffset()) / m_charWidth;
    if (dragging) {
        row = std::min(row, std::max(m_lines - 1, 0));
        column = std::clamp(column, 0, kHexLineColumns - 1);
    } else if (row >= m_lines || point.x() < 0 || column >= kHexLineColumns) {
        return false;
    }
    const int lineStart = m_top + kLine * row;
    if (lineStart >= DataLength())
        return false;
    if (column < kHexAreaColumn - 1) {
        hit->address = lineStart;
        hit->area = kOffsetColumn;
    } else if (column < kHexCharColumn - 1) {
        // The blank before each cell's digits belongs to the cell on its left, the one before the first
        // cell to the first.
        const int cell = std::max(column - kHexAreaColumn, 0) / kHexCellColumns;
        hit->address = lineStart + cell;
        hit->area = (column - kHexAreaColumn) % kHexCellColumns == 1 ? kLowNibble : kHighNibble;
    } else {
        hit->address = lineStart + std::clamp(column - kHexCharColumn, 0, kLine - 1);
        hit->area = kCharacterArea;
    }
    // Behind the end of a short last line the caret goes to the last byte.
    hit->address = std::min(hit->address, DataLength() - 1);
    return true;
}

void CHexViewCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const QPoint point = event->position().toPoint();
    Hit hit;
    if (HitTest(point, false, &hit)) {
        const int previous = m_caretAddress;
        m_caretAddress = hit.address;
        m_caretArea = hit.area;
        m_caretShown = true;
        PlaceCaret();
        if (shift) {
            m_anchor = previous;
            const bool hex = hit.area == kHighNibble || hit.area == kLowNibble;
            m_selectionEnd = hit.address + (hex ? 1 : 0);
            viewport()->update();
        }
    }
    if (shift)
        return;
    m_dragPending = true;
    m_pressPos = point;
}

void CHexViewCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint point = event->position().toPoint();
    if (m_dragPending) {
        if ((point - m_pressPos).manhattanLength() < QApplication::startDragDistance())
            return;
        m_dragPending = false;
        m_anchor = m_selectionEnd = m_caretAddress;
    }
    if (m_anchor < 0)
        return;
    DragTo(point);
}

// One step of a drag: above or below the window the view scrolls a line (repeated by the timer while the
// mouse stays there), and the selection ends at the byte under the mouse.
void CHexViewCtrl::DragTo(QPoint point) {
    m_lastDragPos = point;
    const int height = viewport()->height();
    if (point.y() < 0) {
        ScrollTo(m_top - kLine, true);
        point.setY(0);
    } else if (point.y() >= height) {
        ScrollTo(m_top + kLine, true);
        point.setY(std::max(height - 1, 0));
    }
    const bool outside = m_lastDragPos.y() != point.y();
    if (outside && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!outside)
        m_autoScrollTimer.stop();

    Hit hit;
    if (!HitTest(point, true, &hit))
        return;
    m_caretAddress = hit.address;
    m_caretArea = hit.area;
    m_caretShown = false;
    PlaceCaret();
    if (hit.address != m_selectionEnd) {
        m_selectionEnd = hit.address;
        viewport()->update();
    }
}

void CHexViewCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_autoScrollTimer.stop();
    if (m_dragPending) {
        // A click without a drag removes the selection.
        m_dragPending = false;
        if (m_anchor >= 0) {
            RemoveSelection();
            viewport()->update();
        }
    }
}

void CHexViewCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();  // nothing more than the click before it
}

void CHexViewCtrl::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                  : viewport()->mapToGlobal(QPoint(5, 5));
    m_copyAction->setEnabled(HasSelection());
    m_menu->popup(at);
    event->accept();
}

// ---- painting ----

CHexViewCtrl::Ink CHexViewCtrl::InkOf(int address, bool hexArea) const {
    const int first = std::min(m_anchor, m_selectionEnd);
    const int last = std::max(m_anchor, m_selectionEnd);
    if (address >= first && address <= last)
        return Ink::Highlight;
    return hexArea && address < first ? Ink::Plain : Ink::Window;
}

void CHexViewCtrl::DrawRun(QPainter& painter, int row, int column, int count, const char* text,
                           Ink ink) const {
    const int y = row * m_lineHeight;
    const QPalette& colours = palette();
    QColor ground = Qt::white;
    QColor pen = Qt::black;
    if (ink == Ink::Highlight) {
        ground = colours.color(QPalette::Highlight);
        pen = colours.color(QPalette::HighlightedText);
    } else if (ink == Ink::Window) {
        ground = colours.color(QPalette::Base);
        pen = colours.color(QPalette::Text);
    }
    if (ink != Ink::Plain)
        painter.fillRect(column * m_charWidth, y, count * m_charWidth, m_lineHeight, ground);
    painter.setPen(pen);
    painter.drawText(column * m_charWidth, y + m_ascent, QString::fromLatin1(text + column, count));
}

// One line as FormatHexViewLine wrote it. With a selection, the hexadecimal cells before it stay black on
// white, the selected bytes (in the hexadecimal area with the blank after each) take the highlight
// colours, and the rest of both areas the window colours; the offset column is always black on white.
void CHexViewCtrl::DrawLine(QPainter& painter, int row, int offset, const char* text, int textLength) const {
    if (!HasSelection()) {
        DrawRun(painter, row, 0, textLength, text, Ink::Plain);
        return;
    }
    DrawRun(painter, row, 0, kHexOffsetDigits, text, Ink::Plain);
    const int count = textLength - kHexCharColumn;
    for (int area = 0; area < 2; ++area) {
        const bool hex = area == 0;
        const int origin = hex ? kHexAreaColumn : kHexCharColumn;
        const int width = hex ? kHexCellColumns : 1;
        int runStart = 0;
        for (int i = 1; i <= count; ++i) {
            const Ink ink = InkOf(offset + runStart, hex);
            if (i < count && InkOf(offset + i, hex) == ink)
                continue;
            DrawRun(painter, row, origin + runStart * width, (i - runStart) * width, text, ink);
            runStart = i;
        }
    }
}

void CHexViewCtrl::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, Qt::white);
    painter.setFont(m_font);
    painter.translate(-HorizontalOffset(), 0);

    // Whole lines only, and only those the exposed rectangle touches.
    const int firstRow = std::max(exposed.top() / m_lineHeight, 0);
    const int lastRow = std::min(exposed.bottom() / m_lineHeight, m_visibleLines - 1);
    char text[kHexLineColumns];
    for (int row = firstRow; row <= lastRow; ++row) {
        const int offset = m_top + kLine * row;
        const size_t length =
            FormatHexViewLine(m_data.data(), m_data.size(), static_cast<size_t>(offset), text);
        if (length == 0)
            break;
        DrawLine(painter, row, offset, text, static_cast<int>(length));
    }

    if (IsCaretShown() && m_caretBlinkOn) {
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.fillRect(m_caretRect, Qt::white);
    }
}
