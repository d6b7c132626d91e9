// The browser's debugger and the source positions of a run: a debugger
// session bound through its structured interface, and the active calls at
// a runtime error, both from the debug information the compiler wrote
// with -g.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <sstream>
#include <string>
#include <vector>

#include "bindings.h"
#include "debuginfo.h"
#include "session.h"
#include "source_report.h"

using emscripten::val;

namespace web {

std::optional<debuginfo::DebugInfo> read_debug_info(const std::string& text) {
    return debuginfo::read(text).info;
}

val line_table(const debuginfo::DebugInfo& info) {
    val table = val::array();
    for (const auto& e : info.lines) {
        table.call<void>("push", static_cast<unsigned>(e.address));
        table.call<void>("push", e.line);
    }
    return table;
}

val global_names(const debuginfo::DebugInfo& info) {
    val names = val::array();
    for (const auto& g : info.globals) names.call<void>("push", g.name);
    return names;
}

val fault_lines(const debuginfo::DebugInfo& info, const vm::Machine& machine, vm::Fault fault) {
    val list = val::array();
    for (const debuginfo::ReportLine& l : vm::fault_report_lines(info, machine, fault)) {
        val entry = val::object();
        entry.set("line", l.line);
        entry.set("text", l.text);
        list.call<void>("push", entry);
    }
    return list;
}

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

val value_list(const std::vector<debugger::Value>& values) {
    val list = val::array();
    for (const debugger::Value& v : values) {
        val item = val::object();
        item.set("name", v.expression);
        item.set("type", std::string(debuginfo::type_name(v.type)));
        item.set("array", v.array);
        item.set("text", v.text);
        list.call<void>("push", item);
    }
    return list;
}

val location(const debugger::Location& l) {
    val o = val::object();
    o.set("pc", static_cast<unsigned>(l.pc));
    o.set("line", l.line);
    o.set("lineStart", l.line_start);
    o.set("function", l.function);
    o.set("file", l.file);
    return o;
}

// A debugger session on one compiled program, bound through the session's
// structured interface: the page gets stops, frames, variables and
// registers as objects. execute() runs one command line of the command
// language (the buttons' step, next, finish, continue) and returns what it
// wrote, for the log.
class Debug {
public:
    Debug(const val& image, const std::string& debug_text, const std::string& source,
          const std::string& input)
        : session_(program(image, debug_text, source), sinks()) {
        session_.set_input_text(input);
    }

    val execute(const std::string& line) {
        clear();
        const bool ok = session_.execute(line);
        return taken(ok);
    }

    // A breakpoint at a line: its number, or 0 (the reason in error).
    val add_breakpoint(int line) {
        clear();
        std::string why;
        const std::optional<int> n = session_.add_breakpoint(std::to_string(line), {}, false, &why);
        val r = taken(bool(n));
        r.set("number", n.value_or(0));
        r.set("error", why);
        return r;
    }
    bool delete_breakpoint(int number) { return session_.delete_breakpoint(number); }
    bool running() const { return session_.running(); }

    // Goes to the state after `instruction` instructions of the recorded run.
    val seek(double instruction) {
        clear();
        std::string why;
        const bool ok = bool(session_.seek(static_cast<std::uint64_t>(instruction), &why));
        if (!ok) error_ = why + "\n";
        return taken(ok);
    }

    // Everything the page shows after a stop.
    val state() {
        val s = val::object();
        s.set("running", session_.running());
        if (const auto& e = session_.last_stop()) {
            val stop = val::object();
            stop.set("reason", std::string(debugger::reason_name(e->reason)));
            val numbers = val::array();
            for (int n : e->breakpoints) numbers.call<void>("push", n);
            stop.set("breakpoints", numbers);
            val watches = val::array();
            for (const debugger::WatchHit& w : e->watches) {
                val hit = val::object();
                hit.set("number", w.number);
                hit.set("expression", w.expression);
                hit.set("scopeEnded", w.scope_ended);
                hit.set("old", w.old_value.text);
                hit.set("new", w.new_value.text);
                watches.call<void>("push", hit);
            }
            stop.set("watches", watches);
            if (e->location) stop.set("location", location(*e->location));
            if (e->fault) {
                stop.set("fault", e->fault->message);
                stop.set("cause", e->fault->cause);
            }
            if (e->returned) stop.set("returned", e->returned->text);
            s.set("stop", stop);
        }
        val frames = val::array();
        for (const debugger::FrameView& f : session_.backtrace()) {
            val frame = location(f.location);
            frame.set("level", f.level);
            frame.set("name", f.name);
            frame.set("text", f.text);
            frame.set("bp", static_cast<unsigned>(f.bp));
            frame.set("args", value_list(f.args));
            frame.set("locals", value_list(session_.locals(std::size_t(f.level))));
            frames.call<void>("push", frame);
        }
        // Where the program stands in its recorded run (the timeline).
        if (const auto r = session_.record()) {
            val record = val::object();
            record.set("now", static_cast<double>(r->now));
            record.set("end", static_cast<double>(r->end));
            record.set("output", static_cast<double>(r->output));
            s.set("record", record);
        }
        // The data words that differ from the last state shown.
        val written = val::array();
        std::vector<image::Word> memory = session_.memory(0, 65536);
        if (!memory.empty()) {
            if (shown_.size() == memory.size()) {
                for (std::size_t a = 0; a < memory.size() && written["length"].as<unsigned>() < 64; ++a) {
                    if (memory[a] == shown_[a]) continue;
                    val word = val::object();
                    word.set("address", static_cast<unsigned>(a));
                    word.set("value", static_cast<unsigned>(memory[a]));
                    word.set("old", static_cast<unsigned>(shown_[a]));
                    written.call<void>("push", word);
                }
            }
            shown_ = std::move(memory);
        }
        s.set("written", written);
        s.set("frames", frames);
        const std::size_t level = session_.selected_frame();
        s.set("args", value_list(session_.args(level)));
        s.set("locals", value_list(session_.locals(level)));
        s.set("globals", value_list(session_.globals()));
        if (const auto r = session_.registers()) {
            val regs = val::array();
            for (unsigned i = 0; i < r->regs.size(); ++i) {
                val reg = val::object();
                reg.set("name", std::string(image::register_name(i)));
                reg.set("value", static_cast<unsigned>(r->regs[i]));
                regs.call<void>("push", reg);
            }
            val pc = val::object();
            pc.set("name", std::string("pc"));
            pc.set("value", static_cast<unsigned>(r->pc));
            regs.call<void>("push", pc);
            s.set("registers", regs);
            s.set("zeroFlag", r->zero_flag);
            s.set("signFlag", r->sign_flag);
        }
        return s;
    }

private:
    static debugger::Program program(const val& image, const std::string& debug_text,
                                     const std::string& source) {
        debugger::Program p;
        p.image_name = "prog.exec";
        p.words = words_of(image);
        p.info = read_debug_info(debug_text);
        p.source = split_lines(source);
        return p;
    }
    debugger::Sinks sinks() {
        return {[this](std::string_view s) { program_.append(s); },
                [this](std::string_view s) { console_.append(s); },
                [this](std::string_view s) { error_.append(s); }};
    }
    void clear() {
        program_.clear();
        console_.clear();
        error_.clear();
    }
    val taken(bool ok) const {
        val r = val::object();
        r.set("ok", ok);
        r.set("program", bytes(program_));
        r.set("console", console_);
        r.set("error", error_);
        return r;
    }

    std::string program_, console_, error_;
    std::vector<image::Word> shown_;  // data memory at the last state()
    debugger::Session session_;
};

}  // namespace

EMSCRIPTEN_BINDINGS(vexl_debug) {
    emscripten::class_<Debug>("Debug")
        .constructor<val, std::string, std::string, std::string>()
        .function("execute", &Debug::execute)
        .function("addBreakpoint", &Debug::add_breakpoint)
        .function("deleteBreakpoint", &Debug::delete_breakpoint)
        .function("state", &Debug::state)
        .function("seek", &Debug::seek)
        .function("running", &Debug::running);
}

}  // namespace web
