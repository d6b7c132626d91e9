// Opcode table expansion and the big-endian word file format.
#include "image.h"

#include <istream>
#include <iterator>
#include <ostream>

namespace image {

const std::array<OpInfo, 256>& op_table() {
    static const std::array<OpInfo, 256> table = [] {
        std::array<OpInfo, 256> t{};
#define OP(name, code, mnem, form, words, roles, effect) \
    t[code] = OpInfo{mnem, Form::form, words, roles, Effect::effect};
#include "opcodes.def"
#undef OP
        return t;
    }();
    return table;
}

std::size_t instruction_length(const Word* code, std::size_t size, std::size_t pc) {
    if (pc >= size) return 0;
    const OpInfo& info = op_info(opcode_of(code[pc]));
    if (!info.defined() || pc + info.words > size) return 0;
    if (info.form != Form::T) return info.words;
    for (std::size_t p = pc + info.words; p < size; ++p)
        if (code[p] == 0) return p + 1 - pc;
    return 0;
}

const char* register_name(unsigned reg) {
    static const char* const names[] = {"GR0", "GR1", "GR2", "GR3", "GR4", "bp", "sp"};
    return reg < 7 ? names[reg] : "?";
}

std::vector<Word> read_words(std::istream& in) {
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<Word> words;
    words.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        words.push_back(static_cast<Word>((static_cast<unsigned char>(bytes[i]) << 8) |
                                          static_cast<unsigned char>(bytes[i + 1])));
    return words;
}

void write_words(std::ostream& out, const std::vector<Word>& words) {
    std::string bytes;
    bytes.reserve(words.size() * 2);
    for (Word w : words) {
        bytes.push_back(static_cast<char>(w >> 8));
        bytes.push_back(static_cast<char>(w & 0xFF));
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace image
