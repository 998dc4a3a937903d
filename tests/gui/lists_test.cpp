// The connections list and the packets list on the real widgets: against the command-line tool's output,
// activation, painted colours, cells, captions, copying, following a connection and emptying.
#include <QClipboard>
#include <QHBoxLayout>
#include <QProcess>
#include <QtTest>

#include "ListsTestSupport.h"
#include "app/ListWiring.h"
#include "app/TrawlerView.h"
#include "capture/CaptureFile.h"
#include "frontend/FrontEnd.h"
#include "views/HexView.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PacketsModel.h"
#include "views/PayloadTextCtrl.h"
#include "views/ProtocolTreeView.h"

namespace {

// Undoes the command-line tool's escapes of tab, CR, LF and backslash.
QString Unescape(const QByteArray& cell) {
    QByteArray out;
    for (int i = 0; i < cell.size(); ++i) {
        if (cell[i] == '\\' && i + 1 < cell.size()) {
            const char c = cell[++i];
            out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += cell[i];
        }
    }
    return QString::fromLatin1(out);
}

QList<QByteArray> CommandLineRows(const QStringList& args) {
    QProcess cli;
    cli.start(QStringLiteral(PACTERRA_CLI), args);
    if (!cli.waitForFinished(30000) || cli.exitCode() != 0)
        return {};
    QList<QByteArray> rows = cli.readAllStandardOutput().split('\n');
    if (!rows.isEmpty() && rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

QString Cell(const QAbstractItemModel* m, int row, int column, int role = Qt::DisplayRole) {
    return m->index(row, column).data(role).toString();
}

// The colour painted at the right end of a row's "Data Len" cell (no text there).
QColor RowBackground(QTableView* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 2));
    return list->viewport()->grab().toImage().pixelColor(cell.right() - 3, cell.center().y());
}

bool RowHasColour(QTableView* list, int row, const QColor& colour, int width = 10000) {
    const QImage image = list->viewport()->grab().toImage();
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    for (int x = 0; x < std::min(width, image.width()); ++x)
        for (int y = cell.top() + 1; y < cell.bottom(); ++y)
            if (image.pixelColor(x, y) == colour)
                return true;
    return false;
}

}  // namespace

class ListsTest : public QObject {
    Q_OBJECT

    QWidget* m_window = nullptr;
    QWidget* m_bar = nullptr;
    CListCtrlLeft* m_left = nullptr;
    CListCtrlRight* m_right = nullptr;
    CHexView* m_hex = nullptr;
    CProtocolTreeView* m_tree = nullptr;
    CTrawlerView* m_view = nullptr;
    QList<int64_t> m_payloads;  // packets whose payload reached the main view
    int m_hexLengthAtPayload = -1;

    void Click(QTableView* list, int row, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(list->viewport(), button, {},
                          list->visualRect(list->model()->index(row, 1)).center());
    }

    // Connection 0: client to server with payload, server to client with payload, then a bare ACK;
    // connection 1: one packet.
    void FeedThree() {
        FeedPacket(0, true, "GET", 0);
        FeedPacket(0, false, "HTTP", 1000);
        FeedPacket(0, true, "", 2000);
        FeedPacket(1, true, "x", 3000);
        m_left->Sync();
    }

private slots:
    void init() {
        StartFeeding();
        m_window = new QWidget;
        m_bar = new QWidget(m_window);
        m_left = new CListCtrlLeft;
        m_right = new CListCtrlRight;
        m_hex = new CHexView;
        m_tree = new CProtocolTreeView;
        m_view = new CTrawlerView;  // not shown: the lists keep the window's width
        auto* layout = new QHBoxLayout(m_window);
        for (QWidget* w : {static_cast<QWidget*>(m_left), static_cast<QWidget*>(m_right),
                           static_cast<QWidget*>(m_hex), static_cast<QWidget*>(m_tree)})
            layout->addWidget(w);
        WireListsAndViews(m_left, m_right, m_view, m_hex, m_tree);
        m_payloads.clear();
        // The payload has arrived once the main view's text is not empty (it is cleared first).
        connect(m_view->PayloadViewer(), &QPlainTextEdit::textChanged, this, [this] {
            if (m_view->PayloadViewer()->document()->isEmpty())
                return;
            m_payloads << m_right->Model()->PacketAt(m_right->SelectedRow());
            m_hexLengthAtPayload = m_hex->HexCtrl()->DataLength();
        });
        // The caption reaches the bar as the packets bar takes it.
        m_bar->setWindowTitle(m_right->Caption());
        connect(m_right, &CListCtrlRight::captionChanged, m_bar, &QWidget::setWindowTitle);
        m_window->resize(1600, 400);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup() {
        delete m_window;
        delete m_view;
        ResetCaptureStore();
    }

    void matchesTheCommandLineTool() {
        const QString sample = QStringLiteral(PACTERRA_SOURCE_DIR "/res/sample.cap");
        QVERIFY(OpenCaptureFile(sample.toStdString(), false, StandardErrorPrompts()));
        m_left->Sync();
        const QList<QByteArray> connections = CommandLineRows({"connections", sample});
        QVERIFY(!connections.isEmpty());
        QCOMPARE(m_left->model()->rowCount(), connections.size());
        for (int r = 0; r < connections.size(); ++r) {
            const QList<QByteArray> cells = connections[r].split('\t');
            QCOMPARE(cells.size(), m_left->model()->columnCount());
            for (int c = 0; c < cells.size(); ++c)
                QCOMPARE(Cell(m_left->model(), r, c), QString::fromLatin1(cells[c]));

            m_right->ShowConnection(r);
            const QList<QByteArray> packets = CommandLineRows({"packets", sample, QString::number(r)});
            QCOMPARE(m_right->model()->rowCount(), packets.size());
            for (int p = 0; p < packets.size(); ++p) {
                const QList<QByteArray> pc = packets[p].split('\t');
                QCOMPARE(pc.size(), 1 + m_right->model()->columnCount());
                QCOMPARE(m_right->model()->index(p, 0).data(CPacketsModel::kToServerRole).toBool(),
                         pc[0] == ">");
                for (int c = 1; c < pc.size(); ++c)
                    QCOMPARE(Cell(m_right->model(), p, c - 1), Unescape(pc[c]));
            }
        }
    }

    void activation_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("highlight");
        QTest::addColumn<int>("selected");
        QTest::newRow("click") << "c1" << 1 << 1;
        QTest::newRow("arrow keys only move the selection") << "c0 down" << 0 << 1;
        QTest::newRow("Enter activates the selection") << "c0 down enter" << 1 << 1;
        QTest::newRow("double-click") << "d1" << 1 << 1;
        QTest::newRow("click below the rows") << "c0 below" << 0 << -2;
        QTest::newRow("right click selects only") << "c0 r1" << 0 << 1;
    }
    void activation() {
        QFETCH(QString, steps);
        QFETCH(int, highlight);
        QFETCH(int, selected);
        FeedThree();
        m_left->setFocus();
        for (const QString& step : steps.split(' ')) {
            if (step == "down")
                QTest::keyClick(m_left, Qt::Key_Down);
            else if (step == "enter")
                QTest::keyClick(m_left, Qt::Key_Return);
            else if (step == "below")
                QTest::mouseClick(m_left->viewport(), Qt::LeftButton, {},
                                  QPoint(20, m_left->viewport()->height() - 5));
            else if (step[0] == 'c')
                Click(m_left, step.mid(1).toInt());
            else if (step[0] == 'r')
                Click(m_left, step.mid(1).toInt(), Qt::RightButton);
            else if (step[0] == 'd')
                QTest::mouseDClick(
                    m_left->viewport(), Qt::LeftButton, {},
                    m_left->visualRect(m_left->model()->index(step.mid(1).toInt(), 1)).center());
        }
        QCOMPARE(m_left->HighlightedRow(), highlight);
        QCOMPARE(m_right->CurrentConnection(), highlight);
        if (selected != -2)  // what a click below the rows does to the selection is the platform's
            QCOMPARE(m_left->SelectedRow(), selected);

        // A packet's activation fills the payload, then the bytes, then the decode.
        m_right->ShowConnection(0);
        Click(m_right, 1);
        const PacketRecord& packet = g_packetTable[1];
        QCOMPARE(m_payloads, QList<int64_t>{1});
        QCOMPARE(m_hexLengthAtPayload, 0);
        QCOMPARE(m_hex->HexCtrl()->DataLength(), packet.capLen);
        QCOMPARE(m_tree->Lines().front().text, "Packet: " + std::to_string(packet.capLen) + " bytes");
        QCOMPARE(m_right->HighlightedRow(), 1);
        QTest::keyClick(m_right, Qt::Key_Down);
        QCOMPARE(m_payloads.size(), 1);
    }

    void paintedColours() {
        FeedThree();
        m_right->ShowConnection(0);
        QCOMPARE(RowBackground(m_right, 0), CPacketsModel::kToServerBack);
        QCOMPARE(RowBackground(m_right, 1), CPacketsModel::kToClientBack);
        QCOMPARE(RowBackground(m_right, 2), CPacketsModel::kNoPayloadBack);
        // The arrows: blue on green one way, red on yellow the other.
        QVERIFY(RowHasColour(m_right, 0, QColor(0, 200, 0), 30));
        QVERIFY(RowHasColour(m_right, 1, QColor(255, 255, 0), 30));
        QVERIFY(!RowHasColour(m_right, 1, QColor(0, 200, 0), 30));

        // The highlight is steel blue with white text, selected or not, with the focus or without.
        Click(m_left, 0);
        Click(m_right, 1);
        for (QTableView* list : {static_cast<QTableView*>(m_left), static_cast<QTableView*>(m_right)}) {
            QCOMPARE(RowBackground(list, list == m_left ? 0 : 1), CReportListView::kHighlightBack);
            QVERIFY(RowHasColour(list, list == m_left ? 0 : 1, Qt::white));
        }
        m_right->setFocus();
        QTest::keyClick(m_right, Qt::Key_Down);
        m_tree->setFocus();
        QCOMPARE(RowBackground(m_right, 1), CReportListView::kHighlightBack);
        QCOMPARE(RowBackground(m_left, 0), CReportListView::kHighlightBack);
        QVERIFY(RowBackground(m_right, 2) != CPacketsModel::kNoPayloadBack);  // the selection shows
    }

    void dataCell_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("cell");
        QTest::newRow("50 bytes") << QByteArray(50, 'a') << QString(50, 'a');
        QTest::newRow("51 bytes") << QByteArray(51, 'b') << QString(50, 'b') + "...";
        QTest::newRow("NUL ends the text") << QByteArray("ab\0cd", 5) << "ab";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("bytes as Latin-1") << QByteArray("\xe9\r\n") << QString::fromLatin1("\xe9\r\n");
    }
    void dataCell() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, cell);
        FeedPacket(0, true, payload.toStdString());
        m_right->ShowConnection(0);
        QCOMPARE(Cell(m_right->model(), 0, 3), cell);
        QCOMPARE(Cell(m_right->model(), 0, 2), QString::number(payload.size()));
    }

    void captionsCopyAndFollowing() {
        QCOMPARE(m_bar->windowTitle(), QString("Packets"));
        FeedThree();
        Click(m_left, 0);
        QCOMPARE(m_bar->windowTitle(), QString("3 Packets in Connection No.0"));
        Click(m_right, 1);

        // Later packets of the shown connection show up with the timer; others change nothing.
        FeedPacket(1, false, "y", 4000);
        FeedPacket(0, false, "late", 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_right->model()->rowCount(), 4, 1000);
        QCOMPARE(m_bar->windowTitle(), QString("4 Packets in Connection No.0"));
        QCOMPARE(m_right->HighlightedRow(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(Cell(m_left->model(), 0, 5), QString("4"), 1000);

        // Copy line copies the selected row, which a right click makes another than the highlighted one.
        Click(m_left, 1, Qt::RightButton);
        m_left->CopyLineAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QString("1 22:13:20.003 10.0.0.1:1001 10.0.0.2:80 TCP:http 2 22:13:20.004"));
        QCOMPARE(m_left->CopyLineAction()->data().toInt(), 159);
        QGuiApplication::clipboard()->clear();
        QTest::keySequence(m_left, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), m_left->LineText(1));
        Click(m_right, 3, Qt::RightButton);
        m_right->CopyLineAction()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("22:13:20.005 58 4 late"));
        QCOMPARE(m_right->CopyLineAction()->data().toInt(), 160);
        QCOMPARE(m_right->HighlightedRow(), 1);
    }

    void clearAllAfterAHighlight() {
        FeedThree();
        Click(m_left, 0);
        Click(m_right, 0);
        // As Start and Open do: the store is emptied; the lists hear of it from the store's watcher.
        ResetCaptureStore();
        m_left->Sync();
        QCOMPARE(m_left->model()->rowCount(), 0);
        QCOMPARE(m_right->model()->rowCount(), 0);
        QCOMPARE(m_left->HighlightedRow(), -1);
        QCOMPARE(m_right->HighlightedRow(), -1);
        QCOMPARE(m_right->CurrentConnection(), -1);
        QCOMPARE(m_bar->windowTitle(), QString("Packets"));
        QCOMPARE(m_hex->HexCtrl()->DataLength(), 57);  // the detail views keep the last packet
        // New rows start from the first connection again.
        StartFeeding();
        FeedPacket(0, true, "again");
        m_left->Sync();
        QCOMPARE(m_left->model()->rowCount(), 1);
        QCOMPARE(RowBackground(m_left, 0), QColor(Qt::white));

        // A store emptied without word to the lists: they start again from what it holds.
        FeedThree();
        Click(m_left, 1);
        StartFeeding();
        FeedPacket(0, true, "one");
        m_left->Sync();
        m_right->Follow();
        QCOMPARE(m_left->model()->rowCount(), 1);
        QCOMPARE(m_left->HighlightedRow(), -1);
        QCOMPARE(m_right->CurrentConnection(), -1);
        QCOMPARE(m_bar->windowTitle(), QString("Packets"));
    }
};

QTEST_MAIN(ListsTest)
#include "lists_test.moc"
