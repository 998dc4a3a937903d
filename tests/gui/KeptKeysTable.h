// The rows that the hex viewer's and the payload text's shortcut tests share: the window's shortcuts,
// which work whatever has the focus, and the ones both views keep. Columns: key, modifiers, owned.
#pragma once

#include <QtTest>

inline void AddKeptKeyColumns() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("owned");
}

inline void AddKeptKeyRows() {
    const int ctrl = Qt::ControlModifier, none = Qt::NoModifier, shift = Qt::ShiftModifier;
    QTest::newRow("Ctrl+O (Open) is the window's") << int(Qt::Key_O) << ctrl << false;
    QTest::newRow("Ctrl+N (New Window) is the window's") << int(Qt::Key_N) << ctrl << false;
    QTest::newRow("Ctrl+S (Save) is the window's") << int(Qt::Key_S) << ctrl << false;
    QTest::newRow("Ctrl+P is the window's") << int(Qt::Key_P) << ctrl << false;
    QTest::newRow("F3 is the window's") << int(Qt::Key_F3) << none << false;
    QTest::newRow("Alt+Enter is the window's") << int(Qt::Key_Return) << int(Qt::AltModifier) << false;
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << ctrl << true;
    QTest::newRow("Ctrl+Insert") << int(Qt::Key_Insert) << ctrl << true;
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << ctrl << true;
    QTest::newRow("Ctrl+X") << int(Qt::Key_X) << ctrl << true;
    QTest::newRow("Shift+Delete") << int(Qt::Key_Delete) << shift << true;
}
