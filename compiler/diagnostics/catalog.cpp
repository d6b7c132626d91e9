// The texts of diagnostics.def: UTF-8 as written there, the Japanese ones
// in code page 932 as converted by the build (catalog_cp932.cpp).
#include "catalog.h"

namespace catalog {

std::string_view cp932_text(Text id);  // catalog_cp932.cpp

static std::string_view utf8_text(Text id) {
    switch (id) {
#define TEXT(Name, ja, en) case Text::Name: return ja;
#include "diagnostics.def"
    }
    return {};
}

static std::string_view english_text(Text id) {
    switch (id) {
#define TEXT(Name, ja, en) case Text::Name: return en;
#include "diagnostics.def"
    }
    return {};
}

std::string_view name(Text id) {
    switch (id) {
#define TEXT(Name, ja, en) case Text::Name: return #Name;
#include "diagnostics.def"
    }
    return {};
}

std::string_view text(Text id, Charset charset, Language language) {
    if (language == Language::en) return english_text(id);
    return charset == Charset::utf8 ? utf8_text(id) : cp932_text(id);
}

std::string format(Text id, const std::vector<std::string>& values, Charset charset, Language language) {
    const std::string_view t = text(id, charset, language);
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        // Neither charset has '%' as the second byte of a character.
        if (t[i] == '%' && i + 1 < t.size() && t[i + 1] >= '1' && t[i + 1] <= '9') {
            const std::size_t n = static_cast<std::size_t>(t[i + 1] - '1');
            if (n < values.size()) out += values[n];
            ++i;
        } else {
            out += t[i];
        }
    }
    return out;
}

// The name in lower case without '-' and '_'.
static std::string folded(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_') continue;
        out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return out;
}

std::optional<Charset> charset_named(std::string_view name) {
    const std::string n = folded(name);
    if (n == "utf8") return Charset::utf8;
    for (const char* alias : {"cp932", "ms932", "windows31j", "sjis", "shiftjis", "mskanji", "csshiftjis"})
        if (n == alias) return Charset::cp932;
    return std::nullopt;
}

std::optional<Language> language_named(std::string_view name) {
    const std::string n = folded(name);
    if (n == "ja" || n == "japanese") return Language::ja;
    if (n == "en" || n == "english") return Language::en;
    return std::nullopt;
}

}  // namespace catalog
