// Config.cfg, the three start-up options in the settings store, and the login autostart entry.
#include "config/ConfigFile.h"

#include "config/Adapters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <functional>
#include <span>
#include <string_view>

#include "capture/FrontEnd.h"
#include "config/CaptureConfig.h"

namespace {

constexpr char kConfigFileName[] = "Config.cfg";
constexpr char kOrganization[] = "Morvane";
constexpr char kApplication[] = "Pacterra";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The settings store of the whole application, under the same sections and entries everywhere.
QSettings OpenSettings() {
    return QSettings(kOrganization, kApplication);
}

// A damaged file is reported once, not again on every reload of the same bytes (the Configure command
// reloads the file each time it runs).
std::string& ReportedDamage() {
    static std::string key;
    return key;
}

void ReportDamagedFile(const std::string& path, const QByteArray& bytes, const std::string& problem,
                       const std::string& detail) {
    std::string key =
        path + '\n' +
        std::to_string(std::hash<std::string_view>{}({bytes.constData(), size_t(bytes.size())}));
    if (ReportedDamage() == key)
        return;
    ReportedDamage() = key;
    ShowMessage("Cannot use the configuration file \"" + path + "\": " + problem +
                    ".\n\nThe default settings are in use: a " +
                    std::to_string(CCaptureConfig::kDefaultBufferMB) +
                    " MB buffer, every packet accepted, no rules. The file is left unchanged until you save "
                    "the configuration.",
                MsgButtons::Ok, detail);
}

// Desktop entry Exec quoting: an argument with reserved characters is double-quoted with `"`, `` ` ``, `$`
// and `\` escaped; `%` would start a field code and is doubled.
std::string ExecArgument(const std::string& path) {
    bool quote = path.empty() || path.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string arg = quote ? "\"" : "";
    for (char c : path) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            arg += '\\';
        arg += c;
        if (c == '%')
            arg += '%';
    }
    if (quote)
        arg += '"';
    return arg;
}

// Desktop entry string escapes, applied to the whole value after the Exec quoting.
std::string EscapeDesktopValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Writes `bytes` to `path` through a temporary file that replaces it only when complete.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    // A Config.cfg that is writable in a directory that is not must still be savable; only then is the
    // write not atomic.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile buffers the bytes and its commit does not report a failed final write (a full disk): flush
    // and check first, so that a failure keeps the old file and is reported.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Like the Windows Run value this mirrors, the entry is rewritten on every save, switched off rather than
// deleted, and a failure to write it goes unreported.
void WriteAutostartEntry(bool enabled) {
    std::string text = AutostartEntryText(GetExecutablePath(), enabled);
    WriteFileAtomically(Q(AutostartEntryPath()), QByteArray::fromStdString(text));
}

}  // namespace

std::string GetExecutablePath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath().toStdString();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();
}

std::string GetProgramDirectory() {
    QString dir;
    if (QCoreApplication::instance()) {
        dir = QCoreApplication::applicationDirPath();
    } else {
        std::string exe = GetExecutablePath();
        // Without an executable path, files beside "the executable" are looked for in the working directory.
        dir = exe.empty() ? QDir::currentPath() : QFileInfo(Q(exe)).absolutePath();
    }
    std::string result = dir.toStdString();
    if (result.empty() || result.back() != '/')
        result += '/';
    return result;
}

std::string UserConfigDirectory() {
    // What QStandardPaths::AppConfigLocation gives for the application's names, whether or not the running
    // program (the window or the command-line tool) has set them.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() + '/' +
           kOrganization + '/' + kApplication;
}

std::string ChooseConfigFilePath(const std::string& programDir, const std::string& userConfigDir) {
    std::string beside = programDir + kConfigFileName;
    QFileInfo dir(Q(programDir));
    if (QFileInfo::exists(Q(beside)) || (dir.isDir() && dir.isWritable()))
        return beside;
    return userConfigDir + '/' + kConfigFileName;
}

std::string ConfigFilePath() {
    return ChooseConfigFilePath(GetProgramDirectory(), UserConfigDirectory());
}

std::string AutostartEntryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/autostart/pacterra.desktop";
}

std::string AutostartEntryText(const std::string& exePath, bool enabled) {
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Pacterra Packet Sniffer\n"
        "Exec=" +
        EscapeDesktopValue(ExecArgument(exePath)) +
        "\n"
        "Terminal=false\n";
    // Without a known executable there is nothing to start, as with the empty Run value on Windows.
    if (!enabled || exePath.empty())
        text += "Hidden=true\n";
    return text;
}

bool CCaptureConfig::ReadConfigFile(const std::string& path) {
    // A device or a pipe could be read for ever, and no configuration comes near this size: neither is
    // read (a file that grows while it is read stops being read at the limit).
    constexpr qint64 kMaxConfigBytes = qint64{16} << 20;
    const QFileInfo info(Q(path));
    if (info.exists() && !info.isFile() && !info.isDir()) {
        ApplyDefaults();
        ReportDamagedFile(path, QByteArray("special"), "it is not a regular file", {});
        return true;
    }
    if (info.isFile() && info.size() > kMaxConfigBytes) {
        ApplyDefaults();
        ReportDamagedFile(path, QByteArray::number(info.size()),
                          "it is larger than " + std::to_string(kMaxConfigBytes >> 20) +
                              " MB, far more than any configuration",
                          std::to_string(info.size()) + " bytes.");
        return true;
    }
    QFile file(Q(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = file.read(kMaxConfigBytes + 1);

    std::string problem, detail;
    if (bytes.size() > kMaxConfigBytes) {
        problem = "it is larger than " + std::to_string(kMaxConfigBytes >> 20) +
                  " MB, far more than any configuration";
        bytes = QByteArray::number(bytes.size());
    } else if (file.error() != QFileDevice::NoError) {
        problem = "it could not be read (" + file.errorString().toStdString() + ")";
    } else {
        CArchive ar(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
        try {
            SerializeConfig(ar);
            ReportedDamage().clear();
            return true;
        } catch (const ArchiveError& e) {
            problem = e.what();
            detail = "The problem was found at byte " + std::to_string(bytes.size() - ar.Remaining()) +
                     " of " + std::to_string(bytes.size()) + ".";
        }
    }
    ApplyDefaults();
    ReportDamagedFile(path, bytes, problem, detail);
    return true;
}

std::string CCaptureConfig::LoadConfig() {
    std::string path = ConfigFilePath();
    if (!ReadConfigFile(path))
        ApplyDefaults();
    QSettings settings = OpenSettings();
    minimized = settings.value("Filter/Minimized", 0).toInt();
    startCapture = settings.value("Filter/Startcap", 0).toInt();
    autostart = settings.value("Filter/Autostart", 0).toInt();
    return path;
}

bool CCaptureConfig::SaveConfig(const std::string& path) {
    CArchive ar;
    try {
        SerializeConfig(ar);
    } catch (const ArchiveError&) {
        return false;  // a record too large for the file's counts
    }
    const auto& out = ar.Bytes();
    if (!WriteFileAtomically(Q(path),
                             QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()))))
        return false;

    QSettings settings = OpenSettings();
    settings.setValue("Filter/Minimized", minimized);
    settings.setValue("Filter/Startcap", startCapture);
    settings.setValue("Filter/Autostart", autostart);
    settings.sync();

    WriteAutostartEntry(autostart != 0);
    return true;
}

void CCaptureConfig::LoadStartupSettings() {
    LoadConfig();
    LoadAdapterSetting();
}

void CCaptureConfig::LoadAdapterSetting() {
    adapter = OpenSettings().value("Config/Adapter").toString().toStdString();
    // The default choice is used but not stored: only the adapter dialog stores a choice.
    if (adapter.empty())
        adapter = ChooseDefaultAdapter();
}

void StoreAdapterChoice(const std::string& adapter, const std::string& adapterName) {
    QSettings settings = OpenSettings();
    settings.setValue("Config/Adapter", Q(adapter));
    settings.setValue("Config/AdapterName", Q(adapterName));
    settings.sync();
}
