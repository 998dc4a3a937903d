#include "views/FixedFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

QFont FixedPitchFont() {
    const QStringList families{
        QStringLiteral("Courier New"),      QStringLiteral("Liberation Mono"),
        QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Nimbus Mono PS"),
        QStringLiteral("Noto Mono"),        QFontDatabase::systemFont(QFontDatabase::FixedFont).family()};
    for (const QString& family : families) {
        QFont font(family);
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        if (QFontInfo(font).fixedPitch())
            return font;
    }
    for (const QString& family : QFontDatabase::families()) {
        if (QFontDatabase::isFixedPitch(family))
            return QFont(family);
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}
