// The frame walker: the active calls of a stopped machine, found through
// the saved bp chain of the calling convention.
//
// Frame of a function after its prologue (PUSH bp; LD bp,sp):
//   bp+3+i  argument i        bp+2  return address
//   bp+1    caller's bp       bp+0, bp-1, ...  locals
// Inside the prologue (before the function's body address, which the debug
// information records) the frame is only half built: its first word saves
// the caller's bp, its second sets bp. At the RET of an epilogue (recorded
// too) bp is the caller's again and the return address is on top of the
// stack.
#include <algorithm>
#include <cstdio>

#include "debuginfo.h"

namespace debuginfo {

namespace {

// Whether pc is at the RET of one of fn's epilogues. Files before version
// 3 do not record them; for those alone the instruction word tells.
bool at_return(const DebugInfo& info, const Function& fn, const MachineState& s, Word pc) {
    if (info.version >= 3) return std::binary_search(fn.returns.begin(), fn.returns.end(), pc);
    return s.code(pc) == image::make_word(image::RET);
}

// mem[base + offset], or nullopt beyond the top of memory (the machine
// would fault there, so no frame can lie there).
std::optional<Word> read_above(const MachineState& s, Word base, unsigned offset) {
    const unsigned a = unsigned(base) + offset;
    if (a > 0xFFFF) return std::nullopt;
    return s.memory(static_cast<Word>(a));
}

std::string hex(Word w) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", unsigned(w));
    return buf;
}

}  // namespace

std::vector<Frame> walk_frames(const DebugInfo& info, const MachineState& state, std::size_t max_frames) {
    std::vector<Frame> frames;
    if (max_frames == 0) return frames;
    const Word pc = state.pc();
    const Word bp = state.reg(image::BP);
    const Word sp = state.reg(image::SP);
    Frame frame{pc, info.line_at(pc), info.function_at(pc), bp};
    if (!frame.function) {
        frames.push_back(frame);
        return frames;
    }

    // Where the innermost frame keeps the return address and the caller's bp.
    std::optional<Word> ret, caller_bp;
    const Function& fn = *frame.function;
    const bool prologue = pc < fn.body;
    const Word sp1 = static_cast<Word>(sp + 1);  // the machine's stack wraps
    if (prologue && pc == fn.entry) {
        ret = state.memory(sp1);
        caller_bp = bp;
        frame.bp = static_cast<Word>(sp - 1);
    } else if (prologue && pc == fn.entry + 1) {
        caller_bp = state.memory(sp1);
        ret = state.memory(static_cast<Word>(sp + 2));
        frame.bp = sp;
    } else if (at_return(info, fn, state, pc)) {
        ret = state.memory(sp1);
        caller_bp = bp;
        frame.bp = static_cast<Word>(sp - 1);
    } else {
        ret = read_above(state, bp, 2);
        caller_bp = read_above(state, bp, 1);
    }

    std::vector<bool> visited(0x10000, false);
    visited[frame.bp] = true;
    while (true) {
        frames.push_back(frame);
        if (frames.size() >= max_frames || !ret || !caller_bp) break;
        const Word call = static_cast<Word>(*ret - 2);
        const std::optional<Word> call_word = state.code(call);
        if (!call_word || image::opcode_of(*call_word) != image::CALL) break;
        Frame caller{call, info.line_at(call), info.function_at(call), *caller_bp};
        if (!caller.function) {
            // A call made by a global initialiser; the start-up code's call
            // of start has no line and ends the walk silently.
            if (caller.line > 0) frames.push_back(caller);
            break;
        }
        if (visited[caller.bp]) break;
        visited[caller.bp] = true;
        ret = read_above(state, caller.bp, 2);
        caller_bp = read_above(state, caller.bp, 1);
        frame = caller;
    }
    return frames;
}

std::string frame_function(const Frame& frame) {
    if (frame.function) return frame.function->name;
    return frame.line > 0 ? "<global initialisation>" : "??";
}

std::string frame_text(std::string_view source, const Frame& frame, const std::vector<FrameArgument>& args,
                       bool show_pc) {
    std::string text;
    if (show_pc) text = hex(frame.pc) + " in ";
    text += frame_function(frame);
    if (frame.function) {
        text += " (";
        for (std::size_t i = 0; i < args.size(); ++i) text += (i ? ", " : "") + args[i].name + "=" + args[i].text;
        text += ")";
    } else if (frame.line == 0) {
        text += " ()";
    }
    if (frame.line > 0) text += " at " + std::string(source) + ":" + std::to_string(frame.line);
    return text;
}

std::string describe_frame(const DebugInfo& info, const Frame& frame) {
    std::string text = info.source;
    if (frame.line > 0) text += ":" + std::to_string(frame.line);
    text += ": in " + frame_function(frame);
    if (!frame.function && frame.line == 0) text += " at " + hex(frame.pc);
    return text;
}

}  // namespace debuginfo
