#include "views/PayloadTextCtrl.h"

#include "views/FixedFont.h"
#include "views/KeptKeys.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <optional>
#include <string>
#include <string_view>

namespace {

// The wait cursor for the lifetime of the object, taken down even if formatting throws.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

QFont BaseFont() {
    QFont font = FixedPitchFont();
    font.setPointSize(10);
    return font;
}

// Text of a document range with line breaks as '\n' and every other character as it is held (unlike
// toPlainText, which turns a no-break space into a blank).
QString RawText(QString text) {
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

}  // namespace

CPayloadTextCtrl::CPayloadTextCtrl(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Read-only, yet the caret moves and selects with the keyboard as in any text view.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    setFont(BaseFont());
    for (size_t k = 0; k < kPayloadKinds; ++k) {
        m_formats[k] = FormatOf(static_cast<PayloadKind>(k));
        m_sameLook[k] = static_cast<uint8_t>(k);
        for (size_t j = 0; j < k; ++j) {
            if (m_formats[j] == m_formats[k]) {
                m_sameLook[k] = static_cast<uint8_t>(j);
                break;
            }
        }
    }
    // The markup colours are fixed, so the page under them is too: black on white whatever the theme.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
}

QTextCharFormat CPayloadTextCtrl::BaseFormat() {
    QTextCharFormat format;
    format.setFont(BaseFont());
    format.setForeground(QColor(0, 0, 0));
    format.setFontWeight(QFont::Normal);
    format.setFontUnderline(false);
    return format;
}

QTextCharFormat CPayloadTextCtrl::FormatOf(PayloadKind kind) {
    QTextCharFormat format = BaseFormat();
    switch (kind) {
        case PayloadKind::CommentOpener:
        case PayloadKind::CommentCloser:
            format.setForeground(QColor(0, 204, 0));
            break;
        case PayloadKind::CommentBody:
            format.setForeground(QColor(0, 153, 0));
            break;
        case PayloadKind::TagOpener:
        case PayloadKind::TagCloser:
        case PayloadKind::TagBody:
            format.setForeground(QColor(0, 0, 255));
            break;
        case PayloadKind::TagName:
            format.setForeground(QColor(153, 51, 51));
            format.setFontWeight(QFont::Bold);
            break;
        case PayloadKind::AttributeName:
            format.setForeground(QColor(255, 51, 0));
            break;
        case PayloadKind::Keyword:
            format.setFontWeight(QFont::Bold);
            break;
        case PayloadKind::Text:
        case PayloadKind::Content:
            break;
    }
    return format;
}

void CPayloadTextCtrl::ShowText(const char* text, qsizetype length, bool highlight) {
    WaitCursor wait;
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);  // one repaint at the end
    // The scans read the text as the control will hold it (one character per line break), so that their
    // offsets are the document's positions.
    const std::string shown = ShownPayloadText(std::string_view(text, length > 0 ? size_t(length) : 0));
    std::vector<PayloadRun> look;
    if (highlight)
        look = FlattenRuns(shown.size(), ScanPayload(shown));
    else if (!shown.empty())
        look.push_back({0, shown.size(), PayloadKind::Text});
    Load(shown, look);
    setTextCursor(QTextCursor(document()));  // caret at the start, nothing selected
    setUpdatesEnabled(updates);
    viewport()->update();
}

void CPayloadTextCtrl::Load(const std::string& shown, const std::vector<PayloadRun>& look) {
    // Building the text piece by piece, each piece in its final format, is faster than setting the whole
    // text and re-formatting stretches of it, which makes the document split its pieces over and over.
    const QString all = QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
    clear();
    QTextCursor cursor(document());
    // One edit block: the document reports a single change and lays the text out once.
    cursor.beginEditBlock();
    for (size_t i = 0; i < look.size();) {
        // Neighbouring kinds that look the same (a tag's opener, body and closer) make one piece.
        const uint8_t same = m_sameLook[static_cast<size_t>(look[i].kind)];
        size_t end = i + 1;
        while (end < look.size() && m_sameLook[static_cast<size_t>(look[end].kind)] == same)
            ++end;
        const size_t from = look[i].start;
        const size_t to = look[end - 1].start + look[end - 1].length;
        cursor.insertText(QString::fromRawData(all.constData() + from, static_cast<qsizetype>(to - from)),
                          m_formats[same]);
        i = end;
    }
    cursor.endEditBlock();
}

bool CPayloadTextCtrl::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && KeptShortcut(static_cast<QKeyEvent*>(event))) {
        event->accept();  // delivered to keyPressEvent instead of triggering a shortcut
        return true;
    }
    return QPlainTextEdit::event(event);
}

void CPayloadTextCtrl::keyPressEvent(QKeyEvent* event) {
    const std::optional<KeptKey> role = KeptShortcut(event);
    if (!role) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    switch (*role) {
        case KeptKey::Copy:
            copy();
            break;
        case KeptKey::SelectAll:
            selectAll();
            break;
        case KeptKey::Ignore:
            break;
    }
    event->accept();
}

void CPayloadTextCtrl::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    if (document()->isEmpty())
        return;
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &QPlainTextEdit::copy);
    copyAction->setData(kCopyCommand);
    copyAction->setEnabled(textCursor().hasSelection());
    QAction* selectAllAction = menu.addAction(tr("Select &All"), this, &QPlainTextEdit::selectAll);
    selectAllAction->setData(kSelectAllCommand);
    menu.exec(event->globalPos());
}

QMimeData* CPayloadTextCtrl::createMimeDataFromSelection() const {
    // Plain text exactly as shown (a no-break space stays one), and the formatted text as HTML.
    const QTextCursor cursor = textCursor();
    auto* data = new QMimeData;
    data->setText(RawText(cursor.selectedText()));
    data->setHtml(cursor.selection().toHtml());
    return data;
}
