// Pieces shared by the configuration dialogs' layouts.
#pragma once

#include <QString>

class QWidget;

// A section title followed by an etched line to the right edge.
QWidget* SectionHeading(const QString& title, QWidget* parent);

// An etched horizontal line.
QWidget* EtchedLine(QWidget* parent);

// Left indent of the controls under a section title.
inline constexpr int kSectionIndent = 48;
