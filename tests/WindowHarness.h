// What the window suites share: a configuration home of their own, and a main window on an empty store.
#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

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

// Closes the window, then empties the store it showed.
inline void CloseMainWindow(std::unique_ptr<CMainFrame>& frame) {
    frame.reset();
    ResetCaptureStore();
}
