// The payload text: the highlighting scans on their own, the control's formats, text, menu and keys, and the
// main view that feeds it from the packet store.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include <stdexcept>
#include <string>
#include <string_view>

#include "../unit/FrameBuilder.h"
#include "KeptKeysTable.h"
#include "app/TrawlerView.h"
#include "capture/PacketStore.h"
#include "views/PayloadScan.h"
#include "views/PayloadTextCtrl.h"

Q_DECLARE_METATYPE(std::vector<PayloadRun>)

namespace {

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

// Short names of the kinds, in the order of their values.
const char* KindName(PayloadKind kind) {
    static const char* const kNames[] = {"open", "close",   "body", "text", "tagopen", "tagclose",
                                         "tag",  "content", "name", "attr", "kw"};
    return kNames[static_cast<size_t>(kind)];
}

// Tokens as `kind@start'text'`, separated by blanks: the tables below read like the text they describe.
QString Render(std::string_view text, const std::vector<PayloadToken>& tokens) {
    QStringList parts;
    for (const PayloadToken& t : tokens) {
        if (t.end < t.start || t.end > text.size())
            return QStringLiteral("token [%1, %2) outside the text").arg(t.start).arg(t.end);
        parts << QStringLiteral("%1@%2'%3'")
                     .arg(QLatin1String(KindName(t.kind)))
                     .arg(t.start)
                     .arg(QString::fromLatin1(text.substr(t.start, t.end - t.start)));
    }
    return parts.join(QLatin1Char(' '));
}

// One letter per shown character for how it looks: '.' base, 'K' black bold, 'B' blue, 'N' tag name
// (RGB(153,51,51) bold), 'A' attribute name (RGB(255,51,0)), 'G' comment delimiter (RGB(0,204,0)),
// 'g' comment body (RGB(0,153,0)), '?' anything else. Lines are separated by '\n'.
QChar StyleLetter(const QTextCharFormat& format) {
    struct Look {
        QColor color;
        bool bold;
        char16_t letter;
    };
    static const Look kLooks[] = {{QColor(0, 0, 0), false, u'.'},    {QColor(0, 0, 0), true, u'K'},
                                  {QColor(0, 0, 255), false, u'B'},  {QColor(153, 51, 51), true, u'N'},
                                  {QColor(255, 51, 0), false, u'A'}, {QColor(0, 204, 0), false, u'G'},
                                  {QColor(0, 153, 0), false, u'g'}};
    for (const Look& look : kLooks)
        if (format.foreground().color() == look.color && (format.fontWeight() >= QFont::Bold) == look.bold)
            return look.letter;
    return u'?';
}

QString Styles(const QPlainTextEdit& ctrl) {
    QString out;
    for (QTextBlock block = ctrl.document()->begin(); block.isValid(); block = block.next()) {
        if (block != ctrl.document()->begin())
            out += u'\n';
        QString line(block.length() - 1, u'?');  // the length counts the line break
        for (const QTextLayout::FormatRange& range : block.textFormats())
            for (int i = 0; i < range.length; ++i)
                line[range.start + i] = StyleLetter(range.format);
        out += line;
    }
    return out;
}

// The control's text with its line breaks as '\n' and every other character as held.
QString ShownText(const QPlainTextEdit& ctrl) {
    return ctrl.document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
}

void Show(CPayloadTextCtrl& ctrl, const QByteArray& bytes, bool highlight = true) {
    ctrl.ShowText(bytes.constData(), bytes.size(), highlight);
}

void Select(QPlainTextEdit& ctrl, int from, int to) {
    QTextCursor cursor(ctrl.document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    ctrl.setTextCursor(cursor);
}

// What a context menu showed: its actions' texts, with "(off)" after a disabled one.
struct MenuSeen {
    bool appeared = false;
    bool triggered = false;
    QStringList actions;
};

// Opens the control's context menu as a right click would, triggers the action with command number `command`
// (none for 0) and closes the menu.
MenuSeen OpenContextMenu(QPlainTextEdit& ctrl, int command = 0) {
    MenuSeen seen;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        seen.appeared = true;
        for (QAction* action : menu->actions()) {
            seen.actions << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
            if (command && action->data().toInt() == command) {
                action->trigger();
                seen.triggered = true;
            }
        }
        menu->close();
    });
    const QPoint at(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, ctrl.viewport()->mapToGlobal(at));
    QApplication::sendEvent(ctrl.viewport(), &event);
    QCoreApplication::processEvents();  // runs the timer when no menu opened
    return seen;
}

// Stores a TCP frame carrying `payload` (with `padding` bytes after the IP packet) and returns its index.
size_t StoreFrameWithPayload(const QByteArray& payload, int padding = 0) {
    FrameSpec shape;
    shape.payload = payload.toStdString();
    shape.padding = padding;
    const std::vector<uint8_t> frame = BuildFrame(shape);
    size_t index = SIZE_MAX;
    if (!StorePacket({}, frame.data(), static_cast<int>(frame.size()), static_cast<int>(payload.size()),
                     &index))
        qFatal("the store refused a test frame");
    return index;
}

// The header names a server or browser sends, as the keyword scan must know them.
const char kHeaderNames[] =
    "Accept-Charset Accept-Encoding Accept-Language Accept-Ranges Accept Age Allow Authorization "
    "Cache-Control "
    "Connection Content-Encoding Content-Language Content-Length Content-Location Content-MD5 Content-Range "
    "Content-Type Date ETag Expect Expires From Host If-Match If-Modified-Since If-None-Match If-Range "
    "If-Unmodified-Since Last-Modified Location Max-Forwards Pragma Proxy-Authenticate Proxy-Authorization "
    "Range Referer Retry-After Server TE Trailer Transfer-Encoding Upgrade User-Agent Vary Via Warning "
    "WWW-Authenticate Cookie Keep-Alive Set-Cookie P3P HMServer X-Cache X-Cache-Lookup Content-Disposition "
    "X-Powered-By";

// A window holding the control and a button that can take the focus from it, shown and active.
struct TestWindow {
    QWidget window;
    CPayloadTextCtrl* ctrl = new CPayloadTextCtrl(&window);
    QPushButton* button = new QPushButton(QStringLiteral("elsewhere"), &window);

    TestWindow() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(ctrl);
        layout->addWidget(button);
        window.show();
        window.activateWindow();
    }
    // Gives `widget` the keyboard focus; false when it does not get it.
    bool Focus(QWidget* widget) {
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        widget->setFocus();
        return QTest::qWaitFor([widget] { return widget->hasFocus(); });
    }
};

}  // namespace

class PayloadTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // The scans on their own.
    void commentScan_data();
    void commentScan();
    void markupScan_data();
    void markupScan();
    void tagBodyScan_data();
    void tagBodyScan();
    void keywordScan_data();
    void keywordScan();
    void everyHeaderName_data();
    void everyHeaderName();
    void runsComeInPaintingOrder();
    void flattenRuns_data();
    void flattenRuns();
    void shownText_data();
    void shownText();

    // The control.
    void highlighting_data();
    void highlighting();
    void baseFormatEverywhere();
    void withoutHighlighting();
    void latin1Bytes();
    void onlyLineBreaksBreakLines();
    void newTextReplacesOld();
    void contextMenuTexts();
    void contextMenuCopies();
    void contextMenuSelectsAll();
    void noContextMenuWhenEmpty();
    void copyKeys_data();
    void copyKeys();
    void selectAllKey();
    void shortcutsStayInside_data();
    void shortcutsStayInside();
    void navigationKeysStillWork();

    // The main view.
    void viewerFillsView();
    void showPayloadText_data();
    void showPayloadText();
    void showPayloadHighlights();
    void showPayloadEmpty();
    void showPayloadOutOfRange_data();
    void showPayloadOutOfRange();
};

void PayloadTest::initTestCase() {
    QApplication::clipboard()->clear();
}

void PayloadTest::init() {
    ResetCaptureStore();
}

// ---------------------------------------------------------------------------------------------------------
// Scans

void PayloadTest::commentScan_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("no comment") << QByteArray("plain") << "text@0'plain'";
    QTest::newRow("comment") << QByteArray("a<!-- b -->c")
                             << "text@0'a' open@1'<!--' body@5' b ' close@8'-->' text@11'c'";
    QTest::newRow("unclosed") << QByteArray("<!-- never closed") << "open@0'<!--' body@4' never closed'";
    QTest::newRow("opener at the end") << QByteArray("a<!--") << "text@0'a' open@1'<!--'";
    QTest::newRow("closer without opener") << QByteArray("x --> y") << "body@0'x ' close@2'-->' text@5' y'";
    QTest::newRow("second opener") << QByteArray("<!-- a <!-- b -->")
                                   << "open@0'<!--' text@4' a ' open@7'<!--' body@11' b ' close@14'-->'";
    QTest::newRow("closer overlapping opener") << QByteArray("<!-->") << "open@0'<!--' body@4'>'";
    QTest::newRow("empty comment") << QByteArray("<!---->") << "open@0'<!--' close@4'-->'";
    QTest::newRow("two closers") << QByteArray("-->-->") << "close@0'-->' close@3'-->'";
    QTest::newRow("cut opener") << QByteArray("x<!-") << "text@0'x<!-'";
    QTest::newRow("cut closer") << QByteArray("<!--x--") << "open@0'<!--' body@4'x--'";
    QTest::newRow("text after closed comment")
        << QByteArray("<!--a-->b<!--c")
        << "open@0'<!--' body@4'a' close@5'-->' text@8'b' open@9'<!--' body@13'c'";
}

void PayloadTest::commentScan() {
    QFETCH(QByteArray, text);
    QFETCH(QString, tokens);
    QCOMPARE(Render(View(text), ScanComments(View(text))), tokens);
}

void PayloadTest::markupScan_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("no markup") << QByteArray("no tags here") << "content@0'no tags here'";
    QTest::newRow("tag") << QByteArray("<html>") << "tagopen@0'<' tag@1'html' tagclose@5'>'";
    QTest::newRow("end tag") << QByteArray("</a>") << "tagopen@0'</' tag@2'a' tagclose@3'>'";
    QTest::newRow("declaration") << QByteArray("<!DOCTYPE html>")
                                 << "tagopen@0'<!' tag@2'DOCTYPE html' tagclose@14'>'";
    QTest::newRow("processing instruction")
        << QByteArray("<?xml v?>") << "tagopen@0'<?' tag@2'xml v' tagclose@7'?>'";
    QTest::newRow("empty element") << QByteArray("<br/>") << "tagopen@0'<' tag@1'br' tagclose@3'/>'";
    QTest::newRow("content around") << QByteArray("a<b>c")
                                    << "content@0'a' tagopen@1'<' tag@2'b' tagclose@3'>' content@4'c'";
    QTest::newRow("unterminated tag")
        << QByteArray("x <unterminated") << "content@0'x ' tagopen@2'<' tag@3'unterminated'";
    QTest::newRow("closer without opener") << QByteArray("x > y") << "tag@0'x ' tagclose@2'>' content@3' y'";
    QTest::newRow("opener after opener")
        << QByteArray("<<a>") << "tagopen@0'<' tagopen@1'<' tag@2'a' tagclose@3'>'";
    QTest::newRow("slash alone") << QByteArray("a/b?c") << "content@0'a/b?c'";
    QTest::newRow("lone opener") << QByteArray("<") << "tagopen@0'<'";
    QTest::newRow("opener cut at the end") << QByteArray("a<") << "content@0'a' tagopen@1'<'";
    QTest::newRow("comments pass through") << QByteArray("<a><!-- <b> --><c>")
                                           << "tagopen@0'<' tag@1'a' tagclose@2'>' open@3'<!--' body@7' <b> "
                                              "' close@12'-->' tagopen@15'<' tag@16'c' "
                                              "tagclose@17'>'";
}

void PayloadTest::markupScan() {
    QFETCH(QByteArray, text);
    QFETCH(QString, tokens);
    QCOMPARE(Render(View(text), ScanMarkup(View(text), ScanComments(View(text)))), tokens);
}

void PayloadTest::tagBodyScan_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("name only") << QByteArray("<html>")
                               << "tagopen@0'<' name@1'html' tag@1'html' tagclose@5'>'";
    QTest::newRow("attribute") << QByteArray("<a href=x>")
                               << "tagopen@0'<' name@1'a' attr@3'href' tag@1'a href=x' tagclose@9'>'";
    QTest::newRow("two attributes")
        << QByteArray("<img src=a alt=b>")
        << "tagopen@0'<' name@1'img' attr@5'src' attr@11'alt' tag@1'img src=a alt=b' tagclose@16'>'";
    QTest::newRow("two blanks") << QByteArray("<p  class=x>")
                                << "tagopen@0'<' name@1'p' attr@4'class' tag@1'p  class=x' tagclose@11'>'";
    QTest::newRow("blank inside a value")
        << QByteArray("<a t=\"x y=1\">")
        << "tagopen@0'<' name@1'a' attr@3't' attr@8'y' tag@1'a t=\"x y=1\"' tagclose@12'>'";
    QTest::newRow("leading blank: no name") << QByteArray("< a>") << "tagopen@0'<' tag@1' a' tagclose@3'>'";
    QTest::newRow("attribute without value")
        << QByteArray("<input disabled>")
        << "tagopen@0'<' name@1'input' tag@1'input disabled' tagclose@15'>'";
    QTest::newRow("body before a closer") << QByteArray("x y>") << "name@0'x' tag@0'x y' tagclose@3'>'";
    QTest::newRow("unterminated tag")
        << QByteArray("<a b=c") << "tagopen@0'<' name@1'a' attr@3'b' tag@1'a b=c'";
    QTest::newRow("content is left alone") << QByteArray("a b=c") << "content@0'a b=c'";
}

void PayloadTest::tagBodyScan() {
    QFETCH(QByteArray, text);
    QFETCH(QString, tokens);
    const std::string_view t = View(text);
    QCOMPARE(Render(t, ScanTagBodies(t, ScanMarkup(t, ScanComments(t)))), tokens);
}

void PayloadTest::keywordScan_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("tokens");
    QTest::newRow("request") << QByteArray("GET /index.html HTTP/1.1\r\nHost: a\r\nUser-Agent: b\r\n\r\n")
                             << "kw@0'GET' kw@26'Host' kw@35'User-Agent'";
    QTest::newRow("lower case") << QByteArray("get /\nhost: x") << "kw@0'get' kw@6'host'";
    QTest::newRow("mixed case") << QByteArray("x\nhOsT: y") << "kw@2'hOsT'";
    QTest::newRow("response 1.0") << QByteArray("HTTP/1.0 200 OK") << "kw@0'HTTP/1.0'";
    QTest::newRow("response 1.1") << QByteArray("http/1.1 404") << "kw@0'http/1.1'";
    QTest::newRow("other version") << QByteArray("HTTP/2 200") << "";
    QTest::newRow("OPTIONS") << QByteArray("OPTIONS * HTTP/1.1") << "kw@0'OPTIONS'";
    QTest::newRow("HEAD") << QByteArray("HEAD /") << "kw@0'HEAD'";
    QTest::newRow("POST") << QByteArray("POST /") << "kw@0'POST'";
    QTest::newRow("PUT") << QByteArray("PUT /") << "kw@0'PUT'";
    QTest::newRow("DELETE") << QByteArray("DELETE /") << "kw@0'DELETE'";
    QTest::newRow("TRACE") << QByteArray("TRACE /") << "kw@0'TRACE'";
    QTest::newRow("CONNECT") << QByteArray("CONNECT a:443") << "kw@0'CONNECT'";
    QTest::newRow("method is the whole text") << QByteArray("GET") << "kw@0'GET'";
    QTest::newRow("method cut by the end") << QByteArray("GE") << "";
    QTest::newRow("method not at the start") << QByteArray(" GET /") << "";
    QTest::newRow("version mid-line stays plain") << QByteArray("x HTTP/1.1") << "";
    QTest::newRow("header on the first line") << QByteArray("Host: a") << "";
    QTest::newRow("header ends the text") << QByteArray("x\nHost:") << "kw@2'Host'";
    QTest::newRow("colon missing at the end") << QByteArray("x\nHost") << "";
    QTest::newRow("blank before colon") << QByteArray("x\nHost : a") << "";
    QTest::newRow("not at a line start") << QByteArray("x\n Host: a") << "";
    QTest::newRow("after a lone CR") << QByteArray("x\rHost: a") << "kw@2'Host'";
    QTest::newRow("after CR LF") << QByteArray("x\r\nHost: a") << "kw@3'Host'";
    QTest::newRow("CR ends the text") << QByteArray("x\r") << "";
    QTest::newRow("LF ends the text") << QByteArray("x\n") << "";
    QTest::newRow("empty first line") << QByteArray("\nHost: a") << "kw@1'Host'";
    QTest::newRow("after an empty line") << QByteArray("x\n\nHost: a") << "kw@3'Host'";
    QTest::newRow("punctuation compared exactly") << QByteArray("x\nContent_Type: a") << "";
    QTest::newRow("unknown header") << QByteArray("x\nX-Frame-Options: a\nCookie2: b") << "";
    QTest::newRow("shorter name first in the text")
        << QByteArray("x\nAccept: a\nAccept-Charset: b") << "kw@2'Accept' kw@12'Accept-Charset'";
    QTest::newRow("longer name that extends a shorter one")
        << QByteArray("x\nX-Cache-Lookup: a\nX-Cache: b") << "kw@2'X-Cache-Lookup' kw@20'X-Cache'";
    QTest::newRow("Latin-1 letters are not folded") << QByteArray("x\nHost\xc9: a") << "";
}

void PayloadTest::keywordScan() {
    QFETCH(QByteArray, text);
    QFETCH(QString, tokens);
    QCOMPARE(Render(View(text), ScanHttpKeywords(View(text))), tokens);
}

void PayloadTest::everyHeaderName_data() {
    QTest::addColumn<QByteArray>("name");
    const QList<QByteArray> names = QByteArray(kHeaderNames).split(' ');
    QCOMPARE(names.size(), 56);
    for (const QByteArray& name : names)
        QTest::newRow(name.constData()) << name;
}

void PayloadTest::everyHeaderName() {
    QFETCH(QByteArray, name);
    for (const QByteArray& spelled : {name, name.toLower(), name.toUpper()}) {
        const QByteArray text = "x\n" + spelled + ": value";
        QCOMPARE(Render(View(text), ScanHttpKeywords(View(text))),
                 QStringLiteral("kw@2'%1'").arg(QString::fromLatin1(spelled)));
    }
    const QByteArray withoutColon = "x\n" + name + " value";
    QCOMPARE(Render(View(withoutColon), ScanHttpKeywords(View(withoutColon))), QString());
}

void PayloadTest::runsComeInPaintingOrder() {
    // Markup from the last token to the first (a tag body before the names inside it), keywords last;
    // content gets no run.
    const std::string_view text = "GET x\n<a href=y>z";
    const std::vector<PayloadRun> expected = {
        {15, 1, PayloadKind::TagCloser}, {7, 8, PayloadKind::TagBody},   {9, 4, PayloadKind::AttributeName},
        {7, 1, PayloadKind::TagName},    {6, 1, PayloadKind::TagOpener}, {0, 3, PayloadKind::Keyword},
    };
    QVERIFY(ScanPayload(text) == expected);
    QVERIFY(ScanPayload("").empty());
}

// Runs as `kind@start+length`.
QString RenderRuns(const std::vector<PayloadRun>& runs) {
    QStringList parts;
    for (const PayloadRun& r : runs)
        parts << QStringLiteral("%1@%2+%3").arg(QLatin1String(KindName(r.kind))).arg(r.start).arg(r.length);
    return parts.join(QLatin1Char(' '));
}

void PayloadTest::flattenRuns_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<std::vector<PayloadRun>>("runs");
    QTest::addColumn<QString>("look");
    using K = PayloadKind;
    QTest::newRow("empty text") << 0 << std::vector<PayloadRun>{} << "";
    QTest::newRow("base format only") << 5 << std::vector<PayloadRun>{} << "text@0+5";
    QTest::newRow("names inside a tag body")
        << 8 << std::vector<PayloadRun>{{0, 8, K::TagBody}, {5, 2, K::AttributeName}, {1, 3, K::TagName}}
        << "tag@0+1 name@1+3 tag@4+1 attr@5+2 tag@7+1";
    QTest::newRow("the later run wins")
        << 4 << std::vector<PayloadRun>{{0, 4, K::CommentBody}, {0, 4, K::Keyword}} << "kw@0+4";
    QTest::newRow("the order decides, not the extent")
        << 4 << std::vector<PayloadRun>{{1, 2, K::TagName}, {0, 4, K::TagBody}} << "tag@0+4";
    QTest::newRow("neighbours of one kind merge")
        << 6 << std::vector<PayloadRun>{{0, 2, K::Keyword}, {2, 2, K::Keyword}} << "kw@0+4 text@4+2";
    QTest::newRow("gaps keep the base format")
        << 7 << std::vector<PayloadRun>{{2, 1, K::TagOpener}, {5, 1, K::TagCloser}}
        << "text@0+2 tagopen@2+1 text@3+2 tagclose@5+1 text@6+1";
    QTest::newRow("a run past the end is cut")
        << 5 << std::vector<PayloadRun>{{3, 10, K::Keyword}, {9, 2, K::TagName}} << "text@0+3 kw@3+2";
}

void PayloadTest::flattenRuns() {
    QFETCH(int, size);
    QFETCH(std::vector<PayloadRun>, runs);
    QFETCH(QString, look);
    QCOMPARE(RenderRuns(FlattenRuns(static_cast<size_t>(size), runs)), look);
}

void PayloadTest::shownText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("CR LF") << QByteArray("a\r\nb") << QByteArray("a\nb");
    QTest::newRow("lone CR") << QByteArray("a\rb") << QByteArray("a\nb");
    QTest::newRow("lone LF") << QByteArray("a\nb") << QByteArray("a\nb");
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QByteArray("a\n\nb");
    QTest::newRow("CR CR LF") << QByteArray("\r\r\n") << QByteArray("\n\n");
    QTest::newRow("CR at the end") << QByteArray("a\r") << QByteArray("a\n");
    QTest::newRow("other bytes stay")
        << QByteArray("\0\t\x0b\x0c\xe9\xff", 6) << QByteArray("\0\t\x0b\x0c\xe9\xff", 6);
}

void PayloadTest::shownText() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, shown);
    QCOMPARE(QByteArray::fromStdString(ShownPayloadText(View(bytes))), shown);
}

// ---------------------------------------------------------------------------------------------------------
// The control

void PayloadTest::highlighting_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("styles");
    QTest::newRow("request") << QByteArray(
                                    "GET /index.html HTTP/1.1\r\nHost: example.com\r\nUser-Agent: x\r\n")
                             << "KKK.....................\nKKKK.............\nKKKKKKKKKK...\n";
    QTest::newRow("lower-case request") << QByteArray("get /\r\nhost: x") << "KKK..\nKKKK...";
    QTest::newRow("response") << QByteArray("HTTP/1.0 200 OK\r\n") << "KKKKKKKK.......\n";
    QTest::newRow("tags and comment")
        << QByteArray("<html><!-- note --></html>") << "BNNNNBGGGGggggggGGGBBNNNNB";
    QTest::newRow("attribute") << QByteArray("<a href=x>") << "BNBAAAABBB";
    QTest::newRow("unclosed comment") << QByteArray("<!-- never closed") << "GGGGggggggggggggg";
    QTest::newRow("keyword inside a comment")
        << QByteArray("x\n<!--\nHost: a\n-->") << ".\nGGGG\nKKKKggg\nGGG";
    QTest::newRow("response with a body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<p class=x>Hi</p>")
        << "KKKKKKKK.......\nKKKKKKKKKKKK...........\n\nBNBAAAAABBB..BBNB";
    QTest::newRow("offsets after CR, CR LF and LF")
        << QByteArray("a\rb\r\n\r\nc\n<i>d</i>") << ".\n.\n\n.\nBNB.BBNB";
    QTest::newRow("header after a lone CR") << QByteArray("x\rHost: a\r\n<b>") << ".\nKKKK...\nBNB";
    QTest::newRow("Latin-1 before markup") << QByteArray("\xe9\xa0<b>") << "..BNB";
}

void PayloadTest::highlighting() {
    QFETCH(QByteArray, text);
    QFETCH(QString, styles);
    CPayloadTextCtrl ctrl;
    Show(ctrl, text);
    QCOMPARE(Styles(ctrl), styles);
}

void PayloadTest::baseFormatEverywhere() {
    CPayloadTextCtrl ctrl;
    Show(ctrl, "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n<html><!-- c --><a href=y>z</a></html>");
    QVERIFY(ctrl.isReadOnly());
    int checked = 0;
    for (QTextBlock block = ctrl.document()->begin(); block.isValid(); block = block.next()) {
        for (const QTextLayout::FormatRange& range : block.textFormats()) {
            const QFont font = range.format.font();
            QCOMPARE(font.pointSize(), 10);
            QVERIFY2(QFontInfo(font).fixedPitch(), qPrintable(QFontInfo(font).family()));
            QVERIFY(!range.format.fontUnderline());
            checked += range.length;
        }
    }
    QCOMPARE(checked, ctrl.document()->characterCount() - ctrl.document()->blockCount());
    QCOMPARE(ctrl.textCursor().position(), 0);
    QVERIFY(!ctrl.textCursor().hasSelection());
}

void PayloadTest::withoutHighlighting() {
    CPayloadTextCtrl ctrl;
    Show(ctrl, "GET /\r\nHost: a\r\n<b>", false);
    QCOMPARE(Styles(ctrl), QString(".....\n.......\n..."));
}

void PayloadTest::latin1Bytes() {
    QByteArray bytes;
    for (int b = 0x20; b <= 0xFF; ++b)
        bytes += static_cast<char>(b);
    CPayloadTextCtrl ctrl;
    Show(ctrl, bytes);
    QCOMPARE(ShownText(ctrl), QString::fromLatin1(bytes));
    QCOMPARE(ShownText(ctrl).at(0xE9 - 0x20), QChar(0x00E9));
}

void PayloadTest::onlyLineBreaksBreakLines() {
    // The highlighting counts a line break as one character and nothing else as a break: the document must
    // agree for every byte, or every format after it would be shifted.
    QByteArray bytes;
    for (int b = 0; b <= 0xFF; ++b)
        if (b != '\r' && b != '\n')
            bytes += static_cast<char>(b);
    CPayloadTextCtrl ctrl;
    Show(ctrl, bytes + "\r\n" + bytes + "\r" + bytes + "\n<b>");
    const QString line = QString::fromLatin1(bytes);
    QCOMPARE(ShownText(ctrl), line + u'\n' + line + u'\n' + line + u'\n' + "<b>");
    QCOMPARE(ctrl.document()->blockCount(), 4);
    QCOMPARE(Styles(ctrl).right(3), QStringLiteral("BNB"));
}

void PayloadTest::newTextReplacesOld() {
    CPayloadTextCtrl ctrl;
    Show(ctrl, "<html>");
    Select(ctrl, 1, 3);
    Show(ctrl, "plain");
    QCOMPARE(ShownText(ctrl), QStringLiteral("plain"));
    QCOMPARE(Styles(ctrl), QStringLiteral("....."));
    QVERIFY(!ctrl.textCursor().hasSelection());
    Show(ctrl, QByteArray());
    QVERIFY(ctrl.document()->isEmpty());
    Show(ctrl, "x");
    ctrl.ShowText("abc", -1);
    QVERIFY(ctrl.document()->isEmpty());
}

void PayloadTest::contextMenuTexts() {
    CPayloadTextCtrl ctrl;
    ctrl.show();
    Show(ctrl, "hello <b>world</b>");
    MenuSeen seen = OpenContextMenu(ctrl);
    QVERIFY(seen.appeared);
    QCOMPARE(seen.actions, (QStringList{"&Copy (off)", "Select &All"}));

    Select(ctrl, 0, 5);
    seen = OpenContextMenu(ctrl);
    QCOMPARE(seen.actions, (QStringList{"&Copy", "Select &All"}));
}

void PayloadTest::contextMenuCopies() {
    CPayloadTextCtrl ctrl;
    ctrl.show();
    // The selection spans a CR LF, a no-break space and an accented letter: all arrive as shown.
    Show(ctrl, "hello\r\n<b>w\xa0rld\xe9</b>");
    Select(ctrl, 3, 15);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QVERIFY(OpenContextMenu(ctrl, CPayloadTextCtrl::kCopyCommand).triggered);
    QCOMPARE(QApplication::clipboard()->text(), QString::fromLatin1("lo\n<b>w\xa0rld\xe9"));
}

void PayloadTest::contextMenuSelectsAll() {
    CPayloadTextCtrl ctrl;
    ctrl.show();
    Show(ctrl, "one\r\ntwo");
    QVERIFY(OpenContextMenu(ctrl, CPayloadTextCtrl::kSelectAllCommand).triggered);
    QCOMPARE(ctrl.textCursor().selectionStart(), 0);
    QCOMPARE(ctrl.textCursor().selectionEnd(), 7);
}

void PayloadTest::noContextMenuWhenEmpty() {
    CPayloadTextCtrl ctrl;
    ctrl.show();
    QVERIFY(!OpenContextMenu(ctrl).appeared);  // never shown
    Show(ctrl, "x");
    Show(ctrl, QByteArray());
    QVERIFY(!OpenContextMenu(ctrl).appeared);  // emptied again
    Show(ctrl, "x");
    QVERIFY(OpenContextMenu(ctrl).appeared);  // the check itself sees a menu that does appear
}

void PayloadTest::copyKeys_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Ctrl+C") << int(Qt::Key_C);
    QTest::newRow("Ctrl+Insert") << int(Qt::Key_Insert);
}

void PayloadTest::copyKeys() {
    QFETCH(int, key);
    TestWindow w;
    QVERIFY(w.Focus(w.ctrl));
    Show(*w.ctrl, "GET /a\r\nHost: b");
    Select(*w.ctrl, 4, 10);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(w.ctrl, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("/a\nHos"));
}

void PayloadTest::selectAllKey() {
    TestWindow w;
    QVERIFY(w.Focus(w.ctrl));
    Show(*w.ctrl, "abc\ndef");
    QTest::keyClick(w.ctrl, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(w.ctrl->textCursor().selectedText(), QString("abc") + QChar::ParagraphSeparator + "def");
}

void PayloadTest::shortcutsStayInside_data() {
    AddKeptKeyColumns();
    AddKeptKeyRows();
}

void PayloadTest::shortcutsStayInside() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, owned);
    TestWindow w;
    int fired = 0;
    auto* shortcut = new QShortcut(
        QKeySequence{QKeyCombination(Qt::KeyboardModifiers(modifiers), Qt::Key(key))}, &w.window);
    connect(shortcut, &QShortcut::activated, &w.window, [&] { ++fired; });
    Show(*w.ctrl, "some text");

    // From another widget of the window the shortcut does fire: the setup can tell.
    QVERIFY(w.Focus(w.button));
    QTest::keyClick(w.button, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(fired, 1);

    QVERIFY(w.Focus(w.ctrl));
    QTest::keyClick(w.ctrl, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(fired, owned ? 1 : 2);
    QCOMPARE(ShownText(*w.ctrl), QStringLiteral("some text"));  // nor did the key change the text
}

void PayloadTest::navigationKeysStillWork() {
    TestWindow w;
    QVERIFY(w.Focus(w.ctrl));
    Show(*w.ctrl, "first line\nsecond");
    QTest::keyClick(w.ctrl, Qt::Key_Down);
    QTest::keyClick(w.ctrl, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(w.ctrl->textCursor().selectedText(), QStringLiteral("second"));
}

// ---------------------------------------------------------------------------------------------------------
// The main view

void PayloadTest::viewerFillsView() {
    CTrawlerView view;
    view.resize(420, 310);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.PayloadViewer()->geometry(), view.rect());
    view.resize(600, 200);
    QTRY_COMPARE(view.PayloadViewer()->geometry(), view.rect());
}

void PayloadTest::showPayloadText_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("shown");
    QTest::newRow("control bytes") << QByteArray("\x00\x09\x0d\x0a\x41\xe9", 6)
                                   << QString::fromLatin1("..\nA\xe9");  // CR LF is one line break
    QTest::newRow("CR and LF apart") << QByteArray("\rA\nB") << QStringLiteral("\nA\nB");
    QTest::newRow("edges of the control range")
        << QByteArray("\x01\x1f\x20\x7f\x80\xff") << QString::fromLatin1(".. \x7f\x80\xff");
    QTest::newRow("NUL does not end the text") << QByteArray("a\0b", 3) << QStringLiteral("a.b");
}

void PayloadTest::showPayloadText() {
    QFETCH(QByteArray, payload);
    QFETCH(QString, shown);
    StoreFrameWithPayload("first");
    const size_t index = StoreFrameWithPayload(payload, 6);  // padding after the IP packet is no payload
    CTrawlerView view;
    view.ShowPayload(static_cast<int64_t>(index));
    QCOMPARE(ShownText(*view.PayloadViewer()), shown);
}

void PayloadTest::showPayloadHighlights() {
    const size_t index = StoreFrameWithPayload("GET / HTTP/1.1\r\nHost: a\r\n\r\n");
    CTrawlerView view;
    view.ShowPayload(static_cast<int64_t>(index));
    QCOMPARE(Styles(*view.PayloadViewer()), QStringLiteral("KKK...........\nKKKK...\n\n"));
}

void PayloadTest::showPayloadEmpty() {
    const size_t full = StoreFrameWithPayload("GET /");
    const size_t empty = StoreFrameWithPayload(QByteArray(), 10);
    CTrawlerView view;
    view.ShowPayload(static_cast<int64_t>(full));
    view.ShowPayload(static_cast<int64_t>(empty));
    QVERIFY(view.PayloadViewer()->document()->isEmpty());
}

void PayloadTest::showPayloadOutOfRange_data() {
    QTest::addColumn<qint64>("index");
    QTest::newRow("negative") << qint64(-1);
    QTest::newRow("the count") << qint64(2);
    QTest::newRow("far beyond") << (qint64(1) << 40);
}

void PayloadTest::showPayloadOutOfRange() {
    QFETCH(qint64, index);
    StoreFrameWithPayload("a");
    StoreFrameWithPayload("b");
    CTrawlerView view;
    view.ShowPayload(1);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, view.ShowPayload(index));
    QCOMPARE(ShownText(*view.PayloadViewer()), QStringLiteral("b"));  // the shown packet stays
}

QTEST_MAIN(PayloadTest)
#include "payload_test.moc"
