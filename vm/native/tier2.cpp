// The second tier of the translating engine: a block translated again with
// the guest state kept symbolic, for the stack code the compiler emits.
//
// The first tier turns every instruction into host code that leaves the
// guest state exact after it. Here the state is exact only where it can be
// observed, and kept symbolic in between:
//   - a register may hold a known constant not yet written to its host
//     register (LDI, POP of a pushed constant);
//   - the flags may be "the value of register r", written to F only when
//     something reads F or the block is left;
//   - sp moves by a static offset (the compiler's stack depth is static):
//     pushes and pops address [sp0 + offset] and sp itself is written when
//     the state must be exact;
//   - a stack word pushed in the block remembers where its value is (a
//     constant, a guest register, a scratch host register), so the pop
//     that takes it reads no memory.
// Data memory is always exact: every push and store is written through.
//
// Memory operands indexed by a register that the block has not written yet
// (bp for locals and parameters, GR4 for globals) and the block's stack
// words are checked once, at the block's entry, against the bounds of
// memory; when a check fails, the first tier's version of the block runs
// instead. Everything is materialised (constants written, F written, sp
// moved, the lowest sp recorded, unspent steps given back) on every way out
// of the block and before every instruction that may fail, so the machine's
// loop sees exactly the state it would have made. Instructions outside the
// patterns handled here get the first tier's code after the state has been
// made exact.
#if defined(VEXL_NATIVE_X86_64)

#include <algorithm>
#include <array>
#include <climits>
#include <deque>
#include <map>

#include "x86_block.h"

namespace vm::native {

namespace {

using namespace Xbyak::util;

enum class RegKind : std::uint8_t { host, constant };
struct RegState {
    RegKind kind = RegKind::host;
    Word value = 0;
};

// F: exact in r15d, the value of a register (ZF from it, SF clear), a
// constant value, or the value of sp at a stack offset.
enum class FlagKind : std::uint8_t { exact, reg, constant, sp };
struct FlagState {
    FlagKind kind = FlagKind::exact;
    unsigned reg = 0;
    Word value = 0;
    int offset = 0;
};

// The state a way out has to make exact.
struct State {
    std::array<RegState, image::kRegisterCount> regs{};
    FlagState flags;
    int offset = 0;   // sp = sp0 + offset
    int base = 0;     // r14 = sp0 + base (while sp is static)
    int lowest = 0;   // the lowest offset sp has had after an instruction
    int tracked = 0;  // the lowest offset already recorded in the context
    bool static_sp = true;
};

// Where the value of a pushed word is besides memory.
enum class SlotKind : std::uint8_t { memory, constant, reg, scratch };
struct Slot {
    SlotKind kind = SlotKind::memory;
    Word value = 0;
    unsigned reg = 0;
    int scratch = 0;
};

const Xbyak::Reg32 kF(15);
const Xbyak::Reg32 kSp32(8 + image::SP);
const Xbyak::Reg32 kScratch[2] = {ecx, edx};

enum class Cond : std::uint8_t { s, ns, z, nz, g, le };

Cond taken_cond(unsigned op) {
    switch (op) {
    case image::JMI: return Cond::s;
    case image::JNZ: return Cond::nz;
    case image::JZE: return Cond::z;
    default: return Cond::g;  // JPL, after test
    }
}
Cond negate(Cond c) {
    switch (c) {
    case Cond::s: return Cond::ns;
    case Cond::ns: return Cond::s;
    case Cond::z: return Cond::nz;
    case Cond::nz: return Cond::z;
    case Cond::g: return Cond::le;
    default: return Cond::g;
    }
}

// Whether a jump is taken for flags that hold the value v (SF clear).
bool taken_for_value(unsigned op, Word v) {
    switch (op) {
    case image::JMI: return false;
    case image::JZE: return v == 0;
    default: return v != 0;  // JNZ, JPL
    }
}

bool is_binary(unsigned op) { return op >= image::ADD_M && op <= image::XOR_R; }
bool is_register_form(unsigned op) { return (op & 1) != 0; }  // ADD_R .. XOR_R

// Registers an instruction writes (bit per register).
unsigned written_by(const Insn& i) {
    const unsigned a = 1u << i.a;
    const unsigned sp = 1u << image::SP;
    switch (i.op) {
    case image::LD_M:
    case image::LAD:
    case image::LDI:
    case image::LD_R: return a;
    case image::POP: return a | sp;
    case image::PUSH_M:
    case image::PUSH_R:
    case image::CALL:
    case image::RET: return sp;
    default: return is_binary(i.op) ? a : 0;
    }
}

class Tier2 {
public:
    explicit Tier2(Tier2Block& b) : b_(b), g_(b.g) {}
    void emit();

private:
    struct Stub {
        Xbyak::Label* label;
        State state;
        std::size_t k;  // the instruction it leaves at
        bool jump;      // the taken jump of block[k]; otherwise the loop does block[k]
    };

    Tier2Block& b_;
    Xbyak::CodeGenerator& g_;
    State s_;
    std::map<int, Slot> slots_;  // by stack offset
    int scratch_owner_[2] = {INT32_MIN, INT32_MIN};
    std::array<bool, image::kRegisterCount> written_{};
    // Entry checks: the range of displacements used with each unwritten
    // index register, the range of stack offsets, registers that must be 0.
    std::array<int, image::kRegisterCount> low_{}, high_{};
    std::array<bool, image::kRegisterCount> indexed_{};
    std::array<bool, image::kRegisterCount> zero_{};
    int stack_low_ = 0, stack_high_ = 0;
    std::deque<Xbyak::Label> labels_;
    std::vector<Stub> stubs_;
    std::size_t after_cmp_ = SIZE_MAX;  // code size just after a CMP's shl

    Xbyak::Label& stub(std::size_t k, bool jump) {
        Xbyak::Label& l = labels_.emplace_back();
        stubs_.push_back({&l, s_, k, jump});
        return l;
    }
    void jcc(Cond c, Xbyak::Label& l);
    void emit_flags(const State& s);
    void materialise(const State& s);
    void materialise_inline();
    void track_lowest(const State& s);
    void load_reg(unsigned r);
    void flags_exact();
    void before_write(unsigned r, bool sets_flags, bool scratch = true);
    void forget_slots();
    void drop_slot(int offset);
    void reach(int offset);
    Xbyak::Address stack_word(int offset) { return g_.word[rbx + kSp32.cvt64() * 2 + 2 * (offset - s_.base)]; }
    bool operand(const Insn& i, std::size_t k, Xbyak::Address& out);
    void plain(std::size_t& k);
    bool insn(std::size_t& k);
    void branch(std::size_t& k);
};

void Tier2::jcc(Cond c, Xbyak::Label& l) {
    switch (c) {
    case Cond::s: g_.js(l, Xbyak::CodeGenerator::T_NEAR); break;
    case Cond::ns: g_.jns(l, Xbyak::CodeGenerator::T_NEAR); break;
    case Cond::z: g_.jz(l, Xbyak::CodeGenerator::T_NEAR); break;
    case Cond::nz: g_.jnz(l, Xbyak::CodeGenerator::T_NEAR); break;
    case Cond::g: g_.jg(l, Xbyak::CodeGenerator::T_NEAR); break;
    case Cond::le: g_.jle(l, Xbyak::CodeGenerator::T_NEAR); break;
    }
}

void Tier2::track_lowest(const State& s) {
    if (!b_.lowest_sp || !s.static_sp || s.lowest >= s.tracked) return;
    Xbyak::Label higher;
    g_.lea(eax, g_.ptr[kSp32.cvt64() + (s.lowest - s.base)]);
    g_.cmp(eax, g_.dword[rbp + b_.lowest_sp_offset]);
    g_.jae(higher);
    g_.mov(g_.dword[rbp + b_.lowest_sp_offset], eax);
    g_.L(higher);
}

void Tier2::emit_flags(const State& s) {
    switch (s.flags.kind) {
    case FlagKind::exact: break;
    case FlagKind::reg: {
        const RegState& r = s.regs[s.flags.reg];
        if (r.kind == RegKind::constant)
            g_.mov(kF, r.value);
        else
            g_.mov(kF, r32(s.flags.reg));
        break;
    }
    case FlagKind::constant: g_.mov(kF, s.flags.value); break;
    case FlagKind::sp: g_.lea(kF, g_.ptr[kSp32.cvt64() + (s.flags.offset - s.base)]); break;
    }
}

// Writes the symbolic parts of s into the host registers (code only; the
// state itself is the caller's).
void Tier2::materialise(const State& s) {
    emit_flags(s);
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        if (s.regs[r].kind == RegKind::constant) g_.mov(r32(r), s.regs[r].value);
    track_lowest(s);
    if (s.static_sp && s.offset != s.base) g_.add(kSp32, s.offset - s.base);
}

void Tier2::materialise_inline() {
    materialise(s_);
    for (auto& r : s_.regs) r.kind = RegKind::host;
    s_.flags.kind = FlagKind::exact;
    if (s_.static_sp) s_.base = s_.offset;
    s_.tracked = s_.lowest;
}

void Tier2::load_reg(unsigned r) {
    if (s_.regs[r].kind != RegKind::constant) return;
    g_.mov(r32(r), s_.regs[r].value);
    s_.regs[r].kind = RegKind::host;
}

void Tier2::flags_exact() {
    emit_flags(s_);
    s_.flags.kind = FlagKind::exact;
}

// Register r is about to change: F and pushed words that still refer to
// its value keep that value.
void Tier2::before_write(unsigned r, bool sets_flags, bool scratch) {
    if (s_.flags.kind == FlagKind::reg && s_.flags.reg == r && !sets_flags) flags_exact();
    for (auto& [offset, slot] : slots_) {
        if (slot.kind != SlotKind::reg || slot.reg != r) continue;
        int free = -1;
        for (int t = 0; t < 2; ++t)
            if (scratch_owner_[t] == INT32_MIN) free = t;
        if (free < 0 || !scratch || s_.regs[r].kind == RegKind::constant) {
            slot.kind = SlotKind::memory;
            continue;
        }
        g_.mov(kScratch[free], r32(r));
        scratch_owner_[free] = offset;
        slot.kind = SlotKind::scratch;
        slot.scratch = free;
    }
    written_[r] = true;
}

void Tier2::drop_slot(int offset) {
    auto it = slots_.find(offset);
    if (it == slots_.end()) return;
    if (it->second.kind == SlotKind::scratch) scratch_owner_[it->second.scratch] = INT32_MIN;
    slots_.erase(it);
}

void Tier2::forget_slots() {
    slots_.clear();
    scratch_owner_[0] = scratch_owner_[1] = INT32_MIN;
}

// sp reaches sp0 + offset (or a word there is used): checked at the entry.
void Tier2::reach(int offset) {
    stack_low_ = std::min(stack_low_, offset);
    stack_high_ = std::max(stack_high_, offset);
}

// The memory operand of block[k]; false when the instruction is left to the
// first tier (an index the static state does not cover).
bool Tier2::operand(const Insn& i, std::size_t k, Xbyak::Address& out) {
    const int disp = std::int16_t(i.adr);
    if (i.x == 0) {
        out = g_.word[rbx + int(i.adr) * 2];
        return true;
    }
    if (i.x == image::SP) return false;
    if (!written_[i.x]) {
        if (!indexed_[i.x]) {
            indexed_[i.x] = true;
            low_[i.x] = high_[i.x] = disp;
        }
        low_[i.x] = std::min(low_[i.x], disp);
        high_[i.x] = std::max(high_[i.x], disp);
        out = g_.word[rbx + r64(i.x) * 2 + 2 * disp];
        return true;
    }
    load_reg(i.x);
    if (disp == 0) {  // always inside memory
        out = g_.word[rbx + r64(i.x) * 2];
        return true;
    }
    g_.lea(rax, g_.ptr[r64(i.x) + disp]);
    g_.cmp(rax, 0xFFFF);
    g_.ja(stub(k, false), Xbyak::CodeGenerator::T_NEAR);
    out = g_.word[rbx + rax * 2];
    return true;
}

// block[k] by the first tier, with the state exact before it.
void Tier2::plain(std::size_t& k) {
    materialise_inline();
    forget_slots();
    const std::size_t last = b_.plain(k);
    for (std::size_t j = k; j <= last; ++j) {
        const unsigned w = written_by(b_.block[j]);
        for (unsigned r = 0; r < image::kRegisterCount; ++r)
            if (w & (1u << r)) written_[r] = true;
        if (w & (1u << image::SP)) s_.static_sp = false;
    }
    after_cmp_ = SIZE_MAX;
    k = last;
}

// A conditional jump. Jumping over one LDI to the instruction after it (how
// the compiler turns a comparison into 0 or 1) becomes conditional moves.
void Tier2::branch(std::size_t& k) {
    const Insn& i = b_.block[k];
    const std::vector<Insn>& bl = b_.block;
    const bool over_ldi = k + 2 < bl.size() && bl[k + 1].op == image::LDI && bl[k + 1].native &&
                          bl[k + 1].a < image::BP && i.adr == Word(i.pc + 4) &&
                          (i.x == 0 || !written_[i.x]);
    if (over_ldi) {
        const Insn& ldi = bl[k + 1];
        if (i.x != 0) zero_[i.x] = true;
        flags_exact();
        before_write(ldi.a, true);
        load_reg(ldi.a);
        g_.test(kF, kF);
        const Cond skip = taken_cond(i.op);
        g_.mov(eax, ldi.adr);
        switch (negate(skip)) {
        case Cond::s: g_.cmovs(r32(ldi.a), eax); g_.cmovs(kF, eax); break;
        case Cond::ns: g_.cmovns(r32(ldi.a), eax); g_.cmovns(kF, eax); break;
        case Cond::z: g_.cmovz(r32(ldi.a), eax); g_.cmovz(kF, eax); break;
        case Cond::nz: g_.cmovnz(r32(ldi.a), eax); g_.cmovnz(kF, eax); break;
        case Cond::g: g_.cmovg(r32(ldi.a), eax); g_.cmovg(kF, eax); break;
        case Cond::le: g_.cmovle(r32(ldi.a), eax); g_.cmovle(kF, eax); break;
        }
        if (b_.counting) {  // a skip does one instruction less
            switch (skip) {
            case Cond::s: g_.sets(al); break;
            case Cond::ns: g_.setns(al); break;
            case Cond::z: g_.setz(al); break;
            case Cond::nz: g_.setnz(al); break;
            case Cond::g: g_.setg(al); break;
            case Cond::le: g_.setle(al); break;
            }
            g_.movzx(eax, al);
            g_.add(rsi, rax);
        }
        after_cmp_ = SIZE_MAX;
        ++k;
        return;
    }
    switch (s_.flags.kind) {
    case FlagKind::reg:
    case FlagKind::constant: {
        const bool known = s_.flags.kind == FlagKind::constant ||
                           s_.regs[s_.flags.reg].kind == RegKind::constant;
        if (known) {
            const Word v = s_.flags.kind == FlagKind::constant ? s_.flags.value
                                                                : s_.regs[s_.flags.reg].value;
            if (taken_for_value(i.op, v)) g_.jmp(stub(k, true), Xbyak::CodeGenerator::T_NEAR);
            return;
        }
        if (i.op == image::JMI) return;  // SF is clear
        g_.test(r32(s_.flags.reg), r32(s_.flags.reg));
        jcc(i.op == image::JZE ? Cond::z : Cond::nz, stub(k, true));
        return;
    }
    case FlagKind::sp: flags_exact(); break;
    case FlagKind::exact: break;
    }
    if (i.op == image::JPL || g_.getSize() != after_cmp_) g_.test(kF, kF);
    jcc(taken_cond(i.op), stub(k, true));
}

// One instruction in the static state; false to leave it to the first tier.
bool Tier2::insn(std::size_t& k) {
    const Insn& i = b_.block[k];
    const unsigned a = i.a, x = i.x;
    constexpr unsigned SP = image::SP, BP = image::BP;
    switch (i.op) {
    case image::NOP: return true;
    case image::LDI:
        if (a >= BP) return false;
        before_write(a, true);
        s_.regs[a] = {RegKind::constant, i.adr};
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    case image::LD_R:
        if (a >= BP || x == SP) return false;
        if (a != x) {
            before_write(a, true);
            if (s_.regs[x].kind == RegKind::constant)
                s_.regs[a] = s_.regs[x];
            else {
                g_.mov(r32(a), r32(x));
                s_.regs[a].kind = RegKind::host;
            }
        } else {
            written_[a] = true;
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    case image::LAD:
        if (a >= BP) return false;
        if (x == 0 || s_.regs[x].kind == RegKind::constant) {
            const Word v = Word((x == 0 ? 0 : s_.regs[x].value) + i.adr);
            before_write(a, false);
            s_.regs[a] = {RegKind::constant, v};
            return true;
        }
        if (x == SP) return false;
        before_write(a, false);
        g_.lea(r32(a), g_.ptr[r64(x) + int(i.adr)]);
        g_.movzx(r32(a), r16(a));
        s_.regs[a].kind = RegKind::host;
        return true;
    case image::LD_M: {
        if (a >= BP) return false;
        Xbyak::Address m = g_.word[rbx];
        if (!operand(i, k, m)) return false;
        before_write(a, true);
        g_.movzx(r32(a), m);
        s_.regs[a].kind = RegKind::host;
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    case image::ST: {
        if (a == SP) return false;
        Xbyak::Address m = g_.word[rbx];
        if (!operand(i, k, m)) return false;
        if (s_.regs[a].kind == RegKind::constant)
            g_.mov(m, s_.regs[a].value);
        else
            g_.mov(m, r16(a));
        forget_slots();  // the word may be one of the stack's
        return true;
    }
    case image::CMP_R:
    case image::CMP_M: {
        if (a == SP || (i.op == image::CMP_R && x == SP)) return false;
        Xbyak::Address m = g_.word[rbx];
        if (i.op == image::CMP_M && !operand(i, k, m)) return false;
        // F is about to be replaced: nothing reads the old one.
        if (s_.regs[a].kind == RegKind::constant)
            g_.mov(kF, s_.regs[a].value);
        else
            g_.mov(kF, r32(a));
        if (i.op == image::CMP_M)
            g_.sub(Xbyak::Reg16(15), m);
        else if (s_.regs[x].kind == RegKind::constant)
            g_.sub(kF, s_.regs[x].value);
        else
            g_.sub(kF, r32(x));
        g_.shl(kF, 16);
        s_.flags.kind = FlagKind::exact;
        after_cmp_ = g_.getSize();
        return true;
    }
    case image::DIV_M:
    case image::DIV_R:
    case image::MOD_M:
    case image::MOD_R: {
        const bool memory = i.op == image::DIV_M || i.op == image::MOD_M;
        if (a >= BP || (!memory && x == SP)) return false;
        // idiv takes eax, ecx and edx: pushed words kept there are read
        // from memory instead.
        for (auto& [offset, slot] : slots_)
            if (slot.kind == SlotKind::scratch) slot.kind = SlotKind::memory;
        scratch_owner_[0] = scratch_owner_[1] = INT32_MIN;
        if (memory) {
            Xbyak::Address m = g_.word[rbx];
            if (!operand(i, k, m)) return false;
            g_.movsx(ecx, m);
        } else {
            load_reg(x);
            g_.movsx(ecx, r16(x));
        }
        g_.test(ecx, ecx);
        g_.jz(stub(k, false), Xbyak::CodeGenerator::T_NEAR);
        before_write(a, true, false);
        load_reg(a);
        g_.movsx(eax, r16(a));
        g_.cdq();
        g_.idiv(ecx);
        g_.movzx(r32(a), i.op == image::DIV_M || i.op == image::DIV_R ? ax : dx);
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    case image::JMI:
    case image::JNZ:
    case image::JZE:
    case image::JPL: branch(k); return true;
    case image::PUSH_R:
    case image::PUSH_M: {
        if (!s_.static_sp || (i.op == image::PUSH_R && a == SP)) return false;
        const int at = s_.offset;
        if (i.op == image::PUSH_M) {
            Xbyak::Address m = g_.word[rbx];
            if (!operand(i, k, m)) return false;
            g_.movzx(eax, m);
            g_.mov(stack_word(at), ax);
            drop_slot(at);
        } else if (s_.regs[a].kind == RegKind::constant) {
            g_.mov(stack_word(at), s_.regs[a].value);
            drop_slot(at);
            slots_[at] = {SlotKind::constant, s_.regs[a].value, 0, 0};
        } else {
            g_.mov(stack_word(at), r16(a));
            drop_slot(at);
            slots_[at] = {SlotKind::reg, 0, a, 0};
        }
        reach(at);
        s_.offset = at - 1;
        reach(s_.offset);
        s_.lowest = std::min(s_.lowest, s_.offset);
        return true;
    }
    case image::POP: {
        if (!s_.static_sp || a == SP) return false;
        const int at = s_.offset + 1;
        reach(at);
        s_.offset = at;
        Slot slot;
        if (auto it = slots_.find(at); it != slots_.end()) slot = it->second;
        if (slot.kind == SlotKind::reg && slot.reg == a) {
            written_[a] = true;  // the value is already there
        } else {
            // The scratch register stays taken until the value is out.
            if (slot.kind == SlotKind::scratch) slots_.erase(at);
            before_write(a, true);
            switch (slot.kind) {
            case SlotKind::constant: s_.regs[a] = {RegKind::constant, slot.value}; break;
            case SlotKind::reg:
                if (s_.regs[slot.reg].kind == RegKind::constant) {
                    s_.regs[a] = s_.regs[slot.reg];
                } else {
                    g_.mov(r32(a), r32(slot.reg));
                    s_.regs[a].kind = RegKind::host;
                }
                break;
            case SlotKind::scratch:
                g_.mov(r32(a), kScratch[slot.scratch]);
                scratch_owner_[slot.scratch] = INT32_MIN;
                s_.regs[a].kind = RegKind::host;
                break;
            case SlotKind::memory:
                g_.movzx(r32(a), stack_word(at));
                s_.regs[a].kind = RegKind::host;
                break;
            }
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    default: break;
    }
    if (is_binary(i.op)) {
        const bool reg_form = is_register_form(i.op);
        if (a == BP || (reg_form && x == SP)) return false;
        if (a == SP) {  // sp moved by a known amount: ADD sp,GRx after LDI GRx,n
            if (!reg_form || !s_.static_sp || s_.regs[x].kind != RegKind::constant ||
                (i.op != image::ADD_R && i.op != image::SUB_R))
                return false;
            const int n = std::int16_t(s_.regs[x].value);
            s_.offset += i.op == image::ADD_R ? n : -n;
            reach(s_.offset);
            s_.lowest = std::min(s_.lowest, s_.offset);
            s_.flags = {FlagKind::sp, 0, 0, s_.offset};
            written_[SP] = true;  // no longer its value at the entry
            return true;
        }
        Xbyak::Address m = g_.word[rbx];
        if (!reg_form && !operand(i, k, m)) return false;
        before_write(a, true);
        load_reg(a);
        const Xbyak::Reg16 A = r16(a);
        const bool imm = reg_form && s_.regs[x].kind == RegKind::constant;
        // As a signed 16-bit immediate: the assembler takes 0x8000-0xFFFF
        // for a 16-bit operand only that way.
        const int v = imm ? int(std::int16_t(s_.regs[x].value)) : 0;
        switch (i.op & ~1u) {
        case image::ADD_M:
            if (!reg_form) g_.add(A, m); else if (imm) g_.add(A, v); else g_.add(A, r16(x));
            break;
        case image::SUB_M:
            if (!reg_form) g_.sub(A, m); else if (imm) g_.sub(A, v); else g_.sub(A, r16(x));
            break;
        case image::MUL_M:
            if (!reg_form) g_.imul(A, m); else if (imm) g_.imul(A, A, v); else g_.imul(A, r16(x));
            break;
        case image::AND_M:
            if (!reg_form) g_.and_(A, m); else if (imm) g_.and_(A, v); else g_.and_(A, r16(x));
            break;
        case image::OR_M:
            if (!reg_form) g_.or_(A, m); else if (imm) g_.or_(A, v); else g_.or_(A, r16(x));
            break;
        default:
            if (!reg_form) g_.xor_(A, m); else if (imm) g_.xor_(A, v); else g_.xor_(A, r16(x));
            break;
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    return false;
}

void Tier2::emit() {
    const std::vector<Insn>& bl = b_.block;
    Xbyak::Label& body = labels_.emplace_back();
    Xbyak::Label& out_of_budget = labels_.emplace_back();
    g_.L(body);
    if (b_.counting && b_.budget > 0) {
        g_.cmp(rsi, b_.budget);
        g_.jb(out_of_budget, Xbyak::CodeGenerator::T_NEAR);
        g_.sub(rsi, b_.budget);
    }
    bool ended = false;
    for (std::size_t k = 0; k < bl.size(); ++k) {
        const Insn& i = bl[k];
        const bool last = k + 1 == bl.size();
        if (!i.native || (last && !b_.falls_through)) {  // JUMP, CALL, RET or the loop's
            plain(k);
            ended = true;
            break;
        }
        if (!insn(k)) plain(k);
    }
    if (!ended && b_.falls_through) {
        materialise_inline();
        b_.goto_fixed(b_.next);
    }

    // Ways out, each making its own state exact.
    for (Stub& st : stubs_) {
        g_.L(*st.label);
        materialise(st.state);
        const int done = int(st.k) + (st.jump ? 1 : 0);
        if (b_.counting && b_.budget > done) g_.add(rsi, b_.budget - done);
        if (st.jump) {
            b_.goto_target(st.k);
        } else {
            g_.mov(eax, bl[st.k].pc);
            g_.mov(ecx, kInterpret);
            g_.jmp(b_.exit, Xbyak::CodeGenerator::T_NEAR);
        }
    }
    g_.L(out_of_budget);
    if (b_.counting && b_.budget > 0) {
        g_.mov(eax, b_.start);
        g_.mov(ecx, kBudget);
        g_.jmp(b_.exit, Xbyak::CodeGenerator::T_NEAR);
    }

    // The entry: what the static state assumed, or the first tier.
    g_.L(b_.entry);
    // A register holds 0..0xFFFF, so reg + d stays inside memory when
    // reg >= -d for the lowest d below 0 and reg <= 0xFFFF - d for the
    // highest d above 0.
    auto bounds = [&](const Xbyak::Reg32& reg, int low, int high) {
        if (low < 0) {
            g_.cmp(reg, -low);
            g_.jb(b_.tier1, Xbyak::CodeGenerator::T_NEAR);
        }
        if (high > 0) {
            g_.cmp(reg, 0xFFFF - high);
            g_.ja(b_.tier1, Xbyak::CodeGenerator::T_NEAR);
        }
    };
    for (unsigned r = 0; r < image::kRegisterCount; ++r) {
        if (zero_[r]) {
            g_.test(r32(r), r32(r));
            g_.jnz(b_.tier1, Xbyak::CodeGenerator::T_NEAR);
        }
        if (indexed_[r]) bounds(r32(r), low_[r], high_[r]);
    }
    bounds(kSp32, stack_low_, stack_high_);
    g_.jmp(body, Xbyak::CodeGenerator::T_NEAR);
}

}  // namespace

void emit_tier2(Tier2Block& b) {
    Tier2 t(b);
    t.emit();
}

}  // namespace vm::native

#endif  // VEXL_NATIVE_X86_64
