// Writes the opcode table of docs/machine.md from image/opcodes.def, so the
// documentation cannot drift from the instruction set.
//
//   opcode_table              print the generated block
//   opcode_table --check DOC  exit 1 unless DOC holds exactly that block
//   opcode_table --update DOC replace the block in DOC
//
// Opcode, mnemonic, form and length come from expanding the OP rows, like
// everywhere else; the effect column is the row's trailing comment, read
// from the text of the same file (VEXL_OPCODES_DEF).
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "generated_block.h"

namespace {

struct Row {
    const char* name;
    unsigned code;
    const char* mnemonic;
    char form;
    unsigned words;
};

#define N 'N'
#define M 'M'
#define R 'R'
#define I 'I'
#define J 'J'
#define A 'A'
#define S 'S'
#define T 'T'
const Row kRows[] = {
#define OP(name, code, mnem, form, words, roles, effect) {#name, code, mnem, form, words},
#include "opcodes.def"
#undef OP
};
#undef N
#undef M
#undef R
#undef I
#undef J
#undef A
#undef S
#undef T

const char* const kBegin =
    "<!-- opcode table: generated from image/opcodes.def by the update-docs target; do not edit -->";
const char* const kEnd = "<!-- end of opcode table -->";

const char* operands(char form) {
    switch (form) {
    case 'M': return "GRa,adr[,GRx]";
    case 'R': return "GRa,GRb";
    case 'I': return "GRa,imm";
    case 'J': return "adr[,GRx]";
    case 'A': return "adr[,GRx]";
    case 'S': return "GRa";
    case 'T': return "\"text\"";
    default: return "";
    }
}

std::string hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

// Markdown treats "|" as a cell border.
std::string cell(std::string s) {
    for (std::size_t p = 0; (p = s.find('|', p)) != std::string::npos; p += 2) s.replace(p, 1, "\\|");
    return s;
}

// The generated block, markers included, or "" after an error message.
std::string generate() {
    std::string def;
    if (!docgen::read_file(VEXL_OPCODES_DEF, def)) {
        std::cerr << "opcode_table: cannot read " << VEXL_OPCODES_DEF << "\n";
        return "";
    }
    // The comment of each row, by row name.
    std::map<std::string, std::string> effect;
    // A row reads: OP(name, code, "mnemonic", form, words, roles, effect)  // text
    std::istringstream lines(def);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 3, "OP(") != 0) continue;
        const auto comma = line.find(',', start);
        const auto close = line.find(')', start);
        const auto slashes = close == std::string::npos ? close : line.find("//", close);
        if (comma == std::string::npos || slashes == std::string::npos) continue;
        std::string name = line.substr(start + 3, comma - start - 3);
        name.erase(name.find_last_not_of(" \t") + 1);
        std::string text = line.substr(slashes + 2);
        text.erase(0, text.find_first_not_of(" \t"));
        text.erase(text.find_last_not_of(" \t\r") + 1);
        effect[name] = text;
    }

    std::string out = std::string(kBegin) + "\n\n";
    out += "| opcode | mnemonic | form | words | operands | effect |\n";
    out += "|---|---|---|---|---|---|\n";
    bool defined[256] = {};
    for (const Row& r : kRows) {
        const auto e = effect.find(r.name);
        if (e == effect.end() || e->second.empty()) {
            std::cerr << "opcode_table: row " << r.name << " has no comment in opcodes.def\n";
            return "";
        }
        defined[r.code] = true;
        const std::string words = r.form == 'T' ? "1 + k + 1" : std::to_string(r.words);
        out += "| " + hex2(r.code) + " | `" + r.mnemonic + "` | " + r.form + " | " + words + " | " +
               (*operands(r.form) ? "`" + std::string(operands(r.form)) + "`" : "") + " | " +
               cell(e->second) + " |\n";
    }
    // Undefined opcodes as ranges.
    std::string ranges;
    for (unsigned c = 0; c < 256;) {
        if (defined[c]) {
            ++c;
            continue;
        }
        unsigned last = c;
        while (last + 1 < 256 && !defined[last + 1]) ++last;
        if (!ranges.empty()) ranges += ", ";
        ranges += last == c ? hex2(c) : hex2(c) + "–" + hex2(last);
        c = last + 1;
    }
    out += "\nEvery other opcode (" + ranges + ") is undefined: executing it stops the run with "
           "\"Illegal Operation\".\n\n";
    out += std::string(kEnd) + "\n";
    return out;
}


}  // namespace

int main(int argc, char** argv) {
    const std::string table = generate();
    if (table.empty()) return 1;
    const docgen::Block block{"opcode_table", "opcode table", "image/opcodes.def", kBegin, kEnd};
    return docgen::run(block, table, argc, argv);
}
