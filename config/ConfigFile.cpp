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
#include <QStringDecoder>

#include <functional>
#include <span>
#include <string_view>

#include "config/CaptureConfig.h"
#include "config/SettingsStore.h"
#include "frontend/FrontEnd.h"

namespace {

constexpr char kConfigFileName[] = "Config.cfg";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// The settings store of the whole application, under the same sections and entries everywhere.
QSettings OpenSettings() {
    return OpenSettingsStore();
}

namespace {

// A damaged file is reported once, not again on every reload of the same bytes (the Configure command
// reloads the file each time it runs).
std::string& ReportedDamage() {
    static std::string key;
    return key;
}

void ReportDamagedFile(const std::string& path, const QByteArray& bytes, const std::string& problem,
                       const std::string& detail) {
    std::string key =
        path + '\n' + problem + '\n' +
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

// A missing file is a first run and needs no word; one that is there but cannot be opened would otherwise
// be replaced, unseen, by the next save.
void ReportUnopenableFile(const std::string& path) {
    QFileInfo info(Q(path));
    if (!info.exists() && !info.isSymLink())
        return;
    std::string why = "it is a folder";
    if (!info.isDir()) {
        QFile file(Q(path));
        file.open(QIODevice::ReadOnly);
        why = "it cannot be opened (" + file.errorString().toStdString() + ")";
    }
    ReportDamagedFile(path, {}, why, {});
}

// QSettings reads around what it cannot parse (and takes bytes that are no text as no entries at all), then
// rewrites the file without it at the next write by any part of the program. A damaged file is therefore
// copied aside before anything is written, and the user is told once.
bool IsDamagedSettingsText(const QByteArray& bytes) {
    if (bytes.contains('\0'))
        return true;  // a crash or power loss during a write leaves blocks of zeros
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);  // decodes only when converted
    return utf8.hasError();
}

void CheckSettingsFile(const QSettings& settings) {
    static QByteArray reported;
    const QString path = settings.fileName();
    std::string problem;
    QByteArray bytes;
    if (settings.status() == QSettings::AccessError || QFileInfo(path).isDir()) {
        problem = "it cannot be read, and the options cannot be saved in it";
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;  // not there yet: a first run
        bytes = file.readAll();
        if (settings.status() != QSettings::FormatError && !IsDamagedSettingsText(bytes))
            return;
        problem = "it is damaged";
    }
    const QByteArray key = path.toUtf8() + '\n' + bytes;
    if (reported == key)
        return;
    reported = key;

    std::string kept;
    if (!bytes.isEmpty()) {
        // Earlier copies are kept; the same damage seen again (nothing was written since) is not copied
        // twice.
        QString copy = path + QStringLiteral(".damaged");
        bool copied = false;
        for (int n = 1; QFileInfo::exists(copy) && !copied; ++n) {
            QFile earlier(copy);
            copied = earlier.open(QIODevice::ReadOnly) && earlier.readAll() == bytes;
            if (!copied)
                copy = path + QStringLiteral(".damaged.%1").arg(n);
        }
        kept = copied || QFile::copy(path, copy)
                   ? " A copy of the damaged file is kept as \"" + copy.toStdString() + "\"."
                   : " It could not be copied aside; rename it to keep it before you change any option.";
    }
    ShowMessage("Cannot read the settings file \"" + path.toStdString() + "\": " + problem +
                ".\n\nThe options that could not be read have their default values." + kept);
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

// Like the Windows Run value this mirrors, the entry is rewritten on every save and switched off rather than
// deleted. A failure is reported only when it leaves the session start-up other than the user asked: the
// entry should start the program, or an entry that does can no longer be switched off.
void WriteAutostartEntry(bool enabled) {
    std::string text = AutostartEntryText(GetExecutablePath(), enabled);
    const QString path = Q(AutostartEntryPath());
    const bool existed = QFileInfo::exists(path);
    if (WriteFileAtomically(path, QByteArray::fromStdString(text)) || (!enabled && !existed))
        return;
    ShowMessage(
        std::string(enabled ? "The program could not be set to start with the desktop session"
                            : "The program could not be kept from starting with the desktop session") +
        ": \"" + path.toStdString() +
        "\" could not be written. Check that its folder can be written to, then save the configuration "
        "again.\n\nEverything else was saved.");
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
           kSettingsOrganization + '/' + kSettingsApplication;
}

std::string ChooseConfigFilePath(const std::string& programDir, const std::string& userConfigDir) {
    std::string beside = programDir + kConfigFileName;
    QFileInfo dir(Q(programDir));
    // A packaged program shares its directory with every user and the package manager: root writing there
    // would leave a file behind that no package owns and that every other user would read.
    const QString canonical = dir.canonicalFilePath();
    const QString where = canonical.isEmpty() ? dir.absoluteFilePath() : canonical;
    const bool installed = where == QLatin1String("/usr") || where.startsWith(QLatin1String("/usr/"));
    if (QFileInfo::exists(Q(beside)) || (!installed && dir.isDir() && dir.isWritable()))
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

bool CCaptureConfig::ReadConfigFile(const std::string& path, std::string* damage) {
    auto damaged = [&](const QByteArray& bytes, const std::string& problem, const std::string& detail) {
        ApplyDefaults();
        if (damage)
            *damage = problem + (detail.empty() ? "" : " (" + detail + ")");
        else
            ReportDamagedFile(path, bytes, problem, detail);
        return true;
    };
    // A device or a pipe could be read for ever, and no configuration comes near this size: neither is
    // read (a file that grows while it is read stops being read at the limit).
    constexpr qint64 kMaxConfigBytes = qint64{16} << 20;
    const QFileInfo info(Q(path));
    if (info.exists() && !info.isFile() && !info.isDir()) {
        return damaged(QByteArray("special"), "it is not a regular file", {});
    }
    if (info.isFile() && info.size() > kMaxConfigBytes) {
        return damaged(QByteArray::number(info.size()),
                       "it is larger than " + std::to_string(kMaxConfigBytes >> 20) +
                           " MB, far more than any configuration",
                       std::to_string(info.size()) + " bytes.");
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
    return damaged(bytes, problem, detail);
}

std::string CCaptureConfig::LoadConfig() {
    std::string path = ConfigFilePath();
    if (!ReadConfigFile(path)) {
        ApplyDefaults();
        ReportUnopenableFile(path);
    }
    QSettings settings = OpenSettings();
    CheckSettingsFile(settings);
    minimized = settings.value("Filter/Minimized", 0).toInt();
    startCapture = settings.value("Filter/Startcap", 0).toInt();
    autostart = settings.value("Filter/Autostart", 0).toInt();
    wideIntake = settings.value(kWideIntakeSetting, 0).toInt() != 0 ? 1 : 0;
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
    settings.setValue(kWideIntakeSetting, wideIntake);
    settings.sync();
    // (A damaged file read at start-up still shows FormatError after this write has replaced it.) A file
    // that is no regular file, or far too large, is left alone: the options live for this run only.
    if (const std::string problem = SettingsFileProblem(); !problem.empty())
        ShowMessage("The start-up options could not be saved in \"" + SettingsFilePath() + "\": " + problem +
                    ".\n\nThe configuration file was saved.");
    else if (settings.status() == QSettings::AccessError)
        ShowMessage("The start-up options could not be saved in \"" + settings.fileName().toStdString() +
                    "\". Check that the file and its folder can be written to.\n\nThe configuration file was "
                    "saved.");

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
