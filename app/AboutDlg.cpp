#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Pictures.h"
#include "app/Version.h"
#include "frontend/Addresses.h"
#include "ui/LinkLabel.h"

namespace {

// A link label with the look of the About box: no underline, not yet visited.
CLinkLabel* MakeLink(const QString& text, const QString& target, const QString& name) {
    auto* label = new CLinkLabel(text);
    label->setObjectName(name);
    label->SetTarget(target);
    label->SetUnderline(false);
    label->SetVisited(false);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("About Pacterra Packet Sniffer");
    auto* picture = new QLabel;
    picture->setPixmap(ApplicationPicture().pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QString("Pacterra Packet Sniffer Version %1").arg(kProductVersion));
    auto* grid = new QGridLayout;
    grid->addWidget(name, 0, 0, 1, 2);
    grid->addWidget(MakeLink("Pacterra", kHomePageUrl, "homeLink"), 1, 1, Qt::AlignRight);
    grid->setRowMinimumHeight(2, 16);
    grid->addWidget(new QLabel("support:"), 3, 0);
    grid->addWidget(MakeLink(kSupportEmail, QString("mailto:") + kSupportEmail, "supportLink"), 3, 1);
    grid->addWidget(new QLabel("sales:"), 4, 0);
    grid->addWidget(MakeLink(kSalesEmail, QString("mailto:") + kSalesEmail, "salesLink"), 4, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(grid, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addStretch(1);
    layout->addWidget(buttons);
    // Return closes the box: OK has the focus when it opens, not the first link (which Return would open).
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setDefault(true);
    ok->setFocus(Qt::OtherFocusReason);
}
