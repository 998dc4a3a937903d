// The adapter dialog on hand-made adapter lists: the stored choice shown, leaving only with a choice while
// there is one to make, the choice stored, and a dialog that says how to get adapters when there are none.
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "ModalDriver.h"
#include "dialogs/AdapterDlg.h"
#include "frontend/Addresses.h"
#include "ui/LinkLabel.h"

namespace {

std::vector<AdapterRow> TwoAdapters() {
    return {{"eth0", "Intel Ethernet", "198.51.100.2", "255.255.255.0", "Ethernet (10Mb)"},
            {"lo", "Loopback", "127.0.0.1", "255.0.0.0", "Ethernet (10Mb)"}};
}

AdapterEnumerator Listing(std::vector<AdapterRow> rows, std::string error = {}) {
    return [rows, error](std::vector<AdapterRow>& out, std::string& message) {
        out = rows;
        message = error;
        return error.empty();
    };
}

int SelectedRow(QTreeWidget* list) {
    const auto selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

QVariant Stored(const char* key) {
    return QSettings("Morvane", "Pacterra").value(QString::fromLatin1(key));
}

}  // namespace

class AdapterDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", m_home.filePath("xdg").toUtf8());
    }
    void init() { QSettings("Morvane", "Pacterra").clear(); }

    // Without an adapter configured, neither Cancel nor OK without a row lets the user out; a row and OK do.
    void leavingNeedsAChoice() {
        CCaptureConfig config;
        CAdapterDlg dlg(config, nullptr, Listing(TwoAdapters()));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* list = dlg.findChild<QTreeWidget*>("adapters");
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Loopback"));
        QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("Ethernet (10Mb)"));
        QVERIFY(list->hasFocus());
        QCOMPARE(SelectedRow(list), -1);

        ModalDriver driver;
        driver.Answer(QMessageBox::Ok).Answer(QMessageBox::Ok).Start();
        Press(&dlg, Qt::Key_Escape);
        Press(&dlg, Qt::Key_Return);
        QCOMPARE(driver.texts, QStringList(2, kSelectAdapterText));
        QVERIFY(dlg.isVisible());

        Press(&dlg, Qt::Key_Down);
        const int row = SelectedRow(list);
        QVERIFY(row >= 0);
        Press(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const AdapterRow chosen = TwoAdapters()[size_t(row)];
        QCOMPARE(config.adapter, chosen.device);
        QCOMPARE(config.adapterName, chosen.description);
        QCOMPARE(Stored("Config/Adapter").toString().toStdString(), chosen.device);
        QCOMPARE(Stored("Config/AdapterName").toString().toStdString(), chosen.description);
    }

    // The stored adapter is selected and named; one that is gone leaves the earlier name and no selection.
    void storedChoice_data() {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QString>("adapterName");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("shown");
        QTest::newRow("present") << "lo"
                                 << "" << 1 << "Loopback";
        QTest::newRow("gone") << "eth9"
                              << "Old card" << -1 << "Old card";
        // Listed, greyed, never selected: nothing can be captured from it.
        QTest::newRow("cannot capture") << "nflog"
                                        << "" << -1 << "nflog";
    }
    void storedChoice() {
        QFETCH(QString, adapter);
        QFETCH(QString, adapterName);
        QFETCH(int, row);
        QFETCH(QString, shown);
        CCaptureConfig config;
        config.adapter = adapter.toStdString();
        config.adapterName = adapterName.toStdString();
        std::vector<AdapterRow> rows = TwoAdapters();
        rows.push_back({"nflog", "nflog", "", "", "Linux netfilter log", "It delivers no Ethernet frames."});
        CAdapterDlg dlg(config, nullptr, Listing(rows));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(SelectedRow(dlg.findChild<QTreeWidget*>("adapters")), row);
        QCOMPARE(dlg.findChild<QLineEdit*>("currentAdapter")->text(), shown);
        QCOMPARE(QString::fromStdString(config.adapterName), shown);
        QVERIFY(dlg.findChild<QLabel*>("rightsHint")->isHidden());

        ModalDriver driver;
        if (row < 0)
            driver.Answer(QMessageBox::Ok).Start();
        Press(&dlg, Qt::Key_Return);  // OK insists on a row while there are rows
        QCOMPARE(dlg.isVisible(), row < 0);
        if (row < 0)
            Press(&dlg, Qt::Key_Escape);  // an adapter is configured: Cancel leaves
        QVERIFY(!dlg.isVisible());
        QVERIFY(driver.Finished());
        QCOMPARE(QString::fromStdString(config.adapter), adapter);
    }

    // No usable adapter: the dialog says how to capture without root, and never traps the user.
    void nothingToChoose_data() {
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("unopenable");  // one row that cannot be opened, instead of none
        QTest::newRow("enumeration fails") << "socket: Operation not permitted" << false;
        QTest::newRow("empty list") << "" << false;
        QTest::newRow("nothing opens") << "" << true;
    }
    void nothingToChoose() {
        QFETCH(QString, error);
        QFETCH(bool, unopenable);
        std::vector<AdapterRow> rows;
        if (unopenable)
            rows.push_back({"eth0", "eth0", "198.51.100.2", "255.255.255.0", kNoPromiscuousText});
        CCaptureConfig config;
        config.adapterName = "Old card";  // shown only when the list could be read
        ModalDriver driver;
        if (!error.isEmpty())
            driver.Answer(QMessageBox::Ok).Start();
        CAdapterDlg dlg(config, nullptr, Listing(rows, error.toStdString()));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));  // the error box may take the activation first
        QTRY_VERIFY(driver.Finished());
        if (!error.isEmpty()) {
            QCOMPARE(driver.texts, QStringList{"Error in pcap_findalldevs: " + error + "\n"});
            QVERIFY(driver.details.first().contains(QStringLiteral("setcap cap_net_raw,cap_net_admin=eip")));
        }
        QCOMPARE(dlg.findChild<QLineEdit*>("currentAdapter")->text().isEmpty(), !error.isEmpty());
        auto* hint = dlg.findChild<QLabel*>("rightsHint");
        QVERIFY(hint->isVisible());
        QVERIFY(hint->text().contains(QStringLiteral("setcap")));
        if (unopenable) {
            QTest::mouseClick(dlg.findChild<QTreeWidget*>("adapters")->viewport(), Qt::LeftButton, {},
                              QPoint(20, 8));
            Press(&dlg, Qt::Key_Return);
            QCOMPARE(config.adapter, std::string("eth0"));  // still selectable
        } else {
            Press(&dlg, Qt::Key_Escape);
            QVERIFY(config.adapter.empty());
        }
        QVERIFY(!dlg.isVisible());
    }

    void faqLink() {
        QUrl opened;
        const CLinkLabel::Opener previous =
            CLinkLabel::SetOpener([&opened](const QUrl& url, const CLinkLabel::Verdict&) {
                opened = url;
                return true;
            });
        CCaptureConfig config;
        config.adapter = "lo";
        CAdapterDlg dlg(config, nullptr, Listing(TwoAdapters()));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* faq = dlg.findChild<CLinkLabel*>("faq");
        QCOMPARE(faq->text(), QStringLiteral("FAQ page: ") + kFaqUrl);
        QVERIFY(!faq->IsUnderlined());
        QTest::mouseClick(faq, Qt::LeftButton, {}, QPoint(5, faq->height() / 2));
        CLinkLabel::SetOpener(previous);
        QCOMPARE(opened, QUrl(QString::fromLatin1(kFaqUrl)));
    }
};

QTEST_MAIN(AdapterDialogTest)
#include "adapter_dialog_test.moc"
