// What vexldump shows of the source: the listing interleaved with the
// source lines, function labels and variable names, and the source line
// of a traced instruction. Needs the image's debug file.
#pragma once

#include <string>
#include <vector>

#include "debuginfo.h"

namespace source_view {

// The source a debug file names (debuginfo::load_source).
using Source = debuginfo::SourceText;

// The listing of `words` with, before the first instruction of each line
// of code, the source lines since the last ones shown ("  LINE | TEXT"),
// a label at each function entry ("ADDR <NAME>:") and the variable that a
// memory operand addresses ("LD GR0,3,bp  ; n", "LD GR0,-1,GR1  ; a[]").
std::string annotated_listing(const std::vector<image::Word>& words, const debuginfo::DebugInfo& info,
                              const Source& source);

}  // namespace source_view
