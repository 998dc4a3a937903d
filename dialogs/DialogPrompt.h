// Messages and questions of the configuration dialogs: a message box over the dialog that asks.
#pragma once

#include <QMessageBox>

#include <string>

#include "frontend/FrontEnd.h"

// Shows `text` in a box captioned "Pacterra" over `parent` and returns the answer. `detail` (may be empty)
// is shown below the text in a smaller font. Yes/No questions default to No, so that a stray Return never
// throws work away.
MsgAnswer AskUser(QWidget* parent, const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                  QMessageBox::Icon icon = QMessageBox::Warning, const std::string& detail = {});
