// The status bar pane "Not kept: %d": frames dropped for their family or link (IPv6 and tagged frames while
// the wider intake is off, ARP and the like always), with a tooltip that points to the option.
#pragma once

#include <QLabel>

class CNotKeptPane : public QLabel {
    Q_OBJECT

public:
    explicit CNotKeptPane(QWidget* parent = nullptr);

    // Reads the counter (the capture thread adds to it) and the option. The store's news calls it, and so
    // does a tooltip about to show (the option changes without news).
    void Update();

protected:
    bool event(QEvent* event) override;
};
