#include "dialogs/DialogLayout.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

QWidget* EtchedLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QWidget* SectionHeading(const QString& title, QWidget* parent) {
    auto* heading = new QWidget(parent);
    auto* layout = new QHBoxLayout(heading);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(title, heading));
    layout->addWidget(EtchedLine(heading), 1);
    return heading;
}
