// The dialog that chooses the network adapter to capture from.
#pragma once

#include <QDialog>
#include <QSet>

#include <functional>
#include <string>
#include <vector>

#include "config/Adapters.h"
#include "config/CaptureConfig.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class CLinkLabel;

inline constexpr char kSelectAdapterText[] = "Please select a network adapter, and click OK!";

// Lists the adapters as the dialog shows them; false with the library's message when it cannot.
using AdapterEnumerator = std::function<bool(std::vector<AdapterRow>& rows, std::string& error)>;

class CAdapterDlg : public QDialog {
    Q_OBJECT

public:
    // Shows the adapters that `enumerate` lists (by default the capture library's, each opened once to
    // learn its link type) and stores the choice in `config.adapter`, `config.adapterName` and the settings
    // store on OK.
    explicit CAdapterDlg(CCaptureConfig& config, QWidget* parent = nullptr, AdapterEnumerator enumerate = {});

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Fill(const std::vector<AdapterRow>& rows);

    CCaptureConfig& m_config;
    std::vector<std::string> m_deviceNames;  // element i names row i
    QSet<int> m_unusable;                    // rows nothing can be captured from
    QLineEdit* m_current = nullptr;
    QTreeWidget* m_adapters = nullptr;
    QLabel* m_rightsHint = nullptr;
    CLinkLabel* m_faq = nullptr;
    std::string m_enumerationError;  // shown once the dialog is on screen
    bool m_shown = false;
};
