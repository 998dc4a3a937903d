// The filter rule dialog (its ports and address fields, validation, preview) and the capture configuration
// dialog (rule list editing, policy, buffer, discard question), driven by keys and clicks.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTreeWidget>
#include <QtTest>

#include "ModalDriver.h"
#include "config/CaptureConfig.h"
#include "dialogs/ConfigDlg.h"
#include "dialogs/EditPorts.h"
#include "dialogs/FilterItemDlg.h"
#include "dialogs/IpAddressEdit.h"

namespace {

template <class T = QWidget>
T* Child(QWidget* dialog, const char* name) {
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// Clicks near the left end, where a radio button or check box has its indicator whatever its width.
void Click(QWidget* dialog, const char* name) {
    QWidget* w = Child(dialog, name);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(std::min(10, w->width() / 2), w->height() / 2));
}

QString Lines(const char* text) {
    return QString::fromLatin1(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

CFilterItem Rule(const char* name, std::vector<uint16_t> ports = {}) {
    CFilterItem r;
    r.name = name;
    r.anyIp = 1;
    r.anyPort = ports.empty() ? 1 : 0;
    r.accept = 1;
    r.ports = std::move(ports);
    return r;
}

QStringList RowNames(QWidget* dialog) {
    QStringList names;
    auto* rules = Child<QTreeWidget>(dialog, "rules");
    for (int i = 0; i < rules->topLevelItemCount(); ++i)
        names << rules->topLevelItem(i)->text(0);
    return names;
}

QStringList ListNames(const std::vector<CFilterItem>& list) {
    QStringList names;
    for (const CFilterItem& r : list)
        names << QString::fromStdString(r.name);
    return names;
}

int SelectedRow(QWidget* dialog) {
    auto* rules = Child<QTreeWidget>(dialog, "rules");
    const auto selected = rules->selectedItems();
    return selected.isEmpty() ? -1 : rules->indexOfTopLevelItem(selected.first());
}

}  // namespace

class RuleDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void parsePorts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<int>>("ports");
        QTest::newRow("spaces") << "21 25  80" << true << QList<int>{21, 25, 80};
        QTest::newRow("leading zeros, duplicates") << "080 80 00065535" << true << QList<int>{80, 80, 65535};
        QTest::newRow("empty") << "" << true << QList<int>{};
        QTest::newRow("zero") << "0" << false << QList<int>{7};
        QTest::newRow("above range") << "65536" << false << QList<int>{7};
        QTest::newRow("huge number") << "99999999999999999999" << false << QList<int>{7};
        QTest::newRow("comma") << "21,25" << false << QList<int>{7};
        QTest::newRow("hyphen") << "21-25" << false << QList<int>{7};
        QTest::newRow("tab") << "21\t25" << false << QList<int>{7};
    }
    void parsePorts() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QList<int>, ports);
        std::vector<uint16_t> parsed{7};  // kept on failure
        QCOMPARE(ParsePorts(text.toStdString(), parsed), valid ? 1 : 0);
        QCOMPARE(QList<int>(parsed.begin(), parsed.end()), ports);
        if (valid)
            QCOMPARE(ParsePorts(PortsToText(parsed), parsed), 1);
    }

    void newRuleDefaults() {
        CFilterItemDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* name = Child<QLineEdit>(&dlg, "name");
        QCOMPARE(name->text(), QStringLiteral("DefaultName"));
        QVERIFY(name->hasFocus());
        QCOMPARE(name->selectedText(), name->text());
        QVERIFY(Child<QRadioButton>(&dlg, "anyIp")->isChecked());
        QCOMPARE(Child<CIpAddressEdit>(&dlg, "address")->Text(), QStringLiteral("0.0.0.0"));
        QVERIFY(!Child(&dlg, "address")->isEnabled());
        QVERIFY(Child<QRadioButton>(&dlg, "anyPort")->isChecked());
        QVERIFY(Child<QLineEdit>(&dlg, "ports")->text().isEmpty());
        QVERIFY(!Child(&dlg, "ports")->isEnabled());
        QVERIFY(Child<QRadioButton>(&dlg, "accept")->isChecked());
        QCOMPARE(Child<QLineEdit>(&dlg, "signature")->text(),
                 QStringLiteral("Accept packets with any IP or port"));
    }

    // Flag bytes other than 0 and 1 (from a hand-edited file) match as set: the dialogs show them as set, and
    // OK keeps the rules' meaning.
    void flagBytesAboveOne() {
        CCaptureConfig config;
        config.ApplyDefaults();
        config.defaultAccept = 2;
        CFilterItem odd = Rule("odd");
        odd.anyIp = odd.anyPort = odd.accept = 2;
        config.filters = {odd};
        CConfigDlg dlg(config);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QVERIFY(Child<QRadioButton>(&dlg, "acceptDefault")->isChecked());
        ModalDriver driver;
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* rule) {
            QVERIFY(Child<QRadioButton>(rule, "anyIp")->isChecked());
            QVERIFY(Child<QRadioButton>(rule, "anyPort")->isChecked());
            QVERIFY(Child<QRadioButton>(rule, "accept")->isChecked());
            Press(rule, Qt::Key_Return);
        });
        driver.Start();
        Click(&dlg, "modify");
        QVERIFY(driver.Finished());
        Press(&dlg, Qt::Key_Return);
        const uint8_t a[4] = {10, 0, 0, 1}, b[4] = {10, 0, 0, 2};
        QCOMPARE(config.MatchPacket(a, b, 1, 2), 1);
        QCOMPARE(config.filters[0].Match(a, b, 1, 2), int(MATCH_ACCEPT));
    }

    // Each validation message in its order, with the field that then has the focus; and the rules that pass.
    void validation_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("specifyPorts");
        QTest::addColumn<QString>("typed");   // typed into the ports field
        QTest::addColumn<QString>("pasted");  // then pasted there with Shift+Insert
        QTest::addColumn<bool>("anyPortAfter");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<QList<int>>("ports");
        const QString name = Lines(kNameNeededText), empty = Lines(kPortsNeededText),
                      format = Lines(kPortsFormatText);
        using P = QList<int>;
        // clang-format off
        QTest::newRow("blank name first")      << "   "   << true << ""          << ""    << false << name   << "name"  << true  << P{};
        QTest::newRow("specified ports empty") << "web"   << true << "  "        << ""    << false << empty  << "ports" << true  << P{};
        QTest::newRow("port 0")                << "web"   << true << "0"         << ""    << false << format << "ports" << false << P{};
        QTest::newRow("port 65536")            << "web"   << true << "80 65536"  << ""    << false << format << "ports" << false << P{};
        QTest::newRow("pasted comma separates") << "web"  << true << "21"        << ",25" << false << ""     << ""      << false << P{21, 25};
        // The greyed field cannot take the focus.
        QTest::newRow("bad text under any port") << "web" << true << ""          << "8-0" << true  << format << "anyPort" << false << P{};
        QTest::newRow("valid, two spaces")     << " web " << true << "21 25  80" << ""    << false << ""     << ""      << false << P{21, 25, 80};
        QTest::newRow("ports kept, any port")  << "web"   << true << "080 443"   << ""    << true  << ""     << ""      << false << P{80, 443};
        QTest::newRow("name beyond ASCII")     << " Zürich-web " << false << "" << ""     << false << ""     << ""      << false << P{};
        // clang-format on
    }
    void validation() {
        QFETCH(QString, name);
        QFETCH(bool, specifyPorts);
        QFETCH(QString, typed);
        QFETCH(QString, pasted);
        QFETCH(bool, anyPortAfter);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        QFETCH(bool, selected);
        QFETCH(QList<int>, ports);

        CFilterItemDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        Press(&dlg, Qt::Key_Backspace);
        Type(&dlg, name);
        if (specifyPorts)
            Click(&dlg, "specifyPorts");
        Child(&dlg, "ports")->setFocus();
        Type(&dlg, typed);
        if (!pasted.isEmpty()) {
            QApplication::clipboard()->setText(pasted);
            Press(&dlg, Qt::Key_Insert, Qt::ShiftModifier);
        }
        if (anyPortAfter)
            Click(&dlg, "anyPort");

        ModalDriver driver;
        if (!message.isEmpty())
            driver.Answer(QMessageBox::Ok);
        driver.Start();
        Press(&dlg, Qt::Key_Return);
        QVERIFY(driver.Finished());
        if (message.isEmpty()) {
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            QCOMPARE(dlg.workingItem.name, name.trimmed().toStdString());  // trimmed, in UTF-8
            QCOMPARE(dlg.workingItem.anyPort, !specifyPorts || anyPortAfter ? 1 : 0);
            QCOMPARE(QList<int>(dlg.workingItem.ports.begin(), dlg.workingItem.ports.end()), ports);
            return;
        }
        QCOMPARE(driver.texts, QStringList{message});
        QVERIFY(dlg.isVisible());
        QWidget* field = Child(&dlg, focus.toLatin1().constData());
        QCOMPARE(dlg.focusWidget(), field);
        if (auto* edit = qobject_cast<QLineEdit*>(field))
            QCOMPARE(edit->hasSelectedText(), selected && !edit->text().isEmpty());
    }

    // The preview follows the choices and the ports field when it loses the focus.
    void signaturePreview() {
        CFilterItemDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* signature = Child<QLineEdit>(&dlg, "signature");
        Click(&dlg, "specifyPorts");
        QCOMPARE(signature->text(), QStringLiteral("Valid ports needed!"));
        Child(&dlg, "ports")->setFocus();
        Type(&dlg, "21 25  80");
        QCOMPARE(signature->text(), QStringLiteral("Valid ports needed!"));  // not before it loses the focus
        Press(&dlg, Qt::Key_Tab);
        QCOMPARE(signature->text(), QStringLiteral("Accept packets with port including 21, 25 or 80"));
        Click(&dlg, "drop");
        Click(&dlg, "specifyIp");
        QCOMPARE(signature->text(),
                 QStringLiteral("Drop packets with IP including 0.0.0.0 and port including 21, 25 or 80"));
    }

    // Only digits, spaces and backspace are typed; the standard edit keys work (\\a Ctrl+A, \\c Ctrl+C, \\x
    // Ctrl+X,
    // \\v Ctrl+V, \\z Ctrl+Z, \\i Shift+Insert, \\e End, \\b Backspace), and pasted text is filtered to
    // digits and spaces (anything else between numbers separates them).
    void portsFieldInput_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("shown");
        // clang-format off
        QTest::newRow("letters and punctuation dropped") << "2a1,; 2-5\\t"   << ""              << "21 25";
        QTest::newRow("backspace")                       << "8080\\b\\b"   << ""              << "80";
        QTest::newRow("ctrl+a, then typing replaces")   << "53\\a53\\a53"  << ""              << "53";
        QTest::newRow("ctrl+c, ctrl+v")                 << "80\\a\\c\\e \\v" << "x"          << "80 80";
        QTest::newRow("ctrl+x cuts")                    << "80\\a\\x21 \\v" << ""            << "21 80";
        QTest::newRow("ctrl+z undoes a paste")          << "80 \\v\\z"     << "443"           << "80 ";
        QTest::newRow("ctrl+z undoes typing")           << "80 443\\z"     << ""              << "";
        QTest::newRow("ctrl+v filtered")                << "1\\v"           << "x,y"           << "1 ";
        QTest::newRow("pasted list")                    << "\\v"            << "80,443;\t8080" << "80 443 8080";
        QTest::newRow("shift+insert filtered")          << "\\i"            << "21-25"         << "21 25";
        // clang-format on
    }
    void portsFieldInput() {
        QFETCH(QString, typed);
        QFETCH(QString, clipboard);
        QFETCH(QString, shown);
        QApplication::clipboard()->setText(clipboard);
        CEditPorts edit;
        edit.show();
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        for (int i = 0; i < typed.size(); ++i) {
            if (typed[i] != QLatin1Char('\\')) {
                QTest::keyClicks(&edit, QString(typed[i]));
                continue;
            }
            switch (typed[++i].toLatin1()) {
                case 'b':
                    QTest::keyClick(&edit, Qt::Key_Backspace);
                    break;
                case 'e':
                    QTest::keyClick(&edit, Qt::Key_End);
                    break;
                case 'i':
                    QTest::keyClick(&edit, Qt::Key_Insert, Qt::ShiftModifier);
                    break;
                case 't':
                    QTest::keyClick(&edit, Qt::Key_Tab);
                    break;
                default: {
                    const char letter = static_cast<char>(typed[i].toUpper().toLatin1());
                    QTest::keyClick(&edit, static_cast<Qt::Key>(Qt::Key_A + (letter - 'A')),
                                    Qt::ControlModifier);
                }
            }
        }
        QCOMPARE(edit.text(), shown);
    }

    // The address field's keys: "." moves on, full fields move on, backspace moves back, paste fills all.
    void addressKeys_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address");
        // clang-format off
        QTest::newRow("dots") << "10.0.0.1" << "10.0.0.1";
        QTest::newRow("full fields move on") << "192168100002" << "192.168.100.2";
        QTest::newRow("above 255") << "300.1" << "255.1.0.0";
        QTest::newRow("letters and extra dots ignored") << "1a.b.2..3" << "1.2.3.0";
        QTest::newRow("backspace moves back") << "1.2\\b\\b\\b9" << "9.0.0.0";
        QTest::newRow("paste of a dotted address") << "5\\v" << "198.51.100.7";
        QTest::newRow("paste of anything else") << "5\\w" << "5.0.0.0";
        // clang-format on
    }
    void addressKeys() {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        CIpAddressEdit edit;
        uint8_t empty[4] = {0, 0, 0, 0};
        edit.SetAddress(empty);
        for (int i = 0; i < 4; ++i)
            edit.Field(i)->clear();
        edit.show();
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        edit.Field(0)->setFocus();
        for (int i = 0; i < typed.size(); ++i) {
            if (typed[i] != QLatin1Char('\\')) {
                QTest::keyClicks(QApplication::focusWidget(), QString(typed[i]));
                continue;
            }
            const char code = typed[++i].toLatin1();
            if (code == 'b') {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
                continue;
            }
            QApplication::clipboard()->setText(code == 'v' ? QStringLiteral(" 198.51.100.7 ")
                                                           : QStringLiteral("1.2.3"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(edit.Text(), address);
        uint8_t ip[4];
        edit.GetAddress(ip);
        QCOMPARE(QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]), address);
    }

    // The address as a user enters it in the rule dialog: "Specify the IP" puts the focus into the address,
    // perhaps a click into its first field (the caret lands after its "0"), then keys (\b Backspace, \v
    // Ctrl+V of `clipboard`, \m Paste from the field's context menu). The preview follows at once, OK stores
    // what was typed, and Cancel would ask.
    void addressEntry_data() {
        QTest::addColumn<bool>("clickField");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("address");
        // clang-format off
        QTest::newRow("after a click in the field")   << true  << "192.168.1.10"    << "" << "192.168.1.10";
        QTest::newRow("zeros after a click")          << true  << "127.0.0.1"       << "" << "127.0.0.1";
        QTest::newRow("focus from the radio button")  << false << "10.20.30.40"     << "" << "10.20.30.40";
        QTest::newRow("full fields move on")          << false << "192168100200"    << "" << "192.168.100.200";
        QTest::newRow("dot after a full field")       << false << "198.51.100.7"    << "" << "198.51.100.7";
        QTest::newRow("backspace at a field's start") << true  << "10.2\\b\\b3"     << "" << "103.0.0.0";
        QTest::newRow("paste after a click")          << true  << "\\v" << "192.168.1.10" << "192.168.1.10";
        QTest::newRow("paste with blanks")            << false << "\\v" << " 198.51.100.7\n" << "198.51.100.7";
        QTest::newRow("paste from the menu")          << true  << "\\m" << "10.0.0.1" << "10.0.0.1";
        // clang-format on
    }
    void addressEntry() {
        QFETCH(bool, clickField);
        QFETCH(QString, typed);
        QFETCH(QString, clipboard);
        QFETCH(QString, address);
        CFilterItemDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* edit = Child<CIpAddressEdit>(&dlg, "address");
        Click(&dlg, "specifyIp");
        QVERIFY(edit->isEnabled());
        QCOMPARE(QApplication::focusWidget(), edit->Field(0));
        if (clickField) {
            QLineEdit* first = edit->Field(0);
            QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() - 2, first->height() / 2));
            QCOMPARE(first->cursorPosition(), 1);
        }
        for (int i = 0; i < typed.size(); ++i) {
            if (typed[i] != QLatin1Char('\\')) {
                Type(&dlg, QString(typed[i]));
                continue;
            }
            const char code = typed[++i].toLatin1();
            if (code == 'b') {
                Press(&dlg, Qt::Key_Backspace);
                continue;
            }
            QApplication::clipboard()->setText(clipboard);
            if (code == 'v') {
                Press(&dlg, Qt::Key_V, Qt::ControlModifier);
                continue;
            }
            QWidget* field = QApplication::focusWidget();
            QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, field->rect().center(),
                                        field->mapToGlobal(field->rect().center()));
            QApplication::sendEvent(field, &menuEvent);
            QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            for (QAction* action : menu->actions())
                if (action->text().startsWith(QStringLiteral("&Paste")))
                    menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
        }
        QCOMPARE(edit->Text(), address);
        QCOMPARE(Child<QLineEdit>(&dlg, "signature")->text(),
                 QStringLiteral("Accept packets with IP including ") + address);

        // An edited address is a change: Cancel asks (No keeps the dialog); OK stores the address.
        ModalDriver driver;
        driver.Answer(QMessageBox::No).Start();
        Press(&dlg, Qt::Key_Escape);
        QVERIFY(driver.Finished());
        QCOMPARE(driver.texts, QStringList{kDiscardRuleText});
        Click(&dlg, "ok");
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const uint8_t* ip = dlg.workingItem.ip;
        QCOMPARE(QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]), address);
        QCOMPARE(dlg.workingItem.anyIp, 0);
    }

    // Move Up/Down at the ends, Remove with and without a selection: the list and the working copy stay
    // in step, and the selection lands where it should.
    void ruleListEditing_data() {
        QTest::addColumn<QString>("ops");  // 0-2 click that row, n ctrl-click it off, U D R the buttons
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("selected");
        QTest::newRow("up at the top") << "U" << QStringList{"a", "b", "c"} << 0;
        QTest::newRow("down at the bottom") << "2D" << QStringList{"a", "b", "c"} << 2;
        QTest::newRow("down, then up") << "DU" << QStringList{"a", "b", "c"} << 0;
        QTest::newRow("down from the top") << "D" << QStringList{"b", "a", "c"} << 1;
        QTest::newRow("up from the middle") << "1U" << QStringList{"b", "a", "c"} << 0;
        QTest::newRow("remove the last") << "2R" << QStringList{"a", "b"} << 1;
        QTest::newRow("remove the middle") << "1R" << QStringList{"a", "c"} << 1;
        QTest::newRow("remove all") << "RRR" << QStringList{} << -1;
        QTest::newRow("remove without a selection") << "nR" << QStringList{"a", "b", "c"} << -1;
        QTest::newRow("move without a selection") << "nUD" << QStringList{"a", "b", "c"} << -1;
    }
    void ruleListEditing() {
        QFETCH(QString, ops);
        QFETCH(QStringList, names);
        QFETCH(int, selected);
        CCaptureConfig config;
        config.ApplyDefaults();
        config.filters = {Rule("a"), Rule("b", {80}), Rule("c", {21, 25})};
        CConfigDlg dlg(config);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* rules = Child<QTreeWidget>(&dlg, "rules");
        QVERIFY(rules->hasFocus());
        QCOMPARE(SelectedRow(&dlg), 0);
        for (QChar op : ops) {
            const QPoint at = rules->visualItemRect(rules->currentItem()).center();
            switch (op.toLatin1()) {
                case 'U':
                    Click(&dlg, "moveUp");
                    break;
                case 'D':
                    Click(&dlg, "moveDown");
                    break;
                case 'R':
                    Click(&dlg, "remove");
                    break;
                case 'n':
                    QTest::mouseClick(rules->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
                    break;
                default: {
                    QTreeWidgetItem* row = rules->topLevelItem(op.digitValue());
                    QTest::mouseClick(rules->viewport(), Qt::LeftButton, {},
                                      rules->visualItemRect(row).center());
                }
            }
        }
        QCOMPARE(RowNames(&dlg), names);
        QCOMPARE(ListNames(dlg.workingList), names);
        QCOMPARE(SelectedRow(&dlg), selected);
        for (int i = 0; i < rules->topLevelItemCount(); ++i) {
            std::string signature;
            dlg.workingList[size_t(i)].GetSignature(signature);
            QCOMPARE(rules->topLevelItem(i)->text(1), QString::fromStdString(signature));
        }
        for (const char* button : {"add", "remove", "modify", "moveUp", "moveDown"})
            QVERIFY(Child(&dlg, button)->isEnabled());

        // Cancel asks when the order or the rules changed, and Yes leaves the record as it was.
        const bool changed = names != QStringList{"a", "b", "c"};
        ModalDriver driver;
        driver.Answer(QMessageBox::Yes).Start();
        Press(&dlg, Qt::Key_Escape);
        QCOMPARE(driver.texts, changed ? QStringList{kDiscardConfigText} : QStringList{});
        QVERIFY(!dlg.isVisible());
        QCOMPARE(ListNames(config.filters), (QStringList{"a", "b", "c"}));
    }

    // Modify (double click) edits a copy: the row is rewritten only on the rule dialog's OK.
    void modifyRule() {
        CCaptureConfig config;
        config.ApplyDefaults();
        config.filters = {Rule("a"), Rule("b", {80})};
        CConfigDlg dlg(config);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* rules = Child<QTreeWidget>(&dlg, "rules");
        const QPoint second = rules->visualItemRect(rules->topLevelItem(1)).center();
        QTest::mouseClick(rules->viewport(), Qt::LeftButton, {}, second);

        ModalDriver driver;
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* rule) {
            QCOMPARE(Child<QLineEdit>(rule, "ports")->text(), QStringLiteral("80"));
            Child(rule, "ports")->setFocus();
            Type(rule, " 443");
            Press(rule, Qt::Key_Escape);  // changed: asks
        });
        driver.Answer(QMessageBox::Yes);
        driver.Then<CFilterItemDlg>([](CFilterItemDlg* rule) {
            Click(rule, "drop");
            Press(rule, Qt::Key_Return);
        });
        driver.Start();
        QTest::mouseDClick(rules->viewport(), Qt::LeftButton, {}, second);  // cancelled
        QCOMPARE(dlg.workingList[1], Rule("b", {80}));
        QTest::mouseDClick(rules->viewport(), Qt::LeftButton, {}, second);
        QVERIFY(driver.Finished());
        QCOMPARE(dlg.workingList[1].accept, 0);
        QCOMPARE(rules->topLevelItem(1)->text(1), QStringLiteral("Drop packets with port including 80"));
        QCOMPARE(SelectedRow(&dlg), 1);
    }

    // Cancel asks exactly when something that OK would store differs from what the dialog opened with, in
    // both editing dialogs; both answers.
    void discardQuestion_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("asks");
        // clang-format off
        QTest::newRow("configuration untouched")        << "config" << ""           << false;
        QTest::newRow("configuration check box")        << "config" << "check"      << true;
        QTest::newRow("configuration check box undone") << "config" << "check2"     << false;
        QTest::newRow("configuration policy")           << "config" << "policy"     << true;
        QTest::newRow("configuration policy undone")    << "config" << "policy2"    << false;
        QTest::newRow("configuration slider")           << "config" << "slider"     << true;
        QTest::newRow("configuration slider undone")    << "config" << "slider2"    << false;
        QTest::newRow("configuration add cancelled")    << "config" << "add"        << false;
        QTest::newRow("configuration rule added")       << "config" << "addOk"      << true;
        QTest::newRow("configuration remove, no rules") << "config" << "remove"     << false;
        QTest::newRow("configuration modify, no rules") << "config" << "modify"     << false;
        QTest::newRow("rule untouched")                 << "rule"   << ""           << false;
        QTest::newRow("rule address")                   << "rule"   << "address"    << true;
        QTest::newRow("rule name")                      << "rule"   << "name"       << true;
        QTest::newRow("rule name undone")               << "rule"   << "name2"      << false;
        QTest::newRow("rule name's blanks")             << "rule"   << "blanks"     << false;
        QTest::newRow("rule action")                    << "rule"   << "action"     << true;
        QTest::newRow("rule ports passed through")      << "rule"   << "visit"      << false;
        QTest::newRow("rule ports typed")               << "rule"   << "ports"      << true;
        QTest::newRow("rule ports respaced")            << "rule"   << "respace"    << false;
        QTest::newRow("rule ports invalid")             << "rule"   << "badPorts"   << true;
        // clang-format on
    }
    void discardQuestion() {
        QFETCH(QString, dialog);
        QFETCH(QString, change);
        QFETCH(bool, asks);
        CCaptureConfig config;
        config.ApplyDefaults();
        std::unique_ptr<QDialog> dlg;
        if (dialog == "config")
            dlg = std::make_unique<CConfigDlg>(config);
        else
            dlg = std::make_unique<CFilterItemDlg>();
        if (auto* rule = qobject_cast<CFilterItemDlg*>(dlg.get())) {
            // An address and ports to edit, as when such a rule is modified.
            rule->workingItem.anyIp = 0;
            rule->workingItem.anyPort = 0;
            rule->workingItem.ports = {80};
        }
        dlg->show();
        QVERIFY(QTest::qWaitForWindowActive(dlg.get()));

        ModalDriver driver;
        if (change.startsWith("check")) {
            Click(dlg.get(), "minimized");
            if (change == "check2")
                Click(dlg.get(), "minimized");
        } else if (change.startsWith("policy")) {
            Click(dlg.get(), "dropDefault");
            if (change == "policy2")
                Click(dlg.get(), "acceptDefault");
        } else if (change.startsWith("slider")) {
            Child(dlg.get(), "buffer")->setFocus();
            Press(dlg.get(), Qt::Key_Right);
            if (change == "slider2")
                Press(dlg.get(), Qt::Key_Left);
        } else if (change == "add" || change == "addOk") {
            driver.Then<CFilterItemDlg>([change](CFilterItemDlg* rule) {
                Press(rule, change == "add" ? Qt::Key_Escape : Qt::Key_Return);
            });
            driver.Start();
            Click(dlg.get(), "add");
            QVERIFY(driver.Finished());
        } else if (change == "remove" || change == "modify") {
            Click(dlg.get(), change.toLatin1().constData());
        } else if (change == "address") {
            dlg->findChild<CIpAddressEdit*>()->Field(0)->setFocus();
            Type(dlg.get(), "10.1.2.3");
        } else if (change == "visit" || change == "ports" || change == "respace" || change == "badPorts") {
            Child(dlg.get(), "ports")->setFocus();
            Press(dlg.get(), Qt::Key_End);
            if (change == "ports")
                Type(dlg.get(), " 8080");
            else if (change == "respace")
                Type(dlg.get(), "  ");
            else if (change == "badPorts")
                Type(dlg.get(), " 0");
            Press(dlg.get(), Qt::Key_Tab);
        } else if (change.startsWith("name")) {
            Type(dlg.get(), "x");
            if (change == "name2") {
                Press(dlg.get(), Qt::Key_Backspace);
                Type(dlg.get(), "DefaultName");
            }
        } else if (change == "blanks") {
            Press(dlg.get(), Qt::Key_End);
            Type(dlg.get(), "  ");
        } else if (change == "action") {
            Click(dlg.get(), "drop");
        }
        if (asks) {
            driver.Answer(QMessageBox::No).Answer(QMessageBox::Yes).Start();
            Press(dlg.get(), Qt::Key_Escape);
            QVERIFY(dlg->isVisible());  // No keeps it open
            Click(dlg.get(), "cancel");
            QCOMPARE(driver.texts.size(), 2);
            QCOMPARE(driver.texts[0],
                     QString::fromLatin1(dialog == "config" ? kDiscardConfigText : kDiscardRuleText));
            QVERIFY(driver.Finished());
        } else {
            // A question that should not come is answered, so that the test fails instead of waiting.
            driver.Answer(QMessageBox::Yes).Start();
            Press(dlg.get(), Qt::Key_Escape);
            QCOMPARE(driver.texts, QStringList{});
        }
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Rejected));
        QCOMPARE(config.minimized, 0);  // nothing reaches the record without OK
        QCOMPARE(config.defaultAccept, 1);
        QCOMPARE(config.bufferMB, 50);
        QVERIFY(config.filters.empty());
    }

    // The slider and its label agree whatever moves the slider; OK stores the policy and the size.
    void bufferAndPolicy() {
        CCaptureConfig config;
        config.ApplyDefaults();
        config.filters = {Rule("a")};
        CConfigDlg dlg(config);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* slider = Child<QSlider>(&dlg, "buffer");
        auto* label = Child<QLabel>(&dlg, "bufferValue");
        QCOMPARE(slider->value(), 50);
        QCOMPARE(label->text(), QStringLiteral("50"));
        slider->setFocus();
        Press(&dlg, Qt::Key_Right);
        QCOMPARE(label->text(), QStringLiteral("51"));
        Press(&dlg, Qt::Key_PageUp);
        QCOMPARE(label->text(), QString::number(slider->value()));
        Press(&dlg, Qt::Key_End);
        QCOMPARE(label->text(), QStringLiteral("200"));
        Press(&dlg, Qt::Key_Left, Qt::NoModifier, 3);
        QCOMPARE(label->text(), QStringLiteral("197"));
        Click(&dlg, "dropDefault");
        Click(&dlg, "startCapture");
        Press(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(config.bufferMB, 197);
        QCOMPARE(config.defaultAccept, 0);
        QCOMPARE(config.startCapture, 1);
        QCOMPARE(config.minimized, 0);
        QCOMPARE(ListNames(config.filters), QStringList{"a"});
    }
};

QTEST_MAIN(RuleDialogsTest)
#include "rule_dialogs_test.moc"
