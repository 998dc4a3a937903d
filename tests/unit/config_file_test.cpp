// Config.cfg on disk, the settings store and the autostart entry. HOME and XDG_CONFIG_HOME point into a
// temporary directory for the whole run, so nothing of the user's own configuration is touched.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "TemporaryHome.h"
#include "config/Adapters.h"
#include "config/CaptureConfig.h"
#include "config/ConfigFile.h"
#include "config_test_rules.h"
#include "frontend/FrontEnd.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Message {
    std::string text, detail;
};

class RecordingFrame : public IMainFrame {
public:
    std::vector<Message> messages;
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string& detail) override {
        messages.push_back({text, detail});
        return MsgAnswer::Ok;
    }
};

Bytes ReadBytes(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray b = f.readAll();
    return Bytes(b.begin(), b.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

std::string ReadText(const std::string& path) {
    Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

const Bytes kWebFile = {0x64, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x77, 0x65, 0x62, 0x00,
                        0x00, 0x01, 0xC0, 0xA8, 0x00, 0x01, 0x02, 0x00, 0x50, 0x00, 0x90, 0x1F};

CCaptureConfig WebConfig(int32_t minimized, int32_t startCapture, int32_t autostart) {
    CCaptureConfig c;
    c.bufferMB = 100;
    c.defaultAccept = 0;
    c.filters = {WebRule()};
    c.minimized = minimized;
    c.startCapture = startCapture;
    c.autostart = autostart;
    return c;
}

void ExpectDefaults(const CCaptureConfig& c) {
    EXPECT_EQ(c.bufferMB, 50);
    EXPECT_EQ(c.defaultAccept, 1);
    EXPECT_TRUE(c.filters.empty());
}

int StoredOption(const char* key) {
    return QSettings("Morvane", "Pacterra").value(key, -1).toInt();
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        g_pMainFrame = &frame;
    }
    void TearDown() override { g_pMainFrame = nullptr; }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    QTemporaryDir dir;
    RecordingFrame frame;
};

TEST_F(ConfigFileTest, SaveWritesTheFileBytesOptionsAndAutostartEntry) {
    std::string path = Path("Config.cfg");
    ASSERT_TRUE(WebConfig(1, 0, 1).SaveConfig(path));
    EXPECT_EQ(ReadBytes(path), kWebFile);
    EXPECT_EQ(StoredOption("Filter/Minimized"), 1);
    EXPECT_EQ(StoredOption("Filter/Startcap"), 0);
    EXPECT_EQ(StoredOption("Filter/Autostart"), 1);
    // The settings and the entry went where the environment says, not into the real home.
    EXPECT_TRUE(QFile::exists(g_home->filePath("xdg-config/Morvane/Pacterra.conf")));
    EXPECT_EQ(AutostartEntryPath(), g_home->filePath("xdg-config/autostart/pacterra.desktop").toStdString());

    CCaptureConfig loaded;
    ASSERT_TRUE(loaded.ReadConfigFile(path));
    EXPECT_EQ(loaded.bufferMB, 100);
    EXPECT_EQ(loaded.defaultAccept, 0);
    EXPECT_EQ(loaded.filters, std::vector<CFilterItem>{WebRule()});
    EXPECT_TRUE(frame.messages.empty());
}

TEST_F(ConfigFileTest, AutostartEntryIsSwitchedOffNeverDeleted) {
    const std::string entry = AutostartEntryPath();
    const std::string exec = "Exec=" + GetExecutablePath() + "\n";
    ASSERT_EQ(GetExecutablePath().find(' '), std::string::npos) << "the build path needs no quoting here";

    ASSERT_TRUE(WebConfig(0, 0, 1).SaveConfig(Path("Config.cfg")));
    std::string on = ReadText(entry);
    EXPECT_NE(on.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(on.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(on.find(exec), std::string::npos) << on;
    EXPECT_EQ(on.find("Hidden="), std::string::npos) << on;

    ASSERT_TRUE(WebConfig(0, 0, 0).SaveConfig(Path("Config.cfg")));
    std::string off = ReadText(entry);
    EXPECT_NE(off.find(exec), std::string::npos) << off;
    EXPECT_NE(off.find("\nHidden=true\n"), std::string::npos) << off;
}

TEST(AutostartEntryText, ExecLineQuotesWhatTheLauncherWouldSplit) {
    struct Case {
        std::string path;
        bool enabled;
        std::string exec;
        bool hidden;
    };
    const Case cases[] = {
        {"/usr/bin/pacterra", true, "Exec=/usr/bin/pacterra", false},
        {"/usr/bin/pacterra", false, "Exec=/usr/bin/pacterra", true},
        {"/opt/my tools/pacterra", true, "Exec=\"/opt/my tools/pacterra\"", false},
        {"/opt/100%/pacterra", true, "Exec=/opt/100%%/pacterra", false},
        // Inside quotes " $ ` \ take a backslash; the value's own escaping then doubles every backslash.
        {"/opt/a\"b$c`d\\e", true, "Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e\"", false},
        {"/opt/new\nline", true, "Exec=\"/opt/new\\nline\"", false},
        // Nothing to start without a known executable.
        {"", true, "Exec=\"\"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string text = AutostartEntryText(c.path, c.enabled);
        EXPECT_NE(text.find("\n" + c.exec + "\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("Hidden=true\n") != std::string::npos, c.hidden) << text;
    }
}

TEST_F(ConfigFileTest, SaveToAnUncreatablePathFailsAndWritesNothingElse) {
    WriteBytes(Path("plain-file"), {0x00});
    ASSERT_TRUE(WebConfig(0, 0, 0).SaveConfig(Path("Config.cfg")));
    ASSERT_EQ(StoredOption("Filter/Startcap"), 0);
    Bytes entryBefore = ReadBytes(AutostartEntryPath());

    // A path below a regular file cannot be created, not even by root.
    EXPECT_FALSE(WebConfig(1, 1, 1).SaveConfig(Path("plain-file/Config.cfg")));
    EXPECT_EQ(StoredOption("Filter/Startcap"), 0);
    EXPECT_EQ(StoredOption("Filter/Minimized"), 0);
    EXPECT_EQ(ReadBytes(AutostartEntryPath()), entryBefore);
    EXPECT_EQ(ReadBytes(Path("plain-file")), Bytes{0x00});
}

// A write that fails after the file was created (a full disk; here a file-size limit, which binds root too)
// is reported, keeps the old file, and writes neither the options nor the autostart entry.
TEST_F(ConfigFileTest, AFailedWriteKeepsTheOldFileAndIsReported) {
    const std::string path = Path("Config.cfg");
    ASSERT_TRUE(WebConfig(0, 0, 0).SaveConfig(path));
    const Bytes before = ReadBytes(path);
    const Bytes entryBefore = ReadBytes(AutostartEntryPath());

    CCaptureConfig big = WebConfig(1, 1, 1);
    for (int i = 0; i < 40; ++i) {
        CFilterItem rule = WebRule();
        rule.name = std::string(200, static_cast<char>('a' + i % 26));
        big.filters.push_back(rule);
    }
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(big.SaveConfig(path) ? 1 : 0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must report the failure";
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(StoredOption("Filter/Startcap"), 0);
    EXPECT_EQ(ReadBytes(AutostartEntryPath()), entryBefore);
}

TEST_F(ConfigFileTest, SaveCreatesMissingDirectories) {
    std::string path = Path("a/b/Config.cfg");
    ASSERT_TRUE(WebConfig(0, 0, 0).SaveConfig(path));
    EXPECT_EQ(ReadBytes(path), kWebFile);
}

TEST_F(ConfigFileTest, SaveReplacesALongerFileCompletely) {
    std::string path = Path("Config.cfg");
    WriteBytes(path, Bytes(5000, 0xAB));
    CCaptureConfig c;
    c.ApplyDefaults();
    ASSERT_TRUE(c.SaveConfig(path));
    EXPECT_EQ(ReadBytes(path), (Bytes{0x32, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
}

TEST_F(ConfigFileTest, MissingFileIsNotReadAndChangesNothing) {
    CCaptureConfig c = WebConfig(0, 0, 0);
    EXPECT_FALSE(c.ReadConfigFile(Path("Config.cfg")));
    EXPECT_FALSE(c.ReadConfigFile(dir.path().toStdString()));  // a directory is no file
    EXPECT_EQ(c.filters.size(), 1u);
    EXPECT_EQ(c.bufferMB, 100);
    EXPECT_TRUE(frame.messages.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("Config.cfg"))));
}

TEST_F(ConfigFileTest, EveryTruncationLoadsDefaultsAndKeepsTheFile) {
    std::string path = Path("Config.cfg");
    for (size_t n = 0; n < kWebFile.size(); ++n) {
        SCOPED_TRACE(n);
        Bytes prefix(kWebFile.begin(), kWebFile.begin() + n);
        WriteBytes(path, prefix);
        CCaptureConfig c = WebConfig(1, 1, 1);
        c.bufferMB = 7;
        EXPECT_TRUE(c.ReadConfigFile(path));
        ExpectDefaults(c);
        EXPECT_EQ(c.minimized, 1);  // options are not the file's business
        EXPECT_EQ(ReadBytes(path), prefix);
        ASSERT_EQ(frame.messages.size(), n + 1);
        EXPECT_NE(frame.messages.back().text.find(path), std::string::npos);
    }
}

TEST_F(ConfigFileTest, DamagedFileIsReportedOnceWithPathAndCause) {
    std::string path = Path("Config.cfg");
    Bytes damaged = {0x32, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00};  // two rules announced, none there
    WriteBytes(path, damaged);

    CCaptureConfig c;
    EXPECT_TRUE(c.ReadConfigFile(path));
    EXPECT_TRUE(c.ReadConfigFile(path));  // as the Configure command reloads it
    ExpectDefaults(c);
    ASSERT_EQ(frame.messages.size(), 1u);
    const std::string& text = frame.messages[0].text;
    EXPECT_NE(text.find("\"" + path + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("2 rules"), std::string::npos) << text;
    EXPECT_NE(text.find("default"), std::string::npos) << text;
    EXPECT_NE(text.find("left unchanged until you save"), std::string::npos) << text;
    EXPECT_NE(frame.messages[0].detail.find("byte 7 of 7"), std::string::npos) << frame.messages[0].detail;
    EXPECT_EQ(ReadBytes(path), damaged);

    // Damaged differently: told again.
    damaged.push_back(0x00);
    WriteBytes(path, damaged);
    EXPECT_TRUE(c.ReadConfigFile(path));
    ASSERT_EQ(frame.messages.size(), 2u);

    // Repaired, then damaged the same way once more: told again.
    WriteBytes(path, kWebFile);
    EXPECT_TRUE(c.ReadConfigFile(path));
    EXPECT_EQ(c.bufferMB, 100);
    WriteBytes(path, damaged);
    EXPECT_TRUE(c.ReadConfigFile(path));
    EXPECT_EQ(frame.messages.size(), 3u);
}

TEST(ConfigLocation, BesideTheExecutableWhenWritable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string program = dir.path().toStdString() + "/";
    const std::string user = dir.filePath("user").toStdString();
    EXPECT_EQ(ChooseConfigFilePath(program, user), program + "Config.cfg");
    EXPECT_EQ(ChooseConfigFilePath(program + "missing/", user), user + "/Config.cfg");
    EXPECT_EQ(UserConfigDirectory(), g_home->filePath("xdg-config/Morvane/Pacterra").toStdString());
}

TEST(ConfigLocation, ReadOnlyDirectoryOnlyWhenItAlreadyHoldsTheFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string user = dir.filePath("user").toStdString();
    const QString ro = dir.filePath("ro");
    const std::string roDir = ro.toStdString() + "/";
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    const auto writable = readOnly | QFileDevice::WriteOwner;
    ASSERT_TRUE(QDir().mkpath(ro));
    ASSERT_TRUE(QFile::setPermissions(ro, readOnly));
    EXPECT_EQ(ChooseConfigFilePath(roDir, user), user + "/Config.cfg");
    ASSERT_TRUE(QFile::setPermissions(ro, writable));
    WriteBytes(roDir + "Config.cfg", {});
    ASSERT_TRUE(QFile::setPermissions(ro, readOnly));
    EXPECT_EQ(ChooseConfigFilePath(roDir, user), roDir + "Config.cfg");
    QFile::setPermissions(ro, writable);
}

TEST(ProgramDirectory, IsTheExecutablesDirectoryWithOrWithoutAnApplication) {
    std::string without = GetProgramDirectory();
    ASSERT_FALSE(without.empty());
    EXPECT_EQ(without.back(), '/');
    EXPECT_EQ(without + QFileInfo(QString::fromStdString(GetExecutablePath())).fileName().toStdString(),
              GetExecutablePath());
    EXPECT_EQ(GetExecutablePath().substr(GetExecutablePath().rfind('/') + 1), "config_file_test");

    int argc = 1;
    char name[] = "config_file_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    EXPECT_EQ(GetProgramDirectory(), without);
}

// The one test that uses Config.cfg beside the test program (which has a directory of its own).
TEST_F(ConfigFileTest, LoadConfigReadsTheFileBesideTheProgramAndTheOptions) {
    const std::string path = GetProgramDirectory() + "Config.cfg";
    QFile::remove(QString::fromStdString(path));

    CCaptureConfig first = WebConfig(0, 0, 0);
    first.minimized = 5;  // leftovers that LoadConfig must replace
    EXPECT_EQ(first.LoadConfig(), path);
    ExpectDefaults(first);
    EXPECT_EQ(first.minimized, 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path))) << "loading must not create the file";

    ASSERT_TRUE(WebConfig(1, 1, 0).SaveConfig(path));
    CCaptureConfig second;
    second.adapter = "eth7";
    EXPECT_EQ(second.LoadConfig(), path);
    EXPECT_EQ(second.bufferMB, 100);
    EXPECT_EQ(second.defaultAccept, 0);
    EXPECT_EQ(second.filters, std::vector<CFilterItem>{WebRule()});
    EXPECT_EQ(second.minimized, 1);
    EXPECT_EQ(second.startCapture, 1);
    EXPECT_EQ(second.autostart, 0);
    EXPECT_EQ(second.adapter, "eth7");  // the Configure command's reload leaves the adapter alone

    QSettings("Morvane", "Pacterra").setValue("Config/Adapter", "enp3s0");
    CCaptureConfig third;
    third.LoadStartupSettings();
    EXPECT_EQ(third.adapter, "enp3s0");
    EXPECT_EQ(third.bufferMB, 100);

    QSettings("Morvane", "Pacterra").remove("Config/Adapter");
    CCaptureConfig fourth;
    fourth.LoadStartupSettings();
    // With nothing stored the default adapter is used, and not stored.
    EXPECT_EQ(fourth.adapter, ChooseDefaultAdapter());
    EXPECT_FALSE(QSettings("Morvane", "Pacterra").contains("Config/Adapter"));

    EXPECT_TRUE(QFile::remove(QString::fromStdString(path)));
    EXPECT_TRUE(frame.messages.empty());
}

}  // namespace

namespace {

// A device or pipe would be read for ever and a huge file costs its size in memory: both are refused as
// damaged without being read.
TEST_F(ConfigFileTest, SpecialAndOversizedFilesAreRefusedUnread) {
    const std::string big = Path("big.cfg"), fifo = Path("fifo.cfg");
    WriteBytes(big, kWebFile);
    ASSERT_EQ(::truncate(big.c_str(), (16 << 20) + 1), 0);  // sparse: costs no disk
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);             // no writer: a read would block for ever
    struct Case {
        std::string path, problem;
    } cases[] = {
        {"/dev/zero", "not a regular file"},
        {fifo, "not a regular file"},
        {big, "larger than 16 MB"},
    };
    for (const Case& c : cases) {
        CCaptureConfig config = WebConfig(0, 0, 0);
        frame.messages.clear();
        EXPECT_TRUE(config.ReadConfigFile(c.path)) << c.path;
        ExpectDefaults(config);
        ASSERT_EQ(frame.messages.size(), 1u) << c.path;
        EXPECT_NE(frame.messages[0].text.find(c.problem), std::string::npos) << frame.messages[0].text;
        EXPECT_NE(frame.messages[0].text.find("default settings are in use"), std::string::npos);
    }
    EXPECT_EQ(QFileInfo(QString::fromStdString(big)).size(), (16 << 20) + 1);
}

}  // namespace
