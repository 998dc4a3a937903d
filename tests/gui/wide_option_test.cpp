// The wider intake's option in the window: the check box of the configuration dialog and where it is kept,
// the "Not kept" status pane, and what the rule dialog says about IPv6.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "ModalDriver.h"
#include "app/NotKeptPane.h"
#include "capture/PacketStore.h"
#include "config/ConfigFile.h"
#include "dialogs/ConfigDlg.h"
#include "dialogs/FilterItemDlg.h"

namespace {

QByteArray ReadFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class WideOptionTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath("xdg").toUtf8());
        QSettings("Morvane", "Pacterra").clear();
        QFile::remove(QString::fromStdString(ConfigFilePath()));
    }

    // Off by default; on after the box is ticked, in the settings file under its own name, while
    // Config.cfg keeps exactly the bytes it has without the option.
    void optionIsKeptInTheSettingsNotInConfigCfg() {
        QByteArray withoutOption;
        for (const bool tick : {false, true}) {
            ModalDriver driver;
            driver.Then<CConfigDlg>([tick](CConfigDlg* dlg) {
                auto* box = dlg->findChild<QCheckBox*>("wideIntake");
                QVERIFY(box);
                QCOMPARE(box->text(), QStringLiteral("Also keep IPv6, VLAN-tagged and Linux cooked frames"));
                QVERIFY(!box->isChecked());
                if (tick)
                    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, 8));
                Press(dlg, Qt::Key_Return);
            });
            driver.Start();
            CCaptureConfig config;
            QVERIFY(EditConfiguration(config, nullptr));
            QVERIFY(driver.Finished());
            QCOMPARE(config.wideIntake, tick ? 1 : 0);
            QCOMPARE(QSettings("Morvane", "Pacterra").value(kWideIntakeSetting).toInt(), tick ? 1 : 0);
            const QByteArray bytes = ReadFile(ConfigFilePath());
            if (!tick)
                withoutOption = bytes;
            QCOMPARE(bytes, withoutOption);
            if (tick) {
                CCaptureConfig loaded;
                loaded.LoadConfig();
                QCOMPARE(loaded.wideIntake, 1);
                // Switched off again for the next cases.
                QSettings("Morvane", "Pacterra").setValue(kWideIntakeSetting, 0);
            }
        }
    }

    void notKeptPaneCountsAndPointsToTheOption() {
        g_config.wideIntake = 0;
        g_notKeptCount = 0;
        CNotKeptPane pane;
        QCOMPARE(pane.text(), QStringLiteral("Not kept: 0"));
        g_notKeptCount = 1234;
        pane.Update();
        QCOMPARE(pane.text(), QStringLiteral("Not kept: 1234"));
        QVERIFY(pane.toolTip().contains("Also keep IPv6, VLAN-tagged and Linux cooked frames"));
        g_config.wideIntake = 1;
        pane.Update();
        QVERIFY(!pane.toolTip().contains("Also keep"));
        g_notKeptCount = 0;
        g_config.wideIntake = 0;
    }

    void ruleDialogSaysWhatARuleDoesToIpv6() {
        struct Case {
            int wide, anyIp;
            bool shown;
            const char* says;
        } cases[] = {
            {0, 1, false, ""},
            {1, 1, true, "applies to them too"},
            {1, 0, true, "never applies to them"},
        };
        for (const Case& c : cases) {
            g_config.wideIntake = c.wide;
            CFilterItemDlg dlg;
            dlg.workingItem.name = QStringLiteral("rule").toStdString();
            dlg.workingItem.anyIp = c.anyIp;
            dlg.workingItem.anyPort = 1;
            dlg.workingItem.accept = 1;
            dlg.workingItem.ip[0] = 10;
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            auto* note = dlg.findChild<QLabel*>("ipv6Note");
            QVERIFY(note);
            QCOMPARE(note->isVisible(), c.shown);
            if (c.shown)
                QVERIFY2(note->text().contains(c.says), qPrintable(note->text()));
            dlg.hide();
        }
        g_config.wideIntake = 0;
    }
};

QTEST_MAIN(WideOptionTest)
#include "wide_option_test.moc"
