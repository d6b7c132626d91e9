// Writes the table of diagnostics in docs/language.md from the catalogue
// (compiler/diagnostics/diagnostics.def), so the documentation cannot
// drift from the texts the compiler prints.
//
//   message_table              print the generated block
//   message_table --check DOC  exit 1 unless DOC holds exactly that block
//   message_table --update DOC replace the block in DOC
//
// A value of a text (%1, %2) is shown as its name in the row, in italics.
#include <iostream>
#include <string>
#include <vector>

#include "generated_block.h"

namespace {

struct Row {
    const char* kind;
    const char* name;
    std::vector<const char*> values;
    const char* ja;
    const char* en;
};

const Row kRows[] = {
#define ERROR(Name, ja, en) {"error", #Name, {}, ja, en},
#define ERROR1(Name, T1, v1, ja, en) {"error", #Name, {#v1}, ja, en},
#define ERROR2(Name, T1, v1, T2, v2, ja, en) {"error", #Name, {#v1, #v2}, ja, en},
#define WARNING(Name, ja, en) {"warning", #Name, {}, ja, en},
#define WARNING1(Name, T1, v1, ja, en) {"warning", #Name, {#v1}, ja, en},
#define WARNING2(Name, T1, v1, T2, v2, ja, en) {"warning", #Name, {#v1, #v2}, ja, en},
#define FATAL(Name, ja, en) {"fatal", #Name, {}, ja, en},
#define FATAL1(Name, T1, v1, ja, en) {"fatal", #Name, {#v1}, ja, en},
#include "diagnostics.def"
};

const char* const kBegin =
    "<!-- message table: generated from compiler/diagnostics/diagnostics.def by the update-docs target; "
    "do not edit -->";
const char* const kEnd = "<!-- end of message table -->";

// The text with %1, %2 shown as the values' names; "|" and "*" escaped
// for Markdown.
std::string cell(const std::string& text, const std::vector<const char*>& values) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            const std::size_t n = static_cast<std::size_t>(text[++i] - '1');
            out += "*" + std::string(n < values.size() ? values[n] : "?") + "*";
        } else if (c == '|' || c == '*' || c == '_') {
            out += std::string("\\") + c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string generate() {
    std::string out = std::string(kBegin) + "\n\n";
    out += "| kind | message | English (`--diagnostics-language=en`) | class |\n";
    out += "|---|---|---|---|\n";
    for (const Row& r : kRows)
        out += std::string("| ") + r.kind + " | " + cell(r.ja, r.values) + " | " + cell(r.en, r.values) + " | `" +
               r.name + "` |\n";
    out += "\n" + std::string(kEnd) + "\n";
    return out;
}


}  // namespace

int main(int argc, char** argv) {
    const std::string table = generate();
    const docgen::Block block{"message_table", "message table", "compiler/diagnostics/diagnostics.def", kBegin, kEnd};
    return docgen::run(block, table, argc, argv);
}
