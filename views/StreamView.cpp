#include "views/StreamView.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "capture/AtomicFile.h"
#include "capture/PacketStore.h"
#include "frontend/Messages.h"
#include "views/PacketsModel.h"
#include "views/PayloadScan.h"
#include "views/PayloadTextCtrl.h"
#include "views/StoreWatcher.h"

namespace {

size_t Dir(StreamDirection d) {
    return static_cast<size_t>(d);
}

// Characters laid out at a time: a timed step checks the clock between such pieces.
constexpr size_t kChunkText = 2048;
// Text of the whole conversation searched at a time by Find.
constexpr size_t kSearchChunk = size_t{1} << 20;
constexpr int64_t kSearchTotal = 1000;  // a search's progress is told in thousandths

// Folds the case of Latin-1 characters as the text view's find does.
const std::array<char, 256>& CaseFold() {
    static const std::array<char, 256> fold = [] {
        std::array<char, 256> f{};
        for (int c = 0; c < 256; ++c) {
            const char16_t lower = QChar(c).toLower().unicode();
            f[static_cast<size_t>(c)] = static_cast<char>(lower < 256 ? lower : c);
        }
        return f;
    }();
    return fold;
}

// Escape in the find field closes the bar; Enter finds the next match, Shift+Enter the previous one.
class FindLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void(bool)> find;
    std::function<void()> close;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && close) {
            close();
            return;
        }
        if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && find) {
            find((e->modifiers() & Qt::ShiftModifier) != 0);
            return;
        }
        QLineEdit::keyPressEvent(e);
    }
};

// A match in the text of the whole conversation: where it starts, and the piece that holds that start.
struct WholeMatch {
    size_t at = SIZE_MAX, piece = 0, pieceStart = 0;
};

// Finds `needle` (case-folded) in the text `options` write of every piece of `stream`: the first match from
// `from` on (the last before it, when `backward`), else round the other end. Ends early, finding nothing,
// once `cancel` is set; `done` tells how far it got, of kSearchTotal.
WholeMatch SearchWholeText(const StreamReassembly& stream, const StreamTextOptions& options,
                           const std::string& needle, size_t from, bool backward,
                           const std::atomic<bool>& cancel, std::atomic<int64_t>& done) {
    const std::array<char, 256>& fold = CaseFold();
    // The text as the view writes it, without its limit, a chunk at a time; each chunk keeps the end of the
    // one before, for a match across them.
    StreamTextWriter writer(options);
    const std::vector<StreamPiece>& pieces = stream.Pieces();
    std::string text;
    size_t base = 0;                                // where `text` starts in the whole text
    std::vector<std::pair<size_t, size_t>> starts;  // where pieces start in the whole text
    WholeMatch first, after, before, last;
    for (size_t p = 0; p <= pieces.size() && after.at == SIZE_MAX && !cancel.load(); ++p) {
        if (p < pieces.size()) {
            starts.emplace_back(base + text.size(), p);
            writer.Append(stream, pieces, p, p + 1, text, nullptr);
            if (text.size() < kSearchChunk)
                continue;
            done = static_cast<int64_t>(p * kSearchTotal / pieces.size());
        }
        const size_t scanned = text.size();
        for (char& c : text)
            c = fold[static_cast<uint8_t>(c)];
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
            const size_t g = base + at;
            const auto holder =
                std::prev(std::upper_bound(starts.begin(), starts.end(), std::make_pair(g, SIZE_MAX)));
            const WholeMatch m{g, holder->second, holder->first};
            if (first.at == SIZE_MAX)
                first = m;
            last = m;
            if (g < from)
                before = m;
            else if (!backward && after.at == SIZE_MAX)
                after = m;
        }
        const size_t keep = std::min(scanned, needle.size() - 1);
        base += scanned - keep;
        text.erase(0, scanned - keep);
        // The piece that holds the kept end stays, for a match that starts there.
        const auto firstKept = std::upper_bound(starts.begin(), starts.end(), std::make_pair(base, SIZE_MAX));
        starts.erase(starts.begin(), firstKept == starts.begin() ? firstKept : std::prev(firstKept));
    }
    if (cancel.load())
        return {};
    return backward ? (before.at != SIZE_MAX ? before : last) : (after.at != SIZE_MAX ? after : first);
}

}  // namespace

QColor CStreamView::ClientBack() {
    return CPacketsModel::kToServerBack;
}

QColor CStreamView::ServerBack() {
    return CPacketsModel::kToClientBack;
}

CStreamView::CStreamView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("streamView"));
    auto* top = new QHBoxLayout;
    top->setContentsMargins(4, 2, 4, 2);
    auto* showLabel = new QLabel(tr("Show:"), this);
    m_show = new QComboBox(this);
    m_show->addItems({tr("both directions"), tr("client only"), tr("server only")});
    showLabel->setBuddy(m_show);
    m_save = new QPushButton(tr("Save Stream As..."), this);
    m_save->setEnabled(false);
    m_summary = new QLabel(this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(showLabel);
    top->addWidget(m_show);
    top->addWidget(m_save);
    top->addWidget(m_summary, 1);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("streamText"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setUndoRedoEnabled(false);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_text->setFont(CPayloadTextCtrl::BaseFormat().font());
    FollowPalette();

    m_findBar = new QWidget(this);
    auto* find = new QHBoxLayout(m_findBar);
    find->setContentsMargins(4, 2, 4, 2);
    auto* findLabel = new QLabel(tr("Find:"), m_findBar);
    auto* field = new FindLineEdit(m_findBar);
    m_findField = field;
    m_findField->setClearButtonEnabled(true);
    findLabel->setBuddy(m_findField);
    m_findNext = new QToolButton(m_findBar);
    m_findNext->setText(tr("Next"));
    m_findNext->setToolTip(tr("Find the next match (F3)"));
    m_findPrevious = new QToolButton(m_findBar);
    m_findPrevious->setText(tr("Previous"));
    m_findPrevious->setToolTip(tr("Find the previous match (Shift+F3)"));
    m_findStatus = new QLabel(m_findBar);
    auto* closeFind = new QToolButton(m_findBar);
    closeFind->setText(QStringLiteral("\u00D7"));
    closeFind->setToolTip(tr("Close the find bar (Esc)"));
    closeFind->setAutoRaise(true);
    find->addWidget(findLabel);
    find->addWidget(m_findField, 1);
    find->addWidget(m_findNext);
    find->addWidget(m_findPrevious);
    find->addWidget(m_findStatus);
    find->addStretch();
    find->addWidget(closeFind);
    m_findBar->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_findBar);

    const auto closeBar = [this] {
        m_findBar->hide();
        m_text->setFocus();
    };
    field->find = [this](bool backward) { FindNext(backward); };
    field->close = closeBar;
    connect(closeFind, &QToolButton::clicked, this, closeBar);
    connect(m_findNext, &QToolButton::clicked, this, [this] { FindNext(false); });
    connect(m_findPrevious, &QToolButton::clicked, this, [this] { FindNext(true); });
    connect(m_findField, &QLineEdit::textEdited, this, [this] {
        // Typing searches from where the current match starts, so the match grows with the text typed.
        QTextCursor c = m_text->textCursor();
        c.setPosition(c.selectionStart());
        m_text->setTextCursor(c);
        // Only in the part shown: a search of all of it would hold the keys typed meanwhile.
        if (m_findField->text().isEmpty())
            m_findStatus->clear();
        else
            FindNext(false, false);
    });

    // Shortcuts of this tab only: they work wherever the focus is inside it.
    auto addShortcut = [this](const QKeySequence& key, auto handler) {
        auto* action = new QAction(this);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
    };
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { OpenFindBar(); });
    addShortcut(QKeySequence(Qt::Key_F3), [this] { FindNext(false); });
    addShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(true); });

    connect(m_show, &QComboBox::currentIndexChanged, this, [this] { Rebuild(); });
    connect(m_save, &QPushButton::clicked, this, &CStreamView::SaveStreamAs);

    for (size_t d = 0; d < 2; ++d) {
        const QColor back = d == 0 ? ClientBack() : ServerBack();
        for (size_t k = 0; k < kKinds; ++k) {
            m_formats[d][k] = CPayloadTextCtrl::FormatOf(static_cast<PayloadKind>(k));
            m_formats[d][k].setBackground(back);
        }
        m_noteFormats[d] = CPayloadTextCtrl::BaseFormat();
        m_noteFormats[d].setForeground(QColor(90, 90, 90));
        m_noteFormats[d].setBackground(QColor(230, 230, 230));
        m_noteFormats[d].setFontItalic(true);
    }

    m_reader.setInterval(0);
    connect(&m_reader, &QTimer::timeout, this, &CStreamView::ContinueReading);
    m_follow = new CPacedAction(
        kFollowMs, [this] { Follow(); }, this);
    CStoreWatcher* watcher = CStoreWatcher::Instance();
    connect(watcher, &CStoreWatcher::grew, this, [this](const StoreCounts&, uint32_t first, uint32_t last) {
        if (m_stream && first <= m_stream->Connection() && m_stream->Connection() <= last && Active())
            m_follow->Request();
    });
    // Once the capture is over nothing can fill the holes: they are given up.
    connect(watcher, &CStoreWatcher::stateChanged, this, [this] {
        if (m_stream && !m_finished && !m_reader.isActive() && CaptureOver() && Active())
            Follow();
    });
    connect(watcher, &CStoreWatcher::cleared, this, &CStreamView::Clear);
    Clear();
}

CStreamView::~CStreamView() {
    StopSearch(true);
}

void CStreamView::StopSearch(bool cancel) {
    if (!m_searcher.joinable())
        return;
    if (cancel)
        m_searchCancel = true;
    m_searcher.join();
}

int CStreamView::Connection() const {
    return m_stream ? static_cast<int>(m_stream->Connection()) : -1;
}

bool CStreamView::Active() const {
    // A view of its own (no tab around it) always works.
    return isWindow() || isVisibleTo(window());
}

// The page takes the desktop's colours; the turns carry their own fixed light grounds under black text, so
// they read on a dark page as on a light one. A found match stays marked while the find field has the focus.
void CStreamView::FollowPalette() {
    QPalette pal = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    m_text->setPalette(pal);
}

void CStreamView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        FollowPalette();
}

void CStreamView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // What came while the tab was hidden, now.
    if (m_stale)
        Rebuild();
    else
        Follow();
}

bool CStreamView::CaptureOver() const {
    return g_captureState.load(std::memory_order_relaxed) == CAPTURE_IDLE;
}

const QTextCharFormat& CStreamView::FormatOf(PayloadKind kind, StreamDirection dir) const {
    return m_formats[Dir(dir)][static_cast<size_t>(kind)];
}

void CStreamView::Clear() {
    StopSearch(true);
    m_reader.stop();
    m_stream.reset();
    m_writer.reset();
    m_text->clear();
    m_piecesShown = 0;
    m_firstPiece = 0;
    m_stale = false;
    m_finished = false;
    m_save->setEnabled(false);
    m_summary->setText(tr("Activate a connection, or choose Follow Stream on a row."));
    emit textChanged();
}

void CStreamView::ShowConnection(int connection) {
    Clear();
    if (connection < 0 || static_cast<size_t>(connection) >= g_connectionTable.size())
        return;
    m_stream = std::make_unique<StreamReassembly>(static_cast<size_t>(connection));
    m_save->setEnabled(true);
    Rebuild();
}

bool CStreamView::WorkLeft() const {
    if (!m_stream || m_stream->Connection() >= g_connectionTable.size() || m_stream->Gone() > 0)
        return false;
    const bool unread =
        m_stream->PacketsRead() < g_connectionTable[m_stream->Connection()].packetIndices.size();
    const bool unshown = m_piecesShown < m_stream->Pieces().size() && !m_limitNoted;
    return unread || unshown;
}

void CStreamView::ContinueReading() {
    if (!Active()) {
        m_reader.stop();  // the tab catches up when it shows
        return;
    }
    ReadAndAppend(SIZE_MAX, SIZE_MAX, kStepMs);
    if (!WorkLeft())
        m_reader.stop();
}

void CStreamView::Follow() {
    if (!m_stream)
        return;
    if (m_stream->Connection() >= g_connectionTable.size()) {
        Clear();  // the store was emptied under us
        return;
    }
    if (!Active() || m_stale || m_reader.isActive() || m_searcher.joinable())
        return;  // it catches up by itself, when it shows, or once the search is done
    ReadAndAppend(SIZE_MAX, SIZE_MAX, kStepMs);
    if (WorkLeft())
        m_reader.start();
}

void CStreamView::ReadAndAppend(size_t maxPackets, size_t maxText, int maxMs) {
    if (!m_stream || m_stream->Connection() >= g_connectionTable.size())
        return;
    QElapsedTimer clock;
    clock.start();
    for (size_t read = 0; read < maxPackets;) {
        // Small batches when timed, so that a step ends near its time.
        const size_t n =
            m_stream->Extend(std::min(maxMs >= 0 ? kReadStep / 4 : kReadStep, maxPackets - read));
        read += n;
        if (n == 0 || (maxMs >= 0 && clock.elapsed() >= maxMs))
            break;
    }
    // Packets left out would read as bytes the capture missed: the tab says what became of them instead.
    if (m_stream->Gone() > 0) {
        if (!m_goneNoted) {
            m_reader.stop();
            m_text->clear();
            QTextCursor(m_text->document())
                .insertText(QString::fromLatin1(msg::kStreamBytesGone), m_noteFormats[0]);
            m_goneNoted = true;
            emit textChanged();
        }
        UpdateSummary();
        return;
    }
    const ConnectionRecord& c = g_connectionTable[m_stream->Connection()];
    // Holes are given up once the capture is over and every packet is read: nothing can fill them any more.
    if (!m_finished && CaptureOver() && m_stream->PacketsRead() >= c.packetIndices.size()) {
        m_stream->Finish();
        m_finished = true;
    }
    AppendPieces(maxText, &clock, maxMs);
    UpdateSummary();
}

void CStreamView::UpdateSummary() {
    if (!m_stream)
        return;
    const auto number = [](uint64_t n) { return QLocale().toString(static_cast<qulonglong>(n)); };
    QString text = tr("Connection No.%1 (%2): %3 bytes from the client, %4 bytes from the server")
                       .arg(m_stream->Connection())
                       .arg(m_stream->IsTcp() ? QStringLiteral("TCP") : QStringLiteral("UDP"))
                       .arg(number(m_stream->Bytes(StreamDirection::ToServer)))
                       .arg(number(m_stream->Bytes(StreamDirection::ToClient)));
    const uint64_t held =
        m_stream->HeldBytes(StreamDirection::ToServer) + m_stream->HeldBytes(StreamDirection::ToClient);
    if (held)
        text += tr("; %1 bytes wait behind a gap").arg(number(held));
    if (m_stream->Gone() > 0)
        text += tr("; %1 packets are no longer in the file").arg(number(m_stream->Gone()));
    m_summary->setText(text);
}

void CStreamView::Rebuild(size_t firstPiece) {
    StopSearch(true);
    m_reader.stop();
    m_text->clear();
    m_firstPiece = m_piecesShown = firstPiece;
    m_shownOffset = m_prefix = 0;
    m_limitNoted = false;
    m_goneNoted = false;
    m_lineStart = true;
    if (m_stream && !Active()) {
        m_stale = true;  // built when the tab shows
        m_writer.reset();
        return;
    }
    m_stale = false;
    StreamTextOptions options;
    const Show show = CurrentShow();
    options.client = show != ServerOnly;
    options.server = show != ClientOnly;
    options.limit = kShownLimit;
    m_writer = std::make_unique<StreamTextWriter>(options);
    if (firstPiece > 0) {
        const QString note = tr("[the conversation before is not shown; Find searches all of it]");
        QTextCursor(m_text->document()).insertText(note + QLatin1Char('\n'), m_noteFormats[0]);
        m_prefix = static_cast<size_t>(note.size()) + 1;
    }
    // The first screen at once (a screenful of short lines is far less than kFirstText); the rest in steps,
    // so that the window stays responsive.
    ReadAndAppend(kReadStep, kFirstText, 4 * kStepMs);
    m_text->moveCursor(QTextCursor::Start);
    if (WorkLeft())
        m_reader.start();
}

bool CStreamView::AppendPieces(size_t maxText, const QElapsedTimer* clock, int maxMs) {
    if (!m_stream || !m_writer || m_goneNoted)
        return false;
    const std::vector<StreamPiece>& pieces = m_stream->Pieces();
    if (m_piecesShown >= pieces.size() || m_limitNoted)
        return false;
    // Appending at the end keeps the reader's place and selection; the view scrolls only when it already
    // showed the end.
    QScrollBar* bar = m_text->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum() && bar->maximum() > 0;
    // At least one piece of text per step, so that a step always gets on.
    for (size_t appended = 0; appended < maxText && m_piecesShown < pieces.size() && !m_limitNoted;) {
        appended += AppendChunk(std::min(kChunkText, maxText - appended));
        if (clock && maxMs >= 0 && clock->elapsed() >= maxMs)
            break;
    }
    if (atEnd)
        bar->setValue(bar->maximum());
    emit textChanged();
    return m_piecesShown < pieces.size() && !m_limitNoted;
}

size_t CStreamView::AppendChunk(size_t maxText) {
    const std::vector<StreamPiece>& pieces = m_stream->Pieces();
    std::string text;
    std::vector<StreamTextRun> runs;
    while (m_piecesShown < pieces.size() && text.size() < maxText && !m_writer->LimitReached()) {
        const size_t to = std::min(pieces.size(), m_piecesShown + 16);
        m_writer->Append(*m_stream, pieces, m_piecesShown, to, text, &runs);
        m_piecesShown = to;
    }

    const QString all = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    QTextCursor cursor(m_text->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    std::string scan;
    for (const StreamTextRun& run : runs) {
        const QString piece =
            QString::fromRawData(all.constData() + run.start, static_cast<qsizetype>(run.length));
        if (run.note) {
            cursor.insertText(piece, m_noteFormats[Dir(run.direction)]);
        } else {
            // The "Data" tab's highlighting, turn by turn. A turn that goes on from an earlier run is scanned
            // with what it needs of its context: the start of a line (header names) or not (no method).
            size_t context = 0;
            scan.clear();
            if (!run.turnStart) {
                scan.push_back(m_lineStart ? '\n' : 'x');
                context = 1;
            }
            scan.append(text, run.start, run.length);
            const std::vector<PayloadRun> look = FlattenRuns(scan.size(), ScanPayload(scan));
            for (const PayloadRun& r : look) {
                size_t from = r.start, to = r.start + r.length;
                if (to <= context)
                    continue;
                from = std::max(from, context) - context;
                to -= context;
                cursor.insertText(piece.mid(static_cast<qsizetype>(from), static_cast<qsizetype>(to - from)),
                                  FormatOf(r.kind, run.direction));
            }
        }
        m_lineStart = text[run.start + run.length - 1] == '\n';
    }
    if (m_writer->LimitReached() && !m_limitNoted) {
        m_limitNoted = true;
        if (!m_lineStart)
            cursor.insertText(QStringLiteral("\n"), m_noteFormats[0]);
        cursor.insertText(tr("[first %1 MB shown; Save Stream As... for the rest]").arg(kShownLimit >> 20),
                          m_noteFormats[0]);
    }
    cursor.endEditBlock();
    return text.size();
}

void CStreamView::SetShow(Show show) {
    m_show->setCurrentIndex(static_cast<int>(show));
}

CStreamView::Show CStreamView::CurrentShow() const {
    return static_cast<Show>(std::clamp(m_show->currentIndex(), 0, 2));
}

bool CStreamView::SaveTo(const QString& path, QString* error, const SaveProgress& progress) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!m_stream)
        return fail(tr("No connection is shown."));
    // A worker reads and writes everything, not only what is shown, from a reassembly of its own: the view
    // goes on with its own meanwhile, and the window stays responsive for a stream of any size.
    struct Job {
        std::atomic<int64_t> done{0};  // of kTotal: reading is the first half, writing the second
        std::atomic<bool> cancel{false}, finished{false}, committed{false};
        std::string error;
    };
    constexpr int64_t kTotal = 1000;
    Job job;
    const Show show = CurrentShow();
    std::thread worker([&job, connection = m_stream->Connection(), show,
                        file = QFile::encodeName(path).toStdString()] {
        StreamReassembly stream(connection);
        const size_t packets = std::max<size_t>(1, g_connectionTable[connection].packetIndices.size());
        while (!job.cancel.load() && stream.Extend(kReadStep) > 0)
            job.done = static_cast<int64_t>(std::min(packets, stream.PacketsRead()) * (kTotal / 2) / packets);
        // No file is better than one with holes that the capture never had.
        if (stream.Gone() > 0) {
            job.error = msg::kStreamBytesGone;
            job.finished = true;
            return;
        }
        // Holes are given up once nothing can fill them any more, as the view does.
        if (g_captureState.load(std::memory_order_relaxed) == CAPTURE_IDLE)
            stream.Finish();
        const uint64_t total =
            std::max<uint64_t>(1, (show != ServerOnly ? stream.Bytes(StreamDirection::ToServer) : 0) +
                                      (show != ClientOnly ? stream.Bytes(StreamDirection::ToClient) : 0));
        AtomicFileWriter out(file);
        if (job.cancel.load() || !out.Open()) {
            job.error = out.Error();
            job.finished = true;
            return;
        }
        uint64_t written = 0;
        WriteStreamBytes(stream, stream.Pieces(), show != ServerOnly, show != ClientOnly,
                         [&](std::span<const uint8_t> bytes) {
                             written += bytes.size();
                             job.done = kTotal / 2 +
                                        static_cast<int64_t>(std::min(written, total) * (kTotal / 2) / total);
                             return !job.cancel.load() &&
                                    out.Write({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
                         });
        // Commit reports a failed write too, and leaves the old file in place then; a cancelled save leaves
        // nothing (the writer removes its file).
        if (!job.cancel.load()) {
            if (out.Commit())
                job.committed = true;
            else
                job.error = out.Error();
        }
        job.finished = true;
    });
    do {
        if (progress && !job.cancel.load() && !progress(job.done.load(), kTotal))
            job.cancel = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(progress ? 10 : 1));
    } while (!job.finished.load());
    worker.join();
    // A Cancel that came after the file was in place changes nothing: it is saved.
    if (job.committed.load())
        return true;
    if (job.cancel.load())
        return fail(QString());
    if (!job.error.empty())
        return fail(QString::fromStdString(job.error));
    return true;
}

void CStreamView::SaveStreamAs() {
    if (!m_stream)
        return;
    const QString suggested =
        QDir(m_saveFolder).filePath(QStringLiteral("stream-%1.bin").arg(m_stream->Connection()));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Stream As"), suggested);
    if (path.isEmpty())
        return;
    m_saveFolder = QFileInfo(path).absolutePath();
    auto save = [this, path] {
        QString error;
        if (SaveTo(path, &error, m_saveProgress))
            emit saved(path, QFileInfo(path).size());
        else if (!error.isEmpty())
            QMessageBox::warning(
                this, QStringLiteral("Pacterra"),
                tr("The stream could not be saved to %1.").arg(path) + QStringLiteral("\n\n") + error);
    };
    if (m_runSave)
        m_runSave(save);
    else
        save();
}

void CStreamView::OpenFindBar() {
    m_findBar->show();
    m_findField->setFocus();
    m_findField->selectAll();
}

bool CStreamView::FindInWholeStream(const QByteArray& what, bool backward) {
    if (m_stale && Active())
        Rebuild();
    if (!m_stream || !m_writer || m_searcher.joinable())
        return false;
    // Where the current match is in the text of the whole conversation.
    const QTextCursor current = m_text->textCursor();
    const auto global = [this](int local) {
        return m_shownOffset +
               (static_cast<size_t>(local) > m_prefix ? static_cast<size_t>(local) - m_prefix : 0);
    };
    const size_t from = backward ? global(current.selectionStart()) : global(current.selectionEnd());
    const std::array<char, 256>& fold = CaseFold();
    std::string needle(what.constData(), static_cast<size_t>(what.size()));
    for (char& c : needle)
        c = fold[static_cast<uint8_t>(c)];
    StreamTextOptions options = m_writer->Options();
    options.limit = SIZE_MAX;

    // Hundreds of megabytes take a second or more: a worker reads and searches them while the window goes
    // on painting, through the window's command (its progress, whose Cancel ends the search, and no other
    // command meanwhile). The view leaves its reassembly to the worker until then (Follow waits).
    m_reader.stop();
    m_searchCancel = false;
    std::atomic<int64_t> done{0};
    std::atomic<bool> finished{false};
    WholeMatch m;
    m_searcher = std::thread([&, stream = m_stream.get()] {
        while (stream->Extend(SIZE_MAX) > 0) {
        }
        m = SearchWholeText(*stream, options, needle, from, backward, m_searchCancel, done);
        finished = true;
    });
    const auto wait = [&] {
        do {
            if (m_findProgress && !m_searchCancel.load() && !m_findProgress(done.load(), kSearchTotal))
                m_searchCancel = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(m_findProgress ? 10 : 1));
        } while (!finished.load());
    };
    if (m_runFind) {
        m_runFind(wait);
    } else {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_searcher.join();
        QGuiApplication::restoreOverrideCursor();
    }
    StopSearch(false);  // done, or the window's command could not run: its end is waited for here
    if (WorkLeft())
        m_reader.start();
    if (m_searchCancel.load())
        return false;  // cancelled, or the view was cleared or rebuilt meanwhile
    if (m_stream->Gone() > 0)
        return false;  // the file lost some of its packets: the page says so instead of a match
    if (m.at == SIZE_MAX)
        return false;
    // Shown where it is: in the shown part, or in the part from its piece on.
    const bool shown = m.piece >= m_firstPiece && m.piece < m_piecesShown && !m_stale;
    if (!shown) {
        Rebuild(m.piece);
        m_shownOffset = m.pieceStart;
    }
    const size_t local = m.at - m_shownOffset + m_prefix;
    while (static_cast<size_t>(m_text->document()->characterCount()) < local + needle.size() + 1 &&
           AppendPieces(kFirstText, nullptr, -1)) {
    }
    // A part written from its own first piece may differ from the whole text by a line break at its start.
    QTextCursor c(m_text->document());
    c.setPosition(static_cast<int>(std::min<size_t>(
        local > 4 ? local - 4 : 0, static_cast<size_t>(m_text->document()->characterCount() - 1))));
    m_text->setTextCursor(c);
    return m_text->find(QString::fromLatin1(what));
}

bool CStreamView::FindNext(bool backward, bool whole) {
    // The tab's keys still reach it while a search runs (its command's progress holds the window's): the
    // search goes on, and the reassembly stays the worker's.
    if (m_searcher.joinable())
        return false;
    m_searchCancel = false;
    const QString what = m_findField->text();
    if (what.isEmpty()) {
        OpenFindBar();
        return false;
    }
    if (!m_findBar->isVisible())
        m_findBar->show();
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    const QTextCursor before = m_text->textCursor();
    // The shown text first: a match there is the next one in the whole conversation too. Past its ends, the
    // whole conversation when the view shows only part of it.
    bool found = m_text->find(what, flags);
    const bool part = m_stream && (m_firstPiece > 0 || m_limitNoted || m_stale || WorkLeft());
    if (!found && part && whole) {
        const QByteArray latin = what.toLatin1();
        found = QString::fromLatin1(latin) == what && FindInWholeStream(latin, backward);
        if (!found)
            m_text->setTextCursor(before);
    } else if (!found) {
        // Round the end (or the start) and on from the other side.
        QTextCursor wrap(m_text->document());
        wrap.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        m_text->setTextCursor(wrap);
        found = m_text->find(what, flags);
        if (!found)
            m_text->setTextCursor(before);
    }
    m_findStatus->setText(found                   ? QString()
                          : m_searchCancel.load() ? tr("cancelled")
                          : part && !whole        ? tr("not in the part shown (Return searches all of it)")
                                                  : tr("not found"));
    // A found text gives the field back the desktop's colours (and their later changes).
    QPalette pal;
    if (!found) {
        pal = m_findField->palette();
        pal.setColor(QPalette::Base, QColor(255, 200, 200));
        pal.setColor(QPalette::Text, QColor(0, 0, 0));
    }
    m_findField->setPalette(pal);
    if (found)
        m_text->ensureCursorVisible();
    return found;
}
