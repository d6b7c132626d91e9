// Positions in documents.
#include "document.h"

#include <algorithm>
#include <cstring>

#include "charset.h"

namespace lsp {

std::size_t Document::offset_of(Position p) const {
    // The next CR and LF are looked for each on its own, so that a
    // document without CRs is searched for them once.
    const std::size_t n = text.size();
    auto next = [&](char c, std::size_t from) {
        const void* at = from < n ? std::memchr(text.data() + from, c, n - from) : nullptr;
        return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data()) : n;
    };
    std::size_t pos = 0, cr = next('\r', 0), lf = next('\n', 0);
    for (int line = 0; line < p.line; ++line) {
        const std::size_t br = std::min(cr, lf);
        if (br == n) return n;
        pos = br + (text[br] == '\r' && br + 1 < n && text[br + 1] == '\n' ? 2 : 1);
        if (cr < pos) cr = next('\r', pos);
        if (lf < pos) lf = next('\n', pos);
    }
    const std::size_t end = std::min(cr, lf);
    for (long long units = 0; pos < end && units < p.character;) {
        std::size_t length;
        long c = charset::decode_utf8(text, pos, length);
        units += c > 0xFFFF ? 2 : 1;
        pos += length;
    }
    return pos;
}

void Document::replace(Position start, Position end, const std::string& with) {
    std::size_t a = offset_of(start), b = offset_of(end);
    if (b < a) std::swap(a, b);
    text.replace(a, b - a, with);
    stale = true;
}

}  // namespace lsp
