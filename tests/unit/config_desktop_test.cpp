// Where an installed program keeps Config.cfg, and what a real desktop does to the configuration: a
// Config.cfg that cannot be opened or is a folder, a damaged settings file, an autostart folder that cannot
// be written. Each ends with a message and nothing lost. HOME and XDG_CONFIG_HOME point into a temporary
// directory; the test program has a directory of its own, where Config.cfg is put.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TemporaryHome.h"
#include "config/CaptureConfig.h"
#include "config/ConfigFile.h"
#include "frontend/FrontEnd.h"

namespace {

class RecordingFrame : public IMainFrame {
public:
    std::vector<std::string> messages;
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string&) override {
        messages.push_back(text);
        return MsgAnswer::Ok;
    }
    bool Told(const std::string& part) const {
        for (const auto& m : messages)
            if (m.find(part) != std::string::npos)
                return true;
        return false;
    }
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

const QByteArray kWebFile(
    "\x64\x00\x00\x00\x00\x01\x00\x03\x77\x65\x62\x00\x00\x01\xC0\xA8\x00\x01\x02\x00\x50\x00\x90\x1F", 24);

class ConfigDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_pMainFrame = &frame;
        Clean();
    }
    void TearDown() override {
        g_pMainFrame = nullptr;
        Clean();
    }
    static void Clean() {
        QFile::remove(besideProgram);
        QDir(besideProgram).removeRecursively();
        QDir(QString::fromStdString(UserConfigDirectory())).removeRecursively();
        QDir(g_home->filePath("xdg-config")).removeRecursively();
    }
    static CCaptureConfig Saved(int32_t autostart) {
        CCaptureConfig c;
        c.bufferMB = 100;
        c.minimized = 1;
        c.autostart = autostart;
        return c;
    }

    inline static const QString besideProgram = QString::fromStdString(GetProgramDirectory() + "Config.cfg");
    RecordingFrame frame;
};

TEST(ConfigLocation, InstalledProgramKeepsItOutOfItsDirectoryUnlessOneIsThere) {
    QTemporaryDir portable;
    ASSERT_TRUE(portable.isValid());
    const std::string user = portable.filePath("user").toStdString();
    const std::string portableDir = portable.path().toStdString() + "/";
    EXPECT_EQ(ChooseConfigFilePath(portableDir, user), portableDir + "Config.cfg");
    // /usr/bin is writable for root, who must not leave a file there either.
    EXPECT_EQ(ChooseConfigFilePath("/usr/bin/", user), user + "/Config.cfg");
    EXPECT_EQ(ChooseConfigFilePath("/usr/lib/pacterra-not-there/", user), user + "/Config.cfg");
    // A link to an installed program's directory is that directory.
    ASSERT_TRUE(QFile::link("/usr/bin", portable.filePath("bin-link")));
    EXPECT_EQ(ChooseConfigFilePath(portableDir + "bin-link/", user), user + "/Config.cfg");

    // A file put beside the installed program on purpose is used.
    if (!QFileInfo(QStringLiteral("/usr/local")).isWritable())
        GTEST_SKIP() << "needs a writable folder under /usr";
    QTemporaryDir installed(QStringLiteral("/usr/local/pacterra-config-test-XXXXXX"));
    ASSERT_TRUE(installed.isValid());
    const std::string installedDir = installed.path().toStdString() + "/";
    EXPECT_EQ(ChooseConfigFilePath(installedDir, user), user + "/Config.cfg");
    WriteAll(installed.filePath("Config.cfg"), kWebFile);
    EXPECT_EQ(ChooseConfigFilePath(installedDir, user), installedDir + "Config.cfg");
}

// A Config.cfg that is there but cannot be opened is reported with its cause (a missing one is a first run
// and is not), the defaults apply, and the file stays as it was.
TEST_F(ConfigDesktopTest, ConfigFileThatCannotBeOpenedIsReportedAndKept) {
    const std::string path = besideProgram.toStdString();

    ASSERT_TRUE(QDir().mkpath(besideProgram + "/inside"));
    CCaptureConfig c = Saved(0);
    EXPECT_EQ(c.LoadConfig(), path);
    EXPECT_EQ(c.bufferMB, 50);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_TRUE(frame.Told("\"" + path + "\": it is a folder")) << frame.messages[0];
    EXPECT_FALSE(c.SaveConfig(path));  // the Configure command then says "Error when saving configuations!"
    EXPECT_TRUE(QFileInfo(besideProgram + "/inside").isDir());
    QDir(besideProgram).removeRecursively();

    // A link that loops fails to open even for root.
    ASSERT_TRUE(QFile::link(besideProgram, besideProgram));
    frame.messages.clear();
    c.LoadConfig();
    EXPECT_TRUE(frame.Told("it cannot be opened (")) << (frame.messages.empty() ? "" : frame.messages[0]);
    EXPECT_TRUE(QFileInfo(besideProgram).isSymLink());
    QFile::remove(besideProgram);

    frame.messages.clear();
    c.LoadConfig();
    EXPECT_TRUE(frame.messages.empty()) << "a missing file is a first run";
}

TEST_F(ConfigDesktopTest, ConfigFileWithoutReadPermissionIsReported) {
    WriteAll(besideProgram, kWebFile);
    ASSERT_TRUE(QFile::setPermissions(besideProgram, QFileDevice::WriteOwner));
    // Root reads anything: the check runs in a child that has given up root.
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                std::_Exit(3);
            CCaptureConfig c = Saved(0);
            c.LoadConfig();
            std::_Exit(c.bufferMB == 50 && frame.Told("it cannot be opened (Permission denied)") ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    QFile::setPermissions(besideProgram, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(ReadAll(besideProgram), kWebFile);
}

// QSettings would rewrite a damaged file without what it could not read: the user is told once, a copy is
// kept, and saving works again.
TEST_F(ConfigDesktopTest, DamagedSettingsFileIsCopiedAsideAndReportedOnce) {
    const QString settingsFile = QSettings("Morvane", "Pacterra").fileName();
    const QByteArray damaged[] = {
        QByteArray("[Filter]\nMinimized=1\n\0\0\0\0\0\0\0\0", 29),    // zeros left by a crash
        QByteArray("[Config]\nAdapter=eth0\n[Filter\nStartcap=1\n"),  // a section never closed
        QByteArray("\xff\xfe[Filter]\x80\x81\n"),                     // not text
    };
    for (const QByteArray& bytes : damaged) {
        SCOPED_TRACE(bytes.toStdString());
        Clean();
        frame.messages.clear();
        WriteAll(settingsFile, bytes);

        CCaptureConfig c = Saved(0);
        c.LoadConfig();
        c.LoadConfig();
        ASSERT_EQ(frame.messages.size(), 1u);
        EXPECT_TRUE(frame.Told("\"" + settingsFile.toStdString() + "\": it is damaged")) << frame.messages[0];
        const QString copy = settingsFile + ".damaged";
        EXPECT_TRUE(frame.Told("kept as \"" + copy.toStdString() + "\"")) << frame.messages[0];
        EXPECT_EQ(ReadAll(copy), bytes);

        ASSERT_TRUE(Saved(0).SaveConfig(besideProgram.toStdString()));
        EXPECT_EQ(QSettings("Morvane", "Pacterra").value("Filter/Minimized").toInt(), 1);
        EXPECT_EQ(ReadAll(copy), bytes);
        EXPECT_EQ(frame.messages.size(), 1u);
    }

    // Damaged again later: a second copy, the first one kept; the same damage at the next start (nothing
    // written in between) is no third copy.
    Clean();
    WriteAll(settingsFile + ".damaged", damaged[0]);
    WriteAll(settingsFile, damaged[1]);
    CCaptureConfig().LoadConfig();
    EXPECT_EQ(ReadAll(settingsFile + ".damaged"), damaged[0]);
    EXPECT_EQ(ReadAll(settingsFile + ".damaged.1"), damaged[1]);
    WriteAll(settingsFile, damaged[0]);
    CCaptureConfig().LoadConfig();
    EXPECT_FALSE(QFileInfo::exists(settingsFile + ".damaged.2"));
}

TEST_F(ConfigDesktopTest, SettingsFileThatIsAFolderIsReportedOnLoadAndSave) {
    const QString settingsFile = QSettings("Morvane", "Pacterra").fileName();
    ASSERT_TRUE(QDir().mkpath(settingsFile));
    CCaptureConfig c = Saved(0);
    c.LoadConfig();
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_TRUE(frame.Told("it cannot be read")) << frame.messages[0];

    frame.messages.clear();
    EXPECT_TRUE(Saved(0).SaveConfig(besideProgram.toStdString()));
    EXPECT_EQ(ReadAll(besideProgram).size(), 7);
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_TRUE(frame.Told("The start-up options could not be saved in \"" + settingsFile.toStdString()))
        << frame.messages[0];
}

// Switching autostart on (or an entry that starts the program off) when the folder cannot be written is
// reported; the rest of the save stands. Nothing to switch off is no news.
TEST_F(ConfigDesktopTest, AutostartFolderThatCannotBeWrittenIsReported) {
    const QString autostartDir = QFileInfo(QString::fromStdString(AutostartEntryPath())).absolutePath();
    WriteAll(autostartDir, "a file where the folder belongs");
    const std::string path = besideProgram.toStdString();

    EXPECT_TRUE(Saved(0).SaveConfig(path));
    EXPECT_TRUE(frame.messages.empty());

    EXPECT_TRUE(Saved(1).SaveConfig(path));
    ASSERT_EQ(frame.messages.size(), 1u);
    EXPECT_TRUE(frame.Told("could not be set to start with the desktop session")) << frame.messages[0];
    EXPECT_TRUE(frame.Told(AutostartEntryPath())) << frame.messages[0];
    EXPECT_EQ(ReadAll(besideProgram).size(), 7);
    EXPECT_EQ(QSettings("Morvane", "Pacterra").value("Filter/Autostart").toInt(), 1);
    EXPECT_EQ(ReadAll(autostartDir), "a file where the folder belongs");
}

}  // namespace
