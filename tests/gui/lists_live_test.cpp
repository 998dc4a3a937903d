// Both lists shown while another thread feeds the store through the intake, as during a live capture: no
// row lost or doubled, counts right, the models consistent throughout, and the feeding thread never reaches
// the window (the lists learn everything from the store's watcher) and allocates nothing per packet. Meant to
// run under ThreadSanitizer as well as in the plain build.
#include <QAbstractItemModelTester>
#include <QHBoxLayout>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "../unit/config_alloc_probe.h"
#include "ListsTestSupport.h"
#include "app/ListWiring.h"
#include "frontend/FrontEnd.h"
#include "views/ConnectionsModel.h"
#include "views/ListCtrlLeft.h"
#include "views/ListCtrlRight.h"
#include "views/PacketsModel.h"
#include "views/StoreWatcher.h"

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

        // Each connection is told once: the watcher's counts only go up while the store is not emptied.
        int inserted = 0;
        size_t known = g_connectionTable.size();
        QObject::connect(CStoreWatcher::Instance(), &CStoreWatcher::grew, this,
                         [&](const StoreCounts& counts) {
                             inserted += static_cast<int>(counts.connections - known);
                             known = counts.connections;
                         });
        QObject::connect(CStoreWatcher::Instance(), &CStoreWatcher::cleared, this, [&] { known = 0; });
        FeedPacket(0, true, "first");
        std::atomic<bool> done{false};
        size_t intakeAllocations = 0;  // the feeder's, read after the join
        std::thread feeder([&] {
            std::mt19937 rng(5);
            for (int i = 1; i < kPackets; ++i) {
                // A new connection every 20 packets, so that rows keep arriving to the end.
                const bool opens = i % 20 == 0;
                const int c = opens ? i / 20 : static_cast<int>(rng() % (i / 20 + 1));
                const std::vector<uint8_t> frame =
                    PacketFrame(c, opens || (rng() & 1), std::string(rng() % 60, 'x'));
                AllocProbe probe;
                FeedFrame(frame, 1700000000, i);
                intakeAllocations += probe.Count();
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
        left->Sync();
        right->Follow();
        CStoreWatcher::Instance()->disconnect(this);

        QCOMPARE(g_pMainFrame, nullptr);
        // The store grows in blocks: a few allocations for all the packets, none per packet.
        QVERIFY2(intakeAllocations < kPackets / 100, QByteArray::number(qulonglong(intakeAllocations)));
        QCOMPARE(inserted, kConnections);
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

    // Each change is told once, in the reading after it, and nothing when nothing changed.
    void watcherTellsEachChangeOnce() {
        StartFeeding();
        CStoreWatcher watcher(0);
        QSignalSpy cleared(&watcher, &CStoreWatcher::cleared), grew(&watcher, &CStoreWatcher::grew),
            state(&watcher, &CStoreWatcher::stateChanged);
        struct Step {
            const char* what;
            std::function<void()> change;
            int cleared, grew, state;
            int grown;  // the one connection told as grown, or -1
        };
        const Step steps[] = {
            {"nothing", [] {}, 0, 0, 0, -1},
            {"a new connection", [] { FeedPacket(0, true, "a"); }, 0, 1, 0, -1},
            {"a packet of it", [] { FeedPacket(0, false, "b"); }, 0, 1, 0, 0},
            {"a frame not kept", [] { ++g_notKeptCount; }, 0, 0, 1, -1},
            {"a frame cut short", [] { ++g_shortPacketCount; }, 0, 0, 1, -1},
            {"a connection, and the capture ends",
             [] {
                 FeedPacket(1, true, "c");
                 g_captureState = CAPTURE_IDLE;
             },
             0, 1, 1, -1},
            {"emptied", [] { ResetCaptureStore(); }, 1, 0, 1, -1},
            {"emptied and filled again",
             [] {
                 ResetCaptureStore();
                 g_captureState = CAPTURE_RUNNING;
                 FeedPacket(0, true, "d");
                 FeedPacket(0, false, "e");
             },
             1, 1, 1, -1},
        };
        for (const Step& step : steps) {
            for (int reading = 0; reading < 2; ++reading) {
                cleared.clear(), grew.clear(), state.clear();
                if (reading == 0)
                    step.change();
                watcher.Poll();
                const bool told = reading == 0;
                QVERIFY2(cleared.count() == (told ? step.cleared : 0), step.what);
                QVERIFY2(grew.count() == (told ? step.grew : 0), step.what);
                QVERIFY2(state.count() == (told ? step.state : 0), step.what);
                if (told && step.grew) {
                    const uint32_t first = grew[0][1].value<uint32_t>(), last = grew[0][2].value<uint32_t>();
                    QVERIFY2(step.grown < 0 ? first > last : first == uint32_t(step.grown) && last == first,
                             step.what);
                    QVERIFY2(grew[0][0].value<StoreCounts>().connections == g_connectionTable.size(),
                             step.what);
                }
            }
        }
        ResetCaptureStore();
    }
};

QTEST_MAIN(ListsLiveTest)
#include "lists_live_test.moc"
