// The translating engine for x86-64.
//
// Execution reaches an address, the engine translates the block that starts
// there (straight-line code up to an unconditional jump, a call, a return,
// an instruction it leaves to the loop, or kMaxBlock instructions), records
// the host code in a table indexed by pc and runs it. A jump to a fixed
// address goes straight to the block there once that block exists: until
// then it leaves through the dispatcher, and translating the target patches
// the jump. Computed targets (returns, jumps through a register) look the
// table up at run time.
//
// Register conventions inside translated code:
//   r8d-r14d  GR0-GR4, bp, sp (16-bit values, upper bits always zero)
//   r15d      the flags F: ZF is F == 0 and SF is F < 0 (signed). An
//             instruction that sets ZF and clears SF copies its result into
//             F; CMP stores its 16-bit difference shifted left by 16.
//   rbx       data memory, rdi the pc table, rbp the run context
//   rsi       the remaining step budget (step-counted runs only)
//   rax, rcx, rdx scratch
// Translated code never calls out. Whatever it does not translate, it
// leaves to the machine's own loop for one step with the state exactly as
// the loop would have it before that instruction: input and output, and
// every instruction that fails (a register number 7-15, an operand word past
// the code, an effective address out of range, a zero divisor, an undefined
// opcode). The loop then does the instruction and its partial effects, or
// writes the error and the dump, and translated code carries on after it.
//
// Code memory is mapped writable or executable, never both, and bounded:
// when it fills up, all translations are dropped and made anew.
#include "engine.h"

#if defined(VEXL_NATIVE_X86_64)

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include <xbyak/xbyak.h>

#include "x86_block.h"

namespace vm::native {

namespace {

using image::Form;
using image::Opcode;

constexpr std::size_t kCodeBytes = std::size_t(16) << 20;  // bound of the code memory
constexpr std::size_t kBlockBytes = std::size_t(64) << 10;  // more than one block ever takes
constexpr int kMaxBlock = 64;                                // instructions per block
constexpr std::size_t kPcs = 65536;
constexpr int kBlocksAtOnce = 1024;  // blocks translated in one go at most
constexpr int kReturnStackBytes = 64 << 10;  // host stack for the return entries of calls

// The run context translated code loads from and stores back to (rbp).
struct Context {
    std::uint32_t regs[image::kRegisterCount];
    std::uint32_t flags;
    std::uint32_t pc;
    std::uint32_t reason;
    std::uint64_t budget;
    std::uint32_t lowest_sp;  // for Stats (runs with stats only)
    std::uint64_t entry_rsp;  // the host stack at entry, restored at exit
    std::uint64_t call_limit; // below it calls take no more return entries
    Word* mem;
    void** table;
};

std::uint32_t flags_word(bool zf, bool sf) { return zf ? 0 : sf ? 0x80000000u : 1; }

bool is_output_or_input(unsigned op) { return op >= 0xF0; }

// Code memory and the pc table. Mapping them costs more than a short run,
// so a run hands them on to the next run on the same thread.
struct CodeSpace {
    std::uint8_t* code = nullptr;
    void** table = static_cast<void**>(std::calloc(kPcs, sizeof(void*)));
    CodeSpace() {
        void* p = mmap(nullptr, kCodeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) code = static_cast<std::uint8_t*>(p);
    }
    ~CodeSpace() {
        std::free(table);
        if (code) munmap(code, kCodeBytes);
    }
    // The entry and exit stubs at the start of the code, made by the first run.
    std::size_t stubs_end = 0;
    const void* enter = nullptr;
    const void* exit = nullptr;
    const void* exit_dispatch = nullptr;
    CodeSpace(const CodeSpace&) = delete;
    CodeSpace& operator=(const CodeSpace&) = delete;
    bool usable() const { return code && table; }
};
thread_local std::unique_ptr<CodeSpace> t_spare_space;

class Engine {
public:
    Engine(Machine& m, bool counting, bool lowest_sp, int tier);
    ~Engine();
    bool ready() const { return enter_ != nullptr; }
    RunResult run(const Limits* limits, Stats* stats);

private:
    using Gen = Xbyak::CodeGenerator;
    using Enter = void (*)(Context*, const void*);

    bool writable(bool yes);
    void emit_stubs();
    const void* translate(Word pc);
    void flush();
    Insn decode(Word pc) const;
    void emit_block(Word start);
    void emit_insn(const std::vector<Insn>& block, std::size_t& k);
    Xbyak::Address operand(const Insn& i, int k);
    Xbyak::Label& side_exit(const Insn& i, int k);
    void goto_fixed(Word target);
    void goto_target(const Insn& i);
    void dispatch_dynamic();
    void sync_to_machine();
    void sync_from_machine();
    void track_sp();
    RunResult loop_step(const Limits& limits);

    Machine& m_;
    const std::vector<Word>& code_;
    const std::size_t n_;
    const bool counting_;
    const bool lowest_sp_;
    const int tier_;  // 2: blocks also get the second tier's version
    std::unique_ptr<CodeSpace> space_;
    std::uint8_t* mem_ = nullptr;  // the code mapping, kCodeBytes
    void** table_ = nullptr;       // host code per pc, null until translated
    std::unique_ptr<Gen> gen_;
    std::vector<Word> translated_;
    std::vector<Word> work_;  // blocks to translate next
    // Jumps to a fixed pc without a translation yet: the 5-byte "mov eax,pc"
    // that starts each is patched into a direct jump once it exists.
    std::unordered_map<Word, std::vector<std::uint8_t*>> pending_;
    Enter enter_ = nullptr;  // null: the engine cannot run
    const void* exit_ = nullptr;           // eax = pc, ecx = reason
    const void* exit_dispatch_ = nullptr;  // eax = pc
    std::size_t stubs_end_ = 0;
    Context ctx_{};
    // ZF and SF both set: no instruction does that, but a machine may be
    // handed over so. F cannot hold it, so the loop runs until a flag changes.
    bool both_flags_ = false;
    std::uint64_t room_ = Limits::kNone;  // output the run may still write
    std::uint64_t bytes_ = 0;             // output written so far

    // State of the block being emitted.
    Word block_pc_ = 0;
    int block_native_ = 0;
    Xbyak::Label* block_start_ = nullptr;
    std::deque<Xbyak::Label> labels_;
    struct SideExit {
        Xbyak::Label* label;
        Word pc;
        int executed;
    };
    std::vector<SideExit> side_exits_;
    bool shifted_flags_ = false;  // the host's ZF and SF follow F (just after CMP)
};

// The guest flags' host register.
const Xbyak::Reg32 kF(15);
const Xbyak::Reg16 kSp16(8 + image::SP);
const Xbyak::Reg64 kSp64(8 + image::SP);

Engine::Engine(Machine& m, bool counting, bool lowest_sp, int tier)
    : m_(m), code_(m.code()), n_(m.code().size()), counting_(counting), lowest_sp_(lowest_sp), tier_(tier),
      space_(std::move(t_spare_space)) {
    if (!space_) space_ = std::make_unique<CodeSpace>();
    if (!space_->usable()) return;
    mem_ = space_->code;
    table_ = space_->table;
    try {
        gen_ = std::make_unique<Gen>(kCodeBytes, mem_);
        gen_->setDefaultJmpNEAR(true);
        if (space_->stubs_end == 0) {
            if (!writable(true)) return;
            emit_stubs();
            if (!writable(false)) return;
            space_->stubs_end = stubs_end_;
            space_->enter = reinterpret_cast<const void*>(enter_);
            space_->exit = exit_;
            space_->exit_dispatch = exit_dispatch_;
        }
        gen_->setSize(space_->stubs_end);
    } catch (const std::exception&) {
        return;
    }
    stubs_end_ = space_->stubs_end;
    enter_ = reinterpret_cast<Enter>(const_cast<void*>(space_->enter));
    exit_ = space_->exit;
    exit_dispatch_ = space_->exit_dispatch;
}

Engine::~Engine() {
    gen_.reset();
    if (!space_->usable()) return;
    for (Word pc : translated_) table_[pc] = nullptr;
    if (!t_spare_space) t_spare_space = std::move(space_);
}

bool Engine::writable(bool yes) {
    return mprotect(mem_, kCodeBytes, yes ? PROT_READ | PROT_WRITE : PROT_READ | PROT_EXEC) == 0;
}

// The way in (enter: context, block) and the way out (exit: eax = pc,
// ecx = reason), each moving the guest state between the context and the
// host registers.
void Engine::emit_stubs() {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    enter_ = g.getCurr<Enter>();
    for (const auto& r : {rbx, rbp, r12, r13, r14, r15}) g.push(r);
    g.mov(rbp, rdi);
    g.mov(rax, rsi);
    // Calls push (return pc, host return address) pairs on the host stack,
    // so that a return to the pc of the top pair returns on the host too
    // (which the processor predicts). An impossible pc marks the bottom.
    g.mov(g.qword[rbp + offsetof(Context, entry_rsp)], rsp);
    g.lea(rcx, g.ptr[rsp - kReturnStackBytes]);
    g.mov(g.qword[rbp + offsetof(Context, call_limit)], rcx);
    g.push(-1);
    g.push(0);
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        g.mov(r32(r), g.dword[rbp + offsetof(Context, regs) + 4 * r]);
    g.mov(kF, g.dword[rbp + offsetof(Context, flags)]);
    g.mov(rbx, g.qword[rbp + offsetof(Context, mem)]);
    g.mov(rdi, g.qword[rbp + offsetof(Context, table)]);
    g.mov(rsi, g.qword[rbp + offsetof(Context, budget)]);
    g.jmp(rax);

    exit_dispatch_ = g.getCurr();
    g.mov(ecx, kDispatch);
    exit_ = g.getCurr();
    g.mov(g.dword[rbp + offsetof(Context, pc)], eax);
    g.mov(g.dword[rbp + offsetof(Context, reason)], ecx);
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        g.mov(g.dword[rbp + offsetof(Context, regs) + 4 * r], r32(r));
    g.mov(g.dword[rbp + offsetof(Context, flags)], kF);
    g.mov(g.qword[rbp + offsetof(Context, budget)], rsi);
    g.mov(rsp, g.qword[rbp + offsetof(Context, entry_rsp)]);
    for (const auto& r : {r15, r14, r13, r12, rbp, rbx}) g.pop(r);
    g.ret();
    stubs_end_ = g.getSize();
}

void Engine::flush() {
    for (Word pc : translated_) table_[pc] = nullptr;
    translated_.clear();
    pending_.clear();
    gen_->setSize(stubs_end_);
}

// Fields an instruction uses must name registers 0-6 and its operand word
// must lie inside the code; otherwise the loop does (and fails) it.
Insn Engine::decode(Word pc) const {
    const Word w = code_[pc];
    Insn i{pc, image::opcode_of(w), image::field_r(w), image::field_x(w), 0, 1, false};
    const image::OpInfo& info = image::op_info(i.op);
    if (!info.defined() || i.op == image::OUTS || is_output_or_input(i.op)) return i;
    i.words = info.words;
    if (i.words == 2) {
        if (std::size_t(pc) + 1 >= n_) return i;
        i.adr = code_[std::size_t(pc) + 1];
    }
    constexpr unsigned kReg = image::kRegisterCount;
    bool uses_a = false, uses_x = false;
    switch (info.form) {
    case Form::M:
    case Form::R: uses_a = uses_x = true; break;
    case Form::I:
    case Form::S: uses_a = true; break;
    case Form::J:
    case Form::A: uses_x = true; break;
    default: break;
    }
    i.native = !(uses_a && i.a >= kReg) && !(uses_x && i.x >= kReg);
    return i;
}

// Translates the block at pc and, while the code memory is writable anyway
// (switching costs more than translating), the blocks it leads to.
const void* Engine::translate(Word pc) {
    try {
        if (gen_->getSize() + kBlockBytes > kCodeBytes) flush();
        if (!writable(true)) return nullptr;
        work_.assign(1, pc);
        for (int count = 0; !work_.empty() && count < kBlocksAtOnce; ++count) {
            const Word next = work_.back();
            work_.pop_back();
            if (next >= n_ || table_[next]) continue;
            if (gen_->getSize() + kBlockBytes > kCodeBytes) break;
            emit_block(next);
        }
    } catch (const std::exception&) {
        writable(false);
        return nullptr;
    }
    if (!writable(false)) return nullptr;
    return table_[pc];
}

void Engine::emit_block(Word start) {
    Gen& g = *gen_;
    std::vector<Insn> block;
    bool falls_through = false;
    std::size_t next = start;
    for (;;) {
        const Insn i = decode(Word(next));
        block.push_back(i);
        if (!i.native || i.op == image::JUMP || i.op == image::CALL || i.op == image::RET) break;
        next += i.words;
        if (next > 0xFFFF || next >= n_ || block.size() == kMaxBlock) {
            falls_through = true;
            break;
        }
    }
    block_pc_ = start;
    block_native_ = int(std::count_if(block.begin(), block.end(), [](const Insn& i) { return i.native; }));
    labels_.clear();
    side_exits_.clear();
    shifted_flags_ = false;

    std::uint8_t* entry = const_cast<std::uint8_t*>(g.getCurr());
    Xbyak::Label& start_label = labels_.emplace_back();
    block_start_ = &start_label;
    if (tier_ >= 2 && block_native_ > 0) {
        // The second tier's version first; its entry falls back to this
        // tier's version (below) when its assumptions do not hold.
        Xbyak::Label& tier1 = labels_.emplace_back();
        Tier2Block t2{g, block, falls_through, Word(next), start, block_native_, counting_, lowest_sp_,
                      int(offsetof(Context, lowest_sp)), exit_, start_label, tier1,
                      [&](std::size_t k) {
                          shifted_flags_ = false;
                          emit_insn(block, k);
                          shifted_flags_ = false;
                          return k;
                      },
                      [&](std::size_t k) { goto_target(block[k]); },
                      [&](Word pc) { goto_fixed(pc); }};
        emit_tier2(t2);
        entry = const_cast<std::uint8_t*>(start_label.getAddress());
        g.L(tier1);
    } else {
        g.L(start_label);
    }
    Xbyak::Label& budget = labels_.emplace_back();
    if (counting_ && block_native_ > 0) {
        g.cmp(Xbyak::util::rsi, block_native_);
        g.jb(budget);
        g.sub(Xbyak::util::rsi, block_native_);
    }
    for (std::size_t k = 0; k < block.size(); ++k) emit_insn(block, k);
    if (falls_through) goto_fixed(Word(next));

    // Out of line: leaving for the loop at an instruction, with the budget
    // of the instructions not done given back.
    for (const SideExit& s : side_exits_) {
        g.L(*s.label);
        if (counting_ && block_native_ > s.executed) g.add(Xbyak::util::rsi, block_native_ - s.executed);
        g.mov(Xbyak::util::eax, s.pc);
        g.mov(Xbyak::util::ecx, kInterpret);
        g.jmp(exit_);
    }
    g.L(budget);
    if (counting_ && block_native_ > 0) {
        g.mov(Xbyak::util::eax, start);
        g.mov(Xbyak::util::ecx, kBudget);
        g.jmp(exit_);
    }
    labels_.clear();

    table_[start] = entry;
    translated_.push_back(start);
    if (auto it = pending_.find(start); it != pending_.end()) {
        for (std::uint8_t* site : it->second) {
            const std::int32_t rel = std::int32_t(entry - (site + 5));
            site[0] = 0xE9;  // jmp rel32 over the "mov eax, pc"
            std::memcpy(site + 1, &rel, 4);
        }
        pending_.erase(it);
    }
}

Xbyak::Label& Engine::side_exit(const Insn& i, int k) {
    Xbyak::Label& l = labels_.emplace_back();
    side_exits_.push_back({&l, i.pc, k});
    return l;
}

// The memory operand at the effective address; an index register adds the
// signed address word, and a sum outside 0..0xFFFF leaves for the loop.
Xbyak::Address Engine::operand(const Insn& i, int k) {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    if (i.x == 0) return g.word[rbx + int(i.adr) * 2];
    g.lea(rax, g.ptr[r64(i.x) + int(std::int16_t(i.adr))]);
    g.cmp(rax, 0xFFFF);
    g.ja(side_exit(i, k));
    return g.word[rbx + rax * 2];
}

// Continue at a fixed pc: past the code ends the run, a translated block is
// jumped to directly, any other pc goes through the dispatcher until its
// block exists.
void Engine::goto_fixed(Word target) {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    if (target >= n_) {
        g.mov(eax, target);
        g.jmp(exit_dispatch_);
    } else if (target == block_pc_) {
        g.jmp(*block_start_);
    } else if (table_[target]) {
        g.jmp(table_[target]);
    } else {
        std::uint8_t* site = const_cast<std::uint8_t*>(g.getCurr());
        g.mov(eax, target);  // B8 imm32: five bytes, patched later
        g.jmp(exit_dispatch_);
        pending_[target].push_back(site);
        work_.push_back(target);
    }
}

// eax holds the target pc.
void Engine::dispatch_dynamic() {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    g.mov(rdx, g.qword[rdi + rax * 8]);
    g.test(rdx, rdx);
    g.jz(exit_dispatch_);
    g.jmp(rdx);
}

// Jump and call targets: the address word, or register x plus the address
// word. The compiler indexes every jump with a register that stays 0, so
// that case goes to the fixed address.
void Engine::goto_target(const Insn& i) {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    if (i.x == 0) {
        goto_fixed(i.adr);
        return;
    }
    Xbyak::Label& dynamic = labels_.emplace_back();
    g.test(r32(i.x), r32(i.x));
    g.jnz(dynamic);
    goto_fixed(i.adr);
    g.L(dynamic);
    g.lea(eax, g.ptr[r64(i.x) + int(i.adr)]);
    g.movzx(eax, ax);
    dispatch_dynamic();
}

void Engine::emit_insn(const std::vector<Insn>& block, std::size_t& k) {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    const Insn& i = block[k];
    const int done = int(k);  // native instructions before this one
    if (!i.native) {
        g.mov(eax, i.pc);
        g.mov(ecx, kInterpret);
        g.jmp(exit_);
        // Where the loop is likely to hand back.
        if (const image::OpInfo& info = image::op_info(i.op); info.defined()) {
            std::size_t next = std::size_t(i.pc) + info.words;
            if (i.op == image::OUTS) {
                while (next < n_ && code_[next] != 0) ++next;
                ++next;
            }
            if (next <= 0xFFFF) work_.push_back(Word(next));
        }
        return;
    }
    const auto A = r32(i.a), B = r32(i.x);
    const auto A16 = r16(i.a), B16 = r16(i.x);
    const bool after_cmp = shifted_flags_ && k > 0;
    shifted_flags_ = false;
    auto set_flags = [&](const Xbyak::Reg32& r) { g.mov(kF, r); };
    auto push = [&](const Xbyak::Reg16& v) {
        g.mov(g.word[rbx + kSp64 * 2], v);
        g.dec(kSp16);
    };
    // Unit: PUSH GRa; POP GRb is a move, the pushed word still stored.
    if (!lowest_sp_ && i.op == image::PUSH_R && k + 1 < block.size() && block[k + 1].op == image::POP &&
        block[k + 1].native && i.a != image::SP && block[k + 1].a != image::SP) {
        const unsigned b = block[k + 1].a;
        g.mov(g.word[rbx + kSp64 * 2], A16);
        if (b != i.a) g.mov(r32(b), A);
        set_flags(r32(b));
        ++k;
        return;
    }

    // Runs with stats keep the lowest sp seen after each instruction.
    const bool writes_a = (i.op >= image::LD_M && i.op <= image::LD_R && i.op != image::ST) ||
                          (i.op >= image::ADD_M && i.op <= image::XOR_R) || i.op == image::POP;
    const bool moves_sp = (writes_a && i.a == image::SP) || i.op == image::PUSH_R ||
                          i.op == image::PUSH_M || i.op == image::POP;
    switch (i.op) {
    case image::NOP: break;
    case image::LD_M: g.movzx(A, operand(i, done)); set_flags(A); break;
    case image::ST: g.mov(operand(i, done), A16); break;
    case image::LAD:
        if (i.x == 0) {
            g.mov(A, i.adr);
        } else {
            g.lea(A, g.ptr[r64(i.x) + int(i.adr)]);
            g.movzx(A, A16);
        }
        break;
    case image::LDI: g.mov(A, i.adr); g.mov(kF, i.adr); break;
    case image::LD_R: g.mov(A, B); set_flags(A); break;
#define VEXL_BINARY(M, R, insn)                                                \
    case image::M: g.insn(A16, operand(i, done)); set_flags(A); break;         \
    case image::R: g.insn(A16, B16); set_flags(A); break;
    VEXL_BINARY(ADD_M, ADD_R, add)
    VEXL_BINARY(SUB_M, SUB_R, sub)
    VEXL_BINARY(MUL_M, MUL_R, imul)
    VEXL_BINARY(AND_M, AND_R, and_)
    VEXL_BINARY(OR_M, OR_R, or_)
    VEXL_BINARY(XOR_M, XOR_R, xor_)
#undef VEXL_BINARY
    case image::DIV_M:
    case image::DIV_R:
    case image::MOD_M:
    case image::MOD_R: {
        // A zero divisor leaves for the loop, which reports it.
        if (i.op == image::DIV_M || i.op == image::MOD_M)
            g.movsx(ecx, operand(i, done));
        else
            g.movsx(ecx, B16);
        g.test(ecx, ecx);
        g.jz(side_exit(i, done));
        g.movsx(eax, A16);
        g.cdq();
        g.idiv(ecx);
        g.movzx(A, i.op == image::DIV_M || i.op == image::DIV_R ? ax : dx);
        set_flags(A);
        break;
    }
    case image::CMP_M:
    case image::CMP_R: {
        if (i.op == image::CMP_M) {
            const Xbyak::Address m = operand(i, done);
            g.mov(kF, A);
            g.sub(Xbyak::Reg16(15), m);
        } else {
            g.mov(kF, A);
            g.sub(kF, B);
        }
        g.shl(kF, 16);
        shifted_flags_ = true;
        break;
    }
    case image::JMI:
    case image::JNZ:
    case image::JZE:
    case image::JPL: {
        if (!after_cmp || i.op == image::JPL) g.test(kF, kF);
        Xbyak::Label& not_taken = labels_.emplace_back();
        switch (i.op) {
        case image::JMI: g.jns(not_taken); break;
        case image::JNZ: g.jz(not_taken); break;
        case image::JZE: g.jnz(not_taken); break;
        default: g.jle(not_taken); break;
        }
        if (counting_ && block_native_ > done + 1) g.add(rsi, block_native_ - done - 1);
        goto_target(i);
        g.L(not_taken);
        break;
    }
    case image::JUMP: goto_target(i); break;
    case image::PUSH_M: g.movzx(ecx, operand(i, done)); push(cx); break;
    case image::POP:
        g.inc(kSp16);
        g.movzx(A, g.word[rbx + kSp64 * 2]);
        set_flags(A);
        break;
    case image::PUSH_R: push(A16); break;
    case image::CALL:
        // The return address is pushed before the target is computed.
        g.mov(g.word[rbx + kSp64 * 2], Word(i.pc + 2));
        g.dec(kSp16);
        track_sp();
        work_.push_back(Word(i.pc + 2));  // where the return comes back
        {
            // A host call with the return pc beside it, while the host stack
            // has room; a matching RET returns to the jump after it.
            Xbyak::Label& callee = labels_.emplace_back();
            g.cmp(rsp, g.qword[rbp + offsetof(Context, call_limit)]);
            g.jbe(callee);
            g.push(int(Word(i.pc + 2)));
            g.call(callee);
            goto_fixed(Word(i.pc + 2));
            g.L(callee);
        }
        goto_target(i);
        break;
    case image::RET:
        g.inc(kSp16);
        g.movzx(eax, g.word[rbx + kSp64 * 2]);
        track_sp();
        {
            Xbyak::Label& other = labels_.emplace_back();
            g.cmp(eax, g.dword[rsp + 8]);
            g.jne(other);
            g.ret(8);
            g.L(other);
        }
        dispatch_dynamic();
        break;
    default:  // decode() leaves everything else to the loop
        break;
    }
    if (moves_sp) track_sp();
}

void Engine::track_sp() {
    using namespace Xbyak::util;
    if (!lowest_sp_) return;
    Gen& g = *gen_;
    Xbyak::Label& higher = labels_.emplace_back();
    g.cmp(r32(image::SP), g.dword[rbp + offsetof(Context, lowest_sp)]);
    g.jae(higher);
    g.mov(g.dword[rbp + offsetof(Context, lowest_sp)], r32(image::SP));
    g.L(higher);
}

void Engine::sync_to_machine() {
    for (unsigned r = 0; r < image::kRegisterCount; ++r) m_.set_reg(r, Word(ctx_.regs[r]));
    m_.set_pc(Word(ctx_.pc));
    if (both_flags_)
        m_.set_flags(true, true);
    else
        m_.set_flags(ctx_.flags == 0, std::int32_t(ctx_.flags) < 0);
}

void Engine::sync_from_machine() {
    for (unsigned r = 0; r < image::kRegisterCount; ++r) ctx_.regs[r] = m_.reg(r);
    ctx_.pc = m_.pc();
    ctx_.flags = flags_word(m_.zero_flag(), m_.sign_flag());
    both_flags_ = m_.zero_flag() && m_.sign_flag();
}

// One step, or the rest of the run, by the machine's loop, with the output
// room, the step count and the lowest sp carried over.
RunResult Engine::loop_step(const Limits& limits) {
    sync_to_machine();
    Stats st;
    RunResult r = m_.execute_reference(&limits, counting_ ? &st : nullptr);
    if (counting_) {
        ctx_.budget -= r.steps;
        if (room_ != Limits::kNone) room_ -= st.bytes_written;
        bytes_ += st.bytes_written;
        ctx_.lowest_sp = std::min<std::uint32_t>(ctx_.lowest_sp, 0xFFFFu - std::uint32_t(st.deepest_stack));
    }
    return r;
}

RunResult Engine::run(const Limits* limits, Stats* stats) {
    sync_from_machine();
    ctx_.mem = m_.memory_data();
    ctx_.table = table_;
    ctx_.budget = limits ? limits->max_steps : 0;
    ctx_.lowest_sp = m_.reg(image::SP);
    ctx_.reason = kDispatch;
    room_ = limits ? limits->max_output : Limits::kNone;
    auto finish = [&](RunResult r) {
        r.steps = limits ? limits->max_steps - ctx_.budget : 0;
        if (stats) {
            stats->steps = r.steps;
            stats->deepest_stack = 0xFFFFu - ctx_.lowest_sp;
            stats->bytes_written = bytes_;
        }
        return r;
    };
    for (;;) {
        switch (ctx_.reason) {
        case kDispatch: {
            if (ctx_.pc >= n_) {
                sync_to_machine();
                return finish(RunResult{});
            }
            if (both_flags_) {
                ctx_.reason = kInterpret;
                break;
            }
            const void* code = table_[ctx_.pc];
            if (!code) code = translate(Word(ctx_.pc));
            if (!code) {  // no code memory after all: the loop does the rest
                if (!limits) {
                    sync_to_machine();
                    return m_.execute_reference(nullptr, nullptr);
                }
                return finish(loop_step(Limits{ctx_.budget, room_}));
            }
            enter_(&ctx_, code);
            break;
        }
        case kInterpret: {
            const RunResult r = loop_step(Limits{limits ? std::min<std::uint64_t>(1, ctx_.budget) : 1, room_});
            if (r.end != RunResult::End::step_limit || r.steps == 0) return finish(r);
            sync_from_machine();
            ctx_.reason = kDispatch;
            break;
        }
        default:  // kBudget: fewer steps left than the block holds
            return finish(loop_step(Limits{ctx_.budget, room_}));
        }
    }
}

}  // namespace

bool available() { return true; }

namespace {
int g_tier = 0;  // 0: as VEXL_TIER says
}  // namespace

void force_tier(int tier) { g_tier = tier; }

RunResult execute(Machine& machine, const Limits* limits, Stats* stats) {
    int tier = g_tier;
    if (tier == 0) {
        static const int from_environment = [] {
            const char* t = std::getenv("VEXL_TIER");
            return t && t[0] == '2' && t[1] == 0 ? 2 : 1;
        }();
        tier = from_environment;
    }
    Engine engine(machine, limits != nullptr, stats != nullptr, tier);
    if (!engine.ready()) return machine.execute_reference(limits, stats);
    return engine.run(limits, stats);
}

}  // namespace vm::native

#else  // not x86-64, or no assembler library: the loop runs everything

namespace vm::native {

bool available() { return false; }

void force_tier(int) {}

RunResult execute(Machine& machine, const Limits* limits, Stats* stats) {
    return machine.execute_reference(limits, stats);
}

}  // namespace vm::native

#endif
