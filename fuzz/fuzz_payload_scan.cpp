// Random bytes into the payload highlighting: every token and run lies inside the text and is not empty, the
// markup tokens cover the text exactly once in order (names inside the tag body that follows them), the runs
// are the coloured tokens backwards followed by the keywords, and the flattened look covers the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "views/PayloadScan.h"

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

bool IsName(PayloadKind kind) {
    return kind == PayloadKind::TagName || kind == PayloadKind::AttributeName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string copy(reinterpret_cast<const char*>(data),
                           size);  // exact size: a read past it is caught
    const std::string_view text(copy);

    const std::vector<PayloadToken> markup = ScanTagBodies(text, ScanMarkup(text, ScanComments(text)));
    size_t covered = 0;
    size_t pendingNames = 0;
    for (size_t i = 0; i < markup.size(); ++i) {
        const PayloadToken& t = markup[i];
        Check(t.start < t.end && t.end <= size);
        Check(t.kind != PayloadKind::Text && t.kind != PayloadKind::Keyword);
        if (IsName(t.kind)) {
            ++pendingNames;
            continue;
        }
        // The names just before a tag body lie inside it, in order.
        for (size_t n = i - pendingNames; n < i; ++n) {
            Check(t.kind == PayloadKind::TagBody);
            Check(markup[n].start >= t.start && markup[n].end <= t.end);
            Check(n == i - pendingNames || markup[n].start >= markup[n - 1].end);
        }
        pendingNames = 0;
        Check(t.start == covered);
        covered = t.end;
    }
    Check(pendingNames == 0 && covered == size);

    const std::vector<PayloadToken> keywords = ScanHttpKeywords(text);
    size_t after = 0;
    for (const PayloadToken& k : keywords) {
        Check(k.kind == PayloadKind::Keyword && k.start < k.end && k.end <= size && k.start >= after);
        after = k.end;
    }

    const std::vector<PayloadRun> runs = ScanPayload(text);
    size_t next = 0;
    for (auto it = markup.rbegin(); it != markup.rend(); ++it) {
        if (!HasOwnFormat(it->kind))
            continue;
        Check(next < runs.size());
        const PayloadRun& r = runs[next++];
        Check(r.start == it->start && r.length == it->end - it->start && r.kind == it->kind);
    }
    for (const PayloadToken& k : keywords) {
        Check(next < runs.size());
        const PayloadRun& r = runs[next++];
        Check(r.start == k.start && r.length == k.end - k.start);
    }
    Check(next == runs.size());
    for (const PayloadRun& r : runs)
        Check(r.length > 0 && r.start + r.length <= size);

    // The final look covers the text once, in order, with no two neighbours alike.
    const std::vector<PayloadRun> look = FlattenRuns(size, runs);
    size_t at = 0;
    for (size_t i = 0; i < look.size(); ++i) {
        Check(look[i].start == at && look[i].length > 0);
        Check(i == 0 || look[i].kind != look[i - 1].kind);
        at += look[i].length;
    }
    Check(at == size);

    // The shown text has one '\n' per line break and no CR left.
    const std::string shown = ShownPayloadText(text);
    Check(shown.size() <= size && shown.find('\r') == std::string::npos);
    return 0;
}
