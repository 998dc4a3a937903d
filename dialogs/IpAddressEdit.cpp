#include "dialogs/IpAddressEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

constexpr int kFieldDigits = 3;
constexpr int kMaxOctet = 255;

bool AllDigits(const QString& s) {
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QWidget(parent) {
    // Looks like one line edit: a line-edit panel around borderless fields and dots.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);  // a stop in the tab order, handed on to the first field
    auto* layout = new QHBoxLayout(this);
    const int margin = style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 1;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    for (int i = 0; i < 4; ++i) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("octet%1").arg(i));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(width);
        field->setContextMenuPolicy(Qt::DefaultContextMenu);
        field->installEventFilter(this);
        // One stop in the tab order, like the platform's address control: only the first field takes Tab.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnEdited(i); });
        layout->addWidget(field);
        if (i < 3)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        m_fields[static_cast<size_t>(i)] = field;
    }
    setFocusProxy(m_fields[0]);
    uint8_t zero[4] = {0, 0, 0, 0};
    SetAddress(zero);
}

void CIpAddressEdit::SetAddress(const uint8_t ip[4]) {
    for (size_t i = 0; i < 4; ++i) {
        m_shown[i] = QString::number(ip[i]);
        m_fields[i]->setText(m_shown[i]);
    }
}

void CIpAddressEdit::GetAddress(uint8_t ip[4]) const {
    for (size_t i = 0; i < 4; ++i)
        ip[i] = static_cast<uint8_t>(std::min(m_fields[i]->text().toInt(), kMaxOctet));
}

QString CIpAddressEdit::Text() const {
    uint8_t ip[4];
    GetAddress(ip);
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

bool CIpAddressEdit::SetText(const QString& dotted) {
    const QStringList parts = dotted.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint8_t ip[4];
    for (int i = 0; i < 4; ++i) {
        const QString part = parts[i].trimmed();
        if (part.isEmpty() || part.size() > kFieldDigits || !AllDigits(part) || part.toInt() > kMaxOctet)
            return false;
        ip[i] = static_cast<uint8_t>(part.toInt());
    }
    SetAddress(ip);
    return true;
}

void CIpAddressEdit::OnEdited(int i) {
    QLineEdit* field = m_fields[static_cast<size_t>(i)];
    QString text = field->text();
    if (!AllDigits(text) || text.size() > kFieldDigits) {
        // Only a paste or a drop brings other characters: a dotted address pasted (whatever the field held
        // around it) or dropped fills all four fields; anything else is undone.
        static const QRegularExpression dotted(
            QStringLiteral("(?<![0-9.])([0-9]{1,3}(?:\\.[0-9]{1,3}){3})(?![0-9.])"));
        const QString pasted = QGuiApplication::clipboard()->text().trimmed();
        const QRegularExpressionMatch match = dotted.match(text);
        if ((!pasted.isEmpty() && text.contains(pasted) && SetText(pasted)) ||
            (match.hasMatch() && SetText(match.captured(1)))) {
            m_fields[3]->setFocus();
            m_fields[3]->selectAll();
            emit addressEdited();
        } else {
            field->setText(m_shown[static_cast<size_t>(i)]);
        }
        return;
    }
    // Like the platform's control: a number above 255 becomes 255.
    if (!text.isEmpty() && text.toInt() > kMaxOctet) {
        text = QString::number(kMaxOctet);
        field->setText(text);
    }
    m_shown[static_cast<size_t>(i)] = text;
    emit addressEdited();
    // A full field moves on to the next one.
    if (text.size() == kFieldDigits && field->cursorPosition() == kFieldDigits && i < 3)
        MoveTo(i + 1, false);
}

void CIpAddressEdit::MoveTo(int i, bool atEnd) {
    QLineEdit* field = m_fields[static_cast<size_t>(i)];
    field->setFocus(Qt::OtherFocusReason);
    if (atEnd) {
        field->deselect();
        field->end(false);
    } else {
        field->selectAll();
    }
}

int CIpAddressEdit::IndexOf(QObject* field) const {
    for (int i = 0; i < 4; ++i)
        if (m_fields[static_cast<size_t>(i)] == field)
            return i;
    return -1;
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int i = IndexOf(watched);
    if (i >= 0 && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update();  // the panel shows whether a field has the focus
    if (i < 0 || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = m_fields[static_cast<size_t>(i)];
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            // "." moves on once a number was typed into the field; a field just entered (its whole text
            // selected, as after a full field moved on) keeps the focus. It is never typed into a field.
            if (i < 3 && !field->text().isEmpty() && field->selectedText() != field->text())
                MoveTo(i + 1, false);
            return true;
        case Qt::Key_Backspace:
            if (atStart && i > 0) {
                MoveTo(i - 1, true);
                return true;
            }
            return false;
        case Qt::Key_Left:
            if (atStart && i > 0 && key->modifiers() == Qt::NoModifier) {
                MoveTo(i - 1, true);
                return true;
            }
            return false;
        case Qt::Key_Right:
            if (atEnd && i < 3 && key->modifiers() == Qt::NoModifier) {
                m_fields[static_cast<size_t>(i) + 1]->setFocus(Qt::OtherFocusReason);
                m_fields[static_cast<size_t>(i) + 1]->setCursorPosition(0);
                return true;
            }
            return false;
        case Qt::Key_Backtab:
            // Leaves the whole control backwards: the tab order sees only the first field.
            if (i > 0) {
                m_fields[0]->setFocus(Qt::BacktabFocusReason);
                QKeyEvent again(QEvent::KeyPress, Qt::Key_Backtab, key->modifiers());
                QApplication::sendEvent(m_fields[0], &again);
                return true;
            }
            return false;
        default:
            break;
    }
    const QString text = key->text();
    const bool control = key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    if (control || text.isEmpty() || !text[0].isPrint())
        return false;
    // Printable characters other than digits are not typed.
    if (!AllDigits(text))
        return true;
    // A digit typed into a full field goes on into the next one.
    if (field->text().size() >= kFieldDigits && !field->hasSelectedText()) {
        if (i < 3) {
            MoveTo(i + 1, false);
            QKeyEvent again(QEvent::KeyPress, key->key(), key->modifiers(), text);
            QApplication::sendEvent(m_fields[static_cast<size_t>(i) + 1], &again);
        }
        return true;
    }
    // A field that shows a lone 0 holds no number yet: the digit replaces it, wherever the caret is.
    if (field->text() == QLatin1String("0"))
        field->clear();
    return false;
}

void CIpAddressEdit::paintEvent(QPaintEvent*) {
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    if (isAncestorOf(QApplication::focusWidget()))
        option.state |= QStyle::State_HasFocus;
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}
