// The texts of diagnostics.def in code page 932, as converted by the build
// (cp932.cmake writes diagnostics_cp932.inc).
#include "catalog.h"

namespace catalog {

std::string_view cp932_text(Text id) {
    switch (id) {
#define CP932(Name, bytes) case Text::Name: return std::string_view(bytes, sizeof(bytes) - 1);
#include "diagnostics_cp932.inc"
#undef CP932
    }
    return {};
}

}  // namespace catalog
