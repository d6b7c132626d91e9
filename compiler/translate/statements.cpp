// Statement wrapper, statement lists and control flow.
//
// Words are emitted strictly forward, so a forward jump is emitted with the
// placeholder 0x0000 and patched once its target is known. Every loop
// starts with trampolines: T (break) jumps to the loop's end and, for
// do-while and for, T+2 (continue) to the condition or step; both are
// patched when the loop ends, so break and continue can jump backwards to
// a known address. All jumps use GR3 (always 0) as index register.
#include "diagnostics.h"
#include "emit.h"
#include "image.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

using namespace image;

static FunctionEntry& current_function() { return *map_manager.find_function(map_manager.current_scope); }

// Translates a branch or loop body one nesting level deeper (return
// statements inside it do not count as returning on all paths).
static void translate_nested(ParseNode* body) {
    FunctionEntry& f = current_function();
    ++f.nesting_depth;
    body->translate();
    --f.nesting_depth;
}

// Lists a non-bool condition; true when it was one.
static bool condition_fails(expression* cond, const char* node_name) {
    if (cond->type == kBool) return false;
    diagnostics.error<error::ConditionNotBool>(cond->line, node_name);
    return true;
}

int statement::translate() {
    if (!stmt) return bad_tree("statement");
    StatementMark mark(stmt->line);
    if (stmt->kind == 9) {  // a block
        c_text.append("{\n");
        if (c_text.enabled) ++c_text.depth;
        stmt->translate();
        if (c_text.enabled) {
            if (c_text.depth > 0) --c_text.depth;
            c_text.indent();
        }
        c_text.append("}\n");
        return 0;
    }
    c_text.indent();
    stmt->translate();
    return 0;
}

int statement_s::translate() {
    if (first) {
        first->translate();
        if (!rest) return bad_tree("statement_s");  // never built by the parser
        rest->translate();
        return 0;
    }
    if (rest) return bad_tree("statement_s");
    return 0;
}

int if_statement::translate() {
    if (!cond || !then_part) return bad_tree("if_statement");
    c_text.append("if (");
    cond->translate();
    c_text.append(") ");
    if (condition_fails(cond, "if_statement")) return -1;
    gen::pop(GR0);  // sets ZF when the condition is false
    Word to_else = gen::jump_forward(JZE);
    translate_nested(then_part);
    Word to_end = gen::jump_forward(JUMP);
    gen::patch(to_else, static_cast<Word>(to_end + 1));
    if (else_part) {
        c_text.indent();
        c_text.append("else ");
        translate_nested(else_part);
    }
    gen::patch(to_end, word_stream.position());
    return 0;
}

int while_statement::translate() {
    if (!cond || !body) return bad_tree("while_statement");
    FunctionEntry& f = current_function();
    Word p0 = word_stream.position();
    gen::jump(JUMP, static_cast<Word>(p0 + 4));
    f.loops.push_back(static_cast<Word>(p0 + 2));
    gen::jump_forward(JUMP);  // break trampoline
    c_text.append("while (");
    cond->translate();
    c_text.append(") ");
    if (condition_fails(cond, "while_statement")) {
        f.loops.pop_back();
        return -1;
    }
    gen::pop(GR0);
    Word exit = gen::jump_forward(JZE);
    translate_nested(body);
    gen::jump(JUMP, static_cast<Word>(p0 + 4));
    Word end = word_stream.position();
    gen::patch(static_cast<Word>(p0 + 3), end);
    gen::patch(exit, end);
    f.loops.pop_back();
    return 0;
}

int do_while_statement::translate() {
    if (!cond || !body) return bad_tree("while_statement");
    FunctionEntry& f = current_function();
    Word p0 = word_stream.position();
    gen::jump(JUMP, static_cast<Word>(p0 + 6));
    f.loops.push_back(static_cast<Word>(p0 + 2));
    gen::jump_forward(JUMP);  // break trampoline
    gen::jump_forward(JUMP);  // continue trampoline
    c_text.append("do ");
    translate_nested(body);
    gen::patch(static_cast<Word>(p0 + 5), word_stream.position());
    c_text.indent();
    c_text.append("while (");
    cond->translate();
    c_text.append(");\n");
    if (condition_fails(cond, "while_statement")) {
        f.loops.pop_back();
        return -1;
    }
    gen::pop(GR0);
    Word exit = gen::jump_forward(JZE);
    gen::jump(JUMP, static_cast<Word>(p0 + 6));
    Word end = word_stream.position();
    gen::patch(static_cast<Word>(p0 + 3), end);
    gen::patch(exit, end);
    f.loops.pop_back();
    return 0;
}

int for_statement::translate() {
    // A body lost to error recovery is reported before anything is written.
    if (!body) return bad_tree("for_statement");
    FunctionEntry& f = current_function();
    c_text.append("for (");
    if (init) init->translate();
    c_text.append(";");

    Word p0 = word_stream.position();
    gen::jump(JUMP, static_cast<Word>(p0 + 6));
    f.loops.push_back(static_cast<Word>(p0 + 2));
    gen::jump_forward(JUMP);  // break trampoline
    gen::jump_forward(JUMP);  // continue trampoline
    bool has_exit = false;
    Word exit = 0;
    if (cond) {
        cond->translate();
        if (condition_fails(cond, "for_statement")) {
            f.loops.pop_back();
            return -1;
        }
        gen::pop(GR0);
        exit = gen::jump_forward(JZE);
        has_exit = true;
    }
    c_text.append(";");

    // The step stands before the body in C but runs after it in the image:
    // translate it twice, first for the C text (and its diagnostics) only,
    // later for the words only.
    word_stream.enabled = false;
    if (step) step->translate();
    c_text.append(") ");
    word_stream.enabled = true;

    translate_nested(body);

    gen::patch(static_cast<Word>(p0 + 5), word_stream.position());
    c_text.enabled = false;
    diagnostics.enabled = false;
    if (step) step->translate();
    c_text.enabled = true;
    diagnostics.enabled = true;

    gen::jump(JUMP, static_cast<Word>(p0 + 6));
    Word end = word_stream.position();
    gen::patch(static_cast<Word>(p0 + 3), end);
    if (has_exit) gen::patch(exit, end);
    f.loops.pop_back();
    return 0;
}

// break jumps to the innermost loop's trampoline T, continue to T+2.
static int translate_loop_jump(int line, const char* word, const char* node_name, int offset) {
    FunctionEntry& f = current_function();
    if (f.loops.empty()) {
        diagnostics.error<error::MisplacedJump>(line, node_name, word);
        return -1;
    }
    gen::jump(JUMP, static_cast<Word>(f.loops.back() + offset));
    c_text.append(word).append(";\n");
    return 0;
}

int break_statement::translate() { return translate_loop_jump(line, "break", "break_statement", 0); }

int continue_statement::translate() { return translate_loop_jump(line, "continue", "continue_statement", 2); }
