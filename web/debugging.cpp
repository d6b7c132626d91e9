// The browser's debugger and the source positions of a run: a debugger
// session driven by command lines, and the active calls at a runtime
// error, both from the debug information the compiler wrote with -g.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdlib>
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
    std::istringstream report(vm::fault_report(info, machine, fault));
    for (std::string text; std::getline(report, text);) {
        // "FILE:LINE: ..."
        const auto colon = text.find(':');
        val entry = val::object();
        entry.set("line", colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1));
        entry.set("text", text);
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

// A debugger session on one compiled program. Every command returns what
// it wrote: the program's output, the debugger's messages and its errors.
class Debug {
public:
    Debug(const val& image, const std::string& debug_text, const std::string& source,
          const std::string& input)
        : session_(program(image, debug_text, source), sinks()) {
        session_.set_input_text(input);
    }

    val execute(const std::string& line) {
        program_.clear();
        console_.clear();
        error_.clear();
        val r = val::object();
        r.set("ok", session_.execute(line));
        r.set("program", bytes(program_));
        r.set("console", console_);
        r.set("error", error_);
        return r;
    }
    bool running() const { return session_.running(); }

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

    std::string program_, console_, error_;
    debugger::Session session_;
};

}  // namespace

EMSCRIPTEN_BINDINGS(vexl_debug) {
    emscripten::class_<Debug>("Debug")
        .constructor<val, std::string, std::string, std::string>()
        .function("execute", &Debug::execute)
        .function("running", &Debug::running);
}

}  // namespace web
