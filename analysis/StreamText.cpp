#include "analysis/StreamText.h"

#include <algorithm>

std::span<const uint8_t> PieceBytes(const PayloadSource& source, const StreamPiece& piece) {
    if (piece.kind != StreamPieceKind::Data)
        return {};
    const std::span<const uint8_t> all = source.Payload(piece.packet);
    if (piece.offset > all.size() || piece.length > all.size() - piece.offset)
        return {};
    return all.subspan(piece.offset, static_cast<size_t>(piece.length));
}

std::string StreamNoteText(const StreamPiece& p) {
    const std::string n = std::to_string(p.length) + (p.length == 1 ? " byte" : " bytes");
    switch (p.kind) {
        case StreamPieceKind::Missing:
            return "[" + n + " missing]";
        case StreamPieceKind::Conflict:
            return "[" + n + " sent again with other contents; the first copy is shown]";
        case StreamPieceKind::AfterEnd:
            return "[" + n + " sent after the end of the stream (FIN), not shown]";
        case StreamPieceKind::Late:
            return "[" + n + " captured after they were shown as missing]";
        case StreamPieceKind::Early:
            return "[" + n + " from before the first byte shown, not shown]";
        case StreamPieceKind::Restart:
            return "[the connection starts again]";
        case StreamPieceKind::Data:
            break;
    }
    return {};
}

bool StreamTextWriter::Shows(StreamDirection d) const {
    return d == StreamDirection::ToServer ? m_options.client : m_options.server;
}

bool StreamTextWriter::Room(size_t n) const {
    return m_written <= m_options.limit && n <= m_options.limit - m_written;
}

void StreamTextWriter::Put(std::string& text, std::vector<StreamTextRun>* runs, const char* data, size_t n,
                           StreamDirection dir, bool note) {
    if (n == 0)
        return;
    if (runs) {
        if (m_newRun || runs->empty() || m_lastNote != note || m_lastDir != dir) {
            StreamTextRun r;
            r.start = text.size();
            r.direction = dir;
            r.note = note;
            r.turnStart = m_newTurn;
            runs->push_back(r);
        }
        runs->back().length += n;
    }
    m_newRun = false;
    m_newTurn = false;
    m_lastNote = note;
    m_lastDir = dir;
    text.append(data, n);
    m_written += n;
    m_any = true;
    m_lineStart = data[n - 1] == '\n';
}

void StreamTextWriter::EndLine(std::string& text, std::vector<StreamTextRun>* runs) {
    if (!m_lineStart && Room(1))
        Put(text, runs, "\n", 1, m_lastDir, m_lastNote);
}

bool StreamTextWriter::Append(const PayloadSource& source, const std::vector<StreamPiece>& pieces,
                              size_t from, size_t to, std::string& text, std::vector<StreamTextRun>* runs) {
    m_newRun = true;  // runs never reach back into an earlier call's string
    to = std::min(to, pieces.size());
    std::string converted;
    for (size_t i = from; i < to && !m_full; ++i) {
        const StreamPiece& p = pieces[i];
        if (!Shows(p.direction))
            continue;
        const bool note = p.kind != StreamPieceKind::Data;
        const bool turn = !m_any || p.direction != m_lastDir;
        if (turn || note || p.newLine || m_lastNote) {
            EndLine(text, runs);
            m_crPending = false;
            m_newRun = true;
        }
        if (turn) {
            m_newTurn = true;
            if (m_options.turnMarks) {
                const char* mark = p.direction == StreamDirection::ToServer ? "> " : "< ";
                if (!Room(2)) {
                    m_full = true;
                    break;
                }
                Put(text, runs, mark, 2, p.direction, false);
            }
        }
        if (note) {
            const std::string line = StreamNoteText(p) + "\n";
            if (!Room(line.size())) {
                m_full = true;
                break;
            }
            Put(text, runs, line.data(), line.size(), p.direction, true);
            continue;
        }
        const std::span<const uint8_t> bytes = PieceBytes(source, p);
        converted.clear();
        converted.reserve(bytes.size());
        for (const uint8_t b : bytes) {
            if (b == '\n' && m_crPending) {
                m_crPending = false;
                continue;
            }
            m_crPending = b == '\r';
            converted.push_back(b == '\r' || b == '\n' ? '\n' : b < 32 ? '.' : static_cast<char>(b));
        }
        size_t n = converted.size();
        if (!Room(n)) {
            n = m_options.limit - std::min(m_written, m_options.limit);
            m_full = true;
        }
        Put(text, runs, converted.data(), n, p.direction, false);
    }
    return !m_full;
}

bool WriteStreamBytes(const PayloadSource& source, const std::vector<StreamPiece>& pieces, bool client,
                      bool server, const std::function<bool(std::span<const uint8_t>)>& sink) {
    for (const StreamPiece& p : pieces) {
        if (p.kind != StreamPieceKind::Data || !(p.direction == StreamDirection::ToServer ? client : server))
            continue;
        const std::span<const uint8_t> bytes = PieceBytes(source, p);
        if (!bytes.empty() && !sink(bytes))
            return false;
    }
    return true;
}
