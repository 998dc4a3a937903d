// The application's settings store, QSettings("Morvane", "Pacterra"), opened only after its files were
// found fit to read. QSettings reads them whole as it is made, and would wait for ever on a pipe, read a
// device without end or take minutes over a huge file. Every part of the program opens the store here.
#pragma once

#include <QSettings>

#include <string>

// The names the settings store, its files and the per-user configuration folder go by; start-up gives them
// to the application.
inline constexpr char kSettingsOrganization[] = "Morvane";
inline constexpr char kSettingsApplication[] = "Pacterra";

// The store as usual when its files are regular files of a sane size (or missing). A file that is not is
// reported once, with why, and never opened: the store then leaves it out (a file shared by other
// programs of the organisation, or the system's), or, when it is the program's own file, is one that
// starts empty and is kept for this run only.
QSettings OpenSettingsStore();

// Why the program's own settings file cannot be used (then nothing is saved in it), or empty.
std::string SettingsFileProblem();
// The program's own settings file.
std::string SettingsFilePath();

// The largest settings file that is read: far beyond anything the program writes.
inline constexpr qint64 kMaxSettingsBytes = qint64{16} << 20;
