#include "views/PayloadScan.h"

#include <algorithm>
#include <array>

namespace {

// Each scan builds its list in text order in one pass, instead of inserting into the middle of a list
// (which on a vector would make a markup-heavy text quadratic).

bool StartsWith(std::string_view text, size_t at, std::string_view pattern) {
    return text.substr(at).starts_with(pattern);
}

// Length of the tag opener at `at` within [.., end), or 0. Longer openers first: "<?", "<!", "</", "<".
size_t OpenerAt(std::string_view text, size_t at, size_t end) {
    if (text[at] != '<')
        return 0;
    if (at + 1 < end && (text[at + 1] == '?' || text[at + 1] == '!' || text[at + 1] == '/'))
        return 2;
    return 1;
}

// Length of the tag closer at `at` within [.., end), or 0: ">", "?>" or "/>".
size_t CloserAt(std::string_view text, size_t at, size_t end) {
    if (text[at] == '>')
        return 1;
    if ((text[at] == '?' || text[at] == '/') && at + 1 < end && text[at + 1] == '>')
        return 2;
    return 0;
}

// ASCII letters to lower case; every other byte (including those above 127) stays as it is.
constexpr char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesFoldedAt(std::string_view text, size_t at, std::string_view pattern) {
    if (at > text.size() || text.size() - at < pattern.size())
        return false;
    for (size_t k = 0; k < pattern.size(); ++k)
        if (FoldCase(text[at + k]) != FoldCase(pattern[k]))
            return false;
    return true;
}

// The header names the keyword scan knows, colon included, in the order they are tried.
constexpr std::string_view kHttpHeaderNames[] = {
    "Accept-Charset:",
    "Accept-Encoding:",
    "Accept-Language:",
    "Accept-Ranges:",
    "Accept:",
    "Age:",
    "Allow:",
    "Authorization:",
    "Cache-Control:",
    "Connection:",
    "Content-Encoding:",
    "Content-Language:",
    "Content-Length:",
    "Content-Location:",
    "Content-MD5:",
    "Content-Range:",
    "Content-Type:",
    "Date:",
    "ETag:",
    "Expect:",
    "Expires:",
    "From:",
    "Host:",
    "If-Match:",
    "If-Modified-Since:",
    "If-None-Match:",
    "If-Range:",
    "If-Unmodified-Since:",
    "Last-Modified:",
    "Location:",
    "Max-Forwards:",
    "Pragma:",
    "Proxy-Authenticate:",
    "Proxy-Authorization:",
    "Range:",
    "Referer:",
    "Retry-After:",
    "Server:",
    "TE:",
    "Trailer:",
    "Transfer-Encoding:",
    "Upgrade:",
    "User-Agent:",
    "Vary:",
    "Via:",
    "Warning:",
    "WWW-Authenticate:",
    "Cookie:",
    "Keep-Alive:",
    "Set-Cookie:",
    "P3P:",
    "HMServer:",
    "X-Cache:",
    "X-Cache-Lookup:",
    "Content-Disposition:",
    "X-Powered-By:",
};

constexpr std::string_view kStartWords[] = {"HTTP/1.0", "HTTP/1.1", "OPTIONS", "GET",   "HEAD",
                                            "POST",     "PUT",      "DELETE",  "TRACE", "CONNECT"};

// The header names grouped by their folded first letter (in table order within a group), so that a line
// start is only compared with the names that can match there.
struct HeaderIndex {
    std::array<std::vector<uint8_t>, 256> byFirst;

    HeaderIndex() {
        for (size_t i = 0; i < std::size(kHttpHeaderNames); ++i)
            byFirst[static_cast<uint8_t>(FoldCase(kHttpHeaderNames[i][0]))].push_back(
                static_cast<uint8_t>(i));
    }
};

const HeaderIndex& Headers() {
    static const HeaderIndex index;
    return index;
}

// Length of the first known header name (colon included) at `at`, or 0.
size_t HeaderAt(std::string_view text, size_t at) {
    if (at >= text.size())
        return 0;
    for (uint8_t i : Headers().byFirst[static_cast<uint8_t>(FoldCase(text[at]))])
        if (MatchesFoldedAt(text, at, kHttpHeaderNames[i]))
            return kHttpHeaderNames[i].size();
    return 0;
}

// A line feed, or a carriage return that neither ends the text nor starts a CR LF pair.
bool IsLineEnd(std::string_view text, size_t at) {
    if (text[at] == '\n')
        return true;
    return text[at] == '\r' && at + 1 < text.size() && text[at + 1] != '\n';
}

}  // namespace

std::vector<PayloadToken> ScanComments(std::string_view text) {
    static constexpr std::string_view kOpener = "<!--";
    static constexpr std::string_view kCloser = "-->";
    std::vector<PayloadToken> tokens;
    size_t mark = 0;  // end of the last token
    size_t i = 0;
    while (i < text.size()) {
        if (StartsWith(text, i, kOpener)) {
            if (mark != i)
                tokens.push_back({mark, i, PayloadKind::Text});
            tokens.push_back({i, i + kOpener.size(), PayloadKind::CommentOpener});
            mark = i = i + kOpener.size();
        } else if (StartsWith(text, i, kCloser)) {
            if (mark != i)
                tokens.push_back({mark, i, PayloadKind::CommentBody});
            tokens.push_back({i, i + kCloser.size(), PayloadKind::CommentCloser});
            mark = i = i + kCloser.size();
        } else {
            ++i;
        }
    }
    if (mark < text.size()) {
        const bool unclosed = !tokens.empty() && tokens.back().kind == PayloadKind::CommentOpener;
        tokens.push_back({mark, text.size(), unclosed ? PayloadKind::CommentBody : PayloadKind::Text});
    }
    return tokens;
}

std::vector<PayloadToken> ScanMarkup(std::string_view text, const std::vector<PayloadToken>& tokens) {
    std::vector<PayloadToken> out;
    out.reserve(tokens.size());
    for (const PayloadToken& token : tokens) {
        if (token.kind != PayloadKind::Text) {
            out.push_back(token);
            continue;
        }
        const size_t end = token.end;
        size_t a = token.start;  // start of the stretch not yet tokenised
        size_t c = a;
        bool afterOpener = false;
        while (c < end) {
            if (size_t opener = OpenerAt(text, c, end)) {
                if (a != c)
                    out.push_back({a, c, PayloadKind::Content});
                out.push_back({c, c + opener, PayloadKind::TagOpener});
                a = c = c + opener;
                afterOpener = true;
            } else if (size_t closer = CloserAt(text, c, end)) {
                if (a != c)
                    out.push_back({a, c, PayloadKind::TagBody});
                out.push_back({c, c + closer, PayloadKind::TagCloser});
                a = c = c + closer;
                afterOpener = false;
            } else {
                ++c;
            }
        }
        if (a < end)
            out.push_back({a, end, afterOpener ? PayloadKind::TagBody : PayloadKind::Content});
    }
    return out;
}

std::vector<PayloadToken> ScanTagBodies(std::string_view text, const std::vector<PayloadToken>& tokens) {
    enum class State { NoBlankYet, ExpectAttributeName, InValue };
    std::vector<PayloadToken> out;
    out.reserve(tokens.size());
    for (const PayloadToken& token : tokens) {
        if (token.kind != PayloadKind::TagBody) {
            out.push_back(token);
            continue;
        }
        State state = State::NoBlankYet;
        size_t s = token.start;  // start of the name being read
        for (size_t i = token.start; i < token.end; ++i) {
            const char ch = text[i];
            if (ch == ' ') {
                if (state == State::NoBlankYet && s != i)
                    out.push_back({s, i, PayloadKind::TagName});
                s = i;
                state = State::ExpectAttributeName;
            } else if (ch == '=') {
                if (state == State::ExpectAttributeName)
                    out.push_back({s, i, PayloadKind::AttributeName});
                s = i;
                state = State::InValue;
            } else if (text[s] == ' ') {
                s = i;  // a name starts at its first character, not at the blank before it
            }
        }
        if (state == State::NoBlankYet)
            out.push_back({s, token.end, PayloadKind::TagName});
        out.push_back(token);
    }
    return out;
}

std::vector<PayloadToken> ScanHttpKeywords(std::string_view text) {
    std::vector<PayloadToken> keywords;
    for (std::string_view word : kStartWords) {
        if (MatchesFoldedAt(text, 0, word)) {
            keywords.push_back({0, word.size(), PayloadKind::Keyword});
            break;
        }
    }
    for (size_t q = 0; q < text.size(); ++q) {
        if (!IsLineEnd(text, q))
            continue;
        if (size_t n = HeaderAt(text, q + 1)) {
            keywords.push_back({q + 1, q + n, PayloadKind::Keyword});  // the name without its colon
            q += n;                                                    // past the colon
        }
    }
    return keywords;
}

bool HasOwnFormat(PayloadKind kind) {
    return kind != PayloadKind::Text && kind != PayloadKind::Content;
}

std::vector<PayloadRun> ScanPayload(std::string_view text) {
    const std::vector<PayloadToken> markup = ScanTagBodies(text, ScanMarkup(text, ScanComments(text)));
    const std::vector<PayloadToken> keywords = ScanHttpKeywords(text);
    std::vector<PayloadRun> runs;
    runs.reserve(markup.size() + keywords.size());
    for (auto it = markup.rbegin(); it != markup.rend(); ++it)
        if (HasOwnFormat(it->kind))
            runs.push_back({it->start, it->end - it->start, it->kind});
    for (const PayloadToken& k : keywords)
        runs.push_back({k.start, k.end - k.start, k.kind});
    return runs;
}

std::string ShownPayloadText(std::string_view bytes) {
    std::string shown;
    shown.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            shown += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            shown += bytes[i];
        }
    }
    return shown;
}

std::vector<PayloadRun> FlattenRuns(size_t size, const std::vector<PayloadRun>& runs) {
    std::vector<PayloadKind> kindAt(size, PayloadKind::Text);
    for (const PayloadRun& run : runs) {
        const size_t start = std::min(run.start, size);
        const size_t end = start + std::min(run.length, size - start);
        std::fill(kindAt.begin() + static_cast<ptrdiff_t>(start),
                  kindAt.begin() + static_cast<ptrdiff_t>(end), run.kind);
    }
    std::vector<PayloadRun> flat;
    for (size_t i = 0; i < size;) {
        size_t j = i + 1;
        while (j < size && kindAt[j] == kindAt[i])
            ++j;
        flat.push_back({i, j - i, kindAt[i]});
        i = j;
    }
    return flat;
}
