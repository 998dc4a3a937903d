// What the window suites share: a configuration home of their own, a main window on an empty store, its
// messages answered by the test, and the lists' rows as texts.
#pragma once

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

#include "app/MainFrame.h"
#include "app/TrawlerApp.h"
#include "app/WindowFrontEnd.h"
#include "capture/PacketStore.h"
#include "config/SettingsStore.h"

// The settings store and Config.cfg of this test program only, under the names start-up gives the
// application. False when the temporary directory could not be made.
inline bool UseTemporaryHome(const QTemporaryDir& home) {
    if (!home.isValid())
        return false;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QCoreApplication::setOrganizationName(kSettingsOrganization);
    QCoreApplication::setApplicationName(kSettingsApplication);
    return true;
}

// A new main window with the configuration start-up reads, over an empty store, not shown yet: the test
// scripts its questions first.
inline std::unique_ptr<CMainFrame> NewMainWindow() {
    ResetCaptureStore();
    auto frame = std::make_unique<CMainFrame>();
    LoadStartupConfiguration();
    return frame;
}

// Shows the window and waits until it is on the screen.
inline bool ShowMainWindow(CMainFrame& frame) {
    frame.show();
    return QTest::qWaitForWindowExposed(&frame);
}

// Open reads a file on the capture thread: waits until the command has ended in the window.
inline bool WaitForOpen(CMainFrame& frame, int timeoutMs = 10000) {
    return QTest::qWaitFor([&frame] { return !frame.FrontEnd()->IsCommandRunning(); }, timeoutMs);
}

// Closes the window, then empties the store it showed.
inline void CloseMainWindow(std::unique_ptr<CMainFrame>& frame) {
    frame.reset();
    ResetCaptureStore();
}

// The answer a test gives to one of the window's messages.
using MessageAnswer = std::function<MsgAnswer(const QString& text, MsgButtons buttons)>;

// Ok where Ok is the only button, No where there is a choice: a user who declines what is offered.
inline MsgAnswer OkOrNo(const QString&, MsgButtons buttons) {
    return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
}

// The same answer to every message.
inline MessageAnswer Always(MsgAnswer answer) {
    return [answer](const QString&, MsgButtons) { return answer; };
}

// The window's messages answered by `answer`, and not kept.
inline void AnswerMessages(CMainFrame& frame, MessageAnswer answer) {
    frame.FrontEnd()->SetPromptScript(
        [answer = std::move(answer)](const QString& text, MsgButtons buttons, const QString&) {
            return answer(text, buttons);
        });
}

// The window's messages answered by `answer` and kept in `shown`, each with its detail after " | " where it
// has one. `shown` outlives the window's messages.
inline void RecordMessages(CMainFrame& frame, QStringList& shown, MessageAnswer answer) {
    frame.FrontEnd()->SetPromptScript(
        [&shown, answer = std::move(answer)](const QString& text, MsgButtons buttons, const QString& detail) {
            shown << text + (detail.isEmpty() ? "" : " | " + detail);
            return answer(text, buttons);
        });
}

// The same with the texts in `shown` and the details apart in `details`, in the same order.
inline void RecordMessages(CMainFrame& frame, QStringList& shown, QStringList& details,
                           MessageAnswer answer) {
    frame.FrontEnd()->SetPromptScript([&shown, &details, answer = std::move(answer)](
                                          const QString& text, MsgButtons buttons, const QString& detail) {
        shown << text;
        details << detail;
        return answer(text, buttons);
    });
}

// The rows of a list as the cells' texts joined by tabs, as pacterra-cli prints them.
inline QStringList Rows(const QAbstractItemModel* model, int columns = -1) {
    QStringList rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < (columns < 0 ? model->columnCount() : columns); ++c)
            cells << model->index(r, c).data().toString();
        rows << cells.join('\t');
    }
    return rows;
}

// The texts of one column, top to bottom.
inline QStringList Column(const QAbstractItemModel* model, int column) {
    QStringList cells;
    for (int r = 0; r < model->rowCount(); ++r)
        cells << model->index(r, column).data().toString();
    return cells;
}

// The first row whose cell in `column` contains `part`; -1 when none does.
inline int FindRow(const QAbstractItemModel* model, int column, const QString& part) {
    for (int r = 0; r < model->rowCount(); ++r)
        if (model->index(r, column).data().toString().contains(part))
            return r;
    return -1;
}

// The last such row; -1 when none.
inline int LastRow(const QAbstractItemModel* model, int column, const QString& part) {
    for (int r = model->rowCount() - 1; r >= 0; --r)
        if (model->index(r, column).data().toString().contains(part))
            return r;
    return -1;
}

// How many such rows there are.
inline int CountRows(const QAbstractItemModel* model, int column, const QString& part) {
    return static_cast<int>(Column(model, column).filter(part).size());
}

// A click on the row's first cell, as a user picks it.
inline void Click(QAbstractItemView* view, int row) {
    const QRect cell = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}
