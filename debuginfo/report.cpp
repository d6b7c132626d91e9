// Runtime error reports: the cause as the machine state shows it, then the
// active calls.
#include "fault_report.h"

#include <cstdio>

namespace debuginfo {

namespace {

constexpr Word kLoadGr1Base[] = {image::make_word(image::LD_R, image::GR1, image::GR4),
                                 image::make_word(image::LD_R, image::GR1, image::BP)};
constexpr Word kPopGr2 = image::make_word(image::POP, image::GR2);
constexpr Word kSubGr1Gr2 = image::make_word(image::SUB_R, image::GR1, image::GR2);

std::string index_text(const Variable* array, int index) {
    std::string text = "index " + std::to_string(index) + " is outside ";
    if (!array || !array->is_array()) return text + "the array";
    return text + "array '" + array->name + "' (size " + std::to_string(array->array_size) + ")";
}

// An element access compiled as LD GR1,base; POP GR2; SUB GR1,GR2 followed
// by the access through GR1 whose address word is element 0's offset.
std::optional<std::string> element_access(const DebugInfo& info, const MachineState& s, Word pc, Word word) {
    if (image::field_x(word) != image::GR1 || pc < 3) return std::nullopt;
    const unsigned op = image::opcode_of(word);
    if (op != image::LD_M && op != image::ST && op != image::INI_M) return std::nullopt;
    const auto load = s.code(static_cast<Word>(pc - 3)), pop = s.code(static_cast<Word>(pc - 2)),
               sub = s.code(static_cast<Word>(pc - 1)), adr = s.code(static_cast<Word>(pc + 1));
    if (!load || !adr || pop != kPopGr2 || sub != kSubGr1Gr2) return std::nullopt;
    if (*load != kLoadGr1Base[0] && *load != kLoadGr1Base[1]) return std::nullopt;
    const unsigned base = image::field_x(*load);
    const Variable* array = info.variable_at(pc, base, *adr);
    return index_text(array, std::int16_t(s.reg(image::GR2))) + ", beyond data memory";
}

std::string hex(Word w) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", unsigned(w));
    return buf;
}

// Calls active in a stack that may have wrapped: the innermost frame's
// return address may be overwritten, so its saved bp is followed regardless,
// and from there every frame whose return address follows a CALL in a
// function counts, until a frame repeats.
std::size_t call_depth(const DebugInfo& info, const MachineState& s, Word bp) {
    std::vector<bool> seen(0x10000, false);
    seen[bp] = true;
    std::size_t depth = 1;
    while (bp < 0xFFFF) {
        const Word caller = s.memory(static_cast<Word>(bp + 1));
        if (seen[caller] || caller > 0xFFFD) break;
        const Word call = static_cast<Word>(s.memory(static_cast<Word>(caller + 2)) - 2);
        const auto word = s.code(call);
        if (!word || image::opcode_of(*word) != image::CALL || !info.function_at(call)) break;
        seen[caller] = true;
        ++depth;
        bp = caller;
    }
    return depth;
}

std::string cause(const DebugInfo& info, const MachineState& s, Fault fault, Word frame_bp) {
    const Word pc = s.pc();
    const Word word = s.code(pc).value_or(0);
    const unsigned op = image::opcode_of(word);
    const Function* f = info.function_at(pc);

    if (fault == Fault::illegal_memory_access && op == image::LD_M && image::field_x(word) == 15 &&
        s.code(static_cast<Word>(pc + 1))) {
        const unsigned base = image::field_r(word);
        const Variable* array = info.variable_at(pc, base, *s.code(static_cast<Word>(pc + 1)));
        return "subscript out of range: " + index_text(array, std::int16_t(s.reg(image::GR2)));
    }
    // Inside a function the stack lies below the globals: start's frame
    // base is 3 words below the lowest global, every other one lower. A
    // stack pointer or frame base above that has wrapped around the top of
    // memory (and the words written there overwrote globals and frames).
    const unsigned lowest_global = 0x10000u - info.global_words();
    if (f && fault != Fault::zero_divide &&
        (unsigned(s.reg(image::SP)) + 1 >= lowest_global || unsigned(frame_bp) + 2 >= lowest_global))
        return "stack exhausted (call depth " + std::to_string(call_depth(info, s, frame_bp)) + ")";
    switch (fault) {
    case Fault::zero_divide:
        return std::string("division by zero in '") + (op == image::MOD_M || op == image::MOD_R ? "mod" : "div") + "'";
    case Fault::illegal_memory_access:
        if (auto element = element_access(info, s, pc, word)) return "illegal memory access: " + *element;
        return "illegal memory access";
    case Fault::illegal_operation:
        if (!f) return "illegal operation at " + hex(pc) + ", outside the program's code (a return address overwritten?)";
        return "illegal operation";
    case Fault::other: break;
    }
    return "unknown error";
}

}  // namespace

std::string fault_cause(const DebugInfo& info, const MachineState& state, Fault fault) {
    return cause(info, state, fault, walk_frames(info, state).front().bp);
}

std::string fault_report(const DebugInfo& info, const MachineState& state, Fault fault) {
    const std::vector<Frame> frames = walk_frames(info, state);
    const Frame& top = frames.front();
    std::string out = info.source;
    if (top.line > 0) out += ":" + std::to_string(top.line);
    out += ": runtime error: " + cause(info, state, fault, top.bp) + "\n";
    if (!top.function && top.line == 0) return out;  // nowhere in the source

    // Deep recursion: the innermost calls and the outermost ones.
    constexpr std::size_t kInner = 8, kOuter = 3;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames.size() > kInner + kOuter + 1 && i == kInner) {
            out += info.source + ": ... " + std::to_string(frames.size() - kInner - kOuter) + " more calls ...\n";
            i = frames.size() - kOuter - 1;
            continue;
        }
        out += describe_frame(info, frames[i]) + "\n";
    }
    return out;
}

}  // namespace debuginfo
