// The application's own boxes and commands: the About box's keys, and what the help and web commands show
// when the desktop cannot open their targets.
#include <QPushButton>
#include <QtTest>

#include "DesktopFakes.h"
#include "ModalDriver.h"
#include "app/AboutDlg.h"
#include "app/AppCommands.h"
#include "frontend/Addresses.h"
#include "ui/DataFiles.h"
#include "ui/LinkLabel.h"

class AppDialogsTest : public QObject {
    Q_OBJECT

private slots:
    // OK is the default button and has the focus when the box opens: Return closes it and opens nothing.
    void aboutBoxReturnCloses() {
        QList<QUrl> opened;
        const CLinkLabel::Opener previous =
            CLinkLabel::SetOpener([&opened](const QUrl& url, const CLinkLabel::Verdict&) {
                opened << url;
                return true;
            });
        CAboutDlg about;
        QWidget* focused = nullptr;
        ModalDriver driver;
        driver.Then<CAboutDlg>([&focused](CAboutDlg* box) {
            focused = QApplication::focusWidget();
            Press(box, Qt::Key_Return);
            if (box->isVisible())
                box->done(-1);  // still open: the test fails below instead of waiting
        });
        driver.Start();
        const int result = about.exec();
        CLinkLabel::SetOpener(previous);
        QVERIFY(driver.Finished());
        auto* ok = qobject_cast<QPushButton*>(focused);
        QVERIFY2(ok, focused ? focused->metaObject()->className() : "nothing has the focus");
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(opened.isEmpty());
    }

    // Help Contents, Tutorial and Home Page with a desktop opener but no browser: the opener takes the
    // address and fails a moment later; the command then shows the link label's report, naming the target.
    void helpCommandsReportLateFailure_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("target");
        QTest::newRow("Help Contents") << 0 << FindProgramDataFile("help/index.html");
        QTest::newRow("Tutorial") << 1 << FindProgramDataFile("help/tutorial.html");
        QTest::newRow("Home Page") << 2 << QString(kHomePageUrl);
    }
    void helpCommandsReportLateFailure() {
        QFETCH(int, command);
        QFETCH(QString, target);
        QVERIFY2(command == 2 || QFileInfo::exists(target), qPrintable(target));
        MessageCatcher messages;
        FakeOpenerProgram opener(3);
        const std::function<void()> commands[] = {OpenHelpContents, OpenTutorial, OpenHomePage};
        commands[command]();
        QVERIFY(messages.shown.isEmpty());  // the opener has taken it; its verdict comes later
        QTRY_COMPARE(messages.shown, QStringList{CLinkLabel::ErrorReport(31)});
        QCOMPARE(messages.details, QStringList{target});
        QCOMPARE(opener.Arguments().size(), 1);
    }
};

QTEST_MAIN(AppDialogsTest)
#include "app_dialogs_test.moc"
