// The machine: loader, execution loop with all instruction handlers, error
// reporting and the register dump.
//
// The loop is one function per run policy (plain, step-capped, traced,
// limited, profiled). It keeps pc, the registers and the flags in local
// variables and dispatches through a 256-entry table of label addresses
// indexed by the opcode byte (GCC's labels as values, set up once per
// policy), so each instruction costs one bounds test on pc, one table load
// and one indirect jump, plus the checks of its own fields. What each
// instruction computes comes from semantics.h. Runtime faults jump to one
// exit that writes the error line and the dump.
#include "machine.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <istream>
#include <new>
#include <ostream>
#include <system_error>

#include "semantics.h"

#include "profile/counter.h"

namespace vm {

namespace {

// Run policies: which extras the loop compiles in. The plain policy adds
// nothing to the instruction path.
struct PlainRun {
    static constexpr bool kCapped = false;
    static constexpr bool kTraced = false;
    static constexpr bool kLimited = false;
    static constexpr bool kCounted = false;
    static constexpr bool kProfiled = false;
};
struct CappedRun {
    static constexpr bool kCapped = true;
    static constexpr bool kTraced = false;
    static constexpr bool kLimited = false;
    static constexpr bool kCounted = false;
    static constexpr bool kProfiled = false;
    std::uint64_t limit;
};
struct TracedRun {
    static constexpr bool kCapped = true;
    static constexpr bool kTraced = true;
    static constexpr bool kLimited = false;
    static constexpr bool kCounted = false;
    static constexpr bool kProfiled = false;
    std::uint64_t limit;
    const TraceHook* hook;
};
// Runs within Limits: the step cap, a stop when the output room is used up,
// and the lowest sp seen (for Stats).
struct LimitedRun {
    static constexpr bool kCapped = true;
    static constexpr bool kTraced = false;
    static constexpr bool kLimited = true;
    static constexpr bool kCounted = false;
    static constexpr bool kProfiled = false;
    std::uint64_t limit;
    Word lowest_sp;
};
// A limited run that also tells a profile::Counter of every instruction,
// call and return.
struct CountedRun {
    static constexpr bool kCapped = true;
    static constexpr bool kTraced = false;
    static constexpr bool kLimited = true;
    static constexpr bool kCounted = true;
    static constexpr bool kProfiled = false;
    std::uint64_t limit;
    Word lowest_sp;
    profile::Counter* counter;
};
// A limited run for an engine that hands back at translated or hot
// addresses; without the lowest sp when the run keeps no stats.
template <bool kLowestSp>
struct ProfiledRun {
    static constexpr bool kCapped = true;
    static constexpr bool kTraced = false;
    static constexpr bool kLimited = kLowestSp;
    static constexpr bool kProfiled = true;
    static constexpr bool kCounted = false;
    std::uint64_t limit;
    Word lowest_sp;
    Profile* profile;
};

constexpr int kReg = image::kRegisterCount;
using sem::kSF;
using sem::kZF;

// An arithmetic result before it is cut to 16 bits: above 0xFFFF when the
// operation carried or borrowed (the stack check's test on sp).
constexpr unsigned wide_result(image::Effect e, Word a, Word b) {
    switch (e) {
    case image::Effect::add: return unsigned(a) + unsigned(b);
    case image::Effect::sub: return unsigned(a) - unsigned(b);
    case image::Effect::mul: return unsigned(a) * unsigned(b);
    default: return sem::compute(e, a, b);
    }
}

// Byte written for a backslash followed by one of the escape letters, or -1.
int escape_byte(Word e) {
    switch (e) {
    case 0x22: return 0x22;
    case 0x27: return 0x27;
    case 0x3F: return 0x3F;
    case 0x5C: return 0x5C;
    case 0x61: return 0x07;
    case 0x62: return 0x08;
    case 0x66: return 0x0C;
    case 0x6E: return 0x0A;
    case 0x72: return 0x0D;
    case 0x74: return 0x09;
    case 0x76: return 0x0B;
    default: return -1;
    }
}

// Value of a hexadecimal digit word, or -1. Whole words are compared, so
// 0xFF41 is no digit even though its low byte is 'A'.
int hex_digit(Word c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const char* fault_text(Fault fault) {
    switch (fault) {
    case Fault::none: return "";
    case Fault::illegal_memory_access: return "Illegal memory access";
    case Fault::illegal_operation: return "Illegal Operation";
    case Fault::zero_divide: return "Zero Divide Error";
    case Fault::stack_overflow: return "Stack Overflow Error";
    case Fault::other: return "Unknown error";
    }
    return "Unknown error";
}

Machine::Machine(std::istream& in, std::ostream& out, std::ostream& err)
    : in_(in), out_(out), err_(err),
      // calloc hands out zeroed pages that are only touched when used, which
      // keeps creating a machine cheap.
      memory_(static_cast<Word*>(std::calloc(kMemoryWords, sizeof(Word)))) {
    if (!memory_) throw std::bad_alloc();
    regs_[image::SP] = 0xFFFF;
}

std::string count_text(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string limit_text(const RunResult& result, const Limits& limits) {
    switch (result.end) {
    case RunResult::End::step_limit:
        return "step limit of " + count_text(limits.max_steps, "instruction", "instructions") + " reached";
    case RunResult::End::output_limit:
        return "output limit of " + count_text(limits.max_output, "byte", "bytes") + " reached";
    default: return "";
    }
}

int Machine::run_file(std::string name, const Limits& limits, Stats* stats, RunResult* result,
                      const std::function<void()>& loaded_hook) {
    image::LoadedImage loaded = image::load_image_file(name);
    if (loaded.error == image::LoadedImage::Error::not_found) {
        out_.flush();
        err_ << "file not found:" << loaded.file << '\n';
        err_.flush();
        return 1;
    }
    load(std::move(loaded.words));
    if (loaded_hook) loaded_hook();
    RunResult r = execute(limits, stats);
    // The last buffered output may be what fails.
    errno = 0;
    if (!out_.flush() && r.end != RunResult::End::fault) {
        write_failed_ = true;
        write_errno_ = errno;
        r.end = RunResult::End::output_error;
    }
    const int status = r.end == RunResult::End::fault || r.end == RunResult::End::output_error ? 1
                       : r.end == RunResult::End::finished                                      ? 0
                                                                                                : 3;
    if (result) *result = std::move(r);
    return status;
}

void Machine::load(std::vector<Word> words) { code_ = std::move(words); }

RunResult Machine::execute() {
    return engine_ ? engine_(*this, nullptr, nullptr) : execute_reference(nullptr, nullptr);
}

RunResult Machine::execute(const Limits& limits, Stats* stats) {
    if (limits.max_steps == Limits::kNone && limits.max_output == Limits::kNone && !stats)
        return execute();
    return engine_ ? engine_(*this, &limits, stats) : execute_reference(&limits, stats);
}

RunResult Machine::execute_capped(std::uint64_t max_steps) {
    const Limits limits{max_steps};
    return engine_ ? engine_(*this, &limits, nullptr) : execute_reference(&limits, nullptr);
}

RunResult Machine::execute_reference(const Limits* limits, Stats* stats) {
    if (!limits) {
        PlainRun policy;
        return run_loop(policy);
    }
    if (limits->max_output == Limits::kNone && !stats) {
        CappedRun policy{limits->max_steps};
        return run_loop(policy);
    }
    LimitedRun policy{limits->max_steps, regs_[image::SP]};
    return run_limited(policy, limits->max_output, stats);
}

template <class Policy>
RunResult Machine::run_limited(Policy& policy, std::uint64_t max_output, Stats* stats) {
    const std::uint64_t written = bytes_written_;
    output_room_ = max_output;
    output_cut_ = false;
    RunResult result = run_loop(policy);
    output_room_ = Limits::kNone;
    output_cut_ = false;
    if (stats) {
        stats->steps = result.steps;
        stats->deepest_stack = 0xFFFFu - policy.lowest_sp;
        stats->bytes_written = bytes_written_ - written;
    }
    return result;
}

RunResult Machine::execute_counted(profile::Counter& counter, const Limits& limits, Stats* stats) {
    CountedRun policy{limits.max_steps, regs_[image::SP], &counter};
    return run_limited(policy, limits.max_output, stats);
}

RunResult Machine::execute_profiled(std::uint64_t max_steps, Profile& profile) {
    profile.handed_back = false;
    if (!profile.lowest_sp_kept) {
        ProfiledRun<false> policy{max_steps, regs_[image::SP], &profile};
        return run_loop(policy);
    }
    ProfiledRun<true> policy{max_steps, regs_[image::SP], &profile};
    RunResult result = run_loop(policy);
    profile.lowest_sp = policy.lowest_sp;
    return result;
}

RunResult Machine::execute_traced(const TraceHook& hook, std::uint64_t max_steps) {
    TracedRun policy{max_steps, &hook};
    return run_loop(policy);
}

void Machine::report(RunResult& result) {
    // Errors caught as exceptions bring their own text.
    if (result.fault != Fault::other) result.message = fault_text(result.fault);
    // Program output written so far must come before the error line.
    out_.flush();
    err_ << "Error:" << result.message << '\n';
    err_.flush();
    dump();
}

void Machine::dump() {
    char line[64];
    out_ << "Debug Information\n" << std::flush;
    std::snprintf(line, sizeof line, "GR0:0x%04x GR1:0x%04x GR2:0x%04x GR3:0x%04x\n",
                  regs_[0], regs_[1], regs_[2], regs_[3]);
    out_ << line << std::flush;
    std::snprintf(line, sizeof line, "GR4:0x%04x bp :0x%04x sp :0x%04x\n", regs_[4],
                  regs_[5], regs_[6]);
    out_ << line << std::flush;
    std::snprintf(line, sizeof line, "pc :0x%04x SF :0x%04x ZF :0x%04x\n", pc_,
                  unsigned(sf_), unsigned(zf_));
    out_ << line << std::flush;
}

// Reads an optionally signed decimal integer. Consumes characters only up to
// the end of the number. A failure (no digit, magnitude above 65535) puts the
// input stream into the failed state, and every later read fails at once.
bool Machine::read_integer(Word& value) {
    errno = 0;
    if (!out_.flush() && !write_failed_) [[unlikely]] {
        // Seen by the next output instruction, which stops the run.
        write_failed_ = true;
        write_errno_ = errno;
        output_cut_ = true;
    }
    if (!input_error_.empty() || in_.fail()) return false;
    // The stream buffer reports a read error (standard input closed, or a
    // directory) by throwing; that becomes the machine's own message.
    try {
        return scan_integer(value);
    } catch (const std::system_error& e) {
        const int code = e.code().category() == std::system_category() ||
                                 e.code().category() == std::generic_category()
                             ? e.code().value()
                             : 0;
        input_error_ = std::string("cannot read standard input: ") +
                       (code > 0 ? std::generic_category().message(code) : std::string("read error"));
    } catch (const std::exception&) {
        input_error_ = "cannot read standard input: read error";
    }
    in_.setstate(std::ios::badbit);
    return false;
}

bool Machine::scan_integer(Word& value) {
    std::streambuf* sb = in_.rdbuf();
    if (sb == nullptr) {
        in_.setstate(std::ios::badbit);
        return false;
    }
    using Traits = std::char_traits<char>;
    const int eof = Traits::eof();
    int c = sb->sgetc();
    while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
        c = sb->snextc();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = sb->snextc();
    }
    unsigned magnitude = 0;
    bool digits = false;
    while (c >= '0' && c <= '9') {
        digits = true;
        // Saturate just above the limit so long numerals cannot overflow.
        magnitude = magnitude * 10 + unsigned(c - '0');
        if (magnitude > 65535) magnitude = 65536;
        c = sb->snextc();
    }
    if (c == eof) in_.setstate(std::ios::eofbit);
    if (!digits || magnitude > 65535) {
        in_.setstate(std::ios::failbit);
        return false;
    }
    value = Word(negative ? 0x10000 - magnitude : magnitude);
    return true;
}

std::string Machine::write_error() const { return write_errno_ ? std::strerror(write_errno_) : ""; }

// All program output goes through here. Bytes beyond the output room are
// dropped and mark the run as cut (only limited runs have a finite room); a
// failed stream cuts the run as well, and marks it failed.
void Machine::emit(const char* bytes, std::size_t count) {
    if (count > output_room_) [[unlikely]] {
        count = std::size_t(output_room_);
        output_cut_ = true;
    }
    errno = 0;
    // Straight into the stream's buffer when nothing else is asked of the
    // stream (no flush after each write, no stream tied to it, no failure
    // yet): what write() does, without a sentry for every few bytes.
    std::streambuf* const sb = out_.rdbuf();
    if (sb && out_.good() && !out_.tie() && !(out_.flags() & std::ios::unitbuf)) [[likely]] {
        try {
            if (sb->sputn(bytes, std::streamsize(count)) != std::streamsize(count)) out_.setstate(std::ios::badbit);
        } catch (...) {
            out_.setstate(std::ios::badbit);
        }
    } else {
        out_.write(bytes, std::streamsize(count));
    }
    if (!out_) [[unlikely]] {
        if (!write_failed_) write_errno_ = errno;
        write_failed_ = true;
        output_cut_ = true;
    }
    bytes_written_ += count;
    if (output_room_ != Limits::kNone) output_room_ -= count;
}

void Machine::write_integer(Word value) {
    char buf[8];
    const auto res = std::to_chars(buf, buf + sizeof buf, int(std::int16_t(value)));
    emit(buf, std::size_t(res.ptr - buf));
}

void Machine::write_bool(Word value) {
    if (value != 0)
        emit("true", 4);
    else
        emit("false", 5);
}

bool Machine::put_integer(Word value) {
    write_integer(value);
    return !output_cut_;
}

bool Machine::put_bool(Word value) {
    write_bool(value);
    return !output_cut_;
}

bool Machine::put_text(Word pc) {
    write_text(std::size_t(pc) + 1);
    return !output_cut_;
}

bool Machine::get_integer(Word& value) { return read_integer(value); }

// Writes the inline text that starts at code[start], interpreting backslash
// escapes. Returns the index of the terminating 0x0000 word, or npos when
// the code ends first (the bytes scanned so far are written all the same).
std::size_t Machine::write_text(std::size_t p) {
    const Word* const code = code_.data();
    const std::size_t n = code_.size();
    char buf[256];
    std::size_t len = 0;
    auto put = [&](unsigned byte) {
        if (len == sizeof buf) {
            emit(buf, len);
            len = 0;
        }
        buf[len++] = char(byte & 0xFF);
    };
    std::size_t end = std::string::npos;
    while (p < n) {
        const Word c = code[p];
        if (c == 0) {
            end = p;
            break;
        }
        if (c != 0x5C) {
            put(c);
            ++p;
            continue;
        }
        if (p + 1 >= n) break;
        const Word e = code[p + 1];
        if (const int byte = escape_byte(e); byte >= 0) {
            put(unsigned(byte));
            p += 2;
            continue;
        }
        // Numeric escapes: only the low 8 bits of the numeral are written, so
        // they are all that is kept while the digits are read. An empty
        // numeral writes nothing; a numeral cut off by the end of the code is
        // not written either.
        unsigned v = 0;
        bool any = false;
        if (e == 'x') {
            p += 2;
            for (int d; p < n && (d = hex_digit(code[p])) >= 0; ++p) {
                v = ((v << 4) | unsigned(d)) & 0xFF;
                any = true;
            }
        } else {
            p += 1;
            for (; p < n && code[p] >= '0' && code[p] <= '7'; ++p) {
                v = ((v << 3) | unsigned(code[p] - '0')) & 0xFF;
                any = true;
            }
        }
        if (p >= n) break;
        if (any) put(v);
    }
    emit(buf, len);
    return end;
}

// The execution loop. Each handler starts with pc at its instruction word
// and w holding that word; it checks its own fields, does its work and moves
// pc last, so on every fault pc still addresses the failing instruction.
template <class Policy>
RunResult Machine::run_loop(Policy& policy) {
    // Undefined opcodes point at the illegal-operation exit (the table's
    // "no handler" entry). Filled once per policy, on its first run.
    struct Table {
        const void* entry[256];
    };
    static const Table table = ({
        Table t;
        for (auto& e : t.entry) e = &&op_undefined;
#define OP(name, code, mnem, form, words, roles, effect) t.entry[code] = &&op_##name;
#include "opcodes.def"
#undef OP
        t;
    });
    const void* const* const dispatch = table.entry;

    Word R[kReg];
    for (int i = 0; i < kReg; ++i) R[i] = regs_[i];
    Word pc = pc_;
    // Bit 0 ZF, bit 1 SF: one variable keeps a register free in the loop.
    unsigned flags = (zf_ ? kZF : 0) | (sf_ ? kSF : 0);
    Word* const mem = memory_.get();
    const bool stack_guard = check_stack_;
    const Word* const code = code_.data();
    const std::size_t n = code_.size();
    unsigned w = 0;  // the instruction word; 32 bits make the field shifts cheaper
    [[maybe_unused]] Word ipc = 0;  // traced runs: address of the current instruction
    std::uint64_t steps = 0;
    // Collected into the RunResult at the end.
    RunResult::End end = RunResult::End::finished;
    Fault fault = Fault::none;
    std::string message;

    // Every handler ends with NEXT: the trace hook (traced runs only), then
    // the fetch and dispatch of the following instruction. Fetching in every
    // handler gives each its own indirect jump, which predicts better.
#define DISPATCH()                                                             \
    do {                                                                       \
        if (pc >= n) goto finished;                                            \
        if constexpr (Policy::kCapped) {                                       \
            if (steps == policy.limit) goto step_limit;                        \
            ++steps;                                                           \
        }                                                                      \
        if constexpr (Policy::kCounted) policy.counter->instruction(pc);       \
        if constexpr (Policy::kTraced) ipc = pc;                               \
        w = code[pc];                                                          \
        goto* dispatch[w >> 8];                                                \
    } while (0)

#define NEXT()                                                                 \
    do {                                                                       \
        if constexpr (Policy::kLimited) {                                      \
            if (R[image::SP] < policy.lowest_sp) policy.lowest_sp = R[image::SP]; \
        }                                                                      \
        if constexpr (Policy::kTraced) {                                       \
            TraceStep step{ipc, Word(w), pc, {}, (flags & kZF) != 0,           \
                           (flags & kSF) != 0};                                \
            for (int i_ = 0; i_ < kReg; ++i_) step.regs[i_] = R[i_];           \
            (*policy.hook)(step);                                              \
        }                                                                      \
        DISPATCH();                                                            \
    } while (0)

// After a taken jump, a call or a return: a profiled run counts the arrival
// and hands back at a translated or hot address (see Profile).
#define ARRIVED()                                                              \
    do {                                                                       \
        if constexpr (Policy::kProfiled) {                                     \
            Profile& p_ = *policy.profile;                                     \
            std::uint16_t& count_ = p_.counts[pc];                             \
            if (count_ != 0xFFFF) ++count_;                                    \
            if (count_ >= p_.threshold && steps >= p_.stay) {                  \
                if constexpr (Policy::kLimited) {                              \
                    if (R[image::SP] < policy.lowest_sp) policy.lowest_sp = R[image::SP]; \
                }                                                              \
                p_.handed_back = true;                                         \
                goto step_limit;                                               \
            }                                                                  \
        }                                                                      \
        NEXT();                                                                \
    } while (0)

// After an output instruction's write: a limited run stops once the output
// room is used up, and every run once the output stream failed, with pc
// still at the instruction.
#define OUTPUT_CHECK()                                                         \
    do {                                                                       \
        if (output_cut_) [[unlikely]] goto output_limit;                       \
    } while (0)

// Register fields: numbers 7-15 do not exist.
#define REG_A(a)                                                               \
    const unsigned a = (w >> 4) & 0xF;                                         \
    if (a >= kReg) [[unlikely]] goto fault_memory
#define REG_B(b)                                                               \
    const unsigned b = w & 0xF;                                                \
    if (b >= kReg) [[unlikely]] goto fault_memory

// The operand word of a two-word instruction must lie inside the code.
#define OPERAND(adr)                                                           \
    if (std::size_t(pc) + 1 >= n) [[unlikely]] goto fault_memory;              \
    const Word adr = code[std::size_t(pc) + 1]

// Effective address: adr alone, or signed(adr) + R[x] computed exactly,
// which must land in 0..0xFFFF. Going through unsigned 32 bits makes a
// negative sum huge, so one compare catches both ends.
#define EFFECTIVE_ADDRESS(ea)                                                  \
    Word ea;                                                                   \
    {                                                                          \
        OPERAND(adr_);                                                         \
        const unsigned x_ = w & 0xF;                                           \
        if (x_ == 0) {                                                         \
            ea = adr_;                                                         \
        } else {                                                               \
            if (x_ >= kReg) [[unlikely]] goto fault_memory;                    \
            if (!sem::effective_address(adr_, true, R[x_], ea)) [[unlikely]]   \
                goto fault_memory;                                             \
        }                                                                      \
    }

// Jump and call target: adr, or (R[x] + adr) mod 2^16, never range-checked.
#define TARGET(t)                                                              \
    Word t;                                                                    \
    {                                                                          \
        OPERAND(adr_);                                                         \
        const unsigned x_ = w & 0xF;                                           \
        if (x_ == 0) {                                                         \
            t = adr_;                                                          \
        } else {                                                               \
            if (x_ >= kReg) [[unlikely]] goto fault_memory;                    \
            t = sem::target(adr_, R[x_]);                                      \
        }                                                                      \
    }

// Loads and the arithmetic and logical instructions: store the result, ZF
// from it, SF cleared.
#define SET_RESULT(a, value)                                                   \
    do {                                                                       \
        const Word r_ = Word(value);                                           \
        R[a] = r_;                                                             \
        flags = sem::result_flags(r_);                                         \
    } while (0)

// A binary operation in its memory form (2 words) and register form (1 word).
// With the stack check on, arithmetic on sp must not carry or borrow.
#define STACK_ARITHMETIC(a, effect, x, y)                                      \
    if (stack_guard && (a) == image::SP && wide_result(effect, x, y) > 0xFFFFu) [[unlikely]] \
        goto fault_stack

#define BINARY(name_m, name_r, effect)                                         \
    op_##name_m : {                                                            \
        REG_A(a);                                                              \
        EFFECTIVE_ADDRESS(ea);                                                 \
        STACK_ARITHMETIC(a, effect, R[a], mem[ea]);                            \
        SET_RESULT(a, sem::compute(effect, R[a], mem[ea]));                    \
        pc = Word(pc + 2);                                                     \
        NEXT();                                                                \
    }                                                                          \
    op_##name_r : {                                                            \
        REG_A(a);                                                              \
        REG_B(b);                                                              \
        STACK_ARITHMETIC(a, effect, R[a], R[b]);                               \
        SET_RESULT(a, sem::compute(effect, R[a], R[b]));                       \
        pc = Word(pc + 1);                                                     \
        NEXT();                                                                \
    }

// DIV and MOD: the divisor is obtained and tested for zero before register
// a is checked.
#define DIVISION(name_m, name_r, effect)                                       \
    op_##name_m : {                                                            \
        EFFECTIVE_ADDRESS(ea);                                                 \
        const Word d = mem[ea];                                                \
        if (d == 0) [[unlikely]] goto fault_zero;                              \
        REG_A(a);                                                              \
        SET_RESULT(a, sem::compute(effect, R[a], d));                          \
        pc = Word(pc + 2);                                                     \
        NEXT();                                                                \
    }                                                                          \
    op_##name_r : {                                                            \
        REG_B(b);                                                              \
        const Word d = R[b];                                                   \
        if (d == 0) [[unlikely]] goto fault_zero;                              \
        REG_A(a);                                                              \
        SET_RESULT(a, sem::compute(effect, R[a], d));                          \
        pc = Word(pc + 1);                                                     \
        NEXT();                                                                \
    }

// A conditional jump reads its operand and index register only when taken.
#define JUMP_IF(name, effect)                                                  \
    op_##name : {                                                              \
        if (!sem::taken(effect, flags)) {                                      \
            pc = Word(pc + 2);                                                 \
            NEXT();                                                            \
        }                                                                      \
        TARGET(t);                                                             \
        pc = t;                                                                \
        ARRIVED();                                                             \
    }

    try {
        DISPATCH();

    op_NOP:
        pc = Word(pc + 1);
        NEXT();

    op_LD_M: {
        REG_A(a);
        EFFECTIVE_ADDRESS(ea);
        SET_RESULT(a, mem[ea]);
        pc = Word(pc + 2);
        NEXT();
    }
    op_ST: {
        REG_A(a);
        EFFECTIVE_ADDRESS(ea);
        mem[ea] = R[a];
        pc = Word(pc + 2);
        NEXT();
    }
    op_LAD: {
        REG_A(a);
        TARGET(t);
        R[a] = t;
        pc = Word(pc + 2);
        NEXT();
    }
    op_LDI: {
        REG_A(a);
        OPERAND(imm);
        SET_RESULT(a, imm);
        pc = Word(pc + 2);
        NEXT();
    }
    op_LD_R: {
        REG_A(a);
        REG_B(b);
        SET_RESULT(a, R[b]);
        pc = Word(pc + 1);
        NEXT();
    }

        BINARY(ADD_M, ADD_R, image::Effect::add)
        BINARY(SUB_M, SUB_R, image::Effect::sub)
        BINARY(MUL_M, MUL_R, image::Effect::mul)
        DIVISION(DIV_M, DIV_R, image::Effect::div)
        DIVISION(MOD_M, MOD_R, image::Effect::mod)
        BINARY(AND_M, AND_R, image::Effect::and_)
        BINARY(OR_M, OR_R, image::Effect::or_)
        BINARY(XOR_M, XOR_R, image::Effect::xor_)

    op_CMP_M: {
        REG_A(a);
        EFFECTIVE_ADDRESS(ea);
        flags = sem::compare_flags(R[a], mem[ea]);
        pc = Word(pc + 2);
        NEXT();
    }
    op_CMP_R: {
        REG_A(a);
        REG_B(b);
        flags = sem::compare_flags(R[a], R[b]);
        pc = Word(pc + 1);
        NEXT();
    }

        JUMP_IF(JMI, image::Effect::jmi)
        JUMP_IF(JNZ, image::Effect::jnz)
        JUMP_IF(JZE, image::Effect::jze)
        JUMP_IF(JUMP, image::Effect::jump)
        JUMP_IF(JPL, image::Effect::jpl)

    // The stack grows down from 0xFFFF; sp addresses the next free word and
    // wraps silently.
    // With the stack check on, a push at sp 0 would wrap: it faults first.
    op_PUSH_M: {
        EFFECTIVE_ADDRESS(ea);
        Word& sp = R[image::SP];
        if (stack_guard && sp == 0) [[unlikely]] goto fault_stack;
        mem[sp] = mem[ea];
        sp = Word(sp - 1);
        pc = Word(pc + 2);
        NEXT();
    }
    op_POP: {
        // sp moves before the register is checked: a bad register fails
        // with sp already incremented.
        Word& sp = R[image::SP];
        sp = Word(sp + 1);
        REG_A(a);
        SET_RESULT(a, mem[sp]);
        pc = Word(pc + 1);
        NEXT();
    }
    op_PUSH_R: {
        REG_A(a);
        Word& sp = R[image::SP];
        if (stack_guard && sp == 0) [[unlikely]] goto fault_stack;
        mem[sp] = R[a];
        sp = Word(sp - 1);
        pc = Word(pc + 1);
        NEXT();
    }
    op_CALL: {
        // The return address is pushed before the target is computed, so an
        // index of sp sees the decremented sp, and a bad index register
        // fails after the push. A missing operand word fails before it.
        if (std::size_t(pc) + 1 >= n) [[unlikely]] goto fault_memory;
        Word& sp = R[image::SP];
        if (stack_guard && sp == 0) [[unlikely]] goto fault_stack;
        mem[sp] = Word(pc + 2);
        sp = Word(sp - 1);
        TARGET(t);
        if constexpr (Policy::kCounted) policy.counter->call(t);
        pc = t;
        ARRIVED();
    }
    op_RET: {
        Word& sp = R[image::SP];
        sp = Word(sp + 1);
        pc = mem[sp];
        if constexpr (Policy::kCounted) policy.counter->ret();
        ARRIVED();
    }

    op_OUTI_M: {
        EFFECTIVE_ADDRESS(ea);
        write_integer(mem[ea]);
        OUTPUT_CHECK();
        pc = Word(pc + 2);
        NEXT();
    }
    op_OUTI_R: {
        REG_A(a);
        write_integer(R[a]);
        OUTPUT_CHECK();
        pc = Word(pc + 1);
        NEXT();
    }
    op_OUTB_M: {
        EFFECTIVE_ADDRESS(ea);
        write_bool(mem[ea]);
        OUTPUT_CHECK();
        pc = Word(pc + 2);
        NEXT();
    }
    op_OUTB_R: {
        REG_A(a);
        write_bool(R[a]);
        OUTPUT_CHECK();
        pc = Word(pc + 1);
        NEXT();
    }
    op_OUTS: {
        const std::size_t end = write_text(std::size_t(pc) + 1);
        OUTPUT_CHECK();
        if (end == std::string::npos) goto fault_memory;
        pc = Word(end + 1);
        NEXT();
    }
    // INI: the target is checked before anything is read; a failed read
    // leaves it unchanged and is no fault.
    // Standard input that cannot be read at all stops the run.
    op_INI_M: {
        EFFECTIVE_ADDRESS(ea);
        Word v;
        if (read_integer(v))
            mem[ea] = v;
        else if (!input_error_.empty()) [[unlikely]]
            goto fault_input;
        pc = Word(pc + 2);
        NEXT();
    }
    op_INI_R: {
        REG_A(a);
        Word v;
        if (read_integer(v))
            R[a] = v;
        else if (!input_error_.empty()) [[unlikely]]
            goto fault_input;
        pc = Word(pc + 1);
        NEXT();
    }

    op_undefined:
        fault = Fault::illegal_operation;
        goto fault;
    fault_memory:
        fault = Fault::illegal_memory_access;
        goto fault;
    fault_zero:
        fault = Fault::zero_divide;
        goto fault;
    fault_stack:
        fault = Fault::stack_overflow;
        goto fault;
    fault_input:
        fault = Fault::other;
        message = input_error_;
        goto fault;
    } catch (const std::exception& e) {
        fault = Fault::other;
        message = e.what();
        goto fault;
    } catch (...) {
        fault = Fault::other;
        message = fault_text(Fault::other);
        goto fault;
    }

#undef DISPATCH
#undef NEXT
#undef OUTPUT_CHECK
#undef REG_A
#undef REG_B
#undef OPERAND
#undef EFFECTIVE_ADDRESS
#undef TARGET
#undef SET_RESULT
#undef BINARY
#undef STACK_ARITHMETIC
#undef DIVISION
#undef JUMP_IF
#undef ARRIVED

finished:
    end = RunResult::End::finished;
    goto save;
[[maybe_unused]] step_limit:  // reached by capped runs only (and profiled ones handing back)
    end = RunResult::End::step_limit;
    goto save;
output_limit:  // the room is used up (limited runs), or the stream failed
    end = write_failed_ ? RunResult::End::output_error : RunResult::End::output_limit;
    goto save;
fault:
    end = RunResult::End::fault;
save:
    for (int i = 0; i < kReg; ++i) regs_[i] = R[i];
    pc_ = pc;
    zf_ = (flags & kZF) != 0;
    sf_ = (flags & kSF) != 0;
    RunResult result{end, fault, std::move(message), steps};
    if (end == RunResult::End::fault) report(result);
    return result;
}

}  // namespace vm
