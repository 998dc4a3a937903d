#include "dialogs/EditPorts.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QValidator>

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

// Whatever reaches the text (a paste, a drop) keeps only digits and spaces. (A paste that had to be
// filtered cannot be undone: the line edit forgets its undo steps when a validator changes the text.)
class CEditPorts::PortsValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        const QString filtered = PortCharacters(input);
        if (filtered != input) {
            pos = std::min<int>(static_cast<int>(PortCharacters(input.left(pos)).size()),
                                static_cast<int>(filtered.size()));
            input = filtered;
        }
        return Acceptable;
    }
};

QString PortCharacters(const QString& text) {
    // Anything between numbers ("80,443", "21-25", a tab) still separates them: each run becomes a space.
    QString result;
    result.reserve(text.size());
    bool inRun = false;
    for (QChar c : text) {
        if (IsPortCharacter(c)) {
            result += c;
            inRun = false;
        } else if (!inRun) {
            result += QLatin1Char(' ');
            inRun = true;
        }
    }
    return result;
}

CEditPorts::CEditPorts(QWidget* parent) : QLineEdit(parent) {
    setValidator(new PortsValidator(this));
}

void CEditPorts::keyPressEvent(QKeyEvent* event) {
    // A typed character other than a digit or a space is dropped. Every other key works as in any field:
    // moves, Backspace, Delete, the dialog's Return, Escape and Tab, and the edit commands (Ctrl+A, Ctrl+C,
    // Ctrl+X, Ctrl+Z and the rest; whatever they bring in passes the validator).
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const QString text = event->text();
    if (!command && !text.isEmpty() && text[0].isPrint() &&
        !std::all_of(text.begin(), text.end(), IsPortCharacter)) {
        event->accept();
        return;
    }
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
