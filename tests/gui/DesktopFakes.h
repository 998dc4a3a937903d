// Stand-ins for what lies outside the program when it opens an address: the main window's message boxes
// and the desktop's opener program.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "frontend/FrontEnd.h"

// Stands in for the main window: keeps the messages that would be shown.
struct MessageCatcher : IMainFrame {
    MessageCatcher() { g_pMainFrame = this; }
    ~MessageCatcher() override { g_pMainFrame = nullptr; }
    MsgAnswer Prompt(const std::string& text, MsgButtons, const std::string& detail) override {
        shown << QString::fromStdString(text);
        details << QString::fromStdString(detail);
        return MsgAnswer::Ok;
    }
    QStringList shown, details;
};

// The desktop's opener program, replaced for one test by a script in a folder that is the whole PATH: it
// writes its arguments beside itself and exits with `status`. Without a status there is no opener at all.
struct FakeOpenerProgram {
    explicit FakeOpenerProgram(int status) : oldPath(qgetenv("PATH")) {
        if (status >= 0) {
            QFile script(dir.filePath(QStringLiteral("xdg-open")));
            if (script.open(QIODevice::WriteOnly)) {
                script.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.args\"\n"
                                            "exit %1\n")
                                 .arg(status)
                                 .toUtf8());
                script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            }
        }
        qputenv("PATH", dir.path().toUtf8());
    }
    ~FakeOpenerProgram() {
        qputenv("PATH", oldPath);
        // The window's handle on an opener that ended goes with the next turn of the event loop: now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The arguments it was started with, once it has run.
    QStringList Arguments() const {
        QFile args(dir.filePath(QStringLiteral("xdg-open.args")));
        if (!args.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QTemporaryDir dir;
    QByteArray oldPath;
};
