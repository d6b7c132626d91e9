// The canonical layout of a source: the same tokens in the same order, four
// spaces per block level, one statement or declaration per line, one space
// around binary operators and after commas, comments and groups of lines
// separated by a blank line kept. The tokens are never changed, joined or
// split, so a formatted program compiles to the same image. Works on the
// bytes (code page 932 or UTF-8 alike: bytes above 0x7F only occur in
// comments and texts).
#pragma once

#include <string>
#include <string_view>

namespace format {

struct Result {
    bool ok = false;
    std::string text;   // the formatted source (ok)
    int line = 0;       // else the line of the first byte that is no token
    std::string error;  // and what it is, in English
};

// Formats a whole source. A source with a byte outside every token
// (an illegal character, a lone '"' or ':') or an unterminated block
// comment is not formatted.
Result format_source(std::string_view source);

// Formats lines first..last (from 1) of a source: the result is the whole
// source with those lines replaced by their formatted form, indented for
// the blocks they stand in. The range is widened to whole statements when
// it starts or ends inside one.
Result format_lines(std::string_view source, int first, int last);

}  // namespace format
