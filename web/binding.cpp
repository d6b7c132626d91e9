// The browser's view of the toolchain: a few functions over the same
// compiler, machine and listing the command-line programs use. The page's
// worker calls them through embind; texts cross as byte arrays so that the
// page decides how to decode them.
#include <emscripten/bind.h>

#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "bindings.h"
#include "compile.h"
#include "format.h"
#include "listing.h"
#include "profile/counter.h"
#include "profile/line_counts.h"
#include "recorder.h"
#include "report.h"

using emscripten::val;

namespace web {

val bytes(const std::string& s) {
    val array = val::global("Uint8Array").new_(s.size());
    array.call<void>("set", val(emscripten::typed_memory_view(
                                s.size(), reinterpret_cast<const unsigned char*>(s.data()))));
    return array;
}

std::vector<image::Word> words_of(const val& image_bytes) {
    auto b = emscripten::convertJSArrayToNumberVector<unsigned char>(image_bytes);
    std::istringstream in(std::string(b.begin(), b.end()));
    return image::read_words(in);
}

namespace {

// One compilation of the editor's text, with debug information (the image
// and the C text are those of a plain compilation). The diagnostics come
// as the compiler prints them, but in UTF-8, in the language "ja" or "en".
val compile(const std::string& source, const std::string& language) {
    std::vector<std::pair<std::size_t, int>> c_lines;
    CompileOptions options;
    options.g = true;
    options.inspect = [&](const program*, const MapManager&) { c_lines = debug_recorder.c_text_lines(); };
    CompileResult r = compile_source("prog.vxl", source, options);

    ReportStyle style;
    style.charset = catalog::Charset::utf8;
    style.language = catalog::language_named(language).value_or(catalog::Language::ja);
    const std::string printed = report(r, source, style);
    std::ostringstream image_bytes;
    if (r.status == 0) image::write_words(image_bytes, r.words);

    val result = val::object();
    result.set("status", r.status);
    result.set("stderr", bytes(printed));
    result.set("ctext", bytes(r.status == 0 ? r.c_text : std::string()));
    result.set("image", bytes(image_bytes.str()));
    result.set("listing", r.status == 0 ? image::list_image(r.words) : std::string());
    result.set("debugText", r.debug_text);
    val marks = val::array();
    for (auto [offset, line] : c_lines) {
        marks.call<void>("push", static_cast<double>(offset));
        marks.call<void>("push", line);
    }
    result.set("cMarks", marks);
    if (auto info = read_debug_info(r.debug_text)) {
        result.set("lines", line_table(*info));
        result.set("globals", global_names(*info));
    }
    return result;
}

// One run of an image, resumable in slices of steps so that the worker
// can hand out the output as it grows and stop an endless loop.
class Run {
public:
    Run(const val& image, const std::string& input, const std::string& debug_text)
        : in_(input), info_(read_debug_info(debug_text)) {
        machine_.load(words_of(image));
        // With the debug information the run is counted, for the heat map.
        if (info_) counter_.emplace(machine_.code().size());
    }

    // Runs at most `steps` instructions and writes at most `output` more
    // bytes: "finished", "fault", "steps" or "output".
    std::string resume(double steps, double output) {
        vm::Limits limits;
        limits.max_steps = static_cast<std::uint64_t>(steps);
        limits.max_output = static_cast<std::uint64_t>(output);
        vm::Stats stats;
        auto r = counter_ ? machine_.execute_counted(*counter_, limits, &stats) : machine_.execute(limits, &stats);
        steps_ += stats.steps;
        fault_ = r.fault;
        switch (r.end) {
        case vm::RunResult::End::finished: return "finished";
        case vm::RunResult::End::fault: return "fault";
        case vm::RunResult::End::output_limit:
        case vm::RunResult::End::output_error: return "output";
        case vm::RunResult::End::step_limit: break;
        }
        return "steps";
    }

    // What the program wrote (and, after a fault, the register dump) since
    // the last call, and the error line.
    val take_output() { return take(out_); }
    val take_errors() { return take(err_); }
    double steps() const { return static_cast<double>(steps_); }
    // How often each line with code was entered and the instructions it
    // cost, as {line, count, instructions}, for the lines of the debug
    // information (empty without it). Counts up to here.
    val line_counts() {
        val list = val::array();
        if (!info_ || !counter_) return list;
        vm::profile::Counter counted = *counter_;
        counted.finish();
        const vm::profile::Report report = vm::profile::make_report(*info_, counted, counted.instructions(), 0);
        for (const vm::profile::LineCount& l : report.lines) {
            if (!l.has_code) continue;
            val item = val::object();
            item.set("line", l.line);
            item.set("count", static_cast<double>(l.count));
            item.set("instructions", static_cast<double>(l.instructions));
            list.call<void>("push", item);
        }
        return list;
    }
    // Where the run failed in the source (empty without debug information).
    val where() const { return info_ ? fault_lines(*info_, machine_, fault_) : val::array(); }

private:
    static val take(std::ostringstream& s) {
        val b = bytes(s.str());
        s.str({});
        return b;
    }

    std::istringstream in_;
    std::ostringstream out_;
    std::ostringstream err_;
    vm::Machine machine_{in_, out_, err_};
    std::optional<debuginfo::DebugInfo> info_;
    std::optional<vm::profile::Counter> counter_;
    std::uint64_t steps_ = 0;
    vm::Fault fault_ = vm::Fault::none;
};

// The editor's text in the canonical layout (vexlc --format): {ok, text}
// or {ok: false, line, error}.
val format_text(const std::string& source) {
    const format::Result r = format::format_source(source);
    val result = val::object();
    result.set("ok", r.ok);
    result.set("text", r.text);
    result.set("line", r.line);
    result.set("error", r.error);
    return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(vexl) {
    emscripten::function("compile", &compile);
    emscripten::function("format", &format_text);
    emscripten::class_<Run>("Run")
        .constructor<val, std::string, std::string>()
        .function("resume", &Run::resume)
        .function("takeOutput", &Run::take_output)
        .function("takeErrors", &Run::take_errors)
        .function("steps", &Run::steps)
        .function("lineCounts", &Run::line_counts)
        .function("where", &Run::where);
}

}  // namespace web
