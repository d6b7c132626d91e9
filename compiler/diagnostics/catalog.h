// The message catalogue: every text of diagnostics.def by name, in UTF-8
// or in code page 932 (the bytes the compiler prints by default).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace catalog {

enum class Text {
#define TEXT(Name, text) Name,
#include "diagnostics.def"
};

enum class Charset { cp932, utf8 };

// The text as written in diagnostics.def, in the given charset.
std::string_view text(Text id, Charset charset = Charset::cp932);
// The row's name ("IllegalCharacter", "var_AlreadyDec").
std::string_view name(Text id);
// The text with %1, %2 replaced by `values` (inserted unchanged).
std::string format(Text id, const std::vector<std::string>& values, Charset charset = Charset::cp932);

}  // namespace catalog
