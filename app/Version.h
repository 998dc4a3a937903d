// The program's version: the About box, --version, the package and the manual pages name one, the project's.
#pragma once

inline constexpr char kProductVersion[] = PACTERRA_VERSION;
