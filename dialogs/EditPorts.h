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

// A line edit that types only digits, spaces and backspace. Text can still arrive by other routes (the
// context menu's Paste, Shift+Insert, dropping), so the owner validates the whole text with ParsePorts.
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
};
