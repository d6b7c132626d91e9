// The second tier of the translating engine: a hot region translated as a
// whole, for the stack code the compiler emits.
//
// A region is the code reachable from a hot address by fall-through and
// jumps to fixed addresses, in blocks of instructions handled here, up to
// kMaxRegion instructions: a loop entered at its head takes its body and
// the loops around it. Jumps between its blocks are host jumps; whatever
// leaves it (an instruction not handled here, a jump out, a call, a
// return, input and output) goes to the first tier's code with the state
// exact.
//
// Inside a region the state is exact only where it can be observed:
//   - the frame's slots (bp plus a constant: locals and parameters) used
//     most live in host registers: bp is never written inside a region, so
//     the slot a displacement names never changes. They are loaded at the
//     region's entry and written back on every way out;
//   - host registers the region has no other use for hold those slots: the
//     pc table's and the step budget's (reloaded on the way out), that of
//     GR3 (the compiler's index of jumps, 0 throughout: checked at the
//     entry) and those of guest registers the region never names (kept in
//     the context meanwhile);
//   - a register may hold a known constant not yet written to its host
//     register (LDI, POP of a pushed constant), or be a copy of a slot held
//     in a host register (a load of a local), until either changes;
//   - the flags may be "the value of register r" or "the comparison of
//     registers r and x", written to F only when something reads F or a
//     block is left; a jump on a comparison is one host cmp and jump;
//   - sp moves by a static offset (the compiler's stack depth is static):
//     pushes and pops address [sp0 + offset], and sp itself is written at
//     the end of each block;
//   - a stack word pushed in a block remembers where its value is (a
//     constant, a guest register, a scratch host register, a slot's host
//     register), so the pop that takes it reads no memory, and is written
//     to memory only at the end of the block (the last value of each
//     word) or when its value is about to be lost and no scratch register
//     is free; a word the block pushes over before reading it or leaving
//     is not kept at all. An access through a computed address checks
//     that it misses the words not in memory;
//   - the compiler's comparisons (0 or 1 in GR0, pushed, popped, jumped on)
//     become one host jump, GR0 a constant on either way; division by a
//     constant power of two becomes shifts.
// Between blocks the guest registers, F and sp are exact, and the stack
// words written, but for what the next block overwrites before anything
// can see it (Kills); the slots in host registers are not in memory.
//
// What the region relies on is checked once at its entry: memory operands
// indexed by a register the region never writes (bp, GR4 for globals) and
// the stack words lie inside memory, the slots held in host registers, the
// stack words and the other fixed operands do not overlap, GR3 is 0. When
// a check fails, the first tier's version of the block runs instead. An
// access through a computed address that falls on a slot held in a
// register leaves for the loop with the state exact. Everything is made
// exact (slots written back, constants written, F written, sp moved, the
// lowest sp recorded, unspent steps given back) on every way out and before
// every instruction that may fail, so the machine's loop sees exactly the
// state it would have made. Each block pays its steps at its start, and
// gives back those it did not do when it leaves early.
#if defined(VEXL_NATIVE_X86_64)

#include <algorithm>
#include <array>
#include <climits>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "x86_block.h"

namespace vm::native {

namespace {

using namespace Xbyak::util;
using Gen = Xbyak::CodeGenerator;

constexpr std::size_t kMaxRegion = 160;  // instructions of a region
constexpr std::size_t kMaxBlock = 64;    // instructions of one of its blocks
constexpr std::size_t kMaxPending = 8;   // stack words not yet written
// Bytes an instruction (with its ways out) and a block (with the entry's
// checks) can take at most: a block joins the region only while the room
// covers that much for every block in it.
constexpr std::size_t kInsnBytes = 1536;
constexpr std::size_t kBlockBytes = 2048;
constexpr unsigned SP = image::SP, BP = image::BP;
constexpr unsigned kJumpIndex = 3;  // GR3: the compiler's index of jumps

// A guest register: in its host register, a known constant not yet
// written there, or a copy of the frame slot held in host register `host`.
enum class RegKind : std::uint8_t { host, constant, copy };
struct RegState {
    RegKind kind = RegKind::host;
    Word value = 0;
    int host = 0;
};

// F: exact in r15d, the value of a register (ZF from it, SF clear), a
// constant value, the value of sp at a stack offset, or the comparison of
// register reg with register other (a jump on it becomes one host
// comparison and jump).
enum class FlagKind : std::uint8_t { exact, reg, constant, sp, compare };
struct FlagState {
    FlagKind kind = FlagKind::exact;
    unsigned reg = 0;
    Word value = 0;
    int offset = 0;
    unsigned other = 0;
};

// Where the value of a pushed word is (slot: the frame slot held in host
// register `host`); pending: not yet in memory.
enum class SlotKind : std::uint8_t { memory, constant, reg, scratch, slot };
struct Slot {
    SlotKind kind = SlotKind::memory;
    Word value = 0;
    unsigned reg = 0;
    int scratch = 0;
    bool pending = false;
    int host = 0;
};

// The state a way out has to make exact.
struct State {
    std::array<RegState, image::kRegisterCount> regs{};
    FlagState flags;
    int offset = 0;   // sp = sp0 + offset
    int base = 0;     // r14 = sp0 + base
    int lowest = 0;   // the lowest offset sp has had after an instruction
    int tracked = 0;  // the lowest offset already recorded in the context
    std::map<int, Slot> slots;  // by stack offset
    int scratch_owner[2] = {INT32_MIN, INT32_MIN};
};

const Xbyak::Reg32 kF(15);

// The host register with the value of guest register r (not a constant).
Xbyak::Reg32 where(const State& s, unsigned r) {
    return s.regs[r].kind == RegKind::copy ? Xbyak::Reg32(s.regs[r].host) : r32(r);
}
const Xbyak::Reg32 kSp32(8 + SP);
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
bool is_branch(unsigned op) {
    return op == image::JMI || op == image::JNZ || op == image::JZE || op == image::JPL;
}

// Instructions a region may hold (a finer check comes as it is emitted):
// no writes to bp or sp other than pushes, pops and sp plus a constant,
// jumps to a fixed address (index 0 or GR3).
bool handled(const Insn& i) {
    if (!i.native) return false;
    if (i.info->has(image::RX) && i.x == SP) return false;
    switch (i.op) {
    case image::NOP:
    case image::PUSH_M: return true;
    case image::CMP_M: return i.a != SP;
    case image::CMP_R: return i.a != SP && i.x != SP;
    case image::PUSH_R:
    case image::ST: return i.a != SP;
    case image::LDI:
    case image::LAD:
    case image::LD_M:
    case image::POP:
    case image::DIV_M:
    case image::MOD_M: return i.a < BP;
    case image::LD_R:
    case image::DIV_R:
    case image::MOD_R: return i.a < BP && i.x != SP;
    case image::JMI:
    case image::JNZ:
    case image::JZE:
    case image::JPL:
    case image::JUMP: return i.x == 0 || i.x == kJumpIndex;
    default:
        if (!is_binary(i.op) || i.a == BP) return false;
        if (!is_register_form(i.op)) return i.a != SP;
        if (i.x == SP) return false;
        return i.a != SP || i.op == image::ADD_R || i.op == image::SUB_R;
    }
}

// Registers an instruction names (bit per register).
unsigned named_by(const Insn& i) {
    unsigned m = 0;
    if (i.info->uses_r()) m |= 1u << i.a;
    if (i.info->has(image::RB) || (i.info->has(image::RX) && i.x != 0)) m |= 1u << i.x;
    if (i.info->moves_sp()) m |= 1u << SP;
    return m;
}
unsigned written_by(const Insn& i) {
    unsigned m = 0;
    if (i.info->has(image::WA)) m |= 1u << i.a;
    if (i.info->moves_sp()) m |= 1u << SP;
    return m;
}

// What a block overwrites before anything can see the old value: the
// registers, F and stack words (offsets from sp at its start) it writes
// before reading them and before its first way out. An edge into the
// block need not make these exact.
struct Kills {
    unsigned regs = 0;
    bool flags = false;
    std::set<int> words;
};

struct Block {
    Word start;
    std::vector<Insn> insns;  // handled instructions (a branch over an LDI included)
    enum End : std::uint8_t { branch, jump, fall, stop } end;
    Word next;  // fall: where it continues; stop: the instruction not handled
};

class Region {
public:
    explicit Region(Tier2Region& r) : r_(r), g_(r.g) {}
    bool emit();

private:
    enum class Way : std::uint8_t { internal, fixed, interpret, budget };
    struct Stub {
        Xbyak::Label* label;
        State state;
        Way way;
        Word pc;
        int give_back;
    };

    Tier2Region& r_;
    Gen& g_;
    // A function's entry: PUSH bp; LD bp,sp run at the region's entry, its
    // blocks start after them (first_), and bp is sp there.
    bool prologue_ = false;
    Word first_ = 0;
    std::set<Word> leaders_;
    std::vector<Word> order_;  // leaders in the order found
    unsigned named_ = 0, written_ = 0;
    bool pinned_ = false;  // GR3 is 0 throughout, its host register free
    std::vector<Xbyak::Reg32> pool_;
    std::vector<unsigned> stashed_;  // guest registers kept in the context
    std::map<int, Xbyak::Reg32> cached_;  // bp displacement -> host register
    std::set<int> stored_;                // displacements the region stores to
    int cached_low_ = 0, cached_high_ = -1;
    // The slots held in registers as runs of displacements, apart wherever
    // a word lies between them (an element of a frame's array, say) but
    // for the frame's link (bp+1 and bp+2, between the locals and the
    // parameters): an access through a computed address is checked against
    // each run, so that one between them stays in translated code.
    std::vector<std::pair<int, int>> cached_runs_;
    std::unordered_map<Word, Xbyak::Label*> labels_of_;
    std::unordered_map<Word, int> offset_in_;
    std::vector<Word> queue_;
    std::set<Word> emitted_;
    std::optional<Word> next_;  // the block to emit next, falling into it
    std::deque<Xbyak::Label> labels_;
    std::vector<Stub> stubs_;
    // Bytes the blocks queued and the one being emitted may take at most.
    std::size_t reserved_ = 0;
    std::size_t start_size_ = 0;
    std::size_t bytes_for(Word start) const { return kBlockBytes + kInsnBytes * scan(start).insns.size(); }

    // Entry checks: displacements used with each register the region never
    // writes, absolute addresses, stack offsets.
    std::array<int, image::kRegisterCount> low_{}, high_{};
    std::array<bool, image::kRegisterCount> indexed_{};
    int abs_low_ = INT_MAX, abs_high_ = INT_MIN;
    int stack_low_ = 0, stack_high_ = 0;

    // The block being emitted.
    State s_;
    const Block* block_ = nullptr;
    int budget_ = 0;
    std::size_t after_cmp_ = SIZE_MAX;  // code size just after a CMP's shl
    std::size_t rest_ = SIZE_MAX;  // the block's instructions still to come start here

    Block scan(Word start) const;
    Kills kills(Word start) const;
    bool fixed_operand(const Insn& i) const;
    void discover();
    void allocate();
    Xbyak::Label& label_of(Word pc);

    Xbyak::Label& stub(Way way, Word pc, int give_back) {
        Xbyak::Label& l = labels_.emplace_back();
        stubs_.push_back({&l, s_, way, pc, give_back});
        return l;
    }
    void emit_block(Word start);
    void emit_stub(const Stub& st);
    void edge(Word target, int give_back, bool last = false);
    void leave(Way way, Word pc, int give_back);
    void jcc(Cond c, Xbyak::Label& l);
    void emit_flags(const State& s);
    void host_compare();
    void flush(const State& s, const Kills* dead = nullptr);
    void materialise(const State& s, const Kills* dead = nullptr);
    void restore_host();
    void track_lowest(const State& s);
    void load_reg(unsigned r);
    void before_slot_write(int host);
    template <class Of, class Save>
    void save_words(Of of, Save save);
    void keep(int offset, Slot& slot, const Xbyak::Reg32& from, bool scratch);
    void flags_exact();
    void before_write(unsigned r, bool sets_flags, bool scratch = true);
    bool overwritten(int offset) const;
    void write_slot(int offset, Slot& slot);
    void flush_pending();
    void drop_slot(int offset);
    void reach(int offset);
    Xbyak::Address stack_word(const State& s, int offset) {
        return g_.word[rbx + kSp32.cvt64() * 2 + 2 * (offset - s.base)];
    }
    bool operand(const Insn& i, std::size_t k, Xbyak::Address& mem, const Xbyak::Reg32*& reg);
    bool insn(std::size_t& k);
    void branch(std::size_t& k);
    bool fused(std::size_t& k);
    void entry_checks(Xbyak::Label& fail);
    void emit_prologue();
};

// The block at start: handled instructions up to a branch, a jump, an
// instruction not handled, another block's start or kMaxBlock.
Block Region::scan(Word start) const {
    Block b{start, {}, Block::fall, start};
    std::size_t pc = start;
    for (;;) {
        if (pc >= r_.n || pc > 0xFFFF || (pc != start && leaders_.count(Word(pc))) || b.insns.size() >= kMaxBlock) {
            b.end = Block::fall;
            b.next = Word(pc);
            return b;
        }
        const Insn i = r_.decode(Word(pc));
        if (!handled(i)) {
            b.end = Block::stop;
            b.next = Word(pc);
            return b;
        }
        b.insns.push_back(i);
        if (i.op == image::JUMP) {
            b.end = Block::jump;
            return b;
        }
        if (is_branch(i.op)) {
            // Jumping over one LDI to the instruction after it (how the
            // compiler turns a comparison into 0 or 1) stays in the block.
            const std::size_t l = pc + i.words;
            if (i.adr == Word(pc + 4) && l < r_.n && !leaders_.count(Word(l)) && !leaders_.count(Word(l + 2))) {
                const Insn ldi = r_.decode(Word(l));
                if (ldi.op == image::LDI && ldi.native && ldi.a < BP && ldi.words == 2) {
                    b.insns.push_back(ldi);
                    pc = l + 2;
                    continue;
                }
            }
            b.end = Block::branch;
            return b;
        }
        pc += i.words;
    }
}

// The leaders of the region: the entry and every fixed target reached
// from it, up to kMaxRegion instructions.
void Region::discover() {
    leaders_.insert(first_);
    order_.push_back(first_);
    std::size_t total = 0;
    for (std::size_t q = 0; q < order_.size(); ++q) {
        const Block b = scan(order_[q]);
        total += b.insns.size();
        if (total > kMaxRegion) break;
        auto add = [&](Word pc) {
            if (pc < r_.n && leaders_.insert(pc).second) order_.push_back(pc);
        };
        if (b.end == Block::branch || b.end == Block::jump) add(b.insns.back().adr);
        if (b.end == Block::branch) add(Word(b.insns.back().pc + 2));
        if (b.end == Block::fall && b.insns.size() < kMaxBlock) add(b.next);
    }
}

// Whether the memory operand of i is at a fixed place for the whole
// region (no register, GR3 held at 0, or a register the region never
// writes), so that reading or writing it cannot leave the region.
bool Region::fixed_operand(const Insn& i) const {
    if (i.x == SP) return false;
    if (pinned_ && i.x == kJumpIndex) return std::int16_t(i.adr) >= 0;
    return i.x == 0 || !(written_ & (1u << i.x));
}

Kills Region::kills(Word start) const {
    Kills k;
    if (r_.counting) return k;  // the block's budget check may leave first
    unsigned read = 0;
    std::set<int> words_read;
    int offset = 0;
    auto use = [&](unsigned r) { read |= 1u << r; };
    auto def = [&](unsigned r) {
        if (!(read & (1u << r))) k.regs |= 1u << r;
    };
    for (const Insn& i : scan(start).insns) {
        const image::OpInfo& info = *i.info;
        const bool memory = info.has(image::LOAD | image::STORE);
        if ((memory && !fixed_operand(i)) || info.has(image::DZ)) break;  // may leave
        switch (i.op) {
        case image::NOP: continue;
        case image::LDI:
        case image::LD_R:
        case image::LAD:
        case image::LD_M:
        case image::ST:
        case image::CMP_R:
        case image::CMP_M:
        case image::PUSH_R:
        case image::PUSH_M:
        case image::POP: break;
        default:
            if (!is_binary(i.op) || i.a == SP || i.a == BP) return k;
        }
        if (info.has(image::RB) || (info.has(image::RX) && i.x != 0)) use(i.x);
        const bool reads_a = info.uses_r() && i.op != image::POP &&
                             !(info.effect == image::Effect::move || info.effect == image::Effect::address);
        if (reads_a) use(i.a);
        if (i.op == image::POP) {
            offset += 1;
            if (!k.words.count(offset)) words_read.insert(offset);
        }
        if (info.has(image::WA)) def(i.a);
        if (info.has(image::FR | image::FC)) k.flags = true;  // nothing before reads F
        if (info.has(image::PUSH)) {
            if (!words_read.count(offset)) k.words.insert(offset);
            offset -= 1;
        }
    }
    return k;
}

// The registers for the most used frame slots.
void Region::allocate() {
    std::map<int, unsigned> uses;
    for (Word l : order_) {
        const Block b = scan(l);
        for (const Insn& i : b.insns) {
            named_ |= named_by(i);
            written_ |= written_by(i);
            if (i.info->has(image::RX) && i.x == BP && (i.info->has(image::LOAD) || i.op == image::ST) &&
                i.op != image::PUSH_M) {
                uses[std::int16_t(i.adr)] += 1;
                if (i.op == image::ST) stored_.insert(std::int16_t(i.adr));
            }
        }
    }
    pinned_ = (written_ & (1u << kJumpIndex)) == 0;
    pool_.push_back(edi);
    if (!r_.counting) pool_.push_back(esi);
    if (pinned_) pool_.push_back(r32(kJumpIndex));
    for (unsigned r = 0; r < BP; ++r)
        if (r != kJumpIndex && !(named_ & (1u << r))) {
            stashed_.push_back(r);
            pool_.push_back(r32(r));
        }
    if (written_ & (1u << BP)) return;  // never: no handled instruction writes bp
    std::vector<std::pair<unsigned, int>> ranked;
    for (auto [d, n] : uses) ranked.push_back({n, d});
    std::sort(ranked.begin(), ranked.end(), [](auto x, auto y) {
        return x.first > y.first || (x.first == y.first && x.second < y.second);
    });
    for (std::size_t k = 0; k < ranked.size() && k < pool_.size(); ++k) cached_[ranked[k].second] = pool_[k];
    if (!cached_.empty()) {
        cached_low_ = cached_.begin()->first;
        cached_high_ = cached_.rbegin()->first;
        for (auto& [d, reg] : cached_)
            if (cached_runs_.empty() ||
                (d - cached_runs_.back().second > 1 && !(cached_runs_.back().second == 0 && d == 3)))
                cached_runs_.push_back({d, d});
            else
                cached_runs_.back().second = d;
    }
    // Unused pool registers of stashed guest registers need no stash.
    std::vector<unsigned> keep;
    for (unsigned r : stashed_) {
        bool used = false;
        for (auto& [d, reg] : cached_) used |= reg.getIdx() == r32(r).getIdx();
        if (used) keep.push_back(r);
    }
    stashed_ = keep;
}

Xbyak::Label& Region::label_of(Word pc) {
    auto it = labels_of_.find(pc);
    if (it != labels_of_.end()) return *it->second;
    Xbyak::Label& l = labels_.emplace_back();
    labels_of_[pc] = &l;
    return l;
}

void Region::jcc(Cond c, Xbyak::Label& l) {
    switch (c) {
    case Cond::s: g_.js(l, Gen::T_NEAR); break;
    case Cond::ns: g_.jns(l, Gen::T_NEAR); break;
    case Cond::z: g_.jz(l, Gen::T_NEAR); break;
    case Cond::nz: g_.jnz(l, Gen::T_NEAR); break;
    case Cond::g: g_.jg(l, Gen::T_NEAR); break;
    case Cond::le: g_.jle(l, Gen::T_NEAR); break;
    }
}

void Region::track_lowest(const State& s) {
    if (!r_.lowest_sp || s.lowest >= s.tracked) return;
    Xbyak::Label higher;
    g_.lea(eax, g_.ptr[kSp32.cvt64() + (s.lowest - s.base)]);
    g_.cmp(eax, g_.dword[rbp + r_.lowest_sp_offset]);
    g_.jae(higher);
    g_.mov(g_.dword[rbp + r_.lowest_sp_offset], eax);
    g_.L(higher);
}

void Region::emit_flags(const State& s) {
    switch (s.flags.kind) {
    case FlagKind::exact: break;
    case FlagKind::reg: {
        const RegState& r = s.regs[s.flags.reg];
        if (r.kind == RegKind::constant)
            g_.mov(kF, r.value);
        else
            g_.mov(kF, where(s, s.flags.reg));
        break;
    }
    case FlagKind::constant: g_.mov(kF, s.flags.value); break;
    case FlagKind::sp: g_.lea(kF, g_.ptr[kSp32.cvt64() + (s.flags.offset - s.base)]); break;
    case FlagKind::compare: {
        // The 16-bit difference shifted to the top.
        const RegState& a = s.regs[s.flags.reg];
        const RegState& b = s.regs[s.flags.other];
        if (a.kind == RegKind::constant)
            g_.mov(kF, a.value);
        else
            g_.mov(kF, where(s, s.flags.reg));
        if (b.kind == RegKind::constant)
            g_.sub(kF, b.value);
        else
            g_.sub(kF, where(s, s.flags.other));
        g_.shl(kF, 16);
        break;
    }
    }
}

// The host flags of the comparison F stands for: SF and ZF as the packed
// F would give them.
void Region::host_compare() {
    const RegState& a = s_.regs[s_.flags.reg];
    const RegState& b = s_.regs[s_.flags.other];
    Xbyak::Reg16 left = where(s_, s_.flags.reg).cvt16();
    if (a.kind == RegKind::constant) {
        g_.mov(eax, a.value);
        left = ax;
    }
    if (b.kind == RegKind::constant)
        g_.cmp(left, int(std::int16_t(b.value)));
    else
        g_.cmp(left, where(s_, s_.flags.other).cvt16());
}

// The pending stack words of s written (code only).
void Region::flush(const State& s, const Kills* dead) {
    for (const auto& [offset, slot] : s.slots) {
        if (!slot.pending || (dead && dead->words.count(offset - s.offset))) continue;
        const Xbyak::Address m = stack_word(s, offset);
        switch (slot.kind) {
        case SlotKind::constant: g_.mov(m, slot.value); break;
        case SlotKind::reg:
            if (s.regs[slot.reg].kind == RegKind::constant)
                g_.mov(m, s.regs[slot.reg].value);
            else
                g_.mov(m, where(s, slot.reg).cvt16());
            break;
        case SlotKind::scratch: g_.mov(m, kScratch[slot.scratch].cvt16()); break;
        case SlotKind::slot: g_.mov(m, Xbyak::Reg16(slot.host)); break;
        case SlotKind::memory: break;
        }
    }
}

// The guest state of s made exact in the host registers, for the next
// block or a way out (code only; the state itself is the caller's). The
// host registers lent to slots keep them.
void Region::materialise(const State& s, const Kills* dead) {
    flush(s, dead);
    if (!dead || !dead->flags) emit_flags(s);
    for (unsigned r = 0; r < image::kRegisterCount; ++r) {
        if ((pinned_ && r == kJumpIndex) || (dead && (dead->regs & (1u << r)))) continue;
        if (s.regs[r].kind == RegKind::constant)
            g_.mov(r32(r), s.regs[r].value);
        else if (s.regs[r].kind == RegKind::copy)
            g_.mov(r32(r), Xbyak::Reg32(s.regs[r].host));
    }
    track_lowest(s);
    if (s.offset != s.base) g_.add(kSp32, s.offset - s.base);
}

// The slots written back (those the region may have changed: nothing but
// a store to it changes a slot held in a register) and the lent host
// registers given back.
void Region::restore_host() {
    for (auto& [d, reg] : cached_)
        if (stored_.count(d)) g_.mov(g_.word[rbx + r64(BP) * 2 + 2 * d], reg.cvt16());
    for (unsigned r : stashed_) g_.mov(r32(r), g_.dword[rbp + offsetof(Context, regs) + 4 * r]);
    if (pinned_) g_.xor_(r32(kJumpIndex), r32(kJumpIndex));
    g_.mov(rdi, g_.qword[rbp + offsetof(Context, table)]);
    if (!r_.counting) g_.mov(rsi, g_.qword[rbp + offsetof(Context, budget)]);
}

void Region::load_reg(unsigned r) {
    if (s_.regs[r].kind == RegKind::copy) {
        g_.mov(r32(r), Xbyak::Reg32(s_.regs[r].host));
        s_.regs[r].kind = RegKind::host;
    }
    if (s_.regs[r].kind != RegKind::constant) return;
    if (pinned_ && r == kJumpIndex) return;  // read as the constant
    g_.mov(r32(r), s_.regs[r].value);
    s_.regs[r].kind = RegKind::host;
}

// The frame slot held in host register `host` is about to change: guest
// registers and pushed words that are copies of it take its value.
void Region::before_slot_write(int host) {
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        if (s_.regs[r].kind == RegKind::copy && s_.regs[r].host == host) load_reg(r);
    save_words([&](const Slot& w) { return w.kind == SlotKind::slot && w.host == host; },
               [&](int offset, Slot& w) { keep(offset, w, Xbyak::Reg32(host), true); });
}

// The pushed words `of` picks, whose value is about to be lost: those the
// block pushes over before reading them are dropped, `save` takes the
// others.
template <class Of, class Save>
void Region::save_words(Of of, Save save) {
    for (auto it = s_.slots.begin(); it != s_.slots.end();) {
        auto& [offset, slot] = *it;
        if (!of(slot)) {
            ++it;
        } else if (overwritten(offset)) {
            it = s_.slots.erase(it);
        } else {
            ++it;
            save(offset, slot);
        }
    }
}

// A pushed word whose value is in `from`, about to change: into a free
// scratch register (when allowed), else memory.
void Region::keep(int offset, Slot& slot, const Xbyak::Reg32& from, bool scratch) {
    int free = -1;
    for (int t = 0; t < 2; ++t)
        if (s_.scratch_owner[t] == INT32_MIN) free = t;
    if (free < 0 || !scratch) {
        write_slot(offset, slot);
        slot.kind = SlotKind::memory;
        return;
    }
    g_.mov(kScratch[free], from);
    s_.scratch_owner[free] = offset;
    slot.kind = SlotKind::scratch;
    slot.scratch = free;
}

void Region::flags_exact() {
    emit_flags(s_);
    s_.flags.kind = FlagKind::exact;
}

void Region::write_slot(int offset, Slot& slot) {
    if (!slot.pending) return;
    State one = s_;
    one.slots.clear();
    one.slots[offset] = slot;
    flush(one);
    slot.pending = false;
}

void Region::flush_pending() {
    flush(s_);
    for (auto& [offset, slot] : s_.slots) slot.pending = false;
}

// Register r is about to change: F and pushed words that still refer to
// its value keep that value.
// Whether the stack word at offset is pushed over, by the instructions
// still to come in the block, before anything reads it or the block can be
// left: its value is not needed.
bool Region::overwritten(int offset) const {
    if (rest_ == SIZE_MAX) return false;
    int at = s_.offset;
    for (std::size_t j = rest_; j < block_->insns.size(); ++j) {
        const Insn& i = block_->insns[j];
        const image::OpInfo& info = *i.info;
        if (info.has(image::DZ | image::BR) || i.op == image::JUMP) return false;
        if (info.has(image::LOAD | image::STORE) && !fixed_operand(i)) return false;
        if (is_binary(i.op) && (i.a == SP || i.a == BP)) return false;
        if (i.op == image::POP) {
            at += 1;
            if (at == offset) return false;
        } else if (info.has(image::PUSH)) {
            if (at == offset) return true;
            at -= 1;
        }
    }
    return false;
}

void Region::before_write(unsigned r, bool sets_flags, bool scratch) {
    if (!sets_flags && ((s_.flags.kind == FlagKind::reg && s_.flags.reg == r) ||
                        (s_.flags.kind == FlagKind::compare && (s_.flags.reg == r || s_.flags.other == r))))
        flags_exact();
    save_words([&](const Slot& w) { return w.kind == SlotKind::reg && w.reg == r; },
               [&](int offset, Slot& w) {
                   if (s_.regs[r].kind == RegKind::constant) {
                       w.kind = SlotKind::constant;
                       w.value = s_.regs[r].value;
                   } else if (s_.regs[r].kind == RegKind::copy) {
                       w.kind = SlotKind::slot;
                       w.host = s_.regs[r].host;
                   } else {
                       keep(offset, w, r32(r), scratch);
                   }
               });
}

void Region::drop_slot(int offset) {
    auto it = s_.slots.find(offset);
    if (it == s_.slots.end()) return;
    if (it->second.kind == SlotKind::scratch) s_.scratch_owner[it->second.scratch] = INT32_MIN;
    s_.slots.erase(it);
}

// sp reaches sp0 + offset (or a word there is used): checked at the entry.
void Region::reach(int offset) {
    stack_low_ = std::min(stack_low_, offset);
    stack_high_ = std::max(stack_high_, offset);
}

// The operand of block[k]: a host register for a slot held in one, else
// memory. False when the instruction is not handled here.
bool Region::operand(const Insn& i, std::size_t k, Xbyak::Address& mem, const Xbyak::Reg32*& reg) {
    const int disp = std::int16_t(i.adr);
    reg = nullptr;
    if (pinned_ && i.x == kJumpIndex && disp < 0) return false;  // 0 + a negative displacement fails
    if (i.x == 0 || (pinned_ && i.x == kJumpIndex)) {
        abs_low_ = std::min(abs_low_, int(i.adr));
        abs_high_ = std::max(abs_high_, int(i.adr));
        mem = g_.word[rbx + int(i.adr) * 2];
        return true;
    }
    if (i.x == SP) return false;
    if (!(written_ & (1u << i.x))) {
        if (i.x == BP)
            if (auto it = cached_.find(disp); it != cached_.end()) {
                reg = &it->second;
                return true;
            }
        if (!indexed_[i.x]) {
            indexed_[i.x] = true;
            low_[i.x] = high_[i.x] = disp;
        }
        low_[i.x] = std::min(low_[i.x], disp);
        high_[i.x] = std::max(high_[i.x], disp);
        mem = g_.word[rbx + r64(i.x) * 2 + 2 * disp];
        return true;
    }
    // A computed address: inside memory, not a slot held in a register and
    // not a stack word whose value is kept elsewhere (else the loop does
    // the instruction, with the state exact).
    load_reg(i.x);
    const Xbyak::Reg64 x = r64(i.x);
    Xbyak::Label& out = stub(Way::interpret, i.pc, budget_ - int(k));
    // A register holds 0..0xFFFF: without a displacement it is inside.
    if (disp != 0) {
        g_.lea(rax, g_.ptr[x + disp]);
        g_.cmp(rax, 0xFFFF);
        g_.ja(out, Gen::T_NEAR);
    }
    // ea - (base + low) <= high - low: between base + low and base + high.
    auto outside = [&](const Xbyak::Reg32& base, int low, int high) {
        g_.lea(eax, g_.ptr[x + (disp - low)]);
        g_.sub(eax, base);
        g_.cmp(eax, high - low);
        g_.jbe(out, Gen::T_NEAR);
    };
    for (auto [low, high] : cached_runs_) outside(r32(BP), low, high);
    int low = INT_MAX, high = INT_MIN;
    for (const auto& [offset, slot] : s_.slots)
        if (slot.kind != SlotKind::memory) {
            low = std::min(low, offset);
            high = std::max(high, offset);
        }
    if (low <= high) outside(kSp32, low - s_.base, high - s_.base);
    mem = g_.word[rbx + x * 2 + 2 * disp];
    return true;
}

// The compiler's comparison and the jump on its outcome:
//   LDI a,v; CMP ..; Jcc over the next; LDI a,w; PUSH a; POP a; Jcc2 t
// as one host jump on the comparison, a being v or w (and the flags its
// value, the stack word it) on each way. False when the code differs.
bool Region::fused(std::size_t& k) {
    const std::vector<Insn>& bl = block_->insns;
    const Insn& first = bl[k];
    const std::size_t j = k + 4;
    if (j + 1 != bl.size()) return false;
    const Insn& ldi = bl[k + 1];
    const Insn& br = bl[j];
    const unsigned a = ldi.a;
    if (bl[k + 2].op != image::PUSH_R || bl[k + 2].a != a || bl[k + 3].op != image::POP || bl[k + 3].a != a ||
        !is_branch(br.op) || s_.regs[a].kind != RegKind::constant ||
        (s_.flags.kind != FlagKind::exact && s_.flags.kind != FlagKind::compare) || (pinned_ && a == kJumpIndex))
        return false;
    const Word skipped = s_.regs[a].value, loaded = ldi.adr;  // a on each way
    const bool jump_skipped = taken_for_value(br.op, skipped), jump_loaded = taken_for_value(br.op, loaded);
    if (jump_skipped == jump_loaded) return false;
    if (s_.flags.kind == FlagKind::compare && first.op == image::JPL) flags_exact();
    if (s_.flags.kind == FlagKind::compare)
        host_compare();
    else if (first.op == image::JPL || g_.getSize() != after_cmp_)
        g_.test(kF, kF);
    const Cond skip = taken_cond(first.op);
    before_write(a, true);
    const int at = s_.offset;
    reach(at);
    reach(at - 1);
    s_.lowest = std::min(s_.lowest, at - 1);
    drop_slot(at);
    auto way = [&](Word v) {
        s_.regs[a] = {RegKind::constant, v};
        s_.flags = {FlagKind::reg, a, 0, 0};
        s_.slots[at] = {SlotKind::constant, v, 0, 0, true};
    };
    // The jump, then the way on; a skip does one instruction less.
    way(jump_skipped ? skipped : loaded);
    const int give_back = budget_ - int(j) - 1;
    jcc(jump_skipped ? skip : negate(skip), stub(Way::internal, br.adr, give_back + (jump_skipped ? 1 : 0)));
    way(jump_skipped ? loaded : skipped);
    if (r_.counting && !jump_skipped) g_.add(rsi, 1);
    after_cmp_ = SIZE_MAX;
    k = j;
    return true;
}

// A conditional jump. Jumping over one LDI to the instruction after it
// becomes conditional moves.
void Region::branch(std::size_t& k) {
    rest_ = SIZE_MAX;  // the ways of a branch are not followed
    const Insn& i = block_->insns[k];
    const std::vector<Insn>& bl = block_->insns;
    const bool over_ldi = k + 1 < bl.size() && bl[k + 1].op == image::LDI && i.adr == Word(i.pc + 4);
    if (over_ldi && fused(k)) return;
    if (over_ldi) {
        const Insn& ldi = bl[k + 1];
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
        if (r_.counting) {  // a skip does one instruction less
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
    const int give_back = budget_ - int(k) - 1;
    auto taken = [&]() -> Xbyak::Label& { return stub(Way::internal, i.adr, give_back); };
    switch (s_.flags.kind) {
    case FlagKind::reg:
    case FlagKind::constant: {
        const bool known = s_.flags.kind == FlagKind::constant || s_.regs[s_.flags.reg].kind == RegKind::constant;
        if (known) {
            const Word v = s_.flags.kind == FlagKind::constant ? s_.flags.value : s_.regs[s_.flags.reg].value;
            if (taken_for_value(i.op, v)) g_.jmp(taken(), Gen::T_NEAR);
            return;
        }
        if (i.op == image::JMI) return;  // SF is clear
        g_.test(where(s_, s_.flags.reg), where(s_, s_.flags.reg));
        jcc(i.op == image::JZE ? Cond::z : Cond::nz, taken());
        return;
    }
    case FlagKind::compare:
        if (i.op == image::JPL) {
            flags_exact();
            break;
        }
        host_compare();
        jcc(taken_cond(i.op), taken());
        return;
    case FlagKind::sp: flags_exact(); break;
    case FlagKind::exact: break;
    }
    if (i.op == image::JPL || g_.getSize() != after_cmp_) g_.test(kF, kF);
    jcc(taken_cond(i.op), taken());
}

// One instruction; false when it is not handled here.
bool Region::insn(std::size_t& k) {
    const Insn& i = block_->insns[k];
    const unsigned a = i.a, x = i.x;
    switch (i.op) {
    case image::NOP: return true;
    case image::LDI:
        before_write(a, true);
        s_.regs[a] = {RegKind::constant, i.adr};
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    case image::LD_R:
        if (x == SP) return false;
        if (a != x) {
            before_write(a, true);
            if (s_.regs[x].kind != RegKind::host)
                s_.regs[a] = s_.regs[x];
            else {
                g_.mov(r32(a), r32(x));
                s_.regs[a].kind = RegKind::host;
            }
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    case image::LAD:
        if (x == 0 || s_.regs[x].kind == RegKind::constant) {
            const Word v = Word((x == 0 ? 0 : s_.regs[x].value) + i.adr);
            before_write(a, false);
            s_.regs[a] = {RegKind::constant, v};
            return true;
        }
        if (x == SP) return false;
        before_write(a, false);
        g_.lea(r32(a), g_.ptr[where(s_, x).cvt64() + int(i.adr)]);
        g_.movzx(r32(a), r16(a));
        s_.regs[a].kind = RegKind::host;
        return true;
    case image::LD_M: {
        Xbyak::Address m = g_.word[rbx];
        const Xbyak::Reg32* reg = nullptr;
        if (!operand(i, k, m, reg)) return false;
        before_write(a, true);
        if (reg) {
            s_.regs[a] = {RegKind::copy, 0, reg->getIdx()};
        } else {
            g_.movzx(r32(a), m);
            s_.regs[a].kind = RegKind::host;
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    case image::ST: {
        Xbyak::Address m = g_.word[rbx];
        const Xbyak::Reg32* reg = nullptr;
        if (!operand(i, k, m, reg)) return false;
        if (reg) {
            before_slot_write(reg->getIdx());
            if (s_.regs[a].kind == RegKind::constant)
                g_.mov(*reg, s_.regs[a].value);
            else
                g_.mov(*reg, where(s_, a));
        } else if (s_.regs[a].kind == RegKind::constant) {
            g_.mov(m, s_.regs[a].value);
        } else {
            g_.mov(m, where(s_, a).cvt16());
        }
        return true;
    }
    case image::CMP_R:
    case image::CMP_M: {
        if (a == SP || (i.op == image::CMP_R && x == SP)) return false;
        Xbyak::Address m = g_.word[rbx];
        const Xbyak::Reg32* reg = nullptr;
        if (i.op == image::CMP_M && !operand(i, k, m, reg)) return false;
        if (i.op == image::CMP_R) {
            s_.flags = {FlagKind::compare, a, 0, 0, x};
            return true;
        }
        // F is about to be replaced: nothing reads the old one.
        if (s_.regs[a].kind == RegKind::constant)
            g_.mov(kF, s_.regs[a].value);
        else
            g_.mov(kF, where(s_, a));
        if (reg)
            g_.sub(Xbyak::Reg16(15), reg->cvt16());
        else
            g_.sub(Xbyak::Reg16(15), m);
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
        if (!memory && x == SP) return false;
        // idiv takes eax, ecx and edx: pushed words kept there go to memory.
        for (auto& [offset, slot] : s_.slots)
            if (slot.kind == SlotKind::scratch) {
                write_slot(offset, slot);
                slot.kind = SlotKind::memory;
            }
        s_.scratch_owner[0] = s_.scratch_owner[1] = INT32_MIN;
        const int divisor = !memory && s_.regs[x].kind == RegKind::constant ? std::int16_t(s_.regs[x].value) : 0;
        if (divisor > 1 && (divisor & (divisor - 1)) == 0) {
            // By 2^n: the quotient rounds toward zero (a negative dividend
            // gets 2^n - 1 added first), the remainder keeps its sign.
            const int n = __builtin_ctz(unsigned(divisor));
            before_write(a, true, false);
            load_reg(a);
            g_.movsx(eax, r16(a));
            g_.mov(ecx, eax);
            g_.sar(ecx, 31);
            g_.shr(ecx, 32 - n);
            g_.add(ecx, eax);
            if (i.op == image::DIV_R) {
                g_.sar(ecx, n);
                g_.movzx(r32(a), cx);
            } else {
                g_.and_(ecx, -divisor);
                g_.sub(eax, ecx);
                g_.movzx(r32(a), ax);
            }
            s_.regs[a].kind = RegKind::host;
            s_.flags = {FlagKind::reg, a, 0, 0};
            return true;
        }
        if (memory) {
            Xbyak::Address m = g_.word[rbx];
            const Xbyak::Reg32* reg = nullptr;
            if (!operand(i, k, m, reg)) return false;
            if (reg)
                g_.movsx(ecx, reg->cvt16());
            else
                g_.movsx(ecx, m);
        } else if (s_.regs[x].kind == RegKind::constant) {
            g_.mov(ecx, int(std::int16_t(s_.regs[x].value)));
        } else {
            g_.movsx(ecx, where(s_, x).cvt16());
        }
        g_.test(ecx, ecx);
        g_.jz(stub(Way::interpret, i.pc, budget_ - int(k)), Gen::T_NEAR);
        before_write(a, true, false);
        load_reg(a);
        if (s_.regs[a].kind == RegKind::constant)
            g_.mov(eax, int(std::int16_t(s_.regs[a].value)));
        else
            g_.movsx(eax, r16(a));
        g_.cdq();
        g_.idiv(ecx);
        g_.movzx(r32(a), i.op == image::DIV_M || i.op == image::DIV_R ? ax : dx);
        s_.regs[a].kind = RegKind::host;
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    case image::JMI:
    case image::JNZ:
    case image::JZE:
    case image::JPL: branch(k); return true;
    case image::PUSH_R:
    case image::PUSH_M: {
        if (i.op == image::PUSH_R && a == SP) return false;
        const int at = s_.offset;
        if (i.op == image::PUSH_M) {
            Xbyak::Address m = g_.word[rbx];
            const Xbyak::Reg32* reg = nullptr;
            if (!operand(i, k, m, reg)) return false;
            drop_slot(at);
            if (reg) {
                s_.slots[at] = {SlotKind::slot, 0, 0, 0, true, reg->getIdx()};
            } else {
                g_.movzx(eax, m);
                g_.mov(stack_word(s_, at), ax);
            }
        } else if (s_.regs[a].kind == RegKind::constant) {
            drop_slot(at);
            s_.slots[at] = {SlotKind::constant, s_.regs[a].value, 0, 0, true};
        } else if (s_.regs[a].kind == RegKind::copy) {
            drop_slot(at);
            s_.slots[at] = {SlotKind::slot, 0, 0, 0, true, s_.regs[a].host};
        } else {
            drop_slot(at);
            s_.slots[at] = {SlotKind::reg, 0, a, 0, true};
        }
        if (std::count_if(s_.slots.begin(), s_.slots.end(), [](const auto& w) { return w.second.pending; }) >
            int(kMaxPending))
            flush_pending();
        reach(at);
        s_.offset = at - 1;
        reach(s_.offset);
        s_.lowest = std::min(s_.lowest, s_.offset);
        return true;
    }
    case image::POP: {
        const int at = s_.offset + 1;
        reach(at);
        s_.offset = at;
        Slot slot;
        if (auto it = s_.slots.find(at); it != s_.slots.end()) slot = it->second;
        if (slot.kind == SlotKind::reg && slot.reg == a) {
            // the value is already there
        } else {
            before_write(a, true);
            if (auto it = s_.slots.find(at); it != s_.slots.end()) slot = it->second;
            switch (slot.kind) {
            case SlotKind::constant: s_.regs[a] = {RegKind::constant, slot.value}; break;
            case SlotKind::reg:
                if (s_.regs[slot.reg].kind != RegKind::host) {
                    s_.regs[a] = s_.regs[slot.reg];
                } else {
                    g_.mov(r32(a), r32(slot.reg));
                    s_.regs[a].kind = RegKind::host;
                }
                break;
            case SlotKind::scratch:
                g_.mov(r32(a), kScratch[slot.scratch]);
                s_.regs[a].kind = RegKind::host;
                break;
            case SlotKind::memory:
                g_.movzx(r32(a), stack_word(s_, at));
                s_.regs[a].kind = RegKind::host;
                break;
            case SlotKind::slot: s_.regs[a] = {RegKind::copy, 0, slot.host}; break;
            }
            // The word below sp keeps its value, now that of GRa.
            if (auto it = s_.slots.find(at); it != s_.slots.end()) {
                Slot& w = it->second;
                if (w.kind == SlotKind::scratch) s_.scratch_owner[w.scratch] = INT32_MIN;
                if (s_.regs[a].kind == RegKind::constant)
                    w = {SlotKind::constant, s_.regs[a].value, 0, 0, w.pending};
                else if (s_.regs[a].kind == RegKind::copy)
                    w = {SlotKind::slot, 0, 0, 0, w.pending, s_.regs[a].host};
                else
                    w = {SlotKind::reg, 0, a, 0, w.pending};
            }
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    default: break;
    }
    if (is_binary(i.op)) {
        const bool reg_form = is_register_form(i.op);
        if (reg_form && x == SP) return false;
        if (a == SP) {  // sp moved by a known amount: ADD sp,GRx after LDI GRx,n
            if (!reg_form || s_.regs[x].kind != RegKind::constant || (i.op != image::ADD_R && i.op != image::SUB_R))
                return false;
            const int n = std::int16_t(s_.regs[x].value);
            s_.offset += i.op == image::ADD_R ? n : -n;
            reach(s_.offset);
            s_.lowest = std::min(s_.lowest, s_.offset);
            s_.flags = {FlagKind::sp, 0, 0, s_.offset};
            return true;
        }
        Xbyak::Address m = g_.word[rbx];
        const Xbyak::Reg32* reg = nullptr;
        if (!reg_form && !operand(i, k, m, reg)) return false;
        before_write(a, true);
        load_reg(a);
        const Xbyak::Reg16 A = r16(a);
        const bool imm = reg_form && s_.regs[x].kind == RegKind::constant;
        // As a signed 16-bit immediate: the assembler takes 0x8000-0xFFFF
        // for a 16-bit operand only that way.
        const int v = imm ? int(std::int16_t(s_.regs[x].value)) : 0;
        Xbyak::Reg16 src = reg_form ? where(s_, x).cvt16() : (reg ? reg->cvt16() : Xbyak::Reg16());
        const Xbyak::Operand& o = reg_form || reg ? static_cast<const Xbyak::Operand&>(src) : m;
        switch (i.op & ~1u) {
        case image::ADD_M: if (imm) g_.add(A, v); else g_.add(A, o); break;
        case image::SUB_M: if (imm) g_.sub(A, v); else g_.sub(A, o); break;
        case image::MUL_M: if (imm) g_.imul(A, A, v); else g_.imul(A, o); break;
        case image::AND_M: if (imm) g_.and_(A, v); else g_.and_(A, o); break;
        case image::OR_M: if (imm) g_.or_(A, v); else g_.or_(A, o); break;
        default: if (imm) g_.xor_(A, v); else g_.xor_(A, o); break;
        }
        s_.flags = {FlagKind::reg, a, 0, 0};
        return true;
    }
    return false;
}

// Continue at target with the state exact but for the slots in registers:
// the region's block there, or a way out.
// The last edge of a block may fall into the next block instead of
// jumping: the block there is emitted right after.
void Region::edge(Word target, int give_back, bool last) {
    if (r_.counting && give_back > 0) g_.add(rsi, give_back);
    if (leaders_.count(target)) {
        auto it = offset_in_.find(target);
        const std::size_t need = bytes_for(target);
        if (it == offset_in_.end() && g_.getSize() - start_size_ + reserved_ + need <= r_.room) {
            reserved_ += need;
            offset_in_[target] = s_.offset;
            queue_.push_back(target);
            it = offset_in_.find(target);
        }
        if (it != offset_in_.end() && it->second == s_.offset) {
            const Kills dead = kills(target);
            materialise(s_, &dead);
            if (last && !emitted_.count(target) && !next_) {
                next_ = target;  // emitted from here on
                return;
            }
            g_.jmp(label_of(target), Gen::T_NEAR);
            return;
        }
    }
    materialise(s_);
    restore_host();
    r_.goto_fixed(target);
}

// Leaves the region with the state exact.
void Region::leave(Way way, Word pc, int give_back) {
    materialise(s_);
    restore_host();
    if (r_.counting && give_back > 0) g_.add(rsi, give_back);
    if (way == Way::fixed && pc != r_.entry && pc != first_) {
        r_.goto_fixed(pc);
    } else {
        g_.mov(eax, pc);
        g_.mov(ecx, way == Way::budget ? kBudget : kInterpret);  // the loop does pc
        g_.jmp(r_.exit, Gen::T_NEAR);
    }
}

void Region::emit_stub(const Stub& st) {
    g_.L(*st.label);
    s_ = st.state;
    if (st.way == Way::internal)
        edge(st.pc, st.give_back);
    else
        leave(st.way, st.pc, st.give_back);
}

void Region::emit_block(Word start) {
    const Block b = scan(start);
    block_ = &b;
    budget_ = int(b.insns.size());
    emitted_.insert(start);
    s_ = State{};
    s_.offset = s_.base = s_.lowest = s_.tracked = offset_in_.at(start);
    if (pinned_) s_.regs[kJumpIndex] = {RegKind::constant, 0};
    after_cmp_ = SIZE_MAX;
    g_.L(label_of(start));
    if (r_.counting && budget_ > 0) {
        g_.cmp(rsi, budget_);
        g_.jb(stub(Way::budget, start, 0), Gen::T_NEAR);
        g_.sub(rsi, budget_);
    }
    bool ended = false;
    for (std::size_t k = 0; k < b.insns.size() && !ended; ++k) {
        const Insn& i = b.insns[k];
        if (i.op == image::JUMP) {
            edge(i.adr, 0, true);
            ended = true;
            continue;
        }
        rest_ = k + 1;
        if (!insn(k)) {
            leave(Way::fixed, i.pc, budget_ - int(k));
            ended = true;
        }
    }
    if (!ended) {
        if (b.end == Block::branch)
            edge(Word(b.insns.back().pc + 2), 0, true);
        else if (b.end == Block::stop)
            leave(Way::fixed, b.next, 0);
        else
            edge(b.next, 0, true);
    }
    block_ = nullptr;
}

// What the region assumed, checked at its entry; then the slots loaded.
void Region::entry_checks(Xbyak::Label& fail) {
    if (pinned_) {
        g_.test(r32(kJumpIndex), r32(kJumpIndex));
        g_.jnz(fail, Gen::T_NEAR);
    }
    if (!cached_.empty()) {
        const unsigned b = BP;
        if (!indexed_[b]) {
            indexed_[b] = true;
            low_[b] = cached_low_;
            high_[b] = cached_high_;
        }
        low_[b] = std::min(low_[b], cached_low_);
        high_[b] = std::max(high_[b], cached_high_);
    }
    // A register holds 0..0xFFFF, so reg + d stays inside memory when
    // reg >= -d for the lowest d below 0 and reg <= 0xFFFF - d for the
    // highest d above 0.
    auto bounds = [&](const Xbyak::Reg32& reg, int low, int high) {
        if (low < 0) {
            g_.cmp(reg, -low);
            g_.jb(fail, Gen::T_NEAR);
        }
        if (high > 0) {
            g_.cmp(reg, 0xFFFF - high);
            g_.ja(fail, Gen::T_NEAR);
        }
    };
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        if (indexed_[r] && r != SP) bounds(r32(r), low_[r], high_[r]);
    bounds(kSp32, stack_low_, stack_high_);

    // Ranges [reg + low, reg + high] (reg -1: absolute) that must not
    // overlap: the slots held in registers against every other fixed
    // operand and the stack; the stack against every fixed operand.
    struct Range {
        int reg;
        int low, high;
    };
    std::vector<Range> fixed;
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        if (indexed_[r] && r != SP && r != BP) fixed.push_back({int(r), low_[r], high_[r]});
    if (abs_low_ <= abs_high_) fixed.push_back({-1, abs_low_, abs_high_});
    const Range stack{int(SP), stack_low_, stack_high_};
    const Range slots{int(BP), cached_low_, cached_high_};
    auto value = [&](const Xbyak::Reg32& to, const Range& r, int d) {
        if (r.reg < 0)
            g_.mov(to, d);
        else
            g_.lea(to, g_.ptr[r64(unsigned(r.reg)) + d]);
    };
    auto apart = [&](const Range& x, const Range& y) {
        Xbyak::Label ok;
        value(eax, x, x.high);
        value(ecx, y, y.low);
        g_.cmp(eax, ecx);
        g_.jl(ok);
        value(eax, y, y.high);
        value(ecx, x, x.low);
        g_.cmp(eax, ecx);
        g_.jge(fail, Gen::T_NEAR);
        g_.L(ok);
    };
    // After a prologue bp is sp: ranges from both are apart or not as
    // their displacements say.
    auto apart_from_stack = [&](const Range& x) {
        if (!prologue_)
            apart(x, stack);
        else if (!(x.high < stack.low || stack.high < x.low))
            g_.jmp(fail, Gen::T_NEAR);
    };
    const bool uses_stack = stack_low_ < stack_high_;
    if (!cached_.empty()) {
        for (const Range& f : fixed) apart(slots, f);
        if (uses_stack) apart_from_stack(slots);
    }
    if (uses_stack) {
        for (const Range& f : fixed) apart(stack, f);
        if (indexed_[BP]) apart_from_stack(Range{int(BP), low_[BP], high_[BP]});
    }
    for (unsigned r : stashed_) g_.mov(g_.dword[rbp + offsetof(Context, regs) + 4 * r], r32(r));
    for (auto& [d, reg] : cached_) g_.movzx(reg, g_.word[rbx + r64(BP) * 2 + 2 * d]);
}

// PUSH bp; LD bp,sp, exactly: their steps paid (or the loop does them),
// the word pushed, sp moved and recorded, bp and F set.
void Region::emit_prologue() {
    if (r_.counting) {
        Xbyak::Label paid;
        g_.cmp(rsi, 2);
        g_.jae(paid);
        g_.mov(eax, r_.entry);
        g_.mov(ecx, kBudget);
        g_.jmp(r_.exit, Gen::T_NEAR);
        g_.L(paid);
        g_.sub(rsi, 2);
    }
    g_.mov(g_.word[rbx + kSp32.cvt64() * 2], r16(BP));
    g_.dec(kSp32.cvt16());
    if (r_.lowest_sp) {
        Xbyak::Label higher;
        g_.cmp(kSp32, g_.dword[rbp + r_.lowest_sp_offset]);
        g_.jae(higher);
        g_.mov(g_.dword[rbp + r_.lowest_sp_offset], kSp32);
        g_.L(higher);
    }
    g_.mov(r32(BP), kSp32);
    g_.mov(kF, r32(BP));
}

bool Region::emit() {
    const Insn p0 = r_.decode(r_.entry);
    if (p0.native && p0.op == image::PUSH_R && p0.a == BP && std::size_t(r_.entry) + 1 < r_.n) {
        const Insn p1 = r_.decode(Word(r_.entry + 1));
        prologue_ = p1.native && p1.op == image::LD_R && p1.a == BP && p1.x == SP;
    }
    first_ = prologue_ ? Word(r_.entry + 2) : r_.entry;
    if (first_ >= r_.n || !handled(r_.decode(first_))) return false;
    discover();
    if (order_.size() == 1 && !prologue_) {
        // One block that does not loop: the first tier does as well.
        const Block b = scan(first_);
        if (b.end == Block::stop || b.insns.empty() || b.insns.back().adr != first_ ||
            !(b.end == Block::jump || b.end == Block::branch))
            return false;
    }
    allocate();
    if (written_ & (1u << BP)) return false;
    // Jumps indexed by GR3 count on its staying 0.
    if (!pinned_)
        for (Word l : order_)
            for (const Insn& i : scan(l).insns)
                if (i.x == kJumpIndex && (is_branch(i.op) || i.op == image::JUMP)) return false;

    start_size_ = g_.getSize();
    reserved_ = kBlockBytes + bytes_for(first_);  // the entry's checks and block
    if (reserved_ > r_.room) return false;
    offset_in_[first_] = 0;
    queue_.push_back(first_);
    // Chains of blocks, each falling into the next, then the ways out of
    // the chain's blocks (out of the straight line).
    for (std::size_t q = 0; q < queue_.size(); ++q) {
        std::size_t chain = 0;  // bytes reserved for the chain's blocks
        for (std::optional<Word> b = queue_[q]; b && !emitted_.count(*b);) {
            next_.reset();
            emit_block(*b);
            chain += bytes_for(*b);
            b = next_;
        }
        for (std::size_t n = 0; n < stubs_.size(); ++n) {
            const Stub st = stubs_[n];
            emit_stub(st);
        }
        stubs_.clear();
        reserved_ -= chain;
    }

    g_.L(r_.entry_label);
    // When a check after a prologue fails, the first tier goes on after it.
    Xbyak::Label& fail = prologue_ ? labels_.emplace_back() : r_.tier1;
    if (prologue_) emit_prologue();
    entry_checks(fail);
    g_.jmp(label_of(first_), Gen::T_NEAR);
    if (prologue_) {
        g_.L(fail);
        r_.goto_fixed(first_);
    }
    return true;
}

}  // namespace

bool emit_tier2(Tier2Region& r) {
    Region region(r);
    return region.emit();
}

}  // namespace vm::native

#endif  // VEXL_NATIVE_X86_64
