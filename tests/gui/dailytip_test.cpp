// The tip of the day: where reading starts and continues, a changed file, odd files, the start-up setting,
// and the tips and help that ship beside the executable.
#include <QtTest>

#include <QCheckBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include "ui/DailyTipDlg.h"
#include "ui/DataFiles.h"

namespace {

QSettings Settings() {
    return QSettings(QStringLiteral("Morvane"), QStringLiteral("Pacterra"));
}

QPushButton* Button(QDialog& dlg, const QString& text) {
    for (QPushButton* b : dlg.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

}  // namespace

class DailyTipTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString WriteTips(const QByteArray& bytes) {
        const QString path = m_dir.filePath(QStringLiteral("tips.txt"));
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        // Never the user's own settings.
        QVERIFY(Settings().fileName().contains(QStringLiteral(".qttest")));
    }
    void init() { Settings().remove(QStringLiteral("Tip")); }

    void continuesSkipsAndWraps() {
        const QString path =
            WriteTips("; comment\nFirst tip\n\n  indented\n\tTabbed\nSecond tip\r\n;x\nThird tip\n");
        {
            CDailyTipDlg dlg(nullptr, path);
            QCOMPARE(dlg.Tip(), QStringLiteral("First tip"));
            dlg.NextTip();
            QCOMPARE(dlg.Tip(), QStringLiteral("Second tip"));
        }
        // The next run goes on after the last tip shown, and wraps at the end.
        {
            CDailyTipDlg dlg(nullptr, path);
            QCOMPARE(dlg.Tip(), QStringLiteral("Third tip"));
            dlg.NextTip();
            QCOMPARE(dlg.Tip(), QStringLiteral("First tip"));
        }
        // A changed file starts over although the position points elsewhere; so does a position past the end.
        Settings().setValue(QStringLiteral("Tip/TimeStamp"), QStringLiteral("Thu Jan  1 00:00:00 1970"));
        {
            CDailyTipDlg dlg(nullptr, path);
            QCOMPARE(dlg.Tip(), QStringLiteral("First tip"));
        }
        Settings().setValue(QStringLiteral("Tip/FilePos"), 100000);
        {
            CDailyTipDlg dlg(nullptr, path);
            QCOMPARE(dlg.Tip(), QStringLiteral("First tip"));
        }
    }

    void oddFiles_data() {
        QTest::addColumn<QByteArray>("content");  // "<missing>" for no file
        QTest::addColumn<QString>("tip");
        QTest::addColumn<bool>("next");  // "&Next Tip" enabled
        QTest::newRow("missing") << QByteArray("<missing>")
                                 << "Tips file does not exist in the prescribed directory" << false;
        QTest::newRow("empty") << QByteArray() << "Trouble reading the tips file" << false;
        QTest::newRow("only skipped lines")
            << QByteArray("; a\n b\n\n\tc\n") << "Trouble reading the tips file" << false;
        QTest::newRow("no final line end") << QByteArray("Only tip") << "Only tip" << true;
        QTest::newRow("not UTF-8") << QByteArray("Bad \xff\xfe bytes\n")
                                   << QString::fromUtf8("Bad \uFFFD\uFFFD bytes") << true;
    }
    void oddFiles() {
        QFETCH(QByteArray, content);
        QFETCH(QString, tip);
        QFETCH(bool, next);
        const QString path =
            content == "<missing>" ? m_dir.filePath(QStringLiteral("none.txt")) : WriteTips(content);
        {
            CDailyTipDlg dlg(nullptr, path);
            QCOMPARE(dlg.Tip(), tip);
            QCOMPARE(Button(dlg, QStringLiteral("&Next Tip"))->isEnabled(), next);
            dlg.NextTip();  // never hangs
            QCOMPARE(dlg.Tip(), tip);
        }
        QCOMPARE(Settings().contains(QStringLiteral("Tip/FilePos")), content != "<missing>");
    }

    void longLinesContinue() {
        // 1200 bytes of two-byte characters: the cap falls inside a character, which must not be split.
        QByteArray line;
        for (int i = 0; i < 600; ++i)
            line += "\xc3\xa9";  // é
        const QString path = WriteTips(line + "\nNext\n");
        CDailyTipDlg dlg(nullptr, path);
        const QString first = dlg.Tip();
        QVERIFY(first.size() >= 498 && first.size() <= 500);
        QVERIFY(!first.contains(QChar(0xFFFD)));
        dlg.NextTip();
        QCOMPARE(first.size() + dlg.Tip().size(), 600);
        QVERIFY(!dlg.Tip().contains(QChar(0xFFFD)));
        dlg.NextTip();
        QCOMPARE(dlg.Tip(), QStringLiteral("Next"));
    }

    void startUpWrittenOnlyByClose() {
        const QString path = WriteTips("A tip\n");
        QVERIFY(!CDailyTipDlg::WantedAtStartup());
        auto run = [&](bool tick, bool close) {
            CDailyTipDlg dlg(nullptr, path);
            dlg.show();
            dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            auto* box = dlg.findChild<QCheckBox*>();
            QCOMPARE(box->text(), QStringLiteral("&Show Tips on StartUp"));
            if (box->isChecked() != tick)
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QCOMPARE(box->isChecked(), tick);
            if (close)
                QTest::mouseClick(Button(dlg, QStringLiteral("&Close")), Qt::LeftButton);
            else
                QTest::keyClick(&dlg, Qt::Key_Escape);
            QVERIFY(!dlg.isVisible());
        };
        run(true, false);  // ticked, then Escape: nothing written
        QVERIFY(!Settings().contains(QStringLiteral("Tip/StartUp")));
        run(true, true);
        QCOMPARE(Settings().value(QStringLiteral("Tip/StartUp")).toInt(), 0);
        QVERIFY(CDailyTipDlg::WantedAtStartup());
        {
            CDailyTipDlg dlg(nullptr, path);
            QVERIFY(dlg.ShowAtStartup());
        }
        run(false, true);
        QCOMPARE(Settings().value(QStringLiteral("Tip/StartUp")).toInt(), 1);

        if (qEnvironmentVariableIsSet("PACTERRA_SHOTS")) {
            CDailyTipDlg dlg(nullptr, FindProgramDataFile(QStringLiteral("tips.txt")));
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            QDir().mkpath(QStringLiteral(PACTERRA_SHOTS_DIR));
            dlg.grab().save(QStringLiteral(PACTERRA_SHOTS_DIR "/tip-of-the-day.png"));
        }
    }

    void shippedTipsAndHelp() {
        // Copied beside the executables at build time, where the program looks first.
        const QString tips = FindProgramDataFile(QStringLiteral("tips.txt"));
        QCOMPARE(QFileInfo(tips).absolutePath(), QCoreApplication::applicationDirPath());
        QSet<QString> seen;
        {
            CDailyTipDlg dlg(nullptr, tips);
            while (!seen.contains(dlg.Tip())) {
                QVERIFY2(dlg.Tip().size() < 999, qPrintable(dlg.Tip()));  // never cut in two
                seen.insert(dlg.Tip());
                dlg.NextTip();
            }
        }
        QVERIFY(seen.size() >= 20);

        // Every page the help links to is there; nothing is fetched from elsewhere.
        const QString index = FindProgramDataFile(QStringLiteral("help/index.html"));
        QVERIFY(QFileInfo::exists(index));
        QVERIFY(QFileInfo::exists(FindProgramDataFile(QStringLiteral("help/tutorial.html"))));
        const QDir help = QFileInfo(index).dir();
        static const QRegularExpression ref(QStringLiteral("(?:href|src)=\"([^\"#]*)[^\"]*\""));
        for (const QString& name : help.entryList({QStringLiteral("*.html")})) {
            QFile page(help.filePath(name));
            QVERIFY(page.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(page.readAll());
            for (auto it = ref.globalMatch(html); it.hasNext();) {
                const QString target = it.next().captured(1);
                if (target.isEmpty() || target.startsWith(QStringLiteral("mailto:")) ||
                    target.startsWith(QStringLiteral("https://pacterra.example/")))
                    continue;
                QVERIFY2(!target.contains(QStringLiteral("://")), qPrintable(name + ": " + target));
                QVERIFY2(help.exists(target), qPrintable(name + ": " + target));
            }
        }
    }
};

QTEST_MAIN(DailyTipTest)
#include "dailytip_test.moc"
