// The session's core: starting the program, running it one instruction at
// a time until a step, a breakpoint, a watchpoint, a runtime error or the
// end, each stop described as a StopEvent, and the structured views of the
// stopped program (frames, variables, breakpoints, registers).
#include <algorithm>
#include <charconv>
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

// A decimal or 0x-hexadecimal integer with an optional minus sign.
std::optional<long> parse_int(std::string_view s) {
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    long value = 0;
    if (s.empty() || s[0] == '-' || s[0] == '+') return std::nullopt;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
    return negative ? -value : value;
}

const char* reason_name(StopReason r) {
    switch (r) {
    case StopReason::step: return "step";
    case StopReason::breakpoint: return "breakpoint";
    case StopReason::watchpoint: return "watchpoint";
    case StopReason::exited: return "exited";
    case StopReason::fault: return "fault";
    case StopReason::interrupted: return "interrupted";
    }
    return "?";
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
        // Whatever the last run left (end of input, a failed read) is not
        // this run's business.
        input_stream->clear();
        if (input_fresh) input_fresh();
        run_input.reset();
    } else {
        run_input = std::make_unique<std::istringstream>(input_text);
    }
    std::istream& in = run_input ? *run_input : *input_stream;
    recording.reset();
    machine_.reset();
    recorded_input = std::make_unique<vm::record::RecordedInput>(&in);
    machine_in = std::make_unique<std::istream>(recorded_input.get());
    replay_output = std::make_unique<vm::record::ReplayOutput>(program_out.rdbuf());
    machine_out = std::make_unique<std::ostream>(replay_output.get());
    machine_ = std::make_unique<vm::Machine>(*machine_in, *machine_out, error_out);
    machine_->load(prog.words);
    machine_->set_check_stack(true);  // a runaway recursion stops before it overwrites anything
    recording = std::make_unique<vm::record::Recording>(*machine_, *machine_in, *recorded_input, *replay_output);
    output_mark = written_mark = 0;
    state = State::stopped;
    faulted = false;
    fault_reported = false;
    fault_message.clear();
    depth = 0;
    frame_index = 0;
    // A watchpoint of a variable of some frame died with the last run.
    std::erase_if(watchpoints, [](const Watchpoint& w) { return w.local; });
    for (Watchpoint& w : watchpoints) {
        w.value.assign(w.value.size(), 0);
        for (std::size_t i = 0; i < w.value.size(); ++i) w.value[i] = machine().memory(Word(w.address - i));
    }
}

void Session::Impl::end_program() {
    state = State::ended;
    std::erase_if(watchpoints, [](const Watchpoint& w) { return w.local; });
}

StopEvent Session::Impl::run() {
    start();
    return go();
}

// From the first instruction of a started run to the first stop.
StopEvent Session::Impl::go() {
    interrupt_request.store(false);
    temporaries_hit.clear();
    condition_error.clear();
    // A breakpoint on the very first instruction stops before it runs.
    StopEvent e;
    if (breakpoints_at(machine().pc(), e)) {
        e.reason = StopReason::breakpoint;
        return finish_stop(std::move(e));
    }
    return finish_stop(advance(Motion::cont, 1, {}));
}

StopEvent Session::Impl::resume(Motion mode, std::uint64_t count) {
    require_running();
    if (faulted)
        throw CommandError("The program cannot go on after a runtime error; use run to start it again.");
    if ((mode == Motion::step || mode == Motion::next || mode == Motion::until) && !prog.info) info();
    interrupt_request.store(false);
    mark_output();
    temporaries_hit.clear();
    condition_error.clear();
    int levels = 1;
    const debuginfo::Function* returning = nullptr;
    if (mode == Motion::finish) {
        const std::vector<debuginfo::Frame> fs = frames();
        if (frame_index + 1 >= fs.size() || !fs[frame_index + 1].function)
            throw CommandError("\"finish\" not meaningful in the outermost frame.");
        levels = int(frame_index) + 1;
        returning = fs[frame_index].function;
    }
    if (mode == Motion::cont && count > 1) {
        // continue N: pass the breakpoint stopped at N-1 more times.
        if (last_stop)
            for (int n : last_stop->breakpoints)
                for (Breakpoint& b : breakpoints)
                    if (b.number == n) b.ignore = int(std::min<std::uint64_t>(count - 1, 1u << 30));
        count = 1;
    }
    frame_index = 0;
    StopEvent e;
    for (std::uint64_t i = 0; i < count; ++i) {
        e = advance(mode, levels, {});
        if (e.reason != StopReason::step) break;
    }
    if (e.reason == StopReason::step && returning && returning->result != debuginfo::Type::Void) {
        Operand o;
        o.type = returning->result;
        o.words = {machine().reg(0)};
        e.returned = value_of(o, "");
    }
    return finish_stop(std::move(e));
}

StopEvent Session::Impl::run_to(std::vector<Word> targets) {
    require_running();
    if (faulted)
        throw CommandError("The program cannot go on after a runtime error; use run to start it again.");
    interrupt_request.store(false);
    mark_output();
    temporaries_hit.clear();
    condition_error.clear();
    const int levels = int(frame_index) + 1;
    frame_index = 0;
    return finish_stop(advance(Motion::until, levels, targets));
}

// Runs instructions until the mode is satisfied or something else stops
// the program. Calls are counted by their CALL and RET instructions, which
// the compiler uses for nothing else. With targets (until/advance LOCATION)
// the run stops at any of them, or when the selected frame (`levels` up)
// returns.
StopEvent Session::Impl::advance(Motion mode, int levels, const std::vector<Word>& targets) {
    vm::Machine& m = *machine_;
    std::int64_t base = depth;
    const Word start_pc = m.pc();
    int start_line = prog.info ? prog.info->line_at(start_pc) : 0;
    const std::vector<Word>& code = m.code();
    const bool located = !targets.empty();
    bool returned = false;  // stepped out into the middle of a caller's line
    StopEvent e;
    while (true) {
        const Word pc = m.pc();
        int delta = 0;
        if (pc < code.size()) {
            const unsigned op = image::opcode_of(code[pc]);
            delta = op == image::CALL ? 1 : op == image::RET ? -1 : 0;
        }
        const vm::RunResult r = recording->step();
        if (r.end == vm::RunResult::End::finished) {
            e.reason = StopReason::exited;
            return e;
        }
        if (r.end == vm::RunResult::End::fault) {
            faulted = true;
            fault_message = r.message;
            fault_kind = r.fault;
            e.reason = StopReason::fault;
            return e;
        }
        depth += delta;
        if (!watchpoints.empty() && check_watchpoints(e)) {
            e.reason = StopReason::watchpoint;
            return e;
        }

        const Word now = m.pc();
        std::int64_t d = depth - base;
        const int line = line_start(now);
        bool done = false;
        if (located) {
            done = d <= -levels || (d <= 1 - levels && std::find(targets.begin(), targets.end(), now) != targets.end());
        } else {
            switch (mode) {
            case Motion::cont: break;
            case Motion::stepi: done = true; break;
            case Motion::nexti: done = d <= 0; break;
            case Motion::step: done = d < 0 || (line > 0 && (line != start_line || d != 0)); break;
            case Motion::next: done = d < 0 || (d == 0 && line > 0 && line != start_line); break;
            case Motion::until:
                done = d < 0 || (d == 0 && line > 0 && (returned ? true : now > start_pc && line != start_line));
                break;
            case Motion::finish: done = d <= -levels; break;
            }
            // Stepping out of a function returns into the middle of the
            // caller's line: go on to the next line start there (a line
            // reached at its start counts, whichever it is), stepping into
            // the calls the rest of the line makes for step, over them for
            // next and until.
            if (done && d < 0 && line == 0 &&
                (mode == Motion::step || mode == Motion::next || mode == Motion::until)) {
                done = false;
                returned = true;
                if (mode == Motion::until) mode = Motion::next;
                base = depth;
                start_line = -1;
                d = 0;
            }
        }
        // Stepping out of the last frame leads into the start-up code,
        // which has no line: the program is about to end, so let it.
        if (done && d < 0 && mode != Motion::stepi && mode != Motion::nexti && prog.info &&
            !prog.info->function_at(now) && prog.info->line_at(now) == 0) {
            done = false;
            mode = Motion::cont;
        }
        if (mode != Motion::stepi && mode != Motion::nexti && breakpoints_at(now, e)) {
            e.reason = StopReason::breakpoint;
            return e;
        }
        if (done) {
            e.reason = StopReason::step;
            return e;
        }
        if (interrupt_request.load(std::memory_order_relaxed)) {
            e.reason = StopReason::interrupted;
            return e;
        }
    }
}

// Whether b's condition holds in the innermost frame: true without a
// condition, and true (noted in condition_error) when it cannot be tested.
bool Session::Impl::condition_holds(const Breakpoint& b) {
    if (b.condition.empty()) return true;
    frame_index = 0;
    try {
        const Operand c = eval(b.condition);
        return !c.words.empty() && c.words.front() != 0;
    } catch (const std::exception& x) {
        condition_error =
            "Error in testing condition for breakpoint " + std::to_string(b.number) + ":\n" + x.what() + "\n";
        return true;
    }
}

// The breakpoints at pc that stop the program now: enabled, their
// condition true (or not testable: that stops too, as a warning), their
// ignore count used up. Hits are counted when the condition holds.
bool Session::Impl::breakpoints_at(Word pc, StopEvent& e) {
    bool any = false;
    for (Breakpoint& b : breakpoints) {
        if (b.address != pc || !b.enabled) continue;
        if (!condition_holds(b)) continue;
        ++b.hits;
        if (b.ignore > 0) {
            --b.ignore;
            continue;
        }
        e.breakpoints.push_back(b.number);
        if (b.temporary) temporaries_hit.push_back(b.number);
        any = true;
    }
    if (!temporaries_hit.empty())
        std::erase_if(breakpoints, [&](const Breakpoint& b) {
            return std::find(temporaries_hit.begin(), temporaries_hit.end(), b.number) != temporaries_hit.end();
        });
    return any;
}

// Every watchpoint that sees a change (or whose frame returned) after one
// instruction: all are reported at the same stop.
bool Session::Impl::check_watchpoints(StopEvent& e) {
    bool any = false;
    std::vector<int> ended;
    for (Watchpoint& w : watchpoints) {
        if (w.local && depth < w.depth) {
            WatchHit h;
            h.number = w.number;
            h.expression = w.text;
            h.scope_ended = true;
            e.watches.push_back(std::move(h));
            ended.push_back(w.number);
            any = true;
            continue;
        }
        bool changed = false;
        std::vector<Word> now(w.value.size());
        for (std::size_t i = 0; i < now.size(); ++i) {
            now[i] = machine().memory(Word(w.address - i));
            changed |= now[i] != w.value[i];
        }
        if (!changed) continue;
        const bool array = w.variable->is_array() && w.index < 0;
        if (w.enabled) {
            WatchHit h;
            h.number = w.number;
            h.expression = w.text;
            Operand o;
            o.type = w.variable->type;
            o.array = array;
            o.words = w.value;
            h.old_value = value_of(o, w.text);
            o.words = now;
            h.new_value = value_of(o, w.text);
            e.watches.push_back(std::move(h));
            ++w.hits;
            any = true;
        }
        w.value = std::move(now);
    }
    std::erase_if(watchpoints, [&](const Watchpoint& w) {
        return std::find(ended.begin(), ended.end(), w.number) != ended.end();
    });
    return any;
}

// The location (and fault) of a stop, remembered as the last one.
StopEvent Session::Impl::finish_stop(StopEvent e) {
    frame_index = 0;
    list_next = 0;
    if (recording) {
        e.replaying = recording->replaying();
        const std::uint64_t now = replay_output->position();
        if (now > output_mark)
            e.replayed_output = std::min(now, written_mark) - std::min(output_mark, written_mark);
    }
    if (e.reason == StopReason::exited) {
        end_program();
    } else {
        e.location = location_of(machine().pc());
        if (e.reason == StopReason::fault) {
            FaultView f;
            f.kind = fault_kind;
            f.message = fault_message;
            if (prog.info) f.cause = vm::fault_cause(*prog.info, machine(), fault_kind);
            e.fault = std::move(f);
        }
    }
    last_stop = e;
    return e;
}

int Session::Impl::add_breakpoint(Word address, std::string condition, bool temporary) {
    if (!condition.empty()) check_condition(condition, address);
    Breakpoint b;
    b.number = next_number++;
    b.address = address;
    b.condition = std::move(condition);
    b.temporary = temporary;
    breakpoints.push_back(b);
    return b.number;
}

// Whether FILE names the program's source: as the compiler was given it,
// by its last component, or as a path leading to the same file.
bool Session::Impl::source_matches(std::string_view file) const {
    namespace fs = std::filesystem;
    const std::string& src = info().source;
    if (file == src) return true;
    const fs::path given(file), source(src);
    if (given.filename() != source.filename()) return false;
    if (!given.has_parent_path() || given.parent_path() == ".") return true;
    std::error_code ec;
    if (fs::equivalent(given, source, ec)) return true;
    // The source beside the image when it is not where the compiler saw it.
    const fs::path beside = fs::path(prog.image_name).parent_path() / source.filename();
    return fs::equivalent(given, beside, ec) ||
           fs::weakly_canonical(given, ec).lexically_normal() == fs::absolute(source, ec).lexically_normal();
}

// LINE or FILE:LINE, a line of the source (1 up to its last line).
int Session::Impl::parse_line_spec(std::string_view raw) const {
    std::string text = trim(raw);
    const debuginfo::DebugInfo& di = info();
    if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
        const std::string file = text.substr(0, colon);
        if (!source_matches(file)) throw CommandError("No source file named " + file + ".");
        text = trim(std::string_view(text).substr(colon + 1));
    }
    const std::optional<long> line = parse_int(text);
    if (!line) return 0;
    int last = int(prog.source.size());
    for (const debuginfo::LineEntry& e : di.lines) last = std::max(last, e.line);
    if (*line < 1 || *line > last)
        throw CommandError("Line number " + text + " out of range; \"" + di.source + "\" has " +
                           std::to_string(last) + " lines.");
    return int(*line);
}

// A code address from LINE, FILE:LINE, FUNCTION, FILE:FUNCTION or *ADDRESS.
Word Session::Impl::parse_location(std::string_view raw, bool) const {
    std::string text = trim(raw);
    if (text.empty()) throw CommandError("Argument required (a location).");
    if (text[0] == '*') {
        const std::optional<long> a = parse_int(trim(std::string_view(text).substr(1)));
        if (!a || *a < 0 || *a >= long(prog.words.size()))
            throw CommandError("No code at address \"" + text.substr(1) + "\".");
        return Word(*a);
    }
    const debuginfo::DebugInfo& di = info();
    if (const int line = parse_line_spec(text); line > 0) {
        // A line without code: the next line that has some.
        int last = 0;
        for (const debuginfo::LineEntry& e : di.lines) last = std::max(last, e.line);
        std::vector<Word> at;
        for (int l = line; l <= last && at.empty(); ++l) at = di.addresses_of_line(l);
        if (at.empty()) throw CommandError("Line " + std::to_string(line) + " has no code.");
        // Where the line begins for stops (after a function's prologue).
        for (Word a = at.front(); a < line_starts.size(); ++a)
            if (line_starts[a] > 0 || a == at.front() + 8) return line_starts[a] > 0 ? a : at.front();
        return at.front();
    }
    if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) text = trim(std::string_view(text).substr(colon + 1));
    if (const std::optional<long> n = parse_int(text)) throw CommandError("Line number " + text + " out of range.");
    const debuginfo::Function* f = di.find_function(text);
    if (!f) throw CommandError("Function \"" + text + "\" not defined.");
    // The first line of code inside the function, past its prologue.
    for (Word a = f->entry; a < f->end && a < line_starts.size(); ++a)
        if (line_starts[a] > 0) return a;
    return f->entry;
}

int Session::Impl::add_watchpoint(std::string_view raw) {
    const std::string text = trim(raw);
    if (text.empty()) throw CommandError("Argument required (expression to watch).");
    const Operand o = eval(text, true);
    if (!o.variable || !o.address) throw CommandError("Cannot watch \"" + text + "\": not a variable or an element.");
    Watchpoint w;
    w.number = next_number++;
    w.text = o.name;
    w.variable = o.variable;
    w.index = o.index;
    w.local = o.variable->storage != debuginfo::Storage::Global;
    w.depth = depth - std::int64_t(frame_index);
    w.address = *o.address;
    w.value = o.words;
    watchpoints.push_back(std::move(w));
    return watchpoints.back().number;
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

Location Session::Impl::location_of(Word pc) const {
    Location l;
    l.pc = pc;
    l.line_start = line_start(pc) > 0;
    if (prog.info) {
        l.file = prog.info->source;
        l.line = prog.info->line_at(pc);
        if (const debuginfo::Function* f = prog.info->function_at(pc)) l.function = f->name;
    }
    return l;
}

FrameView Session::Impl::frame_view(const debuginfo::Frame& f, std::size_t level) const {
    FrameView v;
    v.level = int(level);
    v.location = location_of(f.pc);
    v.location.line = f.line;
    if (level > 0) v.location.line_start = false;
    v.bp = f.bp;
    std::vector<debuginfo::FrameArgument> shown;
    if (f.function) {
        for (const debuginfo::Variable& p : f.function->parameters) {
            v.args.push_back(variable_value(p, f.bp));
            shown.push_back({v.args.back().expression, v.args.back().text});
        }
    }
    v.name = debuginfo::frame_function(f);
    v.text = debuginfo::frame_text(v.location.file, f, shown, !v.location.line_start);
    return v;
}

std::vector<FrameView> Session::Impl::backtrace() const {
    std::vector<FrameView> out;
    if (state != State::stopped) return out;
    const std::vector<debuginfo::Frame> fs = frames();
    for (std::size_t i = 0; i < fs.size(); ++i) out.push_back(frame_view(fs[i], i));
    return out;
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

// ---- values -------------------------------------------------------------------

namespace {

// What an expression sees: the selected frame of the stopped program, the
// globals before a run (with their initial value 0 unknown: not readable),
// the value history.
class SessionScope : public Scope {
public:
    // places: before a run, a global is known by its place (enough to
    // watch it) though its value is not.
    SessionScope(const Session::Impl& s, bool places) : s_(s), places_(places) {}

    Operand variable(std::string_view name) const override {
        const debuginfo::DebugInfo& di = s_.info();
        const debuginfo::Variable* v = nullptr;
        const bool running = s_.state == Session::Impl::State::stopped;
        if (running) {
            v = di.find_variable(name, s_.selected().pc);
        } else {
            for (const debuginfo::Variable& g : di.globals)
                if (g.name == name) v = &g;
        }
        if (!v) throw EvalError("No symbol \"" + std::string(name) + "\" in current context.");
        Operand o;
        o.type = v->type;
        o.variable = v;
        o.name = v->name;
        o.array = v->is_array();
        if (!running) {
            if (!places_) throw EvalError("The program is not being run.");
            o.address = v->address(0, 0);
            o.words.assign(v->is_array() ? v->array_size : 1, 0);
            return o;
        }
        o.address = s_.address_of(*v, 0);
        const std::size_t count = v->is_array() ? v->array_size : 1;
        if (count > std::size_t(*o.address) + 1) throw EvalError("Cannot access memory of \"" + v->name + "\".");
        for (std::size_t i = 0; i < count; ++i) o.words.push_back(s_.machine().memory(Word(*o.address - i)));
        return o;
    }

    Operand element(const Operand& array, long index) const override {
        const debuginfo::Variable& v = *array.variable;
        if (index < 0 || index >= long(v.array_size))
            throw EvalError("Index " + std::to_string(index) + " is outside " + v.name + "[" +
                            std::to_string(v.array_size) + "].");
        Operand o;
        o.type = v.type;
        o.variable = &v;
        o.index = int(index);
        o.name = v.name + "[" + std::to_string(index) + "]";
        o.address = Word(*array.address - index);
        o.words = {array.words[std::size_t(index)]};
        return o;
    }

    Operand reg(std::string_view name) const override {
        std::string lower(name);
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        int r = lower == "pc" ? 7 : -1;
        for (unsigned i = 0; i < unsigned(image::kRegisterCount) && r < 0; ++i) {
            std::string n = image::register_name(i);
            for (char& c : n) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower == n) r = int(i);
        }
        if (r < 0) throw EvalError("Invalid register \"$" + std::string(name) + "\".");
        if (s_.state != Session::Impl::State::stopped) throw EvalError("The program is not being run.");
        Operand o;
        o.reg = r;
        o.name = "$" + lower;
        o.words = {r == 7 ? s_.machine().pc() : s_.machine().reg(unsigned(r))};
        return o;
    }

    Operand history(long n, bool relative) const override {
        const std::vector<Value>& h = s_.history;
        long at = relative ? long(h.size()) - 1 - n : n - 1;
        if (h.empty() && relative) throw EvalError("History is empty.");
        if (at < 0 || at >= long(h.size()))
            throw EvalError("History has not yet reached $" + std::to_string(relative ? long(h.size()) - n : n) + ".");
        const Value& v = h[std::size_t(at)];
        Operand o;
        o.type = v.type;
        o.array = v.array;
        o.words = v.words;
        return o;
    }

    Word memory(Word address) const override {
        if (s_.state != Session::Impl::State::stopped) throw EvalError("The program is not being run.");
        return s_.machine().memory(address);
    }

private:
    const Session::Impl& s_;
    bool places_;
};

// What a breakpoint condition will see where the breakpoint is: the names
// visible at that address, with placeholder values (1), so that a
// condition naming nothing known, or mixing types, is refused when set.
class ProbeScope : public Scope {
public:
    ProbeScope(const Session::Impl& s, Word pc) : s_(s), pc_(pc) {}

    Operand variable(std::string_view name) const override {
        const debuginfo::Variable* v = s_.info().find_variable(name, pc_);
        if (!v) throw EvalError("No symbol \"" + std::string(name) + "\" in current context.");
        Operand o;
        o.type = v->type;
        o.variable = v;
        o.name = v->name;
        o.array = v->is_array();
        o.address = Word(0xFFFF);
        o.words.assign(v->is_array() ? v->array_size : 1, 1);
        return o;
    }
    Operand element(const Operand& array, long) const override {
        Operand o = array;
        o.array = false;
        o.index = 0;
        o.words = {1};
        return o;
    }
    Operand reg(std::string_view name) const override {
        Operand o;
        o.reg = 0;
        o.name = std::string(name);
        o.words = {1};
        return o;
    }
    Operand history(long, bool) const override {
        Operand o;
        o.words = {1};
        return o;
    }
    Word memory(Word) const override { return 1; }

private:
    const Session::Impl& s_;
    Word pc_;
};

}  // namespace

// Refuses a condition that cannot be evaluated at pc for what it says
// (unknown names, syntax, types); values are not known yet.
void Session::Impl::check_condition(std::string_view condition, Word pc) const {
    if (!prog.info) return;
    try {
        debugger::evaluate(condition, ProbeScope(*this, pc));
    } catch (const EvalError& x) {
        // A divisor of the placeholder values says nothing of the real ones.
        if (!std::string_view(x.what()).starts_with("Division")) throw CommandError(x.what());
    }
}

Operand Session::Impl::eval(std::string_view text, bool places) const {
    return debugger::evaluate(text, SessionScope(*this, places));
}

Word Session::Impl::address_of(const debuginfo::Variable& v, int index) const {
    const Word bp = v.storage == debuginfo::Storage::Global ? 0 : selected().bp;
    const std::optional<Word> a = v.address(bp, std::max(index, 0));
    if (!a) throw CommandError("Cannot access memory of \"" + v.name + "\".");
    return *a;
}

// Words as print shows them: a format letter (x d u t o c) or by type.
std::string Session::Impl::format_word(Word w, debuginfo::Type type, char format) const {
    char text[40];
    switch (format) {
    case 'x': return hex4(w);
    case 'd': return std::to_string(int(std::int16_t(w)));
    case 'u': return std::to_string(unsigned(w));
    case 'o':
        std::snprintf(text, sizeof text, "0%o", unsigned(w));
        return w ? text : "0";
    case 't': {
        std::string bits;
        for (int i = 15; i >= 0; --i)
            if (!bits.empty() || (w >> i & 1u)) bits += char('0' + (w >> i & 1u));
        return bits.empty() ? "0" : bits;
    }
    case 'c': {
        const int v = int(std::int16_t(w));
        if (v >= 32 && v < 127) {
            std::snprintf(text, sizeof text, "%d '%s%c'", v, v == '\'' || v == '\\' ? "\\" : "", char(v));
            return text;
        }
        const char* esc = v == '\n' ? "\\n" : v == '\t' ? "\\t" : v == 0 ? "\\000" : nullptr;
        if (esc) {
            std::snprintf(text, sizeof text, "%d '%s'", v, esc);
            return text;
        }
        std::snprintf(text, sizeof text, "%d '\\%03o'", v, unsigned(w) & 0777u);
        return text;
    }
    default: break;
    }
    if (type == debuginfo::Type::Bool) return w ? "true" : "false";
    return std::to_string(int(std::int16_t(w)));
}

// Arrays as {1, 2, 3}; ten or more equal elements in a row are written
// once with "<repeats N times>", and at most 200 elements are shown.
std::string Session::Impl::format_words(const std::vector<Word>& words, debuginfo::Type type, bool array,
                                        char format) const {
    if (!array) return format_word(words.front(), type, format);
    constexpr std::size_t kRepeats = 10, kShown = 200;
    std::string text = "{";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < words.size();) {
        std::size_t run = 1;
        while (i + run < words.size() && words[i + run] == words[i]) ++run;
        if (shown >= kShown) {
            text += "...";
            break;
        }
        if (i > 0) text += ", ";
        if (run >= kRepeats) {
            text += format_word(words[i], type, format) + " <repeats " + std::to_string(run) + " times>";
            i += run;
            shown += kRepeats;
        } else {
            text += format_word(words[i], type, format);
            ++i;
            ++shown;
        }
    }
    return text + "}";
}

Value Session::Impl::value_of(const Operand& o, std::string expression, char format) const {
    Value v;
    v.expression = std::move(expression);
    v.type = o.type;
    v.array = o.array;
    v.words = o.words;
    // Addresses in registers read best in hexadecimal.
    const bool address = o.reg == 7 || o.reg == image::BP || o.reg == image::SP;
    v.text = v.words.empty() ? "" : format_words(v.words, v.type, v.array, format ? format : address ? 'x' : 0);
    return v;
}

Value Session::Impl::variable_value(const debuginfo::Variable& var, Word bp) const {
    Value v;
    v.expression = var.name;
    v.type = var.type;
    v.array = var.is_array();
    const std::size_t count = var.is_array() ? var.array_size : 1;
    const std::optional<Word> a = var.address(bp, 0);
    if (!a || count > std::size_t(*a) + 1) {
        // A frame base that cannot be this function's (a damaged stack):
        // said as gdb says it, with the first word that is not there.
        const long first = (var.storage == debuginfo::Storage::Global ? 0L : long(bp)) + var.location;
        const long missing = a ? -1L : first;
        char where[24];
        std::snprintf(where, sizeof where, missing < 0 ? "-0x%lx" : "0x%lx", missing < 0 ? -missing : missing);
        v.text = std::string("<error: Cannot access memory at address ") + where + ">";
        return v;
    }
    for (std::size_t i = 0; i < count; ++i) v.words.push_back(machine().memory(Word(*a - i)));
    v.text = format_words(v.words, v.type, v.array);
    return v;
}

std::vector<Value> Session::Impl::variables_of(const std::vector<debuginfo::Variable>& vars, std::size_t level) const {
    std::vector<Value> out;
    if (state != State::stopped) return out;
    const std::vector<debuginfo::Frame> fs = frames();
    if (level >= fs.size()) return out;
    for (const debuginfo::Variable& v : vars) out.push_back(variable_value(v, fs[level].bp));
    return out;
}

// Stores a value into a variable, an element or a register, of the same
// type (a bool is no int here, as in the language).
void Session::Impl::assign(const Operand& target, const Operand& value) {
    require_running();
    if (target.reg < 0 && !target.address) throw CommandError("Left operand of assignment is not an lvalue.");
    if (target.array) throw CommandError("Cannot assign to a whole array.");
    if (value.array) throw CommandError("Cannot assign an array.");
    const debuginfo::Type want = target.reg >= 0 ? debuginfo::Type::Int : target.type;
    if (value.type != want)
        throw CommandError("Cannot assign a value of type " + std::string(debuginfo::type_name(value.type)) +
                           " to " + (target.name.empty() ? "this" : target.name) + " of type " +
                           debuginfo::type_name(want) + ".");
    const Word w = value.words.front();
    if (target.reg == 7) {
        machine_->set_pc(w);
    } else if (target.reg >= 0) {
        machine_->set_reg(unsigned(target.reg), w);
    } else {
        if (target.variable && target.variable->is_const)
            throw CommandError("\"" + target.variable->name + "\" is a constant.");
        machine_->set_memory(*target.address, w);
    }
    // The recorded future no longer follows from here.
    if (recording) recording->truncate();
    refresh_watch_values();
}

// A change made by the debugger is no change by the program.
void Session::Impl::refresh_watch_values() {
    for (Watchpoint& wp : watchpoints)
        for (std::size_t i = 0; i < wp.value.size(); ++i) wp.value[i] = machine().memory(Word(wp.address - i));
}

// ---- the public face ----------------------------------------------------------

Session::Session(Program program, Sinks sinks)
    : impl_(std::make_unique<Impl>(std::move(program), std::move(sinks))) {}
Session::~Session() = default;

void Session::set_input_text(std::string text) {
    impl_->input_text = std::move(text);
    impl_->input_stream = nullptr;
    impl_->input_fresh = nullptr;
    impl_->input_file.clear();
}

void Session::set_input_stream(std::istream* in, std::function<void()> fresh) {
    impl_->input_stream = in;
    impl_->input_fresh = std::move(fresh);
    impl_->input_file.clear();
}

void Session::set_input_file(std::string name) { impl_->input_file = std::move(name); }

void Session::set_repeat_on_empty(bool on) { impl_->repeat_on_empty = on; }
bool Session::execute(std::string_view line) { return impl_->execute(line); }
bool Session::quit_requested() const { return impl_->quit; }
bool Session::running() const { return impl_->state == Impl::State::stopped; }
void Session::interrupt() { impl_->interrupt_request.store(true); }

std::vector<std::string> Session::completions(std::string_view before, std::string_view word) const {
    return impl_->completions(before, word);
}

namespace {

// Runs f, turning a failure into nullopt and its reason.
template <typename F>
auto attempt(std::string* error, F f) -> std::optional<decltype(f())> {
    try {
        return f();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return std::nullopt;
    }
}

}  // namespace

std::optional<StopEvent> Session::run(std::string* error) {
    return attempt(error, [&] { return impl_->run(); });
}

std::optional<StopEvent> Session::resume(Motion motion, std::uint64_t count, std::string* error) {
    return attempt(error, [&] { return impl_->resume(motion, count); });
}

std::optional<StopEvent> Session::run_to(std::string_view where, std::string* error) {
    return attempt(error, [&] { return impl_->run_to({impl_->parse_location(where)}); });
}

std::optional<StopEvent> Session::reverse(Motion motion, std::uint64_t count, std::string* error) {
    return attempt(error, [&] { return impl_->reverse(motion, count); });
}

std::optional<StopEvent> Session::seek(std::uint64_t instruction, std::string* error) {
    return attempt(error, [&] { return impl_->seek(instruction); });
}

std::optional<RecordView> Session::record() const {
    const vm::record::Recording* r = impl_->recording.get();
    if (!r) return std::nullopt;
    return RecordView{r->now(), r->end(), r->snapshots(), r->bytes(), r->interval(),
                      impl_->replay_output->position()};
}

const std::optional<StopEvent>& Session::last_stop() const { return impl_->last_stop; }

std::optional<int> Session::add_breakpoint(std::string_view where, std::string condition, bool temporary,
                                           std::string* error) {
    return attempt(error, [&] { return impl_->add_breakpoint(impl_->parse_location(where), condition, temporary); });
}

std::optional<int> Session::add_watchpoint(std::string_view expression, std::string* error) {
    return attempt(error, [&] { return impl_->add_watchpoint(expression); });
}

bool Session::delete_breakpoint(int number) {
    const auto b = std::erase_if(impl_->breakpoints, [&](const Breakpoint& x) { return x.number == number; });
    const auto w = std::erase_if(impl_->watchpoints, [&](const Watchpoint& x) { return x.number == number; });
    return b + w > 0;
}

bool Session::enable_breakpoint(int number, bool enabled) {
    for (Breakpoint& b : impl_->breakpoints)
        if (b.number == number) return b.enabled = enabled, true;
    for (Watchpoint& w : impl_->watchpoints)
        if (w.number == number) return w.enabled = enabled, true;
    return false;
}

std::vector<BreakpointView> Session::breakpoints() const {
    std::vector<BreakpointView> out;
    for (const Breakpoint& b : impl_->breakpoints) {
        BreakpointView v;
        v.number = b.number;
        v.enabled = b.enabled;
        v.temporary = b.temporary;
        v.location = impl_->location_of(b.address);
        v.condition = b.condition;
        v.ignore_count = b.ignore;
        v.hits = b.hits;
        out.push_back(std::move(v));
    }
    for (const Watchpoint& w : impl_->watchpoints) {
        BreakpointView v;
        v.number = w.number;
        v.watchpoint = true;
        v.enabled = w.enabled;
        v.expression = w.text;
        v.hits = w.hits;
        out.push_back(std::move(v));
    }
    std::sort(out.begin(), out.end(), [](const BreakpointView& a, const BreakpointView& b) { return a.number < b.number; });
    return out;
}

std::vector<FrameView> Session::backtrace() const { return impl_->backtrace(); }
std::size_t Session::selected_frame() const { return impl_->frame_index; }

bool Session::select_frame(std::size_t level) {
    if (!running() || level >= impl_->frames().size()) return false;
    impl_->frame_index = level;
    impl_->list_next = 0;
    return true;
}

std::vector<Value> Session::args(std::size_t level) const {
    if (!running() || !impl_->prog.info) return {};
    const std::vector<debuginfo::Frame> fs = impl_->frames();
    if (level >= fs.size() || !fs[level].function) return {};
    return impl_->variables_of(fs[level].function->parameters, level);
}

std::vector<Value> Session::locals(std::size_t level) const {
    if (!running() || !impl_->prog.info) return {};
    const std::vector<debuginfo::Frame> fs = impl_->frames();
    if (level >= fs.size() || !fs[level].function) return {};
    return impl_->variables_of(fs[level].function->locals, level);
}

std::vector<Value> Session::globals() const {
    if (!running() || !impl_->prog.info) return {};
    return impl_->variables_of(impl_->prog.info->globals, 0);
}

std::optional<Registers> Session::registers() const {
    if (!running()) return std::nullopt;
    Registers r;
    r.regs = impl_->machine().registers();
    r.pc = impl_->machine().pc();
    r.zero_flag = impl_->machine().zero_flag();
    r.sign_flag = impl_->machine().sign_flag();
    return r;
}

std::optional<Value> Session::evaluate(std::string_view expression, std::string* error) const {
    return attempt(error, [&] { return impl_->value_of(impl_->eval(expression), trim(expression)); });
}

}  // namespace debugger
