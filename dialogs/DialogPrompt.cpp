#include "dialogs/DialogPrompt.h"

#include <QPushButton>

namespace {

// The texts carry the Windows line ends they have always had; a label shows "\r" as a visible glyph.
QString PlainLines(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

MsgAnswer AskUser(QWidget* parent, const std::string& text, MsgButtons buttons, QMessageBox::Icon icon,
                  const std::string& detail) {
    QMessageBox box(icon, QStringLiteral("Pacterra"), PlainLines(text), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty())
        box.setInformativeText(PlainLines(detail));
    switch (buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::No);
            break;
        case MsgButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Cancel);
            break;
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        default:
            // Closed without a button (the close box): the safe answer.
            return buttons == MsgButtons::Ok      ? MsgAnswer::Ok
                   : buttons == MsgButtons::YesNo ? MsgAnswer::No
                                                  : MsgAnswer::Cancel;
    }
}
