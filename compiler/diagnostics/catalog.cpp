// The texts of diagnostics.def: UTF-8 as written there, code page 932 as
// converted by the build (catalog_cp932.cpp).
#include "catalog.h"

namespace catalog {

std::string_view cp932_text(Text id);  // catalog_cp932.cpp

static std::string_view utf8_text(Text id) {
    switch (id) {
#define TEXT(Name, text) case Text::Name: return text;
#include "diagnostics.def"
    }
    return {};
}

std::string_view name(Text id) {
    switch (id) {
#define TEXT(Name, text) case Text::Name: return #Name;
#include "diagnostics.def"
    }
    return {};
}

std::string_view text(Text id, Charset charset) {
    return charset == Charset::utf8 ? utf8_text(id) : cp932_text(id);
}

std::string format(Text id, const std::vector<std::string>& values, Charset charset) {
    const std::string_view t = text(id, charset);
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

}  // namespace catalog
