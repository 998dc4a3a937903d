// Pieces shared by the configuration dialogs' layouts.
#pragma once

#include <QString>

class QDialog;
class QDialogButtonBox;
class QPushButton;
class QWidget;

// A section title followed by an etched line to the right edge.
QWidget* SectionHeading(const QString& title, QWidget* parent);

// An etched horizontal line.
QWidget* EtchedLine(QWidget* parent);

// Left indent of the controls under a section title.
inline constexpr int kSectionIndent = 48;

// A dialog's OK and Cancel buttons (named "ok" and "cancel"), OK the default; they accept and reject it.
struct OkCancelBox {
    QDialogButtonBox* box;
    QPushButton* ok;
    QPushButton* cancel;
};
OkCancelBox MakeOkCancelBox(QDialog* dialog);
