// A label that is a link: link, visited and hover colours, the hand cursor, the target as tool tip; a click,
// Enter or Space opens the target (a web page, a mail address, a local file) with the desktop's opener.
#pragma once

#include <QColor>
#include <QLabel>
#include <QUrl>

#include <functional>

class CLinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit CLinkLabel(QWidget* parent = nullptr);
    explicit CLinkLabel(const QString& text, QWidget* parent = nullptr);

    // What a click opens. When the label has no text it shows the target; without a target it opens its
    // text. The tool tip follows.
    void SetTarget(const QString& target);
    void SetLinkText(const QString& text);
    QString Target() const;

    void SetUnderline(bool underline);
    void SetVisited(bool visited);
    void SetFitToText(bool fit);
    bool IsUnderlined() const { return m_bUnderline; }
    bool IsVisited() const { return m_bVisited; }
    bool IsHovering() const { return m_bHovering; }

    QColor LinkColor() const { return m_colorLink; }
    QColor VisitedColor() const { return m_colorVisited; }
    QColor HoverColor() const { return m_colorHover; }
    // The colour the text is drawn in now: hover, else visited, else link, made readable on the label's
    // background (ReadableOn).
    QColor CurrentColor() const;
    // `colour` as it is on a light background; on a dark one, lightened until it reads well (a contrast of
    // 4.5:1 at least).
    static QColor ReadableOn(const QColor& colour, const QColor& ground);

    // Called with a result code (32 or below) when an opener that had taken the address fails later, on the
    // interface thread.
    using Verdict = std::function<void(int result)>;

    // Opens `target` and returns a result code as the shell gives it: above 32 is success; 2 a missing file,
    // 3 a missing folder, 31 nothing that can open it. The desktop's opener program may still fail after it
    // took the address (no browser): `failedLater` then gets its result, while the window goes on. Also used
    // by the program's web and help commands.
    static int OpenTarget(const QString& target, const Verdict& failedLater = {});
    // OpenTarget for a command: a failure, at once or later, is reported with ErrorReport, and `detail`
    // (what was to be opened) below it.
    static void OpenAndReport(const QString& target, const QString& detail = {});
    // What OpenTarget hands to the desktop: an address with a scheme as it is, "name@host" as a mail link,
    // "www.host" as a web page, anything else as a local file (made absolute).
    static QUrl TargetToUrl(const QString& target);

    // The step that asks the desktop to open an address; replaceable so that tests open nothing. Returns
    // whether it was handed over, and calls `failedLater` if it turns out later that it was not opened.
    // Passing an empty function restores the default (xdg-open, whose exit status is awaited; the desktop
    // services where it cannot be started). Returns the previous opener.
    using Opener = std::function<bool(const QUrl&, const Verdict& failedLater)>;
    static Opener SetOpener(Opener opener);

    // "Unable to open hyperlink:\n\n" and the text for a result code.
    static QString ErrorReport(int code);

signals:
    // After every attempt to open the target, with OpenTarget's result; again with the failure when the
    // opener fails after it took the target.
    void targetOpened(int result);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Init();
    void Activate();
    // Shows the result of an attempt: the visited colour, or the failure report.
    void Opened(int result);
    void ApplyColor();
    void FitToText();

    QColor m_colorLink{0, 0, 238};
    QColor m_colorVisited{85, 26, 139};
    QColor m_colorHover;  // the palette's highlight at construction
    bool m_bHovering = false;
    bool m_bVisited = false;
    bool m_bUnderline = true;
    bool m_bFitToText = true;
    bool m_bPressed = false;  // a left press began on the label: only then does the release open it
    QString m_strTarget;
};
