// The status bar pane "Not kept: %d": frames dropped for their family or link (IPv6 and tagged frames while
// the wider intake is off, ARP and the like always), with a tooltip that points to the option.
#pragma once

#include <QLabel>
#include <QTimer>

class CNotKeptPane : public QLabel {
    Q_OBJECT

public:
    explicit CNotKeptPane(QWidget* parent = nullptr);

    // Reads the counter (the capture thread adds to it) and the option.
    void Update();

private:
    QTimer m_timer;
};
