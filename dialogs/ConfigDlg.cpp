#include "dialogs/ConfigDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "config/ConfigFile.h"
#include "dialogs/DialogLayout.h"
#include "dialogs/DialogPrompt.h"
#include "dialogs/FilterItemDlg.h"

namespace {

constexpr int kNameColumnWidth = 65;
constexpr int kSignatureColumnWidth = 300;

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);  // Return in the dialog means OK, wherever the focus is
    return button;
}

QCheckBox* Check(const char* text, const char* name, QWidget* parent) {
    auto* check = new QCheckBox(QString::fromLatin1(text), parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}

}  // namespace

CConfigDlg::CConfigDlg(CCaptureConfig& config, QWidget* parent) : QDialog(parent), m_config(config) {
    setWindowTitle(QStringLiteral("Configuration for Packets Capturing"));

    m_rules = new QTreeWidget(this);
    m_rules->setObjectName(QStringLiteral("rules"));
    m_rules->setHeaderLabels({QStringLiteral("Filter Name"), QStringLiteral("Action Signature")});
    m_rules->setRootIsDecorated(false);
    m_rules->setUniformRowHeights(true);
    m_rules->setAllColumnsShowFocus(true);
    m_rules->setSelectionMode(QAbstractItemView::SingleSelection);
    // The name column is at least as wide as its title; the signatures take the rest of the list.
    m_rules->setColumnWidth(0, std::max(kNameColumnWidth, m_rules->header()->sectionSizeHint(0)));
    m_rules->setColumnWidth(1, kSignatureColumnWidth);
    QPushButton* add = Button("Add", "add", this);
    QPushButton* remove = Button("Remove", "remove", this);
    QPushButton* modify = Button("Modify", "modify", this);
    QPushButton* moveUp = Button("Move Up", "moveUp", this);
    QPushButton* moveDown = Button("Move Down", "moveDown", this);

    m_policy = new QButtonGroup(this);
    auto* acceptDefault =
        new QRadioButton(QStringLiteral("Accept all packets not matching any filter"), this);
    acceptDefault->setObjectName(QStringLiteral("acceptDefault"));
    auto* dropDefault = new QRadioButton(QStringLiteral("Drop all packets not matching any filter"), this);
    dropDefault->setObjectName(QStringLiteral("dropDefault"));
    m_policy->addButton(acceptDefault, 0);
    m_policy->addButton(dropDefault, 1);

    m_buffer = new QSlider(Qt::Horizontal, this);
    m_buffer->setObjectName(QStringLiteral("buffer"));
    m_buffer->setRange(CCaptureConfig::kMinBufferMB, CCaptureConfig::kMaxBufferMB);
    m_buffer->setTickPosition(QSlider::NoTicks);
    m_bufferValue = new QLabel(QStringLiteral("1"), this);
    m_bufferValue->setObjectName(QStringLiteral("bufferValue"));
    m_bufferValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_bufferValue->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")));

    m_minimized = Check("Start the program with minimized main window", "minimized", this);
    m_startCapture = Check("Start capturing on startup", "startCapture", this);
    m_autostart = Check("Start the program on desktop session startup", "autostart", this);
    m_wideIntake = Check("Also keep IPv6, VLAN-tagged and Linux cooked frames", "wideIntake", this);

    const auto [buttons, ok, cancel] = MakeOkCancelBox(this);

    // Rules with their buttons beside them.
    auto* ruleButtons = new QVBoxLayout;
    for (QPushButton* b : {add, remove, modify, moveUp, moveDown})
        ruleButtons->addWidget(b);
    ruleButtons->addStretch();
    auto* ruleRow = new QHBoxLayout;
    ruleRow->addWidget(m_rules, 1);
    ruleRow->addLayout(ruleButtons);

    // The buffer slider with its value, its unit and the two ends of its range.
    auto* bufferGrid = new QGridLayout;
    bufferGrid->addWidget(m_buffer, 0, 0, 1, 3);
    bufferGrid->addWidget(m_bufferValue, 0, 3);
    bufferGrid->addWidget(new QLabel(QStringLiteral("M Byte"), this), 0, 4);
    bufferGrid->addWidget(new QLabel(QStringLiteral("1 MB"), this), 1, 0);
    bufferGrid->addWidget(new QLabel(QStringLiteral("200 MB"), this), 1, 2);
    bufferGrid->setColumnStretch(1, 1);
    bufferGrid->setColumnStretch(5, 1);

    auto* grid = new QGridLayout(this);
    grid->setColumnMinimumWidth(0, kSectionIndent);
    grid->setColumnStretch(1, 1);
    int row = 0;
    grid->addWidget(SectionHeading(QStringLiteral("Filter Configuration"), this), row++, 0, 1, 2);
    grid->addLayout(ruleRow, row++, 0, 1, 2);
    grid->addWidget(SectionHeading(QStringLiteral("Default Acceptance Policy"), this), row++, 0, 1, 2);
    grid->addWidget(acceptDefault, row++, 1);
    grid->addWidget(dropDefault, row++, 1);
    grid->addWidget(SectionHeading(QStringLiteral("Buffer Size"), this), row++, 0, 1, 2);
    grid->addLayout(bufferGrid, row++, 1);
    grid->addWidget(SectionHeading(QStringLiteral("General"), this), row++, 0, 1, 2);
    grid->addWidget(m_minimized, row++, 1);
    grid->addWidget(m_startCapture, row++, 1);
    grid->addWidget(m_autostart, row++, 1);
    grid->addWidget(m_wideIntake, row++, 1);
    grid->addWidget(buttons, row++, 0, 1, 2);
    resize(640, 540);

    QWidget* order[] = {ok,       cancel,      m_rules,        add,           remove,
                        modify,   moveUp,      moveDown,       acceptDefault, dropDefault,
                        m_buffer, m_minimized, m_startCapture, m_autostart,   m_wideIntake};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(add, &QPushButton::clicked, this, &CConfigDlg::OnAdd);
    connect(remove, &QPushButton::clicked, this, &CConfigDlg::OnRemove);
    connect(modify, &QPushButton::clicked, this, &CConfigDlg::OnModify);
    connect(m_rules, &QTreeWidget::itemDoubleClicked, this, &CConfigDlg::OnModify);
    connect(moveUp, &QPushButton::clicked, this, [this] { OnMove(-1); });
    connect(moveDown, &QPushButton::clicked, this, [this] { OnMove(+1); });
    // The label always shows the size that OK will store, however the slider was moved.
    connect(m_buffer, &QSlider::valueChanged, m_bufferValue,
            [this](int value) { m_bufferValue->setText(QString::number(value)); });

    Initialise();
}

void CConfigDlg::Initialise() {
    // Any set policy byte accepts when matching, so it shows (and saves back) as accept.
    m_policy->button(m_config.defaultAccept != 0 ? 0 : 1)->setChecked(true);
    m_buffer->setValue(m_config.bufferMB);
    m_minimized->setChecked(m_config.minimized != 0);
    m_startCapture->setChecked(m_config.startCapture != 0);
    m_autostart->setChecked(m_config.autostart != 0);
    m_wideIntake->setChecked(m_config.wideIntake != 0);
    m_bufferValue->setText(QString::number(m_config.bufferMB));
    workingList.clear();
    for (const CFilterItem& rule : m_config.filters) {
        workingList.push_back(rule);
        SetRow(static_cast<int>(workingList.size()) - 1, rule, true);
    }
    m_initial = Current();
}

CConfigDlg::Choices CConfigDlg::Current() const {
    Choices c;
    c.defaultAccept = m_policy->checkedId() == 0 ? 1 : 0;
    c.bufferMB = m_buffer->value();
    c.minimized = m_minimized->isChecked() ? 1 : 0;
    c.startCapture = m_startCapture->isChecked() ? 1 : 0;
    c.autostart = m_autostart->isChecked() ? 1 : 0;
    c.wideIntake = m_wideIntake->isChecked() ? 1 : 0;
    c.filters = workingList;
    return c;
}

void CConfigDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || m_shown)
        return;
    m_shown = true;
    SelectRow(0);
    m_rules->setFocus(Qt::OtherFocusReason);
}

void CConfigDlg::SetRow(int row, const CFilterItem& item, bool insert) {
    QTreeWidgetItem* line = insert ? new QTreeWidgetItem : m_rules->topLevelItem(row);
    if (!line)
        return;
    if (insert)
        m_rules->insertTopLevelItem(row, line);
    std::string signature;
    item.GetSignature(signature);
    line->setText(0, QString::fromStdString(item.name));
    line->setText(1, QString::fromStdString(signature));
    // The columns are narrow: the whole texts show as tips.
    line->setToolTip(0, line->text(0));
    line->setToolTip(1, line->text(1));
}

void CConfigDlg::SelectRow(int row) {
    const int count = m_rules->topLevelItemCount();
    if (count == 0)
        return;
    QTreeWidgetItem* line = m_rules->topLevelItem(std::clamp(row, 0, count - 1));
    m_rules->setCurrentItem(line);
    line->setSelected(true);
    m_rules->scrollToItem(line);
}

int CConfigDlg::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_rules->selectedItems();
    return selected.isEmpty() ? -1 : m_rules->indexOfTopLevelItem(selected.first());
}

void CConfigDlg::OnAdd() {
    CFilterItemDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted)
        return;
    workingList.push_back(dlg.workingItem);
    const int last = static_cast<int>(workingList.size()) - 1;
    SetRow(last, dlg.workingItem, true);
    SelectRow(last);
}

void CConfigDlg::OnRemove() {
    const int i = SelectedRow();
    if (i < 0)
        return;
    delete m_rules->takeTopLevelItem(i);
    workingList.erase(workingList.begin() + i);
    SelectRow(i);
}

void CConfigDlg::OnModify() {
    const int i = SelectedRow();
    if (i < 0)
        return;
    CFilterItemDlg dlg(this);
    dlg.workingItem = workingList[static_cast<size_t>(i)];
    if (dlg.exec() != QDialog::Accepted)
        return;
    workingList[static_cast<size_t>(i)] = dlg.workingItem;
    SetRow(i, dlg.workingItem, false);
}

void CConfigDlg::OnMove(int step) {
    const int i = SelectedRow();
    const int to = i + step;
    if (i < 0 || to < 0 || to >= static_cast<int>(workingList.size()))
        return;
    std::swap(workingList[static_cast<size_t>(i)], workingList[static_cast<size_t>(to)]);
    delete m_rules->takeTopLevelItem(i);
    SetRow(to, workingList[static_cast<size_t>(to)], true);
    SelectRow(to);
}

void CConfigDlg::accept() {
    Choices c = Current();
    m_config.defaultAccept = c.defaultAccept;
    m_config.bufferMB = c.bufferMB;
    m_config.filters = std::move(c.filters);
    m_config.minimized = c.minimized;
    m_config.startCapture = c.startCapture;
    m_config.autostart = c.autostart;
    m_config.wideIntake = c.wideIntake;
    QDialog::accept();
}

void CConfigDlg::reject() {
    // Asked exactly when OK would store something else than the dialog opened with: a button that changed
    // nothing (Remove on an empty list, Add then Cancel) is no change, a ticked start-up box is.
    if (Current() != m_initial &&
        AskUser(this, kDiscardConfigText, MsgButtons::YesNo, QMessageBox::Question) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}

bool EditConfiguration(CCaptureConfig& config, QWidget* parent) {
    // The file may have changed since start-up; the adapter choice is not part of it.
    const std::string path = config.LoadConfig();
    CConfigDlg dlg(config, parent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    if (!config.SaveConfig(path)) {
        AskUser(parent, kSaveConfigErrorText, MsgButtons::Ok, QMessageBox::Warning,
                "The settings could not be written to \"" + path +
                    "\"; the file there is unchanged. The new settings apply until the program ends.");
        return false;
    }
    return true;
}
