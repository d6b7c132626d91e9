// The image listing: decodes an image word by word through op_table(), so a
// new opcode row appears here without changes. The text of every line is
// fixed because the golden ".lst" files compare it byte for byte.
#include "listing.h"

#include <cstdio>

namespace image {

namespace {

// A register field may name 7-15 in a damaged or hand-made image; those are
// listed as "R7".."R15" rather than hidden.
std::string reg(unsigned r) {
    if (r < kRegisterCount) return register_name(r);
    return "R" + std::to_string(r);
}

std::string hex4(unsigned w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", w);
    return buf;
}

// The address operand of the M and A forms: an absolute address without an
// index register, a signed displacement with one (that is how the machine
// computes the effective address).
std::string memory_operand(Word adr, unsigned x) {
    if (x == 0) return "0x" + hex4(adr);
    return std::to_string(static_cast<std::int16_t>(adr)) + "," + reg(x);
}

void add_line(std::string& out, std::size_t address, const std::string& words,
              const std::string& text) {
    char head[32];
    std::snprintf(head, sizeof head, "%04zX: %-9s  ", address, words.c_str());
    out += head;
    out += text;
    out += '\n';
}

}  // namespace

std::string list_image(const std::vector<Word>& words) {
    std::string out;
    std::size_t pc = 0;
    while (pc < words.size()) {
        const Word w = words[pc];
        const OpInfo& info = op_info(opcode_of(w));
        const unsigned r = field_r(w), x = field_x(w);

        // Undefined opcodes and instructions cut off by the end of the image
        // are data as far as the listing can tell: one word, then go on (a
        // text without its terminator is still listed as text).
        const std::size_t length = instruction_length(words.data(), words.size(), pc);
        if (length == 0 && !(info.defined() && info.form == Form::T)) {
            add_line(out, pc, hex4(w), "DW 0x" + hex4(w));
            ++pc;
            continue;
        }

        const std::string mnem = info.mnemonic;
        if (info.form == Form::T) {
            // Printable ASCII as itself (a backslash too, so escapes read as
            // in the source); everything else, and the quote, as {XXXX}.
            std::string text;
            const std::size_t end = length ? pc + length - 1 : words.size();
            for (std::size_t p = pc + info.words; p < end; ++p) {
                const Word c = words[p];
                if (c >= 0x20 && c <= 0x7E && c != 0x22)
                    text += static_cast<char>(c);
                else
                    text += "{" + hex4(c) + "}";
            }
            if (length)
                add_line(out, pc, hex4(w), mnem + " \"" + text + "\"");
            else
                add_line(out, pc, hex4(w), mnem + " \"" + text + "... (no terminator)");
            pc = end + (length ? 1 : 0);  // continue after the terminator
            continue;
        }

        const Word operand = info.words > 1 ? words[pc + 1] : 0;
        std::string text = mnem;
        switch (info.form) {
            case Form::N: break;
            case Form::S: text += " " + reg(r); break;
            case Form::R: text += " " + reg(r) + "," + reg(x); break;
            case Form::I: text += " " + reg(r) + "," + std::to_string(operand); break;
            case Form::M: text += " " + reg(r) + "," + memory_operand(operand, x); break;
            case Form::A: text += " " + memory_operand(operand, x); break;
            case Form::J:
                // Jump targets wrap instead of being checked, so they stay
                // addresses even with an index register.
                text += " 0x" + hex4(operand);
                if (x != 0) text += "," + reg(x);
                break;
            case Form::T:
            case Form::Undefined: break;  // handled above
        }
        std::string word_column = hex4(w);
        if (info.words > 1) word_column += " " + hex4(operand);
        add_line(out, pc, word_column, text);
        pc += length;
    }
    return out;
}

}  // namespace image
