#include "views/ConnectionFilterLine.h"

#include <QAction>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTextCharFormat>
#include <QVBoxLayout>

#include "analysis/ConnectionFilter.h"
#include "capture/PacketStore.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlLeft.h"
#include "views/StoreWatcher.h"

namespace {

// Keys typed closer together than this are one burst of typing.
constexpr qint64 kTypingPauseMs = 1000;

const char kHelp[] =
    "Show only the connections that match every word:\n"
    "  tcp, udp                  the protocol\n"
    "  port:80                   either port\n"
    "  host:10.0.0.1, host:10.0.0.0/8   either address\n"
    "  packets>10 (also <, =, >=, <=)   the packet count\n"
    "  any other text            found in the client or server (IP:Port), the service or the protocol\n"
    "A leading - negates a word; \"quotes\" keep spaces. Ctrl+L (or / in the connections bar) comes "
    "here,\nEscape clears.";

}  // namespace

CConnectionFilterLine::CConnectionFilterLine(CListCtrlLeft* list, QWidget* parent)
    : QLineEdit(parent), m_list(list) {
    setObjectName(QStringLiteral("connectionFilter"));
    setPlaceholderText(QStringLiteral("Filter connections: port:80  host:10.0.0.1  http  -udp  packets>10"));
    setClearButtonEnabled(true);
    setToolTip(QString::fromLatin1(kHelp));
    connect(this, &QLineEdit::textChanged, this, &CConnectionFilterLine::Apply);
    // While a filter hides connections the count follows the store (new connections may be hidden ones).
    connect(CStoreWatcher::Instance(), &CStoreWatcher::grew, this, [this] {
        if (m_list && m_list->IsFiltered())
            UpdateCount();
    });
    if (m_list) {
        CConnectionsModel* model = m_list->Model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &CConnectionFilterLine::UpdateCount);
        connect(model, &QAbstractItemModel::modelReset, this, &CConnectionFilterLine::UpdateCount);
    }
}

QWidget* CConnectionFilterLine::CreatePane(CListCtrlLeft* list, QWidget* parent) {
    auto* pane = new QWidget(parent);
    pane->setObjectName(QStringLiteral("connectionsPane"));
    auto* line = new CConnectionFilterLine(list, pane);
    // Neither may hold the bar above its own minimum size.
    list->setMinimumSize(1, 1);
    line->setMinimumWidth(1);
    line->m_count = new QLabel(pane);
    line->m_count->setObjectName(QStringLiteral("connectionFilterCount"));
    line->m_count->hide();
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(6);
    top->addWidget(line, 1);
    top->addWidget(line->m_count);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(top);
    // Why the expression cannot be used, where keyboard users see it too (the tooltip has every reason).
    line->m_problem = new QLabel(pane);
    line->m_problem->setObjectName(QStringLiteral("connectionFilterProblem"));
    line->m_problem->setWordWrap(true);
    line->m_problem->setForegroundRole(QPalette::Link);
    line->m_problem->hide();
    layout->addWidget(line->m_problem);
    layout->addWidget(list, 1);
    // Ctrl+L comes to the line from anywhere in the window (the connections bar's owner adds this action to
    // its window too, so that the key works while the bar floats in a window of its own); "/" only from
    // inside the bar, since other views take typed characters as their own. A "/" typed into the line
    // stays there: text fields take printable keys before shortcuts.
    auto* focus = new QAction(QStringLiteral("Filter Connections"), pane);
    focus->setObjectName(QStringLiteral("filterConnectionsAction"));
    focus->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    focus->setShortcutContext(Qt::WindowShortcut);
    auto* slash = new QAction(pane);
    slash->setShortcut(QKeySequence(QStringLiteral("/")));
    slash->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    for (QAction* action : {focus, slash})
        QObject::connect(action, &QAction::triggered, line, [line] {
            // A floating bar is a window of its own: it comes forward to take the keys.
            if (!line->window()->isActiveWindow()) {
                line->window()->raise();
                line->window()->activateWindow();
            }
            line->setFocus(Qt::ShortcutFocusReason);
            line->selectAll();
        });
    pane->addAction(slash);
    pane->addAction(focus);
    return pane;
}

QString CConnectionFilterLine::CountText() const {
    if (!m_list || !m_list->IsFiltered())
        return {};
    return QStringLiteral("%1 of %2 connections")
        .arg(m_list->Model()->rowCount())
        .arg(g_connectionTable.size());
}

void CConnectionFilterLine::UpdateCount() {
    // While the expression is malformed a count would read like its result.
    const QString text = m_problemText.isEmpty() ? CountText() : QString();
    if (m_count) {
        m_count->setText(text);
        m_count->setVisible(!text.isEmpty());
    }
}

void CConnectionFilterLine::Apply() {
    // A pause in typing, or a text set at once, settles what the list shows.
    if (!m_typing || !m_lastTyped.isValid() || m_lastTyped.elapsed() >= kTypingPauseMs)
        m_settled = m_applied;
    if (m_typing)
        m_lastTyped.start();
    else
        m_lastTyped.invalidate();
    const QString current = text();
    const QByteArray utf8 = current.toUtf8();
    std::vector<FilterProblem> problems;
    ConnectionFilter filter =
        ConnectionFilter::Parse(std::string_view(utf8.constData(), utf8.size()), problems);
    m_malformed.clear();
    if (!problems.empty()) {
        // Byte positions of the UTF-8 text to characters of the line.
        for (const FilterProblem& p : problems) {
            const int start = QString::fromUtf8(utf8.constData(), static_cast<qsizetype>(p.position)).size();
            const int length =
                QString::fromUtf8(utf8.constData() + p.position, static_cast<qsizetype>(p.length)).size();
            m_malformed.append({start, length});
        }
        const std::string_view typed(utf8.constData(), utf8.size());
        setToolTip(QString::fromStdString(DescribeFilterProblems(typed, problems)));
        if (m_applied != m_settled) {
            const QByteArray settled = m_settled.toUtf8();
            std::vector<FilterProblem> none;
            SetListFilter(
                ConnectionFilter::Parse(std::string_view(settled.constData(), settled.size()), none));
            m_applied = m_settled;
        }
        // The first reason, and what the list shows meanwhile: it keeps the last filter that could be used.
        m_problemText = QString::fromStdString(DescribeFilterProblems(typed, {problems.front()}, 1));
        m_problemText += m_applied.trimmed().isEmpty()
                             ? QStringLiteral(". Not applied: the list shows every connection.")
                             : QStringLiteral(". Not applied: the list still shows \"%1\".")
                                   .arg(m_applied.size() > 60 ? m_applied.left(57) + "..." : m_applied);
        ShowProblem();
        PaintMalformed();
        return;
    }
    setToolTip(QString::fromLatin1(kHelp));
    m_problemText.clear();
    m_applied = current;
    ShowProblem();
    PaintMalformed();
    SetListFilter(std::move(filter));
}

void CConnectionFilterLine::SetListFilter(ConnectionFilter filter) {
    if (m_list)
        m_list->SetFilter(std::make_shared<const ConnectionFilter>(std::move(filter)));
    UpdateCount();
}

void CConnectionFilterLine::ShowProblem() {
    if (m_problem) {
        m_problem->setText(m_problemText);
        m_problem->setVisible(!m_problemText.isEmpty());
    }
    UpdateCount();
}

void CConnectionFilterLine::PaintMalformed() {
    // A line edit takes character formats only as preedit attributes of an input method event; positions
    // are relative to the cursor.
    QList<QInputMethodEvent::Attribute> attributes;
    QTextCharFormat red;
    red.setForeground(QColor(200, 0, 0));
    red.setFontUnderline(true);
    red.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    red.setUnderlineColor(QColor(200, 0, 0));
    for (const auto& [start, length] : m_malformed)
        attributes.append({QInputMethodEvent::TextFormat, start - cursorPosition(), length, red});
    QInputMethodEvent event(QString(), attributes);
    QCoreApplication::sendEvent(this, &event);
}

void CConnectionFilterLine::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (text().isEmpty() && m_list)
            m_list->setFocus(Qt::OtherFocusReason);
        clear();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Down) &&
        m_list) {
        m_list->setFocus(Qt::OtherFocusReason);
        if (m_list->SelectedRow() < 0 && m_list->model()->rowCount() > 0)
            m_list->selectRow(0);
        event->accept();
        return;
    }
    const int before = cursorPosition();
    m_typing = true;
    QLineEdit::keyPressEvent(event);
    m_typing = false;
    // The formats hang on the cursor: moving it alone moves them along.
    if (!m_malformed.isEmpty() && cursorPosition() != before)
        PaintMalformed();
}
