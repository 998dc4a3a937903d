// The capture configuration dialog: the rules and their order, the default policy, the buffer size and
// the start-up options; and the Configure command that runs it and saves the result.
#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "config/CaptureConfig.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QTreeWidget;

inline constexpr char kDiscardConfigText[] =
    "You have made changes to the Configuration. Quit without saving?";

class CConfigDlg : public QDialog {
    Q_OBJECT

public:
    // Edits `config` (the process-wide record in the program): nothing is written to it before OK.
    explicit CConfigDlg(CCaptureConfig& config, QWidget* parent = nullptr);

    // The dialog's own copy of the rules; row i of the list shows element i.
    std::vector<CFilterItem> workingList;

    // Inserts a row at `row` (insert) or rewrites that row, with the rule's name and signature.
    void SetRow(int row, const CFilterItem& item, bool insert);
    // Selects `row` clamped to the list; nothing on an empty list.
    void SelectRow(int row);

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What OK stores, as the controls and the working list hold it now.
    struct Choices {
        int32_t defaultAccept = 1;
        int32_t bufferMB = 0;
        int32_t minimized = 0;
        int32_t startCapture = 0;
        int32_t autostart = 0;
        int32_t wideIntake = 0;
        std::vector<CFilterItem> filters;
        bool operator==(const Choices&) const = default;
    };
    Choices Current() const;

    void Initialise();
    int SelectedRow() const;
    void OnAdd();
    void OnRemove();
    void OnModify();
    void OnMove(int step);

    CCaptureConfig& m_config;
    QTreeWidget* m_rules = nullptr;
    QButtonGroup* m_policy = nullptr;  // 0 accept, 1 drop what no rule matches
    QSlider* m_buffer = nullptr;
    QLabel* m_bufferValue = nullptr;
    QCheckBox* m_minimized = nullptr;
    QCheckBox* m_startCapture = nullptr;
    QCheckBox* m_autostart = nullptr;
    QCheckBox* m_wideIntake = nullptr;
    Choices m_initial;  // what the dialog opened with: Cancel asks only when Current() differs
    bool m_shown = false;
};

// The Configure command: reloads the configuration into `config`, runs the dialog on it and saves it on
// OK. A failed save is reported (the file keeps its old contents) while `config` keeps what the user
// confirmed. true when the configuration was confirmed and saved.
bool EditConfiguration(CCaptureConfig& config, QWidget* parent);
