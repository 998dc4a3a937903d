// The "Stream" tab: the whole conversation of one connection as text, the client's bytes on the packets
// list's client colour and the server's on its server colour, each turn on a new line, with the "Data" tab's
// highlighting. It grows with the store while a capture runs (only new packets are read), shows at most
// kShownLimit characters (a marked line says so; Save Stream As... writes everything), finds text
// (Ctrl+F, F3, Shift+F3) and shows both directions or one.
#pragma once

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "analysis/StreamReassembly.h"
#include "analysis/StreamText.h"
#include "views/PayloadScan.h"

class CPacedAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CStreamView : public QWidget {
    Q_OBJECT

public:
    // Characters shown at most; the rest is left to Save Stream As....
    static constexpr size_t kShownLimit = size_t{2} << 20;
    // Packets read, and characters laid out, before the first screen is shown; the rest follow in steps
    // (kReadStep packets and kTextStep characters each) while the window stays responsive.
    static constexpr size_t kReadStep = 4000;
    static constexpr size_t kFirstText = size_t{64} << 10;
    static constexpr size_t kTextStep = size_t{256} << 10;
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
    // Writes the raw bytes of the directions shown, in order, to `path` (replaced only once complete).
    // False with a message in `error` when it cannot.
    bool SaveTo(const QString& path, QString* error = nullptr);
    // Asks for a file and saves (the "Save Stream As..." button).
    void SaveStreamAs();

    // The find bar: shows it with the focus in its field.
    void OpenFindBar();
    // Finds the field's text after (or before) the selection, wrapping around; false (and "not found" in the
    // bar) when it is nowhere.
    bool FindNext(bool backward = false);

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

private:
    void Rebuild();
    // Reads at most `maxPackets` new packets, finishes the stream once the capture is over and everything is
    // read, and appends the text of the new pieces.
    void ReadAndAppend(size_t maxPackets, size_t maxText);
    // Appends the text of the pieces not shown yet, about `maxText` characters at most; true when some are
    // left for later.
    bool AppendPieces(size_t maxText);
    // Whether packets or pieces are left to read or show.
    bool WorkLeft() const;
    void AppendNote(const QString& line, StreamDirection dir);
    void UpdateSummary();
    void ContinueReading();
    bool CaptureOver() const;
    const QTextCharFormat& FormatOf(PayloadKind kind, StreamDirection dir) const;

    std::unique_ptr<StreamReassembly> m_stream;
    std::unique_ptr<StreamTextWriter> m_writer;
    size_t m_piecesShown = 0;
    bool m_finished = false;
    bool m_limitNoted = false;
    bool m_lineStart = true;  // the shown text ends a line

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
};
