// The open documents: their text as the editor has it (UTF-8) and the
// mapping of LSP positions (UTF-16 code units) to byte offsets.
#pragma once

#include <memory>
#include <string>

#include "analysis.h"

namespace lsp {

struct Document {
    std::string text;  // UTF-8, as received
    long long version = 0;
    std::shared_ptr<const Analysis> analysis;

    // Byte offset of a position; positions past a line's end or the last
    // line are clamped to them.
    std::size_t offset_of(Position p) const;
    // Replaces the text between two positions.
    void replace(Position start, Position end, const std::string& with);
};

}  // namespace lsp
