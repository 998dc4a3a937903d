// The payload of the packet last activated, as read-only fixed-pitch text with HTML/XML markup coloured and
// the known HTTP words in bold (the "Data" tab).
#pragma once

#include <QPlainTextEdit>
#include <QTextCharFormat>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "views/PayloadScan.h"

class QMimeData;

class CPayloadTextCtrl : public QPlainTextEdit {
    Q_OBJECT

public:
    // The command numbers of the context menu's actions, kept as the actions' data.
    static constexpr int kCopyCommand = 57634;
    static constexpr int kSelectAllCommand = 57642;

    explicit CPayloadTextCtrl(QWidget* parent = nullptr);

    // Replaces the text by `length` bytes of `text`, each shown as its Latin-1 character (a CR LF pair, a
    // lone CR and a lone LF each as one line break), and formats it: the base format everywhere, then (with
    // `highlight`) the markup colours and the bold HTTP words, found in the text as shown. The caret ends at
    // the start, with nothing selected.
    void ShowText(const char* text, qsizetype length, bool highlight = true);

    // The format that text of `kind` is given: the base format (fixed pitch, 10 points, black, neither bold
    // nor underlined) with the kind's colour and weight.
    static QTextCharFormat FormatOf(PayloadKind kind);
    static QTextCharFormat BaseFormat();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Replaces the document by `shown`, each stretch of `look` in its kind's format.
    void Load(const std::string& shown, const std::vector<PayloadRun>& look);

    static constexpr size_t kPayloadKinds = static_cast<size_t>(PayloadKind::Keyword) + 1;
    std::array<QTextCharFormat, kPayloadKinds> m_formats;
    // For each kind, the first kind with an equal format: pieces that look the same are inserted as one.
    std::array<uint8_t, kPayloadKinds> m_sameLook{};
};
