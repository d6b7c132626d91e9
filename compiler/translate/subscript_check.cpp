// Subscript checks (vexlc -fcheck-subscripts): before an element is read,
// assigned or input, its index is compared with the array's size. An index
// outside the array prints
//   line LINE: index INDEX is outside array 'NAME' (size SIZE)
// and stops the run: in the image with an instruction that names the
// nonexistent index register 15 (the machine reports "Illegal memory
// access"), in the C text with exit(1). Only existing instructions are
// used, and GR1, GR2 and the flags, which carry nothing across an index.
#include "emit.h"

#include <string>

using namespace image;

bool gen::check_subscripts = false;

const char* const gen::kSubscriptCheckC =
    "#include <stdlib.h>\n"
    "static int vexl_index(int i, int n, const char *a, int line) {\n"
    "\tif (i < 0 || i >= n) {\n"
    "\t\tprintf(\"line %d: index %d is outside array '%s' (size %d)\\n\", line, i, a, n);\n"
    "\t\texit(1);\n"
    "\t}\n"
    "\treturn i;\n"
    "}\n\n";

namespace {

// A backslash in a name (the second byte of some Shift-JIS characters)
// would start an escape in an OUTS text and in a C string.
std::string escaped(const std::string& name) {
    std::string s;
    for (char c : name) {
        if (c == '\\') s += '\\';
        s += c;
    }
    return s;
}

void outs(const std::string& text) {
    gen::op(OUTS);
    for (char c : text) word_stream.emit(static_cast<Word>(static_cast<signed char>(c)));
    word_stream.emit(0x0000);
}

}  // namespace

std::string gen::subscript_check_open() { return "vexl_index("; }

std::string gen::subscript_check_close(const VariableEntry& v, const std::string& name, int line) {
    return "," + std::to_string(v.size) + ",\"" + escaped(name) + "\"," + std::to_string(line) + ")";
}

void gen::check_subscript(const VariableEntry& v, const std::string& name, int line) {
    // GR2 := the index, the word on top of the stack (sp addresses the
    // next free word).
    op(LD_M, GR2, SP, 1);
    // A negative index fails; so does one not below the size. CMP's sign
    // flag is that of the 16-bit difference, which is right only for two
    // non-negative operands, so the sign is tested first, and a size above
    // 32767 (which every non-negative index is below) is not compared.
    ldi(GR1, 0x8000);
    op(AND_R, GR1, GR2);
    const Word to_fail = jump_forward(JNZ);
    Word to_ok;
    if (v.size <= 0x7FFF) {
        ldi(GR1, v.size);
        op(CMP_R, GR2, GR1);
        to_ok = jump_forward(JMI);
    } else {
        to_ok = jump_forward(JUMP);
    }
    patch(to_fail, word_stream.position());
    outs("line " + std::to_string(line) + ": index ");
    op(OUTI_R, GR2);
    outs(" is outside array '" + escaped(name) + "' (size " + std::to_string(v.size) + ")\\n");
    // The trap: names the array by base register and element 0's offset,
    // so that a report from the debug information can find it.
    debug_recorder.subscript_check(v);
    op(LD_M, base_of(v), 15, offset_of(v));
    patch(to_ok, word_stream.position());
}
