#include "dialogs/FilterItemDlg.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "config/CaptureConfig.h"
#include "dialogs/DialogLayout.h"
#include "dialogs/DialogPrompt.h"
#include "dialogs/EditPorts.h"
#include "dialogs/IpAddressEdit.h"

namespace {

constexpr char kNoSignatureText[] = "Valid ports needed!";

QRadioButton* Radio(const char* text, const char* name, QButtonGroup* group, int id, QWidget* parent) {
    auto* radio = new QRadioButton(QString::fromLatin1(text), parent);
    radio->setObjectName(QString::fromLatin1(name));
    group->addButton(radio, id);
    return radio;
}

}  // namespace

CFilterItemDlg::CFilterItemDlg(QWidget* parent) : QDialog(parent) {
    // The values a rule made by the user starts with.
    workingItem.name = "DefaultName";
    workingItem.anyIp = 1;
    workingItem.anyPort = 1;
    workingItem.accept = 1;

    setWindowTitle(QStringLiteral("Filter Item"));
    m_addressChoice = new QButtonGroup(this);
    m_portChoice = new QButtonGroup(this);
    m_actionChoice = new QButtonGroup(this);

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    QRadioButton* specifyIp = Radio("Specify the IP", "specifyIp", m_addressChoice, 1, this);
    m_address = new CIpAddressEdit(this);
    m_address->setObjectName(QStringLiteral("address"));
    QRadioButton* anyIp = Radio("Any IP address", "anyIp", m_addressChoice, 0, this);
    QRadioButton* specifyPorts = Radio("Specify ports", "specifyPorts", m_portChoice, 1, this);
    m_ports = new CEditPorts(this);
    m_ports->setObjectName(QStringLiteral("ports"));
    auto* portsHint = new QLabel(QStringLiteral("Digitals and space only.  E.g. 21 25 80 110 8080"), this);
    QRadioButton* anyPort = Radio("Any port", "anyPort", m_portChoice, 0, this);
    QRadioButton* acceptRadio = Radio("Accept the packet if matching", "accept", m_actionChoice, 0, this);
    QRadioButton* dropRadio = Radio("Drop the packet if matching", "drop", m_actionChoice, 1, this);
    QWidget* signatureHeading = SectionHeading(QStringLiteral("Filter Item Signature"), this);
    signatureHeading->setEnabled(false);  // greyed: it titles a preview, not an input
    m_signature = new QLineEdit(this);
    m_signature->setObjectName(QStringLiteral("signature"));
    m_signature->setReadOnly(true);
    m_ipv6Note = new QLabel(this);
    m_ipv6Note->setObjectName(QStringLiteral("ipv6Note"));

    const OkCancelBox buttonBox = MakeOkCancelBox(this);
    QDialogButtonBox* buttons = buttonBox.box;
    m_ok = buttonBox.ok;
    m_cancel = buttonBox.cancel;

    auto* grid = new QGridLayout(this);
    grid->setColumnMinimumWidth(0, kSectionIndent);
    grid->setColumnStretch(2, 1);
    int row = 0;
    grid->addWidget(SectionHeading(QStringLiteral("Filter Item Name"), this), row++, 0, 1, 3);
    grid->addWidget(m_name, row++, 1, 1, 2);
    grid->addWidget(SectionHeading(QStringLiteral("IP address of the Matching Packet"), this), row++, 0, 1,
                    3);
    grid->addWidget(specifyIp, row, 1);
    grid->addWidget(m_address, row++, 2, Qt::AlignLeft);
    grid->addWidget(anyIp, row++, 1);
    grid->addWidget(SectionHeading(QStringLiteral("Port of the Matching Packet"), this), row++, 0, 1, 3);
    grid->addWidget(specifyPorts, row, 1);
    grid->addWidget(m_ports, row++, 2);
    grid->addWidget(anyPort, row, 1);
    grid->addWidget(portsHint, row++, 2, Qt::AlignRight);
    grid->addWidget(SectionHeading(QStringLiteral("Action on the Matching Packet"), this), row++, 0, 1, 3);
    grid->addWidget(acceptRadio, row++, 1, 1, 2);
    grid->addWidget(dropRadio, row++, 1, 1, 2);
    grid->addWidget(signatureHeading, row++, 0, 1, 3);
    grid->addWidget(m_signature, row++, 1, 1, 2);
    grid->addWidget(m_ipv6Note, row++, 1, 1, 2);
    grid->setRowMinimumHeight(row++, 8);
    grid->addWidget(EtchedLine(this), row++, 0, 1, 3);
    grid->addWidget(buttons, row++, 0, 1, 3);
    setMinimumWidth(560);

    QWidget* order[] = {m_ok,    m_cancel, m_name,       anyIp,       specifyIp, m_address,
                        m_ports, anyPort,  specifyPorts, acceptRadio, dropRadio, m_signature};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(m_ports, &CEditPorts::focusLost, this, &CFilterItemDlg::UpdateSignature);
    connect(m_actionChoice, &QButtonGroup::idClicked, this, &CFilterItemDlg::UpdateSignature);
    connect(m_addressChoice, &QButtonGroup::idClicked, this, [this](int id) {
        ApplyAddressChoice();
        // "Specify the IP" is chosen to type an address: the first field takes the keys.
        if (id == 1) {
            m_address->Field(0)->setFocus(Qt::OtherFocusReason);
            m_address->Field(0)->selectAll();
        }
    });
    // The preview shows the address as it is typed.
    connect(m_address, &CIpAddressEdit::addressEdited, this, &CFilterItemDlg::UpdateSignature);
    connect(m_portChoice, &QButtonGroup::idClicked, this, &CFilterItemDlg::ApplyPortChoice);
}

CFilterItemDlg::~CFilterItemDlg() {
    // The ports field loses the focus while the dialog is taken apart: nothing is left to update then.
    m_ports->disconnect(this);
}

CFilterItemDlg::Entry CFilterItemDlg::Entered() const {
    Entry e;
    e.item.name = m_name->text().trimmed().toStdString();
    e.item.accept = m_actionChoice->checkedId() == 0 ? 1 : 0;
    e.item.anyIp = m_addressChoice->checkedId() == 0 ? 1 : 0;
    e.item.anyPort = m_portChoice->checkedId() == 0 ? 1 : 0;
    m_address->GetAddress(e.item.ip);
    const QString ports = m_ports->text().trimmed();
    if (!ParsePorts(ports.toStdString(), e.item.ports))
        e.badPorts = ports.toStdString();
    return e;
}

void CFilterItemDlg::Initialise() {
    m_name->setText(QString::fromStdString(workingItem.name));
    // A flag byte other than 0 or 1 from the file counts as set when matching: shown the same way, so that
    // OK never turns the rule into a different one.
    m_actionChoice->button(workingItem.accept != 0 ? 0 : 1)->setChecked(true);
    m_addressChoice->button(workingItem.anyIp != 0 ? 0 : 1)->setChecked(true);
    m_portChoice->button(workingItem.anyPort != 0 ? 0 : 1)->setChecked(true);
    m_address->SetAddress(workingItem.ip);
    m_ports->setText(QString::fromStdString(PortsToText(workingItem.ports)));
    ApplyPortChoice();
    ApplyAddressChoice();
    m_initial = Entered();
    m_ready = 1;
}

void CFilterItemDlg::ApplyPortChoice() {
    m_ports->setEnabled(m_portChoice->checkedId() == 1);
    UpdateSignature();
}

void CFilterItemDlg::ApplyAddressChoice() {
    m_address->setEnabled(m_addressChoice->checkedId() == 1);
    UpdateSignature();
}

void CFilterItemDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_ready)
        return;
    Initialise();
    // A new rule starts with "DefaultName" selected, ready to be typed over.
    m_name->setFocus(Qt::OtherFocusReason);
    m_name->selectAll();
}

int CFilterItemDlg::ValidateInput(int showMessages, int requireName) {
    const QString name = m_name->text().trimmed();
    workingItem.name = name.toStdString();
    if (name.isEmpty() && requireName) {
        if (showMessages) {
            AskUser(this, kNameNeededText);
            m_name->setFocus(Qt::OtherFocusReason);
            m_name->selectAll();
        }
        return 0;
    }

    workingItem.accept = m_actionChoice->checkedId() == 0 ? 1 : 0;
    workingItem.anyIp = m_addressChoice->checkedId() == 0 ? 1 : 0;
    workingItem.anyPort = m_portChoice->checkedId() == 0 ? 1 : 0;
    m_address->GetAddress(workingItem.ip);

    const QString ports = m_ports->text().trimmed();
    if (ports.isEmpty() && m_portChoice->checkedId() == 1) {
        if (showMessages) {
            AskUser(this, kPortsNeededText);
            m_ports->setFocus(Qt::OtherFocusReason);
            m_ports->selectAll();
        }
        return 0;
    }
    // Read even when any port will do: the rule keeps the ports it shows.
    if (ParsePorts(ports.toStdString(), workingItem.ports))
        return 1;
    if (showMessages) {
        AskUser(this, kPortsFormatText);
        m_ports->setFocus(Qt::OtherFocusReason);
    }
    return 0;
}

void CFilterItemDlg::UpdateSignature() {
    if (ValidateInput(0, 0)) {
        std::string signature;
        workingItem.GetSignature(signature);
        m_signature->setText(QString::fromStdString(signature));
    } else {
        m_signature->setText(QString::fromLatin1(kNoSignatureText));
    }
    m_signature->setCursorPosition(0);  // a long signature shows its beginning
    // With the wider intake on, IPv6 packets meet the rules too: only rules for any address apply to them.
    m_ipv6Note->setVisible(g_config.wideIntake != 0);
    m_ipv6Note->setText(workingItem.anyIp != 0
                            ? QStringLiteral("IPv6 packets: this rule applies to them too.")
                            : QStringLiteral("IPv6 packets: this rule never applies to them (it "
                                             "names an IPv4 address)."));
}

void CFilterItemDlg::accept() {
    if (ValidateInput(1, 1))
        QDialog::accept();
}

void CFilterItemDlg::reject() {
    // Asked exactly when OK would store something else than the dialog opened with.
    if (m_ready && Entered() != m_initial &&
        AskUser(this, kDiscardRuleText, MsgButtons::YesNo, QMessageBox::Question) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}
