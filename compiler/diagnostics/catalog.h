// The message catalogue: every text of diagnostics.def by name, in Japanese
// (UTF-8, or code page 932: the bytes the compiler prints by default) or in
// English (ASCII, the same bytes in both charsets).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace catalog {

enum class Text {
#define TEXT(Name, ja, en) Name,
#include "diagnostics.def"
};

// The number of rows; the Text values are 0 to kTextCount - 1.
inline constexpr int kTextCount = 0
#define TEXT(Name, ja, en) +1
#include "diagnostics.def"
    ;

enum class Charset { cp932, utf8 };
enum class Language { ja, en };

// The text as written in diagnostics.def, in the given charset and language.
std::string_view text(Text id, Charset charset = Charset::cp932, Language language = Language::ja);
// The row's name ("IllegalCharacter", "var_AlreadyDec").
std::string_view name(Text id);
// The text with %1, %2 replaced by `values` (inserted unchanged).
std::string format(Text id, const std::vector<std::string>& values, Charset charset = Charset::cp932,
                   Language language = Language::ja);

// A charset by one of its usual names, in any case and with or without
// '-' and '_': "cp932", "CP932", "ms932", "windows-31j", "sjis",
// "shift_jis", "utf-8", "UTF8", ...
std::optional<Charset> charset_named(std::string_view name);
// A language by its code, in any case: "ja" or "en" ("japanese", "english").
std::optional<Language> language_named(std::string_view name);

}  // namespace catalog
