// The application's own boxes and commands: the About box's keys, and what the help and web commands show
// when the desktop cannot open their targets.
#include <QPushButton>
#include <QtTest>

#include "ModalDriver.h"
#include "app/AboutDlg.h"
#include "ui/LinkLabel.h"

class AppDialogsTest : public QObject {
    Q_OBJECT

private slots:
    // OK is the default button and has the focus when the box opens: Return closes it and opens nothing.
    void aboutBoxReturnCloses() {
        QList<QUrl> opened;
        const CLinkLabel::Opener previous = CLinkLabel::SetOpener([&opened](const QUrl& url) {
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
};

QTEST_MAIN(AppDialogsTest)
#include "app_dialogs_test.moc"
