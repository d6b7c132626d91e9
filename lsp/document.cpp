// Positions in documents.
#include "document.h"

#include "charset.h"

namespace lsp {

std::size_t Document::offset_of(Position p) const {
    std::size_t pos = 0;
    for (int line = 0; line < p.line; ++line) {
        std::size_t br = text.find_first_of("\r\n", pos);
        if (br == std::string::npos) return text.size();
        pos = br + (text.compare(br, 2, "\r\n") == 0 ? 2 : 1);
    }
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
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
