#include "dialogs/AdapterDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "config/CaptureConfig.h"
#include "config/ConfigFile.h"
#include "dialogs/DialogLayout.h"
#include "dialogs/DialogPrompt.h"
#include "frontend/Addresses.h"
#include "frontend/FrontEnd.h"
#include "ui/LinkLabel.h"

namespace {

constexpr int kColumnWidths[] = {250, 85, 85, 230};

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

CAdapterDlg::CAdapterDlg(CCaptureConfig& config, QWidget* parent, AdapterEnumerator enumerate)
    : QDialog(parent), m_config(config) {
    setWindowTitle(QStringLiteral("Select a network adapter for Pacterra to capture ..."));

    m_current = new QLineEdit(this);
    m_current->setObjectName(QStringLiteral("currentAdapter"));
    m_current->setReadOnly(true);

    m_adapters = new QTreeWidget(this);
    m_adapters->setObjectName(QStringLiteral("adapters"));
    m_adapters->setHeaderLabels({QStringLiteral("Adapter"), QStringLiteral("IP"), QStringLiteral("NetMask"),
                                 QStringLiteral("Data-Link")});
    m_adapters->setRootIsDecorated(false);
    m_adapters->setUniformRowHeights(true);
    m_adapters->setAllColumnsShowFocus(true);
    m_adapters->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int i = 0; i < 4; ++i)
        m_adapters->setColumnWidth(i, kColumnWidths[i]);

    // Shown only when no adapter can be used: the usual cause on Linux is a program without capture rights.
    m_rightsHint = WrappedLabel(QString::fromStdString(CaptureRightsHint()), this);
    m_rightsHint->setObjectName(QStringLiteral("rightsHint"));
    m_rightsHint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_rightsHint->hide();

    m_faq = new CLinkLabel(QStringLiteral("FAQ page: ") + QString::fromLatin1(kFaqUrl), this);
    m_faq->setObjectName(QStringLiteral("faq"));
    m_faq->SetTarget(QString::fromLatin1(kFaqUrl));
    m_faq->SetUnderline(false);

    QDialogButtonBox* buttons = MakeOkCancelBox(this).box;
    // A double click chooses the row, as Return does.
    connect(m_adapters, &QTreeWidget::itemDoubleClicked, this, &CAdapterDlg::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Current network adapter:"), this));
    layout->addWidget(m_current);
    layout->addSpacing(8);
    layout->addWidget(
        new QLabel(QStringLiteral("You can select a network adapter below, and click the OK button:"), this));
    layout->addWidget(m_adapters, 1);
    layout->addWidget(m_rightsHint);
    layout->addWidget(WrappedLabel(
        QStringLiteral("If you want to capture packets from other computers in the same LAN, your network "
                       "should be connected with a hub or a switch with SPAN (port mirroring)."),
        this));
    layout->addWidget(WrappedLabel(
        QStringLiteral(
            "If there are problems, try each adapter with following steps: \n 1. Select an adapter, "
            "and click OK button to activate the setting.\n 2. Click the start button, and visit "
            "some websites with IE. \n 3. If nothing appear in the program, return step 1."),
        this));
    layout->addWidget(m_faq, 0, Qt::AlignLeft);
    layout->addWidget(buttons);
    resize(720, 520);

    if (!enumerate)
        enumerate = [](std::vector<AdapterRow>& rows, std::string& error) {
            return EnumerateAdapters(rows, error, true, g_config.wideIntake != 0);
        };
    std::vector<AdapterRow> rows;
    if (enumerate(rows, m_enumerationError)) {
        m_enumerationError.clear();
        Fill(rows);
    } else {
        // Nothing is listed and no adapter is named; the hint says what usually helps.
        m_rightsHint->show();
    }
}

void CAdapterDlg::Fill(const std::vector<AdapterRow>& rows) {
    int openable = 0;
    for (const AdapterRow& row : rows) {
        m_deviceNames.push_back(row.device);
        auto* line = new QTreeWidgetItem(m_adapters);
        const std::string* cells[] = {&row.description, &row.ip, &row.netmask, &row.dataLink};
        for (int c = 0; c < 4; ++c) {
            line->setText(c, QString::fromStdString(*cells[c]));
            line->setToolTip(c, line->text(c));
        }
        if (!row.unusable.empty()) {
            // Greyed and not to be chosen; the reason in full where the link type would be.
            line->setText(3, QString::fromStdString(row.unusable));
            for (int c = 0; c < 4; ++c)
                line->setToolTip(c, line->text(3));
            line->setFlags(line->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            m_unusable.insert(static_cast<int>(m_deviceNames.size() - 1));
        }
        if (row.dataLink != kNoPromiscuousText && row.unusable.empty())
            ++openable;
    }
    m_rightsHint->setVisible(openable == 0);
    // Addresses and reasons are never cut short: their columns widen to the widest one this font needs.
    for (int c = 0; c < 4; ++c) {
        m_adapters->resizeColumnToContents(c);
        m_adapters->setColumnWidth(c, std::max(kColumnWidths[c], m_adapters->columnWidth(c)));
    }

    for (size_t i = 0; i < m_deviceNames.size(); ++i) {
        if (m_deviceNames[i] == m_config.adapter) {
            QTreeWidgetItem* line = m_adapters->topLevelItem(static_cast<int>(i));
            m_adapters->setCurrentItem(line);
            line->setSelected(true);
            m_config.adapterName = line->text(0).toStdString();
            break;
        }
    }
    m_current->setText(QString::fromStdString(m_config.adapterName));
}

void CAdapterDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_shown)
        return;
    m_shown = true;
    m_adapters->setFocus(Qt::OtherFocusReason);
    if (!m_adapters->selectedItems().isEmpty())
        m_adapters->scrollToItem(m_adapters->selectedItems().first());
    if (!m_enumerationError.empty())
        QTimer::singleShot(0, this, [this] {
            AskUser(this, "Error in pcap_findalldevs: " + m_enumerationError + "\n", MsgButtons::Ok,
                    QMessageBox::Warning, CaptureRightsHint());
        });
}

void CAdapterDlg::accept() {
    const QList<QTreeWidgetItem*> selected = m_adapters->selectedItems();
    if (!selected.isEmpty() && m_unusable.contains(m_adapters->indexOfTopLevelItem(selected.first()))) {
        // The stored choice may be one: it is refused here rather than when Start has already asked about
        // the packets it would discard.
        AskUser(this, selected.first()->text(0).toStdString() + ": " +
                          selected.first()->text(3).toStdString() + "\n" + kSelectAdapterText);
        return;
    }
    if (!selected.isEmpty()) {
        const int i = m_adapters->indexOfTopLevelItem(selected.first());
        m_config.adapter = m_deviceNames[static_cast<size_t>(i)];
        m_config.adapterName = selected.first()->text(0).toStdString();
        StoreAdapterChoice(m_config.adapter, m_config.adapterName);
    } else if (m_adapters->topLevelItemCount() > 0) {
        AskUser(this, kSelectAdapterText);
        return;
    }
    QDialog::accept();
}

void CAdapterDlg::reject() {
    // Leaving without a choice is refused while there is one to make; with nothing listed there is not.
    if (m_config.adapter.empty() && m_adapters->topLevelItemCount() > 0) {
        AskUser(this, kSelectAdapterText);
        return;
    }
    QDialog::reject();
}
