#include "dialogs/EditPorts.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include <algorithm>

namespace {

constexpr uint32_t kMaxPort = 65535;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsPortCharacter(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char(' ');
}

}  // namespace

int ParsePorts(const std::string& text, std::vector<uint16_t>& ports) {
    std::vector<uint16_t> result;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (!IsDigit(text[i]))
            return 0;
        // A run of digits is one number; it saturates rather than overflows on absurd lengths.
        uint32_t value = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            value = std::min<uint32_t>(value * 10 + uint32_t(text[i] - '0'), kMaxPort + 1);
        if (value < 1 || value > kMaxPort)
            return 0;
        result.push_back(static_cast<uint16_t>(value));
    }
    ports = std::move(result);
    return 1;
}

std::string PortsToText(const std::vector<uint16_t>& ports) {
    std::string text;
    for (uint16_t p : ports) {
        if (!text.empty())
            text += ' ';
        text += std::to_string(static_cast<unsigned>(p));
    }
    return text;
}

CEditPorts::CEditPorts(QWidget* parent) : QLineEdit(parent) {}

void CEditPorts::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        // The dialog's own keys, and keys that move or delete without typing a character.
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Insert:  // Shift+Insert pastes, like the context menu
            QLineEdit::keyPressEvent(event);
            return;
        default:
            break;
    }
    // Control characters (Ctrl+V among them) are not typed characters of a port list.
    const bool control = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const QString text = event->text();
    if (!control && !text.isEmpty() && std::all_of(text.begin(), text.end(), IsPortCharacter)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (control || !text.isEmpty())
        event->accept();  // swallowed
    else
        QLineEdit::keyPressEvent(event);
}

void CEditPorts::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (std::all_of(commit.begin(), commit.end(), IsPortCharacter))
        QLineEdit::inputMethodEvent(event);
    else
        event->accept();
}

void CEditPorts::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    emit focusLost();
}
