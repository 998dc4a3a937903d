// Where the program's own data files (the tips file, the help pages) are found.
#pragma once

#include <QString>

// `name` beside the executable (a build tree or a portable copy), else in the installed data directory
// (PREFIX/share/pacterra beside PREFIX/bin, then the XDG data directories). When it is nowhere, the path
// beside the executable, so that a message can name where it was expected.
QString FindProgramDataFile(const QString& name);
