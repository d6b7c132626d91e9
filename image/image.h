// The executable image format shared by the compiler, the machine and the
// tools: instruction word layout, register numbers, the opcode table and the
// big-endian word file.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace image {

using Word = std::uint16_t;

// Operand forms of an instruction (see opcodes.def).
enum class Form : std::uint8_t { Undefined, N, M, R, I, J, A, S, T };

enum Opcode : std::uint8_t {
#define OP(name, code, mnem, form, words) name = code,
#include "opcodes.def"
#undef OP
};

struct OpInfo {
    const char* mnemonic = nullptr;  // null for an undefined opcode
    Form form = Form::Undefined;
    std::uint8_t words = 0;          // fixed length; OUTS adds its text
    bool defined() const { return mnemonic != nullptr; }
};

// Indexed by the opcode byte; undefined opcodes have a null mnemonic.
const std::array<OpInfo, 256>& op_table();
inline const OpInfo& op_info(unsigned opcode) { return op_table()[opcode & 0xFF]; }

// Register numbers as they appear in the r and x fields.
enum Reg : std::uint8_t { GR0 = 0, GR1 = 1, GR2 = 2, GR3 = 3, GR4 = 4, BP = 5, SP = 6 };
constexpr int kRegisterCount = 7;
const char* register_name(unsigned reg);  // "GR0".."GR4", "bp", "sp", or "?"

// Instruction word: opcode in bits 15-8, r in 7-4, x in 3-0.
constexpr Word make_word(Opcode op, unsigned r = 0, unsigned x = 0) {
    return static_cast<Word>((unsigned(op) << 8) | ((r & 0xF) << 4) | (x & 0xF));
}
constexpr unsigned opcode_of(Word w) { return w >> 8; }
constexpr unsigned field_r(Word w) { return (w >> 4) & 0xF; }
constexpr unsigned field_x(Word w) { return w & 0xF; }

constexpr std::size_t kMaxWords = 65536;  // largest image the compiler writes

// Reads a whole image: two bytes per word, high byte first; an odd final
// byte is dropped.
std::vector<Word> read_words(std::istream& in);

// The image file a program is given, as vexl, vexldb and vexldump take it:
// ".exec" is appended when the name does not contain it, and only a
// regular file counts (a directory or a device does not).
std::string image_file_name(std::string name);
struct LoadedImage {
    enum class Error : std::uint8_t { none, not_found, read_error };
    std::string file;          // the name as completed
    std::vector<Word> words;   // when error is none
    Error error = Error::none;
    std::string reason;        // why it could not be opened or read
};
// `exact`: the name as it is, without the ".exec" rule.
LoadedImage load_image_file(const std::string& name, bool exact = false);
// "cannot open: No such file or directory", "is a directory" or "read error".
std::string load_error_text(const LoadedImage& image);
// Writes words high byte first.
void write_words(std::ostream& out, const std::vector<Word>& words);

}  // namespace image
