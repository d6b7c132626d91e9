// The session's run control and what a stop shows: starting the program,
// running it one instruction at a time until a step, a breakpoint, a
// watchpoint, a runtime error or the end, and the frame and source lines
// of the place where it stopped.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "listing.h"
#include "session_impl.h"
#include "source_report.h"

namespace debugger {

std::string hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return "";
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

std::optional<Program> load_program(std::string name, std::string& error, std::string& note) {
    image::LoadedImage loaded = image::load_image_file(name);
    if (loaded.error != image::LoadedImage::Error::none) {
        error = loaded.file + ": " + image::load_error_text(loaded);
        return std::nullopt;
    }
    name = loaded.file;
    Program p;
    p.image_name = name;
    p.words = std::move(loaded.words);
    debuginfo::LoadResult debug = debuginfo::load_for_image(name, p.words);
    if (debug.status == debuginfo::LoadResult::Status::missing) {
        note = debug.file + ": no debug information (compile with vexlc -g); only machine-level commands";
    } else {
        note = debuginfo::load_note(debug);
    }
    p.info = std::move(debug.info);
    if (p.info) {
        debuginfo::SourceText source = debuginfo::load_source(*p.info, name);
        note = debuginfo::source_note(source);  // the file itself was in order
        p.source = std::move(source.lines);
    }
    return p;
}

Session::Impl::Impl(Program program, Sinks s)
    : prog(std::move(program)), sinks(std::move(s)),
      program_tap([this](std::string_view text) {
          if (!fault_reported) sinks.program(text);
      }),
      error_tap([this](std::string_view) { fault_reported = true; }),
      program_out(&program_tap), error_out(&error_tap) {
    line_starts.assign(prog.words.size(), 0);
    if (!prog.info) return;
    for (const debuginfo::LineEntry& e : prog.info->lines)
        if (e.address < line_starts.size()) line_starts[e.address] = e.line;
    // A line that begins at a function's entry begins, for stops, after
    // the prologue, where the frame is complete: breakpoints on the
    // function and steps into it stop there.
    for (const debuginfo::Function& f : prog.info->functions) {
        if (f.body > f.entry && f.body < line_starts.size() && line_starts[f.entry] > 0 &&
            line_starts[f.body] == 0) {
            line_starts[f.body] = line_starts[f.entry];
            line_starts[f.entry] = 0;
        }
    }
}

const debuginfo::DebugInfo& Session::Impl::info() const {
    if (!prog.info) throw CommandError("No debug information loaded for " + prog.image_name + ".");
    return *prog.info;
}

int Session::Impl::line_start(Word pc) const { return pc < line_starts.size() ? line_starts[pc] : 0; }

void Session::Impl::require_running() const {
    if (state != State::stopped) throw CommandError("The program is not being run.");
}

// ---- run control ------------------------------------------------------------

void Session::Impl::start() {
    if (!input_file.empty()) {
        auto file = std::make_unique<std::ifstream>(input_file, std::ios::binary);
        if (!*file) throw CommandError(input_file + ": cannot open the input file.");
        run_input = std::move(file);
    } else if (input_stream) {
        run_input.reset();
    } else {
        run_input = std::make_unique<std::istringstream>(input_text);
    }
    std::istream& in = run_input ? *run_input : *input_stream;
    machine_ = std::make_unique<vm::Machine>(in, program_out, error_out);
    machine_->load(prog.words);
    machine_->set_check_stack(true);  // a runaway recursion stops before it overwrites anything
    state = State::stopped;
    faulted = false;
    fault_reported = false;
    fault_message.clear();
    depth = 0;
    frame_index = 0;
    // A watchpoint of a variable of some frame died with the last run.
    std::erase_if(watchpoints, [](const Watchpoint& w) { return w.local; });
    for (Watchpoint& w : watchpoints) w.value = read_words({w.text, w.variable, w.index, -1});
    say("Starting program: " + prog.image_name + "\n");
}

void Session::Impl::end_program() {
    state = State::ended;
    std::erase_if(watchpoints, [](const Watchpoint& w) { return w.local; });
}

void Session::Impl::resume(Mode mode, std::uint64_t count) {
    require_running();
    if (faulted)
        throw CommandError("The program cannot go on after a runtime error; use run to start it again.");
    interrupt_request.store(false);
    int levels = 1;
    if (mode == Mode::finish) {
        const std::vector<debuginfo::Frame> fs = frames();
        if (frame_index + 1 >= fs.size() || !fs[frame_index + 1].function)
            throw CommandError("\"finish\" not meaningful in the outermost frame.");
        say("Run till exit from #" + std::to_string(frame_index) + "  " +
            frame_text(fs[frame_index], frame_index == 0) + "\n");
        levels = int(frame_index) + 1;
    }
    const debuginfo::Function* returning = mode == Mode::finish ? selected().function : nullptr;
    Stop stop = Stop::done;
    for (std::uint64_t i = 0; i < count && stop == Stop::done; ++i) stop = advance(mode, levels);
    report_stop(stop);
    if (stop == Stop::done && returning && returning->result != debuginfo::Type::Void)
        say("Value returned is $" + std::to_string(++history) + " = " +
            format_word(machine().reg(0), returning->result, false) + "\n");
}

// Runs instructions until the mode is satisfied or something else stops
// the program. Calls are counted by their CALL and RET instructions, which
// the compiler uses for nothing else.
Stop Session::Impl::advance(Mode mode, int levels) {
    vm::Machine& m = *machine_;
    const std::int64_t base = depth;
    const int start_line = prog.info ? prog.info->line_at(m.pc()) : 0;
    const std::vector<Word>& code = m.code();
    while (true) {
        const Word pc = m.pc();
        int delta = 0;
        if (pc < code.size()) {
            const unsigned op = image::opcode_of(code[pc]);
            delta = op == image::CALL ? 1 : op == image::RET ? -1 : 0;
        }
        const vm::RunResult r = m.execute_capped(1);
        if (r.end == vm::RunResult::End::finished) return Stop::exited;
        if (r.end == vm::RunResult::End::fault) {
            faulted = true;
            fault_message = r.message;
            fault_kind = r.fault;
            return Stop::fault;
        }
        depth += delta;
        Stop watched;
        if (!watchpoints.empty() && check_watchpoints(watched)) return watched;

        const Word now = m.pc();
        const std::int64_t d = depth - base;
        const int line = line_start(now);
        bool done = false;
        switch (mode) {
        case Mode::cont: break;
        case Mode::stepi: done = true; break;
        case Mode::nexti: done = d <= 0; break;
        case Mode::step: done = d < 0 || (line > 0 && (line != start_line || d != 0)); break;
        case Mode::next: done = d < 0 || (d == 0 && line > 0 && line != start_line); break;
        case Mode::finish: done = d <= -levels; break;
        }
        // Stepping out of the last frame leads into the start-up code,
        // which has no line: the program is about to end, so let it.
        if (done && d < 0 && mode != Mode::stepi && mode != Mode::nexti && prog.info &&
            !prog.info->function_at(now) && prog.info->line_at(now) == 0) {
            done = false;
            mode = Mode::cont;
        }
        if (mode != Mode::stepi && mode != Mode::nexti) {
            for (Breakpoint& b : breakpoints) {
                if (b.address == now) {
                    ++b.hits;
                    say("\nBreakpoint " + std::to_string(b.number) + ", ");
                    return Stop::breakpoint;
                }
            }
        }
        if (done) return Stop::done;
        if (interrupt_request.load(std::memory_order_relaxed)) return Stop::interrupted;
    }
}

bool Session::Impl::check_watchpoints(Stop& stop) {
    for (auto it = watchpoints.begin(); it != watchpoints.end(); ++it) {
        Watchpoint& w = *it;
        if (w.local && depth < w.depth) {
            say("\nWatchpoint " + std::to_string(w.number) +
                " deleted because the program has left the block in\n"
                "which its expression is valid.\n");
            watchpoints.erase(it);
            stop = Stop::watchpoint;
            return true;
        }
        bool changed = false;
        for (std::size_t i = 0; i < w.value.size(); ++i)
            changed |= machine().memory(Word(w.address - i)) != w.value[i];
        if (!changed) continue;
        std::vector<Word> now(w.value.size());
        for (std::size_t i = 0; i < now.size(); ++i) now[i] = machine().memory(Word(w.address - i));
        const bool array = w.variable->is_array() && w.index < 0;
        say("\nWatchpoint " + std::to_string(w.number) + ": " + w.text + "\n\nOld value = " +
            format_words(w.value, w.variable->type, array) + "\nNew value = " +
            format_words(now, w.variable->type, array) + "\n");
        w.value = std::move(now);
        stop = Stop::watchpoint;
        return true;
    }
    return false;
}

void Session::Impl::report_stop(Stop stop) {
    frame_index = 0;
    list_next = 0;
    switch (stop) {
    case Stop::exited:
        end_program();
        say("[program exited normally]\n");
        return;
    case Stop::fault: {
        // The debug information may tell more (a division, a subscript
        // check, a stack that ran into the globals): the cause of the
        // first line of the source report.
        std::string cause;
        if (prog.info) {
            const std::string report = vm::fault_report(*prog.info, machine(), fault_kind);
            const std::string marker = "runtime error: ";
            const std::size_t at = report.find(marker);
            if (at != std::string::npos && at < report.find('\n'))
                cause = " (" + report.substr(at + marker.size(), report.find('\n') - at - marker.size()) + ")";
        }
        say("\nProgram stopped by a runtime error: " + fault_message + cause + "\n");
        break;
    }
    case Stop::interrupted: say("\nProgram interrupted.\n"); break;
    case Stop::done:
    case Stop::breakpoint:
    case Stop::watchpoint: break;
    }
    const std::vector<debuginfo::Frame> fs = frames();
    say(location_text(fs.front(), true));
    show_displays();
}

// ---- the stopped program ------------------------------------------------------

std::vector<debuginfo::Frame> Session::Impl::frames() const {
    if (!prog.info) {
        debuginfo::Frame f;
        f.pc = machine().pc();
        f.bp = machine().reg(image::BP);
        return {f};
    }
    std::vector<debuginfo::Frame> fs = debuginfo::walk_frames(*prog.info, vm::MachineView(machine()));
    if (fs.empty()) fs.push_back(debuginfo::Frame{machine().pc(), 0, nullptr, machine().reg(image::BP)});
    return fs;
}

// The frames are walked anew for every command; the selection is an index
// into them, kept in range by frame, up and down.
debuginfo::Frame Session::Impl::selected() const {
    const std::vector<debuginfo::Frame> fs = frames();
    return fs[std::min(frame_index, fs.size() - 1)];
}

// "factorial (n=3) at fact.vxl:3", with "0x0037 in " before it when the
// frame is not at the beginning of a line.
std::string Session::Impl::frame_text(const debuginfo::Frame& f, bool innermost) const {
    std::string text;
    if (!innermost || line_start(f.pc) == 0) text = hex4(f.pc) + " in ";
    if (!f.function) return text + "?? ()" + (f.line > 0 ? " at " + info().source + ":" + std::to_string(f.line) : "");
    text += f.function->name + " (";
    bool first = true;
    for (const debuginfo::Variable& p : f.function->parameters) {
        if (!first) text += ", ";
        first = false;
        const std::optional<Word> a = p.address(f.bp);
        text += p.name + "=" + (a ? format_word(machine().memory(*a), p.type, false) : "?");
    }
    text += ")";
    if (f.line > 0) text += " at " + info().source + ":" + std::to_string(f.line);
    return text;
}

// The frame line and the source line (or the instruction, where the code
// has no line) of a stop or a selected frame.
std::string Session::Impl::location_text(const debuginfo::Frame& f, bool innermost) const {
    std::string text = frame_text(f, innermost) + "\n";
    if (f.line > 0) return text + source_text(f.line);
    return text + instruction_text(f.pc);
}

std::string Session::Impl::source_text(int line) const {
    const std::string number = std::to_string(line);
    if (line >= 1 && std::size_t(line) <= prog.source.size())
        return number + "\t" + prog.source[std::size_t(line) - 1] + "\n";
    return number + "\t" + (prog.info ? prog.info->source : prog.image_name) +
           ": No such file or directory.\n";
}

// "0x0004\tCALL 0x0043,GR3": the listing of the one instruction at pc.
std::string Session::Impl::instruction_text(Word pc) const {
    if (pc >= prog.words.size()) return hex4(pc) + "\t(outside the image)\n";
    const std::string listed = image::list_instruction(prog.words, pc);
    return hex4(pc) + "\t" + listed.substr(std::min(listed.size(), image::kListingTextColumn)) + "\n";
}

// ---- the public face ----------------------------------------------------------

Session::Session(Program program, Sinks sinks)
    : impl_(std::make_unique<Impl>(std::move(program), std::move(sinks))) {}
Session::~Session() = default;

void Session::set_input_text(std::string text) {
    impl_->input_text = std::move(text);
    impl_->input_stream = nullptr;
    impl_->input_file.clear();
}

void Session::set_input_stream(std::istream* in) {
    impl_->input_stream = in;
    impl_->input_file.clear();
}

void Session::set_input_file(std::string name) { impl_->input_file = std::move(name); }

void Session::set_repeat_on_empty(bool on) { impl_->repeat_on_empty = on; }
bool Session::execute(std::string_view line) { return impl_->execute(line); }
bool Session::quit_requested() const { return impl_->quit; }
bool Session::running() const { return impl_->state == Impl::State::stopped; }
void Session::interrupt() { impl_->interrupt_request.store(true); }

}  // namespace debugger
