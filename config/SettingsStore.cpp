#include "config/SettingsStore.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <set>
#include <utility>

#include "frontend/FrontEnd.h"

namespace {

// Why `path` must not be read, or empty when it can be (a regular file of a sane size, or nothing there).
// A status call follows links and never waits on a pipe or device.
std::string Unfit(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};  // missing, or unreadable: QSettings says so itself without waiting
    if (S_ISFIFO(st.st_mode))
        return "it is a pipe, not a regular file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "it is a device, not a regular file";
    if (S_ISSOCK(st.st_mode))
        return "it is a socket, not a regular file";
    if (S_ISDIR(st.st_mode))
        return {};  // reported as unreadable by the check of its contents
    if (st.st_size > kMaxSettingsBytes)
        return "it is larger than " + std::to_string(kMaxSettingsBytes >> 20) + " MB (" +
               std::to_string(static_cast<long long>(st.st_size)) + " bytes), far more than any settings";
    return {};
}

// The files QSettings(kSettingsOrganization, kSettingsApplication) reads, the program's own first: its own
// file and the organisation's, in the user's configuration directory and then in the system's. Taken once, as
// QSettings takes its directories once.
const QStringList& StoreFiles() {
    static const QStringList files = [] {
        QStringList dirs{QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
        for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
            if (!dirs.contains(dir))
                dirs << dir;
        QStringList list;
        for (const QString& dir : dirs)
            list << dir + '/' + kSettingsOrganization + '/' + kSettingsApplication + ".conf"
                 << dir + '/' + kSettingsOrganization + ".conf";
        return list;
    }();
    return files;
}

void ReportOnce(const QString& path, const std::string& why, bool own) {
    static std::set<std::pair<QString, std::string>> reported;
    if (!reported.insert({path, why}).second)
        return;
    ShowMessage(
        "Cannot read the settings file \"" + path.toStdString() + "\": " + why + ".\n\n" +
        (own ? "It is not read: the options have their default values, and the options you change are "
               "not saved until it is replaced by a regular file or removed."
             : "It is not read: the options it would give have their default values."));
}

// Where the options go for this run when the program's own file cannot be used: a file of this process.
QString ScratchFile() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pacterra-settings-XXXXXX"));
    // Without a temporary directory, a place where nothing can be created: the options are not kept.
    return dir.isValid() ? dir.filePath(QStringLiteral("Pacterra.conf"))
                         : QStringLiteral("/proc/self/pacterra-no-settings/Pacterra.conf");
}

}  // namespace

std::string SettingsFilePath() {
    return StoreFiles().first().toStdString();
}

std::string SettingsFileProblem() {
    return Unfit(StoreFiles().first());
}

QSettings OpenSettingsStore() {
    const QStringList& files = StoreFiles();
    bool othersFit = true;
    for (qsizetype i = 1; i < files.size(); ++i) {
        if (const std::string why = Unfit(files[i]); !why.empty()) {
            ReportOnce(files[i], why, false);
            othersFit = false;
        }
    }
    if (const std::string why = Unfit(files.first()); !why.empty()) {
        ReportOnce(files.first(), why, true);
        return QSettings(ScratchFile(), QSettings::IniFormat);
    }
    if (!othersFit)
        return QSettings(files.first(), QSettings::IniFormat);  // the program's own file alone
    return QSettings(kSettingsOrganization, kSettingsApplication);
}
