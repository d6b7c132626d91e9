// Input and output statements: scanf/printf in the C text, the system
// operations INI, OUTI, OUTB and OUTS in the image.
#include "diagnostics.h"
#include "emit.h"
#include "node.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

int input_statement::translate() {
    VariableEntry* v = map_manager.find_variable(name);
    if (!v) {
        return report<error::VariableNotDeclared>(name);
    }
    map_manager.names.use(span, v->entity);
    if (v->is_const) {
        return report<error::AssignToConst>();
    }
    if (v->type != kInt) {
        return report<error::InputNotInt>();
    }
    // Reading into a variable does not count as using it.
    c_text.append("scanf(\"%d\",&").append(name);

    if (!gen::translate_subscript(*v, name, subscript, line, span, "input_statement")) return -1;
    if (subscript) {
        gen::element_base(*v);
        gen::op(INI_M, 0, GR1, gen::offset_of(*v));
    } else {
        gen::op(INI_M, 0, gen::base_of(*v), gen::offset_of(*v));
    }
    c_text.append(");\n");
    return 0;
}

int output_statement::translate() {
    if (expr) {
        // The printf (or if) that wraps the expression depends on its type,
        // known only after the expression has written its text; it is
        // inserted in front of that text afterwards.
        const std::size_t start = c_text.length();
        expr->translate();
        gen::pop(GR0);
        if (expr->type == kInt) {
            c_text.insert(start, "printf(\"%d\",");
            c_text.append(");\n");
            gen::op(OUTI_R, GR0);
            return 0;
        }
        if (expr->type == kBool) {
            c_text.insert(start, "if (");
            c_text.append(") printf(\"true\");\n");
            c_text.indent();
            c_text.append("else printf(\"false\");\n");
            gen::op(OUTB_R, GR0);
            return 0;
        }
        return report<error::VoidVariable>();
    }

    if (text.empty()) return bad_tree();
    // The text goes into the printf format unchanged, escapes and all (so a
    // percent sign means a conversion to C's printf but not to the machine).
    c_text.append("printf(\"").append(text).append("\");\n");
    // One word per byte, sign-extended; escapes stay as written and are
    // interpreted by the machine when it prints.
    gen::op(OUTS);
    for (char c : text) word_stream.emit(static_cast<Word>(static_cast<signed char>(c)));
    word_stream.emit(0x0000);
    return 0;
}
