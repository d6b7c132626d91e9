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

// Lists a non-bool condition under the statement's name and the
// condition's line; true when it was one.
static bool condition_fails(const ParseNode& statement, expression* cond) {
    if (cond->type == kBool) return false;
    diagnostics.error_at<error::ConditionNotBool>(cond->span, cond->line, statement.name_);
    return true;
}

// The head every loop starts with: a jump over its trampolines to the loop
// proper, the break trampoline T and, for do-while and for, the continue
// trampoline T+2. break jumps to T and continue to T+2 (for a while loop,
// which has no continue trampoline, T+2 is its condition); both
// trampolines are patched once the loop's end and its condition or step
// are placed. The loop is open (break and continue find it) for the
// lifetime of the object.
class LoopHead {
public:
    LoopHead(FunctionEntry& f, bool continue_trampoline)
        : f_(f), head_(word_stream.position()),
          start_(static_cast<Word>(head_ + (continue_trampoline ? 6 : 4))) {
        debug_recorder.loop_head();
        gen::jump(JUMP, start_);
        f_.loops.push_back(static_cast<Word>(head_ + 2));
        gen::jump_forward(JUMP);  // break trampoline
        if (continue_trampoline) gen::jump_forward(JUMP);
    }
    ~LoopHead() { f_.loops.pop_back(); }
    LoopHead(const LoopHead&) = delete;
    LoopHead& operator=(const LoopHead&) = delete;

    // The first word of the loop proper, where every iteration starts.
    Word start() const { return start_; }
    // continue goes on from here (do-while, for).
    void continue_here() const { gen::patch(static_cast<Word>(head_ + 5), word_stream.position()); }
    // The loop ends here; returns that address, the target of its exits.
    Word end_here() const {
        const Word end = word_stream.position();
        gen::patch(static_cast<Word>(head_ + 3), end);
        return end;
    }

private:
    FunctionEntry& f_;
    Word head_;
    Word start_;
};

int statement::translate() {
    if (!stmt) return bad_tree();
    StatementMark mark(stmt->line);
    translating_at = span;
    struct FullCheck {  // on every way out
        const SourceSpan& at;
        ~FullCheck() {
            if (word_stream.overflowed && !image_full_at.known()) image_full_at = at;
        }
    } full_check{span};
    if (stmt->kind == NodeKind::statement_s) {  // a block
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
        if (!rest) return bad_tree();  // never built by the parser
        rest->translate();
        return 0;
    }
    if (rest) return bad_tree();
    return 0;
}

int if_statement::translate() {
    if (!cond || !then_part) return bad_tree();
    c_text.append("if (");
    cond->translate();
    c_text.append(") ");
    if (condition_fails(*this, cond)) return -1;
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
    if (!cond || !body) return bad_tree();
    LoopHead loop(current_function(), false);
    c_text.append("while (");
    cond->translate();
    c_text.append(") ");
    if (condition_fails(*this, cond)) return -1;
    gen::pop(GR0);
    Word exit = gen::jump_forward(JZE);
    translate_nested(body);
    gen::jump(JUMP, loop.start());
    gen::patch(exit, loop.end_here());
    return 0;
}

int do_while_statement::translate() {
    if (!cond || !body) return bad_tree();
    LoopHead loop(current_function(), true);
    c_text.append("do ");
    translate_nested(body);
    loop.continue_here();
    c_text.indent();
    c_text.append("while (");
    cond->translate();
    c_text.append(");\n");
    if (condition_fails(*this, cond)) return -1;
    gen::pop(GR0);
    Word exit = gen::jump_forward(JZE);
    gen::jump(JUMP, loop.start());
    gen::patch(exit, loop.end_here());
    return 0;
}

int for_statement::translate() {
    // A body lost to error recovery is reported before anything is written.
    if (!body) return bad_tree();
    c_text.append("for (");
    if (init) init->translate();
    c_text.append(";");

    LoopHead loop(current_function(), true);
    bool has_exit = false;
    Word exit = 0;
    if (cond) {
        cond->translate();
        if (condition_fails(*this, cond)) return -1;
        gen::pop(GR0);
        exit = gen::jump_forward(JZE);
        has_exit = true;
    }
    c_text.append(";");

    // The step stands before the body in C but runs after it in the image:
    // translate it twice, first for the C text (and its diagnostics) only,
    // later for the words only.
    {
        gen::Switch words_off(word_stream.enabled, false);
        if (step) step->translate();
        c_text.append(") ");
    }

    translate_nested(body);

    loop.continue_here();
    {
        gen::Switch text_off(c_text.enabled, false), diagnostics_off(diagnostics.enabled, false);
        if (step) step->translate();
    }

    gen::jump(JUMP, loop.start());
    const Word end = loop.end_here();
    if (has_exit) gen::patch(exit, end);
    return 0;
}

// break jumps to the innermost loop's trampoline T, continue to T+2.
static int translate_loop_jump(const ParseNode& node, const char* word, int offset) {
    FunctionEntry& f = current_function();
    if (f.loops.empty()) return node.report<error::MisplacedJump>(word);
    gen::jump(JUMP, static_cast<Word>(f.loops.back() + offset));
    c_text.append(word).append(";\n");
    return 0;
}

int break_statement::translate() { return translate_loop_jump(*this, "break", 0); }

int continue_statement::translate() { return translate_loop_jump(*this, "continue", 2); }
