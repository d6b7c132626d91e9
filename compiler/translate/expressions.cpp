// Expressions, variable references and assignments.
//
// Every expression node checks its operands' types, appends its C text and
// emits stack code in one walk: its words leave exactly one value on the
// machine stack, ending with PUSH GR0. A node may be translated more than
// once (the step of a for and call arguments are translated once per
// stream), so translate() keeps no state beyond the node's result type.
#include <iterator>

#include "diagnostics.h"
#include "emit.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

namespace {

// The two-operand operators, indexed by their operator kind.
struct BinaryOperator {
    const char* name;    // as written in the source, for diagnostics
    const char* c_text;  // written between the operands
    Opcode word;         // GR0 := GR0 op GR1; NOP for the comparisons, which jump
};

constexpr BinaryOperator kBinary[] = {
#define BINARY(Kind, source, c_text, opcode) {source, c_text, opcode},
#include "operators.def"
};
static_assert(std::size(kBinary) == kPlus, "the BINARY rows come first in operators.def");

bool is_logical(int op) { return op == kOr || op == kAnd || op == kXor; }
bool is_comparison(int op) { return op >= kEq && op <= kGe; }

// "or", "and" and "xor" share one precedence level in the language, but C
// binds "^" tighter than "&&" and "&&" tighter than "||". A left operand
// that is itself one of them, and that C would bind more loosely than the
// parent, must be parenthesised to keep the grouping the parser chose. The
// right operand never needs it: with left associativity it is always a
// tighter operator or a source parenthesis.
int c_strength(int op) { return op == kOr ? 0 : op == kAnd ? 1 : 2; }
bool needs_c_parentheses(int parent, const expression& left) {
    return is_logical(parent) && is_logical(left.op) && c_strength(left.op) < c_strength(parent);
}

// Compares GR1 (left) with GR2 (right) and leaves 1 or 0 in GR0. The
// relation's jumps skip the LDI GR0,0 that follows them and land on the
// PUSH; their targets are absolute, so they are computed from the current
// position.
void emit_comparison(int op) {
    gen::pop(GR2);
    gen::pop(GR1);
    gen::ldi(GR0, 1);
    gen::op(CMP_R, GR1, GR2);
    const Word b = word_stream.position();
    switch (op) {
    case kEq: gen::jump(JZE, b + 4); break;
    case kNe: gen::jump(JNZ, b + 4); break;
    case kLt: gen::jump(JMI, b + 4); break;
    case kLe: gen::jump(JMI, b + 6); gen::jump(JZE, b + 6); break;
    case kGt: gen::jump(JPL, b + 4); break;
    case kGe: gen::jump(JPL, b + 6); gen::jump(JZE, b + 6); break;
    }
    gen::ldi(GR0, 0);
    gen::push(GR0);
}

}  // namespace

int expression::translate() {
    ExpressionDepth nesting;
    if (op >= kOr && op <= kMod) {
        if (!right || !left) return bad_tree();
        return translate_binary();
    }
    if ((op >= kPlus && op <= kNot) || op == kCall) {
        if (!left) return bad_tree();
        if (op == kCall) {
            // The call leaves its value in GR0. A call already known to be
            // of a void function is not translated again: a second
            // translation (for step, call argument) then emits nothing.
            if (left->type != kVoid) {
                left->translate();
                gen::push(GR0);
            }
            type = left->type;
            return 0;
        }
        return translate_unary();
    }
    return -1;
}

int expression::translate_binary() {
    const BinaryOperator& info = kBinary[op];
    // The nominal type stays even when the check fails, so the parent does
    // not report the same fault a second time.
    type = is_logical(op) || is_comparison(op) ? kBool : kInt;

    const bool parenthesise = needs_c_parentheses(op, *left);
    if (parenthesise) c_text.append("(");
    left->translate();
    if (parenthesise) c_text.append(")");
    c_text.append(info.c_text);
    right->translate();

    if (is_logical(op)) {
        if (left->type != kBool || right->type != kBool) {
            return report<error::OperandNotOfType>(type_name(kBool), info.name);
        }
    } else if (op == kEq || op == kNe) {
        if (left->type == kVoid || left->type != right->type) {
            return report<error::DifferentTypes>(info.name);
        }
    } else if (left->type != kInt || right->type != kInt) {
        return report<error::OperandNotOfType>(type_name(kInt), info.name);
    }

    if (is_comparison(op)) {
        emit_comparison(op);
    } else {
        // Logical operators are bitwise on 0/1 words: both operands are
        // always evaluated.
        gen::pop(GR1);
        gen::pop(GR0);
        gen::op(info.word, GR0, GR1);
        gen::push(GR0);
    }
    return 0;
}

int expression::translate_unary() {
    switch (op) {
    case kPlus:
    case kMinus:
        type = kInt;
        c_text.append(op == kPlus ? "(+" : "(-");
        left->translate();
        if (left->type != kInt) {
            return report<error::OperandNotOfType>(type_name(kInt), op == kPlus ? "+" : "-");
        }
        c_text.append(")");
        if (op == kMinus) {  // 0 - value; unary plus needs no words
            gen::pop(GR1);
            gen::ldi(GR0, 0);
            gen::op(SUB_R, GR0, GR1);
            gen::push(GR0);
        }
        return 0;
    case kParen:
        c_text.append("(");
        left->translate();
        type = left->type;
        c_text.append(")");
        return 0;
    case kNot:
        type = kBool;
        c_text.append("!");
        left->translate();
        if (left->type != kBool) {
            return report<error::OperandNotOfType>(type_name(kBool), "not");
        }
        gen::pop(GR1);  // 1 - value
        gen::ldi(GR0, 1);
        gen::op(SUB_R, GR0, GR1);
        gen::push(GR0);
        return 0;
    }
    return -1;
}

int literal::translate() {
    debug_recorder.expression(line);
    if (type == kInt) {
        c_text.append_int(value);  // unsigned: 40000 stays 40000 in C
    } else {
        c_text.append(value == 0 ? "false" : "true");
    }
    gen::ldi(GR0, value);
    gen::push(GR0);
    return 0;
}

int exp_variable::translate() {
    debug_recorder.expression(line);
    VariableEntry* v = map_manager.find_variable(name);
    if (!v) {
        return report<error::VariableNotDeclared>(name);
    }
    map_manager.names.use(span, v->entity);
    type = v->type;
    v->used = true;
    c_text.append(name);

    if (!gen::translate_subscript(*v, name, subscript, line, span, "exp_variable")) return -1;
    if (subscript) gen::load_element(*v);
    else gen::load_scalar(*v);
    gen::push(GR0);
    return 0;
}

bool gen::translate_subscript(const VariableEntry& v, const std::string& name, expression* subscript, int line,
                              const SourceSpan& span, const char* node_name) {
    if (!subscript) {
        if (!v.is_array) return true;
        diagnostics.error_at<error::SubscriptRequired>(span, line, node_name);
        return false;
    }
    if (!v.is_array) {
        diagnostics.error_at<error::SubscriptOnScalar>(span, line, node_name);
        return false;
    }
    c_text.append("[");
    if (check_subscripts) c_text.append(subscript_check_open());
    subscript->translate();
    if (subscript->type != kInt) {
        diagnostics.error_at<error::SubscriptNotInt>(span, line, node_name);
        return false;
    }
    if (check_subscripts) {
        c_text.append(subscript_check_close(v, name, line));
        check_subscript(v, name, line);
    }
    c_text.append("]");
    return true;
}

int assignment::translate() {
    if (!value) return bad_tree();
    VariableEntry* v = map_manager.find_variable(name);
    if (!v) {
        return report<error::VariableNotDeclared>(name);
    }
    map_manager.names.use(span, v->entity);
    // Checked before anything is written; assigning does not count as use.
    if (v->is_const) {
        return report<error::AssignToConst>();
    }
    c_text.append(name);

    if (!gen::translate_subscript(*v, name, subscript, line, span, "assignment")) return -1;
    c_text.append(" = ");
    value->translate();
    if (v->type != value->type) {
        return report<error::TypeMismatch>(type_name(value->type), type_name(v->type));
    }

    // The value is on top, the index (pushed first) below it.
    gen::pop(GR0);
    if (subscript) {
        gen::store_element(*v);
    } else {
        gen::store_scalar(*v);
    }
    return 0;
}

int assignment_statement::translate() {
    if (!assign) return bad_tree();
    assign->translate();
    c_text.append(";\n");
    return 0;
}
