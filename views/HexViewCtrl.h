// The hex viewer: a read-only dump of one packet (offset column, sixteen bytes per line in hexadecimal, the
// same bytes as characters) with a caret, a byte selection made with the mouse, the keyboard or from the
// protocol tree, and copying of the selection as raw bytes and as text.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QTimer>
#include <cstdint>
#include <vector>

class QAction;
class QMenu;

class CHexViewCtrl : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Where the caret is.
    enum CaretArea { kOffsetColumn = 0, kCharacterArea = 1, kHighNibble = 2, kLowNibble = 3 };

    // The command numbers of the context menu's entries, kept as the actions' data.
    static constexpr int kCopyCommand = 57634;
    static constexpr int kSelectAllCommand = 57642;
    // The raw bytes of a copy go to the clipboard under this type (the "BinaryData" format on Windows).
    static const char* const kBinaryDataMimeType;

    explicit CHexViewCtrl(QWidget* parent = nullptr);
    ~CHexViewCtrl() override;

    // Shows a copy of `length` bytes (at most 65536; longer data is cut). The view returns to the top, the
    // caret to the first byte's high nibble, and the selection is removed.
    void SetData(const uint8_t* bytes, int length);

    // Selects the bytes [start, end) without scrolling and puts the caret into the hexadecimal area; an
    // empty range, (-1, -1) in particular, removes the selection. The protocol tree calls this with the
    // byte range of the field the user picks.
    void SetSelection(int start, int end);
    void SelectAll();
    // The selected bytes to the clipboard, raw and as text (hexadecimal, or characters when the caret is in
    // the character area). Does nothing without a selection.
    void CopySelection();

    // State, for the views around and for tests.
    const std::vector<uint8_t>& Data() const { return m_data; }
    int DataLength() const { return static_cast<int>(m_data.size()); }
    int TopOffset() const { return m_top; }  // first byte of the first line shown
    int CaretAddress() const { return m_caretAddress; }
    CaretArea Area() const { return m_caretArea; }
    bool HasSelection() const;
    // The selected bytes as far as they lie within the data, first and last included; -1 without.
    int SelectionFirst() const;
    int SelectionLast() const;
    int LinesPerPage() const { return m_lines; }  // whole lines shown (fewer when the data is shorter)
    int CharWidth() const { return m_charWidth; }
    int LineHeight() const { return m_lineHeight; }
    // The caret's cell in viewport pixels, and whether it is drawn at all (focus, not hidden by a drag, on
    // a line that is shown).
    QRect CaretRect() const;
    bool IsCaretShown() const;
    QMenu* ContextMenu() const { return m_menu; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Hit {
        int address;
        CaretArea area;
    };
    enum class Ink { Plain, Highlight, Window };

    void ChooseFont();
    void UpdateLayout();
    int Rows() const;
    int LastPageTop() const;
    int HorizontalOffset() const;

    void ScrollTo(int top, bool carryCaret);
    void EnsureCaretVisible();
    void PlaceCaret();
    void UpdateCaret();
    void Move(int dx, int dy);
    void PageBy(int direction);
    void RemoveSelection();

    bool OwnsKey(const QKeyEvent* event) const;
    bool HandleNavigationKey(int key, bool shift, bool ctrl);
    bool HandleCommandKey(int key, Qt::KeyboardModifiers modifiers);

    bool HitTest(QPoint point, bool dragging, Hit* hit) const;
    void DragTo(QPoint point);

    Ink InkOf(int address, bool hexArea) const;
    void DrawLine(QPainter& painter, int row, int offset, const char* text, int textLength) const;
    void DrawRun(QPainter& painter, int row, int column, int count, const char* text, Ink ink) const;

    std::vector<uint8_t> m_data;
    int m_top = 0;
    int m_caretAddress = 0;
    CaretArea m_caretArea = kOffsetColumn;
    int m_anchor = -1;  // -1: no selection
    int m_selectionEnd = -1;
    int m_visibleLines = 0;  // whole lines that fit in the viewport
    int m_lines = 0;         // lines used for scrolling: m_visibleLines, or fewer for short data
    bool m_handlingKey = false;
    bool m_syncingScrollBar = false;

    QFont m_font;
    int m_charWidth = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;

    QRect m_caretRect;  // content coordinates (before horizontal scrolling)
    bool m_caretOnShownLine = false;
    bool m_caretShown = false;  // off after Select All and while dragging a selection
    bool m_caretBlinkOn = true;
    QTimer m_blinkTimer;

    bool m_dragPending = false;  // pressed without Shift; a drag has not started yet
    QPoint m_pressPos;
    QPoint m_lastDragPos;
    QTimer m_autoScrollTimer;
    int m_wheelRemainder = 0;

    QMenu* m_menu = nullptr;
    QAction* m_copyAction = nullptr;
    QAction* m_selectAllAction = nullptr;
};
