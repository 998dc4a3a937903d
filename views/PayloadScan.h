// The highlighting of a payload shown as text: markup in the style of HTML and XML (comments, tag delimiters,
// tag names, attribute names) and the HTTP words the program knows (request methods and versions at the very
// start, header names at the start of a line). Pure functions of the text, shared by the payload view, the
// fuzzer and the tests; every scan runs in time linear in the text's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a stretch of the text is. The values are the token kinds the markup scans produce; Keyword marks the
// HTTP words.
enum class PayloadKind : uint8_t {
    CommentOpener = 0,  // "<!--"
    CommentCloser = 1,  // "-->"
    CommentBody = 2,
    Text = 3,       // outside comments: only between the comment scan and the markup scan
    TagOpener = 4,  // "<?", "<!", "</" or "<"
    TagCloser = 5,  // ">", "?>" or "/>"
    TagBody = 6,    // between an opener and a closer
    Content = 7,    // between tags: keeps the base format
    TagName = 8,
    AttributeName = 9,
    Keyword = 10,  // HTTP method, protocol version or header name
};

// The characters [start, end) of the text.
struct PayloadToken {
    size_t start = 0;
    size_t end = 0;
    PayloadKind kind = PayloadKind::Text;

    bool operator==(const PayloadToken&) const = default;
};

// One formatting step: the characters [start, start + length) take the format of `kind`.
struct PayloadRun {
    size_t start = 0;
    size_t length = 0;
    PayloadKind kind = PayloadKind::Text;

    bool operator==(const PayloadRun&) const = default;
};

// Splits the text at every "<!--" and "-->" into comment openers and closers, comment bodies and the text
// outside comments, in text order. The scan keeps no state between matches: the text before a "-->" is a
// comment body even without an opener, and the text after an opener that is never closed is a comment body.
std::vector<PayloadToken> ScanComments(std::string_view text);

// Replaces every Text token of `tokens` by the tag openers, closers, tag bodies and content found in it.
std::vector<PayloadToken> ScanMarkup(std::string_view text, const std::vector<PayloadToken>& tokens);

// Puts the tag name and the attribute names of every TagBody token of `tokens` just before it (the body
// itself stays, after them).
std::vector<PayloadToken> ScanTagBodies(std::string_view text, const std::vector<PayloadToken>& tokens);

// The HTTP keywords, in text order: a method or protocol version at offset 0, and the known header names
// (without their colon) at the start of every line but the first. Letters match without regard to case.
std::vector<PayloadToken> ScanHttpKeywords(std::string_view text);

// Whether text of this kind gets a format of its own (Text and Content keep the base format).
bool HasOwnFormat(PayloadKind kind);

// The text as the control shows it: every CR LF pair, lone CR and lone LF becomes one '\n', so that each line
// break is one character; every other byte stays.
std::string ShownPayloadText(std::string_view bytes);

// All four scans: the formatting runs in the order they are to be applied over the base format. The markup
// tokens come from the last to the first, so a tag body is painted before the names inside it; the keywords
// come last, so a keyword inside coloured markup ends up in the keyword format.
std::vector<PayloadRun> ScanPayload(std::string_view text);

// What `runs`, applied in order over the base format, leave on a text of `size` characters: runs in text
// order that cover it exactly, each with the kind whose format its characters end with (Text for the base
// format), neighbours of the same kind merged. Linear in the size plus the runs' lengths.
std::vector<PayloadRun> FlattenRuns(size_t size, const std::vector<PayloadRun>& runs);
