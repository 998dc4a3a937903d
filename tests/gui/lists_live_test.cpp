// Both lists shown while another thread feeds the store through the intake, as during a live capture: no
// row lost or doubled, counts right, the models consistent throughout, and the row sink's calls on the
// feeding thread allocate nothing. Meant to run under ThreadSanitizer as well as in the plain build.
#include <QAbstractItemModelTester>
#include <QHBoxLayout>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <random>
#include <thread>

#include "ListsTestSupport.h"
#include "app/ListWiring.h"
#include "frontend/FrontEnd.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PacketsModel.h"

namespace {

thread_local uint64_t t_allocations = 0;

// Forwards the intake's row calls to the list, counting what the calls allocate on the calling thread.
class Frame : public IMainFrame {
public:
    explicit Frame(IConnectionRows* rows) : m_rows(rows) {}
    void InsertRow(int row) override {
        const uint64_t before = t_allocations;
        m_rows->InsertRow(row);
        allocations += t_allocations - before;
        inserted.fetch_add(1, std::memory_order_relaxed);
    }
    void CellsChanged(int row, int first, int last) override {
        const uint64_t before = t_allocations;
        m_rows->CellsChanged(row, first, last);
        allocations += t_allocations - before;
    }
    MsgAnswer Prompt(const std::string&, MsgButtons, const std::string&) override { return MsgAnswer::Ok; }

    std::atomic<uint64_t> allocations{0};
    std::atomic<int> inserted{0};

private:
    IConnectionRows* m_rows;
};

}  // namespace

// Allocations are counted where the allocator can be replaced: ThreadSanitizer brings its own.
#if defined(__SANITIZE_THREAD__)
constexpr bool kCountsAllocations = false;
#else
constexpr bool kCountsAllocations = true;
void* operator new(size_t size) {
    ++t_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
#endif

class ListsLiveTest : public QObject {
    Q_OBJECT

private slots:
    void rowsGrowWhileAnotherThreadFeeds() {
        constexpr int kConnections = 3000;
        constexpr int kPackets = kConnections * 20;
        StartFeeding();
        QWidget window;
        auto* left = new CListCtrlLeft;
        auto* right = new CListCtrlRight;
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(left);
        layout->addWidget(right);
        WireListsAndViews(left, right, nullptr, nullptr, nullptr);
        window.resize(1000, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QAbstractItemModelTester leftTester(left->model());
        QAbstractItemModelTester rightTester(right->model());

        Frame frame(left->RowSink());
        g_pMainFrame = &frame;
        FeedPacket(0, true, "first");
        std::atomic<bool> done{false};
        std::thread feeder([&] {
            std::mt19937 rng(5);
            for (int i = 1; i < kPackets; ++i) {
                // A new connection every 20 packets, so that rows keep arriving to the end.
                const bool opens = i % 20 == 0;
                const int c = opens ? i / 20 : static_cast<int>(rng() % (i / 20 + 1));
                FeedPacket(c, opens || (rng() & 1), std::string(rng() % 60, 'x'), i);
                if (i % 200 == 0)  // spread over a second, so the lists take many batches
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            done = true;
        });
        bool shown = false;
        int partial = 0;  // batches seen while the feeder was still going
        while (!done.load()) {
            QTest::qWait(20);
            const int rows = left->model()->rowCount();
            partial += rows > 0 && rows < kConnections;
            if (!shown && left->model()->rowCount() > 0) {
                QTest::mouseClick(left->viewport(), Qt::LeftButton, {},
                                  left->visualRect(left->model()->index(0, 1)).center());
                shown = true;
            }
            left->scrollToBottom();
            right->scrollToBottom();
        }
        feeder.join();
        g_pMainFrame = nullptr;
        left->Sync();
        right->Follow();

        if (kCountsAllocations)
            QCOMPARE(frame.allocations.load(), uint64_t{0});
        QCOMPARE(frame.inserted.load(), kConnections);
        QCOMPARE(left->model()->rowCount(), kConnections);
        int packets = 0;
        for (int r = 0; r < kConnections; ++r) {
            QCOMPARE(left->model()->index(r, 0).data().toInt(), r);
            packets += left->model()->index(r, 5).data().toInt();
        }
        QCOMPARE(packets, kPackets);
        QVERIFY(shown);
        QVERIFY(partial > 1);
        QCOMPARE(right->CurrentConnection(), 0);
        QCOMPARE(right->model()->rowCount(), static_cast<int>(g_connectionTable[0].packetIndices.size()));
        QCOMPARE(right->Caption(),
                 QString("%1 Packets in Connection No.0").arg(g_connectionTable[0].packetIndices.size()));
        ResetCaptureStore();
    }
};

QTEST_MAIN(ListsLiveTest)
#include "lists_live_test.moc"
