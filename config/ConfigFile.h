// Where Config.cfg and the autostart entry live, and how they are written (the record's own loading and
// saving are members of CCaptureConfig).
#pragma once

#include <string>

class QSettings;

// Shown by the Configure command when SaveConfig fails.
inline constexpr char kSaveConfigErrorText[] = "Error when saving configuations!";

// The settings entry of the wider intake option (IPv6, VLAN tags, Linux cooked frames); not in Config.cfg.
inline constexpr char kWideIntakeSetting[] = "Intake/AlsoKeepWide";

// Full path of the running executable; empty when the system cannot tell.
std::string GetExecutablePath();

// The per-user configuration directory (no trailing separator), created only when something is saved.
std::string UserConfigDirectory();

// Config.cfg beside the executable when `programDir` already holds one or is writable (a build tree, a
// portable copy), else in `userConfigDir`. A program installed under /usr uses the file beside it only when
// one is already there, even when it runs as root. `programDir` ends in a separator, `userConfigDir` does
// not.
std::string ChooseConfigFilePath(const std::string& programDir, const std::string& userConfigDir);

// ChooseConfigFilePath for this executable and this user.
std::string ConfigFilePath();

// ~/.config/autostart/pacterra.desktop, honouring XDG_CONFIG_HOME.
std::string AutostartEntryPath();

// The desktop entry that starts `exePath` at login; hidden (switched off) unless `enabled` and the path is
// known.
std::string AutostartEntryText(const std::string& exePath, bool enabled);

// The application's settings store (named in config/SettingsStore.h).
QSettings OpenSettings();

// Stores the adapter choice ("Config" / "Adapter" and "AdapterName") in the settings store.
void StoreAdapterChoice(const std::string& adapter, const std::string& adapterName);
