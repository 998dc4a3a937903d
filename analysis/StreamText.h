// A reassembled stream as text (each turn on a new line, marked lines for what is missing or odd) and as raw
// bytes. Shared by pacterra-cli and the Stream tab, so that both show the same text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/StreamReassembly.h"

// The bytes of a Data piece; empty for a mark, or when the source no longer holds them.
std::span<const uint8_t> PieceBytes(const PayloadSource& source, const StreamPiece& piece);

// The marked line for a piece that is not data: "[N bytes missing]" and the like.
std::string StreamNoteText(const StreamPiece& piece);

struct StreamTextOptions {
    bool client = true;       // the bytes the client sent
    bool server = true;       // the bytes the server sent
    bool turnMarks = false;   // "> " (client) or "< " (server) at the start of each turn
    size_t limit = SIZE_MAX;  // characters at most, over all calls
};

// A stretch of the text written by one call: stream bytes of one direction, or one marked line.
struct StreamTextRun {
    size_t start = 0;  // in the string given to that call
    size_t length = 0;
    StreamDirection direction = StreamDirection::ToServer;
    bool note = false;       // a marked line, not stream bytes
    bool turnStart = false;  // the first run of a turn
};

// Writes pieces as text, one call after another as the stream grows. Each byte shows as one character:
// a CR LF pair, a lone CR and a lone LF become one '\n' (also across pieces); other bytes below 32 become
// '.'; bytes from 32 up stay as they are (the view reads them as Latin-1).
class StreamTextWriter {
public:
    explicit StreamTextWriter(StreamTextOptions options = {}) : m_options(options) {}

    // Appends the text of pieces [from, to) to `text` and their runs to `runs` (which may be null). False
    // once the limit is reached (the rest was not written).
    bool Append(const PayloadSource& source, const std::vector<StreamPiece>& pieces, size_t from, size_t to,
                std::string& text, std::vector<StreamTextRun>* runs);

    // Characters written so far, over all calls.
    size_t Written() const { return m_written; }
    bool LimitReached() const { return m_full; }
    const StreamTextOptions& Options() const { return m_options; }

private:
    bool Shows(StreamDirection d) const;
    void Put(std::string& text, std::vector<StreamTextRun>* runs, const char* data, size_t n,
             StreamDirection dir, bool note);
    void EndLine(std::string& text, std::vector<StreamTextRun>* runs);
    bool Room(size_t n) const;

    StreamTextOptions m_options;
    size_t m_written = 0;
    bool m_full = false;
    bool m_any = false;        // something was written
    bool m_lineStart = true;   // the last character written ends a line
    bool m_crPending = false;  // the last byte was a CR: an LF right after belongs to it
    bool m_lastNote = false;
    StreamDirection m_lastDir = StreamDirection::ToServer;
    bool m_newRun = true;  // the next character starts a run
    bool m_newTurn = true;
};

// Hands the data bytes of the chosen directions, in stream order, to `sink` (false from it stops the walk).
// Marks and gaps add nothing. False when the sink stopped it.
bool WriteStreamBytes(const PayloadSource& source, const std::vector<StreamPiece>& pieces, bool client,
                      bool server, const std::function<bool(std::span<const uint8_t>)>& sink);
