// The link label: its colours as painted, hover by real mouse moves, cursor and tool tip, what a click or a
// key opens (with the desktop opener replaced), and how a target becomes an address.
#include <QtTest>

#include <QDesktopServices>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include "DesktopFakes.h"
#include "ui/LinkLabel.h"

namespace {

// Counts the pixels of the label drawn exactly in `color` (the underline and glyph cores are solid).
int PixelsOf(QWidget* w, const QColor& color) {
    const QImage img = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y).rgb() == color.rgb();
    return n;
}

// Replaces the desktop opener for one test and records what it was asked to open.
struct FakeOpener {
    explicit FakeOpener(bool succeed) {
        previous = CLinkLabel::SetOpener([this, succeed](const QUrl& url, const CLinkLabel::Verdict&) {
            opened << url;
            return succeed;
        });
    }
    ~FakeOpener() { CLinkLabel::SetOpener(previous); }
    QList<QUrl> opened;
    CLinkLabel::Opener previous;
};

// Takes the addresses that the desktop services are asked to open, as a URL handler.
class UrlCatcher : public QObject {
    Q_OBJECT

public slots:
    void open(const QUrl& url) { urls << url; }

public:
    QList<QUrl> urls;
};

}  // namespace

class LinkLabelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void coloursFollowHoverAndVisited() {
        QWidget window;
        window.setStyleSheet(QStringLiteral("background: white"));
        auto* layout = new QVBoxLayout(&window);
        auto* link = new CLinkLabel(QStringLiteral("Pacterra home page"));
        link->SetTarget(QStringLiteral("https://pacterra.example/"));
        layout->addWidget(link);
        layout->addStretch();
        window.resize(300, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseMove(&window, QPoint(290, 110));

        QCOMPARE(link->CurrentColor(), QColor(0, 0, 238));
        QVERIFY(PixelsOf(link, QColor(0, 0, 238)) > 20);
        QList<QPixmap> shots{link->grab()};

        QTest::mouseMove(link, link->rect().center());
        QTRY_VERIFY(link->IsHovering());
        QCOMPARE(link->CurrentColor(), link->HoverColor());
        QVERIFY(PixelsOf(link, link->HoverColor()) > 20);
        QCOMPARE(PixelsOf(link, QColor(0, 0, 238)), 0);
        shots << link->grab();

        // Leaving restores the link colour at once.
        QTest::mouseMove(&window, QPoint(290, 110));
        QTRY_VERIFY(!link->IsHovering());
        QVERIFY(PixelsOf(link, QColor(0, 0, 238)) > 20);

        link->SetVisited(true);
        QVERIFY(PixelsOf(link, QColor(85, 26, 139)) > 20);
        shots << link->grab();
        if (qEnvironmentVariableIsSet("PACTERRA_SHOTS")) {
            // Link, hover and visited, one above the other, enlarged.
            QPixmap sheet(link->width() + 8, 3 * (link->height() + 4));
            sheet.fill(Qt::white);
            QPainter p(&sheet);
            for (int i = 0; i < 3; ++i)
                p.drawPixmap(4, 2 + i * (link->height() + 4), shots[i]);
            p.end();
            QDir().mkpath(QStringLiteral(PACTERRA_SHOTS_DIR));
            sheet.scaled(sheet.size() * 3).save(QStringLiteral(PACTERRA_SHOTS_DIR "/link-label.png"));
        }

        // Without underline the solid line under the text is gone: far fewer pixels in the exact colour.
        const int underlined = PixelsOf(link, QColor(85, 26, 139));
        link->SetUnderline(false);
        QVERIFY(!link->font().underline());
        QVERIFY(PixelsOf(link, QColor(85, 26, 139)) < underlined);
    }

    void cursorToolTipAndTextFromTarget() {
        CLinkLabel empty;
        empty.SetTarget(QStringLiteral("support@pacterra.example"));
        QCOMPARE(empty.text(), QStringLiteral("support@pacterra.example"));
        QCOMPARE(empty.toolTip(), QStringLiteral("support@pacterra.example"));
        QCOMPARE(empty.cursor().shape(), Qt::PointingHandCursor);

        CLinkLabel textOnly(QStringLiteral("https://pacterra.example/faq/"));
        QCOMPARE(textOnly.Target(), QStringLiteral("https://pacterra.example/faq/"));
        QCOMPARE(textOnly.toolTip(), QStringLiteral("https://pacterra.example/faq/"));

        // Markup in a target is shown as text, never interpreted.
        CLinkLabel markup(QStringLiteral("<b>x</b>"));
        QCOMPARE(markup.textFormat(), Qt::PlainText);
    }

    void targetsBecomeAddresses_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("url");  // empty: nothing handed to the desktop
        QTest::addColumn<int>("code");
        QTest::newRow("web") << "https://pacterra.example/"
                             << "https://pacterra.example/" << 33;
        QTest::newRow("mailto") << "mailto:sales@pacterra.example"
                                << "mailto:sales@pacterra.example" << 33;
        QTest::newRow("bare mail") << "support@pacterra.example"
                                   << "mailto:support@pacterra.example" << 33;
        QTest::newRow("www") << "www.pacterra.example"
                             << "http://www.pacterra.example" << 33;
        QTest::newRow("empty") << ""
                               << "" << 2;
        QTest::newRow("blank") << "   "
                               << "" << 2;
        QTest::newRow("missing file") << "@DIR@/nothing.html"
                                      << "" << 2;
        QTest::newRow("missing folder") << "@DIR@/no/such/index.html"
                                        << "" << 3;
        QTest::newRow("file") << "@DIR@/index.html"
                              << "file://@DIR@/index.html" << 33;
    }
    void targetsBecomeAddresses() {
        QFETCH(QString, target);
        QFETCH(QString, url);
        QFETCH(int, code);
        QTemporaryDir dir;
        QFile page(dir.filePath(QStringLiteral("index.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.close();
        target.replace(QStringLiteral("@DIR@"), dir.path());
        url.replace(QStringLiteral("@DIR@"), dir.path());

        FakeOpener opener(true);
        QCOMPARE(CLinkLabel::OpenTarget(target), code);
        if (url.isEmpty()) {
            QVERIFY(opener.opened.isEmpty());
        } else {
            QCOMPARE(opener.opened.size(), 1);
            QCOMPARE(opener.opened.first().toString(), url);
        }
    }

    void clickAndKeysOpen() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* link = new CLinkLabel(QStringLiteral("FAQ"));
        link->SetTarget(QStringLiteral("https://pacterra.example/faq/"));
        layout->addWidget(link);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        {
            FakeOpener opener(true);
            QTest::mouseClick(link, Qt::RightButton, {}, link->rect().center());
            QVERIFY(opener.opened.isEmpty());
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QCOMPARE(opener.opened.size(), 1);
            QVERIFY(link->IsVisited());

            // Reachable and usable without a mouse.
            link->setFocus();
            QTest::keyClick(link, Qt::Key_Return);
            QTest::keyClick(link, Qt::Key_Space);
            QCOMPARE(opener.opened.size(), 3);
        }
        {
            // A failed open (the report goes to standard error without a main window) clears the visited
            // state.
            FakeOpener opener(false);
            QSignalSpy result(link, &CLinkLabel::targetOpened);
            QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
            QCOMPARE(result.size(), 1);
            QCOMPARE(result.first().first().toInt(), 31);
            QVERIFY(!link->IsVisited());
            QCOMPARE(link->CurrentColor(), QColor(0, 0, 238));
        }
        QVERIFY(CLinkLabel::ErrorReport(31).startsWith(
            QStringLiteral("Unable to open hyperlink:\n\nThere is no")));
        QCOMPARE(CLinkLabel::ErrorReport(99),
                 QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (99) occurred."));
    }

    // The desktop's opener program starts, and only its exit status tells whether it opened the address
    // (no browser: it fails after it started). The window waits for it without blocking and shows the
    // failure report then; the link shows as not visited. Without the program the desktop services open it.
    void openerExitStatus_data() {
        QTest::addColumn<int>("status");  // -1: no opener program
        QTest::addColumn<int>("result");  // reported later; 0 for none
        QTest::newRow("opened") << 0 << 0;
        QTest::newRow("no browser") << 3 << 31;
        QTest::newRow("action failed") << 4 << 31;
        QTest::newRow("file not found") << 2 << 2;
        QTest::newRow("no opener program") << -1 << 0;
    }
    void openerExitStatus() {
        QFETCH(int, status);
        QFETCH(int, result);
        const QString url = QStringLiteral("https://pacterra.example/?a=1&b=two words");
        MessageCatcher messages;
        FakeOpenerProgram program(status);
        // Where there is no opener program, the desktop services are asked (and record the address here).
        UrlCatcher services;
        if (status < 0)
            QDesktopServices::setUrlHandler(QStringLiteral("https"), &services, "open");
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* link = new CLinkLabel(QStringLiteral("Home"));
        link->SetTarget(url);
        layout->addWidget(link);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QSignalSpy opened(link, &CLinkLabel::targetOpened);
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened.first().first().toInt() > 32);  // handed over: the click returns at once
        QVERIFY(link->IsVisited());
        if (status < 0) {
            QCOMPARE(services.urls, QList<QUrl>{CLinkLabel::TargetToUrl(url)});
        } else {
            // One argument, as encoded, never split by a shell.
            QTRY_COMPARE(program.Arguments(),
                         QStringList{CLinkLabel::TargetToUrl(url).toString(QUrl::FullyEncoded)});
        }
        if (result) {
            QTRY_COMPARE(opened.size(), 2);
            QCOMPARE(opened.last().first().toInt(), result);
            QCOMPARE(messages.shown, QStringList{CLinkLabel::ErrorReport(result)});
            QVERIFY(!link->IsVisited());
        } else {
            QTest::qWait(300);  // time for an exit status to arrive
            QCOMPARE(opened.size(), 1);
            QCOMPARE(messages.shown, QStringList{});
            QVERIFY(link->IsVisited());
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    // The help and web commands open through the same routine: a late failure names what was opened.
    void commandReportsLateFailure() {
        MessageCatcher messages;
        FakeOpenerProgram program(4);
        CLinkLabel::OpenAndReport(QStringLiteral("https://pacterra.example/"),
                                  QStringLiteral("https://pacterra.example/"));
        QVERIFY(messages.shown.isEmpty());
        QTRY_COMPARE(messages.shown, QStringList{CLinkLabel::ErrorReport(31)});
        QCOMPARE(messages.details, QStringList{QStringLiteral("https://pacterra.example/")});
    }
};

QTEST_MAIN(LinkLabelTest)
#include "linklabel_test.moc"
