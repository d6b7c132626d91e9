// The translating engine for x86-64 (tier 1).
//
// A run starts on the machine's loop, which counts how often execution
// arrives at each address by a taken jump, a call or a return (a profiled
// stretch, Machine::execute_profiled). An address that has arrived
// hot_threshold() times is hot: the engine translates the block that starts
// there (straight-line code through conditional jumps, up to an
// unconditional jump, a call, a return, an instruction it leaves to the
// loop, or kMaxBlock instructions), records the host code in a table
// indexed by pc and runs it. The loop hands back whenever it arrives at a
// translated address. Translating costs more than interpreting a few
// instructions, so it is paid from a credit that only the loop's executed
// instructions earn: translation never costs more than a small multiple of
// the work the run has done, whatever the image.
//
// A jump to a fixed address goes straight to the block there once that
// block exists: until then it leaves through the dispatcher, and
// translating the target later patches the jump. Computed targets (returns,
// jumps through a register) look the table up at run time. With the second
// tier on (the default), the code at a hot address is first translated as a
// whole region where it has the compiler's shapes (tier2.cpp), in front of
// the block, which runs when the region's entry checks fail.
//
// Register conventions inside translated code:
//   r8d-r14d  GR0-GR4, bp, sp (16-bit values, upper bits always zero)
//   r15d      the flags, packed as vm/semantics.h describes
//   rbx       data memory, rdi the pc table, rbp the run context
//   rsi       the remaining step budget (step-counted runs only)
//   rax, rcx, rdx scratch
// Translated code runs on a stack of its own (for the return entries of
// calls), so the host's stack limit does not bound the guest's calls; the
// machine's output and input routines are called on the host stack.
// Output and input run inside translated code through the machine's own
// routines (formatting, buffering, the output room). Whatever it does not
// translate, it leaves to the machine's loop with the state exactly as the
// loop would have it before that instruction: every instruction that fails
// (a register number 7-15, an operand word or a text past the code, an
// effective address out of range, a zero divisor, an undefined opcode) and
// input that cannot be read. The loop then does the instruction and its
// partial effects, or writes the error and the dump.
//
// Code memory is mapped writable or executable, never both, and bounded:
// only the pages being written are made writable, and when it fills up all
// translations are dropped and made anew.
#include "engine.h"

#if defined(VEXL_NATIVE_X86_64)

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include <xbyak/xbyak.h>

#include "conventions.h"
#include "semantics.h"
#include "x86_block.h"

namespace vm::native {

namespace {

using image::Form;
using image::Opcode;
using image::OpInfo;

constexpr std::size_t kCodeBytes = std::size_t(16) << 20;  // bound of the code memory
constexpr std::size_t kBlockBytes = std::size_t(256) << 10;  // more than one block (or region) ever takes
constexpr std::size_t kTier1Bytes = std::size_t(32) << 10;   // more than a block of the first tier takes
constexpr int kMaxBlock = 64;                                // instructions per block
constexpr std::size_t kPcs = 65536;
// The stack translated code runs on: return entries of calls (16 bytes
// each) down to kStackReserve above its guard page.
constexpr std::size_t kStackBytes = std::size_t(128) << 10;
constexpr std::size_t kStackReserve = 4096;
constexpr std::size_t kPage = 4096;

// What translating costs is measured, in nanoseconds: mostly the page
// protection calls, which take from one to tens of microseconds depending on
// the kernel and whether it runs virtualised. The loop's instructions earn
// the credit that pays for it, each kCreditPerStep nanoseconds (about half
// of what the loop takes per instruction on a fast processor), so translating
// never takes more than about half the time the loop has run. The next
// translation is expected to cost what the last ones did (g_translate_ns,
// shared by runs).
constexpr double kCreditPerStep = 0.5;
std::atomic<std::int64_t> g_translate_ns{20000};
std::atomic<std::uint64_t> g_loop_steps{0};  // of the last run
// Jumps waiting for a new block are patched in the same writable stretch of
// code memory as the block when they lie at most this far before it.
constexpr std::size_t kPatchSpan = std::size_t(256) << 10;
constexpr unsigned kDefaultHot = 40;
// Steps the loop runs after translated code has left for it before it hands
// back again: a round trip between the two costs about as much as a few
// dozen of the loop's instructions, so an image that bounces between them
// (computed jumps into code that never gets hot, say) runs mostly on the loop.
constexpr std::uint64_t kStay = 256;

std::atomic<int> g_hot{-1};  // -1: not chosen yet

// Code memory, the pc table and the stack. Mapping them costs more than a
// short run, so a run hands them on to the next run on the same thread.
struct CodeSpace {
    std::uint8_t* code = nullptr;
    std::uint8_t* stack = nullptr;  // kStackBytes, its lowest page a guard
    void** table = static_cast<void**>(std::calloc(kPcs, sizeof(void*)));
    // Arrivals per pc; cleared when a run takes the space over from another.
    std::uint16_t* counts = static_cast<std::uint16_t*>(std::calloc(kPcs, sizeof(std::uint16_t)));
    bool counts_used = false;
    CodeSpace() {
        void* p = mmap(nullptr, kCodeBytes, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) code = static_cast<std::uint8_t*>(p);
        p = mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            stack = static_cast<std::uint8_t*>(p);
            if (mprotect(stack, kPage, PROT_NONE) != 0) {
                munmap(stack, kStackBytes);
                stack = nullptr;
            }
        }
    }
    ~CodeSpace() {
        std::free(table);
        std::free(counts);
        if (code) munmap(code, kCodeBytes);
        if (stack) munmap(stack, kStackBytes);
    }
    // The entry and exit stubs at the start of the code, made by the first run.
    std::size_t stubs_end = 0;
    const void* enter = nullptr;
    const void* exit = nullptr;
    const void* exit_dispatch = nullptr;
    CodeSpace(const CodeSpace&) = delete;
    CodeSpace& operator=(const CodeSpace&) = delete;
    bool usable() const { return code && table && stack && counts; }
};
thread_local std::unique_ptr<CodeSpace> t_spare_space;

// The machine's output and input routines as translated code calls them:
// the guest registers are in the context, and INI writes its target there
// or in data memory.
std::uint32_t io_status(bool room_left) { return room_left ? kIoDone : kIoLimit; }
std::uint32_t io_outi(Context* c, std::uint32_t value) {
    try { return io_status(c->machine->put_integer(Word(value))); } catch (...) { return kIoLoop; }
}
std::uint32_t io_outb(Context* c, std::uint32_t value) {
    try { return io_status(c->machine->put_bool(Word(value))); } catch (...) { return kIoLoop; }
}
std::uint32_t io_outs(Context* c, std::uint32_t pc) {
    try { return io_status(c->machine->put_text(Word(pc))); } catch (...) { return kIoLoop; }
}
// Input into register `target` (0-6) or, from 0x10000 on, data memory.
std::uint32_t io_ini(Context* c, std::uint32_t target) {
    Word v;
    try {
        if (!c->machine->get_integer(v)) return c->machine->input_error().empty() ? kIoDone : kIoLoop;
    } catch (...) {
        return kIoLoop;
    }
    if (target >= 0x10000)
        c->mem[target - 0x10000] = v;
    else
        c->regs[target] = v;
    return kIoDone;
}

class Engine {
public:
    Engine(Machine& m, bool counting, bool lowest_sp, int tier);
    ~Engine();
    bool ready() const { return enter_ != nullptr; }
    RunResult run(const Limits* limits, Stats* stats);

private:
    using Gen = Xbyak::CodeGenerator;
    using Enter = void (*)(Context*, const void*);

    bool protect(std::uint8_t* from, std::uint8_t* to, bool writable);
    void emit_stubs();
    const void* translate(Word pc);
    void flush();
    Insn decode(Word pc) const;
    void emit_block(Word start, const std::vector<Insn>& block, bool falls_through, std::size_t next);
    void emit_insn(const std::vector<Insn>& block, std::size_t& k);
    Xbyak::Address operand(const Insn& i, int k);
    Xbyak::Label& side_exit(const Insn& i, int k);
    void goto_fixed(Word target);
    void goto_target(const Insn& i);
    void dispatch_dynamic();
    void call_out(const void* routine, const Insn& i, int k);
    void track_sp();
    void sync_to_machine();
    void sync_from_machine();
    RunResult on_loop(std::uint64_t max_steps);

    Machine& m_;
    const std::vector<Word>& code_;
    const std::size_t n_;
    const bool counting_;
    const bool lowest_sp_;
    const int tier_;  // 2: blocks also get the second tier's version
    const unsigned hot_;
    std::unique_ptr<CodeSpace> space_;
    std::uint8_t* mem_ = nullptr;  // the code mapping, kCodeBytes
    void** table_ = nullptr;       // host code per pc, null until translated
    std::uint16_t* counts_ = nullptr;  // arrivals per pc
    Profile profile_;
    double credit_ = 0;  // nanoseconds of translating the loop's work has paid for
    bool translating_ = true;   // false once code memory failed: the loop runs on
    bool left_code_ = false;    // translated code has just returned to the driver
    std::unique_ptr<Gen> gen_;
    std::vector<Word> translated_;
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

    // State of the block being emitted.
    Word block_pc_ = 0;
    int block_native_ = 0;
    Xbyak::Label* block_start_ = nullptr;
    std::deque<Xbyak::Label> labels_;
    struct SideExit {
        Xbyak::Label* label;
        Word pc;
        int given_back;  // budget not used by the instructions done before leaving
        Exit reason;
    };
    std::vector<SideExit> side_exits_;
    bool shifted_flags_ = false;  // the host's ZF and SF follow F (just after CMP)
    // Per instruction of the block being emitted: whether anything can see
    // the F it sets before another instruction sets it again.
    std::vector<bool> flags_seen_;
    void find_flags_seen(const std::vector<Insn>& block);
};

// The guest flags' host register.
const Xbyak::Reg32 kF(15);
const Xbyak::Reg16 kSp16(8 + image::SP);
const Xbyak::Reg64 kSp64(8 + image::SP);

Engine::Engine(Machine& m, bool counting, bool lowest_sp, int tier)
    : m_(m), code_(m.code()), n_(m.code().size()), counting_(counting), lowest_sp_(lowest_sp), tier_(tier),
      hot_(hot_threshold()), space_(std::move(t_spare_space)) {
    if (!space_) space_ = std::make_unique<CodeSpace>();
    if (!space_->usable()) return;
    mem_ = space_->code;
    table_ = space_->table;
    try {
        counts_ = space_->counts;
        if (space_->counts_used) std::memset(counts_, 0, kPcs * sizeof(std::uint16_t));
        space_->counts_used = true;
        gen_ = std::make_unique<Gen>(kCodeBytes, mem_);
        gen_->setDefaultJmpNEAR(true);
        if (space_->stubs_end == 0) {
            if (!protect(mem_, mem_ + kPage, true)) return;
            emit_stubs();
            if (!protect(mem_, mem_ + kPage, false)) return;
            space_->stubs_end = stubs_end_;
            space_->enter = reinterpret_cast<const void*>(enter_);
            space_->exit = exit_;
            space_->exit_dispatch = exit_dispatch_;
        }
        gen_->setSize(space_->stubs_end);
    } catch (const std::exception&) {
        enter_ = nullptr;
        return;
    }
    stubs_end_ = space_->stubs_end;
    enter_ = reinterpret_cast<Enter>(const_cast<void*>(space_->enter));
    exit_ = space_->exit;
    exit_dispatch_ = space_->exit_dispatch;
    profile_.counts = counts_;
    profile_.lowest_sp_kept = lowest_sp_;
    profile_.threshold = std::uint16_t(std::max(1u, hot_));
}

Engine::~Engine() {
    gen_.reset();
    if (!space_->usable()) return;
    for (Word pc : translated_) table_[pc] = nullptr;
    if (!t_spare_space) t_spare_space = std::move(space_);
}

// Makes the pages of [from, to) writable (and not executable) or
// executable (and not writable).
bool Engine::protect(std::uint8_t* from, std::uint8_t* to, bool writable) {
    const auto page = [](std::uint8_t* p) { return reinterpret_cast<std::uintptr_t>(p) & ~(kPage - 1); };
    const std::uintptr_t lo = page(from), hi = page(to - 1) + kPage;
    return mprotect(reinterpret_cast<void*>(lo), hi - lo, writable ? PROT_READ | PROT_WRITE : PROT_READ | PROT_EXEC) == 0;
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
    // Calls push (return pc, host return address) pairs on the stack, so
    // that a return to the pc of the top pair returns on the host too
    // (which the processor predicts). An impossible pc marks the bottom.
    g.mov(g.qword[rbp + offsetof(Context, entry_rsp)], rsp);
    g.mov(rsp, g.qword[rbp + offsetof(Context, stack_top)]);
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
    for (Word pc : translated_) {
        table_[pc] = nullptr;
        counts_[pc] = 0;
    }
    translated_.clear();
    pending_.clear();
    gen_->setSize(stubs_end_);
}

// Fields an instruction uses must name registers 0-6, and its operand word
// or text must lie inside the code; otherwise the loop does (and fails) it.
Insn Engine::decode(Word pc) const {
    const Word w = code_[pc];
    const OpInfo& info = image::op_info(image::opcode_of(w));
    Insn i{pc, image::opcode_of(w), image::field_r(w), image::field_x(w), 0, 1, false, &info};
    const std::size_t length = image::instruction_length(code_.data(), n_, pc);
    if (length == 0) return i;
    i.words = unsigned(length);
    if (info.words == 2) i.adr = code_[std::size_t(pc) + 1];
    constexpr unsigned kReg = image::kRegisterCount;
    i.native = !(info.uses_r() && i.a >= kReg) && !(info.uses_x() && i.x >= kReg);
    return i;
}

// Translates the block at a hot pc, when the credit covers it.
const void* Engine::translate(Word pc) {
    if (!translating_) {
        counts_[pc] = 0;
        return nullptr;
    }
    std::vector<Insn> block;
    bool falls_through = false;
    std::size_t next = pc;
    for (;;) {
        const Insn i = decode(Word(next));
        block.push_back(i);
        if (!i.native || i.info->has(image::GO)) break;
        next += i.words;
        if (next > 0xFFFF || next >= n_ || block.size() == kMaxBlock) {
            falls_through = true;
            break;
        }
    }
    if (hot_ != 0 && credit_ < double(g_translate_ns.load(std::memory_order_relaxed))) {
        counts_[pc] = 0;  // prove it again
        return nullptr;
    }
    const auto started = std::chrono::steady_clock::now();
    std::uint8_t* from = nullptr;
    std::uint8_t* lowest = nullptr;  // the writable stretch: [lowest, from + kBlockBytes)
    try {
        if (gen_->getSize() + kBlockBytes > kCodeBytes) flush();
        from = const_cast<std::uint8_t*>(gen_->getCurr());
        lowest = from;
        if (const auto waiting = pending_.find(pc); waiting != pending_.end())
            for (std::uint8_t* site : waiting->second)
                if (site + kPatchSpan >= from) lowest = std::min(lowest, site);
        if (!protect(lowest, from + kBlockBytes, true)) {
            translating_ = false;
            return nullptr;
        }
        emit_block(pc, block, falls_through, next);
        // Jumps waiting for this block go straight to it now: those in the
        // writable stretch at once, the others each in a stretch of its own.
        if (auto it = pending_.find(pc); it != pending_.end()) {
            const std::uint8_t* entry = static_cast<const std::uint8_t*>(table_[pc]);
            for (std::uint8_t* site : it->second) {
                const bool apart = site < lowest;
                if (apart && !protect(site, site + 5, true)) throw std::runtime_error("mprotect");
                const std::int32_t rel = std::int32_t(entry - (site + 5));
                site[0] = 0xE9;  // jmp rel32 over the "mov eax, pc"
                std::memcpy(site + 1, &rel, 4);
                if (apart && !protect(site, site + 5, false)) throw std::runtime_error("mprotect");
            }
            pending_.erase(it);
        }
        if (!protect(lowest, from + kBlockBytes, false)) {
            translating_ = false;
            return nullptr;
        }
    } catch (const std::exception&) {
        // The stubs may share a page with the block: executable again.
        if (from) protect(lowest, from + kBlockBytes, false);
        translating_ = false;
        return nullptr;
    }
    const std::int64_t spent =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started).count();
    credit_ -= double(spent);
    counts_[pc] = 0xFFFF;  // the loop hands back here from now on
    g_translate_ns.store((3 * g_translate_ns.load(std::memory_order_relaxed) + spent) / 4, std::memory_order_relaxed);
    return table_[pc];
}

void Engine::emit_block(Word start, const std::vector<Insn>& block, bool falls_through, std::size_t next) {
    Gen& g = *gen_;
    block_pc_ = start;
    block_native_ = int(std::count_if(block.begin(), block.end(), [](const Insn& i) { return i.native; }));
    labels_.clear();
    side_exits_.clear();
    shifted_flags_ = false;

    std::uint8_t* entry = const_cast<std::uint8_t*>(g.getCurr());
    Xbyak::Label& start_label = labels_.emplace_back();
    block_start_ = &start_label;
    bool region = false;
    if (tier_ >= 2 && block_native_ > 0) {
        // The second tier's version of the region entered here first; its
        // entry falls back to this tier's version of the block (below)
        // when its assumptions do not hold.
        Xbyak::Label& tier1 = labels_.emplace_back();
        Tier2Region r{g, start, kBlockBytes - kTier1Bytes, n_, [this](Word pc) { return decode(pc); },
                      counting_, lowest_sp_, int(offsetof(Context, lowest_sp)), exit_, start_label, tier1,
                      [this](Word pc) { goto_fixed(pc); }};
        region = emit_tier2(r);
        if (region) {
            entry = const_cast<std::uint8_t*>(start_label.getAddress());
            g.L(tier1);
        }
    }
    if (!region) g.L(start_label);
    Xbyak::Label& budget = labels_.emplace_back();
    if (counting_ && block_native_ > 0) {
        g.cmp(Xbyak::util::rsi, block_native_);
        g.jb(budget);
        g.sub(Xbyak::util::rsi, block_native_);
    }
    find_flags_seen(block);
    for (std::size_t k = 0; k < block.size(); ++k) emit_insn(block, k);
    if (falls_through) goto_fixed(Word(next));

    // Out of line: leaving at an instruction, with the budget of the
    // instructions not done given back.
    for (const SideExit& s : side_exits_) {
        g.L(*s.label);
        if (counting_ && s.given_back > 0) g.add(Xbyak::util::rsi, s.given_back);
        g.mov(Xbyak::util::eax, s.pc);
        g.mov(Xbyak::util::ecx, s.reason);
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
}

// F after each instruction is seen unless the instructions after it set F
// again before one of them reads it or may leave the block (a side exit,
// input or output, a jump, the block's end).
void Engine::find_flags_seen(const std::vector<Insn>& block) {
    flags_seen_.assign(block.size(), true);
    bool seen = true;  // F at this point is seen
    for (std::size_t k = block.size(); k-- > 0;) {
        flags_seen_[k] = seen;
        const Insn& i = block[k];
        const image::OpInfo& info = *i.info;
        const bool may_leave = !i.native || info.has(image::DZ | image::BR | image::GO | image::OUT | image::IN) ||
                               (info.has(image::LOAD | image::STORE) && i.x != 0);
        if (may_leave)
            seen = true;
        else if (info.has(image::FR | image::FC))
            seen = false;
    }
}

// Leaving for the loop at instruction i, the k-th of the block (k
// instructions done before it).
Xbyak::Label& Engine::side_exit(const Insn& i, int k) {
    Xbyak::Label& l = labels_.emplace_back();
    side_exits_.push_back({&l, i.pc, block_native_ - k, kInterpret});
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

// Calls one of the io_ routines with the context and esi (set by the
// caller), on the host stack, with the guest registers in the context
// around the call. Its status leaves for the loop at the instruction, or
// stops the run at the output limit after it.
void Engine::call_out(const void* routine, const Insn& i, int k) {
    using namespace Xbyak::util;
    Gen& g = *gen_;
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        g.mov(g.dword[rbp + offsetof(Context, regs) + 4 * r], r32(r));
    g.mov(g.qword[rbp + offsetof(Context, budget)], rsi);
    g.mov(rdi, rbp);
    g.mov(esi, edx);
    g.mov(rcx, rsp);
    g.mov(rsp, g.qword[rbp + offsetof(Context, entry_rsp)]);
    g.push(rcx);  // entry_rsp is 8 modulo 16: the call is aligned
    g.mov(rax, reinterpret_cast<std::uintptr_t>(routine));
    g.call(rax);
    g.pop(rsp);
    for (unsigned r = 0; r < image::kRegisterCount; ++r)
        g.mov(r32(r), g.dword[rbp + offsetof(Context, regs) + 4 * r]);
    g.mov(rsi, g.qword[rbp + offsetof(Context, budget)]);
    g.mov(rdi, g.qword[rbp + offsetof(Context, table)]);
    Xbyak::Label& loop = labels_.emplace_back();
    Xbyak::Label& limit = labels_.emplace_back();
    g.test(eax, eax);
    Xbyak::Label& done = labels_.emplace_back();
    g.jz(done);
    g.cmp(eax, kIoLimit);
    g.je(limit);
    g.jmp(loop);
    g.L(done);
    side_exits_.push_back({&loop, i.pc, block_native_ - k, kInterpret});
    side_exits_.push_back({&limit, i.pc, block_native_ - k - 1, kOutputLimit});
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
        return;
    }
    const auto A = r32(i.a), B = r32(i.x);
    const auto A16 = r16(i.a), B16 = r16(i.x);
    const bool after_cmp = shifted_flags_ && k > 0;
    shifted_flags_ = false;
    // Packed flags of a stored result: the result itself (when seen).
    auto set_flags = [&](const Xbyak::Reg32& r) {
        if (flags_seen_[k]) g.mov(kF, r);
    };
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
        ++k;
        set_flags(r32(b));  // the pop's
        return;
    }

    // Runs with stats keep the lowest sp seen after each instruction.
    const bool moves_sp = i.info->moves_sp() || (i.info->has(image::WA) && i.a == image::SP);
    const image::Effect effect = i.info->effect;
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
    case image::LDI:
        g.mov(A, i.adr);
        if (flags_seen_[k]) g.mov(kF, sem::packed_result(i.adr));
        break;
    case image::LD_R: g.mov(A, B); set_flags(A); break;
    case image::ADD_M: case image::ADD_R:
    case image::SUB_M: case image::SUB_R:
    case image::MUL_M: case image::MUL_R:
    case image::AND_M: case image::AND_R:
    case image::OR_M: case image::OR_R:
    case image::XOR_M: case image::XOR_R: {
        // The host operation of each effect, on 16 bits (sem::compute).
        const bool memory = i.info->has(image::LOAD);
        auto apply = [&](auto op) {
            if (memory)
                (g.*op)(A16, operand(i, done));
            else
                (g.*op)(A16, B16);
        };
        using RO = void (Gen::*)(const Xbyak::Operand&, const Xbyak::Operand&);
        switch (effect) {
        case image::Effect::add: apply(static_cast<RO>(&Gen::add)); break;
        case image::Effect::sub: apply(static_cast<RO>(&Gen::sub)); break;
        case image::Effect::mul: apply(static_cast<void (Gen::*)(const Xbyak::Reg&, const Xbyak::Operand&)>(&Gen::imul)); break;
        case image::Effect::and_: apply(static_cast<RO>(&Gen::and_)); break;
        case image::Effect::or_: apply(static_cast<RO>(&Gen::or_)); break;
        default: apply(static_cast<RO>(&Gen::xor_)); break;
        }
        set_flags(A);
        break;
    }
    case image::DIV_M:
    case image::DIV_R:
    case image::MOD_M:
    case image::MOD_R: {
        // sem::quotient and sem::remainder: 32-bit signed division of the
        // sign-extended operands. A zero divisor leaves for the loop.
        if (i.info->has(image::LOAD))
            g.movsx(ecx, operand(i, done));
        else
            g.movsx(ecx, B16);
        g.test(ecx, ecx);
        g.jz(side_exit(i, done));
        g.movsx(eax, A16);
        g.cdq();
        g.idiv(ecx);
        g.movzx(A, effect == image::Effect::div ? ax : dx);
        set_flags(A);
        break;
    }
    case image::CMP_M:
    case image::CMP_R: {
        // sem::packed_compare: the 16-bit difference shifted to the top.
        if (i.info->has(image::LOAD)) {
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
        // sem::taken_packed: jmi F < 0, jnz F != 0, jze F == 0, jpl F > 0.
        if (!after_cmp || effect == image::Effect::jpl) g.test(kF, kF);
        Xbyak::Label& not_taken = labels_.emplace_back();
        switch (effect) {
        case image::Effect::jmi: g.jns(not_taken); break;
        case image::Effect::jnz: g.jz(not_taken); break;
        case image::Effect::jze: g.jnz(not_taken); break;
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
        {
            // A host call with the return pc beside it, while the stack has
            // room; a matching RET returns to the jump after it.
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
    // Output and input: the value (or the text's pc, or INI's target) in
    // edx, then the machine's routine.
    case image::OUTI_M:
    case image::OUTB_M:
        g.movzx(edx, operand(i, done));
        call_out(reinterpret_cast<const void*>(i.op == image::OUTI_M ? &io_outi : &io_outb), i, done);
        break;
    case image::OUTI_R:
    case image::OUTB_R:
        g.mov(edx, A);
        call_out(reinterpret_cast<const void*>(i.op == image::OUTI_R ? &io_outi : &io_outb), i, done);
        break;
    case image::OUTS:
        g.mov(edx, i.pc);
        call_out(reinterpret_cast<const void*>(&io_outs), i, done);
        break;
    case image::INI_M:
        if (i.x == 0) {
            g.mov(edx, 0x10000 + i.adr);
        } else {
            g.lea(rax, g.ptr[r64(i.x) + int(std::int16_t(i.adr))]);
            g.cmp(rax, 0xFFFF);
            g.ja(side_exit(i, done));
            g.lea(edx, g.ptr[eax + 0x10000]);
        }
        call_out(reinterpret_cast<const void*>(&io_ini), i, done);
        break;
    case image::INI_R:
        g.mov(edx, i.a);
        call_out(reinterpret_cast<const void*>(&io_ini), i, done);
        break;
    default:  // an opcode without a case here: the loop does it
        g.jmp(side_exit(i, done));
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
    const unsigned f = both_flags_ ? sem::kZF | sem::kSF : sem::unpack(ctx_.flags);
    m_.set_flags((f & sem::kZF) != 0, (f & sem::kSF) != 0);
}

void Engine::sync_from_machine() {
    for (unsigned r = 0; r < image::kRegisterCount; ++r) ctx_.regs[r] = m_.reg(r);
    ctx_.pc = m_.pc();
    ctx_.flags = sem::pack((m_.zero_flag() ? sem::kZF : 0) | (m_.sign_flag() ? sem::kSF : 0));
    both_flags_ = m_.zero_flag() && m_.sign_flag();
}

// A stretch on the machine's loop from ctx_.pc, until it arrives at a
// translated or hot address or the run ends; the steps it takes earn
// translation credit.
RunResult Engine::on_loop(std::uint64_t max_steps) {
    sync_to_machine();
    profile_.stay = left_code_ && hot_ != 0 ? kStay : 0;
    left_code_ = false;
    RunResult r = m_.execute_profiled(max_steps, profile_);
    g_loop_steps.fetch_add(r.steps, std::memory_order_relaxed);
    credit_ += kCreditPerStep * double(r.steps);
    if (counting_) ctx_.budget -= r.steps;
    ctx_.lowest_sp = std::min<std::uint32_t>(ctx_.lowest_sp, profile_.lowest_sp);
    sync_from_machine();
    return r;
}

RunResult Engine::run(const Limits* limits, Stats* stats) {
    g_loop_steps.store(0, std::memory_order_relaxed);
    sync_from_machine();
    ctx_.mem = m_.memory_data();
    ctx_.table = table_;
    ctx_.machine = &m_;
    ctx_.stack_top = reinterpret_cast<std::uint64_t>(space_->stack + kStackBytes);
    ctx_.call_limit = reinterpret_cast<std::uint64_t>(space_->stack + kPage + kStackReserve);
    ctx_.budget = limits ? limits->max_steps : Limits::kNone;
    ctx_.lowest_sp = m_.reg(image::SP);
    ctx_.reason = kDispatch;
    const std::uint64_t bytes_before = m_.bytes_written();
    m_.set_output_room(limits ? limits->max_output : Limits::kNone);
    auto finish = [&](RunResult r) {
        r.steps = limits ? limits->max_steps - ctx_.budget : 0;
        if (stats) {
            stats->steps = r.steps;
            stats->deepest_stack = 0xFFFFu - ctx_.lowest_sp;
            stats->bytes_written = m_.bytes_written() - bytes_before;
        }
        m_.set_output_room(Limits::kNone);
        return r;
    };
    for (;;) {
        switch (ctx_.reason) {
        case kDispatch: {
            if (ctx_.pc >= n_) {
                sync_to_machine();
                return finish(RunResult{});
            }
            const void* code = both_flags_ ? nullptr : table_[ctx_.pc];
            if (!code && !both_flags_) {
                std::uint16_t& count = counts_[ctx_.pc];
                if (count < 0xFFFF) ++count;
                if (count >= hot_) code = translate(Word(ctx_.pc));
            }
            if (code) {
                enter_(&ctx_, code);
                left_code_ = true;
                break;
            }
            [[fallthrough]];
        }
        case kInterpret:
        case kBudget: {
            const RunResult r = on_loop(ctx_.budget);
            if (!profile_.handed_back) return finish(r);
            ctx_.reason = kDispatch;
            break;
        }
        default:  // kOutputLimit
            sync_to_machine();
            return finish(RunResult{RunResult::End::output_limit, Fault::none, {}, 0});
        }
    }
}

}  // namespace

std::uint64_t steps_on_loop() { return g_loop_steps.load(std::memory_order_relaxed); }

unsigned hot_threshold() {
    int hot = g_hot.load(std::memory_order_relaxed);
    if (hot < 0) {
        hot = int(kDefaultHot);
        if (const char* text = std::getenv("VEXL_HOT"); text && *text) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(text, &end, 10);
            if (*end == '\0' && v <= 0xFFFF) hot = int(v);
        }
        g_hot.store(hot, std::memory_order_relaxed);
    }
    return unsigned(hot);
}

void set_hot_threshold(unsigned arrivals) { g_hot.store(int(std::min(arrivals, 0xFFFFu))); }

bool available() { return true; }

namespace {
int g_tier = 0;  // 0: as VEXL_TIER says (the second tier unless it says 1)
}  // namespace

void force_tier(int tier) { g_tier = tier; }

RunResult execute(Machine& machine, const Limits* limits, Stats* stats) {
    int tier = g_tier;
    if (tier == 0) {
        static const int from_environment = [] {
            const char* t = std::getenv("VEXL_TIER");
            return t && t[0] == '1' && t[1] == 0 ? 1 : 2;
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

unsigned hot_threshold() { return 0; }
void set_hot_threshold(unsigned) {}
std::uint64_t steps_on_loop() { return 0; }

bool available() { return false; }

void force_tier(int) {}

RunResult execute(Machine& machine, const Limits* limits, Stats* stats) {
    return machine.execute_reference(limits, stats);
}

}  // namespace vm::native

#endif
