// Collects the debug information of one compilation (vexlc -g): the line
// table from a few marks the translators set, and the functions and
// variables from the symbol table as each scope closes. Switched off, every
// mark is a single test.
//
// Line marks record (word position, line). A statement's code starts at the
// line of its first expression rather than at the node's own line (the
// parser gives a node the line where it was completed, which for an `if`
// or `while` is the end of its body): a statement mark stays open until the
// first expression mark inside it supplies the line, and falls back to the
// statement's own line when none comes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "debuginfo.h"

struct FunctionEntry;
struct VariableEntry;

class DebugRecorder {
public:
    bool enabled = false;

    // Statement marks; every begin is matched by an end.
    void begin_statement(int line);
    void end_statement();
    // The code emitted next stems from an expression on `line`.
    void expression(int line);
    // The code emitted next belongs to no source line (start-up code).
    void no_line();
    // The code emitted next is a loop's head (the jump over its trampolines
    // and the trampolines themselves): no line, so that the line of the
    // loop's first statement begins where every pass enters, not at the
    // head only the first pass runs through. Not a line of the C text.
    void loop_head();

    // The frame of the function being translated is set up (after PUSH bp;
    // LD bp,sp), and `words` words were just reserved for locals: the body
    // begins after them as long as no other code came between.
    void frame_ready();
    void locals_reserved();
    // The function being translated begins on `line` (its `function`
    // keyword); the next instruction is the RET of one of its epilogues.
    void function_header(int line);
    void return_site();
    // The next instruction reads or writes an element of `v` through GR1
    // (access), or is the stop of a failed subscript check of `v` (check).
    void element_access(const VariableEntry& v);
    void subscript_check(const VariableEntry& v);

    // A scope ends: the function `name` (or the global scope) with its
    // variables in declaration order; `line` is where it was defined.
    void scope_closed(const std::string& name, const FunctionEntry& function, int line,
                      const std::vector<std::pair<std::string, VariableEntry>>& variables);

    // The finished information for the image `words` compiled from the
    // file `source` whose bytes are `text`.
    debuginfo::DebugInfo finish(const std::string& source, std::string_view text,
                                const std::vector<image::Word>& words) const;
    void clear();

    // Where the C text of each marked line begins, in the order of
    // translation: (offset into the C text, line); line 0 for code of no line.
    // The playground links the lines of the C text to the source with it.
    std::vector<std::pair<std::size_t, int>> c_text_lines() const;

private:
    struct Mark {
        image::Word address;
        int line;
        bool open;  // a statement mark still waiting for its first expression
        bool words_only;  // marks no C text (a loop head)
        std::size_t c_offset;  // length of the C text when the mark was taken
    };
    bool active() const;
    void add(int line, bool open);

    struct Site {
        image::Word address;
        debuginfo::ElementSite::Kind kind;
        int base;
        int offset;
    };
    void add_site(const VariableEntry& v, debuginfo::ElementSite::Kind kind);

    std::vector<Mark> marks_;
    std::vector<Site> sites_;
    static constexpr std::size_t kNoBody = static_cast<std::size_t>(-1);
    std::size_t body_ = kNoBody;  // where the current function's body begins
    int header_ = 0;              // the current function's header line
    std::vector<image::Word> returns_;  // its RET words
    std::vector<std::size_t> open_statements_;  // indexes into marks_
    std::vector<debuginfo::Function> functions_;
    std::vector<debuginfo::Variable> globals_;
};

extern DebugRecorder debug_recorder;

// Marks a statement for the length of its translation.
class StatementMark {
public:
    explicit StatementMark(int line) { debug_recorder.begin_statement(line); }
    ~StatementMark() { debug_recorder.end_statement(); }
    StatementMark(const StatementMark&) = delete;
    StatementMark& operator=(const StatementMark&) = delete;
};
