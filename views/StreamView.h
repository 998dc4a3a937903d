// The "Stream" tab: the whole conversation of one connection as text, the client's bytes on the packets
// list's client colour and the server's on its server colour, each turn on a new line, with the "Data" tab's
// highlighting. It grows with the store while a capture runs (only new packets are read, and only while the
// tab is shown: a hidden tab catches up when it shows), shows at most kShownLimit characters (a marked line
// says so; Save Stream As... writes everything), finds text in the whole conversation (Ctrl+F, F3,
// Shift+F3; a match beyond the shown part shows the part that holds it) and shows both directions or one.
#pragma once

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"
#include "views/PayloadScan.h"

class CPacedAction;
class QComboBox;
class QElapsedTimer;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CStreamView : public QWidget {
    Q_OBJECT

public:
    // Characters shown at most; the rest is left to Save Stream As....
    static constexpr size_t kShownLimit = size_t{2} << 20;
    // Packets read, and characters laid out, before the first screen is shown; the rest follow in steps of
    // about kStepMs each (a step of many short lines costs far more than its characters say), so that the
    // window never pauses for them.
    static constexpr size_t kReadStep = 4000;
    static constexpr size_t kFirstText = size_t{64} << 10;
    static constexpr int kStepMs = 4;
    // While the capture runs, the packets of the shown connection are read at most this often (the packets
    // list's pace).
    static constexpr int kFollowMs = 300;
    // Choices of "Show:".
    enum Show { Both = 0, ClientOnly = 1, ServerOnly = 2 };

    explicit CStreamView(QWidget* parent = nullptr);
    ~CStreamView() override;

    // Shows connection `connection` of the store (an index outside it shows nothing).
    void ShowConnection(int connection);
    // Reads the packets the shown connection received since and appends their text.
    void Follow();
    // Shows nothing (the store was emptied).
    void Clear();
    int Connection() const;

    void SetShow(Show show);
    Show CurrentShow() const;
    // Called on the calling thread while a save runs on its worker, with the work done of `total`; false
    // cancels the save.
    using SaveProgress = std::function<bool(int64_t done, int64_t total)>;
    // Writes the raw bytes of the directions shown, in order, to `path` (replaced only once complete), on a
    // worker thread while `progress` is called. False with a message in `error` when it cannot, and with an
    // empty `error` when `progress` cancelled it (nothing is left behind then).
    bool SaveTo(const QString& path, QString* error = nullptr, const SaveProgress& progress = {});
    // Asks for a file and saves (the "Save Stream As..." button): through `run` (the window's file command,
    // which keeps other commands away) with `progress`, where set. Says `saved` when done.
    void SaveStreamAs();
    void SetSaveCommand(std::function<void(std::function<void()>)> run, SaveProgress progress) {
        m_runSave = std::move(run);
        m_saveProgress = std::move(progress);
    }
    // Find's search past the shown part runs through `run` (the window's command, which keeps other commands
    // away while the search runs on a worker) with `progress`; without them it waits for the worker.
    void SetFindCommand(std::function<void(std::function<void()>)> run, SaveProgress progress) {
        m_runFind = std::move(run);
        m_findProgress = std::move(progress);
    }
    // The folder the file dialog opens in (the last one used for a stream).
    void SetSaveFolder(const QString& folder) { m_saveFolder = folder; }
    const QString& SaveFolder() const { return m_saveFolder; }

    // The find bar: shows it with the focus in its field.
    void OpenFindBar();
    // Finds the field's text after (or before) the selection, wrapping around; false (and "not found" in the
    // bar) when it is nowhere. Not `whole`: only in the part shown (as the find field does while typing).
    bool FindNext(bool backward = false, bool whole = true);

    QPlainTextEdit* TextCtrl() const { return m_text; }
    QWidget* FindBar() const { return m_findBar; }
    QLineEdit* FindField() const { return m_findField; }
    QLabel* FindStatus() const { return m_findStatus; }
    QComboBox* ShowBox() const { return m_show; }
    QLabel* Summary() const { return m_summary; }
    const StreamReassembly* Stream() const { return m_stream.get(); }
    // The text's colours: the client's and the server's background.
    static QColor ClientBack();
    static QColor ServerBack();

signals:
    // The shown text grew (or was replaced).
    void textChanged();
    // Save Stream As... wrote `bytes` bytes to `path`.
    void saved(const QString& path, qint64 bytes);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Shows the text from piece `firstPiece` on (a part further in, for a match found there).
    void Rebuild(size_t firstPiece = 0);
    void FollowPalette();
    // Waits for the search's worker, cancelling it first when `cancel`.
    void StopSearch(bool cancel);
    // Whether the tab is shown (or would be with its window): a hidden one does no work.
    bool Active() const;
    // Reads at most `maxPackets` new packets, finishes the stream once the capture is over and everything is
    // read, and appends the text of the new pieces: `maxText` characters at most, and no more once `maxMs`
    // have passed (negative: no time limit).
    void ReadAndAppend(size_t maxPackets, size_t maxText, int maxMs);
    // Appends the text of the pieces not shown yet, within the limits of ReadAndAppend; true when some are
    // left for later.
    bool AppendPieces(size_t maxText, const QElapsedTimer* clock, int maxMs);
    // Lays out the text of the next pieces, about `maxText` characters; returns how many.
    size_t AppendChunk(size_t maxText);
    // Finds `what` (Latin-1, any case) in the text of the whole conversation, after (or before) the current
    // match; shows the part that holds it and selects it. False when it is nowhere.
    bool FindInWholeStream(const QByteArray& what, bool backward);
    // Whether packets or pieces are left to read or show.
    bool WorkLeft() const;
    void AppendNote(const QString& line, StreamDirection dir);
    void UpdateSummary();
    void ContinueReading();
    bool CaptureOver() const;
    const QTextCharFormat& FormatOf(PayloadKind kind, StreamDirection dir) const;

    std::unique_ptr<StreamReassembly> m_stream;
    std::unique_ptr<StreamTextWriter> m_writer;
    size_t m_firstPiece = 0;   // the shown text starts at this piece
    size_t m_shownOffset = 0;  // where the shown text starts in the text of the whole conversation
    size_t m_prefix = 0;       // characters of the note before the first piece's text
    size_t m_piecesShown = 0;
    bool m_stale = false;  // a connection was chosen while the tab was hidden: built when it shows
    bool m_finished = false;
    bool m_limitNoted = false;
    bool m_goneNoted = false;  // packets of the connection are no longer in the file: the text says so
    bool m_lineStart = true;   // the shown text ends a line

    QComboBox* m_show;
    QPushButton* m_save;
    QLabel* m_summary;
    QPlainTextEdit* m_text;
    QWidget* m_findBar;
    QLineEdit* m_findField;
    QToolButton* m_findNext;
    QToolButton* m_findPrevious;
    QLabel* m_findStatus;
    QTimer m_reader;         // reads the rest of a big connection after the first screen
    CPacedAction* m_follow;  // follows the store's news at the packets list's pace

    static constexpr size_t kKinds = static_cast<size_t>(PayloadKind::Keyword) + 1;
    std::array<std::array<QTextCharFormat, kKinds>, 2> m_formats;
    std::array<QTextCharFormat, 2> m_noteFormats;
    std::function<void(std::function<void()>)> m_runSave;
    SaveProgress m_saveProgress;
    std::function<void(std::function<void()>)> m_runFind;
    SaveProgress m_findProgress;
    std::thread m_searcher;  // a search of the whole conversation; it owns m_stream while it runs
    std::atomic<bool> m_searchCancel{false};
    QString m_saveFolder;
};
