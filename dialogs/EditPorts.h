// The ports field of a filter rule and the text form of a port list.
#pragma once

#include <QLineEdit>

#include <cstdint>
#include <string>
#include <vector>

// Ports separated by one or more spaces, each 1..65535 (leading zeros allowed, duplicates kept). 1 and the
// ports in `ports` on success; 0 with `ports` untouched for anything else. An empty text gives no ports.
int ParsePorts(const std::string& text, std::vector<uint16_t>& ports);

// "21 25 80 110 8080"; empty for no ports.
std::string PortsToText(const std::vector<uint16_t>& ports);

// `text` with each run of characters other than digits and spaces replaced by one space.
QString PortCharacters(const QString& text);

// A line edit that types only digits and spaces, with the standard edit keys (select all, copy, cut,
// paste, undo). Whatever arrives by other routes (a paste, a drop) is filtered to digits and spaces; the
// owner still checks the numbers with ParsePorts.
class CEditPorts : public QLineEdit {
    Q_OBJECT

public:
    explicit CEditPorts(QWidget* parent = nullptr);

signals:
    void focusLost();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    class PortsValidator;
};
