// The titles the window system shows for the program's windows, read back from the X server by a client of
// its own: each dialog its own title, message boxes "Pacterra", and nothing appended by the toolkit. Runs
// on a real X server (Xvfb); pictures of the screen go to screenshots/titles/ in the build tree.
#include <xcb/xcb.h>

#include <QDir>
#include <QDockWidget>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "ModalDriver.h"
#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/TrawlerApp.h"
#include "app/WindowFrontEnd.h"
#include "config/CaptureConfig.h"
#include "dialogs/AdapterDlg.h"
#include "dialogs/ConfigDlg.h"
#include "dialogs/DialogPrompt.h"
#include "dialogs/FilterItemDlg.h"
#include "ui/DailyTipDlg.h"

namespace {

const QString kShots = QStringLiteral(PACTERRA_SHOTS_DIR);

// Reads window properties over a connection of its own, as a window manager or a taskbar would.
class XClient {
public:
    XClient() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~XClient() { xcb_disconnect(m_c); }
    bool Ok() const { return xcb_connection_has_error(m_c) == 0; }

    // _NET_WM_NAME (what desktops show) and WM_NAME, each as the server holds it ("" when unset).
    QString Property(WId window, const char* name) {
        xcb_get_property_cookie_t cookie = xcb_get_property(m_c, 0, static_cast<xcb_window_t>(window),
                                                            Atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(m_c, cookie, nullptr);
        if (!reply)
            return {};
        const QString value = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                                xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

private:
    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return atom;
    }

    xcb_connection_t* m_c;
};

// Both names of `w`'s window agree with `title` (the server is asked until it does, for a second).
void CheckTitle(XClient& x, QWidget* w, const QString& title, const QString& shot) {
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTRY_COMPARE_WITH_TIMEOUT(x.Property(w->winId(), "_NET_WM_NAME"), title, 1000);
    QCOMPARE(x.Property(w->winId(), "WM_NAME"), title);
    QTest::qWait(100);  // a window manager draws its frame
    QGuiApplication::primaryScreen()->grabWindow(0).save(kShots + "/" + shot + ".png");
}

}  // namespace

class WindowTitlesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X server (run under xvfb-run)");
        QVERIFY(m_x.Ok());
        QDir().mkpath(kShots);
        m_frame = std::make_unique<CMainFrame>();
        LoadStartupConfiguration();
        m_frame->show();
    }

    void cleanupTestCase() {
        g_pMainFrame = nullptr;
        m_frame.reset();
    }

    void mainWindow() { CheckTitle(m_x, m_frame.get(), "Pacterra Packet Sniffer", "main"); }

    void dialogs_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("title");
        QTest::newRow("about") << "about"
                               << "About Pacterra Packet Sniffer";
        QTest::newRow("rule") << "rule"
                              << "Filter Item";
        QTest::newRow("config") << "config"
                                << "Configuration for Packets Capturing";
        QTest::newRow("adapter") << "adapter"
                                 << "Select a network adapter for Pacterra to capture ...";
        QTest::newRow("tip") << "tip"
                             << "Tip of the Day";
    }
    void dialogs() {
        QFETCH(QString, which);
        QFETCH(QString, title);
        CCaptureConfig config;
        config.ApplyDefaults();
        std::unique_ptr<QDialog> dialog;
        if (which == "about")
            dialog = std::make_unique<CAboutDlg>(m_frame.get());
        else if (which == "rule")
            dialog = std::make_unique<CFilterItemDlg>(m_frame.get());
        else if (which == "config")
            dialog = std::make_unique<CConfigDlg>(config, m_frame.get());
        else if (which == "adapter")
            dialog = std::make_unique<CAdapterDlg>(
                config, m_frame.get(), [](std::vector<AdapterRow>&, std::string&) { return true; });
        else
            dialog = std::make_unique<CDailyTipDlg>(m_frame.get());
        dialog->show();
        CheckTitle(m_x, dialog.get(), title, which);
    }

    // The message boxes of the dialogs and of the main window's prompt service.
    void messageBoxes_data() {
        QTest::addColumn<bool>("throughFrame");
        QTest::newRow("dialog message") << false;
        QTest::newRow("main window message") << true;
    }
    void messageBoxes() {
        QFETCH(bool, throughFrame);
        ModalDriver driver;
        driver.Then<QMessageBox>([this](QMessageBox* box) {
            CheckTitle(m_x, box, "Pacterra", "message");
            box->button(QMessageBox::Ok)->click();
        });
        driver.Start();
        if (throughFrame)
            m_frame->FrontEnd()->Prompt("Captured packets file opened successfully!", MsgButtons::Ok, {});
        else
            AskUser(m_frame.get(), "Please input a name for the Filter Item!");
        QVERIFY(driver.Finished());
    }

    // A bar taken out of the main window is a window of its own, under the bar's caption.
    void floatingBar() {
        QDockWidget* bar = m_frame->findChild<QDockWidget*>();
        QVERIFY(bar);
        bar->setFloating(true);
        QVERIFY(!bar->windowTitle().isEmpty());
        CheckTitle(m_x, bar, bar->windowTitle(), "bar");
        bar->setFloating(false);
    }

private:
    XClient m_x;
    std::unique_ptr<CMainFrame> m_frame;
};

int main(int argc, char** argv) {
    // The settings and Config.cfg of this test only; no tip at start-up.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    // The program's own application object: it names the program for the window system.
    int appArgc = 1;
    CTrawlerApp app(appArgc, argv);
    WindowTitlesTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "window_titles_test.moc"
