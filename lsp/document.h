// The open documents: their text as the editor has it (UTF-8) and the
// mapping of LSP positions (UTF-16 code units) to byte offsets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis.h"

namespace lsp {

struct Document {
    std::string text;  // UTF-8, as received
    long long version = 0;
    std::shared_ptr<const Analysis> analysis;       // of `text` unless stale
    std::shared_ptr<const Analysis> last_complete;  // the latest with a tree
    bool stale = true;  // text changed since the analysis
    // The semantic tokens last sent, for deltas.
    std::string tokens_id;
    std::vector<int> tokens_sent;

    // Byte offset of a position; positions past a line's end or the last
    // line are clamped to them. Lines end at LF, CR LF or a lone CR.
    std::size_t offset_of(Position p) const;
    // Replaces the text between two positions.
    void replace(Position start, Position end, const std::string& with);
};

}  // namespace lsp
