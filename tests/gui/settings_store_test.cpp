// A settings file that is a pipe, a link to a device or far too large is never read: the start-up
// options, the tip of the day and the bars' sizes go on with their defaults, the user is told once, and the
// file is left as it is.
#include <sys/stat.h>
#include <unistd.h>

#include <QMainWindow>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"
#include "ui/DailyTipDlg.h"
#include "ui/SizingControlBar.h"

namespace {

class RecordingFrame : public IMainFrame {
public:
    QStringList messages;
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string&) override {
        messages << QString::fromStdString(text);
        return MsgAnswer::Ok;
    }
};

}  // namespace

class SettingsStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    RecordingFrame m_frame;

    QString ConfigDir() const { return m_home.filePath(QStringLiteral("config")); }

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        // Before any settings object: QSettings takes its directories once.
        qputenv("XDG_CONFIG_HOME", ConfigDir().toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_home.filePath(QStringLiteral("system")).toUtf8());
        QVERIFY(QDir().mkpath(ConfigDir() + QStringLiteral("/Morvane")));
        g_pMainFrame = &m_frame;
        // A read that never ends fails the test instead of hanging it.
        ::alarm(120);
    }
    void cleanupTestCase() {
        g_pMainFrame = nullptr;
        ::alarm(0);
    }

    void init() {
        QFile::remove(ConfigDir() + QStringLiteral("/Morvane/Pacterra.conf"));
        QFile::remove(ConfigDir() + QStringLiteral("/Morvane.conf"));
    }

    void unfitFilesAreNeverRead_data() {
        QTest::addColumn<QString>("file");  // under the configuration directory
        QTest::addColumn<QString>("kind");  // "fifo", "zero" or "large"
        QTest::addColumn<QString>("why");
        QTest::addColumn<bool>("own");
        QTest::newRow("a pipe") << "Morvane/Pacterra.conf"
                                << "fifo"
                                << "it is a pipe, not a regular file" << true;
        QTest::newRow("a link to /dev/zero") << "Morvane/Pacterra.conf"
                                             << "zero"
                                             << "it is a device, not a regular file" << true;
        QTest::newRow("a file of 17 MB") << "Morvane/Pacterra.conf"
                                         << "large"
                                         << "it is larger than 16 MB (17825792 bytes)" << true;
        QTest::newRow("the organisation's file, a pipe") << "Morvane.conf"
                                                         << "fifo"
                                                         << "it is a pipe, not a regular file" << false;
    }
    void unfitFilesAreNeverRead() {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QFETCH(bool, own);
        const QString path = ConfigDir() + '/' + file;
        const QByteArray name = QFile::encodeName(path);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        else if (kind == "zero")
            QCOMPARE(::symlink("/dev/zero", name.constData()), 0);
        else
            QVERIFY(QFile(path).open(QIODevice::WriteOnly) && ::truncate(name.constData(), 17 << 20) == 0);
        m_frame.messages.clear();

        // The start-up options, twice (the Configure command loads them again), and their saving.
        CCaptureConfig config;
        config.LoadConfig();
        config.LoadConfig();
        QCOMPARE(config.minimized, 0);
        QCOMPARE(config.startCapture, 0);
        // The tip of the day and the bars' sizes.
        QCOMPARE(CDailyTipDlg::WantedAtStartup(), false);
        { CDailyTipDlg tip(nullptr, m_home.filePath(QStringLiteral("no-tips.txt"))); }
        QMainWindow window;
        CSizingControlBar bar(QStringLiteral("Bar"), &window, 1);
        bar.LoadBarSizes(QStringLiteral("Test"));
        bar.SaveBarSizes(QStringLiteral("Test"));
        QCOMPARE(m_frame.messages.size(), 1);
        QVERIFY2(m_frame.messages[0].startsWith("Cannot read the settings file \"" + path + "\": " + why),
                 qPrintable(m_frame.messages[0]));

        // (Saved as 1 in the program's own file only: a file that is not read keeps nothing beyond this run.)
        config.minimized = own ? 0 : 1;
        QVERIFY(config.SaveConfig(m_home.filePath(QStringLiteral("Config.cfg")).toStdString()));
        if (own) {
            QCOMPARE(m_frame.messages.size(), 2);
            QVERIFY2(m_frame.messages[1].startsWith("The start-up options could not be saved in \"" +
                                                    ConfigDir() + "/Morvane/Pacterra.conf\": " + why),
                     qPrintable(m_frame.messages[1]));
        } else {
            // The program's own file is still used.
            QCOMPARE(m_frame.messages.size(), 1);
            CCaptureConfig reloaded;
            reloaded.LoadConfig();
            QCOMPARE(reloaded.minimized, 1);
        }

        // Left as it was, and no copy made of it.
        struct stat st {};
        QCOMPARE(::lstat(name.constData(), &st), 0);
        if (kind == "fifo")
            QVERIFY(S_ISFIFO(st.st_mode));
        else if (kind == "zero")
            QVERIFY(S_ISLNK(st.st_mode));
        else
            QCOMPARE(qint64(st.st_size), qint64(17 << 20));
        QVERIFY(!QFileInfo::exists(path + ".damaged"));
    }
};

QTEST_MAIN(SettingsStoreTest)
#include "settings_store_test.moc"
