// Pictures of the three configuration dialogs as a user first meets them, for a person to look at:
// config_dialog_shots DIR writes DIR/adapter.png (this machine's adapters), DIR/config.png, DIR/rule.png and
// DIR/rule-new.png (a new rule) and DIR/rule-address.png (a new rule with an address typed in).
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <functional>

#include "dialogs/AdapterDlg.h"
#include "dialogs/ConfigDlg.h"
#include "dialogs/FilterItemDlg.h"
#include "dialogs/IpAddressEdit.h"

namespace {

CFilterItem Rule(const char* name, int32_t anyIp, std::array<uint8_t, 4> ip, std::vector<uint16_t> ports,
                 int32_t accept) {
    CFilterItem r;
    r.name = name;
    r.anyIp = anyIp;
    std::copy(ip.begin(), ip.end(), r.ip);
    r.anyPort = ports.empty() ? 1 : 0;
    r.ports = std::move(ports);
    r.accept = accept;
    return r;
}

// `act` runs on the shown dialog before the picture is taken.
bool Shoot(QWidget& dialog, const QString& path, const std::function<void()>& act = {}) {
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowExposed(&dialog))
        return false;
    if (act)
        act();
    QTest::qWait(200);
    const bool saved = dialog.grab().save(path);
    dialog.hide();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));

    CCaptureConfig config;
    config.ApplyDefaults();
    config.bufferMB = 64;
    config.defaultAccept = 0;
    config.filters = {Rule("block 8080", 1, {0, 0, 0, 0}, {8080}, 0),
                      Rule("web", 0, {198, 51, 100, 10}, {80, 443}, 1), Rule("dns", 1, {0, 0, 0, 0}, {53}, 1),
                      Rule("mail", 0, {198, 51, 100, 25}, {25, 110, 143, 465, 587, 993, 995}, 1)};
    config.adapter = ChooseDefaultAdapter();

    CAdapterDlg adapters(config);
    CConfigDlg configuration(config);
    CFilterItemDlg rule, newRule, addressRule;
    rule.workingItem = config.filters[1];
    // "Specify the IP", a click into the first field, and the address typed key by key.
    const auto typeAddress = [&addressRule] {
        auto* specify = addressRule.findChild<QRadioButton*>("specifyIp");
        QTest::mouseClick(specify, Qt::LeftButton, {}, QPoint(8, specify->height() / 2));
        QLineEdit* first = addressRule.findChild<CIpAddressEdit*>()->Field(0);
        QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() - 2, first->height() / 2));
        for (QChar c : QStringLiteral("192.168.1.10"))
            QTest::keyClicks(QApplication::focusWidget(), QString(c));
    };
    const bool ok = Shoot(adapters, dir.filePath("adapter.png")) &&
                    Shoot(configuration, dir.filePath("config.png")) &&
                    Shoot(rule, dir.filePath("rule.png")) && Shoot(newRule, dir.filePath("rule-new.png")) &&
                    Shoot(addressRule, dir.filePath("rule-address.png"), typeAddress);
    return ok ? 0 : 1;
}
