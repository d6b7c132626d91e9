// Typed building blocks for the translators: instruction words are built
// from named opcodes and registers here, so the node translations never
// spell a register or opcode as a number.
//
// Register conventions of all generated code: GR0 carries values between
// the stack and memory, GR1/GR2 are scratch for operators and element
// addresses, GR3 is always 0 and is the index of every jump and call (so an
// operand word is an absolute code address), GR4 is always 0xFFFF and is
// the base of the globals, bp the base of parameters and locals.
#pragma once

#include <string>

#include "image.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

namespace gen {

using image::Opcode;
using image::Reg;
using image::Word;

// One-word instruction: register forms, PUSH/POP, OUTI/OUTB, RET, NOP.
inline void op(Opcode o, unsigned r = 0, unsigned x = 0) { word_stream.emit(o, r, x); }

// Two-word instruction: opcode word, then its address or immediate word.
inline void op(Opcode o, unsigned r, unsigned x, Word operand) { word_stream.emit(o, r, x).emit(operand); }

inline void push(Reg r) { op(image::PUSH_R, r); }
inline void pop(Reg r) { op(image::POP, r); }
inline void ldi(Reg r, Word value) { op(image::LDI, r, 0, value); }

// Jump or call to a known code address.
inline void jump(Opcode o, Word target) { op(o, 0, image::GR3, target); }

// Jump or call whose target is not known yet: emits the placeholder 0x0000
// and returns the index of that operand word, to be given to patch().
inline Word jump_forward(Opcode o) {
    Word slot = static_cast<Word>(word_stream.position() + 1);
    jump(o, 0);
    return slot;
}

// Fills a forward jump's operand word; dropped while the word stream is
// off, like every patch.
inline void patch(Word slot, Word target) { word_stream.patch(slot, target); }

// Sets a switch (a stream's or the diagnostics list's `enabled`) for the
// guard's lifetime and restores it afterwards: a subtree translated a
// second time for one output only.
class Switch {
public:
    Switch(bool& flag, bool value) : flag_(flag), saved_(flag) { flag = value; }
    ~Switch() { flag_ = saved_; }
    Switch(const Switch&) = delete;
    Switch& operator=(const Switch&) = delete;

private:
    bool& flag_;
    bool saved_;
};

// Function epilogue: drop the locals, restore the caller's bp, return.
inline void leave() {
    op(image::LD_R, image::SP, image::BP);
    pop(image::BP);
    debug_recorder.return_site();
    op(image::RET);
}

// ---- Variable access ------------------------------------------------------
// A scalar lives at (base register + offset). Array element i lives at
// (base register - i) + offset, element 0 at the highest address; the
// element forms expect the index on top of the stack.

inline Reg base_of(const VariableEntry& v) { return static_cast<Reg>(v.base); }
inline Word offset_of(const VariableEntry& v) { return static_cast<Word>(v.offset); }

// Pops the index and leaves (base register - index) in GR1, the index
// register of the element's memory access.
inline void element_base(const VariableEntry& v) {
    op(image::LD_R, image::GR1, base_of(v));
    pop(image::GR2);
    op(image::SUB_R, image::GR1, image::GR2);
    debug_recorder.element_access(v);
}

// GR0 := the scalar's value.
inline void load_scalar(const VariableEntry& v) { op(image::LD_M, image::GR0, base_of(v), offset_of(v)); }
// The scalar := GR0.
inline void store_scalar(const VariableEntry& v) { op(image::ST, image::GR0, base_of(v), offset_of(v)); }
// GR0 := the element whose index is popped.
inline void load_element(const VariableEntry& v) {
    element_base(v);
    op(image::LD_M, image::GR0, image::GR1, offset_of(v));
}
// The element whose index is popped := GR0.
inline void store_element(const VariableEntry& v) {
    element_base(v);
    op(image::ST, image::GR0, image::GR1, offset_of(v));
}

// Checks a variable access against the variable's shape (an array needs a
// subscript, a scalar takes none, a subscript must be an int) and writes the
// subscript: "[" its C text "]" and its words, which push the index.
// Returns false after listing the error under `node_name`, at `line` and
// on the accessed name's token `span`.
bool translate_subscript(const VariableEntry& v, const std::string& name, expression* subscript, int line,
                         const SourceSpan& span, const char* node_name);

// ---- Subscript checks (subscript_check.cpp) --------------------------------
// Set for vexlc -fcheck-subscripts: every element access first checks its
// index against the array's size.
extern bool check_subscripts;
// The C helper that checked subscripts call, placed after the C prologue.
extern const char* const kSubscriptCheckC;
// The C text around a checked subscript's text.
std::string subscript_check_open();
std::string subscript_check_close(const VariableEntry& v, const std::string& name, int line);
// The check's words, with the index on top of the stack (left there).
void check_subscript(const VariableEntry& v, const std::string& name, int line);

}  // namespace gen
