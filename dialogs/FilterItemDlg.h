// The dialog that creates or edits one filter rule.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

#include "config/FilterItem.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class CEditPorts;
class CIpAddressEdit;

inline constexpr char kNameNeededText[] = "Please input a name for the Filter Item!";
inline constexpr char kPortsNeededText[] =
    "Please input ports:\r\n\r\nPorts are separated by space. Each port: 1 ~ 65535\r\nE.g. 21 25 80 110 8080";
inline constexpr char kPortsFormatText[] =
    "Wrong format in the Ports Field:\r\n\r\nPorts are separated by space. Each port: 1 ~ 65535\r\nE.g. 21 "
    "25 80 110 8080";
inline constexpr char kDiscardRuleText[] = "You have made changes to this Filter item. Quit without saving?";

class CFilterItemDlg : public QDialog {
    Q_OBJECT

public:
    explicit CFilterItemDlg(QWidget* parent = nullptr);
    ~CFilterItemDlg() override;

    // The rule being edited: new-rule defaults until the caller replaces it before the dialog is shown;
    // after OK, the rule as entered.
    CFilterItem workingItem;

    // Copies the controls into workingItem; 1 when they make a complete, valid rule. With `showMessages`
    // a problem is reported and its field gets the focus.
    int ValidateInput(int showMessages, int requireName);
    void UpdateSignature();

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What OK would store, read from the controls; a ports text that does not parse is kept as typed (OK
    // refuses it, but it is still the user's work).
    struct Entry {
        CFilterItem item;
        std::string badPorts;
        bool operator==(const Entry&) const = default;
    };
    Entry Entered() const;

    void Initialise();
    void ApplyPortChoice();
    void ApplyAddressChoice();

    QLineEdit* m_name = nullptr;
    CIpAddressEdit* m_address = nullptr;
    CEditPorts* m_ports = nullptr;
    QLineEdit* m_signature = nullptr;
    QLabel* m_ipv6Note = nullptr;             // what the rule does to IPv6 packets (wider intake on)
    QButtonGroup* m_addressChoice = nullptr;  // 0 any address, 1 the given one
    QButtonGroup* m_portChoice = nullptr;     // 0 any port, 1 the given ones
    QButtonGroup* m_actionChoice = nullptr;   // 0 accept, 1 drop
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    Entry m_initial;  // what the dialog opened with: Cancel asks only when Entered() differs
    int32_t m_ready = 0;
};
