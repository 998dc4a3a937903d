// One line of text to the system clipboard, as the lists and the decode tree copy it.
#pragma once

#include <QString>

// Replaces the clipboard's contents with `text` as plain text. false when there is no clipboard to write to
// (no application object); nothing is reported to the user either way.
bool CopyTextToClipboard(const QString& text);
