// Runtime error reports: the cause as the machine state shows it, then the
// active calls.
#include "fault_report.h"

#include <cstdio>

namespace debuginfo {

namespace {

std::string index_text(const Variable* array, int index) {
    std::string text = "index " + std::to_string(index) + " is outside ";
    if (!array || !array->is_array()) return text + "the array";
    return text + "array '" + array->name + "' (size " + std::to_string(array->array_size) + ")";
}

// The element site at pc of the given kind, as the compiler recorded it.
const ElementSite* site(const DebugInfo& info, Word pc, ElementSite::Kind kind) {
    const ElementSite* e = info.element_at(pc);
    return e && e->kind == kind ? e : nullptr;
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

    const std::int16_t index = std::int16_t(s.reg(image::GR2));
    if (fault == Fault::illegal_memory_access)
        if (const ElementSite* check = site(info, pc, ElementSite::Kind::check))
            return "subscript out of range: " + index_text(info.array_of(*check), index);
    // Inside a function the stack lies below the globals: start's frame
    // base is 3 words below the lowest global, every other one lower. A
    // stack pointer or frame base above that has wrapped around the top of
    // memory (and the words written there overwrote globals and frames).
    // The machine's stack check stopped the run before the stack wrapped:
    // the frames are intact and all of them count.
    if (fault == Fault::stack_overflow)
        return "stack exhausted (call depth " + std::to_string(walk_frames(info, s).size()) + ")";
    const unsigned lowest_global = 0x10000u - info.global_words();
    if (f && fault != Fault::zero_divide &&
        (unsigned(s.reg(image::SP)) + 1 >= lowest_global || unsigned(frame_bp) + 2 >= lowest_global))
        return "stack exhausted (call depth " + std::to_string(call_depth(info, s, frame_bp)) + ")";
    switch (fault) {
    case Fault::zero_divide:
        return std::string("division by zero in '") + (op == image::MOD_M || op == image::MOD_R ? "mod" : "div") + "'";
    case Fault::illegal_memory_access:
        if (const ElementSite* access = site(info, pc, ElementSite::Kind::access))
            return "illegal memory access: " + index_text(info.array_of(*access), index) + ", beyond data memory";
        return "illegal memory access";
    case Fault::illegal_operation:
        if (!f) return "illegal operation at " + hex(pc) + ", outside the program's code (a return address overwritten?)";
        return "illegal operation";
    case Fault::stack_overflow:
    case Fault::other: break;
    }
    return "unknown error";
}

}  // namespace

std::string fault_cause(const DebugInfo& info, const MachineState& state, Fault fault) {
    return cause(info, state, fault, walk_frames(info, state).front().bp);
}

std::vector<ReportLine> fault_report_lines(const DebugInfo& info, const MachineState& state, Fault fault) {
    const std::vector<Frame> frames = walk_frames(info, state);
    const Frame& top = frames.front();
    std::vector<ReportLine> out;
    std::string first = info.source;
    if (top.line > 0) first += ":" + std::to_string(top.line);
    out.push_back({top.line, first + ": runtime error: " + cause(info, state, fault, top.bp)});
    if (!top.function && top.line == 0) return out;  // nowhere in the source

    // Deep recursion: the innermost calls and the outermost ones.
    constexpr std::size_t kInner = 8, kOuter = 3;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames.size() > kInner + kOuter + 1 && i == kInner) {
            out.push_back({0, info.source + ": ... " + std::to_string(frames.size() - kInner - kOuter) +
                                  " more calls ..."});
            i = frames.size() - kOuter - 1;
            continue;
        }
        out.push_back({frames[i].line, describe_frame(info, frames[i])});
    }
    return out;
}

std::string fault_report(const DebugInfo& info, const MachineState& state, Fault fault) {
    std::string out;
    for (const ReportLine& l : fault_report_lines(info, state, fault)) out += l.text + "\n";
    return out;
}

}  // namespace debuginfo
