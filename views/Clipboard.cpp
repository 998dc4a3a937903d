#include "views/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

bool CopyTextToClipboard(const QString& text) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    return true;
}
