#include "ui/LinkLabel.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "frontend/FrontEnd.h"

namespace {

// xdg-open's exit status as a result code: 2 for a file that is not there, 31 for any other failure (no
// program for the address, the program failed).
int OpenerFailure(int status, QProcess::ExitStatus how) {
    return how == QProcess::NormalExit && status == 2 ? 2 : 31;
}

bool OpenWithDesktop(const QUrl& url, const CLinkLabel::Verdict& failedLater) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // xdg-open knows the user's choices and says by its exit status whether the address was opened; the
    // desktop services would only say that it started. It gets the address as one argument: nothing is ever
    // parsed by a shell. The window does not wait for it: the verdict comes through the event loop.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!program.isEmpty()) {
        // Owned by nobody: where xdg-open runs the browser itself, it must outlive this program rather than
        // be killed with it. It deletes itself when it ends.
        auto* opener = new QProcess;
        opener->setProgram(program);
        opener->setArguments({url.toString(QUrl::FullyEncoded)});
        opener->setProcessChannelMode(QProcess::ForwardedChannels);
        opener->setStandardInputFile(QProcess::nullDevice());
        QObject::connect(opener, &QProcess::finished, opener,
                         [opener, failedLater](int status, QProcess::ExitStatus how) {
                             opener->deleteLater();
                             if ((how != QProcess::NormalExit || status != 0) && failedLater)
                                 failedLater(OpenerFailure(status, how));
                         });
        QObject::connect(opener, &QProcess::errorOccurred, opener,
                         [opener, url, failedLater](QProcess::ProcessError error) {
                             if (error != QProcess::FailedToStart)
                                 return;  // the end comes through finished()
                             opener->deleteLater();
                             if (!QDesktopServices::openUrl(url) && failedLater)
                                 failedLater(31);
                         });
        opener->start();
        return true;
    }
#endif
    return QDesktopServices::openUrl(url);
}

// The link label's failure report: the exclamation beep and the message box.
void ReportFailure(int result, const QString& detail) {
    QApplication::beep();
    ShowMessage(CLinkLabel::ErrorReport(result).toStdString(), MsgButtons::Ok, detail.toStdString());
}

CLinkLabel::Opener& CurrentOpener() {
    static CLinkLabel::Opener opener = OpenWithDesktop;
    return opener;
}

}  // namespace

CLinkLabel::CLinkLabel(QWidget* parent) : QLabel(parent) {
    Init();
}

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    Init();
    SetLinkText(text);
}

void CLinkLabel::Init() {
    m_colorHover = palette().color(QPalette::Active, QPalette::Highlight);
    // A target is data, never markup.
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    QFont f = font();
    f.setUnderline(m_bUnderline);
    setFont(f);
    ApplyColor();
    FitToText();
}

void CLinkLabel::SetTarget(const QString& target) {
    m_strTarget = target;
    if (text().isEmpty())
        setText(target);
    setToolTip(Target());
    FitToText();
}

void CLinkLabel::SetLinkText(const QString& text) {
    setText(text.isEmpty() ? m_strTarget : text);
    setToolTip(Target());
    FitToText();
}

QString CLinkLabel::Target() const {
    return m_strTarget.isEmpty() ? text() : m_strTarget;
}

void CLinkLabel::SetUnderline(bool underline) {
    m_bUnderline = underline;
    QFont f = font();
    f.setUnderline(underline);
    setFont(f);
    update();
}

void CLinkLabel::SetVisited(bool visited) {
    m_bVisited = visited;
    ApplyColor();
}

void CLinkLabel::SetFitToText(bool fit) {
    m_bFitToText = fit;
    if (!fit)
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    FitToText();
}

QColor CLinkLabel::CurrentColor() const {
    const QColor colour = m_bHovering ? m_colorHover : m_bVisited ? m_colorVisited : m_colorLink;
    return ReadableOn(colour, palette().color(backgroundRole()));
}

namespace {

// Relative luminance of a colour on the sRGB screen, 0 (black) to 1 (white).
double Luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

QColor CLinkLabel::ReadableOn(const QColor& colour, const QColor& ground) {
    // The link colours were chosen for a light dialog: there they stay exactly as they are. On a dark one
    // they are lightened (towards white, keeping their hue) until they read well.
    constexpr double kReadable = 4.5;
    if (Luminance(ground) >= 0.18 || Contrast(colour, ground) >= kReadable)
        return colour;
    QColor lighter = colour;
    for (int step = 1; step <= 8 && Contrast(lighter, ground) < kReadable; ++step) {
        auto mix = [step](int v) { return v + (255 - v) * step / 8; };
        lighter = QColor(mix(colour.red()), mix(colour.green()), mix(colour.blue()));
    }
    return lighter;
}

void CLinkLabel::ApplyColor() {
    QPalette p = palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(g, QPalette::WindowText, CurrentColor());
    setPalette(p);
    update();
}

void CLinkLabel::FitToText() {
    if (!m_bFitToText)
        return;
    // Only the text is the link: a click beside it opens nothing.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
    QWidget* parent = parentWidget();
    if (parent && parent->layout() && parent->layout()->indexOf(this) >= 0)
        return;  // the layout places it by its size hint
    const QSize t = sizeHint();
    QRect r = geometry();
    const Qt::Alignment a = alignment();
    if (a & Qt::AlignVCenter) {
        const int d = (r.height() - t.height()) / 2;
        r.adjust(0, d, 0, -d);
    } else {
        r.setBottom(r.top() + t.height() - 1);
    }
    if (a & Qt::AlignHCenter) {
        const int d = (r.width() - t.width()) / 2;
        r.adjust(d, 0, -d, 0);
    } else if (a & Qt::AlignRight) {
        r.setLeft(r.right() - t.width() + 1);
    } else {
        r.setRight(r.left() + t.width() - 1);
    }
    setGeometry(r);
}

QUrl CLinkLabel::TargetToUrl(const QString& target) {
    const QString t = target.trimmed();
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    static const QRegularExpression mail(QStringLiteral("^[^@/\\s:]+@[^@/\\s:]+$"));
    if (scheme.match(t).hasMatch())
        return QUrl(t, QUrl::TolerantMode);
    if (mail.match(t).hasMatch())
        return QUrl(QStringLiteral("mailto:") + t);
    if (t.startsWith(QStringLiteral("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + t, QUrl::TolerantMode);
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(t));
}

int CLinkLabel::OpenTarget(const QString& target, const Verdict& failedLater) {
    if (target.trimmed().isEmpty())
        return 2;
    const QUrl url = TargetToUrl(target);
    if (!url.isValid())
        return 2;
    if (url.isLocalFile()) {
        // The desktop would show its own vague error for a file that is not there; say which part is missing.
        const QFileInfo file(url.toLocalFile());
        if (!file.exists())
            return file.dir().exists() ? 2 : 3;
        if (!file.isReadable())
            return 5;
    }
    const Opener& open = CurrentOpener();
    return open(url, failedLater) ? 33 : 31;
}

void CLinkLabel::OpenAndReport(const QString& target, const QString& detail) {
    const int result = OpenTarget(target, [detail](int late) { ReportFailure(late, detail); });
    if (result <= 32)
        ReportFailure(result, detail);
}

CLinkLabel::Opener CLinkLabel::SetOpener(Opener opener) {
    Opener previous = CurrentOpener();
    CurrentOpener() = opener ? std::move(opener) : Opener(OpenWithDesktop);
    return previous;
}

// The whole table of the shell's failure codes stays: the label defines it, though Linux openers give few.
QString CLinkLabel::ErrorReport(int code) {
    const char* text = nullptr;
    switch (code) {
        case 0:
            text = "The operating system is out\nof memory or resources.";
            break;
        case 2:
            text = "The specified file was not found.";
            break;
        case 3:
            text = "The specified path was not found.";
            break;
        case 5:
            text = "The operating system denied\naccess to the specified file.";
            break;
        case 8:
            text = "There was not enough memory to complete the operation.";
            break;
        case 11:
            text = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
            break;
        case 26:
            text = "A sharing violation occurred. ";
            break;
        case 27:
            text = "The filename association is\nincomplete or invalid.";
            break;
        case 28:
            text = "The DDE transaction could not\nbe completed because the request timed out.";
            break;
        case 29:
            text = "The DDE transaction failed.";
            break;
        case 30:
            text =
                "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                "processed.";
            break;
        case 31:
            text = "There is no application associated\nwith the given filename extension.";
            break;
        case 32:
            text = "The specified dynamic-link library was not found.";
            break;
        default:
            break;
    }
    const QString message =
        text ? QString::fromLatin1(text) : QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    return QStringLiteral("Unable to open hyperlink:\n\n") + message;
}

void CLinkLabel::Activate() {
    // The dialog may be closed before the opener gives up: the report is shown all the same.
    const QPointer<CLinkLabel> self(this);
    Opened(OpenTarget(Target(), [self](int late) {
        if (self)
            self->Opened(late);
        else
            ReportFailure(late, {});
    }));
}

void CLinkLabel::Opened(int result) {
    m_bVisited = result > 32;
    ApplyColor();
    if (!m_bVisited)
        ReportFailure(result, {});
    emit targetOpened(result);
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_bHovering = true;
    ApplyColor();
    repaint();
}

void CLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_bHovering = false;
    ApplyColor();
    repaint();
}

void CLinkLabel::mousePressEvent(QMouseEvent* event) {
    m_bPressed = event->button() == Qt::LeftButton;
    if (m_bPressed)
        event->accept();
    else
        QLabel::mousePressEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        m_bPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_bPressed = false;
    if (!click) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    Activate();
}

void CLinkLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
                event->accept();
                Activate();
                return;
            }
            break;
        default:
            break;
    }
    QLabel::keyPressEvent(event);
}

void CLinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // Keyboard users need to see which link Enter opens.
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void CLinkLabel::showEvent(QShowEvent* event) {
    // A label whose text was set by plain QLabel calls still shows and opens consistently.
    if (text().isEmpty() && !m_strTarget.isEmpty())
        setText(m_strTarget);
    setToolTip(Target());
    FitToText();
    QLabel::showEvent(event);
}

void CLinkLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange && font().underline() != m_bUnderline) {
        QFont f = font();
        f.setUnderline(m_bUnderline);
        setFont(f);
    }
}
