// The fixed-pitch font of the packet views.
#pragma once

#include <QFont>

// "Courier New" where the system has it (or a metric twin), else the first installed family that really
// is fixed-pitch. The system's "monospace" alias alone is not enough: on some desktops it resolves to a
// variable font that the font database does not report as fixed-pitch.
QFont FixedPitchFont();
