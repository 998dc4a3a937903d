#include "ui/DataFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString FindProgramDataFile(const QString& name) {
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString beside = QDir(exeDir).filePath(name);
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir(exeDir).filePath(QStringLiteral("../share/pacterra/") + name);
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    const QString xdg =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("pacterra/") + name);
    return xdg.isEmpty() ? beside : xdg;
}
