// The Configure command end to end: a rule set built with the keyboard alone reaches Config.cfg byte for
// byte; the autostart entry follows the option; a failed save is reported and keeps the old file; Cancel
// still reloads the file. Config.cfg lives beside this test's executable, the settings and the autostart
// entry under a temporary XDG_CONFIG_HOME.
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "ModalDriver.h"
#include "config/ConfigFile.h"
#include "dialogs/ConfigDlg.h"
#include "dialogs/FilterItemDlg.h"

namespace {

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

QByteArray ReadFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const std::string& path, const QByteArray& bytes) {
    QFile f(QString::fromStdString(path));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QVariant Stored(const char* key) {
    return QSettings("Morvane", "Pacterra").value(QString::fromLatin1(key));
}

// Root writes anywhere: for the read-only case the test gives up the override of file permissions on this
// thread (which does the writing) and takes it back afterwards.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride() {
        if (geteuid() != 0 || syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_active = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutPermissionOverride() {
        if (m_active)
            syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

// A disk that is full after `bytes` bytes of any file this process writes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit{bytes, m_old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

}  // namespace

class ConfigSaveTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::string m_path;

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        // Before the first settings object: QSettings reads XDG_CONFIG_HOME once.
        qputenv("XDG_CONFIG_HOME", m_home.filePath("xdg").toUtf8());
        m_path = ConfigFilePath();
        QCOMPARE(QString::fromStdString(m_path),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/Config.cfg"));
    }

    void init() {
        QFile::setPermissions(
            QCoreApplication::applicationDirPath(),
            QFile::permissions(QCoreApplication::applicationDirPath()) | QFileDevice::WriteOwner);
        QFile::setPermissions(QString::fromStdString(m_path),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(QString::fromStdString(m_path));
        QSettings("Morvane", "Pacterra").clear();
    }

    // Web traffic from one host of the subnet accepted, port 8080 dropped before it, everything else
    // dropped, a 64 MB buffer: built with keys only, from a first run without Config.cfg.
    void keyboardOnlyRuleSet() {
        ModalDriver driver;
        driver.Then<CConfigDlg>([](CConfigDlg* dlg) {
            Press(dlg, Qt::Key_Tab);    // from the (empty) rule list to Add
            Press(dlg, Qt::Key_Space);  // first rule
            Press(dlg, Qt::Key_Space);  // second rule
            Press(dlg, Qt::Key_Tab, Qt::NoModifier, 3);
            Press(dlg, Qt::Key_Space);  // Move Up: the drop rule goes first
            Press(dlg, Qt::Key_Tab, Qt::NoModifier, 2);
            Press(dlg, Qt::Key_Down);  // "Drop all packets not matching any filter"
            Press(dlg, Qt::Key_Tab);
            Press(dlg, Qt::Key_Home);
            Press(dlg, Qt::Key_PageUp, Qt::NoModifier, 6);
            Press(dlg, Qt::Key_Right, Qt::NoModifier, 3);
            Press(dlg, Qt::Key_Return);
        });
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* dlg) {
            Type(dlg, "web");         // over the selected "DefaultName"
            Press(dlg, Qt::Key_Tab);  // "Any IP address"
            Press(dlg, Qt::Key_Up);   // "Specify the IP"
            Press(dlg, Qt::Key_Tab);  // the address
            Type(dlg, "198.51.100.10");
            Press(dlg, Qt::Key_Tab);      // "Any port"
            Press(dlg, Qt::Key_Up);       // "Specify ports"
            Press(dlg, Qt::Key_Backtab);  // the ports field
            Type(dlg, "80 443");
            Press(dlg, Qt::Key_Return);
        });
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* dlg) {
            Type(dlg, "block 8080");
            Press(dlg, Qt::Key_Tab, Qt::NoModifier, 2);  // "Any IP address", "Any port"
            Press(dlg, Qt::Key_Up);
            Press(dlg, Qt::Key_Backtab);
            Type(dlg, "8080");
            Press(dlg, Qt::Key_Tab, Qt::NoModifier, 2);  // "Specify ports", "Accept the packet if matching"
            Press(dlg, Qt::Key_Down);                    // "Drop the packet if matching"
            Press(dlg, Qt::Key_Return);
        });
        driver.Start();
        CCaptureConfig config;
        QVERIFY(EditConfiguration(config, nullptr));
        QVERIFY(!driver.TimedOut());
        QVERIFY(driver.Finished());

        QCOMPARE(ReadFile(m_path), Hex("40000000 00 0200"
                                       "0a 626c6f636b2038303830 01 00 00 00000000 0100 901f"
                                       "03 776562 00 00 01 c633640a 0200 5000 bb01"));
        QCOMPARE(config.bufferMB, 64);
        QCOMPARE(config.defaultAccept, 0);
        QCOMPARE(config.filters.size(), size_t{2});
        QCOMPARE(Stored("Filter/Autostart").toInt(), 0);
    }

    // The option writes the entry, and switching it off hides the entry rather than deleting it.
    void autostartEntry() {
        const QString entry = QString::fromStdString(AutostartEntryPath());
        QVERIFY(entry.startsWith(m_home.filePath("xdg")));
        for (const bool on : {true, false}) {
            ModalDriver driver;
            driver.Then<CConfigDlg>([](CConfigDlg* dlg) {
                QTest::mouseClick(dlg->findChild<QCheckBox*>("autostart"), Qt::LeftButton, {}, QPoint(8, 8));
                Press(dlg, Qt::Key_Return);
            });
            driver.Start();
            CCaptureConfig config;
            QVERIFY(EditConfiguration(config, nullptr));
            QCOMPARE(config.autostart, on ? 1 : 0);
            QCOMPARE(Stored("Filter/Autostart").toInt(), on ? 1 : 0);
            const QByteArray text = ReadFile(entry.toStdString());
            QVERIFY2(text.contains("Exec=" + QCoreApplication::applicationFilePath().toUtf8()), text);
            QCOMPARE(text.contains("Hidden=true"), !on);
        }
    }

    void failedSave_data() {
        QTest::addColumn<QString>("cause");
        QTest::newRow("read-only directory") << "read-only";
        QTest::newRow("full disk") << "full";
    }
    // The box names the problem, the old file stays as it was, nothing else is written, and the record
    // keeps what the user confirmed.
    void failedSave() {
        QFETCH(QString, cause);
        const QByteArray old = Hex("32000000 01 0000");
        WriteFile(m_path, old);
        const QString dir = QCoreApplication::applicationDirPath();
        const auto dirPermissions = QFile::permissions(dir);

        ModalDriver driver;
        driver.Then<CConfigDlg>([](CConfigDlg* dlg) {
            Press(dlg, Qt::Key_Tab);  // Add
            Press(dlg, Qt::Key_Space);
            QTest::mouseClick(dlg->findChild<QCheckBox*>("minimized"), Qt::LeftButton, {}, QPoint(8, 8));
            Press(dlg, Qt::Key_Return);
        });
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* dlg) { Press(dlg, Qt::Key_Return); });
        driver.Answer(QMessageBox::Ok);
        driver.Start();
        CCaptureConfig config;
        bool saved = true;
        if (cause == "read-only") {
            QVERIFY(QFile::setPermissions(QString::fromStdString(m_path), QFileDevice::ReadOwner));
            QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            WithoutPermissionOverride rights;
            saved = EditConfiguration(config, nullptr);
        } else {
            // Room for the old file's seven bytes, not for the new rule.
            FileSizeLimit limit(16);
            saved = EditConfiguration(config, nullptr);
        }
        QFile::setPermissions(dir, dirPermissions);
        QVERIFY(!saved);
        QVERIFY(driver.Finished());
        QCOMPARE(driver.texts, QStringList{kSaveConfigErrorText});
        QVERIFY(driver.details.first().contains(QString::fromStdString(m_path)));
        QCOMPARE(ReadFile(m_path), old);
        QVERIFY(!Stored("Filter/Minimized").isValid());
        QCOMPARE(config.minimized, 1);
        QCOMPARE(config.filters.size(), size_t{1});
    }

    // Cancel saves nothing but the record still follows the file as it is now.
    void cancelReloadsTheFile() {
        const QByteArray file = Hex("4d000000 00 0000");
        WriteFile(m_path, file);
        ModalDriver driver;
        driver.Then<CConfigDlg>([](CConfigDlg* dlg) { Press(dlg, Qt::Key_Escape); });
        driver.Start();
        CCaptureConfig config;
        config.ApplyDefaults();
        QVERIFY(!EditConfiguration(config, nullptr));
        QCOMPARE(config.bufferMB, 77);
        QCOMPARE(config.defaultAccept, 0);
        QCOMPARE(ReadFile(m_path), file);
    }
};

QTEST_MAIN(ConfigSaveTest)
#include "config_save_test.moc"
